#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

namespace velario::test {

// A schema of its own on the test PostgreSQL server that ctest started (the postgres
// fixture), dropped with this object: a server catalogue for one test, reached through uri().
class ServerSchema {
public:
    ServerSchema();
    ~ServerSchema();
    ServerSchema(const ServerSchema&) = delete;
    ServerSchema& operator=(const ServerSchema&) = delete;

    // Why the schema could not be made (no server: the test runs outside ctest); empty when
    // it is there.
    QString error() const { return error_; }
    int port() const { return port_; }
    QString name() const { return name_; }

    // The catalogue URI, as USER, whose statements find the schema's tables first.
    QString uri(const QString& user = QStringLiteral("velario")) const;
    // Runs STATEMENTS in the schema as the server's owner; what went wrong, or empty.
    QString run(const QStringList& statements) const;
    // The rows of SQL, run in the schema: cells joined by "|", <NULL> for a Null; "failed: WHY"
    // when it did not run.
    QStringList rows(const QString& sql) const;
    // The tables velario-newcat --to makes, holding ENTRIES (code, description, sql, database,
    // type; "<NULL>" for a Null); what went wrong, or empty.
    QString makeCatalogue(const QList<QStringList>& entries) const;
    // Every entry, ordered by code, as code|description|sql|database|type.
    QStringList catalogueRows() const;
    // A login role, readerName(), that may read the schema's tables and not change them;
    // what went wrong, or empty.
    QString makeReader();
    QString readerName() const;

private:
    bool reader_ = false;
    QString error_;
    int port_ = 0;
    QString name_;
};

class Sandbox;

// ITEMS split at ';', each trimmed, once each name in NAMES (the longest first) is replaced by
// its text: the compact tables of the catalogue's tests.
QStringList namedItems(QString items, const QList<std::pair<QString, QString>>& names);

// A catalogue holding ENTRIES for one test: a SQLite file in a sandbox, or (SERVER) a schema of
// the test server. location() is "failed: WHY" when it could not be made.
class CatalogueHere {
public:
    CatalogueHere(bool server, const QList<QStringList>& entries);
    ~CatalogueHere();
    QString location() const { return location_; }
    ServerSchema* schema() const { return schema_.get(); }
    // The rows of SQL run on the catalogue, as ServerSchema::rows() gives them.
    QStringList rows(const QString& sql) const;
    QStringList table() const;

private:
    std::unique_ptr<Sandbox> box_;
    std::unique_ptr<ServerSchema> schema_;
    QString location_;
};

} // namespace velario::test
