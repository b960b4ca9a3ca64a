#pragma once

#include "data/errors.h"

#include <QDateTime>
#include <QString>

namespace velario {

// Refusal of every report that finds nothing to print.
inline const QString kNothingToPrint = QStringLiteral("Non ci sono records da stampare !!!");

// TEXT cut or filled with blanks to take exactly WIDTH columns of a fixed-pitch line (none
// for a width below 1), a wide character taking two.
QString fitText(const QString& text, int width);
// The same appended to LINE.
void appendFitted(QString& line, QStringView text, int width);

// TEXT without the blanks at either end; other white space stays, so a line break that
// starts or ends a field is printed as the field holds it.
QString trimBlanks(const QString& text);
// "dd/mm/yyyy hh:mm:ss" on the 24-hour clock, whatever the user's locale says.
QString reportStamp(const QDateTime& when);

// Tells the user that a report's document did not reach its destination: after the
// report's closing beep the reports would otherwise look finished.
void reportUndelivered(const Error& error, const QString& destination);

} // namespace velario
