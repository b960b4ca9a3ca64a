#pragma once

// Results of MariaDB data sources read from the server by the program itself, row by row as
// they arrive, through MariaDB's client library (the one the ODBC driver is built on): the
// first rows show at once and only one row is held, whatever the size of the result. The
// connection is made as the driver would make it for the data source, and kept read-only as
// every ODBC connection is.

#include "data/errors.h"
#include "data/odbc/data_source_profile.h"
#include "data/result_source.h"

#include <QString>

#include <memory>

namespace velario::data::odbc {

class MariadbSession;

// Connects as SETTINGS say; null, with ERROR set (OdbcConnectFailed and the server's
// message), when that fails.
std::shared_ptr<MariadbSession> connectMariadb(const MariadbSettings& settings, Error* error);

// Runs SQL and returns its result, streamed. It is counted on a second connection, as the
// first one is busy with the rows until the last has come. Null, with ERROR set
// (OdbcCallFailed and the server's message), when the statement fails.
std::unique_ptr<ResultSource> openMariadbResult(const std::shared_ptr<MariadbSession>& session,
                                                const QString& sql, Error* error);

// Stops, from another thread, whatever the session's connections are doing (as the driver's
// SQLCancel does, by KILL QUERY from a connection of its own), and fails the calls that follow
// with OperationCancelled until a result's resume().
void interruptMariadb(MariadbSession& session);

} // namespace velario::data::odbc
