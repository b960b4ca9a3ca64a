#include "platform/platform.h"
#include "support/harness.h"

#include <QDir>
#include <QProcess>
#include <QTest>

using namespace velario;
using velario::test::ProgramRun;
using velario::test::Sandbox;

namespace {

const QString kMissingConfig =
    QStringLiteral("msgbox:File di configurazione  VELARIO.INI  assente !!!\r\rCercato nella "
                   "cartella:\r…|") +
    kAppTitle + "|0";
const QString kNoProgramDir =
    QStringLiteral("msgbox:Manca Directory Programma|ERRORE NEL FILE  TESSAR.INI|4160");
const QString kDateFormat = QStringLiteral(
    "msgbox:IMPOSTAZIONI INTERNAZIONALI DI WINDOWS ERRATE !\r\rNEL PANNELLO DI CONTROLLO IL "
    "FORMATO DELLA DATA DEVE ESSERE :\r\r                                            "
    "gg/MM/aaaa|Impostazioni Internazionali|16");
const QStringList kShown{
    "pointer:11", "window:frmTS0002:load",     "pointer:0",  "window:frmTS0002:show",
    "pointer:0",  "window:frmTS0002:activate", "pointer:11", "pointer:0"};

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    // Every way start-up goes: what the user sees, in order ("…" stands for any text). The
    // catalogue window opens whether or not the catalogue could be opened; the path shown
    // is the one start-up chose, quotes, accents and all.
    void startup_data() {
        QTest::addColumn<QString>("config"); // <none>, or the file's content (after its name)
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QStringList>("expected");
        const QString it = "it_IT.UTF-8";
        const QStringList stopped{"pointer:11", "beep"};
        const auto opened = [](const QString& failure) {
            QStringList shown = kShown + QStringList{"state", "exit:0"};
            if (!failure.isEmpty())
                shown = shown.mid(0, 1) +
                        QStringList{"beep", "msgbox:ERRORE IN APERTURA DATABASE !!!\r\r " +
                                                failure + "|" + kAppTitle + "|16"} +
                        shown.mid(1);
            return shown;
        };
        const QStringList missing{"pointer:11", "pointer:0", "beep", kMissingConfig, "exit:0"};
        QTest::newRow("no configuration file") << "<none>" << it << missing;
        QTest::newRow("binary file") << "\x01\x02\xff\xfe\x00garbage" << it
                                     << stopped + QStringList{kNoProgramDir, "exit:0"};
        QTest::newRow("short date of 8 characters")
            << "DIR_PRG=/p/\n"
            << "C" << stopped + QStringList{kDateFormat, "exit:0"};
        QTest::newRow("catalogue opens") << "DIR_PRG=<dir>/\nDIR_DBF=<catalogue>\n"
                                         << it << opened({});
        QTest::newRow("ODBC anywhere picks the fixed path")
            << "DIR_PRG=<dir>/\nDIR_DBF=/srv/ODBC/cat.db\n"
            << it << opened("53 - …\r\rC:\\BASE\\VELARIO\\VELARIO2.MDB");
        QTest::newRow("no DIR_DBF line") << "DIR_PRG=<dir>/\n" << it << opened("3044 - …\r\r");
        QTest::newRow("configuration file named in other letters")
            << "velario.INI:DIR_PRG=<dir>/\nDIR_DBF=<catalogue>\n"
            << it << opened({});
    }

    void startup() {
        QFETCH(QString, config);
        QFETCH(QString, locale);
        QFETCH(QStringList, expected);
        Sandbox box;
        QVERIFY(QDir().mkpath(box.file("l'archivio è \"qui\" #1")));
        const QString catalogue =
            box.makeCatalogue("l'archivio è \"qui\" #1/cat àlogo ?.db",
                              {{"ΩMEGA", "voce", "SELECT 1", "x.MDB", "MDB"}});
        const QString name = config.startsWith("velario.INI:") ? "velario.INI" : "VELARIO.ini";
        config.remove("velario.INI:");
        if (config != "<none>")
            box.writeFile(
                name,
                config.replace("<dir>", box.path()).replace("<catalogue>", catalogue).toUtf8());
        QProcessEnvironment env = box.environment();
        env.insert("LC_ALL", locale);
        const ProgramRun run = box.run("dump\n", {}, env);
        QVERIFY(!run.crashed && run.exitCode == 0);
        QVERIFY2(velario::test::matches(run.summary().join("¶"), expected.join("¶")),
                 qPrintable(run.summary().join('\n')));
    }

    void secondCopy() {
        Sandbox box;
        box.writeConfig(box.makeCatalogue("cat.db"));
        const QString lock = box.runtimeDir() + "/velario.lock";

        QProcess first;
        first.setProcessEnvironment(box.environment());
        first.start(velario::test::programBinary(), {"--program-dir", box.path()});
        QVERIFY(first.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lock), 20000);

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
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
