#pragma once

#include "platform/errors.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <initializer_list>

namespace velario {

// The attributes of printed text. The face keeps the name exactly as the report set it;
// matching it to an installed face is left to fontconfig ("COURIER NEW" -> Liberation Mono).
struct PrintFont {
    QString name = QStringLiteral("Courier New");
    float size = 10.0f; // points, as in effect (see Printer::fontSize)
    bool bold = false;
    bool underline = false;

    friend bool operator==(const PrintFont&, const PrintFont&) = default;
};

// A maximal piece of one line printed in one font.
struct PrintRun {
    QString text;
    PrintFont font;

    friend bool operator==(const PrintRun&, const PrintRun&) = default;
};

// An empty line has no runs; its height is that of the font in effect when it ended.
struct PrintLine {
    QList<PrintRun> runs;
    PrintFont endFont;
};

struct PrintDocument {
    QString destination; // printer name or the PDF file's path
    QList<PrintLine> lines;
    int pages = 0; // 0 when the document could not be delivered
};

// The page documents are laid out on: A4, with side margins narrow enough for the reports'
// 106-character lines at 9 points in the fixed-pitch face (572 of A4's 595 points).
inline constexpr double kPageSideMarginInches = 0.15;
inline constexpr double kPageTopMarginInches = 0.25;

// The one printer of the program. Text is collected line by line while a report prints
// and laid out only when the document ends, so delivery problems surface in endDoc.
//
// Destination: the PDF folder when one is set, else the system's default printer, else
// a PDF in defaultPdfFolder(). PDF files are A4 with quarter-inch margins (like the
// unprintable border of a laser printer) and are named velario-YYYYMMDD-HHMMSS-N.pdf
// after the program's clock, N counting up so that no earlier file is replaced.
//
// Lines that do not fit on a page continue on the next one; text beyond the right margin
// is clipped.
//
// Every delivered document is written to the transcript as the event "document" with
// "destination" and "lines": one list per line of runs {text, font, size, bold,
// underline}; an empty line is an empty list.
class Printer {
public:
    static Printer& instance();

    Error setFontName(const QString& name);
    QString fontName() const { return font_.name; }

    // Sizes are laid out on a 1440-dpi grid: the size in effect is the one written rounded
    // to 1/20 point (so whole and half points stay exact) and kept within 1..720 points.
    Error setFontSize(float points);
    float fontSize() const { return font_.size; }

    void setFontBold(bool on) { font_.bold = on; }
    bool fontBold() const { return font_.bold; }
    void setFontUnderline(bool on) { font_.underline = on; }
    bool fontUnderline() const { return font_.underline; }

    // Prints the items one after the other from the current position, a line break in
    // an item ("\r\n", "\n" or "\r") starting a new line. The line then ends unless
    // openEnd, in which case the next print continues it. The first print after endDoc
    // starts a new document.
    void print(std::initializer_list<QString> items) { print(QStringList(items), false); }
    void print(const QStringList& items, bool openEnd = false);
    void printOpen(std::initializer_list<QString> items) { print(QStringList(items), true); }

    // Ends the document and delivers it. Without anything printed since the last
    // endDoc there is nothing to deliver and nothing happens.
    Error endDoc();

    // An empty folder means: the default printer, or defaultPdfFolder() without one.
    void setPdfFolder(const QString& folder) { pdfFolder_ = folder; }
    QString pdfFolder() const { return pdfFolder_; }
    // The "velario" folder in the user's documents folder; created when first needed.
    static QString defaultPdfFolder();

    // The last ended document, delivered or not.
    const PrintDocument& lastDocument() const { return last_; }

    // Drops the document in progress and goes back to the initial font.
    void reset();

private:
    Printer() = default;
    void append(const QString& text);
    void endLine();

    PrintFont font_;
    QString pdfFolder_;
    bool started_ = false;
    bool lineOpen_ = false;
    PrintLine line_;
    QList<PrintLine> lines_;
    PrintDocument last_;
};

} // namespace velario
