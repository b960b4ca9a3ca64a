#include "data/postgres/pq_library.h"

#include "data/client_library.h"

namespace velario::data {

namespace {

const OpenedLibrary<PqLibrary>& opened() {
    static const auto once = [] {
        OpenedLibrary<PqLibrary> o;
        // libpq's ABI has been 5 since PostgreSQL 8.0.
        ClientLibrary library("pq", 5, QStringLiteral("PostgreSQL"));
#define VELARIO_RESOLVE(name) library.resolve(o.calls.name, #name);
        VELARIO_PQ_CALLS(VELARIO_RESOLVE)
#undef VELARIO_RESOLVE
        o.failure = library.failure();
        return o;
    }();
    return once;
}

} // namespace

const PqLibrary* openPq(Error* error) {
    return opened().get(error);
}

const PqLibrary& pq() {
    return opened().calls;
}

} // namespace velario::data
