#pragma once

#include "data/errors.h"
#include "data/sqlite/recordset.h"

#include <QSet>
#include <QString>

#include <memory>
#include <optional>

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

// The codes, as the list holds them (a Null as empty text), of the entries whose code,
// description or SQL contains TEXT, case and accents aside (see FoldedSearch). Read from the
// file as it is now, one row at a time, so that neither SQL texts nor entries that do not
// match are held.
Error findCatalogueEntries(Database* database, const QString& text, QSet<QString>* codes);

// The rows whose CODICE is CODE, exactly, as an updatable record set. ObjectNotSet when
// DATABASE is null.
std::unique_ptr<Recordset> openCatalogueLookup(Database* database, const QString& code,
                                               Error* error);

// The current row's five fields as the windows use them: a Null as empty text, blanks trimmed.
Error readCatalogueEntry(const Recordset& recordset, CatalogueEntry* entry);

// The entry whose CODICE is CODE exactly (the first, should there be several), its fields read
// as readCatalogueEntry reads them; ENTRY empty when there is none.
Error lookUpCatalogueEntry(Database* database, const QString& code,
                           std::optional<CatalogueEntry>* entry);

// Writes ENTRY's five fields, as they are, over the first entry whose CODICE is KEY, or as a
// new entry when there is none.
Error saveCatalogueEntry(Database* database, const QString& key, const CatalogueEntry& entry);

// Deletes the first entry whose CODICE is CODE; none is no error.
Error deleteCatalogueEntry(Database* database, const QString& code);

enum class CatalogueColumn { Code, Description };

// Writes VALUE into COLUMN of the first entry whose CODICE is CODE. FOUND says whether there
// was one; nothing is written when there was not.
Error setCatalogueEntryField(Database* database, const QString& code, CatalogueColumn column,
                             const QString& value, bool* found);

// Whether the text of a database field names a database file: it says ".MDB", or it is the
// path of a file whose first bytes are those of a SQLite or an Access database.
bool namesDatabaseFile(const QString& databaseText);

} // namespace velario::data
