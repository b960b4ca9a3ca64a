#include "pdf_writer.h"

#include <hb-subset.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "data/text/ascii_scan.h"
#include "page_deflater.h"

#include <QFile>
#include <QFontMetricsF>
#include <QRawFont>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>

namespace velario {

namespace {

quint16 u16(const QByteArray& table, qsizetype at) {
    if (at < 0 || at + 2 > table.size())
        return 0;
    return quint16((quint8(table[at]) << 8) | quint8(table[at + 1]));
}

qint16 s16(const QByteArray& table, qsizetype at) {
    return qint16(u16(table, at));
}

quint32 u32(const QByteArray& table, qsizetype at) {
    return (quint32(u16(table, at)) << 16) | u16(table, at + 2);
}

// Numbers as PDF writes them: at most three decimals, no exponent, no trailing zeros.
void appendNumber(QByteArray& out, double value) {
    const double scaled = std::round(value * 1000);
    if (!(std::abs(scaled) < 9e15)) {
        out.append('0');
        return;
    }
    auto milli = static_cast<long long>(scaled);
    char buffer[32];
    char* end = buffer + sizeof buffer;
    char* at = end;
    const bool negative = milli < 0;
    unsigned long long rest = negative ? 0ull - static_cast<unsigned long long>(milli)
                                       : static_cast<unsigned long long>(milli);
    const unsigned fraction = unsigned(rest % 1000);
    rest /= 1000;
    if (fraction != 0) {
        int digits[3] = {int(fraction / 100), int(fraction / 10 % 10), int(fraction % 10)};
        int last = 2;
        while (digits[last] == 0)
            --last;
        for (int i = last; i >= 0; --i)
            *--at = char('0' + digits[i]);
        *--at = '.';
    }
    do {
        *--at = char('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (negative)
        *--at = '-';
    out.append(at, end - at);
}

// VALUE written so that a reader reads back the very same number.
void appendExactNumber(QByteArray& out, double value) {
    char buffer[400];
    const auto [end, failed] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (failed != std::errc())
        appendNumber(out, value);
    else
        out.append(buffer, end - buffer);
}

QByteArray number(double value) {
    QByteArray out;
    appendNumber(out, value);
    return out;
}

QByteArray hex4(quint32 value) {
    return QByteArray::number(value, 16).rightJustified(4, '0').toUpper();
}

// The face's own PostScript name, which viewers show and match; without one, the family
// and style with the blanks taken out.
QByteArray postScriptName(const QRawFont& raw) {
    const QByteArray name = raw.fontTable("name");
    const int count = u16(name, 2);
    const int strings = u16(name, 4);
    for (int i = 0; i < count; ++i) {
        const qsizetype record = 6 + qsizetype(i) * 12;
        if (u16(name, record + 6) != 6)
            continue;
        const int platform = u16(name, record);
        const int length = u16(name, record + 8);
        const qsizetype at = strings + u16(name, record + 10);
        if (at + length > name.size())
            continue;
        QByteArray text;
        if (platform == 3 || platform == 0) {
            for (int j = 0; j + 1 < length; j += 2)
                text.append(char(u16(name, at + j)));
        } else {
            text = name.mid(at, length);
        }
        if (!text.isEmpty())
            return text;
    }
    QByteArray fallback = (raw.familyName() + raw.styleName()).toLatin1();
    fallback.replace(' ', QByteArray());
    return fallback.isEmpty() ? QByteArrayLiteral("Font") : fallback;
}

bool fastScript(char16_t c) {
    // Scripts drawn glyph for glyph, without combining marks or shaping.
    return (c >= 0x20 && c < 0x7F) || (c >= 0xA0 && c < 0x0300) || (c >= 0x0370 && c < 0x0483) ||
           (c >= 0x048A && c < 0x0590) || (c >= 0x1E00 && c < 0x2000) ||
           (c >= 0x2010 && c < 0x2028) || (c >= 0x2030 && c < 0x205F) ||
           (c >= 0x20A0 && c < 0x20C0) || (c >= 0x2100 && c < 0x2C00);
}

} // namespace

class PdfFont {
public:
    PdfFont(const QFont& request, const QRawFont& font, int object, int index)
        : qfont(request), raw(font), objectNumber(object) {
        resourceName = "F" + QByteArray::number(index);
        unitsPerEm = raw.unitsPerEm() > 0 ? raw.unitsPerEm() : 1000;
        raw.setPixelSize(unitsPerEm);
        const QByteArray maxp = raw.fontTable("maxp");
        glyphCount = std::max<int>(1, u16(maxp, 4));
        const QByteArray hhea = raw.fontTable("hhea");
        const QByteArray hmtx = raw.fontTable("hmtx");
        const int metrics = std::max<int>(1, u16(hhea, 34));
        advances.resize(size_t(glyphCount));
        for (int g = 0; g < glyphCount; ++g)
            advances[size_t(g)] = u16(hmtx, qsizetype(std::min(g, metrics - 1)) * 4);
        unicode.assign(size_t(glyphCount), 0);
        used.assign(size_t(glyphCount), 0);
        used[0] = 1;
        fixedPitch = u32(raw.fontTable("post"), 12) != 0;
        baseName = postScriptName(raw);
        compact = glyphCount <= 0x8000;
    }

    // A face of up to 32768 glyphs is shown through its own encoding: printable ASCII in
    // one byte, the character's own, and every other glyph in two, 0x8000 plus its number.
    // Report text is mostly ASCII, so pages carry half the bytes to lay out and deflate.
    // Larger faces take their glyph numbers as they are (Identity-H).
    quint32 glyphCode(int gid) const { return compact ? 0x8000u | quint32(gid) : quint32(gid); }

    // What drawing C takes, in one word (kept in drawings): the bytes its glyph takes in a
    // PDF string, escaped where needed (up to four, in the low 32 bits), their number above
    // them, and its advance in the top 16 bits; 0 when C needs the fallback (the face lacks
    // it, or its script needs shaping). A glyph found is taken as used by C.
    Q_NEVER_INLINE quint64 learnDrawing(char16_t c) {
        const QChar ch(c);
        quint32 index = 0;
        int count = 1;
        if (fastScript(c))
            raw.glyphIndexesForChars(&ch, 1, &index, &count);
        const int g = (count == 1 && index < quint32(glyphCount)) ? int(index) : 0;
        quint64 code = 0;
        if (g != 0) {
            use(g, c);
            int length = 0;
            const auto put = [&](char byte) {
                if (byte == '(' || byte == ')' || byte == '\\' || byte == '\r')
                    code |= quint64('\\') << (8 * length++);
                code |= quint64(quint8(byte == '\r' ? 'r' : byte)) << (8 * length++);
            };
            if (compact && c >= 0x20 && c < 0x7F) {
                asciiGlyphs[c] = quint16(g);
                put(char(c));
            } else {
                const quint32 bytes = glyphCode(g);
                put(char(bytes >> 8));
                put(char(bytes & 0xFF));
            }
            code |= quint64(length) << 32 | quint64(advances[size_t(g)]) << 48;
        }
        drawings[c] = code;
        return code;
    }

    // Whether ASCII text may take the short way, with no bookkeeping per character: once
    // the face has drawn a few lines of it, all of printable ASCII joins its subset (a long
    // document would use most of it anyway). Never for a face that lacks some of it.
    bool asciiAdopted(qsizetype length) {
        if (asciiReady || asciiLacking || !compact)
            return asciiReady;
        asciiSeen += length;
        constexpr qint64 kAdoptAfter = 4096;
        if (asciiSeen < kAdoptAfter)
            return false;
        quint16 pitch = 0;
        bool uniform = true;
        for (char16_t c = 0x20; c < 0x7F; ++c) {
            quint64 code = drawings[c];
            if (code == kUnknown)
                code = learnDrawing(c);
            if (code == 0) {
                asciiLacking = true;
                return false;
            }
            const auto advance = quint16(code >> 48);
            uniform = uniform && (pitch == 0 || pitch == advance);
            pitch = advance;
        }
        asciiPitch = uniform ? pitch : 0;
        asciiReady = true;
        return true;
    }

    void use(int gid, char32_t c) {
        if (gid < 0 || gid >= glyphCount)
            return;
        used[size_t(gid)] = 1;
        if (unicode[size_t(gid)] == 0)
            unicode[size_t(gid)] = c;
    }

    double scale(double size) const { return size / unitsPerEm; }

    QFont qfont;
    QRawFont raw;
    int objectNumber;
    QByteArray resourceName;
    QByteArray baseName;
    int unitsPerEm = 1000;
    int glyphCount = 1;
    bool fixedPitch = false;
    bool compact = true;
    std::array<quint16, 0x80> asciiGlyphs{}; // the glyph each one-byte code shows, 0 if unused
    bool asciiReady = false;
    bool asciiLacking = false;
    qint64 asciiSeen = 0;
    quint16 asciiPitch = 0; // the advance of every printable ASCII character, if all share one
    std::vector<quint16> advances;
    std::vector<char32_t> unicode;
    std::map<quint32, QString> texts; // glyphs that stand for more than one character
    static constexpr quint64 kUnknown = ~quint64(0);
    std::vector<quint64> drawings = std::vector<quint64>(0x10000, kUnknown);
    std::vector<quint8> used;
};

namespace {

// The tables of a face as HarfBuzz reads them, each read once and kept as long as this: the
// subsetter goes on reading a table after it has let go of its blob.
class FaceTables {
public:
    explicit FaceTables(const QRawFont& raw)
        : raw_(raw), face_(hb_face_create_for_tables(table, this, nullptr), hb_face_destroy) {}
    hb_face_t* face() const { return face_.get(); }

private:
    static hb_blob_t* table(hb_face_t*, hb_tag_t tag, void* data) {
        auto& t = *static_cast<FaceTables*>(data);
        auto it = t.read_.find(tag);
        if (it == t.read_.end()) {
            const char name[4] = {char(tag >> 24), char(tag >> 16), char(tag >> 8), char(tag)};
            it = t.read_.emplace(tag, t.raw_.fontTable(name)).first;
        }
        if (it->second.isEmpty())
            return nullptr;
        return hb_blob_create(it->second.constData(), static_cast<unsigned>(it->second.size()),
                              HB_MEMORY_MODE_READONLY, nullptr, nullptr);
    }

    const QRawFont& raw_;
    std::map<hb_tag_t, QByteArray> read_;
    std::unique_ptr<hb_face_t, decltype(&hb_face_destroy)> face_;
};

// The face reduced to USED glyphs (and those they are built from) by HarfBuzz's subsetter:
// TrueType outlines give an sfnt file, CFF ones an OpenType file. Glyph numbers do not
// change, and the cmap keeps the characters the document drew. Empty when the face cannot be
// subset.
QByteArray subsetFontFile(const QRawFont& raw, const std::vector<quint8>& used,
                          const std::vector<char32_t>& unicode) {
    const FaceTables tables(raw);
    hb_face_t* const face = tables.face();
    std::unique_ptr<hb_subset_input_t, decltype(&hb_subset_input_destroy)> input(
        hb_subset_input_create_or_fail(), hb_subset_input_destroy);
    if (!input)
        return {};
    hb_subset_input_set_flags(input.get(), HB_SUBSET_FLAGS_RETAIN_GIDS);
    hb_set_t* glyphs = hb_subset_input_glyph_set(input.get());
    hb_set_t* characters = hb_subset_input_unicode_set(input.get());
    for (size_t g = 0; g < used.size(); ++g) {
        if (!used[g])
            continue;
        hb_set_add(glyphs, hb_codepoint_t(g));
        if (unicode[g] != 0)
            hb_set_add(characters, unicode[g]);
    }
    std::unique_ptr<hb_face_t, decltype(&hb_face_destroy)> subset(
        hb_subset_or_fail(face, input.get()), hb_face_destroy);
    if (!subset)
        return {};
    hb_blob_t* blob = hb_face_reference_blob(subset.get());
    unsigned length = 0;
    const char* data = hb_blob_get_data(blob, &length);
    QByteArray file(data, qsizetype(length));
    hb_blob_destroy(blob);
    return file;
}

// A subset's tag: six capitals that change with the glyphs it holds.
QByteArray subsetTag(const std::vector<quint8>& used) {
    quint32 hash = 2166136261u;
    for (size_t g = 0; g < used.size(); ++g)
        if (used[g])
            hash = (hash ^ quint32(g)) * 16777619u;
    QByteArray tag;
    for (int i = 0; i < 6; ++i) {
        tag.append(char('A' + hash % 26));
        hash /= 26;
    }
    return tag + '+';
}

} // namespace

class PdfWriter::Impl {
public:
    Impl();
    ~Impl();

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
    void writeStreamBody(int number, const QByteArray& dictionary, const QByteArray& body,
                         bool packed);
    void endPage();
    template <typename Char>
    double drawGlyphs(PdfFont* font, double size, double x, double baseline, const Char* chars,
                      qsizetype length);
    double drawAdoptedAscii(PdfFont* font, double size, double x, double baseline,
                            QByteArrayView text);
    void beginText();
    void selectFont(PdfFont* font, double size);
    bool moveTo(double x, double y, bool nextLine);
    void appendRect(const QRectF& rect);
    double drawFallback(PdfFont* font, double size, double x, double baseline, QStringView text,
                        bool tagged = true);
    PdfFont* substitute(const QRawFont& raw);
    void writeFont(PdfFont& font);

    struct PageJob {
        int contents = 0;
        int page = 0;
        QByteArray content;
        bool packed = false; // CONTENT is deflated already
    };
    void writePage(const PageJob& job);
    void drain();

    // Used by whichever thread is writing to the file.
    PageDeflater deflater_;
    // The layout's own, for the pages it deflates while the writer falls behind.
    PageDeflater layoutDeflater_;
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
    std::set<QString> bitmapFaces_; // family and style of the faces without outlines
};

PdfWriter::PdfWriter() : impl_(std::make_unique<Impl>()) {}
PdfWriter::~PdfWriter() = default;

bool PdfWriter::begin(const QString& path, QSizeF pageSize, QRectF clip, const QString& creator) {
    return impl_->begin(path, pageSize, clip, creator);
}
void PdfWriter::newPage() {
    impl_->newPage();
}
PdfFont* PdfWriter::font(const QFont& font) {
    return impl_->font(font);
}
double PdfWriter::drawText(PdfFont* font, double size, double x, double baseline,
                           QStringView text) {
    return impl_->drawText(font, size, x, baseline, text);
}
double PdfWriter::drawAscii(PdfFont* font, double size, double x, double baseline,
                            QByteArrayView text) {
    return impl_->drawAscii(font, size, x, baseline, text);
}
void PdfWriter::fillRect(const QRectF& rect) {
    impl_->fillRect(rect);
}
double PdfWriter::ascent(PdfFont* font, double size) const {
    return impl_->ascent(font, size);
}
double PdfWriter::descent(PdfFont* font, double size) const {
    return impl_->descent(font, size);
}
double PdfWriter::lineSpacing(PdfFont* font, double size) const {
    return impl_->lineSpacing(font, size);
}
double PdfWriter::underlinePosition(PdfFont* font, double size) const {
    return impl_->underlinePosition(font, size);
}
double PdfWriter::lineThickness(PdfFont* font, double size) const {
    return impl_->lineThickness(font, size);
}
double PdfWriter::advance(PdfFont* font, double size, char16_t c) const {
    const QChar ch(c);
    quint32 index = 0;
    int count = 1;
    if (!font->raw.glyphIndexesForChars(&ch, 1, &index, &count) || count != 1 ||
        index >= quint32(font->glyphCount))
        return 0;
    return font->advances[index] * font->scale(size);
}
bool PdfWriter::fixedPitch(PdfFont* font) const {
    return font->fixedPitch;
}
bool PdfWriter::finish() {
    return impl_->finish();
}
bool PdfWriter::failed() const {
    return impl_->failed();
}
int PdfWriter::pages() const {
    return impl_->pages();
}

PdfWriter::Impl::Impl() = default;

PdfWriter::Impl::~Impl() {
    drain();
    if (file_)
        std::fclose(file_);
}

void PdfWriter::Impl::drain() {
    if (!worker_.joinable())
        return;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    workReady_.notify_one();
    worker_.join();
    stopping_ = false;
}

bool PdfWriter::Impl::begin(const QString& path, QSizeF pageSize, QRectF clip,
                            const QString& creator) {
    file_ = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!file_) {
        failed_ = true;
        return false;
    }
    // Given no buffer of its own, the C library would write in pieces of a disk block.
    constexpr size_t kFileBuffer = size_t(1) << 20;
    fileBuffer_ = std::make_unique_for_overwrite<char[]>(kFileBuffer);
    std::setvbuf(file_, fileBuffer_.get(), _IOFBF, kFileBuffer);
    pageSize_ = pageSize;
    clip_ = clip;
    write(QByteArrayLiteral("%PDF-1.6\n%\xE2\xE3\xCF\xD3\n"));
    const int catalog = reserveObject();
    pagesObject_ = reserveObject();
    resourcesObject_ = reserveObject();
    const int info = reserveObject();
    startObject(catalog);
    write("<< /Type /Catalog /Pages " + QByteArray::number(pagesObject_) + " 0 R >>\nendobj\n");
    startObject(info);
    QByteArray producer;
    for (const QChar c : creator)
        if (c.unicode() >= 0x20 && c.unicode() < 0x7F && c != u'(' && c != u')' && c != u'\\')
            producer.append(char(c.unicode()));
    write("<< /Creator (" + producer + ") /Producer (" + producer + ") >>\nendobj\n");
    newPage();
    return !failed_;
}

int PdfWriter::Impl::reserveObject() {
    return ++objects_;
}

void PdfWriter::Impl::startObject(int number) {
    offsets_.emplace_back(number, offset_);
    write(QByteArray::number(number) + " 0 obj\n");
}

void PdfWriter::Impl::write(const char* data, size_t size) {
    if (!file_ || failed_)
        return;
    if (std::fwrite(data, 1, size, file_) != size)
        failed_ = true;
    offset_ += qint64(size);
}

void PdfWriter::Impl::writeStream(int number, const QByteArray& dictionary, const QByteArray& data,
                                  bool compress) {
    const QByteArray packed = compress ? deflater_.deflateOther(data) : QByteArray();
    const bool isPacked = compress && !packed.isEmpty();
    writeStreamBody(number, dictionary, isPacked ? packed : data, isPacked);
}

void PdfWriter::Impl::writeStreamBody(int number, const QByteArray& dictionary,
                                      const QByteArray& body, bool packed) {
    startObject(number);
    QByteArray head = "<< /Length " + QByteArray::number(body.size());
    if (packed)
        head += " /Filter /FlateDecode";
    head += dictionary + " >>\nstream\n";
    write(head);
    write(body);
    write(QByteArrayLiteral("\nendstream\nendobj\n"));
}

void PdfWriter::Impl::newPage() {
    if (!content_.isNull())
        endPage();
    content_.clear();
    content_.reserve(1 << 16);
    content_.append("q\n");
    appendRect(clip_);
    content_.append(" W n\n");
    inText_ = false;
    currentFont_ = nullptr;
    leading_ = 0; // each page starts from the initial graphics state
}

void PdfWriter::Impl::endPage() {
    if (inText_)
        content_.append("ET\n");
    content_.append("Q\n");
    inText_ = false;
    PageJob job{reserveObject(), reserveObject(), std::move(content_), false};
    content_ = QByteArray();
    pageObjects_.push_back(job.page);
    // Each side wakes the other for a batch of pages rather than for each: the worker once
    // a batch waits, the layout, held up by four batches waiting, once only two are left.
    constexpr size_t kBatch = 4;
    if (!worker_.joinable()) {
        worker_ = std::thread([this] {
            std::unique_lock lock(mutex_);
            while (true) {
                workReady_.wait(lock, [this] { return stopping_ || jobs_.size() >= kBatch; });
                if (jobs_.empty())
                    return;
                while (!jobs_.empty()) {
                    const PageJob next = std::move(jobs_.front());
                    jobs_.pop_front();
                    const bool wake = layoutWaiting_ && jobs_.size() == 2 * kBatch;
                    lock.unlock();
                    if (wake)
                        roomFree_.notify_one();
                    writePage(next);
                    lock.lock();
                }
            }
        });
    }
    std::unique_lock lock(mutex_);
    // Deflating costs more than laying out: while two batches wait, the layout deflates
    // its page itself rather than leave its core idle. The writer then only copies such a
    // page, so the queue rarely grows further; past four batches the layout waits.
    if (jobs_.size() >= 2 * kBatch) {
        lock.unlock();
        if (QByteArray packed = layoutDeflater_.deflatePage(job.content); !packed.isEmpty()) {
            job.content = std::move(packed);
            job.packed = true;
        }
        lock.lock();
    }
    if (jobs_.size() >= 4 * kBatch) {
        layoutWaiting_ = true;
        roomFree_.wait(lock, [this] { return jobs_.size() <= 2 * kBatch; });
        layoutWaiting_ = false;
    }
    jobs_.push_back(std::move(job));
    const bool batchReady = jobs_.size() == kBatch;
    lock.unlock();
    if (batchReady)
        workReady_.notify_one();
}

void PdfWriter::Impl::writePage(const PageJob& job) {
    const QByteArray packed = job.packed ? QByteArray() : deflater_.deflatePage(job.content);
    const bool isPacked = job.packed || !packed.isEmpty();
    writeStreamBody(job.contents, {}, packed.isEmpty() ? job.content : packed, isPacked);
    startObject(job.page);
    write("<< /Type /Page /Parent " + QByteArray::number(pagesObject_) + " 0 R /MediaBox [0 0 " +
          number(pageSize_.width()) + ' ' + number(pageSize_.height()) + "] /Resources " +
          QByteArray::number(resourcesObject_) + " 0 R /Contents " +
          QByteArray::number(job.contents) + " 0 R >>\nendobj\n");
}

PdfFont* PdfWriter::Impl::font(const QFont& font) {
    QRawFont raw = QRawFont::fromFont(font);
    const QString family = raw.familyName();
    const QString style = raw.styleName();
    for (const auto& known : fonts_)
        if (known->raw.familyName() == family && known->raw.styleName() == style)
            return known.get();
    fonts_.push_back(std::make_unique<PdfFont>(font, raw, reserveObject(), int(fonts_.size()) + 1));
    return fonts_.back().get();
}

void PdfWriter::Impl::beginText() {
    if (inText_)
        return;
    content_.append("BT\n");
    inText_ = true;
    currentFont_ = nullptr;
    lineStartKnown_ = false;
}

void PdfWriter::Impl::selectFont(PdfFont* font, double size) {
    beginText();
    if (font == currentFont_ && size == currentSize_)
        return;
    content_.append('/').append(font->resourceName).append(' ');
    appendNumber(content_, size);
    content_.append(" Tf\n");
    currentFont_ = font;
    currentSize_ = size;
}

double PdfWriter::Impl::drawText(PdfFont* font, double size, double x, double baseline,
                                 QStringView text) {
    return drawGlyphs(font, size, x, baseline, text.utf16(), text.size());
}

double PdfWriter::Impl::drawAscii(PdfFont* font, double size, double x, double baseline,
                                  QByteArrayView text) {
    Q_ASSERT(isPrintableAscii(text));
    if (font->asciiAdopted(text.size()))
        return drawAdoptedAscii(font, size, x, baseline, text);
    return drawGlyphs(font, size, x, baseline, reinterpret_cast<const uchar*>(text.data()),
                      text.size());
}

template <typename Char>
double PdfWriter::Impl::drawGlyphs(PdfFont* font, double size, double x, double baseline,
                                   const Char* chars, qsizetype length) {
    if (length == 0 || content_.isNull())
        return 0;
    selectFont(font, size);
    // Nothing of the text is left in the page when it draws nothing or goes another way.
    const qsizetype mark = content_.size();
    const auto undo = [this, mark, known = lineStartKnown_, lastX = lineX_, lastY = lineY_] {
        content_.truncate(mark);
        lineStartKnown_ = known;
        lineX_ = lastX;
        lineY_ = lastY;
    };
    moveTo(x, pageSize_.height() - baseline, false);
    content_.append('(');
    // The glyphs' bytes go straight into the page, at worst four a character; the blanks
    // that end the text are left out, as they leave no mark.
    const qsizetype at = content_.size();
    content_.resize(at + length * 4);
    char* const first = content_.data() + at;
    char* bytes = first;
    char* shown = first;
    qint64 units = 0;
    // Held here: stores through the byte pointer could otherwise be taken to change it.
    const quint64* const drawings = font->drawings.data();
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t c = chars[i];
        quint64 code = drawings[c];
        if (Q_UNLIKELY(code == PdfFont::kUnknown))
            code = font->learnDrawing(c);
        if (code == 0) {
            undo();
            QString text(length, Qt::Uninitialized);
            for (qsizetype j = 0; j < length; ++j)
                text[j] = QChar(char16_t(chars[j]));
            return drawFallback(font, size, x, baseline, text);
        }
        units += code >> 48;
        bytes[0] = char(code);
        bytes[1] = char(code >> 8);
        bytes[2] = char(code >> 16);
        bytes[3] = char(code >> 24);
        bytes += (code >> 32) & 0xFF;
        if (c != u' ')
            shown = bytes;
    }
    const double advance = double(units) * font->scale(size);
    if (shown == first) {
        undo();
        return advance;
    }
    content_.truncate(shown - content_.constData());
    content_.append(") Tj\n");
    return advance;
}

// Printable ASCII in a face that has adopted it: the text is its own codes.
double PdfWriter::Impl::drawAdoptedAscii(PdfFont* font, double size, double x, double baseline,
                                         QByteArrayView text) {
    if (text.isEmpty() || content_.isNull())
        return 0;
    qint64 units = 0;
    if (font->asciiPitch != 0) {
        units = qint64(text.size()) * font->asciiPitch;
    } else {
        for (const char c : text)
            units += font->advances[font->asciiGlyphs[size_t(c)]];
    }
    const double advance = double(units) * font->scale(size);
    const qsizetype shown = lengthWithoutTrailingBlanks(text);
    if (shown == 0)
        return advance;
    const QByteArrayView visible = text.first(shown);
    selectFont(font, size);
    const bool nextLine = moveTo(x, pageSize_.height() - baseline, true);
    const qsizetype at = content_.size();
    content_.resize(at + 1 + 2 * shown + 5);
    char* out = content_.data() + at;
    *out++ = '(';
    if (!containsAnyOf(visible, '(', ')', '\\')) {
        std::memcpy(out, visible.data(), size_t(shown));
        out += shown;
    } else {
        for (const char c : visible) {
            if (c == '(' || c == ')' || c == '\\')
                *out++ = '\\';
            *out++ = c;
        }
    }
    std::memcpy(out, nextLine ? ") '\n" : ") Tj\n", nextLine ? 4 : 5);
    out += nextLine ? 4 : 5;
    content_.truncate(out - content_.constData());
    return advance;
}

// Moves the start of the text line to (X, Y) in PDF coordinates. Within a text object a
// move is relative to the last one: where the positions are rounded to what PDF numbers
// carry here, each move is taken from where the last one ended, so rounding never adds up.
// Given NEXTLINE, a move straight down by the text leading is left to the text's own
// operator, ', with the leading set as needed (exactly: a report's lines are all of one
// height); true when it is.
bool PdfWriter::Impl::moveTo(double x, double y, bool nextLine) {
    if (!lineStartKnown_) {
        x = std::round(x * 1000) / 1000;
        y = std::round(y * 1000) / 1000;
        content_.append("1 0 0 1 ");
        appendNumber(content_, x);
        content_.append(' ');
        appendNumber(content_, y);
        content_.append(" Tm\n");
        lineStartKnown_ = true;
        lineX_ = x;
        lineY_ = y;
        return false;
    }
    constexpr double kSame = 1e-6;
    const double dy = y - lineY_;
    if (nextLine && std::abs(x - lineX_) < kSame && dy < -kSame) {
        if (std::abs(dy + leading_) >= kSame) {
            leading_ = -dy;
            appendExactNumber(content_, leading_);
            content_.append(" TL\n");
        }
        lineY_ -= leading_;
        return true;
    }
    // Line after line the same move comes back, in one of two roundings.
    const qint64 dx = std::llround((x - lineX_) * 1000);
    const qint64 dyMilli = std::llround(dy * 1000);
    auto move = std::find_if(moves_.begin(), moves_.end(), [&](const Move& known) {
        return known.dx == dx && known.dy == dyMilli && !known.text.isEmpty();
    });
    if (move == moves_.end()) {
        move = moves_.begin() + qsizetype(nextMove_++ % moves_.size());
        move->dx = dx;
        move->dy = dyMilli;
        move->text.resize(0);
        appendNumber(move->text, double(dx) / 1000);
        move->text.append(' ');
        appendNumber(move->text, double(dyMilli) / 1000);
        move->text.append(" Td\n");
    }
    content_.append(move->text);
    lineX_ += double(dx) / 1000;
    lineY_ += double(dyMilli) / 1000;
    return false;
}

namespace {

// The glyphs Qt laid out for one cluster of characters: those that make one sign on paper
// (a letter and its marks), or more where one glyph stands for several (a ligature).
struct Cluster {
    struct Glyph {
        PdfFont* face = nullptr; // null where no face has it (its index is then 0)
        quint32 index = 0;
        QPointF at;
        double missingAdvance = 0; // where no face has it: the room the layout left it

