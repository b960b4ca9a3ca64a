#include "data/database.h"
#include "data/datagrid.h"
#include "platform/platform.h"
#include "print/grid_report.h"
#include "print/pdf_lines.h"
#include "print/printer.h"
#include "support/harness.h"

#include <QDir>
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

const QString kRule(106, u'-');
const QStringList kPrinted{"inputbox", "pointer:11", "document", "pointer:0"};

QString cell(int row, int column, int length, int blanks) {
    return QString(blanks, u' ') +
           (QStringLiteral("%1.%2").arg(row).arg(column) + QString(length, u'x')).left(length);
}

QString padded(const QString& text, int width) {
    return text.leftJustified(width, u' ', true);
}

} // namespace

class TestGridReport : public QObject {
    Q_OBJECT

    std::unique_ptr<test::InProcess> session_;
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<data::Database> db_;
    std::unique_ptr<QWidget> window_;
    data::DataGrid* grid_ = nullptr;

    // Shows a table of these rows on the grid, "<null>" standing for a Null.
    void show(const QStringList& captions, const QList<QStringList>& rows) {
        const QString path = dir_->filePath(QStringLiteral("t%1.db").arg(rows.size()));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", path);
            db.setDatabaseName(path);
            QSqlQuery q(db);
            QVERIFY(db.open() && q.exec("CREATE TABLE t (\"" + captions.join("\", \"") + "\")"));
            QVERIFY(q.prepare("INSERT INTO t VALUES (?" +
                              QString(", ?").repeated(captions.size() - 1) + ")"));
            for (const QStringList& row : rows) {
                for (const QString& value : row)
                    q.addBindValue(value == "<null>" ? QVariant() : QVariant(value));
                QVERIFY(q.exec());
            }
        }
        QSqlDatabase::removeDatabase(path);
        Error error;
        db_ = data::Database::open(path, false, false, QString(), &error);
        QVERIFY2(db_, qPrintable(error.description));
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

    // The texts of the document's lines as the transcript gives them.
    QStringList transcribed() const {
        QStringList lines;
        for (const QJsonValue line : document()["lines"].toArray()) {
            QString text;
            for (const QJsonValue run : line.toArray())
                text += run["text"].toString();
            lines << text;
        }
        return lines;
    }

private slots:
    void init() {
        session_ = std::make_unique<test::InProcess>();
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid() && QDir().mkpath(dir_->filePath("out")));
        Printer::instance().reset();
        Printer::instance().setPdfFolder(dir_->filePath("out"));
        platform().setFixedNow(QDateTime(QDate(2026, 12, 5), QTime(10, 55, 30)));

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

    void cleanup() {
        window_.reset();
        db_.reset();
        Printer::instance().reset();
        Printer::instance().setPdfFolder({});
        platform().setFixedNow({});
        dir_.reset();
        session_.reset();
    }

