#include "data/database.h"
#include "data/datagrid.h"
#include "platform/platform.h"
#include "print/grid_report.h"
#include "print/pdf_lines.h"
#include "print/printer.h"
#include "support/harness.h"

#include <QDir>
#include <QJsonArray>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace velario;

using Ints = QList<int>;
Q_DECLARE_METATYPE(Ints)
Q_DECLARE_METATYPE(QList<QStringList>)

namespace {

const QDateTime kNow(QDate(2026, 12, 5), QTime(10, 55, 30));
const QString kStamp = QStringLiteral("05/12/2026 10:55:30");
const QString kRule(106, u'-');
const QString kPrompt = QStringLiteral("Quante righe vuoi stampare ?");
const QString kTitle = QStringLiteral("STAMPA CONTENUTO GRIGLIA");

QString lineText(const PrintLine& line) {
    QString text;
    for (const PrintRun& run : line.runs)
        text += run.text;
    return text;
}

// The font of every run of LINE, or the line's closing font when it is empty.
QString lineFont(const PrintLine& line) {
    QList<PrintFont> fonts{line.endFont};
    if (!line.runs.isEmpty())
        fonts.clear();
    for (const PrintRun& run : line.runs)
        fonts << run.font;
    QStringList names;
    for (const PrintFont& f : fonts)
        names << QStringLiteral("%1 %2%3").arg(f.name).arg(f.size).arg(f.bold ? " B" : "");
    return names.join(" + ");
}

QStringList texts(const PrintDocument& doc) {
    QStringList out;
    for (const PrintLine& line : doc.lines)
        out << lineText(line);
    return out;
}

QString cell(int row, int column, int length, int blanks) {
    return QString(blanks, u' ') +
           (QStringLiteral("%1.%2").arg(row).arg(column) + QString(length, u'x')).left(length);
}

// The texts of the lines of the one document in the session's transcript.
QStringList transcribedLines(const test::InProcess& session) {
    const QList<QJsonObject> events =
        test::ProgramRun{0, false, session.events(), {}}.eventsOf("document");
    if (events.size() != 1)
        return {QStringLiteral("<%1 documents>").arg(events.size())};
    QStringList lines;
    for (const QJsonValue line : events[0]["lines"].toArray()) {
        QString text;
        for (const QJsonValue run : line.toArray())
            text += run["text"].toString();
        lines << text;
    }
    return lines;
}

QString padded(const QString& text, int width) {
    return text.leftJustified(width, u' ', true);
}

} // namespace

class TestGridReport : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void columns_data();
    void columns();
    void rows_data();
    void rows();
    void title_data();
    void title();
    void nothingToPrint_data();
    void nothingToPrint();
    void pdfLayout();
    void cellTexts_data();
    void cellTexts();
    void totalsPastSixteenBits();

private:
    // A table of ROWS rows whose column c holds texts of LENGTHS[c] characters after
    // BLANKS[c] blanks; rows from LONGERFROM on hold texts 5 characters longer.
    void showTable(const QStringList& captions, const Ints& lengths, const Ints& blanks, int rows,
                   int longerFrom);
    // A table of these rows, "<null>" standing for a Null.
    void showRows(const QStringList& captions, const QList<QStringList>& rows);
    void printGrid(const GridReportTitle& title = {"Prova", "/dati/prova.db", "MDB"});

    std::unique_ptr<test::InProcess> session_;
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<data::Database> db_;
    std::unique_ptr<QWidget> window_;
    data::DataGrid* grid_ = nullptr;
    int tables_ = 0;
};

void TestGridReport::init() {
    session_ = std::make_unique<test::InProcess>();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    QVERIFY(QDir().mkpath(dir_->filePath("out")));
    Printer::instance().reset();
    Printer::instance().setPdfFolder(dir_->filePath("out"));
    platform().setFixedNow(kNow);

    window_ = std::make_unique<QWidget>();
    grid_ = new data::DataGrid("DBGrid1", window_.get());
    grid_->setLeft(120);
    grid_->setTop(120);
    grid_->setWidth(9000);
    grid_->setHeight(1800); // a handful of rows on display
    window_->resize(700, 300);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
}

