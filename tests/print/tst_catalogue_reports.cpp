#include "platform/platform.h"
#include "print/printer.h"
#include "print/query_sheet.h"
#include "support/harness.h"
#include "support/pdf_lines.h"

#include <QDir>
#include <QRegularExpression>
#include <QtTest>

using namespace velario;
using velario::test::ProgramRun;
using velario::test::Sandbox;

namespace {

const QString kClock = QStringLiteral("2026-12-05T10:55:30");
const QString kStamp = QStringLiteral("05/12/2026 10:55:30");
const QString kRule(106, u'-');

QString padded(const QString& text, int width) {
    return text.leftJustified(width, u' ', true);
}

// The lines of a transcribed document, each as its text followed by the style of each run
// that is not plain: "Codice{BU}" for bold underlined, "{B}" for bold; a run in any size
// but 9 points says so.
QStringList styled(const QJsonObject& document) {
    QStringList lines;
    for (const QJsonValue line : document["lines"].toArray()) {
        QString out;
        for (const QJsonValue run : line.toArray()) {
            QString marks =
                QString(run["bold"].toBool() ? "B" : "") + (run["underline"].toBool() ? "U" : "");
            if (run["size"].toDouble() != 9)
                marks += QStringLiteral(" at %1").arg(run["size"].toDouble());
            out += run["text"].toString() + (marks.isEmpty() ? QString() : '{' + marks + '}');
        }
        lines << out;
    }
    return lines;
}

// The heading every query sheet starts with.
QStringList sheetHeading() {
    return {" ", "Codice{BU}" + QString(10, u' ') + "{B}Descrizione selezione SQL{BU}" +
                     QString(40, u' ') + kStamp + "{B}"};
}

// The events after start-up has shown the catalogue window.
QStringList afterStartUp(const ProgramRun& run) {
    const QStringList all = run.summary();
    const qsizetype activated = all.indexOf("window:frmTS0002:activate");
    return activated < 0 ? all : all.mid(activated + 3);
}

} // namespace

class TestCatalogueReports : public QObject {
    Q_OBJECT

private slots:
    void list();
    void copiedText_data();
    void copiedText();
};

