#include "data/odbc/odbc.h"
#include "support/harness.h"
#include "support/result_window_under_test.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <clocale>
#include <memory>
#include <optional>

using namespace velario;
using namespace velario::data;
using namespace velario::test;

namespace {

// SOURCE named NAME, with SETTING instead of its own value of that key.
OdbcDataSource with(OdbcDataSource source, const QString& name,
                    const QPair<QString, QString>& setting) {
    source.name = name;
    source.attributes.removeIf([&](const auto& a) { return a.first == setting.first; });
    source.attributes.append(setting);
    return source;
}

// What each engine needs for the same thing: column types, a binary literal, the refusal a
// write meets, a bare statement (one that cannot stand inside FROM (...)) with its column and
// value, a setting (no result set).
struct Engine {
    const char* name;
    QString dsn, text, blob, real, time, stamp, binary, refusal, bare, column, value, setting;
};
enum { Sqlite, Postgres, Mariadb };
const Engine kEngines[] = {
    {"sqlite", "velario-sqlite", "TEXT", "BLOB", "REAL", "TIME", "TIMESTAMP", "X'%1'",
     "attempt to write a readonly database", "PRAGMA user_version", "user_version", "0",
     "PRAGMA cache_size = 100"},
    {"postgres", "velario-pg", "TEXT", "BYTEA", "DOUBLE PRECISION", "TIME(6)", "TIMESTAMP(6)",
     "decode('%1', 'hex')", "in a read-only transaction", "SHOW search_path", "search_path",
     "\"$user\", public", "SET search_path TO public"},
    {"mariadb", "velario-mariadb", "LONGTEXT", "LONGBLOB", "DOUBLE", "TIME(6)", "DATETIME(6)",
     "X'%1'", "in a READ ONLY transaction", "SHOW DATABASES LIKE 'velario_test'",
     "Database (velario_test)", "velario_test", "SET @velario = 1"},
};

const QString kNonLatin = QStringLiteral("città ǅ 日本語 Ελληνικά Русский 😀");
// Characters of every UTF-8 length (25 bytes), so that the chunks the driver hands over
// split characters.
const QString kUnit = QStringLiteral("àbc日本😀-0123456789");

// The table "typed" as each engine's own client shows it (sqlite3, psql, mariadb), booleans
// as ODBC gives them; each engine is given its values in the same form. SQLite keeps decimals as
// doubles, and its driver hands doubles over with 15 significant digits as sqlite3 prints them: its
// values are ones that survive that.
QStringList typedRows(int engine) {
    const bool sqlite = engine == Sqlite, mariadb = engine == Mariadb;
    return {
        QStringList{"1", "-32768", "-2147483648", "-9223372036854775808",
                    sqlite ? "12345.6789" : "-1234567890123456789012345678.0123456789",
                    sqlite ? "0.1" : "0.30000000000000004", "0001-01-01",
                    mariadb ? "00:00:00.000000" : "00:00:00",
                    mariadb ? "0001-01-01 00:00:00.000000" : "0001-01-01 00:00:00", "1", "àé日本😀"}
            .join('|'),
        QStringList{"2", "32767", "2147483647", "9223372036854775807",
                    sqlite ? "9999999999.99" : "9999999999999999999999999999.9999999999",
                    sqlite    ? "1.0e+300"
                    : mariadb ? "1.7976931348623157e308"
                              : "1.7976931348623157e+308",
                    "9999-12-31", "23:59:59.999999", "9999-12-31 23:59:59.999999", "0",
                    "città ǅ 日本語 Ελληνικά Русский 😀"}
            .join('|'),
        QStringList{"3", "-1", "0", "1", sqlite ? "-1.0e-10" : "-0.0000000001",
                    sqlite ? "-2.25" : "5e-324", "2024-02-29",
                    mariadb ? "12:34:56.500000" : "12:34:56.5", "2024-02-29 12:34:56.123456", "1",
                    ""}
            .join('|'),
        "4" + QStringLiteral("|<NULL>").repeated(10),
    };
}

} // namespace

class TestOdbc : public QObject {
    Q_OBJECT

    // The rows of SQL on the data source NAME read BLOCK at a time, cells joined by '|', then
    // the error that ended them (empty at the end); or why it did not run.
    static QStringList rowsOf(const QString& name, const QString& sql, int block = 100) {
        Error error;
        auto connection = OdbcConnection::connect(name, &error);
        auto source = connection ? connection->execute(sql, &error) : nullptr;
        TextCells sink;
        while (source && source->fetch(block, sink) > 0) {
        }
        return source ? sink.rows << source->error().description : QStringList{error.description};
    }

