#include "width_fitting.h"

#include <algorithm>
#include <limits>
#include <set>
#include <vector>

namespace velario {

namespace {

constexpr int kFixedUpTo = 15;

bool fits16(int value) {
    return value >= std::numeric_limits<qint16>::min() &&
           value <= std::numeric_limits<qint16>::max();
}

// One pass over every width; returns the new total.
qint16 pass(std::span<qint16> widths, int step) {
    qint16 total = 0;
    for (qint16& width : widths) {
        if (width > kFixedUpTo && fits16(width + step))
            width = qint16(width + step);
        if (fits16(total + width))
            total = qint16(total + width);
    }
    return total;
}

} // namespace

void fitWidths(std::span<qint16> widths, qint16 startTotal, int limit) {
    qint16 total = startTotal;
    // The measurement's total counts as reached: a first pass that gives it back ends the
    // fitting as any later repeat does.
    std::set<qint16> reached{startTotal};
    std::vector<qint16> best;
    int bestTotal = std::numeric_limits<int>::min();
    for (;;) {
        if (total > limit - 4 && total <= limit)
            return;
        total = pass(widths, total > limit ? -1 : +1);
        if (total <= limit && total >= bestTotal) {
            bestTotal = total;
            best.assign(widths.begin(), widths.end());
        }
        // Totals are 16-bit, so one of them must come back within 65536 passes.
        if (!reached.insert(total).second)
            break;
    }
    if (!best.empty() && (total > limit || total < bestTotal))
        std::copy(best.begin(), best.end(), widths.begin());
}

} // namespace velario
