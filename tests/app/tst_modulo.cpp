#include "app/modulo.h"
#include "platform/platform.h"
#include "results/result_window_session.h"
#include "support/harness.h"

#include <QDir>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

using namespace velario;
using velario::test::InProcess;

namespace {} // namespace

class TestModulo : public QObject {
    Q_OBJECT

private slots:
    void init() { Modulo::reset(); }
    void cleanup() { Modulo::reset(); }

    void winRemove_data() {
        QTest::addColumn<QVariantList>("before");
        QTest::addColumn<int>("id");
        QTest::addColumn<QVariantList>("after");
        QTest::addColumn<int>("count");

        // The removed slot's place is taken by the next; the freed last slot holds "". AFTER
        // is followed by empty slots.
        QTest::newRow("first of two equal ids")
            << QVariantList{2, 3, 2} << 2 << QVariantList{3, 2, QString()} << 2;
        QTest::newRow("id absent") << QVariantList{3, 4} << 2 << QVariantList{3, 4} << 2;
        QTest::newRow("text never equals an id")
            << QVariantList{QStringLiteral("2"), 2} << 2
            << QVariantList{QStringLiteral("2"), QString()} << 1;
        QVariantList full;
        for (int i = 1; i <= Modulo::kWinSlots; ++i)
            full << i;
        QVariantList fullAfter = full;
        fullAfter.removeAt(0);
        fullAfter << QString();
        QTest::newRow("full registry, first slot") << full << 1 << fullAfter << 29;
        QVariantList fullLast = full;
        fullLast.last() = QString();
        QTest::newRow("full registry, last slot") << full << 30 << fullLast << 29;
    }

    void winRemove() {
        QFETCH(QVariantList, before);
        QFETCH(int, id);
        QFETCH(QVariantList, after);
        QFETCH(int, count);
        Modulo::WIN_OPEN.fill(QVariant());
        for (int i = 0; i < before.size(); ++i)
            Modulo::WIN_OPEN[i + 1] = before[i];
        Modulo::N_WIN_OPEN = int(before.size());
        Modulo::WIN_ID = id;
        Modulo::WIN_REMOVE();
        QVariantList registry;
        for (int i = 1; i <= Modulo::kWinSlots; ++i)
            registry << Modulo::WIN_OPEN[i];
        QCOMPARE(registry, after + QVariantList(Modulo::kWinSlots - after.size()));
        QCOMPARE(Modulo::N_WIN_OPEN, count);
    }

    void errorReport_data() {
        QTest::addColumn<int>("number"); // 0: nothing pending, nothing shown
        QTest::addColumn<QString>("numberText");
        QTest::newRow("nothing pending") << 0 << "";
        QTest::newRow("positive") << 3078 << " 3078";
        QTest::newRow("negative") << -5 << "-5";
    }

    void errorReport() {
        QFETCH(int, number);
        QFETCH(QString, numberText);
        InProcess capture;
        const QString statement = "select * from SELEZIONI_SQL where CODICE = 'A' ";
        Modulo::MSG = statement;
        if (number)
            Modulo::ERR = Error::make(number, QStringLiteral("detail"));
        Modulo::ERROR_REPORT();
        Modulo::ERROR_REPORT(); // cleared: a second report shows nothing
        QCOMPARE(capture.summary(), number ? QStringList{"msgbox:Errore " + numberText + " - " +
                                                         standardErrorText(number) + "\r\r" +
                                                         statement + "|" + kAppTitle + "|0"}
                                           : QStringList());
        QCOMPARE(Modulo::ERR.number, 0);
        QCOMPARE(Modulo::MSG, statement);
    }

    void openCatalogueFailures_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("reason"); // part of the message
        QTest::newRow("opened") << "ok" << 0 << "";
        QTest::newRow("missing file") << "missing" << int(ErrorNumber::FileNotFound) << "";
        QTest::newRow("folder") << "folder" << int(ErrorNumber::FileOpenFailed) << "";
        QTest::newRow("SQLite header, damaged body")
            << "damaged" << int(ErrorNumber::UnrecognizedFormat) << "";
        QTest::newRow("empty path") << "empty" << int(ErrorNumber::FileOpenFailed) << "";
        QTest::newRow("no catalogue table")
            << "no table" << int(ErrorNumber::TableNotFound) << "SELEZIONI_SQL";
        QTest::newRow("damaged pages")
            << "damaged pages" << int(ErrorNumber::UnrecognizedFormat) << "danneggiato";
        QTest::newRow("locked by another program") << "locked" << int(ErrorNumber::CouldNotLock)
                                                   << standardErrorText(ErrorNumber::CouldNotLock);
    }

    void openCatalogueFailures() {
        QFETCH(QString, kind);
        QFETCH(int, number);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QString path = dir.filePath("VELARIO2.db");
        if (kind == "folder")
            QVERIFY(QDir().mkdir(path));
        if (kind == "damaged") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray("SQLite format 3\0", 16) + QByteArray(4080, '\x5a'));
        }
        if (kind == "empty")
            path.clear();
        if (kind == "no table")
            QVERIFY(test::writeSqlite(path, {"CREATE TABLE ALTRA (x)"}));
        const QString locker = QStringLiteral("locker");
        if (kind == "damaged pages" || kind == "locked" || kind == "ok") {
            QList<QStringList> entries;
            for (int i = 0; i < (kind == "ok" ? 0 : 2000); ++i)
                entries << QStringList{QString::number(i), "d", QString(100, u's'), "x", "MDB"};
            QVERIFY(QFile::rename(velario::test::Sandbox().makeCatalogue("c.db", entries), path));
        }
        if (kind == "damaged pages") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.seek(4 * 4096));
            f.write(QByteArray(4096, '\x5a'));
        }
        if (kind == "locked") {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), locker);
            db.setDatabaseName(path);
            QVERIFY(db.open() && QSqlQuery(db).exec(QStringLiteral("BEGIN EXCLUSIVE")));
        }
        const auto unlock = qScopeGuard([&] {
            if (!QSqlDatabase::contains(locker))
                return;
            QSqlDatabase::database(locker).close();
            QSqlDatabase::removeDatabase(locker);
        });
        const QStringList before =
            QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

        InProcess capture;
        Modulo::PATH_DB = path;
        Modulo::OPEN_CATALOGUE();
        const QList<QJsonObject> events = capture.events();
        if (kind == "ok") {
            QVERIFY(Modulo::DB && !Modulo::DB->isReadOnly());
            QCOMPARE(Modulo::MSG, "OpenDatabase " + path);
            QVERIFY(events.isEmpty());
            return;
        }
        QVERIFY(!Modulo::DB);
        QCOMPARE(Modulo::RISP, QStringLiteral("1"));
        QCOMPARE(events.size(), 2);
        QCOMPARE(events[0].value("event").toString(), QStringLiteral("beep"));
        QCOMPARE(events[1].value("style").toInt(), 16);
        QCOMPARE(events[1].value("title").toString(), kAppTitle);
        const QString text = events[1].value("text").toString();
        QVERIFY2(text.startsWith("ERRORE IN APERTURA DATABASE !!!\r\r " + QString::number(number) +
                                 " - ") &&
                     text.endsWith("\r\r" + path) && text.contains(reason),
                 qPrintable(text));
        // Opening never creates anything.
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    }
};

QTEST_MAIN(TestModulo)
#include "tst_modulo.moc"