    QTemporaryDir dir_;
    const QString database_ = dir_.filePath(QStringLiteral("test=1.db"));
    std::optional<TestServer> postgres_;
    std::optional<TestServer> mariadb_;
    std::unique_ptr<OdbcEnvironment> environment_;
    const QString longPostgresName_ =
        QStringLiteral("Server=prova;PostgreSQL di nome lungo ").leftJustified(80, 'x');
    const QString longSqliteName_ = QStringLiteral("SQLite di nome lungo ").leftJustified(40, 'x');
    const QString text_ = kUnit.repeated(42000); // a little over 1 MiB
    QByteArray binary_ = QByteArray(3000, '\0');

    // Written through a connection of the test's own: the program's connections refuse to
    // write.
    void populate(const Engine& e) {
        const auto binary = [&](const QByteArray& b) { return e.binary.arg(QString(b.toHex())); };
        // Each value of "typed" written as its engine shows it: dates, times and text quoted.
        QStringList typed;
        for (const QString& row : typedRows(int(&e - kEngines))) {
            QStringList v = row.split('|');
            for (qsizetype c = 6; c < v.size(); ++c)
                if (v[c] != "<NULL>")
                    v[c] = c == 9 ? (v[c] == "1" ? "TRUE" : "FALSE") : "'" + v[c] + "'";
            typed << "INSERT INTO typed VALUES (" + v.join(", ").replace("<NULL>", "NULL") + ")";
        }
        const QStringList statements =
            QStringList{
                "DROP TABLE IF EXISTS sample",
                QStringLiteral(
                    "CREATE TABLE sample (id INTEGER, name VARCHAR(20), note %1, data %2, "
                    "amount %3)")
                    .arg(e.text, e.blob, e.real),
                QStringLiteral("INSERT INTO sample VALUES (1, 'uno', '%1', %2, 1.5)")
                    .arg(kNonLatin, binary(QByteArray::fromHex("00FF10AB"))),
                "INSERT INTO sample VALUES (2, NULL, NULL, NULL, NULL)",
                QStringLiteral("INSERT INTO sample VALUES (3, 'lungo', '%1', %2, -2.25)")
                    .arg(text_, binary(binary_)),
                "DROP TABLE IF EXISTS custodita",
                "CREATE TABLE custodita (n INTEGER, nome VARCHAR(20))",
                "INSERT INTO custodita VALUES (1, 'uno'), (2, 'due'), (3, 'tre')",
                "DROP TABLE IF EXISTS typed",
                QStringLiteral("CREATE TABLE typed (id INTEGER, si SMALLINT, i INTEGER, bi BIGINT, "
                               "d NUMERIC(38,10), f %1, dt DATE, tm %2, ts %3, b BOOLEAN, t %4)")
                    .arg(e.real, e.time, e.stamp, e.text),
                "DROP TABLE IF EXISTS tipi",
                QStringLiteral("CREATE TABLE tipi (id INTEGER, lungo %1)").arg(e.text),
                QStringLiteral("INSERT INTO tipi VALUES (1, 'a'), (2, 'b'), (3, '%1'), (4, 'd'), "
                               "(5, 'e'), (6, 'f'), (7, 'g'), (8, 'h')")
                    .arg(longText())} +
            typed;
        const QString failure =
            &e == &kEngines[Sqlite]
                ? QString(writeSqlite(database_, statements) ? "" : "not written")
                : odbcRun(e.dsn, statements);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }
    // 92,000 characters, in every UTF-8 length.
    QString longText() const { return text_.left(92000); }

