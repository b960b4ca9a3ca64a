#include "odbc_fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace velario::test {

namespace {

struct DriverEntry {
    const char* name;
    const char* library;
};

constexpr DriverEntry kDrivers[] = {
    {"SQLite3", "libsqlite3odbc.so"},
    {"PostgreSQL Unicode", "psqlodbcw.so"},
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

std::optional<PostgresServer> postgresTestServer(QString* error) {
    const QString portFile = qEnvironmentVariable("VELARIO_PG_PORT_FILE");
    if (portFile.isEmpty())
        return std::nullopt;
    PostgresServer server;
    // pg_ctl runs as the server's owner, who may reach the cluster only by its real path.
    server.folder = QFileInfo(portFile).canonicalPath();
    QFile file(portFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("no PostgreSQL port file %1 (did pg-start.sh run?)").arg(portFile);
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
