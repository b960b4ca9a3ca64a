#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace velario {

// The attributes of printed text. The face keeps the name exactly as the report set it;
// matching it to an installed face is left to fontconfig ("COURIER NEW" -> Liberation Mono).
struct PrintFont {
    QString name = QStringLiteral("Courier New");
    float size = 10.0f; // points, as in effect (see Printer::fontSize)
    bool bold = false;
    bool underline = false;

    // Asked line after line of copies of one font, whose names share their text.
    friend bool operator==(const PrintFont& a, const PrintFont& b) {
        return a.size == b.size && a.bold == b.bold && a.underline == b.underline &&
               (a.name.constData() == b.name.constData() || a.name == b.name);
    }
};

// The lines of the document being printed, for the transcript's "document" event:
// "destination" and "lines", one list per line of runs {text, font, size, bold, underline}
// (the size on the printer's twentieth-point grid, written in its shortest form),
// an empty line an empty list. A report may run to millions of lines, so they go to the
// transcript as they are printed, never all in memory. Without an open transcript nothing
// is kept.
class DocumentSpool {
public:
    DocumentSpool();
    ~DocumentSpool();
    DocumentSpool(const DocumentSpool&) = delete;
    DocumentSpool& operator=(const DocumentSpool&) = delete;

    // Starts the lines of a new document, dropping any kept.
    void start();
    bool active() const { return active_; }

    void beginLine();
    void addRun(const QString& text, const PrintFont& font);
    void endLine();
    // A line of one run of printable ASCII (0x20 to 0x7E); an empty TEXT is an empty line.
    void addAsciiLine(QByteArrayView text, const PrintFont& font);

    // Writes the event for the document delivered to DESTINATION, and drops the lines.
    void deliver(const QString& destination);
    void drop();

private:
    const QByteArray& fontJson(const PrintFont& font);
    void flushIfFull();

    bool active_ = false;
    QByteArray buffer_;
    PrintFont font_;
    QByteArray fontJson_;
    qint64 lines_ = 0;
    bool runsInLine_ = false;
};

} // namespace velario
