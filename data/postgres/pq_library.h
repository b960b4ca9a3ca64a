#pragma once

// libpq's calls, reached through the library opened at their first use (client_library.h).

#include "data/errors.h"

#include <libpq-fe.h>

namespace velario::data {

// clang-format off
#define VELARIO_PQ_CALLS(X) \
    X(PQcancel) \
    X(PQclear) \
    X(PQcmdTuples) \
    X(PQconnectdbParams) \
    X(PQconnectionNeedsPassword) \
    X(PQconninfoFree) \
    X(PQconninfoParse) \
    X(PQerrorMessage) \
    X(PQexecParams) \
    X(PQfinish) \
    X(PQfname) \
    X(PQfreeCancel) \
    X(PQfreemem) \
    X(PQgetCancel) \
    X(PQgetisnull) \
    X(PQgetlength) \
    X(PQgetvalue) \
    X(PQnfields) \
    X(PQntuples) \
    X(PQreset) \
    X(PQresultErrorField) \
    X(PQresultStatus) \
    X(PQsetClientEncoding) \
    X(PQsetNoticeProcessor) \
    X(PQstatus) \
    X(PQtransactionStatus)

// clang-format on

struct PqLibrary {
#define VELARIO_PQ_POINTER(name) decltype(&::name) name = nullptr;
    VELARIO_PQ_CALLS(VELARIO_PQ_POINTER)
#undef VELARIO_PQ_POINTER
};

// libpq, opened at the first call; null, with ERROR set, when it cannot be.
const PqLibrary* openPq(Error* error);

// libpq, once openPq has given it.
const PqLibrary& pq();

} // namespace velario::data
