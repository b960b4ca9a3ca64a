#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QIODevice>
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
    // For an event with a field whose value is too large to build as JSON values first (a
    // document of a million lines): the line up to that field's value. The caller appends
    // the value as JSON text and hands the line to finishLine.
    QByteArray startLine(const QString& event, QJsonObject fields, QLatin1String key);
    void finishLine(QByteArray& line);
    // The same with the rest of the value read from REST (from its current position) and
    // then TAIL.
    void finishLine(QByteArray& line, QIODevice* rest, const char* tail);

private:
    Transcript();
    QFile file_;
    QElapsedTimer clock_;
};

} // namespace velario
