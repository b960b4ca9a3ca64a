#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFont>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct libdeflate_compressor;

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
    // The same for TEXT of printable ASCII only (0x20 to 0x7E).
    double drawAscii(PdfFont* font, double size, double x, double baseline, QByteArrayView text);
    void fillRect(const QRectF& rect);

    double ascent(PdfFont* font, double size) const;
    double descent(PdfFont* font, double size) const;
    double lineSpacing(PdfFont* font, double size) const;
    double underlinePosition(PdfFont* font, double size) const;
    double lineThickness(PdfFont* font, double size) const;

    // Writes the fonts and the trailer and closes the file; false when anything could
    // not be written.
    bool finish();
    bool failed() const { return failed_.load(); }
    int pages() const { return int(pageObjects_.size()); }

private:
    int reserveObject();
    void startObject(int number);
    void write(const char* data, size_t size);
    void write(const QByteArray& data) { write(data.constData(), size_t(data.size())); }
    void writeStream(int number, const QByteArray& dictionary, const QByteArray& data,
                     bool compress);
    void endPage();
    template <typename Char>
    double drawGlyphs(PdfFont* font, double size, double x, double baseline, const Char* chars,
                      qsizetype length);
    double drawAdoptedAscii(PdfFont* font, double size, double x, double baseline,
                            QByteArrayView text);
    void selectFont(PdfFont* font, double size);
    bool moveTo(double x, double y, bool nextLine);
    void appendRect(const QRectF& rect);
    double drawFallback(PdfFont* font, double size, double x, double baseline, QStringView text);
    void writeFont(PdfFont& font);

    struct PageJob {
        int contents = 0;
        int page = 0;
        QByteArray content;
    };
    void writePage(const PageJob& job);
    void drain();

    struct FreeCompressor {
        void operator()(libdeflate_compressor* compressor) const;
    };
    // Used by whichever thread is writing to the file.
    std::unique_ptr<libdeflate_compressor, FreeCompressor> compressor_;
    std::unique_ptr<char[]> fileBuffer_; // outlives file_, which the destructor closes
    std::FILE* file_ = nullptr;
    std::atomic<bool> failed_ = false;
    qint64 offset_ = 0;
    int objects_ = 0;
    std::vector<std::pair<int, qint64>> offsets_; // object number, where it starts

    // Pages are compressed and written by a second thread while the next ones are laid
    // out; only it touches the file until drain() has stopped it.
    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable workReady_;
    std::condition_variable roomFree_;
    bool layoutWaiting_ = false;
    std::deque<PageJob> jobs_;
    bool stopping_ = false;
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
    double lineX_ = 0; // where the reader has the line start
    double lineY_ = 0;
    double leading_ = 0; // the page's text leading (TL) as set
    struct Move {
        qint64 dx = 0;
        qint64 dy = 0;
        QByteArray text;
    };
    std::array<Move, 2> moves_;
    size_t nextMove_ = 0;
    std::vector<std::unique_ptr<PdfFont>> fonts_;
};

} // namespace velario
