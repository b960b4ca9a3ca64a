#include "data/access/access_copy.h"

#include "data/access/access_pages.h"
#include "data/access/copy_writer.h"
#include "data/file_identity.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <atomic>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

// Where the copies live and when one is made again: a copy is named by its Access file's path
// and state, so that a file changed since gives another name, and takes that name only once
// complete.
namespace velario::data {
namespace {

// What decides whether a cached copy still matches its Access file.
// The Access file as it was when its copy was made; nullopt when it is not a regular file.
std::optional<FileIdentity> stampOf(const QString& path) {
    const std::optional<FileIdentity> identity = fileIdentity(path);
    if (!identity || !identity->regular)
        return std::nullopt;
    return identity;
}

QString cacheFolder() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (!base.isEmpty()) {
        const QString folder = base + QStringLiteral("/access");
        if (QDir().mkpath(folder))
            return folder;
    }
    // A folder of our own in the shared temp area: refuse one that someone else made.
    const QString folder = QDir::temp().filePath(QStringLiteral("velario-access-%1").arg(getuid()));
    if (!QDir().mkpath(folder) || QFileInfo(folder).ownerId() != getuid())
        return {};
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return folder;
}

QMutex buildMutex;

// Builds the copy of SOURCE as TARGET, through a temporary file in the same folder so that
// TARGET either does not exist or is complete.
bool buildCopy(const QString& source, qint64 size, const QString& target, Error* error,
               const std::atomic<bool>* cancel) {
    access::MdbPtr mdb(mdb_open(QFile::encodeName(source).constData(), MDB_NOFLAGS));
    if (!mdb) {
        *error = Error::make(
            ErrorNumber::UnrecognizedFormat,
            QStringLiteral("Il file '%1' non è un database Access leggibile.").arg(source));
        return false;
    }
    if (access::encryptedWithPassword(mdb.get(), source)) {
        *error = Error::make(ErrorNumber::InvalidPassword,
                             QStringLiteral("Il file Access '%1' è protetto da password o cifrato: "
                                            "il programma non lo può leggere.")
                                 .arg(source));
        return false;
    }
    const qint64 pageSize = mdb->fmt->pg_size;
    if (pageSize <= 0 || size % pageSize != 0 || size < 3 * pageSize) {
        *error = Error::make(ErrorNumber::UnrecognizedFormat,
                             QStringLiteral("Il file Access '%1' è danneggiato o incompleto: la "
                                            "sua lunghezza non è un numero intero di pagine.")
                                 .arg(source));
        return false;
    }

    QTemporaryFile partial(target + QStringLiteral(".XXXXXX.tmp"));
    if (!partial.open()) {
        *error = Error::make(ErrorNumber::EngineError,
                             QStringLiteral("Impossibile creare la copia di lavoro del file "
                                            "Access '%1' in '%2'.")
                                 .arg(source, QFileInfo(target).absolutePath()));
        return false;
    }
    partial.close();
    if (!access::writeCopy(mdb.get(), source, size, partial.fileName(), error, cancel))
        return false;

    // On disk before it takes the final name, so that a crash leaves no half copy under it.
    const int fd = ::open(QFile::encodeName(partial.fileName()).constData(), O_RDONLY);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    if (!synced || ::rename(QFile::encodeName(partial.fileName()).constData(),
                            QFile::encodeName(target).constData()) != 0) {
        *error = Error::make(ErrorNumber::EngineError,
                             QStringLiteral("Impossibile salvare la copia di lavoro del file "
                                            "Access '%1'.")
                                 .arg(source));
        return false;
    }
    partial.setAutoRemove(false);
    const int folder = ::open(QFile::encodeName(QFileInfo(target).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

// Copies of the same Access file under an older stamp; a partial one only when old enough
// that no build can still be writing it.
void removeStaleCopies(const QString& folder, const QString& stem, const QString& keep) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QFileInfoList entries =
        QDir(folder).entryInfoList({stem + QStringLiteral("-*")}, QDir::Files | QDir::Hidden);
    for (const QFileInfo& entry : entries) {
        if (entry.fileName() == keep)
            continue;
        if (entry.fileName().endsWith(QLatin1String(".tmp")) &&
            entry.lastModified().toUTC().secsTo(now) < 24 * 3600)
            continue;
        QFile::remove(entry.absoluteFilePath());
    }
}

} // namespace

QString accessCopyFor(const QString& accessPath, Error* error, const std::atomic<bool>* cancel) {
    Error local;
    Error* failure = error ? error : &local;
    const QString source = QFileInfo(accessPath).absoluteFilePath();
    std::optional<FileIdentity> stamp = stampOf(source);
    if (!stamp) {
        *failure = Error::make(ErrorNumber::FileNotFound,
                               QStringLiteral("Impossibile trovare il file '%1'.").arg(source));
        return {};
    }
    const QString folder = cacheFolder();
    if (folder.isEmpty()) {
        *failure = Error::make(ErrorNumber::EngineError,
                               QStringLiteral("Nessuna cartella disponibile per la copia di lavoro "
                                              "del file Access '%1'.")
                                   .arg(source));
        return {};
    }
    const QString stem = QString::fromLatin1(
        QCryptographicHash::hash(source.toUtf8(), QCryptographicHash::Sha1).toHex().left(24));

    QMutexLocker lock(&buildMutex);
    // A file still being written may change under the reader: read it again, once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const QString name = QStringLiteral("%1-%2-%3-%4-%5.sqlite")
                                 .arg(stem)
                                 .arg(access::kCopyFormat)
                                 .arg(stamp->size)
                                 .arg(stamp->mtimeNs)
                                 .arg(stamp->inode);
        const QString target = folder + QLatin1Char('/') + name;
        if (QFileInfo(target).isFile())
            return target;
        if (!buildCopy(source, stamp->size, target, failure, cancel))
            return {};
        const std::optional<FileIdentity> after = stampOf(source);
        if (after && *after == *stamp) {
            removeStaleCopies(folder, stem, name);
            return target;
        }
        QFile::remove(target);
        stamp = stampOf(source);
        if (!stamp)
            break;
    }
    *failure =
        Error::make(ErrorNumber::EngineError,
                    QStringLiteral("Il file Access '%1' è cambiato durante la lettura: riprovare.")
                        .arg(source));
    return {};
}

} // namespace velario::data
