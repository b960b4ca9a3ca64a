#include "datasource.h"

#include "data/access/access_copy.h"
#include "data/odbc/odbc.h"
#include "datagrid.h"
#include "platform/form.h"
#include "platform/platform.h"
#include "platform/twips.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QResizeEvent>
#include <QStyle>
#include <QToolButton>

#include <algorithm>
#include <atomic>
#include <cstdlib>

namespace velario {

int SourceRecordset::recordCount() const {
    return int(std::min<qint64>(source_.model()->exactCount(), INT_MAX));
}

bool SourceRecordset::eof() const {
    return source_.currentRow() < 0;
}

QVariant SourceRecordset::field(const QString& name, Error* error) const {
    const auto fail = [&](Error e) {
        if (error)
            *error = std::move(e);
        return QVariant();
    };
    const int column = source_.model()->columnIndex(name);
    if (column < 0)
        return fail(
            Error::make(ErrorNumber::ItemNotFound,
                        QStringLiteral("Elemento non trovato nell'insieme: '%1'.").arg(name)));
    if (eof())
        return fail(Error::make(ErrorNumber::NoCurrentRecord));
    if (source_.model()->isNull(source_.currentRow(), column))
        return QVariant();
    return source_.model()->text(source_.currentRow(), column);
}

namespace {

const char* const kArrow = "arrow";

} // namespace

bool readRowsUpTo(data::ResultModel& model, qint64 rows) {
    // Rows far beyond those read (the end of a counted result) take a while: the pointer
    // says so, as for any long work; the few rows past the last read do not.
    const bool far =
        rows - model.fetchedRows() > data::ResultModel::kBlockRows && !model.allFetched();
    if (far)
        platform().setMousePointer(MousePointer::Hourglass);
    const bool read = model.ensureRows(rows);
    if (far)
        platform().setMousePointer(MousePointer::Default);
    return read;
}

namespace {

// The bar's arrows, drawn at the size the buttons have room for (the style's media icons
// blur into spots below 10 pixels): ARROW -1/1 a step back or on, -2/2 to the first or last
// row (a triangle against a bar).
QIcon arrowIcon(int arrow, QSize size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    const double w = size.width();
    const double h = size.height();
    const double bar = std::abs(arrow) == 2 ? std::max(1.0, w / 5) : 0;
    const double tip = arrow < 0 ? bar : w - bar;
    const double base = arrow < 0 ? w : 0;
    const double mid = h / 2;
    const double half = std::min(h / 2, (w - bar) * 0.9);
    painter.drawPolygon(QPolygonF{{tip, mid}, {base, mid - half}, {base, mid + half}});
    if (bar > 0)
        painter.drawRect(QRectF(arrow < 0 ? 0 : w - bar, mid - half, bar, 2 * half));
    return QIcon(pixmap);
}

} // namespace

DataSource::DataSource(const QString& name, QWidget* parent)
    : QWidget(parent), model_(new data::ResultModel(this)), recordset_(*this) {
    setObjectName(name);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    const auto addButton = [&](int arrow, void (DataSource::*move)()) {
        auto* button = new QToolButton(this);
        button->setProperty(kArrow, arrow);
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QToolButton::clicked, this, move);
        layout->addWidget(button);
        buttons_ << button;
    };
    addButton(-2, &DataSource::moveFirst);
    addButton(-1, &DataSource::movePrevious);
    captionLabel_ = new QLabel(name, this);
    captionLabel_->setIndent(1);
    captionLabel_->setFrameShape(QFrame::Panel);
    captionLabel_->setFrameShadow(QFrame::Sunken);
    layout->addWidget(captionLabel_, 1);
    addButton(1, &DataSource::moveNext);
    addButton(2, &DataSource::moveLast);
    attachToForm();
}

DataSource::~DataSource() = default;

QString DataSource::caption() const {
    return captionLabel_->text();
}
void DataSource::setCaption(const QString& caption) {
    captionLabel_->setText(caption);
    fitButtons();
}

void DataSource::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitButtons();
}

