#include "controls/datagrid.h"
#include "data/sqlite/database.h"
#include "data/text/text_columns.h"
#include "platform/platform.h"
#include "print/grid_report.h"
#include "print/printer.h"
#include "print/rows_reply.h"
#include "support/harness.h"
#include "support/pdf_lines.h"
#include "support/result_window_under_test.h"

#include <QPrinterInfo>
#include <QtTest>

#include <limits>
#include <memory>

#include <sys/file.h>

using namespace velario;

using Ints = QList<int>;

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

const QString kStamp = QStringLiteral("05/12/2026 10:55:30");
// The lines of a transcribed DOCUMENT, each run as "[text]" in the style PLAIN, else as
// "[text|face|size|bu]".
QStringList bracketed(const QJsonObject& document, const QString& plain) {
    QStringList lines;
    for (const QJsonValue line : document["lines"].toArray()) {
        QString out;
        for (const QJsonValue r : line.toArray()) {
            const QString style =
                QStringLiteral("|%1|%2|").arg(r["font"].toString()).arg(r["size"].toDouble()) +
                (r["bold"].toBool() ? 'b' : '-') + (r["underline"].toBool() ? 'u' : '-');
            out += '[' + r["text"].toString() + (style == plain ? "" : style) + ']';
        }
        lines << out;
    }
    return lines;
}

} // namespace

class TestPrinter : public QObject {
    Q_OBJECT

    std::unique_ptr<test::InProcess> session_;
    std::unique_ptr<QTemporaryDir> dir_;
    QString out_;
    std::unique_ptr<data::Database> db_;
    std::unique_ptr<QWidget> window_;
    DataGrid* grid_ = nullptr;

