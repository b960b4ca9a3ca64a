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
using velario::test::OdbcEnvironment;
using velario::test::TestServer;

namespace {

using Cell = std::optional<QByteArray>;
using Row = QList<Cell>;
using Rows = QList<Row>;

class CollectingSink : public RowSink {
public:
    QList<Row> rows;
    void beginRow() override { current_.clear(); }
    void cell(const char* utf8, qsizetype length) override {
        current_.append(QByteArray(utf8, length));
    }
    void nullCell() override { current_.append(std::nullopt); }
    void endRow() override { rows.append(current_); }

private:
    Row current_;
};

const QString kSqlite = QStringLiteral("sqlite");
const QString kPostgres = QStringLiteral("postgres");
const QString kMariadb = QStringLiteral("mariadb");
const QStringList kEngines{kSqlite, kPostgres, kMariadb};

const QString kNonLatin = QStringLiteral("città ǅ 日本語 Ελληνικά Русский 😀");

// Characters of every UTF-8 length (25 bytes), so that the chunks the driver hands over
// split characters.
const QString kUnit = QStringLiteral("àbc日本😀-0123456789");

// About 1 MB of text.
QString longText() {
    QString text;
    while (text.toUtf8().size() < 1024 * 1024)
        text += kUnit.repeated(4096);
    return text;
}

QByteArray longBinary() {
    QByteArray bytes(3000, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 7) % 256);
    return bytes;
}

// The rows of the table "longs": a short text and blob in every row but rows 2, 17 and 300,
// which hold 1 KB, 100 KB and 10 MB of kUnit, as text and as its bytes.
constexpr int kLongRows = 300;
int longRepeats(int id) {
    return id == 2 ? 41 : id == 17 ? 4096 : id == 300 ? 400000 : 0;
}
Rows longRows() {
    Rows rows;
    for (int id = 1; id <= kLongRows; ++id) {
        const QByteArray text = longRepeats(id) ? kUnit.repeated(longRepeats(id)).toUtf8()
                                                : "r" + QByteArray::number(id);
        rows.append({QByteArray::number(id), text, text.toHex().toUpper()});
    }
    return rows;
}

// A row of expected cells, nullptr standing for a Null.
Row cells(std::initializer_list<const char*> values) {
    Row row;
    for (const char* value : values)
        row.append(value ? Cell(QByteArray(value)) : std::nullopt);
    return row;
}

// The table "typed" as each engine's own client shows it (sqlite3, psql, mariadb), booleans
// as ODBC gives them. SQLite keeps decimals as doubles, and its driver hands doubles over
// with 15 significant digits as sqlite3 prints them: its values are ones that survive that.
Rows typedRows(const QString& engine) {
    const bool sqlite = engine == kSqlite;
    const bool mariadb = engine == kMariadb;
    const char* midnight = mariadb ? "00:00:00.000000" : "00:00:00";
    const char* half = mariadb ? "12:34:56.500000" : "12:34:56.5";
    const char* dayStart = mariadb ? "0001-01-01 00:00:00.000000" : "0001-01-01 00:00:00";
    return {
        cells({"1", "-32768", "-2147483648", "-9223372036854775808",
               sqlite ? "12345.6789" : "-1234567890123456789012345678.0123456789",
               sqlite ? "0.1" : "0.30000000000000004", "0001-01-01", midnight, dayStart, "1",
               "àé日本😀"}),
        cells({"2", "32767", "2147483647", "9223372036854775807",
               sqlite ? "9999999999.99" : "9999999999999999999999999999.9999999999",
               sqlite    ? "1.0e+300"
               : mariadb ? "1.7976931348623157e308"
                         : "1.7976931348623157e+308",
               "9999-12-31", "23:59:59.999999", "9999-12-31 23:59:59.999999", "0",
               "città ǅ 日本語 Ελληνικά Русский 😀"}),
        cells({"3", "-1", "0", "1", sqlite ? "-1.0e-10" : "-0.0000000001",
               sqlite ? "-2.25" : "5e-324", "2024-02-29", half, "2024-02-29 12:34:56.123456", "1",
               ""}),
        cells({"4", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
               nullptr}),
    };
}

