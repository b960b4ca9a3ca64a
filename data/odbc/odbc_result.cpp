#include "data/odbc/odbc_result.h"

#include "data/odbc/odbc_handles.h"
#include "data/text/text_encoding.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace velario::data::odbc {

namespace {

// Bound cells are at most this wide; longer values are read whole with SQLGetData.
constexpr SQLLEN kCellLimit = 1024;
// What the bound buffers of one rowset may take, which decides the rows per block.
constexpr SQLLEN kRowsetBudget = 4 * 1024 * 1024;
constexpr SQLULEN kMaxRowset = 512;
constexpr SQLULEN kMinRowset = 16;
constexpr SQLULEN kCountRowset = 1024;
constexpr SQLLEN kFirstChunk = 64 * 1024;
constexpr SQLLEN kMaxChunk = 16 * 1024 * 1024;

SQLRETURN describeColumn(SQLHSTMT stmt, SQLUSMALLINT column, SQLWCHAR* name, SQLSMALLINT size,
                         SQLSMALLINT* length, SQLSMALLINT* sqlType, SQLULEN* columnSize) {
    SQLSMALLINT digits = 0, nullable = 0;
    return SQLDescribeColW(stmt, column, name, size, length, sqlType, columnSize, &digits,
                           &nullable);
}
SQLRETURN describeColumn(SQLHSTMT stmt, SQLUSMALLINT column, SQLCHAR* name, SQLSMALLINT size,
                         SQLSMALLINT* length, SQLSMALLINT* sqlType, SQLULEN* columnSize) {
    SQLSMALLINT digits = 0, nullable = 0;
    return SQLDescribeCol(stmt, column, name, size, length, sqlType, columnSize, &digits,
                          &nullable);
}

enum class ValueKind { Text, Plain, Binary };

ValueKind kindOf(SQLSMALLINT sqlType) {
    switch (sqlType) {
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
        return ValueKind::Binary;
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
    case SQL_GUID:
        return ValueKind::Plain;
    default:
        if (sqlType >= SQL_INTERVAL_YEAR && sqlType <= SQL_INTERVAL_MINUTE_TO_SECOND)
            return ValueKind::Plain;
        return ValueKind::Text;
    }
}

struct Column {
    QString name;
    SQLSMALLINT cType = SQL_C_CHAR;
    SQLLEN width = 0; // bytes of one bound cell, terminator included
    bool mayBeLong = false;
    bool bound = false;
    std::unique_ptr<char[]> cells;
    std::unique_ptr<SQLLEN[]> indicators;

    SQLLEN terminator() const {
        return cType == SQL_C_CHAR ? 1 : cType == SQL_C_WCHAR ? SQLLEN(sizeof(SQLWCHAR)) : 0;
    }
    bool truncated(SQLLEN indicator) const {
        return indicator == SQL_NO_TOTAL || indicator > width - terminator();
    }
    // Whether WHOLE, read with SQLGetData, is the value whose first part the block brought
    // in ROW: the same length when the driver gave it, and the same first bytes.
    bool holdsStartOf(SQLULEN row, std::string_view whole) const {
        const char* cell = cells.get() + SQLLEN(row) * width;
        const SQLLEN indicator = indicators[row];
        if (indicator != SQL_NO_TOTAL && SQLLEN(whole.size()) != indicator)
            return false;
        // A driver may stop a truncated text short of the buffer's end, at a whole character.
        size_t start = size_t(width);
        if (cType == SQL_C_CHAR) {
            start = strnlen(cell, size_t(width - 1));
        } else if (cType == SQL_C_WCHAR) {
            const auto* units = reinterpret_cast<const char16_t*>(cell);
            const size_t room = size_t(width) / sizeof(char16_t) - 1;
            start = size_t(std::find(units, units + room, u'\0') - units) * sizeof(char16_t);
        }
        return whole.size() >= start && std::memcmp(whole.data(), cell, start) == 0;
    }
};

} // namespace

SQLRETURN readValue(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLLEN terminator,
                    WholeValue& value) {
    value.length = 0;
    value.null = false;
    SQLLEN request = kFirstChunk;
    for (;;) {
        const size_t offset = value.length;
        if (value.buffer.size() < offset + size_t(request))
            value.buffer.resize(offset + size_t(request));
        SQLLEN indicator = 0;
        const SQLRETURN rc =
            SQLGetData(stmt, column, cType, value.buffer.data() + offset, request, &indicator);
        if (rc == SQL_NO_DATA)
            return SQL_SUCCESS;
        if (!SQL_SUCCEEDED(rc))
            return rc;
        if (indicator == SQL_NULL_DATA) {
            value.length = 0;
            value.null = true;
            return SQL_SUCCESS;
        }
        const SQLLEN capacity = request - terminator;
        if (indicator != SQL_NO_TOTAL && indicator <= capacity) {
            value.length = offset + size_t(indicator);
            return SQL_SUCCESS;
        }
        value.length = offset + size_t(capacity);
        // The driver says how much is left when it knows: take it in one more call.
        request = indicator == SQL_NO_TOTAL ? std::min(request * 2, kMaxChunk)
                                            : indicator - capacity + terminator;
    }
}