// The arrows narrow down to leave the caption whole: a control of the designed width would
// otherwise show only its first letters between buttons of the style's own size.
void DataSource::fitButtons() {
    const int caption = captionLabel_->fontMetrics().horizontalAdvance(captionLabel_->text()) +
                        2 * captionLabel_->frameWidth() + 2 * captionLabel_->indent();
    const int room = (width() - caption) / int(std::max<qsizetype>(1, buttons_.size()));
    const int side = std::clamp(room, 7, std::max(7, height()));
    const QSize icon(std::max(4, side - 3), std::max(4, std::min(height() - 6, side + 2)));
    for (QToolButton* button : buttons_) {
        button->setFixedWidth(side);
        button->setIconSize(icon);
        button->setIcon(arrowIcon(button->property(kArrow).toInt(), icon));
    }
}

void DataSource::setLongOperationRunner(const data::LongOperationRunner& runner) {
    runner_ = runner;
    model_->setRunner(runner);
}

void DataSource::runLong(data::LongOperation kind, std::function<void()> work,
                         const std::function<void()>& interrupt) {
    if (runner_)
        runner_(kind, std::move(work), interrupt);
    else
        work();
}

void DataSource::setLeft(int twips) {
    twips::setLeft(this, twips);
}
void DataSource::setTop(int twips) {
    twips::setTop(this, twips);
}
void DataSource::setWidth(int twips) {
    twips::setWidth(this, twips);
}
void DataSource::setHeight(int twips) {
    twips::setHeight(this, twips);
}

Error DataSource::showOpened(data::LongOperation kind, const data::ResultModel::Opener& open) {
    opened_ = true;
    if (const Error error = model_->openSource(kind, open))
        return error;
    if (readsWholeResult_)
        model_->fetchAll();
    current_ = model_->rowCount() > 0 ? 0 : -1;
    emit currentRowChanged(current_);
    emit reposition();
    return {};
}

void DataSource::showNothing() {
    opened_ = true;
    model_->clear();
    shown_ = {};
    current_ = -1;
    emit currentRowChanged(-1);
}

data::BoundStatement DataSource::bind(const QString& sql, Error* error) const {
    return data::bindAnswers(sql, answers_, QLocale::system(), error);
}

Error DataSource::sortBy(int column, bool descending) {
    if (!model_->hasSource())
        return Error::make(ErrorNumber::ObjectNotSet);
    const data::BoundStatement sorted = data::sortedStatement(shown_, column, descending);
    if (Error error = model_->reorderSource(data::LongOperation::Run,
                                            [&](data::Interrupter& stop, Error* failure) {
                                                return runAgain(sorted, stop, failure);
                                            }))
        return error;
    current_ = model_->rowCount() > 0 ? 0 : -1;
    emit currentRowChanged(current_);
    emit reposition();
    return {};
}

void DataSource::selectRow(int row) {
    moveTo(row, false);
}

void DataSource::moveTo(int row, bool always) {
    // A row of the counted result not read yet (the user went to the grid's end) is read
    // first; reading that stops or ends short of it leaves the last row read current.
    if (row >= 0 && !readRowsUpTo(*model_, qint64(row) + 1))
        row = int(std::min<qint64>(row, model_->fetchedRows() - 1));
    if (row == current_ && !always)
        return;
    current_ = row;
    emit currentRowChanged(row);
    emit reposition();
}

// Moving past either end stays on the last row reached, as the bar's buttons do.
void DataSource::moveFirst() {
    if (current_ >= 0)
        moveTo(0, true);
}

void DataSource::movePrevious() {
    if (current_ >= 0)
        moveTo(std::max(0, current_ - 1), true);
}

void DataSource::moveNext() {
    if (current_ < 0)
        return;
    moveTo(model_->ensureRows(qint64(current_) + 2) ? current_ + 1 : current_, true);
}

void DataSource::moveLast() {
    if (current_ < 0)
        return;
    model_->fetchAll();
    moveTo(model_->rowCount() - 1, true);
}

void DataSource::attachToForm() {
    Form* form = nullptr;
    for (QWidget* w = parentWidget(); w && !form; w = w->parentWidget())
        form = qobject_cast<Form*>(w);
    if (form == form_)
        return;
    disconnect(loadConnection_);
    form_ = form;
    if (form)
        loadConnection_ =
            connect(form, &Form::loadFinished, this, &DataSource::formLoaded, Qt::DirectConnection);
}

