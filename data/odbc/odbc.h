#pragma once

#include "data/errors.h"
#include "data/query/bound_statement.h"
#include "data/result_source.h"

#include <QString>

#include <memory>

namespace velario::data {

struct OdbcHandles;
namespace odbc {
class MariadbSession;
}

// How character data crosses from the driver. Narrow asks for SQL_C_CHAR and takes the bytes
// as UTF-8, which is the faster; Wide asks for SQL_C_WCHAR and converts here, which is right
// whatever the driver and the locale.
enum class OdbcTextTransfer { Narrow, Wide };

// A connection to an ODBC data source through the unixODBC driver manager.
class OdbcConnection {
public:
    // Connects to the data source named DATASOURCENAME as configured in odbc.ini, without
    // ever showing a login prompt. Null, with ERROR set (OdbcConnectFailed and the driver's
    // own diagnostics), when that fails. A connection that BINDSVALUES asks psqlODBC to put
    // them into the statements itself (UseServerSidePrepare=0): prepared on the server, a
    // statement must give every parameter a type, which `:x IS NULL` does not.
    static std::unique_ptr<OdbcConnection> connect(const QString& dataSourceName, Error* error,
                                                   bool bindsValues = false);
    ~OdbcConnection();
    OdbcConnection(const OdbcConnection&) = delete;
    OdbcConnection& operator=(const OdbcConnection&) = delete;

    // Runs STATEMENT and returns its result, read forward in blocks of rows. A statement
    // without a result set gives a source with no columns and no rows. Null, with ERROR set
    // (OdbcCallFailed and the driver's diagnostics), when the statement fails.
    //
    // Values are bound, never written into the text by the program: with SQLBindParameter,
    // of the type the driver describes for the parameter where it describes one; else as the
    // engine compares it best (see odbc_parameters.h). A streamed MariaDB data source takes
    // them as literals the client library escapes for the connection's character set.
    std::unique_ptr<ResultSource> execute(const BoundStatement& statement, Error* error);
    std::unique_ptr<ResultSource> execute(const QString& sql, Error* error) {
        return execute(BoundStatement{sql, {}}, error);
    }

    // Stops, from another thread, the statement that execute() or its result runs now, and
    // fails the calls that follow with OperationCancelled. For a connection that is then let
    // go; a result's own interrupt() lets it be used again.
    void interrupt();

    // Narrow when a probe at connection time found SQL_C_CHAR text arriving in UTF-8 (SQLite
    // always, psqlODBC in a UTF-8 locale), otherwise Wide. A streamed MariaDB data source
    // (see mariadb_stream.h) is always read in UTF-8, whatever this says.
    OdbcTextTransfer textTransfer() const { return textTransfer_; }
    void setTextTransfer(OdbcTextTransfer transfer) { textTransfer_ = transfer; }

private:
    explicit OdbcConnection(std::shared_ptr<OdbcHandles> handles);
    explicit OdbcConnection(std::shared_ptr<odbc::MariadbSession> mariadb);
    std::shared_ptr<OdbcHandles> handles_;
    // Instead of the handles, for a MariaDB data source whose results the program streams.
    std::shared_ptr<odbc::MariadbSession> mariadb_;
    OdbcTextTransfer textTransfer_;
};

} // namespace velario::data
