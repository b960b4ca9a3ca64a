#include "result_model.h"

#include <QSignalBlocker>

#include <algorithm>
#include <climits>
#include <limits>

namespace velario::data {

ResultModel::ResultModel(QObject* parent) : QAbstractTableModel(parent) {}

ResultModel::~ResultModel() = default;

void ResultModel::setSource(std::unique_ptr<ResultSource> source) {
    beginResetModel();
    ++generation_;
    source_ = std::move(source);
    const int columns = source_ ? source_->columnCount() : 0;
    store_.reset(columns);
    captions_.clear();
    for (int c = 0; c < columns; ++c)
        captions_.append(source_->columnName(c));
    published_ = 0;
    count_.reset();
    fetchError_ = Error();
    if (source_) {
        // Whoever shows a new result reports its opening failure.
        const QSignalBlocker quiet(this);
        readBlock(kBlockRows);
        published_ = int(std::min<qint64>(store_.rowCount(), INT_MAX));
    }
    endResetModel();
}

int ResultModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : published_;
}

int ResultModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : store_.columnCount();
}

QVariant ResultModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    return store_.text(index.row(), index.column());
}

QVariant ResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return caption(section);
    // The row headers only mark the current row, as record selectors do.
    return QString();
}

Qt::ItemFlags ResultModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (editable_ && index.isValid())
        f |= Qt::ItemIsEditable;
    return f;
}

bool ResultModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!editable_ || role != Qt::EditRole || !index.isValid() || index.row() >= published_)
        return false;
    QString text = value.toString();
    const quint64 generation = generation_;
    if (editHandler_) {
        const std::optional<QString> kept = editHandler_(index.row(), index.column(), text);
        if (!kept)
            return false;
        text = *kept;
    }
    if (generation != generation_ || index.row() >= published_)
        return false;
    if (!store_.replace(index.row(), index.column(), text))
        return false;
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    return true;
}

bool ResultModel::allFetched() const {
    return !source_ || (source_->atEnd() && published_ >= store_.rowCount());
}

bool ResultModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && !allFetched() && !fetchError_ && published_ < INT_MAX;
}

int ResultModel::readBlock(int rows) {
    if (!source_ || source_->atEnd() || fetchError_)
        return 0;
    const int read = source_->fetch(rows, store_);
    if (Error e = source_->error()) {
        fetchError_ = e;
        emit readFailed(e.number, e.description);
    }
    return read;
}

void ResultModel::publish() {
    const int held = int(std::min<qint64>(store_.rowCount(), INT_MAX));
    if (held <= published_)
        return;
    beginInsertRows({}, published_, held - 1);
    published_ = held;
    endInsertRows();
}

void ResultModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid())
        return;
    if (published_ >= store_.rowCount())
        readBlock(kBlockRows);
    publish();
}

bool ResultModel::ensureRows(qint64 rows) {
    while (store_.rowCount() < rows && source_ && !source_->atEnd()) {
        // Larger blocks when far behind, and when a caller walking row by row has gone far
        // already: a whole walk should not pay for one view update every few hundred rows.
        const qint64 missing = rows - store_.rowCount();
        const qint64 ahead = std::max(missing, store_.rowCount() / 4);
        const int block = int(std::clamp<qint64>(ahead, kBlockRows, 64 * 1024));
        if (readBlock(block) == 0)
            break;
    }
    publish();
    return store_.rowCount() >= rows;
}

void ResultModel::fetchAll() {
    ensureRows(std::numeric_limits<qint64>::max());
}

qint64 ResultModel::exactCount(Error* error) {
    if (count_)
        return *count_;
    if (!source_)
        return 0;
    if (source_->atEnd() && !source_->error()) {
        count_ = store_.rowCount();
        return *count_;
    }
    Error countError;
    const qint64 count = source_->countRows(&countError);
    if (countError) {
        if (error)
            *error = countError;
        return 0;
    }
    count_ = count;
    return count;
}

QString ResultModel::columnName(int column) const {
    return source_ && column >= 0 && column < store_.columnCount() ? source_->columnName(column)
                                                                   : QString();
}

int ResultModel::columnIndex(const QString& name) const {
    for (int c = 0; c < store_.columnCount(); ++c)
        if (columnName(c).compare(name, Qt::CaseInsensitive) == 0)
            return c;
    return -1;
}

QString ResultModel::caption(int column) const {
    return column >= 0 && column < captions_.size() ? captions_[column] : QString();
}

void ResultModel::setCaption(int column, const QString& caption) {
    // A caller that sets the same captions on every move of the current row would otherwise
    // have the header measured again each time.
    if (column < 0 || column >= captions_.size() || captions_[column] == caption)
        return;
    captions_[column] = caption;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

void ResultModel::setEditable(bool editable) {
    editable_ = editable;
}

} // namespace velario::data