// The SQL that each engine needs for the same thing.
struct Dialect {
    QString engine;

    bool is(const QString& other) const { return engine == other; }
    QString textType() const { return is(kMariadb) ? "LONGTEXT" : "TEXT"; }
    QString blobType() const { return is(kSqlite) ? "BLOB" : is(kPostgres) ? "BYTEA" : "LONGBLOB"; }
    QString doubleType() const {
        return is(kSqlite) ? "REAL" : is(kPostgres) ? "DOUBLE PRECISION" : "DOUBLE";
    }
    QString concat(const QString& a, const QString& b) const {
        return is(kMariadb) ? QStringLiteral("CONCAT(%1, %2)").arg(a, b)
                            : QStringLiteral("%1 || %2").arg(a, b);
    }
    // "SELECT <columns> FROM" the numbers 1 to N, called r.
    QString series(const QString& columns, int n) const {
        if (is(kSqlite))
            return QStringLiteral("WITH RECURSIVE s(r) AS (SELECT 1 UNION ALL SELECT r + 1 FROM "
                                  "s WHERE r < %2) SELECT %1 FROM s")
                .arg(columns)
                .arg(n);
        if (is(kPostgres))
            return QStringLiteral("SELECT %1 FROM generate_series(1, %2) AS s(r)")
                .arg(columns)
                .arg(n);
        return QStringLiteral("SELECT %1 FROM (SELECT seq AS r FROM seq_1_to_%2) s")
            .arg(columns)
            .arg(n);
    }
    // kUnit N times, made by the server.
    QString repeated(int n) const {
        return is(kSqlite)
                   ? QStringLiteral("replace(hex(zeroblob(%1)), '00', '%2')").arg(n).arg(kUnit)
                   : QStringLiteral("repeat('%2', %1)").arg(n).arg(kUnit);
    }
    QString bytesOf(const QString& text) const {
        return is(kSqlite)     ? QStringLiteral("CAST(%1 AS BLOB)").arg(text)
               : is(kPostgres) ? QStringLiteral("convert_to(%1, 'UTF8')").arg(text)
                               : QStringLiteral("CAST(%1 AS BINARY)").arg(text);
    }
    QString binaryLiteral(const QByteArray& bytes) const {
        const QString hex = QString::fromLatin1(bytes.toHex());
        return is(kPostgres) ? QStringLiteral("decode('%1', 'hex')").arg(hex)
                             : QStringLiteral("X'%1'").arg(hex);
    }
};

// What a trace file or the server's log gained since FROM; PostgreSQL indents the lines
// of a statement after the first.
QString tail(const QString& path, qint64 from) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(from))
        return {};
    return QString::fromUtf8(file.readAll()).replace(QStringLiteral("\n\t"), QStringLiteral("\n"));
}

QString trimmedStatement(QString sql) {
    while (!sql.isEmpty() && (sql.back().isSpace() || sql.back() == QLatin1Char(';')))
        sql.chop(1);
    return sql;
}

void engineRows() {
    QTest::addColumn<QString>("engine");
    for (const QString& engine : kEngines)
        QTest::newRow(qPrintable(engine)) << engine;
}

} // namespace

Q_DECLARE_METATYPE(Rows)

class TestOdbc : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void values_data();
    void values();
    void sixtyColumns_data();
    void sixtyColumns();
    void countRows_data();
    void countRows();
    void noResultSet_data();
    void noResultSet();
    void failingStatement_data();
    void failingStatement();
    void nothingWritten_data();
    void nothingWritten();
    void connectFails_data();
    void connectFails();
    void longPostgresName();
    void sqliteStepping_data();
    void sqliteStepping();

