#include "data/odbc/odbc.h"

#include "data/sqlite/database.h"
#include "data/text/text_encoding.h"

#include <QFileInfo>
#include <QStringList>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <odbcinst.h>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
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

namespace {

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

} // namespace

namespace {

// Bound cells are at most this wide; longer values are read whole with SQLGetData.
constexpr SQLLEN kCellLimit = 1024;
// What the bound buffers of one rowset may take, which decides the rows per block.
constexpr SQLLEN kRowsetBudget = 4 * 1024 * 1024;
constexpr SQLULEN kMaxRowset = 512;
constexpr SQLULEN kMinRowset = 16;
constexpr SQLULEN kCountRowset = 1024;
constexpr SQLLEN kFirstChunk = 64 * 1024;
constexpr SQLLEN kMaxChunk = 16 * 1024 * 1024;

SQLWCHAR* wide(const QString& text) {
    return const_cast<SQLWCHAR*>(reinterpret_cast<const SQLWCHAR*>(text.utf16()));
}

QString fromWide(const SQLWCHAR* text, qsizetype length) {
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(text), length);
}

// The W and the plain calls side by side, so that the code around them is written once.
QString decode(const SQLWCHAR* text, qsizetype length) {
    return fromWide(text, length);
}
QString decode(const SQLCHAR* text, qsizetype length) {
    return QString::fromUtf8(reinterpret_cast<const char*>(text), length);
}
SQLRETURN diagRecord(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLWCHAR* state,
                     SQLWCHAR* message, SQLSMALLINT size, SQLSMALLINT* length) {
    SQLINTEGER native = 0;
    return SQLGetDiagRecW(type, handle, record, state, &native, message, size, length);
}
SQLRETURN diagRecord(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLCHAR* state,
                     SQLCHAR* message, SQLSMALLINT size, SQLSMALLINT* length) {
    SQLINTEGER native = 0;
    return SQLGetDiagRec(type, handle, record, state, &native, message, size, length);
}
SQLRETURN describeColumn(SQLHSTMT stmt, SQLUSMALLINT column, SQLWCHAR* name, SQLSMALLINT size,
                         SQLSMALLINT* length, SQLSMALLINT* sqlType, SQLULEN* columnSize) {
    SQLSMALLINT digits = 0, nullable = 0;
    return SQLDescribeColW(stmt, column, name, size, length, sqlType, columnSize, &digits,
                           &nullable);
}
SQLRETURN describeColumn(SQLHSTMT stmt, SQLUSMALLINT column, SQLCHAR* name, SQLSMALLINT size,
                         SQLSMALLINT* length, SQLSMALLINT* sqlType, SQLULEN* columnSize) {
    SQLSMALLINT digits = 0, nullable = 0;
    return SQLDescribeCol(stmt, column, name, size, length, sqlType, columnSize, &digits,
                          &nullable);
}

// Every record, each with its SQLSTATE, one a line.
template <typename Char>
QString diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    QStringList records;
    std::vector<Char> message(1024);
    for (SQLSMALLINT record = 1;; ++record) {
        Char state[6] = {};
        SQLSMALLINT length = 0;
        SQLRETURN rc = diagRecord(type, handle, record, state, message.data(),
                                  SQLSMALLINT(message.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && length >= SQLSMALLINT(message.size())) {
            message.resize(size_t(length) + 1);
            rc = diagRecord(type, handle, record, state, message.data(),
                            SQLSMALLINT(message.size()), &length);
        }
        if (!SQL_SUCCEEDED(rc))
            break;
        length = std::min<SQLSMALLINT>(length, SQLSMALLINT(message.size() - 1));
        records << QStringLiteral("[%1] %2").arg(decode(state, 5), decode(message.data(), length));
    }
    return records.join(QLatin1Char('\n'));
}

Error odbcError(int number, SQLSMALLINT type, SQLHANDLE handle, bool wideCalls = true) {
    return Error::make(number, wideCalls ? diagnostics<SQLWCHAR>(type, handle)
                                         : diagnostics<SQLCHAR>(type, handle));
}

SQLRETURN execDirect(const OdbcHandles& handles, SQLHSTMT stmt, const QString& sql) {
    if (handles.wideCalls)
        return SQLExecDirectW(stmt, wide(sql), SQLINTEGER(sql.size()));
    QByteArray utf8 = sql.toUtf8();
    return SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(utf8.data()), SQLINTEGER(utf8.size()));
}

// Sends text with characters of every UTF-8 length (one outside UCS-2) through the driver
// and back: only a driver with the W calls returns it intact.
bool carriesWideText(SQLHDBC dbc) {
    const QString probe = QStringLiteral("SELECT 'àé日本😀'");
    std::vector<SQLWCHAR> back(64);
    SQLINTEGER length = 0;
    const SQLRETURN rc = SQLNativeSqlW(dbc, wide(probe), SQLINTEGER(probe.size()), back.data(),
                                       SQLINTEGER(back.size()), &length);
    if (!SQL_SUCCEEDED(rc))
        return true;
    return length == probe.size() && fromWide(back.data(), length) == probe;
}

