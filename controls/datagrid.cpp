#include "datagrid.h"

#include "datasource.h"
#include "platform/platform.h"
#include "platform/twips.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <vector>

namespace velario {

namespace {

// The in-place editor of a cell takes no more than its column allows. A stored value longer
// than that (written by another program) opens whole, as a line editor would otherwise cut
// it and Enter would store the cut text: the user may shorten it, never lengthen it past
// the limit.
class CellEditors : public QStyledItemDelegate {
public:
    explicit CellEditors(DataGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        const int limit = grid_->columnMaxLength(index.column());
        if (auto* line = qobject_cast<QLineEdit*>(editor); line && limit > 0) {
            line->setMaxLength(limit);
            connect(line, &QLineEdit::textEdited, line, [line, limit](const QString& text) {
                line->setMaxLength(std::max(limit, int(text.size())));
            });
        }
        return editor;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        const int limit = grid_->columnMaxLength(index.column());
        if (auto* line = qobject_cast<QLineEdit*>(editor); line && limit > 0)
            line->setMaxLength(std::max(limit, int(storedText(index).size())));
        QStyledItemDelegate::setEditorData(editor, index);
    }

    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        // Confirming what is stored changes nothing, even where it is longer than allowed.
        if (auto* line = qobject_cast<QLineEdit*>(editor);
            line && line->text() == storedText(index))
            return;
        QStyledItemDelegate::setModelData(editor, model, index);
    }

private:
    static QString storedText(const QModelIndex& index) {
        return index.data(Qt::EditRole).toString();
    }

    const DataGrid* grid_;
};

// Columns are fitted at 100 twips a character. A narrow 8-point face with little padding
// shows that many digits or lower-case letters, and the captions' bold capitals with the
// character the fitting adds.
class GridStyle final : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_HeaderMargin)
            return 2;
        if (metric == PM_FocusFrameHMargin)
            return 1;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

QStyle* fittingStyle() {
    // Shared by every grid and owned by the application, which outlives them.
    static QPointer<QStyle> style;
    if (!style) {
        style = new GridStyle;
        style->setParent(QCoreApplication::instance());
    }
    return style;
}

QFont gridFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Arial Narrow"),
                      QStringLiteral("Nimbus Sans Narrow")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

} // namespace

DataGrid::DataGrid(const QString& name, QWidget* parent)
    : QTableView(parent), ownModel_(std::make_unique<data::ResultModel>()) {
    setObjectName(name);
    setStyle(fittingStyle());
    horizontalHeader()->setStyle(fittingStyle());
    verticalHeader()->setStyle(fittingStyle());
    setFont(gridFont());
    QFont captions = gridFont();
    captions.setBold(true);
    horizontalHeader()->setFont(captions);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    // Tab moves to the next control of the window, not to the next cell.
    setTabKeyNavigation(false);
    // Rows of one height: the view then never measures rows, whatever their number.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    verticalHeader()->setFixedWidth(fontMetrics().height());
    setItemDelegate(new CellEditors(this));
    attachModel(ownModel_.get());
    // Rows come on display unread once the scroll bar stands for the whole result: they are
    // read when the user lets go of it, as the view's own reading on does.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (!verticalScrollBar()->isSliderDown())
            readShownRows();
    });
    connect(verticalScrollBar(), &QScrollBar::sliderReleased, this, &DataGrid::readShownRows);
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
            &DataGrid::resumeFromScrollBar);
    // A column selected from its caption is the whole column.
    horizontalHeader()->viewport()->installEventFilter(this);
}

bool DataGrid::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress && watched == horizontalHeader()->viewport())
        showEveryRow();
    return QTableView::eventFilter(watched, event);
}

void DataGrid::showRowsFrom(int first) {
    if (!model_)
        return;
    const int rows = model_->rowCount();
    // Enough for a page down from the last row shown.
    const qint64 wanted = qint64(first) + qint64(rowsFitting()) + 1;
    if (wanted <= rows || model_->extent() <= rows)
        return;
    // By half again at least: the header places all its rows again each time it has more.
    model_->showRowsUpTo(std::max(wanted, qint64(rows) + rows / 2));
}

