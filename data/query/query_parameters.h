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
    // The `?` the text itself has where an engine would take it for a parameter: with names as
    // well, the engine could not tell which value goes where.
    int ownMarkers = 0;

    bool isEmpty() const { return names.isEmpty(); }
};

QueryParameters findQueryParameters(const QString& sql);

// Where the `?` of TEXT stand for parameters as MariaDB reads it: a backslash escapes the
// next character in every quoted text, and `#` starts a comment.
std::vector<qsizetype> mariadbMarkers(const QString& text);

// What a user's answer for a parameter is taken as.
enum class ParameterKind {
    Null,    // the empty answer
    Integer, // digits with an optional sign, within 64 bits
    Decimal, // a number with a decimal comma or point, or an exponent, or too long for 64 bits
    Date,    // dd/mm/yyyy or yyyy-mm-dd, a day of the calendar
    Text,    // anything else, without the blanks around it
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

    // A Text as it is bound: the answer without the blanks around it, as the program's fields
    // read what is typed in them.
    QString text() const { return answer.trimmed(); }
    // Every kind but Null as plain text an engine reads back as the same value: digits with a
    // point, a date as yyyy-mm-dd, a Text as text().
    QString canonical() const;
};

// ANSWER as a value: decimals may be written with LOCALE's decimal separator or with a point.
ParameterValue parameterValue(const QString& answer, const QLocale& locale);

} // namespace velario::data
