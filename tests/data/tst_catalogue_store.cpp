#include "data/catalogue_schema.h"
#include "data/catalogue_store.h"
#include "data/database.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

using namespace velario;
using namespace velario::data;

namespace {

// Another program working on the same catalogue file.
class OtherProgram {
public:
    explicit OtherProgram(const QString& path) {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name_);
        db.setDatabaseName(path);
        db.open();
    }
    ~OtherProgram() {
        QSqlDatabase::database(name_).close();
        QSqlDatabase::removeDatabase(name_);
    }
    bool exec(const QString& sql) { return QSqlQuery(QSqlDatabase::database(name_)).exec(sql); }
    QStringList rows() {
        QSqlQuery q(QSqlDatabase::database(name_));
        q.exec("SELECT CODICE, DESCRIZIONE, SQL, Database, Tipo_Database FROM SELEZIONI_SQL "
               "ORDER BY rowid");
        QStringList out;
        while (q.next()) {
            QStringList cells;
            for (int c = 0; c < 5; ++c)
                cells.append(q.value(c).isNull() ? "<null>" : q.value(c).toString());
            out.append(cells.join('|'));
        }
        return out;
    }

private:
    QString name_ = QStringLiteral("other-program");
};

CatalogueEntry entry(const QString& code, const QString& description = QStringLiteral("descr")) {
    return {code, description, QStringLiteral("SELECT 1"), QStringLiteral("/dati/x.db"),
            QStringLiteral("SQL")};
}

} // namespace

class TestCatalogueStore : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path_;
    std::unique_ptr<Database> db_;

