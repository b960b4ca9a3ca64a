#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QIODevice>
#include <QJsonObject>
#include <QString>

#include <memory>

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
    // An event with a field whose value is too large to build first (a document of a million
    // lines), written as it grows. beginValue writes the line up to the value of KEY,
    // appendValue adds JSON text to the value, endValue ends the value with TAIL and the
    // line with FIELDS and "t", taken then. The line goes straight into the file, so that it
    // is written once; while it is open, an event written meanwhile first moves it aside to
    // a temporary file, and endValue writes it from there: every event stays whole and in
    // the order it happened. dropValue takes the open line back.
    void beginValue(const QString& event, QLatin1String key);
    void appendValue(QByteArrayView json);
    void endValue(QByteArrayView tail, QJsonObject fields);
    void dropValue();

private:
    Transcript();
    void moveValueAside();
    QIODevice* valueTarget() { return aside_ ? aside_.get() : &file_; }

    QFile file_;
    QElapsedTimer clock_;
    bool valueOpen_ = false;
    qint64 valueStart_ = 0; // where the open line starts in the file
    std::unique_ptr<QIODevice> aside_;
};

} // namespace velario
