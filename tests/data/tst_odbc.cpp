#include "data/odbc.h"
#include "support/odbc_fixture.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <memory>
#include <optional>

using namespace velario;
using namespace velario::data;
using namespace velario::test;

namespace {

using Cell = std::optional<QByteArray>;
using Row = QList<Cell>;
using Rows = QList<Row>;

class CollectingSink : public RowSink {
public:
    Rows rows;
    void beginRow() override { current_.clear(); }
    void cell(const char* utf8, qsizetype length) override {
        current_.append(QByteArray(utf8, length));
    }
    void nullCell() override { current_.append(std::nullopt); }
    void endRow() override { rows.append(current_); }

private:
    Row current_;
};

// What each engine needs for the same thing: column types, then formats of expressions.
struct Engine {
    const char* name;
    QString dsn, text, blob, real, time, stamp;
    QString concat, series, repeated, bytes, binary; // series: "SELECT %1" over r = 1 to %2
    QString refusal;                                 // what a write meets
};
enum { Sqlite, Postgres, Mariadb };
const Engine kEngines[] = {
    {"sqlite", "velario-sqlite", "TEXT", "BLOB", "REAL", "TIME", "TIMESTAMP", "%1 || %2",
     "WITH RECURSIVE s(r) AS (SELECT 1 UNION ALL SELECT r + 1 FROM s WHERE r < %2) SELECT %1 "
     "FROM s",
     "replace(hex(zeroblob(%1)), '00', '%2')", "CAST(%1 AS BLOB)", "X'%1'",
     "attempt to write a readonly database"},
    {"postgres", "velario-pg", "TEXT", "BYTEA", "DOUBLE PRECISION", "TIME(6)", "TIMESTAMP(6)",
     "%1 || %2", "SELECT %1 FROM generate_series(1, %2) AS s(r)", "repeat('%2', %1)",
     "convert_to(%1, 'UTF8')", "decode('%1', 'hex')", "in a read-only transaction"},
    {"mariadb", "velario-mariadb", "LONGTEXT", "LONGBLOB", "DOUBLE", "TIME(6)", "DATETIME(6)",
     "CONCAT(%1, %2)", "SELECT %1 FROM (SELECT seq AS r FROM seq_1_to_%2) s", "repeat('%2', %1)",
     "CAST(%1 AS BINARY)", "X'%1'", "in a READ ONLY transaction"},
};

const QString kNonLatin = QStringLiteral("città ǅ 日本語 Ελληνικά Русский 😀");
// Characters of every UTF-8 length (25 bytes), so that the chunks the driver hands over
// split characters.
const QString kUnit = QStringLiteral("àbc日本😀-0123456789");

// The table "longs": a short text and blob in every row but rows 2, 17 and 300, which hold
// 1 KB, 100 KB and 10 MB of kUnit, as text and as its bytes.
constexpr int kLongRows = 300;
int longRepeats(int id) {
    return id == 2 ? 41 : id == 17 ? 4096 : id == 300 ? 400000 : 0;
}

Row cells(std::initializer_list<const char*> values) {
    Row row;
    for (const char* value : values)
        row.append(value ? Cell(QByteArray(value)) : std::nullopt);
    return row;
}

// The table "typed" as each engine's own client shows it (sqlite3, psql, mariadb), booleans
// as ODBC gives them. SQLite keeps decimals as doubles, and its driver hands doubles over
// with 15 significant digits as sqlite3 prints them: its values are ones that survive that.
Rows typedRows(int engine) {
    const bool sqlite = engine == Sqlite, mariadb = engine == Mariadb;
    return {
        cells({"1", "-32768", "-2147483648", "-9223372036854775808",
               sqlite ? "12345.6789" : "-1234567890123456789012345678.0123456789",
               sqlite ? "0.1" : "0.30000000000000004", "0001-01-01",
               mariadb ? "00:00:00.000000" : "00:00:00",
               mariadb ? "0001-01-01 00:00:00.000000" : "0001-01-01 00:00:00", "1", "àé日本😀"}),
        cells({"2", "32767", "2147483647", "9223372036854775807",
               sqlite ? "9999999999.99" : "9999999999999999999999999999.9999999999",
               sqlite    ? "1.0e+300"
               : mariadb ? "1.7976931348623157e308"
                         : "1.7976931348623157e+308",
               "9999-12-31", "23:59:59.999999", "9999-12-31 23:59:59.999999", "0",
               "città ǅ 日本語 Ελληνικά Русский 😀"}),
        cells({"3", "-1", "0", "1", sqlite ? "-1.0e-10" : "-0.0000000001",
               sqlite ? "-2.25" : "5e-324", "2024-02-29",
               mariadb ? "12:34:56.500000" : "12:34:56.5", "2024-02-29 12:34:56.123456", "1", ""}),
        cells({"4", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
               nullptr}),
    };
}

// What a trace file or the server's log gained since FROM; PostgreSQL indents the lines
// of a statement after the first.
QString tail(const QString& path, qint64 from) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(from))
        return {};
    return QString::fromUtf8(file.readAll()).replace(QStringLiteral("\n\t"), QStringLiteral("\n"));
}

} // namespace

