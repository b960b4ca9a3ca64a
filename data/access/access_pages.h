#pragma once

#include "data/errors.h"

#include <mdbtools.h>

#include <QString>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace velario::data::access {

struct MdbCloser {
    void operator()(MdbHandle* mdb) const { mdb_close(mdb); }
};
struct TableFreer {
    void operator()(MdbTableDef* table) const { mdb_free_tabledef(table); }
};
using MdbPtr = std::unique_ptr<MdbHandle, MdbCloser>;
using TablePtr = std::unique_ptr<MdbTableDef, TableFreer>;

// ENTRY's table with its columns, or null where libmdb cannot read its definition, its columns
// or its map of pages: libmdb keeps an empty map as none, and its row reading then reads
// through a null pointer.
TablePtr readTable(MdbCatalogEntry* entry);

// Whether MDB, opened on the file SOURCE, has its pages encrypted with a password.
bool encryptedWithPassword(MdbHandle* mdb, const QString& source);

// The pages of one open Access file as libmdb reads them, with what libmdb leaves to its
// caller: values kept outside their row, the row's null mask, the marks of calculated columns
// in a table's definition and rows lost to missing pages. It reads one table at a time (the
// table and columns set last) and keeps its buffers from row to row. A call that fails
// returns false and leaves error() saying why, in words that name the file and the table.
class PageReader {
public:
    PageReader(MdbHandle* mdb, QString source, qint64 fileSize, const std::atomic<bool>* cancel);

    MdbHandle* mdb() const { return mdb_; }
    const QString& source() const { return source_; }
    int pageSize() const { return pageSize_; }
    bool jet3() const { return jet3_; }
    const Error& error() const { return error_; }

    const QString& tableName() const { return tableName_; }
    void setTableName(const QString& name) { tableName_ = name; }
    // The columns of TABLE in order, which INDEX arguments below count.
    void setColumns(MdbTableDef* table);
    MdbColumn* column(unsigned index) const { return columns_[index]; }

    // The value of column INDEX of the current row that lies outside the row (memo, OLE),
    // whole, into longValue().
    bool readLongValue(MdbTableDef* table, unsigned index);
    const std::string& longValue() const { return longValue_; }
    // Whether the empty value of column INDEX of the current row is a null; the row's mask is
    // read once per row, after startRow().
    void startRow() { nullsRead_ = false; }
    bool storedAsNull(MdbTableDef* table, unsigned index);
    // For each column, whether Access computes it from an expression.
    bool calculatedColumns(MdbTableDef* table, std::vector<bool>* calculated);
    // Reads every row of ENTRY's table, for the pages it needs.
    bool readThrough(MdbCatalogEntry* entry);

    // Text as the file stores it, then decodedText() or, without a copy, text16() (files of
    // Jet 4 and later) or text8() (Jet 3, converted from the file's code page to UTF-8).
    void decodeText(const unsigned char* data, size_t size);
    QString decodedText() const;
    const std::u16string& text16() const { return text16_; }
    const char* text8() const { return text8Length_ ? text8_.data() : ""; }
    size_t text8Length() const { return text8Length_; }

    // Each sets error() and returns false.
    bool fail(const Error& error);
    bool damaged(const QString& detail);
    bool damagedValue(unsigned index, const char* what);
    bool missingRows(unsigned long read, unsigned long expected);
    // True, with the error set, once the caller has asked to stop.
    bool cancelled();

private:
    MdbHandle* mdb_;
    QString source_;
    qint64 fileSize_;
    int pageSize_;
    bool jet3_;
    const std::atomic<bool>* cancel_;
    Error error_;

    QString tableName_;
    std::vector<MdbColumn*> columns_;
    std::vector<unsigned char> definition_;
    std::vector<MdbField> fields_;
    std::vector<char> nulls_;
    bool nullsRead_ = false;
    std::vector<char> chunk_;
    std::string longValue_;
    std::u16string text16_;
    std::vector<char> text8_;
    size_t text8Length_ = 0;
};

} // namespace velario::data::access
