#pragma once

#include <QStringView>

namespace velario {

// Columns a character takes on a fixed-pitch line, as terminals count them: two for the
// wide characters of East Asian scripts and for emoji, none for marks that combine with
// the character before them and for invisible format characters, one otherwise.
int charColumns(char32_t c);

// Columns TEXT takes, a surrogate pair being one character.
qsizetype textColumns(QStringView text);

// The first characters of TEXT that take at most COLUMNS; COLUMNSTAKEN, when given, gets
// the columns they take (fewer than COLUMNS where a wide character would cross the limit).
QStringView leadingColumns(QStringView text, qsizetype columns, qsizetype* columnsTaken = nullptr);

// Whether every character of TEXT takes exactly one column, so that its length counts them.
inline bool singleColumnText(QStringView text) {
    for (const QChar c : text)
        if (c.unicode() >= 0x0300)
            return false;
    return true;
}

} // namespace velario
