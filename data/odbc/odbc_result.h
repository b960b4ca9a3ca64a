#pragma once

// The result cursor of a statement run through the driver manager: rows read forward in
// blocks of bound cells, long values read whole with SQLGetData, every value as display text.

#include "data/errors.h"
#include "data/odbc/odbc.h"
#include "data/query/bound_statement.h"
#include "data/result_source.h"

#include <QString>

#include <sql.h>

#include <memory>
#include <string>
#include <string_view>

namespace velario::data {

struct OdbcHandles;

namespace odbc {

// A value read whole with SQLGetData. The buffer keeps its size from value to value, so that
// it is not filled again for each one.
struct WholeValue {
    std::string buffer;
    size_t length = 0;
    bool null = false;

    std::string_view bytes() const { return {buffer.data(), length}; }
};

// Reads the value of COLUMN of the current row whole into VALUE, in chunks that grow to what
// the driver says is left.
SQLRETURN readValue(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLLEN terminator,
                    WholeValue& value);

// A statement that counts the rows of SQL on the server, SQL standing in it as a derived
// table (without the blanks and semicolons that close it).
QString countStatement(const QString& sql);

// Runs STATEMENT on a statement handle of its own, its values bound, and returns its result;
// null, with ERROR set, when the statement fails. Counting binds the same values.
std::unique_ptr<ResultSource> openResult(std::shared_ptr<OdbcHandles> handles,
                                         const BoundStatement& statement, OdbcTextTransfer transfer,
                                         Error* error);

} // namespace odbc

} // namespace velario::data
