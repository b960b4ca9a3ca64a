#include "data/access_copy.h"
#include "data/database.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <functional>

using namespace velario;
using namespace velario::data;

namespace {

const QString kNull = QStringLiteral("<NULL>");

// One table as mdb-export prints it: dates in ISO form, nulls as kNull.
struct Export {
    QStringList header;
    QList<QList<QVariant>> rows; // a null QVariant for a null cell

    QVariant cell(int row, const QString& column) const {
        return rows[row][header.indexOf(column)];
    }
};

QString mdbExport() {
    return QStandardPaths::findExecutable(QStringLiteral("mdb-export"));
}

// Fields end with the unit separator and rows with the record separator, neither of which
// the test files hold, so the export needs no quoting.
Export exportTable(const QString& file, const QString& table) {
    const QString iso = QStringLiteral("%Y-%m-%d %H:%M:%S");
    QProcess process;
    process.start(mdbExport(), {QStringLiteral("-Q"), QStringLiteral("-d"), QStringLiteral("\x1f"),
                                QStringLiteral("-R"), QStringLiteral("\x1e"), QStringLiteral("-D"),
                                iso, QStringLiteral("-T"), iso, QStringLiteral("-0"), kNull,
                                QStringLiteral("-b"), QStringLiteral("hex"), file, table});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    Export result;
    const QString text = QString::fromUtf8(process.readAllStandardOutput());
    for (const QString& line : text.split(u'\x1e', Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(u'\x1f');
        if (result.header.isEmpty()) {
            result.header = fields;
            continue;
        }
        QList<QVariant> row;
        for (const QString& field : fields)
            row << (field == kNull ? QVariant() : QVariant(field));
        result.rows << row;
    }
    return result;
}

QStringList columnOf(QSqlQuery& query) {
    QStringList values;
    while (query.next())
        values << query.value(0).toString();
    return values;
}

// What a query on "Asset Items" must give, worked out from the exported rows.
using Expectation = std::function<QStringList(const Export&)>;

double cost(const Export& e, int row) {
    return e.cell(row, QStringLiteral("Cost")).toDouble();
}
QString text(const Export& e, int row, const char* column) {
    return e.cell(row, QString::fromLatin1(column)).toString();
}

// The cells of a result as the grid receives them.
struct Cells : RowSink {
    QStringList texts;
    void beginRow() override {}
    void cell(const char* utf8, qsizetype length) override {
        texts << QString::fromUtf8(utf8, length);
    }
    void nullCell() override { texts << kNull; }
    void endRow() override {}
};

} // namespace

Q_DECLARE_METATYPE(Expectation)

class TestAccess : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void copyMatchesExport_data();
    void copyMatchesExport();
    void datesBeyondExportRangeAndMemoLineBreak();
    void queries_data();
    void queries();
    void writesAreRefused_data();
    void writesAreRefused();
    void copyIsCached();
    void storedValues_data();
    void storedValues();
    void unreadableContentIsNamed_data();
    void unreadableContentIsNamed();
    void damagedFilesAreRefused_data();
    void damagedFilesAreRefused();
    void everyCutAtAPageIsRefused();

private:
    QString fixture(const QString& name) const { return folder_ + QLatin1Char('/') + name; }
    QStringList cachedFiles() const;

    QTemporaryDir cache_;
    QTemporaryDir work_;
    QString folder_;
};

void TestAccess::initTestCase() {
    folder_ = QDir::cleanPath(qEnvironmentVariable("VELARIO_SOURCE_DIR") +
                              QStringLiteral("/../shared/testdata/access"));
    QVERIFY2(
        QFileInfo(fixture(QStringLiteral("DateTestDatabase.mdb"))).isFile(),
        qPrintable(QStringLiteral("Cartella dei file Access di prova assente: %1").arg(folder_)));
    QVERIFY2(!mdbExport().isEmpty(), "mdb-export non disponibile");
    QVERIFY(cache_.isValid() && work_.isValid());
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache_.path()));
}

