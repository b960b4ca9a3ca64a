#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace velario::data {

// What a spreadsheet makes of a stored value that it is given as text (a CSV file, the
// clipboard): it reads numbers in the user's locale, keeps 15 digits of a number and drops
// leading zeros.
enum class SpreadsheetForm {
    // Read as the value stored: given as it is.
    AsStored,
    // A number as the engines write it ("-1234.5", "1.0e+20", "1e-05"): given with the
    // user's decimal separator, or a spreadsheet under a decimal comma reads text or a date.
    Number,
    // Digits a spreadsheet would change, more than 15 of them or a leading zero
    // ("12345678901234567890", "00184"): given as text.
    Text,
};

SpreadsheetForm spreadsheetForm(QByteArrayView utf8);
SpreadsheetForm spreadsheetForm(QStringView text);

// The user's decimal separator, as the spreadsheets of the user's locale read numbers.
QString localeDecimalPoint();

// TEXT as a spreadsheet is to read the value stored: a Number with DECIMAL for its point, a
// Text as the formula ="TEXT", which spreadsheets take as that text.
QString spreadsheetText(const QString& text, QStringView decimal);
// The same for UTF-8 bytes, into OUT.
void spreadsheetText(QByteArrayView utf8, SpreadsheetForm form, QByteArrayView decimal,
                     QByteArray& out);

} // namespace velario::data
