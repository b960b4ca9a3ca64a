// The UTF-8 reader at every edge of the encoding; the folded search, and the byte scanners,
// against plain, slow code of the same meaning; the columns a character takes, at the edges of
// the ranges that decide them.
#include "data/text/ascii_scan.h"
#include "data/text/folded_search.h"
#include "data/text/text_columns.h"
#include "data/text/text_encoding.h"

#include <QTest>

#include <memory>
#include <random>
#include <variant>

using namespace velario;
using namespace Qt::StringLiterals;

namespace {

// Well-formed UTF-8 as the Unicode standard tabulates it: the first byte, then the range of
// each byte that follows.
struct Form {
    unsigned char firstLow, firstHigh;
    std::vector<std::pair<unsigned char, unsigned char>> next;
};
const std::vector<Form> kWellFormed{
    {0x00, 0x7F, {}},
    {0xC2, 0xDF, {{0x80, 0xBF}}},
    {0xE0, 0xE0, {{0xA0, 0xBF}, {0x80, 0xBF}}},
    {0xE1, 0xEC, {{0x80, 0xBF}, {0x80, 0xBF}}},
    {0xED, 0xED, {{0x80, 0x9F}, {0x80, 0xBF}}},
    {0xEE, 0xEF, {{0x80, 0xBF}, {0x80, 0xBF}}},
    {0xF0, 0xF0, {{0x90, 0xBF}, {0x80, 0xBF}, {0x80, 0xBF}}},
    {0xF1, 0xF3, {{0x80, 0xBF}, {0x80, 0xBF}, {0x80, 0xBF}}},
    {0xF4, 0xF4, {{0x80, 0x8F}, {0x80, 0xBF}, {0x80, 0xBF}}},
};

// The length of the well-formed sequence at the start of BYTES, 0 when there is none.
size_t wellFormedLength(std::string_view bytes) {
    const auto b = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    for (const Form& form : kWellFormed) {
        if (b(0) < form.firstLow || b(0) > form.firstHigh)
            continue;
        if (bytes.size() <= form.next.size())
            return 0;
        for (size_t k = 0; k < form.next.size(); ++k)
            if (b(k + 1) < form.next[k].first || b(k + 1) > form.next[k].second)
                return 0;
        return form.next.size() + 1;
    }
    return 0;
}

// The code point of the LENGTH well-formed bytes at the start of BYTES: the bits the first
// byte leaves after its length marks, then six from each byte that follows.
char32_t valueOf(std::string_view bytes, size_t length) {
    const auto b = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    char32_t c = length == 1 ? b(0) : b(0) & (0xFF >> (length + 1));
    for (size_t k = 1; k < length; ++k)
        c = (c << 6) | (b(k) & 0x3F);
    return c;
}

// One piece of a text: a code point, or a byte that is no part of UTF-8.
using Piece = std::variant<char32_t, unsigned char>;

// A code point as the search sees it: case folded, stripped to the first character of its
// full canonical decomposition (Hangul syllables aside), and gone when that is a mark.
std::optional<char32_t> folded(char32_t c) {
    if (c >= 0xAC00 && c <= 0xD7A3)
        return c;
    const char32_t caseless = QChar::toCaseFolded(c);
    const char32_t base =
        QString::fromUcs4(&caseless, 1).normalized(QString::NormalizationForm_D).toUcs4().first();
    if (QChar::category(base) == QChar::Mark_NonSpacing)
        return std::nullopt;
    return QChar::toCaseFolded(base);
}

// The pieces of BYTES as the search sees them: each code point folded (a mark gone), each
// byte that is no part of UTF-8 as it is.
std::vector<Piece> foldedPieces(std::string_view bytes) {
    std::vector<Piece> out;
    for (size_t i = 0; i < bytes.size();) {
        const size_t length = wellFormedLength(bytes.substr(i));
        if (length == 0)
            out.emplace_back(static_cast<unsigned char>(bytes[i++]));
        else if (const std::optional<char32_t> f = folded(valueOf(bytes.substr(i), length)))
            out.emplace_back(*f);
        i += length;
    }
    return out;
}

bool naiveFoundIn(const std::string& needle, const std::string& text) {
    const std::vector<Piece> n = foldedPieces(needle);
    const std::vector<Piece> t = foldedPieces(text);
    return !n.empty() && std::search(t.begin(), t.end(), n.begin(), n.end()) != t.end();
}

// What texts are made of: plain and accented letters in both cases, a letter and its
// combining accent, letters that do not decompose, CJK, Hangul, an emoji, marks alone, and
// bytes that only look like UTF-8: bytes that start nothing, overlong forms (of 'a' and 'é'
// among others), surrogates, beyond U+10FFFF, sequences cut short, stray continuation bytes,
// and F5 and FD taken for the start of three bytes they would make 字 and 한 of.
const QStringList kLetters =
    QStringLiteral(
        "a|A|z|Z|e|@|[|`|{| |0|à|À|é|É|e\u0300|E\u0301|ß|ẞ|ø|Ø|ǅ|Å|İ|ı|ς|Σ|中|字|한|ᄒ|😀|"
        "\u0301|\u0344|Ⱥ|ⱥ")
        .split(u'|');
const QList<QByteArray> kBrokenHex = QByteArray("C080 C1A1 E081A1 E083A9 E09FBF EDA080 "
                                                "EDBFBF F08081A1 F08FBFBF F4908080 F5AD97 "
                                                "FD959C F888808080 FF FE 80 BF E282 C3 "
                                                "F09F98")
                                         .split(' ');

} // namespace