    // Widths measured over the rows asked for, fitted to the capacity of the body's size;
    // the title block's texts trimmed and cut to their fields.
    void columns_data() {
        QTest::addColumn<QStringList>("captions"); // of the first columns; then c1, c2, ...
        QTest::addColumn<Ints>("lengths");
        QTest::addColumn<Ints>("blanks");
        QTest::addColumn<float>("bodySize");
        QTest::addColumn<Ints>("widths");
        QTest::addColumn<QStringList>("title");      // description, database, type
        QTest::addColumn<QStringList>("titleBlock"); // its second and fourth lines

        const auto row = [](const char* name, const QStringList& captions, const Ints& lengths,
                            const Ints& blanks, float size, const Ints& widths,
                            const QStringList& title = {"Prova", "/dati/prova.db", "MDB"},
                            const QString& description = padded("Prova", 60),
                            const QString& database =
                                padded("/dati/prova.db", 80) + "  Tipo: MDB") {
            QTest::newRow(name) << captions << lengths << blanks << size << widths << title
                                << QStringList{"Output selezione SQL:   " + description +
                                                   "  05/12/2026 10:55:30",
                                               "Database:   " + database};
        };
        row("10 12 30 40 end as 10 12 31 41", {}, {9, 11, 29, 39}, {}, 9, {10, 12, 31, 41});
        row("14-character caption over short values", {"descrizione_ab"}, {6, 6}, {}, 9, {15, 7});
        row("7 columns at 9 points", {}, {9, 9, 9, 9, 9, 9, 19}, {}, 9,
            {10, 10, 10, 10, 10, 10, 33});
        row("8 columns at 7 points", {}, {9, 9, 9, 9, 29, 29, 29, 29}, {}, 7,
            {10, 10, 10, 10, 20, 20, 20, 20});
        row("11 columns at 6 points", {}, {11, 11, 11, 11, 11, 11, 11, 11, 11, 11, 39}, {}, 6,
            {12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 27});
        row("leading blanks measured without, printed with", {}, {6, 6}, {3, 0}, 9, {7, 7});
        row("53 columns: the first 51 printed", {}, Ints(53, 2), {}, 6, Ints(10, 3) + Ints(41, 4));
        const QString seventy = QStringLiteral("Fatturato per cliente, zona e agente nel periodo "
                                               "selezionato (IVA esc)");
        row("description of 70 cut to 60", {}, {3}, {}, 9, {3}, {seventy, "VENDITE", "ODBC"},
            seventy.left(60), "VENDITE" + QString(73, u' ') + "  Tipo: ODBC");
        row("blanks around are dropped", {}, {3}, {}, 9, {3},
            {"  Ordini  ", "  /srv/ordini.db  ", " MDB "}, "Ordini" + QString(54, u' '),
            "/srv/ordini.db" + QString(66, u' ') + "  Tipo: MDB");
        const QString longPath = "/" + QString(99, u'p');
        row("database cut to 80", {}, {3}, {}, 9, {3}, {"", longPath, ""}, QString(60, u' '),
            longPath.left(80) + "  Tipo: ");
    }

    void columns() {
        QFETCH(QStringList, captions);
        QFETCH(Ints, lengths);
        QFETCH(Ints, blanks);
        QFETCH(float, bodySize);
        QFETCH(Ints, widths);
        QFETCH(QStringList, title);
        QFETCH(QStringList, titleBlock);

        // Three rows asked for out of five; the two left out are wider, so measuring them
        // would show in the widths.
        for (qsizetype c = captions.size(); c < lengths.size(); ++c)
            captions << QStringLiteral("c%1").arg(c);
        QList<QStringList> rows(5);
        for (int r = 0; r < 5; ++r)
            for (int c = 0; c < lengths.size(); ++c)
                rows[r] << cell(r, c, lengths[c] + (r >= 3 ? 5 : 0), blanks.value(c));
        show(captions, rows);
        print("3", {title[0], title[1], title[2]});

        QStringList expected{"", titleBlock[0], "", titleBlock[1], "", kRule, "", kRule, "", "",
                             "", kRule};
        for (int c = 0; c < widths.size(); ++c)
            for (int r = -1; r < 3; ++r)
                expected[r < 0 ? 6 : 8 + r] +=
                    ' ' + padded(r < 0 ? captions[c] : rows[r][c], widths[c]);
        QCOMPARE(transcribed(), expected);
        QCOMPARE(titleBlock[0].size(), 105);

        const auto name = [](const PrintFont& f) {
            return QStringLiteral("%1 %2%3").arg(f.name).arg(f.size).arg(f.bold ? " B" : "");
        };
        QStringList fonts; // an empty line by the font it closed with
        for (const PrintLine& line : Printer::instance().lastDocument().lines) {
            QStringList names;
            for (const PrintRun& r : line.runs)
                names << name(r.font);
            fonts << (line.runs.isEmpty() ? name(line.endFont) : names.join(" + "));
        }
        const QString bold = "COURIER NEW 9 B", rule = "COURIER NEW 9";
        const QString body = QStringLiteral("COURIER NEW %1").arg(bodySize);
        QCOMPARE(fonts, (QStringList{bold, bold, bold, bold, bold, rule, body + " B", rule, body,
                                     body, body, rule}));

        const QString differs = test::paperDiffers(document());
        QVERIFY2(differs.isEmpty(), qPrintable(differs));
        QCOMPARE(session_->summary(), kPrinted);
        QCOMPARE(grid_->col(), 0);
    }