// An attribute value as a connection string carries it: in braces, with "}" doubled, when
// it holds anything the string's own syntax uses.
QString connectionValue(const QString& value) {
    const bool plain = !value.isEmpty() && !value.contains(QLatin1Char(';')) &&
                       !value.contains(QLatin1Char('{')) && !value.contains(QLatin1Char('}')) &&
                       !value.front().isSpace() && !value.back().isSpace();
    if (plain)
        return value;
    QString quoted = value;
    quoted.replace(QLatin1Char('}'), QStringLiteral("}}"));
    return QLatin1Char('{') + quoted + QLatin1Char('}');
}

QString profileString(const QByteArray& section, const char* key, const char* file = "odbc.ini") {
    std::vector<char> buffer(4096);
    const int length = SQLGetPrivateProfileString(section.constData(), key, "", buffer.data(),
                                                  int(buffer.size()), file);
    return QString::fromUtf8(buffer.data(), std::max(0, length));
}

// The attribute names of a data source, looked up the way the driver manager and the driver
// look them up (the user's odbc.ini, then the system's).
std::vector<QByteArray> profileKeys(const QByteArray& section) {
    std::vector<char> keys(16 * 1024);
    const int length = SQLGetPrivateProfileString(section.constData(), nullptr, "", keys.data(),
                                                  int(keys.size()), "odbc.ini");
    std::vector<QByteArray> result;
    for (int at = 0; at < length && keys[size_t(at)] != '\0';) {
        const char* key = keys.data() + at;
        at += int(std::strlen(key)) + 1;
        result.emplace_back(key);
    }
    return result;
}

using Attributes = std::vector<std::pair<QString, QString>>;

void appendAttributes(QString& connection, const Attributes& attributes) {
    for (const auto& [key, value] : attributes)
        connection += QLatin1Char(';') + key + QLatin1Char('=') + value;
}

// The driver manager refuses data source names longer than SQL_MAX_DSN_LENGTH in both
// SQLConnect and "DSN=" strings, so a longer name is looked up here and its attributes are
// handed to the driver directly, those of OVERRIDES taking the place of the data source's. A
// value holding ";" or braces goes in braces, which not every driver reads back (SQLite's
// does not): *QUOTED says whether any did. Empty when the name is not configured.
QString connectionStringFromIni(const QString& dataSourceName, bool* quoted = nullptr,
                                const Attributes& overrides = {}) {
    const QByteArray section = dataSourceName.toUtf8();
    const QString driver = profileString(section, "Driver");
    if (quoted)
        *quoted = false;
    if (driver.isEmpty())
        return {};

    QString result = QStringLiteral("DRIVER={%1}")
                         .arg(QString(driver).replace(QLatin1Char('}'), QStringLiteral("}}")));
    const auto overridden = [&](const QByteArray& key) {
        return std::any_of(overrides.begin(), overrides.end(), [&](const auto& attribute) {
            return attribute.first.compare(QString::fromUtf8(key), Qt::CaseInsensitive) == 0;
        });
    };
    for (const QByteArray& key : profileKeys(section)) {
        if (qstricmp(key.constData(), "Driver") == 0 || qstricmp(key.constData(), "DSN") == 0 ||
            overridden(key))
            continue;
        const QString value = profileString(section, key.constData());
        const QString carried = connectionValue(value);
        if (quoted && carried != value)
            *quoted = true;
        result += QLatin1Char(';') + QString::fromUtf8(key) + QLatin1Char('=') + carried;
    }
    appendAttributes(result, overrides);
    return result;
}

// The library the driver manager loads for a data source: its Driver attribute names a
// driver of odbcinst.ini or the library itself.
QString driverLibrary(const QByteArray& section) {
    const QString driver = profileString(section, "Driver");
    if (driver.isEmpty() || driver.contains(QLatin1Char('/')))
        return driver;
    const QByteArray name = driver.toUtf8();
    for (const char* key : {"Driver64", "Driver"}) {
        const QString library = profileString(name, key, "odbcinst.ini");
        if (!library.isEmpty())
            return library;
    }
    return driver;
}

// The SQLite ODBC driver (libsqlite3odbc-<version>.so, with the unversioned link to it).
// Known by the file name before connecting: asking the driver its name would mean connecting
// twice.
bool isSqliteDriver(const QString& library) {
    QString file = QFileInfo(library).fileName();
    if (library.contains(QLatin1Char('/'))) {
        const QString target = QFileInfo(library).canonicalFilePath();
        if (!target.isEmpty())
            file += QLatin1Char(' ') + QFileInfo(target).fileName();
    }
    return file.contains(QLatin1String("sqlite3odbc"), Qt::CaseInsensitive);
}

struct DataSourceProfile {
    bool sqlite = false;
    bool setsStepApi = false;
    QString database; // the SQLite file, as the data source names it
};

DataSourceProfile dataSourceProfile(const QString& dataSourceName) {
    const QByteArray section = dataSourceName.toUtf8();
    DataSourceProfile profile;
    profile.sqlite = isSqliteDriver(driverLibrary(section));
    if (profile.sqlite) {
        const std::vector<QByteArray> keys = profileKeys(section);
        profile.setsStepApi = std::any_of(keys.begin(), keys.end(), [](const QByteArray& key) {
            return qstricmp(key.constData(), "StepAPI") == 0;
        });
        profile.database = profileString(section, "Database");
    }
    return profile;
}

