#pragma once

#include "data/results/column_fitting.h"

#include <functional>

namespace velario {

class DataGrid;

// A data::MeasuredGrid over whichever grid CHOOSE gives at the moment of each operation (the
// grid on show may change while a measurement lets events run); no grid refuses everything.
class ChosenGrid final : public data::MeasuredGrid {
public:
    explicit ChosenGrid(std::function<DataGrid*()> choose) : choose_(std::move(choose)) {}
    // POSITION among the rows on display, 0 being the first row shown.
    Error selectRow(qint64 position) override;
    Error selectColumn(int column) override;
    QString caption(int column, Error* error) override;
    QString text(Error* error) override;

private:
    std::function<DataGrid*()> choose_;
    DataGrid* grid(Error* error) const;
};

} // namespace velario
