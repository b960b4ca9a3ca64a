#include "controls/datagrid.h"
#include "data/results/column_fitting.h"
#include "data/sqlite/database.h"
#include "data/text/text_columns.h"
#include "platform/platform.h"
#include "print/grid_report.h"
#include "print/printer.h"
#include "print/rows_reply.h"
#include "support/harness.h"
#include "support/pdf_lines.h"
#include "support/result_window_under_test.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>
#include <memory>
#include <vector>

using namespace velario;

using Ints = QList<int>;
Q_DECLARE_METATYPE(Ints)
Q_DECLARE_METATYPE(QList<QStringList>)

namespace {

const QString kRule(106, u'-');
// What a cell prints as a blank: every control character but the line break, which starts a
// line, and the line separator.
const QRegularExpression printsAsBlank(QStringLiteral("[\\x00-\\x09\\x0b-\\x1f\\x7f\\x{2028}]"));

// TEXT cut or filled with blanks to WIDTH columns, a wide character taking two.
QString padded(const QString& text, int width) {
    qsizetype taken = 0;
    const QString cut = leadingColumns(text, width, &taken).toString();
    return cut + QString(width - taken, u' ');
}

} // namespace

class TestGridReport : public QObject {
    Q_OBJECT

    std::unique_ptr<test::InProcess> session_;
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<data::Database> db_;
    std::unique_ptr<QWidget> window_;
    DataGrid* grid_ = nullptr;

    // Shows a table of these rows on the grid, "<null>" standing for a Null.
    void show(const QStringList& captions, const QList<QStringList>& rows) {
        const QString path = dir_->filePath(QStringLiteral("t%1.db").arg(rows.size()));
        QStringList sql{"BEGIN", "CREATE TABLE t (\"" + captions.join("\", \"") + "\")"};
        for (const QStringList& row : rows) {
            QStringList values;
            for (const QString& value : row)
                values << (value == "<null>" ? "NULL"
                                             : "'" + QString(value).replace("'", "''") + "'");
            sql << "INSERT INTO t VALUES (" + values.join(", ") + ")";
        }
        QVERIFY(test::writeSqlite(path, sql << "COMMIT"));
        Error error;
        db_ = data::Database::open(path, false, &error);
        QVERIFY2(db_, qPrintable(error.description));
        window_ = std::make_unique<QWidget>();
        grid_ = new DataGrid("DBGrid1", window_.get());
        grid_->setWidth(9000);
        grid_->setHeight(700); // a row or two on display
        window_->resize(700, 300);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        grid_->setResult(db_->execute("SELECT * FROM t", &error));
        QVERIFY2(!error, qPrintable(error.description));
    }

    void print(const std::optional<QString>& reply, const GridReportTitle& title = {}) {
        if (reply)
            session_->dialogs().queueReply(*reply == "<cancel>" ? std::nullopt : reply);
        printResultGrid([this] { return grid_; }, title);
    }

    // The one document of the session's transcript; empty when there is not exactly one.
    QJsonObject document() const {
        const QList<QJsonObject> events =
            test::ProgramRun{0, false, session_->events(), {}}.eventsOf("document");
        return events.size() == 1 ? events[0] : QJsonObject{};
    }

    QStringList transcribed() const {
        QStringList lines;
        for (const QJsonValue line : document()["lines"].toArray())
            lines << test::lineText(line);
        return lines;
    }

private slots:
    void init() {
        session_ = std::make_unique<test::InProcess>();
        dir_ = std::make_unique<QTemporaryDir>();
        Printer::instance().reset();
        Printer::instance().setPdfFolder(dir_->path());
        platform().setFixedNow(QDateTime(QDate(2026, 12, 5), QTime(10, 55, 30)));
    }

    void cleanup() {
        window_.reset();
        db_.reset();
        Printer::instance().reset();
        Printer::instance().setPdfFolder({});
        platform().setFixedNow({});
        dir_.reset();
        session_.reset();
    }

