#include "row_store.h"

#include <algorithm>
#include <cstring>

namespace velario::data {

namespace {

// Reads a length written by appendLength and moves P past it.
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

} // namespace

void RowStore::reset(int columns) {
    columns_ = columns;
    blocks_.clear();
    rows_.clear();
    building_.clear();
}

// A cell is its byte count plus one (0 marks a Null), seven bits to a byte, then the bytes.
void RowStore::appendLength(quint64 value) {
    while (value >= 0x80) {
        building_.push_back(char((value & 0x7F) | 0x80));
        value >>= 7;
    }
    building_.push_back(char(value));
}

void RowStore::beginRow() {
    building_.clear();
}

void RowStore::cell(const char* utf8, qsizetype length) {
    appendLength(quint64(length) + 1);
    building_.append(utf8, size_t(length));
}

void RowStore::nullCell() {
    appendLength(0);
}

void RowStore::endRow() {
    rows_.push_back(storeRow(building_));
}

quint64 RowStore::storeRow(const std::string& packed) {
    if (blocks_.empty() || blocks_.back().capacity - blocks_.back().used < packed.size()) {
        Block block;
        block.capacity = std::max(kBlockSize, packed.size());
        block.data = std::make_unique_for_overwrite<char[]>(block.capacity);
        blocks_.push_back(std::move(block));
    }
    Block& block = blocks_.back();
    if (!packed.empty())
        std::memcpy(block.data.get() + block.used, packed.data(), packed.size());
    const quint64 location = (quint64(blocks_.size() - 1) << 32) | quint64(block.used);
    block.used += packed.size();
    return location;
}

const char* RowStore::rowStart(qint64 row) const {
    const quint64 location = rows_[size_t(row)];
    return blocks_[size_t(location >> 32)].data.get() + (location & 0xFFFFFFFFu);
}

std::optional<QByteArrayView> RowStore::cell(qint64 row, int column) const {
    if (row < 0 || row >= rowCount() || column < 0 || column >= columns_)
        return std::nullopt;
    const char* p = rowStart(row);
    for (int c = 0; c < column; ++c) {
        const quint64 length = readLength(p);
        if (length > 0)
            p += length - 1;
    }
    const quint64 length = readLength(p);
    if (length == 0)
        return std::nullopt;
    return QByteArrayView(p, qsizetype(length - 1));
}

QString RowStore::text(qint64 row, int column) const {
    const std::optional<QByteArrayView> bytes = cell(row, column);
    return bytes ? QString::fromUtf8(*bytes) : QString();
}

void RowStore::replace(qint64 row, int column, const QString& text) {
    if (row < 0 || row >= rowCount() || column < 0 || column >= columns_)
        return;
    const QByteArray utf8 = text.toUtf8();
    building_.clear();
    for (int c = 0; c < columns_; ++c) {
        if (c == column) {
            cell(utf8.constData(), utf8.size());
        } else if (const std::optional<QByteArrayView> old = cell(row, c)) {
            // OLD points into a block, not into building_, so appending it is safe.
            cell(old->data(), old->size());
        } else {
            nullCell();
        }
    }
    rows_[size_t(row)] = storeRow(building_);
}

qint64 RowStore::bytesHeld() const {
    qint64 bytes = qint64(rows_.capacity() * sizeof(quint64));
    for (const Block& block : blocks_)
        bytes += qint64(block.capacity);
    return bytes;
}

} // namespace velario::data
