#pragma once

#include "data/errors.h"

#include <QByteArrayView>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace velario {

class DataGrid;

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
    // The selected row's first cells, at most MAX, as their bytes when every one can be
    // read and is plain printable ASCII (a Null as no bytes), valid until the next call on
    // the grid; false when not (or the grid cannot say), and the cells are read one by one.
    virtual bool asciiRow(std::vector<QByteArrayView>& cells, int max);
    // Reads the first ROWS rows (a real number, as the user's reply) ahead of the walks, where
    // the user can stop it: OperationCancelled then. Any other failure ends the walks as a
    // refused row does.
    virtual Error readAhead(double rows);
    // The report is done: the grid's current column goes back to the first.
    virtual void finish() = 0;
};

// The texts of the title block, as the catalogue window shows them.
struct GridReportTitle {
    QString description;
    QString database;
    QString databaseType;
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
