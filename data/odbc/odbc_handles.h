#pragma once

// The driver manager's handles of one connection, the calls on them that another thread may
// stop, and the diagnostics a failed call leaves.

#include "data/errors.h"
#include "data/odbc/odbc.h"
#include "data/odbc/odbc_parameters.h"

#include <QString>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <atomic>
#include <clocale>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace velario::data {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC built with 2-byte SQLWCHAR");

struct OdbcHandles {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    bool connected = false;
    SQLUINTEGER getDataExtensions = 0;
    // Whether text crosses in UTF-16 (the W calls) or in UTF-8 (the plain ones). The driver
    // manager converts between the two for a driver that only has the other kind, through
    // UCS-2 and the locale's character set, which loses whatever they cannot hold.
    bool wideCalls = true;
    odbc::Engine engine = odbc::Engine::Other;
    OdbcTextTransfer textTransfer = OdbcTextTransfer::Wide;
    // SQLite's driver, stepping through a result as it is fetched, reports a statement that
    // fails on its first row at the first fetch: that fetch is made at execute, where the
    // driver reading whole results and the SQLite engine report it.
    bool firstRowsAtExecute = false;
    // psqlODBC prints floating-point values with the C library, whose decimal separator
    // follows LC_NUMERIC: the calls that produce values run with C numbers.
    locale_t cNumeric = locale_t(nullptr);
    // Autocommit is off: whatever the statements did is rolled back once no result is open.
    bool manualCommit = false;
    int openResults = 0;
    // Whether SQLSetPos(SQL_POSITION) on a block of rows is seen to move what SQLGetData
    // reads: MariaDB Connector/ODBC claims SQL_GD_BLOCK and reads the first row whatever the
    // position.
    bool positionsBlocks = false;

    // Stopping a call from another thread. An executing statement is cancelled itself: psqlODBC
    // then asks the server to stop, and a fetch has nothing to cancel. SQLite's driver
    // interrupts every statement of the connection, whichever it is given, and closes that one
    // while the call under way may still use it: a spare statement takes the cancel there.
    mutable std::mutex cancelMutex;
    mutable SQLHSTMT running = SQL_NULL_HSTMT;
    mutable bool cancelSent = false;
    mutable std::atomic<bool> interrupted{false};
    SQLHSTMT spare = SQL_NULL_HSTMT;

    void interrupt() const {
        const std::lock_guard lock(cancelMutex);
        interrupted = true;
        const SQLHSTMT target = spare != SQL_NULL_HSTMT ? spare : running;
        if (target != SQL_NULL_HSTMT && !cancelSent) {
            cancelSent = true;
            SQLCancel(target);
        }
    }
    // Whether a cancel reached the driver since the last call.
    bool resume() const {
        const std::lock_guard lock(cancelMutex);
        interrupted = false;
        return std::exchange(cancelSent, false);
    }

    OdbcHandles() = default;
    OdbcHandles(const OdbcHandles&) = delete;
    OdbcHandles& operator=(const OdbcHandles&) = delete;
    ~OdbcHandles() {
        // A driver refuses to disconnect in the middle of a transaction.
        rollback();
        if (spare != SQL_NULL_HSTMT)
            SQLFreeHandle(SQL_HANDLE_STMT, spare);
        if (connected)
            SQLDisconnect(dbc);
        if (dbc != SQL_NULL_HDBC)
            SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        if (env != SQL_NULL_HENV)
            SQLFreeHandle(SQL_HANDLE_ENV, env);
        if (cNumeric)
            freelocale(cNumeric);
    }

    void rollback() const {
        if (connected && manualCommit)
            SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
    }
    void resultOpened() { ++openResults; }
    // The statements of other results may still be reading inside the transaction.
    void resultClosed() {
        if (--openResults == 0)
            rollback();
    }
};

namespace odbc {

// A call on STATEMENT that an interrupt from another thread may stop: an execute is cancelled
// while it runs (a fetch, row by row with some drivers, costs only a look at the flag). False
// when an interrupt came first: the call is not made.
class CancellableCall {
public:
    enum Kind { Execute, Fetch };
    CancellableCall(const OdbcHandles& handles, SQLHSTMT statement, Kind kind) : handles_(handles) {
        if (kind == Fetch || handles.spare != SQL_NULL_HSTMT) {
            allowed_ = !handles.interrupted;
            return;
        }
        const std::lock_guard lock(handles.cancelMutex);
        allowed_ = !handles.interrupted;
        registered_ = allowed_;
        if (registered_)
            handles.running = statement;
    }
    ~CancellableCall() {
        if (!registered_)
            return;
        const std::lock_guard lock(handles_.cancelMutex);
        handles_.running = SQL_NULL_HSTMT;
    }
    CancellableCall(const CancellableCall&) = delete;
    CancellableCall& operator=(const CancellableCall&) = delete;
    explicit operator bool() const { return allowed_; }

private:
    const OdbcHandles& handles_;
    bool allowed_ = false;
    bool registered_ = false;
};

class CNumericScope {
public:
    explicit CNumericScope(const OdbcHandles& handles)
        : previous_(handles.cNumeric ? uselocale(handles.cNumeric) : locale_t(nullptr)) {}
    ~CNumericScope() {
        if (previous_)
            uselocale(previous_);
    }
    CNumericScope(const CNumericScope&) = delete;
    CNumericScope& operator=(const CNumericScope&) = delete;

private:
    locale_t previous_;
};

SQLWCHAR* wide(const QString& text);
QString fromWide(const SQLWCHAR* text, qsizetype length);
// The W and the plain calls side by side, so that the code around them is written once.
QString decode(const SQLWCHAR* text, qsizetype length);
QString decode(const SQLCHAR* text, qsizetype length);

Error odbcError(int number, SQLSMALLINT type, SQLHANDLE handle, bool wideCalls = true);
SQLRETURN execDirect(const OdbcHandles& handles, SQLHSTMT stmt, const QString& sql);
SQLRETURN prepare(const OdbcHandles& handles, SQLHSTMT stmt, const QString& sql);

// A statement handle of the connection, freed with the object.
class Statement {
public:
    explicit Statement(const OdbcHandles& handles) : handles_(handles) {}
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { release(); }
    void release() {
        if (handle_ != SQL_NULL_HSTMT)
            SQLFreeHandle(SQL_HANDLE_STMT, handle_);
        handle_ = SQL_NULL_HSTMT;
    }

    Error allocate() {
        if (SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, handles_.dbc, &handle_)))
            return {};
        return odbcError(ErrorNumber::OdbcCallFailed, SQL_HANDLE_DBC, handles_.dbc,
                         handles_.wideCalls);
    }
    SQLRETURN execute(const QString& sql) const {
        const CancellableCall call(handles_, handle_, CancellableCall::Execute);
        return call ? execDirect(handles_, handle_, sql) : SQL_ERROR;
    }
    // Runs SQL with values: prepared, so that the driver can describe its parameters to
    // BINDING, then bound and executed. What the driver said when a step failed.
    Error execute(const QString& sql, const std::vector<ParameterValue>& values,
                  std::unique_ptr<ParameterBinding>& binding) const;
    SQLHSTMT handle() const { return handle_; }
    Error error(int number) const {
        if (handles_.interrupted)
            return Error::make(ErrorNumber::OperationCancelled);
        return odbcError(number, SQL_HANDLE_STMT, handle_, handles_.wideCalls);
    }

private:
    const OdbcHandles& handles_;
    SQLHSTMT handle_ = SQL_NULL_HSTMT;
};

} // namespace odbc

} // namespace velario::data
