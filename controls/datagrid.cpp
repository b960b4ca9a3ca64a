#include "datagrid.h"

#include "data/results/csv_writer.h"
#include "data/results/output_file.h"
#include "datasource.h"
#include "platform/platform.h"
#include "platform/twips.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QJsonArray>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStandardPaths>
#include <QStyledItemDelegate>

#include <algorithm>
#include <climits>
#include <cmath>

namespace velario {

namespace {

// The in-place editor of a cell takes no more than its column allows.
class CellEditors : public QStyledItemDelegate {
public:
    explicit CellEditors(DataGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        const int limit = grid_->columnMaxLength(index.column());
        if (auto* line = qobject_cast<QLineEdit*>(editor); line && limit > 0)
            line->setMaxLength(limit);
        return editor;
    }

private:
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
}

void DataGrid::readShownRows() {
    if (model_ && model_->rowCount() > 0)
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
    if (!following_ && source_ && current.isValid() &&
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

QJsonObject DataGrid::automationState() const {
    const int first = firstVisibleRow();
    const int visible = visibleRows();
    QJsonArray columns;
    for (int c = 0; c < columnCount(); ++c)
        columns.append(QJsonObject{{"caption", columnCaption(c)}, {"width", columnWidthTwips(c)}});
    QJsonArray cells;
    for (int r = first; r < first + visible; ++r) {
        QJsonArray row;
        for (int c = 0; c < columnCount(); ++c)
            row.append(model_->text(r, c));
        cells.append(row);
    }
    return {{"rows", approxCount()},  {"firstVisibleRow", first},
            {"visibleRows", visible}, {"currentRow", currentResultRow()},
            {"currentCol", col_},     {"columns", columns},
            {"cells", cells}};
}

QString DataGrid::checkResultRow(int row) const {
    if (!model_ || !model_->hasSource())
        return QStringLiteral("the grid shows no result");
    const qint64 rows = resultRowCount();
    if (row < 0 || row >= rows)
        return QStringLiteral("row %1 is outside the result (%2 rows)").arg(row).arg(rows);
    return {};
}

QString DataGrid::automationRow(int row) {
    return clickRow(row);
}

QString DataGrid::clickRow(int row) {
    if (const QString why = checkResultRow(row); !why.isEmpty())
        return why;
    model_->ensureRows(qint64(row) + 1);
    scrollTo(model_->index(row, col_));
    makeCurrent(row);
    return {};
}

QString DataGrid::automationScroll(int row) {
    if (const QString why = checkResultRow(row); !why.isEmpty())
        return why;
    model_->ensureRows(qint64(row) + rowsFitting() + 1);
    executeDelayedItemsLayout();
    updateGeometries();
    scrollTo(model_->index(row, 0), QAbstractItemView::PositionAtTop);
    return {};
}

QString DataGrid::automationEdit(int row, int column, const QString& text) {
    if (!cellEditing_)
        return QStringLiteral("the grid's cells cannot be edited");
    if (const QString why = checkResultRow(row); !why.isEmpty())
        return why;
    if (column < 0 || column >= columnCount())
        return QStringLiteral("column %1 is outside the grid (%2 columns)")
            .arg(column)
            .arg(columnCount());
    model_->ensureRows(qint64(row) + 1);
    const QModelIndex index = model_->index(row, column);
    scrollTo(index);
    setCurrentIndex(index);
    if (!QAbstractItemView::edit(index, QAbstractItemView::AllEditTriggers, nullptr))
        return QStringLiteral("the cell cannot be edited");
    auto* editor = qobject_cast<QLineEdit*>(indexWidget(index));
    if (!editor)
        return QStringLiteral("the cell has no text editor");
    // The step hands the cell the whole of TEXT; what a value longer than the column allows
    // comes to is for the program to say.
    if (editor->maxLength() < text.size())
        editor->setMaxLength(int(text.size()));
    editor->setText(text);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(editor, &press);
    // The delegate commits a confirmed editor through a queued call.
    QCoreApplication::sendPostedEvents(itemDelegate(), QEvent::MetaCall);
    return {};
}

namespace {

// The selection as rows and columns of the result; whole columns reach every row.
struct SelectedCells {
    std::vector<QItemSelectionRange> ranges;
    std::vector<int> wholeColumns; // sorted
    qint64 rows = 0;

    bool contains(qint64 row, int column) const {
        if (std::binary_search(wholeColumns.begin(), wholeColumns.end(), column))
            return true;
        for (const QItemSelectionRange& r : ranges)
            if (row >= r.top() && row <= r.bottom() && column >= r.left() && column <= r.right())
                return true;
        return false;
    }
};

// Whether the ranges that hold COLUMN cover every one of ROWS rows.
bool coversColumn(const QItemSelection& selection, int column, int rows) {
    std::vector<std::pair<int, int>> spans;
    for (const QItemSelectionRange& r : selection)
        if (column >= r.left() && column <= r.right())
            spans.emplace_back(r.top(), r.bottom());
    std::sort(spans.begin(), spans.end());
    int next = 0;
    for (const auto& [top, bottom] : spans) {
        if (top > next)
            return false;
        next = std::max(next, bottom + 1);
    }
    return rows > 0 && next >= rows;
}

// A cell as a spreadsheet reads it from the clipboard: quoted, quotes doubled, when it holds
// a tab, a line end or a quote, so that it stays one cell.
QString clipboardCell(const QString& text) {
    if (!text.contains(QLatin1Char('\t')) && !text.contains(QLatin1Char('\n')) &&
        !text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('"')))
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QLatin1String("\"\"")) +
           QLatin1Char('"');
}

QString htmlCell(const QString& text, const char* tag) {
    QString escaped = text.toHtmlEscaped();
    escaped.replace(QLatin1String("\r\n"), QLatin1String("<br>"));
    escaped.replace(QLatin1Char('\n'), QLatin1String("<br>"));
    escaped.replace(QLatin1Char('\r'), QLatin1String("<br>"));
    return QStringLiteral("<%1>%2</%1>").arg(QLatin1String(tag), escaped);
}

const QString kCopy = QStringLiteral("Copia");
const QString kCopyWithHeaders = QStringLiteral("Copia con intestazioni");
const QString kExport = QStringLiteral("Esporta CSV…");

} // namespace

void DataGrid::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy) {
        copySelection(false);
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

std::unique_ptr<QMenu> DataGrid::makeMenu() {
    auto menu = std::make_unique<QMenu>(this);
    const bool selected = selectionModel() && selectionModel()->hasSelection();
    QAction* copy = menu->addAction(kCopy, this, [this] { copySelection(false); });
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(selected);
    menu->addAction(kCopyWithHeaders, this, [this] { copySelection(true); })->setEnabled(selected);
    menu->addSeparator();
    menu->addAction(kExport, this, &DataGrid::exportCsv)->setEnabled(model_ && model_->hasSource());
    if (menuExtension_) {
        menu->addSeparator();
        menuExtension_(*menu);
    }
    return menu;
}

void DataGrid::contextMenuEvent(QContextMenuEvent* event) {
    const std::unique_ptr<QMenu> menu = makeMenu();
    menu->exec(event->globalPos());
}

QString DataGrid::automationMenu(const QString& text) {
    const std::unique_ptr<QMenu> menu = makeMenu();
    for (QAction* action : menu->actions()) {
        if (action->isSeparator() || action->text() != text)
            continue;
        if (!action->isEnabled())
            return QStringLiteral("menu item '%1' is disabled").arg(text);
        action->trigger();
        return {};
    }
    return QStringLiteral("no menu item '%1'").arg(text);
}

QString DataGrid::automationSelect(const QString& what) {
    if (!model_ || !model_->hasSource())
        return QStringLiteral("the grid shows no result");
    const QStringList words = what.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QList<int> numbers;
    const bool named = !words.isEmpty() && (words[0] == "row" || words[0] == "column");
    for (qsizetype i = named ? 1 : 0; i < words.size() && what != QLatin1String("all"); ++i) {
        bool ok = false;
        numbers << words[i].toInt(&ok);
        if (!ok || numbers.last() < 0)
            return QStringLiteral("bad selection '%1'").arg(what);
    }
    const int columns = columnCount();
    if (what == QLatin1String("all")) {
        selectAll();
    } else if (words.first() == "row" && numbers.size() == 1) {
        if (const QString why = checkResultRow(numbers[0]); !why.isEmpty())
            return why;
        model_->ensureRows(qint64(numbers[0]) + 1);
        // Straight to the selection: the view's own row and column selection would heed
        // whatever modifier keys are held.
        selectionModel()->select(model_->index(numbers[0], 0),
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else if (words.first() == "column" && numbers.size() == 1 && numbers[0] < columns) {
        selectionModel()->select(model_->index(0, numbers[0]), QItemSelectionModel::ClearAndSelect |
                                                                   QItemSelectionModel::Columns);
    } else if (words.size() == 4 && numbers.size() == 4 && numbers[1] <= numbers[3] &&
               numbers[3] < columns && numbers[0] <= numbers[2]) {
        if (const QString why = checkResultRow(numbers[2]); !why.isEmpty())
            return why;
        model_->ensureRows(qint64(numbers[2]) + 1);
        selectionModel()->select(QItemSelection(model_->index(numbers[0], numbers[1]),
                                                model_->index(numbers[2], numbers[3])),
                                 QItemSelectionModel::ClearAndSelect);
    } else {
        return QStringLiteral("bad selection '%1'").arg(what);
    }
    return {};
}

void DataGrid::copySelection(bool withHeaders) {
    if (!model_ || !selectionModel() || !selectionModel()->hasSelection())
        return;
    const int columns = columnCount();
    SelectedCells selected;
    const QItemSelection selection = selectionModel()->selection();
    for (int c = 0; c < columns; ++c)
        if (coversColumn(selection, c, model_->rowCount()))
            selected.wholeColumns.push_back(c);
    if (!selected.wholeColumns.empty() && !model_->allFetched()) {
        platform().setMousePointer(MousePointer::Hourglass);
        model_->fetchAll();
        platform().setMousePointer(MousePointer::Default);
        // Stopped or failed (the window says why): the columns would be copied short.
        if (!model_->allFetched())
            return;
    }
    selected.ranges.assign(selection.begin(), selection.end());
    qint64 bottom = 0;
    for (const QItemSelectionRange& r : selected.ranges)
        bottom = std::max<qint64>(bottom, r.bottom() + 1);
    if (!model_->ensureRows(bottom) && model_->rowCount() < bottom)
        return;
    selected.rows = model_->rowCount();

    std::vector<int> chosenColumns;
    for (int c = 0; c < columns; ++c) {
        bool any =
            std::binary_search(selected.wholeColumns.begin(), selected.wholeColumns.end(), c);
        for (const QItemSelectionRange& r : selected.ranges)
            any = any || (c >= r.left() && c <= r.right());
        if (any)
            chosenColumns.push_back(c);
    }
    QString text;
    QString html = QStringLiteral("<table>");
    bool firstRow = true;
    const auto addRow = [&](const auto& cellOf, const char* tag) {
        if (!firstRow)
            text += QLatin1Char('\n');
        firstRow = false;
        html += QLatin1String("<tr>");
        for (size_t i = 0; i < chosenColumns.size(); ++i) {
            const QString cell = cellOf(chosenColumns[i]);
            if (i > 0)
                text += QLatin1Char('\t');
            text += clipboardCell(cell);
            html += htmlCell(cell, tag);
        }
        html += QLatin1String("</tr>");
    };
    if (withHeaders)
        addRow([this](int c) { return columnCaption(c); }, "th");
    const bool allRows = !selected.wholeColumns.empty();
    for (qint64 r = 0; r < selected.rows; ++r) {
        bool any = allRows;
        for (size_t i = 0; i < selected.ranges.size() && !any; ++i)
            any = r >= selected.ranges[i].top() && r <= selected.ranges[i].bottom();
        if (!any)
            continue;
        addRow([&](int c) { return selected.contains(r, c) ? model_->text(r, c) : QString(); },
               "td");
    }
    html += QLatin1String("</table>");
    platform().setClipboard(text, html);
}

void DataGrid::exportCsv() {
    if (!model_ || !model_->hasSource())
        return;
    const QString title = QStringLiteral("Esporta CSV");
    const QString start = lastExport_.isEmpty()
                              ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                              : lastExport_;
    const Dialogs::SaveChoice choice = platform().fileSaveCsv(start, data::localeCsvSeparator());
    if (!choice.path || choice.path->isEmpty())
        return;
    const QString path = *choice.path;
    const QString shown = QDir::toNativeSeparators(path);
    if (data::OutputFile::replacesFile(path) &&
        platform().msgBox(QStringLiteral("Il file %1 esiste già.\rSostituirlo ?").arg(shown),
                          MsgBox::YesNo | MsgBox::Question | MsgBox::DefaultButton2,
                          title) != MsgBox::Yes)
        return;
    lastExport_ = QFileInfo(path).absolutePath();

    // An ordinary file is written under another name and put in place only once whole: a
    // stopped or failed export leaves the folder, and any file of that name, as they were. A
    // pipe takes the rows as they come; nothing else is ever replaced.
    Error opening;
    const std::unique_ptr<data::OutputFile> file = data::OutputFile::open(path, false, &opening);
    const auto cannotWrite = [&](const QString& why) {
        platform().beep();
        platform().msgBox(QStringLiteral("Impossibile scrivere il file %1: %2").arg(shown, why),
                          MsgBox::OkOnly, title);
    };
    if (!file)
        return cannotWrite(opening.description);
    platform().setMousePointer(MousePointer::Hourglass);
    data::CsvWriter writer(*file, choice.separator);
    QStringList captions;
    for (int c = 0; c < columnCount(); ++c)
        captions << columnCaption(c);
    writer.writeHeader(captions);
    const Error error = model_->writeAll(writer, [&writer] { return writer.error().isSet(); });
    const Error written = writer.flush();
    const Error kept = error || written ? Error() : file->commit();
    platform().setMousePointer(MousePointer::Default);
    if (!error && !written && !kept)
        return;
    file->discard();
    if (written || !error)
        return cannotWrite(written ? written.description : kept.description);
    if (error.number == ErrorNumber::OperationCancelled) {
        platform().msgBox(QStringLiteral("Esportazione annullata: il file non è stato scritto."),
                          MsgBox::OkOnly, title);
        return;
    }
    platform().beep();
    platform().msgBox(QStringLiteral("Errore SQL: ") + error.description, MsgBox::OkOnly);
}

} // namespace velario
