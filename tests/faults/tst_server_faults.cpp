// The database server stopped while a large result is on screen and being scrolled, then
// started again: the user is told, nothing breaks, and the next run of the entry works.
#include "data/datagrid.h"
#include "results/result_window_session.h"
#include "support/harness.h"
#include "support/odbc_fixture.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <signal.h>

using namespace velario;

namespace {

// The server's process, from the file it keeps its process number in.
pid_t serverProcess(bool mariadb, const test::TestServer& server) {
    QFile file(server.folder + (mariadb ? "/mariadbd.pid" : "/data/postmaster.pid"));
    return file.open(QIODevice::ReadOnly) ? pid_t(file.readLine().trimmed().toInt()) : 0;
}

// PostgreSQL's immediate shutdown, or MariaDB killed.
bool stopServer(bool mariadb, const test::TestServer& server) {
    const pid_t pid = serverProcess(mariadb, server);
    if (pid <= 0 || ::kill(pid, mariadb ? SIGKILL : SIGQUIT) != 0)
        return false;
    for (QDeadlineTimer deadline(30000); !deadline.hasExpired(); QTest::qSleep(50)) {
        if (::kill(pid, 0) != 0)
            return true;
    }
    return false;
}

// Through the command its start script kept; it answers once a connection of the test's own
// gets through.
bool startServer(const QString& dsn, const test::TestServer& server) {
    if (!QProcess::startDetached(server.folder + QStringLiteral("/server.sh"), {}))
        return false;
    for (QDeadlineTimer deadline(60000); !deadline.hasExpired(); QTest::qSleep(200)) {
        if (test::odbcRun(dsn, {QStringLiteral("SELECT 1")}).isEmpty())
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

    std::optional<test::TestServer> servers_[2]; // PostgreSQL, MariaDB
    std::unique_ptr<test::OdbcEnvironment> odbc_;
    const QString dsns_[2] = {QStringLiteral("velario-guasti-pg"),
                              QStringLiteral("velario-guasti-mariadb")};

private slots:
    void initTestCase() {
        QString error;
        servers_[0] = test::postgresTestServer(&error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        servers_[1] = test::mariadbTestServer(&error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY2(servers_[0] && servers_[1],
                 "no test servers: run through ctest, which starts them");
        odbc_ = std::make_unique<test::OdbcEnvironment>(
            QList{test::postgresDataSource(dsns_[0], servers_[0]->port),
                  test::mariadbDataSource(dsns_[1], servers_[1]->port)});
        QVERIFY2(odbc_->isValid(), qPrintable(odbc_->errorString()));
    }

    void cleanupTestCase() {
        // The fixtures' stops expect running servers.
        for (bool mariadb : {false, true}) {
            const pid_t pid = serverProcess(mariadb, *servers_[mariadb]);
            if (pid <= 0 || ::kill(pid, 0) != 0)
                startServer(dsns_[mariadb], *servers_[mariadb]);
        }
    }

    // MariaDB Connector/ODBC holds the whole result once the statement has run, so the rows
    // still to be shown need no server; psqlODBC fetches them as the grid scrolls.
    void serverStoppedWhileScrolling_data() {
        QTest::addColumn<bool>("mariadb");
        QTest::addColumn<QString>("sql");
        QTest::newRow("postgres") << false
                                  << QStringLiteral("SELECT g AS n, repeat('riga ', 20) || g AS "
                                                    "nome FROM generate_series(1, 200000) g "
                                                    "ORDER BY g");
        QTest::newRow("mariadb") << true
                                 << QStringLiteral(
                                        "SELECT seq AS n, CONCAT(REPEAT('riga ', 20), "
                                        "seq) AS nome FROM seq_1_to_200000 ORDER BY seq");
    }

    void serverStoppedWhileScrolling() {
        QFETCH(bool, mariadb);
        QFETCH(QString, sql);
        const test::TestServer& server = *servers_[mariadb];
        test::InProcess capture;
        FrmTS0002* catalogue = test::showCatalogue();
        test::putOnScreen(catalogue, {sql, dsns_[mariadb], QStringLiteral("ODBC")});
        FrmTS0003* results = test::pressRun(catalogue);
        QVERIFY(results);
        QVERIFY2(messages(capture).isEmpty(), qPrintable(messages(capture).join('\n')));
        QCOMPARE(results->lblNUM_REC->caption(), QStringLiteral(" 200.000"));
        data::DataGrid* grid = results->activeGrid();
        QCOMPARE(grid->automationScroll(2000), QString());
        waitIdle();

        QVERIFY(stopServer(mariadb, server));
        // Scrolling on needs rows the server may no longer send.
        QCOMPARE(grid->automationScroll(150000), QString());
        waitIdle();
        grid->automationScroll(180000);
        waitIdle();
        const QStringList shown = messages(capture);
        QCOMPARE(shown.size(), mariadb ? 0 : 1);
        if (mariadb) {
            QCOMPARE(grid->cellText(179999, 0), QStringLiteral("180000"));
        } else {
            QVERIFY2(shown[0].startsWith(QStringLiteral("0|Errore SQL: ")), qPrintable(shown[0]));
            QVERIFY(capture.summary().contains(QStringLiteral("beep")));
        }
        // What was read stays on screen.
        QCOMPARE(grid->cellText(1999, 0), QStringLiteral("2000"));

        QVERIFY(startServer(dsns_[mariadb], server));
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
