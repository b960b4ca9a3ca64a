#include "platform/platform.h"
#include "print/pdf_lines.h"
#include "print/printer.h"
#include "print/query_sheet.h"
#include "support/harness.h"

#include <QDir>
#include <QJsonArray>
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

QStringList splitLines(const QString& text) {
    static const QRegularExpression breaks(QStringLiteral("\r\n|\n|\r"));
    return text.split(breaks);
}

// One printed line as "text" followed by the style of each run that is not plain:
// "Codice{BU}" for bold underlined, "{B}" for bold; an empty line is "".
QString styled(const QJsonArray& runs) {
    QString out;
    for (const QJsonValue run : runs) {
        QString marks;
        if (run["bold"].toBool())
            marks += 'B';
        if (run["underline"].toBool())
            marks += 'U';
        out += run["text"].toString() + (marks.isEmpty() ? QString() : '{' + marks + '}');
    }
    return out;
}

QString styled(const PrintLine& line) {
    QJsonArray runs;
    for (const PrintRun& run : line.runs)
        runs.append(QJsonObject{
            {"text", run.text}, {"bold", run.font.bold}, {"underline", run.font.underline}});
    return styled(runs);
}

QString textOf(const QJsonValue& line) {
    QString text;
    for (const QJsonValue run : line.toArray())
        text += run["text"].toString();
    return text;
}

// What differs between the lines of a transcribed document and the PDF they went to.
QString paperDiffers(const QJsonObject& document) {
    const QJsonArray lines = document["lines"].toArray();
    QList<float> sizes;
    QStringList visible;
    for (const QJsonValue line : lines) {
        QString text = textOf(line);
        if (!text.trimmed().isEmpty())
            sizes << float(line.toArray().first()["size"].toDouble());
        while (text.endsWith(u' '))
            text.chop(1);
        if (!text.isEmpty())
            visible << text;
    }
    return test::comparePrinted(test::pdfLines(document["destination"].toString(), sizes), visible,
                                sizes);
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

struct Entry {
    QString code, description, sql, database, type;
};

// Codes are listed in ascending order whatever order they were saved in.
QList<Entry> catalogue() {
    const QString longSql =
        "SELECT codice, ragione_sociale, indirizzo, citta, provincia, telefono FROM anagrafica "
        "ORDER BY 1";
    QList<Entry> entries{
        {"A1B", "Breve", "  " + longSql + "  ", "C:\\DATI\\ARCHIVIO.MDB", "MDB"},
        {"CODICE_LUNGO_15", "Clienti attivi per zona, agente e provincia",
         "SELECT *\nFROM clienti\nWHERE attivo = 1", "VENDITE", "ODBC"},
        {"D60", "Fatturato mensile per cliente, zona, agente e linea di prodotto (IVA esclusa)",
         "SELECT 1", "/srv/dati/" + QString(90, u'f') + ".db", "MDB"},
        {"E05", "Voce senza testo SQL", "<NULL>", "/dati/e5.db", "MDB"},
    };
    for (int i = 1; i <= 22; ++i) {
        if (i != 5)
            entries.append({QStringLiteral("E%1").arg(i, 2, 10, QChar('0')),
                            QStringLiteral("Selezione numero %1").arg(i),
                            QStringLiteral("SELECT %1 FROM t").arg(i),
                            QStringLiteral("/dati/e%1.db").arg(i), "MDB"});
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.code < b.code; });
    return entries;
}

// What the catalogue window shows of ENTRY's SQL text and database.
QString shownSql(const Entry& e) {
    return e.sql == "<NULL>" ? QString() : e.sql.trimmed();
}

QStringList listDocument(const QList<Entry>& entries) {
    QStringList lines{
        " {B}", "Elenco SQL disponibili:" + QString(61, u' ') + kStamp + "{B}",
        kRule,  "Codice      Descrizione selezione SQL       Selezione SQL /{B} Database ",
        kRule,  " "};
    for (const Entry& e : entries) {
        const QStringList first = splitLines(padded(e.code, 10) + "  " + padded(e.description, 30) +
                                             "  " + padded(shownSql(e), 62));
        for (const QString& piece : first)
            lines << (piece.isEmpty() ? QString() : piece + "{B}");
        lines << QString(46, u' ') + padded(e.database.trimmed(), 80);
    }
    return lines;
}

} // namespace

class TestCatalogueReports : public QObject {
    Q_OBJECT

private slots:
    void sheet_data();
    void sheet();
    void list_data();
    void list();
    void emptyList();
    void sheetFromTheWindow();
};

