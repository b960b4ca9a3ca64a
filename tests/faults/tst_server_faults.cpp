// The PostgreSQL server stopped while a large result is on screen and being scrolled, then
// started again: the user is told, nothing breaks, and the next run of the entry works.
#include "data/datagrid.h"
#include "results/result_window_session.h"
#include "support/harness.h"
#include "support/odbc_fixture.h"

#include <QDir>
#include <QProcess>
#include <QTest>
#include <unistd.h>

using namespace velario;

namespace {

const QString kDsn = QStringLiteral("velario-guasti-pg");
const QString kBig = QStringLiteral("SELECT g AS n, repeat('riga ', 20) || g AS nome "
                                    "FROM generate_series(1, 200000) g ORDER BY g");

// Runs pg_ctl on the test server's cluster as the server's owner.
bool pgCtl(const test::PostgresServer& server, const QStringList& arguments) {
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

bool stopServer(const test::PostgresServer& server) {
    return pgCtl(server, {QStringLiteral("-m"), QStringLiteral("immediate"), QStringLiteral("-w"),
                          QStringLiteral("stop")});
}

bool startServer(const test::PostgresServer& server) {
    return pgCtl(server, {QStringLiteral("-l"), server.folder + QStringLiteral("/server.log"),
                          QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"),
                          QStringLiteral("-o"),
                          QStringLiteral("-c listen_addresses=127.0.0.1 -c port=%1 "
                                         "-c unix_socket_directories='%2' -c fsync=off")
                              .arg(server.port)
                              .arg(server.folder),
                          QStringLiteral("start")});
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

    std::optional<test::PostgresServer> server_;
    std::unique_ptr<test::OdbcEnvironment> odbc_;

private slots:
    void initTestCase() {
        QString error;
        server_ = test::postgresTestServer(&error);
        if (!server_)
            QSKIP("no test PostgreSQL server: run through ctest, which starts it");
        QVERIFY2(error.isEmpty(), qPrintable(error));
        odbc_ = std::make_unique<test::OdbcEnvironment>(
            QList{test::postgresDataSource(kDsn, server_->port)});
        QVERIFY2(odbc_->isValid(), qPrintable(odbc_->errorString()));
    }

    void cleanupTestCase() {
        // The fixture's stop expects a running server.
        if (server_ && server_->port)
            startServer(*server_);
    }

    void serverStoppedWhileScrolling() {
        test::InProcess capture;
        FrmTS0002* catalogue = test::showCatalogue();
        test::putOnScreen(catalogue, {kBig, kDsn, QStringLiteral("ODBC")});
        FrmTS0003* results = test::pressRun(catalogue);
        QVERIFY(results);
        QVERIFY2(messages(capture).isEmpty(), qPrintable(messages(capture).join('\n')));
        QCOMPARE(results->lblNUM_REC->caption(), QStringLiteral(" 200.000"));
        data::DataGrid* grid = results->activeGrid();
        QCOMPARE(grid->automationScroll(2000), QString());
        waitIdle();

        QVERIFY(stopServer(*server_));
        // Scrolling on needs rows the server no longer sends.
        QCOMPARE(grid->automationScroll(150000), QString());
        waitIdle();
        grid->automationScroll(180000);
        waitIdle();
        const QStringList shown = messages(capture);
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].startsWith(QStringLiteral("0|Errore SQL: ")), qPrintable(shown[0]));
        QVERIFY(capture.summary().contains(QStringLiteral("beep")));
        // What was read stays on screen.
        QCOMPARE(grid->cellText(1999, 0), QStringLiteral("2000"));

        QVERIFY(startServer(*server_));
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