    // Shows a table of these rows on the grid, "<null>" standing for a Null.
    void show(const QStringList& captions, const QList<QStringList>& rows) {
        const QString path = dir_->filePath(QStringLiteral("t%1.db").arg(rows.size()));
        QStringList sql{"BEGIN", "CREATE TABLE t (\"" + captions.join("\", \"") + "\")"};
        for (const QStringList& row : rows)
            sql << QString("INSERT INTO t VALUES ('" + row.join("', '") + "')")
                       .replace("'<null>'", "NULL");
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

    // The first document of the session's transcript.
    QJsonObject document() const {
        return test::ProgramRun{0, false, session_->events(), {}}.eventsOf("document").value(0);
    }

private slots:
    void init() {
        session_ = std::make_unique<test::InProcess>();
        dir_ = std::make_unique<QTemporaryDir>();
        out_ = dir_->filePath("out");
        QVERIFY(dir_->isValid() && QDir().mkpath(out_));
        Printer::instance().reset();
        Printer::instance().setPdfFolder(out_);
        platform().setFixedNow(QDateTime(QDate(2026, 12, 5), QTime(10, 55, 30)));
    }

    void cleanup() {
        window_.reset();
        db_.reset();
        Printer::instance().reset();
        Printer::instance().setPdfFolder({});
        platform().setFixedNow({});
        session_.reset();
        dir_.reset();
    }

    // Steps separated by ';': "p=a+b" prints the items a and b, "o=..." the same with an
    // open end, a bare "p" prints no items; B/b, U/u turn bold
    // and underline on/off; "s=9" sets the size and "f=NAME" the face. The lines are checked
    // in the transcript (plain Courier New 9 as "[text]") and on paper.
    void runs_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("pages");

        QTest::newRow("nothing printed, nothing delivered") << "" << QStringList{} << 0;
        QTest::newRow("items, open ends, no items")
            << "s=9;o=a;B;b;o=b;s=9.01;p=c;p=ab++c d+e;p;o=ab;o=cd;p=ef;o="
            << QString("[abc]\n[abc de]\n\n[abcdef]").split('\n') << 1;
        // Control characters and the line and paragraph separators print as blanks.
        QTest::newRow("bold, underline, escapes, controls and non-ASCII")
            << QString("f=COURIER NEW;s=9;o=Totale: ;B;o=12,50;b;p= euro;s=7;U;p=fine;u;p=\"v\" \\ "
                       "\t\x01\x1f\x7f\u0085\u009f\u2028\u2029\f\v àè€")
            << QString(
                   "[Totale: |COURIER NEW|9|--][12,50|COURIER NEW|9|b-][ euro|COURIER NEW|9|--]\n"
                   "[fine|COURIER NEW|7|-u]\n[\"v\" \\            àè€|COURIER NEW|7|--]")
                   .split('\n')
            << 1;
        QTest::newRow("every kind of break")
            << "s=9;p=SELECT *\r\nFROM t\nWHERE x\rORDER BY "
               "y;p=\r\n\n\r\ra\n;p=a\r+\nb;o=a\nb;B;p=c"
            << QString("[SELECT *]\n[FROM t]\n[WHERE x]\n[ORDER BY y]\n\n\n\n\n[a]\n\n[a]\n[b]\n"
                       "[a]\n[b][c|Courier New|9|b-]")
                   .split('\n')
            << 1;
        // Sizes as in effect (off the grid, too small, too large; zero and NaN refused), and
        // characters the face lacks drawn by another one.
        QString ascii;
        for (char16_t c = 0x21; c < 0x7F; ++c)
            ascii += c == ';' || c == '+' ? QString() : QString(QChar(c));
        const QString latin = "àèéìòù ÀÈÉÌÒÙ çÇñÑ €£§°ß «»¿¡";
        QTest::newRow("sizes and faces")
            << "s=7.77;p=" + latin + ";p=" + ascii + ";S=0;S=nan;B;p=☠☢;s=0.3;p=MMMM;s=5000;p=M"
            << QStringList{"[" + latin + "|Courier New|7.75|--]",
                           "[" + ascii + "|Courier New|7.75|--]", "[☠☢|Courier New|7.75|b-]",
                           "[MMMM|Courier New|1|b-]", "[M|Courier New|720|b-]"}
            << 2;
        // A line wider than the page (106 columns at 9 points) goes on: after its last blank
        // in the second half, else at the edge; blanks past the edge stay on it. Each item is
        // laid out in its own direction from its own column, a wide character taking two.
        const QString x100(100, u'x'), y20(20, u'y'), z150(150, u'z');
        QTest::newRow("wider than the page")
            << "s=9;p=" + x100 + " " + y20 + ";p=a " + z150 + ";p=ab" + QString(150, u' ') +
                   ";o=" + x100 + ";B;p=" + QString(10, u'b')
            << QStringList{"[" + x100 + " ]",
                           "[" + y20 + "]",
                           "[a " + z150.left(104) + "]",
                           "[" + z150.mid(104) + "]",
                           "[ab" + QString(150, u' ') + "]",
                           "[" + x100 + "][bbbbbb|Courier New|9|b-]",
                           "[bbbb|Courier New|9|b-]"}
            << 1;
        // Across fonts the line goes on where it would in one: after the last blank of a later
        // run, and at the end of a run that ends with the blank it goes on after.
        const QString x60(60, u'x'), x80(80, u'x'), y30(30, u'y'), z30(30, u'z'), y40(40, u'y');
        QTest::newRow("wider than the page, across fonts")
            << "s=9;o=" + x60 + ";B;p= " + y30 + " " + z30 + ";b;o=" + x80 + " ;B;p=" + y40
            << QStringList{"[" + x60 + "][ " + y30 + " |Courier New|9|b-]",
                           "[" + z30 + "|Courier New|9|b-]", "[" + x80 + " ]",
                           "[" + y40 + "|Courier New|9|b-]"}
            << 1;
        QTest::newRow("right to left, wide and missing characters")
            << "s=9;p=שלום+ abc+ 12;p=مرحبا بالعالم+ 3;p=漢字テスト+ a+ 😀+ b;p=x\U0010FFFDy+ z"
            << QStringList{"[שלום abc 12]", "[مرحبا بالعالم 3]", "[漢字テスト a 😀 b]",
                           QString("[x\U0010FFFDy z]")}
            << 1;
        QString steps = "s=7";
        QStringList lines;
        for (int i = 1; i <= 3000; ++i) {
            steps += QStringLiteral(";p=riga %1").arg(i);
            lines << QStringLiteral("[riga %1|Courier New|7|--]").arg(i);
        }
        QTest::newRow("more pages than are written at once") << steps << lines << 30;
    }

    void runs() {
        QFETCH(QString, steps);
        QFETCH(QStringList, lines);
        QFETCH(int, pages);

        Printer& printer = Printer::instance();
        for (const QString& step : steps.split(';', Qt::SkipEmptyParts)) {
            const QString value = step.mid(2);
            if (step == "p")
                printer.print({});
            else if (step.startsWith("p=") || step.startsWith("o="))
                printer.print(value.split('+'), step.startsWith('o'));
            else if (step.startsWith("S="))
                QCOMPARE(printer.setFontSize(value.toFloat()).number,
                         int(ErrorNumber::InvalidArgument));
            else if (step.startsWith("s="))
                QVERIFY(!printer.setFontSize(value.toFloat()));
            else if (step.startsWith("f="))
                QVERIFY(!printer.setFontName(value));
            else if (step.compare("b", Qt::CaseInsensitive) == 0)
                printer.setFontBold(step == "B");
            else
                printer.setFontUnderline(step == "U");
        }
        QVERIFY(!printer.endDoc());
        QCOMPARE(bracketed(document(), "|Courier New|9|--"), lines);
        QCOMPARE(printer.lastDocument().pages, pages);
        QCOMPARE(QDir(out_).entryList(QDir::Files | QDir::Hidden).size(), lines.isEmpty() ? 0 : 1);
        QCOMPARE(test::paperDiffers(document()), QString());
    }

