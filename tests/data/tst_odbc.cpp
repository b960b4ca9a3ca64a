#include "data/odbc.h"
#include "support/odbc_fixture.h"

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
using velario::test::PostgresServer;

namespace {

using Cell = std::optional<QByteArray>;
using Row = QList<Cell>;

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

const QString kNonLatin = QStringLiteral("città ǅ 日本語 Ελληνικά Русский 😀");

// About 1 MB of text with characters of every UTF-8 length, so that the chunks the driver
// hands over split characters.
QString longText() {
    const QString unit = QStringLiteral("àbc日本😀-0123456789");
    QString text;
    while (text.toUtf8().size() < 1024 * 1024)
        text += unit.repeated(4096);
    return text;
}

QByteArray longBinary() {
    QByteArray bytes(3000, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 7) % 256);
    return bytes;
}

QString binaryLiteral(const QString& engine, const QByteArray& bytes) {
    const QString hex = QString::fromLatin1(bytes.toHex());
    return engine == kSqlite ? QStringLiteral("X'%1'").arg(hex)
                             : QStringLiteral("decode('%1', 'hex')").arg(hex);
}

// What a trace file or the server's log gained since FROM; the server indents the lines
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
    QTest::newRow("sqlite") << kSqlite;
    QTest::newRow("postgres") << kPostgres;
}

} // namespace

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
    void connectFails_data();
    void connectFails();
    void longPostgresName();
    void sqliteStepping_data();
    void sqliteStepping();

private:
    QString dataSource(const QString& engine) const {
        return engine == kSqlite ? QStringLiteral("velario-sqlite") : QStringLiteral("velario-pg");
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
    bool populate(const QString& engine);
    QString traceFile(const QString& engine) const {
        return engine == kSqlite ? dir_.filePath(QStringLiteral("sqlite-trace.log"))
                                 : QDir(server_->folder).filePath(QStringLiteral("server.log"));
    }

    QTemporaryDir dir_;
    std::optional<PostgresServer> server_;
    std::unique_ptr<OdbcEnvironment> environment_;
    QString longSqliteName_;
    QString longPostgresName_;
    QString shortSpecialName_ = QStringLiteral("a=b;c}d{e");
    QString text_ = longText();
    QByteArray binary_ = longBinary();
};

#define SKIP_WITHOUT_SERVER(engine)                                                                \
    if ((engine) == kPostgres && !server_)                                                         \
    QSKIP("no test PostgreSQL server: run through ctest, which starts the postgres fixture")

// Skips without the server; else opens CONNECTION on ENGINE's data source.
#define OPEN_ENGINE(engine)                                                                        \
    SKIP_WITHOUT_SERVER(engine);                                                                   \
    auto connection = open(dataSource(engine));                                                    \
    QVERIFY(connection)

void TestOdbc::initTestCase() {
    QVERIFY(dir_.isValid());
    // The program's users write numbers with a decimal comma; drivers must not.
    if (!std::setlocale(LC_NUMERIC, "it_IT.UTF-8"))
        qWarning("no it_IT.UTF-8 locale: numbers are read with the C locale's conventions");

    QString error;
    server_ = velario::test::postgresTestServer(&error);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    const QString database = dir_.filePath(QStringLiteral("test=1.db"));
    QFile empty(database);
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();

    longSqliteName_ = QStringLiteral("Archivio=prova;SQLite}di nome lungo ").leftJustified(80, 'x');
    longPostgresName_ =
        QStringLiteral("Server=prova;PostgreSQL di nome lungo ").leftJustified(80, 'x');

    QList<velario::test::OdbcDataSource> sources{
        velario::test::sqliteDataSource(dataSource(kSqlite), database,
                                        {{QStringLiteral("Tracefile"), traceFile(kSqlite)}}),
        velario::test::sqliteDataSource(shortSpecialName_, database),
        velario::test::sqliteDataSource(longSqliteName_, database),
        velario::test::sqliteDataSource(QStringLiteral("velario-sqlite-step0"), database,
                                        {{QStringLiteral("stepapi"), QStringLiteral("0")}}),
        velario::test::sqliteDataSource(QStringLiteral("velario-sqlite-step1"), database,
                                        {{QStringLiteral("StepAPI"), QStringLiteral("1")}}),
    };
    if (server_) {
        sources << velario::test::postgresDataSource(dataSource(kPostgres), server_->port)
                << velario::test::postgresDataSource(longPostgresName_, server_->port)
                << velario::test::postgresDataSource(QStringLiteral("velario-pg-chiuso"), 1);
    }
    environment_ = std::make_unique<OdbcEnvironment>(sources);
    QVERIFY2(environment_->isValid(), qPrintable(environment_->errorString()));

    QVERIFY(populate(kSqlite));
    if (server_)
        QVERIFY(populate(kPostgres));
}

