#include "controls/datagrid.h"
#include "controls/datasource.h"
#include "data/odbc/odbc.h"
#include "data/sqlite/database.h"
#include "print/printer.h"
#include "support/harness.h"
#include "support/pdf_lines.h"
#include "support/result_window_under_test.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTest>

using namespace velario;
using namespace velario::test;

namespace {

const QString kSqliteDsn = QStringLiteral("velario-risultati");
const QString kPostgresDsn = QStringLiteral("velario-risultati-pg");
const QString kMariadbDsn = QStringLiteral("velario-risultati-mariadb");
const QString kRows = QStringLiteral("SELECT * FROM righe ORDER BY n");
// On every engine: the answers 1200 and empty (NULL) leave rows 1200 to 1234.
const QString kParameterRows = QStringLiteral(
    "SELECT n, nome FROM <table> WHERE n >= :dal AND (:nome IS NULL OR nome <> :NOME)");
const QStringList kParameterTable{"DROP TABLE IF EXISTS righe_parametri",
                                  "CREATE TABLE righe_parametri (n INTEGER, nome VARCHAR(20))",
                                  "INSERT INTO righe_parametri SELECT n, nome FROM (<rows>) AS s"};
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

// The lines of the document in a transcript that hold "riga " (a million of them make a
// line of the transcript of some 100 MB), and the last one.
QPair<qint64, QByteArray> printedRows(const QString& transcript) {
    const QByteArray all = fileBytes(transcript);
    const qsizetype mark = all.lastIndexOf("riga ");
    const qsizetype start = all.lastIndexOf("{\"text\":\"", mark) + 9;
    return {all.count("riga "), all.mid(start, all.indexOf('"', mark) - start)};
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

    ResultWindowData data_;
    QString rowsFile_;
    QTemporaryDir configHome_;

    QString resolve(QString text) const {
        text.replace("<rows>", rowsFile_);
        text.replace("<missing>", data_.dir.filePath("manca.db"));
        text.replace("<accdb>", QDir::cleanPath(qEnvironmentVariable("VELARIO_SOURCE_DIR") +
                                                "/tests/data/access/ASampleDatabase.accdb"));
        return text;
    }

private slots:
    void initTestCase() {
        rowsFile_ = data_.dir.filePath("righe.db");
        const QString error =
            data_.start("righe.db",
                        {"CREATE TABLE righe (n INTEGER, nome TEXT)",
                         "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE "
                         "i < 1234) INSERT INTO righe SELECT i, 'riga ' || i FROM s"},
                        {sqliteDataSource(kSqliteDsn, rowsFile_)}, kPostgresDsn, kMariadbDsn);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY2(QFile::exists(resolve("<accdb>")), qPrintable(resolve("<accdb>")));
        for (const auto& [dsn, rows] :
             {std::pair{kPostgresDsn, "SELECT g AS n, 'riga ' || g AS nome FROM "
                                      "generate_series(1, 1234) g"},
              std::pair{kMariadbDsn,
                        "SELECT seq AS n, CONCAT('riga ', seq) AS nome FROM seq_1_to_1234"}}) {
            const QString failure =
                odbcRun(dsn, QStringList(kParameterTable).replaceInStrings("<rows>", rows));
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
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("count");
        const auto row = [](const char* name, const char* type, const QString& database,
                            const QString& sql, const char* count) {
            QTest::newRow(name) << QString(type) << database << sql << QString(count);
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
        QFETCH(QString, type);
        QFETCH(QString, database);
        QFETCH(QString, sql);
        QFETCH(QString, count);
        database = resolve(database);
        const bool access = type.trimmed() == "MDB";
        const QString failure = engineDescription(access, database, sql);

        InProcess capture;
        ResultWindow* results = runOnScreen({sql, database, type});
        QVERIFY(results);
        QStringList expected = kOpening;
        if (!failure.isEmpty())
            expected << "beep"
                     << "msgbox:Errore SQL: " + failure + "|" + kAppTitle + "|0";
        QCOMPARE(afterCatalogueOpened(capture.summary()), expected);
        QCOMPARE(control<Label>(results, "lblNUM_REC")->caption(), count);
        const auto grid = [results](bool a) {
            return control<DataGrid>(results, a ? "DBGrid2" : "DBGrid1");
        };
        QVERIFY(results->activeGrid() == grid(access) && controlVisible(grid(access)) &&
                !controlVisible(grid(!access)));
        QCOMPARE(grid(access)->columnCount() > 0, failure.isEmpty());
        // Whatever ran, the file it ran on holds what it held, and no file appeared.
        QVERIFY(
            !QFile::exists(resolve("<missing>")) &&
            writeSqlite(rowsFile_,
                        {"CREATE TEMP TABLE c AS SELECT count(*) AS n FROM righe",
                         "SELECT CASE WHEN n = 1234 THEN 1 ELSE abs(-9223372036854775807 - 1) END "
                         "FROM c"}));
    }

    // The grid reads the rows it shows; the count is the whole result's. Scrolled to its end
    // the grid shows the last rows, and the grid report asked for every row prints them all.
    void millionRows_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("sql");
        const QString recursive = "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM "
                                  "s WHERE i < 1000000) SELECT i, 'riga ' || i AS nome FROM s";
        QTest::newRow("SQLite file") << "MDB"
                                     << "<rows>" << recursive;
        QTest::newRow("PostgreSQL") << "ODBC" << kPostgresDsn
                                    << "SELECT g AS i, 'riga ' || g AS nome FROM "
                                       "generate_series(1, 1000000) g";
        QTest::newRow("MariaDB") << "ODBC" << kMariadbDsn
                                 << "SELECT seq AS i, CONCAT('riga ', seq) AS nome FROM "
                                    "seq_1_to_1000000";
    }

    void millionRows() {
        QFETCH(QString, type);
        QFETCH(QString, database);
        QFETCH(QString, sql);
        InProcess capture;
        // The printed lines are read back from the transcript rather than kept.
        Printer::instance().setRecordLines(false);
        ResultWindow* results = runOnScreen({sql, resolve(database), type});
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
        const auto [printed, last] = printedRows(capture.transcriptPath());
        QCOMPARE(printed, 1000000);
        // Every row is measured, so the last row's text prints whole.
        QVERIFY2(last.startsWith(" 1000000  riga 1000000"), last.constData());
    }

    // A statement, its count or a report's reading that goes on past a second shows the
    // progress dialog: a queued Cancel stops the engine and the window says so, without one
    // the work runs to its end. Either way the window then runs the next statement as usual.
    void stopped_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("sql");
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
            QTest::newRow(name) << type << database << sql << steps << told << QString(count);
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
        QFETCH(QString, type);
        QFETCH(QString, database);
        QFETCH(QString, sql);
        QFETCH(QString, steps);
        QFETCH(QStringList, told);
        QFETCH(QString, count);
        Sandbox box;
        box.writeConfig(
            box.makeCatalogue("cat.db", {{"A1", "Lunga", sql, resolve(database), type}}));
        const ProgramRun run = box.run(steps + "click frmTS0003.cmdESCI\n"
                                               "type frmTS0002.txtSELEZ_SQL SELECT 1 AS uno\n"
                                               "click frmTS0002.cmdESEGUE_SQL\ndump\n",
                                       {"--print-to", box.path()});
        QVERIFY2(!run.crashed && run.exitCode == 0, run.standardError.constData());
        QCOMPARE(run.summary().filter(QRegularExpression("^(progress|msgbox|document)")), told);
        QCOMPARE(dumps(run), QStringList({"1| A1| Lunga|" + count, "1| A1| Lunga|       1"}));
    }

    // An entry with parameters, on either grid: Esegue SQL asks for each, in order, offering
    // nothing the first time; the count, the report (with its line of values), sorting both
    // ways (the count and the fitted widths stay) and the export read the result of the same
    // values. Run again, the answers given last are offered, and a Cancel runs nothing.
    void parameters_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("sql");
        const QString remote = QString(kParameterRows).replace("<table>", "righe_parametri");
        QTest::newRow("SQLite file")
            << "MDB" << rowsFile_ << QString(kParameterRows).replace("<table>", "righe");
        QTest::newRow("PostgreSQL") << "ODBC" << kPostgresDsn << remote;
        QTest::newRow("MariaDB, streamed") << "ODBC" << kMariadbDsn << remote;
    }