    // A document written to the default folder, for want of a printer, is opened for the
    // user to see; never when a script answers (automation).
    void shownToUser_data() {
        QTest::addColumn<bool>("widgets");
        QTest::newRow("script") << false;
        QTest::newRow("widgets") << true;
    }

    void shownToUser() {
        QFETCH(bool, widgets);
        QVERIFY2(QPrinterInfo::defaultPrinter().isNull(), "a default printer would take it");
        const QByteArray home = qgetenv("HOME"), config = qgetenv("XDG_CONFIG_HOME");
        const auto restore = qScopeGuard([&] {
            qputenv("HOME", home);
            qputenv("XDG_CONFIG_HOME", config);
            platform().setDocumentOpener({});
        });
        qputenv("HOME", QFile::encodeName(dir_->path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_->filePath(".config")));
        QStringList opened;
        platform().setDocumentOpener([&](const QString& path) { return opened << path, true; });
        if (widgets)
            platform().setDialogs(makeWidgetDialogs());
        Printer& printer = Printer::instance();
        printer.setPdfFolder({});
        printer.print({"visto"});
        QVERIFY(!printer.endDoc());
        const QString made = printer.lastDocument().destination;
        QVERIFY2(made.startsWith(dir_->path()), qPrintable(made));
        QCOMPARE(opened, widgets ? QStringList{made} : QStringList{});
    }