    // A data source of each driver with each setting that changes how its rows arrive:
    // SQLite's driver stepping or not, psqlODBC with a cursor fetching many or few rows or
    // without one, MariaDB's driver with a static or a forward-only cursor, with or without
    // its client cache.
    QList<QPair<QString, OdbcDataSource>> cursorVariants() const {
        const OdbcDataSource sqlite = sqliteDataSource({}, database_);
        const OdbcDataSource pg = postgresDataSource({}, postgres_->port);
        const OdbcDataSource maria = mariadbDataSource({}, mariadb_->port);
        return {
            {"sqlite/StepAPI=0", with(sqlite, "velario-sqlite-whole", {"StepAPI", "0"})},
            {"postgres/Fetch=2", with(pg, "velario-pg-2", {"Fetch", "2"})},
            {"postgres/no cursor", with(pg, "velario-pg-whole", {"UseDeclareFetch", "0"})},
            {"mariadb/static", with(maria, "velario-mariadb-static", {"OPTIONS", "2"})},
            {"mariadb/forward-only",
             with(maria, "velario-mariadb-forward", {"OPTIONS", "2097152"})},
            {"mariadb/no cache", with(maria, "velario-mariadb-stream", {"OPTIONS", "3145728"})},
        };
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        // The program's users write numbers with a decimal comma; drivers must not.
        QVERIFY2(std::setlocale(LC_NUMERIC, "it_IT.UTF-8"), "no it_IT.UTF-8 locale");
        for (int i = 0; i < binary_.size(); ++i)
            binary_[i] = char((i * 7) % 256);

        QString error;
        postgres_ = postgresTestServer(&error);
        mariadb_ = mariadbTestServer(&error);
        QVERIFY2(postgres_ && mariadb_ && error.isEmpty(),
                 qPrintable("no test servers: run through ctest " + error));

        // The SQLite driver given an empty name creates a file called "DSN=" where it runs.
        QVERIFY(QDir::setCurrent(dir_.path()));
        QList<OdbcDataSource> sources{
            sqliteDataSource(kEngines[Sqlite].dsn, database_),
            sqliteDataSource(longSqliteName_, database_, {{"LongNames", "1"}}),
            postgresDataSource(kEngines[Postgres].dsn, postgres_->port),
            postgresDataSource(longPostgresName_, postgres_->port),
            postgresDataSource(QStringLiteral("velario-pg-chiuso"), 1),
            mariadbDataSource(kEngines[Mariadb].dsn, mariadb_->port),
            // MariaDB Connector/ODBC's flag for several statements in one text.
            with(mariadbDataSource({}, mariadb_->port), "velario-mariadb-multi",
                 {"OPTION", "67108864"})};
        for (const auto& variant : cursorVariants())
            sources << variant.second;
        environment_ = std::make_unique<OdbcEnvironment>(sources);
        QVERIFY2(environment_->isValid(), qPrintable(environment_->errorString()));
        for (const Engine& engine : kEngines)
            populate(engine);
    }

    // Every common type at its extremes, text in every script, a long text and blob in a row
    // after the first of a block of rows, through each driver and each way text can cross. Counted
    // while being read and once read: a statement that cannot stand inside FROM (...) is counted
    // all the same, one without a result set has no rows.
    void values_data() {
        QTest::addColumn<QString>("dataSource");
        QTest::addColumn<bool>("wide");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("expected");

        const QStringList sample{"1|uno|" + kNonLatin + "|00FF10AB|1.5",
                                 "2" + QStringLiteral("|<NULL>").repeated(4),
                                 "3|lungo|" + text_ + '|' + binary_.toHex().toUpper() + "|-2.25"};
        for (int engine : {Sqlite, Postgres, Mariadb}) {
            const auto row = [&](const QString& tag, bool wide, const QString& sql,
                                 const QStringList& names, const QStringList& expected) {
                QTest::addRow("%s/%s", kEngines[engine].name, qPrintable(tag))
                    << kEngines[engine].dsn << wide << sql << names << expected;
            };
            for (const bool wide : {false, true}) {
                const QString mode = wide ? "wide/" : "default/";
                row(mode + "sample", wide,
                    "SELECT id AS \"identità\", name, note, data, amount FROM sample ORDER BY id",
                    QStringList{"identità", "name", "note", "data", "amount"}, sample);
                row(mode + "typed", wide, "SELECT * FROM typed ORDER BY id",
                    QStringLiteral("id si i bi d f dt tm ts b t").split(u' '), typedRows(engine));
            }
            row("semicolon", false, "SELECT id FROM sample WHERE id > 1 ;  \n", {"id"}, {"2", "3"});
            row("comment", false, "SELECT id FROM sample ORDER BY id -- ordinati", {"id"},
                {"1", "2", "3"});
            const Engine& e = kEngines[engine];
            row("not wrappable", false, e.bare, {e.column}, {e.value});
            row("no result set", false, e.setting, {}, {});
        }
        // A name too long for the driver manager: the data source's own attributes still reach
        // the driver beside the program's (LongNames=1 names a column after its table).
        QTest::newRow("SQLite/long name")
            << longSqliteName_ << false << "SELECT custodita.n FROM custodita WHERE n = 1"
            << QStringList{"custodita.n"} << QStringList{"1"};
    }

