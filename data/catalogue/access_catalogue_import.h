#pragma once

#include "data/errors.h"

#include <QString>

namespace velario::data {

// Creates the catalogue file NEWPATH with the entries of the table SELEZIONI_SQL of the Access
// file ACCESSPATH (.mdb or .accdb): their five fields exactly as the Access file holds them,
// Nulls included, in the order of that table. NEWPATH is written under a hidden name beside
// it and takes its name only once complete, never in place of a file that exists; a failure
// leaves nothing there. COPIED receives the number of entries.
Error importAccessCatalogue(const QString& accessPath, const QString& newPath, qint64* copied);

} // namespace velario::data