QString countStatement(const QString& sql) {
    return QStringLiteral("SELECT COUNT(*) FROM (\n%1\n) velario_rows").arg(bareStatement(sql));
}

namespace {

// psqlODBC in cursor mode sends "<statement>;fetch ..." on one line, which a closing "--"
// comment would swallow.
QString closedStatement(const QString& sql) {
    return sql.endsWith(QLatin1Char('\n')) ? sql : sql + QLatin1Char('\n');
}

class OdbcResult final : public ResultSource {
public:
    OdbcResult(std::shared_ptr<OdbcHandles> handles, const BoundStatement& statement,
               OdbcTextTransfer transfer)
        : handles_(std::move(handles)), statement_(*handles_),
          sql_(closedStatement(statement.text)), values_(statement.values), transfer_(transfer) {
        handles_->resultOpened();
    }
    ~OdbcResult() override {
        statement_.release();
        handles_->resultClosed();
    }
    OdbcResult(const OdbcResult&) = delete;
    OdbcResult& operator=(const OdbcResult&) = delete;

    Error start() {
        if (Error e = statement_.allocate())
            return e;
        const SQLHSTMT stmt = statement_.handle();
        if (Error e = execute(statement_, sql_))
            return e;
        SQLSMALLINT count = 0;
        if (!SQL_SUCCEEDED(SQLNumResultCols(stmt, &count)))
            return statement_.error(ErrorNumber::OdbcCallFailed);
        if (count <= 0) {
            finished_ = true;
            return {};
        }
        columns_.resize(size_t(count));
        for (SQLUSMALLINT i = 0; i < columns_.size(); ++i) {
            if (!describe(i))
                return statement_.error(ErrorNumber::OdbcCallFailed);
        }
        if (Error e = bind())
            return e;
        if (handles_->firstRowsAtExecute && !fetchRowset() && error_)
            return error_;
        return {};
    }

    int columnCount() const override { return int(columns_.size()); }
    QString columnName(int column) const override {
        return column >= 0 && column < columnCount() ? columns_[size_t(column)].name : QString();
    }

    int fetch(int max, RowSink& sink) override {
        int produced = 0;
        while (produced < max && !error_) {
            if (position_ >= fetched_) {
                if (finished_ || !fetchRowset())
                    break;
                continue;
            }
            const SQLULEN row = position_++;
            const SQLUSMALLINT status = rowStatus_[row];
            if (status == SQL_ROW_NOROW)
                continue;
            if (status == SQL_ROW_ERROR) {
                fail(at(row, nullptr, statement_.error(ErrorNumber::OdbcCallFailed)));
                break;
            }
            if (!emitRow(row, sink))
                break;
            ++produced;
        }
        return produced;
    }

    bool atEnd() const override { return error_.isSet() || (finished_ && position_ >= fetched_); }
    Error error() const override { return error_; }

    // COUNT(*) over the statement lets the server count without sending a row, so it comes
    // first; statements that cannot be a derived table (PRAGMA, SHOW, procedure calls,
    // dialects that want every column named) are run again and walked instead.
    qint64 countRows(Error* error) override {
        if (error)
            *error = {};
        if (columns_.empty())
            return 0;
        qint64 rows = 0;
        if (countByQuery(&rows))
            return rows;
        const Error walkError = countByWalk(&rows);
        if (walkError) {
            if (error)
                *error = walkError;
            return -1;
        }
        return rows;
    }

    void interrupt() override { handles_->interrupt(); }

    void resume() override {
        // After SQLite's driver was interrupted an open result fails on its next row: it ends
        // here, with the rows read so far.
        if (handles_->resume() && handles_->spare != SQL_NULL_HSTMT && !finished_ && !error_) {
            SQLFreeStmt(statement_.handle(), SQL_CLOSE);
            finished_ = true;
            fetched_ = position_ = 0;
            fail(Error::make(ErrorNumber::OperationCancelled));
        }
    }

private:
    // Runs SQL on STATEMENT with the result's values.
    Error execute(const Statement& statement, const QString& sql) {
        if (!values_.empty())
            return statement.execute(sql, values_, binding_);
        const SQLRETURN rc = statement.execute(sql);
        if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
            return statement.error(ErrorNumber::OdbcCallFailed);
        return {};
    }

