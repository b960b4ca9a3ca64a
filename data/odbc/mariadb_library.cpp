#include "data/odbc/mariadb_library.h"

#include "data/client_library.h"

namespace velario::data::odbc {

namespace {

const OpenedLibrary<MariadbLibrary>& opened() {
    static const auto once = [] {
        OpenedLibrary<MariadbLibrary> o;
        // The ABI of MariaDB Connector/C 3.
        ClientLibrary library("mariadb", 3, QStringLiteral("MariaDB"));
#define VELARIO_RESOLVE(name) library.resolve(o.calls.name, #name);
        VELARIO_MARIADB_CALLS(VELARIO_RESOLVE)
#undef VELARIO_RESOLVE
        o.failure = library.failure();
        return o;
    }();
    return once;
}

} // namespace

const MariadbLibrary* openMariadb(Error* error) {
    return opened().get(error);
}

const MariadbLibrary& mariadb() {
    return opened().calls;
}

} // namespace velario::data::odbc
