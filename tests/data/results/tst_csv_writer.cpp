#include "data/results/csv_writer.h"
#include "data/results/output_file.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace velario::data;

namespace {

using Cell = std::optional<QByteArray>; // nullopt: a Null
using Row = std::vector<Cell>;

// A cell as a spreadsheet with DECIMAL for its decimal separator is to read it: numbers as
// the engines write them with that separator, integers of more than 15 digits or with a
// leading zero as text.
QByteArray forSpreadsheet(const QByteArray& cell, const QByteArray& decimal) {
    static const QRegularExpression number("^-?([0-9]+)(\\.[0-9]+)?([eE][-+]?[0-9]+)?$");
    const QRegularExpressionMatch match = number.match(QString::fromUtf8(cell));
    if (decimal.isEmpty() || !match.hasMatch())
        return cell;
    if (match.hasCaptured(2) || match.hasCaptured(3))
        return QByteArray(cell).replace(".", decimal);
    const QString digits = match.captured(1);
    return digits.size() > 15 || (digits.size() > 1 && digits.startsWith('0')) ? "=\"" + cell + '"'
                                                                               : cell;
}

// The plain reading of the rules, a cell at a time.
QByteArray reference(const std::vector<Row>& rows, char separator, const QByteArray& decimal) {
    QByteArray out;
    for (const Row& row : rows) {
        for (size_t c = 0; c < row.size(); ++c) {
            if (c > 0)
                out += separator;
            if (!row[c])
                continue;
            const QByteArray cell = forSpreadsheet(*row[c], decimal);
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
    // Numbers as the engines write them, and near misses.
    static const QList<QByteArray> numbers =
        QByteArray("0|-0|7|007|09|1.5|-1234.5|9.75|1.0e+20|1E-5|1e5|123456789012345|"
                   "1234567890123456|-1234567890123456|12345678901234567890.5|0.5|00.5|1.|.5|1e|"
                   "--1|1.2.3|+5|1.5 ")
            .split('|');
    QRandomGenerator random(seed);
    std::vector<Row> rows;
    const int columns = 1 + random.bounded(4);
    for (int r = 0; r < 300; ++r) {
        Row row;
        for (int c = 0; c < columns; ++c) {
            const int kind = random.bounded(10);
            QByteArray cell = kind == 2 ? numbers[random.bounded(numbers.size())] : QByteArray();
            for (int n = kind < 3 ? 0 : random.bounded(1, 6); n > 0; --n)
                cell += pieces[random.bounded(pieces.size())];
            row.emplace_back(kind == 0 ? Cell() : Cell(cell));
        }
        rows.push_back(row);
    }
    if (big) {
        rows[10][0] = QByteArray(3 << 20, 'x');
        rows[20][0] = pieces.join().repeated((3 << 20) / pieces.join().size() + 1);
    }
    return rows;
}

} // namespace

class TestCsvWriter : public QObject {
    Q_OBJECT

private slots:
    void sameAsTheRules_data() {
        QTest::addColumn<char>("separator");
        QTest::addColumn<QByteArray>("decimal"); // none: cells as stored
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<bool>("big");
        for (const char separator : {';', ',', '\t'})
            for (const QByteArray& decimal : {QByteArray(), QByteArray(","), QByteArray("٫")})
                for (const quint32 seed : {1u, 2u, 3u})
                    QTest::addRow("'%c' '%s' seed %u", separator == '\t' ? 't' : separator,
                                  decimal.constData(), seed)
                        << separator << decimal << seed << (seed == 3);
    }

    void sameAsTheRules() {
        QFETCH(char, separator);
        QFETCH(QByteArray, decimal);
        QFETCH(quint32, seed);
        QFETCH(bool, big);
        const std::vector<Row> rows = generated(seed, big);
        QBuffer device;
        QVERIFY(device.open(QIODevice::WriteOnly));
        CsvWriter writer(device, separator, decimal);
        for (const Row& row : rows) {
            writer.beginRow();
            for (const Cell& cell : row)
                cell ? writer.cell(cell->constData(), cell->size()) : writer.nullCell();
            writer.endRow();
        }
        QVERIFY(!writer.flush());
        QCOMPARE(device.data(), reference(rows, separator, decimal));
    }

    // A pipe takes the rows as a stream: its reader sees their end once the output is done,
    // no other descriptor keeping the pipe open; when the reader went away the write fails at
    // once, as the program ignores SIGPIPE.
    void pipe_data() {
        QTest::addColumn<bool>("readerStays");
        QTest::newRow("reader there") << true;
        QTest::newRow("reader gone") << false;
    }
    void pipe() {
        QFETCH(bool, readerStays);
        std::signal(SIGPIPE, SIG_IGN);
        QTemporaryDir dir;
        const QByteArray fifo = QFile::encodeName(dir.filePath("csv"));
        const int reader = ::mkfifo(fifo, 0600) == 0 ? ::open(fifo, O_RDONLY | O_NONBLOCK) : -1;
        QVERIFY(reader >= 0);
        velario::Error error;
        auto out = OutputFile::open(QFile::decodeName(fifo), readerStays, &error);
        QVERIFY2(out, qPrintable(error.description));
        if (!readerStays) {
            ::close(reader);
            QCOMPARE(out->write("a;b\n"), -1);
            QVERIFY(!out->errorString().isEmpty());
            return;
        }
        QCOMPARE(out->write("a;b\n"), 4);
        QVERIFY(!out->commit());
        out.reset();
        char bytes[8];
        QCOMPARE(::read(reader, bytes, sizeof bytes), 4);
        QCOMPARE(::read(reader, bytes, sizeof bytes), 0);
        ::close(reader);
    }
};

QTEST_MAIN(TestCsvWriter)
#include "tst_csv_writer.moc"