bool TestOdbc::populate(const QString& engine) {
    auto connection = open(dataSource(engine));
    if (!connection)
        return false;
    const bool sqlite = engine == kSqlite;
    QStringList statements{
        QStringLiteral("DROP TABLE IF EXISTS sample"),
        QStringLiteral("CREATE TABLE sample (id INTEGER, name VARCHAR(20), note TEXT, data %1, "
                       "amount %2)")
            .arg(sqlite ? QStringLiteral("BLOB") : QStringLiteral("BYTEA"),
                 sqlite ? QStringLiteral("REAL") : QStringLiteral("DOUBLE PRECISION")),
        QStringLiteral("INSERT INTO sample VALUES (1, 'uno', '%1', %2, 1.5)")
            .arg(kNonLatin, binaryLiteral(engine, QByteArray::fromHex("00FF10AB"))),
        QStringLiteral("INSERT INTO sample VALUES (2, NULL, NULL, NULL, NULL)"),
        QStringLiteral("INSERT INTO sample VALUES (3, 'lungo', '%1', %2, -2.25)")
            .arg(text_, binaryLiteral(engine, binary_)),
        QStringLiteral("DROP TABLE IF EXISTS wide60"),
    };
    if (sqlite) {
        statements << QStringLiteral("DROP TABLE IF EXISTS steps")
                   << QStringLiteral("CREATE TABLE steps (x INTEGER PRIMARY KEY)")
                   << QStringLiteral("INSERT INTO steps WITH RECURSIVE s(x) AS (SELECT 1 UNION "
                                     "ALL SELECT x + 1 FROM s WHERE x < 2000) SELECT x FROM s");
    }
    QStringList definitions, expressions;
    for (int c = 1; c <= 60; ++c) {
        const bool number = c % 2 == 1;
        definitions << QStringLiteral("c%1 %2").arg(c).arg(number ? "INTEGER" : "TEXT");
        expressions << (c == 1   ? QStringLiteral("r")
                        : number ? QStringLiteral("r * 100 + %1").arg(c)
                                 : QStringLiteral("r || 'ñ' || %1").arg(c));
    }
    statements << QStringLiteral("CREATE TABLE wide60 (%1)").arg(definitions.join(", "));
    statements << (sqlite ? QStringLiteral("INSERT INTO wide60 WITH RECURSIVE s(r) AS (SELECT 1 "
                                           "UNION ALL SELECT r + 1 FROM s WHERE r < 1100) "
                                           "SELECT %1 FROM s")
                          : QStringLiteral("INSERT INTO wide60 SELECT %1 FROM "
                                           "generate_series(1, 1100) AS s(r)"))
                      .arg(expressions.join(", "));
    for (const QString& sql : statements) {
        Error error;
        if (!connection->execute(sql, &error)) {
            qWarning("%s: %s", qPrintable(sql.left(80)), qPrintable(error.description));
            return false;
        }
    }
    return true;
}

