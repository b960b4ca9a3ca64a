#pragma once

// MariaDB's client calls, reached through the library opened at their first use
// (client_library.h).

#include "data/errors.h"

#include <mysql.h>

namespace velario::data::odbc {

// clang-format off
#define VELARIO_MARIADB_CALLS(X) \
    X(mariadb_cancel) \
    X(mysql_autocommit) \
    X(mysql_close) \
    X(mysql_errno) \
    X(mysql_error) \
    X(mysql_fetch_fields) \
    X(mysql_fetch_lengths) \
    X(mysql_fetch_row) \
    X(mysql_field_count) \
    X(mysql_free_result) \
    X(mysql_init) \
    X(mysql_next_result) \
    X(mysql_num_fields) \
    X(mysql_optionsv) \
    X(mysql_query) \
    X(mysql_real_connect) \
    X(mysql_real_escape_string) \
    X(mysql_real_query) \
    X(mysql_rollback) \
    X(mysql_server_init) \
    X(mysql_sqlstate) \
    X(mysql_store_result) \
    X(mysql_thread_id) \
    X(mysql_use_result)
// clang-format on

struct MariadbLibrary {
#define VELARIO_MARIADB_POINTER(name) decltype(&::name) name = nullptr;
    VELARIO_MARIADB_CALLS(VELARIO_MARIADB_POINTER)
#undef VELARIO_MARIADB_POINTER
};

// The client library, opened at the first call; null, with ERROR set, when it cannot be.
const MariadbLibrary* openMariadb(Error* error);

// The client library, once openMariadb has given it.
const MariadbLibrary& mariadb();

} // namespace velario::data::odbc