void TestGridReport::cleanup() {
    window_.reset();
    db_.reset();
    Printer::instance().reset();
    Printer::instance().setPdfFolder({});
    platform().setFixedNow({});
    dir_.reset();
    session_.reset();
}

void TestGridReport::showTable(const QStringList& captions, const Ints& lengths, const Ints& blanks,
                               int rows, int longerFrom) {
    QList<QStringList> cells;
    for (int r = 0; r < rows; ++r) {
        QStringList row;
        for (int c = 0; c < captions.size(); ++c)
            row << cell(r, c, lengths[c] + (r >= longerFrom ? 5 : 0), blanks.value(c));
        cells << row;
    }
    showRows(captions, cells);
}

void TestGridReport::showRows(const QStringList& captions, const QList<QStringList>& rows) {
    const QString path = dir_->filePath(QStringLiteral("t%1.db").arg(++tables_));
    const QString connection = QStringLiteral("setup%1").arg(tables_);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", connection);
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QStringList columns;
        QStringList marks;
        for (const QString& caption : captions) {
            columns << '"' + caption + "\" TEXT";
            marks << "?";
        }
        QSqlQuery q(db);
        QVERIFY(q.exec("CREATE TABLE t (" + columns.join(", ") + ")"));
        QVERIFY(q.prepare("INSERT INTO t VALUES (" + marks.join(", ") + ")"));
        db.transaction();
        for (const QStringList& row : rows) {
            for (const QString& value : row)
                q.addBindValue(value == "<null>" ? QVariant() : QVariant(value));
            QVERIFY(q.exec());
        }
        db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    Error error;
    db_ = data::Database::open(path, false, false, QString(), &error);
    QVERIFY2(db_, qPrintable(error.description));
    grid_->setResult(db_->execute("SELECT * FROM t", &error));
    QVERIFY2(!error, qPrintable(error.description));
}

void TestGridReport::printGrid(const GridReportTitle& title) {
    printResultGrid([this] { return grid_; }, title);
}

// Widths measured over the rows asked for, fitted to the capacity of the body's size.
void TestGridReport::columns_data() {
    QTest::addColumn<QStringList>("captions");
    QTest::addColumn<Ints>("lengths");
    QTest::addColumn<Ints>("blanks");
    QTest::addColumn<float>("bodySize");
    QTest::addColumn<Ints>("widths");

    const auto names = [](int n) {
        QStringList list;
        for (int c = 0; c < n; ++c)
            list << QStringLiteral("c%1").arg(c);
        return list;
    };
    QTest::newRow("10 12 30 40 end as 10 12 31 41")
        << names(4) << Ints{9, 11, 29, 39} << Ints{} << 9.0f << Ints{10, 12, 31, 41};
    QTest::newRow("14-character caption over short values")
        << QStringList{"descrizione_ab", "c1"} << Ints{6, 6} << Ints{} << 9.0f << Ints{15, 7};
    QTest::newRow("7 columns at 9 points") << names(7) << Ints{9, 9, 9, 9, 9, 9, 19} << Ints{}
                                           << 9.0f << Ints{10, 10, 10, 10, 10, 10, 33};
    QTest::newRow("8 columns at 7 points") << names(8) << Ints{9, 9, 9, 9, 29, 29, 29, 29} << Ints{}
                                           << 7.0f << Ints{10, 10, 10, 10, 20, 20, 20, 20};
    QTest::newRow("11 columns at 6 points")
        << names(11) << Ints{11, 11, 11, 11, 11, 11, 11, 11, 11, 11, 39} << Ints{} << 6.0f
        << Ints{12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 27};
    QTest::newRow("leading blanks measured without, printed with")
        << names(2) << Ints{6, 6} << Ints{3, 0} << 9.0f << Ints{7, 7};
    QTest::newRow("53 columns: the first 51 printed")
        << names(53) << Ints(53, 2) << Ints{} << 6.0f << Ints(10, 3) + Ints(41, 4);
}

