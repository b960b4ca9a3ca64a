// The configuration reader on arbitrary file contents: it must read any file without
// failing, and every value it keeps comes from a line that starts with its key.
#include "app/config.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

QTemporaryDir* folder = nullptr;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!folder)
        folder = new QTemporaryDir; // lives for the whole run
    const QString path = folder->filePath(QStringLiteral("VELARIO.ini"));
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(content);
    }
    const std::optional<velario::Configuration> config = velario::readConfiguration(path);
    if (!config)
        std::abort();
    // A value is the rest of one of the file's lines: never longer than the file.
    for (const QString* value : {&config->release, &config->upDate, &config->dirPrg,
                                 &config->dirDbf, &config->dirBtr, &config->annoDf}) {
        if (value->toUtf8().size() > content.size() * 3)
            std::abort();
    }
    if (!config->dirDbf.isEmpty() && !content.contains("DIR_DBF"))
        std::abort();
    return 0;
}