    void values() {
        QFETCH(QString, dataSource);
        QFETCH(bool, wide);
        QFETCH(QString, sql);
        QFETCH(QStringList, names);
        QFETCH(QStringList, expected);
        Error error;
        auto connection = OdbcConnection::connect(dataSource, &error);
        QVERIFY2(connection, qPrintable(error.description));
        QVERIFY(connection->textTransfer() == OdbcTextTransfer::Narrow);
        if (wide)
            connection->setTextTransfer(OdbcTextTransfer::Wide);
        auto source = connection->execute(sql, &error);
        QVERIFY2(source, qPrintable(error.description));
        QCOMPARE(source->columnCount(), int(names.size()));
        for (int c = 0; c <= source->columnCount(); ++c)
            QCOMPARE(source->columnName(c), names.value(c));

        // Pieces that do not line up with the driver's blocks.
        TextCells sink;
        QCOMPARE(source->fetch(2, sink), std::min(2, int(expected.size())));
        QVERIFY(expected.size() <= 2 || !source->atEnd());
        QCOMPARE(source->countRows(&error), qint64(expected.size()));
        while (source->fetch(100, sink) > 0) {
        }
        QVERIFY2(source->atEnd() && !source->error(), qPrintable(source->error().description));
        QCOMPARE(sink.rows, expected);
        QCOMPARE(source->countRows(&error), qint64(expected.size()));
        QVERIFY2(!error, qPrintable(error.description));
    }

    // Every row the count includes arrives, whatever cursor, fetch size or cache the data source
    // asks its driver for: a long value in the third row of a block stops none of them.
    void everyRow_data() {
        QTest::addColumn<QString>("dataSource");
        for (int engine : {Sqlite, Postgres, Mariadb})
            QTest::addRow("%s/default", kEngines[engine].name) << kEngines[engine].dsn;
        for (const auto& [tag, source] : cursorVariants())
            QTest::addRow("%s", qPrintable(tag)) << source.name;
    }
    void everyRow() {
        QFETCH(QString, dataSource);
        QCOMPARE(rowsOf(dataSource, "SELECT id, lungo FROM tipi ORDER BY id", 3),
                 QStringLiteral("1|a 2|b 3|%1 4|d 5|e 6|f 7|g 8|h ").arg(longText()).split(' '));
    }

    // A streamed MariaDB result: its first rows come while the server is still producing
    // the rest (the driver, reading every row inside SQLExecDirect, fails the statement
    // that fails on its millionth row), it is counted meanwhile on another connection, and
    // the rows before a failure arrive, then the server's reason. A stop ends the reading,
    // and the connection runs its next statement.
    void mariadbStreams() {
        Error error;
        auto connection = OdbcConnection::connect("velario-mariadb-stream", &error);
        QVERIFY2(connection, qPrintable(error.description));
        auto source = connection->execute(
            "SELECT s1.seq, (SELECT s2.seq FROM seq_1_to_2 s2 WHERE s2.seq = 1 OR "
            "s1.seq = 1000000) AS v FROM seq_1_to_1000000 s1",
            &error);
        QVERIFY2(source, qPrintable(error.description));
        TextCells sink;
        QCOMPARE(source->fetch(10, sink), 10);
        QCOMPARE(source->countRows(&error), 1000000);
        // Counted, and all but the last block's rows dropped as they come.
        qint64 counted = 0;
        for (int got; (got = source->fetch(65536, sink)) > 0; sink.cells.clear())
            counted += got, sink.rows = sink.rows.mid(sink.rows.size() - 1);
        QCOMPARE(counted, 999989);
        QCOMPARE(sink.rows, QStringList{"999999|1"});
        QVERIFY2(source->error().description.contains("[21000]"),
                 qPrintable(source->error().description));
        QVERIFY(source->atEnd());

        source = connection->execute("SELECT seq FROM seq_1_to_1000000", &error);
        QVERIFY2(source, qPrintable(error.description));
        QCOMPARE(source->fetch(10, sink), 10);
        source->interrupt();
        QCOMPARE(source->fetch(10, sink), 0);
        QCOMPARE(source->error().number, int(ErrorNumber::OperationCancelled));
        source->resume();
        source = connection->execute("SELECT 'ancora'", &error);
        QVERIFY2(source && source->fetch(1, sink) == 1, qPrintable(error.description));
        QCOMPARE(sink.rows.last(), "ancora");
    }

