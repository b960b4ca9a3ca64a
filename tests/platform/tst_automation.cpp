#include "controls/controls.h"
#include "platform/automation.h"
#include "platform/document_spool.h"
#include "platform/form.h"
#include "platform/platform.h"
#include "support/harness.h"
#include "support/pdf_lines.h"

#include <QDeadlineTimer>
#include <QPushButton>
#include <QTest>
#include <QThread>

#include <atomic>

using namespace velario;
using velario::test::InProcess;

namespace {

// A window whose handlers leave a trace.
class ProbeForm : public Form {
public:
    ProbeForm() : Form(QStringLiteral("frmProbe")) {
        auto* ok = new CommandButton(QStringLiteral("cmdOK"), QStringLiteral("Aggiorna"), this);
        (new CommandButton(QStringLiteral("cmdOFF"), QStringLiteral("Nuovo"), this))
            ->setEnabled(false);
        auto* odbc = new OptionButton(QStringLiteral("Option1"), QStringLiteral("ODBC"), this);
        connect(ok, &QPushButton::clicked, this, [this] {
            trace << "click:" + QString::number(platform().msgBox("Confermi ?", 36));
        });
        connect(code, &TextBox::lostFocus, this, [this] { trace << "lost:" + code->text(); });
        connect(odbc, &OptionButton::selected, this, [this] { trace << "odbc"; });
    }
    TextBox* code = new TextBox(QStringLiteral("txtCODE"), this);
    MemoBox* memo = new MemoBox(QStringLiteral("txtMEMO"), this);
    QStringList trace;
};

// The script's result with a window open, and what its handlers did.
QPair<int, QStringList> runScript(const QByteArray& script, InProcess& capture) {
    auto* form = Forms::instance().create<ProbeForm>();
    form->load();
    form->showModeless();
    ScriptParseError error;
    const auto steps = parseScript(script, &error);
    QPair<int, QStringList> result{
        steps ? ScriptRunner(*steps, capture.dialogs()).run() : -error.line, {}};
    if (Forms::instance().isEmpty())
        return result;
    result.second = form->trace << form->memo->text();
    form->unload();
    waitIdle();
    return result;
}

} // namespace

