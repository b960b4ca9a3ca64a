#pragma once

#include "data/errors.h"
#include "data/result_source.h"
#include "data/text/text_columns.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

namespace velario::data {

// Arithmetic on the 16-bit integers that hold widths and totals: a result outside
// -32768..32767 is a failed step, which leaves the target as it was.
namespace int16 {
std::optional<std::int16_t> fromInt(qint64 value);
std::optional<std::int16_t> add(int a, int b);
std::optional<std::int16_t> multiply(int a, int b);
// VALUE rounded to the nearest whole number, a half going to the even neighbour.
std::optional<std::int16_t> rounded(double value);
} // namespace int16

// The columns TEXT takes without white space at either end, as fields are trimmed: what the
// measurement of a column counts (a wide character takes two).
inline qsizetype trimmedLength(QStringView text) {
    return textColumns(text.trimmed());
}
// The same for bytes; inline, as it runs for every cell of every row a report measures.
inline qsizetype trimmedLength(QByteArrayView text) {
    const auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    qsizetype start = 0;
    qsizetype end = text.size();
    while (end > 0 && space(text[end - 1]))
        --end;
    while (start < end && space(text[start]))
        ++start;
    return end - start;
}

// The grid operations a column measurement makes, each of which the grid may refuse.
class MeasuredGrid {
public:
    virtual ~MeasuredGrid() = default;
    // Row ROW (what it counts from is the grid's own: the first row on display, or the
    // first row of the result).
    virtual Error selectRow(qint64 row) = 0;
    virtual Error selectColumn(int column) = 0;
    virtual QString caption(int column, Error* error) = 0;
    // The text of the selected cell as the grid shows it.
    virtual QString text(Error* error) = 0;
    // The selected row's first cells, at most MAX, as their bytes when every one can be
    // read and is plain printable ASCII (a Null as no bytes), valid until the next call on
    // the grid; false when not (or the grid cannot say), and the cells are read one by one.
    virtual bool asciiRow(std::vector<QByteArrayView>& cells, int max);
};

// Widths in characters of the grid columns 0 to 50; later columns are never measured.
struct ColumnWidths {
    static constexpr int kColumns = 51;
    std::array<std::int16_t, kColumns> width{};
    // The highest column index the measurement selected.
    std::int16_t maxCol = 0;
    // The first row's widths added up right after the captions.
    std::int16_t headTotal = 0;
    // The running widths added up once for every measured row after the first, raised to
    // headTotal when that is larger: not a line's width, it only steers the first pass of
    // the fitting. Both totals stop at 32767.
    std::int16_t lineTotal = 0;
};

struct MeasureOptions {
    // Rows below this are measured: the row count + 1 for the result window, the rows asked
    // for in a printout (a real number, as the user's reply).
    double rowLimit = 0;
};

// A measurement made one column of one row at a time, in the order of the rows: the rules
// that measureColumns follows, for whoever walks the rows.
class ColumnMeasure {
public:
    // Column C of the row was selected.
    void reach(int column) { m_.maxCol = std::max(m_.maxCol, std::int16_t(column)); }
    // Row 0's caption of column C, of LENGTH; false when the width would pass 16 bits (the
    // row's later columns are then left out). Inline, as a report measures every cell.
    bool caption(int column, qsizetype length) {
        std::int16_t& width = m_.width[size_t(column)];
        if (!widenFor(width, length))
            return false;
        addUpTo(m_.headTotal, width);
        return true;
    }
    // The cell of ROW in column C, of LENGTH; false as for a caption.
    bool cell(qint64 row, int column, qsizetype length) {
        std::int16_t& width = m_.width[size_t(column)];
        if (!widenFor(width, length))
            return false;
        if (row > 0)
            addUpTo(m_.lineTotal, width);
        return true;
    }
    ColumnWidths widths() const;

private:
    // Makes WIDTH one more than a text of LENGTH characters when the text is longer than
    // it; false when the new width does not fit in 16 bits.
    static bool widenFor(std::int16_t& width, qsizetype length) {
        if (width >= length)
            return true;
        if (length >= std::numeric_limits<std::int16_t>::max())
            return false;
        width = std::int16_t(length + 1);
        return true;
    }
    // The measured totals only steer the fitting's first pass, which asks no more of them
    // than whether they exceed the target: past the 16-bit range they stay at its top, and
    // the later columns of every row are still measured.
    static void addUpTo(std::int16_t& total, int value) {
        total = std::int16_t(std::clamp(int(total) + value,
                                        int(std::numeric_limits<std::int16_t>::min()),
                                        int(std::numeric_limits<std::int16_t>::max())));
    }

    ColumnWidths m_;
};

// What the measurement counts of a cell of these UTF-8 bytes, shown as text (a Null is the
// empty text).
qsizetype shownLength(QByteArrayView utf8);

// Measures the rows a source hands on, as the walk of a grid over them would: row FIRST is
// the first to come; rows from LIMIT on and columns from the COLUMNS'th on are left out.
// Row 0, when it comes, is measured after CAPTIONLENGTHS, the lengths of the captions.
class MeasuringSink final : public RowSink {
public:
    MeasuringSink(ColumnMeasure& measure, std::vector<qsizetype> captionLengths, qint64 first,
                  qint64 limit);
    void beginRow() override;
    void cell(const char* utf8, qsizetype length) override;
    void nullCell() override;
    void endRow() override { ++row_; }
    void row(std::span<const QByteArrayView> cells, bool printable) override;

private:
    // Measures the next cell of the row, of LENGTH; false once the row's later cells are
    // left out.
    bool measureNext(qsizetype length);

    ColumnMeasure& measure_;
    std::vector<qsizetype> captions_;
    qint64 row_;
    qint64 limit_;
    int column_ = 0;
    bool rowDone_ = false;
};

// Measures every column over the rows: the caption (row 0 only) and each cell text, without
// white space at either end, make a column one character wider than themselves when they are
// not shorter than it. A refused row ends the walk (the row is selected before the limit is
// looked at: the walk leaves the grid on it); a refused column, an unreadable text or a width
// beyond 16 bits ends that row's columns.
ColumnWidths measureColumns(MeasuredGrid& grid, const MeasureOptions& options);

// Moves WIDTHS towards a line of TARGET characters and returns the final total. Each pass
// widens (total at or below TARGET) or narrows (total above it) by one character every
// width of 16 or more, so narrower columns never change. START_TOTAL steers the first
// pass; later passes compare the true sum of the widths. The fitting ends when the total
// lies in TARGET - 3 to TARGET, or equals the total before the pass. When a pass reaches a
// total that an earlier pass already reached, the passes go round in circles: the widths
// become those of the pass with the largest total not above TARGET, or when no pass got
// that low, of the pass with the smallest total. Sums follow the 16-bit rule: an
// overflowing addition is dropped.
std::int16_t fitColumnWidths(std::span<std::int16_t> widths, std::int16_t startTotal,
                             std::int16_t target);

} // namespace velario::data
