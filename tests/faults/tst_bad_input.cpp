// Input of awkward size or content, through the windows and reports the user reaches it
// with: nothing is cut, changed or refused that the user did not ask for, and nothing fails.
#include "controls/datagrid.h"
#include "print/printer.h"
#include "support/harness.h"
#include "support/result_window_under_test.h"

#include <QDir>
#include <QJsonArray>
#include <QTest>

using namespace velario;

namespace {

// The texts of every line of the documents delivered so far, joined.
QStringList documents(const test::InProcess& capture) {
    QStringList docs;
    for (const QJsonObject& e : capture.events()) {
        if (e["event"] != "document")
            continue;
        docs << QString();
        for (const QJsonValue line : e["lines"].toArray()) {
            for (const QJsonValue run : line.toArray())
                docs.last() += run["text"].toString();
            docs.last() += u'\n';
        }
    }
    return docs;
}

} // namespace

class TestBadInput : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString target_;

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        target_ = dir_.filePath("valori.db");
        QStringList names, values;
        for (int c = 1; c <= 300; ++c)
            names << QStringLiteral("c%1").arg(c), values << QString::number(c);
        QVERIFY(
            test::writeSqlite(target_, {"CREATE TABLE larga (" + names.join(", ") + ")",
                                        "INSERT INTO larga VALUES (" + values.join(", ") + ")",
                                        "INSERT INTO larga (c1, c300) VALUES ('ultima', NULL)"}));
        Printer::instance().reset();
        Printer::instance().setPdfFolder(dir_.filePath("stampe"));
        QVERIFY(QDir().mkpath(dir_.filePath("stampe")));
    }

    void cleanup() { test::unloadAll(); }

    // A result of 300 columns on screen is counted, its columns fitted and printed, its cells
    // kept whole, whatever the database file name that quoting or parsing could break.
    void results() {
        const QString file = "l'a \"v\"#b?c=d&e%20f%.db";
        // The field holds 80 characters: a short folder leaves room for the name.
        QTemporaryDir folder(dir_.filePath("d 'è' XXXXXX"));
        QVERIFY(folder.isValid() && QFile::copy(target_, folder.filePath(file)));
        test::InProcess capture;
        CatalogueWindow* catalogue = test::openCatalogue({});
        test::putOnScreen(catalogue, {"SELECT * FROM larga", folder.filePath(file)});
        ResultWindow* results = test::pressRun(catalogue);
        QVERIFY(results);
        QCOMPARE(capture.summary().filter("msgbox"), QStringList());
        DataGrid* grid = results->activeGrid();
        QCOMPARE((QStringList{velario::test::control<Label>(results, "lblNUM_REC")->caption(),
                              QString::number(grid->columnCount()), grid->cellText(0, 299),
                              grid->cellText(1, 0)}),
                 (QStringList{"       2", "300", "300", "ultima"}));

        velario::test::control<CommandButton>(results, "cmdADEGUA_CAMPI")->click();
        velario::test::control<CommandButton>(results, "cmdAUMENTA_CAMPI")->click();
        velario::test::control<CommandButton>(results, "cmdDIMINUISCE_CAMPI")->click();
        capture.dialogs().queueReply(QStringLiteral("10"));
        velario::test::control<CommandButton>(results, "cmdSTAMPA")->click();
        waitIdle();
        QCOMPARE(capture.summary().filter("msgbox"), QStringList());
        QCOMPARE(capture.summary().count("document"), 1);
        test::unloadAll();
        // Reading never made a file of its own beside the target.
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files).size(), 1);
    }

    // Codes and descriptions in any script, with control characters, are saved as typed,
    // listed, printed in both catalogue reports (as far as their fields take them), and
    // carried back by a run.
    void awkwardText() {
        const QString code = QStringLiteral("日本語😀A\u0001e\u0301\u200B");
        const QString description = QStringLiteral(
            "שלום مرحبا 中文 😀👍🏽\tx\u001b\u0007 \u202Eal contrario\u202C");
        test::Sandbox box;
        CatalogueWindow* window = test::openCatalogue(box.makeCatalogue("VELARIO2.db"));
        test::InProcess capture;
        const auto click = [&](const char* button) {
            test::control<CommandButton>(window, button)->click();
        };
        click("cmdNUOVO");
        test::putOnScreen(window,
                          {"SELECT '" + description + "'", target_, "MDB", code, description});
        click("cmdAGGIORNA");
        click("cmdSTAMPA_Elenco_SQL");
        click("cmdSTAMPA_SQL");
        waitIdle();
        QCOMPARE(capture.summary().filter("msgbox"), QStringList());
        const auto* list = test::control<DataGrid>(window, "DBGrid1");
        QCOMPARE((QStringList{list->cellText(0, 0), list->cellText(0, 1)}),
                 (QStringList{code, description}));
        const QStringList docs = documents(capture);
        QCOMPARE(docs.size(), 2);
        // The list's code field takes 10 columns, a wide character two: the code goes as far
        // as its control character, printed as a blank; the sheet's field takes it whole.
        const QString printed = QString(code).replace(QChar(0x0001), u' ');
        QVERIFY2(docs[0].contains(printed.left(7)) && !docs[0].contains(printed.left(8)),
                 qPrintable(docs[0]));
        QVERIFY2(docs[1].contains(printed), qPrintable(docs[1]));
        ResultWindow* results = test::pressRun(window);
        QVERIFY(results);
        QCOMPARE(results->activeGrid()->cellText(0, 0), description);
    }
};

QTEST_MAIN(TestBadInput)
#include "tst_bad_input.moc"