QStringList TestAccess::cachedFiles() const {
    QStringList files;
    QDirIterator it(cache_.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}

void TestAccess::copyMatchesExport_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("columns");
    QTest::newRow("jet4 mdb") << "DateTestDatabase.mdb"
                              << "DateTest" << 6 << 6;
    QTest::newRow("ace accdb") << "ASampleDatabase.accdb"
                               << "Asset Items" << 65 << 13;
}

void TestAccess::copyMatchesExport() {
    QFETCH(QString, file);
    QFETCH(QString, table);
    QFETCH(int, rows);
    QFETCH(int, columns);
    Error error;
    const auto db = Database::open(fixture(file), false, false, {}, &error);
    QVERIFY2(db, qPrintable(error.description));
    QCOMPARE(db->kind(), DatabaseKind::Access);
    QVERIFY(db->isReadOnly());
    QCOMPARE(db->path(), fixture(file));
    QCOMPARE(db->connection().tables(), QStringList{table});

    QSqlQuery query(db->connection());
    QVERIFY(query.exec(QStringLiteral("SELECT * FROM \"%1\" ORDER BY rowid").arg(table)));
    QCOMPARE(query.record().count(), columns);
    QList<QSqlRecord> copied;
    while (query.next())
        copied << query.record();
    QCOMPARE(copied.size(), rows);

    const Export expected = exportTable(fixture(file), table);
    QCOMPARE(expected.rows.size(), rows);
    QSqlQuery types(db->connection());
    QVERIFY(
        types.exec(QStringLiteral("SELECT name, type FROM pragma_table_info('%1')").arg(table)));
    for (int c = 0; c < columns; ++c) {
        QVERIFY(types.next());
        const QString type = types.value(1).toString();
        QCOMPARE(types.value(0).toString(), expected.header.value(c));
        for (int r = 0; r < rows; ++r) {
            const QVariant want = expected.rows[r].value(c);
            const QVariant got = copied[r].value(c);
            const QString where = QStringLiteral("riga %1, colonna %2: %3 invece di %4")
                                      .arg(r)
                                      .arg(expected.header[c], got.toString(), want.toString());
            if (want.isNull()) {
                // The export shows an empty text as null too.
                QVERIFY2(got.isNull() || got.toString().isEmpty(), qPrintable(where));
            } else if (type == u"DATETIME" && want.toString().startsWith(u"1900-01-00")) {
                // Outside the dates mdb-export can print: see
                // datesBeyondExportRangeAndMemoLineBreak.
                QVERIFY2(QDateTime::fromString(got.toString(), u"yyyy-MM-dd HH:mm:ss").isValid(),
                         qPrintable(where));
            } else if (type.startsWith(u"NUMERIC") || type == u"DOUBLE") {
                QVERIFY2(got.typeId() != QMetaType::QString && got.toDouble() == want.toDouble(),
                         qPrintable(where));
            } else if (type == u"FLOAT") {
                QVERIFY2(qFuzzyCompare(float(got.toDouble()), want.toFloat()), qPrintable(where));
            } else if (type == u"BLOB") {
                QVERIFY2(got.toByteArray().toHex().toUpper() == want.toString().toUpper(),
                         qPrintable(where));
            } else {
                QVERIFY2(got.toString() == want.toString(), qPrintable(where));
            }
        }
    }
}

