#include "data/odbc/mariadb_library.h"

#include "data/client_library.h"

namespace velario::data::odbc {

namespace {

void resolve(ClientLibrary& library, MariadbLibrary& calls) {
#define VELARIO_RESOLVE(name) library.resolve(calls.name, #name);
    VELARIO_MARIADB_CALLS(VELARIO_RESOLVE)
#undef VELARIO_RESOLVE
}

const OpenedLibrary<MariadbLibrary>& opened() {
    // The ABI of MariaDB Connector/C 3.
    return openedLibrary<MariadbLibrary>("mariadb", 3, "MariaDB", resolve);
}

} // namespace

const MariadbLibrary* openMariadb(Error* error) {
    return opened().get(error);
}

const MariadbLibrary& mariadb() {
    return opened().calls;
}

} // namespace velario::data::odbc
