#include "data/results/result_model.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <utility>

namespace velario::data {

ResultModel::ResultModel(QObject* parent) : QAbstractTableModel(parent) {}

ResultModel::~ResultModel() = default;

// A stop asked for while rows are read takes effect between blocks of rows, where the
// result can go on later. Only an engine call that does not return soon is interrupted, which
// may end the result there.
class ResultModel::BlockwiseStop {
public:
    explicit BlockwiseStop(ResultSource* source) : source_(source) {}

    // On the waiting thread.
    void request() {
        std::unique_lock lock(mutex_);
        requested_ = true;
        if (!changed_.wait_for(lock, kGrace, [this] { return !inEngine_; }) && source_)
            source_->interrupt();
    }
    bool requested() const {
        const std::lock_guard lock(mutex_);
        return requested_;
    }
    // On the reading thread, around each call into the engine: false once a stop was asked.
    // ROWS: how many to ask for, so that the call ends well within the grace.
    bool enter(int* rows) {
        const std::lock_guard lock(mutex_);
        inEngine_ = !requested_;
        *rows = rows_;
        entered_ = std::chrono::steady_clock::now();
        return inEngine_;
    }
    // GOT rows came.
    void leave(int got) {
        const auto took = std::chrono::steady_clock::now() - entered_;
        {
            const std::lock_guard lock(mutex_);
            inEngine_ = false;
            // The next call is sized to the rows' pace: slow rows come a few at a time.
            if (got == rows_ && took < kPace / 2)
                rows_ = std::min(rows_ * 2, kMostRows);
            else if (took > kPace)
                rows_ = std::max(rows_ / 2, 1);
        }
        changed_.notify_all();
    }

private:
    static constexpr std::chrono::milliseconds kGrace{250};
    static constexpr std::chrono::milliseconds kPace{25};
    static constexpr int kMostRows = 4096;
    ResultSource* source_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool requested_ = false;
    bool inEngine_ = false;
    int rows_ = ResultModel::kBlockRows;
    std::chrono::steady_clock::time_point entered_;
};

// Whoever shows a new result reports its opening failure: the first block's is not announced.
void ResultModel::adopt(std::unique_ptr<ResultSource> source) {
    ++generation_;
    source_ = std::move(source);
    const int columns = source_ ? source_->columnCount() : 0;
    store_.reset(columns);
    captions_.clear();
    for (int c = 0; c < columns; ++c)
        captions_.append(source_->columnName(c));
    count_.reset();
    countStopped_ = false;
    fetchError_ = Error();
    if (source_)
        readBlock(kBlockRows);
}

void ResultModel::setSource(std::unique_ptr<ResultSource> source) {
    beginResetModel();
    adopt(std::move(source));
    publishAll();
    endResetModel();
    noteExtent();
    setReadingStopped(false);
    reportFirstBlockFailure();
}

// A result whose first block failed has opened all the same and shows what it read: the
// failure is said as for any later block, so that no row goes missing unexplained.
void ResultModel::reportFirstBlockFailure() {
    if (fetchError_)
        emit readFailed(fetchError_.number, fetchError_.description);
}

namespace {

// A number as engines write them: sign, digits with at most one point, exponent.
bool isNumber(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    const auto digits = [&] {
        const qsizetype start = i;
        while (i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'))
            ++i;
        return i - start;
    };
    if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+')))
        ++i;
    qsizetype mantissa = digits();
    if (i < n && text[i] == QLatin1Char('.')) {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return false;
    if (i < n && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        ++i;
        if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+')))
            ++i;
        if (digits() == 0)
            return false;
    }
    return i == n;
}

} // namespace

void ResultModel::publishAll() {
    published_ = int(std::min<qint64>(store_.rowCount(), INT_MAX));
    filled_ = published_;
    publishedColumns_ = store_.columnCount();
    // The sources give no column types: the first block's values decide, once, so that a
    // column does not change sides as the user scrolls.
    numeric_.assign(size_t(publishedColumns_), false);
    const qint64 rows = std::min<qint64>(store_.rowCount(), kBlockRows);
    for (int c = 0; c < publishedColumns_; ++c) {
        bool any = false;
        bool all = true;
        for (qint64 r = 0; r < rows && all; ++r) {
            if (store_.isNull(r, c))
                continue;
            any = true;
            all = isNumber(store_.text(r, c));
        }
        numeric_[size_t(c)] = any && all;
    }
}

Error ResultModel::openSource(LongOperation kind, const Opener& open) {
    clear();
    Interrupter stop;
    Error error;
    operate(
        kind, stop,
        [&] {
            std::unique_ptr<ResultSource> opened = open(stop, &error);
            if (!opened)
                return;
            ResultSource* source = opened.get();
            stop.setStop([source] { source->interrupt(); });
            adopt(std::move(opened));
            stop.setStop(nullptr);
        },
        true);
    if (stop.requested())
        error = Error::make(ErrorNumber::OperationCancelled);
    if (error) {
        adopt(nullptr);
        return error;
    }
    // The view has seen nothing so far: the new result appears all at once.
    beginResetModel();
    publishAll();
    endResetModel();
    noteExtent();
    reportFirstBlockFailure();
    return {};
}

void ResultModel::operate(LongOperation kind, Interrupter& stop, const std::function<void()>& work,
                          bool store) {
    busy_ = true;
    storeBusy_ = store;
    if (runner_)
        runner_(kind, work, [&stop] { stop.request(); });
    else
        work();
    busy_ = false;
    storeBusy_ = false;
}

int ResultModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : published_;
}

int ResultModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : publishedColumns_;
}

QVariant ResultModel::data(const QModelIndex& index, int role) const {
    if (role == Qt::TextAlignmentRole && index.isValid() && isNumeric(index.column()))
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole) || storeBusy_)
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
    if (!editable_ || role != Qt::EditRole || !index.isValid() || index.row() >= filled_ || busy_)
        return false;
    QString text = value.toString();
    const quint64 generation = generation_;
    if (editHandler_) {
        const std::optional<QString> kept = editHandler_(index.row(), index.column(), text);
        if (!kept)
            return false;
        text = *kept;
    }
    if (generation != generation_ || index.row() >= filled_)
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
    // The view asks for more whenever its last row is on display: after the user's stop
    // that would go on with the reading at once.
    return !parent.isValid() && !busy_ && filled_ == published_ && !allFetched() && !fetchError_ &&
           !readingStopped_ && published_ < INT_MAX;
}