    void parameters() {
        QFETCH(QString, type);
        QFETCH(QString, database);
        QFETCH(QString, sql);
        const QString dal = "1200", count = "      35";
        const QString code = QStringLiteral("P") + QTest::currentDataTag();
        const auto run = [&](InProcess& capture, const std::optional<QString>& nome) {
            capture.dialogs().queueReply(dal);
            capture.dialogs().queueReply(nome);
            return runOnScreen({sql, database, type, code});
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
                     QStringList({prompt.arg("dal") + "|" + dal, prompt.arg("nome") + "|"}));
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
            QCOMPARE(expected.last(), count);
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
            QVERIFY(
                fileBytes(capture.transcriptPath())
                    .contains("\"text\":\"Parametri:   dal = " + dal.toUtf8() + "; nome = NULL\""));

            const QString csv = configHome_.filePath(code + ".csv");
            capture.dialogs().queueFile(csv);
            QCOMPARE(grid->automationMenu("Esporta CSV…"), QString());
            const QByteArray written = fileBytes(csv);
            QCOMPARE(written.count("\r\n"), count.trimmed().toInt() + 1);
            QVERIFY(written.mid(written.indexOf("\r\n") + 2).startsWith("1200;"));
            unloadAll();
        }
        // Run again: the answers given last are offered; Cancel on the second runs nothing.
        InProcess capture;
        QVERIFY(!run(capture, std::nullopt));
        QCOMPARE(asked(capture), QStringList({prompt.arg("dal") + dal + "|" + dal,
                                              prompt.arg("nome") + "|<cancel>"}));
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
        QVERIFY(!reason.isEmpty());
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
        Sandbox box;
        box.writeConfig(box.makeCatalogue(
            "cat.db", {{"A1", "Righe", kRows, rowsFile_, "MDB"},
                       {"B2", "Poche", "SELECT * FROM righe WHERE n <= 12", rowsFile_, "MDB"}}));
        const ProgramRun run = box.run(
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
        QCOMPARE(seen,
                 kOpening +
                     QString("state window:frmTS0002:restore window:frmTS0003:activate state "
                             "pointer:11 pointer:0 window:frmTS0003:activate state "
                             "window:frmTS0003:unload state")
                         .split(' ') +
                     kOpening +
                     QString("state window:frmTS0002:restore window:frmTS0003:unload state exit:0")
                         .split(' '));
        QCOMPARE(
            dumps(run),
            QStringList({"1| A1| Righe|   1.234",
                         "0| A1| Righe|       0", // type ODBC now: the other, empty grid
                         "0| A1| Righe|   1.234", "0|-|-|-", "1| B2| Poche|      12", "0|-|-|-"}));
    }
};

QTEST_MAIN(TestResultWindow)
#include "tst_result_window.moc"