void DataGrid::showEveryRow() {
    if (model_)
        model_->showRowsUpTo(model_->extent());
}

void DataGrid::selectAll() {
    showEveryRow();
    QTableView::selectAll();
}

void DataGrid::scrollContentsBy(int dx, int dy) {
    // The rows the scroll bar now shows are rows of the view before it moves to them.
    if (dy != 0)
        showRowsFrom(verticalScrollBar()->value());
    QTableView::scrollContentsBy(dx, dy);
}

void DataGrid::updateGeometries() {
    showRowsFrom(verticalScrollBar()->value());
    QTableView::updateGeometries();
    if (!model_ || verticalScrollMode() != QAbstractItemView::ScrollPerItem)
        return;
    const qint64 extent = std::min<qint64>(model_->extent(), INT_MAX);
    if (extent <= model_->rowCount())
        return;
    const int page =
        std::max(1, viewport()->height() / std::max(1, verticalHeader()->defaultSectionSize()));
    verticalScrollBar()->setRange(0, int(extent) - page);
    verticalScrollBar()->setPageStep(page);
}

void DataGrid::resumeFromScrollBar(int action) {
    if (!model_ || !model_->readingStopped() || action == QAbstractSlider::SliderNoAction)
        return;
    const QScrollBar* bar = verticalScrollBar();
    // The position the action leads to; the value follows once the signal is handled.
    if (bar->sliderPosition() >= bar->maximum())
        model_->resumeReading();
}

void DataGrid::readShownRows() {
    // After the user's stop the rows on display are those read; the row past them that this
    // reads as well would go on with the reading.
    if (model_ && model_->rowCount() > 0 && !model_->readingStopped())
        readRowsUpTo(*model_, qint64(firstVisibleRow()) + rowsFitting() + 1);
}

void DataGrid::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    readShownRows();
}

DataGrid::~DataGrid() {
    if (model_) {
        disconnect(model_, nullptr, this, nullptr);
        model_->setEditHandler({});
        model_->setEditable(false);
    }
    // The view lets go of the model before its own model is destroyed with the members.
    setModel(nullptr);
}

void DataGrid::attachModel(data::ResultModel* model) {
    if (model_ == model)
        return;
    if (model_) {
        disconnect(model_, nullptr, this, nullptr);
        model_->setEditHandler({});
        model_->setEditable(false);
    }
    QItemSelectionModel* oldSelection = selectionModel();
    model_ = model;
    setModel(model);
    delete oldSelection;
    connect(model, &QAbstractItemModel::modelReset, this, &DataGrid::onModelReset);
    connect(model, &data::ResultModel::readFailed, this, &DataGrid::readFailed);
    connect(model, &data::ResultModel::readingStoppedChanged, this,
            &DataGrid::readingStoppedChanged);
    connect(model, &data::ResultModel::extentChanged, this, &DataGrid::updateGeometries);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            &DataGrid::onCurrentChanged);
    model->setEditable(cellEditing_);
    model->setEditHandler([this](int row, int column, const QString& text) {
        return editHandler_ ? editHandler_(row, column, text) : std::optional<QString>(text);
    });
    onModelReset();
}

void DataGrid::onModelReset() {
    widths_.assign(size_t(model_ ? model_->columnCount() : 0), std::nullopt);
    col_ = 0;
}

void DataGrid::setResult(std::unique_ptr<data::ResultSource> result) {
    setDataSource(nullptr);
    ownModel_->setSource(std::move(result));
    if (ownModel_->rowCount() > 0)
        makeCurrent(0);
}

