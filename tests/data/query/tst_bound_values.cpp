#include "data/odbc/odbc.h"
#include "data/query/bound_statement.h"
#include "data/sqlite/database.h"
#include "support/result_window_under_test.h"

#include <QDir>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace velario;
using namespace velario::data;
using namespace velario::test;

namespace {

// Every target the program reaches, each with the orders table below but the Access file,
// whose own table stands in for it.
enum Target { SqliteFile, AccessFile, SqliteOdbc, PostgresOdbc, MariadbOdbc, MariadbStreamed };
const char* const kTargets[] = {"sqlite file",   "access file",  "sqlite odbc",
                                "postgres odbc", "mariadb odbc", "mariadb streamed"};
const char* const kDataSources[] = {nullptr, nullptr,      "bv-sqlite",
                                    "bv-pg", "bv-mariadb", "bv-mariadb-stream"};

const QString kHostile = QStringLiteral("x'); DROP TABLE t; --");
const QStringList kOrders{
    "CREATE TABLE ordini (numero INTEGER, data DATE, cliente INTEGER, nota VARCHAR(40), "
    "importo DECIMAL(10,2))",
    "INSERT INTO ordini VALUES (1, '2026-01-10', 7, 'uno', 10.5)",
    "INSERT INTO ordini VALUES (2, '2026-12-31', 8, 'x''); DROP TABLE t; --', 20)",
    "INSERT INTO ordini VALUES (3, '2025-05-05', NULL, 'tre', 3.25)", "CREATE TABLE t (n INTEGER)"};

// The rows of a case whose statement runs, but fails sorted.
const QString kUnwrappable = QStringLiteral("<unwrappable>");

struct Case {
    const char* tag;
    QString sql;
    ParameterAnswers answers;
    QStringList rows; // cells joined by '|'
    int sortColumn = -1;
    bool descending = false;
};

const QString kExample = QStringLiteral(
    "select numero from ordini where data >= :dal and (:cliente is null or cliente = :cliente) "
    "order by numero");
const QString kAccessExample = QStringLiteral(
    "select count(*) from [Asset Items] where [Acquired] >= :dal and (:garanzia is null or "
    "[Warranty] = :garanzia)");

// Each case on the orders table; on the Access file's own table, those whose values it binds
// its own way.
QList<Case> cases(bool access) {
    if (access)
        return {{"empty answer is null, one name twice",
                 kAccessExample,
                 {{"dal", "27/06/1999"}, {"garanzia", " "}},
                 {"12"}},
                {"number, date as yyyy-mm-dd",
                 kAccessExample,
                 {{"dal", "1999-06-27"}, {"garanzia", "12"}},
                 {"4"}},
                {"date equal to the engine's",
                 "select count(*) from [Asset Items] where [Acquired] = :giorno",
                 {{"giorno", "27/06/1999"}},
                 {"3"}}};
    const QString sorted = "select numero, cliente from ordini where importo > :minimo";
    return {
        {"empty answer is null, one name twice",
         kExample,
         {{"dal", "01/01/2026"}, {"CLIENTE", ""}},
         {"1", "2"}},
        {"number, date as yyyy-mm-dd", kExample, {{"dal", "2026-01-01"}, {"cliente", "7"}}, {"1"}},
        {"date equal to the engine's",
         "select numero from ordini where data = :giorno",
         {{"giorno", "31/12/2026"}},
         {"2"}},
        {"numbers compare as numbers",
         "select numero from ordini where importo > :minimo and :minimo < 11.0 and cliente < :n "
         "+ 1 and :n < 10",
         {{"minimo", "10,25"}, {"n", "7"}},
         {"1"}},
        {"hostile text is data",
         "select :nota, (select count(*) from ordini where nota = :nota) from ordini where "
         "numero = 1",
         {{"nota", kHostile}},
         {kHostile + "|1"}},
        {"literal, quoted name and comments are no parameters",
         "select ':x' as \"a:y\", numero /* :c */ from ordini where numero = :n -- :z",
         {{"n", "2"}},
         {":x|2"}},
        {"sorted up", sorted, {{"minimo", "4"}}, {"1|7", "2|8"}, 1, false},
        {"sorted down", sorted, {{"minimo", "4"}}, {"2|8", "1|7"}, 1, true},
    };
}

} // namespace