void TestGridReport::columns() {
    QFETCH(QStringList, captions);
    QFETCH(Ints, lengths);
    QFETCH(Ints, blanks);
    QFETCH(float, bodySize);
    QFETCH(Ints, widths);

    // Three rows asked for out of five; the two left out are wider, so measuring them
    // would show in the widths.
    showTable(captions, lengths, blanks, 5, 3);
    session_->dialogs().queueReply(QStringLiteral("3"));
    printGrid();

    const PrintDocument& doc = Printer::instance().lastDocument();
    QStringList expected{"", "Output selezione SQL:   " + padded("Prova", 60) + "  " + kStamp,
                         "", "Database:   " + padded("/dati/prova.db", 80) + "  Tipo: MDB",
                         "", kRule};
    QString heading;
    for (int c = 0; c < widths.size(); ++c)
        heading += ' ' + padded(captions[c], widths[c]);
    expected << heading << kRule;
    for (int r = 0; r < 3; ++r) {
        QString row;
        for (int c = 0; c < widths.size(); ++c)
            row += ' ' + padded(cell(r, c, lengths[c], blanks.value(c)), widths[c]);
        expected << row;
    }
    expected << kRule;
    QCOMPARE(texts(doc), expected);

    const QString title = "COURIER NEW 9 B";
    const QString rule = "COURIER NEW 9";
    const QString body = QStringLiteral("COURIER NEW %1").arg(bodySize);
    const QStringList fonts{title,       title, title, title, title, rule,
                            body + " B", rule,  body,  body,  body,  rule};
    QStringList actual;
    for (const PrintLine& line : doc.lines)
        actual << lineFont(line);
    QCOMPARE(actual, fonts);

    // The document went out as the transcript shows it.
    QCOMPARE(transcribedLines(*session_), expected);
    QCOMPARE(session_->summary(), (QStringList{"inputbox", "pointer:11", "document", "pointer:0"}));
    QCOMPARE(grid_->col(), 0);
}

// Rows are counted from the first row of the result, whatever the grid shows.
void TestGridReport::rows_data() {
    QTest::addColumn<int>("scrollTo");
    QTest::addColumn<QString>("reply"); // "<cancel>", "<default>" or the text typed
    QTest::addColumn<int>("printed");   // -1: nothing printed

    QTest::newRow("default reply, grid scrolled") << 30 << "<default>" << 40;
    QTest::newRow("3 on a grid scrolled down") << 30 << "3" << 3;
    QTest::newRow("more than the grid shows") << 0 << "12" << 12;
    QTest::newRow("2.5 rounds to 2 but prints three") << 0 << "2.5" << 3;
    QTest::newRow("more than the result") << 0 << "100" << 40;
    QTest::newRow("cancel") << 0 << "<cancel>" << -1;
}

