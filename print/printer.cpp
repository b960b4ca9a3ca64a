#include "printer.h"

#include "platform/document_spool.h"
#include "platform/platform.h"

#include "data/text/ascii_scan.h"
#include "data/text/text_columns.h"
#include "pdf/pdf_writer.h"

#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace velario {

namespace {

// 1440 dots per inch make a point 20 device pixels; Qt sizes fonts in whole pixels, so
// every size on the twentieth-point grid is rendered exactly as written.
constexpr int kResolution = 1440;
constexpr double kGridPerPoint = kResolution / 72.0;
constexpr float kMinSize = 1.0f;
// Larger sizes overflow the font engine's metrics at this resolution.
constexpr float kMaxSize = 720.0f;

double gridSize(double points) {
    return std::round(points * kGridPerPoint) / kGridPerPoint;
}

QFont qtFont(const PrintFont& f) {
    QFont font(f.name);
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSizeF(f.size);
    font.setBold(f.bold);
    font.setUnderline(f.underline);
    return font;
}

Error folderError(const QString& folder, const QString& reason) {
    return Error::make(ErrorNumber::PrinterError,
                       QStringLiteral("Impossibile salvare il documento nella cartella \"%1\": %2.")
                           .arg(QDir::toNativeSeparators(folder), reason));
}

Error printerError(const QString& name) {
    return Error::make(
        ErrorNumber::PrinterError,
        QStringLiteral("La stampante \"%1\" non ha accettato il documento.").arg(name));
}

} // namespace

// Where the lines of one document go: a page layout in points from the top left corner of
// the printable area.
class Printer::Surface {
public:
    virtual ~Surface() = default;
    struct Metrics {
        double ascent = 0;
        double height = 0;
        double column = 0;       // the advance of "0", one column of a fixed-pitch line
        bool fixedPitch = false; // whether every character advances by COLUMN
    };
    virtual Metrics metrics(const PrintFont& font) = 0;
    // Draws RUN with the left end of its baseline at (X, BASELINE); returns its advance.
    virtual double draw(const PrintRun& run, double x, double baseline) = 0;
    // The same for TEXT, printable ASCII only, in FONT.
    virtual double drawAscii(QByteArrayView text, const PrintFont& font, double x,
                             double baseline) {
        return draw(PrintRun{QString::fromLatin1(text), font}, x, baseline);
    }
    virtual bool newPage() = 0;
    // Completes the document; the error is the reason it was not delivered.
    virtual Error finish(QString* destination, int* pages) = 0;
    virtual double areaHeight() const = 0;
    virtual double areaWidth() const = 0;
};

