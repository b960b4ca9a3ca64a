#include "data/postgres/pq_library.h"

#include "data/client_library.h"

namespace velario::data {

namespace {

void resolve(ClientLibrary& library, PqLibrary& calls) {
#define VELARIO_RESOLVE(name) library.resolve(calls.name, #name);
    VELARIO_PQ_CALLS(VELARIO_RESOLVE)
#undef VELARIO_RESOLVE
}

const OpenedLibrary<PqLibrary>& opened() {
    // libpq's ABI has been 5 since PostgreSQL 8.0.
    return openedLibrary<PqLibrary>("pq", 5, "PostgreSQL", resolve);
}

} // namespace

const PqLibrary* openPq(Error* error) {
    return opened().get(error);
}

const PqLibrary& pq() {
    return opened().calls;
}

} // namespace velario::data
