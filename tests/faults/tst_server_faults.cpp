// The database server stopped while a large result is on screen and being scrolled: the user
// is told, and what was read stays on screen.
#include "controls/datagrid.h"
#include "support/harness.h"
#include "support/result_window_under_test.h"

#include <QDeadlineTimer>
#include <QTest>

#include <signal.h>

using namespace velario;

class TestServerFaults : public QObject {
    Q_OBJECT

private slots:
    // psqlODBC fetches the rows still to be shown as the grid scrolls.
    void serverStoppedWhileScrolling() {
        QString error;
        const std::optional<test::TestServer> server = test::postgresTestServer(&error);
        QVERIFY2(server && error.isEmpty(), qPrintable(error));
        const test::OdbcEnvironment odbc(
            {test::postgresDataSource("velario-guasti-pg", server->port)});
        QVERIFY2(odbc.isValid(), qPrintable(odbc.errorString()));
        test::InProcess capture;
        ResultWindow* results =
            test::runOnScreen({"SELECT g AS n, repeat('riga ', 20) || g AS "
                               "nome FROM generate_series(1, 200000) g ORDER BY g",
                               "velario-guasti-pg", "ODBC"});
        QVERIFY(results);
        QCOMPARE(test::control<Label>(results, "lblNUM_REC")->caption(), " 200.000");
        DataGrid* grid = results->activeGrid();
        QCOMPARE(grid->automationScroll(2000), QString());
        waitIdle();

        // PostgreSQL's immediate shutdown.
        const QByteArray pidFile = test::fileBytes(server->folder + "/data/postmaster.pid");
        const pid_t pid = pidFile.split('\n').value(0).toInt();
        QVERIFY(pid > 0 && ::kill(pid, SIGQUIT) == 0);
        QDeadlineTimer deadline(30000);
        while (::kill(pid, 0) == 0 && !deadline.hasExpired())
            QTest::qSleep(50);
        // Scrolling on needs rows the server no longer sends: told once, what was read stays.
        for (const int row : {150000, 180000}) {
            grid->automationScroll(row);
            waitIdle();
        }
        const QStringList shown = capture.summary().filter("msgbox:");
        QVERIFY2(shown.size() == 1 && shown[0].startsWith("msgbox:Errore SQL: ") &&
                     shown[0].endsWith("|0") && capture.summary().contains("beep"),
                 qPrintable(shown.join('\n')));
        QCOMPARE(grid->cellText(1999, 0), "2000");
        test::unloadAll();
    }
};

QTEST_MAIN(TestServerFaults)
#include "tst_server_faults.moc"