// What the connection to a SQLite data source changes in it. The driver reads the whole
// result inside SQLExecDirect unless the connection asks it to step through the result as it
// is fetched (with a forward-only cursor, which is what statements here use); a data source
// that says StepAPI itself keeps its own choice. The file is opened read-only by the engine
// (a URI, which the driver passes on), so that no statement, PRAGMA or ATTACH can change or
// create a file, and a missing file is not created.
Attributes sqliteAttributes(const DataSourceProfile& profile) {
    Attributes attributes;
    if (!profile.setsStepApi)
        attributes.emplace_back(QStringLiteral("StepAPI"), QStringLiteral("1"));
    const QString& file = profile.database;
    if (!file.isEmpty() && file != QLatin1String(":memory:") &&
        !file.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        attributes.emplace_back(QStringLiteral("Database"), readOnlySqliteUri(file));
    return attributes;
}

// The name goes in a DSN= string when the driver can read it back there (its parser knows no
// braces), else every attribute goes in a DRIVER= string; empty when neither can carry them,
// and the data source is then opened as it stands.
QString sqliteConnectionString(const QString& dataSourceName, const DataSourceProfile& profile) {
    const Attributes attributes = sqliteAttributes(profile);
    if (attributes.empty())
        return {};
    if (dataSourceName.size() <= SQL_MAX_DSN_LENGTH &&
        connectionValue(dataSourceName) == dataSourceName) {
        QString result = QStringLiteral("DSN=") + dataSourceName;
        appendAttributes(result, attributes);
        return result;
    }
    bool quoted = false;
    const QString result = connectionStringFromIni(dataSourceName, &quoted, attributes);
    return quoted ? QString() : result;
}

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

enum class ValueKind { Text, Plain, Binary };

ValueKind kindOf(SQLSMALLINT sqlType) {
    switch (sqlType) {
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
        return ValueKind::Binary;
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
    case SQL_GUID:
        return ValueKind::Plain;
    default:
        if (sqlType >= SQL_INTERVAL_YEAR && sqlType <= SQL_INTERVAL_MINUTE_TO_SECOND)
            return ValueKind::Plain;
        return ValueKind::Text;
    }
}

struct Column {
    QString name;
    SQLSMALLINT cType = SQL_C_CHAR;
    SQLLEN width = 0; // bytes of one bound cell, terminator included
    bool mayBeLong = false;
    bool bound = false;
    std::unique_ptr<char[]> cells;
    std::unique_ptr<SQLLEN[]> indicators;

    SQLLEN terminator() const {
        return cType == SQL_C_CHAR ? 1 : cType == SQL_C_WCHAR ? SQLLEN(sizeof(SQLWCHAR)) : 0;
    }
    bool truncated(SQLLEN indicator) const {
        return indicator == SQL_NO_TOTAL || indicator > width - terminator();
    }
    // Whether WHOLE, read with SQLGetData, is the value whose first part the block brought
    // in ROW: the same length when the driver gave it, and the same first bytes.
    bool holdsStartOf(SQLULEN row, std::string_view whole) const {
        const char* cell = cells.get() + SQLLEN(row) * width;
        const SQLLEN indicator = indicators[row];
        if (indicator != SQL_NO_TOTAL && SQLLEN(whole.size()) != indicator)
            return false;
        // A driver may stop a truncated text short of the buffer's end, at a whole character.
        size_t start = size_t(width);
        if (cType == SQL_C_CHAR) {
            start = strnlen(cell, size_t(width - 1));
        } else if (cType == SQL_C_WCHAR) {
            const auto* units = reinterpret_cast<const char16_t*>(cell);
            const size_t room = size_t(width) / sizeof(char16_t) - 1;
            start = size_t(std::find(units, units + room, u'\0') - units) * sizeof(char16_t);
        }
        return whole.size() >= start && std::memcmp(whole.data(), cell, start) == 0;
    }
};

// A value read whole with SQLGetData. The buffer keeps its size from value to value, so that
// it is not filled again for each one.
struct WholeValue {
    std::string buffer;
    size_t length = 0;
    bool null = false;

    std::string_view bytes() const { return {buffer.data(), length}; }
};

// Reads the value of COLUMN of the current row whole into VALUE, in chunks that grow to what
// the driver says is left.
SQLRETURN readValue(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLLEN terminator,
                    WholeValue& value) {
    value.length = 0;
    value.null = false;
    SQLLEN request = kFirstChunk;
    for (;;) {
        const size_t offset = value.length;
        if (value.buffer.size() < offset + size_t(request))
            value.buffer.resize(offset + size_t(request));
        SQLLEN indicator = 0;
        const SQLRETURN rc =
            SQLGetData(stmt, column, cType, value.buffer.data() + offset, request, &indicator);
        if (rc == SQL_NO_DATA)
            return SQL_SUCCESS;
        if (!SQL_SUCCEEDED(rc))
            return rc;
        if (indicator == SQL_NULL_DATA) {
            value.length = 0;
            value.null = true;
            return SQL_SUCCESS;
        }
        const SQLLEN capacity = request - terminator;
        if (indicator != SQL_NO_TOTAL && indicator <= capacity) {
            value.length = offset + size_t(indicator);
            return SQL_SUCCESS;
        }
        value.length = offset + size_t(capacity);
        // The driver says how much is left when it knows: take it in one more call.
        request = indicator == SQL_NO_TOTAL ? std::min(request * 2, kMaxChunk)
                                            : indicator - capacity + terminator;
    }
}

QString trimmedStatement(const QString& sql) {
    qsizetype end = sql.size();
    while (end > 0 && (sql.at(end - 1).isSpace() || sql.at(end - 1) == QLatin1Char(';')))
        --end;
    return sql.left(end);
}

// psqlODBC in cursor mode sends "<statement>;fetch ..." on one line, which a closing "--"
// comment would swallow.
QString closedStatement(const QString& sql) {
    return sql.endsWith(QLatin1Char('\n')) ? sql : sql + QLatin1Char('\n');
}

class OdbcResult final : public ResultSource {
public:
    OdbcResult(std::shared_ptr<OdbcHandles> handles, const QString& sql, OdbcTextTransfer transfer)
        : handles_(std::move(handles)), statement_(*handles_), sql_(closedStatement(sql)),
          transfer_(transfer) {
        handles_->resultOpened();
    }
    ~OdbcResult() override {
        statement_.release();
        handles_->resultClosed();
    }
    OdbcResult(const OdbcResult&) = delete;
    OdbcResult& operator=(const OdbcResult&) = delete;

    Error start() {
        if (Error e = statement_.allocate())
            return e;
        const SQLHSTMT stmt = statement_.handle();
        const SQLRETURN rc = statement_.execute(sql_);
        if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
            return statement_.error(ErrorNumber::OdbcCallFailed);
        SQLSMALLINT count = 0;
        if (!SQL_SUCCEEDED(SQLNumResultCols(stmt, &count)))
            return statement_.error(ErrorNumber::OdbcCallFailed);
        if (count <= 0) {
            finished_ = true;
            return {};
        }
        columns_.resize(size_t(count));
        for (SQLUSMALLINT i = 0; i < columns_.size(); ++i) {
            if (!describe(i))
                return statement_.error(ErrorNumber::OdbcCallFailed);
        }
        if (Error e = bind())
            return e;
        if (handles_->firstRowsAtExecute && !fetchRowset() && error_)
            return error_;
        return {};
    }

    int columnCount() const override { return int(columns_.size()); }
    QString columnName(int column) const override {
        return column >= 0 && column < columnCount() ? columns_[size_t(column)].name : QString();
    }

    int fetch(int max, RowSink& sink) override {
        int produced = 0;
        while (produced < max && !error_) {
            if (position_ >= fetched_) {
                if (finished_ || !fetchRowset())
                    break;
                continue;
            }
            const SQLULEN row = position_++;
            const SQLUSMALLINT status = rowStatus_[row];
            if (status == SQL_ROW_NOROW)
                continue;
            if (status == SQL_ROW_ERROR) {
                fail(statement_.error(ErrorNumber::OdbcCallFailed));
                break;
            }
            if (!emitRow(row, sink))
                break;
            ++produced;
        }
        return produced;
    }

    bool atEnd() const override { return error_.isSet() || (finished_ && position_ >= fetched_); }
    Error error() const override { return error_; }

    // COUNT(*) over the statement lets the server count without sending a row, so it comes
    // first; statements that cannot be a derived table (PRAGMA, SHOW, procedure calls,
    // dialects that want every column named) are run again and walked instead.
    qint64 countRows(Error* error) override {
        if (error)
            *error = {};
        if (columns_.empty())
            return 0;
        qint64 rows = 0;
        if (countByQuery(&rows))
            return rows;
        const Error walkError = countByWalk(&rows);
        if (walkError) {
            if (error)
                *error = walkError;
            return -1;
        }
        return rows;
    }

    void interrupt() override { handles_->interrupt(); }

    void resume() override {
        // After SQLite's driver was interrupted an open result fails on its next row: it ends
        // here, with the rows read so far.
        if (handles_->resume() && handles_->spare != SQL_NULL_HSTMT && !finished_ && !error_) {
            SQLFreeStmt(statement_.handle(), SQL_CLOSE);
            finished_ = true;
            fetched_ = position_ = 0;
            fail(Error::make(ErrorNumber::OperationCancelled));
        }
    }

private:
    bool describe(SQLUSMALLINT index) {
        Column& column = columns_[index];
        SQLSMALLINT sqlType = 0;
        SQLULEN size = 0;
        if (!(handles_->wideCalls ? describeName<SQLWCHAR>(index, &column.name, &sqlType, &size)
                                  : describeName<SQLCHAR>(index, &column.name, &sqlType, &size)))
            return false;

        // Declared sizes are only hints (SQLite keeps any length in any column, PostgreSQL
        // text claims 8190): a cell wider than its buffer is read again whole.
        const SQLLEN declared = SQLLEN(std::min<SQLULEN>(size, SQLULEN(kCellLimit)));
        SQLLEN natural = 0;
        switch (kindOf(sqlType)) {
        case ValueKind::Binary:
            column.cType = SQL_C_BINARY;
            natural = declared;
            break;
        case ValueKind::Plain:
            column.cType = SQL_C_CHAR;
            natural = declared + 8 + 1;
            break;
        case ValueKind::Text:
            if (transfer_ == OdbcTextTransfer::Narrow) {
                column.cType = SQL_C_CHAR;
                natural = declared * 4 + 1;
            } else {
                column.cType = SQL_C_WCHAR;
                natural = (declared + 1) * SQLLEN(sizeof(SQLWCHAR));
            }
            break;
        }
        column.mayBeLong = size == 0 || natural > kCellLimit || size > SQLULEN(kCellLimit);
        column.width = std::clamp<SQLLEN>(natural, 32, kCellLimit);
        return true;
    }

    template <typename Char>
    bool describeName(SQLUSMALLINT index, QString* name, SQLSMALLINT* sqlType, SQLULEN* size) {
        std::vector<Char> buffer(256);
        SQLSMALLINT length = 0;
        SQLRETURN rc = describeColumn(statement_.handle(), index + 1, buffer.data(),
                                      SQLSMALLINT(buffer.size()), &length, sqlType, size);
        if (SQL_SUCCEEDED(rc) && length >= SQLSMALLINT(buffer.size())) {
            buffer.resize(size_t(length) + 1);
            rc = describeColumn(statement_.handle(), index + 1, buffer.data(),
                                SQLSMALLINT(buffer.size()), &length, sqlType, size);
        }
        if (!SQL_SUCCEEDED(rc))
            return false;
        *name =
            decode(buffer.data(), std::min<SQLSMALLINT>(length, SQLSMALLINT(buffer.size() - 1)));
        return true;
    }

    Error bind() {
        const SQLHSTMT stmt = statement_.handle();
        const SQLUINTEGER extensions = handles_->getDataExtensions;
        // Reading a long value of one row of a block needs SQL_GD_BLOCK and a driver that
        // honours SQLSetPos; without them a result that may hold long values is fetched a row
        // at a time, the current row being the one SQLGetData reads. (SQLite's driver has no
        // blocks, which measured no faster there.)
        SQLULEN rowset = 1;
        const bool mayBeLong = std::any_of(columns_.begin(), columns_.end(),
                                           [](const Column& column) { return column.mayBeLong; });
        if ((extensions & SQL_GD_BLOCK) && (handles_->positionsBlocks || !mayBeLong)) {
            SQLLEN rowBytes = 0;
            for (const Column& column : columns_)
                rowBytes += column.width + SQLLEN(sizeof(SQLLEN));
            rowset = std::clamp<SQLULEN>(SQLULEN(kRowsetBudget / rowBytes), kMinRowset, kMaxRowset);
            SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rowset), 0);
            SQLULEN granted = 1;
            if (!SQL_SUCCEEDED(SQLGetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, &granted, 0, nullptr)))
                granted = 1;
            rowset = std::max<SQLULEN>(granted, 1);
        }
        rowset_ = rowset;
        rowStatus_.assign(rowset, SQL_ROW_SUCCESS);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE,
                       reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, rowStatus_.data(), 0);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &rowsFetched_, 0);

        // Without SQL_GD_BOUND a bound cell cannot be read again, so columns that may hold
        // long values stay unbound; without SQL_GD_ANY_COLUMN every column after an unbound
        // one must stay unbound too.
        const bool rereadBound = extensions & SQL_GD_BOUND;
        const bool anyColumn = extensions & SQL_GD_ANY_COLUMN;
        bool unboundSeen = false;
        for (SQLUSMALLINT i = 0; i < columns_.size(); ++i) {
            Column& column = columns_[i];
            // MariaDB Connector/ODBC fails the fetch when a bound SQL_C_WCHAR cell is cut
            // short; a row at a time, such a column is read with SQLGetData alone.
            const bool wideAlone = rowset == 1 && column.mayBeLong && column.cType == SQL_C_WCHAR;
            column.bound =
                (rereadBound || !column.mayBeLong) && !wideAlone && (anyColumn || !unboundSeen);
            unboundSeen = unboundSeen || !column.bound;
            if (!column.bound)
                continue;
            column.cells =
                std::make_unique_for_overwrite<char[]>(size_t(column.width * SQLLEN(rowset)));
            column.indicators = std::make_unique_for_overwrite<SQLLEN[]>(rowset);
            if (!SQL_SUCCEEDED(SQLBindCol(stmt, i + 1, column.cType, column.cells.get(),
                                          column.width, column.indicators.get())))
                return statement_.error(ErrorNumber::OdbcCallFailed);
        }
        rereadBound_ = rereadBound;
        wholeValues_.resize(columns_.size());
        return {};
    }

    bool fetchRowset() {
        rowsFetched_ = 0;
        positionedRow_ = SQLULEN(-1);
        const CNumericScope numbers(*handles_);
        const CancellableCall call(*handles_, statement_.handle(), CancellableCall::Fetch);
        const SQLRETURN rc = call ? SQLFetch(statement_.handle()) : SQL_ERROR;
        if (rc == SQL_NO_DATA) {
            finished_ = true;
            fetched_ = position_ = 0;
            SQLFreeStmt(statement_.handle(), SQL_CLOSE);
            return false;
        }
        if (!SQL_SUCCEEDED(rc)) {
            fail(statement_.error(ErrorNumber::OdbcCallFailed));
            return false;
        }
        fetched_ = std::min(rowsFetched_, rowset_);
        position_ = 0;
        return true;
    }

    bool needsWholeRead(const Column& column, SQLULEN row) const {
        if (!column.bound)
            return true;
        const SQLLEN indicator = column.indicators[row];
        return rereadBound_ && indicator != SQL_NULL_DATA && column.truncated(indicator);
    }

    bool emitRow(SQLULEN row, RowSink& sink) {
        // Long values are read before the row starts so that a failing read leaves no half
        // row behind; SQLGetData wants the columns in ascending order anyway.
        for (size_t i = 0; i < columns_.size(); ++i) {
            if (needsWholeRead(columns_[i], row) && !readWhole(i, row))
                return false;
        }
        sink.beginRow();
        for (size_t i = 0; i < columns_.size(); ++i) {
            const Column& column = columns_[i];
            if (needsWholeRead(column, row)) {
                const WholeValue& value = wholeValues_[i];
                if (value.null)
                    sink.nullCell();
                else
                    emitValue(column, value.buffer.data(), SQLLEN(value.length), sink);
                continue;
            }
            SQLLEN indicator = column.indicators[row];
            if (indicator == SQL_NULL_DATA) {
                sink.nullCell();
                continue;
            }
            // Only a driver without SQL_GD_BOUND gets here: the part that fit is all there is.
            if (column.truncated(indicator))
                indicator = column.width - column.terminator();
            emitValue(column, column.cells.get() + SQLLEN(row) * column.width, indicator, sink);
        }
        sink.endRow();
        return true;
    }

    void emitValue(const Column& column, const char* bytes, SQLLEN length, RowSink& sink) {
        switch (column.cType) {
        case SQL_C_WCHAR:
            scratch_.clear();
            text::appendUtf8(scratch_, reinterpret_cast<const char16_t*>(bytes),
                             size_t(length) / sizeof(SQLWCHAR));
            sink.cell(scratch_.data(), qsizetype(scratch_.size()));
            break;
        case SQL_C_BINARY:
            scratch_.clear();
            text::appendHex(scratch_, reinterpret_cast<const unsigned char*>(bytes),
                            size_t(length));
            sink.cell(scratch_.data(), qsizetype(scratch_.size()));
            break;
        default:
            sink.cell(bytes, qsizetype(length));
            break;
        }
    }

    bool readWhole(size_t index, SQLULEN row) {
        const SQLHSTMT stmt = statement_.handle();
        if (rowset_ > 1 && positionedRow_ != row) {
            if (!SQL_SUCCEEDED(
                    SQLSetPos(stmt, SQLSETPOSIROW(row + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE))) {
                fail(statement_.error(ErrorNumber::OdbcCallFailed));
                return false;
            }
            positionedRow_ = row;
        }
        const Column& column = columns_[index];
        WholeValue& value = wholeValues_[index];
        const CNumericScope numbers(*handles_);
        if (!SQL_SUCCEEDED(readValue(stmt, SQLUSMALLINT(index + 1), column.cType,
                                     column.terminator(), value))) {
            fail(statement_.error(ErrorNumber::OdbcCallFailed));
            return false;
        }
        // A value of a row of a block read through a driver that ignored the position (a
        // declared size that was not kept) would be another row's: the part of this row's
        // cell that the block brought tells.
        if (rowset_ > 1 && column.bound &&
            (value.null || !column.holdsStartOf(row, value.bytes()))) {
            fail(Error::make(ErrorNumber::OdbcCallFailed,
                             QStringLiteral("Il driver ODBC non ha letto il valore della colonna "
                                            "«%1» alla riga giusta.")
                                 .arg(column.name)));
            return false;
        }
        return true;
    }

    bool countByQuery(qint64* rows) {
        Statement count(*handles_);
        if (count.allocate())
            return false;
        const QString sql = QStringLiteral("SELECT COUNT(*) FROM (\n%1\n) velario_rows")
                                .arg(trimmedStatement(sql_));
        if (!SQL_SUCCEEDED(count.execute(sql)))
            return false;
        if (!SQL_SUCCEEDED(SQLFetch(count.handle())))
            return false;
        SQLBIGINT value = 0;
        SQLLEN indicator = 0;
        if (!SQL_SUCCEEDED(
                SQLGetData(count.handle(), 1, SQL_C_SBIGINT, &value, sizeof value, &indicator)) ||
            indicator == SQL_NULL_DATA)
            return false;
        *rows = value;
        return true;
    }

    // Nothing is bound, so the driver hands over no values, only the number of rows of each
    // block.
    Error countByWalk(qint64* rows) {
        Statement walk(*handles_);
        if (Error e = walk.allocate())
            return e;
        const SQLHSTMT stmt = walk.handle();
        SQLULEN fetched = 0;
        SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kCountRowset),
                       0);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
        if (!SQL_SUCCEEDED(walk.execute(sql_)))
            return walk.error(ErrorNumber::OdbcCallFailed);
        qint64 total = 0;
        for (;;) {
            fetched = 0;
            const CancellableCall call(*handles_, stmt, CancellableCall::Fetch);
            const SQLRETURN rc = call ? SQLFetch(stmt) : SQL_ERROR;
            if (rc == SQL_NO_DATA)
                break;
            if (!SQL_SUCCEEDED(rc))
                return walk.error(ErrorNumber::OdbcCallFailed);
            total += qint64(fetched);
        }
        *rows = total;
        return {};
    }

    void fail(Error error) {
        error_ = std::move(error);
        if (!error_)
            error_ = Error::make(ErrorNumber::OdbcCallFailed);
    }

    std::shared_ptr<OdbcHandles> handles_;
    Statement statement_;
    QString sql_;
    OdbcTextTransfer transfer_;
    std::vector<Column> columns_;
    SQLULEN rowset_ = 1;
    SQLULEN rowsFetched_ = 0;
    std::vector<SQLUSMALLINT> rowStatus_;
    SQLULEN fetched_ = 0;
    SQLULEN position_ = 0;
    SQLULEN positionedRow_ = SQLULEN(-1);
    bool rereadBound_ = false;
    bool finished_ = false;
    Error error_;
    std::string scratch_;
    std::vector<WholeValue> wholeValues_;
};

