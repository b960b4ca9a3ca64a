#include "platform/platform.h"
#include "platform/transcript.h"
#include "print/pdf_lines.h"
#include "print/printer.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QPrinterInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/file.h>
#include <unistd.h>

using namespace velario;

namespace {

// Standard output of a tool, and what it said on its error output (where a reader that had
// to mend a file says so) when anything.
QString tool(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return QStringLiteral("<%1 failed>").arg(program);
    const QByteArray errors = process.readAllStandardError();
    return QString::fromUtf8(process.readAllStandardOutput() + errors);
}

QStringList nonBlankLines(const QString& text) {
    QStringList lines = text.split('\n');
    lines.removeIf([](const QString& l) { return l.trimmed().isEmpty(); });
    return lines;
}

QStringList allFiles(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class TestPrinter : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    QString out_;

    QList<QJsonObject> documentEvents() const {
        QFile file(dir_->filePath("transcript.jsonl"));
        QList<QJsonObject> events;
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray& line : file.readAll().split('\n'))
                if (const QJsonObject e = QJsonDocument::fromJson(line).object();
                    e["event"] == "document")
                    events.append(e);
        return events;
    }

    // The lines of the documents in the transcript, each run as "[text|font|size|bu]", with
    // what is wrong with where each went.
    QStringList transcribed() const {
        QStringList lines;
        const QList<QJsonObject> events = documentEvents();
        for (const QJsonObject& e : events) {
            const QFileInfo to(e["destination"].toString());
            if ((&e == &events.last() &&
                 to.filePath() != Printer::instance().lastDocument().destination) ||
                !to.isAbsolute() || !to.exists() || to.absolutePath() != QDir(out_).absolutePath())
                lines << "<delivered to " + to.filePath() + ">";
            for (const QJsonValue line : e["lines"].toArray()) {
                QString out;
                for (const QJsonValue r : line.toArray())
                    out += QStringLiteral("[%1|%2|%3|%4%5]")
                               .arg(r["text"].toString(), r["font"].toString(),
                                    QString::number(r["size"].toDouble()),
                                    r["bold"].toBool() ? "b" : "-",
                                    r["underline"].toBool() ? "u" : "-");
                lines << out;
            }
        }
        return lines;
    }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        out_ = dir_->filePath("out");
        QVERIFY(dir_->isValid() && QDir().mkpath(out_));
        QVERIFY(Transcript::instance().open(dir_->filePath("transcript.jsonl")));
        Printer::instance().reset();
        Printer::instance().setPdfFolder(out_);
    }

    void cleanup() {
        Printer::instance().reset();
        Printer::instance().setPdfFolder({});
        Transcript::instance().close();
        platform().setFixedNow({});
        dir_.reset();
    }

    // Steps separated by ';': "p=a+b" prints the items a and b, "o=..." the same with an
    // open end, a bare "p" prints no items; B/b, U/u turn bold and underline on/off; "s=9"
    // sets the size and "f=NAME" the face. The lines are checked on the document, in the
    // transcript and on paper.
    void runs_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QStringList>("lines");

        const QString plain = "|Courier New|10|--]";
        QTest::newRow("nothing printed, nothing delivered") << "" << QStringList{};
        QTest::newRow("items side by side") << "p=ab++c d+e" << QStringList{"[abc de" + plain};
        QTest::newRow("no items") << "p=a;p;p=b" << QStringList{"[a" + plain, "", "[b" + plain};
        QTest::newRow("open end continues the line")
            << "o=ab;o=cd;p=ef;p=g" << QStringList{"[abcdef" + plain, "[g" + plain};
        QTest::newRow("open empty print adds nothing") << "p=a;o=" << QStringList{"[a" + plain};
        QTest::newRow("bold inside a line")
            << "f=COURIER NEW;s=9;o=Totale: ;B;o=12,50;b;p= euro"
            << QStringList{
                   "[Totale: |COURIER NEW|9|--][12,50|COURIER NEW|9|b-][ euro|COURIER NEW|9|--]"};
        QTest::newRow("underline, escapes and non-ASCII")
            << "s=7;U;p=fine;u;p=\"virgolette\" \\ \t\x01 àè€"
            << QStringList{"[fine|Courier New|7|-u]",
                           "[\"virgolette\" \\ \t\x01 àè€|Courier New|7|--]"};
        QTest::newRow("font toggled back merges")
            << "o=a;B;b;o=b;s=10.01;p=c" << QStringList{"[abc" + plain};
        QTest::newRow("every kind of break")
            << "p=SELECT *\r\nFROM t\nWHERE x\rORDER BY y"
            << QStringList{"[SELECT *" + plain, "[FROM t" + plain, "[WHERE x" + plain,
                           "[ORDER BY y" + plain};
        QTest::newRow("blank lines from breaks") << "p=\r\n\n\r\ra\n"
                                                 << QStringList{"", "", "", "", "[a" + plain, ""};
        QTest::newRow("crlf split across items")
            << "p=a\r+\nb" << QStringList{"[a" + plain, "[b" + plain};
        QTest::newRow("break inside an open print")
            << "o=a\nb;B;p=c" << QStringList{"[a" + plain, "[b" + plain + "[c|Courier New|10|b-]"};
    }

    void runs() {
        QFETCH(QString, steps);
        QFETCH(QStringList, lines);

        Printer& printer = Printer::instance();
        for (const QString& step : steps.split(';', Qt::SkipEmptyParts)) {
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
            else
                printer.setFontUnderline(step == "U");
        }
        QVERIFY(!printer.endDoc());
        QCOMPARE(transcribed(), lines);
        const QString differs =
            lines.isEmpty() ? QString() : test::paperDiffers(documentEvents()[0]);
        QVERIFY2(differs.isEmpty(), qPrintable(differs));

        // The next print belongs to a fresh document.
        printer.print({"next"});
        QVERIFY(!printer.endDoc());
        QCOMPARE(transcribed().size(), lines.size() + 1);
        QCOMPARE(allFiles(out_).size(), lines.isEmpty() ? 1 : 2);
    }

    // Lines given as ASCII bytes, many enough for the faces to take their short way with
    // plain ASCII, reach paper and transcript as they were printed.
    void asciiLines() {
        Printer& printer = Printer::instance();
        printer.setFontName("COURIER NEW");
        printer.setFontSize(7);
        QStringList expected;
        for (int i = 0; i < 90; ++i) { // one page of lines, as long as fit
            QByteArray line = "f(" + QByteArray::number(i) + ") \\ g)( \"q\"" +
                              QByteArray(i % 37, ' ') + QByteArray(50 + i % 23, 'x') + "\\\\ ))";
            if (i % 50 == 7)
                line = QByteArray(i % 3, ' ');
            if (i % 4 == 1)
                line += QByteArray(i % 9, ' ');
            if (i == 45)
                printer.setFontBold(true);
            if (i == 60)
                printer.print({QString::fromLatin1(line += "\t\xe8 fine")});
            else
                printer.printAsciiLine(line);
            expected << (line.isEmpty() ? QString()
                                        : QStringLiteral("[%1|COURIER NEW|7|%2-]")
                                              .arg(QString::fromLatin1(line), i >= 45 ? "b" : "-"));
        }
        QVERIFY(!printer.endDoc());
        QCOMPARE(transcribed(), expected);
        const QString differences = test::paperDiffers(documentEvents().value(0));
        QVERIFY2(differences.isEmpty(), qPrintable(differences));
    }

    // The size in effect is the one on paper, the text reads back as printed, in regular and
    // bold, and the PDF names the faces that drew it.
    void onPaper_data() {
        QTest::addColumn<float>("written");
        QTest::addColumn<float>("inEffect");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("face");
        const QString m10(10, u'M'), mono = "LiberationMono";
        QTest::newRow("half point") << 8.5f << 8.5f << m10 << mono;
        QTest::newRow("off the grid") << 7.77f << 7.75f << m10 << mono;
        QTest::newRow("too small") << 0.3f << 1.0f << m10 << mono;
        QTest::newRow("too large") << 5000.0f << 720.0f << "M" << mono;
        QTest::newRow("zero refused") << 0.0f << 10.0f << m10 << mono;
        QTest::newRow("NaN refused") << std::nanf("") << 10.0f << m10 << mono;
        QString ascii;
        for (char16_t c = 0x21; c < 0x7F; ++c)
            ascii += QChar(c);
        QTest::newRow("every printable ASCII character") << 9.0f << 9.0f << ascii << mono;
        QTest::newRow("Italian and Latin-1")
            << 9.0f << 9.0f << QString("àèéìòù ÀÈÉÌÒÙ çÇñÑ €£§°ß «»¿¡") << mono;
        QTest::newRow("characters the face lacks")
            << 9.0f << 9.0f << QString("pericolo ☠ ☢ fine") << "DejaVu";
    }

    void onPaper() {
        QFETCH(float, written);
        QFETCH(float, inEffect);
        QFETCH(QString, text);
        QFETCH(QString, face);

        Printer& printer = Printer::instance();
        printer.setFontName("COURIER NEW");
        const Error error = printer.setFontSize(written);
        QCOMPARE(error.number, written > 0 ? 0 : int(ErrorNumber::InvalidArgument));
        QCOMPARE(printer.fontSize(), inEffect);
        printer.print({text});
        printer.setFontBold(true);
        printer.print({text});
        QVERIFY(!printer.endDoc());

        const QString pdf = printer.lastDocument().destination;
        QCOMPARE(nonBlankLines(tool("pdftotext", {pdf, "-"}).remove(u'\f')),
                 (QStringList{text, text}));
        QVERIFY2(tool("pdffonts", {pdf}).contains(face), qPrintable(tool("pdffonts", {pdf})));
        // Every glyph of Liberation Mono is 0.6 em wide.
        const QString bbox = tool("pdftotext", {"-bbox", pdf, "-"});
        const auto word = QRegularExpression(R"re(xMin="([\d.]+)".*xMax="([\d.]+)")re").match(bbox);
        QVERIFY2(word.hasMatch(), qPrintable(bbox));
        const double width = word.captured(2).toDouble() - word.captured(1).toDouble();
        const double expected = text.section(' ', 0, 0).size() * 0.6 * inEffect;
        QVERIFY2(std::abs(width / expected - 1) < 0.001,
                 qPrintable(QStringLiteral("%1 wide, expected %2").arg(width).arg(expected)));
    }

    void pages_data() {
        QTest::addColumn<float>("size");
        QTest::addColumn<int>("count");
        QTest::newRow("6 pt") << 6.0f << 300;
        QTest::newRow("one page") << 9.0f << 20;
        QTest::newRow("more pages than are written at once") << 7.0f << 3000;
    }

    void pages() {
        QFETCH(float, size);
        QFETCH(int, count);

        Printer& printer = Printer::instance();
        printer.setFontSize(size);
        for (int i = 1; i <= count; ++i)
            printer.print({QStringLiteral("riga %1").arg(i)});
        QVERIFY(!printer.endDoc());

        const QString pdf = printer.lastDocument().destination;
        QList<QStringList> pageLines;
        for (const QString& text : tool("pdftotext", {"-layout", pdf, "-"}).split('\f'))
            if (const QStringList lines = nonBlankLines(text); !lines.isEmpty())
                pageLines.append(lines);
        QVERIFY(tool("pdfinfo", {pdf})
                    .contains(QRegularExpression(
                        QStringLiteral("Pages:\\s+%1\\n").arg(pageLines.size()))));
        QCOMPARE(printer.lastDocument().pages, pageLines.size());

        // Every line once, in order, and each page but the last one filled.
        int next = 1;
        for (const QStringList& lines : pageLines)
            for (const QString& line : lines)
                QCOMPARE(line.trimmed(), QStringLiteral("riga %1").arg(next++));
        QCOMPARE(next, count + 1);
        const qsizetype perPage = pageLines.first().size();
        for (qsizetype i = 0; i + 1 < pageLines.size(); ++i)
            QCOMPARE(pageLines[i].size(), perPage);
        QCOMPARE(pageLines.size(), (count + perPage - 1) / perPage);
        // A page holds what its height allows: roughly 800 points over 1.13 em per line.
        if (pageLines.size() > 1)
            QVERIFY2(std::abs(perPage - 800.0 / (size * 1.1328)) < 2,
                     qPrintable(QString::number(perPage)));
    }

    // Names never overwrite a file. The hidden files of documents whose program died while
    // writing them go when the next document starts; those another running copy holds
    // (locked), or may have just made, stay; the document under way is held the same way.
    void folderContents() {
        platform().setFixedNow(QDateTime(QDate(2026, 12, 5), QTime(10, 55, 30)));
        const auto leave = [&](const QString& name, qint64 age) {
            QFile file(QDir(out_).filePath(name));
            return file.open(QIODevice::WriteOnly) && file.write("%PDF-1.4") > 0 && file.flush() &&
                   file.setFileTime(QDateTime::currentDateTime().addSecs(-age),
                                    QFileDevice::FileModificationTime);
        };
        QStringList kept{".velario-Held01.part", ".velario-Newest.part", ".velario-notes.txt",
                         "velario-20261205-105530-1.pdf"};
        QVERIFY(leave(".velario-Dead01.part", 3600) && leave(kept[0], 3600));
        QVERIFY(leave(kept[1], 0) && leave(kept[2], 3600) && leave(kept[3], 0));
        QFile held(QDir(out_).filePath(kept[0]));
        QVERIFY(held.open(QIODevice::ReadOnly) && ::flock(held.handle(), LOCK_EX) == 0);

        Printer& printer = Printer::instance();
        for (int i = 0; i < 3; ++i) {
            printer.print({QStringLiteral("documento %1").arg(i)});
            QStringList parts = allFiles(out_).filter(".part");
            parts.removeAll(kept[0]);
            parts.removeAll(kept[1]);
            QCOMPARE(parts.size(), 1);
            QFile ours(QDir(out_).filePath(parts.value(0)));
            QVERIFY(ours.open(QIODevice::ReadOnly));
            QCOMPARE(::flock(ours.handle(), LOCK_EX | LOCK_NB), -1);
            QVERIFY(!printer.endDoc());
            kept << QFileInfo(printer.lastDocument().destination).fileName();
            QCOMPARE(kept.last(), QStringLiteral("velario-20261205-105530-%1.pdf").arg(i + 2));
            QCOMPARE(
                tool("pdftotext", {"-layout", printer.lastDocument().destination, "-"}).trimmed(),
                QStringLiteral("documento %1").arg(i));
        }
        QCOMPARE(allFiles(out_), kept);
        QFile earlier(QDir(out_).filePath(kept[3]));
        QVERIFY(earlier.open(QIODevice::ReadOnly));
        QCOMPARE(earlier.readAll(), QByteArray("%PDF-1.4"));
    }

    // A folder that will not take the document. (One that is missing, or a file, is met
    // by every report in the faults suite.)
    void readOnlyFolder() {
        const QString folder = dir_->filePath("target");
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner |
                                                  QFile::ReadOther | QFile::ExeOther));
        Printer& printer = Printer::instance();
        printer.setPdfFolder(folder);
        Error error;
        {
            // Root writes wherever it likes: the folder is tried as the user nobody, whom the
            // temporary folder must let reach it.
            const bool root = geteuid() == 0;
            QVERIFY(!root || QFile::setPermissions(dir_->path(), QFile::permissions(dir_->path()) |
                                                                     QFile::ExeOther));
            const auto restore = qScopeGuard([&] {
                if (root && (seteuid(0) != 0 || setegid(0) != 0))
                    qFatal("cannot become root again");
            });
            QVERIFY2(!root || (setegid(65534) == 0 && seteuid(65534) == 0),
                     "cannot switch to the user nobody");
            QFile probe(QDir(folder).filePath("probe"));
            QVERIFY2(!probe.open(QIODevice::WriteOnly), "the read-only folder took a file");
            printer.print({"perso"});
            error = printer.endDoc();
        }
        QCOMPARE(error.number, int(ErrorNumber::PrinterError));
        QVERIFY2(error.description.contains(folder), qPrintable(error.description));
        QVERIFY(documentEvents().isEmpty());
        QCOMPARE(printer.lastDocument().pages, 0);
        QVERIFY(allFiles(folder).isEmpty());

        // The failed document is gone; the next one starts afresh.
        printer.setPdfFolder(out_);
        printer.print({"nuovo"});
        QVERIFY(!printer.endDoc());
        QCOMPARE(transcribed(), QStringList{"[nuovo|Courier New|10|--]"});
    }

    void defaultFolder() {
        QVERIFY2(QPrinterInfo::defaultPrinter().isNull(),
                 "a default printer is installed, so documents would go to it: the test "
                 "machine must have none");
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
        QCOMPARE(allFiles(expected).size(), 1);
    }
};

QTEST_MAIN(TestPrinter)
#include "tst_printer.moc"
