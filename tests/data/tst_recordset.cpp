#include "data/database.h"
#include "data/recordset.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>

using namespace velario;
using namespace velario::data;

namespace {

// Runs SQL on the file at PATH through a connection of its own, as another program would;
// the rows, each as its columns joined by '|', or "failed".
QStringList peer(const QString& path, const QString& sql) {
    QStringList out{"failed"};
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "peer");
        db.setDatabaseName(path);
        QSqlQuery q(db);
        if (db.open() && q.exec(sql))
            out.clear();
        while (q.next()) {
            QStringList cells;
            for (int c = 0; c < q.record().count(); ++c)
                cells << (q.value(c).isNull() ? QStringLiteral("<null>") : q.value(c).toString());
            out << cells.join('|');
        }
    }
    QSqlDatabase::removeDatabase("peer");
    return out;
}

} // namespace

class TestRecordset : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path_;
    std::unique_ptr<Database> open(bool readOnly = false) {
        Error error;
        return Database::open(path_, false, readOnly, QString(), &error);
    }
    bool exec(const QString& sql) { return peer(path_, sql).isEmpty(); }
    QStringList rows(const QString& sql) { return peer(path_, sql); }
    std::unique_ptr<Recordset> row(Database* db, int id) {
        Error error;
        auto rs = db->openTableRecordset("t", "id", id, &error);
        if (!rs)
            qWarning() << error.description;
        return rs;
    }

