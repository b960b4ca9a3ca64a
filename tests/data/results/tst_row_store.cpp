#include "data/results/row_store.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

#include <numeric>
#include <optional>
#include <vector>

using namespace velario::data;

namespace {

using Row = std::vector<std::optional<QString>>;
constexpr int kColumns = 3;

// Rows with Nulls, empty cells, plain ASCII, text beyond ASCII, a tab and, every so often, a
// cell longer than several blocks.
std::vector<Row> sampleRows(int count, int blockSize) {
    std::vector<Row> rows{size_t(count), Row(kColumns)};
    for (int r = 0; r < count; ++r)
        for (int c = 0; c < kColumns; ++c)
            if ((r + c) % 11 != 0)
                rows[size_t(r)][size_t(c)] =
                    (r + c) % 7 == 0        ? QString("")
                    : r % 50 == 3 && c == 1 ? QString(3 * blockSize + r, QChar(u'a' + r % 26))
                    : r % 3 == 0 ? QStringLiteral("riga %1 colonna %2 è €").arg(r).arg(c)
                    : r % 5 == 1 && c == 2 ? QStringLiteral("riga\t%1").arg(r)
                                           : QStringLiteral("riga %1 colonna %2 ~").arg(r).arg(c);
    return rows;
}

// Empty when cell (R, C) reads as expected, one cell alone and its row whole, else what
// was read.
QString mismatch(const RowStore& store, const std::vector<Row>& rows, qint64 r, int c) {
    static const QRegularExpression printableAscii(QStringLiteral("^[ -~]*$"));
    const Row& row = rows[size_t(r)];
    bool plain = true;
    for (const std::optional<QString>& cell : row)
        plain = plain && (!cell || printableAscii.match(*cell).hasMatch());
    QByteArrayView views[kColumns];
    bool printable = false;
    const std::optional<QString>& want = row[size_t(c)];
    // The whole row first, as reports read it.
    const bool whole = store.cells(r, kColumns, views, &printable) && printable == plain &&
                       QString::fromUtf8(views[c]) == want.value_or(QString());
    const std::optional<QByteArrayView> got = store.cell(r, c);
    if (!whole || want.has_value() != got.has_value() ||
        (want && (QString::fromUtf8(*got) != *want || store.text(r, c) != *want)))
        return QStringLiteral("row %1 column %2").arg(r).arg(c);
    return {};
}

// Every cell of the rows in ORDER.
QString mismatchInRows(const RowStore& store, const std::vector<Row>& rows,
                       const std::vector<qint64>& order) {
    for (const qint64 r : order)
        for (int c = 0; c < kColumns; ++c)
            if (const QString m = mismatch(store, rows, r, c); !m.isEmpty())
                return m;
    return {};
}

enum class Fault { None, NoTempFolder, FileSizeLimit };

} // namespace

Q_DECLARE_METATYPE(Fault)

class TestRowStore : public QObject {
    Q_OBJECT
private slots:
    // Normal work says nothing on standard error.
    void init() { QTest::failOnWarning(QRegularExpression(".")); }

    void rowsReadBack_data() {
        QTest::addColumn<int>("blockSize");
        QTest::addColumn<int>("budget");
        QTest::addColumn<Fault>("fault");
        QTest::newRow("no budget: every block but the one in use") << 256 << 0 << Fault::None;
        QTest::newRow("every row longer than a block") << 16 << 64 << Fault::None;
        QTest::newRow("temporary folder missing") << 256 << 0 << Fault::NoTempFolder;
        QTest::newRow("file stops growing halfway") << 256 << 0 << Fault::FileSizeLimit;
    }

    void rowsReadBack() {
        QFETCH(int, blockSize);
        QFETCH(int, budget);
        QFETCH(Fault, fault);
        const QByteArray oldTmp = qgetenv("TMPDIR");
        QTemporaryDir dir;
        rlimit oldLimit{};
        getrlimit(RLIMIT_FSIZE, &oldLimit);
        // Writing past the limit fails with EFBIG instead of ending the process.
        std::signal(SIGXFSZ, SIG_IGN);
        const auto restore = qScopeGuard([&] {
            qputenv("TMPDIR", oldTmp);
            setrlimit(RLIMIT_FSIZE, &oldLimit);
        });
        if (fault == Fault::NoTempFolder)
            qputenv("TMPDIR", dir.filePath(QStringLiteral("missing")).toLocal8Bit());
        const rlimit limit{20 * rlim_t(blockSize), oldLimit.rlim_max};
        QVERIFY(fault != Fault::FileSizeLimit || setrlimit(RLIMIT_FSIZE, &limit) == 0);

        RowStore store(0, {size_t(blockSize), size_t(budget)});
        // Twice, so that a store reset after spilling starts its file afresh.
        for (int round = 0; round < 2; ++round) {
            std::vector<Row> rows = sampleRows(400 + round * 37, blockSize);
            store.reset(kColumns);
            for (size_t i = 0; i < rows.size(); ++i) {
                store.beginRow();
                for (const std::optional<QString>& cell : rows[i]) {
                    const QByteArray utf8 = cell.value_or(QString()).toUtf8();
                    cell ? store.cell(utf8.constData(), utf8.size()) : store.nullCell();
                }
                store.endRow();
                // Read while rows still come, as a grid does: the rows stored between two
                // reads of one row may send its block to the file.
                if (i >= 50 && i % 10 == 0)
                    QCOMPARE(
                        mismatch(store, rows, qint64(i) - 40 - i % 20, i % 20 ? kColumns - 1 : 0),
                        QString());
            }
            QCOMPARE(store.rowCount(), qint64(rows.size()));

            std::vector<qint64> order(rows.size()), jumps(2000);
            std::iota(order.begin(), order.end(), 0);
            QCOMPARE(mismatchInRows(store, rows, order), QString());
            for (QRandomGenerator random(7 + round); auto& r : jumps)
                r = qint64(random.bounded(quint32(rows.size())));
            QCOMPARE(mismatchInRows(store, rows, jumps), QString());

            // The first rows went to the file first; row 3 holds a long cell; the last row
            // is in the block being filled. Row 0 is edited twice, the second time from the
            // copy the first edit appended.
            const qint64 last = qint64(rows.size()) - 1;
            const QString edits[] = {"modificata", "",       "ß",
                                     "corta",      "ultima", QString(3 * blockSize, 'z')};
            const qint64 at[][2] = {{0, 0}, {0, 2}, {3, 0}, {3, 1}, {last, 1}, {200, 1}};
            for (int e = 0; e < 6; ++e) {
                const auto [r, c] = at[e];
                QCOMPARE(mismatch(store, rows, r, 0), QString());
                QVERIFY(store.replace(r, int(c), edits[e]));
                rows[size_t(r)][size_t(c)] = edits[e];
                QCOMPARE(mismatch(store, rows, r, int(c)), QString());
            }
            QCOMPARE(store.rowCount(), qint64(rows.size()));
            std::reverse(order.begin(), order.end());
            QCOMPARE(mismatchInRows(store, rows, order), QString());
        }
    }
};

QTEST_GUILESS_MAIN(TestRowStore)
#include "tst_row_store.moc"
