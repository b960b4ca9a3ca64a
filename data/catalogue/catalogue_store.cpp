#include "data/catalogue/catalogue_store.h"

#include "data/sqlite/database.h"
#include "data/text/folded_search.h"

namespace velario::data {

namespace {

const QString kTable = QStringLiteral("SELEZIONI_SQL");
const QString kCode = QStringLiteral("CODICE");

Error damaged(const QString& detail) {
    return Error::make(ErrorNumber::UnrecognizedFormat,
                       QStringLiteral("Il file è danneggiato: %1").arg(detail));
}

} // namespace

Error checkCatalogue(Database& database) {
    Error error;
    const auto read = [&](const QString& sql) {
        std::unique_ptr<Recordset> rows = database.openRecordset(sql, {}, &error);
        // Told in the program's own words: a lock as any lock is, damage as damage.
        if (!rows && error.number == ErrorNumber::CouldNotLock)
            error = Error::make(ErrorNumber::CouldNotLock);
        if (!rows && error.number == ErrorNumber::UnrecognizedFormat)
            error = damaged(error.description);
        return rows;
    };
    if (!read(QStringLiteral("SELECT CODICE, DESCRIZIONE, SQL, Database, Tipo_Database FROM "
                             "SELEZIONI_SQL LIMIT 0"))) {
        if (error.number == ErrorNumber::TableNotFound)
            return Error::make(ErrorNumber::TableNotFound,
                               QStringLiteral("Il file non contiene la tabella SELEZIONI_SQL."));
        if (error.number == ErrorNumber::TooFewParameters)
            return Error::make(ErrorNumber::TooFewParameters,
                               QStringLiteral("La tabella SELEZIONI_SQL non ha le colonne "
                                              "CODICE, DESCRIZIONE, SQL, Database e "
                                              "Tipo_Database: ") +
                                   error.description);
        return error;
    }
    // Every page of the catalogue, so that a damaged one is found now rather than by some save.
    const std::unique_ptr<Recordset> check =
        read(QStringLiteral("PRAGMA quick_check(SELEZIONI_SQL)"));
    if (!check)
        return error;
    const QString verdict =
        check->eof() ? QString() : check->field(QStringLiteral("quick_check")).toString();
    return verdict == QLatin1String("ok") ? Error() : damaged(verdict);
}

QString catalogueListStatement() {
    return QStringLiteral("SELECT CODICE, DESCRIZIONE FROM SELEZIONI_SQL order by CODICE");
}

QString lookupStatementText(const QString& trimmedCode) {
    return QStringLiteral("select * from SELEZIONI_SQL where CODICE = '") + trimmedCode +
           QStringLiteral("' ");
}

Error findCatalogueEntries(Database* database, const QString& text, QSet<QString>* codes) {
    if (!database)
        return Error::make(ErrorNumber::ObjectNotSet);
    FoldedSearch search(text);
    QSet<QString> found;
    const Error error = database->forEachRow(
        QStringLiteral("SELECT CODICE, DESCRIZIONE, SQL FROM SELEZIONI_SQL"), {},
        [&](std::span<const std::string_view> row) {
            if (search.foundIn(row[0]) || search.foundIn(row[1]) || search.foundIn(row[2]))
                found.insert(QString::fromUtf8(row[0].data(), qsizetype(row[0].size())));
            return true;
        });
    if (!error && codes)
        *codes = std::move(found);
    return error;
}

std::unique_ptr<Recordset> openCatalogueLookup(Database* database, const QString& trimmedCode,
                                               Error* error) {
    if (!database) {
        if (error)
            *error = Error::make(ErrorNumber::ObjectNotSet);
        return nullptr;
    }
    return database->openTableRecordset(kTable, kCode, trimmedCode, error);
}

QString catalogueField(const Recordset& recordset, const QString& name, Error* error) {
    const QVariant value = recordset.field(name, error);
    return value.isNull() ? QString() : value.toString().trimmed();
}

Error readCatalogueEntry(const Recordset& recordset, CatalogueEntry* entry) {
    Error error;
    CatalogueEntry read;
    read.code = catalogueField(recordset, kCode, &error);
    if (!error)
        read.description = catalogueField(recordset, QStringLiteral("DESCRIZIONE"), &error);
    if (!error)
        read.sql = catalogueField(recordset, QStringLiteral("SQL"), &error);
    if (!error)
        read.database = catalogueField(recordset, QStringLiteral("Database"), &error);
    if (!error)
        read.databaseType = catalogueField(recordset, QStringLiteral("Tipo_Database"), &error);
    if (!error && entry)
        *entry = read;
    return error;
}

Error collectCatalogueEntry(Recordset& recordset, const CatalogueEntry& entry) {
    const std::pair<const char*, const QString*> fields[] = {
        {"CODICE", &entry.code},       {"DESCRIZIONE", &entry.description},    {"SQL", &entry.sql},
        {"Database", &entry.database}, {"Tipo_Database", &entry.databaseType},
    };
    for (const auto& [name, value] : fields)
        if (Error e = recordset.collect(QString::fromLatin1(name), value->trimmed()))
            return e;
    return {};
}

} // namespace velario::data