        int advance() const { return face ? face->advances[index] : 0; }
        friend bool operator==(const Glyph& a, const Glyph& b) {
            return a.face == b.face && a.index == b.index && a.at == b.at;
        }
    };
    qsizetype from = 0;
    qsizetype to = 0;
    std::vector<Glyph> glyphs;
    double left = std::numeric_limits<double>::max();
};

// The glyph FACE's own map gives C; 0 when none.
quint32 nominalGlyph(const PdfFont& face, uint c) {
    const QString one = QString::fromUcs4(reinterpret_cast<const char32_t*>(&c), 1);
    quint32 index[2] = {0, 0};
    int count = 2;
    if (!face.raw.glyphIndexesForChars(one.constData(), int(one.size()), index, &count) ||
        count < 1 || index[0] >= quint32(face.glyphCount))
        return 0;
    return index[0];
}

bool isMark(uint c) {
    const QChar::Category category = QChar::category(char32_t(c));
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing;
}

bool rightToLeft(QStringView text) {
    for (const QChar c : text) {
        const QChar::Direction d = c.direction();
        if (d == QChar::DirR || d == QChar::DirAL)
            return true;
        if (d == QChar::DirL)
            return false;
    }
    return false;
}

// The text a cluster is copied as. Readers take a right-to-left word's characters as drawn,
// left to right, and turn them round; so the characters of a right-to-left cluster go the
// same way, last first, and come out in their own order.
QString copiedText(QStringView text) {
    if (!rightToLeft(text))
        return text.toString();
    QList<uint> characters = text.toUcs4();
    std::reverse(characters.begin(), characters.end());
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(characters.constData()),
                             characters.size());
}

// The clusters of TEXT as LAYOUT drew it, left to right; FACEOF gives the document's face for
// a face Qt took. Qt gives the glyphs of a ligature to one of its characters only: a
// character that drew nothing joins the cluster after it, and clusters that share a glyph
// are one.
template <typename FaceOf>
std::vector<Cluster> clustersOf(const QTextLayout& layout, const QString& text, FaceOf faceOf) {
    std::vector<Cluster> clusters;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    qsizetype from = 0;
    for (qsizetype to = graphemes.toNextBoundary(); to > 0; to = graphemes.toNextBoundary()) {
        Cluster cluster{from, to, {}};
        for (const QGlyphRun& run : layout.glyphRuns(int(from), int(to - from))) {
            PdfFont* const face = faceOf(run.rawFont());
            const QList<quint32> indexes = run.glyphIndexes();
            const QList<QPointF> positions = run.positions();
            for (qsizetype i = 0; i < indexes.size() && i < positions.size(); ++i) {
                const bool shown =
                    face && indexes[i] != 0 && indexes[i] < quint32(face->glyphCount);
                const double missingAdvance =
                    shown ? 0 : run.rawFont().advancesForGlyphIndexes({indexes[i]}).value(0).x();
                cluster.glyphs.push_back(
                    {shown ? face : nullptr, shown ? indexes[i] : 0, positions[i], missingAdvance});
                cluster.left = std::min(cluster.left, positions[i].x());
            }
        }
        if (cluster.glyphs.empty() && to < text.size())
            continue; // FROM stays, so the next cluster takes these characters
        const auto shared = [&](const Cluster::Glyph& glyph) {
            return !clusters.empty() &&
                   std::find(clusters.back().glyphs.begin(), clusters.back().glyphs.end(), glyph) !=
                       clusters.back().glyphs.end();
        };
        if (!clusters.empty() &&
            (cluster.glyphs.empty() ||
             std::any_of(cluster.glyphs.begin(), cluster.glyphs.end(), shared))) {
            Cluster& last = clusters.back();
            last.to = to;
            for (const Cluster::Glyph& glyph : cluster.glyphs)
                if (!shared(glyph))
                    last.glyphs.push_back(glyph);
            last.left = std::min(last.left, cluster.left);
        } else {
            clusters.push_back(std::move(cluster));
        }
        from = to;
    }
    std::stable_sort(clusters.begin(), clusters.end(),
                     [](const Cluster& a, const Cluster& b) { return a.left < b.left; });
    return clusters;
}

// Whether CLUSTER's glyphs each show one of its CHARACTERS through the text map, so that a
// reader taking them in turn reads the cluster: a single glyph, or glyphs side by side on
// the baseline (at LAYOUTPIXELS an em), each the face's own for its character, in their
// order. A mark sits on its letter, where the reader takes it for a character of its own
// after the letter; right to left the reader turns the characters round, marks before their
// letter. Such clusters are never plain. Puts the glyphs in the order they are drawn in.
bool arrangePlain(Cluster& cluster, QStringView characters, int layoutPixels) {
    // Left to right, as the reader meets them; where two start alike, the one that advances
    // first (a letter before the mark that sits on it).
    std::stable_sort(
        cluster.glyphs.begin(), cluster.glyphs.end(), [](const auto& a, const auto& b) {
            return a.at.x() < b.at.x() || (a.at.x() == b.at.x() && a.advance() > b.advance());
        });
    const QList<uint> codes = characters.toUcs4();
    const auto count = size_t(codes.size());
    bool plain = cluster.glyphs.size() == count && (count == 1 || !rightToLeft(characters));
    for (size_t i = 0; plain && i < count; ++i) {
        const Cluster::Glyph& glyph = cluster.glyphs[i];
        const uint c = codes[qsizetype(i)];
        plain = glyph.face && glyph.face->texts.count(glyph.index) == 0 &&
                (glyph.face->unicode[glyph.index] == 0 || glyph.face->unicode[glyph.index] == c);
        if (plain && count > 1)
            plain = !isMark(c) && glyph.at.y() == cluster.glyphs[0].at.y() &&
                    nominalGlyph(*glyph.face, c) == glyph.index &&
                    (i + 1 == count ||
                     std::abs(cluster.glyphs[i + 1].at.x() - glyph.at.x() -
                              double(glyph.advance()) * layoutPixels / glyph.face->unitsPerEm) < 1);
    }
    if (plain) {
        for (size_t i = 0; i < count; ++i)
            cluster.glyphs[i].face->unicode[cluster.glyphs[i].index] = codes[qsizetype(i)];
        return true;
    }
    // The letter goes first, whose glyph carries the cluster's text: the face's own glyph for
    // a character that is no mark, else the glyph that advances most.
    auto letter = std::find_if(cluster.glyphs.begin(), cluster.glyphs.end(), [&](const auto& g) {
        return g.face && std::any_of(codes.begin(), codes.end(), [&](uint c) {
                   return !isMark(c) && nominalGlyph(*g.face, c) == g.index;
               });
    });
    if (letter == cluster.glyphs.end())
        letter = std::max_element(
            cluster.glyphs.begin(), cluster.glyphs.end(),
            [](const auto& a, const auto& b) { return a.advance() < b.advance(); });
    std::rotate(cluster.glyphs.begin(), letter, letter + 1);
    return false;
}

// For readers that go by the text maps alone, the glyphs of a cluster that is not plain:
// each glyph the face maps a character of the cluster to stands for that character, and the
// first glyph without a text for the rest.
void mapClusterGlyphs(Cluster& cluster, QStringView characters) {
    const QList<uint> codes = characters.toUcs4();
    QString rest = characters.toString();
    const Cluster::Glyph* unknown = nullptr;
    for (const Cluster::Glyph& glyph : cluster.glyphs) {
        if (!glyph.face)
            continue;
        PdfFont& face = *glyph.face;
        const auto known = [&] {
            return face.unicode[glyph.index] != 0 || face.texts.count(glyph.index) != 0;
        };
        for (auto c = codes.begin(); !known() && c != codes.end(); ++c)
            if (nominalGlyph(face, *c) == glyph.index)
                face.unicode[glyph.index] = *c;
        if (!known()) {
            unknown = unknown ? unknown : &glyph;
            continue;
        }
        const char32_t shown = face.unicode[glyph.index];
        const qsizetype at =
            shown != 0 && shown <= 0xFFFF ? rest.indexOf(QChar(char16_t(shown))) : -1;
        if (at >= 0)
            rest.remove(at, 1);
    }
    if (!unknown || rest.isEmpty())
        return;
    const QList<uint> left = rest.toUcs4();
    if (left.size() == 1)
        unknown->face->unicode[unknown->index] = left.first();
    else
        unknown->face->texts[unknown->index] = copiedText(rest);
}

} // namespace