void TestOdbc::values_data() {
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("transfer");
    for (const QString& engine : {kSqlite, kPostgres}) {
        // SQLite's default is narrow (checked below).
        for (const char* transfer : {"default", "narrow", "wide"})
            if (engine == kPostgres || qstrcmp(transfer, "narrow") != 0)
                QTest::addRow("%s/%s", qPrintable(engine), transfer)
                    << engine << QString::fromLatin1(transfer);
    }
}

void TestOdbc::values() {
    QFETCH(QString, engine);
    QFETCH(QString, transfer);
    OPEN_ENGINE(engine);
    if (engine == kSqlite)
        QCOMPARE(connection->textTransfer(), OdbcTextTransfer::Narrow);
    if (transfer == QLatin1String("narrow")) {
        if (connection->textTransfer() != OdbcTextTransfer::Narrow)
            QSKIP("SQL_C_CHAR text does not arrive in UTF-8 in this locale");
        connection->setTextTransfer(OdbcTextTransfer::Narrow);
    } else if (transfer == QLatin1String("wide")) {
        connection->setTextTransfer(OdbcTextTransfer::Wide);
    }

    Error error;
    auto source = connection->execute(
        QStringLiteral(
            "SELECT id AS \"identità\", name, note, data, amount FROM sample ORDER BY id"),
        &error);
    QVERIFY2(source, qPrintable(error.description));
    QCOMPARE(source->columnCount(), 5);
    QCOMPARE(source->columnName(0), QStringLiteral("identità"));
    QCOMPARE(source->columnName(2), QStringLiteral("note"));
    QCOMPARE(source->columnName(5), QString());

    CollectingSink sink;
    QCOMPARE(source->fetch(2, sink), 2);
    QVERIFY(!source->atEnd());
    QCOMPARE(source->fetch(100, sink), 1);
    QCOMPARE(source->fetch(100, sink), 0);
    QVERIFY(source->atEnd());
    QVERIFY2(!source->error(), qPrintable(source->error().description));

    const QList<Row> expected{
        {"1", "uno", kNonLatin.toUtf8(), "00FF10AB", "1.5"},
        {"2", std::nullopt, std::nullopt, std::nullopt, std::nullopt},
        {"3", "lungo", text_.toUtf8(), binary_.toHex().toUpper(), "-2.25"},
    };
    QCOMPARE(sink.rows.size(), expected.size());
    for (int r = 0; r < expected.size(); ++r) {
        for (int c = 0; c < 5; ++c) {
            const Cell got = sink.rows[r].value(c);
            QVERIFY2(got == expected[r][c], qPrintable(QStringLiteral("row %1 column %2: %3")
                                                           .arg(r)
                                                           .arg(c)
                                                           .arg(got.value_or("NULL").left(40))));
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

    for (const QString& engine : {kSqlite, kPostgres}) {
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
    QVERIFY2(wrapped > 0, qPrintable(seen.left(2000)));
    QCOMPARE(runs > 0, !byQuery);
}

void TestOdbc::noResultSet_data() {
    engineRows();
}

void TestOdbc::noResultSet() {
    QFETCH(QString, engine);
    const QString sql = QStringLiteral("UPDATE sample SET amount = amount WHERE id = 2");
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

void TestOdbc::connectFails_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("needsServer");
    QTest::addColumn<QString>("fragment"); // empty: refused before the driver manager
    QTest::newRow("tab and newline") << QStringLiteral("\t\n") << false << QString();
    QTest::newRow("unknown long name")
        << QStringLiteral("nessuna;origine=con nome lungo ").leftJustified(80, 'x') << false
        << QStringLiteral("[IM002]");
    QTest::newRow("server not listening")
        << QStringLiteral("velario-pg-chiuso") << true << QStringLiteral("[08001]");
}

void TestOdbc::connectFails() {
    QFETCH(QString, name);
    QFETCH(bool, needsServer);
    QFETCH(QString, fragment);
    if (needsServer && !server_)
        QSKIP("no test PostgreSQL server: run through ctest, which starts the postgres fixture");
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
    SKIP_WITHOUT_SERVER(kPostgres);
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
