#include "data/results/column_fitting.h"

#include "data/text/ascii_scan.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace velario::data {

namespace int16 {

std::optional<std::int16_t> fromInt(qint64 value) {
    if (value < std::numeric_limits<std::int16_t>::min() ||
        value > std::numeric_limits<std::int16_t>::max())
        return std::nullopt;
    return static_cast<std::int16_t>(value);
}

std::optional<std::int16_t> add(int a, int b) {
    return fromInt(qint64(a) + b);
}

std::optional<std::int16_t> multiply(int a, int b) {
    return fromInt(qint64(a) * b);
}

std::optional<std::int16_t> rounded(double value) {
    if (!std::isfinite(value) || std::fabs(value) > 1e6)
        return std::nullopt;
    return fromInt(qint64(std::nearbyint(value)));
}

} // namespace int16

namespace {

bool addTo(std::int16_t& total, int value) {
    const std::optional<std::int16_t> sum = int16::add(total, value);
    if (sum)
        total = *sum;
    return sum.has_value();
}

} // namespace

bool MeasuredGrid::asciiRow(std::vector<QByteArrayView>&, int) {
    return false;
}

ColumnWidths ColumnMeasure::widths() const {
    ColumnWidths m = m_;
    if (m.headTotal > m.lineTotal)
        m.lineTotal = m.headTotal;
    return m;
}

qsizetype shownLength(QByteArrayView utf8) {
    return isPrintableAscii(utf8) ? trimmedLength(utf8) : trimmedLength(QString::fromUtf8(utf8));
}

MeasuringSink::MeasuringSink(ColumnMeasure& measure, std::vector<qsizetype> captionLengths,
                             qint64 first, qint64 limit)
    : measure_(measure), captions_(std::move(captionLengths)), row_(first), limit_(limit) {}

void MeasuringSink::beginRow() {
    column_ = 0;
    rowDone_ = row_ >= limit_;
}

inline bool MeasuringSink::measureNext(qsizetype length) {
    const int c = column_++;
    if (rowDone_ || c >= qsizetype(captions_.size()) || c >= ColumnWidths::kColumns) {
        rowDone_ = true;
        return false;
    }
    measure_.reach(c);
    if (row_ == 0 && !measure_.caption(c, captions_[size_t(c)]))
        rowDone_ = true;
    else if (!measure_.cell(row_, c, length))
        rowDone_ = true;
    return !rowDone_;
}

void MeasuringSink::cell(const char* utf8, qsizetype length) {
    if (!rowDone_)
        measureNext(shownLength(QByteArrayView(utf8, length)));
}

// A row known to be printable ASCII is measured without looking at its bytes again.
void MeasuringSink::row(std::span<const QByteArrayView> cells, bool printable) {
    beginRow();
    for (const QByteArrayView bytes : cells)
        if (!measureNext(printable ? trimmedLength(bytes) : shownLength(bytes)))
            break;
    endRow();
}

void MeasuringSink::nullCell() {
    cell(nullptr, 0);
}

ColumnWidths measureColumns(MeasuredGrid& grid, const MeasureOptions& options) {
    ColumnMeasure measure;
    std::vector<QByteArrayView> cells;
    for (qint64 r = 0;; ++r) {
        if (grid.selectRow(r) || double(r) >= options.rowLimit)
            break;
        // A row of plain ASCII is read at once; any other, cell by cell.
        const bool whole = grid.asciiRow(cells, ColumnWidths::kColumns);
        for (int c = 0; c < ColumnWidths::kColumns; ++c) {
            if (whole ? c >= qsizetype(cells.size()) : grid.selectColumn(c).isSet())
                break;
            measure.reach(c);
            Error error;
            if (r == 0) {
                const QString caption = grid.caption(c, &error);
                if (error || !measure.caption(c, trimmedLength(caption)))
                    break;
            }
            const qsizetype length =
                whole ? trimmedLength(cells[size_t(c)]) : trimmedLength(grid.text(&error));
            if (error || !measure.cell(r, c, length))
                break;
        }
    }
    return measure.widths();
}

std::int16_t fitColumnWidths(std::span<std::int16_t> widths, std::int16_t startTotal,
                             std::int16_t target) {
    struct Pass {
        std::int16_t total = 0;
        std::vector<std::int16_t> widths;
    };
    std::optional<Pass> largestWithin; // largest total not above TARGET
    std::optional<Pass> smallestOver;  // smallest total above it
    std::vector<bool> reached(size_t(1) << 16, false);
    const auto slot = [](std::int16_t total) { return size_t(std::uint16_t(total)); };

    std::int16_t total = startTotal;
    for (;;) {
        if (total > int(target) - 4 && total <= target)
            break;
        const std::int16_t previous = total;
        const int step = total <= target ? 1 : -1;
        total = 0;
        for (std::int16_t& width : widths) {
            if (width >= 16)
                addTo(width, step);
            addTo(total, width);
        }
        if (total == previous)
            break;
        if (reached[slot(total)]) {
            const std::optional<Pass>& keep = largestWithin ? largestWithin : smallestOver;
            std::copy(keep->widths.begin(), keep->widths.end(), widths.begin());
            return keep->total;
        }
        reached[slot(total)] = true;
        std::optional<Pass>& best = total <= target ? largestWithin : smallestOver;
        const bool better = !best || (total <= target ? total > best->total : total < best->total);
        if (better)
            best = Pass{total, {widths.begin(), widths.end()}};
    }
    return total;
}

} // namespace velario::data