namespace {

// Rows read go both into the store and out.
class Tee final : public RowSink {
public:
    Tee(RowSink& first, RowSink& second) : first_(first), second_(second) {}
    void beginRow() override {
        first_.beginRow();
        second_.beginRow();
    }
    void cell(const char* utf8, qsizetype length) override {
        first_.cell(utf8, length);
        second_.cell(utf8, length);
    }
    void nullCell() override {
        first_.nullCell();
        second_.nullCell();
    }
    void endRow() override {
        first_.endRow();
        second_.endRow();
    }

private:
    RowSink& first_;
    RowSink& second_;
};

// Stores each row, then hands it on whole as stored: what the store learnt of its bytes
// (whether they are all printable) need not be learnt again.
class StoreThenHandOn final : public RowSink {
public:
    StoreThenHandOn(RowStore& store, RowSink& next)
        : store_(store), next_(next), cells_(size_t(store.columnCount())) {}
    void beginRow() override { store_.beginRow(); }
    void cell(const char* utf8, qsizetype length) override { store_.cell(utf8, length); }
    void nullCell() override { store_.nullCell(); }
    void endRow() override {
        store_.endRow();
        bool printable = false;
        store_.lastRow(cells_.data(), &printable);
        next_.row(cells_, printable);
    }

private:
    RowStore& store_;
    RowSink& next_;
    std::vector<QByteArrayView> cells_;
};

} // namespace

