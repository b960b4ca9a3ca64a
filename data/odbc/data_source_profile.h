#pragma once

// What each driver needs of a data source beyond its name: the attributes the program adds or
// replaces (StepAPI and a read-only file for SQLite's driver) and the connection string that
// carries them, or a name too long for the driver manager, to the driver.

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace velario::data::odbc {

QString profileString(const QByteArray& section, const char* key, const char* file = "odbc.ini");
// The attribute names of a data source, looked up the way the driver manager and the driver
// look them up (the user's odbc.ini, then the system's).
std::vector<QByteArray> profileKeys(const QByteArray& section);

using Attributes = std::vector<std::pair<QString, QString>>;

// The driver manager refuses data source names longer than SQL_MAX_DSN_LENGTH in both
// SQLConnect and "DSN=" strings, so a longer name is looked up here and its attributes are
// handed to the driver directly, those of OVERRIDES taking the place of the data source's. A
// value holding ";" or braces goes in braces, which not every driver reads back (SQLite's
// does not): *QUOTED says whether any did. Empty when the name is not configured.
QString connectionStringFromIni(const QString& dataSourceName, bool* quoted = nullptr,
                                const Attributes& overrides = {});

// Where MariaDB Connector/ODBC would connect for a data source, and how, for the program to
// read the data source's results from the server itself: the driver of Debian 12 (3.1.15)
// reads every result whole inside SQLExecDirect, whatever the data source asks.
struct MariadbSettings {
    QByteArray host, user, password, database, socket, initCommand;
    unsigned port = 0;
    bool tcp = false;
    unsigned connectTimeout = 0, readTimeout = 0, writeTimeout = 0;
};

// The settings of a data source of MariaDB's driver (its attributes as odbc.ini has them)
// whose results the program streams itself: one that leaves the driver's client cache alone
// (no OPTION or OPTIONS), or that turns it off (the NO_CACHE flag, 1048576, or NO_CACHE=1 or
// STREAMRS=1 as later drivers name it) along with nothing but the flags that change nothing
// for a forward read. Nullopt for one that keeps the cache (OPTIONS without NO_CACHE, as a
// data source that says StepAPI=0 to SQLite's driver) or says anything the program does not
// do as the driver would (TLS, named pipes, other flags): the driver then reads it as it is.
std::optional<MariadbSettings>
mariadbStreamSettings(const std::vector<std::pair<QByteArray, QString>>& attributes);

struct DataSourceProfile {
    bool sqlite = false;
    bool postgres = false; // psqlODBC
    bool setsStepApi = false;
    QString database; // the SQLite file, as the data source names it
    std::optional<MariadbSettings> mariadbStream;
};

DataSourceProfile dataSourceProfile(const QString& dataSourceName);

// The name goes in a DSN= string when the driver can read it back there (its parser knows no
// braces), else every attribute goes in a DRIVER= string; empty when neither can carry them,
// and the data source is then opened as it stands.
QString sqliteConnectionString(const QString& dataSourceName, const DataSourceProfile& profile);

// The data source with psqlODBC told to put parameter values into its statements itself
// (UseServerSidePrepare=0), by name where the driver manager takes it, else with every
// attribute.
QString postgresConnectionString(const QString& dataSourceName);

} // namespace velario::data::odbc