    // Ints measured over the three rows asked for (without their leading blanks), fitted
    // to the capacity of the body's size; whatever the cells hold, the rows come out as their
    // texts fitted to the columns, a row wider than the page going on at the column that
    // starts each of its next lines (LINESTARTS), captions alike. The title block's texts
    // trimmed and cut to their fields.
    void columns_data() {
        QTest::addColumn<QStringList>("captions");
        QTest::addColumn<QList<QStringList>>("rows"); // "<null>" for a Null
        QTest::addColumn<float>("bodySize");
        QTest::addColumn<Ints>("widths");
        QTest::addColumn<QString>("reply"); // "<default>" or the text typed
        QTest::addColumn<Ints>("lineStarts");
        // Five rows, the two left out wider, so measuring them would show in the widths.
        const auto row = [](const char* name, QStringList captions, const Ints& lengths,
                            const Ints& blanks, float size, const Ints& widths,
                            const Ints& lineStarts = {}) {
            for (qsizetype c = captions.size(); c < lengths.size(); ++c)
                captions << QStringLiteral("c%1").arg(c);
            QList<QStringList> rows(5);
            for (int r = 0; r < 5; ++r)
                for (int c = 0; c < lengths.size(); ++c)
                    rows[r] << QString(blanks.value(c), u' ') +
                                   (QStringLiteral("%1.%2").arg(r).arg(c) + QString(99, u'x'))
                                       .left(lengths[c] + (r >= 3 ? 5 : 0));
            QTest::newRow(name) << captions << rows << size << widths << (size > 8 ? "3" : "2.5")
                                << lineStarts;
        };
        row("10 12 30 40 end as 10 12 31 41", {}, {9, 11, 29, 39}, {}, 9, {10, 12, 31, 41});
        row("14-character caption, leading blanks", {"descrizione_ab"}, {6, 6}, {0, 3}, 9, {15, 7});
        // 159 columns fit at 6 points.
        row("53 columns at 6 points: the first 51 printed", {}, Ints(53, 2), {}, 6,
            Ints(10, 3) + Ints(41, 4), {33});
        row("40 columns of 9 characters", {}, Ints(40, 9), {}, 6, Ints(40, 10), {14, 28});
        QTest::newRow("quotes, backslashes, an accented cell after plain ones")
            << QStringList{"a", "b", "c"}
            << QList<QStringList>{{"1", "dice \"ciao\"", "C:\\dati\\x"},
                                  {"22", "2", "perché sì"},
                                  {"è", "ok", "x"}}
            << 9.0f << Ints{2, 12, 10} << "9" << Ints{};
        QTest::newRow("breaks, tabs, Nulls, blanks and controls")
            << QStringList{"a", "b", "c"}
            << QList<QStringList>{{"1", "ab\ncd", "x\u2028y"},
                                  {"\t2\t", "\x01z", "<null>"},
                                  {"<null>", "  a  ", "\x7f"}}
            << 9.0f << Ints{2, 6, 4} << "3" << Ints{};
        // The rows held are measured first, then the rest as they are read, in order, up to
        // the rows asked for: "10" keeps the width "0" gave and "100" widens it; rows 100 and
        // 255, held already, widen the last column; row 290 widens the second, and row 400,
        // read in the same block, is left out. Rows 255 and 290 count their characters, not
        // their bytes.
        QList<QStringList> many;
        for (int r = 0; r < 600; ++r)
            many << QStringList{QString::number(r),
                                r == 290   ? QString(10, u'è')
                                : r == 400 ? QString(14, u'z')
                                           : "y",
                                r == 100   ? "ccccc"
                                : r == 255 ? QString(8, u'é')
                                           : ""};
        QTest::newRow("600 rows, 300 printed")
            << QStringList{"a", "b", "c"} << many << 9.0f << Ints{4, 11, 9} << "300" << Ints{};
        // Each cell in its own direction, later columns where they belong.
        QTest::newRow("right to left first cells, wide characters")
            << QStringList{"a", "b", "c"}
            << QList<QStringList>{{"שלום", "漢字", "a1"},
                                  {"دار ورد", "😀😀", "b2"},
                                  {"abc", "x", "c3"}}
            << 9.0f << Ints{8, 5, 2} << "<default>" << Ints{};
    }

    void columns() {
        QFETCH(QStringList, captions);
        QFETCH(QList<QStringList>, rows);
        QFETCH(float, bodySize);
        QFETCH(Ints, widths);
        QFETCH(QString, reply);
        QFETCH(Ints, lineStarts);

        // Rows are counted from the first row of the result, whatever the grid shows; 2.5
        // rounds to 2 but prints three; the question's default is the count of the result, and
        // a reply beyond it prints the rows there are.
        show(captions, rows);
        QCOMPARE(grid_->automationScroll(1), QString());
        QCOMPARE(grid_->firstVisibleRow(), 1);
        const QString seventy = QStringLiteral("Fatturato per cliente, zona e agente nel periodo "
                                               "selezionato (IVA esc)");
        const QString longPath = "/" + QString(99, u'p');
        print(reply == "<default>" ? std::nullopt : std::optional(reply),
              {"  " + seventy, "  " + longPath + " ", " ODBC "});

        QStringList expected = QString("\nOutput selezione SQL:   " + seventy.left(60) +
                                       "  05/12/2026 10:55:30\n\nDatabase:   " + longPath.left(80) +
                                       "  Tipo: ODBC\n\n" + kRule)
                                   .split('\n');
        const qsizetype printed =
            reply == "<default>" ? rows.size()
                                 : std::min(rows.size(), qsizetype(std::ceil(reply.toDouble())));
        for (int r = -1; r < printed; ++r) {
            QStringList lines(lineStarts.size() + 1);
            for (int c = 0; c < widths.size(); ++c)
                lines[std::upper_bound(lineStarts.begin(), lineStarts.end(), c) -
                      lineStarts.begin()] += ' ' + padded(QString(r < 0 ? captions[c] : rows[r][c])
                                                              .replace("<null>", "")
                                                              .replace(printsAsBlank, " "),
                                                          widths[c]);
            expected += lines.join(u'\n').split(u'\n');
            if (r < 0)
                expected << kRule;
        }
        expected << kRule;
        QCOMPARE(transcribed(), expected);
        QCOMPARE(expected[1].size(), 105);
        QStringList fonts; // an empty line by the font it closed with
        for (const PrintLine& line : Printer::instance().lastDocument().lines) {
            const PrintFont& f = line.runs.isEmpty() ? line.endFont : line.runs.last().font;
            fonts << QStringLiteral("%1 %2%3").arg(f.name).arg(f.size).arg(f.bold ? " B" : "");
        }
        const QString bold = "COURIER NEW 9 B", rule = "COURIER NEW 9";
        const QString body = QStringLiteral("COURIER NEW %1").arg(bodySize);
        const qsizetype captionLines = lineStarts.size() + 1;
        QCOMPARE(fonts, QStringList(5, bold)
                            << rule << QStringList(captionLines, body + " B") << rule
                            << QStringList(expected.size() - 8 - captionLines, body) << rule);
        const QString differs = test::paperDiffers(document());
        QVERIFY2(differs.isEmpty(), qPrintable(differs));
        const QJsonObject asked = session_->events().first();
        QCOMPARE(QStringList({asked["prompt"].toString(), asked["title"].toString(),
                              asked["default"].toString()}),
                 (QStringList{"Quante righe vuoi stampare ?", "STAMPA CONTENUTO GRIGLIA",
                              QString::number(rows.size())}));
        QCOMPARE(session_->summary(),
                 (QStringList{"inputbox", "pointer:11", "document", "pointer:0"}));
        QCOMPARE(grid_->col(), 0);
    }

