// What a reader copies or searches in the printed documents: the text each character was
// shaped from, in every report, whatever the script and however its glyphs were formed.
#include "support/harness.h"
#include "support/pdf_lines.h"

#include <QDir>
#include <QRegularExpression>
#include <QtTest>

using velario::test::ProgramRun;
using velario::test::Sandbox;

class TestCopiedText : public QObject {
    Q_OBJECT

private slots:
    // Each sample is printed twice in every report, inside a line of plain text: as the
    // description and in the SQL of the list and of the sheet, as the description and as a
    // cell of the grid report.
    void reports_data() {
        QTest::addColumn<QString>("sample");
        QTest::newRow("Hebrew with points") << QString("שָׁלוֹם עוֹלָם");
        QTest::newRow("Arabic, joined forms and the lam-alef ligature") << QString("السلام عليكم");
        QTest::newRow("Chinese, Japanese, Korean") << QString("漢字テスト 한국어");
        QTest::newRow("emoji, with a skin tone") << QString("😀 ☕ 👍🏽");
        QTest::newRow("combining marks") << QString("cafe\u0301 n\u0303 a\u0308");
        QTest::newRow("a character no face has") << QString("x\u0378y");
    }

    void reports() {
        QFETCH(QString, sample);
        Sandbox box;
        const QString catalogue = box.file("VELARIO2.db");
        box.makeCatalogue("VELARIO2.db", {{"ALFA", "d " + sample, "SELECT '" + sample + "' AS x",
                                           catalogue, "MDB"}});
        box.writeConfig(catalogue);
        const QString out = box.file("stampe");
        QVERIFY(QDir().mkpath(out));
        const ProgramRun run = box.run("click frmTS0002.cmdSTAMPA_Elenco_SQL\n"
                                       "click frmTS0002.cmdSTAMPA_SQL\n"
                                       "click frmTS0002.cmdESEGUE_SQL\nreply 1\n"
                                       "click frmTS0003.cmdSTAMPA\n",
                                       {"--print-to", out});
        QVERIFY2(!run.crashed && run.exitCode == 0, run.standardError.constData());
        const QList<QJsonObject> documents = run.eventsOf("document");
        QCOMPARE(documents.size(), 3);
        // The marks that say where a right-to-left run starts and ends are the reader's own.
        static const QRegularExpression embedding(QStringLiteral("[\u202A-\u202E\u2066-\u2069]"));
        for (const QJsonObject& document : documents) {
            QString text =
                velario::test::tool("pdftotext", {document["destination"].toString(), "-"});
            text.remove(embedding);
            QVERIFY2(text.count(sample) == 2, qPrintable(text));
        }
    }
};

QTEST_MAIN(TestCopiedText)
#include "tst_copied_text.moc"