// The whole catalogue is listed from its first entry, however far the list was scrolled
// and whichever entry was shown, edits not saved left out; the window ends on the first entry.
// The sheet of the entry shown takes the fields as they are: code and description as typed,
// database and type trimmed, the SQL line by line, blanks kept. A line wider than the page
// goes on at the next: a long path at the edge, a long SQL line after its last blank when
// that is in the second half. An empty catalogue has nothing to list.
void TestCatalogueReports::list() {
    const QString before = "scroll frmTS0002.DBGrid1 15\nrow frmTS0002.DBGrid1 20\n"
                           "type frmTS0002.txtSELEZ_SQL SELECT modificato\n"
                           "type frmTS0002.txtDATABASE altro.db\n";
    const QString longLine = "SELECT " + QString(200, u'c') + " FROM t";
    const QString longSql = "SELECT codice, ragione_sociale, indirizzo, citta, provincia, "
                            "telefono FROM anagrafica ORDER BY 1";
    // Saved out of order: codes are listed in ascending order.
    QList<QStringList> entries;
    for (int i = 22; i >= 1; --i)
        entries.append(
            {QStringLiteral("E%1").arg(i, 2, 10, QChar('0')),
             i == 5 ? "Voce senza testo SQL" : QStringLiteral("Selezione numero %1").arg(i),
             i == 5 ? "<NULL>" : QStringLiteral("SELECT %1 FROM t").arg(i),
             QStringLiteral("/dati/e%1.db").arg(i), "MDB"});
    entries << QStringList{"D60",
                           "Fatturato mensile per cliente, zona, agente e linea di prodotto "
                           "(IVA esclusa)",
                           "SELECT 1", "/srv/dati/" + QString(90, u'f') + ".db", "MDB"}
            << QStringList{"CODICE_LUNGO_15", "Clienti attivi per zona, agente e provincia",
                           "SELECT *\nFROM clienti\nWHERE attivo = 1", "VENDITE", "ODBC"}
            << QStringList{"A1B", "Breve", "  " + longSql + "  ", "C:\\DATI\\ARCHIVIO.MDB", "MDB"};
    Sandbox box;
    const QString out = box.file("out");
    QVERIFY(QDir().mkpath(out));
    box.writeConfig(box.makeCatalogue("vuoto.db"));
    const ProgramRun empty = box.run("click frmTS0002.cmdSTAMPA_Elenco_SQL\n", {"--print-to", out});
    QCOMPARE(afterStartUp(empty),
             (QStringList{"beep", "msgbox:Non ci sono records da stampare !!!|" + kAppTitle + "|0",
                          "exit:0"}));
    box.writeConfig(box.makeCatalogue("cat.db", entries));

    // Then the sheet of the entry shown, with edits not saved.
    const ProgramRun run = box.run(
        before +
            "dump\nclick frmTS0002.cmdSTAMPA_Elenco_SQL\ndump\n"
            "type frmTS0002.txtDESCR_SQL \"  Vendite per agente \"\n"
            "type frmTS0002.txtDATABASE \"  /dati/a.db \"\n"
            "type frmTS0002.txtTIPO_DATABASE \" ODBC\"\n"
            "type frmTS0002.txtSELEZ_SQL \"  SELECT a,\\r\\n   b\\nFROM t\\rWHERE x = 1\\n" +
            longLine +
            "\"\n"
            "click frmTS0002.cmdSTAMPA_SQL\n",
        {"--clock", kClock, "--print-to", out});
    QVERIFY2(!run.crashed && run.exitCode == 0, run.standardError.constData());
    QCOMPARE(afterStartUp(run),
             (QStringList{"state", "pointer:11", "document", "beep", "pointer:0", "state",
                          "pointer:11", "document", "beep", "pointer:0", "exit:0"}));

    // The example entry: code, 7 + 2 blanks, description, 25 + 2 blanks, 62 of the SQL;
    // then 46 blanks and the database filled to 80.
    QStringList expected{
        " {B}", "Elenco SQL disponibili:" + QString(61, u' ') + kStamp + "{B}",
        kRule,  "Codice      Descrizione selezione SQL       Selezione SQL /{B} Database ",
        kRule,  " "};
    static const QRegularExpression breaks(QStringLiteral("\r\n|\n|\r"));
    for (auto e = entries.crbegin(); e != entries.crend(); ++e) {
        const QString sql = (*e)[2] == "<NULL>" ? QString() : (*e)[2].trimmed();
        for (const QString& piece :
             (padded((*e)[0], 10) + "  " + padded((*e)[1], 30) + "  " + padded(sql, 62))
                 .split(breaks))
            expected << (piece.isEmpty() ? QString() : piece + "{B}");
        const QString database = QString(46, u' ') + padded((*e)[3], 80);
        if ((*e)[3].size() > 60)
            expected << database.left(106) << database.mid(106);
        else
            expected << database;
    }
    const QList<QJsonObject> documents = run.eventsOf("document");
    QCOMPARE(documents.size(), 2);
    QCOMPARE(styled(documents[0]), expected);
    const QStringList sheet =
        QString("A1B" + QString(13, u' ') + "  Vendite per agente \n \nDATABASE: {B}/dati/a.db" +
                QString(70, u' ') +
                "  Tipo: ODBC\n \nSelezione SQL{BU}\n  SELECT a,\n   b\nFROM t\n" +
                "WHERE x = 1\n" + longLine.left(106) + '\n' + longLine.mid(106, 102) + '\n' +
                longLine.mid(208))
            .split('\n');
    QCOMPARE(styled(documents[1]), sheetHeading() + sheet);

    const QJsonObject fields = run.lastWindowState("frmTS0002")["controls"].toObject();
    const QJsonObject grid = fields["DBGrid1"].toObject();
    QCOMPARE(grid["currentRow"].toInt(), 0);
    QCOMPARE(fields["txtCOD_SQL"]["text"].toString(), "A1B");
    QCOMPARE(fields["txtSELEZ_SQL"]["text"].toString(), longSql);

    // On paper: every line where it was printed, blanks included.
    for (const QJsonObject& document : documents) {
        QVERIFY(document["destination"].toString().startsWith(out));
        const QString differs = test::paperDiffers(document);
        QVERIFY2(differs.isEmpty(), qPrintable(differs));
    }
}

// What a reader copies or searches in the printed documents is the text each character was
// shaped from, whatever the script and however its glyphs were formed. Each sample is printed
// twice in every report, inside a line of plain text: as the description and in the SQL of the
// list and of the sheet, as the description and as a cell of the grid report.
void TestCatalogueReports::copiedText_data() {
    QTest::addColumn<QString>("sample");
    QTest::newRow("Hebrew with points") << QString("שָׁלוֹם עוֹלָם");
    QTest::newRow("Arabic, joined forms and the lam-alef ligature") << QString("السلام عليكم");
    QTest::newRow("Chinese, Japanese, Korean") << QString("漢字テスト 한국어");
    QTest::newRow("emoji, with a skin tone") << QString("😀 ☕ 👍🏽");
    QTest::newRow("combining marks") << QString("cafe\u0301 n\u0303 a\u0308");
    QTest::newRow("a character no face has") << QString("x\u0378y");
}

void TestCatalogueReports::copiedText() {
    QFETCH(QString, sample);
    Sandbox box;
    const QString catalogue = box.file("VELARIO2.db");
    box.makeCatalogue("VELARIO2.db",
                      {{"ALFA", "d " + sample, "SELECT '" + sample + "' AS x", catalogue, "MDB"}});
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
        QString text = test::tool("pdftotext", {document["destination"].toString(), "-"});
        text.remove(embedding);
        QVERIFY2(text.count(sample) == 2, qPrintable(text));
    }
}

QTEST_MAIN(TestCatalogueReports)
#include "tst_catalogue_reports.moc"