void TestCatalogueReports::sheet_data() {
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("codeLine");
    QTest::addColumn<QString>("databaseLine");
    QTest::addColumn<QStringList>("sqlLines");

    const auto row = [](const char* name, const QString& code, const QString& description,
                        const QString& database, const char* type, const QString& sql,
                        const QString& codeLine, const QString& databaseLine,
                        const QStringList& sqlLines) {
        QTest::newRow(name) << code << description << database << QString(type) << sql << codeLine
                            << "DATABASE: {B}" + databaseLine << sqlLines;
    };
    row("3-character code", "A1B", "Clienti attivi", "C:\\DATI\\CLIENTI.MDB", "MDB",
        "SELECT * FROM clienti", "A1B" + QString(13, u' ') + "Clienti attivi",
        "C:\\DATI\\CLIENTI.MDB" + QString(61, u' ') + "  Tipo: MDB", {"SELECT * FROM clienti"});
    row("code cut to 16, description right after", "CODICE_MOLTO_LUNGO", "Descrizione", "VENDITE",
        "ODBC", "SELECT 1", "CODICE_MOLTO_LUNDescrizione",
        "VENDITE" + QString(73, u' ') + "  Tipo: ODBC", {"SELECT 1"});
    row("blanks around database and type trimmed, code and description not", " X1 ", "  Voce ",
        "   /dati/a.db  ", " MDB ", "SELECT 2", " X1 " + QString(12, u' ') + "  Voce ",
        "/dati/a.db" + QString(70, u' ') + "  Tipo: MDB", {"SELECT 2"});
    const QString longDb = "/" + QString(85, u'd');
    const QString longLine = "SELECT " + QString(200, u'c') + " FROM t";
    row("database cut to 80, long SQL line not wrapped", "L", "Lunga", longDb, "MDB", longLine,
        "L" + QString(15, u' ') + "Lunga", longDb.left(80) + "  Tipo: MDB", {longLine});
    row("multi-line SQL, blanks kept", "M", "Righe", "db", "MDB",
        "  SELECT a,\r\n       b\nFROM t\rWHERE x = 1\n", "M" + QString(15, u' ') + "Righe",
        "db" + QString(78, u' ') + "  Tipo: MDB",
        {"  SELECT a,", "       b", "FROM t", "WHERE x = 1", ""});
}

void TestCatalogueReports::sheet() {
    QFETCH(QString, code);
    QFETCH(QString, description);
    QFETCH(QString, database);
    QFETCH(QString, type);
    QFETCH(QString, sql);
    QFETCH(QString, codeLine);
    QFETCH(QString, databaseLine);
    QFETCH(QStringList, sqlLines);

    test::InProcess session;
    QTemporaryDir dir;
    Printer& printer = Printer::instance();
    printer.reset();
    printer.setPdfFolder(dir.path());
    platform().setFixedNow(QDateTime::fromString(kClock, Qt::ISODate));
    printQuerySheet({code, description, database, type, sql});
    platform().setFixedNow({});

    const QStringList expected =
        sheetHeading() + QStringList{codeLine, " ", databaseLine, " ", "Selezione SQL{BU}"} +
        sqlLines;
    QStringList actual;
    for (const PrintLine& line : printer.lastDocument().lines) {
        actual << styled(line);
        for (const PrintRun& run : line.runs)
            QCOMPARE(run.font.size, 9.0f);
    }
    QCOMPARE(actual, expected);
    QCOMPARE(session.summary(), (QStringList{"pointer:11", "document", "beep", "pointer:0"}));
    QVERIFY(!printer.fontBold());
    QVERIFY(!printer.fontUnderline());
    printer.setPdfFolder({});
}

// The whole catalogue is listed from its first entry, however far the list was scrolled
// and whichever entry was shown; the window ends on the first entry.
void TestCatalogueReports::list_data() {
    QTest::addColumn<QString>("before");
    QTest::newRow("list as opened") << "";
    QTest::newRow("list scrolled, entry 20 shown")
        << "scroll frmTS0002.DBGrid1 15\nrow frmTS0002.DBGrid1 20\n";
    QTest::newRow("unsaved edits in the fields")
        << "type frmTS0002.txtSELEZ_SQL SELECT modificato\ntype frmTS0002.txtDATABASE altro.db\n";
}