    // Whatever a statement would change is refused with the engine's reason, or rolled back: a
    // connection of the test's own then finds the data and the tables as they were. A statement
    // that fails leaves the connection usable.
    void nothingWritten_data() {
        QTest::addColumn<int>("engine");
        QTest::addColumn<QString>("dataSource");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QStringList>("refusal"); // empty: the statement runs, and is undone
        const auto row = [](int engine, const QString& dsn, const QString& sql,
                            const QStringList& refusal) {
            QTest::addRow("%s/%s", kEngines[engine].name,
                          qPrintable((sql.isEmpty() ? "connect " + dsn : sql).left(40)))
                << engine << dsn << sql << refusal;
        };
        for (int engine : {Sqlite, Postgres, Mariadb}) {
            const QString dsn = kEngines[engine].dsn, refusal = kEngines[engine].refusal;
            for (const char* sql : {"UPDATE custodita SET nome = 'cambiato'",
                                    "DROP TABLE custodita", "CREATE TABLE nuova (n INTEGER)"})
                row(engine, dsn, sql, {refusal});
            // SQLite's driver and MariaDB's (by default) take one statement at a time.
            row(engine, dsn, "DELETE FROM custodita; DROP TABLE custodita",
                {engine == Sqlite    ? "only one SQL statement allowed"
                 : engine == Mariadb ? "error in your SQL syntax"
                                     : refusal});
        }
        const QString sqlite = kEngines[Sqlite].dsn;
        // A name longer than the driver manager's 32 characters, holding = and ;, still finds its
        // data source, whose port must reach the driver.
        row(Postgres, longPostgresName_, "SELECT * FROM città_assente",
            {"[42P01]", "\"città_assente\" does not exist"});
        // What only a SQLite file can be asked: the file stays byte for byte as it was, and no
        // file appears beside it.
        // The driver steps a statement without columns only when a row is asked for.
        row(Sqlite, sqlite, "PRAGMA user_version = 7", {});
        row(Sqlite, sqlite, QStringLiteral("ATTACH '%1' AS altro").arg(dir_.filePath("altro.db")),
            {"unable to open database"});
        // Connections refused: a name the driver manager would misread, an unknown name longer
        // than its 32 characters, a server not listening.
        row(Sqlite, "\t\n", {}, {"Nome dell'origine dati ODBC non specificato."});
        const QString unknown =
            QStringLiteral("nessuna;origine=con nome lungo ").leftJustified(80, 'x');
        row(Sqlite, unknown, {},
            {"[IM002] Origine dati «" + unknown + "» non trovata e nessun driver predefinito"});
        row(Postgres, "velario-pg-chiuso", {}, {"[08001]"});
        // A transaction ended by the statement itself starts another read-only one.
        row(Postgres, kEngines[Postgres].dsn, "COMMIT; DELETE FROM custodita",
            {kEngines[Postgres].refusal});
        // Several statements, the first turning the session's read-only setting off: what the
        // second did is rolled back.
        row(Mariadb, "velario-mariadb-multi",
            "SET SESSION TRANSACTION READ WRITE; DELETE FROM custodita", {});
    }

    void nothingWritten() {
        QFETCH(int, engine);
        QFETCH(QString, dataSource);
        QFETCH(QString, sql);
        QFETCH(QStringList, refusal);
        const auto state = [&] {
            QStringList lines = rowsOf(kEngines[engine].dsn, "SELECT * FROM custodita ORDER BY n");
            lines << rowsOf(kEngines[engine].dsn, "SELECT * FROM nuova").value(0);
            if (engine == Sqlite)
                lines << QString::number(qHash(fileBytes(database_)))
                      << QDir(dir_.path()).entryList(QDir::Files).join(',');
            return lines;
        };
        const QStringList before = state();
        QCOMPARE(before.mid(0, 3), (QStringList{"1|uno", "2|due", "3|tre"}));
        {
            Error error;
            auto connection = OdbcConnection::connect(dataSource, &error);
            QCOMPARE(bool(connection), !sql.isEmpty());
            auto source = connection ? connection->execute(sql, &error) : nullptr;
            QCOMPARE(bool(source), refusal.isEmpty());
            QCOMPARE(error.number, refusal.isEmpty() ? 0
                                   : connection      ? int(ErrorNumber::OdbcCallFailed)
                                                     : int(ErrorNumber::OdbcConnectFailed));
            for (const QString& fragment : refusal)
                QVERIFY2(error.description.contains(fragment), qPrintable(error.description));
            if (connection && !source) {
                source = connection->execute(QStringLiteral("SELECT COUNT(*) FROM sample"), &error);
                TextCells sink;
                QVERIFY2(source && source->fetch(1, sink) == 1, qPrintable(error.description));
                QCOMPARE(sink.rows, QStringList{"3"});
            }
        }
        QCOMPARE(state(), before);
    }
};

QTEST_GUILESS_MAIN(TestOdbc)
#include "tst_odbc.moc"
