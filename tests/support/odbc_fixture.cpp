#include "odbc_fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <sql.h>
#include <sqlext.h>

#include <algorithm>

namespace velario::test {

namespace {

struct DriverEntry {
    const char* name;
    const char* library;
};

constexpr DriverEntry kDrivers[] = {
    {"SQLite3", "libsqlite3odbc.so"},
    {"PostgreSQL Unicode", "psqlodbcw.so"},
    {"MariaDB Unicode", "libmaodbc.so"},
};

QStringList driverFolders() {
    QStringList folders{QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc")};
    const QDir lib(QStringLiteral("/usr/lib"));
    for (const QString& triplet : lib.entryList({QStringLiteral("*-linux-gnu*")}, QDir::Dirs))
        folders << lib.filePath(triplet + QStringLiteral("/odbc")) << lib.filePath(triplet);
    folders << QStringLiteral("/usr/lib/odbc") << QStringLiteral("/usr/lib64/odbc")
            << QStringLiteral("/usr/lib64") << QStringLiteral("/usr/local/lib/odbc")
            << QStringLiteral("/usr/local/lib");
    return folders;
}

bool writeFile(const QString& path, const QByteArray& content, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(content) != content.size()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

QString odbcDriverLibrary(const QString& fileName) {
    for (const QString& folder : driverFolders()) {
        const QFileInfo candidate(QDir(folder).filePath(fileName));
        if (candidate.isFile())
            return candidate.canonicalFilePath();
    }
    return {};
}

OdbcDataSource sqliteDataSource(const QString& name, const QString& database,
                                const QList<QPair<QString, QString>>& extra) {
    OdbcDataSource source{
        name,
        QStringLiteral("SQLite3"),
        {{QStringLiteral("Database"), database}, {QStringLiteral("NoCreat"), QStringLiteral("1")}}};
    source.attributes += extra;
    return source;
}

OdbcDataSource postgresDataSource(const QString& name, int port, const QString& database) {
    return {name,
            QStringLiteral("PostgreSQL Unicode"),
            {{QStringLiteral("Servername"), QStringLiteral("127.0.0.1")},
             {QStringLiteral("Port"), QString::number(port)},
             {QStringLiteral("Database"), database},
             {QStringLiteral("Username"), QStringLiteral("velario")},
             {QStringLiteral("Password"), QString()},
             {QStringLiteral("SSLmode"), QStringLiteral("disable")},
             {QStringLiteral("UseDeclareFetch"), QStringLiteral("1")},
             {QStringLiteral("Fetch"), QStringLiteral("1000")}}};
}

OdbcDataSource mariadbDataSource(const QString& name, int port, const QString& database) {
    return {name,
            QStringLiteral("MariaDB Unicode"),
            {{QStringLiteral("Server"), QStringLiteral("127.0.0.1")},
             {QStringLiteral("Port"), QString::number(port)},
             {QStringLiteral("Database"), database},
             {QStringLiteral("User"), QStringLiteral("velario")},
             {QStringLiteral("Password"), QString()}}};
}

namespace {

std::optional<TestServer> testServer(const char* variable, const char* script, QString* error) {
    const QString portFile = qEnvironmentVariable(variable);
    if (portFile.isEmpty())
        return std::nullopt;
    TestServer server;
    // The server's owner may reach its folder only by its real path.
    server.folder = QFileInfo(portFile).canonicalPath();
    QFile file(portFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("no port file %1 (did %2 run?)").arg(portFile, script);
        return server;
    }
    bool ok = false;
    server.port = file.readAll().trimmed().toInt(&ok);
    if (!ok || server.port <= 0) {
        *error = QStringLiteral("%1 holds no port number").arg(portFile);
        server.port = 0;
    }
    return server;
}

struct OdbcHandle {
    SQLSMALLINT type;
    SQLHANDLE handle = SQL_NULL_HANDLE;
    bool connected = false;
    ~OdbcHandle() {
        if (connected)
            SQLDisconnect(handle);
        if (handle != SQL_NULL_HANDLE)
            SQLFreeHandle(type, handle);
    }
};

QString diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    QStringList records;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLWCHAR state[6] = {};
        SQLWCHAR message[1024] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(
                SQLGetDiagRecW(type, handle, record, state, &native, message, 1024, &length)))
            break;
        records << QString::fromUtf16(reinterpret_cast<const char16_t*>(message),
                                      std::min<int>(length, 1023));
    }
    return records.join(QLatin1Char('\n'));
}

SQLWCHAR* wide(const QString& text) {
    return const_cast<SQLWCHAR*>(reinterpret_cast<const SQLWCHAR*>(text.utf16()));
}

} // namespace

std::optional<TestServer> postgresTestServer(QString* error) {
    return testServer("VELARIO_PG_PORT_FILE", "pg-start.sh", error);
}

std::optional<TestServer> mariadbTestServer(QString* error) {
    return testServer("VELARIO_MARIADB_PORT_FILE", "mariadb-start.sh", error);
}

QString odbcRun(const QString& name, const QStringList& statements, QList<QStringList>* rows) {
    OdbcHandle env{SQL_HANDLE_ENV};
    OdbcHandle dbc{SQL_HANDLE_DBC};
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env.handle)) ||
        !SQL_SUCCEEDED(SQLSetEnvAttr(env.handle, SQL_ATTR_ODBC_VERSION,
                                     reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)) ||
        !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env.handle, &dbc.handle)))
        return QStringLiteral("cannot set up ODBC");
    if (!SQL_SUCCEEDED(
            SQLConnectW(dbc.handle, wide(name), SQLSMALLINT(name.size()), nullptr, 0, nullptr, 0)))
        return name + QStringLiteral(": ") + diagnostics(SQL_HANDLE_DBC, dbc.handle);
    dbc.connected = true;
    // The driver manager passes statements to a driver without the W calls (SQLite's)
    // through UCS-2 and back, which loses characters: such a driver gets UTF-8.
    const QString probe = QStringLiteral("SELECT 'àé日本😀'");
    SQLWCHAR back[64];
    SQLINTEGER length = 0;
    const bool wideCalls =
        !SQL_SUCCEEDED(
            SQLNativeSqlW(dbc.handle, wide(probe), SQLINTEGER(probe.size()), back, 64, &length)) ||
        QString::fromUtf16(reinterpret_cast<const char16_t*>(back), std::min(length, 63)) == probe;
    for (const QString& sql : statements) {
        OdbcHandle stmt{SQL_HANDLE_STMT};
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc.handle, &stmt.handle)))
            return QStringLiteral("cannot allocate a statement");
        QByteArray utf8 = sql.toUtf8();
        const SQLRETURN rc =
            wideCalls ? SQLExecDirectW(stmt.handle, wide(sql), SQLINTEGER(sql.size()))
                      : SQLExecDirect(stmt.handle, reinterpret_cast<SQLCHAR*>(utf8.data()),
                                      SQLINTEGER(utf8.size()));
        if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
            return sql.left(200) + QStringLiteral(": ") + diagnostics(SQL_HANDLE_STMT, stmt.handle);
        if (!rows)
            continue;
        rows->clear();
        SQLSMALLINT columns = 0;
        SQLNumResultCols(stmt.handle, &columns);
        while (columns > 0 && SQL_SUCCEEDED(SQLFetch(stmt.handle))) {
            QStringList row;
            for (SQLUSMALLINT c = 1; c <= columns; ++c) {
                QString value;
                SQLWCHAR chunk[4096];
                SQLLEN indicator = 0;
                SQLRETURN got;
                while (SQL_SUCCEEDED(got = SQLGetData(stmt.handle, c, SQL_C_WCHAR, chunk,
                                                      sizeof chunk, &indicator))) {
                    if (indicator == SQL_NULL_DATA) {
                        value = QStringLiteral("NULL");
                        break;
                    }
                    const SQLLEN room = SQLLEN(sizeof chunk) - SQLLEN(sizeof(SQLWCHAR));
                    const SQLLEN bytes =
                        indicator == SQL_NO_TOTAL ? room : std::min(indicator, room);
                    value += QString::fromUtf16(reinterpret_cast<const char16_t*>(chunk),
                                                bytes / SQLLEN(sizeof(SQLWCHAR)));
                    if (got == SQL_SUCCESS)
                        break;
                }
                row << value;
            }
            rows->append(row);
        }
    }
    return {};
}