private:
    static QString dataSource(const QString& engine) {
        return engine == kSqlite     ? QStringLiteral("velario-sqlite")
               : engine == kPostgres ? QStringLiteral("velario-pg")
                                     : QStringLiteral("velario-mariadb");
    }
    std::unique_ptr<OdbcConnection> open(const QString& name) {
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
    QString populate(const QString& engine);
    QString traceFile(const QString& engine) const {
        return engine == kSqlite ? dir_.filePath(QStringLiteral("sqlite-trace.log"))
               : engine == kPostgres
                   ? QDir(postgres_->folder).filePath(QStringLiteral("server.log"))
                   : QDir(mariadb_->folder).filePath(QStringLiteral("server.log"));
    }

    QTemporaryDir dir_;
    std::optional<TestServer> postgres_;
    std::optional<TestServer> mariadb_;
    std::unique_ptr<OdbcEnvironment> environment_;
    QString longSqliteName_;
    QString longPostgresName_;
    QString shortSpecialName_ = QStringLiteral("a=b;c}d{e");
    QString text_ = longText();
    QByteArray binary_ = longBinary();
};

#define OPEN_ENGINE(engine)                                                                        \
    auto connection = open(dataSource(engine));                                                    \
    QVERIFY(connection)

void TestOdbc::initTestCase() {
    QVERIFY(dir_.isValid());
    // The program's users write numbers with a decimal comma; drivers must not.
    QVERIFY2(std::setlocale(LC_NUMERIC, "it_IT.UTF-8"), "no it_IT.UTF-8 locale");

    QString error;
    postgres_ = velario::test::postgresTestServer(&error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    mariadb_ = velario::test::mariadbTestServer(&error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY2(postgres_ && mariadb_, "no test servers: run through ctest, which starts the "
                                    "postgres and mariadb fixtures");

    const QString database = dir_.filePath(QStringLiteral("test=1.db"));
    QFile empty(database);
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();

    longSqliteName_ = QStringLiteral("Archivio=prova;SQLite}di nome lungo ").leftJustified(80, 'x');
    longPostgresName_ =
        QStringLiteral("Server=prova;PostgreSQL di nome lungo ").leftJustified(80, 'x');

    const QList<velario::test::OdbcDataSource> sources{
        velario::test::sqliteDataSource(dataSource(kSqlite), database,
                                        {{QStringLiteral("Tracefile"), traceFile(kSqlite)}}),
        velario::test::sqliteDataSource(shortSpecialName_, database),
        velario::test::sqliteDataSource(longSqliteName_, database),
        velario::test::sqliteDataSource(QStringLiteral("velario-sqlite-step0"), database,
                                        {{QStringLiteral("stepapi"), QStringLiteral("0")}}),
        velario::test::sqliteDataSource(QStringLiteral("velario-sqlite-step1"), database,
                                        {{QStringLiteral("StepAPI"), QStringLiteral("1")}}),
        velario::test::postgresDataSource(dataSource(kPostgres), postgres_->port),
        velario::test::postgresDataSource(longPostgresName_, postgres_->port),
        velario::test::postgresDataSource(QStringLiteral("velario-pg-chiuso"), 1),
        velario::test::mariadbDataSource(dataSource(kMariadb), mariadb_->port),
    };
    velario::test::OdbcDataSource multi =
        velario::test::mariadbDataSource(QStringLiteral("velario-mariadb-multi"), mariadb_->port);
    // MariaDB Connector/ODBC's flag for several statements in one text.
    multi.attributes.append({QStringLiteral("OPTION"), QStringLiteral("67108864")});
    environment_ = std::make_unique<OdbcEnvironment>(sources + QList{multi});
    QVERIFY2(environment_->isValid(), qPrintable(environment_->errorString()));

    for (const QString& engine : kEngines) {
        const QString failure = populate(engine);
        QVERIFY2(failure.isEmpty(), qPrintable(engine + ": " + failure));
    }
}

// Written through a connection of the test's own: the program's connections refuse to write.
QString TestOdbc::populate(const QString& engine) {
    const Dialect sql{engine};
    QStringList statements{
        QStringLiteral("DROP TABLE IF EXISTS sample"),
        QStringLiteral("CREATE TABLE sample (id INTEGER, name VARCHAR(20), note %1, data %2, "
                       "amount %3)")
            .arg(sql.textType(), sql.blobType(), sql.doubleType()),
        QStringLiteral("INSERT INTO sample VALUES (1, 'uno', '%1', %2, 1.5)")
            .arg(kNonLatin, sql.binaryLiteral(QByteArray::fromHex("00FF10AB"))),
        QStringLiteral("INSERT INTO sample VALUES (2, NULL, NULL, NULL, NULL)"),
        QStringLiteral("INSERT INTO sample VALUES (3, 'lungo', '%1', %2, -2.25)")
            .arg(text_, sql.binaryLiteral(binary_)),
        QStringLiteral("DROP TABLE IF EXISTS custodita"),
        QStringLiteral("CREATE TABLE custodita (n INTEGER, nome VARCHAR(20))"),
        QStringLiteral("INSERT INTO custodita VALUES (1, 'uno'), (2, 'due'), (3, 'tre')"),
        QStringLiteral("DROP TABLE IF EXISTS longs"),
        QStringLiteral("CREATE TABLE longs (id INTEGER, t %1, b %2)")
            .arg(sql.textType(), sql.blobType()),
        QStringLiteral("INSERT INTO longs ") +
            sql.series(QStringLiteral("r, %1, %2")
                           .arg(sql.concat("'r'", "r"), sql.bytesOf(sql.concat("'r'", "r"))),
                       kLongRows),
        QStringLiteral("DROP TABLE IF EXISTS typed"),
        QStringLiteral("CREATE TABLE typed (id INTEGER, si SMALLINT, i INTEGER, bi BIGINT, "
                       "d NUMERIC(38,10), f %1, dt DATE, tm %2, ts %3, b BOOLEAN, t %4)")
            .arg(sql.doubleType(), sql.is(kSqlite) ? "TIME" : "TIME(6)",
                 sql.is(kSqlite)     ? "TIMESTAMP"
                 : sql.is(kPostgres) ? "TIMESTAMP(6)"
                                     : "DATETIME(6)",
                 sql.textType()),
        QStringLiteral("DROP TABLE IF EXISTS wide60"),
    };
    for (int id = 1; id <= kLongRows; ++id) {
        if (longRepeats(id))
            statements << QStringLiteral("UPDATE longs SET t = %1, b = %2 WHERE id = %3")
                              .arg(sql.repeated(longRepeats(id)),
                                   sql.bytesOf(sql.repeated(longRepeats(id))))
                              .arg(id);
    }
    const bool sqlite = sql.is(kSqlite);
    statements << QStringLiteral(
                      "INSERT INTO typed VALUES (1, -32768, -2147483648, -9223372036854775808, %1, "
                      "%2, '0001-01-01', '00:00:00', '0001-01-01 00:00:00', TRUE, 'àé日本😀')")
                      .arg(sqlite ? "12345.6789" : "-1234567890123456789012345678.0123456789",
                           sqlite ? "0.1" : "0.30000000000000004")
               << QStringLiteral(
                      "INSERT INTO typed VALUES (2, 32767, 2147483647, 9223372036854775807, %1, "
                      "%2, '9999-12-31', '23:59:59.999999', '9999-12-31 23:59:59.999999', "
                      "FALSE, '%3')")
                      .arg(sqlite ? "9999999999.99" : "9999999999999999999999999999.9999999999",
                           sqlite ? "1e300" : "1.7976931348623157e308", kNonLatin)
               << QStringLiteral(
                      "INSERT INTO typed VALUES (3, -1, 0, 1, -0.0000000001, %1, '2024-02-29', "
                      "'12:34:56.5', '2024-02-29 12:34:56.123456', TRUE, '')")
                      .arg(sqlite ? "-2.25" : "5e-324")
               << QStringLiteral("INSERT INTO typed (id) VALUES (4)");
    if (sqlite) {
        statements << QStringLiteral("DROP TABLE IF EXISTS steps")
                   << QStringLiteral("CREATE TABLE steps (x INTEGER PRIMARY KEY)")
                   << QStringLiteral("INSERT INTO steps ") + sql.series("r", 2000);
    }
    QStringList definitions, expressions;
    for (int c = 1; c <= 60; ++c) {
        const bool number = c % 2 == 1;
        definitions << QStringLiteral("c%1 %2").arg(c).arg(number ? "INTEGER" : "TEXT");
        expressions << (c == 1   ? QStringLiteral("r")
                        : number ? QStringLiteral("r * 100 + %1").arg(c)
                                 : sql.concat(sql.concat("r", "'ñ'"), QString::number(c)));
    }
    statements << QStringLiteral("CREATE TABLE wide60 (%1)").arg(definitions.join(", "))
               << QStringLiteral("INSERT INTO wide60 ") + sql.series(expressions.join(", "), 1100);
    return velario::test::odbcRun(dataSource(engine), statements);
}

// Every common type at its extremes, text in every script, and long texts and blobs in rows
// after the first of a block of rows, through each driver and each way text can cross.
void TestOdbc::values_data() {
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("transfer");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("firstName");
    QTest::addColumn<Rows>("expected");

    const Rows sample{
        {"1", "uno", kNonLatin.toUtf8(), "00FF10AB", "1.5"},
        {"2", std::nullopt, std::nullopt, std::nullopt, std::nullopt},
        {"3", "lungo", text_.toUtf8(), binary_.toHex().toUpper(), "-2.25"},
    };
    const Rows longs = longRows();
    for (const QString& engine : kEngines) {
        // SQLite's default is narrow (checked below).
        for (const char* transfer : {"default", "narrow", "wide"}) {
            if (engine == kSqlite && qstrcmp(transfer, "narrow") == 0)
                continue;
            const auto row = [&](const char* table, const QString& sql, const char* firstName,
                                 const Rows& expected) {
                QTest::addRow("%s/%s/%s", qPrintable(engine), transfer, table)
                    << engine << QString::fromLatin1(transfer) << sql << QString(firstName)
                    << expected;
            };
            row("sample",
                "SELECT id AS \"identità\", name, note, data, amount FROM sample ORDER BY id",
                "identità", sample);
            row("typed", "SELECT * FROM typed ORDER BY id", "id", typedRows(engine));
            row("longs", "SELECT * FROM longs ORDER BY id", "id", longs);
        }
    }
}

void TestOdbc::values() {
    QFETCH(QString, engine);
    QFETCH(QString, transfer);
    QFETCH(QString, sql);
    QFETCH(QString, firstName);
    QFETCH(Rows, expected);
    OPEN_ENGINE(engine);
    if (engine == kSqlite)
        QCOMPARE(connection->textTransfer(), OdbcTextTransfer::Narrow);
    if (transfer == QLatin1String("narrow")) {
        QVERIFY2(connection->textTransfer() == OdbcTextTransfer::Narrow,
                 "SQL_C_CHAR text does not arrive in UTF-8 in this locale");
    } else if (transfer == QLatin1String("wide")) {
        connection->setTextTransfer(OdbcTextTransfer::Wide);
    }

    Error error;
    auto source = connection->execute(sql, &error);
    QVERIFY2(source, qPrintable(error.description));
    const int columns = int(expected.first().size());
    QCOMPARE(source->columnCount(), columns);
    QCOMPARE(source->columnName(0), firstName);
    QCOMPARE(source->columnName(columns), QString());

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
        for (int c = 0; c < columns; ++c) {
            const Cell got = sink.rows[r].value(c);
            if (got != expected[r][c])
                QFAIL(
                    qPrintable(QStringLiteral("row %1 column %2: %3 (%4 bytes), expected %5 "
                                              "(%6 bytes)")
                                   .arg(r + 1)
                                   .arg(c + 1)
                                   .arg(QString::fromUtf8(got.value_or("NULL").left(40)))
                                   .arg(got ? got->size() : 0)
                                   .arg(QString::fromUtf8(expected[r][c].value_or("NULL").left(40)))
                                   .arg(expected[r][c] ? expected[r][c]->size() : 0)));
        }
    }
}

void TestOdbc::sixtyColumns_data() {
    engineRows();
}

void TestOdbc::sixtyColumns() {
    QFETCH(QString, engine);
    OPEN_ENGINE(engine);
    Error error;
    auto source = connection->execute(QStringLiteral("SELECT * FROM wide60 ORDER BY c1"), &error);
    QVERIFY2(source, qPrintable(error.description));
    QCOMPARE(source->columnCount(), 60);
    for (int c = 0; c < 60; ++c)
        QCOMPARE(source->columnName(c), QStringLiteral("c%1").arg(c + 1));

    // Pieces that do not line up with the driver's blocks.
    CollectingSink sink;
    while (source->fetch(300, sink) > 0) {
    }
    QVERIFY2(!source->error(), qPrintable(source->error().description));
    QCOMPARE(sink.rows.size(), 1100);
    for (int r = 1; r <= 1100; ++r) {
        const Row& row = sink.rows[r - 1];
        QCOMPARE(row.size(), 60);
        for (int c = 1; c <= 60; ++c) {
            const QByteArray want = c == 1       ? QByteArray::number(r)
                                    : c % 2 == 1 ? QByteArray::number(r * 100 + c)
                                                 : QStringLiteral("%1ñ%2").arg(r).arg(c).toUtf8();
            if (row[c - 1] != want)
                QFAIL(qPrintable(QStringLiteral("row %1 column %2").arg(r).arg(c)));
        }
    }
    QCOMPARE(source->countRows(&error), 1100);
    QVERIFY(!error);
}

void TestOdbc::countRows_data() {
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<qint64>("expected");
    QTest::addColumn<bool>("byQuery");

    for (const QString& engine : kEngines) {
        QTest::addRow("%s/select", qPrintable(engine))
            << engine << QStringLiteral("SELECT id, note FROM sample") << qint64(3) << true;
        QTest::addRow("%s/semicolon", qPrintable(engine))
            << engine << QStringLiteral("SELECT id FROM sample WHERE id > 1 ;  \n") << qint64(2)
            << true;
        QTest::addRow("%s/comment", qPrintable(engine))
            << engine << QStringLiteral("SELECT id FROM sample ORDER BY id -- ordinati")
            << qint64(3) << true;
        QTest::addRow("%s/empty", qPrintable(engine))
            << engine << QStringLiteral("SELECT id FROM sample WHERE id < 0") << qint64(0) << true;
    }
    // Statements that cannot stand inside FROM (...) are counted by running them again.
    QTest::newRow("sqlite/pragma")
        << kSqlite << QStringLiteral("PRAGMA table_info(sample)") << qint64(5) << false;
    QTest::newRow("postgres/show")
        << kPostgres << QStringLiteral("SHOW search_path") << qint64(1) << false;
    QTest::newRow("mariadb/show") << kMariadb << QStringLiteral("SHOW COLUMNS FROM sample")
                                  << qint64(5) << false;
}

void TestOdbc::countRows() {
    QFETCH(QString, engine);
    QFETCH(QString, sql);
    QFETCH(qint64, expected);
    QFETCH(bool, byQuery);
    OPEN_ENGINE(engine);
    Error error;
    auto source = connection->execute(sql, &error);
    QVERIFY2(source, qPrintable(error.description));

    // Counting while the statement is being read must not disturb the reading.
    CollectingSink sink;
    const int first = source->fetch(1, sink);
    const qint64 mark = QFileInfo(traceFile(engine)).size();
    QCOMPARE(source->countRows(&error), expected);
    QVERIFY2(!error, qPrintable(error.description));
    while (source->fetch(1000, sink) > 0) {
    }
    QVERIFY2(!source->error(), qPrintable(source->error().description));
    QCOMPARE(qint64(sink.rows.size()), expected);
    QCOMPARE(first, expected > 0 ? 1 : 0);

    // What reached the driver (SQLite's trace) or the server (its statement log) tells how
    // the count was taken: by COUNT(*) over the statement, or by running it again.
    const QString seen = tail(traceFile(engine), mark);
    const QString statement = trimmedStatement(sql);
    const qsizetype wrapped = seen.count(QStringLiteral("SELECT COUNT(*) FROM (\n") + statement);
    // SQLite's trace has every statement when it is prepared, and again once it has been
    // read to its end, which for a result read as it is fetched comes after the mark.
    const qsizetype runs = engine == kSqlite
                               ? seen.count(QStringLiteral("sqlite3_prepare_v2: ") + statement)
                               : seen.count(statement) - wrapped;
    // MariaDB logs a statement once it is prepared, which the wrapped SHOW never is.
    QVERIFY2(wrapped > 0 || (engine == kMariadb && !byQuery), qPrintable(seen.left(2000)));
    QCOMPARE(runs > 0, !byQuery);
}

// A statement that changes nothing and gives no rows.
void TestOdbc::noResultSet_data() {
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("sql");
    QTest::newRow("sqlite") << kSqlite << QStringLiteral("PRAGMA cache_size = 100");
    QTest::newRow("postgres") << kPostgres << QStringLiteral("SET search_path TO public");
    QTest::newRow("mariadb") << kMariadb << QStringLiteral("SET @velario = 1");
}

void TestOdbc::noResultSet() {
    QFETCH(QString, engine);
    QFETCH(QString, sql);
    OPEN_ENGINE(engine);
    Error error;
    auto source = connection->execute(sql, &error);
    QVERIFY2(source, qPrintable(error.description));
    QCOMPARE(source->columnCount(), 0);
    CollectingSink sink;
    QCOMPARE(source->fetch(10, sink), 0);
    QVERIFY(source->atEnd());
    QVERIFY(!source->error());
    QCOMPARE(source->countRows(&error), 0);
    QVERIFY(!error);
}

void TestOdbc::failingStatement_data() {
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("fragments");
    QTest::newRow("sqlite/missing table")
        << kSqlite << QStringLiteral("SELECT * FROM città_assente")
        << QStringList{QStringLiteral("[HY000]"), QStringLiteral("no such table: città_assente")};
    QTest::newRow("postgres/missing table")
        << kPostgres << QStringLiteral("SELECT * FROM città_assente")
        << QStringList{QStringLiteral("[42P01]"),
                       QStringLiteral("\"città_assente\" does not exist")};
    QTest::newRow("mariadb/missing table")
        << kMariadb << QStringLiteral("SELECT * FROM città_assente")
        << QStringList{QStringLiteral("[42S02]"),
                       QStringLiteral("Table 'velario_test.città_assente' doesn't exist")};
}

void TestOdbc::failingStatement() {
    QFETCH(QString, engine);
    QFETCH(QString, sql);
    QFETCH(QStringList, fragments);
    OPEN_ENGINE(engine);
    Error error;
    QVERIFY(!connection->execute(sql, &error));
    QCOMPARE(error.number, int(ErrorNumber::OdbcCallFailed));
    for (const QString& fragment : fragments)
        QVERIFY2(error.description.contains(fragment), qPrintable(error.description));

    // The connection stays usable.
    QCOMPARE(scalar(*connection, QStringLiteral("SELECT COUNT(*) FROM sample")), "3");
}

// Whatever a statement would change is refused with the engine's reason, or rolled back: a
// connection of the test's own then finds the data and the tables as they were.
void TestOdbc::nothingWritten_data() {
    QTest::addColumn<QString>("dataSource");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("refusal"); // empty: the statement runs, and is undone

    const QStringList statements{
        "DELETE FROM custodita",
        "UPDATE custodita SET nome = 'cambiato'",
        "INSERT INTO custodita VALUES (4, 'quattro')",
        "DROP TABLE custodita",
        "CREATE TABLE nuova (n INTEGER)",
        "ALTER TABLE custodita ADD COLUMN extra INTEGER",
        "DELETE FROM custodita; DROP TABLE custodita",
    };
    for (const QString& engine : kEngines) {
        const QString refusal = engine == kSqlite     ? "attempt to write a readonly database"
                                : engine == kPostgres ? "in a read-only transaction"
                                                      : "in a READ ONLY transaction";
        QStringList all = statements;
        if (engine != kPostgres)
            all << "REPLACE INTO custodita VALUES (9, 'nove')";
        for (const QString& sql : all) {
            // SQLite's driver and MariaDB's (by default) take one statement at a time.
            const QString reason = !sql.contains(';')   ? refusal
                                   : engine == kSqlite  ? "only one SQL statement allowed"
                                   : engine == kMariadb ? "error in your SQL syntax"
                                                        : refusal;
            QTest::addRow("%s/%s", qPrintable(engine), qPrintable(sql.left(40)))
                << dataSource(engine) << sql << reason;
        }
    }
    // What only a SQLite file can be asked: the file stays byte for byte as it was, and no
    // file appears beside it.
    const QString sqlite = dataSource(kSqlite);
    QTest::newRow("sqlite/journal mode") << sqlite << "PRAGMA journal_mode = WAL"
                                         << "attempt to write a readonly database";
    // The driver steps a statement without columns only when a row is asked for.
    QTest::newRow("sqlite/user version") << sqlite << "PRAGMA user_version = 7"
                                         << "";
    QTest::newRow("sqlite/vacuum") << sqlite << "VACUUM"
                                   << "attempt to write a readonly database";
    QTest::newRow("sqlite/attach")
        << sqlite << QStringLiteral("ATTACH '%1' AS altro").arg(dir_.filePath("altro.db"))
        << "unable to open database";
    // A transaction ended by the statement itself starts another read-only one.
    QTest::newRow("postgres/commit first")
        << dataSource(kPostgres) << "COMMIT; DELETE FROM custodita"
        << "in a read-only transaction";
    // Several statements, the first turning the session's read-only setting off: what the
    // second did is rolled back.
    QTest::newRow("mariadb/read write first")
        << "velario-mariadb-multi"
        << "SET SESSION TRANSACTION READ WRITE; DELETE FROM custodita"
        << "";
}

void TestOdbc::nothingWritten() {
    QFETCH(QString, dataSource);
    QFETCH(QString, sql);
    QFETCH(QString, refusal);
    const QString checker =
        dataSource == "velario-mariadb-multi" ? this->dataSource(kMariadb) : dataSource;
    const auto state = [&] {
        QList<QStringList> rows;
        QString failure =
            velario::test::odbcRun(checker, {"SELECT * FROM custodita ORDER BY n"}, &rows);
        QStringList lines{failure};
        for (const QStringList& row : rows)
            lines << row.join('|');
        lines << (velario::test::odbcRun(checker, {"SELECT * FROM nuova"}).isEmpty()
                      ? "nuova exists"
                      : "no nuova");
        if (checker == this->dataSource(kSqlite)) {
            QFile file(dir_.filePath(QStringLiteral("test=1.db")));
            lines
                << (file.open(QIODevice::ReadOnly)
                        ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1).toHex()
                        : file.errorString());
            lines << QDir(dir_.path()).entryList(QDir::Files).join(',');
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
            QVERIFY2(error.description.contains(refusal), qPrintable(error.description));
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
    QVERIFY(!error.description.isEmpty());
    if (fragment.isEmpty())
        QVERIFY2(!error.description.contains(QStringLiteral("unixODBC")),
                 qPrintable(error.description));
    else
        QVERIFY2(error.description.contains(fragment), qPrintable(error.description));
    QCOMPARE(QDir(work.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
}

// A name longer than the driver manager's 32 characters, holding = and ;, still finds its
// data source, whose port must reach the driver. (SQLite's unusual names: sqliteStepping.)
void TestOdbc::longPostgresName() {
    auto connection = open(longPostgresName_);
    QVERIFY(connection);
    QCOMPARE(scalar(*connection, QStringLiteral("SELECT COUNT(*) FROM sample")), "3");
}

// The SQLite driver reads a whole result at execute unless the connection has StepAPI=1. A
// statement that overflows from its 1001st row on shows whether it did: stepping, the first
// 1000 rows arrive and the failure comes when the reading reaches it; reading whole, the
// statement fails at execute. A data source that sets StepAPI keeps its own choice.
void TestOdbc::sqliteStepping_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("stepping");
    QTest::newRow("StepAPI not set") << dataSource(kSqlite) << true;
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
    if (!stepping) {
        QVERIFY(!late);
        QCOMPARE(error.number, int(ErrorNumber::OdbcCallFailed));
        QVERIFY2(error.description.contains(overflow), qPrintable(error.description));
        return;
    }
    QVERIFY2(late, qPrintable(error.description));
    CollectingSink first;
    QCOMPARE(late->fetch(1000, first), 1000);
    QCOMPARE(first.rows.last(), Row{"1000"});
    QVERIFY(!late->error());
    QCOMPARE(late->fetch(1000, first), 0);
    QCOMPARE(late->error().number, int(ErrorNumber::OdbcCallFailed));
    QVERIFY2(late->error().description.contains(overflow), qPrintable(late->error().description));
}

QTEST_GUILESS_MAIN(TestOdbc)
#include "tst_odbc.moc"
