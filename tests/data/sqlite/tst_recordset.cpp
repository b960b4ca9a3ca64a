#include "data/catalogue/catalogue_store.h"
#include "data/sqlite/database.h"
#include "data/sqlite/recordset.h"
#include "data/sqlite/sqlite_connection.h"
#include "support/harness.h"
#include "support/odbc_fixture.h"

#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <cstdio>

using namespace velario;
using namespace velario::data;

// Another program's connection, which may write.
QStringList peer(const QString& path, const QString& sql, const QVariantList& values = {}) {
    return velario::test::sqliteRows(path, sql, values, true);
}

// The names of table t as one of the database's ways of reading rows reads them.
QStringList readNames(Database* db, int way, Error* error) {
    QStringList names;
    const QString sql = QStringLiteral("SELECT name FROM t ORDER BY id");
    if (way == 0 || way == 1) {
        auto rs = way == 0 ? db->openRecordset(sql, {}, error)
                           : db->openTableRecordset("t", {}, {}, error);
        for (; rs && !rs->eof(); rs->moveNext())
            names << rs->field("name").toString();
    } else if (way == 2) {
        *error = db->forEachRow(sql, {}, [&](std::span<const std::string_view> row) {
            names << QString::fromUtf8(row[0].data(), qsizetype(row[0].size()));
            return true;
        });
    } else if (auto result = db->execute(sql, error)) {
        velario::test::TextCells sink;
        result->fetch(100, sink);
        names = sink.cells;
    }
    return names;
}

class TestRecordset : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path_;
    std::unique_ptr<Database> open() {
        Error error;
        return Database::open(path_, false, &error);
    }
    bool exec(const QString& sql) { return peer(path_, sql).isEmpty(); }
    std::unique_ptr<Recordset> row(Database* db, int id) {
        Error error;
        return db->openTableRecordset("t", "id", id, &error);
    }

