#include "data/sqlite/sqlite_result.h"

#include "data/text/text_encoding.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <charconv>

namespace velario::data {

namespace {

// Whether TAIL, what follows the first statement of a text, holds another statement; a
// tail the engine cannot read counts as one, with its error.
bool holdsStatement(sqlite3* handle, const char* tail, Error* error) {
    sqlite3_stmt* next = nullptr;
    const int rc = sqlite3_prepare_v2(handle, tail, -1, &next, nullptr);
    const bool found = rc != SQLITE_OK || next != nullptr;
    if (rc != SQLITE_OK)
        *error = engineError(rc, detail::errorText(handle));
    sqlite3_finalize(next);
    return found;
}

} // namespace

std::unique_ptr<SqliteResult>
SqliteResult::open(std::shared_ptr<detail::SqliteConnection> connection,
                   const BoundStatement& statement, Error* error) {
    const auto fail = [&](Error e) {
        if (error)
            *error = std::move(e);
        return nullptr;
    };
    if (!connection || !connection->isOpen())
        return fail(Error::make(ErrorNumber::ObjectNotSet));
    std::unique_ptr<SqliteResult> result(new SqliteResult);
    result->sql_ = statement.text.toUtf8();
    result->values_ = statement.values;
    Error prepareError;
    const char* tail = nullptr;
    result->stmt_ = detail::Statement(connection->handle, result->sql_, &prepareError, &tail);
    if (!result->stmt_.isValid())
        return fail(prepareError);
    sqlite3_stmt* stmt = result->stmt_.get();
    // A result only reads. The engine refuses writes to a file opened read-only, but not
    // everything a statement can do: VACUUM INTO and temporary tables write files of their
    // own. Whatever follows the first statement would be silently left out.
    if (!sqlite3_stmt_readonly(stmt))
        return fail(engineError(SQLITE_READONLY, {}));
    Error tailError = Error::make(
        ErrorNumber::SyntaxError,
        QStringLiteral("Il testo contiene più di un'istruzione SQL: se ne esegue una sola."));
    if (tail && holdsStatement(connection->handle, tail, &tailError))
        return fail(tailError);
    if (const int rc = detail::bindValues(stmt, result->values_, connection->kind); rc != SQLITE_OK)
        return fail(connection->lastError(rc));
    for (int c = 0; c < sqlite3_column_count(stmt); ++c)
        result->names_.append(QString::fromUtf8(sqlite3_column_name(stmt, c)));
    result->connection_ = std::move(connection);
    result->connection_->holders.insert(result.get());
    result->connection_->watchInterrupted();
    if (!result->step())
        return fail(result->error_);
    return result;
}

SqliteResult::~SqliteResult() {
    release();
}

void SqliteResult::release() {
    stmt_ = detail::Statement();
    if (connection_)
        connection_->holders.erase(this);
}

void SqliteResult::connectionClosing() {
    release();
    if (!atEnd_) {
        atEnd_ = true;
        hasRow_ = false;
        error_ = Error::make(ErrorNumber::ObjectNotSet,
                             QStringLiteral("Il database è stato chiuso durante la lettura."));
    }
}

QString SqliteResult::columnName(int column) const {
    return column >= 0 && column < names_.size() ? names_[column] : QString();
}

bool SqliteResult::step() {
    const int rc = sqlite3_step(stmt_.get());
    if (rc == SQLITE_ROW) {
        hasRow_ = true;
        return true;
    }
    hasRow_ = false;
    atEnd_ = true;
    if (rc == SQLITE_DONE) {
        if (!count_)
            count_ = delivered_;
        release();
        return true;
    }
    error_ = connection_->lastError(rc);
    release();
    return false;
}

void SqliteResult::emitRow(RowSink& sink) {
    sqlite3_stmt* stmt = stmt_.get();
    sink.beginRow();
    const int columns = columnCount();
    for (int c = 0; c < columns; ++c) {
        // The column's value is read through its value object: each sqlite3_column_* call
        // would look the column up and check the connection's state again. Only this thread
        // uses the statement while it steps.
        sqlite3_value* value = sqlite3_column_value(stmt, c);
        switch (sqlite3_value_type(value)) {
        case SQLITE_NULL:
            sink.nullCell();
            break;
        case SQLITE_INTEGER: {
            // The engine's own text of an integer is its plain decimal form: made here, it
            // costs no conversion kept inside the statement.
            char digits[24];
            const auto made =
                std::to_chars(digits, digits + sizeof digits, sqlite3_value_int64(value));
            sink.cell(digits, made.ptr - digits);
            break;
        }
        case SQLITE_BLOB: {
            const auto* bytes = static_cast<const unsigned char*>(sqlite3_value_blob(value));
            hex_.clear();
            text::appendHex(hex_, bytes, size_t(sqlite3_value_bytes(value)));
            sink.cell(hex_.data(), qsizetype(hex_.size()));
            break;
        }
        default: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
            sink.cell(text, sqlite3_value_bytes(value));
            break;
        }
        }
    }
    sink.endRow();
}

int SqliteResult::fetch(int max, RowSink& sink) {
    int read = 0;
    while (read < max && hasRow_) {
        emitRow(sink);
        ++read;
        ++delivered_;
        if (!step())
            break;
    }
    return read;
}

void SqliteResult::interrupt() {
    if (connection_)
        connection_->interrupted = true;
}

void SqliteResult::resume() {
    if (connection_)
        connection_->interrupted = false;
}

std::optional<qint64> SqliteResult::countByWrapping() {
    const QByteArray wrapped =
        "SELECT count(*) FROM (\n" + bareStatement(QString::fromUtf8(sql_)).toUtf8() + "\n)";
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(connection_->handle, wrapped.constData(), int(wrapped.size()), &raw,
                           &tail) != SQLITE_OK ||
        !raw) {
        sqlite3_finalize(raw);
        return std::nullopt;
    }
    std::optional<qint64> count;
    // Only a statement that is all of the text counts: "a; b" wrapped is not "a".
    if (tail && *tail == '\0' && detail::bindValues(raw, values_, connection_->kind) == SQLITE_OK &&
        sqlite3_step(raw) == SQLITE_ROW)
        count = sqlite3_column_int64(raw, 0);
    sqlite3_finalize(raw);
    return count;
}

std::optional<qint64> SqliteResult::countByStepping(Error* error) {
    Error prepareError;
    detail::Statement again(connection_->handle, sql_, &prepareError);
    if (!again.isValid()) {
        if (error)
            *error = prepareError;
        return std::nullopt;
    }
    if (const int rc = detail::bindValues(again.get(), values_, connection_->kind);
        rc != SQLITE_OK) {
        if (error)
            *error = connection_->lastError(rc);
        return std::nullopt;
    }
    qint64 rows = 0;
    for (;;) {
        const int rc = sqlite3_step(again.get());
        if (rc == SQLITE_ROW) {
            ++rows;
            continue;
        }
        if (rc == SQLITE_DONE)
            return rows;
        if (error)
            *error = connection_->lastError(rc);
        return std::nullopt;
    }
}

qint64 SqliteResult::countRows(Error* error) {
    if (count_)
        return *count_;
    if (!connection_ || !connection_->isOpen()) {
        if (error)
            *error =
                Error::make(ErrorNumber::ObjectNotSet, QStringLiteral("Il database è chiuso."));
        return 0;
    }
    std::optional<qint64> count = countByWrapping();
    if (!count)
        count = countByStepping(error);
    if (!count)
        return 0;
    count_ = count;
    return *count;
}

} // namespace velario::data
