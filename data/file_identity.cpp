#include "data/file_identity.h"

#include <QFile>

#include <sys/stat.h>

namespace velario::data {

std::optional<FileIdentity> fileIdentity(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileIdentity{quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
                        qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                        S_ISREG(st.st_mode)};
}

} // namespace velario::data
