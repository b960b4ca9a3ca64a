#include "controls/datagrid.h"
#include "data/odbc/odbc.h"
#include "data/sqlite/database.h"
#include "print/printer.h"
#include "support/harness.h"
#include "support/result_window_under_test.h"

#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTest>

using namespace velario;
using namespace velario::test;

Q_DECLARE_METATYPE(EntryOnScreen)

namespace {

const QString kSqliteDsn = QStringLiteral("velario-risultati");
const QString kPostgresDsn = QStringLiteral("velario-risultati-pg");
const QString kMariadbDsn = QStringLiteral("velario-risultati-mariadb");
const QString kRows = QStringLiteral("SELECT * FROM righe ORDER BY n");
// On every engine: the answers 1200 and empty (NULL) leave rows 1200 to 1234.
const QString kParameterRows = QStringLiteral(
    "SELECT n, nome FROM righe WHERE n >= :dal AND (:nome IS NULL OR nome <> :NOME)");
// Rows 1 to ROWS of n and "riga n", on SQLite, PostgreSQL and MariaDB.
QStringList series(int rows) {
    return QStringList{"WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < "
                       "<n>) SELECT i AS n, 'riga ' || i AS nome FROM s",
                       "SELECT g AS n, 'riga ' || g AS nome FROM generate_series(1, <n>) g",
                       "SELECT seq AS n, CONCAT('riga ', seq) AS nome FROM seq_1_to_<n>"}
        .replaceInStrings("<n>", QString::number(rows));
}
const QStringList kOpening = QString("pointer:11 window:frmTS0003:load window:frmTS0002:minimize "
                                     "pointer:0 window:frmTS0003:show window:frmTS0003:activate "
                                     "pointer:11 pointer:0")
                                 .split(' ');

// What the engine itself says of STATEMENT on DATABASE; empty when it runs.
QString engineDescription(bool access, const QString& database, const QString& statement) {
    Error error;
    if (auto db = access ? data::Database::open(database, false, &error) : nullptr)
        db->execute(statement, &error);
    else if (auto odbc = access ? nullptr : data::OdbcConnection::connect(database, &error))
        odbc->execute(statement, &error);
    return error.description;
}

// What a run of the program over a catalogue of ENTRIES did on SCRIPT.
ProgramRun runOver(const QList<QStringList>& entries, const QString& script) {
    Sandbox box;
    box.writeConfig(box.makeCatalogue("cat.db", entries));
    return box.run(script, {"--print-to", box.path()});
}

// Per dump of RUN, the catalogue's window state, then the result window's code, description
// and count ("-" when it is not loaded).
QStringList dumps(const ProgramRun& run) {
    QStringList states;
    for (const QJsonObject& state : run.eventsOf("state")) {
        QStringList cells{"-", "-", "-", "-"};
        for (const QJsonValue w : state["windows"].toArray()) {
            if (w["name"] == "frmTS0002")
                cells[0] = QString::number(w["windowState"].toInt());
            if (w["name"] == "frmTS0003")
                for (int i = 1; const char* label : {"lblCOD_SQL", "lblDESCR_SQL", "lblNUM_REC"})
                    cells[i++] = w["controls"][label]["caption"].toString();
        }
        states << cells.join('|');
    }
    return states;
}

} // namespace

class TestResultWindow : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<OdbcEnvironment> odbc_;
    QString rowsFile_;
    QTemporaryDir configHome_;

    QString resolve(QString text) const {
        return text.replace("<rows>", rowsFile_)
            .replace("<missing>", dir_.filePath("manca.db"))
            .replace("<accdb>", qEnvironmentVariable("VELARIO_SOURCE_DIR") +
                                    "/tests/data/access/ASampleDatabase.accdb");
    }

    // Rows of the type, database and statement: SQL[0] on the SQLite file, the others through
    // ODBC on PostgreSQL and MariaDB.
    void onEveryEngine(const QStringList& sql) {
        QTest::addColumn<EntryOnScreen>("entry");
        QTest::newRow("SQLite file") << EntryOnScreen{sql[0], rowsFile_, "MDB"};
        QTest::newRow("PostgreSQL") << EntryOnScreen{sql[1], kPostgresDsn, "ODBC"};
        QTest::newRow("MariaDB, streamed") << EntryOnScreen{sql[2], kMariadbDsn, "ODBC"};
    }