    // Rows are counted from the first row of the result, whatever the grid shows; the
    // question's default is the count of the result.
    void rows_data() {
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

    void rows() {
        QFETCH(int, scrollTo);
        QFETCH(QString, reply);
        QFETCH(int, printed);

        QList<QStringList> rows;
        for (int r = 0; r < 40; ++r)
            rows.append({cell(r, 0, 4, 0), cell(r, 1, 8, 0)});
        show({"id", "nome"}, rows);
        QCOMPARE(grid_->automationScroll(scrollTo), QString());
        QCOMPARE(grid_->firstVisibleRow(), scrollTo);
        QVERIFY(grid_->visibleRows() < 12);
        print(reply == "<default>" ? std::nullopt : std::optional(reply));

        const QJsonObject asked = session_->events().first();
        QCOMPARE(asked["event"].toString(), "inputbox");
        QCOMPARE(asked["prompt"].toString(), "Quante righe vuoi stampare ?");
        QCOMPARE(asked["title"].toString(), "STAMPA CONTENUTO GRIGLIA");
        QCOMPARE(asked["default"].toString(), "40");
        QCOMPARE(session_->summary(), printed < 0 ? QStringList{"inputbox"} : kPrinted);
        const QStringList lines = transcribed();
        QCOMPARE(lines.size(), printed < 0 ? 0 : 9 + printed);
        for (int r = 0; r < printed; ++r)
            QVERIFY2(lines[8 + r].startsWith(' ' + rows[r][0] + ' '), qPrintable(lines[8 + r]));
    }

    void nothingToPrint_data() {
        QTest::addColumn<bool>("missing");
        QTest::newRow("empty result") << false;
        QTest::newRow("no grid to count") << true;
    }

    void nothingToPrint() {
        QFETCH(bool, missing);
        if (!missing) {
            show({"id"}, {});
            QCOMPARE(grid_->approxCount(), 0);
        }
        printResultGrid([&] { return missing ? nullptr : grid_; }, {});
        QCOMPARE(session_->summary(),
                 (QStringList{"beep",
                              "msgbox:Non ci sono records da stampare !!!|" + kAppTitle + "|0"}));
    }

    // Whatever the cells hold, the rows come out as the cells' texts fitted to the columns:
    // in the transcript and on paper.
    void cellTexts_data() {
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

    void cellTexts() {
        QFETCH(QList<QStringList>, rows);
        show({"a", "b", "c"}, rows);
        print(QString::number(rows.size()));
        for (QStringList& row : rows)
            row.replaceInStrings("<null>", "");
        // A text wider than its column so far makes it one character wider than the text.
        Ints widths(3, 2);
        for (const QStringList& row : rows)
            for (int c = 0; c < 3; ++c)
                if (widths[c] < row[c].trimmed().size())
                    widths[c] = int(row[c].trimmed().size()) + 1;
        QStringList expected;
        for (const QStringList& row : rows) {
            QString line;
            for (int c = 0; c < 3; ++c)
                line += ' ' + padded(row[c], widths[c]);
            expected << line.split('\n');
        }
        QCOMPARE(transcribed().mid(8, expected.size()), expected);
        const QString differences = test::paperDiffers(document());
        QVERIFY2(differences.isEmpty(), qPrintable(differences));
    }
};

QTEST_MAIN(TestGridReport)
#include "tst_grid_report.moc"
