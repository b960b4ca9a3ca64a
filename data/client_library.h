#pragma once

// A database client library opened the first time the program needs it, not at start-up.
// Linked, libpq and MariaDB's client (with the TLS, Kerberos and LDAP libraries they bring)
// cost every run about 6 MB of memory, and most runs use neither: a local catalogue and SQLite
// or Access targets never do.

#include "data/errors.h"

#include <QLibrary>
#include <QStringList>

namespace velario::data {

class ClientLibrary {
public:
    // FILE is the library's base name ("pq"), VERSION the major version of the ABI whose
    // header the program was built with, PURPOSE what it serves, for the message.
    ClientLibrary(const char* file, int version, QString purpose);

    // Sets TARGET to SYMBOL's address in the library, or notes it missing: a library too old
    // for the program is told at once, not by a crash at the first call it lacks.
    template <typename Function>
    void resolve(Function& target, const char* symbol) {
        target = reinterpret_cast<Function>(library_.resolve(symbol));
        if (!target && library_.isLoaded())
            missing_ << QString::fromLatin1(symbol);
    }

    // After the resolve() calls: empty when every symbol was found, else why the library
    // cannot serve (OdbcConnectFailed, the library's file and the loader's reason).
    Error failure() const;

private:
    QLibrary library_;
    QString shown_;
    QString purpose_;
    QStringList missing_;
};

// A library's table of CALLS, resolved once for the whole run.
template <typename Calls>
struct OpenedLibrary {
    Calls calls;
    Error failure;

    // The table, or null with ERROR set when the library could not serve.
    const Calls* get(Error* error) const {
        if (!failure)
            return &calls;
        if (error)
            *error = failure;
        return nullptr;
    }
};

// CALLS resolved by RESOLVE from the library FILE of VERSION, once for the whole run.
template <typename Calls>
const OpenedLibrary<Calls>& openedLibrary(const char* file, int version, const char* purpose,
                                          void (*resolve)(ClientLibrary&, Calls&)) {
    static const OpenedLibrary<Calls> once = [&] {
        OpenedLibrary<Calls> opened;
        ClientLibrary library(file, version, QString::fromUtf8(purpose));
        resolve(library, opened.calls);
        opened.failure = library.failure();
        return opened;
    }();
    return once;
}

} // namespace velario::data