private slots:
    void initTestCase() {
        rowsFile_ = dir_.filePath("righe.db");
        QVERIFY(
            writeSqlite(rowsFile_, {"CREATE TABLE righe (n INTEGER, nome TEXT)",
                                    "INSERT INTO righe SELECT * FROM (" + series(1234)[0] + ")"}));
        QString error;
        const auto postgres = postgresTestServer(&error), mariadb = mariadbTestServer(&error);
        QVERIFY2(postgres && mariadb && error.isEmpty(), qPrintable(error));
        odbc_ = std::make_unique<OdbcEnvironment>(
            QList{sqliteDataSource(kSqliteDsn, rowsFile_),
                  postgresDataSource(kPostgresDsn, postgres->port),
                  mariadbDataSource(kMariadbDsn, mariadb->port)});
        QVERIFY2(odbc_->isValid(), qPrintable(odbc_->errorString()));
        for (const int engine : {1, 2}) {
            const QString failure = odbcRun(
                engine == 1 ? kPostgresDsn : kMariadbDsn,
                {"DROP TABLE IF EXISTS righe", "CREATE TABLE righe AS " + series(1234)[engine]});
            QVERIFY2(failure.isEmpty(), qPrintable(failure));
        }
        // The answers given last are kept in the test's own folder.
        QVERIFY(configHome_.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome_.path()));
    }

    void cleanup() { unloadAll(); }

    // The path the type on screen chooses, what it runs on, and what the window shows: the
    // count, or the engine's or driver's own description after the pointer is back.
    void paths_data() {
        QTest::addColumn<EntryOnScreen>("entry");
        QTest::addColumn<QString>("count");
        const auto row = [](const char* name, const char* type, const QString& database,
                            const QString& sql, const char* count) {
            QTest::newRow(name) << EntryOnScreen{sql, database, type} << QString(count);
        };
        row("a statement that writes", "MDB", "<rows>", "DELETE FROM righe", "       0");
        row("MDB with blanks around", "  MDB ", "<rows>", kRows, "   1.234");
        row("mdb is an ODBC name", "mdb", kSqliteDsn, kRows, "   1.234");
        row("no rows", "MDB", "<rows>", "SELECT * FROM righe WHERE n < 0", "       0");
        row("Access .accdb", "MDB", "<accdb>", "SELECT * FROM [Asset Items]", "      65");
        row("missing file", "MDB", "<missing>", kRows, "       0");
        row("bad statement", "MDB", "<rows>", "SELEC * FROM righe", "       0");
        row("unknown data source", "ODBC", "velario-nessuna", kRows, "       0");
        row("first row fails through ODBC", "ODBC", kSqliteDsn,
            "SELECT abs(-9223372036854775808) FROM righe", "       0");
        row("PostgreSQL bad column", "ODBC", kPostgresDsn, "SELECT nessuna", "       0");
    }

    void paths() {
        QFETCH(EntryOnScreen, entry);
        QFETCH(QString, count);
        entry.database = resolve(entry.database);
        const bool access = entry.type.trimmed() == "MDB";
        const QString failure = engineDescription(access, entry.database, entry.sql);

        InProcess capture;
        ResultWindow* results = runOnScreen(entry);
        QVERIFY(results);
        QStringList expected = kOpening;
        if (!failure.isEmpty())
            expected << "beep"
                     << "msgbox:Errore SQL: " + failure + "|" + kAppTitle + "|0";
        QCOMPARE(afterCatalogueOpened(capture.summary()), expected);
        QCOMPARE(control<Label>(results, "lblNUM_REC")->caption(), count);
        auto* grid = control<DataGrid>(results, access ? "DBGrid2" : "DBGrid1");
        QVERIFY(results->activeGrid() == grid && controlVisible(grid) &&
                !controlVisible(control<DataGrid>(results, access ? "DBGrid1" : "DBGrid2")));
        QCOMPARE(grid->columnCount() > 0, failure.isEmpty());
        // Whatever ran, the file it ran on holds what it held, and no file appeared.
        QVERIFY(!QFile::exists(resolve("<missing>")));
        QCOMPARE(sqliteRows(rowsFile_, "SELECT count(*) FROM righe"), QStringList{"1234"});
    }

    // The grid reads the rows it shows; the count is the whole result's. Scrolled to its end
    // the grid shows the last rows, and the grid report asked for every row prints them all.
    void millionRows_data() { onEveryEngine(series(1000000)); }

    void millionRows() {
        QFETCH(EntryOnScreen, entry);
        InProcess capture;
        // The printed lines are read back from the transcript rather than kept.
        Printer::instance().setRecordLines(false);
        ResultWindow* results = runOnScreen(entry);
        QVERIFY(results);
        DataGrid* grid = results->activeGrid();
        QCOMPARE(control<Label>(results, "lblNUM_REC")->caption() + grid->cellText(0, 1),
                 "1.000.000riga 1");
        QVERIFY(grid->resultModel()->fetchedRows() < 10000);
        QCOMPARE(grid->automationScroll(999999), QString());
        QCOMPARE(grid->cellText(999999, 1), QStringLiteral("riga 1000000"));

        capture.dialogs().queueReply(QStringLiteral("1000000"));
        control<CommandButton>(results, "cmdSTAMPA")->click();
        waitIdle();
        // The transcript's line of the document holds a million rows.
        const QByteArray printed = fileBytes(capture.transcriptPath());
        QCOMPARE(printed.count("riga "), 1000000);
        // Every row is measured, so the last row's text prints whole.
        const qsizetype last =
            printed.lastIndexOf("{\"text\":\"", printed.lastIndexOf("riga ")) + 9;
        QCOMPARE(printed.mid(last, 22), " 1000000  riga 1000000");
    }

    // A statement, its count or a report's reading that goes on past a second shows the
    // progress dialog: a queued Cancel stops the engine and the window says so, without one
    // the work runs to its end. Either way the window then runs the next statement as usual.
    void stopped_data() {
        QTest::addColumn<EntryOnScreen>("entry");
        QTest::addColumn<QString>("steps"); // from "Esegue SQL" to "Esci"
        QTest::addColumn<QStringList>("told");
        QTest::addColumn<QString>("count");
        const QString endless =
            "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT x FROM c";
        const QString run = "click frmTS0002.cmdESEGUE_SQL\ndump\n";
        const QString print = "reply 40000\nclick frmTS0003.cmdSTAMPA\n";
        const QString stopped =
            "msgbox:Errore SQL: Operazione annullata dall'utente.|" + kAppTitle + "|0";
        const QString counting = "progress:Conteggio dei record in corso...|2";
        const QString running = "progress:Esecuzione della selezione SQL in corso...|";
        const auto row = [&](const char* name, const QString& type, const QString& database,
                             const QString& sql, const QString& steps, const QStringList& told,
                             const char* count) {
            QTest::newRow(name) << EntryOnScreen{sql, database, type} << steps << told
                                << QString(count);
        };
        row("SQLite file: the count, then a report's reading", "MDB", "<rows>", endless,
            "answer 2\n" + run + "answer 2\n" + print,
            {counting, stopped, "progress:Lettura dei record in corso...|2", stopped}, "     256");
        row("PostgreSQL: the statement", "ODBC", kPostgresDsn, "SELECT pg_sleep(600)",
            "answer 2\n" + run, {running + "2", stopped}, "       0");
        row("MariaDB, streamed: the statement", "ODBC", kMariadbDsn, "SELECT SLEEP(600)",
            "answer 2\n" + run, {running + "2", stopped}, "       0");
        row("PostgreSQL: a slow statement runs to its end", "ODBC", kPostgresDsn,
            "SELECT pg_sleep(1.5) AS pausa", run, {running + "null"}, "       1");
    }

    void stopped() {
        QFETCH(EntryOnScreen, entry);
        QFETCH(QString, steps);
        QFETCH(QStringList, told);
        QFETCH(QString, count);
        const ProgramRun run =
            runOver({{"A1", "Lunga", entry.sql, resolve(entry.database), entry.type}},
                    steps + "click frmTS0003.cmdESCI\ntype frmTS0002.txtSELEZ_SQL SELECT 1 AS uno\n"
                            "click frmTS0002.cmdESEGUE_SQL\ndump\n");
        QVERIFY2(!run.crashed && run.exitCode == 0, run.standardError.constData());
        QCOMPARE(run.summary().filter(QRegularExpression("^(progress|msgbox|document)")), told);
        QCOMPARE(dumps(run), QStringList({"1| A1| Lunga|" + count, "1| A1| Lunga|       1"}));
    }

    // An entry with parameters, on either grid: Esegue SQL asks for each, in order, offering
    // nothing the first time; the count, the report (with its line of values), sorting both
    // ways (the count and the fitted widths stay) and the export read the result of the same
    // values. Run again, the answers given last are offered, and a Cancel runs nothing.
    void parameters_data() { onEveryEngine({kParameterRows, kParameterRows, kParameterRows}); }

    void parameters() {
        QFETCH(EntryOnScreen, entry);
        entry.code = QStringLiteral("P") + QTest::currentDataTag();
        const auto run = [&](InProcess& capture, const std::optional<QString>& nome) {
            capture.dialogs().queueReply(QStringLiteral("1200"));
            capture.dialogs().queueReply(nome);
            return runOnScreen(entry);
        };
        const auto asked = [](const InProcess& capture) {
            QStringList seen;
            for (const QJsonObject& e : capture.events())
                if (e["event"] == "inputbox")
                    seen << e["prompt"].toString() + "|" + e["title"].toString() + "|" +
                                e["default"].toString() + "|" + e["reply"].toString("<cancel>");
            return seen;
        };
        const QString prompt = "Valore del parametro :%1 (vuoto = NULL) ?|PARAMETRI SELEZIONE SQL|";
        {
            InProcess capture;
            ResultWindow* results = run(capture, QString());
            QVERIFY(results);
            QCOMPARE(asked(capture),
                     QStringList({prompt.arg("dal") + "|1200", prompt.arg("nome") + "|"}));
            QVERIFY(!capture.summary().contains("msgbox"));
            DataGrid* grid = results->activeGrid();
            control<CommandButton>(results, "cmdADEGUA_CAMPI")->click();
            const auto seen = [&] {
                return QStringList{grid->cellText(0, 0), QString::number(grid->currentResultRow()),
                                   QString::number(grid->columnWidthTwips(0)),
                                   QString::number(grid->columnWidthTwips(1)),
                                   control<Label>(results, "lblNUM_REC")->caption()};
            };
            QStringList expected = seen();
            QCOMPARE(expected.last(), "      35");
            expected[1] = "0";
            for (const bool down : {true, false}) {
                expected[0] = down ? "1234" : "1200";
                QCOMPARE(grid->automationRow(1), QString());
                QCOMPARE(grid->automationSelect("column 0"), QString());
                QCOMPARE(grid->automationMenu(down ? "Ordina decrescente" : "Ordina crescente"),
                         QString());
                QCOMPARE(seen(), expected);
            }

            capture.dialogs().queueReply(QStringLiteral("1"));
            control<CommandButton>(results, "cmdSTAMPA")->click();
            waitIdle();
            QVERIFY(fileBytes(capture.transcriptPath())
                        .contains("\"text\":\"Parametri:   dal = 1200; nome = NULL\""));

            const QString csv = configHome_.filePath(entry.code + ".csv");
            capture.dialogs().queueFile(csv);
            QCOMPARE(grid->automationMenu("Esporta CSV…"), QString());
            const QByteArray written = fileBytes(csv);
            QVERIFY(written.count("\r\n") == 36 && written.startsWith("n;nome\r\n1200;"));
            unloadAll();
        }
        // Run again: the answers given last are offered; Cancel on the second runs nothing.
        InProcess capture;
        QVERIFY(!run(capture, std::nullopt));
        QCOMPARE(asked(capture),
                 QStringList({prompt.arg("dal") + "1200|1200", prompt.arg("nome") + "|<cancel>"}));
        QCOMPARE(afterCatalogueOpened(capture.summary()), QStringList({"inputbox", "inputbox"}));
    }

    // A statement that cannot stand as a derived table is not sorted: the engine's reason is
    // told, and the result shown stays as it was.
    void sortRefused() {
        const QString sql = "PRAGMA table_info(righe)";
        InProcess capture;
        ResultWindow* results = runOnScreen({sql, rowsFile_});
        QVERIFY(results);
        DataGrid* grid = results->activeGrid();
        const QString reason = engineDescription(
            true, rowsFile_, "SELECT * FROM (\n" + sql + "\n) AS velario_sorted ORDER BY 2 DESC");
        QCOMPARE(grid->automationSelect("column 1"), QString());
        QCOMPARE(grid->automationMenu("Ordina decrescente"), QString());
        QCOMPARE(capture.summary().mid(capture.summary().lastIndexOf("pointer:0") - 1),
                 QStringList({"pointer:11", "pointer:0", "beep",
                              "msgbox:Errore SQL: " + reason + "|" + kAppTitle + "|0"}));
        QCOMPARE(grid->cellText(1, 1) + control<Label>(results, "lblNUM_REC")->caption(),
                 "nome       2");
    }

    // One opening runs the statement once; another activation shows the count again from the
    // grid the type chooses now; Run while open brings it forward without loading it again
    // (the catalogue window, restored to press Run, stays as it is); closing restores the
    // catalogue, and opening again runs what is on screen then.
    void lifecycle() {
        const ProgramRun run = runOver(
            {{"A1", "Righe", kRows, rowsFile_, "MDB"},
             {"B2", "Poche", "SELECT * FROM righe WHERE n <= 12", rowsFile_, "MDB"}},
            QString(
                "click frmTS0002.cmdESEGUE_SQL;dump;activate frmTS0002;type "
                "frmTS0002.txtTIPO_DATABASE ODBC;activate frmTS0003;dump;type "
                "frmTS0002.txtTIPO_DATABASE MDB;type frmTS0002.txtDESCR_SQL Cambiata;click "
                "frmTS0002.cmdESEGUE_SQL;dump;click frmTS0003.cmdESCI;dump;row frmTS0002.DBGrid1 "
                "1;click frmTS0002.cmdESEGUE_SQL;dump;close frmTS0003;dump;")
                .replace(';', '\n'));
        QVERIFY2(!run.crashed && run.exitCode == 0, run.standardError.constData());

        QStringList seen = afterCatalogueOpened(run.summary());
        seen.removeAll("window:frmTS0002:activate");
        const QString opening = kOpening.join(' ');
        QCOMPARE(seen.join(' '),
                 opening +
                     " state window:frmTS0002:restore window:frmTS0003:activate state pointer:11 "
                     "pointer:0 window:frmTS0003:activate state window:frmTS0003:unload state " +
                     opening +
                     " state window:frmTS0002:restore window:frmTS0003:unload state exit:0");
        QCOMPARE(
            dumps(run),
            QStringList({"1| A1| Righe|   1.234",
                         "0| A1| Righe|       0", // type ODBC now: the other, empty grid
                         "0| A1| Righe|   1.234", "0|-|-|-", "1| B2| Poche|      12", "0|-|-|-"}));
    }
};

QTEST_MAIN(TestResultWindow)
#include "tst_result_window.moc"
