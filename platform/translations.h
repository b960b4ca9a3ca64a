#pragma once

#include <QString>

namespace velario {

// The file of Qt's own texts (standard buttons, the file dialog, the input box) in Italian.
QString qtItalianTranslationsFile();

// Installs Qt's own texts in Italian on the application when the user's locale is Italian, so
// that the standard buttons and dialogs speak as the program's windows do. False when they
// are needed and cannot be loaded.
bool installQtTranslations();

} // namespace velario