private slots:
    void init() {
        path_ = dir_.filePath(QString(QTest::currentTestFunction()) + QTest::currentDataTag());
        QVERIFY(exec("CREATE TABLE t (id INTEGER, name TEXT, note TEXT DEFAULT 'n/a')"));
        QVERIFY(exec("INSERT INTO t VALUES (1, 'uno', NULL), (2, 'due', 'x'), (3, 'tre', 'y')"));
    }

    // Each statement fails with its own number and the engine's own words, whether it is
    // opened as a record set or run for streaming.
    void errorNumbers() {
        auto db = open();
        const QList<QPair<QString, int>> cases{
            {"SELECT * FROM nothere", int(ErrorNumber::TableNotFound)},
            {"SELECT nocol FROM t", int(ErrorNumber::TooFewParameters)},
            {"SELEC * FROM t", int(ErrorNumber::SyntaxError)},
            {"SELECT 'abc FROM t", int(ErrorNumber::SyntaxError)},
            {"SELECT * FROM t WHERE (id = 1", int(ErrorNumber::SyntaxError)},
            {"SELECT abs(1, 2)", int(ErrorNumber::EngineError)},
            {"SELECT * FROM t WHERE id = abs(-9223372036854775807 - 1)",
             int(ErrorNumber::EngineError)}};
        for (const auto& [sql, number] : cases) {
            Error error, executeError;
            QVERIFY(!db->openRecordset(sql, {}, &error) && !db->execute(sql, &executeError));
            QCOMPARE(QList<int>({error.number, executeError.number}), QList<int>(2, number));
            QVERIFY2(!error.description.isEmpty() && error.description != standardErrorText(number),
                     qPrintable(sql));
        }
    }

    // Another file put in the open file's place: the next operation, whichever it is, says so
    // once and reads neither file; the ones after read the new file.
    void replacedFileIsFollowed_data() {
        QTest::addColumn<int>("way");
        QTest::newRow("record set") << 0;
        QTest::newRow("table record set") << 1;
        QTest::newRow("row visit") << 2;
        QTest::newRow("result") << 3;
    }
    void replacedFileIsFollowed() {
        QFETCH(int, way);
        auto db = open();
        Error error;
        QCOMPARE(readNames(db.get(), way, &error), QStringList({"uno", "due", "tre"}));
        const QString other = path_ + QStringLiteral(".nuovo");
        QVERIFY(peer(other, "CREATE TABLE t (id INTEGER, name TEXT)").isEmpty());
        QVERIFY(peer(other, "INSERT INTO t VALUES (9, 'nove')").isEmpty());
        QCOMPARE(std::rename(qPrintable(other), qPrintable(path_)), 0);

        QCOMPARE(readNames(db.get(), way, &error), QStringList());
        QCOMPARE(error.number, int(ErrorNumber::FileOpenFailed));
        QVERIFY2(error.description.contains(path_) && error.description.contains("sostituito"),
                 qPrintable(error.description));
        error = {};
        QCOMPARE(readNames(db.get(), way, &error), QStringList({"nove"}));
        QVERIFY2(!error, qPrintable(error.description));
    }

    // A statement goes back to its connection only to be used there again: not once the
    // connection has closed (reopened on another file it would read the old one), nor when
    // it could not be prepared (the same text may prepare once the table exists).
    void keptStatementsStayUsable() {
        const QByteArray sql = "SELECT name FROM t WHERE id = 1";
        const QByteArray later = "SELECT v FROM later";
        const QString other = path_ + QStringLiteral(".altro");
        QVERIFY(peer(other, "CREATE TABLE t (id INTEGER, name TEXT)").isEmpty());
        QVERIFY(peer(other, "INSERT INTO t VALUES (1, 'altro')").isEmpty());
        const auto first = [](detail::Statement statement) {
            return statement.isValid() && sqlite3_step(statement.get()) == SQLITE_ROW
                       ? statement.value(0).toString()
                       : QString();
        };
        Error error;
        detail::SqliteConnection connection;
        connection.handle = detail::openHandle(readOnlySqliteUri(path_), true, kLockWaitMs, &error);
        detail::Statement old = connection.takeStatement(sql, &error);
        QVERIFY(old.isValid());
        connection.close();
        connection.keepStatement(sql, std::move(old));
        connection.handle = detail::openHandle(readOnlySqliteUri(other), true, kLockWaitMs, &error);
        QCOMPARE(first(connection.takeStatement(sql, &error)), QStringLiteral("altro"));

        detail::Statement failed = connection.takeStatement(later, &error);
        QVERIFY(!failed.isValid());
        connection.keepStatement(later, std::move(failed));
        QVERIFY(peer(other, "CREATE TABLE later (v)").isEmpty());
        QVERIFY(peer(other, "INSERT INTO later VALUES ('ora')").isEmpty());
        QCOMPARE(first(connection.takeStatement(later, &error)), QStringLiteral("ora"));
    }

    void editWritesOnlyChangedColumns() {
        auto db = open();
        auto rs = row(db.get(), 2);
        QVERIFY(!rs->edit());
        // Another program changes a column this record set does not touch.
        QVERIFY(exec("UPDATE t SET note = 'other' WHERE id = 2"));
        QVERIFY(!rs->collect("Name", QStringLiteral("DUE")));
        QVERIFY(!rs->update());
        QCOMPARE(peer(path_, "SELECT * FROM t ORDER BY id"),
                 QStringList({"1|uno|<NULL>", "2|DUE|other", "3|tre|y"}));
        QCOMPARE(rs->field("name").toString() + '|' + rs->field("note").toString(), "DUE|other");
        QCOMPARE(rs->update().number, int(ErrorNumber::UpdateWithoutEdit));
        QCOMPARE(rs->collect("name", 1).number, int(ErrorNumber::UpdateWithoutEdit));
    }

    void failedWriteRollsBack() {
        // The trigger writes first, then the constraint refuses the row: neither stays.
        QVERIFY(exec("CREATE TABLE log (what TEXT)"));
        QVERIFY(exec("CREATE TRIGGER t_log BEFORE UPDATE ON t BEGIN "
                     "INSERT INTO log VALUES (new.name); END"));
        QVERIFY(exec("CREATE TABLE checked (v TEXT CHECK (length(v) < 4))"));
        QVERIFY(exec("CREATE TRIGGER t_check AFTER UPDATE ON t BEGIN "
                     "INSERT INTO checked VALUES (new.name); END"));
        auto db = open();
        auto rs = row(db.get(), 1);
        QVERIFY(!rs->edit());
        QVERIFY(!rs->collect("name", QStringLiteral("troppo lungo")));
        const Error failed = rs->update();
        QCOMPARE(failed.number, int(ErrorNumber::EngineError));
        QVERIFY2(failed.description.contains("CHECK"), qPrintable(failed.description));
        QCOMPARE(peer(path_, "SELECT name FROM t WHERE id = 1"), QStringList({"uno"}));
        QCOMPARE(peer(path_, "SELECT count(*) FROM log"), QStringList({"0"}));
        QCOMPARE(rs->field("name").toString(), QStringLiteral("uno"));
        // The values are still pending: a corrected value goes through.
        QVERIFY(!rs->collect("name", QStringLiteral("ok")));
        QVERIFY(!rs->update());
        QCOMPARE(peer(path_, "SELECT name FROM t WHERE id = 1"), QStringList({"ok"}));
        QCOMPARE(peer(path_, "SELECT what FROM log"), QStringList({"ok"}));
    }

    // A catalogue lookup by code means what "CODICE = ?" means on the table, with an index on
    // the code or without: the column's declared type and collation decide equality, rows
    // come in the order of their rowids, and rows another program writes meanwhile are found.
    void lookupsAsTheEngineDoes_data() {
        QTest::addColumn<QString>("column"); // the declaration of CODICE
        QTest::addColumn<QStringList>("codes");
        const QStringList text{"A", "a", "A ", "B", "A", " A"};
        const QStringList numbers{"12", "012", "12.0", "abc", "1e1", "10"};
        for (const char* index : {"", ", indexed"}) {
            QTest::addRow("text%s", index) << "CODICE VARCHAR(15)" << text;
            QTest::addRow("no case%s", index) << "CODICE VARCHAR(15) COLLATE NOCASE" << text;
            QTest::addRow("blanks at the end ignored%s", index)
                << "CODICE TEXT COLLATE RTRIM" << text;
            QTest::addRow("numbers%s", index) << "CODICE NUMERIC" << numbers;
            QTest::addRow("no type%s", index) << "CODICE" << numbers;
        }
    }
    void lookupsAsTheEngineDoes() {
        QFETCH(QString, column);
        QFETCH(QStringList, codes);
        const QString path = dir_.filePath(QTest::currentDataTag());
        const bool indexed = QString(QTest::currentDataTag()).endsWith("indexed");
        QVERIFY(peer(path, "CREATE TABLE SELEZIONI_SQL (" + column +
                               ", DESCRIZIONE TEXT, SQL TEXT, Database TEXT, Tipo_Database TEXT)")
                    .isEmpty());
        QVERIFY(!indexed || peer(path, "CREATE INDEX i ON SELEZIONI_SQL(CODICE)").isEmpty());
        const auto insert = [&](const QString& code, const QString& description) {
            return peer(path, "INSERT INTO SELEZIONI_SQL (CODICE, DESCRIZIONE) VALUES (?, ?)",
                        {code, description})
                .isEmpty();
        };
        for (qsizetype i = 0; i < codes.size(); ++i)
            QVERIFY(insert(codes[i], QString::number(i)));
        Error error;
        const auto db = Database::open(path, false, &error);
        QVERIFY2(db, qPrintable(error.description));
        for (int pass = 0; pass < 2; ++pass) {
            for (const QString& probe : codes) {
                const QStringList expected = peer(
                    path, "SELECT DESCRIZIONE FROM SELEZIONI_SQL WHERE CODICE = ? ORDER BY rowid",
                    {probe});
                QStringList found;
                auto rs = openCatalogueLookup(db.get(), probe, &error);
                QVERIFY2(rs, qPrintable(error.description));
                for (; !rs->eof(); rs->moveNext())
                    found << rs->field("DESCRIZIONE").toString();
                QCOMPARE(found, expected);
            }
            QVERIFY(insert(codes.first(), "late"));
            QVERIFY(peer(path, "DELETE FROM SELEZIONI_SQL WHERE DESCRIZIONE = '1'").isEmpty());
        }
        // The file holds only what it held: no index of ours.
        QCOMPARE(peer(path, "SELECT count(*) FROM sqlite_master WHERE type = 'index'"),
                 QStringList({indexed ? "1" : "0"}));
    }

    // A closed record set says so, rather than that it has no current row.
    void closedRefuses() {
        auto db = open();
        auto rs = row(db.get(), 1);
        rs->close();
        Error error;
        rs->field("name", &error);
        QCOMPARE(error.number, int(ErrorNumber::ObjectNotSet));
    }
};

QTEST_GUILESS_MAIN(TestRecordset)
#include "tst_recordset.moc"
