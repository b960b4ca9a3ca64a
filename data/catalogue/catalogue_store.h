#pragma once

#include "data/errors.h"
#include "data/sqlite/recordset.h"

#include <QSet>
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

// Whether DATABASE holds a catalogue that can be read: the table SELEZIONI_SQL with its five
// columns, in pages the engine finds sound. The error says what is wrong.
Error checkCatalogue(Database& database);

// The statement that lists the catalogue.
QString catalogueListStatement();

// The lookup of one code as the windows show it in their messages. The statement that
// runs binds the code instead, so nothing typed can change it.
QString lookupStatementText(const QString& trimmedCode);

// The codes, as the list holds them (a Null as empty text), of the entries whose code,
// description or SQL contains TEXT, case and accents aside (see FoldedSearch). Read from the
// file as it is now, one row at a time, so that neither SQL texts nor entries that do not
// match are held.
Error findCatalogueEntries(Database* database, const QString& text, QSet<QString>* codes);

// The rows whose CODICE is TRIMMEDCODE, as an updatable record set. ObjectNotSet when
// DATABASE is null.
std::unique_ptr<Recordset> openCatalogueLookup(Database* database, const QString& trimmedCode,
                                               Error* error);

// A field of the current row as the windows use it: a Null as empty text, blanks trimmed.
QString catalogueField(const Recordset& recordset, const QString& name, Error* error = nullptr);

// The current row's five fields.
Error readCatalogueEntry(const Recordset& recordset, CatalogueEntry* entry);

// Writes ENTRY's five fields, trimmed, into the current row (after edit) or the new row
// (after addNew), in the order of the table.
Error collectCatalogueEntry(Recordset& recordset, const CatalogueEntry& entry);

} // namespace velario::data
