#pragma once

#include "data/errors.h"
#include "data/results/result_model.h"
#include "platform/automation.h"

#include <QPointer>
#include <QTableView>

class QMenu;

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace velario {

class DataSource;

// The program's own moves of the current cell leave the rows on display where they are: a
// walk over them would otherwise shift them by selecting the last, partly shown row.
class NoAutoScroll {
public:
    explicit NoAutoScroll(QAbstractItemView* view) : view_(view), was_(view->hasAutoScroll()) {
        view->setAutoScroll(false);
    }
    ~NoAutoScroll() { view_->setAutoScroll(was_); }
    NoAutoScroll(const NoAutoScroll&) = delete;
    NoAutoScroll& operator=(const NoAutoScroll&) = delete;

private:
    QAbstractItemView* view_;
    bool was_;
};

// A grid that shows a result, one column per result column. It shows either a result of
// its own (setResult) or the result of the data source it is bound to, whose current row
// it follows and moves. Rows on display are counted from the first row shown at the top.
class DataGrid : public QTableView, public AutomationControl {
    Q_OBJECT
public:
    using EditHandler = data::ResultModel::EditHandler;

    DataGrid(const QString& name, QWidget* parent);
    ~DataGrid() override;

    // Shows RESULT (null: nothing), first row current; ends any binding to a data source.
    void setResult(std::unique_ptr<data::ResultSource> result);
    // Shows the result of SOURCE and moves with its current row (null: unbinds).
    void setDataSource(DataSource* source);
    DataSource* dataSource() const;
    data::ResultModel* resultModel() const { return model_; }

    int columnCount() const;
    QString columnCaption(int column) const;
    Error setColumnCaption(int column, const QString& caption);
    // Width in twips, read back by columnWidthTwips exactly as given.
    Error setColumnWidth(int column, double twips);
    // The width the program set, or the width shown converted to twips.
    double columnWidthTwips(int column) const;
    // Column COLUMN of the current row.
    QString columnText(int column, Error* error = nullptr) const;

    // The current row's position among the rows on display; -1 when it is not on display.
    int row() const;
    // Makes the row at POSITION among the rows on display current; InvalidRow when there is
    // no row there (the current row then stays).
    Error setRow(int position);
    int col() const { return col_; }
    Error setCol(int column);
    // The current cell.
    QString text() const;
    // The exact number of rows of the result; ERROR says why it could not be counted.
    int approxCount(Error* error = nullptr) const;

    // Makes result row ROW current as a click on it does, scrolling it into view; why it
    // cannot when there is no such row.
    QString clickRow(int row);

    // The row of the result that is current, -1 when none.
    int currentResultRow() const;
    int firstVisibleRow() const;
    // Rows of the result at least partly on display.
    int visibleRows() const;

    // For callers that walk the whole result: its exact row count, and any cell of it,
    // read from the source as far as needed.
    qint64 resultRowCount() const;
    // The same count, or nullopt when the result cannot be counted.
    std::optional<qint64> countedRows() const;
    QString cellText(qint64 row, int column) const;

    void setLeft(int twips);
    void setTop(int twips);
    void setWidth(int twips);
    void setHeight(int twips);
    int leftTwips() const;
    int topTwips() const;
    int widthTwips() const;
    int heightTwips() const;

    // Lets the user change cells in place; HANDLER decides whether a confirmed cell keeps
    // its new text.
    void setCellEditing(bool on);
    bool cellEditing() const { return cellEditing_; }
    void setCellEditHandler(EditHandler handler);
    // The longest text the in-place editor of COLUMN takes (0: no limit).
    void setColumnMaxLength(int column, int length);
    int columnMaxLength(int column) const;

    // Adds, through EXTEND, the owner's own items to the context menu, after the grid's.
    void setMenuExtension(std::function<void(QMenu&)> extend) {
        menuExtension_ = std::move(extend);
    }

    // Puts the selected cells on the clipboard as tab-separated text and as an HTML table,
    // the captions of their columns first when WITHHEADERS. Selected columns are whole
    // columns: rows not read yet are read first.
    void copySelection(bool withHeaders);
    // Offers "Ordina crescente" and "Ordina decrescente" in the context menu, which sort the
    // result of the bound data source on its engine by the column under the pointer (the
    // current column when the menu comes from the keyboard or a script).
    void setSortable(bool on) { sortable_ = on; }
    bool sortable() const { return sortable_; }
    // Sorts by COLUMN as those items do: the fitted widths stay. False, with sortFailed
    // emitted, when the result shown stays unsorted.
    bool sortBy(int column, bool descending);
    // The column the context menu acts on; -1 when there is none.
    int menuColumn() const { return menuColumn_; }

    // Asks for a file and writes the whole result to it as CSV; tells the user what failed.
    // The file proposed is named NAME (setExportName), in the folder of the last export.
    void exportCsv();
    void setExportName(const QString& name);

    QJsonObject automationState() const override;
    QString automationMenu(const QString& text) override;
    QString automationSelect(const QString& what) override;
    QString automationRow(int row) override;
    QString automationScroll(int row) override;
    QString automationEdit(int row, int column, const QString& text) override;

    // Every row of the result first: the selection covers rows not on display yet.
    void selectAll() override;

signals:
    // The result on show could not be read on (see data::ResultModel::readFailed).
    void readFailed(int number, const QString& description);
    // The user stopped a reading of the result on show, or it went on again (see
    // data::ResultModel::readingStopped).
    void readingStoppedChanged(bool stopped);
    // The engine could not sort the result (see sortBy), or the user stopped it.
    void sortFailed(int number, const QString& description);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The context menu, its sort items acting on COLUMN.
    std::unique_ptr<QMenu> makeMenu(int column);
    void attachModel(data::ResultModel* model);
    void onModelReset();
    void onCurrentChanged(const QModelIndex& current, const QModelIndex& previous);
    // Makes ROW current without telling the data source (it asked for it).
    void followSource(int row);
    void makeCurrent(int row);
    int rowsFitting() const;
    // Reads the rows on display that have not been read yet.
    void readShownRows();
    // The scroll bar stands for every counted row, the view has only the rows read and those
    // shown or about to be: these put the rows from FIRST on, or every row, on display.
    void showRowsFrom(int first);
    void showEveryRow();
    // After the user stopped a reading: the scroll bar taken on past the rows read.
    void resumeFromScrollBar(int action);
    QString checkResultRow(int row) const;

    std::unique_ptr<data::ResultModel> ownModel_;
    QPointer<data::ResultModel> model_;
    QPointer<DataSource> source_;
    std::vector<QMetaObject::Connection> sourceConnections_;
    std::vector<std::optional<double>> widths_;
    int col_ = 0;
    bool following_ = false;
    bool cellEditing_ = false;
    EditHandler editHandler_;
    std::vector<int> maxLengths_;
    QString exportName_;
    bool sortable_ = false;
    int menuColumn_ = -1;
    std::function<void(QMenu&)> menuExtension_;
};

} // namespace velario
