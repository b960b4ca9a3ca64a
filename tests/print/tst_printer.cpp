#include "platform/platform.h"
#include "platform/transcript.h"
#include "print/pdf_lines.h"
#include "print/printer.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPrinterInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/file.h>

#include <cmath>

using namespace velario;

namespace {

// Every glyph of Liberation Mono is 0.6 em wide.
constexpr double kAdvancePerPoint = 0.6;

QString describe(const PrintLine& line) {
    QString out;
    for (const PrintRun& run : line.runs) {
        out += QStringLiteral("[%1|%2|%3|%4%5]")
                   .arg(run.text, run.font.name, QString::number(run.font.size),
                        run.font.bold ? "b" : "-", run.font.underline ? "u" : "-");
    }
    return out;
}

QString tool(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString pdfLayoutText(const QString& pdf) {
    return tool(QStringLiteral("pdftotext"), {"-layout", pdf, "-"});
}

QStringList nonBlankLines(const QString& text) {
    QStringList lines = text.split('\n');
    lines.removeIf([](const QString& l) { return l.trimmed().isEmpty(); });
    return lines;
}

int pdfPages(const QString& pdf) {
    const auto match = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
                           .match(tool(QStringLiteral("pdfinfo"), {pdf}));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

QStringList pdfFiles(const QString& folder) {
    return QDir(folder).entryList({"*.pdf"}, QDir::Files, QDir::Name);
}

QStringList allFiles(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class TestPrinter : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void runs_data();
    void runs();
    void documentEvent();
    void asciiLines();
    void textOnPaper_data();
    void textOnPaper();
    void pages_data();
    void pages();
    void namesNeverOverwrite();
    void abandonedPartsRemoved();
    void undeliverable_data();
    void undeliverable();
    void fontSize_data();
    void fontSize();
    void defaultFolder();

private:
    QList<QJsonObject> documentEvents() const;

    std::unique_ptr<QTemporaryDir> dir_;
    QString out_;
};

void TestPrinter::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    out_ = dir_->filePath("out");
    QVERIFY(QDir().mkpath(out_));
    QVERIFY(Transcript::instance().open(dir_->filePath("transcript.jsonl")));
    Printer::instance().reset();
    Printer::instance().setPdfFolder(out_);
    Printer::instance().setRecordLines(true);
}

void TestPrinter::cleanup() {
    Printer::instance().reset();
    Printer::instance().setPdfFolder({});
    Transcript::instance().close();
    platform().setFixedNow({});
    dir_.reset();
}

QList<QJsonObject> TestPrinter::documentEvents() const {
    QFile file(dir_->filePath("transcript.jsonl"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QJsonObject> events;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        if (event.value("event").toString() == "document")
            events.append(event);
    }
    return events;
}

// Steps separated by ';': "p=a+b" prints the items a and b, "o=..." the same with an open
// end, a bare "p" prints no items; B/b, U/u turn bold and underline on/off; "s=9" sets
// the size and "f=NAME" the face.
void TestPrinter::runs_data() {
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QStringList>("lines");

    const QString plain = "|Courier New|10|--]";
    QTest::newRow("items side by side") << "p=ab++c d+e" << QStringList{"[abc de" + plain};
    QTest::newRow("no items") << "p=a;p;p=b" << QStringList{"[a" + plain, "", "[b" + plain};
    QTest::newRow("open end continues the line")
        << "o=ab;o=cd;p=ef;p=g" << QStringList{"[abcdef" + plain, "[g" + plain};
    QTest::newRow("open empty print adds nothing") << "p=a;o=" << QStringList{"[a" + plain};
    QTest::newRow("bold inside a line")
        << "f=COURIER NEW;s=9;o=Totale: ;B;o=12,50;b;p= euro"
        << QStringList{
               "[Totale: |COURIER NEW|9|--][12,50|COURIER NEW|9|b-][ euro|COURIER NEW|9|--]"};
    QTest::newRow("font toggled back merges")
        << "o=a;B;b;o=b;s=10.01;p=c" << QStringList{"[abc" + plain};
    QTest::newRow("every kind of break") << "p=SELECT *\r\nFROM t\nWHERE x\rORDER BY y"
                                         << QStringList{"[SELECT *" + plain, "[FROM t" + plain,
                                                        "[WHERE x" + plain, "[ORDER BY y" + plain};
    QTest::newRow("blank lines from breaks") << "p=\r\n\n\r\ra\n"
                                             << QStringList{"", "", "", "", "[a" + plain, ""};
    QTest::newRow("crlf split across items")
        << "p=a\r+\nb" << QStringList{"[a" + plain, "[b" + plain};
    QTest::newRow("break inside an open print")
        << "o=a\nb;B;p=c" << QStringList{"[a" + plain, "[b" + plain + "[c|Courier New|10|b-]"};
}

void TestPrinter::runs() {
    QFETCH(QString, steps);
    QFETCH(QStringList, lines);

    Printer& printer = Printer::instance();
    for (const QString& step : steps.split(';')) {
        const QString value = step.mid(2);
        if (step == "p")
            printer.print({});
        else if (step.startsWith("p=") || step.startsWith("o="))
            printer.print(value.split('+'), step.startsWith('o'));
        else if (step.startsWith("s="))
            QVERIFY(!printer.setFontSize(value.toFloat()));
        else if (step.startsWith("f="))
            QVERIFY(!printer.setFontName(value));
        else if (step.compare("b", Qt::CaseInsensitive) == 0)
            printer.setFontBold(step == "B");
        else if (step.compare("u", Qt::CaseInsensitive) == 0)
            printer.setFontUnderline(step == "U");
        else
            QFAIL(qPrintable("unknown step " + step));
    }
    QVERIFY(!printer.endDoc());
    QStringList actual;
    for (const PrintLine& line : printer.lastDocument().lines)
        actual.append(describe(line));
    QCOMPARE(actual, lines);

    // The next print belongs to a fresh document.
    printer.print({"next"});
    QVERIFY(!printer.endDoc());
    QCOMPARE(printer.lastDocument().lines.size(), 1);
    QCOMPARE(pdfFiles(out_).size(), 2);
}

void TestPrinter::documentEvent() {
    Printer& printer = Printer::instance();
    QVERIFY(!printer.endDoc()); // nothing printed: nothing delivered
    QVERIFY(documentEvents().isEmpty());

    printer.setFontName("COURIER NEW");
    printer.setFontSize(7);
    printer.printOpen({"Query: "});
    printer.setFontBold(true);
    printer.print({"Clienti"});
    printer.setFontBold(false);
    printer.print({""});
    printer.setFontUnderline(true);
    printer.print({"fine"});
    printer.setFontUnderline(false);
    printer.print({"\"virgolette\" \\ \t\x01 àè€ 日本"});
    QVERIFY(!printer.endDoc());

    const QList<QJsonObject> events = documentEvents();
    QCOMPARE(events.size(), 1);
    const QString destination = events[0].value("destination").toString();
    QCOMPARE(destination, printer.lastDocument().destination);
    QVERIFY(QFileInfo(destination).isAbsolute());
    QCOMPARE(QFileInfo(destination).absolutePath(), QDir(out_).absolutePath());
    QVERIFY(QFileInfo::exists(destination));

    const auto run = [](const char* text, bool bold, bool underline) {
        return QJsonObject{{"text", text},
                           {"font", "COURIER NEW"},
                           {"size", 7},
                           {"bold", bold},
                           {"underline", underline}};
    };
    const QJsonArray expected{
        QJsonArray{run("Query: ", false, false), run("Clienti", true, false)},
        QJsonArray{},
        QJsonArray{run("fine", false, true)},
        QJsonArray{run("\"virgolette\" \\ \t\x01 àè€ 日本", false, false)},
    };
    QCOMPARE(events[0].value("lines").toArray(), expected);
}

// Lines given as ASCII bytes, many enough for the faces to take their short way with
// plain ASCII, reach paper and transcript as they were printed.
void TestPrinter::asciiLines() {
    Printer& printer = Printer::instance();
    printer.setFontName("COURIER NEW");
    printer.setFontSize(7);
    QList<QByteArray> lines;
    // One page of lines, as long as fit.
    for (int i = 0; i < 90; ++i) {
        QByteArray line = "f(" + QByteArray::number(i) + ") \\ g)( \"q\"" +
                          QByteArray(i % 37, ' ') + QByteArray(50 + i % 23, 'x') + "\\\\ ))";
        if (i % 50 == 7)
            line = QByteArray(i % 3, ' ');
        if (i == 60)
            line += "\t\xe8 fine";
        if (i % 4 == 1)
            line += QByteArray(i % 9, ' ');
        if (i == 45)
            printer.setFontBold(true);
        if (i == 60)
            printer.print({QString::fromLatin1(line)});
        else
            printer.printAsciiLine(line);
        lines << line;
    }
    QVERIFY(!printer.endDoc());

    const PrintDocument& doc = printer.lastDocument();
    QJsonArray expected;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QCOMPARE(describe(doc.lines[i]),
                 lines[i].isEmpty() ? QString()
                                    : QStringLiteral("[%1|COURIER NEW|7|%2-]")
                                          .arg(QString::fromLatin1(lines[i]), i >= 45 ? "b" : "-"));
        QJsonArray runs;
        if (!lines[i].isEmpty())
            runs.append(QJsonObject{{"text", QString::fromLatin1(lines[i])},
                                    {"font", "COURIER NEW"},
                                    {"size", 7},
                                    {"bold", i >= 45},
                                    {"underline", false}});
        expected.append(runs);
    }
    QCOMPARE(documentEvents().value(0).value("lines").toArray(), expected);
    const auto [visible, sizes] = test::visibleLines(doc);
    QStringList onPaper = test::pdfLines(doc.destination, sizes);
    // A tab takes one column on paper, as every other character.
    QStringList printed = visible;
    for (QString& line : printed)
        line.replace(u'\t', u' ');
    const QString differences = test::comparePrinted(onPaper, printed, sizes);
    QVERIFY2(differences.isEmpty(), qPrintable(differences));
}

// What a reader of the PDF gets back as text, and the faces it names.
void TestPrinter::textOnPaper_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("face");

    QString ascii;
    for (char16_t c = 0x21; c < 0x7F; ++c)
        ascii += QChar(c);
    QTest::newRow("every printable ASCII character") << ascii << "LiberationMono";
    QTest::newRow("Italian and Latin-1")
        << QString("àèéìòù ÀÈÉÌÒÙ çÇñÑ €£§°ß «»¿¡") << "LiberationMono";
    QTest::newRow("characters the face lacks") << QString("pericolo ☠ ☢ fine") << "DejaVu";
}

void TestPrinter::textOnPaper() {
    QFETCH(QString, text);
    QFETCH(QString, face);

    Printer& printer = Printer::instance();
    printer.setFontName("COURIER NEW");
    printer.setFontSize(9);
    printer.print({text});
    printer.setFontBold(true);
    printer.print({text});
    QVERIFY(!printer.endDoc());

    const QString pdf = printer.lastDocument().destination;
    QProcess process;
    process.start("pdftotext", {pdf, "-"});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    // A reader that had to mend the file says so on its error output.
    QCOMPARE(process.readAllStandardError(), QByteArray());
    QCOMPARE(nonBlankLines(QString::fromUtf8(process.readAllStandardOutput())),
             (QStringList{text, text}));
    QVERIFY2(tool("pdffonts", {pdf}).contains(face), qPrintable(tool("pdffonts", {pdf})));
}

void TestPrinter::pages_data() {
    QTest::addColumn<float>("size");
    QTest::addColumn<int>("count");
    QTest::newRow("6 pt") << 6.0f << 300;
    QTest::newRow("one page") << 9.0f << 20;
    QTest::newRow("more pages than are written at once") << 7.0f << 3000;
}

void TestPrinter::pages() {
    QFETCH(float, size);
    QFETCH(int, count);

    Printer& printer = Printer::instance();
    printer.setFontSize(size);
    for (int i = 1; i <= count; ++i)
        printer.print({QStringLiteral("riga %1").arg(i)});
    QVERIFY(!printer.endDoc());

    const QString pdf = printer.lastDocument().destination;
    const QStringList pageTexts = pdfLayoutText(pdf).split('\f', Qt::SkipEmptyParts);
    QList<QStringList> pageLines;
    for (const QString& text : pageTexts) {
        const QStringList lines = nonBlankLines(text);
        if (!lines.isEmpty())
            pageLines.append(lines);
    }
    QCOMPARE(pdfPages(pdf), pageLines.size());
    QCOMPARE(printer.lastDocument().pages, pageLines.size());

    // Every line once, in order, and each page but the last one filled.
    int next = 1;
    for (const QStringList& lines : pageLines) {
        for (const QString& line : lines)
            QCOMPARE(line.trimmed(), QStringLiteral("riga %1").arg(next++));
    }
    QCOMPARE(next, count + 1);
    const qsizetype perPage = pageLines.first().size();
    for (qsizetype i = 0; i + 1 < pageLines.size(); ++i)
        QCOMPARE(pageLines[i].size(), perPage);
    QCOMPARE(pageLines.size(), (count + perPage - 1) / perPage);
    if (pageLines.size() > 1) {
        // A page holds what its height allows: roughly 800 points over 1.13 em per line.
        const double expected = 800.0 / (size * 1.1328);
        QVERIFY2(std::abs(perPage - expected) < 2, qPrintable(QString::number(perPage)));
    }
}

void TestPrinter::namesNeverOverwrite() {
    platform().setFixedNow(QDateTime(QDate(2026, 12, 5), QTime(10, 55, 30)));
    const QString earlier = QDir(out_).filePath("velario-20261205-105530-1.pdf");
    {
        QFile file(earlier);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("earlier");
    }

    Printer& printer = Printer::instance();
    QStringList destinations;
    for (int i = 0; i < 3; ++i) {
        printer.print({QStringLiteral("documento %1").arg(i)});
        QVERIFY(!printer.endDoc());
        destinations.append(QFileInfo(printer.lastDocument().destination).fileName());
    }
    QCOMPARE(destinations,
             (QStringList{"velario-20261205-105530-2.pdf", "velario-20261205-105530-3.pdf",
                          "velario-20261205-105530-4.pdf"}));
    QFile file(earlier);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("earlier"));
    for (int i = 0; i < 3; ++i) {
        const QString text = pdfLayoutText(QDir(out_).filePath(destinations[i]));
        QCOMPARE(text.trimmed(), QStringLiteral("documento %1").arg(i));
    }
    // No temporary files left behind.
    QCOMPARE(allFiles(out_), QStringList{QFileInfo(earlier).fileName()} + destinations);
}

