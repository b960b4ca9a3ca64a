#include "data/database.h"
#include "data/recordset.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>

using namespace velario;
using namespace velario::data;

namespace {

// A second connection to the same file, as another program would have.
class Peer {
public:
    explicit Peer(const QString& path) : name_(QStringLiteral("peer-%1").arg(++counter_)) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        db.setDatabaseName(path);
        QVERIFY(db.open());
    }
    ~Peer() {
        QSqlDatabase::database(name_).close();
        QSqlDatabase::removeDatabase(name_);
    }
    bool exec(const QString& sql) {
        QSqlQuery q(QSqlDatabase::database(name_));
        const bool ok = q.exec(sql);
        if (!ok)
            qWarning() << sql << q.lastError().text();
        return ok;
    }
    // The rows of SQL, each as its columns joined by '|'.
    QStringList rows(const QString& sql) {
        QSqlQuery q(QSqlDatabase::database(name_));
        if (!q.exec(sql))
            return {QStringLiteral("ERROR ") + q.lastError().text()};
        QStringList out;
        while (q.next()) {
            QStringList cells;
            for (int c = 0; c < q.record().count(); ++c)
                cells.append(q.value(c).isNull() ? QStringLiteral("<null>")
                                                 : q.value(c).toString());
            out.append(cells.join(QLatin1Char('|')));
        }
        return out;
    }

private:
    QString name_;
    static inline int counter_ = 0;
};

} // namespace

class TestRecordset : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString path_;
    std::unique_ptr<Database> open(bool readOnly = false) {
        Error error;
        auto db = Database::open(path_, false, readOnly, QString(), &error);
        if (!db)
            qWarning() << error.number << error.description;
        return db;
    }

