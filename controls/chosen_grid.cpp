#include "chosen_grid.h"

#include "datagrid.h"

#include <limits>

namespace velario {

DataGrid* ChosenGrid::grid(Error* error) const {
    DataGrid* g = choose_ ? choose_() : nullptr;
    if (!g && error)
        *error = Error::make(ErrorNumber::ObjectNotSet);
    return g;
}

Error ChosenGrid::selectRow(qint64 position) {
    Error error;
    DataGrid* g = grid(&error);
    if (!g)
        return error;
    if (position > std::numeric_limits<int>::max())
        return Error::make(ErrorNumber::InvalidRow);
    return g->setRow(int(position));
}

Error ChosenGrid::selectColumn(int column) {
    Error error;
    if (DataGrid* g = grid(&error))
        return g->setCol(column);
    return error;
}

QString ChosenGrid::caption(int column, Error* error) {
    DataGrid* g = grid(error);
    if (!g)
        return {};
    if (column < 0 || column >= g->columnCount()) {
        *error = Error::make(ErrorNumber::InvalidColumn);
        return {};
    }
    return g->columnCaption(column);
}

QString ChosenGrid::text(Error* error) {
    DataGrid* g = grid(error);
    return g ? g->text() : QString();
}

} // namespace velario