class TestFoldedSearch : public QObject {
    Q_OBJECT

private slots:
    // Every first byte with every second byte, and the third and fourth at the edges of the
    // continuation range or missing, against the standard's table.
    void decodeAtEveryEdge() {
        const std::vector<int> edges{-1, 0x00, 0x7F, 0x80, 0xBF, 0xC0, 0xFF};
        for (int first = 0; first < 256; ++first)
            for (int second = -1; second < 256; ++second)
                for (const int third : edges)
                    for (const int fourth : edges) {
                        std::string bytes(1, char(first));
                        for (const int b : {second, third, fourth}) {
                            if (b < 0)
                                break;
                            bytes += char(b);
                        }
                        const size_t length = wellFormedLength(bytes);
                        size_t at = 0;
                        const char32_t c = text::decodeUtf8(bytes, at);
                        const char32_t expected =
                            length == 0 ? text::kNotUtf8 : valueOf(bytes, length);
                        QVERIFY2(c == expected && at == length,
                                 QByteArray::fromStdString(bytes).toHex(' ').constData());
                        if (second < 0 || third < 0)
                            break;
                    }
        // The five and six bytes of the encoding's first definition, never UTF-8 now.
        for (const std::string_view old :
             {"\xF8\x80\x80\x80\x80", "\xF8\x88\x80\x80\x80", "\xFC\x80\x80\x80\x80\x80",
              "\xFD\xBF\xBF\xBF\xBF\xBF"}) {
            size_t at = 0;
            QCOMPARE(text::decodeUtf8(old, at), text::kNotUtf8);
            QCOMPARE(at, size_t(0));
        }
    }

    // Every sequence of three UTF-16 units from the edges of the surrogate ranges, a lone
    // surrogate as U+FFFD.
    void encodeAtEveryEdge() {
        const std::vector<char16_t> edges{0x41,   0x7FF,  0x800,  0xD7FF, 0xD800,
                                          0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFF};
        for (const char16_t a : edges)
            for (const char16_t b : edges)
                for (const char16_t c : edges) {
                    const std::u16string units{a, b, c};
                    std::string utf8;
                    text::appendUtf8(utf8, units.data(), units.size());
                    QByteArray expected;
                    for (size_t i = 0; i < units.size(); ++i) {
                        char32_t point = units[i];
                        if (QChar::isHighSurrogate(point) && i + 1 < units.size() &&
                            QChar::isLowSurrogate(units[i + 1])) {
                            point = QChar::surrogateToUcs4(units[i], units[i + 1]);
                            ++i;
                        } else if (QChar::isSurrogate(point)) {
                            point = 0xFFFD;
                        }
                        expected += QString::fromUcs4(&point, 1).toUtf8();
                    }
                    QVERIFY2(QByteArray::fromStdString(utf8) == expected,
                             expected.toHex(' ').constData());
                }
    }

    void foundLikeTheNaiveSearch_data() {
        QTest::addColumn<int>("texts");
        QTest::addColumn<int>("longest"); // pieces
        QTest::addColumn<bool>("broken"); // texts hold bytes that are not UTF-8
        QTest::addColumn<int>("padding"); // plain bytes before each text
        QTest::newRow("short, UTF-8") << 4000 << 12 << false << 0;
        QTest::newRow("short, broken bytes among the letters") << 4000 << 12 << true << 0;
        QTest::newRow("longer than eight plain bytes") << 1000 << 40 << true << 5;
        // Around the end of the first block the search folds.
        for (const int before : {65536 - 24, 65536 - 8, 65536 - 3})
            QTest::addRow("across the block end, from %d", before) << 60 << 30 << true << before;
    }