void DataGrid::setDataSource(DataSource* source) {
    if (source_ == source)
        return;
    for (const QMetaObject::Connection& connection : sourceConnections_)
        disconnect(connection);
    sourceConnections_.clear();
    source_ = source;
    if (!source) {
        attachModel(ownModel_.get());
        return;
    }
    attachModel(source->model());
    sourceConnections_ = {
        connect(source, &DataSource::currentRowChanged, this, &DataGrid::followSource),
        // The source's model goes with it: the grid shows its own (empty) result again.
        connect(source, &QObject::destroyed, this, [this] {
            sourceConnections_.clear();
            source_ = nullptr;
            attachModel(ownModel_.get());
        })};
    followSource(source->currentRow());
}

DataSource* DataGrid::dataSource() const {
    return source_;
}

void DataGrid::onCurrentChanged(const QModelIndex& current, const QModelIndex& previous) {
    if (current.isValid())
        col_ = current.column();
    // A row that went while the change was being told (the user stopped the reading it
    // started) is no longer the current one.
    if (!following_ && source_ && current.isValid() && current.row() < model_->rowCount() &&
        (!previous.isValid() || previous.row() != current.row()))
        source_->selectRow(current.row());
}

void DataGrid::makeCurrent(int row) {
    if (!model_ || row < 0 || row >= model_->rowCount())
        return;
    setCurrentIndex(model_->index(row, std::clamp(col_, 0, std::max(0, columnCount() - 1))));
}

void DataGrid::followSource(int row) {
    following_ = true;
    if (row < 0) {
        selectionModel()->clearCurrentIndex();
    } else {
        model_->ensureRows(qint64(row) + 1);
        makeCurrent(row);
    }
    following_ = false;
}

int DataGrid::columnCount() const {
    return model_ ? model_->columnCount() : 0;
}

QString DataGrid::columnCaption(int column) const {
    return model_ ? model_->caption(column) : QString();
}

Error DataGrid::setColumnCaption(int column, const QString& caption) {
    if (column < 0 || column >= columnCount())
        return Error::make(ErrorNumber::InvalidColumn);
    model_->setCaption(column, caption);
    return {};
}

Error DataGrid::setColumnWidth(int column, double twips) {
    if (column < 0 || column >= columnCount())
        return Error::make(ErrorNumber::InvalidColumn);
    widths_[size_t(column)] = twips;
    QTableView::setColumnWidth(column, twips::toPixelsX(twips));
    return {};
}

double DataGrid::columnWidthTwips(int column) const {
    if (column < 0 || column >= columnCount())
        return 0;
    if (const auto& set = widths_[size_t(column)])
        return *set;
    return std::round(twips::fromPixelsX(QTableView::columnWidth(column)));
}

QString DataGrid::columnText(int column, Error* error) const {
    if (column < 0 || column >= columnCount()) {
        if (error)
            *error = Error::make(ErrorNumber::InvalidColumn);
        return {};
    }
    const int row = currentResultRow();
    return row < 0 ? QString() : model_->text(row, column);
}

QString DataGrid::text() const {
    return columnText(col_);
}

int DataGrid::currentResultRow() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

int DataGrid::firstVisibleRow() const {
    if (!model_ || model_->rowCount() == 0)
        return 0;
    return std::max(0, rowAt(0));
}

int DataGrid::rowsFitting() const {
    // A grid not yet shown has not laid out its viewport; its own height tells the same.
    int height = viewport()->height();
    if (!isVisible()) {
        height = this->height() - 2 * frameWidth();
        if (!horizontalHeader()->isHidden())
            height -= horizontalHeader()->sizeHint().height();
    }
    const int rowHeight = std::max(1, verticalHeader()->defaultSectionSize());
    return std::max(0, (height + rowHeight - 1) / rowHeight);
}

int DataGrid::visibleRows() const {
    if (!model_)
        return 0;
    const int first = firstVisibleRow();
    const int fitting = rowsFitting();
    model_->ensureRows(qint64(first) + fitting);
    return std::clamp(model_->rowCount() - first, 0, fitting);
}

int DataGrid::row() const {
    const int current = currentResultRow();
    if (current < 0)
        return -1;
    const int position = current - firstVisibleRow();
    return position >= 0 && position < visibleRows() ? position : -1;
}