private slots:
    void init() {
        db_.reset();
        path_ = dir_.filePath(QStringLiteral("%1.db").arg(QTest::currentTestFunction()));
        QFile::setPermissions(path_, QFile::ReadOwner | QFile::WriteOwner);
        QFile::remove(path_);
        QVERIFY(!createCatalogueFile(path_));
        Error error;
        db_ = Database::open(path_, false, false, QString(), &error);
        QVERIFY(db_);
    }
    void cleanup() {
        db_.reset();
        QFile::setPermissions(path_, QFile::ReadOwner | QFile::WriteOwner);
    }

    // The window's lookup text holds the code as typed, quotes and all.
    void statementText() {
        QCOMPARE(lookupStatementText(QStringLiteral("L'ANNO")),
                 QStringLiteral("select * from SELEZIONI_SQL where CODICE = 'L'ANNO' "));
    }

    void codesSavedAndFoundAgain_data() {
        QTest::addColumn<QString>("code");
        QTest::newRow("quote") << "L'ANNO";
        QTest::newRow("backslash") << "C:\\TEMP\\";
        QTest::newRow("percent and underscore") << "100%_X";
        QTest::newRow("injection") << "X' OR '1'='1";
        QTest::newRow("beyond Latin") << "ΑΘΗΝΑ查询";
    }
    void codesSavedAndFoundAgain() {
        QFETCH(QString, code);
        QVERIFY(!saveCatalogueEntry(db_.get(), entry("OTHER")));
        QVERIFY(!saveCatalogueEntry(db_.get(),
                                    entry(QStringLiteral("  ") + code + QStringLiteral("  "))));
        Error error;
        auto rs = openCatalogueLookup(db_.get(), code, &error);
        QVERIFY(rs);
        QCOMPARE(rs->recordCount(), 1);
        CatalogueEntry read;
        QVERIFY(!readCatalogueEntry(*rs, &read, true));
        QCOMPARE(read.code, code);
        QCOMPARE(read.database, QStringLiteral("/dati/x.db"));
        // A code that only looks like it (a pattern, a prefix) finds nothing.
        auto near = openCatalogueLookup(db_.get(), code.left(code.size() - 1), &error);
        QCOMPARE(near->recordCount(), 0);
        QVERIFY(near->eof());
        // Saving again changes the row instead of adding one.
        QVERIFY(!saveCatalogueEntry(db_.get(), entry(code, QStringLiteral("nuova"))));
        OtherProgram other(path_);
        QCOMPARE(other.rows(), QStringList({"OTHER|descr|SELECT 1|/dati/x.db|SQL",
                                            code + "|nuova|SELECT 1|/dati/x.db|SQL"}));
        bool found = false;
        QVERIFY(!deleteCatalogueEntry(db_.get(), code, &found));
        QVERIFY(found);
        QCOMPARE(other.rows(), QStringList({"OTHER|descr|SELECT 1|/dati/x.db|SQL"}));
        QVERIFY(!deleteCatalogueEntry(db_.get(), code, &found));
        QVERIFY(!found);
    }

    void fieldsReadTrimmedAndNullAsEmpty() {
        OtherProgram other(path_);
        QVERIFY(
            other.exec("INSERT INTO SELEZIONI_SQL VALUES ('K', '  spazi  ', NULL, NULL, ' A ')"));
        Error error;
        auto rs = openCatalogueLookup(db_.get(), "K", &error);
        CatalogueEntry read;
        QVERIFY(!readCatalogueEntry(*rs, &read, false));
        QCOMPARE(read.description, QStringLiteral("spazi"));
        QCOMPARE(read.sql, QString());
        QCOMPARE(read.databaseType, QString());
        QVERIFY(!readCatalogueEntry(*rs, &read, true));
        QCOMPARE(read.databaseType, QStringLiteral("A"));
    }

    void firstOfDuplicatesIsChanged() {
        OtherProgram other(path_);
        QVERIFY(other.exec("INSERT INTO SELEZIONI_SQL VALUES ('D', 'uno', '', '', ''), "
                           "('D', 'due', '', '', '')"));
        QVERIFY(!saveCatalogueEntry(db_.get(), entry("D", "cambiata")));
        QCOMPARE(other.rows(), QStringList({"D|cambiata|SELECT 1|/dati/x.db|SQL", "D|due|||"}));
    }

    // A lookup by code means what "CODICE = ?" means on the table, with an index on the code
    // or without: the column's declared type and collation decide equality, rows come in the
    // order of their rowids, and rows another program writes meanwhile are found.
    void lookupsAsTheEngineDoes_data() {
        QTest::addColumn<QString>("column"); // the declaration of CODICE
        QTest::addColumn<QStringList>("codes");
        QTest::addColumn<QStringList>("probes");
        const QStringList text{"A", "a", "A ", "B", "A", " A"};
        const QStringList numbers{"12", "012", "12.0", "abc", "1e1", "10"};
        for (const bool indexed : {false, true}) {
            const char* index = indexed ? ", indexed" : "";
            QTest::addRow("text%s", index) << "CODICE VARCHAR(15)" << text << text;
            QTest::addRow("no case%s", index)
                << "CODICE VARCHAR(15) COLLATE NOCASE" << text << text;
            QTest::addRow("blanks at the end ignored%s", index)
                << "CODICE TEXT COLLATE RTRIM" << text << text;
            QTest::addRow("numbers%s", index) << "CODICE NUMERIC" << numbers << numbers;
            QTest::addRow("no type%s", index) << "CODICE" << numbers << numbers;
        }
    }

    void lookupsAsTheEngineDoes() {
        QFETCH(QString, column);
        QFETCH(QStringList, codes);
        QFETCH(QStringList, probes);
        db_.reset();
        QVERIFY(QFile::remove(path_));
        const bool indexed = QString(QTest::currentDataTag()).endsWith("indexed");
        OtherProgram other(path_);
        QVERIFY(other.exec("CREATE TABLE SELEZIONI_SQL (" + column +
                           ", DESCRIZIONE TEXT, SQL TEXT, Database TEXT, Tipo_Database TEXT)"));
        QVERIFY(!indexed || other.exec("CREATE INDEX i ON SELEZIONI_SQL(CODICE)"));
        const auto insert = [&](const QString& code, const QString& description) {
            QSqlQuery q(QSqlDatabase::database("other-program"));
            q.prepare("INSERT INTO SELEZIONI_SQL (CODICE, DESCRIZIONE) VALUES (?, ?)");
            q.addBindValue(code);
            q.addBindValue(description);
            return q.exec();
        };
        for (qsizetype i = 0; i < codes.size(); ++i)
            QVERIFY(insert(codes[i], QString::number(i)));
        Error error;
        db_ = Database::open(path_, false, false, QString(), &error);
        QVERIFY(db_);
        const auto compare = [&] {
            for (const QString& probe : probes) {
                QSqlQuery q(QSqlDatabase::database("other-program"));
                q.prepare("SELECT DESCRIZIONE FROM SELEZIONI_SQL WHERE CODICE = ? ORDER BY rowid");
                q.addBindValue(probe);
                QStringList expected, found;
                QVERIFY(q.exec());
                while (q.next())
                    expected << q.value(0).toString();
                auto rs = openCatalogueLookup(db_.get(), probe, &error);
                QVERIFY2(rs, qPrintable(error.description));
                for (; !rs->eof(); rs->moveNext())
                    found << rs->field("DESCRIZIONE").toString();
                QVERIFY2(found == expected,
                         qPrintable(probe + ": " + found.join(',') + " / " + expected.join(',')));
            }
        };
        compare();
        QVERIFY(insert(probes.first(), "late"));
        QVERIFY(other.exec("DELETE FROM SELEZIONI_SQL WHERE DESCRIZIONE = '1'"));
        compare();
        // The file holds only what it held: no index of ours.
        QSqlQuery indexes("SELECT count(*) FROM sqlite_master WHERE type = 'index'",
                          QSqlDatabase::database("other-program"));
        QVERIFY(indexes.next());
        QCOMPARE(indexes.value(0).toInt(), indexed ? 1 : 0);
    }

    // Without an index on the code, a lookup still reads a handful of pages, not the table:
    // a report that looks up every entry takes time in proportion to the entries.
    void lookupWithoutIndexReadsFewPages() {
        db_.reset();
        {
            OtherProgram other(path_);
            QVERIFY(other.exec("DROP INDEX SELEZIONI_SQL_CODICE"));
            QVERIFY(other.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                               "WHERE i < 20000) INSERT INTO SELEZIONI_SQL SELECT printf('C%05d', "
                               "i), 'descrizione', printf('select %0100d', i), 'x', 'MDB' FROM n"));
        }
        Error error;
        db_ = Database::open(path_, false, false, QString(), &error);
        QVERIFY(db_);
        const QVariant handle = db_->connection().driver()->handle();
        sqlite3* engine = *static_cast<sqlite3* const*>(handle.constData());
        const auto pagesRead = [&] {
            int hits = 0, misses = 0, highest = 0;
            sqlite3_db_status(engine, SQLITE_DBSTATUS_CACHE_HIT, &hits, &highest, 1);
            sqlite3_db_status(engine, SQLITE_DBSTATUS_CACHE_MISS, &misses, &highest, 1);
            return hits + misses;
        };
        for (const char* code : {"C10000", "C00001", "C20000", "C10001"}) {
            pagesRead();
            auto rs = openCatalogueLookup(db_.get(), code, &error);
            const int pages = pagesRead();
            QVERIFY(rs);
            QCOMPARE(rs->recordCount(), 1);
            // The first lookup makes the copy it searches.
            if (qstrcmp(code, "C10000") != 0)
                QVERIFY2(pages < 20, qPrintable(QStringLiteral("%1 pages").arg(pages)));
        }
    }

    void fileMadeReadOnly() {
        QVERIFY(!saveCatalogueEntry(db_.get(), entry("A")));
        QVERIFY(QFile::setPermissions(path_, QFile::ReadOwner | QFile::ReadGroup));
        // The window's steps: the lookup opens, the write is refused at update.
        Error error;
        auto rs = openCatalogueLookup(db_.get(), "A", &error);
        QVERIFY(rs);
        QVERIFY(!rs->edit());
        QVERIFY(!collectCatalogueEntry(*rs, entry("A", "persa")));
        const Error refused = rs->update();
        QCOMPARE(refused.number, int(ErrorNumber::DatabaseReadOnly));
        QVERIFY(refused.description.contains(path_));
        QCOMPARE(saveCatalogueEntry(db_.get(), entry("B")).number,
                 int(ErrorNumber::DatabaseReadOnly));
        QVERIFY(QFile::setPermissions(path_, QFile::ReadOwner | QFile::WriteOwner));
        OtherProgram other(path_);
        QCOMPARE(other.rows(), QStringList({"A|descr|SELECT 1|/dati/x.db|SQL"}));
        // The same record set writes once the file can be written again.
        QVERIFY(!rs->update());
        QCOMPARE(other.rows(), QStringList({"A|persa|SELECT 1|/dati/x.db|SQL"}));
    }

    void fileOpenedReadOnlyFromTheStart() {
        QVERIFY(QFile::setPermissions(path_, QFile::ReadOwner));
        Error error;
        auto db = Database::open(path_, false, false, QString(), &error);
        QVERIFY(db);
        QCOMPARE(saveCatalogueEntry(db.get(), entry("A")).number,
                 int(ErrorNumber::DatabaseReadOnly));
    }

    void fileLockedByAnotherProgram() {
        QVERIFY(!saveCatalogueEntry(db_.get(), entry("A")));
        OtherProgram other(path_);
        QVERIFY(other.exec("BEGIN IMMEDIATE"));
        QVERIFY(other.exec("INSERT INTO SELEZIONI_SQL VALUES ('P', 'in sospeso', '', '', '')"));
        const Error locked = saveCatalogueEntry(db_.get(), entry("A", "bloccata"));
        QCOMPARE(locked.number, int(ErrorNumber::CouldNotLock));
        QVERIFY(!locked.description.isEmpty());
        QCOMPARE(saveCatalogueEntry(db_.get(), entry("N")).number, int(ErrorNumber::CouldNotLock));
        QVERIFY(other.exec("ROLLBACK"));
        QCOMPARE(other.rows(), QStringList({"A|descr|SELECT 1|/dati/x.db|SQL"}));
        QVERIFY(!saveCatalogueEntry(db_.get(), entry("A", "sbloccata")));
        QCOMPARE(other.rows(), QStringList({"A|sbloccata|SELECT 1|/dati/x.db|SQL"}));
    }
};

QTEST_GUILESS_MAIN(TestCatalogueStore)
#include "tst_catalogue_store.moc"
