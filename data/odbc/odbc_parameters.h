#pragma once

// The values of a statement's parameters as the driver takes them: SQLBindParameter with the
// type the driver describes where it knows one, else with the type this engine compares best.

#include "data/errors.h"
#include "data/query/query_parameters.h"

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

namespace velario::data {

struct OdbcHandles;

namespace odbc {

// The engine behind a connection, as its driver names it: each takes values its own way.
enum class Engine { SQLite, PostgreSQL, MariaDB, Other };

class ParameterBinding {
public:
    // How each of VALUES goes to the driver of HANDLES, asking the statement PREPARED (the
    // statement prepared with its `?`) how the driver describes each parameter.
    ParameterBinding(const std::vector<ParameterValue>& values, const OdbcHandles& handles,
                     SQLHSTMT prepared);
    ParameterBinding(const ParameterBinding&) = delete;
    ParameterBinding& operator=(const ParameterBinding&) = delete;

    // Binds every value to STMT, a statement with the same `?` in the same order; the
    // driver's diagnostics when it refuses one. The values stay where they are as long as
    // this object does.
    Error bind(SQLHSTMT stmt) const;

private:
    struct Parameter {
        SQLSMALLINT cType = SQL_C_CHAR;
        SQLSMALLINT sqlType = SQL_VARCHAR;
        SQLULEN size = 1;
        SQLSMALLINT digits = 0;
        std::string bytes; // the value as CTYPE has it
        mutable SQLLEN indicator = SQL_NULL_DATA;
    };
    const OdbcHandles& handles_;
    std::vector<Parameter> parameters_;
};

} // namespace odbc

} // namespace velario::data
