#pragma once

#include "data/errors.h"
#include "platform/document_spool.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <QByteArrayView>

#include <initializer_list>
#include <memory>
#include <optional>

namespace velario {

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
    QString destination;    // printer name or the PDF file's path
    QList<PrintLine> lines; // only while the printer records lines (see setRecordLines)
    int pages = 0;          // 0 when the document could not be delivered
};

// The page documents are laid out on: A4, with side margins narrow enough for the reports'
// 106-character lines at 9 points in the fixed-pitch face (572 of A4's 595 points).
inline constexpr double kPageSideMarginInches = 0.15;
inline constexpr double kPageTopMarginInches = 0.25;

// The one printer of the program. Each line is laid out and sent on as soon as it ends,
// so a document of any length costs the memory of one page; whether the document was
// delivered is known, and reported, only by endDoc.
//
// Destination, chosen when a document starts: the PDF folder when one is set, else the
// system's default printer, else a PDF in defaultPdfFolder(). PDF files are A4 with
// narrow margins (like the unprintable border of a laser printer), are written under a
// hidden temporary name and are named velario-YYYYMMDD-HHMMSS-N.pdf after the program's
// clock once complete, N counting up so that no earlier file is replaced.
//
// Lines that do not fit on a page continue on the next one. A line wider than the page
// continues on the next line: after its last blank when that is in the second half of the
// line, else at the right edge (blanks that only end the line are never carried over). Each
// item of a print is laid out on its own, in its own writing direction, from the column it
// starts at: a Hebrew or Arabic field reads right to left without moving the fields after
// it, and the columns of a fixed-pitch line stay where they are whatever the faces that
// draw its characters (a wide character takes two columns, see charColumns).
//
// Every delivered document is written to the transcript as the event "document" with
// "destination" and "lines": one list per printed line (a line that continues on the next
// is two) of runs {text, font, size, bold, underline}, as printed; an empty line is an empty
// list.
//
// A document that goes to defaultPdfFolder() because there is no printer is shown to the
// user once delivered (see Platform::showDocument).
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
    // an item ("\r\n", "\n" or "\r") starting a new line; any other control character, and
    // the line and paragraph separators (U+2028, U+2029), print as a blank, on paper and in
    // the transcript alike. The line then ends unless openEnd, in which case the next print
    // continues it. The first print after endDoc starts a new document.
    void print(std::initializer_list<QString> items) { print(items, false); }
    void print(const QStringList& items, bool openEnd = false);
    void printOpen(std::initializer_list<QString> items) { print(items, true); }

    // Prints LINE, printable ASCII only (0x20 to 0x7E) as the caller knows, and ends the
    // line: the same as print({line}) with LINE as a string, without ever converting it to
    // UTF-16 (the lines of a result's rows, most of the time).
    void printAsciiLine(QByteArrayView line);

    // The columns of the current face and size that one line of the document in progress
    // holds, as far as the destination tells (0 when it does not).
    int lineColumns() const;

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
    // Keeps the lines of the documents in lastDocument() (for tools that inspect them);
    // off by default, since a report may run to millions of lines.
    void setRecordLines(bool on) { recordLines_ = on; }

    // Drops the document in progress and goes back to the initial font.
    void reset();

    class Surface;
    ~Printer();

private:
    Printer();
    void print(std::initializer_list<QString> items, bool openEnd) {
        print(QStringList(items), openEnd);
    }
    // Nothing separates the items, so a "\r" ending one and a "\n" starting the next make
    // one line break, as they would in the joined text; ITEMSTARTS are where the items
    // after the first start in TEXT.
    void printText(const QString& text, const QList<qsizetype>& itemStarts, bool openEnd);
    void startItem();
    void endPrintedLine(PrintLine& line, QList<qsizetype>& items);
    std::optional<qsizetype> breakOf(const PrintLine& line) const;
    void startDocument();
    void append(const QString& text);
    void endLine();
    bool makeRoom(double height);
    void layOut(const PrintLine& line, const QList<qsizetype>& items);
    double drawPiece(QStringView text, const PrintFont& font, double x, double baseline);
    void spool(const PrintLine& line);

    PrintFont font_;
    QString pdfFolder_;
    bool started_ = false;
    bool recordLines_ = false;
    PrintLine line_;
    qsizetype lineLength_ = 0;
    QList<qsizetype> items_; // where the items of line_ start, after its first
    QList<PrintLine> lines_;
    PrintDocument last_;
    std::unique_ptr<Surface> surface_;
    Error surfaceError_;
    bool surfaceBroken_ = false;
    QString destination_;
    bool toDefaultFolder_ = false;
    double y_ = 0;
    DocumentSpool spool_;
};

} // namespace velario