namespace {

// What a surface makes of each font: a document uses a handful over thousands of lines.
// Entries stay where they are as others are added.
template <typename Face>
class FaceCache {
public:
    template <typename Make>
    const Face& get(const PrintFont& font, Make make) {
        // Line after line asks for the same font.
        if (last_ < faces_.size() && faces_[last_].first == font)
            return *faces_[last_].second;
        for (last_ = 0; last_ < faces_.size(); ++last_)
            if (faces_[last_].first == font)
                return *faces_[last_].second;
        faces_.emplace_back(font, std::make_unique<Face>(make()));
        return *faces_.back().second;
    }

private:
    std::vector<std::pair<PrintFont, std::unique_ptr<Face>>> faces_;
    size_t last_ = 0;
};

// The hidden name of a document while it is written: QTemporaryFile puts six letters or
// digits in place of the Xs.
const QString kPartName = QStringLiteral(".velario-XXXXXX.part");

// The hidden files of documents whose copy of the program died while writing them: no
// process holds their lock. One made in the last seconds may be another copy's that has
// not locked it yet.
void removeAbandonedParts(const QString& folder) {
    static const QRegularExpression ours(
        QLatin1Char('^') +
        QRegularExpression::escape(kPartName).replace(QLatin1String("XXXXXX"),
                                                      QLatin1String("[A-Za-z0-9]{6}")) +
        QLatin1Char('$'));
    const QDateTime recent = QDateTime::currentDateTimeUtc().addSecs(-10);
    const QFileInfoList parts = QDir(folder).entryInfoList(
        {QString(kPartName).replace(QLatin1String("XXXXXX"), QLatin1String("*"))},
        QDir::Files | QDir::Hidden);
    for (const QFileInfo& part : parts) {
        if (!ours.match(part.fileName()).hasMatch() || part.lastModified().toUTC() > recent)
            continue;
        const QByteArray path = QFile::encodeName(part.absoluteFilePath());
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(path.constData());
        ::close(fd);
    }
}

// A PDF written as the lines come, under a temporary name in the folder until complete.
class PdfSurface final : public Printer::Surface {
public:
    static std::unique_ptr<PdfSurface> open(const QString& folder, Error* error) {
        const QFileInfo info(folder);
        if (!info.exists()) {
            *error = folderError(folder, QStringLiteral("la cartella non esiste"));
            return nullptr;
        }
        if (!info.isDir()) {
            *error = folderError(folder, QStringLiteral("il percorso non è una cartella"));
            return nullptr;
        }
        removeAbandonedParts(folder);
        auto surface = std::unique_ptr<PdfSurface>(new PdfSurface(folder));
        if (!surface->temp_.open()) {
            *error = folderError(folder, QStringLiteral("impossibile scrivere nella cartella"));
            return nullptr;
        }
        // Held open and locked until the document is complete: the lock tells other copies
        // of the program that the file is in use, and goes with the process if it dies.
        ::flock(surface->temp_.handle(), LOCK_EX);
        const QRectF page(QPointF(0, 0), QSizeF(QPageSize(QPageSize::A4).sizePoints()));
        surface->area_ = page.adjusted(kPageSideMarginInches * 72, kPageTopMarginInches * 72,
                                       -kPageSideMarginInches * 72, -kPageTopMarginInches * 72);
        if (!surface->writer_.begin(surface->temp_.fileName(), page.size(), surface->area_,
                                    QStringLiteral("velario"))) {
            *error = folderError(folder, QStringLiteral("scrittura del file non riuscita"));
            return nullptr;
        }
        return surface;
    }

    Metrics metrics(const PrintFont& font) override {
        const Face& face = faceOf(font);
        return {face.ascent, face.height, face.column, face.fixedPitch};
    }

    double draw(const PrintRun& run, double x, double baseline) override {
        const Face& face = faceOf(run.font);
        const double advance = writer_.drawText(face.pdf, run.font.size, area_.left() + x,
                                                area_.top() + baseline, run.text);
        underline(face, run.font, x, baseline, advance);
        return advance;
    }

    double drawAscii(QByteArrayView text, const PrintFont& font, double x,
                     double baseline) override {
        const Face& face = faceOf(font);
        const double advance =
            writer_.drawAscii(face.pdf, font.size, area_.left() + x, area_.top() + baseline, text);
        underline(face, font, x, baseline, advance);
        return advance;
    }

    bool newPage() override {
        writer_.newPage();
        return !writer_.failed();
    }

    double areaHeight() const override { return area_.height(); }
    double areaWidth() const override { return area_.width(); }

    Error finish(QString* destination, int* pages) override {
        if (!writer_.finish())
            return folderError(folder_, QStringLiteral("scrittura del file non riuscita"));

        const QString stem = QStringLiteral("velario-%1-")
                                 .arg(platform().now().toString(QStringLiteral("yyyyMMdd-HHmmss")));
        for (int n = 1; n < 100000; ++n) {
            const QString candidate = QDir(folder_).filePath(stem + QString::number(n) + ".pdf");
            // Claiming the name by exclusive creation first means the rename below can
            // only ever replace our own empty placeholder, never somebody else's file.
            QFile claim(candidate);
            if (!claim.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
                if (QFileInfo::exists(candidate))
                    continue;
                break;
            }
            claim.close();
            // The placeholder was created under the user's umask; the document should be.
            temp_.setPermissions(claim.permissions());
            std::error_code failed;
            std::filesystem::rename(QFile::encodeName(temp_.fileName()).constData(),
                                    QFile::encodeName(candidate).constData(), failed);
            if (failed) {
                claim.remove();
                break;
            }
            temp_.setAutoRemove(false);
            *destination = QFileInfo(candidate).absoluteFilePath();
            *pages = writer_.pages();
            return {};
        }
        return folderError(folder_, QStringLiteral("impossibile dare un nome al file"));
    }

private:
    explicit PdfSurface(const QString& folder)
        : folder_(folder), temp_(QDir(folder).filePath(kPartName)) {}