// The first cell of the first row of SQL as SQL_C_CHAR bytes; none when the statement fails,
// has no row, gives a Null or does not fit 64 bytes whole.
std::optional<QByteArray> firstCell(const OdbcHandles& handles, const QString& sql) {
    Statement statement(handles);
    if (statement.allocate() || !SQL_SUCCEEDED(statement.execute(sql)) ||
        !SQL_SUCCEEDED(SQLFetch(statement.handle())))
        return std::nullopt;
    char value[64] = {};
    SQLLEN length = 0;
    if (SQLGetData(statement.handle(), 1, SQL_C_CHAR, value, sizeof value, &length) !=
            SQL_SUCCESS ||
        length == SQL_NULL_DATA)
        return std::nullopt;
    return QByteArray(value, int(length));
}

// Whether text read as SQL_C_CHAR arrives in UTF-8, as it comes from a driver that keeps its
// own bytes (SQLite's) or from a Unicode driver in a UTF-8 locale; psqlODBC otherwise
// converts to the locale's character set, or fails. A driver that cannot run the probe is
// read through SQL_C_WCHAR, which is always right, only slower.
bool deliversUtf8(const OdbcHandles& handles) {
    const QString text = QStringLiteral("àé日本😀");
    return firstCell(handles, QStringLiteral("SELECT '%1'").arg(text)) == text.toUtf8();
}

