#include "data/query/remembered_answers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace velario::data {

namespace {

QJsonObject readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QString key(const QString& name) {
    return name.toCaseFolded();
}

} // namespace

QString RememberedAnswers::answer(const QString& code, const QString& name) const {
    return readAll(file_).value(code).toObject().value(key(name)).toString();
}

bool RememberedAnswers::remember(const QString& code, const ParameterAnswers& answers) const {
    QJsonObject all = readAll(file_);
    QJsonObject entry = all.value(code).toObject();
    for (const auto& [name, answer] : answers)
        entry.insert(key(name), answer);
    all.insert(code, entry);
    // Written whole under another name first: a program stopped half way leaves the old file.
    QSaveFile file(file_);
    return QDir().mkpath(QFileInfo(file_).absolutePath()) && file.open(QIODevice::WriteOnly) &&
           file.write(QJsonDocument(all).toJson()) >= 0 && file.commit();
}

} // namespace velario::data
