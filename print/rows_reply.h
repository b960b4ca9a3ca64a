#pragma once

#include <QString>

#include <optional>

namespace velario {

// How many rows the user asked the result grid report to print.
struct RowsReply {
    // Nothing is printed (an empty or unreadable reply, or fewer than one row).
    bool refused = true;
    // The value read, compared as it is with each row counter: 1.5 prints two rows.
    // Infinite when the reply, rounded, is outside the 16-bit range either way, which asks
    // for every row of the result.
    double rows = 0;
};

// The number at the start of TEXT, blanks anywhere ignored: an optional sign, digits and
// at most one full stop as the decimal point; 0 when TEXT does not start with one.
double leadingNumber(const QString& text);

// The value rounded to the nearest whole number, a half going to the even neighbour, when
// that fits a 16-bit signed integer.
std::optional<qint16> roundToInt16(double value);

// Reads the reply to the row question: refused below one row after rounding; a rounded
// value beyond the 16-bit range asks for every row when it is positive.
RowsReply readRowsReply(const QString& text);

} // namespace velario
