#pragma once

// Results of MariaDB data sources read from the server by the program itself, row by row as
// they arrive, through MariaDB's client library (the one the ODBC driver is built on): the
// first rows show at once and only one row is held, whatever the size of the result. The
// connection is made as the driver would make it for the data source, and kept read-only as
// every ODBC connection is.

#include "data/errors.h"
#include "data/odbc/data_source_profile.h"
#include "data/query/bound_statement.h"
#include "data/result_source.h"

#include <QString>

#include <memory>

namespace velario::data::odbc {

class MariadbSession;

// Connects as SETTINGS say; null, with ERROR set (OdbcConnectFailed and the server's
// message), when that fails.
std::shared_ptr<MariadbSession> connectMariadb(const MariadbSettings& settings, Error* error);

// Runs STATEMENT and returns its result, streamed. It is counted on a second connection, as
// the first one is busy with the rows until the last has come. Null, with ERROR set
// (OdbcCallFailed and the server's message), when the statement fails.
//
// The values go into the text in place of the `?` where MariaDB reads them outside quotes and
// comments, each as a literal: NULL, a number's digits, DATE'yyyy-mm-dd', or a text quoted
// and escaped by the client library for the connection's character set and SQL mode. A text
// whose `?` MariaDB would read elsewhere (a backslash in a quoted text, a # comment) is
// refused rather than bound where the user did not put it.
std::unique_ptr<ResultSource> openMariadbResult(const std::shared_ptr<MariadbSession>& session,
                                                const BoundStatement& statement, Error* error);

// Stops, from another thread, whatever the session's connections are doing (as the driver's
// SQLCancel does, by KILL QUERY from a connection of its own), and fails the calls that follow
// with OperationCancelled until a result's resume().
void interruptMariadb(MariadbSession& session);

} // namespace velario::data::odbc
