#include "app/modulo.h"
#include "platform/platform.h"
#include "results/result_window_session.h"
#include "support/harness.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

using namespace velario;
using velario::test::InProcess;

namespace {

QVariantList registry() {
    QVariantList list;
    for (int i = 1; i <= Modulo::kWinSlots; ++i)
        list << Modulo::WIN_OPEN[i];
    return list;
}

void fillRegistry(const QVariantList& values) {
    Modulo::WIN_OPEN.fill(QVariant());
    for (int i = 0; i < values.size(); ++i)
        Modulo::WIN_OPEN[i + 1] = values[i];
    Modulo::N_WIN_OPEN = static_cast<int>(values.size());
}

QVariantList padded(QVariantList values, const QVariantList& tail = {}) {
    values += tail;
    while (values.size() < Modulo::kWinSlots)
        values << QVariant();
    return values;
}

} // namespace

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

        // The removed slot's place is taken by the next; the freed last slot holds "".
        QTest::newRow("first of two equal ids")
            << QVariantList{2, 3, 2} << 2 << padded({3, 2}, {QString()}) << 2;
        QTest::newRow("id absent") << QVariantList{3, 4} << 2 << padded({3, 4}) << 2;
        QTest::newRow("text never equals an id") << QVariantList{QStringLiteral("2"), 2} << 2
                                                 << padded({QStringLiteral("2")}, {QString()}) << 1;
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
        fillRegistry(before);
        Modulo::WIN_ID = id;
        Modulo::WIN_REMOVE();
        QCOMPARE(registry(), after);
        QCOMPARE(Modulo::N_WIN_OPEN, count);
    }

    void nullToEmpty_data() {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("null") << QVariant() << QVariant(QString());
        QTest::newRow("null text")
            << QVariant(QMetaType::fromType<QString>()) << QVariant(QString());
        QTest::newRow("number unchanged") << QVariant(42) << QVariant(42);
        QTest::newRow("text") << QVariant(QStringLiteral(" a ")) << QVariant(QStringLiteral(" a "));
    }

    void nullToEmpty() {
        QFETCH(QVariant, value);
        QFETCH(QVariant, expected);
        const QVariant result = Modulo::NULL_TO_EMPTY(value);
        QCOMPARE(result, expected);
        QCOMPARE(result.typeId(), expected.typeId());
    }

    void errorReportWithNothingPending() {
        InProcess capture;
        Modulo::MSG = QStringLiteral("select 1");
        Modulo::ERROR_REPORT();
        QVERIFY(capture.events().isEmpty());
        QCOMPARE(Modulo::MSG, QStringLiteral("select 1"));
    }

    void errorReport_data() {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("numberText");
        QTest::newRow("positive") << 3078 << " 3078";
        QTest::newRow("negative") << -5 << "-5";
    }

    void errorReport() {
        QFETCH(int, number);
        QFETCH(QString, numberText);
        InProcess capture;
        Modulo::MSG = QStringLiteral("select * from SELEZIONI_SQL where CODICE = 'A' ");
        Modulo::ERR = Error::make(number, QStringLiteral("detail"));
        Modulo::ERROR_REPORT();
        QCOMPARE(capture.summary(),
                 QStringList{"msgbox:Errore " + numberText + " - " + standardErrorText(number) +
                             "\r\rselect * from SELEZIONI_SQL where CODICE = 'A' |" + kAppTitle +
                             "|0"});
        QCOMPARE(Modulo::ERR.number, 0);
        // Cleared: a second report shows nothing.
        Modulo::ERROR_REPORT();
        QCOMPARE(capture.events().size(), 1);
    }

    void openCatalogueFailures_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("reason"); // part of the message
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
        if (kind == "damaged pages" || kind == "locked") {
            QList<QStringList> entries;
            for (int i = 0; i < 2000; ++i)
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
        QVERIFY(!Modulo::DB);
        QCOMPARE(Modulo::RISP, QStringLiteral("1"));
        const QList<QJsonObject> events = capture.events();
        QCOMPARE(events.size(), 2);
        QCOMPARE(events[0].value("event").toString(), QStringLiteral("beep"));
        QCOMPARE(events[1].value("style").toInt(), 16);
        QCOMPARE(events[1].value("title").toString(), kAppTitle);
        const QString text = events[1].value("text").toString();
        QVERIFY2(text.startsWith("ERRORE IN APERTURA DATABASE !!!\r\r " + QString::number(number) +
                                 " - "),
                 qPrintable(text));
        QVERIFY(text.endsWith("\r\r" + path));
        QVERIFY2(text.contains(reason), qPrintable(text));
        // Opening never creates anything.
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    }

    void openCatalogueSucceeds() {
        velario::test::Sandbox box;
        Modulo::PATH_DB = box.makeCatalogue("cat.db");
        InProcess capture;
        Modulo::OPEN_CATALOGUE();
        QVERIFY(Modulo::DB);
        QVERIFY(!Modulo::DB->isReadOnly());
        QCOMPARE(Modulo::MSG, "OpenDatabase " + Modulo::PATH_DB);
        QVERIFY(capture.events().isEmpty());
    }
};

QTEST_MAIN(TestModulo)
#include "tst_modulo.moc"
