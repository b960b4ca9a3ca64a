#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

#include <vector>

class QLocale;

namespace velario::data {

// The parameters of a saved query's text: each `:name` (a letter or `_`, then letters, digits
// or `_`) that stands where a value may stand. A name inside a string literal, a quoted
// identifier or a comment is text, and so is `::` (a cast); the same name, in any letter case,
// used again is the same parameter.
struct QueryParameters {
    // The names in the order they first appear, as first written.
    QStringList names;
    // The text with each parameter replaced by `?`, which every engine binds by position.
    QString positional;
    // For each `?` of POSITIONAL, in order, the index of its name in NAMES.
    std::vector<int> order;

    bool isEmpty() const { return names.isEmpty(); }
};

QueryParameters findQueryParameters(const QString& sql);

// What a user's answer for a parameter is taken as.
enum class ParameterKind {
    Null,    // the empty answer
    Integer, // digits with an optional sign, within 64 bits
    Decimal, // a number with a decimal comma or point, or an exponent, or too long for 64 bits
    Date,    // dd/mm/yyyy or yyyy-mm-dd, a day of the calendar
    Text,    // anything else, as typed
};

struct ParameterValue {
    ParameterKind kind = ParameterKind::Null;
    // The answer as the user typed it.
    QString answer;
    qint64 integer = 0;
    // A Decimal as its digits with `.` for the decimal point and no sign when positive
    // ("-1234.5", "1.0e+20"), so that an engine can take it exactly.
    QString decimal;
    QDate date;
};

// ANSWER as a value: decimals may be written with LOCALE's decimal separator or with a point.
ParameterValue parameterValue(const QString& answer, const QLocale& locale);

} // namespace velario::data
