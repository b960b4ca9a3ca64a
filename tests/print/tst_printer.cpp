#include "platform/platform.h"
#include "print/printer.h"
#include "support/harness.h"
#include "support/pdf_lines.h"

#include <QDir>
#include <QFile>
#include <QPrinterInfo>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/file.h>
#include <unistd.h>

using namespace velario;

namespace {

QStringList allFiles(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class TestPrinter : public QObject {
    Q_OBJECT

    std::unique_ptr<test::InProcess> session_;
    std::unique_ptr<QTemporaryDir> dir_;
    QString out_;

    QList<QJsonObject> documents() const {
        return test::ProgramRun{0, false, session_->events(), {}}.eventsOf("document");
    }

    // The lines of the documents in the transcript, each run as "[text]" in plain Courier New
    // 10, else as "[text|font|size|bu]", with what is wrong with where each went.
    QStringList transcribed() const {
        QStringList lines;
        const QList<QJsonObject> events = documents();
        for (const QJsonObject& e : events) {
            const QFileInfo to(e["destination"].toString());
            if ((&e == &events.last() &&
                 to.filePath() != Printer::instance().lastDocument().destination) ||
                !to.isAbsolute() || !to.exists() || to.absolutePath() != QDir(out_).absolutePath())
                lines << "<delivered to " + to.filePath() + ">";
            for (const QJsonValue line : e["lines"].toArray()) {
                QString out;
                for (const QJsonValue r : line.toArray()) {
                    const QString style = QStringLiteral("|%1|%2|%3%4")
                                              .arg(r["font"].toString())
                                              .arg(r["size"].toDouble())
                                              .arg(r["bold"].toBool() ? "b" : "-",
                                                   r["underline"].toBool() ? "u" : "-");
                    out += '[' + r["text"].toString() +
                           (style == "|Courier New|10|--" ? "" : style) + ']';
                }
                lines << out;
            }
        }
        return lines;
    }

private slots:
    void init() {
        session_ = std::make_unique<test::InProcess>();
        dir_ = std::make_unique<QTemporaryDir>();
        out_ = dir_->filePath("out");
        QVERIFY(dir_->isValid() && QDir().mkpath(out_));
        Printer::instance().reset();
        Printer::instance().setPdfFolder(out_);
    }

    void cleanup() {
        Printer::instance().reset();
        Printer::instance().setPdfFolder({});
        platform().setFixedNow({});
        session_.reset();
        dir_.reset();
    }

    // Steps separated by ';': "p=a+b" prints the items a and b, "o=..." the same with an
    // open end, a bare "p" prints no items; B/b, U/u turn bold
    // and underline on/off; "s=9" sets the size and "f=NAME" the face. The lines are checked
    // in the transcript and on paper.
    void runs_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("pages");

        QTest::newRow("nothing printed, nothing delivered") << "" << QStringList{} << 0;
        QTest::newRow("items, open ends, no items")
            << "o=a;B;b;o=b;s=10.01;p=c;p=ab++c d+e;p;o=ab;o=cd;p=ef;o="
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
            << "p=SELECT *\r\nFROM t\nWHERE x\rORDER BY y;p=\r\n\n\r\ra\n;p=a\r+\nb;o=a\nb;B;p=c"
            << QString("[SELECT *]\n[FROM t]\n[WHERE x]\n[ORDER BY y]\n\n\n\n\n[a]\n\n[a]\n[b]\n"
                       "[a]\n[b][c|Courier New|10|b-]")
                   .split('\n')
            << 1;
        // Sizes as in effect (off the grid, too small, too large; zero and NaN refused), and
        // characters the face lacks drawn by another one.
        QString ascii;
        for (char16_t c = 0x21; c < 0x7F; ++c)
            ascii += c == ';' || c == '+' ? QChar() : QChar(c);
        ascii.remove(QChar());
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
            << "s=9;p=" + x100 + " " + y20 + ";p=" + z150 + ";p=ab" + QString(150, u' ') +
                   ";o=" + x100 + ";B;p=" + QString(10, u'b')
            << QStringList{"[" + x100 + " |Courier New|9|--]",
                           "[" + y20 + "|Courier New|9|--]",
                           "[" + z150.left(106) + "|Courier New|9|--]",
                           "[" + z150.mid(106) + "|Courier New|9|--]",
                           "[ab" + QString(150, u' ') + "|Courier New|9|--]",
                           "[" + x100 + "|Courier New|9|--][bbbbbb|Courier New|9|b-]",
                           "[bbbb|Courier New|9|b-]"}
            << 1;
        // Across fonts the line goes on where it would in one: after the last blank of a later
        // run, and at the end of a run that ends with the blank it goes on after.
        const QString x60(60, u'x'), x80(80, u'x'), y30(30, u'y'), z30(30, u'z'), y40(40, u'y');
        QTest::newRow("wider than the page, across fonts")
            << "s=9;o=" + x60 + ";B;p= " + y30 + " " + z30 + ";b;o=" + x80 + " ;B;p=" + y40
            << QStringList{"[" + x60 + "|Courier New|9|--][ " + y30 + " |Courier New|9|b-]",
                           "[" + z30 + "|Courier New|9|b-]", "[" + x80 + " |Courier New|9|--]",
                           "[" + y40 + "|Courier New|9|b-]"}
            << 1;
        QTest::newRow("right to left, wide and missing characters")
            << "s=9;p=שלום+ abc+ 12;p=مرحبا بالعالم+ 3;p=漢字テスト+ a+ 😀+ b;p=x\U0010FFFDy+ z"
            << QStringList{"[שלום abc 12|Courier New|9|--]", "[مرحبا بالعالم 3|Courier New|9|--]",
                           "[漢字テスト a 😀 b|Courier New|9|--]",
                           QString("[x\U0010FFFDy z|Courier New|9|--]")}
            << 1;
        QString steps = "s=7";
        QStringList lines;
        for (int i = 1; i <= 3000; ++i) {
            steps += QStringLiteral(";p=riga %1").arg(i);
            lines << QStringLiteral("[riga %1|Courier New|7|--]").arg(i);
        }
        QTest::newRow("more pages than are written at once") << steps << lines << 30;
        // Text that repeats little: its pages are coded with Huffman codes alone.
        steps = "s=7";
        lines.clear();
        QRandomGenerator random(5);
        for (int i = 1; i <= 600; ++i) {
            QString hex;
            for (int cell = 0; cell < 6; ++cell)
                hex += u' ' + QString::number(random.generate64(), 16).rightJustified(16, u'0');
            steps += ";p=" + hex;
            lines << "[" + hex + "|Courier New|7|--]";
        }
        QTest::newRow("pages of hexadecimal") << steps << lines << 6;
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
        QCOMPARE(transcribed(), lines);
        QCOMPARE(printer.lastDocument().pages, pages);
        QCOMPARE(allFiles(out_).size(), lines.isEmpty() ? 0 : 1);
        const QString differs = lines.isEmpty() ? QString() : test::paperDiffers(documents()[0]);
        QVERIFY2(differs.isEmpty(), qPrintable(differs));
    }

    // A document written to the default folder, for want of a printer, is opened for the
    // user to see; never when a script answers (automation), nor in a folder given.
    void shownToUser_data() {
        QTest::addColumn<bool>("widgets");
        QTest::addColumn<bool>("folderGiven");
        QTest::newRow("script, default folder") << false << false;
        QTest::newRow("widgets, default folder") << true << false;
        QTest::newRow("widgets, folder given") << true << true;
    }

    void shownToUser() {
        QFETCH(bool, widgets);
        QFETCH(bool, folderGiven);
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
        platform().setDocumentOpener([&](const QString& path) {
            opened << path;
            return true;
        });
        if (widgets)
            platform().setDialogs(makeWidgetDialogs());
        Printer& printer = Printer::instance();
        printer.setPdfFolder(folderGiven ? out_ : QString());
        printer.print({"visto"});
        QVERIFY(!printer.endDoc());
        const QString made = printer.lastDocument().destination;
        QVERIFY2(made.startsWith(folderGiven ? out_ : dir_->path()), qPrintable(made));
        QCOMPARE(opened, widgets && !folderGiven ? QStringList{made} : QStringList{});
    }

    // Names never overwrite a file. The hidden files of documents whose program died while
    // writing them go when the next document starts; those another running copy holds
    // (locked), or may have just made, stay.
    void folderContents() {
        platform().setFixedNow(QDateTime(QDate(2026, 12, 5), QTime(10, 55, 30)));
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
        QCOMPARE(allFiles(out_), kept);
    }

    // A folder that will not take the document, tried as the user nobody when root, since
    // root writes wherever it likes. (One that is missing, or a file, is met by every report
    // in the faults suite.)
    void readOnlyFolder() {
        const QString folder = dir_->filePath("target");
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner |
                                                  QFile::ReadOther | QFile::ExeOther));
        Printer& printer = Printer::instance();
        printer.setPdfFolder(folder);
        Error error;
        {
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
        QCOMPARE(printer.lastDocument().pages, 0);
        QVERIFY(allFiles(folder).isEmpty());

        // The failed document is gone; the next one starts afresh.
        printer.setPdfFolder(out_);
        printer.print({"nuovo"});
        QVERIFY(!printer.endDoc());
        QCOMPARE(transcribed(), QStringList{"[nuovo]"});
    }
};

QTEST_MAIN(TestPrinter)
#include "tst_printer.moc"
