#pragma once

#include "platform/errors.h"

#include <QString>

#include <array>
#include <functional>
#include <optional>

namespace velario {

namespace data {
class DataGrid;
}

// The grid whose result the report prints, cell by cell.
class ReportGrid {
public:
    virtual ~ReportGrid() = default;
    // Rows of the whole result; nullopt when they cannot be counted.
    virtual std::optional<qint64> recordCount() = 0;
    // Row ROW of the result, 0 being its first row wherever the grid is scrolled;
    // InvalidRow when the result has no such row.
    virtual Error selectRow(qint64 row) = 0;
    // InvalidColumn when the grid has no such column.
    virtual Error selectColumn(int column) = 0;
    virtual QString caption(int column, Error* error) = 0;
    // The text of the selected cell as the grid shows it.
    virtual QString text(Error* error) = 0;
    // The report is done: the grid's current column goes back to the first.
    virtual void finish() = 0;
};

// The texts of the title block, as the catalogue window shows them.
struct GridReportTitle {
    QString description;
    QString database;
    QString databaseType;
};

// The widths the report gives the columns, in characters.
struct GridReportWidths {
    static constexpr int kMaxColumns = 51;
    std::array<qint16, kMaxColumns> width{};
    // The highest column index measured.
    int maxCol = 0;
    // The first row's widths right after the captions.
    qint16 headTotal = 0;
    // The running widths added up once for each measured row after the first; only the
    // first pass of the fitting looks at it.
    qint16 lineTotal = 0;
};

// Measures the columns over the rows 0 to ROWS (exclusive, a real number as the user's
// reply) of GRID: the captions and the cell texts, without their blanks at either end,
// each make a column one character wider than themselves. A column beyond the 51st is
// left out; a refused row ends the measurement, a refused column or an unreadable text
// ends that row's columns.
GridReportWidths measureReportColumns(ReportGrid& grid, double rows);

// Characters a body line holds at SIZE points: 120 at 7, 147 at 6, else 96.
int lineCapacity(float size);

// Prints the result of GRID: asks how many rows, measures them, fits the columns to the
// line and prints the title block, the captions and the rows in "COURIER NEW", the rows
// counted from the first row of the result.
void printResultGrid(ReportGrid& grid, const GridReportTitle& title);

// The report over the result window's grids: what its "Stampa" button calls. ACTIVEGRID
// gives the grid that shows the current result (null when there is none) and is asked
// again before every step that touches a grid.
void printResultGrid(const std::function<data::DataGrid*()>& activeGrid,
                     const GridReportTitle& title);

} // namespace velario
