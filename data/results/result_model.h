#pragma once

#include "data/errors.h"
#include "data/long_operation.h"
#include "data/result_source.h"
#include "data/results/row_store.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace velario::data {

// A result as a table for a view: rows are read from the source only as they are needed
// (the view scrolling on, a caller asking for a row) and kept in a RowStore.
//
// Reading and counting go through a runner when one is set, which may run them on another
// thread and let the user stop them. Until such work ends the model reads nothing from the
// source on its own thread (callers that ask for rows or the count get what is there), and
// while rows are being read the view gets no cells.
class ResultModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Decides what an edited cell keeps: the text to store (the typed text, or what the
    // owner made of it), or nullopt to refuse the edit.
    using EditHandler =
        std::function<std::optional<QString>(int row, int column, const QString& text)>;

    explicit ResultModel(QObject* parent = nullptr);
    ~ResultModel() override;

    void setRunner(LongOperationRunner runner) { runner_ = std::move(runner); }

    // Shows SOURCE (null: nothing) and reads its first block of rows at once.
    void setSource(std::unique_ptr<ResultSource> source);
    void clear() { setSource(nullptr); }
    // Shows nothing, runs OPEN through the runner, reads the first block of the result it
    // gives there, then shows that. OPEN tells the interrupter what stops it as it goes. On
    // failure, or when the user stops it (OperationCancelled), the error, and nothing shown.
    using Opener = std::function<std::unique_ptr<ResultSource>(Interrupter& stop, Error* error)>;
    Error openSource(LongOperation kind, const Opener& open);
    bool hasSource() const { return source_ != nullptr; }

    // The rows on display: those read, and rows of the count not read yet that the view
    // asked for (showRowsUpTo).
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

    // Reads on until at least ROWS rows are held; false when the result ends first. The rows
    // read go to ALSO as well, on the thread that reads them, after the store has them.
    bool ensureRows(qint64 rows, RowSink* also = nullptr);
    void fetchAll();
    bool allFetched() const;
    // Rows read from the source so far.
    qint64 fetchedRows() const { return store_.rowCount(); }
    // The exact number of rows of the whole result, asked of the source once. A count the
    // user stopped is not asked again: the rows read so far stand for it from then on.
    qint64 exactCount(Error* error = nullptr);
    // Hands every row of the result to OUT, in order: those held, then the rest as they are
    // read (and kept, as reading on keeps them), all through the runner as one operation
    // that the user may stop (OperationCancelled, and STOPPED set). FAILED, asked between
    // blocks of rows, ends it early when OUT can take no more. A reading failure, this one's
    // or an earlier one's, is returned, not announced.
    Error writeAll(RowSink& out, const std::function<bool()>& failed = {}, bool* stopped = nullptr);
    // Why reading stopped early, if it did.
    Error fetchError() const { return fetchError_; }
    // Whether the user stopped a reading where the result can go on: the view then has the
    // rows read so far, fewer than the count, until reading resumes (any reading does).
    bool readingStopped() const { return readingStopped_; }
    // The rows of the count again, read as they come on display.
    void resumeReading();
    // The rows a view stands for: every row of the exact count once it is known and reading
    // can go on to them, else the rows on display. Only the rows a view puts on display
    // (showRowsUpTo) are rows of the model: a view keeps something for every row it has.
    qint64 extent() const;
    // Puts the rows of the extent up to ROWS on display, those not read yet empty until read.
    void showRowsUpTo(qint64 rows);

    QString columnName(int column) const;
    // The column called NAME, in any case; -1 when there is none.
    int columnIndex(const QString& name) const;
    QString caption(int column) const;
    void setCaption(int column, const QString& caption);

    // Cells of rows already read; a Null is empty text.
    QString text(qint64 row, int column) const { return store_.text(row, column); }
    bool isNull(qint64 row, int column) const { return store_.isNull(row, column); }
    const RowStore& store() const { return store_; }
    // Whether COLUMN holds numbers, which the view shows on the right.
    bool isNumeric(int column) const {
        return column >= 0 && size_t(column) < numeric_.size() && numeric_[size_t(column)];
    }

    void setEditable(bool editable);
    bool isEditable() const { return editable_; }
    void setEditHandler(EditHandler handler) { editHandler_ = std::move(handler); }

    static constexpr int kBlockRows = 256;

signals:
    // Reading the result failed part way (the server went away, the file changed): sent
    // once per result, after which no more rows are read from it.
    void readFailed(int number, const QString& description);
    void readingStoppedChanged(bool stopped);
    // The extent is another now.
    void extentChanged();

private:
    class BlockwiseStop;

    // These read from the source and may run off the model's thread.
    void adopt(std::unique_ptr<ResultSource> source);
    int readBlock(int rows, RowSink* also = nullptr);
    void readUpTo(qint64 rows, RowSink* also);

    // WORK through the runner, STOP telling the source what to stop. STORE: whether WORK
    // writes to the store (then no cell is shown meanwhile).
    void operate(LongOperation kind, Interrupter& stop, const std::function<void()>& work,
                 bool store);
    // OPERATE with the source's own interruption, its read failure kept afterwards. Work that
    // reads rows (READS) is stopped between blocks, so that the result can go on later; true
    // when the user stopped it.
    bool operateOnSource(LongOperation kind, const std::function<void()>& work, bool reads);
    // Reads with WORK, then lets the view know of the new rows and of a failure.
    void readThrough(const std::function<void()>& work);
    void setReadingStopped(bool stopped);
    void publish();
    void noteExtent();
    // Every row and column held so far, inside a model reset.
    void publishAll();
    void reportFirstBlockFailure();

    std::unique_ptr<ResultSource> source_;
    RowStore store_;
    QStringList captions_;
    int published_ = 0;
    // The rows of those published whose cells the view has been given (the rest not read yet).
    int filled_ = 0;
    int publishedColumns_ = 0;
    qint64 extentTold_ = 0;
    std::vector<bool> numeric_;
    std::optional<qint64> count_;
    bool countStopped_ = false;
    bool readingStopped_ = false;
    // Set while work that reads rows runs: asked between blocks of rows whether to go on.
    BlockwiseStop* blockwise_ = nullptr;
    Error fetchError_;
    LongOperationRunner runner_;
    bool busy_ = false;
    bool storeBusy_ = false;
    bool editable_ = false;
    EditHandler editHandler_;
    // Changes whenever a new result is shown, so that an edit handler that refreshed the
    // source does not write into the new result.
    quint64 generation_ = 0;
};

} // namespace velario::data
