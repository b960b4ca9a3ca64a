#include "data/sqlite/recordset.h"

#include "data/sqlite/sqlite_connection.h"

#include <sqlite3.h>

namespace velario::data {

using detail::Statement;

std::unique_ptr<Recordset> Recordset::open(std::shared_ptr<detail::SqliteConnection> connection,
                                           const QString& sql, const QVariantList& params,
                                           const QString& table, Error* error) {
    const auto fail = [&](Error e) {
        if (error)
            *error = std::move(e);
        return nullptr;
    };
    if (!connection || !connection->isOpen())
        return fail(Error::make(ErrorNumber::ObjectNotSet));
    sqlite3* handle = connection->handle;
    Error prepareError;
    const QByteArray text = sql.toUtf8();
    Statement stmt = connection->takeStatement(text, &prepareError);
    if (!stmt.isValid())
        return fail(prepareError);
    const int expected = sqlite3_bind_parameter_count(stmt.get());
    if (expected != params.size())
        return fail(Error::make(ErrorNumber::TooFewParameters,
                                QStringLiteral("L'istruzione attende %1 parametri, ne ha %2.")
                                    .arg(expected)
                                    .arg(params.size())));
    for (int i = 0; i < expected; ++i)
        if (!stmt.bind(i + 1, params[i]))
            return fail(connection->lastError(sqlite3_errcode(handle)));

    std::unique_ptr<Recordset> rs(new Recordset);
    const bool withRowid = !table.isEmpty();
    const int first = withRowid ? 1 : 0;
    int columns = 0;
    for (bool firstStep = true;; firstStep = false) {
        const int rc = sqlite3_step(stmt.get());
        // A kept statement is compiled again by its first step when the schema changed
        // since, so its columns are known only from then on.
        if (firstStep) {
            columns = sqlite3_column_count(stmt.get());
            for (int c = first; c < columns; ++c)
                rs->names_.append(QString::fromUtf8(sqlite3_column_name(stmt.get(), c)));
        }
        if (rc == SQLITE_DONE)
            break;
        if (rc != SQLITE_ROW)
            return fail(connection->lastError(rc));
        Row row;
        row.reserve(columns - first);
        for (int c = first; c < columns; ++c)
            row.push_back(stmt.value(c));
        rs->rows_.push_back(std::move(row));
        if (withRowid)
            rs->rowids_.push_back(sqlite3_column_int64(stmt.get(), 0));
    }
    connection->keepStatement(text, std::move(stmt));
    rs->connection_ = std::move(connection);
    rs->table_ = table;
    rs->open_ = true;
    return rs;
}

Recordset::~Recordset() = default;

void Recordset::moveNext() {
    if (current_ < int(rows_.size()))
        ++current_;
}

int Recordset::columnIndex(const QString& name) const {
    for (int i = 0; i < names_.size(); ++i)
        if (names_[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

namespace {

Error itemNotFound(const QString& name) {
    return Error::make(ErrorNumber::ItemNotFound,
                       QStringLiteral("Elemento non trovato nell'insieme: '%1'.").arg(name));
}

Error closedRecordset() {
    return Error::make(ErrorNumber::ObjectNotSet, QStringLiteral("Il record set è chiuso."));
}

} // namespace

QVariant Recordset::field(const QString& name, Error* error) const {
    const auto fail = [&](Error e) {
        if (error)
            *error = std::move(e);
        return QVariant();
    };
    if (!open_)
        return fail(closedRecordset());
    const int column = columnIndex(name);
    if (column < 0)
        return fail(itemNotFound(name));
    if (eof())
        return fail(Error::make(ErrorNumber::NoCurrentRecord));
    return rows_[current_][column];
}

Error Recordset::edit() {
    if (Error e = checkChangeable())
        return e;
    if (eof())
        return Error::make(ErrorNumber::NoCurrentRecord);
    mode_ = Mode::Edit;
    pending_.assign(names_.size(), std::nullopt);
    return {};
}

Error Recordset::addNew() {
    if (Error e = checkChangeable())
        return e;
    mode_ = Mode::AddNew;
    pending_.assign(names_.size(), std::nullopt);
    return {};
}

Error Recordset::collect(const QString& name, const QVariant& value) {
    if (!open_)
        return closedRecordset();
    if (mode_ == Mode::None)
        return Error::make(ErrorNumber::UpdateWithoutEdit);
    const int column = columnIndex(name);
    if (column < 0)
        return itemNotFound(name);
    pending_[column] = value;
    return {};
}

void Recordset::cancelUpdate() {
    mode_ = Mode::None;
    pending_.clear();
}

Error Recordset::checkChangeable() const {
    if (!open_)
        return closedRecordset();
    if (!isUpdatable())
        return Error::make(ErrorNumber::DatabaseReadOnly,
                           QStringLiteral("Questo record set non è aggiornabile."));
    return {};
}

Error Recordset::checkWritable() const {
    if (!open_)
        return closedRecordset();
    return connection_->checkWritable();
}

Error Recordset::execWrite(const QString& sql, const QVariantList& params, int* changes) {
    return connection_->execute(sql.toUtf8(), params, changes);
}

Error Recordset::inTransaction(const std::function<Error()>& write) {
    // Nothing else opens transactions on the handle.
    return connection_->inWriteTransaction(write);
}

std::optional<Recordset::Row> Recordset::reread(qint64 rowid, Error* error) const {
    Statement stmt(connection_->handle,
                   (QStringLiteral("SELECT * FROM ") + detail::quoteIdentifier(table_) +
                    QStringLiteral(" WHERE _rowid_ = ?"))
                       .toUtf8(),
                   error);
    if (!stmt.isValid() || !stmt.bind(1, rowid) || sqlite3_step(stmt.get()) != SQLITE_ROW)
        return std::nullopt;
    Row row;
    for (int c = 0; c < sqlite3_column_count(stmt.get()); ++c)
        row.push_back(stmt.value(c));
    if (row.size() != size_t(names_.size()))
        return std::nullopt;
    return row;
}

Error Recordset::update() {
    if (!open_)
        return closedRecordset();
    if (mode_ == Mode::None)
        return Error::make(ErrorNumber::UpdateWithoutEdit);
    if (Error e = checkWritable())
        return e;
    QStringList columns;
    QVariantList values;
    for (size_t i = 0; i < pending_.size(); ++i) {
        if (pending_[i]) {
            columns.append(detail::quoteIdentifier(names_[int(i)]));
            values.append(*pending_[i]);
        }
    }
    const QString table = detail::quoteIdentifier(table_);
    qint64 rowid = 0;
    Error error;
    if (mode_ == Mode::Edit) {
        if (eof())
            return Error::make(ErrorNumber::NoCurrentRecord);
        if (columns.isEmpty()) {
            cancelUpdate();
            return {};
        }
        rowid = rowids_[current_];
        QStringList sets;
        for (const QString& c : columns)
            sets.append(c + QStringLiteral(" = ?"));
        values.append(rowid);
        const QString sql = QStringLiteral("UPDATE ") + table + QStringLiteral(" SET ") +
                            sets.join(QStringLiteral(", ")) + QStringLiteral(" WHERE _rowid_ = ?");
        error = inTransaction([&]() -> Error {
            int changes = 0;
            if (Error e = execWrite(sql, values, &changes))
                return e;
            if (changes == 0)
                return Error::make(
                    ErrorNumber::NoCurrentRecord,
                    QStringLiteral("Il record è stato eliminato da un altro utente."));
            return {};
        });
    } else {
        QString sql = QStringLiteral("INSERT INTO ") + table;
        if (columns.isEmpty()) {
            sql += QStringLiteral(" DEFAULT VALUES");
        } else {
            QStringList marks;
            for (qsizetype i = 0; i < columns.size(); ++i)
                marks.append(QStringLiteral("?"));
            sql += QStringLiteral(" (") + columns.join(QStringLiteral(", ")) +
                   QStringLiteral(") VALUES (") + marks.join(QStringLiteral(", ")) +
                   QLatin1Char(')');
        }
        error = inTransaction([&]() -> Error {
            if (Error e = execWrite(sql, values, nullptr))
                return e;
            rowid = sqlite3_last_insert_rowid(connection_->handle);
            return {};
        });
    }
    if (error)
        return error;

    // What the file now holds (defaults, conversions by the column's type), or what was
    // written when the row cannot be read back.
    std::optional<Row> stored = reread(rowid, nullptr);
    if (mode_ == Mode::Edit) {
        Row& row = rows_[current_];
        if (stored)
            row = std::move(*stored);
        else
            for (size_t i = 0; i < pending_.size(); ++i)
                if (pending_[i])
                    row[i] = *pending_[i];
    } else {
        Row row = stored ? std::move(*stored) : Row(names_.size());
        if (!stored)
            for (size_t i = 0; i < pending_.size(); ++i)
                if (pending_[i])
                    row[i] = *pending_[i];
        rows_.push_back(std::move(row));
        rowids_.push_back(rowid);
    }
    cancelUpdate();
    return {};
}

Error Recordset::deleteCurrent() {
    if (Error e = checkChangeable())
        return e;
    if (eof())
        return Error::make(ErrorNumber::NoCurrentRecord);
    if (Error e = checkWritable())
        return e;
    const QString sql = QStringLiteral("DELETE FROM ") + detail::quoteIdentifier(table_) +
                        QStringLiteral(" WHERE _rowid_ = ?");
    const qint64 rowid = rowids_[current_];
    if (Error e = inTransaction([&] { return execWrite(sql, {rowid}, nullptr); }))
        return e;
    rows_.erase(rows_.begin() + current_);
    rowids_.erase(rowids_.begin() + current_);
    cancelUpdate();
    return {};
}

void Recordset::close() {
    open_ = false;
    cancelUpdate();
    rows_.clear();
    rowids_.clear();
    connection_.reset();
}

} // namespace velario::data
