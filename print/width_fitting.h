#pragma once

#include <QtGlobal>

#include <span>

namespace velario {

// Moves a set of column widths towards a line of LIMIT characters, the way both the result
// grid and its printout fit their columns.
//
// Each pass widens (total at or below LIMIT) or narrows (total above it) by one character
// every width of 16 or more, so columns of 15 or less never change and a column of 16 that
// is narrowed takes no further part. The fitting ends when the total lies in the four
// characters LIMIT - 3 to LIMIT, or when a pass ends on a total that was reached before,
// START_TOTAL included (which covers a pass that changes nothing). The first pass is
// steered by START_TOTAL, the total of the measurement; every later one by the true sum.
//
// When the passes go round in circles without landing in the window, WIDTHS are left as
// the widest set the passes reached whose sum is still within LIMIT; when none was, as
// the last pass left them.
//
// Sums follow 16-bit arithmetic: an addition that would leave the 16-bit range is dropped,
// and a width that would leave it stays as it is.
void fitWidths(std::span<qint16> widths, qint16 startTotal, int limit);

} // namespace velario
