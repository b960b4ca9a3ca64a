#include "app/shared_state.h"
#include "support/harness.h"
#include "support/result_window_under_test.h"

#include <QDir>
#include <QTest>

using namespace velario;

class TestSharedState : public QObject {
    Q_OBJECT

private slots:
    void openCatalogueFailures_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("reason"); // found in the message
        QTest::newRow("no catalogue table")
            << "no table" << int(ErrorNumber::TableNotFound) << "SELEZIONI_SQL";
        QTest::newRow("damaged pages")
            << "damaged pages" << int(ErrorNumber::UnrecognizedFormat) << "danneggiato";
        QTest::newRow("Access file")
            << "access" << int(ErrorNumber::UnrecognizedFormat) << "velario-newcat --from ";
        QTest::newRow("locked by another program") << "locked" << int(ErrorNumber::CouldNotLock)
                                                   << standardErrorText(ErrorNumber::CouldNotLock);
    }

    void openCatalogueFailures() {
        QFETCH(QString, kind);
        QFETCH(int, number);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath("VELARIO2.db");
        QTemporaryDir cache;
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
        if (kind == "access") {
            QVERIFY(QFile::copy(qEnvironmentVariable("VELARIO_SOURCE_DIR") +
                                    "/tests/data/access/ASampleDatabase.accdb",
                                path));
            reason += path + " " + dir.filePath("VELARIO2-nuovo.db");
        } else if (kind == "no table") {
            QVERIFY(test::writeSqlite(path, {"CREATE TABLE ALTRA (x)"}));
        } else {
            QList<QStringList> entries;
            for (int i = 0; i < (kind == "damaged pages" ? 2000 : 0); ++i)
                entries << QStringList{QString::number(i), "d", QString(100, u's'), "x", "MDB"};
            QVERIFY(QFile::rename(velario::test::Sandbox().makeCatalogue("c.db", entries), path));
        }
        QFile f(path);
        QVERIFY(kind != "damaged pages" ||
                (f.open(QIODevice::ReadWrite) && f.seek(4 * 4096) &&
                 f.write(QByteArray(4096, '\x5a')) == 4096 && f.flush()));
        QSqlDatabase lock = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "locker");
        lock.setDatabaseName(path);
        QVERIFY(kind != "locked" || (lock.open() && QSqlQuery(lock).exec("BEGIN EXCLUSIVE")));
        const QStringList before =
            QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

        test::InProcess capture;
        SharedState state;
        state.PATH_DB = path;
        state.OPEN_CATALOGUE();
        const QStringList shown = capture.summary();
        QVERIFY(!state.DB && state.RISP == "1");
        QVERIFY2(test::matches(shown.join("¶"), "beep¶msgbox:ERRORE IN APERTURA DATABASE !!!\r\r " +
                                                    QString::number(number) + " - …" + reason +
                                                    "…\r\r" + path + "|" + kAppTitle + "|16"),
                 qPrintable(shown.join('\n')));
        // Opening never creates anything.
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
        lock.close();
    }
};

QTEST_MAIN(TestSharedState)
#include "tst_shared_state.moc"
