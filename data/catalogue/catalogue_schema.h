#pragma once

#include "data/errors.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace velario::data {

// Creates a new, empty catalogue file at PATH with the table SELEZIONI_SQL. Refuses to
// touch a file that already exists.
Error createCatalogueFile(const QString& path);

// The statement that creates the catalogue table.
QString catalogueTableDdl();
// The statement that creates its index on the code.
QString catalogueIndexDdl();

// The statements that make the history table beside SELEZIONI_SQL, and its index by code, on
// a SQLite file or (SERVER) on PostgreSQL; each does nothing where its table or index is.
// A row holds the version of an entry a change replaced (a new entry's row only its code),
// when (UTC) and by whom, and what the change was (actionName).
QStringList historyTableDdl(bool server);
// WHEN as the history table keeps it: UTC, "yyyy-MM-dd HH:mm:ss".
QString historyTime(const QDateTime& when);
QDateTime historyTimeFrom(const QString& text);

} // namespace velario::data
