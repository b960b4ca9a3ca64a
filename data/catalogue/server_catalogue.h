#pragma once

#include "data/catalogue/catalogue.h"
#include "data/postgres/pg_connection.h"

#include <memory>

namespace velario::data {

// The catalogue in the table SELEZIONI_SQL of the PostgreSQL database at ADDRESS. Null, with
// ERROR in Italian, when the server cannot be reached or the table cannot be read; a user
// who may read it but not change it gets a catalogue that says why on every change
// (Catalogue::readOnly).
std::unique_ptr<Catalogue> serverCatalogue(const ServerAddress& address, Error* error);

// The statements that make an empty catalogue, with its history table, on a server.
QStringList serverCatalogueDdl();

} // namespace velario::data