class TestBoundValues : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<OdbcEnvironment> odbc_;
    QString sqliteFile_;

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        sqliteFile_ = dir_.filePath("ordini.db");
        QVERIFY(writeSqlite(sqliteFile_, kOrders));
        QString error;
        const std::optional<TestServer> pg = postgresTestServer(&error);
        const std::optional<TestServer> mariadb = mariadbTestServer(&error);
        QVERIFY2(pg && mariadb && error.isEmpty(),
                 qPrintable("no test servers: run through ctest " + error));
        // psqlODBC as it comes, with statements prepared on the server, and MariaDB's driver
        // reading results itself rather than leaving them to the program.
        OdbcDataSource postgres = postgresDataSource(kDataSources[PostgresOdbc], pg->port);
        postgres.attributes.removeIf([](const auto& a) { return a.first == "UseDeclareFetch"; });
        OdbcDataSource cached = mariadbDataSource(kDataSources[MariadbOdbc], mariadb->port);
        cached.attributes.append(QPair<QString, QString>("OPTIONS", "2"));
        odbc_ = std::make_unique<OdbcEnvironment>(QList<OdbcDataSource>{
            sqliteDataSource(kDataSources[SqliteOdbc], sqliteFile_), postgres, cached,
            mariadbDataSource(kDataSources[MariadbStreamed], mariadb->port)});
        QVERIFY2(odbc_->isValid(), qPrintable(odbc_->errorString()));
        for (const Target target : {PostgresOdbc, MariadbOdbc}) {
            const QString failure = odbcRun(
                kDataSources[target],
                QStringList{"DROP TABLE IF EXISTS ordini", "DROP TABLE IF EXISTS t"} + kOrders);
            QVERIFY2(failure.isEmpty(), qPrintable(failure));
        }
    }

    // Each case on each target: the rows, and the count of the same statement with the same
    // values.
    void bound_data() {
        QTest::addColumn<int>("target");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<ParameterAnswers>("answers");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("sortColumn");
        QTest::addColumn<bool>("descending");
        for (int target = SqliteFile; target <= MariadbStreamed; ++target) {
            QList<Case> cases = ::cases(target == AccessFile);
            if (target == PostgresOdbc)
                cases.append(Case{"after a cast", "select :n::integer + 1", {{"n", "7"}}, {"8"}});
            // Runs as it is, but not as a derived table.
            const char* unwrappable = target == PostgresOdbc  ? "show server_version"
                                      : target >= MariadbOdbc ? "show tables"
                                                              : "pragma table_info(t)";
            cases.append(Case{"cannot be sorted", unwrappable, {}, {kUnwrappable}, 0, false});
            for (const Case& c : cases)
                QTest::addRow("%s: %s", kTargets[target], c.tag)
                    << target << c.sql << c.answers << c.rows << c.sortColumn << c.descending;
        }
    }

    void bound() {
        QFETCH(int, target);
        QFETCH(QString, sql);
        QFETCH(ParameterAnswers, answers);
        QFETCH(QStringList, rows);
        QFETCH(int, sortColumn);
        QFETCH(bool, descending);

        Error error;
        const BoundStatement unsorted = bindAnswers(sql, answers, QLocale("it_IT"), &error);
        QVERIFY(!error);
        std::unique_ptr<Database> database;
        std::unique_ptr<OdbcConnection> connection;
        if (target == SqliteFile || target == AccessFile)
            database = Database::open(target == SqliteFile
                                          ? sqliteFile_
                                          : qEnvironmentVariable("VELARIO_SOURCE_DIR") +
                                                "/tests/data/access/ASampleDatabase.accdb",
                                      true, &error);
        else
            connection = OdbcConnection::connect(kDataSources[target], &error, true);
        QVERIFY2(database || connection, qPrintable(error.description));
        // The rows read and their count, or what went wrong.
        const auto run = [&](const BoundStatement& s) {
            Error failure;
            std::unique_ptr<ResultSource> ran =
                database ? database->execute(s, &failure) : connection->execute(s, &failure);
            TextCells read;
            while (ran && ran->fetch(100, read) > 0) {
            }
            if (!failure && ran->error())
                failure = ran->error();
            const qint64 count = failure ? 0 : ran->countRows(&failure);
            return failure ? QStringList{"! " + failure.description}
                           : read.rows << QString::number(count);
        };
        const QStringList got =
            run(sortColumn >= 0 ? sortedStatement(unsorted, sortColumn, descending) : unsorted);
        if (rows == QStringList{kUnwrappable}) {
            QVERIFY(got.value(0).startsWith("! "));
            QVERIFY2(!run(unsorted).value(0).startsWith("! "), qPrintable(run(unsorted).value(0)));
        } else {
            QCOMPARE(got, rows << QString::number(rows.size()));
        }
    }
};

QTEST_GUILESS_MAIN(TestBoundValues)
#include "tst_bound_values.moc"
