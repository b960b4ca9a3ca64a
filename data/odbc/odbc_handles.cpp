#include "data/odbc/odbc_handles.h"

#include <QStringList>

#include <algorithm>
#include <vector>

namespace velario::data::odbc {

namespace {

SQLRETURN diagRecord(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLWCHAR* state,
                     SQLWCHAR* message, SQLSMALLINT size, SQLSMALLINT* length) {
    SQLINTEGER native = 0;
    return SQLGetDiagRecW(type, handle, record, state, &native, message, size, length);
}
SQLRETURN diagRecord(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLCHAR* state,
                     SQLCHAR* message, SQLSMALLINT size, SQLSMALLINT* length) {
    SQLINTEGER native = 0;
    return SQLGetDiagRec(type, handle, record, state, &native, message, size, length);
}

// Every record, each with its SQLSTATE, one a line.
template <typename Char>
QString diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    QStringList records;
    std::vector<Char> message(1024);
    for (SQLSMALLINT record = 1;; ++record) {
        Char state[6] = {};
        SQLSMALLINT length = 0;
        SQLRETURN rc = diagRecord(type, handle, record, state, message.data(),
                                  SQLSMALLINT(message.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && length >= SQLSMALLINT(message.size())) {
            message.resize(size_t(length) + 1);
            rc = diagRecord(type, handle, record, state, message.data(),
                            SQLSMALLINT(message.size()), &length);
        }
        if (!SQL_SUCCEEDED(rc))
            break;
        length = std::min<SQLSMALLINT>(length, SQLSMALLINT(message.size() - 1));
        records << QStringLiteral("[%1] %2").arg(decode(state, 5), decode(message.data(), length));
    }
    return records.join(QLatin1Char('\n'));
}

} // namespace

SQLWCHAR* wide(const QString& text) {
    return const_cast<SQLWCHAR*>(reinterpret_cast<const SQLWCHAR*>(text.utf16()));
}

QString fromWide(const SQLWCHAR* text, qsizetype length) {
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(text), length);
}

// The W and the plain calls side by side, so that the code around them is written once.
QString decode(const SQLWCHAR* text, qsizetype length) {
    return fromWide(text, length);
}
QString decode(const SQLCHAR* text, qsizetype length) {
    return QString::fromUtf8(reinterpret_cast<const char*>(text), length);
}

Error odbcError(int number, SQLSMALLINT type, SQLHANDLE handle, bool wideCalls) {
    return Error::make(number, wideCalls ? diagnostics<SQLWCHAR>(type, handle)
                                         : diagnostics<SQLCHAR>(type, handle));
}

SQLRETURN execDirect(const OdbcHandles& handles, SQLHSTMT stmt, const QString& sql) {
    if (handles.wideCalls)
        return SQLExecDirectW(stmt, wide(sql), SQLINTEGER(sql.size()));
    QByteArray utf8 = sql.toUtf8();
    return SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(utf8.data()), SQLINTEGER(utf8.size()));
}

SQLRETURN prepare(const OdbcHandles& handles, SQLHSTMT stmt, const QString& sql) {
    if (handles.wideCalls)
        return SQLPrepareW(stmt, wide(sql), SQLINTEGER(sql.size()));
    QByteArray utf8 = sql.toUtf8();
    return SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(utf8.data()), SQLINTEGER(utf8.size()));
}

Error Statement::execute(const QString& sql, const std::vector<ParameterValue>& values,
                         std::unique_ptr<ParameterBinding>& binding) const {
    if (!SQL_SUCCEEDED(prepare(handles_, handle_, sql)))
        return error(ErrorNumber::OdbcCallFailed);
    // A `?` the driver sees where the program saw none (in what the engine takes for a
    // comment, say) would take another parameter's value.
    SQLSMALLINT count = 0;
    if (SQL_SUCCEEDED(SQLNumParams(handle_, &count)) && size_t(count) != values.size())
        return Error::make(ErrorNumber::OdbcCallFailed,
                           QStringLiteral("Il driver ODBC trova %1 parametri nel testo SQL, "
                                          "il programma %2: il testo non si legge allo stesso "
                                          "modo (commenti, stringhe).")
                               .arg(count)
                               .arg(values.size()));
    if (!binding)
        binding = std::make_unique<ParameterBinding>(values, handles_, handle_);
    if (Error e = binding->bind(handle_))
        return e;
    const CancellableCall call(handles_, handle_, CancellableCall::Execute);
    const SQLRETURN rc = call ? SQLExecute(handle_) : SQL_ERROR;
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
        return error(ErrorNumber::OdbcCallFailed);
    return {};
}

} // namespace velario::data::odbc
