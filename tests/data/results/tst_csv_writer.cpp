#include "data/results/csv_writer.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QTest>

#include <optional>
#include <vector>

using namespace velario::data;

namespace {

using Cell = std::optional<QByteArray>; // nullopt: a Null
using Row = std::vector<Cell>;

// The plain reading of the rules, a cell at a time.
QByteArray reference(const std::vector<Row>& rows, char separator) {
    QByteArray out;
    for (const Row& row : rows) {
        for (size_t c = 0; c < row.size(); ++c) {
            if (c > 0)
                out += separator;
            if (!row[c])
                continue;
            const QByteArray& cell = *row[c];
            const bool quoted = cell.contains(separator) || cell.contains('"') ||
                                cell.contains('\r') || cell.contains('\n');
            out += quoted ? '"' + QByteArray(cell).replace("\"", "\"\"") + '"' : cell;
        }
        out += "\r\n";
    }
    return out;
}

// Rows of cells made of pieces that matter to the rules, now and then a Null or an empty
// cell, and where BIG, cells larger than the writer's buffer (one with every piece in it).
std::vector<Row> generated(quint32 seed, bool big) {
    static const QList<QByteArray> pieces{"a",  "riga", " ",    ";", ",",    "\t",   "\"",  "\r",
                                          "\n", "\r\n", "\"\"", "é", "日本", "🙂", "1.5", "-0"};
    QRandomGenerator random(seed);
    std::vector<Row> rows;
    const int columns = 1 + random.bounded(4);
    for (int r = 0; r < 300; ++r) {
        Row row;
        for (int c = 0; c < columns; ++c) {
            const int kind = random.bounded(10);
            if (kind == 0) {
                row.emplace_back(std::nullopt);
                continue;
            }
            QByteArray cell;
            for (int n = kind == 1 ? 0 : random.bounded(1, 6); n > 0; --n)
                cell += pieces[random.bounded(pieces.size())];
            row.emplace_back(cell);
        }
        rows.push_back(row);
    }
    if (big) {
        rows[10][0] = QByteArray(3 << 20, 'x');
        QByteArray mixed;
        while (mixed.size() < (3 << 20))
            mixed += pieces.join();
        rows[20][0] = mixed;
    }
    return rows;
}

} // namespace

class TestCsvWriter : public QObject {
    Q_OBJECT

private slots:
    void sameAsTheRules_data() {
        QTest::addColumn<char>("separator");
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<bool>("big");
        for (const char separator : {';', ',', '\t'})
            for (const quint32 seed : {1u, 2u, 3u})
                QTest::addRow("'%c' seed %u", separator == '\t' ? 't' : separator, seed)
                    << separator << seed << (seed == 3);
    }

    void sameAsTheRules() {
        QFETCH(char, separator);
        QFETCH(quint32, seed);
        QFETCH(bool, big);
        const std::vector<Row> rows = generated(seed, big);
        QBuffer device;
        QVERIFY(device.open(QIODevice::WriteOnly));
        CsvWriter writer(device, separator);
        for (const Row& row : rows) {
            writer.beginRow();
            for (const Cell& cell : row)
                cell ? writer.cell(cell->constData(), cell->size()) : writer.nullCell();
            writer.endRow();
        }
        QVERIFY(!writer.flush());
        QCOMPARE(device.data(), reference(rows, separator));
    }
};

QTEST_MAIN(TestCsvWriter)
#include "tst_csv_writer.moc"
