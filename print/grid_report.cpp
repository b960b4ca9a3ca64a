#include "grid_report.h"

#include "controls/datagrid.h"
#include "data/results/column_fitting.h"
#include "data/results/result_model.h"
#include "platform/platform.h"
#include "print/printer.h"
#include "report_text.h"
#include "rows_reply.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>

namespace velario {

namespace {

const QString kFace = QStringLiteral("COURIER NEW");
const QString kRule = QString(106, u'-');
constexpr float kTitleSize = 9;

float bodySize(int maxCol) {
    if (maxCol <= 6)
        return kTitleSize;
    return maxCol < 10 ? 7 : 6;
}

// The title size first, then the smaller size that more columns need.
void setBodySize(Printer& printer, int maxCol) {
    printer.setFontSize(kTitleSize);
    if (maxCol > 6)
        printer.setFontSize(bodySize(maxCol));
}

// Hands ROW of STORE to SINK as its source did; a cell that cannot be read back as the text
// the grid shows for it.
void replay(const data::RowStore& store, qint64 row, std::vector<QByteArrayView>& cells,
            data::RowSink& sink) {
    bool printable = false;
    if (store.cells(row, int(cells.size()), cells.data(), &printable)) {
        sink.row(cells, printable);
        return;
    }
    sink.beginRow();
    for (int c = 0; c < int(cells.size()); ++c) {
        const std::optional<QByteArrayView> cell = store.cell(row, c);
        if (cell && cell->data())
            sink.cell(cell->data(), cell->size());
        else
            sink.nullCell();
    }
    sink.endRow();
}

// The result on whichever grid is active. Rows are rows of the result, read as far as
// needed, so the report does not depend on what the grid has on display. Which grid is
// active is asked again whenever a walk starts from the first row: during a walk nothing can
// change it, since the report does not yield to the user.
class ActiveGrid final : public ReportGrid {
public:
    explicit ActiveGrid(std::function<DataGrid*()> grid) : active_(std::move(grid)) {}

    std::optional<qint64> recordCount() override {
        lookUp();
        if (!current_)
            return std::nullopt;
        return current_->countedRows();
    }

    Error selectRow(qint64 row) override {
        if (row == 0 || !current_)
            lookUp();
        data::ResultModel* model = model_;
        if (!model || !model->hasSource() || row < 0 || !model->ensureRows(row + 1))
            return Error::make(ErrorNumber::InvalidRow);
        row_ = row;
        return {};
    }

    Error selectColumn(int column) override {
        if (!currentGrid() || column < 0 || column >= columns_)
            return Error::make(ErrorNumber::InvalidColumn);
        col_ = column;
        return {};
    }

    QString caption(int column, Error* error) override {
        DataGrid* grid = currentGrid();
        if (!grid || column < 0 || column >= columns_) {
            *error = Error::make(ErrorNumber::InvalidColumn);
            return {};
        }
        return grid->columnCaption(column);
    }

    QString text(Error* error) override {
        const data::ResultModel* model = selectedCell(error);
        return model ? model->text(row_, col_) : QString();
    }

    bool asciiRow(std::vector<QByteArrayView>& cells, int max) override {
        if (!model_ || row_ < 0 || row_ >= model_->fetchedRows())
            return false;
        cells.resize(size_t(std::clamp(columns_, 0, max)));
        bool printable = false;
        return model_->store().cells(row_, int(cells.size()), cells.data(), &printable) &&
               printable;
    }

