#include "data/ascii_scan.h"

#include <QTest>

#include <algorithm>

using namespace velario;

namespace {

// Every length up to three wide steps and a tail, at every alignment, with one chosen byte
// at every position: the wide, the word-sized and the byte-sized steps each see it.
constexpr int kMaxLength = 3 * 16 + 15;
constexpr int kAlignments = 16;

template <typename Check>
void eachPlacement(char filler, QByteArrayView specials, Check check) {
    QByteArray buffer(kAlignments + kMaxLength, filler);
    for (int align = 0; align < kAlignments; ++align) {
        for (int length = 0; length <= kMaxLength; ++length) {
            char* text = buffer.data() + align;
            check(QByteArrayView(text, length), -1);
            for (int at = 0; at < length; ++at) {
                for (const char special : specials) {
                    text[at] = special;
                    check(QByteArrayView(text, length), at);
                    text[at] = filler;
                }
            }
        }
    }
}

QByteArray describe(QByteArrayView text, int at) {
    return "length " + QByteArray::number(text.size()) + ", special byte at " +
           QByteArray::number(at) + ": " + text.toByteArray().toHex(' ');
}

// The texts of every placement where SCAN and the plain REFERENCE disagree; the first few
// are shown.
template <typename Scan, typename Reference>
int mismatches(char filler, QByteArrayView specials, Scan scan, Reference reference) {
    int failures = 0;
    eachPlacement(filler, specials, [&](QByteArrayView text, int at) {
        if (scan(text) != reference(text) && failures++ < 5)
            qWarning("%s", describe(text, at).constData());
    });
    return failures;
}

} // namespace

class TestAsciiScan : public QObject {
    Q_OBJECT

private slots:
    void printable() {
        // The edges of the printable range, and bytes whose SWAR borrow or high bit could
        // hide a neighbour's.
        const QByteArrayView specials("\x00\x01\x1f\x20\x7e\x7f\x80\xc3\xff", 9);
        QCOMPARE(mismatches('a', specials, isPrintableAscii,
                            [](QByteArrayView text) {
                                return std::all_of(text.begin(), text.end(), [](char c) {
                                    return quint8(c) >= 0x20 && quint8(c) <= 0x7E;
                                });
                            }),
                 0);
    }

    void containsAny() {
        QCOMPARE(mismatches(
                     'x', "()\\'*[]",
                     [](QByteArrayView text) { return containsAnyOf(text, '(', ')', '\\'); },
                     [](QByteArrayView text) {
                         return std::any_of(text.begin(), text.end(), [](char c) {
                             return c == '(' || c == ')' || c == '\\';
                         });
                     }),
                 0);
    }

    void trailingBlanks() {
        QCOMPARE(mismatches(' ', QByteArrayView("x\t\x00", 3), lengthWithoutTrailingBlanks,
                            [](QByteArrayView text) {
                                qsizetype length = text.size();
                                while (length > 0 && text[length - 1] == ' ')
                                    --length;
                                return length;
                            }),
                 0);
    }
};

QTEST_APPLESS_MAIN(TestAsciiScan)
#include "tst_ascii_scan.moc"