private slots:
    void init() {
        path_ = dir_.filePath(QStringLiteral("%1.db").arg(QTest::currentTestFunction()));
        QFile::remove(path_);
        Peer peer(path_);
        QVERIFY(peer.exec("CREATE TABLE t (id INTEGER, name TEXT, note TEXT DEFAULT 'n/a')"));
        QVERIFY(
            peer.exec("INSERT INTO t VALUES (1, 'uno', NULL), (2, 'due', 'x'), (3, 'tre', 'y')"));
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
        QVERIFY(db);
        Error error;
        QVERIFY(!db->openRecordset(sql, {}, &error));
        QCOMPARE(error.number, number);
        QVERIFY(!error.description.isEmpty());
        QVERIFY(error.description != standardErrorText(number));
        // The streaming path reports the same error when it is asked to run the statement.
        Error executeError;
        QVERIFY(!db->execute(sql, &executeError));
        QCOMPARE(executeError.number, number);
    }

    void engineErrorCodes_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("number");
        QTest::newRow("busy snapshot") << (5 | (2 << 8)) << int(ErrorNumber::CouldNotLock);
        QTest::newRow("readonly") << 8 << int(ErrorNumber::DatabaseReadOnly);
        QTest::newRow("not a database") << 26 << int(ErrorNumber::UnrecognizedFormat);
    }
    void engineErrorCodes() {
        QFETCH(int, code);
        QFETCH(int, number);
        const Error error = engineError(code, QString());
        QCOMPARE(error.number, number);
        QVERIFY(!error.description.isEmpty());
    }

    void readsWithParameters() {
        auto db = open();
        Error error;
        auto rs =
            db->openRecordset("SELECT name, note FROM t WHERE id >= ? AND name <> ? ORDER BY id",
                              {2, QStringLiteral("tre")}, &error);
        QVERIFY2(rs, qPrintable(error.description));
        QCOMPARE(rs->recordCount(), 1);
        QVERIFY(!rs->eof());
        QCOMPARE(rs->field("NAME").toString(), QStringLiteral("due"));
        Error unknown;
        QVERIFY(rs->field("nope", &unknown).isNull());
        QCOMPARE(unknown.number, int(ErrorNumber::ItemNotFound));
        rs->moveNext();
        QVERIFY(rs->eof());
        Error past;
        rs->field("name", &past);
        QCOMPARE(past.number, int(ErrorNumber::NoCurrentRecord));
        // A read-only record set refuses to change.
        QCOMPARE(rs->edit().number, int(ErrorNumber::DatabaseReadOnly));
        QVERIFY(!db->openRecordset("SELECT * FROM t WHERE id = ?", {}, &error));
        QCOMPARE(error.number, int(ErrorNumber::TooFewParameters));
    }

    // One lookup text run again and again, as a list does for each row it moves to, while
    // another connection changes the table between the runs.
    void repeatedLookup_data() {
        QTest::addColumn<QString>("between"); // run by another connection before the second lookup
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("fields");
        const QStringList three{"id", "name", "note"};
        QTest::newRow("another value")
            << QString() << QVariant(2) << three << QStringList{"2", "due", "x"};
        QTest::newRow("a row written meanwhile")
            << "INSERT INTO t VALUES (4, 'quattro', 'z')" << QVariant(4) << three
            << QStringList{"4", "quattro", "z"};
        QTest::newRow("a column added meanwhile")
            << "ALTER TABLE t ADD COLUMN extra TEXT DEFAULT 'nuova'" << QVariant(3)
            << QStringList{"id", "name", "note", "extra"} << QStringList{"3", "tre", "y", "nuova"};
        QTest::newRow("no row found") << QString() << QVariant(9) << three << QStringList{};
    }

    void repeatedLookup() {
        QFETCH(QString, between);
        QFETCH(QVariant, value);
        QFETCH(QStringList, names);
        QFETCH(QStringList, fields);
        auto db = open();
        Error error;
        auto before = db->openTableRecordset("t", "id", 1, &error);
        QVERIFY2(before, qPrintable(error.description));
        QCOMPARE(before->field("name").toString(), QStringLiteral("uno"));
        QVERIFY(before->field("note").isNull());
        if (!between.isEmpty())
            QVERIFY(Peer(path_).exec(between));
        auto after = db->openTableRecordset("t", "id", value, &error);
        QVERIFY2(after, qPrintable(error.description));
        QCOMPARE(after->fieldNames(), names);
        QCOMPARE(after->recordCount(), fields.isEmpty() ? 0 : 1);
        if (fields.isEmpty())
            QCOMPARE(after->edit().number, int(ErrorNumber::NoCurrentRecord));
        for (int c = 0; c < fields.size(); ++c)
            QCOMPARE(after->field(names[c]).toString(), fields[c]);
    }

    void editWritesOnlyChangedColumns() {
        auto db = open();
        Error error;
        auto rs = db->openTableRecordset("t", "id", 2, &error);
        QVERIFY(rs);
        QVERIFY(!rs->edit());
        // Another program changes a column this record set does not touch.
        Peer peer(path_);
        QVERIFY(peer.exec("UPDATE t SET note = 'other' WHERE id = 2"));
        QVERIFY(!rs->collect("Name", QStringLiteral("DUE")));
        QVERIFY(!rs->update());
        QCOMPARE(peer.rows("SELECT id, name, note FROM t ORDER BY id"),
                 QStringList({"1|uno|<null>", "2|DUE|other", "3|tre|y"}));
        QCOMPARE(rs->field("name").toString(), QStringLiteral("DUE"));
        QCOMPARE(rs->field("note").toString(), QStringLiteral("other"));
        QCOMPARE(rs->update().number, int(ErrorNumber::UpdateWithoutEdit));
        QCOMPARE(rs->collect("name", 1).number, int(ErrorNumber::UpdateWithoutEdit));
    }

    void addNewAndDelete() {
        auto db = open();
        Error error;
        auto rs = db->openTableRecordset("t", "id", 3, &error);
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
        Peer peer(path_);
        QCOMPARE(peer.rows("SELECT id, name, note FROM t ORDER BY id"),
                 QStringList({"1|uno|<null>", "2|due|x", "4|quattro|n/a"}));
        QVERIFY(!rs->deleteCurrent());
        QVERIFY(rs->eof());
        QCOMPARE(rs->deleteCurrent().number, int(ErrorNumber::NoCurrentRecord));
        QCOMPARE(peer.rows("SELECT count(*) FROM t"), QStringList({"2"}));
    }

    void failedWriteRollsBack() {
        {
            Peer peer(path_);
            // The trigger writes first, then the constraint refuses the row: neither stays.
            QVERIFY(peer.exec("CREATE TABLE log (what TEXT)"));
            QVERIFY(peer.exec("CREATE TRIGGER t_log BEFORE UPDATE ON t BEGIN "
                              "INSERT INTO log VALUES (new.name); END"));
            QVERIFY(peer.exec("CREATE TABLE checked (v TEXT CHECK (length(v) < 4))"));
            QVERIFY(peer.exec("CREATE TRIGGER t_check AFTER UPDATE ON t BEGIN "
                              "INSERT INTO checked VALUES (new.name); END"));
        }
        auto db = open();
        Error error;
        auto rs = db->openTableRecordset("t", "id", 1, &error);
        QVERIFY(!rs->edit());
        QVERIFY(!rs->collect("name", QStringLiteral("troppo lungo")));
        const Error failed = rs->update();
        QCOMPARE(failed.number, int(ErrorNumber::EngineError));
        QVERIFY2(failed.description.contains("CHECK"), qPrintable(failed.description));
        Peer peer(path_);
        QCOMPARE(peer.rows("SELECT name FROM t WHERE id = 1"), QStringList({"uno"}));
        QCOMPARE(peer.rows("SELECT count(*) FROM log"), QStringList({"0"}));
        QCOMPARE(rs->field("name").toString(), QStringLiteral("uno"));
        // The values are still pending: a corrected value goes through.
        QVERIFY(!rs->collect("name", QStringLiteral("ok")));
        QVERIFY(!rs->update());
        QCOMPARE(peer.rows("SELECT name FROM t WHERE id = 1"), QStringList({"ok"}));
        QCOMPARE(peer.rows("SELECT what FROM log"), QStringList({"ok"}));
    }

    void writeInsideCallersTransaction() {
        auto db = open();
        QSqlQuery q(db->connection());
        QVERIFY(q.exec("BEGIN"));
        QVERIFY(q.exec("INSERT INTO t VALUES (9, 'nove', NULL)"));
        Error error;
        auto rs = db->openTableRecordset("t", "id", 1, &error);
        QVERIFY(!rs->edit());
        QVERIFY(!rs->collect("name", QStringLiteral("toolongvalue")));
        QVERIFY(!rs->update());
        QVERIFY(q.exec("ROLLBACK"));
        Peer peer(path_);
        QCOMPARE(peer.rows("SELECT name FROM t WHERE id IN (1, 9) ORDER BY id"),
                 QStringList({"uno"}));
    }

    void readOnlyDatabase() {
        auto db = open(true);
        QVERIFY(db);
        Error error;
        auto rs = db->openTableRecordset("t", "id", 1, &error);
        QVERIFY(!rs->edit());
        QVERIFY(!rs->collect("name", QStringLiteral("x")));
        const Error failed = rs->update();
        QCOMPARE(failed.number, int(ErrorNumber::DatabaseReadOnly));
        QVERIFY(failed.description.contains(path_));
        QCOMPARE(rs->deleteCurrent().number, int(ErrorNumber::DatabaseReadOnly));
    }

    void outlivesItsDatabase() {
        auto db = open();
        Error error;
        auto rs = db->openTableRecordset("t", "id", 1, &error);
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