    // Names never overwrite a file. The hidden files of documents whose program died while
    // writing them go when the next document starts; those another running copy holds
    // (locked), or may have just made, stay.
    void folderContents() {
        QStringList kept{".velario-Held01.part", ".velario-Newest.part", ".velario-notes.txt",
                         "velario-20261205-105530-1.pdf"};
        for (const QString& name : QStringList{".velario-Dead01.part"} + kept) {
            QFile file(QDir(out_).filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("%PDF-1.4") > 0 && file.flush());
            const qint64 age = name.contains("Newest") || name.endsWith(".pdf") ? 0 : 3600;
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-age),
                                     QFileDevice::FileModificationTime));
        }
        QFile held(QDir(out_).filePath(kept[0]));
        QVERIFY(held.open(QIODevice::ReadOnly) && ::flock(held.handle(), LOCK_EX) == 0);

        Printer& printer = Printer::instance();
        for (int i = 2; i < 5; ++i) {
            printer.print({QStringLiteral("documento %1").arg(i)});
            QVERIFY(!printer.endDoc());
            kept << QStringLiteral("velario-20261205-105530-%1.pdf").arg(i);
            QCOMPARE(QFileInfo(printer.lastDocument().destination).fileName(), kept.last());
        }
        QCOMPARE(QDir(out_).entryList(QDir::Files | QDir::Hidden, QDir::Name), kept);
    }

    // A folder that will not take the document: the error names it, nothing is left there,
    // and the next document starts afresh.
    void missingFolder() {
        const QString folder = dir_->filePath("manca");
        Printer& printer = Printer::instance();
        printer.setPdfFolder(folder);
        printer.print({"perso"});
        const Error error = printer.endDoc();
        QVERIFY2(error.number == int(ErrorNumber::PrinterError) &&
                     error.description.contains(folder),
                 qPrintable(error.description));
        printer.setPdfFolder(out_);
        printer.print({"nuovo"});
        QVERIFY(!printer.endDoc());
        QCOMPARE(bracketed(document(), "|Courier New|10|--"), QStringList{"[nuovo]"});
    }

    // Widths measured over the three rows asked for (without their leading blanks), fitted
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
        const QStringList abc{"a", "b", "c"};
        QTest::newRow("quotes, backslashes, an accented cell after plain ones")
            << abc << test::entriesOf({"1|dice \"ciao\"|C:\\dati\\x", "22|2|perché sì", "è|ok|x"})
            << 9.0f << Ints{2, 12, 10} << "9" << Ints{};
        QTest::newRow("breaks, tabs, Nulls, blanks and controls")
            << abc
            << test::entriesOf({"1|ab\ncd|x\u2028y", "\t2\t|\x01z|<null>", "<null>|  a  |\x7f"})
            << 9.0f << Ints{2, 6, 4} << "3" << Ints{};
        // The rows held are measured first, then the rest as they are read, in order, up to
        // the rows asked for: "10" keeps the width "0" gave and "100" widens it; rows 100 and
        // 255, held already, widen the last column; row 290 widens the second, and row 400,
        // read in the same block, is left out. Rows 255 and 290 count their characters, not
        // their bytes.
        QList<QStringList> many;
        for (int r = 0; r < 600; ++r)
            many << QStringList{QString::number(r), "y", ""};
        many[290][1] = QString(10, u'è');
        many[400][1] = QString(14, u'z');
        many[100][2] = "ccccc";
        many[255][2] = QString(8, u'é');
        QTest::newRow("600 rows, 300 printed")
            << abc << many << 9.0f << Ints{4, 11, 9} << "300" << Ints{};
        // Each cell in its own direction, later columns where they belong.
        QTest::newRow("right to left first cells, wide characters")
            << abc << test::entriesOf({"שלום|漢字|a1", "دار ورد|😀😀|b2", "abc|x|c3"}) << 9.0f
            << Ints{8, 5, 2} << "<default>" << Ints{};
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
        const QString seventy = "Fatturato per cliente e agente " + QString(40, u'x');
        const QString longPath = "/" + QString(99, u'p');
        if (reply != "<default>")
            session_->dialogs().queueReply(reply);
        printResultGrid([this] { return grid_; },
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
        QStringList texts;
        for (const QJsonValue line : document()["lines"].toArray())
            texts << test::lineText(line);
        QCOMPARE(texts, expected);
        QStringList fonts; // an empty line by the font it closed with
        for (const PrintLine& line : Printer::instance().lastDocument().lines) {
            const PrintFont& f = line.runs.isEmpty() ? line.endFont : line.runs.last().font;
            fonts << QStringLiteral("%1 %2%3").arg(f.name).arg(f.size).arg(f.bold ? " B" : "");
        }
        const QString body = QStringLiteral("COURIER NEW %1").arg(bodySize), rule = "COURIER NEW 9";
        const qsizetype captionLines = lineStarts.size() + 1;
        QCOMPARE(fonts, QStringList(5, rule + " B")
                            << rule << QStringList(captionLines, body + " B") << rule
                            << QStringList(expected.size() - 8 - captionLines, body) << rule);
        QCOMPARE(test::paperDiffers(document()), QString());
        const QJsonObject asked = session_->events().first();
        QCOMPARE(session_->summary().join(' ') + '|' + asked["prompt"].toString() + '|' +
                     asked["title"].toString() + '|' + asked["default"].toString() + '|' +
                     QString::number(grid_->col()),
                 QStringLiteral("inputbox pointer:11 document pointer:0|Quante righe vuoi stampare "
                                "?|STAMPA CONTENUTO GRIGLIA|%1|0")
                     .arg(rows.size()));
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
        QCOMPARE(read.refused ? -1 : read.rows, rows);
    }

    void list();
    void copiedText();
};

