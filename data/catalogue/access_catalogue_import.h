#pragma once

#include "data/errors.h"

#include <QString>
#include <QStringList>

namespace velario::data {

// Creates the catalogue file NEWPATH with the entries of the table SELEZIONI_SQL of the Access
// file ACCESSPATH (.mdb or .accdb): their five fields exactly as the Access file holds them,
// Nulls included, in the order of that table. NEWPATH is written under a hidden name beside
// it and takes its name only once complete, never in place of a file that exists; a failure
// leaves nothing there. COPIED receives the number of entries, LONGCODES the codes (trimmed,
// each once, in the order of the table) longer than a user types (kCodeWidth).
Error importAccessCatalogue(const QString& accessPath, const QString& newPath, qint64* copied,
                            QStringList* longCodes = nullptr);

} // namespace velario::data
