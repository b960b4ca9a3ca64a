// The byte scanners against plain loops: each length from 0 to 33 (a byte at a time below 8,
// eight at a time below 16, sixteen from there on), each edge byte at each position (0xFF,
// which carries out of its byte when one is added, among them).
#include "data/text/ascii_scan.h"

#include <QTest>

#include <memory>

using namespace velario;

namespace {

bool naivePrintable(const char* at, qsizetype size) {
    for (qsizetype i = 0; i < size; ++i)
        if (quint8(at[i]) < 0x20 || quint8(at[i]) > 0x7E)
            return false;
    return true;
}

bool naiveContains(const char* at, qsizetype size, char a, char b) {
    for (qsizetype i = 0; i < size; ++i)
        if (at[i] == a || at[i] == b)
            return true;
    return false;
}

qsizetype naiveTrimmedLength(const char* at, qsizetype size) {
    while (size > 0 && at[size - 1] == ' ')
        --size;
    return size;
}

} // namespace

class TestAsciiScan : public QObject {
    Q_OBJECT

private slots:
    void likeThePlainLoops_data() {
        QTest::addColumn<char>("fill");
        QTest::addColumn<char>("other"); // a second odd byte, two places after the first
        QTest::newRow("printable text") << 'a' << 'a';
        QTest::newRow("blanks") << ' ' << ' ';
        QTest::newRow("blanks, a tilde after") << ' ' << '~';
        QTest::newRow("text, a control byte after") << 'q' << '\x01';
    }

    void likeThePlainLoops() {
        QFETCH(char, fill);
        QFETCH(char, other);
        const char edges[] = {'\x1F', '\x20', '\x7E', '\x7F', '\x80', '\xFF'};
        for (qsizetype size = 0; size <= 33; ++size) {
            for (qsizetype at = 0; at < std::max<qsizetype>(size, 1); ++at) {
                for (const char edge : edges) {
                    // Exactly SIZE bytes on the heap, so that a look past them is a fault the
                    // sanitizer build reports.
                    const std::unique_ptr<char[]> bytes(
                        new char[size_t(std::max<qsizetype>(size, 1))]);
                    char* const text = bytes.get();
                    std::fill(text, text + size, fill);
                    if (size > 0)
                        text[at] = edge;
                    if (at + 2 < size)
                        text[at + 2] = other;
                    const QByteArrayView view(text, size);
                    const QString where =
                        QString("%1 bytes, 0x%2 at %3").arg(size).arg(quint8(edge), 0, 16).arg(at);
                    QVERIFY2(isPrintableAscii(view) == naivePrintable(text, size),
                             qPrintable(where));
                    QVERIFY2(containsAnyOf(view, '\x7F', ' ') ==
                                 naiveContains(text, size, '\x7F', ' '),
                             qPrintable(where));
                    QVERIFY2(containsAnyOf(view, '\x80', '\x1F') ==
                                 naiveContains(text, size, '\x80', '\x1F'),
                             qPrintable(where));
                    QVERIFY2(lengthWithoutTrailingBlanks(view) == naiveTrimmedLength(text, size),
                             qPrintable(where));
                    // Eight at a time also where the public check takes sixteen.
                    if (size >= 8)
                        QVERIFY2(ascii_scan::anyStep<8>(text, size, ascii_scan::unprintableWord) ==
                                     !naivePrintable(text, size),
                                 qPrintable(where));
                }
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestAsciiScan)
#include "tst_ascii_scan.moc"
