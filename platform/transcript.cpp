#include "transcript.h"

#include <QFileInfo>
#include <QJsonDocument>

namespace velario {

Transcript::Transcript() {
    clock_.start();
}

Transcript& Transcript::instance() {
    static Transcript transcript;
    return transcript;
}

bool Transcript::open(const QString& path) {
    close();
    if (path.isEmpty())
        return true;
    file_.setFileName(path);
    // A pipe or a terminal cannot be appended to, only written.
    const QFileInfo info(path);
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    if (!info.exists() || info.isFile())
        mode |= QIODevice::Append;
    return file_.open(mode);
}

void Transcript::close() {
    if (file_.isOpen())
        file_.close();
}

void Transcript::write(const QString& event, QJsonObject fields) {
    if (!file_.isOpen())
        return;
    fields.insert(QStringLiteral("t"), static_cast<qint64>(clock_.elapsed()));
    fields.insert(QStringLiteral("event"), event);
    QByteArray line = QJsonDocument(fields).toJson(QJsonDocument::Compact);
    line.append('\n');
    // One write per event keeps lines whole even if the program dies right after.
    file_.write(line);
}

QByteArray Transcript::startLine(const QString& event, QJsonObject fields, QLatin1String key) {
    if (!file_.isOpen())
        return {};
    fields.insert(QStringLiteral("t"), static_cast<qint64>(clock_.elapsed()));
    fields.insert(QStringLiteral("event"), event);
    QByteArray line = QJsonDocument(fields).toJson(QJsonDocument::Compact);
    // The object always has its two own fields, so the open one follows a comma.
    line.chop(1);
    line.append(",\"").append(key.data(), key.size()).append("\":");
    return line;
}

void Transcript::finishLine(QByteArray& line) {
    if (!file_.isOpen())
        return;
    line.append("}\n");
    file_.write(line);
}

void Transcript::finishLine(QByteArray& line, QIODevice* rest, const char* tail) {
    if (!file_.isOpen())
        return;
    file_.write(line);
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    qint64 read = 0;
    while ((read = rest->read(chunk.data(), chunk.size())) > 0)
        file_.write(chunk.constData(), read);
    // A value that could not be read back whole still ends, so the line stays JSON's.
    file_.write(QByteArray(tail) + "}\n");
}

} // namespace velario
