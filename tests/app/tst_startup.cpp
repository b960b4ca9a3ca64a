#include "app/modulo.h"
#include "app/startup.h"
#include "platform/platform.h"
#include "support/harness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QProcess>
#include <QTest>
#include <QThread>

using namespace velario;
using velario::test::ProgramRun;
using velario::test::Sandbox;

namespace {

const QString kMissingConfig =
    QStringLiteral("msgbox:File di configurazione  VELARIO.INI  assente !!!|") + kAppTitle + "|0";
const QString kNoProgramDir =
    QStringLiteral("msgbox:Manca Directory Programma|ERRORE NEL FILE  TESSAR.INI|4160");
const QString kDateFormat = QStringLiteral(
    "msgbox:IMPOSTAZIONI INTERNAZIONALI DI WINDOWS ERRATE !\r\rNEL PANNELLO DI CONTROLLO IL "
    "FORMATO DELLA DATA DEVE ESSERE :\r\r                                            "
    "gg/MM/aaaa|Impostazioni Internazionali|16");
const QStringList kShown{
    "pointer:11", "window:frmTS0002:load",     "pointer:0",  "window:frmTS0002:show",
    "pointer:0",  "window:frmTS0002:activate", "pointer:11", "pointer:0"};

QString openFailure(int number, const QString& path) {
    return QStringLiteral("ERRORE IN APERTURA DATABASE !!!\r\r %1 - ").arg(number) + "%1\r\r" +
           path;
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    // Every way start-up stops: the user sees exactly one message and no window.
    void stops_data() {
        QTest::addColumn<QString>("config");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QStringList>("expected");

        const auto row = [](const char* name, const QByteArray& config, const QString& shown,
                            const char* locale = "it_IT.UTF-8") {
            const QStringList head = shown == kMissingConfig
                                         ? QStringList{"pointer:11", "pointer:0", "beep"}
                                         : QStringList{"pointer:11", "beep"};
            QTest::newRow(name) << QString::fromUtf8(config) << QString(locale)
                                << head + QStringList{shown, "exit:0"};
        };
        row("no configuration file", "<none>", kMissingConfig);
        row("configuration is a folder", "<folder>", kMissingConfig);
        row("no DIR_PRG line", "DIR_DBF=/x.db\n", kNoProgramDir);
        row("DIR_PRG of blanks", "DIR_PRG=    \n", kNoProgramDir);
        row("binary file", "\x01\x02\xff\xfe\x00garbage", kNoProgramDir);
        row("short date of 8 characters", "DIR_PRG=/p/\n", kDateFormat, "C");
    }

    void stops() {
        QFETCH(QString, config);
        QFETCH(QString, locale);
        QFETCH(QStringList, expected);
        Sandbox box;
        if (config == "<folder>")
            QVERIFY(QDir().mkdir(box.file("VELARIO.ini")));
        else if (config != "<none>")
            box.writeFile("VELARIO.ini", config.toUtf8());
        QProcessEnvironment env = box.environment();
        env.insert("LC_ALL", locale);
        const ProgramRun run = box.run("dump\n", {}, env);
        QVERIFY(!run.crashed);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.summary(), expected);
    }

    // The catalogue window opens whether or not the catalogue could be opened; the path
    // shown is the one start-up chose, quotes, accents and all.
    void catalogueChoice_data() {
        QTest::addColumn<QString>("dirDbf");
        QTest::addColumn<QString>("message"); // empty: opened without a message
        QTest::newRow("catalogue opens") << "<catalogue>"
                                         << "";
        QTest::newRow("ODBC anywhere picks the fixed path")
            << "/srv/ODBC/cat.db" << openFailure(53, "C:\\BASE\\VELARIO\\VELARIO2.MDB");
        QTest::newRow("odbc in lower case is a path")
            << "/srv/odbc/cat.db" << openFailure(53, "/srv/odbc/cat.db");
        QTest::newRow("trailing blanks are part of the path") << "<catalogue>   "
                                                              << "blanks";
        QTest::newRow("no DIR_DBF line") << "<absent>" << openFailure(3044, "");
    }

