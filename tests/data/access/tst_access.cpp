#include "data/access/access_copy.h"
#include "data/access/access_values.h"
#include "data/sqlite/database.h"
#include "support/harness.h"
#include "support/result_window_under_test.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>

#include <unistd.h>

// From data/access/access_catalog.h, whose mdbtools header needs GLib's include folders.
namespace velario::data::access {
QHash<QString, int> resultTypes(const std::string& blob);
}

using namespace velario;
using namespace velario::data;
using namespace Qt::StringLiterals;

namespace {

const QString kNull = QStringLiteral("<NULL>");

// TABLE as mdb-export prints it, header first: dates in ISO form, nulls as kNull. Fields end
// with the unit separator and rows with the record separator, which the test files never hold,
// so nothing needs quoting.
QList<QStringList> exportTable(const QString& file, const QString& table) {
    const QString iso = QStringLiteral("%Y-%m-%d %H:%M:%S");
    const test::CommandRun run =
        test::runCommand("mdb-export", {"-Q", "-d", "\x1f", "-R", "\x1e", "-D", iso, "-T", iso,
                                        "-0", kNull, "-b", "hex", file, table});
    QList<QStringList> rows;
    for (const QString& line : QString::fromUtf8(run.out).split(u'\x1e', Qt::SkipEmptyParts))
        rows << line.split(u'\x1f');
    return run.exitCode == 0 ? rows : QList<QStringList>();
}

// ASampleDatabase.accdb made an Access catalogue, no Access writer being at hand: its table
// "Asset Items" (its name in the system table's page 0x11, its definition on page 0x2a)
// becomes SELEZIONI_SQL and its text COLUMNS (Asset No or the 16 and 17 characters of Asset
// Category, then Description, Model, Owner and Comments, all Null) take the catalogue's names
// in turn. A new name takes the old one's bytes as Jet 4 compressed text (FF FE, a byte a
// character) padded with zero bytes, each of which toggles the compression and stands for no
// character. UNREADABLE gives Model a type no reader knows (0x15, at the type byte of its
// column definition).
const QStringList kAssetColumns{"Asset No", "Description", "Model", "Owner", "Comments"};
const QStringList kLongCodeColumns = QStringList{"Asset Category"} + kAssetColumns.mid(1);

QByteArray accessCatalogue(QByteArray bytes, const QStringList& columns, bool unreadable = false) {
    const auto rename = [&](int page, const QString& from, const QByteArray& to) {
        const QByteArray old(reinterpret_cast<const char*>(from.utf16()), from.size() * 2);
        const qsizetype at = bytes.indexOf(old, page * 4096);
        const QByteArray name = ("\xff\xfe" + to).leftJustified(old.size(), '\0');
        QVERIFY2(at > 0 && at < (page + 1) * 4096 && name.size() == old.size(), qPrintable(from));
        bytes.replace(at, old.size(), name);
    };
    rename(0x11, "Asset Items", "SELEZIONI_SQL");
    const QByteArrayList names{"CODICE", "DESCRIZIONE", "SQL", "Database", "Tipo_Database"};
    for (qsizetype i = 0; i < columns.size(); ++i)
        rename(0x2a, columns[i], names[i]);
    constexpr qsizetype modelType = 0x2a096;
    if (unreadable && bytes.at(modelType) == 0x0a)
        bytes[modelType] = 0x15;
    return bytes;
}

} // namespace

class TestAccess : public QObject {
    Q_OBJECT

    QString fixture(const QString& name) const { return folder_ + QLatin1Char('/') + name; }
    QStringList cachedFiles() const {
        QStringList files;
        for (QDirIterator it(cache_.path(), QDir::Files, QDirIterator::Subdirectories);
             it.hasNext();)
            files << it.next();
        return files;
    }

