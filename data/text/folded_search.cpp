#include "data/text/folded_search.h"

#include "data/text/text_encoding.h"

#include <QChar>
#include <QList>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
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
            (*t)[c] = foldCodePoint(c);
        return t;
    }();
    return *table;
}

// Eight bytes of plain ASCII, capitals made small at once: most of a catalogue's text.
bool foldAsciiWord(const char* in, char* out) {
    constexpr std::uint64_t high = 0x8080808080808080ULL;
    std::uint64_t word;
    std::memcpy(&word, in, 8);
    if (word & high)
        return false;
    // Per byte, without carries (every byte is below 0x80): at least 'A', and above 'Z'.
    const std::uint64_t capital =
        (word + 0x3F3F3F3F3F3F3F3FULL) & ~(word + 0x2525252525252525ULL) & high;
    word |= capital >> 2;
    std::memcpy(out, &word, 8);
    return true;
}

// Appends to OUT the folded text of TEXT from FROM on, up to about LIMIT bytes of it; returns
// where it stopped, always at the start of a character.
size_t foldInto(std::string_view text, size_t from, size_t limit, std::string& out) {
    const std::array<char32_t, kTabled>& table = foldTable();
    const size_t end = std::min(text.size(), from + limit);
    const size_t at = out.size();
    // No character grows by more than half once folded (two bytes become at most three).
    out.resize(at + (end - from) * 3 / 2 + 8);
    char* o = out.data() + at;
    size_t i = from;
    while (i < end) {
        if (i + 8 <= end && foldAsciiWord(text.data() + i, o)) {
            i += 8;
            o += 8;
            continue;
        }
        const uchar b = uchar(text[i]);
        if (b < 0x80) {
            *o++ = char(b >= 'A' && b <= 'Z' ? b + 32 : b);
            ++i;
            continue;
        }
        const char32_t c = text::decodeUtf8(text, i);
        if (c == text::kNotUtf8) {
            *o++ = char(b);
            ++i;
            continue;
        }
        const char32_t f = c < kTabled ? table[c] : foldCodePoint(c);
        if (f != kDropped)
            o = text::putUtf8(f, o);
    }
    out.resize(size_t(o - out.data()));
    return i;
}

} // namespace

FoldedSearch::FoldedSearch(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    foldInto(std::string_view(utf8.constData(), size_t(utf8.size())), 0, size_t(utf8.size()),
             needle_);
}

void FoldedSearch::appendFolded(std::string_view utf8, std::string& out) {
    for (size_t i = 0; i < utf8.size();)
        i = foldInto(utf8, i, utf8.size() - i, out);
}

bool FoldedSearch::foundInFolded(std::string_view folded) const {
    return !needle_.empty() &&
           ::memmem(folded.data(), folded.size(), needle_.data(), needle_.size()) != nullptr;
}

bool FoldedSearch::foundIn(std::string_view utf8) {
    if (needle_.empty())
        return false;
    // A block at a time, each after the end of the one before that a match could start in:
    // a text of megabytes costs a block of memory, and a match near its start ends the search.
    constexpr size_t kBlock = 64 * 1024;
    folded_.clear();
    for (size_t i = 0; i < utf8.size();) {
        i = foldInto(utf8, i, kBlock, folded_);
        if (::memmem(folded_.data(), folded_.size(), needle_.data(), needle_.size()))
            return true;
        const size_t keep = std::min(folded_.size(), needle_.size() - 1);
        folded_.erase(0, folded_.size() - keep);
    }
    return false;
}

} // namespace velario::data