    void foundLikeTheNaiveSearch() {
        QFETCH(int, texts);
        QFETCH(int, longest);
        QFETCH(bool, broken);
        QFETCH(int, padding);
        std::mt19937 random(20260);
        const auto pick = [&](int n) {
            return int(std::uniform_int_distribution(0, n - 1)(random));
        };
        const auto make = [&](int count, bool withBroken) {
            std::string bytes;
            for (int i = 0; i < count; ++i) {
                if (withBroken && pick(4) == 0)
                    bytes +=
                        QByteArray::fromHex(kBrokenHex[pick(int(kBrokenHex.size()))]).toStdString();
                else
                    bytes += kLetters[pick(int(kLetters.size()))].toStdString();
            }
            return bytes;
        };
        const std::string pad(size_t(padding), 'x');
        int found = 0;
        for (int i = 0; i < texts; ++i) {
            const std::string needle = make(1 + pick(3), false);
            std::string text = pad + make(pick(longest + 1), broken);
            // Half the texts hold the needle as written somewhere.
            if (pick(2) == 0)
                text.insert(padding + pick(int(text.size()) - padding + 1), needle);
            data::FoldedSearch search(QString::fromStdString(needle));
            const bool expected = naiveFoundIn(needle, text);
            found += expected;
            QVERIFY2(search.foundIn(text) == expected,
                     qPrintable(QString::fromStdString(needle) + " in " +
                                QByteArray::fromStdString(text.substr(pad.size())).toHex(' ')));
        }
        // Both answers came up often enough to mean something.
        QVERIFY2(found > texts / 4 && found < texts * 3 / 4, qPrintable(QString::number(found)));
    }

    // The byte scanners against plain loops: each length from 0 to 33 (a byte at a time below 8,
    // eight at a time below 16, sixteen from there on), each edge byte at each position (0xFF,
    // which carries out of its byte when one is added, among them).
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
        for (qsizetype size = 0; size <= 33; ++size)
            for (qsizetype at = 0; at < std::max<qsizetype>(size, 1); ++at)
                for (const char edge : {'\x1F', '\x20', '\x7E', '\x7F', '\x80', '\xFF'}) {
                    // Exactly SIZE bytes on the heap, so that a look past them is a fault the
                    // sanitizer build reports.
                    const auto bytes =
                        std::make_unique<char[]>(size_t(std::max<qsizetype>(size, 1)));
                    char* const text = bytes.get();
                    std::fill(text, text + size, fill);
                    if (size > 0)
                        text[at] = edge;
                    if (at + 2 < size)
                        text[at + 2] = other;
                    const QByteArrayView view(text, size);
                    const auto has = [&](char a, char b) {
                        return view.contains(a) || view.contains(b);
                    };
                    const bool printable = std::all_of(
                        text, text + size, [](char c) { return c >= 0x20 && c <= 0x7E; });
                    qsizetype trimmed = size;
                    while (trimmed > 0 && text[trimmed - 1] == ' ')
                        --trimmed;
                    // Eight at a time also where the public check takes sixteen.
                    const bool eight =
                        size < 8 || ascii_scan::anyStep<8>(
                                        text, size, ascii_scan::unprintableWord) != printable;
                    QVERIFY2(isPrintableAscii(view) == printable &&
                                 containsAnyOf(view, '\x7F', ' ') == has('\x7F', ' ') &&
                                 containsAnyOf(view, '\x80', '\x1F') == has('\x80', '\x1F') &&
                                 lengthWithoutTrailingBlanks(view) == trimmed && eight,
                             qPrintable(QString("%1 bytes, 0x%2 at %3")
                                            .arg(size)
                                            .arg(quint8(edge), 0, 16)
                                            .arg(at)));
                }
    }

    void columns_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("leading");
        QTest::newRow("last before the marks") << u"\u02FFb"_s << 2 << 1 << u"\u02FF"_s;
        QTest::newRow("combining marks") << u"e\u0300\u036Fx"_s << 2 << 1 << u"e\u0300\u036F"_s;
        QTest::newRow("format character") << u"a\u200Bb"_s << 2 << 1 << u"a\u200B"_s;
        QTest::newRow("wide, crossing the limit") << u"a\u1100b"_s << 4 << 2 << u"a"_s;
        QTest::newRow("after the first wide block") << u"\u1160\u115F"_s << 3 << 1 << u"\u1160"_s;
        QTest::newRow("surrogate pair") << u"\U0001F600x"_s << 3 << 2 << u"\U0001F600"_s;
        QTest::newRow("last wide plane")
            << u"\U0003FFFD\U0003FFFEz"_s << 4 << 3 << u"\U0003FFFD\U0003FFFE"_s;
    }
    void columns() {
        QFETCH(QString, text);
        QFETCH(int, columns);
        QFETCH(int, limit);
        QFETCH(QString, leading);
        QCOMPARE(textColumns(text), columns);
        qsizetype taken = -1;
        QCOMPARE(leadingColumns(text, limit, &taken).toString(), leading);
        QCOMPARE(taken, textColumns(leading));
    }
};

QTEST_GUILESS_MAIN(TestFoldedSearch)
#include "tst_folded_search.moc"
