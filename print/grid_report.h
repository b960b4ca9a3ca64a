#pragma once

#include "data/errors.h"
#include "data/results/column_fitting.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace velario {

class DataGrid;

// The grid whose result the report prints, cell by cell; its rows are the result's, 0 being
// its first row wherever the grid is scrolled (InvalidRow when the result has no such row).
class ReportGrid : public data::MeasuredGrid {
public:
    // Rows of the whole result; nullopt when they cannot be counted.
    virtual std::optional<qint64> recordCount() = 0;
    // Reads the first ROWS rows (a real number, as the user's reply) ahead of the walks, where
    // the user can stop it: OperationCancelled then. Any other failure ends the walks as a
    // refused row does.
    virtual Error readAhead(double rows);
    // The widths of the rows readAhead read, when it measured them as it read them.
    virtual std::optional<data::ColumnWidths> measuredAhead() const { return std::nullopt; }
    // The report is done: the grid's current column goes back to the first.
    virtual void finish() = 0;
};

// The texts of the title block, as the catalogue window shows them.
struct GridReportTitle {
    QString description;
    QString database;
    QString databaseType;
    // The values the result's parameters took, a line under the database's; empty for a
    // result without parameters, which has no such line.
    QString parameters = {};
};

// Prints the result of GRID: asks how many rows, measures them, fits the columns to the
// line and prints the title block, the captions and the rows in "COURIER NEW", the rows
// counted from the first row of the result.
void printResultGrid(ReportGrid& grid, const GridReportTitle& title);

// The report over the result window's grids: what its "Stampa" button calls. ACTIVEGRID
// gives the grid that shows the current result (null when there is none) and is asked
// again whenever a walk of the rows starts.
void printResultGrid(const std::function<DataGrid*()>& activeGrid, const GridReportTitle& title);

} // namespace velario