    QTemporaryDir cache_;
    QTemporaryDir work_;
    QString folder_;

private slots:
    // A query column's type from its properties: names and values each end exactly where
    // their block does, as Access writes them. After the mark, blocks (length, kind) of names
    // ("ResultType") and of values (for the column "Importo", the first name's: 7).
    void resultTypeOfAQueryColumn() {
        const QByteArray blob = QByteArray::fromHex(
            "4d523200 1c000000 8000 1400 52006500730075006c0074005400790070006500 "
            "23000000 0000 14000000 0e00 49006d0070006f00720074006f00 0900 0000 0000 0100 07");
        QCOMPARE(data::access::resultTypes(blob.toStdString()),
                 (QHash<QString, int>{{"importo", 7}}));
    }
    // Text as stored: UTF-16, or after an FF FE mark single bytes, each zero byte switching
    // to UTF-16 pairs and back; an odd byte at the end is no character.
    void storedText_data() {
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<QString>("text");
        QTest::newRow("UTF-16") << QByteArray("41003b04112042") << u"A\u043B\u2011"_s;
        QTest::newRow("compressed, a UTF-16 stretch, compressed")
            << QByteArray("fffe41003b04112000 42") << u"A\u043B\u2011B"_s;
        QTest::newRow("UTF-16 stretch cut short") << QByteArray("fffe003b") << u""_s;
    }
    void storedText() {
        QFETCH(QByteArray, hex);
        const QByteArray bytes = QByteArray::fromHex(hex);
        QFETCH(QString, text);
        std::u16string out;
        data::access::unicodeText(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                  size_t(bytes.size()), &out);
        QCOMPARE(QString::fromStdU16String(out), text);
    }
    void initTestCase() {
        folder_ = QDir::cleanPath(qEnvironmentVariable("VELARIO_SOURCE_DIR") +
                                  QStringLiteral("/tests/data/access"));
        QVERIFY2(QFileInfo(fixture(QStringLiteral("DateTestDatabase.mdb"))).isFile(),
                 qPrintable(QStringLiteral("no Access test files in %1").arg(folder_)));
        QVERIFY2(!QStandardPaths::findExecutable("mdb-export").isEmpty(), "no mdb-export");
        QVERIFY(cache_.isValid() && work_.isValid());
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache_.path()));
    }

    void copyMatchesExport_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("table");
        QTest::newRow("jet4 mdb") << QString("DateTestDatabase.mdb") << "DateTest";
        QTest::newRow("ace accdb") << QString("ASampleDatabase.accdb") << "Asset Items";
    }

    void copyMatchesExport() {
        QFETCH(QString, file);
        QFETCH(QString, table);
        Error error;
        const auto db = Database::open(fixture(file), false, &error);
        QVERIFY2(db, qPrintable(error.description));
        QCOMPARE(db->kind(), DatabaseKind::Access);
        QCOMPARE(db->path(), fixture(file));
        const QString copy = accessCopyFor(fixture(file), &error);
        // The copy, through a connection of the test's own, for the rest of the run.
        QSqlDatabase engine = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), copy);
        engine.setDatabaseName(copy);
        QVERIFY2(engine.open(), qPrintable(copy));
        QCOMPARE(engine.tables(), QStringList{table});
        const QList<QStringList> expected = exportTable(fixture(file), table);
        QVERIFY(expected.size() > 1);
        QSqlQuery query(engine);
        QVERIFY(query.exec(
            QStringLiteral("SELECT name, type FROM pragma_table_info('%1')").arg(table)));
        QStringList names, types;
        while (query.next())
            names << query.value(0).toString(), types << query.value(1).toString();
        QCOMPARE(names, expected[0]);
        QVERIFY(query.exec(QStringLiteral("SELECT * FROM \"%1\" ORDER BY rowid").arg(table)));
        qsizetype r = 1;
        for (; query.next(); ++r)
            for (int c = 0; c < types.size(); ++c) {
                const QString want = expected.value(r).value(c);
                const QVariant got = query.value(c);
                const QString& type = types[c];
                // The export shows an empty text as null too, and prints no date outside its range
                // (statements has those).
                const bool same =
                    want == kNull ? got.isNull() || got.toString().isEmpty()
                    : type == u"DATETIME" && want.startsWith(u"1900-01-00") ? true
                    : type.startsWith(u"NUMERIC") || type == u"DOUBLE"
                        ? got.typeId() != QMetaType::QString && got.toDouble() == want.toDouble()
                    : type == u"FLOAT" ? qFuzzyCompare(float(got.toDouble()), want.toFloat())
                    : type == u"BLOB"  ? got.toByteArray().toHex().toUpper() == want.toUpper()
                                       : got.toString() == want;
                QVERIFY2(same, qPrintable(names[c] + ": " + got.toString() + " / " + want));
            }
        QCOMPARE(r, expected.size());
    }

    // Statements on the copies and on SQLite files, through the engine and the cells the grid
    // receives, counted before any row is read: exact values, or the refusal of what cannot be read
    // or would write. The file stays byte for byte as it was, and nothing appears beside it
    // (journal, log, attached or vacuumed copies).
    void statements_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QStringList>("cells"); // every cell, row by row
        QTest::addColumn<QStringList>("named"); // what the error says; empty: the statement runs
        const auto row = [](const QString& tag, const QString& path, const QString& sql,
                            const QStringList& cells, const QStringList& named = {}) {
            QTest::newRow(qPrintable(tag)) << path << sql << cells << named;
        };
        const QString dates = fixture(QStringLiteral("DateTestDatabase.mdb"));
        const QString sample = fixture(QStringLiteral("ASampleDatabase.accdb"));
        const QString calculated = fixture(QStringLiteral("CalculatedFields.accdb"));
        const QString extended = fixture(QStringLiteral("ExtendedDateTime.accdb"));
        const QString linked = fixture(QStringLiteral("LinkedTable.accdb"));
        const QString large = fixture(QStringLiteral("LargeNumber.accdb"));

        // Dates mdb-export cannot print, in time order; a memo's line break kept.
        row("dates beyond the export's range", dates,
            "SELECT DateTimeCol, DateCol, TimeCol FROM DateTest ORDER BY DateTimeCol",
            QStringLiteral(
                "0632-01-01|0633-01-01|0634-01-01|1898-01-01|1899-01-01|1900-01-01|%1|%1|%1|"
                "%1|%1|%1|%1|%1|%1|9999-01-01|9999-01-01|9999-01-01")
                .arg("2021-12-02")
                .replace(u'|', QStringLiteral(" 00:00:00|"))
                .append(QStringLiteral(" 00:00:00"))
                .split(u'|'));
        // SOURCE with the bytes WAS at AT made NOW, written as TARGET.
        const auto changed = [](const QString& source, const QString& target, qint64 at,
                                const QByteArray& was, const QByteArray& now) {
            QByteArray bytes = test::fileBytes(source);
            QCOMPARE(bytes.mid(at, was.size()), was);
            QVERIFY(test::writeBytes(target, bytes.replace(at, was.size(), now)));
        };
        // A 16-bit integer column: the table's first column entry (IDCol, at byte 63 of its
        // definition's page) typed Integer (3) instead of Long Integer (4).
        const QString integer = work_.filePath(QStringLiteral("integer.mdb"));
        changed(dates, integer, 18 * 4096 + 63, "\x04", "\x03");
        row("16-bit integer", integer, "SELECT IDCol FROM DateTest ORDER BY 1",
            {"1", "2", "3", "4", "5", "6"});
        row("memo line break", dates,
            "SELECT LongTextCol FROM DateTest WHERE instr(LongTextCol, char(10)) > 0",
            {"New line\r\nin field"});
        row("currency and date conditions", sample,
            "SELECT \"Asset No\" FROM \"Asset Items\" WHERE (Cost > 2000 OR Cost = 1895.5) AND "
            "\"Tax Scale\" = 'A' AND Acquired >= '1999-03-01' AND Acquired < '1999-04-01' ORDER BY "
            "1",
            QStringLiteral("30066 30067 30071 30072 30073 30074 30075 30076 30077").split(u' '));
        row("null stays null", sample,
            "SELECT (SELECT count(Comments) FROM \"Asset Items\"), \"Asset No\" "
            "FROM \"Asset Items\" WHERE \"Tax Scale\" IS NULL",
            {"0", "30118"});
        row("sum of currency to the cent", sample,
            "SELECT printf('%.4f', sum(Cost)) FROM \"Asset Items\" WHERE Warranty >= 12",
            {"81945.0000"});
        row("large number", large, "SELECT Numeric FROM \"Table\"", {"42"});
        row("calculated", calculated,
            "SELECT LastFirst, LastFirstLen, MonthlySalary, IsRich, AllNames, WeeklySalary, "
            "SalaryTest, BoolTest, DecimalTest, FloatTest FROM Table1 ORDER BY ID LIMIT 2",
            QStringLiteral(
                "Wayne, Bruce|12|83333.3333|1|Wayne, Bruce=Wayne, Bruce|19230.7692307692|"
                "1000000|1|50.325|2583.2092|Simpson, Bart|13|-0.0833|0|Simpson, "
                "Bart=Simpson, Bart|-0.0192307692307692|-1|1|-36.2222|0.0035889593")
                .split(u'|'));
        row("extended date/time", extended, "SELECT DateExt FROM Table1 ORDER BY ID LIMIT 9",
            {"2020-06-17 00:00:00.0000000", "2021-06-14 00:00:00.0000000",
             "2021-06-14 12:45:00.0000000", "2021-06-14 01:45:00.0000000", kNull,
             "2021-06-14 22:45:12.3456789", "1765-06-14 12:45:00.0000000",
             "0100-06-14 12:45:00.1234567", "1265-06-14 12:45:00.0000000"});
        row("calculated date/time", extended,
            "SELECT DateNormalCalc FROM Table1 ORDER BY ID LIMIT 3",
            {"2020-06-17 00:00:00", "2021-06-14 00:00:00", "2021-06-14 12:45:00"});

        row("create", dates, "CREATE TABLE Extra (a)", {}, {"readonly"});
        row("password", fixture(QStringLiteral("WithPassword.accdb")), "SELECT 1", {},
            {"protetto da password o cifrato", "WithPassword.accdb"});
        const QStringList where{"Table2", "Table1", "Z:\\jackcess_test\\linkeeTest.accdb"};
        row("linked table", linked, "SELECT * FROM Table2", {}, where);
        row("local table beside a linked one", linked, "SELECT Field1 FROM Table1", {"foo"});
        // The catalog's column "Database" renamed: the link is still named, its file unknown.
        const QString nameless = work_.filePath(QStringLiteral("link-without-file.accdb"));
        row("linked table, catalog without its file names", nameless, "SELECT * FROM Table2", {},
            {"'Table2'", "'Table1' di un altro file"});
        // The type code of the column "Numeric" in its table's definition, 0x13, made 0x15.
        const QString unknown = work_.filePath(QStringLiteral("unknown-type.accdb"));
        row("unknown column type", unknown, "SELECT * FROM \"Table\"", {},
            {"'Numeric'", "'Table'", "21"});
        row("other columns beside it", unknown, "SELECT ID FROM \"Table\"", {"1"});
        changed(linked, nameless, 0x2212, QByteArray("D\0a\0t\0a\0b\0a\0s\0e\0", 16),
                QByteArray("D\0a\0t\0a\0b\0a\0s\0x\0", 16));
        changed(large, unknown, 0x52070, "\x13", "\x15");

        const QString values = work_.filePath("values.db"), wal = work_.filePath("wal.db");
        QVERIFY(test::writeSqlite(
            values, {"CREATE TABLE v (i INTEGER, r REAL, t TEXT, b BLOB, n)",
                     "INSERT INTO v VALUES (-42, 1.5, 'àè€😀', x'00FF10ab', NULL), "
                     "(9223372036854775807, 100.0, '', x'', 7), "
                     "(-9223372036854775807 - 1, 0.1, NULL, NULL, 'testo')",
                     "CREATE TABLE seq (n INTEGER)", "INSERT INTO seq VALUES (1), (2), (3)"}));
        QVERIFY(test::writeSqlite(wal, {"PRAGMA journal_mode = WAL", "CREATE TABLE seq (n INTEGER)",
                                        "INSERT INTO seq VALUES (1), (2), (3)"}));
        row("sqlite values", values, "SELECT i, r, t, b AS \"blob è\", n FROM v ORDER BY rowid",
            QStringLiteral("-42|1.5|àè€😀|00FF10AB|%1|9223372036854775807|100.0|||7|"
                           "-9223372036854775808|0.1|%1|%1|testo")
                .arg(kNull)
                .split(u'|'));
        row("sqlite pragma, not wrappable", values, "PRAGMA user_version", {"0"});
        row("sqlite comment after semicolon", values, "SELECT n FROM seq LIMIT 2; -- fine\n",
            {"1", "2"});
        row("wal: sqlite read", wal, "SELECT n FROM seq", {"1", "2", "3"});
        QList<std::pair<QString, QString>> refused{
            {"ATTACH 'altro.db' AS a", "unable to open"},
            {"SELECT 1; DELETE FROM seq", "più di un'istruzione"},
            {"SELECT 1; garbage", "syntax error"},
            {"SELECT * FROM nothere", "nothere"},
            {"   ", ""}};
        for (const QString& sql :
             QStringLiteral("DELETE FROM seq|REPLACE INTO seq VALUES (0)|DROP TABLE seq|"
                            "ALTER TABLE seq ADD COLUMN m|CREATE TEMP TABLE x (a)|VACUUM|"
                            "VACUUM INTO 'copia.db'|PRAGMA user_version = 7|"
                            "PRAGMA journal_mode = DELETE")
                 .split(u'|'))
            refused.append({sql, QStringLiteral("attempt to write a readonly database")});
        for (const QString& path : {values, wal})
            for (const auto& [sql, reason] : refused)
                row((path == wal ? "wal: " : "sqlite: ") + sql, path, sql, {}, {reason});
    }

    void statements() {
        QFETCH(QString, path);
        QFETCH(QString, sql);
        QFETCH(QStringList, cells);
        QFETCH(QStringList, named);
        const auto snapshot = [&] {
            return QDir(QFileInfo(path).path()).entryList(QDir::Files).join(' ').toUtf8() +
                   test::fileBytes(path).toHex();
        };
        const QByteArray before = snapshot();
        Error error;
        std::unique_ptr<ResultSource> result;
        const auto db = Database::open(path, true, &error);
        if (db) {
            QVERIFY(db->isReadOnly());
            result = db->execute(sql, &error);
        }
        if (named.isEmpty()) {
            QVERIFY2(result, qPrintable(error.description));
            const qint64 counted = result->countRows(&error);
            for (int c = 0; c < result->columnCount(); ++c)
                QVERIFY2(sql.contains(result->columnName(c)) && !result->columnName(c).isEmpty(),
                         qPrintable(result->columnName(c)));
            test::TextCells got;
            while (result->fetch(2, got) > 0) {
            }
            QVERIFY2(!result->error() && result->atEnd(), qPrintable(result->error().description));
            QCOMPARE(got.cells, cells);
            QCOMPARE(counted, qint64(got.rows.size()));
            QCOMPARE(result->countRows(&error), qint64(got.rows.size()));
        } else {
            QVERIFY(!result);
            QVERIFY2(error.number != ErrorNumber::UnrecognizedFormat,
                     qPrintable(error.description));
            for (const QString& part : named)
                QVERIFY2(error.description.contains(part), qPrintable(error.description));
            QVERIFY(!db || db->execute("SELECT 1", &error));
        }
        QCOMPARE(snapshot(), before);
    }

    // Dates at the ends of the range Access takes, and one step beyond: a date/time as a day
    // count (the fraction counting forward from midnight even before 1899), an extended
    // date/time as its digits (days since 0001-01-01, seconds, ten-millionths).
    void datesAtTheirLimits_data() {
        QTest::addColumn<double>("days");       // a date/time, or NaN
        QTest::addColumn<QByteArray>("digits"); // else an extended date/time
        QTest::addColumn<QString>("iso");       // empty: not a date
        const double none = qQNaN();
        const auto extended = [](qint64 days, qint64 seconds, qint64 fraction) {
            return QString::asprintf("%019lld:%012lld%07lld:7", days, seconds, fraction)
                       .toLatin1() +
                   '\0';
        };
        QTest::newRow("first day") << -657434.0 << QByteArray() << "0100-01-01 00:00:00";
        QTest::newRow("before the first day") << -657435.0 << QByteArray() << "";
        QTest::newRow("last second") << 2958465.999988 << QByteArray() << "9999-12-31 23:59:59";
        QTest::newRow("after the last day") << 2958466.0 << QByteArray() << "";
        QTest::newRow("before 1899") << -1.25 << QByteArray() << "1899-12-29 06:00:00";
        QTest::newRow("rounded to midnight")
            << 0.999999999 << QByteArray() << "1899-12-31 00:00:00";
        QTest::newRow("not a number") << none << QByteArray() << "";
        QTest::newRow("extended, first")
            << none << extended(0, 0, 0) << "0001-01-01 00:00:00.0000000";
        QTest::newRow("extended, last")
            << none << extended(3652058, 86399, 9999999) << "9999-12-31 23:59:59.9999999";
        QTest::newRow("extended, after the last day") << none << extended(3652059, 0, 0) << "";
        QTest::newRow("extended, a whole day of seconds") << none << extended(0, 86400, 0) << "";
        QTest::newRow("extended, short") << none << extended(0, 0, 0).chopped(1) << "";
        QTest::newRow("extended, no colon") << none << extended(0, 0, 0).replace(':', '0') << "";
        QTest::newRow("extended, a letter") << none << extended(0, 0, 0).replace(5, 1, "a") << "";
    }

    void datesAtTheirLimits() {
        QFETCH(double, days);
        QFETCH(QByteArray, digits);
        QFETCH(QString, iso);
        char dateTime[24] = {}, extended[40] = {};
        const bool read =
            digits.isEmpty()
                ? access::isoDateTime(days, dateTime)
                : access::isoExtendedDateTime(reinterpret_cast<const unsigned char*>(digits.data()),
                                              size_t(digits.size()), extended);
        QCOMPARE(read ? QString::fromLatin1(digits.isEmpty() ? dateTime : extended) : QString(),
                 iso);
    }

    // A copy is made once for each state of its Access file: the same file gives the same copy,
    // untouched; a file changed since gives a new copy and the old one goes, another file's copy
    // stays; a copy stopped midway leaves nothing behind.
    void copyIsCached() {
        const QString first = work_.filePath("cached-1.mdb"),
                      second = work_.filePath("cached-2.mdb");
        for (const QString& path : {first, second})
            QVERIFY(QFile::copy(fixture("DateTestDatabase.mdb"), path));
        const QStringList before = cachedFiles();
        Error error;
        const QString copy = accessCopyFor(first, &error);
        const QString other = accessCopyFor(second, &error);
        QVERIFY2(!copy.isEmpty() && !other.isEmpty() && copy != other,
                 qPrintable(error.description));
        const QDateTime written = QFileInfo(copy).lastModified();
        QTest::qWait(20);
        QCOMPARE(accessCopyFor(first, &error), copy);
        QCOMPARE(QFileInfo(copy).lastModified(), written);

        const auto touch = [&](int seconds) {
            QFile source(first);
            return source.open(QIODevice::ReadWrite) &&
                   source.setFileTime(written.addSecs(seconds), QFileDevice::FileModificationTime);
        };
        QVERIFY(touch(60));
        const QString renewed = accessCopyFor(first, &error);
        QVERIFY(!renewed.isEmpty() && renewed != copy);
        QVERIFY(!QFileInfo::exists(copy));
        QCOMPARE(cachedFiles().size(), before.size() + 2);

        const std::atomic<bool> cancel{true};
        QVERIFY(touch(120));
        QVERIFY(accessCopyFor(first, &error, &cancel).isEmpty());
        QCOMPARE(error.number, int(ErrorNumber::OperationCancelled));
        QCOMPARE(cachedFiles().size(), before.size() + 2);
    }

    // Without a cache folder of the user's, the copy goes to a folder of the user's own in the
    // temporary area; one that someone else made there is not used.
    void cacheInTheTemporaryArea_data() {
        QTest::addColumn<bool>("theirs");
        QTest::newRow("made by the program") << false;
        QTest::newRow("made by another user") << true;
    }

    void cacheInTheTemporaryArea() {
        QFETCH(bool, theirs);
        const QString notAFolder = work_.filePath(QStringLiteral("cache-file"));
        const QString temporary = work_.filePath(QStringLiteral("tmp") + QTest::currentDataTag());
        const QString folder = temporary + QStringLiteral("/velario-access-%1").arg(getuid());
        QVERIFY(test::writeBytes(notAFolder, "x") && QDir().mkpath(temporary));
        // Root hands a folder to nobody; anyone else finds one of root's behind a link.
        if (theirs)
            QVERIFY(getuid() == 0 ? QDir().mkpath(folder) &&
                                        ::chown(QFile::encodeName(folder), 65534, 65534) == 0
                                  : QFile::link(QStringLiteral("/"), folder));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(notAFolder));
        qputenv("TMPDIR", QFile::encodeName(temporary));
        const auto restore = qScopeGuard([this] {
            qputenv("XDG_CACHE_HOME", QFile::encodeName(cache_.path()));
            qunsetenv("TMPDIR");
        });
        Error error;
        const QString copy = accessCopyFor(fixture(QStringLiteral("DateTestDatabase.mdb")), &error);
        QVERIFY2(theirs ? copy.isEmpty() && error : copy.startsWith(folder + u'/'),
                 qPrintable(copy + error.description));
    }

    void damagedFilesAreRefused_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("keep"); // bytes kept from the file (0: every cut at a page)
        QTest::newRow("accdb cut before its table") << "ASampleDatabase.accdb" << 20 * 4096;
        QTest::newRow("mdb cut at every page") << "DateTestDatabase.mdb" << 0;
        QTest::newRow("mdb with a table's page map lost") << "DamagedPageMap.mdb" << (1 << 30);
    }

    void damagedFilesAreRefused() {
        QFETCH(QString, file);
        QFETCH(int, keep);
        const QByteArray original = test::fileBytes(fixture(file));
        const QString path =
            work_.filePath(QString(QTest::currentDataTag()).replace(' ', '_') + ".mdb");
        const QStringList before = cachedFiles();
        for (qsizetype size = keep ? keep : 4096; keep ? size == keep : size < original.size();
             size += 4096) {
            QVERIFY(test::writeBytes(path, original.left(size)));
            Error error;
            QVERIFY2(!Database::open(path, true, &error), qPrintable(QString::number(size)));
            QCOMPARE(error.number, int(ErrorNumber::UnrecognizedFormat));
            QVERIFY2(error.description.contains(path), qPrintable(error.description));
        }
        QCOMPARE(cachedFiles(), before);
    }

    // velario-newcat --from: the five fields as mdb-export reads them from the untouched file,
    // codes longer than the code field kept whole and named once each; or a refusal that leaves
    // the folder as it was.
    void catalogueFromAccess_data() {
        QTest::addColumn<QByteArray>("source"); // empty: no file
        QTest::addColumn<bool>("targetExists");
        QTest::addColumn<QString>("said"); // all of it after the path when copied
        const QByteArray sample = test::fileBytes(fixture("ASampleDatabase.accdb"));
        const QByteArray catalogue = accessCatalogue(sample, kAssetColumns);
        QTest::newRow("copied") << catalogue << false << "'.\n";
        QTest::newRow("long codes")
            << accessCatalogue(sample, kLongCodeColumns) << false
            << "'.\nCodici più lunghi dei 15 caratteri del campo Codice (la finestra li mostra "
               "interi; non si possono digitare):\n  Computer Hardware\n  Office Furniture\n"
               "  Computer Software\n  General Equipment\n";
        QTest::newRow("target exists") << catalogue << true << "esiste già";
        QTest::newRow("no table") << sample << false << "non contiene la tabella SELEZIONI_SQL";
        QTest::newRow("missing column") << accessCatalogue(sample, kAssetColumns.mid(0, 4)) << false
                                        << "non ha le colonne Tipo_Database";
        QTest::newRow("unreadable column")
            << accessCatalogue(sample, kAssetColumns, true) << false << "'SQL'";
        QTest::newRow("not Access")
            << QByteArray("SQLite format 3") << false << "non è un file Access";
        QTest::newRow("no source") << QByteArray() << false << "Impossibile trovare il file";
    }

    void catalogueFromAccess() {
        QFETCH(QByteArray, source);
        QFETCH(bool, targetExists);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QString old = dir.filePath("VECCHIO.accdb");
        const QString target = dir.filePath("NUOVO.db");
        QVERIFY(source.isEmpty() || test::writeBytes(old, source));
        QVERIFY(!targetExists || test::writeBytes(target, "x"));
        const QStringList before = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        const test::CommandRun newcat =
            test::runCommand(qEnvironmentVariable("VELARIO_NEWCAT"), {"--from", old, target});
        const QString output = newcat.out + newcat.err;
        if (!said.startsWith("'.")) {
            QVERIFY2(output.contains(said), qPrintable(output));
            QCOMPARE(newcat.exitCode, 1);
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), before);
            QVERIFY(!targetExists || test::fileBytes(target) == "x");
            return;
        }
        QCOMPARE(output, "65 selezioni copiate in '" + target + said);
        QCOMPARE(newcat.exitCode, 0);
        const QList<QStringList> exported =
            exportTable(fixture("ASampleDatabase.accdb"), "Asset Items");
        QStringList expected;
        const QStringList& columns = said.contains("Codici") ? kLongCodeColumns : kAssetColumns;
        for (const QStringList& row : exported.mid(1)) {
            QStringList fields;
            for (const QString& column : columns)
                fields << row.value(exported[0].indexOf(column));
            expected << fields.join('|');
        }
        QStringList copied = test::catalogueRows(target);
        copied.sort();
        expected.sort();
        QCOMPARE(copied, expected);
    }
};

QTEST_GUILESS_MAIN(TestAccess)
#include "tst_access.moc"