// The face of the document that shows RAW's glyphs, added when first met; null for a face of
// bitmaps only (colour emoji), which has nothing a PDF font can show.
PdfFont* PdfWriter::Impl::substitute(const QRawFont& raw) {
    for (const auto& known : fonts_)
        if (known->raw.familyName() == raw.familyName() &&
            known->raw.styleName() == raw.styleName())
            return known.get();
    const QString name = raw.familyName() + u'\n' + raw.styleName();
    if (bitmapFaces_.count(name) != 0)
        return nullptr;
    if (raw.fontTable("glyf").isEmpty() && raw.fontTable("CFF ").isEmpty() &&
        raw.fontTable("CFF2").isEmpty()) {
        bitmapFaces_.insert(name);
        return nullptr;
    }
    fonts_.push_back(std::make_unique<PdfFont>(QFont(raw.familyName()), raw, reserveObject(),
                                               int(fonts_.size()) + 1));
    return fonts_.back().get();
}

// Text with characters the face lacks or that need shaping: laid out by Qt, which picks
// the substitute faces, and drawn glyph by glyph where Qt placed them, a cluster at a time
// from left to right, as readers expect to meet the text. A cluster that is not plain (see
// arrangePlain: a letter with its marks, a ligature, a character no face has) is marked with
// the text it was shaped from, unless TAGGED is false (the replacement drawn inside a mark).
double PdfWriter::Impl::drawFallback(PdfFont* font, double size, double x, double baseline,
                                     QStringView text, bool tagged) {
    constexpr int kLayoutPixels = 1000;
    QFont layoutFont = font->qfont;
    layoutFont.setPixelSize(kLayoutPixels);
    const QString string = text.toString();
    QTextLayout layout(string, layoutFont);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(1e9);
    layout.endLayout();
    const double scale = size / kLayoutPixels;
    std::vector<std::pair<QRawFont, PdfFont*>> faces;
    for (const QGlyphRun& run : layout.glyphRuns())
        faces.emplace_back(run.rawFont(), substitute(run.rawFont()));
    std::vector<Cluster> clusters = clustersOf(layout, string, [&](const QRawFont& raw) {
        for (const auto& [known, face] : faces)
            if (known == raw)
                return face;
        return substitute(raw);
    });
    // Right-to-left text is placed against the right end of the line Qt was given: what
    // matters is where it starts.
    const double left =
        clusters.empty() || clusters.front().glyphs.empty() ? 0 : clusters.front().left;

    static const QString kReplacement(QChar(0xFFFD));
    for (Cluster& cluster : clusters) {
        const QStringView characters =
            QStringView(string).mid(cluster.from, cluster.to - cluster.from);
        const bool plain = arrangePlain(cluster, characters, kLayoutPixels);
        if (!plain)
            mapClusterGlyphs(cluster, characters);
        // The first glyph carries the cluster's text, the others none: readers place the text
        // of a mark over its glyphs from the first one's start to the last one's end, and a
        // mark on a letter ends where the letter does, not where the mark does.
        const bool marked = tagged && !plain;
        for (size_t i = 0; i < cluster.glyphs.size(); ++i) {
            if (marked && i < 2) {
                if (i == 1)
                    content_.append("EMC\n");
                beginText();
                content_.append("/Span << /ActualText <FEFF");
                if (i == 0)
                    for (const QChar c : copiedText(characters))
                        content_.append(hex4(c.unicode()));
                content_.append("> >> BDC\n");
            }
            const Cluster::Glyph& glyph = cluster.glyphs[i];
            const double at = x + (glyph.at.x() - left) * scale;
            // What no face has is shown, so that the reader knows something is there, and
            // within the room the layout left it: a face that draws the replacement wider
            // would run it into the next character.
            if (!glyph.face) {
                if (text == kReplacement) {
                    drawGlyphs(font, size, at, baseline, u"?", 1);
                    continue;
                }
                const double room = glyph.missingAdvance * scale;
                const double width =
                    QFontMetricsF(layoutFont).horizontalAdvance(kReplacement) * scale;
                const bool squeezed = room > 0 && width > room;
                if (squeezed) {
                    appendNumber(content_, 100 * room / width);
                    content_.append(" Tz\n");
                }
                drawFallback(font, size, at, baseline, kReplacement, false);
                if (squeezed)
                    content_.append("100 Tz\n");
                continue;
            }
            glyph.face->used[glyph.index] = 1;
            selectFont(glyph.face, size);
            content_.append("1 0 0 1 ");
            appendNumber(content_, at);
            content_.append(' ');
            appendNumber(content_,
                         pageSize_.height() - baseline - (glyph.at.y() - line.ascent()) * scale);
            content_.append(" Tm\n<")
                .append(hex4(glyph.face->glyphCode(int(glyph.index))))
                .append("> Tj\n");
            lineStartKnown_ = false;
        }
        if (marked)
            content_.append("EMC\n");
    }
    return line.naturalTextWidth() * scale;
}

