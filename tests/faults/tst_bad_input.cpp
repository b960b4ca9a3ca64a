// Input of awkward size or content, through the windows and reports the user reaches it
// with: nothing is cut, changed or refused that the user did not ask for, and nothing fails.
#include "data/datagrid.h"
#include "print/printer.h"
#include "results/result_window_session.h"
#include "support/harness.h"
#include "support/odbc_fixture.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

using namespace velario;

namespace {

QStringList messages(const test::InProcess& capture) {
    QStringList list;
    for (const QJsonObject& e : capture.events())
        if (e.value("event").toString() == QLatin1String("msgbox"))
            list << e.value("text").toString();
    return list;
}

// The texts of every line of the documents delivered so far, joined.
QStringList documents(const test::InProcess& capture) {
    QStringList docs;
    for (const QJsonObject& e : capture.events()) {
        if (e.value("event").toString() != QLatin1String("document"))
            continue;
        QString text;
        for (const QJsonValue line : e.value("lines").toArray()) {
            for (const QJsonValue run : line.toArray())
                text += run.toObject().value("text").toString();
            text += u'\n';
        }
        docs << text;
    }
    return docs;
}

} // namespace

class TestBadInput : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString target_;
    std::unique_ptr<test::OdbcEnvironment> odbc_;
    const QString longOdbcName_ =
        QStringLiteral("Archivio=vendite;anno 2026 ").leftJustified(80, u'x');

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        target_ = dir_.filePath("valori.db");
        QStringList names, values;
        for (int c = 1; c <= 300; ++c)
            names << QStringLiteral("c%1").arg(c), values << QString::number(c);
        QVERIFY(test::writeSqlite(
            target_,
            {"CREATE TABLE larga (" + names.join(", ") + ")",
             "INSERT INTO larga VALUES (" + values.join(", ") + ")",
             "INSERT INTO larga (c1, c300) VALUES ('ultima', NULL)",
             "CREATE TABLE grande (n INTEGER, v TEXT)",
             "INSERT INTO grande VALUES (1, replace(hex(zeroblob(5000000)), '00', 'ab'))",
             "INSERT INTO grande VALUES (2, 'corta')",
             "CREATE TABLE mista (n INTEGER, b BLOB, t TEXT, r REAL)",
             "INSERT INTO mista VALUES (1, x'00ff10', NULL, NULL)",
             "INSERT INTO mista VALUES (2, NULL, 'a' || char(0) || 'b', 1.5)",
             "INSERT INTO mista VALUES (NULL, randomblob(3000), char(7, 9, 13, 10, 27), NULL)",
             "INSERT INTO mista VALUES (4, x'', '', NULL)"}));
        // The driver manager reads its configuration once: one for the whole test.
        const QString odbcFile = dir_.filePath("odbc dati.db");
        QVERIFY(QFile::copy(target_, odbcFile));
        odbc_ = std::make_unique<test::OdbcEnvironment>(
            QList{test::sqliteDataSource(longOdbcName_, odbcFile)});
        QVERIFY2(odbc_->isValid(), qPrintable(odbc_->errorString()));
        Printer::instance().reset();
        Printer::instance().setPdfFolder(dir_.filePath("stampe"));
        QVERIFY(QDir().mkpath(dir_.filePath("stampe")));
    }

    void cleanup() { test::unloadAll(); }

    // A result on screen is counted, its columns fitted and printed, its cells kept whole,
    // whatever the database file or ODBC name that quoting or parsing could break.
    void results_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("file"); // the database, or <odbc> for the data source
        QTest::addColumn<QString>("count");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<qsizetype>("length"); // of that cell's text
        QTest::newRow("300 columns, quotes in the file name")
            << "SELECT * FROM larga"
            << "l'archivio \"vero\".db"
            << "       2" << 300 << 0 << 299 << qsizetype(3);
        QTest::newRow("value of 10 MB, URI characters in the file name")
            << "SELECT * FROM grande ORDER BY n"
            << "a#b?c=d&e%20f%.db"
            << "       2" << 2 << 0 << 1 << qsizetype(10000000);
        QTest::newRow("binary and null, blanks in the file name")
            << "SELECT * FROM mista"
            << " con  spazi .db"
            << "       4" << 4 << 1 << 2 << qsizetype(3);
        QTest::newRow("ODBC name of 80 with = and ;") << "SELECT * FROM mista"
                                                      << "<odbc>"
                                                      << "       4" << 4 << 0 << 0 << qsizetype(1);
        QString lines;
        for (int i = 0; i < 4 * 1024 * 1024 / 80; ++i)
            lines += QStringLiteral("-- ") + QString(76, u'x') + u'\n';
        QTest::newRow("statement of 4 MB") << "SELECT n, t FROM mista\n" + lines + "WHERE n = 2"
                                           << "valori.db"
                                           << "       1" << 2 << 0 << 1 << qsizetype(3);
        QTest::newRow("statement on one line of 1 MB")
            << "SELECT n, t FROM mista /*" + QString(1024 * 1024, u'x') + "*/ WHERE n = 2"
            << "valori.db"
            << "       1" << 2 << 0 << 1 << qsizetype(3);
    }

    void results() {
        QFETCH(QString, sql);
        QFETCH(QString, file);
        QFETCH(QString, count);
        QFETCH(int, columns);
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(qsizetype, length);
        // The field holds 80 characters: a short folder leaves room for the name.
        QTemporaryDir folder(dir_.filePath("d 'è' XXXXXX"));
        const bool odbc = file == "<odbc>";
        QVERIFY(folder.isValid() && QFile::copy(target_, folder.filePath(odbc ? "vuoto" : file)));
        test::InProcess capture;
        FrmTS0002* catalogue = test::showCatalogue();
        test::putOnScreen(
            catalogue, {sql, odbc ? longOdbcName_ : folder.filePath(file), odbc ? "ODBC" : "MDB"});
        FrmTS0003* results = test::pressRun(catalogue);
        QVERIFY(results);
        QVERIFY2(messages(capture).isEmpty(), qPrintable(messages(capture).join('\n')));
        QCOMPARE(results->lblNUM_REC->caption(), count);
        data::DataGrid* grid = results->activeGrid();
        QCOMPARE(grid->columnCount(), columns);
        QCOMPARE(grid->cellText(row, column).size(), length);

        results->cmdADEGUA_CAMPI->click();
        results->cmdAUMENTA_CAMPI->click();
        results->cmdDIMINUISCE_CAMPI->click();
        capture.dialogs().queueReply(QStringLiteral("10"));
        results->cmdSTAMPA->click();
        waitIdle();
        QVERIFY2(messages(capture).isEmpty(), qPrintable(messages(capture).join('\n')));
        QCOMPARE(documents(capture).size(), 1);
        test::unloadAll();
        // Reading never made a file of its own beside the target.
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files).size(), 1);
    }

    // Codes and descriptions in any script, with control characters, are saved as typed,
    // listed, printed in both catalogue reports, and carried back by a run.
    void awkwardText_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("description");
        QTest::newRow("right to left") << "مرحبا"
                                       << "שלום עולם مرحبا بالعالم";
        QTest::newRow("CJK and emoji") << "日本語😀"
                                       << "中文 한국어 😀👍🏽";
        QTest::newRow("control characters")
            << QStringLiteral("A\u0001B\u007F") << QStringLiteral("tab\there\u001bbell\u0007");
        QTest::newRow("combining and invisible")
            << QStringLiteral("e\u0301\u200B") << QStringLiteral("\u202Eal contrario\u202C");
    }

    void awkwardText() {
        QFETCH(QString, code);
        QFETCH(QString, description);
        test::Sandbox box;
        FrmTS0002* window = test::openCatalogue(box.makeCatalogue("VELARIO2.db"));
        test::InProcess capture;
        window->cmdNUOVO->click();
        window->txtCOD_SQL->setText(code);
        window->txtDESCR_SQL->setText(description);
        window->txtDATABASE->setText(target_);
        window->txtSELEZ_SQL->setText("SELECT '" + description + "'");
        window->cmdAGGIORNA->click();
        window->cmdSTAMPA_Elenco_SQL->click();
        window->cmdSTAMPA_SQL->click();
        waitIdle();
        QVERIFY2(messages(capture).isEmpty(), qPrintable(messages(capture).join('\n')));
        QCOMPARE(window->DBGrid1->cellText(0, 0), code);
        QCOMPARE(window->DBGrid1->cellText(0, 1), description);
        const QStringList docs = documents(capture);
        QCOMPARE(docs.size(), 2);
        for (const QString& doc : docs)
            QVERIFY2(doc.contains(code), qPrintable(doc));
        FrmTS0003* results = test::pressRun(window);
        QVERIFY(results);
        QCOMPARE(results->activeGrid()->cellText(0, 0), description);
    }
};

QTEST_MAIN(TestBadInput)
#include "tst_bad_input.moc"