    bool describe(SQLUSMALLINT index) {
        Column& column = columns_[index];
        SQLSMALLINT sqlType = 0;
        SQLULEN size = 0;
        if (!(handles_->wideCalls ? describeName<SQLWCHAR>(index, &column.name, &sqlType, &size)
                                  : describeName<SQLCHAR>(index, &column.name, &sqlType, &size)))
            return false;

        // Declared sizes are only hints (SQLite keeps any length in any column, PostgreSQL
        // text claims 8190): a cell wider than its buffer is read again whole.
        const SQLLEN declared = SQLLEN(std::min<SQLULEN>(size, SQLULEN(kCellLimit)));
        SQLLEN natural = 0;
        switch (kindOf(sqlType)) {
        case ValueKind::Binary:
            column.cType = SQL_C_BINARY;
            natural = declared;
            break;
        case ValueKind::Plain:
            column.cType = SQL_C_CHAR;
            natural = declared + 8 + 1;
            break;
        case ValueKind::Text:
            if (transfer_ == OdbcTextTransfer::Narrow) {
                column.cType = SQL_C_CHAR;
                natural = declared * 4 + 1;
            } else {
                column.cType = SQL_C_WCHAR;
                natural = (declared + 1) * SQLLEN(sizeof(SQLWCHAR));
            }
            break;
        }
        column.mayBeLong = size == 0 || natural > kCellLimit || size > SQLULEN(kCellLimit);
        column.width = std::clamp<SQLLEN>(natural, 32, kCellLimit);
        return true;
    }

    template <typename Char>
    bool describeName(SQLUSMALLINT index, QString* name, SQLSMALLINT* sqlType, SQLULEN* size) {
        std::vector<Char> buffer(256);
        SQLSMALLINT length = 0;
        SQLRETURN rc = describeColumn(statement_.handle(), index + 1, buffer.data(),
                                      SQLSMALLINT(buffer.size()), &length, sqlType, size);
        if (SQL_SUCCEEDED(rc) && length >= SQLSMALLINT(buffer.size())) {
            buffer.resize(size_t(length) + 1);
            rc = describeColumn(statement_.handle(), index + 1, buffer.data(),
                                SQLSMALLINT(buffer.size()), &length, sqlType, size);
        }
        if (!SQL_SUCCEEDED(rc))
            return false;
        *name =
            decode(buffer.data(), std::min<SQLSMALLINT>(length, SQLSMALLINT(buffer.size() - 1)));
        return true;
    }

