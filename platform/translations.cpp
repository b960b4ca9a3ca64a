#include "translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace velario {

QString qtItalianTranslationsFile() {
    return QDir(QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        .filePath(QStringLiteral("qtbase_it.qm"));
}

bool installQtTranslations() {
    if (QLocale().language() != QLocale::Italian)
        return true;
    // Owned by the application, which may look texts up until its very end.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(qtItalianTranslationsFile())) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

} // namespace velario
