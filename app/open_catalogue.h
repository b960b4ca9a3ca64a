#pragma once

#include "data/catalogue/catalogue.h"
#include "data/errors.h"

#include <QString>

#include <memory>

namespace velario {

// The catalogue DIR_DBF names: DIR_DBF itself, unless it names an ODBC source (it contains
// "ODBC" and is no server URI), which is not used for the catalogue.
QString catalogueLocation(const QString& dirDbf);

// Opens the catalogue at LOCATION: a SQLite file at that path (for writing, or READONLY), or
// the table SELEZIONI_SQL of a PostgreSQL database when it is a connection URI
// (postgresql://host:port/database). An Access file is refused (the catalogue is written to,
// and an Access file is only ever read) with the command that converts it; a file without the
// catalogue table, or damaged, fails as a missing one does. Null, and why in ERROR, when it
// cannot be used. Changes are signed with the user's login name and the platform's clock.
std::unique_ptr<data::Catalogue> openCatalogue(const QString& location, bool readOnly,
                                               Error* error);

// LOCATION as the user is shown it: a file's path, a server without user or password.
QString shownLocation(const QString& location);

// What the user is told of the catalogue at LOCATION that could not be opened for ERROR (CR
// between its parts).
QString catalogueOpeningMessage(const Error& error, const QString& location);

// The error number as the messages write it: a leading blank for a non-negative number.
QString errorNumberText(int number);

// The name the user logged in with, which the history keeps with each change.
QString loginName();

} // namespace velario
