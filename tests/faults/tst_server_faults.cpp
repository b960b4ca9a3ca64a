// The database server stopped while a large result is on screen and being scrolled, then
// started again: the user is told, nothing breaks, and the next run of the entry works.
#include "data/datagrid.h"
#include "results/result_window_session.h"
#include "support/harness.h"
#include "support/odbc_fixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <signal.h>
#include <unistd.h>

using namespace velario;

namespace {

const QString kPostgresDsn = QStringLiteral("velario-guasti-pg");
const QString kMariadbDsn = QStringLiteral("velario-guasti-mariadb");

// Runs pg_ctl on the test server's cluster as the server's owner.
bool pgCtl(const test::TestServer& server, const QStringList& arguments) {
    const QStringList bins = QDir(QStringLiteral("/usr/lib/postgresql"))
                                 .entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    if (bins.isEmpty())
        return false;
    const QString pgctl = QStringLiteral("/usr/lib/postgresql/%1/bin/pg_ctl").arg(bins.last());
    QStringList command{pgctl, QStringLiteral("-D"), server.folder + QStringLiteral("/data")};
    command += arguments;
    if (::geteuid() == 0)
        command = QStringList{QStringLiteral("runuser"), QStringLiteral("-u"),
                              QStringLiteral("postgres"), QStringLiteral("--")} +
                  command;
    QProcess p;
    p.start(command.first(), command.mid(1));
    return p.waitForFinished(90000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The process of the MariaDB server that mariadb-start.sh started in the server's folder.
pid_t mariadbProcess(const test::TestServer& server) {
    QFile file(server.folder + QStringLiteral("/mariadbd.pid"));
    return file.open(QIODevice::ReadOnly) ? pid_t(file.readAll().trimmed().toInt()) : 0;
}

bool stopServer(bool mariadb, const test::TestServer& server) {
    if (!mariadb)
        return pgCtl(server, {QStringLiteral("-m"), QStringLiteral("immediate"),
                              QStringLiteral("-w"), QStringLiteral("stop")});
    const pid_t pid = mariadbProcess(server);
    if (pid <= 0 || ::kill(pid, SIGKILL) != 0)
        return false;
    for (QDeadlineTimer deadline(30000); !deadline.hasExpired(); QTest::qSleep(50)) {
        if (::kill(pid, 0) != 0)
            return true;
    }
    return false;
}

// MariaDB starts again through the command its start script kept; it answers once a
// connection of the test's own gets through.
bool startServer(bool mariadb, const test::TestServer& server) {
    if (!mariadb)
        return pgCtl(server, {QStringLiteral("-l"), server.folder + QStringLiteral("/server.log"),
                              QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"),
                              QStringLiteral("-o"),
                              QStringLiteral("-c listen_addresses=127.0.0.1 -c port=%1 "
                                             "-c unix_socket_directories='%2' -c fsync=off")
                                  .arg(server.port)
                                  .arg(server.folder),
                              QStringLiteral("start")});
    if (!QProcess::startDetached(server.folder + QStringLiteral("/server.sh"), {}))
        return false;
    for (QDeadlineTimer deadline(60000); !deadline.hasExpired(); QTest::qSleep(200)) {
        if (test::odbcRun(kMariadbDsn, {QStringLiteral("SELECT 1")}).isEmpty())
            return true;
    }
    return false;
}

QStringList messages(const test::InProcess& capture) {
    QStringList list;
    for (const QJsonObject& e : capture.events())
        if (e.value("event").toString() == QLatin1String("msgbox"))
            list << QStringLiteral("%1|%2")
                        .arg(e.value("style").toInt())
                        .arg(e.value("text").toString());
    return list;
}

} // namespace

class TestServerFaults : public QObject {
    Q_OBJECT

    std::optional<test::TestServer> postgres_;
    std::optional<test::TestServer> mariadb_;
    std::unique_ptr<test::OdbcEnvironment> odbc_;

    const test::TestServer& server(bool mariadb) const { return mariadb ? *mariadb_ : *postgres_; }

private slots:
    void initTestCase() {
        QString error;
        postgres_ = test::postgresTestServer(&error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        mariadb_ = test::mariadbTestServer(&error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY2(postgres_ && mariadb_, "no test servers: run through ctest, which starts them");
        odbc_ = std::make_unique<test::OdbcEnvironment>(
            QList{test::postgresDataSource(kPostgresDsn, postgres_->port),
                  test::mariadbDataSource(kMariadbDsn, mariadb_->port)});
        QVERIFY2(odbc_->isValid(), qPrintable(odbc_->errorString()));
    }

    void cleanupTestCase() {
        // The fixtures' stops expect running servers.
        for (bool mariadb : {false, true}) {
            const bool running =
                mariadb ? mariadbProcess(*mariadb_) > 0 && ::kill(mariadbProcess(*mariadb_), 0) == 0
                        : pgCtl(*postgres_, {QStringLiteral("status")});
            if (!running)
                startServer(mariadb, server(mariadb));
        }
    }

    // MariaDB Connector/ODBC holds the whole result once the statement has run, so the rows
    // still to be shown need no server; psqlODBC fetches them as the grid scrolls.
    void serverStoppedWhileScrolling_data() {
        QTest::addColumn<bool>("mariadb");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("failsWhileDown");
        QTest::newRow("postgres") << false
                                  << QStringLiteral("SELECT g AS n, repeat('riga ', 20) || g AS "
                                                    "nome FROM generate_series(1, 200000) g "
                                                    "ORDER BY g")
                                  << true;
        QTest::newRow("mariadb") << true
                                 << QStringLiteral("SELECT seq AS n, CONCAT(REPEAT('riga ', 20), "
                                                   "seq) AS nome FROM seq_1_to_200000 ORDER BY seq")
                                 << false;
    }

    void serverStoppedWhileScrolling() {
        QFETCH(bool, mariadb);
        QFETCH(QString, sql);
        QFETCH(bool, failsWhileDown);
        const QString dsn = mariadb ? kMariadbDsn : kPostgresDsn;
        test::InProcess capture;
        FrmTS0002* catalogue = test::showCatalogue();
        test::putOnScreen(catalogue, {sql, dsn, QStringLiteral("ODBC")});
        FrmTS0003* results = test::pressRun(catalogue);
        QVERIFY(results);
        QVERIFY2(messages(capture).isEmpty(), qPrintable(messages(capture).join('\n')));
        QCOMPARE(results->lblNUM_REC->caption(), QStringLiteral(" 200.000"));
        data::DataGrid* grid = results->activeGrid();
        QCOMPARE(grid->automationScroll(2000), QString());
        waitIdle();

        QVERIFY(stopServer(mariadb, server(mariadb)));
        // Scrolling on needs rows the server may no longer send.
        QCOMPARE(grid->automationScroll(150000), QString());
        waitIdle();
        grid->automationScroll(180000);
        waitIdle();
        const QStringList shown = messages(capture);
        QCOMPARE(shown.size(), failsWhileDown ? 1 : 0);
        if (failsWhileDown) {
            QVERIFY2(shown[0].startsWith(QStringLiteral("0|Errore SQL: ")), qPrintable(shown[0]));
            QVERIFY(capture.summary().contains(QStringLiteral("beep")));
        } else {
            QCOMPARE(grid->cellText(179999, 0), QStringLiteral("180000"));
        }
        // What was read stays on screen.
        QCOMPARE(grid->cellText(1999, 0), QStringLiteral("2000"));

        QVERIFY(startServer(mariadb, server(mariadb)));
        results->cmdESCI->click();
        waitIdle();
        const qsizetype before = messages(capture).size();
        results = test::pressRun(catalogue);
        QVERIFY(results);
        QCOMPARE(messages(capture).size(), before);
        QCOMPARE(results->lblNUM_REC->caption(), QStringLiteral(" 200.000"));
        grid = results->activeGrid();
        QCOMPARE(grid->automationScroll(150000), QString());
        waitIdle();
        QCOMPARE(grid->cellText(149999, 0), QStringLiteral("150000"));
        QCOMPARE(messages(capture).size(), before);
        test::unloadAll();
    }
};

QTEST_MAIN(TestServerFaults)
#include "tst_server_faults.moc"
