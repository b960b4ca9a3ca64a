#pragma once

#include <QByteArrayView>
#include <QFont>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <memory>

namespace velario {

class PdfFont;

// Writes a text-only PDF straight to a file, page by page as the pages fill, so that a
// document of a million lines costs neither the memory of the whole document nor the
// per-glyph positioning of a general painting engine. Each face used is embedded once,
// reduced to the glyphs the document uses, with the Unicode of every glyph; where glyphs
// alone do not tell the text (a letter with marks, a ligature, right-to-left clusters, a
// character no face has), the text they were shaped from goes with them, so that every
// character is searched and copied as it was printed.
//
// Coordinates are points from the top left corner of the page; text is placed by its
// baseline. Everything drawn on a page is clipped to the clip rectangle.
class PdfWriter {
public:
    PdfWriter();
    ~PdfWriter();
    PdfWriter(const PdfWriter&) = delete;
    PdfWriter& operator=(const PdfWriter&) = delete;

    // Starts the document in PATH (created or truncated) with its first page.
    bool begin(const QString& path, QSizeF pageSize, QRectF clip, const QString& creator);
    void newPage();

    // A handle for FONT (its family, weight and style; the size is given when drawing),
    // valid as long as the writer.
    PdfFont* font(const QFont& font);

    // Draws TEXT at SIZE points with its left end of the baseline at (X, BASELINE);
    // returns its advance in points. Characters the face lacks are taken from the faces
    // the system substitutes for it, and shown as U+FFFD (or "?") where none has them, though
    // copied as themselves. The text is laid out in the direction of its first letter that
    // has one.
    double drawText(PdfFont* font, double size, double x, double baseline, QStringView text);
    // The same for TEXT of printable ASCII only (0x20 to 0x7E).
    double drawAscii(PdfFont* font, double size, double x, double baseline, QByteArrayView text);
    void fillRect(const QRectF& rect);

    double ascent(PdfFont* font, double size) const;
    double descent(PdfFont* font, double size) const;
    double lineSpacing(PdfFont* font, double size) const;
    double underlinePosition(PdfFont* font, double size) const;
    double lineThickness(PdfFont* font, double size) const;
    // The advance of C in the face itself (0 when it lacks C), and whether the face says
    // that all its characters advance alike.
    double advance(PdfFont* font, double size, char16_t c) const;
    bool fixedPitch(PdfFont* font) const;

    // Writes the fonts and the trailer and closes the file; false when anything could
    // not be written.
    bool finish();
    bool failed() const;
    int pages() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace velario
