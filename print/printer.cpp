#include "printer.h"

#include "platform/platform.h"
#include "platform/transcript.h"

#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

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

// A document uses a handful of fonts over thousands of lines: each is resolved and measured
// once, not on every line it appears on.
class FontCache {
public:
    explicit FontCache(QPaintDevice* device) : device_(device) {}

    struct Entry {
        QFont font;
        QFontMetricsF metrics;
    };

    const Entry& operator[](const PrintFont& f) {
        for (const auto& [key, entry] : entries_)
            if (key == f)
                return *entry;
        QFont font = qtFont(f);
        QFontMetricsF metrics(font, device_);
        entries_.emplace_back(f, std::make_unique<Entry>(Entry{std::move(font), metrics}));
        return *entries_.back().second;
    }

private:
    QPaintDevice* device_;
    std::vector<std::pair<PrintFont, std::unique_ptr<Entry>>> entries_;
};

// Lays the lines out top to bottom, starting a page whenever the next line would not fit.
// Returns the number of pages, 0 when the printer refused.
int render(QPrinter& printer, const QList<PrintLine>& lines) {
    QPainter painter;
    if (!painter.begin(&printer))
        return 0;
    const QRectF area(QPointF(0, 0), printer.pageRect(QPrinter::DevicePixel).size());
    painter.setClipRect(area);
    FontCache fonts(&printer);
    const FontCache::Entry* current = nullptr;
    int pages = 1;
    qreal y = 0;
    for (const PrintLine& line : lines) {
        qreal ascent = 0;
        qreal height = 0;
        const auto measure = [&](const PrintFont& f) {
            const QFontMetricsF& metrics = fonts[f].metrics;
            ascent = std::max(ascent, metrics.ascent());
            height = std::max(height, metrics.lineSpacing());
        };
        if (line.runs.isEmpty())
            measure(line.endFont);
        for (const PrintRun& run : line.runs)
            measure(run.font);
        if (y > 0 && y + height > area.height()) {
            if (!printer.newPage())
                return 0;
            painter.setClipRect(area);
            ++pages;
            y = 0;
        }
        qreal x = 0;
        for (qsizetype i = 0; i < line.runs.size(); ++i) {
            const PrintRun& run = line.runs[i];
            const FontCache::Entry& entry = fonts[run.font];
            if (&entry != current) {
                painter.setFont(entry.font);
                current = &entry;
            }
            painter.drawText(QPointF(x, y + ascent), run.text);
            // Only a run that another follows on the same line needs its width.
            if (i + 1 < line.runs.size())
                x += entry.metrics.horizontalAdvance(run.text);
        }
        y += height;
    }
    if (!painter.end() || printer.printerState() == QPrinter::Error)
        return 0;
    return pages;
}

// The PDF engine does not report failed writes; a complete file ends with its trailer.
bool completePdf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 16)
        return false;
    file.seek(std::max<qint64>(0, file.size() - 64));
    return file.readAll().contains("%%EOF");
}

