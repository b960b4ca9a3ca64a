// Column measurement and fitting on random grids, widths and targets. The measurement keeps
// every width at one more than the longest text it took, and the fitting always ends, never
// touches a width below 16, never takes a wider one below 15, and returns the 16-bit total
// of the widths it leaves.
#include "data/results/column_fitting.h"

#include <QString>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using velario::Error;
namespace ErrorNumber = velario::ErrorNumber;
using velario::data::ColumnWidths;

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::int16_t word() {
        const std::uint16_t low = byte();
        return std::int16_t(std::uint16_t(low | (std::uint16_t(byte()) << 8)));
    }
    bool empty() const { return at_ >= size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// A grid of ROWS x COLUMNS whose texts have lengths drawn from the input (blanks around
// some of them), and which refuses what the input says it refuses.
class FakeGrid final : public velario::data::MeasuredGrid {
public:
    explicit FakeGrid(Input& in) {
        rows_ = in.byte() % 20;
        columns_ = in.byte() % 56;
        refusedRow_ = in.byte() % 64;
        refusedColumn_ = in.byte() % 64;
        for (int i = 0; i < (rows_ + 1) * columns_; ++i)
            lengths_.push_back(in.byte() % 16 == 0 ? in.word() & 0x7fff : in.byte());
        for (int c = 0; c < columns_; ++c)
            captions_.push_back(in.byte());
        longest_.assign(size_t(ColumnWidths::kColumns), 0);
    }
    Error selectRow(qint64 position) override {
        if (position > rows_ || position == refusedRow_)
            return Error::make(ErrorNumber::InvalidRow);
        row_ = int(position);
        return {};
    }
    Error selectColumn(int column) override {
        if (column >= columns_ || column == refusedColumn_)
            return Error::make(ErrorNumber::InvalidColumn);
        column_ = column;
        return {};
    }
    QString caption(int column, Error*) override {
        return textOf(column, captions_[size_t(column)]);
    }
    QString text(Error*) override {
        return textOf(column_, lengths_[size_t(row_ * columns_ + column_)]);
    }
    int longest(int column) const { return longest_[size_t(column)]; }

private:
    QString textOf(int column, int length) {
        // Blanks at either end do not count.
        const QString text = QString(length, QLatin1Char('x'));
        if (column < ColumnWidths::kColumns && length > longest_[size_t(column)])
            longest_[size_t(column)] = length;
        return length % 3 == 0 ? QStringLiteral("  ") + text + QStringLiteral(" ") : text;
    }

    int rows_ = 0;
    int columns_ = 0;
    int refusedRow_ = 0;
    int refusedColumn_ = 0;
    int row_ = 0;
    int column_ = 0;
    std::vector<int> lengths_;
    std::vector<int> captions_;
    std::vector<int> longest_;
};

std::int16_t total16(const std::vector<std::int16_t>& widths) {
    std::int16_t total = 0;
    for (const std::int16_t w : widths) {
        const int sum = int(total) + w;
        if (sum >= std::numeric_limits<std::int16_t>::min() &&
            sum <= std::numeric_limits<std::int16_t>::max())
            total = std::int16_t(sum);
    }
    return total;
}

void checkMeasure(Input& in) {
    FakeGrid grid(in);
    velario::data::MeasureOptions options;
    options.rowLimit = double(in.byte() % 50) + (in.byte() % 2 ? 0.5 : 0);
    const ColumnWidths m = velario::data::measureColumns(grid, options);
    if (m.maxCol < 0 || m.maxCol >= ColumnWidths::kColumns)
        std::abort();
    for (int c = 0; c < ColumnWidths::kColumns; ++c) {
        const int w = m.width[size_t(c)];
        if (w < 0 || w > grid.longest(c) + 1 || (w > 0 && c > m.maxCol))
            std::abort();
    }
    if (m.lineTotal < m.headTotal)
        std::abort();
}

void checkFit(Input& in) {
    const int count = in.byte() % 52;
    std::vector<std::int16_t> widths;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t kind = in.byte();
        widths.push_back(kind < 128 ? std::int16_t(kind % 64) : in.word());
    }
    const std::int16_t start = in.word();
    const std::int16_t target = in.word();
    const std::vector<std::int16_t> before = widths;
    const std::int16_t total = velario::data::fitColumnWidths(widths, start, target);
    for (size_t i = 0; i < widths.size(); ++i) {
        if (before[i] < 16 && widths[i] != before[i])
            std::abort();
        if (before[i] >= 16 && widths[i] < 15)
            std::abort();
    }
    const bool untouched = widths == before && total == start;
    if (!untouched && total != total16(widths))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    if (in.byte() % 2)
        checkMeasure(in);
    else
        checkFit(in);
    return 0;
}
