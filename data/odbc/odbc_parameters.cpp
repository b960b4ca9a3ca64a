#include "data/odbc/odbc_parameters.h"

#include "data/odbc/odbc_handles.h"

#include <sqlext.h>

#include <cstring>

namespace velario::data::odbc {

namespace {

// SQLite's driver describes every parameter as SQL_LONGVARCHAR and MariaDB's as SQL_VARCHAR,
// whatever it is compared with: only another type says what the engine expects.
bool tellsType(SQLSMALLINT sqlType) {
    switch (sqlType) {
    case SQL_UNKNOWN_TYPE:
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
        return false;
    default:
        return true;
    }
}

template <typename T>
std::string bytesOf(const T& value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

} // namespace

ParameterBinding::ParameterBinding(const std::vector<ParameterValue>& values,
                                   const OdbcHandles& handles, SQLHSTMT prepared)
    : handles_(handles) {
    const Engine engine = handles.engine;
    for (size_t i = 0; i < values.size(); ++i) {
        const ParameterValue& value = values[i];
        Parameter p;
        const auto asText = [&](const QString& text, SQLSMALLINT sqlType) {
            if (handles.wideCalls) {
                p.cType = SQL_C_WCHAR;
                p.bytes.assign(reinterpret_cast<const char*>(text.utf16()),
                               size_t(text.size()) * sizeof(char16_t));
            } else {
                p.cType = SQL_C_CHAR;
                p.bytes = text.toStdString();
            }
            p.sqlType = sqlType;
            p.size = std::max<SQLULEN>(1, SQLULEN(text.size()));
        };
        const auto asDigits = [&](const QString& digits, SQLSMALLINT sqlType) {
            p.cType = SQL_C_CHAR;
            p.bytes = digits.toStdString();
            p.sqlType = sqlType;
            p.size = std::max<SQLULEN>(1, SQLULEN(digits.size()));
        };

        SQLSMALLINT described = SQL_UNKNOWN_TYPE, digits = 0, nullable = 0;
        SQLULEN describedSize = 0;
        if (!SQL_SUCCEEDED(SQLDescribeParam(prepared, SQLUSMALLINT(i + 1), &described,
                                            &describedSize, &digits, &nullable)))
            described = SQL_UNKNOWN_TYPE;

        if (value.kind == ParameterKind::Null) {
            p.sqlType = tellsType(described) ? described : SQL_VARCHAR;
        } else if (tellsType(described)) {
            // The driver converts the value's plain text to the type it expects, and says so
            // when it cannot.
            if (value.kind == ParameterKind::Text)
                asText(value.canonical(), described);
            else
                asDigits(value.canonical(), described);
            p.size = std::max(p.size, describedSize);
            p.digits = digits;
        } else if (engine == Engine::PostgreSQL && value.kind != ParameterKind::Text) {
            // Text of no type of its own: the server reads it as whatever the statement
            // compares it with (a date, a number, a text), as it reads a quoted literal.
            asDigits(value.canonical(), SQL_VARCHAR);
        } else {
            switch (value.kind) {
            case ParameterKind::Integer:
                p.cType = SQL_C_SBIGINT;
                p.sqlType = SQL_BIGINT;
                p.bytes = bytesOf(SQLBIGINT(value.integer));
                p.size = 19;
                break;
            case ParameterKind::Decimal:
                if (engine == Engine::SQLite || value.decimal.contains(u'e', Qt::CaseInsensitive)) {
                    // SQLite keeps numbers with a fraction as doubles.
                    p.cType = SQL_C_DOUBLE;
                    p.sqlType = SQL_DOUBLE;
                    p.bytes = bytesOf(value.decimal.toDouble());
                    p.size = 15;
                } else {
                    asDigits(value.decimal, SQL_DECIMAL);
                    const qsizetype point = value.decimal.indexOf(u'.');
                    p.digits = point < 0 ? 0 : SQLSMALLINT(value.decimal.size() - point - 1);
                }
                break;
            case ParameterKind::Date:
                if (engine == Engine::SQLite) {
                    // A SQLite file keeps dates as text, yyyy-mm-dd.
                    asDigits(value.canonical(), SQL_VARCHAR);
                } else {
                    const SQL_DATE_STRUCT date{SQLSMALLINT(value.date.year()),
                                               SQLUSMALLINT(value.date.month()),
                                               SQLUSMALLINT(value.date.day())};
                    p.cType = SQL_C_TYPE_DATE;
                    p.sqlType = SQL_TYPE_DATE;
                    p.bytes = bytesOf(date);
                    p.size = 10;
                }
                break;
            default:
                asText(value.text(), handles.wideCalls ? SQL_WVARCHAR : SQL_VARCHAR);
                break;
            }
        }
        p.indicator = value.kind == ParameterKind::Null ? SQL_NULL_DATA : SQLLEN(p.bytes.size());
        parameters_.push_back(std::move(p));
    }
}

Error ParameterBinding::bind(SQLHSTMT stmt) const {
    for (size_t i = 0; i < parameters_.size(); ++i) {
        const Parameter& p = parameters_[i];
        // The driver reads the value only while the statement runs; it never writes to it.
        auto* data = p.bytes.empty() ? nullptr : const_cast<char*>(p.bytes.data());
        if (!SQL_SUCCEEDED(SQLBindParameter(stmt, SQLUSMALLINT(i + 1), SQL_PARAM_INPUT, p.cType,
                                            p.sqlType, p.size, p.digits, data,
                                            SQLLEN(p.bytes.size()), &p.indicator)))
            return odbcError(ErrorNumber::OdbcCallFailed, SQL_HANDLE_STMT, stmt,
                             handles_.wideCalls);
    }
    return {};
}

} // namespace velario::data::odbc