void PdfWriter::Impl::fillRect(const QRectF& rect) {
    if (content_.isNull())
        return;
    if (inText_) {
        content_.append("ET\n");
        inText_ = false;
    }
    appendRect(rect);
    content_.append(" f\n");
}

// RECT, from the top left corner of the page, as a PDF rectangle path.
void PdfWriter::Impl::appendRect(const QRectF& rect) {
    appendNumber(content_, rect.left());
    content_.append(' ');
    appendNumber(content_, pageSize_.height() - rect.bottom());
    content_.append(' ');
    appendNumber(content_, rect.width());
    content_.append(' ');
    appendNumber(content_, rect.height());
    content_.append(" re");
}

double PdfWriter::Impl::ascent(PdfFont* font, double size) const {
    return font->raw.ascent() * font->scale(size);
}

double PdfWriter::Impl::descent(PdfFont* font, double size) const {
    return font->raw.descent() * font->scale(size);
}

double PdfWriter::Impl::lineSpacing(PdfFont* font, double size) const {
    return (font->raw.ascent() + font->raw.descent() + font->raw.leading()) * font->scale(size);
}

double PdfWriter::Impl::underlinePosition(PdfFont* font, double size) const {
    return font->raw.underlinePosition() * font->scale(size);
}

double PdfWriter::Impl::lineThickness(PdfFont* font, double size) const {
    return std::max(0.05, font->raw.lineThickness() * font->scale(size));
}