Error DataGrid::setRow(int position) {
    if (position < 0 || position >= visibleRows())
        return Error::make(ErrorNumber::InvalidRow);
    NoAutoScroll still(this);
    makeCurrent(firstVisibleRow() + position);
    return {};
}

Error DataGrid::setCol(int column) {
    if (column < 0 || column >= columnCount())
        return Error::make(ErrorNumber::InvalidColumn);
    col_ = column;
    const int row = currentResultRow();
    if (row >= 0) {
        NoAutoScroll still(this);
        setCurrentIndex(model_->index(row, column));
    }
    return {};
}

int DataGrid::approxCount(Error* error) const {
    if (!model_)
        return 0;
    return int(std::min<qint64>(model_->exactCount(error), INT_MAX));
}

qint64 DataGrid::resultRowCount() const {
    return model_ ? model_->exactCount() : 0;
}

std::optional<qint64> DataGrid::countedRows() const {
    if (!model_)
        return 0;
    Error error;
    const qint64 count = model_->exactCount(&error);
    if (error)
        return std::nullopt;
    return count;
}

QString DataGrid::cellText(qint64 row, int column) const {
    if (!model_ || row < 0)
        return {};
    model_->ensureRows(row + 1);
    return model_->text(row, column);
}

void DataGrid::setLeft(int twips) {
    twips::setLeft(this, twips);
}
void DataGrid::setTop(int twips) {
    twips::setTop(this, twips);
}
void DataGrid::setWidth(int twips) {
    twips::setWidth(this, twips);
}
void DataGrid::setHeight(int twips) {
    twips::setHeight(this, twips);
}
int DataGrid::leftTwips() const {
    return twips::geometry(this).x();
}
int DataGrid::topTwips() const {
    return twips::geometry(this).y();
}
int DataGrid::widthTwips() const {
    return twips::geometry(this).width();
}
int DataGrid::heightTwips() const {
    return twips::geometry(this).height();
}

void DataGrid::setCellEditing(bool on) {
    cellEditing_ = on;
    if (model_)
        model_->setEditable(on);
    setEditTriggers(on ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                             QAbstractItemView::AnyKeyPressed
                       : QAbstractItemView::NoEditTriggers);
}

void DataGrid::setCellEditHandler(EditHandler handler) {
    editHandler_ = std::move(handler);
}

void DataGrid::setColumnMaxLength(int column, int length) {
    if (column < 0)
        return;
    if (size_t(column) >= maxLengths_.size())
        maxLengths_.resize(size_t(column) + 1, 0);
    maxLengths_[size_t(column)] = std::max(0, length);
}

int DataGrid::columnMaxLength(int column) const {
    return column >= 0 && size_t(column) < maxLengths_.size() ? maxLengths_[size_t(column)] : 0;
}

QString DataGrid::clickRow(int row) {
    if (const QString why = checkResultRow(row); !why.isEmpty())
        return why;
    model_->ensureRows(qint64(row) + 1);
    scrollTo(model_->index(row, col_));
    makeCurrent(row);
    return {};
}

