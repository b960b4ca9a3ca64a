#include "data/ascii_scan.h"

#include <QTest>

#include <algorithm>

using namespace velario;

class TestAsciiScan : public QObject {
    Q_OBJECT

private slots:
    // Every length up to three wide steps and a tail, at every alignment, with one chosen byte
    // at every position, so that the wide, the word-sized and the byte-sized steps each see
    // it; the answers are those of a plain loop. The bytes are the edges of the printable range,
    // bytes whose SWAR borrow or high bit could hide a neighbour's, the searched ones and
    // blanks' look-alikes.
    void againstPlainLoops_data() {
        QTest::addColumn<char>("filler");
        QTest::newRow("printable") << 'a';
        QTest::newRow("blanks") << ' ';
    }
    void againstPlainLoops() {
        QFETCH(char, filler);
        const QByteArray specials("\x00\x01\x1f\x20\x7e\x7f\x80\xc3\xff()\\'*[]x\t", 18);
        QByteArray buffer(16 + 63, filler);
        int failures = 0;
        for (int align = 0; align < 16; ++align) {
            for (int length = 0; length <= 63; ++length) {
                char* text = buffer.data() + align;
                for (int at = -1; at < length; ++at) {
                    for (const char special : at < 0 ? QByteArray(1, filler) : specials) {
                        if (at >= 0)
                            text[at] = special;
                        const QByteArrayView view(text, length);
                        const auto is = [&](auto test) {
                            return std::all_of(view.begin(), view.end(), test);
                        };
                        qsizetype blanks = length;
                        while (blanks > 0 && text[blanks - 1] == ' ')
                            --blanks;
                        if ((isPrintableAscii(view) !=
                                 is([](char c) { return c >= 0x20 && c <= 0x7E; }) ||
                             containsAnyOf(view, '(', ')', '\\') !=
                                 !is([](char c) { return c != '(' && c != ')' && c != '\\'; }) ||
                             lengthWithoutTrailingBlanks(view) != blanks) &&
                            failures++ < 5)
                            qWarning("length %d, byte at %d: %s", length, at,
                                     view.toByteArray().toHex(' ').constData());
                        text[std::max(at, 0)] = filler;
                    }
                }
            }
        }
        QCOMPARE(failures, 0);
    }
};

QTEST_APPLESS_MAIN(TestAsciiScan)
#include "tst_ascii_scan.moc"
