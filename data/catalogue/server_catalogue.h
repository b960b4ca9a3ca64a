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

// Makes the catalogue's tables in the database at ADDRESS, which must not have SELEZIONI_SQL
// yet, and fills them with every entry of the local catalogue FROM (empty: none; a SQLite
// catalogue or an Access file), exactly as it holds them: all of it, or nothing at all.
// COPIED receives the number of entries, LONGCODES the codes longer than a user types.
Error createServerCatalogue(const ServerAddress& address, const QString& from, qint64* copied,
                            QStringList* longCodes);

} // namespace velario::data
