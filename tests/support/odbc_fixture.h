#pragma once

#include "data/result_source.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

namespace velario::test {

// One [section] of odbc.ini.
struct OdbcDataSource {
    QString name;
    // "SQLite3", "PostgreSQL Unicode" or "MariaDB Unicode", as odbcinst.ini has them
    QString driver;
    QList<QPair<QString, QString>> attributes;
};

// A data source on the SQLite file DATABASE, which the driver must not create.
OdbcDataSource sqliteDataSource(const QString& name, const QString& database,
                                const QList<QPair<QString, QString>>& extra = {});
// A data source on the test PostgreSQL server at 127.0.0.1:PORT, fetching through a cursor.
OdbcDataSource postgresDataSource(const QString& name, int port);
// A data source on the test MariaDB server at 127.0.0.1:PORT; it sets no OPTIONS, so the
// program streams its results itself.
OdbcDataSource mariadbDataSource(const QString& name, int port);

// A server started for this test run by tests/fixtures/pg-start.sh or mariadb-start.sh, as
// found through the file that VELARIO_PG_PORT_FILE or VELARIO_MARIADB_PORT_FILE names.
struct TestServer {
    int port = 0;
    QString folder; // holds server.log, the statements the server received
};
// Nullopt when the variable is not set (the test runs outside ctest); a server with port 0
// and *ERROR set when it is set but names no usable port.
std::optional<TestServer> postgresTestServer(QString* error);
std::optional<TestServer> mariadbTestServer(QString* error);

// Runs STATEMENTS one by one on the data source NAME through a connection of its own, in
// autocommit, as a tool other than the program would. What went wrong, or an empty string.
// The text crosses in UTF-16, which a driver without the W calls (SQLite's) gets through the
// driver manager's UCS-2, losing what lies outside it: such files are written with writeSqlite.
QString odbcRun(const QString& name, const QStringList& statements);

// A private unixODBC configuration: odbcinst.ini with the SQLite3, PostgreSQL Unicode and
// MariaDB Unicode drivers found on this machine, and odbc.ini with the given data sources.
// From its making the process reads these files instead of the machine's and the user's; a
// test program makes one, and lets the settings outlive it.
class OdbcEnvironment {
public:
    explicit OdbcEnvironment(const QList<OdbcDataSource>& sources);

    bool isValid() const { return error_.isEmpty(); }
    QString errorString() const { return error_; }

private:
    QTemporaryDir dir_;
    QString error_;
};

// The cells of a result as text, a Null as "<NULL>": each on its own, and each row's joined
// by '|'.
struct TextCells : data::RowSink {
    QStringList cells, rows;
    qsizetype rowStart = 0;
    void beginRow() override { rowStart = cells.size(); }
    void cell(const char* utf8, qsizetype length) override {
        cells << QString::fromUtf8(utf8, length);
    }
    void nullCell() override { cells << QStringLiteral("<NULL>"); }
    void endRow() override { rows << cells.mid(rowStart).join(u'|'); }
};

} // namespace velario::test
