#pragma once

#include "data/errors.h"

#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace velario::data {

namespace detail {
struct SqliteConnection;
}

// The rows of a small query, read into memory when it opens, with a current row. A record
// set opened on one table (Database::openTableRecordset) also writes: edit() or addNew(),
// collect() the new values, update(). Every write is one transaction of its own: when it
// fails, the file and the record set stay as they were and the pending values are kept,
// so update() may be tried again.
class Recordset {
public:
    // TABLE empty: read-only. Otherwise the statement's first column is the rowid of TABLE.
    static std::unique_ptr<Recordset> open(std::shared_ptr<detail::SqliteConnection> connection,
                                           const QString& sql, const QVariantList& params,
                                           const QString& table, Error* error);
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    int recordCount() const { return int(rows_.size()); }
    // No current row: the result is empty, the walk went past the last row, or the current
    // row was deleted and it was the last.
    bool eof() const { return current_ >= int(rows_.size()); }
    int currentPosition() const { return current_; }
    void moveFirst() { current_ = 0; }
    void moveNext();

    // The value of NAME (any case) in the current row; a null QVariant for a Null.
    // ItemNotFound for an unknown name, NoCurrentRecord at the end.
    QVariant field(const QString& name, Error* error = nullptr) const;

    bool isUpdatable() const { return !table_.isEmpty(); }
    // The rowid of the current row of a record set opened on one table; 0 without one.
    qint64 rowid() const { return isUpdatable() && !eof() ? rowids_[size_t(current_)] : 0; }
    bool isOpen() const { return open_; }

    // Starts changing the current row.
    Error edit();
    // Starts a new row; the current row stays where it was.
    Error addNew();
    // Sets NAME (any case) in the row being changed or added.
    Error collect(const QString& name, const QVariant& value);
    // Writes the collected values: the changed columns of the current row, or a new row.
    Error update();
    // Drops the collected values.
    void cancelUpdate();
    // Deletes the current row from the table; the next row becomes current.
    Error deleteCurrent();
    void close();

private:
    enum class Mode { None, Edit, AddNew };
    using Row = std::vector<QVariant>;

    Recordset() = default;
    int columnIndex(const QString& name) const;
    Error checkWritable() const;
    // ObjectNotSet when closed, DatabaseReadOnly when not opened on one table.
    Error checkChangeable() const;
    // Runs WRITE inside a transaction of its own; rolls back when it fails.
    Error inTransaction(const std::function<Error()>& write);
    Error execWrite(const QString& sql, const QVariantList& params, int* changes);
    std::optional<Row> reread(qint64 rowid, Error* error) const;

    std::shared_ptr<detail::SqliteConnection> connection_;
    QString table_;
    QStringList names_;
    std::vector<Row> rows_;
    std::vector<qint64> rowids_;
    int current_ = 0;
    bool open_ = false;
    Mode mode_ = Mode::None;
    std::vector<std::optional<QVariant>> pending_;
};

} // namespace velario::data