class TestAutomation : public QObject {
    Q_OBJECT

private slots:
    // The focus leaves the field before the click; a queued answer is used once, then the
    // default button answers; steps that cannot run stop the script, a script that cannot be
    // read (-line) does not start.
    void steps_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("trace"); // ending with the memo's text
        QTest::newRow("drive the window")
            << QByteArray("# x\n\ntype frmProbe.txtCODE ABC\nclick frmProbe.Option1\nanswer 7\n"
                          "click frmProbe.cmdOK\nclick frmProbe.cmdOK\n"
                          "type frmProbe.txtMEMO \"select \\\"1\\\"\\r\\nfrom t\"\n")
            << 0 << QStringList{"lost:ABC", "odbc", "click:7", "click:6", "select \"1\"\r\nfrom t"};
        for (const char* step :
             {"click frmProbe.cmdOFF", "click frmNone.cmdOK", "key frmProbe.txtCODE NoSuchKey"})
            QTest::newRow(step) << "dump\n" + QByteArray(step) + "\ndump\n"
                                << 3 << QStringList{QString()};
        // Steps after the last window closed are not run: the unknown control is never seen.
        QTest::newRow("closing the last window ends the script")
            << QByteArray("close frmProbe\nclick frmProbe.cmdNONE\n") << 0 << QStringList();
        const QList<QPair<const char*, int>> unreadable{{"click a.b\nfrobnicate\n", -2},
                                                        {"click cmdOK\n", -1},
                                                        {"\nrow w.g x\n", -2},
                                                        {"edit w.g 3 1 X Y\n", 3},
                                                        {"dump\nchoose-version uno\n", -2},
                                                        {"cancel-version 1\n", -1}};
        for (const auto& [script, line] : unreadable)
            QTest::newRow(script) << QByteArray(script) << line << QStringList{QString()};
    }

    void steps() {
        QFETCH(QByteArray, script);
        QFETCH(int, result);
        QFETCH(QStringList, trace);
        InProcess capture;
        QCOMPARE(runScript(script, capture), qMakePair(result, trace));
    }

    // Work that outlasts the delay shows the progress dialog: a queued Cancel stops it, any
    // other queued answer is left for its message box, work that ends first shows nothing.
    void progress_data() {
        QTest::addColumn<int>("milliseconds"); // -1: until stopped
        QTest::addColumn<int>("queued");
        QTest::addColumn<QStringList>("told");
        QTest::newRow("stopped") << -1 << 2 << QStringList{"progress:Lavoro|2"};
        QTest::newRow("another answer waits for its box")
            << 1300 << 7 << QStringList{"progress:Lavoro|null", "msgbox:|T|4"};
        QTest::newRow("quick work shows nothing") << 0 << 2 << QStringList{"msgbox:|T|4"};
    }

    void progress() {
        QFETCH(int, milliseconds);
        QFETCH(int, queued);
        QFETCH(QStringList, told);
        InProcess capture;
        capture.dialogs().queueAnswer(queued);
        std::atomic<bool> stop{false};
        const bool stopped = platform().runCancellable(
            "Lavoro", "T",
            [&] {
                const QDeadlineTimer end(milliseconds < 0 ? -1 : milliseconds);
                while (!stop && !end.hasExpired())
                    QThread::msleep(5);
            },
            [&] { stop = true; });
        QCOMPARE(stopped, milliseconds < 0);
        if (!stopped)
            QCOMPARE(platform().msgBox(QString(), MsgBox::YesNo, "T"), queued);
        QCOMPARE(capture.summary(), told);
    }

    // A document's lines go to the transcript as they are printed: an event told meanwhile
    // comes first and whole, the document after it whole; a document dropped leaves nothing.
    void documentLines_data() {
        QTest::addColumn<bool>("beepBetween");
        QTest::addColumn<bool>("delivered");
        QTest::addColumn<QStringList>("told");
        QTest::newRow("printed") << false << true << QStringList{"beep", "document", "beep"};
        QTest::newRow("a beep while printing")
            << true << true << QStringList{"beep", "beep", "document", "beep"};
        QTest::newRow("dropped") << false << false << QStringList{"beep", "beep"};
        QTest::newRow("dropped after a beep")
            << true << false << QStringList{"beep", "beep", "beep"};
    }

    void documentLines() {
        QFETCH(bool, beepBetween);
        QFETCH(bool, delivered);
        QFETCH(QStringList, told);
        InProcess capture;
        platform().beep();
        DocumentSpool spool;
        // Not started, it takes no lines: the printer builds none for it.
        QVERIFY(!spool.active());
        spool.start();
        const PrintFont font;
        spool.addAsciiLine("uno \"1\"", font);
        if (beepBetween)
            platform().beep();
        spool.beginLine();
        spool.addRun(QStringLiteral("due è"), font);
        spool.endLine();
        if (delivered)
            spool.deliver(QStringLiteral("x.pdf"));
        else
            spool.drop();
        platform().beep();
        QCOMPARE(capture.summary(), told);
        const QList<QJsonObject> events = capture.events();
        for (const QJsonObject& event : events)
            QVERIFY(event["t"].isDouble());
        if (!delivered)
            return;
        const QJsonObject document = events[told.indexOf("document")];
        QCOMPARE(document["destination"].toString(), QStringLiteral("x.pdf"));
        QStringList lines;
        for (const QJsonValue line : document["lines"].toArray())
            lines << test::lineText(line);
        QCOMPARE(lines, (QStringList{"uno \"1\"", "due è"}));
    }
};

QTEST_MAIN(TestAutomation)
#include "tst_automation.moc"
