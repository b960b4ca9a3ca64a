#include "data/text/text_columns.h"

#include <QChar>

#include <algorithm>
#include <array>
#include <utility>

namespace velario {

namespace {

// The wide and full-width blocks, and the emoji shown as pictures by default.
constexpr std::array<std::pair<char32_t, char32_t>, 25> kWide{{
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x23E9, 0x23EC},   {0x25FD, 0x25FE},
    {0x2614, 0x2615},   {0x2648, 0x2653},   {0x26A1, 0x26A1},   {0x26BD, 0x26BE},
    {0x26C4, 0x26C5},   {0x26D4, 0x26D4},   {0x2705, 0x2705},   {0x2728, 0x2728},
    {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0xA4CF},
    {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},
    {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F}, {0x1F680, 0x1F6FF}, {0x1F900, 0x1FAFF},
    {0x20000, 0x3FFFD},
}};

} // namespace

int charColumns(char32_t c) {
    if (c < 0x0300)
        return 1;
    const auto wide =
        std::upper_bound(kWide.begin(), kWide.end(), c,
                         [](char32_t v, const auto& range) { return v < range.first; });
    if (wide != kWide.begin() && c <= std::prev(wide)->second)
        return 2;
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_Enclosing:
    case QChar::Other_Format:
        return 0;
    default:
        return 1;
    }
}

QStringView leadingColumns(QStringView text, qsizetype columns, qsizetype* columnsTaken) {
    qsizetype taken = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        char32_t c = text[i].unicode();
        qsizetype units = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            units = 2;
        }
        const int width = charColumns(c);
        if (taken + width > columns)
            break;
        taken += width;
        i += units;
    }
    if (columnsTaken)
        *columnsTaken = taken;
    return text.first(i);
}

qsizetype textColumns(QStringView text) {
    if (singleColumnText(text))
        return text.size();
    qsizetype taken = 0;
    leadingColumns(text, text.size() * 2, &taken);
    return taken;
}

} // namespace velario
