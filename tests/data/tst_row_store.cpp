#include "data/row_store.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

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
    for (int r = 0; r < count; ++r) {
        for (int c = 0; c < kColumns; ++c) {
            std::optional<QString>& cell = rows[size_t(r)][size_t(c)];
            if ((r + c) % 11 == 0)
                continue;
            if ((r + c) % 7 == 0)
                cell = QString("");
            else if (r % 50 == 3 && c == 1)
                cell = QString(3 * blockSize + r, QChar(u'a' + r % 26));
            else if (r % 3 == 0)
                cell = QStringLiteral("riga %1 colonna %2 è €").arg(r).arg(c);
            else if (r % 5 == 1 && c == 2)
                cell = QStringLiteral("riga\t%1").arg(r);
            else
                cell = QStringLiteral("riga %1 colonna %2 ~").arg(r).arg(c);
        }
    }
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
        (want && QString::fromUtf8(*got) != *want) || (want && store.text(r, c) != *want))
        return QStringLiteral("row %1 column %2: %3, printable %4")
            .arg(r)
            .arg(c)
            .arg(got ? QString::fromUtf8(*got).left(40) : QStringLiteral("<null>"))
            .arg(printable);
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
    void rowsReadBack_data() {
        QTest::addColumn<int>("blockSize");
        QTest::addColumn<int>("budget");
        QTest::addColumn<Fault>("fault");
        QTest::newRow("within the budget") << 256 << (1 << 20) << Fault::None;
        QTest::newRow("no budget: every block but the one in use") << 256 << 0 << Fault::None;
        QTest::newRow("a few blocks in memory") << 256 << 1024 << Fault::None;
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
            for (size_t i = 0; i < order.size(); ++i)
                order[i] = qint64(i);
            QCOMPARE(mismatchInRows(store, rows, order), QString());
            QRandomGenerator random(7 + round);
            for (qint64& r : jumps)
                r = qint64(random.bounded(quint32(rows.size())));
            QCOMPARE(mismatchInRows(store, rows, jumps), QString());
            // Single cells: a later column of a row after another row's cell, an earlier one
            // of the same row.
            for (size_t i = 0; i < 3000; ++i)
                QCOMPARE(mismatch(store, rows, jumps[(i / 3) % jumps.size()],
                                  int(random.bounded(quint32(kColumns)))),
                         QString());

            // The first rows went to the file first; row 3 holds a long cell; the last row
            // is in the block being filled. Row 0 is edited twice, the second time from the
            // copy the first edit appended.
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
                QCOMPARE(mismatch(store, rows, edit.row, 0), QString());
                QVERIFY(store.replace(edit.row, edit.column, edit.text));
                rows[size_t(edit.row)][size_t(edit.column)] = edit.text;
                QCOMPARE(mismatch(store, rows, edit.row, edit.column), QString());
            }
            QCOMPARE(store.rowCount(), qint64(rows.size()));
            std::reverse(order.begin(), order.end());
            QCOMPARE(mismatchInRows(store, rows, order), QString());
        }
    }
};

QTEST_GUILESS_MAIN(TestRowStore)
#include "tst_row_store.moc"