void TestAccess::datesBeyondExportRangeAndMemoLineBreak() {
    const auto db =
        Database::open(fixture(QStringLiteral("DateTestDatabase.mdb")), false, true, {}, nullptr);
    QVERIFY(db);
    QSqlQuery query(db->connection());
    QVERIFY(query.exec(QStringLiteral(
        "SELECT LongTextCol, DateTimeCol, DateCol, TimeCol FROM DateTest ORDER BY DateTimeCol")));
    QList<QDateTime> order;
    QHash<QString, QList<QDateTime>> byLabel;
    while (query.next()) {
        for (int c = 1; c <= 3; ++c) {
            const auto when =
                QDateTime::fromString(query.value(c).toString(), u"yyyy-MM-dd HH:mm:ss");
            QVERIFY2(when.isValid(), qPrintable(query.value(c).toString()));
            // The labels speak of the first two columns; the third holds other dates.
            if (c < 3)
                byLabel[query.value(0).toString()] << when;
            if (c == 1)
                order << when;
        }
    }
    QVERIFY(std::is_sorted(order.begin(), order.end()));
    for (const QDateTime& when : byLabel.value(QStringLiteral("Year 9999")))
        QCOMPARE(when.date().year(), 9999);
    for (const QDateTime& when : byLabel.value(QStringLiteral("Pre-1900 years")))
        QVERIFY(when.date().year() < 1900);
    for (const QDateTime& when : byLabel.value(QStringLiteral("Pre-1000 years")))
        QVERIFY(when.date().year() < 1000);
    QCOMPARE(byLabel.value(QStringLiteral("Pre-1000 years")).size(), 2);

    QVERIFY(query.exec(QStringLiteral("SELECT LongTextCol FROM DateTest "
                                      "WHERE instr(LongTextCol, char(10)) > 0")));
    QCOMPARE(columnOf(query), QStringList{QStringLiteral("New line\r\nin field")});
}

void TestAccess::queries_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<Expectation>("expected");
    const auto select = [](std::function<bool(const Export&, int)> keep) {
        return [keep](const Export& e) {
            QStringList result;
            for (int r = 0; r < e.rows.size(); ++r) {
                if (keep(e, r))
                    result << text(e, r, "Asset No");
            }
            result.sort();
            return result;
        };
    };
    QTest::newRow("where (a or b) and c on currency")
        << "SELECT \"Asset No\" FROM \"Asset Items\" WHERE (Cost > 2000 OR Cost = 1895.5) "
           "AND \"Tax Scale\" = 'A' ORDER BY 1"
        << Expectation(select([](const Export& e, int r) {
               return (cost(e, r) > 2000 || cost(e, r) == 1895.5) &&
                      text(e, r, "Tax Scale") == u"A";
           }));
    QTest::newRow("date range")
        << "SELECT \"Asset No\" FROM \"Asset Items\" "
           "WHERE Acquired >= '1999-03-01' AND Acquired < '1999-04-01' ORDER BY 1"
        << Expectation(select([](const Export& e, int r) {
               const QString when = text(e, r, "Acquired");
               return when >= u"1999-03-01" && when < u"1999-04-01";
           }));
    QTest::newRow("null stays null")
        << "SELECT \"Asset No\" FROM \"Asset Items\" WHERE \"Tax Scale\" IS NULL "
           "OR Comments IS NULL ORDER BY 1"
        << Expectation(select([](const Export& e, int r) {
               return e.cell(r, QStringLiteral("Tax Scale")).isNull() ||
                      e.cell(r, QStringLiteral("Comments")).isNull();
           }));
    QTest::newRow("sum of currency to the cent")
        << "SELECT printf('%.4f', sum(Cost)) FROM \"Asset Items\" WHERE Warranty >= 12"
        << Expectation([](const Export& e) {
               qint64 units = 0; // ten-thousandths, exact
               for (int r = 0; r < e.rows.size(); ++r) {
                   if (text(e, r, "Warranty").toInt() >= 12)
                       units += qRound64(cost(e, r) * 10000);
               }
               return QStringList{QString::number(double(units) / 10000, 'f', 4)};
           });
}

void TestAccess::queries() {
    QFETCH(QString, sql);
    QFETCH(Expectation, expected);
    const QString file = fixture(QStringLiteral("ASampleDatabase.accdb"));
    const Export rows = exportTable(file, QStringLiteral("Asset Items"));
    QVERIFY(!rows.rows.isEmpty());
    const QStringList want = expected(rows);
    QVERIFY(!want.isEmpty());
    const auto db = Database::open(file, false, true, {}, nullptr);
    QVERIFY(db);
    QSqlQuery query(db->connection());
    QVERIFY2(query.exec(sql), qPrintable(query.lastError().text()));
    QCOMPARE(columnOf(query), want);
}