Q_DECLARE_METATYPE(Rows)

class TestOdbc : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void values_data();
    void values();
    void countRows_data();
    void countRows();
    void nothingWritten_data();
    void nothingWritten();
    void connectFails_data();
    void connectFails();
    void sqliteStepping_data();
    void sqliteStepping();

private:
    static std::unique_ptr<OdbcConnection> open(const QString& name) {
        Error error;
        auto connection = OdbcConnection::connect(name, &error);
        if (!connection)
            qWarning("%s: %s", qPrintable(name), qPrintable(error.description));
        return connection;
    }
    // The first cell of SQL's first row, or what went wrong.
    static QByteArray scalar(OdbcConnection& connection, const QString& sql) {
        Error error;
        auto source = connection.execute(sql, &error);
        CollectingSink sink;
        if (!source || source->fetch(1, sink) != 1)
            return "error: " + (source ? source->error() : error).description.toUtf8();
        return sink.rows[0].value(0).value_or("NULL");
    }
    QString populate(const Engine& engine);
    QString traceFile(int engine) const {
        return engine == Sqlite ? dir_.filePath(QStringLiteral("sqlite-trace.log"))
                                : QDir(engine == Postgres ? postgres_->folder : mariadb_->folder)
                                      .filePath(QStringLiteral("server.log"));
    }

    QTemporaryDir dir_;
    std::optional<TestServer> postgres_;
    std::optional<TestServer> mariadb_;
    std::unique_ptr<OdbcEnvironment> environment_;
    const QString longSqliteName_ =
        QStringLiteral("Archivio=prova;SQLite}di nome lungo ").leftJustified(80, 'x');
    const QString longPostgresName_ =
        QStringLiteral("Server=prova;PostgreSQL di nome lungo ").leftJustified(80, 'x');
    const QString shortSpecialName_ = QStringLiteral("a=b;c}d{e");
    QString text_; // about 1 MB
    QByteArray binary_ = QByteArray(3000, '\0');
};

