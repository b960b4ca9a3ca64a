#include "data/database.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace velario;
using namespace velario::data;

namespace {

struct Collected : RowSink {
    QList<QStringList> rows;
    void beginRow() override { rows.append(QStringList()); }
    void cell(const char* utf8, qsizetype length) override {
        rows.last().append(QString::fromUtf8(utf8, length));
    }
    void nullCell() override { rows.last().append(QStringLiteral("<null>")); }
    void endRow() override {}
};

QList<QStringList> readAll(ResultSource& result, int block) {
    Collected sink;
    while (result.fetch(block, sink) > 0) {
    }
    return sink.rows;
}

bool writeSqlite(const QString& path, const QStringList& statements) {
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "setup");
        db.setDatabaseName(path);
        ok = db.open();
        for (const QString& sql : statements)
            ok = ok && QSqlQuery(db).exec(sql);
    }
    QSqlDatabase::removeDatabase("setup");
    return ok;
}

} // namespace

class TestSqliteResult : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<Database> db_;

private slots:
    void initTestCase() {
        const QString path = dir_.filePath("values.db");
        QVERIFY(writeSqlite(
            path, {"CREATE TABLE v (i INTEGER, r REAL, t TEXT, b BLOB, n)",
                   "INSERT INTO v VALUES (-42, 1.5, 'àè€😀', x'00FF10ab', NULL), "
                   "(9223372036854775807, 100.0, '', x'', 7), (NULL, 0.1, NULL, NULL, 'testo')",
                   "CREATE TABLE seq (n INTEGER)",
                   "WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s "
                   "WHERE n < 1000) INSERT INTO seq SELECT n FROM s"}));
        Error error;
        db_ = Database::open(path, false, false, QString(), &error);
        QVERIFY2(db_, qPrintable(error.description));
    }

    void valuesAsText() {
        Error error;
        auto result = db_->execute("SELECT * FROM v ORDER BY rowid", &error);
        QVERIFY2(result, qPrintable(error.description));
        QCOMPARE(result->columnCount(), 5);
        QCOMPARE(result->columnName(3), QStringLiteral("b"));
        QCOMPARE(readAll(*result, 2),
                 (QList<QStringList>{{"-42", "1.5", "àè€😀", "00FF10AB", "<null>"},
                                     {"9223372036854775807", "100.0", "", "", "7"},
                                     {"<null>", "0.1", "<null>", "<null>", "testo"}}));
        QVERIFY(result->atEnd());
        QVERIFY(!result->error());
        QCOMPARE(result->countRows(&error), 3);
    }

    // Counted before any row was read, and the rows read afterwards agree.
    void exactCount_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<qint64>("count");
        QTest::newRow("filter and order")
            << "SELECT n FROM seq WHERE n % 3 = 0 ORDER BY n DESC" << qint64(333);
        QTest::newRow("trailing semicolon") << "SELECT * FROM seq LIMIT 10;  \n" << qint64(10);
        QTest::newRow("trailing comment")
            << "SELECT * FROM seq WHERE n < 5 -- fino a 4" << qint64(4);
        QTest::newRow("common table expression")
            << "WITH d AS (SELECT n FROM seq WHERE n <= 20) SELECT * FROM d" << qint64(20);
        QTest::newRow("pragma, not wrappable") << "PRAGMA table_info(v)" << qint64(5);
        QTest::newRow("trailing comment after semicolon")
            << "SELECT * FROM seq LIMIT 2; -- fine" << qint64(2);
    }
    void exactCount() {
        QFETCH(QString, sql);
        QFETCH(qint64, count);
        Error error;
        auto result = db_->execute(sql, &error);
        QVERIFY2(result, qPrintable(error.description));
        QCOMPARE(result->countRows(&error), count);
        QVERIFY(!error);
        QCOMPARE(qint64(readAll(*result, 100).size()), count);
    }

    // Whatever the statement, the file it runs on stays byte for byte as it was, and nothing
    // appears beside it (journal, log, attached or vacuumed copies).
    void neverWrites_data() {
        QTest::addColumn<bool>("wal");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("number");
        const QString readOnly = QStringLiteral("attempt to write a readonly database");
        const QString several = QStringLiteral("più di un'istruzione");
        QList<std::pair<QString, QString>> statements{
            {"ATTACH 'altro.db' AS a", "unable to open database"},
            {"SELECT 1; DELETE FROM seq", several},
            {"SELECT 1; SELECT 2", several},
            {"SELECT 1; garbage", "syntax error"},
            {"SELECT * FROM nothere", "nothere"},
            {"   ", ""}};
        for (const QString& sql :
             QStringLiteral("DELETE FROM seq|UPDATE seq SET n = 0|INSERT INTO seq VALUES (0)|"
                            "REPLACE INTO seq VALUES (0)|DROP TABLE seq|CREATE TABLE x (a)|"
                            "ALTER TABLE seq ADD COLUMN m|CREATE TEMP TABLE x (a)|VACUUM|"
                            "VACUUM INTO 'copia.db'|PRAGMA user_version = 7|"
                            "PRAGMA journal_mode = DELETE")
                 .split(u'|'))
            statements.append({sql, readOnly});
        for (const bool wal : {false, true})
            for (const auto& [sql, reason] : statements)
                QTest::addRow("%s%s", wal ? "wal: " : "", qPrintable(sql))
                    << wal << sql << reason
                    << (reason == "nothere" ? int(ErrorNumber::TableNotFound) : 0);
    }
    void neverWrites() {
        QFETCH(bool, wal);
        QFETCH(QString, sql);
        QFETCH(QString, reason);
        QFETCH(int, number);
        QTemporaryDir dir;
        const QString path = dir.filePath("target.db");
        QVERIFY(
            writeSqlite(path, {wal ? "PRAGMA journal_mode = WAL" : "PRAGMA journal_mode = DELETE",
                               "CREATE TABLE seq (n INTEGER)", "INSERT INTO seq VALUES (1), (2)"}));
        const auto snapshot = [&] {
            QFile file(path);
            return file.open(QIODevice::ReadOnly)
                       ? QDir(dir.path()).entryList(QDir::Files).join(' ') + file.readAll().toHex()
                       : QString();
        };
        const QString before = snapshot();
        QVERIFY(!before.isEmpty());
        {
            Error error;
            auto db = Database::open(path, false, true, QString(), &error);
            QVERIFY2(db, qPrintable(error.description));
            QVERIFY(!db->execute(sql, &error));
            QVERIFY(error.isSet());
            QVERIFY2(error.description.contains(reason), qPrintable(error.description));
            if (number)
                QCOMPARE(error.number, number);
            auto rows = db->execute("SELECT count(*) FROM seq", &error);
            QVERIFY2(rows, qPrintable(error.description));
            QCOMPARE(readAll(*rows, 7), QList<QStringList>({{"2"}}));
        }
        QCOMPARE(snapshot(), before);
    }
};

QTEST_GUILESS_MAIN(TestSqliteResult)
#include "tst_sqlite_result.moc"
