#include "data/results/output_file.h"

#include "data/system_error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velario::data {

namespace {

// The descriptor PATH stands for when it names one of the program's own (/dev/stdout,
// /dev/fd/1, /proc/self/fd/1), else -1. Opening those again would truncate or reposition
// what the caller of the program set up; the descriptor itself is written to instead.
int ownDescriptor(const QString& path) {
    if (path == QLatin1String("/dev/stdout"))
        return STDOUT_FILENO;
    if (path == QLatin1String("/dev/stderr"))
        return STDERR_FILENO;
    for (const QLatin1String prefix : {QLatin1String("/dev/fd/"), QLatin1String("/proc/self/fd/")})
        if (path.startsWith(prefix)) {
            bool ok = false;
            const int fd = path.mid(prefix.size()).toInt(&ok);
            if (ok && fd >= 0)
                return fd;
        }
    return -1;
}

// Where PATH ends through its symbolic links. A loop is left to open() to report.
QString resolved(const QString& path) {
    QString at = path;
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo info(at);
        if (!info.isSymLink() || info.symLinkTarget().isEmpty())
            break;
        at = info.symLinkTarget();
    }
    return at;
}

// Why what is at PATH must not be replaced, or an empty text when it may be written.
QString refusal(const struct stat& st) {
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("è una cartella");
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return QStringLiteral("è un dispositivo, non un file");
    if (S_ISSOCK(st.st_mode))
        return QStringLiteral("è un socket, non un file");
    if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode))
        return QStringLiteral("non è un file");
    return {};
}

Error systemError(int errnum) {
    return Error::make(ErrorNumber::PermissionDenied, systemErrorText(errnum));
}

} // namespace

OutputFile::OutputFile(int fd, QString target, QString temporary)
    : fd_(fd), target_(std::move(target)), temporary_(std::move(temporary)) {
    QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

OutputFile::~OutputFile() {
    discard();
}

bool OutputFile::replacesFile(const QString& path) {
    struct stat st {};
    return ownDescriptor(path) < 0 &&
           ::stat(QFile::encodeName(resolved(path)).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

std::unique_ptr<OutputFile> OutputFile::standardOutput(Error* error) {
    return open(QStringLiteral("/dev/stdout"), true, error);
}

std::unique_ptr<OutputFile> OutputFile::open(const QString& path, bool waitForReader,
                                             Error* error) {
    const auto failed = [error](const Error& why) {
        *error = why;
        return nullptr;
    };
    if (path.isEmpty())
        return failed(Error::make(ErrorNumber::FileOpenFailed));
    if (const int own = ownDescriptor(path); own >= 0) {
        const int fd = ::fcntl(own, F_DUPFD_CLOEXEC, 0);
        if (fd < 0)
            return failed(systemError(errno));
        return std::unique_ptr<OutputFile>(new OutputFile(fd, {}, {}));
    }

    const QString target = resolved(path);
    const QByteArray name = QFile::encodeName(target);
    struct stat st {};
    const bool exists = ::stat(name.constData(), &st) == 0;
    if (!exists && errno != ENOENT)
        return failed(systemError(errno));
    if (exists) {
        if (const QString why = refusal(st); !why.isEmpty())
            return failed(Error::make(ErrorNumber::PathNotFound, why));
    }
    if (exists && S_ISFIFO(st.st_mode)) {
        // Opening a pipe waits for its reader: a window must not hang on one that never comes.
        int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 && errno == ENXIO && waitForReader)
            fd = ::open(name.constData(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            return failed(systemError(errno));
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        return std::unique_ptr<OutputFile>(new OutputFile(fd, {}, {}));
    }

    // Created with the usual permissions (the umask applies), or those of the file it will
    // replace.
    const QFileInfo info(target);
    const QString folder = info.absolutePath();
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString temporary = folder + QStringLiteral("/.") + info.fileName() + QLatin1Char('.');
        for (int i = 0; i < 6; ++i)
            temporary += QLatin1Char(char('a' + QRandomGenerator::global()->bounded(26)));
        const int fd = ::open(QFile::encodeName(temporary).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0 && errno == ENOENT && !QFileInfo(folder).isDir())
            return failed(Error::make(
                ErrorNumber::PathNotFound,
                QStringLiteral("la cartella %1 non esiste").arg(QDir::toNativeSeparators(folder))));
        if (fd < 0)
            return failed(systemError(errno));
        if (exists) {
            ::fchmod(fd, st.st_mode & 07777);
            if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
                // Only root may give the file back to its owner; anyone else keeps it.
                [[maybe_unused]] const int kept = ::fchown(fd, st.st_uid, st.st_gid);
            }
        }
        return std::unique_ptr<OutputFile>(new OutputFile(fd, target, temporary));
    }
    return failed(systemError(EEXIST));
}

qint64 OutputFile::writeData(const char* data, qint64 size) {
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, data + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            setErrorString(systemErrorText(errno));
            return done > 0 ? done : -1;
        }
        done += n;
    }
    return done;
}

Error OutputFile::commit() {
    if (fd_ < 0)
        return Error::make(ErrorNumber::FileOpenFailed);
    Error error;
    // Whether the data reached the disk shows at the latest here; a file system that cannot
    // say is not a failure.
    if (!target_.isEmpty() && ::fsync(fd_) != 0 &&
        (errno == EIO || errno == ENOSPC || errno == EDQUOT))
        error = systemError(errno);
    if (::close(fd_) != 0 && !error && !target_.isEmpty())
        error = systemError(errno);
    fd_ = -1;
    QIODevice::close();
    if (!error && !target_.isEmpty()) {
        const QByteArray target = QFile::encodeName(target_);
        // What took the name meanwhile is no more ours to replace than it was at the start.
        struct stat st {};
        if (::stat(target.constData(), &st) == 0 && !S_ISREG(st.st_mode))
            error = Error::make(ErrorNumber::PathNotFound,
                                S_ISFIFO(st.st_mode) ? QStringLiteral("è una pipe") : refusal(st));
        else if (::rename(QFile::encodeName(temporary_).constData(), target.constData()) != 0)
            error = systemError(errno);
        else
            temporary_.clear();
    }
    discard();
    return error;
}

void OutputFile::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.isEmpty()) {
        ::unlink(QFile::encodeName(temporary_).constData());
        temporary_.clear();
    }
    if (isOpen())
        QIODevice::close();
}

} // namespace velario::data
