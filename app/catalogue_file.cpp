#include "catalogue_file.h"

#include "data/catalogue/catalogue_store.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace velario {

namespace {

// PATH as a shell takes it.
QString shellWord(const QString& path) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./+:=@%-]+$"));
    if (plain.match(path).hasMatch())
        return path;
    return QLatin1Char('\'') + QString(path).replace(u'\'', QLatin1String("'\\''")) +
           QLatin1Char('\'');
}

// The command that makes a catalogue of the Access catalogue at PATH, beside it.
QString accessCatalogueHint(const QString& path) {
    const QFileInfo info(path);
    QString target = info.dir().filePath(info.completeBaseName() + QStringLiteral(".db"));
    if (target == info.filePath())
        target = info.dir().filePath(info.completeBaseName() + QStringLiteral("-nuovo.db"));
    return QStringLiteral(" È un file Access: un catalogo Access si converte con il comando  "
                          "velario-newcat --from %1 %2  indicando poi il nuovo file in DIR_DBF.")
        .arg(shellWord(path), shellWord(target));
}

} // namespace

QString errorNumberText(int number) {
    return number >= 0 ? QStringLiteral(" %1").arg(number) : QString::number(number);
}

std::unique_ptr<data::Database> openCatalogueFile(const QString& path, bool readOnly,
                                                  Error* error) {
    *error = {};
    if (data::Database::isAccessFile(path)) {
        *error = Error::make(ErrorNumber::UnrecognizedFormat,
                             standardErrorText(ErrorNumber::UnrecognizedFormat) +
                                 accessCatalogueHint(path));
        return nullptr;
    }
    std::unique_ptr<data::Database> catalogue = data::Database::open(path, readOnly, error);
    if (catalogue)
        *error = data::checkCatalogue(*catalogue);
    if (*error)
        catalogue.reset();
    return catalogue;
}

QString catalogueOpeningMessage(const Error& error, const QString& path) {
    return QStringLiteral("ERRORE IN APERTURA DATABASE !!!\r\r") + errorNumberText(error.number) +
           QStringLiteral(" - ") + error.description + QStringLiteral("\r\r") + path;
}

} // namespace velario
