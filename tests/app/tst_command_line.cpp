#include "data/odbc/odbc.h"
#include "support/harness.h"
#include "support/result_window_under_test.h"

#include <QDir>
#include <QProcess>
#include <QTest>

namespace {

const QString kDsn = QStringLiteral("velario-riga-di-comando");
const QByteArray kCsv = "id;testo\r\n1;\"a;b\"\r\n2;\r\n3;\"è \"\"q\"\"\"\r\n";

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

    velario::test::Sandbox sandbox_;
    std::unique_ptr<velario::test::OdbcEnvironment> odbc_;

private slots:
    void initTestCase() {
        const QString values = sandbox_.file("valori.db");
        QVERIFY(velario::test::writeSqlite(
            values, {"CREATE TABLE v (id INTEGER, testo TEXT)",
                     "INSERT INTO v VALUES (1, 'a;b'), (2, NULL), (3, 'è \"q\"')"}));
        odbc_ = std::make_unique<velario::test::OdbcEnvironment>(
            QList{velario::test::sqliteDataSource(kDsn, values)});
        QVERIFY2(odbc_->isValid(), qPrintable(odbc_->errorString()));
        const QString half = "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE "
                             "i < 100000) SELECT CASE WHEN i < 90000 THEN i ELSE "
                             "abs(-9223372036854775807 - 1) END FROM s";
        sandbox_.writeConfig(sandbox_.makeCatalogue(
            "catalogo.db", {{"VALORI", "Valori", "SELECT * FROM v ORDER BY id", values, "MDB"},
                            {"TABELLA", "Tabella", " v ", values, " MDB "},
                            {"REMOTO", "Via ODBC", "SELECT * FROM v ORDER BY id", kDsn, "ODBC"},
                            {"ERRATA", "Errata", "SELECT * FROM manca", values, "MDB"},
                            {"META", "A metà", half, values, "MDB"},
                            {"SPENTO", "Assente", "SELECT 1", "velario-nessuna", "ODBC"}}));
    }

    // Exit status, standard output and error, and the file, with neither a display nor a Qt
    // platform. A failed run leaves no file and the old one as it was.
    void runs_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QString>("err");
        QTest::addColumn<QByteArray>("file"); // what FILE holds afterwards
        const QByteArray old = "vecchio";
        const QStringList toFile{"--csv", "FILE", "--run"};
        QTest::newRow("to standard output")
            << QStringList{"--run", "VALORI"} << 0 << kCsv << "" << old;
        QTest::newRow("to a file")
            << toFile + QStringList{"VALORI"} << 0 << QByteArray() << "" << kCsv;
        QTest::newRow("table name")
            << toFile + QStringList{"TABELLA"} << 0 << QByteArray() << "" << kCsv;
        QTest::newRow("through ODBC")
            << toFile + QStringList{"REMOTO"} << 0 << QByteArray() << "" << kCsv;
        QTest::newRow("unknown code") << toFile + QStringList{"NESSUNO"} << 1 << QByteArray()
                                      << "Codice NESSUNO non presente in archivio !!!\n"
                                      << old;
        QTest::newRow("failing statement") << toFile + QStringList{"ERRATA"} << 1 << QByteArray()
                                           << "Errore SQL: no such table: manca\n"
                                           << old;
        QTest::newRow("failing after many rows")
            << toFile + QStringList{"META"} << 1 << QByteArray() << "Errore SQL: integer overflow\n"
            << old;
        QTest::newRow("unreachable data source")
            << toFile + QStringList{"SPENTO"} << 1 << QByteArray() << "<odbc>" << old;
        QTest::newRow("no configuration")
            << toFile + QStringList{"VALORI", "--program-dir", "/nessuna"} << 2 << QByteArray()
            << "File di configurazione  VELARIO.INI  assente !!!\n"
            << old;
        QTest::newRow("list") << QStringList{"--list"} << 0
                              << QByteArray(
                                     "ERRATA\tMDB\t<db>\tErrata\nMETA\tMDB\t<db>\tA metà\n"
                                     "REMOTO\tODBC\t" +
                                     kDsn.toUtf8() +
                                     "\tVia ODBC\nSPENTO\tODBC\tvelario-nessuna\tAssente\n"
                                     "TABELLA\tMDB\t<db>\tTabella\nVALORI\tMDB\t<db>\tValori\n")
                              << "" << old;
        QTest::newRow("version") << QStringList{"--version"} << 0 << QByteArray("velario 0.1\n")
                                 << "" << old;
    }

    void runs() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, out);
        QFETCH(QString, err);
        QFETCH(QByteArray, file);
        QTemporaryDir folder;
        QFile written(folder.filePath("uscita.csv"));
        QVERIFY(written.open(QIODevice::WriteOnly) && written.write("vecchio") == 7);
        written.close();
        velario::Error error;
        if (err == "<odbc>" && !velario::data::OdbcConnection::connect("velario-nessuna", &error))
            err = "Errore SQL: " + error.description + "\n";
        QProcessEnvironment env = sandbox_.environment();
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(name);
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(velario::test::programBinary(),
                      QStringList{"--program-dir", sandbox_.path()} +
                          args.replaceInStrings("FILE", written.fileName()));
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), exitCode);
        QCOMPARE(QString::fromUtf8(process.readAllStandardError()), err);
        QCOMPARE(process.readAllStandardOutput(),
                 out.replace("<db>", sandbox_.file("valori.db").toUtf8()));
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), file);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    // The help names every option.
    void help() {
        QProcess process;
        process.start(velario::test::programBinary(), {"--help"});
        QVERIFY(process.waitForFinished(60000));
        const QByteArray text = process.readAllStandardOutput();
        for (const char* option : {"--program-dir", "--transcript", "--script", "--print-to",
                                   "--clock", "--run", "--csv", "--list", "--version", "--help"})
            QVERIFY2(text.contains(QByteArray(option) + ' '), option);
    }
};

QTEST_MAIN(TestCommandLine)
#include "tst_command_line.moc"