// The drivers at hand take SQL_ATTR_ACCESS_MODE and go on writing, so each engine's own
// session setting is asked for as well, with autocommit still on so that it outlives the
// transactions: SQLite's refuses every write to the files, PostgreSQL's and MariaDB's every
// change to data and schema. Then autocommit goes off, so that on an engine with
// transactions whatever a statement still managed to do is rolled back (see resultClosed);
// DDL commits by itself on MariaDB, where the session setting is what stops it. SQLite's
// driver stays in autocommit once the setting holds: in a transaction it reads every result
// whole before the first row, and it runs one statement a call, so a statement can never
// turn the setting off and then write.
void keepFromWriting(OdbcHandles& handles) {
    std::vector<SQLWCHAR> name(128);
    SQLSMALLINT length = 0;
    QString dbms;
    if (SQL_SUCCEEDED(SQLGetInfoW(handles.dbc, SQL_DBMS_NAME, name.data(),
                                  SQLSMALLINT(name.size() * sizeof(SQLWCHAR)), &length)))
        dbms = fromWide(name.data(), std::min<qsizetype>(length / SQLSMALLINT(sizeof(SQLWCHAR)),
                                                         qsizetype(name.size()) - 1));
    const auto engine = [&](const char* prefix) {
        return dbms.startsWith(QLatin1String(prefix), Qt::CaseInsensitive);
    };
    const bool sqlite = engine("SQLite");
    const QString setting =
        sqlite ? QStringLiteral("PRAGMA query_only = 1")
        : engine("PostgreSQL")
            ? QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY")
        : engine("MariaDB") || engine("MySQL") ? QStringLiteral("SET SESSION TRANSACTION READ ONLY")
                                               : QString();
    if (!setting.isEmpty()) {
        Statement statement(handles);
        if (!statement.allocate())
            statement.execute(setting);
    }
    if (sqlite && firstCell(handles, QStringLiteral("PRAGMA query_only")) == QByteArray("1"))
        return;
    handles.manualCommit = SQL_SUCCEEDED(SQLSetConnectAttr(
        handles.dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0));
}