    Error readAhead(double rows) override {
        lookUp();
        measured_.reset();
        data::ResultModel* model = model_;
        if (!model || !model->hasSource() || model->fetchError())
            return {};
        const double largest = double(std::numeric_limits<qint64>::max() / 2);
        const qint64 wanted = qint64(std::ceil(std::clamp(rows, 0.0, largest)));
        // The rows are measured as they are read, on the reading thread, instead of in a
        // walk of their own afterwards: the rows held already first, then the rest as they
        // come, in the order the walk would take them.
        std::vector<qsizetype> captions;
        for (int c = 0; c < std::min(columns_, data::ColumnWidths::kColumns); ++c)
            captions.push_back(data::trimmedLength(current_->columnCaption(c)));
        const data::RowStore& store = model->store();
        const qint64 held = store.rowCount();
        data::ColumnMeasure measure;
        data::MeasuringSink sink(measure, std::move(captions), 0, wanted);
        std::vector<QByteArrayView> cells(size_t(store.columnCount()));
        for (qint64 r = 0; r < std::min(held, wanted); ++r)
            replay(store, r, cells, sink);
        model->ensureRows(wanted, &sink);
        const Error error = model->fetchError();
        if (model->readingStopped() && model->fetchedRows() < wanted)
            return Error::make(ErrorNumber::OperationCancelled);
        if (error.number == ErrorNumber::OperationCancelled)
            return error;
        measured_ = measure.widths();
        return {};
    }

    std::optional<data::ColumnWidths> measuredAhead() const override { return measured_; }

    void finish() override {
        if (DataGrid* grid = currentGrid())
            grid->setCol(0);
    }

private:
    // The result holding the selected cell; null, with the error, when there is none.
    const data::ResultModel* selectedCell(Error* error) {
        currentGrid();
        const data::ResultModel* model = model_;
        if (!model || row_ < 0 || row_ >= model->fetchedRows() || col_ >= columns_) {
            *error = Error::make(ErrorNumber::NoCurrentRecord);
            return nullptr;
        }
        return model;
    }

    DataGrid* currentGrid() {
        if (!current_)
            lookUp();
        return current_;
    }

    // The grid and what a walk asks of it on every cell.
    void lookUp() {
        current_ = active_();
        model_ = current_ ? current_->resultModel() : nullptr;
        columns_ = current_ ? current_->columnCount() : 0;
    }

