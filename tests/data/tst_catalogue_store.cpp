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

// Runs SQL with VALUES on the catalogue file at PATH through a connection of its own, as
// another program would; the rows, each as its columns joined by '|', or "failed".
QStringList other(const QString& path, const QString& sql, const QVariantList& values = {}) {
    QStringList out{"failed"};
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "other-program");
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        q.prepare(sql);
        for (const QVariant& value : values)
            q.addBindValue(value);
        if (q.exec())
            out.clear();
        while (q.next()) {
            QStringList cells;
            for (int c = 0; c < q.record().count(); ++c)
                cells << (q.value(c).isNull() ? "<null>" : q.value(c).toString());
            out << cells.join('|');
        }
    }
    QSqlDatabase::removeDatabase("other-program");
    return out;
}

const QString kEntries = "SELECT CODICE, DESCRIZIONE, SQL, Database, Tipo_Database FROM "
                         "SELEZIONI_SQL ORDER BY rowid";

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

    void reopen() {
        Error error;
        db_ = Database::open(path_, false, false, QString(), &error);
        QVERIFY2(db_, qPrintable(error.description));
    }

private slots:
    void init() {
        db_.reset();
        path_ = dir_.filePath(QStringLiteral("%1.db").arg(QTest::currentTestFunction()));
        QFile::remove(path_);
        QVERIFY(!createCatalogueFile(path_));
        reopen();
    }

    // Found by the code exactly, neither as a pattern nor by a prefix; saved again, the row
    // changes; deleted, it is gone.
    void codesSavedAndFoundAgain_data() {
        QTest::addColumn<QString>("code");
        QTest::newRow("percent and underscore") << "100%_X";
        QTest::newRow("injection") << "X' OR '1'='1";
        QTest::newRow("beyond Latin") << "ΑΘΗΝΑ查询";
    }
    void codesSavedAndFoundAgain() {
        QFETCH(QString, code);
        QVERIFY(!saveCatalogueEntry(db_.get(), entry("OTHER")));
        QVERIFY(!saveCatalogueEntry(db_.get(), entry("  " + code + "  ")));
        Error error;
        auto rs = openCatalogueLookup(db_.get(), code, &error);
        QCOMPARE(rs->recordCount(), 1);
        CatalogueEntry read;
        QVERIFY(!readCatalogueEntry(*rs, &read, true));
        QCOMPARE(read.code, code);
        QCOMPARE(read.database, QStringLiteral("/dati/x.db"));
        auto near = openCatalogueLookup(db_.get(), code.chopped(1), &error);
        QCOMPARE(near->recordCount(), 0);
        QVERIFY(near->eof());
        QVERIFY(!saveCatalogueEntry(db_.get(), entry(code, QStringLiteral("nuova"))));
        QCOMPARE(other(path_, kEntries), QStringList({"OTHER|descr|SELECT 1|/dati/x.db|SQL",
                                                      code + "|nuova|SELECT 1|/dati/x.db|SQL"}));
        bool found = false;
        QVERIFY(!deleteCatalogueEntry(db_.get(), code, &found));
        QVERIFY(found);
        QCOMPARE(other(path_, kEntries), QStringList({"OTHER|descr|SELECT 1|/dati/x.db|SQL"}));
        QVERIFY(!deleteCatalogueEntry(db_.get(), code, &found));
        QVERIFY(!found);
    }

    // Fields are read trimmed, a Null as empty, the type only when asked; of two entries with
    // one code, a save changes the first.
    void fieldsAndDuplicates() {
        QVERIFY(other(path_,
                      "INSERT INTO SELEZIONI_SQL VALUES ('K', '  spazi  ', NULL, NULL, ' A '),"
                      " ('D', 'uno', '', '', ''), ('D', 'due', '', '', '')")
                    .isEmpty());
        Error error;
        auto rs = openCatalogueLookup(db_.get(), "K", &error);
        CatalogueEntry read;
        QVERIFY(!readCatalogueEntry(*rs, &read, false));
        QCOMPARE(read.description, QStringLiteral("spazi"));
        QCOMPARE(read.sql, QString());
        QCOMPARE(read.databaseType, QString());
        QVERIFY(!readCatalogueEntry(*rs, &read, true));
        QCOMPARE(read.databaseType, QStringLiteral("A"));
        QVERIFY(!saveCatalogueEntry(db_.get(), entry("D", "cambiata")));
        QCOMPARE(other(path_, kEntries).mid(1),
                 QStringList({"D|cambiata|SELECT 1|/dati/x.db|SQL", "D|due|||"}));
    }

    // A lookup by code means what "CODICE = ?" means on the table, with an index on the code
    // or without: the column's declared type and collation decide equality, rows come in the
    // order of their rowids, and rows another program writes meanwhile are found.
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
        db_.reset();
        QVERIFY(QFile::remove(path_));
        const bool indexed = QString(QTest::currentDataTag()).endsWith("indexed");
        QVERIFY(other(path_, "CREATE TABLE SELEZIONI_SQL (" + column +
                                 ", DESCRIZIONE TEXT, SQL TEXT, Database TEXT, Tipo_Database TEXT)")
                    .isEmpty());
        QVERIFY(!indexed || other(path_, "CREATE INDEX i ON SELEZIONI_SQL(CODICE)").isEmpty());
        const auto insert = [&](const QString& code, const QString& description) {
            return other(path_, "INSERT INTO SELEZIONI_SQL (CODICE, DESCRIZIONE) VALUES (?, ?)",
                         {code, description})
                .isEmpty();
        };
        for (qsizetype i = 0; i < codes.size(); ++i)
            QVERIFY(insert(codes[i], QString::number(i)));
        reopen();
        for (int pass = 0; pass < 2; ++pass) {
            for (const QString& probe : codes) {
                const QStringList expected = other(
                    path_, "SELECT DESCRIZIONE FROM SELEZIONI_SQL WHERE CODICE = ? ORDER BY rowid",
                    {probe});
                QStringList found;
                Error error;
                auto rs = openCatalogueLookup(db_.get(), probe, &error);
                QVERIFY2(rs, qPrintable(error.description));
                for (; !rs->eof(); rs->moveNext())
                    found << rs->field("DESCRIZIONE").toString();
                QVERIFY2(found == expected,
                         qPrintable(probe + ": " + found.join(',') + " / " + expected.join(',')));
            }
            QVERIFY(insert(codes.first(), "late"));
            QVERIFY(other(path_, "DELETE FROM SELEZIONI_SQL WHERE DESCRIZIONE = '1'").isEmpty());
        }
        // The file holds only what it held: no index of ours.
        QCOMPARE(other(path_, "SELECT count(*) FROM sqlite_master WHERE type = 'index'"),
                 QStringList({indexed ? "1" : "0"}));
    }

    // Without an index on the code, a lookup still reads a handful of pages, not the table:
    // a report that looks up every entry takes time in proportion to the entries.
    void lookupWithoutIndexReadsFewPages() {
        db_.reset();
        QVERIFY(other(path_, "DROP INDEX SELEZIONI_SQL_CODICE").isEmpty());
        QVERIFY(other(path_, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE "
                             "i < 20000) INSERT INTO SELEZIONI_SQL SELECT printf('C%05d', i), "
                             "'descrizione', printf('select %0100d', i), 'x', 'MDB' FROM n")
                    .isEmpty());
        reopen();
        const QVariant handle = db_->connection().driver()->handle();
        sqlite3* engine = *static_cast<sqlite3* const*>(handle.constData());
        const auto pagesRead = [&] {
            int hits = 0, misses = 0, highest = 0;
            sqlite3_db_status(engine, SQLITE_DBSTATUS_CACHE_HIT, &hits, &highest, 1);
            sqlite3_db_status(engine, SQLITE_DBSTATUS_CACHE_MISS, &misses, &highest, 1);
            return hits + misses;
        };
        // The first lookup makes the copy it searches.
        for (const char* code : {"C10000", "C00001", "C20000", "C10001"}) {
            pagesRead();
            Error error;
            auto rs = openCatalogueLookup(db_.get(), code, &error);
            const int pages = pagesRead();
            QCOMPARE(rs->recordCount(), 1);
            QVERIFY2(qstrcmp(code, "C10000") == 0 || pages < 20,
                     qPrintable(QString::number(pages)));
        }
    }
};

QTEST_GUILESS_MAIN(TestCatalogueStore)
#include "tst_catalogue_store.moc"
