#pragma once

#include "data/errors.h"
#include "data/result_source.h"

#include <QByteArray>
#include <QStringList>

#include <memory>

class QIODevice;

namespace velario::data {

// The separator a spreadsheet of the user's locale expects: ';' where decimals are written
// with a comma (a ',' separator would split every number), ',' elsewhere.
char localeCsvSeparator();

// Writes rows as CSV (RFC 4180) to a device: cells as their UTF-8 bytes, exactly as the
// result gives them, quoted only when they hold the separator, a quote, CR or LF, rows ended
// by CR LF, a Null as an empty cell. Bytes are gathered and written in large blocks of whole
// rows, so that a reader of a stream never sees part of a row; the first failed write is kept
// and later output is dropped.
class CsvWriter final : public RowSink {
public:
    // With SPREADSHEETDECIMAL (UTF-8), cells are written as a spreadsheet is to read the
    // values stored (see SpreadsheetForm): numbers with that decimal separator, digits it
    // would change as text. Without it, every cell as it is stored.
    CsvWriter(QIODevice& device, char separator, QByteArray spreadsheetDecimal = {});
    ~CsvWriter() override;

    void writeHeader(const QStringList& names);

    void beginRow() override { first_ = true; }
    void cell(const char* utf8, qsizetype length) override;
    void nullCell() override;
    void endRow() override;

    // Writes the whole rows gathered; the device's error, if any.
    Error flush();
    Error error() const { return error_; }

private:
    void write(const char* utf8, qsizetype length);
    void separate() {
        if (!first_)
            *at_++ = separator_;
        first_ = false;
    }
    // Room for MORE bytes at at_.
    void reserve(qsizetype more) {
        if (end_ - at_ < more)
            drain(more);
    }
    void drain(qsizetype more);

    QIODevice& device_;
    char separator_;
    QByteArray decimal_;
    QByteArray converted_;
    bool first_ = true;
    std::unique_ptr<char[]> buffer_;
    qsizetype capacity_;
    char* at_;
    char* rowEnd_; // where the last whole row ends
    char* end_;
    Error error_;
};

// Writes the whole of SOURCE (its column names first) through WRITER; stops at the first
// failure of either. The rows read before a failure of SOURCE are written.
Error writeCsv(ResultSource& source, CsvWriter& writer);

} // namespace velario::data
