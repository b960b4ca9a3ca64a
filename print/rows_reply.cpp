#include "rows_reply.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace velario {

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

} // namespace

double leadingNumber(const QString& text) {
    std::string digits;
    bool negative = false;
    bool sign = false;
    bool point = false;
    bool anyDigit = false;
    for (const QChar c : text) {
        if (isBlank(c))
            continue;
        if ((c == u'+' || c == u'-') && digits.empty() && !sign) {
            sign = true;
            negative = c == u'-';
        } else if (isDigit(c)) {
            anyDigit = true;
            digits += char(c.unicode());
        } else if (c == u'.' && !point) {
            point = true;
            digits += '.';
        } else {
            break;
        }
    }
    if (!anyDigit)
        return 0;
    // from_chars reads C notation whatever the user's locale.
    double value = 0;
    const auto [end, failed] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (failed == std::errc::result_out_of_range) {
        // Too large for a double when the whole part is not zero, else too small.
        const std::string whole = digits.substr(0, digits.find('.'));
        value = whole.find_first_not_of('0') != std::string::npos
                    ? std::numeric_limits<double>::infinity()
                    : 0.0;
    }
    return negative ? -value : value;
}

std::optional<qint16> roundToInt16(double value) {
    if (!std::isfinite(value))
        return std::nullopt;
    double whole = std::floor(value);
    const double fraction = value - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0))
        whole += 1;
    if (whole < std::numeric_limits<qint16>::min() || whole > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return static_cast<qint16>(whole);
}

RowsReply readRowsReply(const QString& text) {
    const double value = leadingNumber(text);
    const std::optional<qint16> rounded = roundToInt16(value);
    // A count the 16 bits cannot hold, either way, asks for every row.
    if (!rounded)
        return {false, std::numeric_limits<double>::infinity()};
    if (*rounded < 1)
        return {};
    return {false, value};
}

} // namespace velario
