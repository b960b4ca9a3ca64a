#include "data/odbc/data_source_profile.h"

#include "data/sqlite/database.h"

#include <QFileInfo>

#include <sql.h>
#include <sqlext.h>

#include <odbcinst.h>

#include <algorithm>
#include <cstring>

namespace velario::data::odbc {

namespace {

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

void appendAttributes(QString& connection, const Attributes& attributes) {
    for (const auto& [key, value] : attributes)
        connection += QLatin1Char(';') + key + QLatin1Char('=') + value;
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

// MariaDB Connector/ODBC (libmaodbc.so).
bool isMariadbDriver(const QString& library) {
    return QFileInfo(library).fileName().contains(QLatin1String("maodbc"), Qt::CaseInsensitive);
}

// psqlODBC (psqlodbcw.so, psqlodbca.so).
bool isPostgresDriver(const QString& library) {
    return QFileInfo(library).fileName().contains(QLatin1String("psqlodbc"), Qt::CaseInsensitive);
}

// Connector/ODBC's OPTIONS flags that change nothing for a result read forward once.
constexpr quint64 kFoundRows = 2, kNoPrompt = 16, kNoCache = 1048576, kForwardCursor = 2097152;

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

} // namespace

QString profileString(const QByteArray& section, const char* key, const char* file) {
    std::vector<char> buffer(4096);
    const int length = SQLGetPrivateProfileString(section.constData(), key, "", buffer.data(),
                                                  int(buffer.size()), file);
    return QString::fromUtf8(buffer.data(), std::max(0, length));
}

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

QString connectionStringFromIni(const QString& dataSourceName, bool* quoted,
                                const Attributes& overrides) {
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

std::optional<MariadbSettings>
mariadbStreamSettings(const std::vector<std::pair<QByteArray, QString>>& attributes) {
    MariadbSettings settings;
    std::optional<bool> streamed;
    bool ok = true;
    const auto number = [&ok](const QString& value) {
        bool valid = false;
        const uint n = value.trimmed().toUInt(&valid);
        ok = ok && valid;
        return n;
    };
    for (const auto& [name, value] : attributes) {
        const QByteArray key = name.toUpper();
        if (key == "DRIVER" || key == "DSN" || key == "DESCRIPTION" || key == "NO_PROMPT" ||
            key == "FORWARDONLY" || key == "CHARSET") {
            // Text reaches the program in UTF-8 whatever the connection's character set.
        } else if (key == "SERVER" || key == "SERVERNAME") {
            settings.host = value.toUtf8();
        } else if (key == "PORT") {
            settings.port = number(value);
        } else if (key == "UID" || key == "USER") {
            settings.user = value.toUtf8();
        } else if (key == "PWD" || key == "PASSWORD") {
            settings.password = value.toUtf8();
        } else if (key == "DATABASE" || key == "DB") {
            settings.database = value.toUtf8();
        } else if (key == "SOCKET") {
            settings.socket = value.toUtf8();
        } else if (key == "TCPIP") {
            settings.tcp = value.trimmed() == QLatin1String("1");
        } else if (key == "INITSTMT") {
            settings.initCommand = value.toUtf8();
        } else if (key == "CONN_TIMEOUT") {
            settings.connectTimeout = number(value);
        } else if (key == "READ_TIMEOUT") {
            settings.readTimeout = number(value);
        } else if (key == "WRITE_TIMEOUT") {
            settings.writeTimeout = number(value);
        } else if (key == "OPTION" || key == "OPTIONS") {
            bool valid = false;
            const quint64 flags = value.trimmed().toULongLong(&valid);
            if (!valid || (flags & ~(kFoundRows | kNoPrompt | kNoCache | kForwardCursor)) != 0)
                return std::nullopt;
            streamed = streamed.value_or(false) || (flags & kNoCache) != 0;
        } else if (key == "NO_CACHE" || key == "STREAMRS") {
            streamed = streamed.value_or(false) || value.trimmed() == QLatin1String("1");
        } else {
            return std::nullopt;
        }
    }
    if (!ok || !streamed.value_or(true))
        return std::nullopt;
    return settings;
}

DataSourceProfile dataSourceProfile(const QString& dataSourceName) {
    const QByteArray section = dataSourceName.toUtf8();
    DataSourceProfile profile;
    const QString library = driverLibrary(section);
    profile.sqlite = isSqliteDriver(library);
    profile.postgres = isPostgresDriver(library);
    if (isMariadbDriver(library)) {
        std::vector<std::pair<QByteArray, QString>> attributes;
        for (const QByteArray& key : profileKeys(section))
            attributes.emplace_back(key, profileString(section, key.constData()));
        profile.mariadbStream = mariadbStreamSettings(attributes);
    }
    if (profile.sqlite) {
        const std::vector<QByteArray> keys = profileKeys(section);
        profile.setsStepApi = std::any_of(keys.begin(), keys.end(), [](const QByteArray& key) {
            return qstricmp(key.constData(), "StepAPI") == 0;
        });
        profile.database = profileString(section, "Database");
    }
    return profile;
}

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

QString postgresConnectionString(const QString& dataSourceName) {
    const Attributes attributes{{QStringLiteral("UseServerSidePrepare"), QStringLiteral("0")}};
    if (dataSourceName.size() <= SQL_MAX_DSN_LENGTH &&
        connectionValue(dataSourceName) == dataSourceName) {
        QString result = QStringLiteral("DSN=") + dataSourceName;
        appendAttributes(result, attributes);
        return result;
    }
    return connectionStringFromIni(dataSourceName, nullptr, attributes);
}

} // namespace velario::data::odbc
