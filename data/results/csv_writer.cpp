#include "data/results/csv_writer.h"

#include "data/results/spreadsheet_cells.h"
#include "data/text/ascii_scan.h"

#include <QIODevice>
#include <QLocale>

#include <algorithm>
#include <cstring>
#include <utility>

namespace velario::data {

namespace {

constexpr qsizetype kBufferSize = qsizetype(1) << 20;
constexpr int kFetchRows = 4096;

} // namespace

char localeCsvSeparator() {
    return QLocale::system().decimalPoint() == QLatin1String(",") ? ';' : ',';
}

CsvWriter::CsvWriter(QIODevice& device, char separator, QByteArray spreadsheetDecimal)
    : device_(device), separator_(separator), decimal_(std::move(spreadsheetDecimal)),
      buffer_(new char[size_t(kBufferSize)]), capacity_(kBufferSize), at_(buffer_.get()),
      rowEnd_(at_), end_(buffer_.get() + capacity_) {}

CsvWriter::~CsvWriter() = default;

void CsvWriter::drain(qsizetype more) {
    flush();
    // A row larger than the buffer gets a buffer of its own size.
    if (end_ - at_ < more) {
        const qsizetype kept = at_ - buffer_.get();
        capacity_ = kept + more;
        std::unique_ptr<char[]> grown(new char[size_t(capacity_)]);
        std::memcpy(grown.get(), buffer_.get(), size_t(kept));
        buffer_ = std::move(grown);
        at_ = buffer_.get() + kept;
        rowEnd_ = buffer_.get();
        end_ = buffer_.get() + capacity_;
    }
}

Error CsvWriter::flush() {
    const qsizetype size = rowEnd_ - buffer_.get();
    if (size > 0 && !error_ && device_.write(buffer_.get(), size) != size)
        error_ = Error::make(ErrorNumber::PermissionDenied, device_.errorString());
    // The row begun stays, to go out once whole.
    const qsizetype begun = at_ - rowEnd_;
    std::memmove(buffer_.get(), rowEnd_, size_t(begun));
    at_ = buffer_.get() + begun;
    rowEnd_ = buffer_.get();
    return error_;
}

void CsvWriter::writeHeader(const QStringList& names) {
    beginRow();
    for (const QString& name : names) {
        const QByteArray utf8 = name.toUtf8();
        write(utf8.constData(), utf8.size());
    }
    endRow();
}

void CsvWriter::cell(const char* utf8, qsizetype length) {
    // Only a sign or a digit can start a number: every other cell goes straight out.
    if (!decimal_.isEmpty() && length > 0 &&
        (utf8[0] == '-' || (utf8[0] >= '0' && utf8[0] <= '9'))) {
        const QByteArrayView bytes(utf8, length);
        if (const SpreadsheetForm form = spreadsheetForm(bytes);
            form != SpreadsheetForm::AsStored) {
            spreadsheetText(bytes, form, decimal_, converted_);
            return write(converted_.constData(), converted_.size());
        }
    }
    write(utf8, length);
}

void CsvWriter::write(const char* utf8, qsizetype length) {
    // Every cell of a large export passes here, hence the scan sixteen bytes at a time.
    if (!containsAnyOf(QByteArrayView(utf8, length), separator_, '"', '\r', '\n')) {
        reserve(length + 1);
        separate();
        std::memcpy(at_, utf8, size_t(length));
        at_ += length;
        return;
    }
    // Every quote doubled, the whole in quotes: at most twice the bytes and three more.
    reserve(2 * length + 3);
    separate();
    *at_++ = '"';
    const char* const end = utf8 + length;
    for (const char* p = utf8; p < end;) {
        const char* quote = static_cast<const char*>(std::memchr(p, '"', size_t(end - p)));
        const char* stop = quote ? quote + 1 : end;
        std::memcpy(at_, p, size_t(stop - p));
        at_ += stop - p;
        if (quote)
            *at_++ = '"';
        p = stop;
    }
    *at_++ = '"';
}

void CsvWriter::nullCell() {
    reserve(1);
    separate();
}

void CsvWriter::endRow() {
    reserve(2);
    *at_++ = '\r';
    *at_++ = '\n';
    rowEnd_ = at_;
}

Error writeCsv(ResultSource& source, CsvWriter& writer) {
    QStringList names;
    for (int c = 0; c < source.columnCount(); ++c)
        names << source.columnName(c);
    writer.writeHeader(names);
    while (!source.atEnd() && !writer.error()) {
        if (source.fetch(kFetchRows, writer) == 0)
            break;
    }
    const Error written = writer.flush();
    if (const Error error = source.error())
        return error;
    return written;
}

} // namespace velario::data