void PdfWriter::Impl::writeFont(PdfFont& font) {
    const int descendant = reserveObject();
    const int descriptor = reserveObject();
    const int fontFile = reserveObject();
    const int toUnicode = reserveObject();
    const int encoding = font.compact ? reserveObject() : 0;

    const QByteArray name = subsetTag(font.used) + font.baseName;
    const QByteArray file = subsetFontFile(font.raw, font.used, font.unicode);
    const bool trueType = !font.raw.fontTable("glyf").isEmpty();

    startObject(font.objectNumber);
    write("<< /Type /Font /Subtype /Type0 /BaseFont /" + name + " /Encoding " +
          (encoding ? QByteArray::number(encoding) + " 0 R" : QByteArrayLiteral("/Identity-H")) +
          " /DescendantFonts [" + QByteArray::number(descendant) + " 0 R] /ToUnicode " +
          QByteArray::number(toUnicode) + " 0 R >>\nendobj\n");

    // Widths as ranges of glyphs that share one; glyphs the document never shows can
    // join any range, so a fixed-pitch face needs a single one. Readers do not all take a
    // fractional default width, hence no /DW.
    QByteArray widths;
    int first = -1;
    int last = -1;
    quint16 width = 0;
    const auto flush = [&] {
        if (first >= 0)
            widths += QByteArray::number(first) + ' ' + QByteArray::number(last) + ' ' +
                      number(width * 1000.0 / font.unitsPerEm) + ' ';
    };
    for (int g = 0; g < font.glyphCount; ++g) {
        if (!font.used[size_t(g)])
            continue;
        const quint16 advance = font.advances[size_t(g)];
        if (first < 0 || advance != width) {
            flush();
            first = g;
            width = advance;
        }
        last = g;
    }
    flush();
    startObject(descendant);
    write("<< /Type /Font /Subtype /" + QByteArray(trueType ? "CIDFontType2" : "CIDFontType0") +
          " /BaseFont /" + name +
          " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>"
          " /FontDescriptor " +
          QByteArray::number(descriptor) + " 0 R /W [" + widths + "]" +
          (trueType ? " /CIDToGIDMap /Identity" : "") + " >>\nendobj\n");

    const QByteArray head = font.raw.fontTable("head");
    const QByteArray os2 = font.raw.fontTable("OS/2");
    const auto units = [&](double value) { return number(value * 1000.0 / font.unitsPerEm); };
    const QByteArray bbox = units(s16(head, 36)) + ' ' + units(s16(head, 38)) + ' ' +
                            units(s16(head, 40)) + ' ' + units(s16(head, 42));
    const double capHeight = u16(os2, 0) >= 2 ? s16(os2, 88) : font.raw.ascent();
    const int flags = (font.fixedPitch ? 1 : 0) | 4;
    startObject(descriptor);
    write("<< /Type /FontDescriptor /FontName /" + name + " /Flags " + QByteArray::number(flags) +
          " /FontBBox [" + bbox + "] /ItalicAngle 0 /Ascent " + units(font.raw.ascent()) +
          " /Descent " + units(-font.raw.descent()) + " /CapHeight " + units(capHeight) +
          " /StemV 80" +
          (file.isEmpty() ? QByteArray()
                          : QByteArray(trueType ? " /FontFile2 " : " /FontFile3 ") +
                                QByteArray::number(fontFile) + " 0 R") +
          " >>\nendobj\n");
    writeStream(fontFile,
                trueType ? " /Length1 " + QByteArray::number(file.size())
                         : QByteArrayLiteral(" /Subtype /OpenType"),
                file, true);

    // Both maps, from codes to glyphs and from codes to text, share the codes' lengths:
    // one byte or two in a compact face, two otherwise.
    const QByteArray codeSpace = font.compact ? QByteArrayLiteral("<00> <7F>\n<8000> <FFFF>\n")
                                              : QByteArrayLiteral("<0000> <FFFF>\n");
    using Section = std::pair<const char*, std::vector<QByteArray>>;
    const auto cmapFile = [&](const QByteArray& ordering, const QByteArray& cmapName, int type,
                              const std::vector<Section>& sections) {
        QByteArray cmap = "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
                          "/CIDSystemInfo << /Registry (Adobe) /Ordering (" +
                          ordering + ") /Supplement 0 >> def\n/CMapName /" + cmapName +
                          " def\n/CMapType " + QByteArray::number(type) + " def\n" +
                          QByteArray::number(codeSpace.count('\n')) + " begincodespacerange\n" +
                          codeSpace + "endcodespacerange\n";
        for (const auto& [section, entries] : sections) {
            for (size_t i = 0; i < entries.size(); i += 100) {
                const size_t n = std::min<size_t>(100, entries.size() - i);
                cmap += QByteArray::number(qulonglong(n)) + " begin" + section + '\n';
                for (size_t j = i; j < i + n; ++j)
                    cmap += entries[j];
                cmap += QByteArray("end") + section + '\n';
            }
        }
        return cmap + "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
    };
    const auto byteCode = [](int c) {
        return '<' + QByteArray::number(c, 16).rightJustified(2, '0').toUpper() + '>';
    };
    const auto utf16 = [](char32_t c) {
        if (c > 0xFFFF)
            return hex4(QChar::highSurrogate(c)) + hex4(QChar::lowSurrogate(c));
        return hex4(c);
    };

    std::vector<QByteArray> textEntries;
    if (font.compact) {
        std::vector<QByteArray> glyphEntries;
        for (int c = 0; c < 0x80; ++c) {
            if (const int g = font.asciiGlyphs[size_t(c)]) {
                glyphEntries.push_back(byteCode(c) + ' ' + QByteArray::number(g) + '\n');
                textEntries.push_back(byteCode(c) + " <" + hex4(quint32(c)) + ">\n");
            }
        }
        // Ranges within one first byte, as readers expect of multi-byte ranges.
        std::vector<QByteArray> ranges;
        for (quint32 high = 0x80; high <= 0xFF; ++high)
            ranges.push_back('<' + hex4(high << 8) + "> <" + hex4(high << 8 | 0xFF) + "> " +
                             QByteArray::number((high - 0x80) << 8) + '\n');
        const QByteArray cmapName = "Velario-" + font.resourceName;
        writeStream(
            encoding,
            " /Type /CMap /CMapName /" + cmapName +
                " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>",
            cmapFile("Identity", cmapName, 1, {{"cidchar", glyphEntries}, {"cidrange", ranges}}),
            true);
    }
    for (int g = 0; g < font.glyphCount; ++g) {
        QByteArray text;
        if (const auto many = font.texts.find(quint32(g)); many != font.texts.end()) {
            for (const QChar c : many->second)
                text += hex4(c.unicode());
        } else if (font.unicode[size_t(g)] != 0) {
            text = utf16(font.unicode[size_t(g)]);
        }
        if (!text.isEmpty())
            textEntries.push_back('<' + hex4(font.glyphCode(g)) + "> <" + text + ">\n");
    }
    writeStream(toUnicode, {}, cmapFile("UCS", "Adobe-Identity-UCS", 2, {{"bfchar", textEntries}}),
                true);
}

