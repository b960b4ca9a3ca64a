// The Access file reader on mutated files: any file either gives a working copy that SQLite
// can read through, or an error with a description.
#include "data/access/access_copy.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>

namespace {

QTemporaryDir* folder = nullptr;

bool readable(const QString& copy) {
    sqlite3* db = nullptr;
    bool ok = sqlite3_open_v2(QFile::encodeName(copy).constData(), &db, SQLITE_OPEN_READONLY,
                              nullptr) == SQLITE_OK &&
              sqlite3_exec(db, "PRAGMA integrity_check", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    folder = new QTemporaryDir; // lives for the whole run
    qputenv("XDG_CACHE_HOME", QFile::encodeName(folder->filePath(QStringLiteral("cache"))));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = folder->filePath(QStringLiteral("input.mdb"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    velario::Error error;
    const QString copy = velario::data::accessCopyFor(path, &error);
    if (copy.isEmpty()) {
        if (!error || error.description.isEmpty())
            std::abort();
    } else {
        if (!readable(copy))
            std::abort();
        QFile::remove(copy);
    }
    return 0;
}