// The hidden files of documents whose program died while writing them go when the next
// document starts; those another running copy holds (locked), or may have just made, stay.
void TestPrinter::abandonedPartsRemoved() {
    const auto leave = [&](const char* name, qint64 age) {
        QFile file(QDir(out_).filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write("%PDF-1.4") > 0 && file.flush() &&
               file.setFileTime(QDateTime::currentDateTime().addSecs(-age),
                                QFileDevice::FileModificationTime);
    };
    QVERIFY(leave(".velario-Dead01.part", 3600));
    QVERIFY(leave(".velario-Held01.part", 3600));
    QVERIFY(leave(".velario-Newest.part", 0));
    QVERIFY(leave(".velario-notes.txt", 3600));
    QFile held(QDir(out_).filePath(".velario-Held01.part"));
    QVERIFY(held.open(QIODevice::ReadOnly) && ::flock(held.handle(), LOCK_EX) == 0);

    Printer& printer = Printer::instance();
    printer.print({QStringLiteral("documento")});
    QStringList parts = allFiles(out_).filter(".part");
    QCOMPARE(parts.size(), 3);
    parts.removeAll(".velario-Held01.part");
    parts.removeAll(".velario-Newest.part");
    // The document under way is held like the other copy's.
    QFile ours(QDir(out_).filePath(parts.value(0)));
    QVERIFY(ours.open(QIODevice::ReadOnly));
    QCOMPARE(::flock(ours.handle(), LOCK_EX | LOCK_NB), -1);
    QVERIFY(!printer.endDoc());
    QCOMPARE(allFiles(out_),
             (QStringList{".velario-Held01.part", ".velario-Newest.part", ".velario-notes.txt",
                          QFileInfo(printer.lastDocument().destination).fileName()}));
}

// A folder that is missing or will not take the document.
void TestPrinter::undeliverable_data() {
    QTest::addColumn<bool>("readOnly");
    QTest::newRow("missing folder") << false;
    QTest::newRow("read-only folder") << true;
}

void TestPrinter::undeliverable() {
    QFETCH(bool, readOnly);
    const QString folder = dir_->filePath("target");
    const auto restore = qScopeGuard([&] {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    if (readOnly) {
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        QFile probe(QDir(folder).filePath("probe"));
        if (probe.open(QIODevice::WriteOnly))
            QSKIP("permissions do not stop this user from writing");
    }

    Printer& printer = Printer::instance();
    printer.setPdfFolder(folder);
    printer.print({"perso"});
    const Error error = printer.endDoc();
    QCOMPARE(error.number, int(ErrorNumber::PrinterError));
    QVERIFY2(error.description.contains(folder), qPrintable(error.description));
    QVERIFY(documentEvents().isEmpty());
    QCOMPARE(printer.lastDocument().pages, 0);
    QVERIFY(allFiles(folder).isEmpty());

    // The failed document is gone; the next one starts afresh.
    printer.setPdfFolder(out_);
    printer.print({"nuovo"});
    QVERIFY(!printer.endDoc());
    QCOMPARE(documentEvents().size(), 1);
    QCOMPARE(printer.lastDocument().lines.size(), 1);
}

void TestPrinter::fontSize_data() {
    QTest::addColumn<float>("written");
    QTest::addColumn<float>("inEffect");
    QTest::addColumn<QString>("text");
    QTest::newRow("half point") << 8.5f << 8.5f << "MMMMMMMMMM";
    QTest::newRow("off the grid") << 7.77f << 7.75f << "MMMMMMMMMM";
    QTest::newRow("too small") << 0.3f << 1.0f << "MMMMMMMMMM";
    QTest::newRow("too large") << 5000.0f << 720.0f << "M";
    QTest::newRow("zero refused") << 0.0f << 10.0f << "MMMMMMMMMM";
    QTest::newRow("NaN refused") << std::nanf("") << 10.0f << "MMMMMMMMMM";
}

void TestPrinter::fontSize() {
    QFETCH(float, written);
    QFETCH(float, inEffect);
    QFETCH(QString, text);

    Printer& printer = Printer::instance();
    printer.setFontName("COURIER NEW");
    const Error error = printer.setFontSize(written);
    QCOMPARE(error.number, written > 0 ? 0 : int(ErrorNumber::InvalidArgument));
    QCOMPARE(printer.fontSize(), inEffect);

    // The size read back is the one on paper.
    printer.print({text});
    QVERIFY(!printer.endDoc());
    const QString bbox = tool("pdftotext", {"-bbox", printer.lastDocument().destination, "-"});
    const auto word =
        QRegularExpression(R"re(xMin="([\d.]+)".*xMax="([\d.]+)".*>M+<)re").match(bbox);
    QVERIFY2(word.hasMatch(), qPrintable(bbox));
    const double width = word.captured(2).toDouble() - word.captured(1).toDouble();
    const double expected = text.size() * kAdvancePerPoint * inEffect;
    QVERIFY2(std::abs(width / expected - 1) < 0.001,
             qPrintable(QStringLiteral("%1 wide, expected %2").arg(width).arg(expected)));
}

void TestPrinter::defaultFolder() {
    if (!QPrinterInfo::defaultPrinter().isNull())
        QSKIP("a default printer is installed; the document would go there");
    const QByteArray home = qgetenv("HOME");
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    const auto restore = qScopeGuard([&] {
        qputenv("HOME", home);
        config.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", config);
    });
    qputenv("HOME", QFile::encodeName(dir_->path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_->filePath("config")));
    const QString expected = QDir(dir_->path()).filePath("Documents/velario");
    QCOMPARE(Printer::defaultPdfFolder(), expected);

    Printer& printer = Printer::instance();
    printer.setPdfFolder({});
    printer.print({"senza stampante"});
    QVERIFY(!printer.endDoc());
    QCOMPARE(QFileInfo(printer.lastDocument().destination).absolutePath(), expected);
    QCOMPARE(pdfFiles(expected).size(), 1);
}

QTEST_MAIN(TestPrinter)
#include "tst_printer.moc"