    struct Face {
        PdfFont* pdf = nullptr;
        double ascent = 0;
        double height = 0;
        double column = 0;
        bool fixedPitch = false;
    };

    void underline(const Face& face, const PrintFont& font, double x, double baseline,
                   double advance) {
        if (!font.underline || advance <= 0)
            return;
        const double thickness = writer_.lineThickness(face.pdf, font.size);
        const double position = writer_.underlinePosition(face.pdf, font.size);
        writer_.fillRect(QRectF(area_.left() + x, area_.top() + baseline + position - thickness / 2,
                                advance, thickness));
    }

    // A document uses a handful of fonts over thousands of lines.
    const Face& faceOf(const PrintFont& font) {
        return faces_.get(font, [&] {
            Face face;
            face.pdf = writer_.font(qtFont(font));
            face.ascent = writer_.ascent(face.pdf, font.size);
            face.height = writer_.lineSpacing(face.pdf, font.size);
            face.column = writer_.advance(face.pdf, font.size, u'0');
            face.fixedPitch = writer_.fixedPitch(face.pdf);
            return face;
        });
    }

    QString folder_;
    QTemporaryFile temp_;
    PdfWriter writer_;
    QRectF area_;
    FaceCache<Face> faces_;
};

// A system printer, through Qt's printing; it lays out in device pixels of a 1440-dpi
// grid, 20 to the point.
class PrinterSurface final : public Printer::Surface {
public:
    static std::unique_ptr<PrinterSurface> open(const QPrinterInfo& info) {
        auto surface = std::unique_ptr<PrinterSurface>(new PrinterSurface(info));
        if (!surface->painter_.begin(&surface->printer_))
            return nullptr;
        surface->area_ =
            QRectF(QPointF(0, 0), surface->printer_.pageRect(QPrinter::DevicePixel).size());
        surface->painter_.setClipRect(surface->area_);
        return surface;
    }

    ~PrinterSurface() override {
        if (painter_.isActive()) {
            printer_.abort();
            painter_.end();
        }
    }

    Metrics metrics(const PrintFont& font) override {
        const Face& face = faceOf(font);
        return {face.metrics.ascent() / kGridPerPoint, face.metrics.lineSpacing() / kGridPerPoint,
                face.column, face.fixedPitch};
    }

    double draw(const PrintRun& run, double x, double baseline) override {
        const Face& face = faceOf(run.font);
        if (&face != current_) {
            painter_.setFont(face.font);
            current_ = &face;
        }
        painter_.drawText(QPointF(x * kGridPerPoint, baseline * kGridPerPoint), run.text);
        return face.metrics.horizontalAdvance(run.text) / kGridPerPoint;
    }

    bool newPage() override {
        if (!printer_.newPage()) {
            failed_ = true;
            return false;
        }
        painter_.setClipRect(area_);
        ++pages_;
        return true;
    }

    double areaHeight() const override { return area_.height() / kGridPerPoint; }
    double areaWidth() const override { return area_.width() / kGridPerPoint; }

    Error finish(QString* destination, int* pages) override {
        *destination = printer_.printerName();
        if (!painter_.end() || failed_ || printer_.printerState() == QPrinter::Error)
            return printerError(*destination);
        *pages = pages_;
        return {};
    }

private:
    explicit PrinterSurface(const QPrinterInfo& info) : printer_(info, QPrinter::HighResolution) {
        printer_.setResolution(kResolution);
        printer_.setCreator(QStringLiteral("velario"));
        printer_.setDocName(QStringLiteral("velario"));
    }

    struct Face {
        QFont font;
        QFontMetricsF metrics;
        double column = 0;
        bool fixedPitch = false;
    };

    const Face& faceOf(const PrintFont& f) {
        return faces_.get(f, [&] {
            QFont font = qtFont(f);
            const QFontMetricsF metrics(font, &printer_);
            return Face{font, metrics, metrics.horizontalAdvance(QLatin1Char('0')) / kGridPerPoint,
                        QFontInfo(font).fixedPitch()};
        });
    }

    QPrinter printer_;
    QPainter painter_;
    QRectF area_;
    int pages_ = 1;
    bool failed_ = false;
    const Face* current_ = nullptr;
    FaceCache<Face> faces_;
};

} // namespace

