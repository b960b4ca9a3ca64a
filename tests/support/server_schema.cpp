#include "server_schema.h"

#include "data/catalogue/server_catalogue.h"
#include "data/postgres/pg_connection.h"
#include "support/harness.h"
#include "support/odbc_fixture.h"

#include <QUuid>

namespace velario::test {

namespace {

std::unique_ptr<data::PgConnection> connectTo(const QString& uri, QString* error) {
    Error e;
    const std::optional<data::ServerAddress> address = data::readServerAddress(uri, &e);
    std::unique_ptr<data::PgConnection> connection =
        address ? data::PgConnection::connect(*address, &e) : nullptr;
    if (!connection)
        *error = e.description;
    return connection;
}

} // namespace

ServerSchema::ServerSchema()
    : name_(QStringLiteral("prova_") +
            QUuid::createUuid().toString(QUuid::Id128).left(12).toLower()) {
    const std::optional<TestServer> server = postgresTestServer(&error_);
    if (!server)
        error_ = QStringLiteral("no test PostgreSQL server: run through ctest, which starts it");
    port_ = server ? server->port : 0;
    if (error_.isEmpty())
        error_ = run({"CREATE SCHEMA " + name_});
}

ServerSchema::~ServerSchema() {
    if (!error_.isEmpty())
        return;
    run({"DROP SCHEMA " + name_ + " CASCADE"});
    if (reader_)
        run({"DROP ROLE " + readerName()});
}

QString ServerSchema::readerName() const {
    return name_ + QStringLiteral("_lettore");
}

QString ServerSchema::uri(const QString& user) const {
    return QStringLiteral("postgresql://%1@127.0.0.1:%2/velario_test").arg(user).arg(port_) +
           QStringLiteral("?options=-csearch_path%3D") + name_;
}

QString ServerSchema::run(const QStringList& statements) const {
    QString error;
    const std::unique_ptr<data::PgConnection> pg = connectTo(uri(), &error);
    for (const QString& sql : statements)
        if (const Error e = pg ? pg->command(sql.toUtf8().constData()) : Error())
            return sql + QStringLiteral(": ") + e.description;
    return error;
}

QStringList ServerSchema::rows(const QString& sql) const {
    QString error;
    const std::unique_ptr<data::PgConnection> pg = connectTo(uri(), &error);
    Error e;
    const data::PgRows result = pg ? pg->query(sql.toUtf8().constData(), {}, &e) : data::PgRows();
    if (!pg || e)
        return {QStringLiteral("failed: ") + (pg ? e.description : error)};
    QStringList list;
    for (int r = 0; r < result.rows(); ++r) {
        QStringList cells;
        for (int c = 0; c < result.columns(); ++c)
            cells << result.text(r, c).value_or(QStringLiteral("<NULL>"));
        list << cells.join(QLatin1Char('|'));
    }
    return list;
}

QString ServerSchema::makeCatalogue(const QList<QStringList>& entries) const {
    QStringList statements = data::serverCatalogueDdl();
    for (const QStringList& entry : entries)
        statements << insertEntry(entry);
    return run(statements);
}

QStringList ServerSchema::catalogueRows() const {
    return rows("SELECT CODICE, DESCRIZIONE, SQL, Database, Tipo_Database FROM SELEZIONI_SQL "
                "ORDER BY CODICE");
}

QString ServerSchema::makeReader() {
    const QString role = readerName();
    reader_ = true;
    return run({"CREATE ROLE " + role + " LOGIN", "GRANT USAGE ON SCHEMA " + name_ + " TO " + role,
                "GRANT SELECT ON ALL TABLES IN SCHEMA " + name_ + " TO " + role});
}

QStringList namedItems(QString items, const QList<std::pair<QString, QString>>& names) {
    for (const auto& [name, text] : names)
        items.replace(name, text);
    QStringList list;
    for (const QString& item : items.split(';', Qt::SkipEmptyParts))
        list << item.trimmed();
    return list;
}

CatalogueHere::CatalogueHere(bool server, const QList<QStringList>& entries) {
    if (!server) {
        box_ = std::make_unique<Sandbox>();
        location_ = box_->makeCatalogue(QStringLiteral("VELARIO2.db"), entries);
    } else if (schema_ = std::make_unique<ServerSchema>(); schema_->error().isEmpty()) {
        const QString error = schema_->makeCatalogue(entries);
        location_ = error.isEmpty() ? schema_->uri() : QStringLiteral("failed: ") + error;
    } else {
        location_ = QStringLiteral("failed: ") + schema_->error();
    }
}

CatalogueHere::~CatalogueHere() = default;

QStringList CatalogueHere::rows(const QString& sql) const {
    return schema_ ? schema_->rows(sql) : sqliteRows(location_, sql);
}

QStringList CatalogueHere::table() const {
    return schema_ ? schema_->catalogueRows() : catalogueRows(location_);
}

} // namespace velario::test
