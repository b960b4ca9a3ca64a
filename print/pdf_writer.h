#pragma once

#include <QByteArray>
#include <QFont>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <cstdio>
#include <memory>
#include <vector>

namespace velario {

class PdfFont;

// Writes a text-only PDF straight to a file, page by page as the pages fill, so that a
// document of a million lines costs neither the memory of the whole document nor the
// per-glyph positioning of a general painting engine. Each face used is embedded once,
// reduced to the glyphs the document uses, with the Unicode of every glyph so that the
// text can be searched and copied.
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

    // A handle for FONT (its family, weight and style; the size is given when drawing).
    PdfFont* font(const QFont& font);

    // Draws TEXT at SIZE points with its left end of the baseline at (X, BASELINE);
    // returns its advance in points. Characters the face lacks are taken from the faces
    // the system substitutes for it.
    double drawText(PdfFont* font, double size, double x, double baseline, QStringView text);
    void fillRect(const QRectF& rect);

    double ascent(PdfFont* font, double size) const;
    double descent(PdfFont* font, double size) const;
    double lineSpacing(PdfFont* font, double size) const;
    double underlinePosition(PdfFont* font, double size) const;
    double lineThickness(PdfFont* font, double size) const;

    // Writes the fonts and the trailer and closes the file; false when anything could
    // not be written.
    bool finish();
    bool failed() const { return failed_; }
    int pages() const { return int(pageObjects_.size()); }

private:
    int reserveObject();
    void startObject(int number);
    void write(const char* data, size_t size);
    void write(const QByteArray& data) { write(data.constData(), size_t(data.size())); }
    void writeStream(int number, const QByteArray& dictionary, const QByteArray& data,
                     bool compress);
    void endPage();
    void selectFont(PdfFont* font, double size);
    void moveTo(double x, double y);
    double drawFallback(PdfFont* font, double size, double x, double baseline, QStringView text);
    void writeFont(PdfFont& font);

    std::FILE* file_ = nullptr;
    bool failed_ = false;
    qint64 offset_ = 0;
    std::vector<qint64> objectOffsets_; // by object number - 1; -1 while reserved
    int pagesObject_ = 0;
    int resourcesObject_ = 0;
    std::vector<int> pageObjects_;
    QSizeF pageSize_;
    QRectF clip_;
    QByteArray content_;
    bool inText_ = false;
    PdfFont* currentFont_ = nullptr;
    double currentSize_ = 0;
    bool lineStartKnown_ = false;
    double lineX_ = 0;
    double lineY_ = 0;
    std::vector<std::unique_ptr<PdfFont>> fonts_;
    std::vector<int> glyphs_;
};

} // namespace velario