// The whole catalogue is listed from its first entry, however far the list was scrolled
// and whichever entry was shown, edits not saved left out; the window ends on the first entry.
// The sheet of the entry shown takes the fields as they are: code and description as typed,
// database and type trimmed, the SQL line by line, blanks kept. An empty catalogue has
// nothing to list.
void TestPrinter::list() {
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
    entries << QStringList{"CODICE_LUNGO_15", "Clienti attivi per zona, agente e provincia",
                           "SELECT *\nFROM clienti\nWHERE attivo = 1", "VENDITE", "ODBC"}
            << QStringList{"A1B", "Breve", "  " + longSql + "  ", "C:\\DATI\\ARCHIVIO.MDB", "MDB"};
    test::Sandbox box;
    box.writeConfig(box.makeCatalogue("vuoto.db"));
    const test::ProgramRun empty =
        box.run("click frmTS0002.cmdSTAMPA_Elenco_SQL\n", {"--print-to", box.path()});
    QCOMPARE(test::afterCatalogueOpened(empty.summary()),
             (QStringList{"beep", "msgbox:Non ci sono records da stampare !!!|" + kAppTitle + "|0",
                          "exit:0"}));
    box.writeConfig(box.makeCatalogue("cat.db", entries));

    // Then the sheet of the entry shown, with edits not saved.
    const test::ProgramRun run = box.run(
        "scroll frmTS0002.DBGrid1 15\nrow frmTS0002.DBGrid1 20\n"
        "type frmTS0002.txtSELEZ_SQL SELECT modificato\ntype frmTS0002.txtDATABASE altro.db\n"
        "dump\nclick frmTS0002.cmdSTAMPA_Elenco_SQL\ndump\n"
        "type frmTS0002.txtDESCR_SQL \"  Vendite per agente \"\n"
        "type frmTS0002.txtDATABASE \"  /dati/a.db \"\n"
        "type frmTS0002.txtTIPO_DATABASE \" ODBC\"\n"
        "type frmTS0002.txtSELEZ_SQL \"  SELECT a,\\r\\n   b\\nFROM t\\rWHERE x = 1\"\n"
        "click frmTS0002.cmdSTAMPA_SQL\n",
        {"--clock", "2026-12-05T10:55:30", "--print-to", box.path()});
    QCOMPARE(test::afterCatalogueOpened(run.summary()),
             (QStringList{"state", "pointer:11", "document", "beep", "pointer:0", "state",
                          "pointer:11", "document", "beep", "pointer:0", "exit:0"}));

    // The example entry: code, 7 + 2 blanks, description, 25 + 2 blanks, 62 of the SQL;
    // then 46 blanks and the database filled to 80.
    const auto b = [](const QString& text, const char* style = "b-") {
        return '[' + text + "|Courier New|9|" + style + ']';
    };
    const QString rule = '[' + kRule + "]\n";
    QStringList expected =
        (b(" ") + '\n' + b("Elenco SQL disponibili:" + QString(61, u' ') + kStamp) + '\n' + rule +
         b("Codice      Descrizione selezione SQL       Selezione SQL /") + "[ Database ]\n" +
         rule + "[ ]")
            .split('\n');
    static const QRegularExpression breaks(QStringLiteral("\r\n|\n|\r"));
    for (auto e = entries.crbegin(); e != entries.crend(); ++e) {
        const QString sql = (*e)[2] == "<NULL>" ? QString() : (*e)[2].trimmed();
        for (const QString& piece :
             (padded((*e)[0], 10) + "  " + padded((*e)[1], 30) + "  " + padded(sql, 62))
                 .split(breaks))
            expected << (piece.isEmpty() ? QString() : b(piece));
        expected << '[' + QString(46, u' ') + padded((*e)[3], 80) + ']';
    }
    const QList<QJsonObject> documents = run.eventsOf("document");
    QCOMPARE(bracketed(documents.value(0), "|Courier New|9|--"), expected);
    // The heading every query sheet starts with, then the entry.
    const QStringList sheet =
        ("[ ]\n" + b("Codice", "bu") + b(QString(10, u' ')) + b("Descrizione selezione SQL", "bu") +
         b(QString(40, u' ') + kStamp) + "\n[A1B" + QString(13, u' ') +
         "  Vendite per agente ]\n[ ]\n" + b("DATABASE: ") + "[/dati/a.db" + QString(70, u' ') +
         "  Tipo: ODBC]\n[ ]\n" + b("Selezione SQL", "bu") +
         "\n[  SELECT a,]\n[   b]\n[FROM t]\n[WHERE x = 1]")
            .split('\n');
    QCOMPARE(bracketed(documents.value(1), "|Courier New|9|--"), sheet);

    QCOMPARE(QString::number(run.control("DBGrid1")["currentRow"].toInt()) + '|' +
                 run.control("txtCOD_SQL")["text"].toString() + '|' +
                 run.control("txtSELEZ_SQL")["text"].toString(),
             "0|A1B|" + longSql);

    // On paper: every line where it was printed, blanks included.
    for (const QJsonObject& document : documents)
        QCOMPARE(test::paperDiffers(document), QString());
}

// What a reader copies or searches in a printed document is the text each character was
// shaped from, whatever the script and however its glyphs were formed.
void TestPrinter::copiedText() {
    const QStringList samples = QString("שָׁלוֹם עוֹלָם|السلام عليكم|漢字テスト 한국어|😀 ☕ "
                                        "👍🏽|cafe\u0301 n\u0303 a\u0308|x\u0378y")
                                    .split('|');
    Printer& printer = Printer::instance();
    for (const QString& sample : samples)
        printer.print({"a " + sample + " b"});
    QVERIFY(!printer.endDoc());
    // The marks that say where a right-to-left run starts and ends are the reader's own.
    static const QRegularExpression embedding(QStringLiteral("[\u202A-\u202E\u2066-\u2069]"));
    const QString text =
        test::tool("pdftotext", {printer.lastDocument().destination, "-"}).remove(embedding);
    for (const QString& sample : samples)
        QVERIFY2(text.contains(sample), qPrintable(sample + "\n" + text));
}

QTEST_MAIN(TestPrinter)
#include "tst_printer.moc"
