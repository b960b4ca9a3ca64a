#pragma once

#include <QByteArrayView>

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

} // namespace ascii_scan

// Report text passes these checks two or three times on its way to paper, so on x86-64
// they look at sixteen bytes at a time; elsewhere, and for the last few bytes, one.

// Every byte of TEXT is printable ASCII, 0x20 to 0x7E.
inline bool isPrintableAscii(QByteArrayView text) {
    const char* at = text.data();
    const char* const end = at + text.size();
#if defined(__SSE2__)
    // As signed bytes, everything from 0x80 up is below 0x20 too.
    const __m128i low = _mm_set1_epi8(0x20);
    const __m128i del = _mm_set1_epi8(0x7F);
    for (; end - at >= 16; at += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        if (_mm_movemask_epi8(_mm_or_si128(_mm_cmplt_epi8(bytes, low), _mm_cmpeq_epi8(bytes, del))))
            return false;
    }
#endif
    for (; end - at >= 8; at += 8)
        if (ascii_scan::unprintableWord(at))
            return false;
    for (; at < end; ++at)
        if (quint8(*at) < 0x20 || quint8(*at) > 0x7E)
            return false;
    return true;
}

// Some byte of TEXT is A, B or C.
inline bool containsAnyOf(QByteArrayView text, char a, char b, char c) {
    const char* at = text.data();
    const char* const end = at + text.size();
#if defined(__SSE2__)
    const __m128i wantA = _mm_set1_epi8(a);
    const __m128i wantB = _mm_set1_epi8(b);
    const __m128i wantC = _mm_set1_epi8(c);
    for (; end - at >= 16; at += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i found =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, wantA), _mm_cmpeq_epi8(bytes, wantB)),
                         _mm_cmpeq_epi8(bytes, wantC));
        if (_mm_movemask_epi8(found))
            return true;
    }
#endif
    for (; at < end; ++at)
        if (*at == a || *at == b || *at == c)
            return true;
    return false;
}

// The length of TEXT without the blanks that end it.
inline qsizetype lengthWithoutTrailingBlanks(QByteArrayView text) {
    const char* const begin = text.data();
    qsizetype length = text.size();
#if defined(__SSE2__)
    const __m128i blank = _mm_set1_epi8(' ');
    while (length >= 16) {
        const __m128i bytes =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin + length - 16));
        const int blanks = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, blank));
        if (blanks != 0xFFFF) {
            // The last byte that is not a blank ends the text.
            int last = 15;
            while (blanks & (1 << last))
                --last;
            return length - 16 + last + 1;
        }
        length -= 16;
    }
#endif
    while (length > 0 && begin[length - 1] == ' ')
        --length;
    return length;
}

} // namespace velario
