#include "platform/automation.h"
#include "platform/controls.h"
#include "platform/form.h"
#include "platform/platform.h"
#include "platform/twips.h"
#include "support/harness.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>

using namespace velario;
using velario::test::InProcess;

namespace {

// A window with one control of each kind, whose handlers leave a trace.
class ProbeForm : public Form {
public:
    ProbeForm() : Form(QStringLiteral("frmProbe")) {
        code->setMaxLength(15);
        twips::setGeometry(code, 120, 3960, 1455, 285);
        twips::setGeometry(memo, 1800, 5280, 8895, 1815);
        new Label(QStringLiteral("lblINFO"), QStringLiteral("Codice"), this);
        auto* ok = new CommandButton(QStringLiteral("cmdOK"), QStringLiteral("Aggiorna"), this);
        (new CommandButton(QStringLiteral("cmdOFF"), QStringLiteral("Nuovo"), this))
            ->setEnabled(false);
        (new CommandButton(QStringLiteral("cmdHIDDEN"), QStringLiteral("X"), this))->hide();
        (new OptionButton(QStringLiteral("Option2"), QStringLiteral(".MDB"), this))->setValue(true);
        auto* odbc = new OptionButton(QStringLiteral("Option1"), QStringLiteral("ODBC"), this);
        connect(ok, &QPushButton::clicked, this, [this] {
            trace << "click:" + QString::number(platform().msgBox("Confermi ?", 36));
        });
        connect(code, &TextBox::lostFocus, this, [this] { trace << "lost:" + code->text(); });
        connect(odbc, &OptionButton::selected, this, [this] { trace << "odbc"; });
        setTwipsSize(11040, 7620);
        setHelpContextId(10);
        setWindowTitle(QStringLiteral("Probe"));
    }
    TextBox* code = new TextBox(QStringLiteral("txtCODE"), this);
    MemoBox* memo = new MemoBox(QStringLiteral("txtMEMO"), this);
    QStringList trace;
};

ProbeForm* showProbe() {
    auto* form = Forms::instance().create<ProbeForm>();
    form->load();
    form->showModeless();
    return form;
}

int runScript(const QByteArray& script, InProcess& capture) {
    ScriptParseError error;
    const auto steps = parseScript(script, &error);
    if (!steps)
        return -error.line;
    ScriptRunner runner(*steps, capture.dialogs());
    return runner.run();
}

} // namespace

