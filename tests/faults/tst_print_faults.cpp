// Each report sent to a PDF folder that cannot take it, through the program: one message
// box of style 0 says the document was not printed and where it was to go, no document is
// reported as delivered, and the next report goes out once the folder can take it.
#include "support/harness.h"

#include <QDir>
#include <QFile>
#include <QTest>

using velario::test::ProgramRun;
using velario::test::Sandbox;

class TestPrintFaults : public QObject {
    Q_OBJECT

private slots:
    // Each report once, each way a folder fails at least once.
    void folderCannotTakeTheDocument_data() {
        QTest::addColumn<QString>("folder"); // made from the sandbox's path
        QTest::addColumn<QString>("script");
        QTest::newRow("catalogue list, missing folder") << "manca/stampe"
                                                        << "click frmTS0002.cmdSTAMPA_Elenco_SQL\n";
        QTest::newRow("query sheet, a file") << "un-file"
                                             << "click frmTS0002.cmdSTAMPA_SQL\n";
        QTest::newRow("result grid, missing folder")
            << "manca/stampe"
            << "click frmTS0002.cmdESEGUE_SQL\nreply 2\nclick frmTS0003.cmdSTAMPA\n";
    }

    void folderCannotTakeTheDocument() {
        QFETCH(QString, folder);
        QFETCH(QString, script);
        Sandbox box;
        box.writeFile("un-file", "non una cartella");
        const QString catalogue = box.file("VELARIO2.db");
        box.makeCatalogue("VELARIO2.db", {{"ALFA", "Prima", "SELECT 'a' AS x UNION ALL SELECT 'b'",
                                           catalogue, "MDB"}});
        box.writeConfig(catalogue);
        const QString destination = box.file(folder);

        const ProgramRun failed = box.run(script, {"--print-to", destination});
        QVERIFY(!failed.crashed && failed.exitCode == 0);
        QVERIFY(failed.eventsOf("document").isEmpty());
        const QList<QJsonObject> boxes = failed.eventsOf("msgbox");
        QCOMPARE(boxes.size(), 1);
        const QString text = boxes[0]["text"].toString();
        QVERIFY2(text.startsWith("Documento non stampato") && text.contains(destination),
                 qPrintable(text));
        QCOMPARE(boxes[0]["style"].toInt(), 0);
        QVERIFY(!QFileInfo(destination).isDir());

        const QString out = box.file("stampe");
        QVERIFY(QDir().mkpath(out));
        const ProgramRun printed = box.run(script, {"--print-to", out});
        QVERIFY(printed.eventsOf("msgbox").isEmpty());
        QCOMPARE(printed.eventsOf("document").size(), 1);
        QCOMPARE(QDir(out).entryList({"*.pdf"}).size(), 1);
    }
};

QTEST_MAIN(TestPrintFaults)
#include "tst_print_faults.moc"
