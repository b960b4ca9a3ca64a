#include "data/results/spreadsheet_cells.h"

#include <QLocale>

namespace velario::data {

namespace {

// The digits a spreadsheet keeps of a number.
constexpr qsizetype kKeptDigits = 15;

template <typename Char>
bool isDigit(Char c) {
    return c >= Char('0') && c <= Char('9');
}

// -?D+(.D+)?([eE][-+]?D+)?, as SQLite, PostgreSQL, MariaDB and the Access copy write numbers.
template <typename Char>
SpreadsheetForm formOf(const Char* text, qsizetype n) {
    qsizetype i = 0;
    const auto digits = [&] {
        const qsizetype start = i;
        while (i < n && isDigit(text[i]))
            ++i;
        return i - start;
    };
    if (i < n && text[i] == Char('-'))
        ++i;
    const qsizetype first = i;
    const qsizetype whole = digits();
    if (whole == 0)
        return SpreadsheetForm::AsStored;
    bool integer = true;
    if (i < n && text[i] == Char('.')) {
        ++i;
        integer = false;
        if (digits() == 0)
            return SpreadsheetForm::AsStored;
    }
    if (i < n && (text[i] == Char('e') || text[i] == Char('E'))) {
        ++i;
        integer = false;
        if (i < n && (text[i] == Char('-') || text[i] == Char('+')))
            ++i;
        if (digits() == 0)
            return SpreadsheetForm::AsStored;
    }
    if (i != n)
        return SpreadsheetForm::AsStored;
    if (!integer)
        return SpreadsheetForm::Number;
    const bool leadingZero = whole > 1 && text[first] == Char('0');
    return whole > kKeptDigits || leadingZero ? SpreadsheetForm::Text : SpreadsheetForm::AsStored;
}

} // namespace

SpreadsheetForm spreadsheetForm(QByteArrayView utf8) {
    return formOf(utf8.data(), utf8.size());
}

SpreadsheetForm spreadsheetForm(QStringView text) {
    return formOf(text.utf16(), text.size());
}

QString localeDecimalPoint() {
    return QLocale::system().decimalPoint();
}

QString spreadsheetText(const QString& text, QStringView decimal) {
    switch (spreadsheetForm(text)) {
    case SpreadsheetForm::Number:
        return QString(text).replace(QLatin1Char('.'), decimal.toString());
    case SpreadsheetForm::Text:
        return QStringLiteral("=\"") + text + QLatin1Char('"');
    case SpreadsheetForm::AsStored:
        break;
    }
    return text;
}

void spreadsheetText(QByteArrayView utf8, SpreadsheetForm form, QByteArrayView decimal,
                     QByteArray& out) {
    out.clear();
    if (form == SpreadsheetForm::Text)
        out.append("=\"");
    for (const char c : utf8) {
        if (c == '.' && form == SpreadsheetForm::Number)
            out.append(decimal);
        else
            out.append(c);
    }
    if (form == SpreadsheetForm::Text)
        out.append('"');
}

} // namespace velario::data