// Fetches two long values in one block with small bound buffers and reads the second whole
// after SQLSetPos: a driver that honours the position gives the second row's value. A
// driver that cannot run the probe fetches results with long values a row at a time.
bool positionsBlocks(const OdbcHandles& handles) {
    constexpr qsizetype kLength = 1500;
    const std::string first(kLength, 'a');
    const std::string second(kLength, 'b');
    Statement probe(handles);
    if (probe.allocate())
        return false;
    const SQLHSTMT stmt = probe.handle();
    SQLULEN fetched = 0;
    char cells[2][32] = {};
    SQLLEN indicators[2] = {};
    if (!SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE,
                                      reinterpret_cast<SQLPOINTER>(SQLULEN(2)), 0)) ||
        !SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0)) ||
        !SQL_SUCCEEDED(probe.execute(QStringLiteral("SELECT '%1' UNION ALL SELECT '%2'")
                                         .arg(QLatin1String(first), QLatin1String(second)))) ||
        !SQL_SUCCEEDED(SQLBindCol(stmt, 1, SQL_C_CHAR, cells, sizeof cells[0], indicators)) ||
        !SQL_SUCCEEDED(SQLFetch(stmt)) || fetched != 2 || cells[0][0] == cells[1][0] ||
        !SQL_SUCCEEDED(SQLSetPos(stmt, 2, SQL_POSITION, SQL_LOCK_NO_CHANGE)))
        return false;
    WholeValue value;
    // The rows may come in either order: the value read must be the second row's.
    return SQL_SUCCEEDED(readValue(stmt, 1, SQL_C_CHAR, 1, value)) && !value.null &&
           value.bytes() == (cells[1][0] == 'b' ? second : first);
}

} // namespace

