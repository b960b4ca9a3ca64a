#include "folded_search.h"

#include <QChar>
#include <QList>

#include <array>
#include <memory>

namespace velario::data {

namespace {

constexpr char32_t kDropped = 0xFFFFFFFF;

char32_t foldCodePoint(char32_t c) {
    // Hangul syllables decompose into their letters, not into a letter and a mark.
    const bool hangul = c >= 0xAC00 && c <= 0xD7A3;
    c = QChar::toCaseFolded(c);
    while (!hangul && QChar::decompositionTag(c) == QChar::Canonical) {
        const QList<uint> parts = QChar::decomposition(c).toUcs4();
        if (parts.isEmpty() || parts.first() == c)
            break;
        c = parts.first();
    }
    if (QChar::category(c) == QChar::Mark_NonSpacing)
        return kDropped;
    return QChar::toCaseFolded(c);
}

// The folds of the alphabets written with accents, worked out once; the rest of Unicode is
// rare enough in a catalogue to be folded as it comes.
constexpr char32_t kTabled = 0x2500;

const std::array<char32_t, kTabled>& foldTable() {
    static const std::unique_ptr<std::array<char32_t, kTabled>> table = [] {
        auto t = std::make_unique<std::array<char32_t, kTabled>>();
        for (char32_t c = 0; c < kTabled; ++c)
            (*t)[c] = c < 0x80 ? char32_t(c >= 'A' && c <= 'Z' ? c + 32 : c) : foldCodePoint(c);
        return t;
    }();
    return *table;
}

void appendUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// The code point that starts at TEXT[I], moving I past it; 0 with I unmoved when the bytes
// there are not UTF-8.
char32_t decode(std::string_view text, size_t& i) {
    const auto byte = [&](size_t at) { return uchar(text[at]); };
    const uchar lead = byte(i);
    const int length = lead >= 0xF0 && lead < 0xF5 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || i + length > text.size())
        return 0;
    char32_t c = lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    i += length;
    return c;
}

void appendFolded(std::string_view text, std::string& out) {
    const std::array<char32_t, kTabled>& table = foldTable();
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const uchar b = uchar(text[i]);
        if (b < 0x80) {
            out += char(b >= 'A' && b <= 'Z' ? b + 32 : b);
            ++i;
            continue;
        }
        const char32_t c = decode(text, i);
        if (c == 0) {
            out += char(b);
            ++i;
            continue;
        }
        const char32_t f = c < kTabled ? table[c] : foldCodePoint(c);
        if (f != kDropped)
            appendUtf8(f, out);
    }
}

} // namespace

FoldedSearch::FoldedSearch(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    appendFolded(std::string_view(utf8.constData(), size_t(utf8.size())), needle_);
}

bool FoldedSearch::foundIn(std::string_view utf8) {
    if (needle_.empty())
        return false;
    appendFolded(utf8, folded_);
    return folded_.find(needle_) != std::string::npos;
}

} // namespace velario::data
