#include "data/access/access_values.h"

#include <QDate>
#include <QtEndian>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace velario::data::access {

// Access keeps a date as days since 1899-12-30 with the time of day as the fraction; before
// 1899 the day count is negative but the fraction still counts forward from midnight.
bool isoDateTime(double value, char (&out)[24]) {
    // Access dates run from 100-01-01 to 9999-12-31.
    if (!std::isfinite(value) || value <= -657435.0 || value >= 2958466.0)
        return false;
    const double whole = std::trunc(value);
    qint64 seconds = std::llround(std::fabs(value - whole) * 86400.0);
    qint64 days = qint64(whole);
    if (seconds >= 86400) {
        seconds -= 86400;
        ++days;
    }
    const QDate date = QDate(1899, 12, 30).addDays(days);
    std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", date.year(), date.month(),
                  date.day(), int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60));
    return true;
}

// The shortest decimal that reads back as the same single, so that 0.1 stays 0.1 instead of
// becoming 0.100000001490116 in the copy.
double singleAsDouble(float value) {
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    double result = value;
    std::from_chars(text, written.ptr, result);
    return result;
}

// An extended date/time is ASCII: 19 digits of days since 0001-01-01, a colon, 12 digits of
// seconds since midnight and 7 of their fraction, then ":7" and a zero byte.
bool isoExtendedDateTime(const unsigned char* data, size_t size, char (&out)[40]) {
    const auto number = [&](size_t from, size_t digits, qint64* value) {
        *value = 0;
        for (size_t i = from; i < from + digits; ++i) {
            if (data[i] < '0' || data[i] > '9')
                return false;
            *value = *value * 10 + (data[i] - '0');
        }
        return true;
    };
    qint64 days = 0;
    qint64 seconds = 0;
    qint64 fraction = 0;
    // 9999-12-31 is the last day Access takes.
    if (size < 42 || data[19] != ':' || !number(0, 19, &days) || !number(20, 12, &seconds) ||
        !number(32, 7, &fraction) || days > 3652058 || seconds >= 86400)
        return false;
    const QDate date = QDate(1, 1, 1).addDays(days);
    std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d.%07lld", date.year(),
                  date.month(), date.day(), int(seconds / 3600), int(seconds / 60 % 60),
                  int(seconds % 60), static_cast<long long>(fraction));
    return true;
}

// A calculated decimal: a 16-bit length, the scale, a sign byte, then the magnitude in at most
// 16 bytes, whose 8-byte groups are little-endian and whose odd leading 4 bytes are too.
bool calculatedDecimal(const unsigned char* data, size_t size, std::string* out) {
    if (size < 4)
        return false;
    const int length = qFromLittleEndian<qint16>(data);
    const int scale = data[2];
    const bool negative = data[3] != 0;
    size_t bytes = size_t(std::max(length > 0 ? length - 2 : int(size) - 4, 0));
    bytes = std::min<size_t>(bytes / 4 * 4, 16);
    if (bytes + 4 > size || scale > 38)
        return false;
    const unsigned char* digits = data + 4;
    unsigned __int128 magnitude = 0;
    const auto take = [&](size_t from, size_t count) {
        for (size_t i = count; i-- > 0;)
            magnitude = (magnitude << 8) | digits[from + i];
    };
    size_t at = 0;
    if (bytes % 8 != 0) {
        take(0, 4);
        at = 4;
    }
    for (; at < bytes; at += 8)
        take(at, 8);
    std::string text;
    do {
        text.insert(text.begin(), char('0' + int(magnitude % 10)));
        magnitude /= 10;
    } while (magnitude != 0);
    if (text.size() <= size_t(scale))
        text.insert(0, size_t(scale) + 1 - text.size(), '0');
    if (scale > 0)
        text.insert(text.size() - size_t(scale), 1, '.');
    if (negative)
        text.insert(0, 1, '-');
    *out = std::move(text);
    return true;
}

// After an FF FE mark single bytes stand for U+0000..U+00FF and each zero byte switches
// between single bytes and UTF-16 pairs.
void unicodeText(const unsigned char* data, size_t size, std::u16string* out) {
    out->clear();
    if (size >= 2 && data[0] == 0xff && data[1] == 0xfe) {
        bool compressed = true;
        for (size_t i = 2; i < size;) {
            if (data[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                out->push_back(char16_t(data[i]));
                ++i;
            } else if (i + 1 < size) {
                out->push_back(char16_t(data[i] | (data[i + 1] << 8)));
                i += 2;
            } else {
                break;
            }
        }
    } else {
        for (size_t i = 0; i + 1 < size; i += 2)
            out->push_back(char16_t(data[i] | (data[i + 1] << 8)));
    }
}

} // namespace velario::data::access
