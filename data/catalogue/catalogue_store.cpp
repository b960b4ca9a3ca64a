#include "data/catalogue/catalogue_store.h"

#include "data/sqlite/database.h"
#include "data/text/folded_search.h"

#include <QFileInfo>

namespace velario::data {

namespace {

const QString kTable = QStringLiteral("SELEZIONI_SQL");
const QString kColumns[] = {QStringLiteral("CODICE"), QStringLiteral("DESCRIZIONE"),
                            QStringLiteral("SQL"), QStringLiteral("Database"),
                            QStringLiteral("Tipo_Database")};

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

std::unique_ptr<Recordset> openCatalogueLookup(Database* database, const QString& code,
                                               Error* error) {
    if (!database) {
        if (error)
            *error = Error::make(ErrorNumber::ObjectNotSet);
        return nullptr;
    }
    return database->openTableRecordset(kTable, kColumns[0], code, error);
}

Error readCatalogueEntry(const Recordset& recordset, CatalogueEntry* entry) {
    Error error;
    CatalogueEntry read;
    QString* const fields[] = {&read.code, &read.description, &read.sql, &read.database,
                               &read.databaseType};
    for (int i = 0; i < 5 && !error; ++i) {
        const QVariant value = recordset.field(kColumns[i], &error);
        *fields[i] = value.isNull() ? QString() : value.toString().trimmed();
    }
    if (!error && entry)
        *entry = read;
    return error;
}

Error lookUpCatalogueEntry(Database* database, const QString& code,
                           std::optional<CatalogueEntry>* entry) {
    Error error;
    const std::unique_ptr<Recordset> rows = openCatalogueLookup(database, code, &error);
    if (!rows)
        return error;
    std::optional<CatalogueEntry> found;
    if (rows->recordCount() != 0 && (error = readCatalogueEntry(*rows, &found.emplace())))
        return error;
    if (entry)
        *entry = std::move(found);
    return {};
}

Error saveCatalogueEntry(Database* database, const QString& key, const CatalogueEntry& entry) {
    Error error;
    const std::unique_ptr<Recordset> rows = openCatalogueLookup(database, key, &error);
    if (!rows)
        return error;
    error = rows->recordCount() != 0 ? rows->edit() : rows->addNew();
    const QString* const values[] = {&entry.code, &entry.description, &entry.sql, &entry.database,
                                     &entry.databaseType};
    for (int i = 0; i < 5 && !error; ++i)
        error = rows->collect(kColumns[i], *values[i]);
    return error ? error : rows->update();
}

Error deleteCatalogueEntry(Database* database, const QString& code) {
    Error error;
    const std::unique_ptr<Recordset> rows = openCatalogueLookup(database, code, &error);
    if (!rows)
        return error;
    return rows->recordCount() > 0 ? rows->deleteCurrent() : Error();
}

Error setCatalogueEntryField(Database* database, const QString& code, CatalogueColumn column,
                             const QString& value, bool* found) {
    Error error;
    const std::unique_ptr<Recordset> rows = openCatalogueLookup(database, code, &error);
    *found = rows && rows->recordCount() != 0;
    if (!*found)
        return error;
    error = rows->edit();
    if (!error)
        error = rows->collect(kColumns[column == CatalogueColumn::Code ? 0 : 1], value);
    return error ? error : rows->update();
}

bool namesDatabaseFile(const QString& databaseText) {
    if (databaseText.contains(QLatin1String(".MDB")))
        return true;
    // Only an ordinary file is read: a pipe would wait for a writer.
    const QString path = databaseText.trimmed();
    return QFileInfo(path).isFile() && Database::isDatabaseFile(path);
}

} // namespace velario::data