// Renders into a hidden temporary file and gives it its final name only once complete,
// so that a failure leaves nothing that looks like a finished document.
Error writePdf(const QString& folder, const QList<PrintLine>& lines, QString* path, int* pages) {
    const QFileInfo info(folder);
    if (!info.exists())
        return folderError(folder, QStringLiteral("la cartella non esiste"));
    if (!info.isDir())
        return folderError(folder, QStringLiteral("il percorso non è una cartella"));

    QTemporaryFile temp(QDir(folder).filePath(QStringLiteral(".velario-XXXXXX.part")));
    if (!temp.open())
        return folderError(folder, QStringLiteral("impossibile scrivere nella cartella"));
    temp.close();

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(temp.fileName());
    printer.setResolution(kResolution);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageMargins(QMarginsF(kPageSideMarginInches, kPageTopMarginInches,
                                     kPageSideMarginInches, kPageTopMarginInches),
                           QPageLayout::Inch);
    printer.setCreator(QStringLiteral("velario"));
    printer.setDocName(QStringLiteral("velario"));
    const int rendered = render(printer, lines);
    if (rendered == 0 || !completePdf(temp.fileName()))
        return folderError(folder, QStringLiteral("scrittura del file non riuscita"));

    const QString stem = QStringLiteral("velario-%1-")
                             .arg(platform().now().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    for (int n = 1; n < 100000; ++n) {
        const QString candidate = QDir(folder).filePath(stem + QString::number(n) + ".pdf");
        // Claiming the name by exclusive creation first means the rename below can only
        // ever replace our own empty placeholder, never somebody else's file.
        QFile claim(candidate);
        if (!claim.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (QFileInfo::exists(candidate))
                continue;
            break;
        }
        claim.close();
        // The placeholder was created under the user's umask; the document should be too.
        temp.setPermissions(claim.permissions());
        std::error_code failed;
        std::filesystem::rename(QFile::encodeName(temp.fileName()).constData(),
                                QFile::encodeName(candidate).constData(), failed);
        if (failed) {
            claim.remove();
            break;
        }
        temp.setAutoRemove(false);
        *path = QFileInfo(candidate).absoluteFilePath();
        *pages = rendered;
        return {};
    }
    return folderError(folder, QStringLiteral("impossibile dare un nome al file"));
}

// Appends the lines as the transcript's JSON text, one array of runs per line.
void appendTranscriptLines(QByteArray& out, const QList<PrintLine>& lines) {
    // Room for the whole text at once: growing by doubling would need twice its size.
    qsizetype estimate = 2;
    for (const PrintLine& line : lines) {
        estimate += 3;
        for (const PrintRun& run : line.runs)
            estimate += 80 + run.font.name.size() + run.text.size() + run.text.size() / 8;
    }
    out.reserve(out.size() + estimate + 16);
    out += '[';
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QJsonArray runs;
        for (const PrintRun& run : lines[i].runs) {
            runs.append(QJsonObject{
                {"text", run.text},
                {"font", run.font.name},
                {"size", gridSize(run.font.size)},
                {"bold", run.font.bold},
                {"underline", run.font.underline},
            });
        }
        if (i > 0)
            out += ',';
        out += QJsonDocument(runs).toJson(QJsonDocument::Compact);
    }
    out += ']';
}

} // namespace

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

void Printer::append(const QString& text) {
    if (text.isEmpty())
        return;
    if (!line_.runs.isEmpty() && line_.runs.last().font == font_)
        line_.runs.last().text += text;
    else
        line_.runs.append(PrintRun{text, font_});
}

void Printer::endLine() {
    line_.endFont = font_;
    lines_.append(std::move(line_));
    line_ = {};
}

void Printer::print(const QStringList& items, bool openEnd) {
    started_ = true;
    // Nothing separates the items, so a "\r" ending one and a "\n" starting the next
    // make one line break, as they would in the joined text.
    const QString text = items.join(QString());
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
    append(text.mid(start));
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
    doc.lines = std::move(lines_);
    started_ = false;
    lines_.clear();
    line_ = {};

    Error error;
    const QPrinterInfo system =
        pdfFolder_.isEmpty() ? QPrinterInfo::defaultPrinter() : QPrinterInfo();
    if (!system.isNull()) {
        doc.destination = system.printerName();
        QPrinter printer(system, QPrinter::HighResolution);
        printer.setResolution(kResolution);
        printer.setCreator(QStringLiteral("velario"));
        printer.setDocName(QStringLiteral("velario"));
        doc.pages = render(printer, doc.lines);
        if (doc.pages == 0)
            error = printerError(doc.destination);
    } else {
        QString folder = pdfFolder_;
        if (folder.isEmpty()) {
            folder = defaultPdfFolder();
            QDir().mkpath(folder);
        }
        doc.destination = folder;
        error = writePdf(folder, doc.lines, &doc.destination, &doc.pages);
    }

    Transcript& transcript = Transcript::instance();
    if (!error && transcript.isOpen()) {
        QByteArray line = transcript.startLine(
            QStringLiteral("document"), {{"destination", doc.destination}}, QLatin1String("lines"));
        appendTranscriptLines(line, doc.lines);
        transcript.finishLine(line);
    }
    last_ = std::move(doc);
    return error;
}

void Printer::reset() {
    font_ = {};
    started_ = false;
    line_ = {};
    lines_.clear();
}

} // namespace velario
