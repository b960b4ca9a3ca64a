#pragma once

#include "data/errors.h"
#include "data/sqlite/database.h"

#include <QString>

#include <memory>

namespace velario {

// Opens the catalogue file at PATH, for writing or READONLY. An Access file is refused (the
// catalogue is written to, and an Access file is only ever read) with the command that
// converts it; a file without the catalogue table, or damaged, fails as a missing one does.
// Null, and why in ERROR, when it cannot be used.
std::unique_ptr<data::Database> openCatalogueFile(const QString& path, bool readOnly, Error* error);

// What the user is told of the catalogue at PATH that could not be opened for ERROR (CR
// between its parts).
QString catalogueOpeningMessage(const Error& error, const QString& path);

// The error number as the messages write it: a leading blank for a non-negative number.
QString errorNumberText(int number);

} // namespace velario