void TestOdbc::initTestCase() {
    QVERIFY(dir_.isValid());
    // The program's users write numbers with a decimal comma; drivers must not.
    QVERIFY2(std::setlocale(LC_NUMERIC, "it_IT.UTF-8"), "no it_IT.UTF-8 locale");
    while (text_.toUtf8().size() < 1024 * 1024)
        text_ += kUnit.repeated(4096);
    for (int i = 0; i < binary_.size(); ++i)
        binary_[i] = char((i * 7) % 256);

    QString error;
    postgres_ = postgresTestServer(&error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    mariadb_ = mariadbTestServer(&error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY2(postgres_ && mariadb_, "no test servers: run through ctest, which starts the "
                                    "postgres and mariadb fixtures");

    const QString database = dir_.filePath(QStringLiteral("test=1.db"));
    QFile empty(database);
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    OdbcDataSource multi =
        mariadbDataSource(QStringLiteral("velario-mariadb-multi"), mariadb_->port);
    // MariaDB Connector/ODBC's flag for several statements in one text.
    multi.attributes.append({QStringLiteral("OPTION"), QStringLiteral("67108864")});
    environment_ = std::make_unique<OdbcEnvironment>(QList<OdbcDataSource>{
        sqliteDataSource(kEngines[Sqlite].dsn, database,
                         {{QStringLiteral("Tracefile"), traceFile(Sqlite)}}),
        sqliteDataSource(shortSpecialName_, database),
        sqliteDataSource(longSqliteName_, database),
        sqliteDataSource(QStringLiteral("velario-sqlite-step0"), database,
                         {{QStringLiteral("stepapi"), QStringLiteral("0")}}),
        sqliteDataSource(QStringLiteral("velario-sqlite-step1"), database,
                         {{QStringLiteral("StepAPI"), QStringLiteral("1")}}),
        postgresDataSource(kEngines[Postgres].dsn, postgres_->port),
        postgresDataSource(longPostgresName_, postgres_->port),
        postgresDataSource(QStringLiteral("velario-pg-chiuso"), 1),
        mariadbDataSource(kEngines[Mariadb].dsn, mariadb_->port),
        multi,
    });
    QVERIFY2(environment_->isValid(), qPrintable(environment_->errorString()));
    for (const Engine& engine : kEngines) {
        const QString failure = populate(engine);
        QVERIFY2(failure.isEmpty(), qPrintable(engine.name + QStringLiteral(": ") + failure));
    }
}

// Written through a connection of the test's own: the program's connections refuse to write.
QString TestOdbc::populate(const Engine& e) {
    const bool sqlite = e.dsn == kEngines[Sqlite].dsn;
    const auto series = [&](const QString& columns, int n) {
        return e.series.arg(columns, QString::number(n));
    };
    const auto concat = [&](const QString& a, const QString& b) { return e.concat.arg(a, b); };
    const auto bytes = [&](const QString& text) { return e.bytes.arg(text); };
    const auto binary = [&](const QByteArray& b) { return e.binary.arg(QString(b.toHex())); };
    QStringList statements{
        "DROP TABLE IF EXISTS sample",
        QStringLiteral("CREATE TABLE sample (id INTEGER, name VARCHAR(20), note %1, data %2, "
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
        "DROP TABLE IF EXISTS longs",
        QStringLiteral("CREATE TABLE longs (id INTEGER, t %1, b %2)").arg(e.text, e.blob),
        "INSERT INTO longs " +
            series(QStringLiteral("r, %1, %2").arg(concat("'r'", "r"), bytes(concat("'r'", "r"))),
                   kLongRows),
        "DROP TABLE IF EXISTS typed",
        QStringLiteral("CREATE TABLE typed (id INTEGER, si SMALLINT, i INTEGER, bi BIGINT, "
                       "d NUMERIC(38,10), f %1, dt DATE, tm %2, ts %3, b BOOLEAN, t %4)")
            .arg(e.real, e.time, e.stamp, e.text),
        QStringLiteral("INSERT INTO typed VALUES (1, -32768, -2147483648, -9223372036854775808, "
                       "%1, %2, '0001-01-01', '00:00:00', '0001-01-01 00:00:00', TRUE, 'àé日本😀')")
            .arg(sqlite ? "12345.6789" : "-1234567890123456789012345678.0123456789",
                 sqlite ? "0.1" : "0.30000000000000004"),
        QStringLiteral("INSERT INTO typed VALUES (2, 32767, 2147483647, 9223372036854775807, %1, "
                       "%2, '9999-12-31', '23:59:59.999999', '9999-12-31 23:59:59.999999', FALSE, "
                       "'%3')")
            .arg(sqlite ? "9999999999.99" : "9999999999999999999999999999.9999999999",
                 sqlite ? "1e300" : "1.7976931348623157e308", kNonLatin),
        QStringLiteral("INSERT INTO typed VALUES (3, -1, 0, 1, -0.0000000001, %1, '2024-02-29', "
                       "'12:34:56.5', '2024-02-29 12:34:56.123456', TRUE, '')")
            .arg(sqlite ? "-2.25" : "5e-324"),
        "INSERT INTO typed (id) VALUES (4)",
        "DROP TABLE IF EXISTS wide60",
    };
    for (int id = 1; id <= kLongRows; ++id) {
        const QString repeated = e.repeated.arg(QString::number(longRepeats(id)), kUnit);
        if (longRepeats(id))
            statements << QStringLiteral("UPDATE longs SET t = %1, b = %2 WHERE id = %3")
                              .arg(repeated, bytes(repeated), QString::number(id));
    }
    if (sqlite)
        statements << "DROP TABLE IF EXISTS steps"
                   << "CREATE TABLE steps (x INTEGER PRIMARY KEY)"
                   << "INSERT INTO steps " + series("r", 2000);
    QStringList definitions, expressions;
    for (int c = 1; c <= 60; ++c) {
        definitions << QStringLiteral("c%1 %2").arg(c).arg(c % 2 ? "INTEGER" : "TEXT");
        expressions << (c == 1  ? QStringLiteral("r")
                        : c % 2 ? QStringLiteral("r * 100 + %1").arg(c)
                                : concat(concat("r", "'ñ'"), QString::number(c)));
    }
    statements << QStringLiteral("CREATE TABLE wide60 (%1)").arg(definitions.join(", "))
               << "INSERT INTO wide60 " + series(expressions.join(", "), 1100);
    return odbcRun(e.dsn, statements);
}

// Every common type at its extremes, text in every script, long texts and blobs in rows
// after the first of a block of rows, and sixty columns, through each driver and each way
// text can cross.
void TestOdbc::values_data() {
    QTest::addColumn<int>("engine");
    QTest::addColumn<QString>("transfer");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<Rows>("expected");

    const Rows sample{
        {"1", "uno", kNonLatin.toUtf8(), "00FF10AB", "1.5"},
        {"2", std::nullopt, std::nullopt, std::nullopt, std::nullopt},
        {"3", "lungo", text_.toUtf8(), binary_.toHex().toUpper(), "-2.25"},
    };
    Rows longs, wide;
    for (int id = 1; id <= kLongRows; ++id) {
        const QByteArray text = longRepeats(id) ? kUnit.repeated(longRepeats(id)).toUtf8()
                                                : "r" + QByteArray::number(id);
        longs.append({QByteArray::number(id), text, text.toHex().toUpper()});
    }
    QStringList wideNames;
    for (int c = 1; c <= 60; ++c)
        wideNames << QStringLiteral("c%1").arg(c);
    for (int r = 1; r <= 1100; ++r) {
        Row row;
        for (int c = 1; c <= 60; ++c)
            row << (c == 1  ? QByteArray::number(r)
                    : c % 2 ? QByteArray::number(r * 100 + c)
                            : QStringLiteral("%1ñ%2").arg(r).arg(c).toUtf8());
        wide << row;
    }
    for (int engine : {Sqlite, Postgres, Mariadb}) {
        // SQLite's default is narrow (checked below).
        for (const char* transfer : {"default", "narrow", "wide"}) {
            if (engine == Sqlite && qstrcmp(transfer, "narrow") == 0)
                continue;
            const auto row = [&](const char* table, const QString& sql, const char* names,
                                 const Rows& expected) {
                QTest::addRow("%s/%s/%s", kEngines[engine].name, transfer, table)
                    << engine << QString::fromLatin1(transfer) << sql
                    << QString::fromUtf8(names).split(u' ') << expected;
            };
            row("sample",
                "SELECT id AS \"identità\", name, note, data, amount FROM sample ORDER BY id",
                "identità name note data amount", sample);
            row("typed", "SELECT * FROM typed ORDER BY id", "id si i bi d f dt tm ts b t",
                typedRows(engine));
            row("longs", "SELECT * FROM longs ORDER BY id", "id t b", longs);
            row("wide60", "SELECT * FROM wide60 ORDER BY c1", qPrintable(wideNames.join(' ')),
                wide);
        }
    }
}

void TestOdbc::values() {
    QFETCH(int, engine);
    QFETCH(QString, transfer);
    QFETCH(QString, sql);
    QFETCH(QStringList, names);
    QFETCH(Rows, expected);
    auto connection = open(kEngines[engine].dsn);
    QVERIFY(connection);
    if (engine == Sqlite)
        QCOMPARE(connection->textTransfer(), OdbcTextTransfer::Narrow);
    if (transfer == QLatin1String("narrow"))
        QVERIFY2(connection->textTransfer() == OdbcTextTransfer::Narrow,
                 "SQL_C_CHAR text does not arrive in UTF-8 in this locale");
    else if (transfer == QLatin1String("wide"))
        connection->setTextTransfer(OdbcTextTransfer::Wide);

    Error error;
    auto source = connection->execute(sql, &error);
    QVERIFY2(source, qPrintable(error.description));
    const int columns = int(names.size());
    QCOMPARE(source->columnCount(), columns);
    for (int c = 0; c <= columns; ++c)
        QCOMPARE(source->columnName(c), names.value(c));

    // Pieces that do not line up with the driver's blocks.
    CollectingSink sink;
    QCOMPARE(source->fetch(2, sink), 2);
    QVERIFY(!source->atEnd());
    while (source->fetch(100, sink) > 0) {
    }
    QVERIFY(source->atEnd());
    QVERIFY2(!source->error(), qPrintable(source->error().description));
    QCOMPARE(sink.rows.size(), expected.size());
    for (int r = 0; r < expected.size(); ++r) {
        QCOMPARE(sink.rows[r].size(), columns);
        for (int c = 0; c < columns; ++c) {
            const Cell& got = sink.rows[r][c];
            const Cell& want = expected[r][c];
            if (got != want)
                QFAIL(qPrintable(QStringLiteral("row %1 column %2: %3 (%4 bytes)")
                                     .arg(r + 1)
                                     .arg(c + 1)
                                     .arg(QString::fromUtf8(got.value_or("NULL").left(40)))
                                     .arg(got ? got->size() : -1)));
        }
    }
    QCOMPARE(source->countRows(&error), qint64(expected.size()));
    QVERIFY2(!error, qPrintable(error.description));
}

void TestOdbc::countRows_data() {
    QTest::addColumn<int>("engine");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<qint64>("expected");
    QTest::addColumn<QString>("how"); // "query": by COUNT(*) over it, "again": by running it again

    for (int engine : {Sqlite, Postgres, Mariadb}) {
        const auto row = [&](const char* tag, const char* sql, qint64 rows, const char* how) {
            QTest::addRow("%s/%s", kEngines[engine].name, tag)
                << engine << QString::fromUtf8(sql) << rows << QString::fromLatin1(how);
        };
        row("select", "SELECT id, note FROM sample", 3, "query");
        row("semicolon", "SELECT id FROM sample WHERE id > 1 ;  \n", 2, "query");
        row("comment", "SELECT id FROM sample ORDER BY id -- ordinati", 3, "query");
        row("empty", "SELECT id FROM sample WHERE id < 0", 0, "query");
        // Statements that cannot stand inside FROM (...), and ones that give no result set.
        if (engine == Sqlite) {
            row("pragma", "PRAGMA table_info(sample)", 5, "again");
            row("no result set", "PRAGMA cache_size = 100", 0, "");
        } else if (engine == Postgres) {
            row("show", "SHOW search_path", 1, "again");
            row("no result set", "SET search_path TO public", 0, "");
        } else {
            row("show", "SHOW COLUMNS FROM sample", 5, "again");
            row("no result set", "SET @velario = 1", 0, "");
        }
    }
}

void TestOdbc::countRows() {
    QFETCH(int, engine);
    QFETCH(QString, sql);
    QFETCH(qint64, expected);
    QFETCH(QString, how);
    auto connection = open(kEngines[engine].dsn);
    QVERIFY(connection);
    Error error;
    auto source = connection->execute(sql, &error);
    QVERIFY2(source, qPrintable(error.description));
    QCOMPARE(source->columnCount() == 0, how.isEmpty());

    // Counting while the statement is being read must not disturb the reading.
    CollectingSink sink;
    const int first = source->fetch(1, sink);
    const qint64 mark = QFileInfo(traceFile(engine)).size();
    QCOMPARE(source->countRows(&error), expected);
    QVERIFY2(!error, qPrintable(error.description));
    while (source->fetch(1000, sink) > 0) {
    }
    QVERIFY(source->atEnd());
    QVERIFY2(!source->error(), qPrintable(source->error().description));
    QCOMPARE(qint64(sink.rows.size()), expected);
    QCOMPARE(first, expected > 0 ? 1 : 0);

    // What reached the driver (SQLite's trace) or the server (its statement log) tells how
    // the count was taken.
    const QString seen = tail(traceFile(engine), mark);
    QString statement = sql;
    while (statement.back().isSpace() || statement.back() == QLatin1Char(';'))
        statement.chop(1);
    const qsizetype wrapped = seen.count(QStringLiteral("SELECT COUNT(*) FROM (\n") + statement);
    // SQLite's trace has every statement when it is prepared, and again once it has been
    // read to its end, which for a result read as it is fetched comes after the mark.
    const qsizetype runs = engine == Sqlite
                               ? seen.count(QStringLiteral("sqlite3_prepare_v2: ") + statement)
                               : seen.count(statement) - wrapped;
    // MariaDB logs a statement once it is prepared, which the wrapped SHOW never is.
    QVERIFY2((wrapped > 0) == !how.isEmpty() || (engine == Mariadb && how == "again"),
             qPrintable(seen.left(2000)));
    QCOMPARE(runs > 0, how == "again");
}

// Whatever a statement would change is refused with the engine's reason, or rolled back: a
// connection of the test's own then finds the data and the tables as they were. A statement
// that fails leaves the connection usable.
void TestOdbc::nothingWritten_data() {
    QTest::addColumn<int>("engine");
    QTest::addColumn<QString>("dataSource");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("refusal"); // empty: the statement runs, and is undone

    const QStringList statements{
        "DELETE FROM custodita",
        "UPDATE custodita SET nome = 'cambiato'",
        "INSERT INTO custodita VALUES (4, 'quattro')",
        "DROP TABLE custodita",
        "CREATE TABLE nuova (n INTEGER)",
        "ALTER TABLE custodita ADD COLUMN extra INTEGER",
        "DELETE FROM custodita; DROP TABLE custodita",
        "REPLACE INTO custodita VALUES (9, 'nove')",
    };
    const auto row = [](int engine, const QString& dsn, const QString& sql,
                        const QStringList& refusal) {
        QTest::addRow("%s/%s", kEngines[engine].name, qPrintable(sql.left(40)))
            << engine << dsn << sql << refusal;
    };
    for (int engine : {Sqlite, Postgres, Mariadb}) {
        for (const QString& sql : statements) {
            // SQLite's driver and MariaDB's (by default) take one statement at a time.
            const QString reason = !sql.contains(';')  ? kEngines[engine].refusal
                                   : engine == Sqlite  ? "only one SQL statement allowed"
                                   : engine == Mariadb ? "error in your SQL syntax"
                                                       : kEngines[engine].refusal;
            if (engine != Postgres || !sql.startsWith("REPLACE"))
                row(engine, kEngines[engine].dsn, sql, {reason});
        }
    }
    const QString sqlite = kEngines[Sqlite].dsn;
    const QString readOnly = kEngines[Sqlite].refusal;
    const QString missing = QStringLiteral("SELECT * FROM città_assente");
    row(Sqlite, sqlite, missing, {"[HY000]", "no such table: città_assente"});
    // A name longer than the driver manager's 32 characters, holding = and ;, still finds its
    // data source, whose port must reach the driver.
    row(Postgres, longPostgresName_, missing, {"[42P01]", "\"città_assente\" does not exist"});
    row(Mariadb, kEngines[Mariadb].dsn, missing,
        {"[42S02]", "Table 'velario_test.città_assente' doesn't exist"});
    // What only a SQLite file can be asked: the file stays byte for byte as it was, and no
    // file appears beside it.
    row(Sqlite, sqlite, "PRAGMA journal_mode = WAL", {readOnly});
    // The driver steps a statement without columns only when a row is asked for.
    row(Sqlite, sqlite, "PRAGMA user_version = 7", {});
    row(Sqlite, sqlite, "VACUUM", {readOnly});
    row(Sqlite, sqlite, QStringLiteral("ATTACH '%1' AS altro").arg(dir_.filePath("altro.db")),
        {"unable to open database"});
    // A transaction ended by the statement itself starts another read-only one.
    row(Postgres, kEngines[Postgres].dsn, "COMMIT; DELETE FROM custodita",
        {kEngines[Postgres].refusal});
    // Several statements, the first turning the session's read-only setting off: what the
    // second did is rolled back.
    row(Mariadb, "velario-mariadb-multi",
        "SET SESSION TRANSACTION READ WRITE; DELETE FROM custodita", {});
}

void TestOdbc::nothingWritten() {
    QFETCH(int, engine);
    QFETCH(QString, dataSource);
    QFETCH(QString, sql);
    QFETCH(QStringList, refusal);
    const QString checker = kEngines[engine].dsn;
    const auto state = [&] {
        QList<QStringList> rows;
        QStringList lines{odbcRun(checker, {"SELECT * FROM custodita ORDER BY n"}, &rows)};
        for (const QStringList& row : rows)
            lines << row.join('|');
        lines << (odbcRun(checker, {"SELECT * FROM nuova"}).isEmpty() ? "nuova exists"
                                                                      : "no nuova");
        if (engine == Sqlite) {
            QFile file(dir_.filePath(QStringLiteral("test=1.db")));
            lines
                << (file.open(QIODevice::ReadOnly)
                        ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1).toHex()
                        : file.errorString())
                << QDir(dir_.path()).entryList(QDir::Files).join(',');
        }
        return lines;
    };
    const QStringList before = state();
    QCOMPARE(before.mid(0, 5), (QStringList{"", "1|uno", "2|due", "3|tre", "no nuova"}));
    {
        auto connection = open(dataSource);
        QVERIFY(connection);
        Error error;
        auto source = connection->execute(sql, &error);
        if (refusal.isEmpty()) {
            QVERIFY2(source, qPrintable(error.description));
        } else {
            QVERIFY2(!source, "the statement ran");
            QCOMPARE(error.number, int(ErrorNumber::OdbcCallFailed));
            for (const QString& fragment : refusal)
                QVERIFY2(error.description.contains(fragment), qPrintable(error.description));
            QCOMPARE(scalar(*connection, QStringLiteral("SELECT COUNT(*) FROM sample")), "3");
        }
    }
    QCOMPARE(state(), before);
}

void TestOdbc::connectFails_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("fragment"); // empty: refused before the driver manager
    QTest::newRow("tab and newline") << QStringLiteral("\t\n") << QString();
    QTest::newRow("unknown long name")
        << QStringLiteral("nessuna;origine=con nome lungo ").leftJustified(80, 'x')
        << QStringLiteral("[IM002]");
    QTest::newRow("server not listening")
        << QStringLiteral("velario-pg-chiuso") << QStringLiteral("[08001]");
}

void TestOdbc::connectFails() {
    QFETCH(QString, name);
    QFETCH(QString, fragment);
    // The SQLite driver given an empty name creates a file called "DSN=" where it runs.
    QTemporaryDir work;
    const QString previous = QDir::currentPath();
    QVERIFY(work.isValid() && QDir::setCurrent(work.path()));
    Error error;
    const bool connected = OdbcConnection::connect(name, &error) != nullptr;
    QVERIFY(QDir::setCurrent(previous));

    QVERIFY(!connected);
    QCOMPARE(error.number, int(ErrorNumber::OdbcConnectFailed));
    QVERIFY2(fragment.isEmpty() ? !error.description.isEmpty() &&
                                      !error.description.contains(QStringLiteral("unixODBC"))
                                : error.description.contains(fragment),
             qPrintable(error.description));
    QCOMPARE(QDir(work.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
}

// The SQLite driver reads a whole result at execute unless the connection has StepAPI=1. A
// statement that overflows from its 1001st row on shows whether it did: stepping, the first
// 1000 rows arrive and the failure comes when the reading reaches it; reading whole, the
// statement fails at execute. A data source that sets StepAPI keeps its own choice; unusual
// names find their data source.
void TestOdbc::sqliteStepping_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("stepping");
    QTest::newRow("StepAPI not set") << kEngines[Sqlite].dsn << true;
    QTest::newRow("stepapi=0") << QStringLiteral("velario-sqlite-step0") << false;
    QTest::newRow("StepAPI=1") << QStringLiteral("velario-sqlite-step1") << true;
    QTest::newRow("80 characters") << longSqliteName_ << true;
    QTest::newRow("short with = ; { }") << shortSpecialName_ << true;
}

void TestOdbc::sqliteStepping() {
    QFETCH(QString, name);
    QFETCH(bool, stepping);
    auto connection = open(name);
    QVERIFY(connection);
    Error error;
    auto all = connection->execute(QStringLiteral("SELECT x FROM steps"), &error);
    QVERIFY2(all, qPrintable(error.description));
    CollectingSink sink;
    while (all->fetch(300, sink) > 0) {
    }
    QVERIFY2(!all->error(), qPrintable(all->error().description));
    QCOMPARE(sink.rows.size(), 2000);
    for (int r = 0; r < sink.rows.size(); ++r) {
        if (sink.rows[r] != Row{QByteArray::number(r + 1)})
            QFAIL(qPrintable(QStringLiteral("row %1").arg(r + 1)));
    }
    QCOMPARE(all->countRows(&error), 2000);

    // A statement that fails on its first row fails at execute, stepping or not.
    const QString overflow = QStringLiteral("integer overflow");
    QVERIFY(!connection->execute(QStringLiteral("SELECT abs(-9223372036854775808) FROM steps"),
                                 &error));
    QVERIFY2(error.description.contains(overflow), qPrintable(error.description));

    auto late = connection->execute(
        QStringLiteral("SELECT CASE WHEN x > 1000 THEN abs(-9223372036854775808) ELSE x END "
                       "FROM steps"),
        &error);
    QCOMPARE(bool(late), stepping);
    CollectingSink first;
    if (late) {
        QCOMPARE(late->fetch(1000, first), 1000);
        QCOMPARE(first.rows.last(), Row{"1000"});
        QVERIFY(!late->error());
        QCOMPARE(late->fetch(1000, first), 0);
        error = late->error();
    }
    QCOMPARE(error.number, int(ErrorNumber::OdbcCallFailed));
    QVERIFY2(error.description.contains(overflow), qPrintable(error.description));
}

QTEST_GUILESS_MAIN(TestOdbc)
#include "tst_odbc.moc"
