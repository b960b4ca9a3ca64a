#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QString>

namespace velario {

// One JSON object per line, appended for every user-visible event, so that tests and
// tools outside the program can see exactly what the user was told.
class Transcript {
public:
    static Transcript& instance();

    // Opens FILE for appending; an empty path turns the transcript off.
    bool open(const QString& path);
    void close();
    bool isOpen() const { return file_.isOpen(); }

    // Restarts the clock that "t" counts from.
    void restartClock() { clock_.restart(); }

    void write(const QString& event, QJsonObject fields = {});
    // As write, with one more field KEY whose value is JSON text already: a value of millions
    // of elements costs its text only, not a tree of JSON values as well.
    void write(const QString& event, QJsonObject fields, QLatin1String key,
               const QByteArray& jsonValue);

private:
    Transcript();
    QFile file_;
    QElapsedTimer clock_;
};

} // namespace velario
