#include "csv_writer.h"

#include <QIODevice>
#include <QLocale>

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velario::data {

namespace {

constexpr qsizetype kBufferSize = qsizetype(1) << 20;
constexpr int kFetchRows = 4096;

// Whether the bytes need quotes: a separator, a quote, CR or LF among them. Sixteen bytes at
// a time where the machine allows, since every cell of a large export passes here.
bool needsQuotes(const char* p, qsizetype n, char separator) {
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i sep = _mm_set1_epi8(separator);
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    for (; i + 16 <= n; i += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i hit =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(b, sep), _mm_cmpeq_epi8(b, quote)),
                         _mm_or_si128(_mm_cmpeq_epi8(b, cr), _mm_cmpeq_epi8(b, lf)));
        if (_mm_movemask_epi8(hit))
            return true;
    }
#endif
    for (; i < n; ++i) {
        const char c = p[i];
        if (c == separator || c == '"' || c == '\r' || c == '\n')
            return true;
    }
    return false;
}

} // namespace

char localeCsvSeparator() {
    return QLocale::system().decimalPoint() == QLatin1String(",") ? ';' : ',';
}

CsvWriter::CsvWriter(QIODevice& device, char separator)
    : device_(device), separator_(separator), buffer_(new char[size_t(kBufferSize)]),
      capacity_(kBufferSize), at_(buffer_.get()), end_(buffer_.get() + capacity_) {}

CsvWriter::~CsvWriter() = default;

void CsvWriter::drain(qsizetype more) {
    flush();
    // A cell larger than the buffer gets a buffer of its own size.
    if (end_ - at_ < more) {
        capacity_ = more;
        buffer_.reset(new char[size_t(capacity_)]);
        at_ = buffer_.get();
        end_ = at_ + capacity_;
    }
}

Error CsvWriter::flush() {
    const qsizetype size = at_ - buffer_.get();
    at_ = buffer_.get();
    if (size > 0 && !error_ && device_.write(buffer_.get(), size) != size)
        error_ = Error::make(ErrorNumber::PermissionDenied, device_.errorString());
    return error_;
}

void CsvWriter::writeHeader(const QStringList& names) {
    beginRow();
    for (const QString& name : names) {
        const QByteArray utf8 = name.toUtf8();
        cell(utf8.constData(), utf8.size());
    }
    endRow();
}

void CsvWriter::cell(const char* utf8, qsizetype length) {
    if (!needsQuotes(utf8, length, separator_)) {
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
    if (const Error error = source.error())
        return error;
    return writer.flush();
}

} // namespace velario::data