private slots:
    void init() {
        path_ = dir_.filePath(QStringLiteral("%1_%2.db")
                                  .arg(QTest::currentTestFunction())
                                  .arg(QTest::currentDataTag() ? QTest::currentDataTag() : ""));
        QFile::remove(path_);
        QVERIFY(exec("CREATE TABLE t (id INTEGER, name TEXT, note TEXT DEFAULT 'n/a')"));
        QVERIFY(exec("INSERT INTO t VALUES (1, 'uno', NULL), (2, 'due', 'x'), (3, 'tre', 'y')"));
    }

    void errorNumbers_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("number");
        QTest::newRow("missing table")
            << "SELECT * FROM nothere" << int(ErrorNumber::TableNotFound);
        QTest::newRow("missing column")
            << "SELECT nocol FROM t" << int(ErrorNumber::TooFewParameters);
        QTest::newRow("syntax") << "SELEC * FROM t" << int(ErrorNumber::SyntaxError);
        QTest::newRow("unrecognized token")
            << "SELECT 'abc FROM t" << int(ErrorNumber::SyntaxError);
        QTest::newRow("incomplete input")
            << "SELECT * FROM t WHERE (id = 1" << int(ErrorNumber::SyntaxError);
        QTest::newRow("other engine error") << "SELECT abs(1, 2)" << int(ErrorNumber::EngineError);
        QTest::newRow("runtime error") << "SELECT * FROM t WHERE id = abs(-9223372036854775807 - 1)"
                                       << int(ErrorNumber::EngineError);
    }
    void errorNumbers() {
        QFETCH(QString, sql);
        QFETCH(int, number);
        auto db = open();
        Error error, executeError;
        QVERIFY(!db->openRecordset(sql, {}, &error));
        QCOMPARE(error.number, number);
        QVERIFY(!error.description.isEmpty() && error.description != standardErrorText(number));
        // The streaming path reports the same error when it is asked to run the statement.
        QVERIFY(!db->execute(sql, &executeError));
        QCOMPARE(executeError.number, number);
        // Engine codes the statements above do not give.
        QCOMPARE(engineError(5 | (2 << 8), {}).number, int(ErrorNumber::CouldNotLock));
        QCOMPARE(engineError(8, {}).number, int(ErrorNumber::DatabaseReadOnly));
        QCOMPARE(engineError(26, {}).number, int(ErrorNumber::UnrecognizedFormat));
    }

    void readsWithParameters() {
        auto db = open();
        Error error, unknown, past;
        auto rs =
            db->openRecordset("SELECT name, note FROM t WHERE id >= ? AND name <> ? ORDER BY id",
                              {2, QStringLiteral("tre")}, &error);
        QVERIFY2(rs, qPrintable(error.description));
        QCOMPARE(rs->recordCount(), 1);
        QCOMPARE(rs->field("NAME").toString(), QStringLiteral("due"));
        QVERIFY(rs->field("nope", &unknown).isNull());
        QCOMPARE(unknown.number, int(ErrorNumber::ItemNotFound));
        rs->moveNext();
        QVERIFY(rs->eof());
        rs->field("name", &past);
        QCOMPARE(past.number, int(ErrorNumber::NoCurrentRecord));
        QCOMPARE(rs->edit().number, int(ErrorNumber::DatabaseReadOnly));
        QVERIFY(!db->openRecordset("SELECT * FROM t WHERE id = ?", {}, &error));
        QCOMPARE(error.number, int(ErrorNumber::TooFewParameters));
    }

    // One lookup text run again and again, as a list does for each row it moves to, while
    // another connection changes the table between the runs.
    void repeatedLookup_data() {
        QTest::addColumn<QString>("between"); // run by another connection before the second lookup
        QTest::addColumn<int>("id");
        QTest::addColumn<QStringList>("fields"); // name=value
        QTest::newRow("another value")
            << QString() << 2 << QStringList{"id=2", "name=due", "note=x"};
        QTest::newRow("a row written meanwhile") << "INSERT INTO t VALUES (4, 'quattro', 'z')" << 4
                                                 << QStringList{"id=4", "name=quattro", "note=z"};
        QTest::newRow("a column added meanwhile")
            << "ALTER TABLE t ADD COLUMN extra TEXT DEFAULT 'nuova'" << 3
            << QStringList{"name=tre", "note=y", "extra=nuova"};
        QTest::newRow("no row found") << QString() << 9 << QStringList{};
    }
    void repeatedLookup() {
        QFETCH(QString, between);
        QFETCH(int, id);
        QFETCH(QStringList, fields);
        auto db = open();
        auto before = row(db.get(), 1);
        QCOMPARE(before->field("name").toString(), QStringLiteral("uno"));
        QVERIFY(before->field("note").isNull());
        QVERIFY(between.isEmpty() || exec(between));
        auto after = row(db.get(), id);
        QCOMPARE(after->recordCount(), fields.isEmpty() ? 0 : 1);
        if (fields.isEmpty())
            QCOMPARE(after->edit().number, int(ErrorNumber::NoCurrentRecord));
        for (const QString& field : fields)
            QCOMPARE(after->field(field.section('=', 0, 0)).toString(), field.section('=', 1));
    }

    void editWritesOnlyChangedColumns() {
        auto db = open();
        auto rs = row(db.get(), 2);
        QVERIFY(!rs->edit());
        // Another program changes a column this record set does not touch.
        QVERIFY(exec("UPDATE t SET note = 'other' WHERE id = 2"));
        QVERIFY(!rs->collect("Name", QStringLiteral("DUE")));
        QVERIFY(!rs->update());
        QCOMPARE(rows("SELECT * FROM t ORDER BY id"),
                 QStringList({"1|uno|<null>", "2|DUE|other", "3|tre|y"}));
        QCOMPARE(rs->field("name").toString(), QStringLiteral("DUE"));
        QCOMPARE(rs->field("note").toString(), QStringLiteral("other"));
        QCOMPARE(rs->update().number, int(ErrorNumber::UpdateWithoutEdit));
        QCOMPARE(rs->collect("name", 1).number, int(ErrorNumber::UpdateWithoutEdit));
    }

    void addNewAndDelete() {
        auto db = open();
        auto rs = row(db.get(), 3);
        QVERIFY(!rs->addNew());
        QCOMPARE(rs->collect("missing", 1).number, int(ErrorNumber::ItemNotFound));
        QVERIFY(!rs->collect("id", 4));
        QVERIFY(!rs->collect("name", QStringLiteral("quattro")));
        QVERIFY(!rs->update());
        QCOMPARE(rs->recordCount(), 2);
        // The current row stays where it was; the new row took the table's default.
        QCOMPARE(rs->field("name").toString(), QStringLiteral("tre"));
        QVERIFY(!rs->deleteCurrent());
        QCOMPARE(rs->recordCount(), 1);
        QCOMPARE(rs->field("note").toString(), QStringLiteral("n/a"));
        QCOMPARE(rows("SELECT * FROM t ORDER BY id"),
                 QStringList({"1|uno|<null>", "2|due|x", "4|quattro|n/a"}));
        QVERIFY(!rs->deleteCurrent());
        QVERIFY(rs->eof());
        QCOMPARE(rs->deleteCurrent().number, int(ErrorNumber::NoCurrentRecord));
        QCOMPARE(rows("SELECT count(*) FROM t"), QStringList({"2"}));
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
        QCOMPARE(rows("SELECT name FROM t WHERE id = 1"), QStringList({"uno"}));
        QCOMPARE(rows("SELECT count(*) FROM log"), QStringList({"0"}));
        QCOMPARE(rs->field("name").toString(), QStringLiteral("uno"));
        // The values are still pending: a corrected value goes through.
        QVERIFY(!rs->collect("name", QStringLiteral("ok")));
        QVERIFY(!rs->update());
        QCOMPARE(rows("SELECT name FROM t WHERE id = 1"), QStringList({"ok"}));
        QCOMPARE(rows("SELECT what FROM log"), QStringList({"ok"}));
    }

    void writeInsideCallersTransaction() {
        auto db = open();
        QSqlQuery q(db->connection());
        QVERIFY(q.exec("BEGIN"));
        QVERIFY(q.exec("INSERT INTO t VALUES (9, 'nove', NULL)"));
        auto rs = row(db.get(), 1);
        QVERIFY(!rs->edit());
        QVERIFY(!rs->collect("name", QStringLiteral("toolongvalue")));
        QVERIFY(!rs->update());
        QVERIFY(q.exec("ROLLBACK"));
        QCOMPARE(rows("SELECT name FROM t WHERE id IN (1, 9)"), QStringList({"uno"}));
    }

    // Opened read-only by the caller, or a file the owner may only read.
    void readOnly_data() {
        QTest::addColumn<bool>("askedReadOnly");
        QTest::newRow("asked") << true;
        QTest::newRow("file") << false;
    }
    void readOnly() {
        QFETCH(bool, askedReadOnly);
        QVERIFY(askedReadOnly || QFile::setPermissions(path_, QFile::ReadOwner));
        auto db = open(askedReadOnly);
        QVERIFY(db);
        auto rs = row(db.get(), 1);
        QVERIFY(!rs->edit());
        QVERIFY(!rs->collect("name", QStringLiteral("x")));
        const Error failed = rs->update();
        QCOMPARE(failed.number, int(ErrorNumber::DatabaseReadOnly));
        QVERIFY(failed.description.contains(path_));
        QCOMPARE(rs->deleteCurrent().number, int(ErrorNumber::DatabaseReadOnly));
        QFile::setPermissions(path_, QFile::ReadOwner | QFile::WriteOwner);
    }

    void outlivesItsDatabase() {
        auto db = open();
        Error error;
        auto rs = row(db.get(), 1);
        auto result = db->execute("SELECT * FROM t", &error);
        QVERIFY(result);
        db.reset();
        QVERIFY(!rs->edit());
        QCOMPARE(rs->update().number, int(ErrorNumber::ObjectNotSet));
        QCOMPARE(rs->field("name").toString(), QStringLiteral("uno"));
        QVERIFY(result->atEnd());
        QCOMPARE(result->error().number, int(ErrorNumber::ObjectNotSet));
    }
};

QTEST_GUILESS_MAIN(TestRecordset)
#include "tst_recordset.moc"
