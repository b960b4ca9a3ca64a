// The database server stopped while a large result is on screen and being scrolled: the user
// is told, and what was read stays on screen.
#include "controls/datagrid.h"
#include "support/harness.h"
#include "support/odbc_fixture.h"
#include "support/result_window_under_test.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTest>

#include <signal.h>

using namespace velario;

namespace {

pid_t serverProcess(const test::TestServer& server) {
    QFile file(server.folder + "/data/postmaster.pid");
    return file.open(QIODevice::ReadOnly) ? pid_t(file.readLine().trimmed().toInt()) : 0;
}

} // namespace

class TestServerFaults : public QObject {
    Q_OBJECT

    std::optional<test::TestServer> server_;
    std::unique_ptr<test::OdbcEnvironment> odbc_;
    const QString dsn_ = QStringLiteral("velario-guasti-pg");

private slots:
    void initTestCase() {
        QString error;
        server_ = test::postgresTestServer(&error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY2(server_, "no test server: run through ctest, which starts it");
        odbc_ = std::make_unique<test::OdbcEnvironment>(
            QList{test::postgresDataSource(dsn_, server_->port)});
        QVERIFY2(odbc_->isValid(), qPrintable(odbc_->errorString()));
    }

    // psqlODBC fetches the rows still to be shown as the grid scrolls.
    void serverStoppedWhileScrolling() {
        test::InProcess capture;
        CatalogueWindow* catalogue = test::openCatalogue({});
        test::putOnScreen(catalogue, {"SELECT g AS n, repeat('riga ', 20) || g AS nome FROM "
                                      "generate_series(1, 200000) g ORDER BY g",
                                      dsn_, QStringLiteral("ODBC")});
        ResultWindow* results = test::pressRun(catalogue);
        QVERIFY(results);
        QCOMPARE(capture.summary().filter("msgbox:"), QStringList());
        QCOMPARE(velario::test::control<Label>(results, "lblNUM_REC")->caption(),
                 QStringLiteral(" 200.000"));
        DataGrid* grid = results->activeGrid();
        QCOMPARE(grid->automationScroll(2000), QString());
        waitIdle();

        // PostgreSQL's immediate shutdown.
        const pid_t pid = serverProcess(*server_);
        QVERIFY(pid > 0 && ::kill(pid, SIGQUIT) == 0);
        QDeadlineTimer deadline(30000);
        while (::kill(pid, 0) == 0 && !deadline.hasExpired())
            QTest::qSleep(50);
        QVERIFY(!deadline.hasExpired());
        // Scrolling on needs rows the server no longer sends.
        QCOMPARE(grid->automationScroll(150000), QString());
        waitIdle();
        grid->automationScroll(180000);
        waitIdle();
        const QStringList shown = capture.summary().filter("msgbox:");
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].startsWith("msgbox:Errore SQL: ") && shown[0].endsWith("|0"),
                 qPrintable(shown[0]));
        QVERIFY(capture.summary().contains(QStringLiteral("beep")));
        // What was read stays on screen.
        QCOMPARE(grid->cellText(1999, 0), QStringLiteral("2000"));

        test::unloadAll();
    }
};

QTEST_MAIN(TestServerFaults)
#include "tst_server_faults.moc"