bool DataSource::event(QEvent* event) {
    if (event->type() == QEvent::ParentChange)
        attachToForm();
    return QWidget::event(event);
}

void DataSource::formLoaded() {
    if (opened_ || !readyToOpenByItself())
        return;
    // A failure leaves the source empty: the window shows no rows, as it does when the user
    // has been told already that its database cannot be opened.
    refresh();
}

BoundDataSource::BoundDataSource(const QString& name, QWidget* parent) : DataSource(name, parent) {}

BoundDataSource::~BoundDataSource() {
    showNothing();
}

bool BoundDataSource::readyToOpenByItself() const {
    return !databaseName_.isEmpty() && !recordSource_.trimmed().isEmpty();
}

Error BoundDataSource::refresh() {
    showNothing();
    database_.reset();
    Error error;
    // The working copy of an Access file is written first, where it can be stopped; opening
    // then finds it ready.
    if (data::Database::isAccessFile(databaseName_)) {
        std::atomic<bool> stop{false};
        runLong(
            data::LongOperation::CopyAccessFile,
            [&] { data::accessCopyFor(databaseName_, &error, &stop); }, [&stop] { stop = true; });
        if (error)
            return error;
    }
    const data::BoundStatement statement = bind(data::recordSourceStatement(recordSource_), &error);
    if (error)
        return error;
    // A data source only reads: whatever its statement says, the file stays as it is.
    std::unique_ptr<data::Database> database = data::Database::open(databaseName_, true, &error);
    if (!database)
        return error;
    error = showOpened(data::LongOperation::Run, [&](data::Interrupter& stop, Error* failure) {
        stop.setStop([engine = database.get()] { engine->interrupt(); });
        return database->execute(statement, failure);
    });
    if (error)
        return error;
    database_ = std::move(database);
    shown_ = statement;
    return {};
}

std::unique_ptr<data::ResultSource> BoundDataSource::runAgain(const data::BoundStatement& statement,
                                                              data::Interrupter& stop,
                                                              Error* error) {
    if (!database_) {
        *error = Error::make(ErrorNumber::ObjectNotSet);
        return nullptr;
    }
    stop.setStop([engine = database_.get()] { engine->interrupt(); });
    return database_->execute(statement, error);
}

QJsonObject BoundDataSource::automationState() const {
    return {
        {"caption", caption()}, {"databaseName", databaseName_}, {"recordSource", recordSource_}};
}

RemoteDataSource::RemoteDataSource(const QString& name, QWidget* parent)
    : DataSource(name, parent) {}

// The result's statement belongs to the connection: it must go first.
RemoteDataSource::~RemoteDataSource() {
    showNothing();
}

Error RemoteDataSource::refresh() {
    showNothing();
    connection_.reset();
    Error error;
    const data::BoundStatement statement = bind(sql_, &error);
    if (error)
        return error;
    std::unique_ptr<data::OdbcConnection> connection;
    // Connecting cannot be stopped; a stop asked for meanwhile stops the statement at once.
    error = showOpened(data::LongOperation::Run, [&](data::Interrupter& stop, Error* failure) {
        connection = data::OdbcConnection::connect(dataSourceName_, failure, statement.hasValues());
        if (!connection)
            return std::unique_ptr<data::ResultSource>();
        stop.setStop([engine = connection.get()] { engine->interrupt(); });
        return connection->execute(statement, failure);
    });
    if (error)
        return error;
    connection_ = std::move(connection);
    shown_ = statement;
    return {};
}

std::unique_ptr<data::ResultSource>
RemoteDataSource::runAgain(const data::BoundStatement& statement, data::Interrupter& stop,
                           Error* error) {
    if (!connection_) {
        *error = Error::make(ErrorNumber::ObjectNotSet);
        return nullptr;
    }
    stop.setStop([engine = connection_.get()] { engine->interrupt(); });
    return connection_->execute(statement, error);
}

QJsonObject RemoteDataSource::automationState() const {
    return {{"caption", caption()}, {"dataSourceName", dataSourceName_}, {"sql", sql_}};
}

} // namespace velario