void TestGridReport::rows() {
    QFETCH(int, scrollTo);
    QFETCH(QString, reply);
    QFETCH(int, printed);

    showTable({"id", "nome"}, {4, 8}, {}, 40, 40);
    if (scrollTo > 0) {
        QCOMPARE(grid_->automationScroll(scrollTo), QString());
        QCOMPARE(grid_->firstVisibleRow(), scrollTo);
    }
    QVERIFY(grid_->visibleRows() < 12);
    if (reply == "<cancel>")
        session_->dialogs().queueReply(std::nullopt);
    else if (reply != "<default>")
        session_->dialogs().queueReply(reply);
    printGrid();

    const QList<QJsonObject> events = session_->events();
    QCOMPARE(events.first()["event"].toString(), "inputbox");
    QCOMPARE(events.first()["prompt"].toString(), kPrompt);
    QCOMPARE(events.first()["title"].toString(), kTitle);
    QCOMPARE(events.first()["default"].toString(), "40");
    if (printed < 0) {
        QCOMPARE(session_->summary(), QStringList{"inputbox"});
        return;
    }
    QCOMPARE(session_->summary(), (QStringList{"inputbox", "pointer:11", "document", "pointer:0"}));
    const QStringList lines = texts(Printer::instance().lastDocument());
    QCOMPARE(lines.size(), 9 + printed);
    const QStringList body = lines.mid(8, printed);
    for (int r = 0; r < printed; ++r)
        QVERIFY2(body[r].startsWith(' ' + cell(r, 0, 4, 0) + ' '), qPrintable(body[r]));
    QCOMPARE(lines.last(), kRule);
}

void TestGridReport::title_data() {
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("titleLine");
    QTest::addColumn<QString>("databaseLine");

    const auto row = [](const char* name, const QString& description, const QString& database,
                        const char* type, const QString& title, const QString& databaseLine) {
        QTest::newRow(name) << description << database << QString(type)
                            << "Output selezione SQL:   " + title + "  " + kStamp
                            << "Database:   " + databaseLine;
    };
    const QString seventy = QStringLiteral("Fatturato per cliente, zona e agente nel periodo "
                                           "selezionato (IVA esc)");
    row("description of 70 cut to 60", seventy, "VENDITE", "ODBC", seventy.left(60),
        "VENDITE" + QString(73, u' ') + "  Tipo: ODBC");
    row("blanks around are dropped", "  Ordini  ", "  /srv/ordini.db  ", " MDB ",
        "Ordini" + QString(54, u' '), "/srv/ordini.db" + QString(66, u' ') + "  Tipo: MDB");
    const QString longPath = "/" + QString(99, u'p');
    row("database cut to 80", "", longPath, "", QString(60, u' '), longPath.left(80) + "  Tipo: ");
}

void TestGridReport::title() {
    QFETCH(QString, description);
    QFETCH(QString, database);
    QFETCH(QString, type);
    QFETCH(QString, titleLine);
    QFETCH(QString, databaseLine);

    showTable({"id"}, {3}, {}, 2, 2);
    printGrid({description, database, type});
    const QStringList lines = texts(Printer::instance().lastDocument());
    QVERIFY(lines.size() > 4);
    QCOMPARE(lines[1], titleLine);
    QCOMPARE(lines[1].size(), 105);
    QCOMPARE(lines[3], databaseLine);
}

void TestGridReport::nothingToPrint_data() {
    QTest::addColumn<QString>("grid");
    QTest::newRow("empty result") << "empty";
    QTest::newRow("no grid to count") << "missing";
}

void TestGridReport::nothingToPrint() {
    QFETCH(QString, grid);
    if (grid == "empty") {
        showTable({"id"}, {3}, {}, 0, 0);
        QCOMPARE(grid_->approxCount(), 0);
    }
    printResultGrid([&]() -> data::DataGrid* { return grid == "missing" ? nullptr : grid_; },
                    GridReportTitle{});
    QCOMPARE(
        session_->summary(),
        (QStringList{"beep", "msgbox:Non ci sono records da stampare !!!|" + kAppTitle + "|0"}));
}

// On paper every line stands as printed: the blanks between the columns, the 98
// characters of each row, the 105 of the title line.
void TestGridReport::pdfLayout() {
    showTable({"c0", "c1", "c2", "c3"}, {9, 11, 29, 39}, {}, 5, 5);
    session_->dialogs().queueReply(QStringLiteral("3"));
    printGrid({"Clienti attivi", "clienti.db", "MDB"});
    const PrintDocument& doc = Printer::instance().lastDocument();
    QCOMPARE(doc.pages, 1);

    const auto [expected, sizes] = test::visibleLines(doc);
    QCOMPARE(expected.size(), 9);
    QCOMPARE(expected[0].size(), 105);
    const QStringList printed = texts(doc);
    for (int line : {6, 8, 9, 10}) // the heading and the three rows
        QCOMPARE(printed[line].size(), 98);
    const QString differs =
        test::comparePrinted(test::pdfLines(doc.destination, sizes), expected, sizes);
    QVERIFY2(differs.isEmpty(), qPrintable(differs));
}