OdbcEnvironment::OdbcEnvironment(const QList<OdbcDataSource>& sources) {
    if (!dir_.isValid()) {
        error_ = dir_.errorString();
        return;
    }
    QByteArray drivers;
    for (const DriverEntry& entry : kDrivers) {
        const QString library = odbcDriverLibrary(QString::fromLatin1(entry.library));
        if (library.isEmpty())
            continue;
        drivers += QByteArray("[") + entry.name + "]\nDriver=" + library.toUtf8() + "\n\n";
    }
    QByteArray dataSources;
    for (const OdbcDataSource& source : sources) {
        if (!drivers.contains("[" + source.driver.toUtf8() + "]")) {
            error_ = QStringLiteral("ODBC driver %1 not found on this machine").arg(source.driver);
            return;
        }
        dataSources += "[" + source.name.toUtf8() + "]\nDriver=" + source.driver.toUtf8() + "\n";
        for (const auto& [key, value] : source.attributes)
            dataSources += key.toUtf8() + "=" + value.toUtf8() + "\n";
        dataSources += "\n";
    }
    // The system files live in ODBCSYSINI; ODBCINI names the user's file, kept empty so
    // that nothing of the account running the tests leaks in.
    if (!writeFile(dir_.filePath(QStringLiteral("odbcinst.ini")), drivers, &error_) ||
        !writeFile(dir_.filePath(QStringLiteral("odbc.ini")), dataSources, &error_) ||
        !writeFile(dir_.filePath(QStringLiteral("user-odbc.ini")), {}, &error_))
        return;

    const QList<QPair<QByteArray, std::optional<QByteArray>>> settings = {
        {"ODBCSYSINI", QFile::encodeName(dir_.path())},
        {"ODBCINI", QFile::encodeName(dir_.filePath(QStringLiteral("user-odbc.ini")))},
        // unixODBC 2.3 takes ODBCINSTINI as a file name inside ODBCSYSINI and gets lost when
        // it is set at all.
        {"ODBCINSTINI", std::nullopt},
        {"ODBCSEARCH", std::nullopt},
    };
    for (const auto& [name, value] : settings) {
        saved_.append({name, qEnvironmentVariableIsSet(name.constData())
                                 ? std::optional<QByteArray>(qgetenv(name.constData()))
                                 : std::nullopt});
        if (value)
            qputenv(name.constData(), *value);
        else
            qunsetenv(name.constData());
    }
}

OdbcEnvironment::~OdbcEnvironment() {
    for (const auto& [name, value] : saved_) {
        if (value)
            qputenv(name.constData(), *value);
        else
            qunsetenv(name.constData());
    }
}

} // namespace velario::test