OdbcConnection::OdbcConnection(std::shared_ptr<OdbcHandles> handles)
    : handles_(std::move(handles)), textTransfer_(handles_->textTransfer) {}

OdbcConnection::~OdbcConnection() = default;

std::unique_ptr<OdbcConnection> OdbcConnection::connect(const QString& dataSourceName,
                                                        Error* error) {
    auto fail = [error](Error e) -> std::unique_ptr<OdbcConnection> {
        if (error)
            *error = std::move(e);
        return nullptr;
    };
    if (error)
        *error = {};
    // Some drivers take an empty name for a file to create.
    if (dataSourceName.trimmed().isEmpty())
        return fail(Error::make(ErrorNumber::OdbcConnectFailed,
                                QStringLiteral("Nome dell'origine dati ODBC non specificato.")));

    auto handles = std::make_shared<OdbcHandles>();
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handles->env)))
        return fail(
            Error::make(ErrorNumber::OdbcConnectFailed,
                        QStringLiteral("Impossibile inizializzare il gestore driver ODBC.")));
    if (!SQL_SUCCEEDED(SQLSetEnvAttr(handles->env, SQL_ATTR_ODBC_VERSION,
                                     reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)))
        return fail(odbcError(ErrorNumber::OdbcConnectFailed, SQL_HANDLE_ENV, handles->env));
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, handles->env, &handles->dbc)))
        return fail(odbcError(ErrorNumber::OdbcConnectFailed, SQL_HANDLE_ENV, handles->env));

    const DataSourceProfile profile = dataSourceProfile(dataSourceName);
    QString connection;
    if (profile.sqlite)
        connection = sqliteConnectionString(dataSourceName, profile);
    if (connection.isEmpty() && dataSourceName.size() > SQL_MAX_DSN_LENGTH) {
        connection = connectionStringFromIni(dataSourceName);
        if (connection.isEmpty())
            return fail(
                Error::make(ErrorNumber::OdbcConnectFailed,
                            QStringLiteral("[IM002] Origine dati «%1» non trovata e nessun driver "
                                           "predefinito specificato.")
                                .arg(dataSourceName)));
    }
    // Catalogue entries select; a driver that can is asked to refuse anything else.
    SQLSetConnectAttr(handles->dbc, SQL_ATTR_ACCESS_MODE,
                      reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY), 0);
    SQLRETURN rc;
    if (connection.isEmpty()) {
        // The name travels as its own argument: no quoting, and SQLConnect never prompts.
        rc = SQLConnectW(handles->dbc, wide(dataSourceName), SQLSMALLINT(dataSourceName.size()),
                         nullptr, 0, nullptr, 0);
    } else {
        rc = SQLDriverConnectW(handles->dbc, nullptr, wide(connection),
                               SQLSMALLINT(connection.size()), nullptr, 0, nullptr,
                               SQL_DRIVER_NOPROMPT);
    }
    if (!SQL_SUCCEEDED(rc))
        return fail(odbcError(ErrorNumber::OdbcConnectFailed, SQL_HANDLE_DBC, handles->dbc));
    handles->connected = true;
    handles->firstRowsAtExecute = profile.sqlite;
    if (profile.sqlite &&
        !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, handles->dbc, &handles->spare)))
        handles->spare = SQL_NULL_HSTMT;
    handles->wideCalls = carriesWideText(handles->dbc);
    keepFromWriting(*handles);
    handles->textTransfer =
        deliversUtf8(*handles) ? OdbcTextTransfer::Narrow : OdbcTextTransfer::Wide;
    if (locale_t base = duplocale(LC_GLOBAL_LOCALE)) {
        handles->cNumeric = newlocale(LC_NUMERIC_MASK, "C", base);
        if (!handles->cNumeric)
            freelocale(base);
    }
    if (!SQL_SUCCEEDED(SQLGetInfoW(handles->dbc, SQL_GETDATA_EXTENSIONS,
                                   &handles->getDataExtensions, sizeof(SQLUINTEGER), nullptr)))
        handles->getDataExtensions = 0;
    handles->positionsBlocks =
        (handles->getDataExtensions & SQL_GD_BLOCK) && positionsBlocks(*handles);
    return std::unique_ptr<OdbcConnection>(new OdbcConnection(std::move(handles)));
}

void OdbcConnection::interrupt() {
    handles_->interrupt();
}

std::unique_ptr<ResultSource> OdbcConnection::execute(const QString& sql, Error* error) {
    if (error)
        *error = {};
    auto result = std::make_unique<OdbcResult>(handles_, sql, textTransfer_);
    if (Error e = result->start()) {
        if (error)
            *error = std::move(e);
        return nullptr;
    }
    return result;
}

} // namespace velario::data
