#include "transcript.h"

#include <QBuffer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryFile>

namespace velario {

namespace {

// Copies what is left to read of FROM into TO, a megabyte at a time.
void copyRest(QIODevice& from, QIODevice& to) {
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    qint64 read = 0;
    while ((read = from.read(chunk.data(), chunk.size())) > 0)
        to.write(chunk.constData(), read);
}

} // namespace

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
    dropValue();
    if (file_.isOpen())
        file_.close();
}

void Transcript::write(const QString& event, QJsonObject fields) {
    if (!file_.isOpen())
        return;
    if (valueOpen_ && !aside_)
        moveValueAside();
    fields.insert(QStringLiteral("t"), static_cast<qint64>(clock_.elapsed()));
    fields.insert(QStringLiteral("event"), event);
    QByteArray line = QJsonDocument(fields).toJson(QJsonDocument::Compact);
    line.append('\n');
    // One write per event keeps lines whole even if the program dies right after.
    file_.write(line);
}

void Transcript::beginValue(const QString& event, QLatin1String key) {
    dropValue();
    if (!file_.isOpen())
        return;
    valueOpen_ = true;
    valueStart_ = file_.size();
    // A pipe or a terminal cannot take a line back: the line waits aside from the start.
    if (file_.isSequential())
        moveValueAside();
    QByteArray head =
        QJsonDocument(QJsonObject{{QStringLiteral("event"), event}}).toJson(QJsonDocument::Compact);
    head.chop(1);
    head.append(",\"").append(key.data(), key.size()).append("\":");
    valueTarget()->write(head);
}

void Transcript::appendValue(QByteArrayView json) {
    if (valueOpen_)
        valueTarget()->write(json.data(), json.size());
}

void Transcript::endValue(QByteArrayView tail, QJsonObject fields) {
    if (!valueOpen_)
        return;
    if (aside_) {
        aside_->seek(0);
        copyRest(*aside_, file_);
    }
    fields.insert(QStringLiteral("t"), static_cast<qint64>(clock_.elapsed()));
    QByteArray end = QJsonDocument(fields).toJson(QJsonDocument::Compact);
    // The object always has "t", so its fields follow the value after a comma.
    end[0] = ',';
    file_.write(tail.toByteArray() + end + '\n');
    aside_.reset();
    valueOpen_ = false;
}

void Transcript::dropValue() {
    if (!valueOpen_)
        return;
    if (!aside_)
        file_.resize(valueStart_);
    aside_.reset();
    valueOpen_ = false;
}

void Transcript::moveValueAside() {
    std::unique_ptr<QIODevice> aside;
    if (auto file = std::make_unique<QTemporaryFile>(); file->open())
        aside = std::move(file);
    else
        aside = std::make_unique<QBuffer>();
    if (!aside->isOpen())
        aside->open(QIODevice::ReadWrite);
    if (!file_.isSequential()) {
        QFile written(file_.fileName());
        if (written.open(QIODevice::ReadOnly) && written.seek(valueStart_)) {
            copyRest(written, *aside);
        }
        file_.resize(valueStart_);
    }
    aside_ = std::move(aside);
}

} // namespace velario