bool PdfWriter::Impl::finish() {
    if (!file_)
        return false;
    endPage();
    drain();
    for (const auto& font : fonts_)
        writeFont(*font);

    startObject(resourcesObject_);
    QByteArray resources = "<< /ProcSet [/PDF /Text] /Font <<";
    for (const auto& font : fonts_)
        resources +=
            " /" + font->resourceName + ' ' + QByteArray::number(font->objectNumber) + " 0 R";
    write(resources + " >> >>\nendobj\n");

    startObject(pagesObject_);
    QByteArray kids;
    kids.reserve(qsizetype(pageObjects_.size()) * 10);
    for (const int page : pageObjects_)
        kids += QByteArray::number(page) + " 0 R ";
    write("<< /Type /Pages /Count " + QByteArray::number(qulonglong(pageObjects_.size())) +
          " /Kids [" + kids + "] >>\nendobj\n");

    std::vector<qint64> where(size_t(objects_), -1);
    for (const auto& [object, at] : offsets_)
        where[size_t(object - 1)] = at;
    const qint64 xref = offset_;
    QByteArray table = "xref\n0 " + QByteArray::number(objects_ + 1) + "\n0000000000 65535 f \n";
    for (const qint64 at : where) {
        char entry[24];
        std::snprintf(entry, sizeof entry, "%010lld 00000 n \n", static_cast<long long>(at));
        table.append(entry, 20);
    }
    write(table);
    write("trailer\n<< /Size " + QByteArray::number(objects_ + 1) +
          " /Root 1 0 R /Info 4 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n");
    if (std::fflush(file_) != 0 || std::ferror(file_))
        failed_ = true;
    if (std::fclose(file_) != 0)
        failed_ = true;
    file_ = nullptr;
    const bool complete =
        std::all_of(where.begin(), where.end(), [](qint64 at) { return at >= 0; });
    return complete && !failed_;
}

} // namespace velario
