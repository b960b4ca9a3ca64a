#pragma once

#include <QString>

namespace velario::data {

// What the system's error number ERRNUM means, in Italian and in lower case, to follow
// "Impossibile scrivere il file X: ". The program speaks Italian whatever the user's
// locale, so the C library's own texts (English without its translations) are not used.
QString systemErrorText(int errnum);

} // namespace velario::data
