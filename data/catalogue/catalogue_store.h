#pragma once

#include "data/errors.h"
#include "data/sqlite/recordset.h"

#include <QString>

#include <memory>

namespace velario::data {

class Database;

// One saved query of the catalogue (table SELEZIONI_SQL).
struct CatalogueEntry {
    QString code;         // CODICE
    QString description;  // DESCRIZIONE
    QString sql;          // SQL
    QString database;     // Database
    QString databaseType; // Tipo_Database
};

// The longest value a user types into each field of an entry. A catalogue written by another
// program can hold longer ones.
constexpr int kCodeWidth = 15;
constexpr int kDescriptionWidth = 45;
constexpr int kDatabaseWidth = 80;
constexpr int kTypeWidth = 5;

// Whether DATABASE holds a catalogue that can be read: the table SELEZIONI_SQL with its five
// columns, in pages the engine finds sound. The error says what is wrong.
Error checkCatalogue(Database& database);

// The statement that lists the catalogue.
QString catalogueListStatement();

// The lookup of one code as the windows show it in their messages. The statement that
// runs binds the code instead, so nothing typed can change it.
QString lookupStatementText(const QString& code);

// The rows whose CODICE is CODE, exactly, as an updatable record set. ObjectNotSet when
// DATABASE is null.
std::unique_ptr<Recordset> openCatalogueLookup(Database* database, const QString& code,
                                               Error* error);

// Whether the text of a database field names a database file: it says ".MDB", or it is the
// path of a file whose first bytes are those of a SQLite or an Access database.
bool namesDatabaseFile(const QString& databaseText);

} // namespace velario::data
