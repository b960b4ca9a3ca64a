#include "data/results/row_store.h"

#include "data/results/spill_file.h"
#include "data/text/ascii_scan.h"

#include <algorithm>
#include <cstring>

namespace velario::data {

namespace {

// The most bytes a length takes, seven bits to a byte.
constexpr size_t kMaxLengthBytes = 10;

// Writes a cell's length at OUT, seven bits to a byte, low bits first; past it.
char* putLength(char* out, quint64 value) {
    while (value >= 0x80) {
        *out++ = char((value & 0x7F) | 0x80);
        value >>= 7;
    }
    *out++ = char(value);
    return out;
}

// Reads a length written by putLength and moves P past it.
quint64 readLength(const char*& p) {
    quint64 value = 0;
    int shift = 0;
    for (;;) {
        const auto byte = static_cast<unsigned char>(*p++);
        value |= quint64(byte & 0x7F) << shift;
        if (!(byte & 0x80))
            return value;
        shift += 7;
    }
}

constexpr size_t kNoBlock = size_t(-1);

} // namespace

RowStore::RowStore(int columns, Limits limits) : columns_(columns), limits_(limits) {
    limits_.blockSize = std::max<size_t>(limits_.blockSize, 1);
}

RowStore::~RowStore() {
    unmapAll();
}

void RowStore::unmapAll() {
    for (Block& block : blocks_)
        if (block.mapped)
            file_->unmap(std::exchange(block.mapped, nullptr));
}

void RowStore::reset(int columns) {
    unmapAll();
    columns_ = columns;
    blocks_.clear();
    resident_.clear();
    residentBytes_ = 0;
    spare_.reset();
    index_.clear();
    rowCount_ = 0;
    buildingSize_ = 0;
    file_.reset();
    cannotSpill_ = false;
    cursorRow_ = -1;
}

char* RowStore::growBuilding(size_t more) {
    const size_t capacity = std::max(buildingSize_ + more, 2 * buildingCapacity_);
    auto grown = std::make_unique_for_overwrite<char[]>(capacity);
    if (buildingSize_ > 0)
        std::memcpy(grown.get(), building_.get(), buildingSize_);
    building_ = std::move(grown);
    buildingCapacity_ = capacity;
    return building_.get() + buildingSize_;
}

void RowStore::beginRow() {
    buildingSize_ = 0;
    buildingPrintable_ = true;
}

// A cell is its byte count plus one (0 marks a Null), then the bytes.
void RowStore::cell(const char* utf8, qsizetype length) {
    if (buildingPrintable_ && !isPrintableAscii(QByteArrayView(utf8, length)))
        buildingPrintable_ = false;
    char* out = putLength(buildingEnd(kMaxLengthBytes + size_t(length)), quint64(length) + 1);
    if (length > 0)
        std::memcpy(out, utf8, size_t(length));
    buildingSize_ = size_t(out - building_.get()) + size_t(length);
}

void RowStore::nullCell() {
    buildingSize_ = size_t(putLength(buildingEnd(kMaxLengthBytes), 0) - building_.get());
}

void RowStore::endRow() {
    const quint64 start = storeRow(building_.get(), buildingSize_);
    if ((rowCount_ >> kIndexShift) >= qint64(index_.size()))
        index_.push_back(std::make_unique_for_overwrite<quint64[]>(size_t(1) << kIndexShift));
    location(rowCount_++) = start | (buildingPrintable_ ? kPrintableRow : 0);
}

quint64 RowStore::storeRow(const char* packed, size_t size) {
    if (blocks_.empty() || blocks_.back().capacity - blocks_.back().used < size) {
        // The block filled so far is finished: from now on it may go to the file too.
        const size_t capacity = std::max(limits_.blockSize, size);
        makeRoom(capacity, kNoBlock);
        Block block;
        block.capacity = capacity;
        block.data = allocate(capacity);
        blocks_.push_back(std::move(block));
        resident_.push_back(blocks_.size() - 1);
        residentBytes_ += capacity;
    }
    Block& block = blocks_.back();
    block.lastUse = ++clock_;
    if (size > 0)
        std::memcpy(block.data.get() + block.used, packed, size);
    const quint64 location = (quint64(blocks_.size() - 1) << 32) | quint64(block.used);
    block.used += size;
    return location;
}

std::unique_ptr<char[]> RowStore::allocate(size_t capacity) const {
    // Taking the memory of the block just written out saves the pages being faulted in
    // again for every new block.
    if (spare_ && capacity == limits_.blockSize)
        return std::move(spare_);
    if (file_)
        if (std::unique_ptr<char[]> written = file_->takeWrittenMemory(capacity))
            return written;
    return std::make_unique_for_overwrite<char[]>(capacity);
}

void RowStore::takeBackUnwritten() const {
    if (!file_)
        return;
    for (SpillFile::Unwritten& unwritten : file_->takeUnwritten()) {
        Block& block = blocks_[unwritten.block];
        block.data = std::move(unwritten.bytes);
        block.capacity = unwritten.capacity;
        block.fileOffset = -1;
        resident_.push_back(unwritten.block);
        residentBytes_ += block.capacity;
        cannotSpill_ = true;
    }
}

void RowStore::makeRoom(size_t bytes, size_t keep) const {
    while (residentBytes_ + bytes > limits_.memoryBudget) {
        size_t victim = kNoBlock;
        auto victimAt = resident_.end();
        for (auto it = resident_.begin(); it != resident_.end(); ++it) {
            const Block& block = blocks_[*it];
            if (*it == keep || (cannotSpill_ && block.fileOffset < 0))
                continue;
            if (victim == kNoBlock || block.lastUse < blocks_[victim].lastUse) {
                victim = *it;
                victimAt = it;
            }
        }
        if (victim == kNoBlock)
            return;
        if (!evict(victim))
            continue; // the file failed: the blocks not yet in it stay in memory
        resident_.erase(victimAt);
    }
}

bool RowStore::evict(size_t index) const {
    Block& block = blocks_[index];
    if (block.fileOffset < 0) {
        if (!file_ && !cannotSpill_)
            file_ = SpillFile::create();
        if (!file_ || file_->failed()) {
            cannotSpill_ = true;
            takeBackUnwritten();
            return false;
        }
        residentBytes_ -= block.capacity;
        block.fileOffset = file_->append(index, std::move(block.data), block.used, block.capacity);
        return true;
    }
    residentBytes_ -= block.capacity;
    if (block.mapped)
        file_->unmap(std::exchange(block.mapped, nullptr));
    else if (block.capacity == limits_.blockSize && !spare_)
        spare_ = std::move(block.data);
    else
        block.data.reset();
    return true;
}

bool RowStore::load(size_t index) const {
    // The block may still be on its way to the file, or have come back from it unwritten.
    file_->waitForWrites();
    takeBackUnwritten();
    Block& block = blocks_[index];
    if (block.inMemory())
        return true;
    const auto size = qint64(block.used);
    // A mapping costs no copy: a report reads back every block of a long result.
    if (size > 0) {
        makeRoom(block.used, blocks_.size() - 1);
        if (uchar* mapped = file_->map(block.fileOffset, size)) {
            block.mapped = mapped;
            block.capacity = block.used;
            resident_.push_back(index);
            residentBytes_ += block.capacity;
            return true;
        }
    }
    const size_t capacity = std::max(limits_.blockSize, block.used);
    // The block rows are being added to is the only one that must stay.
    makeRoom(capacity, blocks_.size() - 1);
    std::unique_ptr<char[]> data = allocate(capacity);
    if (!file_->read(block.fileOffset, data.get(), size)) {
        if (capacity == limits_.blockSize && !spare_)
            spare_ = std::move(data);
        return false;
    }
    block.data = std::move(data);
    block.capacity = capacity;
    resident_.push_back(index);
    residentBytes_ += capacity;
    return true;
}

const char* RowStore::rowStart(qint64 row) const {
    const quint64 start = location(row) & ~kPrintableRow;
    const auto index = size_t(start >> 32);
    Block& block = blocks_[index];
    if (!block.inMemory() && !load(index))
        return nullptr;
    block.lastUse = ++clock_;
    return block.bytes() + (start & 0xFFFFFFFFu);
}

std::optional<QByteArrayView> RowStore::cell(qint64 row, int column) const {
    if (row < 0 || row >= rowCount() || column < 0 || column >= columns_)
        return std::nullopt;
    const char* p = nullptr;
    int c = 0;
    if (row == cursorRow_ && column >= cursorColumn_ && clock_ == cursorClock_) {
        p = cursorAt_;
        c = cursorColumn_;
    } else {
        p = rowStart(row);
        if (!p)
            return kUnreadable;
    }
    for (; c < column; ++c) {
        const quint64 length = readLength(p);
        if (length > 0)
            p += length - 1;
    }
    cursorRow_ = row;
    cursorColumn_ = column;
    cursorAt_ = p;
    cursorClock_ = clock_;
    const quint64 length = readLength(p);
    if (length == 0)
        return std::nullopt;
    return QByteArrayView(p, qsizetype(length - 1));
}

bool RowStore::cells(qint64 row, int count, QByteArrayView* out, bool* printable) const {
    if (row < 0 || row >= rowCount() || count < 0 || count > columns_)
        return false;
    if (printable)
        *printable = location(row) & kPrintableRow;
    const char* p = rowStart(row);
    if (!p)
        return false;
    for (int c = 0; c < count; ++c) {
        const quint64 length = readLength(p);
        out[c] = length > 0 ? QByteArrayView(p, qsizetype(length - 1)) : QByteArrayView();
        if (length > 0)
            p += length - 1;
    }
    return true;
}

void RowStore::lastRow(QByteArrayView* out, bool* printable) const {
    *printable = buildingPrintable_;
    const char* p = building_.get();
    for (int c = 0; c < columns_; ++c) {
        const quint64 length = readLength(p);
        out[c] = length > 0 ? QByteArrayView(p, qsizetype(length - 1)) : QByteArrayView();
        if (length > 0)
            p += length - 1;
    }
}

QString RowStore::text(qint64 row, int column) const {
    const std::optional<QByteArrayView> bytes = cell(row, column);
    return bytes ? QString::fromUtf8(*bytes) : QString();
}

bool RowStore::replace(qint64 row, int column, const QString& text) {
    if (row < 0 || row >= rowCount() || column < 0 || column >= columns_)
        return false;
    const char* p = rowStart(row);
    if (!p)
        return false;
    const QByteArray utf8 = text.toUtf8();
    // The other cells are copied as they are packed; P stays valid up to storeRow, the
    // first call that may drop its block.
    beginRow();
    for (int c = 0; c < columns_; ++c) {
        const char* start = p;
        const quint64 length = readLength(p);
        const QByteArrayView bytes(p, length > 0 ? qsizetype(length - 1) : 0);
        p += bytes.size();
        if (c == column) {
            cell(utf8.constData(), utf8.size());
        } else {
            const auto size = size_t(p - start);
            std::memcpy(buildingEnd(size), start, size);
            buildingSize_ += size;
            if (buildingPrintable_ && !isPrintableAscii(bytes))
                buildingPrintable_ = false;
        }
    }
    location(row) =
        storeRow(building_.get(), buildingSize_) | (buildingPrintable_ ? kPrintableRow : 0);
    return true;
}

qint64 RowStore::bytesHeld() const {
    qint64 bytes =
        qint64(index_.size() * (sizeof(quint64) << kIndexShift)) + qint64(residentBytes_);
    if (spare_)
        bytes += qint64(limits_.blockSize);
    return bytes;
}

} // namespace velario::data