    void catalogueChoice() {
        QFETCH(QString, dirDbf);
        QFETCH(QString, message);
        Sandbox box;
        QVERIFY(QDir().mkpath(box.file("l'archivio è \"qui\" #1")));
        const QString catalogue =
            box.makeCatalogue("l'archivio è \"qui\" #1/cat àlogo ?.db",
                              {{"ΩMEGA", "voce", "SELECT 1", "x.MDB", "MDB"}});
        const QString value = QString(dirDbf).replace("<catalogue>", catalogue);
        if (message == "blanks")
            message = openFailure(53, value);
        box.writeFile("VELARIO.ini",
                      "DIR_PRG=" + box.path().toUtf8() + "/\n" +
                          (dirDbf == "<absent>" ? "" : "DIR_DBF=" + value.toUtf8() + "\n"));

        const ProgramRun run = box.run("dump\n");
        QVERIFY(!run.crashed);
        QCOMPARE(run.exitCode, 0);
        QStringList expected = kShown;
        if (!message.isEmpty()) {
            const QList<QJsonObject> boxes = run.eventsOf("msgbox");
            QCOMPARE(boxes.size(), 1);
            const QString text = boxes[0].value("text").toString();
            const QStringList parts = message.split("%1");
            QVERIFY2(text.startsWith(parts[0]) && text.endsWith(parts[1]), qPrintable(text));
            expected.insert(1, "beep");
            expected.insert(2, QStringLiteral("msgbox:%1|%2|16").arg(text, kAppTitle));
        }
        QCOMPARE(run.summary(), expected << "state"
                                         << "exit:0");
        const QJsonObject window = run.lastWindowState("frmTS0002");
        QCOMPARE(window["visible"].toBool(), true);
        QCOMPARE(window["windowState"].toInt(), 0);
        const QJsonObject grid = window["controls"]["DBGrid1"].toObject();
        QCOMPARE(grid["rows"].toInt(), message.isEmpty() ? 1 : 0);
        if (message.isEmpty())
            QCOMPARE(grid["cells"][0][0].toString(), QStringLiteral("ΩMEGA"));
    }

    void secondCopy() {
        Sandbox box;
        box.writeConfig(box.makeCatalogue("cat.db"));
        const QString lock = box.runtimeDir() + "/velario.lock";

        QProcess first;
        first.setProcessEnvironment(box.environment());
        first.start(velario::test::programBinary(), {"--program-dir", box.path()});
        QVERIFY(first.waitForStarted());
        QElapsedTimer waited;
        waited.start();
        while (!QFile::exists(lock) && waited.elapsed() < 20000)
            QThread::msleep(20);
        QVERIFY(QFile::exists(lock));

        const ProgramRun second = box.run("dump\n");
        QCOMPARE(second.summary(),
                 (QStringList{"pointer:11", "msgbox:Applicazione già in uso !|ERRORE GENERALE|4112",
                              "exit:0"}));
        QCOMPARE(first.state(), QProcess::Running);

        // A copy that died leaves its lock behind; it must not keep the program out.
        first.kill();
        first.waitForFinished();
        QVERIFY(QFile::exists(lock));
        const ProgramRun third = box.run("dump\n");
        QCOMPARE(third.summary(), kShown + QStringList({"state", "exit:0"}));
    }

    // What start-up leaves in the globals, seen from inside.
    void globals_data() {
        QTest::addColumn<QStringList>("v"); // DIR_PRG, DIR_DBF, help file, catalogue path
        QTest::newRow("no separator added to DIR_PRG")
            << QStringList{"/opt/v", "/x.db", "/opt/vTESSAR.HLP", "/x.db"};
        QTest::newRow("ODBC replaced") << QStringList{
            "C:\\PROG\\", "DSN=ODBC", "C:\\PROG\\TESSAR.HLP", "C:\\BASE\\VELARIO\\VELARIO2.MDB"};
    }

    void globals() {
        QFETCH(QStringList, v);
        const QString dirPrg = v[0], dirDbf = v[1], helpFile = v[2], pathDb = v[3];
        Modulo::reset();
        Sandbox box;
        box.writeFile("VELARIO.ini", ("DIR_PRG=" + dirPrg + "\nDIR_DBF=" + dirDbf + "\n").toUtf8());
        qputenv("XDG_RUNTIME_DIR", box.runtimeDir().toUtf8());
        platform().releaseInstanceLock();
        platform().setProgramDir(box.path());
        velario::test::InProcess capture;
        bool windowLoaded = false;
        QCOMPARE(Main([&] { windowLoaded = true; }), StartupOutcome::Running);
        platform().releaseInstanceLock();
        QVERIFY(windowLoaded);
        QCOMPARE(platform().helpFile(), helpFile);
        QCOMPARE(Modulo::PATH_DB, pathDb);
        QCOMPARE(Modulo::DIR_DBF, dirDbf);
        QCOMPARE(platform().mousePointer(), 0);
        Modulo::reset();
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