Printer::Printer() = default;
Printer::~Printer() = default;

Printer& Printer::instance() {
    static Printer printer;
    return printer;
}

Error Printer::setFontName(const QString& name) {
    if (name.trimmed().isEmpty())
        return Error::make(ErrorNumber::InvalidArgument);
    font_.name = name;
    return {};
}

Error Printer::setFontSize(float points) {
    if (!(points > 0) || !std::isfinite(points))
        return Error::make(ErrorNumber::InvalidArgument);
    font_.size = static_cast<float>(gridSize(std::clamp(points, kMinSize, kMaxSize)));
    return {};
}

void Printer::startDocument() {
    started_ = true;
    y_ = 0;
    lines_.clear();
    surfaceError_ = {};
    surfaceBroken_ = false;
    surface_.reset();
    toDefaultFolder_ = false;
    const QPrinterInfo system =
        pdfFolder_.isEmpty() ? QPrinterInfo::defaultPrinter() : QPrinterInfo();
    if (!system.isNull()) {
        destination_ = system.printerName();
        surface_ = PrinterSurface::open(system);
        if (!surface_)
            surfaceError_ = printerError(system.printerName());
    } else {
        QString folder = pdfFolder_;
        toDefaultFolder_ = folder.isEmpty();
        if (folder.isEmpty()) {
            folder = defaultPdfFolder();
            QDir().mkpath(folder);
        }
        destination_ = folder;
        surface_ = PdfSurface::open(folder, &surfaceError_);
    }

    spool_.start();
}

namespace {

// Characters that print as a blank: a tab or any other control character, and the line and
// paragraph separators, would otherwise take no column, or jump to a tab stop, or end the
// line laid out with what follows them unprinted. Every character of a line takes one column
// of the fixed-pitch face, and the lines of the transcript are the lines as printed.
bool printsAsBlank(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029;
}

QString asPrinted(const QString& text) {
    if (std::none_of(text.cbegin(), text.cend(),
                     [](QChar c) { return printsAsBlank(c.unicode()); }))
        return text;
    QString printed = text;
    for (QChar& c : printed)
        if (printsAsBlank(c.unicode()))
            c = u' ';
    return printed;
}

} // namespace

void Printer::append(const QString& text) {
    if (text.isEmpty())
        return;
    const QString printed = asPrinted(text);
    lineLength_ += printed.size();
    if (!line_.runs.isEmpty() && line_.runs.last().font == font_)
        line_.runs.last().text += printed;
    else
        line_.runs.append(PrintRun{printed, font_});
}

// Starts a new page when a line of HEIGHT does not fit on this one. A surface that cannot go
// on reports why when the document ends.
bool Printer::makeRoom(double height) {
    if (y_ > 0 && y_ + height > surface_->areaHeight()) {
        if (!surface_->newPage()) {
            surfaceBroken_ = true;
            return false;
        }
        y_ = 0;
    }
    return true;
}

namespace {

bool rightToLeft(QStringView text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x0590)
            continue;
        const QChar::Direction d = c.direction();
        if (d == QChar::DirR || d == QChar::DirAL)
            return true;
    }
    return false;
}

// Whether TEXT holds only blanks from FROM on.
template <typename Text>
bool blankFrom(const Text& text, qsizetype from) {
    for (qsizetype i = from; i < text.size(); ++i)
        if (text[i] != ' ')
            return false;
    return true;
}

// Where an edge falls that a line just reaches: rounding of the advances never makes it wrap.
constexpr double kEdge = 1e-6;

} // namespace

// A right-to-left piece is drawn without the blanks at its ends, which its own direction
// would move to the other side.
double Printer::drawPiece(QStringView text, const PrintFont& font, double x, double baseline) {
    const Surface::Metrics metrics = surface_->metrics(font);
    const double end = metrics.fixedPitch ? x + double(textColumns(text)) * metrics.column : 0;
    double advance = 0;
    if (rightToLeft(text)) {
        qsizetype lead = 0;
        while (lead < text.size() && text[lead] == u' ')
            ++lead;
        const QStringView core = text.mid(lead).trimmed();
        const double start = x + double(lead) * metrics.column;
        advance = start - x + surface_->draw(PrintRun{core.toString(), font}, start, baseline);
        advance += double(text.size() - lead - core.size()) * metrics.column;
    } else {
        advance = surface_->draw(PrintRun{text.toString(), font}, x, baseline);
    }
    return metrics.fixedPitch ? end : x + advance;
}

