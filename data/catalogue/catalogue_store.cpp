#include "data/catalogue/catalogue_store.h"

#include "data/sqlite/database.h"

#include <QFileInfo>

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

QString lookupStatementText(const QString& code) {
    return QStringLiteral("select * from SELEZIONI_SQL where CODICE = '") + code +
           QStringLiteral("' ");
}

std::unique_ptr<Recordset> openCatalogueLookup(Database* database, const QString& code,
                                               Error* error) {
    if (!database) {
        if (error)
            *error = Error::make(ErrorNumber::ObjectNotSet);
        return nullptr;
    }
    return database->openTableRecordset(kTable, kCode, code, error);
}

bool namesDatabaseFile(const QString& databaseText) {
    if (databaseText.contains(QLatin1String(".MDB")))
        return true;
    // Only an ordinary file is read: a pipe would wait for a writer.
    const QString path = databaseText.trimmed();
    return QFileInfo(path).isFile() && Database::isDatabaseFile(path);
}

} // namespace velario::data
