#pragma once

#include <QByteArrayView>

#include <cstring>

namespace velario {

// Report text is checked two or three times on its way to paper, so these look at eight
// bytes at a time. Each test below is exact as to whether some byte matches, provided no
// byte has its high bit set, which the callers rule out first.
namespace ascii_scan {

constexpr quint64 kOnes = 0x0101010101010101ull;
constexpr quint64 kHighs = 0x8080808080808080ull;

inline quint64 load(const char* at) {
    quint64 word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

// The high bit of each byte of WORD that is below N (N at most 0x80).
constexpr quint64 below(quint64 word, quint8 n) {
    return (word - kOnes * n) & ~word & kHighs;
}

// Some byte of WORD is outside 0x20..0x7E.
constexpr bool unprintable(quint64 word) {
    return (below(word, 0x20) | ((word + kOnes) | word)) & kHighs;
}

} // namespace ascii_scan

// Every byte of TEXT is printable ASCII, 0x20 to 0x7E.
inline bool isPrintableAscii(QByteArrayView text) {
    const char* at = text.data();
    const char* const end = at + text.size();
    for (; end - at >= 8; at += 8)
        if (ascii_scan::unprintable(ascii_scan::load(at)))
            return false;
    for (; at < end; ++at)
        if (quint8(*at) < 0x20 || quint8(*at) > 0x7E)
            return false;
    return true;
}

// Some byte of TEXT, all printable ASCII, is one a PDF string must escape: ( ) or \.
inline bool hasPdfStringSpecial(QByteArrayView text) {
    using namespace ascii_scan;
    const char* at = text.data();
    const char* const end = at + text.size();
    for (; end - at >= 8; at += 8) {
        const quint64 word = load(at);
        if (below(word ^ (kOnes * '('), 2) | below(word ^ (kOnes * '\\'), 1))
            return true;
    }
    for (; at < end; ++at)
        if (*at == '(' || *at == ')' || *at == '\\')
            return true;
    return false;
}

} // namespace velario