void TestAccess::writesAreRefused_data() {
    QTest::addColumn<QString>("sql");
    QTest::newRow("insert") << "INSERT INTO DateTest (IDCol) VALUES (99)";
    QTest::newRow("create") << "CREATE TABLE Extra (a)";
}

void TestAccess::writesAreRefused() {
    QFETCH(QString, sql);
    const auto db =
        Database::open(fixture(QStringLiteral("DateTestDatabase.mdb")), false, false, {}, nullptr);
    QVERIFY(db && db->isReadOnly());
    QSqlQuery query(db->connection());
    QVERIFY(!query.exec(sql));
    QVERIFY(query.lastError().text().contains(u"readonly"));
    QVERIFY(query.exec(QStringLiteral("SELECT count(*) FROM DateTest WHERE IDCol = 99")));
    QVERIFY(query.next() && query.value(0).toInt() == 0);
}

void TestAccess::copyIsCached() {
    const QString source = work_.filePath(QStringLiteral("cached.mdb"));
    const QString other = work_.filePath(QStringLiteral("other.accdb"));
    QVERIFY(QFile::copy(fixture(QStringLiteral("DateTestDatabase.mdb")), source));
    QVERIFY(QFile::copy(fixture(QStringLiteral("ASampleDatabase.accdb")), other));
    Error error;
    const QString first = accessCopyFor(source, &error);
    const QString otherCopy = accessCopyFor(other, &error);
    QVERIFY2(!first.isEmpty() && !otherCopy.isEmpty(), qPrintable(error.description));
    QVERIFY(first.startsWith(cache_.path()));

    // Unchanged source: the same copy, not rewritten.
    const QDateTime longAgo(QDate(2001, 1, 1), QTime(12, 0));
    QFile copy(first);
    QVERIFY(copy.open(QIODevice::ReadWrite) &&
            copy.setFileTime(longAgo, QFileDevice::FileModificationTime));
    copy.close();
    QCOMPARE(accessCopyFor(source, &error), first);
    QCOMPARE(QFileInfo(first).lastModified(), longAgo);

    // Touched source: a new copy, the stale one gone, another file's copy kept.
    QFile touched(source);
    QVERIFY(touched.open(QIODevice::ReadWrite) &&
            touched.setFileTime(QDateTime::currentDateTime().addSecs(60),
                                QFileDevice::FileModificationTime));
    touched.close();
    const QString second = accessCopyFor(source, &error);
    QVERIFY(!second.isEmpty() && second != first);
    QVERIFY(QFileInfo(second).lastModified() > longAgo);
    QVERIFY(!QFileInfo::exists(first));
    QVERIFY(QFileInfo::exists(otherCopy));
    QCOMPARE(accessCopyFor(other, &error), otherCopy);

    // A copy stopped while it is written is not kept.
    const QString stopped = work_.filePath(QStringLiteral("stopped.accdb"));
    QVERIFY(QFile::copy(fixture(QStringLiteral("ASampleDatabase.accdb")), stopped));
    const QStringList before = cachedFiles();
    const std::atomic<bool> stop{true};
    QVERIFY(accessCopyFor(stopped, &error, &stop).isEmpty());
    QCOMPARE(error.number, int(ErrorNumber::OperationCancelled));
    QCOMPARE(cachedFiles(), before);
}