void Printer::layOut(const PrintLine& line, const QList<qsizetype>& items) {
    if (!surface_ || surfaceBroken_)
        return;
    double ascent = 0;
    double height = 0;
    const auto measure = [&](const PrintFont& font) {
        const Surface::Metrics metrics = surface_->metrics(font);
        ascent = std::max(ascent, metrics.ascent);
        height = std::max(height, metrics.height);
    };
    if (line.runs.isEmpty())
        measure(line.endFont);
    for (const PrintRun& run : line.runs)
        measure(run.font);
    if (!makeRoom(height))
        return;
    double x = 0;
    qsizetype offset = 0;
    qsizetype next = 0;
    for (const PrintRun& run : line.runs) {
        if (items.isEmpty()) {
            x = drawPiece(run.text, run.font, x, y_ + ascent);
            continue;
        }
        // Each item in the run is a piece of its own.
        for (qsizetype from = 0; from < run.text.size();) {
            while (next < items.size() && items[next] <= offset + from)
                ++next;
            const qsizetype to = next < items.size()
                                     ? std::min(run.text.size(), items[next] - offset)
                                     : run.text.size();
            x = drawPiece(QStringView(run.text).mid(from, to - from), run.font, x, y_ + ascent);
            from = to;
        }
        offset += run.text.size();
    }
    y_ += height;
}

// Where LINE goes on to the next line, when it is wider than the page.
std::optional<qsizetype> Printer::breakOf(const PrintLine& line) const {
    if (!surface_ || surfaceBroken_)
        return std::nullopt;
    const double width = surface_->areaWidth() + kEdge;
    double x = 0;
    qsizetype offset = 0;
    qsizetype afterBlank = 0;
    for (qsizetype r = 0; r < line.runs.size(); ++r) {
        const QString& text = line.runs[r].text;
        const double column = surface_->metrics(line.runs[r].font).column;
        for (qsizetype i = 0; i < text.size();) {
            char32_t c = text[i].unicode();
            qsizetype units = 1;
            if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
                c = QChar::surrogateToUcs4(text[i], text[i + 1]);
                units = 2;
            }
            x += charColumns(c) * column;
            if (x > width && offset > 0) {
                bool blanks = blankFrom(text, i);
                for (qsizetype later = r + 1; blanks && later < line.runs.size(); ++later)
                    blanks = blankFrom(line.runs[later].text, 0);
                if (blanks)
                    return std::nullopt;
                return afterBlank * 2 > offset ? afterBlank : offset;
            }
            offset += units;
            i += units;
            if (c == u' ')
                afterBlank = offset;
        }
    }
    return std::nullopt;
}

void Printer::spool(const PrintLine& line) {
    if (!spool_.active())
        return;
    spool_.beginLine();
    for (const PrintRun& run : line.runs)
        spool_.addRun(run.text, run.font);
    spool_.endLine();
}

void Printer::printAsciiLine(QByteArrayView line) {
    Q_ASSERT(isPrintableAscii(line));
    if (!line_.runs.isEmpty()) {
        printText(QString::fromLatin1(line), {}, false);
        return;
    }
    if (!started_)
        startDocument();
    if (surface_ && !surfaceBroken_) {
        const Surface::Metrics metrics = surface_->metrics(font_);
        if (double(line.size()) * metrics.column > surface_->areaWidth() + kEdge) {
            const auto fits = qsizetype((surface_->areaWidth() + kEdge) / metrics.column);
            if (!blankFrom(line, fits)) {
                printText(QString::fromLatin1(line), {}, false);
                return;
            }
        }
        if (makeRoom(metrics.height)) {
            if (!line.isEmpty())
                surface_->drawAscii(line, font_, 0, y_ + metrics.ascent);
            y_ += metrics.height;
        }
    }
    if (spool_.active())
        spool_.addAsciiLine(line, font_);
    if (recordLines_) {
        PrintLine printed;
        if (!line.isEmpty())
            printed.runs.append(PrintRun{QString::fromLatin1(line), font_});
        printed.endFont = font_;
        lines_.append(std::move(printed));
    }
}