int ResultModel::readBlock(int rows, RowSink* also) {
    if (!source_ || source_->atEnd() || fetchError_)
        return 0;
    std::optional<StoreThenHandOn> both;
    if (also)
        both.emplace(store_, *also);
    RowSink& sink = both ? static_cast<RowSink&>(*both) : store_;
    int read = 0;
    while (read < rows) {
        int asked = rows - read;
        int paced = asked;
        if (blockwise_ && !blockwise_->enter(&paced))
            break;
        asked = std::min(asked, paced);
        const int got = source_->fetch(asked, sink);
        if (blockwise_)
            blockwise_->leave(got);
        read += got;
        if (got < asked)
            break;
    }
    if (Error e = source_->error())
        fetchError_ = e;
    return read;
}

void ResultModel::readUpTo(qint64 rows, RowSink* also) {
    while (store_.rowCount() < rows && source_ && !source_->atEnd()) {
        // Larger blocks when far behind, and when a caller walking row by row has gone far
        // already: a whole walk should not pay for one view update every few hundred rows.
        const qint64 missing = rows - store_.rowCount();
        const qint64 ahead = std::max(missing, store_.rowCount() / 4);
        const int block = int(std::clamp<qint64>(ahead, kBlockRows, 64 * 1024));
        if (readBlock(block, also) == 0)
            break;
    }
}

bool ResultModel::operateOnSource(LongOperation kind, const std::function<void()>& work,
                                  bool reads) {
    ResultSource* source = source_.get();
    Interrupter stop;
    BlockwiseStop blockwise(source);
    // Without a runner nothing can ask for a stop: rows are read in blocks of any size.
    if (reads && runner_) {
        blockwise_ = &blockwise;
        stop.setStop([&blockwise] { blockwise.request(); });
    } else {
        stop.setStop([source] { source->interrupt(); });
    }
    operate(kind, stop, work, reads);
    blockwise_ = nullptr;
    source->resume();
    if (!fetchError_ && source->error())
        fetchError_ = source->error();
    return stop.requested();
}

void ResultModel::readThrough(const std::function<void()>& work) {
    if (!source_ || source_->atEnd() || fetchError_)
        return;
    const bool stopped = operateOnSource(LongOperation::Read, work, true);
    // Where the engine had to be interrupted the result ends there, as a failure does.
    const bool canGoOn = !source_->atEnd() && !fetchError_;
    const bool wasStopped = std::exchange(readingStopped_, stopped && canGoOn);
    publish();
    if (readingStopped_ != wasStopped)
        emit readingStoppedChanged(readingStopped_);
    if (fetchError_)
        emit readFailed(fetchError_.number, fetchError_.description);
}

void ResultModel::setReadingStopped(bool stopped) {
    if (readingStopped_ == stopped)
        return;
    readingStopped_ = stopped;
    noteExtent();
    emit readingStoppedChanged(stopped);
}

void ResultModel::resumeReading() {
    setReadingStopped(false);
}

void ResultModel::publish() {
    const int held = int(std::min<qint64>(store_.rowCount(), INT_MAX));
    if (held > filled_ && filled_ < published_) {
        const int last = std::min(held, published_) - 1;
        emit dataChanged(index(filled_, 0), index(last, std::max(0, publishedColumns_ - 1)),
                         {Qt::DisplayRole});
        filled_ = last + 1;
    }
    if (held > published_) {
        beginInsertRows({}, published_, held - 1);
        published_ = filled_ = held;
        endInsertRows();
    }
    // The result ended short of its count (stopped, failed, or changed since it was counted),
    // or the user stopped its reading: the rows it does not have go (for now).
    const bool ended = !source_ || source_->atEnd() || fetchError_;
    if ((ended || readingStopped_) && held < published_) {
        beginRemoveRows({}, held, published_ - 1);
        published_ = filled_ = held;
        endRemoveRows();
    }
    noteExtent();
}

