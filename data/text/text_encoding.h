#pragma once

#include <bit>
#include <cstddef>
#include <string>
#include <string_view>

// The byte-level text readers and writers the engines, the search and the printer share: they
// run for every cell of every row, so they work on bytes instead of going through QString.
namespace velario::text {

// What decodeUtf8 returns for bytes that are not UTF-8.
constexpr char32_t kNotUtf8 = 0xFFFFFFFF;

// The code point whose UTF-8 starts at TEXT[AT] (AT before the end), moving AT past it; or
// kNotUtf8, AT unmoved, when the bytes there are not well-formed UTF-8: a byte that starts
// nothing, a sequence cut short, an overlong form, a surrogate or a value beyond U+10FFFF.
inline char32_t decodeUtf8(std::string_view text, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
        ++at;
        return lead;
    }
    // The leading ones of the first byte count the bytes: 2 to 4.
    const int length = std::countl_one(lead);
    if (length < 2 || length > 4 || text.size() - at < std::size_t(length))
        return kNotUtf8;
    char32_t c = lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + std::size_t(k)]);
        if ((next & 0xC0) != 0x80)
            return kNotUtf8;
        c = (c << 6) | (next & 0x3F);
    }
    // The least code point that needs LENGTH bytes: anything below has a shorter form.
    constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < least[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return kNotUtf8;
    at += std::size_t(length);
    return c;
}

// The code point at FROM, which moves past it: a surrogate pair makes one, a lone surrogate
// U+FFFD. FROM must be before END.
inline char32_t nextCodePoint(const char16_t*& from, const char16_t* end) {
    const char32_t c = *from++;
    if (c < 0xD800 || c > 0xDFFF)
        return c;
    if (c <= 0xDBFF && from < end && *from >= 0xDC00 && *from <= 0xDFFF)
        return 0x10000 + ((c - 0xD800) << 10) + (*from++ - 0xDC00);
    return 0xFFFD;
}

// Writes the UTF-8 of C at TO (up to four bytes) and returns the end.
inline char* putUtf8(char32_t c, char* to) {
    if (c < 0x80) {
        *to++ = char(c);
    } else if (c < 0x800) {
        *to++ = char(0xC0 | (c >> 6));
        *to++ = char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *to++ = char(0xE0 | (c >> 12));
        *to++ = char(0x80 | ((c >> 6) & 0x3F));
        *to++ = char(0x80 | (c & 0x3F));
    } else {
        *to++ = char(0xF0 | (c >> 18));
        *to++ = char(0x80 | ((c >> 12) & 0x3F));
        *to++ = char(0x80 | ((c >> 6) & 0x3F));
        *to++ = char(0x80 | (c & 0x3F));
    }
    return to;
}

// Appends the UTF-8 of the LENGTH UTF-16 units at TEXT to OUT.
inline void appendUtf8(std::string& out, const char16_t* text, std::size_t length) {
    const std::size_t start = out.size();
    // Three bytes at most a unit: a pair of units makes four.
    out.resize(start + length * 3);
    char* to = out.data() + start;
    for (const char16_t* end = text + length; text < end;)
        to = putUtf8(nextCodePoint(text, end), to);
    out.resize(std::size_t(to - out.data()));
}

// Writes the two hex digits of each of the LENGTH bytes at BYTES to TO and returns the end.
inline char* putHex(const unsigned char* bytes, std::size_t length, char* to,
                    bool lowerCase = false) {
    const char* digits = lowerCase ? "0123456789abcdef" : "0123456789ABCDEF";
    for (std::size_t i = 0; i < length; ++i) {
        *to++ = digits[bytes[i] >> 4];
        *to++ = digits[bytes[i] & 0x0F];
    }
    return to;
}

inline void appendHex(std::string& out, const unsigned char* bytes, std::size_t length) {
    const std::size_t start = out.size();
    out.resize(start + length * 2);
    putHex(bytes, length, out.data() + start);
}

} // namespace velario::text