class TestAutomation : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        Forms::instance().clear();
        waitIdle();
    }

    void parse_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<int>("badLine"); // 0: parses
        QTest::addColumn<QString>("lastText");

        QTest::newRow("comments and blank lines")
            << QByteArray("# x\n\n  \nclick a.b\n") << 0 << "";
        QTest::newRow("type takes the rest of the line")
            << QByteArray("type w.c  two  blanks \n") << 0 << " two  blanks ";
        QTest::newRow("type takes a JSON string")
            << QByteArray("type w.c \"a \\\"b\\\"\\r\"\n") << 0 << "a \"b\"\r";
        QTest::newRow("edit row column text") << QByteArray("edit w.g 3 1 X Y\r\n") << 0 << "X Y";
        QTest::newRow("unknown step") << QByteArray("click a.b\nfrobnicate\n") << 2 << "";
        QTest::newRow("control without window") << QByteArray("click cmdOK\n") << 1 << "";
        QTest::newRow("row needs a number") << QByteArray("\nrow w.g x\n") << 2 << "";
        QTest::newRow("key needs a key") << QByteArray("key w.c\n") << 1 << "";
    }

    void parse() {
        QFETCH(QByteArray, script);
        QFETCH(int, badLine);
        QFETCH(QString, lastText);
        ScriptParseError error;
        const auto steps = parseScript(script, &error);
        if (badLine) {
            QVERIFY(!steps);
            QCOMPARE(error.line, badLine);
            return;
        }
        QVERIFY(steps && !steps->isEmpty());
        QCOMPARE(steps->last().text, lastText);
    }

    void msgBoxStyles_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<QList<int>>("buttons");
        QTest::addColumn<int>("defaultAnswer");
        QTest::newRow("0") << 0 << QList<int>{1} << 1;
        QTest::newRow("36 yes/no, yes default") << 36 << QList<int>{6, 7} << 6;
        QTest::newRow("292 yes/no, no default") << 292 << QList<int>{6, 7} << 7;
        QTest::newRow("3 yes/no/cancel third default") << 3 + 512 << QList<int>{6, 7, 2} << 2;
    }

    void msgBoxStyles() {
        QFETCH(int, style);
        QFETCH(QList<int>, buttons);
        QFETCH(int, defaultAnswer);
        QCOMPARE(MsgBox::buttonsOf(style), buttons);
        QCOMPARE(MsgBox::defaultAnswer(style), defaultAnswer);
    }

    void stepsDriveTheWindow() {
        InProcess capture;
        auto* form = showProbe();
        const int code = runScript("type frmProbe.txtCODE ABC\n"
                                   "click frmProbe.Option1\n"
                                   "answer 7\n"
                                   "click frmProbe.cmdOK\n"
                                   "click frmProbe.cmdOK\n"
                                   "type frmProbe.txtMEMO \"select 1\\nfrom t\"\n"
                                   "dump\n",
                                   capture);
        QCOMPARE(code, 0);
        // The focus leaves the field before the click; a queued answer is used once, then
        // the default button answers.
        QCOMPARE(form->trace, (QStringList{"lost:ABC", "odbc", "click:7", "click:6"}));
        QCOMPARE(form->memo->text(), QStringLiteral("select 1\nfrom t"));

        QStringList boxes, state;
        for (const QJsonObject& e : capture.events())
            if (e["event"] == "msgbox")
                boxes << QString("%1 %2")
                             .arg(e["style"].toInt())
                             .arg(e["queued"].toBool() ? "queued" : "default");
        QCOMPARE(boxes, (QStringList{"36 queued", "36 default"}));
        const QJsonObject window = capture.events().last()["windows"][0].toObject();
        for (const QString key :
             {"txtCODE.text", "txtCODE.maxLength", "txtCODE.left", "txtCODE.top", "txtCODE.width",
              "txtCODE.height", "txtCODE.backColor", "txtMEMO.maxLength", "lblINFO.caption",
              "Option1.value", "Option2.value", "cmdOFF.enabled", "cmdHIDDEN.visible", ".focus",
              ".width", ".helpContextId"}) {
            const QString control = key.section('.', 0, 0), name = key.section('.', 1);
            state << (control.isEmpty() ? window[name] : window["controls"][control][name])
                         .toVariant()
                         .toString();
        }
        QCOMPARE(state, (QStringList{"ABC", "15", "120", "3960", "1455", "285", "-2147483643", "0",
                                     "Codice", "true", "false", "false", "false", "txtMEMO",
                                     "11040", "10"}));
        form->unload();
        waitIdle();
    }

    void stepsThatCannotRun_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::newRow("disabled button") << QByteArray("click frmProbe.cmdOFF\n");
        QTest::newRow("hidden button") << QByteArray("click frmProbe.cmdHIDDEN\n");
        QTest::newRow("unknown control") << QByteArray("click frmProbe.cmdNONE\n");
        QTest::newRow("unknown window") << QByteArray("click frmNone.cmdOK\n");
        QTest::newRow("typing into a label") << QByteArray("type frmProbe.lblINFO x\n");
        QTest::newRow("unknown key") << QByteArray("key frmProbe.txtCODE NoSuchKey\n");
    }

    void stepsThatCannotRun() {
        QFETCH(QByteArray, script);
        InProcess capture;
        auto* form = showProbe();
        QCOMPARE(runScript("dump\n" + script + "dump\n", capture), 3);
        QVERIFY(form->trace.isEmpty());
        form->unload();
        waitIdle();
    }

    // Work that outlasts the delay shows the progress dialog: a queued Cancel stops it, any
    // other queued answer is left for its message box, work that ends first shows nothing.
    void progress_data() {
        QTest::addColumn<int>("milliseconds"); // -1: until stopped
        QTest::addColumn<QList<int>>("queued");
        QTest::addColumn<QStringList>("told");
        QTest::newRow("stopped") << -1 << QList<int>{2} << QStringList{"progress:Lavoro|2"};
        QTest::newRow("runs to its end")
            << 1300 << QList<int>{} << QStringList{"progress:Lavoro|null"};
        QTest::newRow("another answer waits for its box")
            << 1300 << QList<int>{7} << QStringList{"progress:Lavoro|null", "msgbox:|T|4"};
        QTest::newRow("quick work shows nothing")
            << 0 << QList<int>{2} << QStringList{"msgbox:|T|4"};
    }

    void progress() {
        QFETCH(int, milliseconds);
        QFETCH(QList<int>, queued);
        QFETCH(QStringList, told);
        InProcess capture;
        for (int answer : queued)
            capture.dialogs().queueAnswer(answer);
        std::atomic<bool> stop{false};
        const bool stopped = platform().runCancellable(
            "Lavoro", "T",
            [&] {
                QElapsedTimer clock;
                clock.start();
                while (!stop && (milliseconds < 0 || clock.elapsed() < milliseconds))
                    QThread::msleep(5);
            },
            [&] { stop = true; });
        QCOMPARE(stopped, milliseconds < 0);
        if (!queued.isEmpty() && !stopped)
            QCOMPARE(platform().msgBox(QString(), MsgBox::YesNo, "T"), queued.first());
        QCOMPARE(capture.summary(), told);
    }

    // The dialog of a person: it comes after the delay, and its Annulla stops the work.
    void progressDialog() {
        std::atomic<bool> stop{false};
        QString seen;
        QTimer::singleShot(kProgressDelayMs + 300, this, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            if (!dialog) {
                stop = true;
                return;
            }
            for (const QLabel* label : dialog->findChildren<QLabel*>())
                seen += label->text();
            for (QPushButton* button : dialog->findChildren<QPushButton*>())
                if (button->text() == "Annulla")
                    button->click();
        });
        QElapsedTimer clock;
        clock.start();
        QVERIFY(platform().runCancellable(
            "Conteggio", "T",
            [&] {
                while (!stop)
                    QThread::msleep(5);
            },
            [&] { stop = true; }));
        QVERIFY(clock.elapsed() >= kProgressDelayMs);
        QCOMPARE(seen, QStringLiteral("Conteggio"));
    }

    void closingTheLastWindowEndsTheScript() {
        InProcess capture;
        showProbe();
        bool ended = false;
        connect(&Forms::instance(), &Forms::lastUnloaded, this, [&] { ended = true; });
        // Steps after the program ended are not run, so the unknown control is never seen.
        QCOMPARE(runScript("close frmProbe\nclick frmProbe.cmdNONE\n", capture), 0);
        QVERIFY(ended);
        QVERIFY(Forms::instance().isEmpty());
        disconnect(&Forms::instance(), nullptr, this, nullptr);
    }
};

QTEST_MAIN(TestAutomation)
#include "tst_automation.moc"