    std::function<DataGrid*()> active_;
    DataGrid* current_ = nullptr;
    data::ResultModel* model_ = nullptr;
    int columns_ = 0;
    qint64 row_ = -1;
    int col_ = 0;
    std::optional<data::ColumnWidths> measured_;
};

// Characters a body line holds at SIZE points.
int lineCapacity(float size) {
    if (size == 7.0f)
        return 120;
    if (size == 6.0f)
        return 147;
    return 96;
}

} // namespace

Error ReportGrid::readAhead(double) {
    return {};
}

void printResultGrid(ReportGrid& grid, const GridReportTitle& title) {
    const std::optional<qint64> count = grid.recordCount();
    if (!count || *count == 0) {
        platform().beep();
        platform().msgBox(kNothingToPrint, MsgBox::OkOnly);
        return;
    }
    const std::optional<QString> answer = platform().inputBox(
        QStringLiteral("Quante righe vuoi stampare ?"), QStringLiteral("STAMPA CONTENUTO GRIGLIA"),
        QString::number(*count < 0 ? -*count : *count));
    const RowsReply reply = readRowsReply(answer.value_or(QString()));
    if (reply.refused)
        return;

    platform().setMousePointer(MousePointer::Hourglass);
    // Stopped while reading, nothing is printed.
    if (grid.readAhead(reply.rows)) {
        platform().setMousePointer(MousePointer::Default);
        return;
    }
    const std::optional<data::ColumnWidths> ahead = grid.measuredAhead();
    data::ColumnWidths m = ahead ? *ahead : data::measureColumns(grid, {reply.rows});

    Printer& printer = Printer::instance();
    printer.setFontName(kFace);
    printer.setFontSize(kTitleSize);
    printer.setFontBold(true);
    printer.print({QString()});
    printer.print({QStringLiteral("Output selezione SQL:   "),
                   fitText(trimBlanks(title.description), 60), QStringLiteral("  "),
                   reportStamp(platform().now())});
    printer.print({QString()});
    printer.print({QStringLiteral("Database:   "), fitText(trimBlanks(title.database), 80),
                   QStringLiteral("  "), QStringLiteral("Tipo: "), trimBlanks(title.databaseType)});
    printer.print({QString()});

    printer.setFontBold(false);
    printer.setFontSize(kTitleSize);
    printer.print({kRule});
    printer.setFontBold(true);
    setBodySize(printer, m.maxCol);

    // The capacity comes from the size the printer actually took.
    data::fitColumnWidths(std::span(m.width.data(), size_t(m.maxCol) + 1), m.lineTotal,
                          qint16(lineCapacity(printer.fontSize())));

    // Where each column's text starts in a row's line, after a blank: the columns before it
    // take a blank and their width each.
    std::array<qsizetype, data::ColumnWidths::kColumns + 1> ends{};
    for (int c = 0; c < data::ColumnWidths::kColumns; ++c)
        ends[size_t(c) + 1] = ends[size_t(c)] + 1 + std::max<qint16>(m.width[size_t(c)], 0);
    // A row wider than the page goes on over as many lines as it needs, each starting with a
    // whole column, and the captions alike: every value stays under its caption, a row stays
    // together, and the rows are still read once, as they come.
    const int lineColumns = printer.lineColumns();
    std::vector<int> lineStarts{0};
    for (int c = 1; c < data::ColumnWidths::kColumns; ++c)
        if (lineColumns > 0 && ends[size_t(c) + 1] - ends[size_t(lineStarts.back())] > lineColumns)
            lineStarts.push_back(c);
    const auto startsLine = [&](int c) {
        return c > 0 && std::binary_search(lineStarts.begin(), lineStarts.end(), c);
    };

    // Each cell an item of its own, so that it is laid out in its own direction.
    QStringList items;
    const auto printCells = [&](const std::function<QString(int, Error*)>& cell) {
        items.clear();
        for (int c = 0; c < data::ColumnWidths::kColumns; ++c) {
            Error error;
            if (grid.selectColumn(c))
                break;
            const QString text = cell(c, &error);
            if (error)
                break;
            if (startsLine(c)) {
                printer.print(items);
                items.clear();
            }
            QString fitted(1, u' ');
            appendFitted(fitted, text, m.width[size_t(c)]);
            items.append(fitted);
        }
        printer.print(items);
    };
    printCells([&](int c, Error* error) { return grid.caption(c, error); });

    printer.setFontBold(false);
    printer.setFontSize(kTitleSize);
    printer.print({kRule});
    setBodySize(printer, m.maxCol);

    QByteArray bytes(ends.back(), Qt::Uninitialized);
    std::vector<QByteArrayView> cells;
    for (qint64 r = 0;; ++r) {
        if (grid.selectRow(r) || double(r) >= reply.rows)
            break;
        if (grid.asciiRow(cells, data::ColumnWidths::kColumns)) {
            // A row of plain ASCII cells goes as bytes: blanks laid down in one go, then each
            // cell cut to its width.
            const qsizetype length = ends[cells.size()];
            std::memset(bytes.data(), ' ', size_t(length));
            for (size_t c = 0; c < cells.size(); ++c) {
                const qsizetype copied =
                    std::min<qsizetype>(cells[c].size(), std::max<qint16>(m.width[c], 0));
                if (copied > 0)
                    std::memcpy(bytes.data() + ends[c] + 1, cells[c].data(), size_t(copied));
            }
            for (size_t l = 0; l < lineStarts.size() && size_t(lineStarts[l]) < cells.size(); ++l) {
                const size_t end = l + 1 < lineStarts.size()
                                       ? std::min(cells.size(), size_t(lineStarts[l + 1]))
                                       : cells.size();
                const qsizetype from = ends[size_t(lineStarts[l])];
                printer.printAsciiLine(QByteArrayView(bytes.constData() + from, ends[end] - from));
            }
            continue;
        }
        printCells([&](int, Error* error) { return grid.text(error); });
    }

    printer.setFontSize(kTitleSize);
    printer.print({kRule});
    const Error delivered = printer.endDoc();
    grid.finish();
    platform().setMousePointer(MousePointer::Default);
    if (delivered) {
        platform().beep();
        reportUndelivered(delivered, printer.lastDocument().destination);
    }
}

void printResultGrid(const std::function<DataGrid*()>& activeGrid, const GridReportTitle& title) {
    ActiveGrid grid(activeGrid);
    printResultGrid(grid, title);
}

} // namespace velario