void TestAccess::storedValues_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QStringList>("values"); // of the rows in ID order, from the first
    QTest::newRow("large number") << "LargeNumber.accdb"
                                  << "Table"
                                  << "Numeric" << QStringList{"42"};
    const auto calculated = [](const char* column, QStringList values) {
        QTest::addRow("calculated %s", column) << "CalculatedFields.accdb"
                                               << "Table1" << column << values;
    };
    calculated("LastFirst", {"Wayne, Bruce", "Simpson, Bart"});
    calculated("LastFirstLen", {"12", "13"});
    calculated("MonthlySalary", {"83333.3333", "-0.0833"});
    calculated("IsRich", {"1", "0"});
    calculated("AllNames", {"Wayne, Bruce=Wayne, Bruce", "Simpson, Bart=Simpson, Bart"});
    calculated("WeeklySalary", {"19230.7692307692", "-0.0192307692307692"});
    calculated("SalaryTest", {"1000000", "-1"});
    calculated("BoolTest", {"1", "1"});
    calculated("DecimalTest", {"50.325", "-36.2222"});
    calculated("FloatTest", {"2583.2092", "0.0035889593"});
    QTest::newRow("extended date/time") << "ExtendedDateTime.accdb"
                                        << "Table1"
                                        << "DateExt"
                                        << QStringList{"2020-06-17 00:00:00.0000000",
                                                       "2021-06-14 00:00:00.0000000",
                                                       "2021-06-14 12:45:00.0000000",
                                                       "2021-06-14 01:45:00.0000000",
                                                       kNull,
                                                       "2021-06-14 22:45:12.3456789",
                                                       "1765-06-14 12:45:00.0000000",
                                                       "0100-06-14 12:45:00.1234567",
                                                       "1265-06-14 12:45:00.0000000"};
    QTest::newRow("calculated date/time")
        << "ExtendedDateTime.accdb"
        << "Table1"
        << "DateNormalCalc"
        << QStringList{"2020-06-17 00:00:00", "2021-06-14 00:00:00", "2021-06-14 12:45:00"};
}

void TestAccess::storedValues() {
    QFETCH(QString, file);
    QFETCH(QString, table);
    QFETCH(QString, column);
    QFETCH(QStringList, values);
    Error error;
    const auto db = Database::open(fixture(file), false, true, {}, &error);
    QVERIFY2(db, qPrintable(error.description));
    const auto result = db->execute(QStringLiteral("SELECT \"%1\" FROM \"%2\" ORDER BY ID LIMIT %3")
                                        .arg(column, table)
                                        .arg(values.size()),
                                    &error);
    QVERIFY2(result, qPrintable(error.description));
    Cells cells;
    result->fetch(int(values.size()) + 1, cells);
    QVERIFY2(!result->error(), qPrintable(result->error().description));
    QCOMPARE(cells.texts, values);
}

void TestAccess::unreadableContentIsNamed_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<qint64>("patchAt"); // a byte of the file changed to patchTo, or -1
    QTest::addColumn<int>("patchTo");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("named"); // what the error says; none: the statement works
    QTest::newRow("password") << "WithPassword.accdb" << -1LL << 0 << "SELECT 1"
                              << QStringList{"protetto da password o cifrato",
                                             "WithPassword.accdb"};
    const QStringList linked{"Table2", "Table1", "Z:\\jackcess_test\\linkeeTest.accdb"};
    QTest::newRow("linked table") << "LinkedTable.accdb" << -1LL << 0 << "SELECT * FROM Table2"
                                  << linked;
    QTest::newRow("linked table counted")
        << "LinkedTable.accdb" << -1LL << 0 << "SELECT count(*) FROM Table2" << linked;
    QTest::newRow("local table beside a linked one")
        << "LinkedTable.accdb" << -1LL << 0 << "SELECT Field1 FROM Table1" << QStringList{};
    // The type code of the column "Numeric" in its table's definition: 0x13 becomes 0x15.
    constexpr qint64 numericType = 0x52070;
    QTest::newRow("unknown column type")
        << "LargeNumber.accdb" << numericType << 0x15 << "SELECT * FROM \"Table\""
        << QStringList{"'Numeric'", "'Table'", "21"};
    QTest::newRow("other columns beside it") << "LargeNumber.accdb" << numericType << 0x15
                                             << "SELECT ID FROM \"Table\"" << QStringList{};
}