    Error bind() {
        const SQLHSTMT stmt = statement_.handle();
        const SQLUINTEGER extensions = handles_->getDataExtensions;
        // Reading a long value of one row of a block needs SQL_GD_BLOCK and a driver that
        // honours SQLSetPos; without them a result that may hold long values is fetched a row
        // at a time, the current row being the one SQLGetData reads. (SQLite's driver has no
        // blocks, which measured no faster there.)
        SQLULEN rowset = 1;
        const bool mayBeLong = std::any_of(columns_.begin(), columns_.end(),
                                           [](const Column& column) { return column.mayBeLong; });
        if ((extensions & SQL_GD_BLOCK) && (handles_->positionsBlocks || !mayBeLong)) {
            SQLLEN rowBytes = 0;
            for (const Column& column : columns_)
                rowBytes += column.width + SQLLEN(sizeof(SQLLEN));
            rowset = std::clamp<SQLULEN>(SQLULEN(kRowsetBudget / rowBytes), kMinRowset, kMaxRowset);
            SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rowset), 0);
            SQLULEN granted = 1;
            if (!SQL_SUCCEEDED(SQLGetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, &granted, 0, nullptr)))
                granted = 1;
            rowset = std::max<SQLULEN>(granted, 1);
        }
        rowset_ = rowset;
        rowStatus_.assign(rowset, SQL_ROW_SUCCESS);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE,
                       reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, rowStatus_.data(), 0);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &rowsFetched_, 0);

        // Without SQL_GD_BOUND a bound cell cannot be read again, so columns that may hold
        // long values stay unbound; without SQL_GD_ANY_COLUMN every column after an unbound
        // one must stay unbound too.
        const bool rereadBound = extensions & SQL_GD_BOUND;
        const bool anyColumn = extensions & SQL_GD_ANY_COLUMN;
        bool unboundSeen = false;
        for (SQLUSMALLINT i = 0; i < columns_.size(); ++i) {
            Column& column = columns_[i];
            // MariaDB Connector/ODBC fails the fetch when a bound SQL_C_WCHAR cell is cut
            // short; a row at a time, such a column is read with SQLGetData alone.
            const bool wideAlone = rowset == 1 && column.mayBeLong && column.cType == SQL_C_WCHAR;
            column.bound =
                (rereadBound || !column.mayBeLong) && !wideAlone && (anyColumn || !unboundSeen);
            unboundSeen = unboundSeen || !column.bound;
            if (!column.bound)
                continue;
            column.cells =
                std::make_unique_for_overwrite<char[]>(size_t(column.width * SQLLEN(rowset)));
            column.indicators = std::make_unique_for_overwrite<SQLLEN[]>(rowset);
            if (!SQL_SUCCEEDED(SQLBindCol(stmt, i + 1, column.cType, column.cells.get(),
                                          column.width, column.indicators.get())))
                return statement_.error(ErrorNumber::OdbcCallFailed);
        }
        rereadBound_ = rereadBound;
        wholeValues_.resize(columns_.size());
        return {};
    }

    bool fetchRowset() {
        rowsFetched_ = 0;
        positionedRow_ = SQLULEN(-1);
        const CNumericScope numbers(*handles_);
        const CancellableCall call(*handles_, statement_.handle(), CancellableCall::Fetch);
        const SQLRETURN rc = call ? SQLFetch(statement_.handle()) : SQL_ERROR;
        if (rc == SQL_NO_DATA) {
            finished_ = true;
            fetched_ = position_ = 0;
            SQLFreeStmt(statement_.handle(), SQL_CLOSE);
            return false;
        }
        if (!SQL_SUCCEEDED(rc)) {
            fail(statement_.error(ErrorNumber::OdbcCallFailed));
            return false;
        }
        rowsBefore_ += qint64(fetched_);
        fetched_ = std::min(rowsFetched_, rowset_);
        position_ = 0;
        return true;
    }

    bool needsWholeRead(const Column& column, SQLULEN row) const {
        if (!column.bound)
            return true;
        const SQLLEN indicator = column.indicators[row];
        return rereadBound_ && indicator != SQL_NULL_DATA && column.truncated(indicator);
    }

    bool emitRow(SQLULEN row, RowSink& sink) {
        // Long values are read before the row starts so that a failing read leaves no half
        // row behind; SQLGetData wants the columns in ascending order anyway.
        for (size_t i = 0; i < columns_.size(); ++i) {
            if (needsWholeRead(columns_[i], row) && !readWhole(i, row))
                return false;
        }
        sink.beginRow();
        for (size_t i = 0; i < columns_.size(); ++i) {
            const Column& column = columns_[i];
            if (needsWholeRead(column, row)) {
                const WholeValue& value = wholeValues_[i];
                if (value.null)
                    sink.nullCell();
                else
                    emitValue(column, value.buffer.data(), SQLLEN(value.length), sink);
                continue;
            }
            SQLLEN indicator = column.indicators[row];
            if (indicator == SQL_NULL_DATA) {
                sink.nullCell();
                continue;
            }
            // Only a driver without SQL_GD_BOUND gets here: the part that fit is all there is.
            if (column.truncated(indicator))
                indicator = column.width - column.terminator();
            emitValue(column, column.cells.get() + SQLLEN(row) * column.width, indicator, sink);
        }
        sink.endRow();
        return true;
    }

    void emitValue(const Column& column, const char* bytes, SQLLEN length, RowSink& sink) {
        switch (column.cType) {
        case SQL_C_WCHAR:
            scratch_.clear();
            text::appendUtf8(scratch_, reinterpret_cast<const char16_t*>(bytes),
                             size_t(length) / sizeof(SQLWCHAR));
            sink.cell(scratch_.data(), qsizetype(scratch_.size()));
            break;
        case SQL_C_BINARY:
            scratch_.clear();
            text::appendHex(scratch_, reinterpret_cast<const unsigned char*>(bytes),
                            size_t(length));
            sink.cell(scratch_.data(), qsizetype(scratch_.size()));
            break;
        default:
            sink.cell(bytes, qsizetype(length));
            break;
        }
    }

    bool readWhole(size_t index, SQLULEN row) {
        const SQLHSTMT stmt = statement_.handle();
        if (rowset_ > 1 && positionedRow_ != row) {
            if (!SQL_SUCCEEDED(
                    SQLSetPos(stmt, SQLSETPOSIROW(row + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE))) {
                fail(at(row, &columns_[index], statement_.error(ErrorNumber::OdbcCallFailed)));
                return false;
            }
            positionedRow_ = row;
        }
        const Column& column = columns_[index];
        WholeValue& value = wholeValues_[index];
        const CNumericScope numbers(*handles_);
        if (!SQL_SUCCEEDED(readValue(stmt, SQLUSMALLINT(index + 1), column.cType,
                                     column.terminator(), value))) {
            fail(at(row, &column, statement_.error(ErrorNumber::OdbcCallFailed)));
            return false;
        }
        // A value of a row of a block read through a driver that ignored the position (a
        // declared size that was not kept) would be another row's: the part of this row's
        // cell that the block brought tells.
        if (rowset_ > 1 && column.bound &&
            (value.null || !column.holdsStartOf(row, value.bytes()))) {
            fail(at(row, &column,
                    Error::make(ErrorNumber::OdbcCallFailed,
                                QStringLiteral("il driver ODBC ha dato il valore di un'altra "
                                               "riga."))));
            return false;
        }
        return true;
    }

    bool countByQuery(qint64* rows) {
        Statement count(*handles_);
        if (count.allocate())
            return false;
        if (execute(count, countStatement(sql_)))
            return false;
        if (!SQL_SUCCEEDED(SQLFetch(count.handle())))
            return false;
        SQLBIGINT value = 0;
        SQLLEN indicator = 0;
        if (!SQL_SUCCEEDED(
                SQLGetData(count.handle(), 1, SQL_C_SBIGINT, &value, sizeof value, &indicator)) ||
            indicator == SQL_NULL_DATA)
            return false;
        *rows = value;
        return true;
    }

    // Nothing is bound, so the driver hands over no values, only the number of rows of each
    // block.
    Error countByWalk(qint64* rows) {
        Statement walk(*handles_);
        if (Error e = walk.allocate())
            return e;
        const SQLHSTMT stmt = walk.handle();
        SQLULEN fetched = 0;
        SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kCountRowset),
                       0);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
        if (Error e = execute(walk, sql_))
            return e;
        qint64 total = 0;
        for (;;) {
            fetched = 0;
            const CancellableCall call(*handles_, stmt, CancellableCall::Fetch);
            const SQLRETURN rc = call ? SQLFetch(stmt) : SQL_ERROR;
            if (rc == SQL_NO_DATA)
                break;
            if (!SQL_SUCCEEDED(rc))
                return walk.error(ErrorNumber::OdbcCallFailed);
            total += qint64(fetched);
        }
        *rows = total;
        return {};
    }

    // What the driver said about ROW of the block on hand (and COLUMN), said of the row of the
    // result and the column by name, so that whoever misses a row knows which.
    Error at(SQLULEN row, const Column* column, Error error) const {
        if (error.number != ErrorNumber::OdbcCallFailed)
            return error;
        const qint64 number = rowsBefore_ + qint64(row) + 1;
        const QString where =
            column ? QStringLiteral("Riga %1, colonna «%2»: ").arg(number).arg(column->name)
                   : QStringLiteral("Riga %1: ").arg(number);
        return Error::make(error.number, where + error.description);
    }

    void fail(Error error) {
        error_ = std::move(error);
        if (!error_)
            error_ = Error::make(ErrorNumber::OdbcCallFailed);
    }

    std::shared_ptr<OdbcHandles> handles_;
    Statement statement_;
    QString sql_;
    std::vector<ParameterValue> values_;
    // How the values go to the driver, as it described them for the statement itself.
    std::unique_ptr<ParameterBinding> binding_;
    OdbcTextTransfer transfer_;
    std::vector<Column> columns_;
    SQLULEN rowset_ = 1;
    SQLULEN rowsFetched_ = 0;
    std::vector<SQLUSMALLINT> rowStatus_;
    SQLULEN fetched_ = 0;
    SQLULEN position_ = 0;
    qint64 rowsBefore_ = 0; // rows of the result in the blocks before this one
    SQLULEN positionedRow_ = SQLULEN(-1);
    bool rereadBound_ = false;
    bool finished_ = false;
    Error error_;
    std::string scratch_;
    std::vector<WholeValue> wholeValues_;
};

} // namespace

std::unique_ptr<ResultSource> openResult(std::shared_ptr<OdbcHandles> handles,
                                         const BoundStatement& statement, OdbcTextTransfer transfer,
                                         Error* error) {
    auto result = std::make_unique<OdbcResult>(std::move(handles), statement, transfer);
    if (Error e = result->start()) {
        if (error)
            *error = std::move(e);
        return nullptr;
    }
    return result;
}

} // namespace velario::data::odbc
