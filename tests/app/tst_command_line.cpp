#include "data/database.h"
#include "data/odbc.h"
#include "results/result_window_session.h"
#include "support/harness.h"
#include "support/odbc_fixture.h"

#include <QDir>
#include <QProcess>
#include <QTest>

using velario::test::Sandbox;

namespace {

const QString kDsn = QStringLiteral("velario-riga-di-comando");

struct Outcome {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

    Sandbox sandbox_;
    QString values_;
    std::unique_ptr<velario::test::OdbcEnvironment> odbc_;

    // The program with ARGS and no display at all: neither X, Wayland nor a Qt platform.
    Outcome run(const QStringList& args) const {
        QProcessEnvironment env = sandbox_.environment();
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(name);
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(velario::test::programBinary(),
                      QStringList{"--program-dir", sandbox_.path()} + args);
        if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
            return {};
        return {process.exitCode(), process.readAllStandardOutput(),
                process.readAllStandardError()};
    }

    // What the engine says of SQL: the text the window shows after "Errore SQL: ".
    static QString sqliteSays(const QString& path, const QString& sql) {
        velario::Error error;
        if (auto db = velario::data::Database::open(path, true, &error))
            db->execute(sql, &error);
        return error.description;
    }

private slots:
    void initTestCase() {
        values_ = sandbox_.file("valori.db");
        QVERIFY(velario::test::writeSqlite(
            values_, {"CREATE TABLE v (id INTEGER, testo TEXT)",
                      "INSERT INTO v VALUES (1, 'a;b'), (2, NULL), (3, 'è \"q\"')"}));
        odbc_ = std::make_unique<velario::test::OdbcEnvironment>(
            QList{velario::test::sqliteDataSource(kDsn, values_)});
        QVERIFY2(odbc_->isValid(), qPrintable(odbc_->errorString()));
        const QString half = "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s "
                             "WHERE i < 100000) SELECT CASE WHEN i < 90000 THEN i ELSE "
                             "abs(-9223372036854775807 - 1) END FROM s";
        sandbox_.writeConfig(sandbox_.makeCatalogue(
            "catalogo.db", {{"VALORI", "Valori", "SELECT * FROM v ORDER BY id", values_, "MDB"},
                            {"TABELLA", "Tabella intera", " v ", values_, " MDB "},
                            {"REMOTO", "Via ODBC", "SELECT * FROM v ORDER BY id", kDsn, "ODBC"},
                            {"ERRATA", "Errata", "SELECT * FROM manca", values_, "MDB"},
                            {"META", "Si ferma a metà", half, values_, "MDB"},
                            {"SPENTO", "Sorgente assente", "SELECT 1", "velario-nessuna", "ODBC"},
                            {"VUOTA", "Senza SQL", "<NULL>", values_, "MDB"}}));
    }

    // Exit status, standard output, standard error and the file, for each way a run ends.
    // A failed run leaves no file, nor touches one that was there.
    void runs_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QString>("err");
        QTest::addColumn<QByteArray>("file"); // what --csv FILE holds afterwards
        const QByteArray csv = "id;testo\r\n1;\"a;b\"\r\n2;\r\n3;\"è \"\"q\"\"\"\r\n";
        const QByteArray old = "vecchio";
        const QString sqlError = "Errore SQL: %1\n";
        QTest::newRow("to standard output")
            << QStringList{"--run", "VALORI"} << 0 << csv << "" << old;
        QTest::newRow("to a file")
            << QStringList{"--run", "VALORI", "--csv", "<file>"} << 0 << QByteArray() << "" << csv;
        QTest::newRow("a table name, type with blanks")
            << QStringList{"--run", "TABELLA", "--csv", "<file>"} << 0 << QByteArray() << "" << csv;
        QTest::newRow("through ODBC")
            << QStringList{"--run", "REMOTO", "--csv", "<file>"} << 0 << QByteArray() << "" << csv;
        QTest::newRow("unknown code")
            << QStringList{"--run", "NESSUNO", "--csv", "<file>"} << 1 << QByteArray()
            << "Codice NESSUNO non presente in archivio !!!\n"
            << old;
        QTest::newRow("failing statement")
            << QStringList{"--run", "ERRATA", "--csv", "<file>"} << 1 << QByteArray()
            << sqlError.arg(sqliteSays(values_, "SELECT * FROM manca")) << old;
        QTest::newRow("failing after many rows")
            << QStringList{"--run", "META", "--csv", "<file>"} << 1 << QByteArray()
            << sqlError.arg("integer overflow") << old;
        QTest::newRow("unreachable data source")
            << QStringList{"--run", "SPENTO", "--csv", "<file>"} << 1 << QByteArray() << "<odbc>"
            << old;
        QTest::newRow("no statement") << QStringList{"--run", "VUOTA", "--csv", "<file>"} << 1
                                      << QByteArray() << "Nessuna stringa SQL da eseguire !!!\n"
                                      << old;
        QTest::newRow("list") << QStringList{"--list"} << 0
                              << QByteArray(
                                     "ERRATA\tMDB\t<db>\tErrata\nMETA\tMDB\t<db>\tSi ferma a metà\n"
                                     "REMOTO\tODBC\t" +
                                     kDsn.toUtf8() +
                                     "\tVia ODBC\n"
                                     "SPENTO\tODBC\tvelario-nessuna\tSorgente assente\n"
                                     "TABELLA\tMDB\t<db>\tTabella intera\n"
                                     "VALORI\tMDB\t<db>\tValori\nVUOTA\tMDB\t<db>\tSenza SQL\n")
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
        const QString path = folder.filePath("uscita.csv");
        {
            QFile existing(path);
            QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("vecchio") == 7);
        }
        args.replaceInStrings("<file>", path);
        out.replace("<db>", values_.toUtf8());
        if (err == "<odbc>") {
            velario::Error error;
            velario::data::OdbcConnection::connect("velario-nessuna", &error);
            err = "Errore SQL: " + error.description + "\n";
        }
        const Outcome outcome = run(args);
        QCOMPARE(outcome.exitCode, exitCode);
        QCOMPARE(QString::fromUtf8(outcome.err), err);
        QCOMPARE(outcome.out, out);
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), file);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"uscita.csv"});
    }

    // The configuration is read as start-up reads it, and the help names every option.
    void setup() {
        Sandbox empty;
        QProcessEnvironment env = empty.environment();
        env.remove("DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(velario::test::programBinary(),
                      {"--program-dir", empty.path(), "--run", "VALORI"});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 2);
        QCOMPARE(process.readAllStandardError(),
                 QByteArray("File di configurazione  VELARIO.INI  assente !!!\n"));
        const Outcome help = run({"--help"});
        QCOMPARE(help.exitCode, 0);
        for (const char* option : {"--program-dir", "--transcript", "--script", "--print-to",
                                   "--clock", "--run", "--csv", "--list", "--version", "--help"})
            QVERIFY2(help.out.contains(QByteArray(option) + ' '), option);
    }
};

QTEST_MAIN(TestCommandLine)
#include "tst_command_line.moc"