qint64 ResultModel::extent() const {
    const bool canGoOn = count_ && source_ && !source_->atEnd() && !fetchError_ && !readingStopped_;
    return canGoOn ? std::max<qint64>(*count_, published_) : published_;
}

void ResultModel::noteExtent() {
    const qint64 now = extent();
    if (std::exchange(extentTold_, now) != now)
        emit extentChanged();
}

void ResultModel::showRowsUpTo(qint64 rows) {
    if (busy_)
        return;
    publish();
    const int last = int(std::min({rows, extent(), qint64(INT_MAX)}));
    if (last <= published_)
        return;
    beginInsertRows({}, published_, last - 1);
    published_ = last;
    endInsertRows();
}

void ResultModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid() || busy_ || filled_ < published_)
        return;
    if (published_ >= store_.rowCount())
        readThrough([this] { readBlock(kBlockRows); });
    publish();
}

bool ResultModel::ensureRows(qint64 rows, RowSink* also) {
    if (busy_)
        return false;
    if (store_.rowCount() < rows)
        readThrough([this, rows, also] { readUpTo(rows, also); });
    publish();
    return store_.rowCount() >= rows;
}

void ResultModel::fetchAll() {
    ensureRows(std::numeric_limits<qint64>::max());
}

Error ResultModel::writeAll(RowSink& out, const std::function<bool()>& failed, bool* stopped) {
    if (stopped)
        *stopped = false;
    if (busy_)
        return Error::make(ErrorNumber::OperationCancelled);
    ResultSource* source = source_.get();
    Interrupter stop;
    BlockwiseStop blockwise(source);
    stop.setStop([&blockwise] { blockwise.request(); });
    Error error;
    const auto work = [&] {
        const int columns = store_.columnCount();
        std::vector<QByteArrayView> cells(static_cast<size_t>(columns));
        const qint64 held = store_.rowCount();
        for (qint64 row = 0; row < held; ++row) {
            if (row % 1024 == 0 && (blockwise.requested() || (failed && failed())))
                return;
            if (!store_.cells(row, columns, cells.data())) {
                error = Error::make(ErrorNumber::EngineError,
                                    QString::fromLatin1(RowStore::kUnreadable));
                return;
            }
            out.beginRow();
            for (const QByteArrayView cell : cells) {
                if (cell.data())
                    out.cell(cell.data(), cell.size());
                else
                    out.nullCell();
            }
            out.endRow();
        }
        if (!source || fetchError_)
            return;
        Tee both(store_, out);
        int rows = 0;
        while (!source->atEnd() && !(failed && failed()) && blockwise.enter(&rows)) {
            const int got = source->fetch(rows, both);
            blockwise.leave(got);
            if (got == 0)
                break;
        }
    };
    operate(LongOperation::Export, stop, work, true);
    if (source) {
        source->resume();
        if (!fetchError_ && source->error())
            fetchError_ = source->error();
    }
    // Read to its end (or to a failure), the result has no rows left for the user to resume.
    if (!stop.requested())
        setReadingStopped(false);
    publish();
    if (stop.requested()) {
        if (stopped)
            *stopped = true;
        return Error::make(ErrorNumber::OperationCancelled);
    }
    if (error)
        return error;
    return fetchError_;
}

qint64 ResultModel::exactCount(Error* error) {
    if (count_)
        return *count_;
    if (!source_ || busy_)
        return 0;
    if (countStopped_)
        return store_.rowCount();
    if (source_->atEnd() && !source_->error()) {
        count_ = store_.rowCount();
        return *count_;
    }
    Error countError;
    qint64 count = 0;
    // A result that the stop left unreadable ends quietly: the count's failure says why.
    operateOnSource(
        LongOperation::Count, [&] { count = source_->countRows(&countError); }, false);
    if (countError) {
        if (error)
            *error = countError;
        if (countError.number != ErrorNumber::OperationCancelled)
            return 0;
        countStopped_ = true;
        return store_.rowCount();
    }
    count_ = count;
    noteExtent();
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
