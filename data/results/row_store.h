#pragma once

#include "data/errors.h"
#include "data/result_source.h"

#include <QByteArrayView>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace velario::data {

class SpillFile;

// The rows read from a result, kept as compactly as the text allows: each row's cells are
// packed one after the other (a length, then the UTF-8 bytes) into large shared blocks,
// and only the start of each row is indexed.
//
// Only a fixed budget of blocks stays in memory. Past it, the blocks used least recently
// are written to one temporary file (on a thread of its own, with at most two blocks on
// their way) and read back when a row of theirs is asked for, so that a result of millions
// of rows takes no more memory than one of a few hundred thousand. If the file cannot be
// created or written, the blocks simply stay in memory.
// Reading moves blocks in and out, so the store is not for reading from several threads.
class RowStore final : public RowSink {
public:
    struct Limits {
        // Rows are packed into blocks of this size (a longer row gets a block of its own).
        size_t blockSize = size_t(1) << 20;
        // Bytes of blocks kept in memory before the least recently used go to the file.
        // 16 MB holds a few hundred thousand rows of a typical result, far more than a
        // view's read-ahead and what it shows, so that scrolling back a little never reaches
        // the file; with the row index (8 bytes a row) and the program itself, a walk over a
        // million rows of five columns peaks near 64 MB instead of over 100.
        size_t memoryBudget = size_t(16) << 20;
    };

    explicit RowStore(int columns = 0) : RowStore(columns, Limits()) {}
    RowStore(int columns, Limits limits);
    ~RowStore() override;
    RowStore(const RowStore&) = delete;
    RowStore& operator=(const RowStore&) = delete;

    // Forgets every row (and the temporary file); the next rows have COLUMNS cells.
    void reset(int columns);

    void beginRow() override;
    void cell(const char* utf8, qsizetype length) override;
    void nullCell() override;
    void endRow() override;

    qint64 rowCount() const { return rowCount_; }
    int columnCount() const { return columns_; }
    // The cell's UTF-8 bytes, nullopt for a Null. The bytes stay valid only until the next
    // call on the store: reading another row may drop their block from memory.
    // A cell whose block could not be read back from the file reads as kUnreadable (never
    // as an empty cell or a Null).
    std::optional<QByteArrayView> cell(qint64 row, int column) const;
    // The first COUNT cells of ROW into OUT, a Null as no bytes, valid as cell() gives
    // them; false when the row cannot be read. PRINTABLE, when given, tells whether every
    // cell of the row is printable ASCII (0x20 to 0x7E), as noted when the row was stored.
    bool cells(qint64 row, int count, QByteArrayView* out, bool* printable = nullptr) const;
    // The cells of the row stored last into OUT (columnCount() of them), as cells() gives
    // them; valid until the next row is begun.
    void lastRow(QByteArrayView* out, bool* printable) const;
    // The cell as text, a Null as the empty string.
    QString text(qint64 row, int column) const;
    bool isNull(qint64 row, int column) const { return !cell(row, column).has_value(); }
    // Gives a cell new text (edited in place). The row is written again at the end of the
    // blocks; its old bytes stay unused. False when the row could not be read back.
    bool replace(qint64 row, int column, const QString& text);

    // What an unreadable cell shows.
    static constexpr QByteArrayView kUnreadable = "#Errore";

    // Bytes held in memory: blocks and the row index.
    qint64 bytesHeld() const;

private:
    struct Block {
        std::unique_ptr<char[]> data; // the block's own memory, while it has any
        // The block's bytes mapped from the file: a block read back is not copied.
        uchar* mapped = nullptr;
        size_t capacity = 0;
        size_t used = 0;
        qint64 fileOffset = -1; // where the block was written, -1 while it has not been
        quint64 lastUse = 0;
        bool inMemory() const { return data || mapped; }
        const char* bytes() const { return data ? data.get() : reinterpret_cast<char*>(mapped); }
    };
    // Room for MORE bytes after the row being packed; where they go.
    char* buildingEnd(size_t more) {
        return buildingCapacity_ - buildingSize_ >= more ? building_.get() + buildingSize_
                                                         : growBuilding(more);
    }
    char* growBuilding(size_t more);
    const char* rowStart(qint64 row) const;
    quint64 storeRow(const char* packed, size_t size);
    // Makes room for BYTES more in memory by writing out or dropping blocks other than
    // KEEP, least recently used first.
    void makeRoom(size_t bytes, size_t keep) const;
    bool evict(size_t index) const;
    std::unique_ptr<char[]> allocate(size_t capacity) const;
    bool load(size_t index) const;
    // Takes back into memory the blocks the file could not take.
    void takeBackUnwritten() const;
    void unmapAll();

    int columns_ = 0;
    Limits limits_;
    // Where each row starts: block index in the high 32 bits (less the top one, below),
    // offset inside the block in the low 32. Kept in fixed chunks, so that a growing index never
    // needs its old and new copies at once.
    static constexpr int kIndexShift = 14;
    quint64& location(qint64 row) {
        return index_[size_t(row >> kIndexShift)][size_t(row) & ((size_t(1) << kIndexShift) - 1)];
    }
    quint64 location(qint64 row) const { return const_cast<RowStore*>(this)->location(row); }
    std::vector<std::unique_ptr<quint64[]>> index_;
    // Set in a row's location when all its cells are printable ASCII: reports ask it of
    // every row, twice, and it costs least while the bytes go by once.
    static constexpr quint64 kPrintableRow = quint64(1) << 63;
    bool buildingPrintable_ = true;
    qint64 rowCount_ = 0;
    // The row being packed. Every cell read passes through it, so it is only ever grown:
    // never zero-filled, as a string resized for each cell would be.
    std::unique_ptr<char[]> building_;
    size_t buildingSize_ = 0;
    size_t buildingCapacity_ = 0;

    // Which blocks are in memory changes as rows are read, hence mutable.
    mutable std::vector<Block> blocks_;
    mutable std::vector<size_t> resident_; // blocks whose data is in memory
    mutable size_t residentBytes_ = 0;
    mutable quint64 clock_ = 0;
    // A block's memory kept for the next block after its own went to the file.
    mutable std::unique_ptr<char[]> spare_;
    mutable std::unique_ptr<SpillFile> file_;
    // Set once the file failed: from then on every block stays in memory.
    mutable bool cannotSpill_ = false;
    // Where the last cell read starts, so that reading a row's cells in turn does not go
    // back to the row's start for each. Good only while clock_ has not moved on: any
    // other block read or row stored may move blocks.
    mutable qint64 cursorRow_ = -1;
    mutable int cursorColumn_ = 0;
    mutable const char* cursorAt_ = nullptr;
    mutable quint64 cursorClock_ = 0;
};

} // namespace velario::data
