#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// velario-newcat's command line: what it says, its status and the files it leaves in the
// folder it runs in. What it cannot take creates nothing.
class TestNewcat : public QObject {
    Q_OBJECT

private slots:
    void commandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said"); // the start of what it writes, out and error
        QTest::addColumn<QStringList>("files");
        const QString usage = "\nUso: velario-newcat FILE\n";
        QTest::newRow("help") << QStringList{"--help"} << 0 << "Uso: velario-newcat FILE\n"
                              << QStringList{};
        QTest::newRow("version") << QStringList{"--version"} << 0 << "velario-newcat 0.1\n"
                                 << QStringList{};
        QTest::newRow("--from without files")
            << QStringList{"--from"} << 2
            << "velario-newcat: --from vuole due file, il catalogo Access e il nuovo catalogo" +
                   usage
            << QStringList{};
        QTest::newRow("--from with one file")
            << QStringList{"--from", "vecchio.mdb"} << 2
            << "velario-newcat: --from vuole due file, il catalogo Access e il nuovo catalogo" +
                   usage
            << QStringList{};
        QTest::newRow("unknown option")
            << QStringList{"--bogus"} << 2 << "velario-newcat: opzione sconosciuta: --bogus" + usage
            << QStringList{};
        QTest::newRow("nothing") << QStringList{} << 2
                                 << "velario-newcat: manca il FILE da creare" + usage
                                 << QStringList{};
        QTest::newRow("two files")
            << QStringList{"a.db", "b.db"} << 2 << "velario-newcat: un solo FILE per volta" + usage
            << QStringList{};
        QTest::newRow("missing folder")
            << QStringList{"nuova/c.db"} << 1
            << "velario-newcat: impossibile creare il file nuova/c.db: la cartella <dir>/nuova "
               "non esiste\n"
            << QStringList{};
        QTest::newRow("new catalogue") << QStringList{"c.db"} << 0 << "" << QStringList{"c.db"};
        QTest::newRow("name starting with a dash")
            << QStringList{"--", "-c.db"} << 0 << "" << QStringList{"-c.db"};
    }

    void commandLine() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QFETCH(QStringList, files);
        QTemporaryDir dir;
        QProcess newcat;
        newcat.setWorkingDirectory(dir.path());
        newcat.start(qEnvironmentVariable("VELARIO_NEWCAT"), args);
        QVERIFY(newcat.waitForFinished(60000));
        QCOMPARE(newcat.exitCode(), exitCode);
        const QString output =
            QString::fromUtf8(newcat.readAllStandardOutput() + newcat.readAllStandardError());
        said.replace("<dir>", dir.path());
        QVERIFY2(said.isEmpty() ? output.isEmpty() : output.startsWith(said), qPrintable(output));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 files);
    }
};

QTEST_MAIN(TestNewcat)
#include "tst_newcat.moc"