// Whatever the cells hold, the rows come out as the cells' texts fitted to the columns: on
// the document, in the transcript and on paper.
void TestGridReport::cellTexts_data() {
    QTest::addColumn<QList<QStringList>>("rows");
    QTest::newRow("plain ASCII with quotes and backslashes")
        << QList<QStringList>{{"1", "dice \"ciao\"", "C:\\dati\\x"}, {"22", "a", "b"}};
    QTest::newRow("an accented cell after plain ones")
        << QList<QStringList>{{"1", "2", "perché sì"}, {"è", "ok", "x"}, {"3", "4", "5"}};
    QTest::newRow("a line break and tabs")
        << QList<QStringList>{{"1", "ab\ncd", "x\ty"}, {"\t2\t", "\t", "z"}};
    QTest::newRow("Nulls and blanks")
        << QList<QStringList>{{"<null>", "  a  ", "<null>"}, {"", "b", ""}};
    QTest::newRow("characters outside ASCII's printable range")
        << QList<QStringList>{{"\x7f", "\x01z", "~"}};
}

void TestGridReport::cellTexts() {
    QFETCH(QList<QStringList>, rows);
    const QStringList captions{"a", "b", "c"};
    showRows(captions, rows);
    session_->dialogs().queueReply(QString::number(rows.size()));
    printGrid();

    const auto text = [](const QString& value) { return value == "<null>" ? QString() : value; };
    // A text wider than its column so far makes it one character wider than the text.
    Ints widths;
    for (int c = 0; c < captions.size(); ++c) {
        QStringList column{captions[c]};
        for (const QStringList& row : rows)
            column << text(row[c]).trimmed();
        qsizetype width = 0;
        for (const QString& value : column)
            if (width < value.size())
                width = value.size() + 1;
        widths << int(width);
    }
    QStringList expected;
    for (const QStringList& row : rows) {
        QString line;
        for (int c = 0; c < captions.size(); ++c)
            line += ' ' + padded(text(row[c]), widths[c]);
        expected << line.split('\n');
    }

    const PrintDocument& doc = Printer::instance().lastDocument();
    const QStringList printed = texts(doc).mid(8, expected.size());
    QCOMPARE(printed, expected);
    QCOMPARE(transcribedLines(*session_).mid(8, expected.size()), expected);
    // On paper every character takes one column, a control character as a blank.
    auto [visible, sizes] = test::visibleLines(doc);
    for (QString& line : visible)
        line.replace(QRegularExpression("[\\x00-\\x1f\\x7f]"), " ");
    const QString differences =
        test::comparePrinted(test::pdfLines(doc.destination, sizes), visible, sizes);
    QVERIFY2(differences.isEmpty(), qPrintable(differences));
}

// Past a few thousand rows the totals that steer the fitting leave 16 bits; every column of
// every row asked for is still measured, so the last, wider row is printed whole.
void TestGridReport::totalsPastSixteenBits() {
    const int rows = 10000;
    showTable({"a", "b"}, {1, 1}, {}, rows, rows - 1);
    session_->dialogs().queueReply(QString::number(rows));
    printGrid();
    const QStringList printed = texts(Printer::instance().lastDocument());
    QCOMPARE(printed.value(printed.size() - 2),
             ' ' + padded(cell(rows - 1, 0, 6, 0), 7) + ' ' + padded(cell(rows - 1, 1, 6, 0), 7));
}

QTEST_MAIN(TestGridReport)
#include "tst_grid_report.moc"