int Printer::lineColumns() const {
    if (!surface_ || surfaceBroken_)
        return 0;
    const Surface::Metrics metrics = surface_->metrics(font_);
    return metrics.column > 0 ? int((surface_->areaWidth() + kEdge) / metrics.column) : 0;
}

void Printer::endPrintedLine(PrintLine& line, QList<qsizetype>& items) {
    layOut(line, items);
    spool(line);
    if (recordLines_)
        lines_.append(std::move(line));
}

void Printer::endLine() {
    line_.endFont = font_;
    while (const std::optional<qsizetype> cut = breakOf(line_)) {
        PrintLine head;
        head.endFont = line_.runs.first().font;
        qsizetype taken = 0;
        while (taken < *cut) {
            PrintRun& run = line_.runs.first();
            if (taken + run.text.size() <= *cut) {
                taken += run.text.size();
                head.runs.append(std::move(run));
                line_.runs.removeFirst();
            } else {
                head.runs.append(PrintRun{run.text.left(*cut - taken), run.font});
                run.text.remove(0, *cut - taken);
                taken = *cut;
            }
        }
        head.endFont = head.runs.last().font;
        QList<qsizetype> headItems;
        QList<qsizetype> rest;
        for (const qsizetype start : std::as_const(items_)) {
            if (start < *cut)
                headItems.append(start);
            else if (start > *cut)
                rest.append(start - *cut);
        }
        items_ = std::move(rest);
        endPrintedLine(head, headItems);
    }
    endPrintedLine(line_, items_);
    // The lists keep their room for the next line.
    line_.runs.clear();
    items_.clear();
    lineLength_ = 0;
}

void Printer::startItem() {
    if (lineLength_ > 0 && (items_.isEmpty() || items_.last() != lineLength_))
        items_.append(lineLength_);
}

void Printer::print(const QStringList& items, bool openEnd) {
    if (items.size() == 1) {
        printText(items.first(), {}, openEnd);
        return;
    }
    QString text;
    QList<qsizetype> starts;
    for (const QString& item : items) {
        starts.append(text.size());
        text += item;
    }
    printText(text, starts, openEnd);
}

void Printer::printText(const QString& text, const QList<qsizetype>& itemStarts, bool openEnd) {
    if (!started_)
        startDocument();
    startItem();
    qsizetype next = 0;
    // Appends TEXT from FROM to TO, marking where items start in it.
    const auto appendPart = [&](qsizetype from, qsizetype to) {
        for (; next < itemStarts.size() && itemStarts[next] < to; ++next) {
            if (itemStarts[next] <= from)
                continue;
            append(text.mid(from, itemStarts[next] - from));
            startItem();
            from = itemStarts[next];
        }
        append(from == 0 && to == text.size() ? text : text.mid(from, to - from));
    };
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != u'\r' && c != u'\n')
            continue;
        appendPart(start, i);
        endLine();
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    appendPart(start, text.size());
    if (!openEnd)
        endLine();
}

QString Printer::defaultPdfFolder() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
        .filePath(QStringLiteral("velario"));
}

Error Printer::endDoc() {
    if (!started_)
        return {};
    if (!line_.runs.isEmpty())
        endLine();
    PrintDocument doc;
    doc.destination = destination_;
    doc.lines = std::move(lines_);
    started_ = false;
    lines_.clear();
    line_ = {};
    items_.clear();
    lineLength_ = 0;

    Error error = surfaceError_;
    if (!error && surface_)
        error = surface_->finish(&doc.destination, &doc.pages);
    if (error)
        doc.pages = 0;
    surface_.reset();
    surfaceError_ = {};

    if (error)
        spool_.drop();
    else
        spool_.deliver(doc.destination);
    last_ = std::move(doc);
    // Written to a folder the user never named, the document would otherwise go unseen.
    if (!error && toDefaultFolder_)
        platform().showDocument(last_.destination);
    return error;
}

void Printer::reset() {
    font_ = {};
    started_ = false;
    line_ = {};
    items_.clear();
    lineLength_ = 0;
    lines_.clear();
    surface_.reset();
    surfaceError_ = {};
    spool_.drop();
}

} // namespace velario
