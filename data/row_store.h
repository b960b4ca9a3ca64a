#pragma once

#include "result_source.h"

#include <QByteArrayView>
#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velario::data {

// The rows read from a result, kept as compactly as the text allows: each row's cells are
// packed one after the other (a length, then the UTF-8 bytes) into large shared blocks,
// and only the start of each row is indexed.
class RowStore final : public RowSink {
public:
    explicit RowStore(int columns = 0) : columns_(columns) {}

    // Forgets every row; the next rows have COLUMNS cells.
    void reset(int columns);

    void beginRow() override;
    void cell(const char* utf8, qsizetype length) override;
    void nullCell() override;
    void endRow() override;

    qint64 rowCount() const { return qint64(rows_.size()); }
    int columnCount() const { return columns_; }
    // The cell's UTF-8 bytes, nullopt for a Null; valid until the store changes.
    std::optional<QByteArrayView> cell(qint64 row, int column) const;
    // The cell as text, a Null as the empty string.
    QString text(qint64 row, int column) const;
    bool isNull(qint64 row, int column) const { return !cell(row, column).has_value(); }
    // Gives a cell new text (edited in place). The row is written again at the end of the
    // blocks; its old bytes stay unused.
    void replace(qint64 row, int column, const QString& text);

    // Bytes held in blocks and in the row index.
    qint64 bytesHeld() const;

private:
    static constexpr size_t kBlockSize = size_t(1) << 20;
    struct Block {
        std::unique_ptr<char[]> data;
        size_t capacity = 0;
        size_t used = 0;
    };
    void appendLength(quint64 value);
    const char* rowStart(qint64 row) const;
    quint64 storeRow(const std::string& packed);

    int columns_ = 0;
    std::vector<Block> blocks_;
    // Block index in the high 32 bits, offset inside the block in the low 32.
    std::vector<quint64> rows_;
    std::string building_;
};

} // namespace velario::data