    // The value -1 in "rows" stands for a refusal, infinity for every row of the result.
    void rowsReply_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<double>("rows");
        const double no = -1, every = std::numeric_limits<double>::infinity();
        // clang-format off
        const std::pair<QString, double> rows[] = {
            {"", no}, {"abc", no}, {"0", no}, {"-2", no}, {"0.5", no}, {"1.5", 1.5}, {"2.5", 2.5},
            {" 1 2 ", 12}, {"12abc", 12}, {"- 3", no}, {"+ 3", 3}, {"3.7e2", 3.7}, {"4,9", 4},
            {"1.2.3", 1.2}, {"32767", 32767}, {"32767.4", 32767.4}, {"32767.5", every},
            {"40000", every}, {"-40000", every}, {QString(QChar(0x663)), no},
            {QString(400, u'9'), every}, {"0." + QString(400, u'0') + "1", no}};
        // clang-format on
        for (const auto& [reply, count] : rows)
            QTest::newRow(qPrintable("[" + reply.left(12) + "]")) << reply << count;
    }

    void rowsReply() {
        QFETCH(QString, reply);
        QFETCH(double, rows);
        const RowsReply read = readRowsReply(reply);
        QCOMPARE(read.refused, rows < 0);
        if (rows >= 0)
            QCOMPARE(read.rows, rows);
    }

    // Passes the grid report's printed columns do not reach.
    void fitting_data() {
        QTest::addColumn<Ints>("widths");
        QTest::addColumn<int>("startTotal");
        QTest::addColumn<int>("limit");
        QTest::addColumn<Ints>("fitted");

        // Five widths above 15 move the total by five: 92 and 97 alternate around 93-96. As a
        // pass that changes nothing, a pass that lands on the measured total ends it.
        // clang-format off
        const std::tuple<const char*, Ints, int, int, Ints> rows[] = {
            {"narrow widths never move", {5, 8, 10}, 46, 96, {5, 8, 10}},
            {"measured total in the window", {30, 30, 30}, 95, 96, {30, 30, 30}},
            {"16 narrowed to 15 stays", {16, 15, 15, 15, 15, 15, 15}, 500, 96, Ints(7, 15)},
            {"alternating, measured over many rows", {18, 18, 18, 18, 18, 7}, 291, 96, {17, 17, 17, 17, 17, 7}},
            {"alternating towards 100 in the result window", {17, 21, 21, 21, 21}, 400, 100, {16, 20, 20, 20, 20}},
            {"too wide even at 15", {40, 15, 15, 15, 15, 15, 15, 15}, 500, 96, Ints(8, 15)},
            {"first pass gives the measured total back", {20, 20, 20, 41}, 97, 96, {19, 19, 19, 40}}};
        // clang-format on
        for (const auto& [name, widths, start, limit, fitted] : rows)
            QTest::newRow(name) << widths << start << limit << fitted;
    }

    void fitting() {
        QFETCH(Ints, widths);
        QFETCH(int, startTotal);
        QFETCH(int, limit);
        QFETCH(Ints, fitted);
        std::vector<qint16> w(widths.begin(), widths.end());
        velario::data::fitColumnWidths(w, qint16(startTotal), qint16(limit));
        QCOMPARE(Ints(w.begin(), w.end()), fitted);
    }
};

QTEST_MAIN(TestGridReport)
#include "tst_grid_report.moc"
