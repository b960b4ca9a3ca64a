#include "config.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace velario {
namespace {

const QString kConfigFile = QStringLiteral("VELARIO.ini");
constexpr qint64 kChunk = 64 * 1024;
constexpr int kKeyLength = 7;
constexpr int kValueStart = 8;

QString* slotFor(Configuration& config, const QString& key) {
    if (key == QLatin1String("RELEASE"))
        return &config.release;
    if (key == QLatin1String("UP_DATE"))
        return &config.upDate;
    if (key == QLatin1String("DIR_PRG"))
        return &config.dirPrg;
    if (key == QLatin1String("DIR_DBF"))
        return &config.dirDbf;
    if (key == QLatin1String("DIR_BTR"))
        return &config.dirBtr;
    if (key == QLatin1String("ANNO_DF"))
        return &config.annoDf;
    return nullptr;
}

QString decode(const QByteArray& bytes) {
    return QString::fromUtf8(bytes);
}

} // namespace

QString configurationFileIn(const QString& folder) {
    const QDir dir(folder);
    if (QFileInfo(dir.filePath(kConfigFile)).isFile())
        return dir.filePath(kConfigFile);
    // The messages call it VELARIO.INI, as a file system that ignores case would find it.
    const QStringList others =
        dir.entryList({kConfigFile}, QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    return others.isEmpty() ? QString() : dir.filePath(others.first());
}

QString missingConfigurationMessage(const QStringList& searched) {
    QString message = QStringLiteral("File di configurazione  VELARIO.INI  assente !!!\r\r") +
                      (searched.size() == 1 ? QStringLiteral("Cercato nella cartella:")
                                            : QStringLiteral("Cercato nelle cartelle:"));
    for (const QString& folder : searched)
        message += QLatin1Char('\r') + QDir::toNativeSeparators(folder);
    return message;
}

std::optional<Configuration> readConfiguration(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;

    Configuration config;
    // A line is read in chunks so that a huge line costs memory only when its key is known.
    QByteArray line;
    bool lineStarted = false;
    bool keep = true;
    QString* target = nullptr;

    const auto finishLine = [&] {
        if (line.endsWith('\r'))
            line.chop(1);
        if (keep) {
            const QString text = decode(line);
            if (QString* slot = slotFor(config, text.left(kKeyLength)))
                *slot = text.mid(kValueStart);
        }
        line.clear();
        lineStarted = false;
        keep = true;
        target = nullptr;
    };

    while (true) {
        QByteArray chunk = file.readLine(kChunk);
        if (chunk.isEmpty()) {
            if (file.error() != QFileDevice::NoError)
                return std::nullopt;
            break;
        }
        const bool complete = chunk.endsWith('\n');
        if (complete)
            chunk.chop(1);
        if (keep)
            line.append(chunk);
        if (!lineStarted) {
            lineStarted = true;
            // Decide on the key as soon as the first chunk is in: the rest of an unknown
            // line is never kept.
            const QString head = decode(line.left(4 * kKeyLength));
            target = slotFor(config, head.left(kKeyLength));
            keep = target != nullptr || line.size() < kKeyLength;
        }
        if (complete)
            finishLine();
        else if (file.atEnd())
            break;
    }
    if (lineStarted)
        finishLine();
    return config;
}

} // namespace velario
