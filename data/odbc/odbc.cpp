#include "data/odbc/odbc.h"

#include "data/odbc/data_source_profile.h"
#include "data/odbc/mariadb_stream.h"
#include "data/odbc/odbc_handles.h"
#include "data/odbc/odbc_result.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <clocale>
#include <optional>
#include <string>
#include <vector>

namespace velario::data {

using namespace odbc;

namespace {

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
    handles.engine = sqlite                                 ? Engine::SQLite
                     : engine("PostgreSQL")                 ? Engine::PostgreSQL
                     : engine("MariaDB") || engine("MySQL") ? Engine::MariaDB
                                                            : Engine::Other;
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

// Fetches three long values in blocks of two with small bound buffers, reads the rows of the
// first block whole after SQLSetPos, back and forth, then fetches the next block: a driver that
// honours the position gives each row its own value and leaves the block where it was, so
// that the next fetch brings the third row and then nothing. (Connector/ODBC 3.1 with a
// forward-only cursor adds each position to the block's start and fetches on from there.)
// A driver that cannot run the probe fetches results with long values a row at a time.
bool positionsBlocks(const OdbcHandles& handles) {
    constexpr qsizetype kLength = 1500;
    const std::string values[] = {std::string(kLength, 'a'), std::string(kLength, 'b'),
                                  std::string(kLength, 'c')};
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
        !SQL_SUCCEEDED(
            probe.execute(QStringLiteral("SELECT '%1' UNION ALL SELECT '%2' UNION ALL SELECT '%3'")
                              .arg(QLatin1String(values[0]), QLatin1String(values[1]),
                                   QLatin1String(values[2])))) ||
        !SQL_SUCCEEDED(SQLBindCol(stmt, 1, SQL_C_CHAR, cells, sizeof cells[0], indicators)) ||
        !SQL_SUCCEEDED(SQLFetch(stmt)) || fetched != 2 || cells[0][0] == cells[1][0])
        return false;
    // The rows may come in any order: each value read must be its own row's.
    const char block[2] = {cells[0][0], cells[1][0]};
    if (std::any_of(block, block + 2, [](char first) { return first < 'a' || first > 'c'; }))
        return false;
    const auto valueOf = [&](char first) -> const std::string& {
        return values[size_t(first - 'a')];
    };
    WholeValue value;
    for (const SQLSETPOSIROW row : {2, 1, 2}) {
        if (!SQL_SUCCEEDED(SQLSetPos(stmt, row, SQL_POSITION, SQL_LOCK_NO_CHANGE)) ||
            !SQL_SUCCEEDED(readValue(stmt, 1, SQL_C_CHAR, 1, value)) || value.null ||
            value.bytes() != valueOf(block[row - 1]))
            return false;
    }
    const char third = char('a' + 'b' + 'c' - block[0] - block[1]);
    return SQL_SUCCEEDED(SQLFetch(stmt)) && fetched == 1 && cells[0][0] == third &&
           SQLFetch(stmt) == SQL_NO_DATA;
}

} // namespace

OdbcConnection::OdbcConnection(std::shared_ptr<OdbcHandles> handles)
    : handles_(std::move(handles)), textTransfer_(handles_->textTransfer) {}

OdbcConnection::OdbcConnection(std::shared_ptr<MariadbSession> mariadb)
    : mariadb_(std::move(mariadb)), textTransfer_(OdbcTextTransfer::Narrow) {}

OdbcConnection::~OdbcConnection() = default;

std::unique_ptr<OdbcConnection> OdbcConnection::connect(const QString& dataSourceName, Error* error,
                                                        bool bindsValues) {
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

    const DataSourceProfile profile = dataSourceProfile(dataSourceName);
    if (profile.mariadbStream) {
        Error failure;
        auto session = connectMariadb(*profile.mariadbStream, &failure);
        if (!session)
            return fail(std::move(failure));
        return std::unique_ptr<OdbcConnection>(new OdbcConnection(std::move(session)));
    }

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

    QString connection;
    if (profile.sqlite)
        connection = sqliteConnectionString(dataSourceName, profile);
    else if (profile.postgres && bindsValues)
        connection = postgresConnectionString(dataSourceName);
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
    if (mariadb_)
        interruptMariadb(*mariadb_);
    else
        handles_->interrupt();
}

std::unique_ptr<ResultSource> OdbcConnection::execute(const BoundStatement& statement,
                                                      Error* error) {
    if (error)
        *error = {};
    if (mariadb_)
        return openMariadbResult(mariadb_, statement, error);
    return openResult(handles_, statement, textTransfer_, error);
}

} // namespace velario::data