void TestCatalogueReports::list() {
    QFETCH(QString, before);
    Sandbox box;
    const QList<Entry> entries = catalogue();
    QList<QStringList> rows;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        rows.append({it->code, it->description, it->sql, it->database, it->type});
    box.writeConfig(box.makeCatalogue("cat.db", rows));
    const QString out = box.file("out");
    QVERIFY(QDir().mkpath(out));

    const ProgramRun run = box.run(before + "dump\nclick frmTS0002.cmdSTAMPA_Elenco_SQL\ndump\n",
                                   {"--clock", kClock, "--print-to", out});
    QVERIFY2(!run.crashed && run.exitCode == 0, run.standardError.constData());
    const QJsonObject shownBefore = run.eventsOf("state").first();
    const QJsonObject fields = run.lastWindowState("frmTS0002")["controls"].toObject();
    const QJsonObject grid = fields["DBGrid1"].toObject();
    QVERIFY2(shownBefore["windows"][0]["controls"]["DBGrid1"]["visibleRows"].toInt() < 20,
             "the list must show fewer rows than the catalogue holds");

    QCOMPARE(afterStartUp(run), (QStringList{"state", "pointer:11", "document", "beep", "pointer:0",
                                             "state", "exit:0"}));
    const QList<QJsonObject> documents = run.eventsOf("document");
    QCOMPARE(documents.size(), 1);
    const QJsonArray lines = documents[0]["lines"].toArray();
    QStringList actual;
    for (const QJsonValue line : lines) {
        actual << styled(line.toArray());
        for (const QJsonValue r : line.toArray())
            QCOMPARE(r["size"].toDouble(), 9.0);
    }
    QCOMPARE(actual, listDocument(entries));

    // The example entry: code, 7 + 2 blanks, description, 25 + 2 blanks, 62 of the SQL;
    // then 46 blanks and the database filled to 80.
    QCOMPARE(lines[6][0]["text"].toString().size(), 106);
    QCOMPARE(lines[7][0]["text"].toString(),
             QString(46, u' ') + "C:\\DATI\\ARCHIVIO.MDB" + QString(60, u' '));

    QCOMPARE(grid["currentRow"].toInt(), 0);
    QCOMPARE(grid["firstVisibleRow"].toInt(), 0);
    QCOMPARE(grid["currentCol"].toInt(), 0);
    QCOMPARE(fields["txtCOD_SQL"]["text"].toString(), entries[0].code);
    QCOMPARE(fields["txtSELEZ_SQL"]["text"].toString(), shownSql(entries[0]));

    // On paper: every line where it was printed, blanks included.
    QVERIFY(documents[0]["destination"].toString().startsWith(out));
    const QString differs = paperDiffers(documents[0]);
    QVERIFY2(differs.isEmpty(), qPrintable(differs));
}

void TestCatalogueReports::emptyList() {
    Sandbox box;
    box.writeConfig(box.makeCatalogue("cat.db"));
    const ProgramRun run =
        box.run("click frmTS0002.cmdSTAMPA_Elenco_SQL\n", {"--print-to", box.path()});
    QVERIFY(!run.crashed);
    QCOMPARE(afterStartUp(run),
             (QStringList{"beep", "msgbox:Non ci sono records da stampare !!!|" + kAppTitle + "|0",
                          "exit:0"}));
}

// The button prints what the fields show, edits not saved included, and the sheet reads
// on paper as printed.
void TestCatalogueReports::sheetFromTheWindow() {
    Sandbox box;
    box.writeConfig(box.makeCatalogue(
        "cat.db", {{"Q7", "Vendite", "SELECT 1", "C:\\DATI\\VENDITE.MDB", "MDB"}}));
    const QString out = box.file("out");
    QVERIFY(QDir().mkpath(out));
    const ProgramRun run = box.run(
        "type frmTS0002.txtDESCR_SQL Vendite per agente\n"
        "type frmTS0002.txtSELEZ_SQL \"SELECT agente, SUM(importo)\\nFROM vendite\\nGROUP BY "
        "agente\"\n"
        "click frmTS0002.cmdSTAMPA_SQL\n",
        {"--clock", kClock, "--print-to", out});
    QVERIFY2(!run.crashed && run.exitCode == 0, run.standardError.constData());
    QCOMPARE(afterStartUp(run),
             (QStringList{"pointer:11", "document", "beep", "pointer:0", "exit:0"}));

    const QJsonObject document = run.eventsOf("document").first();
    QStringList actual;
    for (const QJsonValue line : document["lines"].toArray())
        actual << styled(line.toArray());
    QCOMPARE(actual,
             (sheetHeading() +
              QStringList{"Q7" + QString(14, u' ') + "Vendite per agente", " ",
                          "DATABASE: {B}C:\\DATI\\VENDITE.MDB" + QString(61, u' ') + "  Tipo: MDB",
                          " ", "Selezione SQL{BU}", "SELECT agente, SUM(importo)", "FROM vendite",
                          "GROUP BY agente"}));
    const QString differs = paperDiffers(document);
    QVERIFY2(differs.isEmpty(), qPrintable(differs));
}

QTEST_MAIN(TestCatalogueReports)
#include "tst_catalogue_reports.moc"
