#include "open_catalogue.h"

#include "data/catalogue/catalogue_store.h"
#include "data/catalogue/file_catalogue.h"
#include "data/catalogue/server_catalogue.h"
#include "data/sqlite/database.h"
#include "platform/platform.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <pwd.h>
#include <unistd.h>

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

namespace {

std::unique_ptr<data::Catalogue> openFile(const QString& path, bool readOnly, Error* error) {
    if (data::Database::isAccessFile(path)) {
        *error = Error::make(ErrorNumber::UnrecognizedFormat,
                             standardErrorText(ErrorNumber::UnrecognizedFormat) +
                                 accessCatalogueHint(path));
        return nullptr;
    }
    std::unique_ptr<data::Database> database =
        data::Database::open(path, readOnly, error, data::kSharedFileLockWaitMs);
    if (database)
        *error = data::checkCatalogue(*database);
    if (!database || *error)
        return nullptr;
    return data::fileCatalogue(std::move(database));
}

} // namespace

QString catalogueLocation(const QString& dirDbf) {
    if (!data::isServerUri(dirDbf) && dirDbf.contains(QLatin1String("ODBC")))
        return QStringLiteral("C:\\BASE\\VELARIO\\VELARIO2.MDB");
    return dirDbf;
}

std::unique_ptr<data::Catalogue> openCatalogue(const QString& location, bool readOnly,
                                               Error* error) {
    *error = {};
    std::unique_ptr<data::Catalogue> catalogue;
    if (!data::isServerUri(location)) {
        catalogue = openFile(location, readOnly, error);
    } else if (const auto address = data::readServerAddress(location, error)) {
        catalogue = data::serverCatalogue(*address, error);
    }
    if (catalogue)
        catalogue->setAuthor(loginName(), [] { return platform().now(); });
    return catalogue;
}

QString shownLocation(const QString& location) {
    return data::isServerUri(location) ? data::shownServer(location) : location;
}

QString catalogueOpeningMessage(const Error& error, const QString& location) {
    return QStringLiteral("ERRORE IN APERTURA DATABASE !!!\r\r") + errorNumberText(error.number) +
           QStringLiteral(" - ") + error.description + QStringLiteral("\r\r") +
           shownLocation(location);
}

QString loginName() {
    for (const char* variable : {"LOGNAME", "USER"})
        if (const QString name = qEnvironmentVariable(variable); !name.isEmpty())
            return name;
    const passwd* entry = ::getpwuid(::getuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(::getuid());
}

} // namespace velario