namespace {

// The grid's context menu, item by item; the grid takes an item's keys wherever the focus is
// in it, menu shown or not.
struct MenuItem {
    QString text;
    QList<QKeySequence> keys;
    bool separatorBefore;
    // Whether the grid has the item at all; every grid when null.
    std::function<bool(const DataGrid&)> offered;
    std::function<bool(const DataGrid&)> enabled;
    std::function<void(DataGrid&)> run;
};

bool hasSelection(const DataGrid& grid) {
    return grid.selectionModel() && grid.selectionModel()->hasSelection();
}

bool showsResult(const DataGrid& grid) {
    return grid.resultModel() && grid.resultModel()->hasSource();
}

bool canSort(const DataGrid& grid) {
    return showsResult(grid) && grid.dataSource() && grid.menuColumn() >= 0;
}

const std::vector<MenuItem>& menuItems() {
    static const std::vector<MenuItem> items{
        {QStringLiteral("Copia"),
         QKeySequence::keyBindings(QKeySequence::Copy),
         false,
         {},
         hasSelection,
         [](DataGrid& grid) { grid.copySelection(false); }},
        {QStringLiteral("Copia con intestazioni"),
         {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C)},
         false,
         {},
         hasSelection,
         [](DataGrid& grid) { grid.copySelection(true); }},
        {QStringLiteral("Esporta CSV…"), {}, true, {}, showsResult, &DataGrid::exportCsv},
        {QStringLiteral("Ordina crescente"),
         {},
         true,
         &DataGrid::sortable,
         canSort,
         [](DataGrid& grid) { grid.sortBy(grid.menuColumn(), false); }},
        {QStringLiteral("Ordina decrescente"),
         {},
         false,
         &DataGrid::sortable,
         canSort,
         [](DataGrid& grid) { grid.sortBy(grid.menuColumn(), true); }},
    };
    return items;
}

} // namespace

void DataGrid::keyPressEvent(QKeyEvent* event) {
    const QKeySequence pressed(event->keyCombination());
    for (const MenuItem& item : menuItems()) {
        if (item.keys.contains(pressed) && (!item.offered || item.offered(*this))) {
            if (item.enabled(*this))
                item.run(*this);
            event->accept();
            return;
        }
    }
    // Past the rows read, to the result's end: the reading the user stopped goes on.
    if (event == QKeySequence::MoveToEndOfDocument && model_ && model_->readingStopped())
        model_->resumeReading();
    if (event == QKeySequence::MoveToEndOfDocument || event == QKeySequence::SelectEndOfDocument)
        showEveryRow();
    QTableView::keyPressEvent(event);
}

void DataGrid::mousePressEvent(QMouseEvent* event) {
    // A right click inside the selection keeps it, and the current cell with it: the context
    // menu that follows acts on the selection.
    if (event->button() == Qt::RightButton && hasSelection(*this) &&
        selectionModel()->isSelected(indexAt(event->position().toPoint()))) {
        event->accept();
        return;
    }
    QTableView::mousePressEvent(event);
}

std::unique_ptr<QMenu> DataGrid::makeMenu(int column) {
    menuColumn_ = column;
    auto menu = std::make_unique<QMenu>(this);
    for (const MenuItem& item : menuItems()) {
        if (item.offered && !item.offered(*this))
            continue;
        if (item.separatorBefore)
            menu->addSeparator();
        QAction* action = menu->addAction(item.text, this, [this, &item] { item.run(*this); });
        action->setShortcuts(item.keys);
        action->setEnabled(item.enabled(*this));
    }
    if (menuExtension_) {
        menu->addSeparator();
        menuExtension_(*menu);
    }
    return menu;
}

void DataGrid::contextMenuEvent(QContextMenuEvent* event) {
    const int column = event->reason() == QContextMenuEvent::Mouse
                           ? columnAt(viewport()->mapFromGlobal(event->globalPos()).x())
                           : (currentIndex().isValid() ? col_ : -1);
    const std::unique_ptr<QMenu> menu = makeMenu(column);
    menu->exec(event->globalPos());
}

bool DataGrid::sortBy(int column, bool descending) {
    if (!source_ || column < 0 || column >= columnCount())
        return false;
    // The widths go with the columns, which the new result has the same of.
    std::vector<int> shown;
    for (int c = 0; c < columnCount(); ++c)
        shown.push_back(QTableView::columnWidth(c));
    const std::vector<std::optional<double>> set = widths_;
    platform().setMousePointer(MousePointer::Hourglass);
    const Error error = source_->sortBy(column, descending);
    platform().setMousePointer(MousePointer::Default);
    if (error) {
        emit sortFailed(error.number, error.description);
        return false;
    }
    if (columnCount() == int(shown.size())) {
        widths_ = set;
        for (int c = 0; c < columnCount(); ++c)
            QTableView::setColumnWidth(c, shown[size_t(c)]);
    }
    return true;
}

} // namespace velario
