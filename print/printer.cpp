#include "printer.h"

#include "platform/document_spool.h"
#include "platform/platform.h"

#include "data/ascii_scan.h"
#include "pdf/pdf_writer.h"

#include <QDir>
#include <QFileInfo>
#include <QFont>
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
        return {face.ascent, face.height};
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
        return {face.metrics.ascent() / kGridPerPoint, face.metrics.lineSpacing() / kGridPerPoint};
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
    };

    const Face& faceOf(const PrintFont& f) {
        return faces_.get(f, [&] {
            QFont font = qtFont(f);
            return Face{font, QFontMetricsF(font, &printer_)};
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
    const QPrinterInfo system =
        pdfFolder_.isEmpty() ? QPrinterInfo::defaultPrinter() : QPrinterInfo();
    if (!system.isNull()) {
        destination_ = system.printerName();
        surface_ = PrinterSurface::open(system);
        if (!surface_)
            surfaceError_ = printerError(system.printerName());
    } else {
        QString folder = pdfFolder_;
        if (folder.isEmpty()) {
            folder = defaultPdfFolder();
            QDir().mkpath(folder);
        }
        destination_ = folder;
        surface_ = PdfSurface::open(folder, &surfaceError_);
    }

    spool_.start();
}

void Printer::append(const QString& text) {
    if (text.isEmpty())
        return;
    if (!line_.runs.isEmpty() && line_.runs.last().font == font_)
        line_.runs.last().text += text;
    else
        line_.runs.append(PrintRun{text, font_});
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

// Every character of a line takes one column of the fixed-pitch face: a tab or any other
// control character would otherwise take none, or jump to a tab stop, and shift the columns
// after it.
bool isControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

QString asDrawn(const QString& text) {
    if (std::none_of(text.cbegin(), text.cend(), [](QChar c) { return isControl(c.unicode()); }))
        return text;
    QString drawn = text;
    for (QChar& c : drawn)
        if (isControl(c.unicode()))
            c = u' ';
    return drawn;
}

} // namespace

void Printer::layOut(const PrintLine& line) {
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
    for (const PrintRun& run : line.runs)
        x += surface_->draw(PrintRun{asDrawn(run.text), run.font}, x, y_ + ascent);
    y_ += height;
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
        printText(QString::fromLatin1(line), false);
        return;
    }
    if (!started_)
        startDocument();
    if (surface_ && !surfaceBroken_) {
        const Surface::Metrics metrics = surface_->metrics(font_);
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

void Printer::endLine() {
    line_.endFont = font_;
    layOut(line_);
    spool(line_);
    if (recordLines_) {
        lines_.append(std::move(line_));
        line_ = {};
    } else {
        // The list keeps its room for the next line.
        line_.runs.clear();
    }
}

void Printer::printText(const QString& text, bool openEnd) {
    if (!started_)
        startDocument();
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != u'\r' && c != u'\n')
            continue;
        append(text.mid(start, i - start));
        endLine();
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    append(start == 0 ? text : text.mid(start));
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
    return error;
}

void Printer::reset() {
    font_ = {};
    started_ = false;
    line_ = {};
    lines_.clear();
    surface_.reset();
    surfaceError_ = {};
    spool_.drop();
}

} // namespace velario
