// Input of awkward size or content, through the windows and reports the user reaches it
// with: nothing is cut, changed or refused that the user did not ask for, and nothing fails.
#include "app/config.h"
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

// A table of two text columns FIRST and SECOND, one row per {name, first, second}.
void textTable(const char* first, const char* second, const QList<QStringList>& rows) {
    QTest::addColumn<QString>(first);
    QTest::addColumn<QString>(second);
    for (const QStringList& r : rows)
        QTest::newRow(qPrintable(r[0])) << r[1] << r[2];
}

QString columns300() {
    QStringList names;
    for (int c = 1; c <= 300; ++c)
        names << QStringLiteral("c%1").arg(c);
    return names.join(", ");
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
        QStringList values;
        for (int c = 1; c <= 300; ++c)
            values << QStringLiteral("%1").arg(c);
        QVERIFY(test::writeSqlite(
            target_,
            {"CREATE TABLE larga (" + columns300() + ")",
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

    // A result on screen is counted, its columns fitted and printed, its cells kept whole.
    void results_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("count");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<qsizetype>("length"); // of that cell's text
        QTest::newRow("300 columns") << "SELECT * FROM larga"
                                     << "       2" << 300 << 0 << 299 << qsizetype(3);
        QTest::newRow("value of 10 MB") << "SELECT * FROM grande ORDER BY n"
                                        << "       2" << 2 << 0 << 1 << qsizetype(10000000);
        QTest::newRow("binary and null") << "SELECT * FROM mista"
                                         << "       4" << 4 << 1 << 2 << qsizetype(3);
        QString lines;
        for (int i = 0; i < 4 * 1024 * 1024 / 80; ++i)
            lines += QStringLiteral("-- ") + QString(76, u'x') + u'\n';
        QTest::newRow("statement of 4 MB") << "SELECT n, t FROM mista\n" + lines + "WHERE n = 2"
                                           << "       1" << 2 << 0 << 1 << qsizetype(3);
        QTest::newRow("statement on one line of 1 MB")
            << "SELECT n, t FROM mista /*" + QString(1024 * 1024, u'x') + "*/ WHERE n = 2"
            << "       1" << 2 << 0 << 1 << qsizetype(3);
    }

    void results() {
        QFETCH(QString, sql);
        QFETCH(QString, count);
        QFETCH(int, columns);
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(qsizetype, length);
        test::InProcess capture;
        FrmTS0002* catalogue = test::showCatalogue();
        test::putOnScreen(catalogue, {sql, target_});
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
    }

    // Codes and descriptions in any script, with control characters, are saved as typed,
    // listed, and printed in both catalogue reports.
    void awkwardText_data() {
        textTable("code", "description",
                  {{"right to left", "مرحبا", "שלום עולם مرحبا بالعالم"},
                   {"CJK and emoji", "日本語😀", "中文 한국어 😀👍🏽"},
                   {"control characters", QStringLiteral("A\u0001B\u007F"),
                    QStringLiteral("tab\there\u001bbell\u0007")},
                   {"combining and invisible", QStringLiteral("e\u0301\u200B"),
                    QStringLiteral("\u202Eal contrario\u202C")}});
    }

    void awkwardText() {
        QFETCH(QString, code);
        QFETCH(QString, description);
        test::Sandbox box;
        const QString path = box.makeCatalogue("VELARIO2.db");
        Modulo::reset();
        Modulo::PATH_DB = path;
        Modulo::OPEN_CATALOGUE();
        test::InProcess capture;
        auto* window = Forms::instance().create<FrmTS0002>();
        window->load();
        window->showModeless();
        waitIdle();
        window->cmdNUOVO->click();
        window->txtCOD_SQL->setText(code);
        window->txtDESCR_SQL->setText(description);
        window->txtDATABASE->setText(target_);
        window->txtSELEZ_SQL->setText(QStringLiteral("SELECT '") + description +
                                      QStringLiteral("'"));
        window->cmdAGGIORNA->click();
        waitIdle();
        QVERIFY2(messages(capture).isEmpty(), qPrintable(messages(capture).join('\n')));
        QCOMPARE(window->DBGrid1->cellText(0, 0), code);
        QCOMPARE(window->DBGrid1->cellText(0, 1), description);

        window->cmdSTAMPA_Elenco_SQL->click();
        window->cmdSTAMPA_SQL->click();
        waitIdle();
        QVERIFY2(messages(capture).isEmpty(), qPrintable(messages(capture).join('\n')));
        const QStringList docs = documents(capture);
        QCOMPARE(docs.size(), 2);
        for (const QString& doc : docs)
            QVERIFY2(doc.contains(code), qPrintable(doc));

        // Run on it too: the statement carries the description back.
        FrmTS0003* results = test::pressRun(window);
        QVERIFY(results);
        QCOMPARE(results->activeGrid()->cellText(0, 0), description);
        test::unloadAll();
    }

    // Database files and ODBC names that quoting or parsing could break.
    void awkwardTargets_data() {
        textTable("name", "type",
                  {{"blanks", " con  spazi .db", "MDB"},
                   {"quotes", "l'archivio \"vero\".db", "MDB"},
                   {"URI characters", "a#b?c=d&e%20f%.db", "MDB"},
                   {"ODBC name of 80 with = and ;", longOdbcName_, "ODBC"}});
    }

    void awkwardTargets() {
        QFETCH(QString, name);
        QFETCH(QString, type);
        // The field holds 80 characters: a short folder leaves room for the name.
        QTemporaryDir folder(dir_.filePath("d 'è' XXXXXX"));
        QVERIFY(folder.isValid());
        const QString file = folder.filePath(type == "MDB" ? name : QStringLiteral("vuoto"));
        QVERIFY(QFile::copy(target_, file));
        test::InProcess capture;
        FrmTS0002* catalogue = test::showCatalogue();
        test::putOnScreen(
            catalogue, {QStringLiteral("SELECT * FROM mista"), type == "MDB" ? file : name, type});
        FrmTS0003* results = test::pressRun(catalogue);
        QVERIFY(results);
        QVERIFY2(messages(capture).isEmpty(), qPrintable(messages(capture).join('\n')));
        QCOMPARE(results->lblNUM_REC->caption(), QStringLiteral("       4"));
        test::unloadAll();
        // Reading never made a file of its own beside the target.
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files).size(), 1);
    }

    // A catalogue at such a path is opened at start-up from the configuration file.
    void awkwardCataloguePath() {
        test::Sandbox box;
        QVERIFY(QDir().mkpath(box.file("l'archivio è \"qui\" #1")));
        const QString catalogue =
            box.makeCatalogue("l'archivio è \"qui\" #1/cat àlogo ?.db",
                              {{"ΩMEGA", "voce", "SELECT 1", "x.MDB", "MDB"}});
        box.writeConfig(catalogue);
        const test::ProgramRun run = box.run("dump\n");
        QVERIFY(!run.crashed);
        QVERIFY(run.eventsOf("msgbox").isEmpty());
        const QJsonObject grid =
            run.lastWindowState("frmTS0002")["controls"].toObject()["DBGrid1"].toObject();
        QCOMPARE(grid["rows"].toInt(), 1);
        QCOMPARE(grid["cells"].toArray()[0].toArray()[0].toString(), QStringLiteral("ΩMEGA"));
    }

    // A configuration file of 100 MB, most of it one line of no known key and the rest
    // lines too long to be a setting: the settings around them are read.
    void hugeConfiguration() {
        const QString path = dir_.filePath("VELARIO.ini");
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write("RELEASE=2.5\r\nCOMMENT=");
            const QByteArray block(1024 * 1024, 'z');
            for (int i = 0; i < 90; ++i)
                file.write(block);
            file.write("\nDIR_DBF=/dati/primo.db\n");
            for (int i = 0; i < 10; ++i)
                file.write(QByteArray("NOTE___=") + block + '\n');
            file.write("DIR_DBF=/dati/catalogo.db");
            QVERIFY(file.size() > 100 * 1000 * 1000);
        }
        const std::optional<Configuration> config = readConfiguration(path);
        QVERIFY(config);
        QCOMPARE(config->release, QStringLiteral("2.5"));
        QCOMPARE(config->dirDbf, QStringLiteral("/dati/catalogo.db"));
        QVERIFY(config->dirPrg.isEmpty());
        QFile::remove(path);
    }
};

QTEST_MAIN(TestBadInput)
#include "tst_bad_input.moc"