void TestAccess::unreadableContentIsNamed() {
    QFETCH(QString, file);
    QFETCH(qint64, patchAt);
    QFETCH(int, patchTo);
    QFETCH(QString, sql);
    QFETCH(QStringList, named);
    QString path = fixture(file);
    if (patchAt >= 0) {
        QFile original(path);
        QVERIFY(original.open(QIODevice::ReadOnly));
        QByteArray bytes = original.readAll();
        QCOMPARE(int(uchar(bytes.at(patchAt))), 0x13);
        bytes[patchAt] = char(patchTo);
        path = work_.filePath(QStringLiteral("patched-") + file);
        QFile patched(path);
        QVERIFY(patched.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                patched.write(bytes) == bytes.size());
    }
    Error error;
    std::unique_ptr<ResultSource> result;
    if (const auto db = Database::open(path, false, true, {}, &error))
        result = db->execute(sql, &error);
    if (named.isEmpty()) {
        QVERIFY2(result, qPrintable(error.description));
        return;
    }
    QVERIFY(!result);
    QVERIFY2(error.number != ErrorNumber::UnrecognizedFormat, qPrintable(error.description));
    for (const QString& part : named)
        QVERIFY2(error.description.contains(part), qPrintable(error.description));
}

void TestAccess::damagedFilesAreRefused_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("keep");   // bytes kept from the file, then ...
    QTest::addColumn<int>("random"); // ... bytes of noise up to this total length
    QTest::newRow("mdb cut inside a page") << "DateTestDatabase.mdb" << 50 * 4096 + 100 << 0;
    QTest::newRow("accdb cut in half") << "ASampleDatabase.accdb" << 66 * 4096 << 0;
    QTest::newRow("accdb cut before its table") << "ASampleDatabase.accdb" << 20 * 4096 << 0;
    QTest::newRow("jet header, random rest") << "DateTestDatabase.mdb" << 32 << 67 * 4096;
    QTest::newRow("ace header, random rest") << "ASampleDatabase.accdb" << 32 << 133 * 4096;
    QTest::newRow("header page, random rest") << "ASampleDatabase.accdb" << 4096 << 133 * 4096;
}

void TestAccess::damagedFilesAreRefused() {
    QFETCH(QString, file);
    QFETCH(int, keep);
    QFETCH(int, random);
    QFile original(fixture(file));
    QVERIFY(original.open(QIODevice::ReadOnly));
    QByteArray bytes = original.read(keep);
    QRandomGenerator noise(20240611);
    while (bytes.size() < random)
        bytes.append(char(noise.bounded(256)));
    const QString damaged = work_.filePath(
        QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'_') + QStringLiteral(".mdb"));
    QFile out(damaged);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
    out.close();

    const QStringList before = cachedFiles();
    Error error;
    QVERIFY(!Database::open(damaged, false, true, {}, &error));
    QVERIFY2(error.number == ErrorNumber::UnrecognizedFormat ||
                 error.number == ErrorNumber::EngineError,
             qPrintable(QString::number(error.number)));
    QVERIFY2(error.description.contains(damaged), qPrintable(error.description));
    QCOMPARE(cachedFiles(), before);
}

void TestAccess::everyCutAtAPageIsRefused() {
    QFile original(fixture(QStringLiteral("DateTestDatabase.mdb")));
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray bytes = original.readAll();
    const QString cut = work_.filePath(QStringLiteral("cut.mdb"));
    for (qsizetype pages = 1; pages * 4096 < bytes.size(); ++pages) {
        QFile out(cut);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(out.write(bytes.left(pages * 4096)) == pages * 4096);
        out.close();
        Error error;
        QVERIFY2(accessCopyFor(cut, &error).isEmpty(), qPrintable(QString::number(pages)));
        QCOMPARE(error.number, int(ErrorNumber::UnrecognizedFormat));
    }
}

QTEST_GUILESS_MAIN(TestAccess)
#include "tst_access.moc"
