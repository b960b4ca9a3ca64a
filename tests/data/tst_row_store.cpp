#include "data/row_store.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

#include <algorithm>
#include <numeric>
#include <optional>
#include <vector>

using namespace velario::data;

namespace {

using Row = std::vector<std::optional<QString>>;

constexpr int kColumns = 3;

// Rows with Nulls, empty cells, plain ASCII, text beyond ASCII, a tab and, every so often, a
// cell longer than several blocks.
std::vector<Row> sampleRows(int count, size_t blockSize) {
    std::vector<Row> rows;
    for (int r = 0; r < count; ++r) {
        Row row;
        for (int c = 0; c < kColumns; ++c) {
            if ((r + c) % 11 == 0)
                row.emplace_back(std::nullopt);
            else if ((r + c) % 7 == 0)
                row.emplace_back(QString(""));
            else if (r % 50 == 3 && c == 1)
                row.emplace_back(QString(qsizetype(3 * blockSize + r), QChar(u'a' + r % 26)));
            else if (r % 3 == 0)
                row.emplace_back(QStringLiteral("riga %1 colonna %2 è €").arg(r).arg(c));
            else if (r % 5 == 1 && c == 2)
                row.emplace_back(QStringLiteral("riga\t%1").arg(r));
            else
                row.emplace_back(QStringLiteral("riga %1 colonna %2 ~").arg(r).arg(c));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void append(RowStore& store, const Row& row) {
    store.beginRow();
    for (const std::optional<QString>& cell : row) {
        if (cell) {
            const QByteArray utf8 = cell->toUtf8();
            store.cell(utf8.constData(), utf8.size());
        } else {
            store.nullCell();
        }
    }
    store.endRow();
}

using Cell = std::pair<qint64, int>;

// Every cell of the rows given, in turn.
std::vector<Cell> rowCells(const std::vector<qint64>& order) {
    std::vector<Cell> cells;
    for (const qint64 r : order)
        for (int c = 0; c < kColumns; ++c)
            cells.emplace_back(r, c);
    return cells;
}

// Empty when the cells read as expected in the order given, else the first difference.
QString firstMismatch(const RowStore& store, const std::vector<Row>& rows,
                      const std::vector<Cell>& cells) {
    for (const auto& [r, c] : cells) {
        // The whole row at once, as reports read it.
        QByteArrayView views[kColumns];
        bool printable = false;
        static const QRegularExpression printableAscii(QStringLiteral("^[ -~]*$"));
        bool plain = true;
        for (const std::optional<QString>& cell : rows[size_t(r)])
            plain = plain && (!cell || printableAscii.match(*cell).hasMatch());
        if (!store.cells(r, kColumns, views, &printable) || printable != plain ||
            QString::fromUtf8(views[c]) != rows[size_t(r)][size_t(c)].value_or(QString()))
            return QStringLiteral("row %1 read whole: printable %2, column %3 %4")
                .arg(r)
                .arg(printable)
                .arg(c)
                .arg(QString::fromUtf8(views[c]).left(40));
        const std::optional<QString>& want = rows[size_t(r)][size_t(c)];
        const std::optional<QByteArrayView> got = store.cell(r, c);
        if (want.has_value() != got.has_value() || (want && QString::fromUtf8(*got) != *want) ||
            (want && store.text(r, c) != *want))
            return QStringLiteral("row %1 column %2: %3 instead of %4")
                .arg(r)
                .arg(c)
                .arg(got ? QString::fromUtf8(*got).left(40) : QStringLiteral("<null>"))
                .arg(want ? want->left(40) : QStringLiteral("<null>"));
    }
    return {};
}

enum class Fault { None, NoTempFolder, FileSizeLimit };

} // namespace

Q_DECLARE_METATYPE(Fault)

class TestRowStore : public QObject {
    Q_OBJECT
private slots:
    void rowsReadBack_data();
    void rowsReadBack();
};

void TestRowStore::rowsReadBack_data() {
    QTest::addColumn<int>("blockSize");
    QTest::addColumn<int>("budget");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<bool>("spills");

    QTest::newRow("within the budget") << 256 << (1 << 20) << Fault::None << false;
    QTest::newRow("no budget: every block but the one in use") << 256 << 0 << Fault::None << true;
    QTest::newRow("a few blocks in memory") << 256 << 1024 << Fault::None << true;
    QTest::newRow("every row longer than a block") << 16 << 64 << Fault::None << true;
    QTest::newRow("temporary folder missing") << 256 << 0 << Fault::NoTempFolder << false;
    QTest::newRow("file stops growing part way") << 256 << 0 << Fault::FileSizeLimit << true;
}

void TestRowStore::rowsReadBack() {
    QFETCH(int, blockSize);
    QFETCH(int, budget);
    QFETCH(Fault, fault);
    QFETCH(bool, spills);

    const QByteArray oldTmp = qgetenv("TMPDIR");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    rlimit oldLimit{};
    getrlimit(RLIMIT_FSIZE, &oldLimit);
    auto oldSignal = SIG_DFL;
    if (fault == Fault::NoTempFolder) {
        qputenv("TMPDIR", dir.filePath(QStringLiteral("missing")).toLocal8Bit());
    } else if (fault == Fault::FileSizeLimit) {
        // Writing past the limit fails with EFBIG instead of ending the process.
        oldSignal = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = oldLimit;
        limit.rlim_cur = 20 * rlim_t(blockSize);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    const auto restore = qScopeGuard([&] {
        qputenv("TMPDIR", oldTmp);
        if (fault == Fault::FileSizeLimit) {
            setrlimit(RLIMIT_FSIZE, &oldLimit);
            std::signal(SIGXFSZ, oldSignal);
        }
    });

    RowStore store(0, {size_t(blockSize), size_t(budget)});
    // Twice, so that a store reset after spilling starts its file afresh.
    for (int round = 0; round < 2; ++round) {
        std::vector<Row> rows = sampleRows(400 + round * 37, size_t(blockSize));
        store.reset(kColumns);
        for (size_t i = 0; i < rows.size(); ++i) {
            append(store, rows[i]);
            // Read while rows still come, as a grid does: the rows stored between two
            // reads of one row may send its block to the file.
            if (i >= 50 && i % 20 == 0)
                QCOMPARE(firstMismatch(store, rows, {{qint64(i) - 40, 0}}), QString());
            if (i >= 50 && i % 20 == 10)
                QCOMPARE(firstMismatch(store, rows, {{qint64(i) - 50, kColumns - 1}}), QString());
        }
        QCOMPARE(store.rowCount(), qint64(rows.size()));
        QCOMPARE(store.bytesSpilled() > 0, spills);
        if (fault == Fault::FileSizeLimit)
            QVERIFY(store.bytesSpilled() <= 20 * blockSize);

        std::vector<qint64> order(rows.size());
        std::iota(order.begin(), order.end(), 0);
        QCOMPARE(firstMismatch(store, rows, rowCells(order)), QString());
        QRandomGenerator random(7 + round);
        std::vector<qint64> jumps(2000);
        for (qint64& r : jumps)
            r = qint64(random.bounded(quint32(rows.size())));
        QCOMPARE(firstMismatch(store, rows, rowCells(jumps)), QString());
        // Single cells: a later column of a row after another row's cell, an earlier one
        // of the same row.
        std::vector<Cell> scattered;
        for (size_t i = 0; i < 3000; ++i) {
            const qint64 r = jumps[(i / 3) % jumps.size()];
            scattered.emplace_back(r, int(random.bounded(quint32(kColumns))));
        }
        QCOMPARE(firstMismatch(store, rows, scattered), QString());

        // The first rows went to the file first; row 3 holds a long cell; the last row is
        // in the block being filled. Row 0 is edited twice, the second time from the copy
        // the first edit appended.
        const struct {
            qint64 row;
            int column;
            QString text;
        } edits[] = {{0, 0, QStringLiteral("modificata")},
                     {0, 2, QString()},
                     {3, 0, QStringLiteral("ß")},
                     {3, 1, QStringLiteral("corta")},
                     {qint64(rows.size()) - 1, 1, QStringLiteral("ultima")},
                     {200, 1, QString(3 * blockSize, QLatin1Char('z'))}};
        for (const auto& edit : edits) {
            QCOMPARE(firstMismatch(store, rows, {{edit.row, 0}}), QString());
            QVERIFY(store.replace(edit.row, edit.column, edit.text));
            rows[size_t(edit.row)][size_t(edit.column)] = edit.text;
            QCOMPARE(firstMismatch(store, rows, {{edit.row, edit.column}}), QString());
        }
        QCOMPARE(store.rowCount(), qint64(rows.size()));
        std::reverse(order.begin(), order.end());
        QCOMPARE(firstMismatch(store, rows, rowCells(order)), QString());
        QVERIFY(!store.readError());
    }
}

QTEST_GUILESS_MAIN(TestRowStore)
#include "tst_row_store.moc"
