#pragma once

#include <QByteArrayView>

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velario {

namespace ascii_scan {

// Some byte of the eight at AT is outside 0x20..0x7E. Exact as to whether one is: a
// borrow can only come from a byte below 0x20, and a high bit set is caught either way.
inline bool unprintableWord(const char* at) {
    constexpr quint64 ones = 0x0101010101010101ull;
    constexpr quint64 highs = 0x8080808080808080ull;
    quint64 word;
    std::memcpy(&word, at, sizeof word);
    return (((word - ones * 0x20) & ~word) | (word + ones) | word) & highs;
}

// Whether FOUND holds for some STEP bytes of the SIZE (at least STEP) at AT, taken a step at
// a time, the last step overlapping the one before it.
template <int Step, typename Found>
inline bool anyStep(const char* at, qsizetype size, Found found) {
    const char* const last = at + size - Step;
    for (; at < last; at += Step)
        if (found(at))
            return true;
    return found(last);
}

} // namespace ascii_scan

// Report text passes these checks two or three times on its way to paper, so on x86-64
// they look at sixteen bytes at a time, and the printable check at eight on any machine; the
// rest goes a byte at a time. A text longer than a step ends with a step that overlaps the
// one before it, since looking at a byte twice changes none of the answers.

#if defined(__SSE2__)
namespace ascii_scan {

inline __m128i load16(const char* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// A bit for each of the sixteen bytes at AT outside 0x20..0x7E.
inline int unprintable16(const char* at) {
    // As signed bytes, everything from 0x80 up is below 0x20 too.
    const __m128i bytes = load16(at);
    return _mm_movemask_epi8(_mm_or_si128(_mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20)),
                                          _mm_cmpeq_epi8(bytes, _mm_set1_epi8(0x7F))));
}

} // namespace ascii_scan
#endif

// Every byte of TEXT is printable ASCII, 0x20 to 0x7E.
inline bool isPrintableAscii(QByteArrayView text) {
    const char* at = text.data();
    const qsizetype size = text.size();
#if defined(__SSE2__)
    if (size >= 16)
        return !ascii_scan::anyStep<16>(at, size, ascii_scan::unprintable16);
#endif
    if (size >= 8)
        return !ascii_scan::anyStep<8>(at, size, ascii_scan::unprintableWord);
    for (const char* const end = at + size; at < end; ++at)
        if (quint8(*at) < 0x20 || quint8(*at) > 0x7E)
            return false;
    return true;
}

// Some byte of TEXT is one of WANTED.
template <typename... Chars>
inline bool containsAnyOf(QByteArrayView text, Chars... wanted) {
    const char* at = text.data();
    const qsizetype size = text.size();
#if defined(__SSE2__)
    if (size >= 16) {
        const auto found = [&](const char* p) {
            const __m128i bytes = ascii_scan::load16(p);
            __m128i hits = _mm_setzero_si128();
            ((hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(char(wanted))))), ...);
            return _mm_movemask_epi8(hits) != 0;
        };
        return ascii_scan::anyStep<16>(at, size, found);
    }
#endif
    for (const char* const end = at + size; at < end; ++at)
        if (((*at == char(wanted)) || ...))
            return true;
    return false;
}

// The length of TEXT without the blanks that end it.
inline qsizetype lengthWithoutTrailingBlanks(QByteArrayView text) {
    const char* const begin = text.data();
    qsizetype length = text.size();
#if defined(__SSE2__)
    if (length >= 16) {
        const __m128i blank = _mm_set1_epi8(' ');
        // A bit for each of the sixteen bytes at AT that is not a blank.
        const auto inked = [&](const char* at) {
            return unsigned(~_mm_movemask_epi8(_mm_cmpeq_epi8(ascii_scan::load16(at), blank))) &
                   0xFFFFu;
        };
        for (; length >= 16; length -= 16)
            if (const unsigned bits = inked(begin + length - 16))
                return length - 16 + std::bit_width(bits);
        // The first bytes, as the first sixteen: only the bits below LENGTH count.
        return std::bit_width(inked(begin) & ((1u << length) - 1));
    }
#endif
    while (length > 0 && begin[length - 1] == ' ')
        --length;
    return length;
}

} // namespace velario
