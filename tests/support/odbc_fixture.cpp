#include "odbc_fixture.h"

#include "harness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <sql.h>
#include <sqlext.h>

#include <algorithm>

namespace velario::test {

namespace {

// The driver library FILENAME where Debian puts ODBC drivers; empty when there is none.
QString driverLibrary(const char* fileName) {
    for (const QString& triplet : QDir("/usr/lib").entryList({"*-linux-gnu*"}, QDir::Dirs))
        if (const QFileInfo library("/usr/lib/" + triplet + "/odbc/" + fileName); library.isFile())
            return library.canonicalFilePath();
    return {};
}

// KEY=VALUE;... as data source attributes.
QList<QPair<QString, QString>> attributes(const QString& text) {
    QList<QPair<QString, QString>> list;
    for (const QString& item : text.split(u';'))
        list.append({item.section(u'=', 0, 0), item.section(u'=', 1)});
    return list;
}

std::optional<TestServer> testServer(const char* variable, const char* script, QString* error) {
    const QString portFile = qEnvironmentVariable(variable);
    if (portFile.isEmpty())
        return std::nullopt;
    const int port = fileBytes(portFile).trimmed().toInt();
    if (port <= 0)
        *error = QStringLiteral("no port number in %1 (did %2 run?)").arg(portFile, script);
    // The server's owner may reach its folder only by its real path.
    return TestServer{std::max(port, 0), QFileInfo(portFile).canonicalPath()};
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
    QString diagnostics() const {
        QStringList records;
        SQLCHAR state[6], message[1024];
        SQLINTEGER native;
        SQLSMALLINT length;
        for (SQLSMALLINT record = 1; SQL_SUCCEEDED(
                 SQLGetDiagRec(type, handle, record, state, &native, message, 1024, &length));
             ++record)
            records << QString::fromUtf8(reinterpret_cast<char*>(message),
                                         std::min<int>(length, 1023));
        return records.join(QLatin1Char('\n'));
    }
};

SQLWCHAR* wide(const QString& text) {
    return const_cast<SQLWCHAR*>(reinterpret_cast<const SQLWCHAR*>(text.utf16()));
}

} // namespace

OdbcDataSource sqliteDataSource(const QString& name, const QString& database,
                                const QList<QPair<QString, QString>>& extra) {
    return {name, "SQLite3",
            QList<QPair<QString, QString>>{{"Database", database}, {"NoCreat", "1"}} + extra};
}

OdbcDataSource postgresDataSource(const QString& name, int port) {
    return {
        name, "PostgreSQL Unicode",
        attributes(QStringLiteral("Servername=127.0.0.1;Port=%1;Database=velario_test;Username="
                                  "velario;Password=;SSLmode=disable;UseDeclareFetch=1;Fetch=1000")
                       .arg(port))};
}

OdbcDataSource mariadbDataSource(const QString& name, int port) {
    return {name, "MariaDB Unicode",
            attributes(QStringLiteral(
                           "Server=127.0.0.1;Port=%1;Database=velario_test;User=velario;Password=")
                           .arg(port))};
}

std::optional<TestServer> postgresTestServer(QString* error) {
    return testServer("VELARIO_PG_PORT_FILE", "pg-start.sh", error);
}

std::optional<TestServer> mariadbTestServer(QString* error) {
    return testServer("VELARIO_MARIADB_PORT_FILE", "mariadb-start.sh", error);
}

QString odbcRun(const QString& name, const QStringList& statements) {
    OdbcHandle env{SQL_HANDLE_ENV};
    OdbcHandle dbc{SQL_HANDLE_DBC};
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env.handle)) ||
        !SQL_SUCCEEDED(SQLSetEnvAttr(env.handle, SQL_ATTR_ODBC_VERSION,
                                     reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)) ||
        !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env.handle, &dbc.handle)))
        return QStringLiteral("cannot set up ODBC");
    if (!SQL_SUCCEEDED(
            SQLConnectW(dbc.handle, wide(name), SQLSMALLINT(name.size()), nullptr, 0, nullptr, 0)))
        return name + QStringLiteral(": ") + dbc.diagnostics();
    dbc.connected = true;
    for (const QString& sql : statements) {
        OdbcHandle stmt{SQL_HANDLE_STMT};
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc.handle, &stmt.handle)))
            return QStringLiteral("cannot allocate a statement");
        const SQLRETURN rc = SQLExecDirectW(stmt.handle, wide(sql), SQLINTEGER(sql.size()));
        if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
            return sql.left(200) + QStringLiteral(": ") + stmt.diagnostics();
    }
    return {};
}

OdbcEnvironment::OdbcEnvironment(const QList<OdbcDataSource>& sources) {
    QByteArray drivers, dataSources;
    for (const auto& [name, library] : {std::pair{"SQLite3", "libsqlite3odbc.so"},
                                        {"PostgreSQL Unicode", "psqlodbcw.so"},
                                        {"MariaDB Unicode", "libmaodbc.so"}}) {
        if (const QString path = driverLibrary(library); !path.isEmpty())
            drivers += QByteArray("[") + name + "]\nDriver=" + path.toUtf8() + "\n\n";
    }
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
    for (const auto& [file, content] : {std::pair{"odbcinst.ini", drivers},
                                        {"odbc.ini", dataSources},
                                        {"user-odbc.ini", QByteArray()}}) {
        QFile out(dir_.filePath(QLatin1String(file)));
        if (!dir_.isValid() || !out.open(QIODevice::WriteOnly) ||
            out.write(content) != content.size()) {
            error_ = QStringLiteral("cannot write %1: %2").arg(out.fileName(), out.errorString());
            return;
        }
    }
    qputenv("ODBCSYSINI", QFile::encodeName(dir_.path()));
    qputenv("ODBCINI", QFile::encodeName(dir_.filePath(QStringLiteral("user-odbc.ini"))));
    // unixODBC 2.3 takes ODBCINSTINI as a file name inside ODBCSYSINI and gets lost when it is
    // set at all.
    qunsetenv("ODBCINSTINI");
    qunsetenv("ODBCSEARCH");
}

} // namespace velario::test
