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

} // namespace

class TestAsciiScan : public QObject {
    Q_OBJECT

private slots:
    void printable() {
        // The edges of the printable range, and bytes whose SWAR borrow or high bit could
        // hide a neighbour's.
        const QByteArrayView specials("\x00\x01\x1f\x20\x7e\x7f\x80\xc3\xff", 9);
        int failures = 0;
        eachPlacement('a', specials, [&](QByteArrayView text, int at) {
            const bool expected = std::all_of(text.begin(), text.end(), [](char c) {
                return quint8(c) >= 0x20 && quint8(c) <= 0x7E;
            });
            if (isPrintableAscii(text) != expected && failures++ < 5)
                qWarning("%s", describe(text, at).constData());
        });
        QCOMPARE(failures, 0);
    }

    void containsAny() {
        const QByteArrayView specials("()\\'*[]", 7);
        int failures = 0;
        eachPlacement('x', specials, [&](QByteArrayView text, int at) {
            const bool expected = std::any_of(
                text.begin(), text.end(), [](char c) { return c == '(' || c == ')' || c == '\\'; });
            if (containsAnyOf(text, '(', ')', '\\') != expected && failures++ < 5)
                qWarning("%s", describe(text, at).constData());
        });
        QCOMPARE(failures, 0);
    }

    void trailingBlanks() {
        const QByteArrayView specials("x\t\x00", 3);
        int failures = 0;
        eachPlacement(' ', specials, [&](QByteArrayView text, int at) {
            qsizetype expected = text.size();
            while (expected > 0 && text[expected - 1] == ' ')
                --expected;
            if (lengthWithoutTrailingBlanks(text) != expected && failures++ < 5)
                qWarning("%s", describe(text, at).constData());
        });
        QCOMPARE(failures, 0);
    }
};

QTEST_APPLESS_MAIN(TestAsciiScan)
#include "tst_ascii_scan.moc"
