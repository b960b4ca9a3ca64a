#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace velario::test {

// What many copies of the program did at once to one catalogue, and what was wrong with it.
struct CatalogueLoad {
    int runs = 0;       // copies of the program started, each for a few rounds
    int saves = 0;      // "Aggiorna" of the shared entry
    int conflicts = 0;  // of which the user was told that another had changed it
    int creations = 0;  // new entries, each under a code others create too, or its own
    int duplicates = 0; // told that the code was taken meanwhile
    int overwrites = 0; // saved over a code taken, which the list showed
    int deletions = 0;
    // Every change that neither landed nor was told its user as a conflict, every version
    // replaced and missing from the history, and every fault of the catalogue found at the end.
    QStringList faults;
};

// PROGRAMS copies of the program at once on the catalogue at LOCATION (a file or a server's
// URI), which holds only the entry 0S, each started again as it ends until SECONDS have
// passed (0: once each). A copy runs ROUNDS rounds of: "Aggiorna" of 0S with a description of
// its own, a new entry under a code that the others create in the same round, a new entry of
// its own and its "Cancella". ROWS runs a query on the catalogue, each row its cells joined by
// "|" ("failed..." first when it cannot); INTEGRITY is the engine's own check, "ok" when sound.
CatalogueLoad loadCatalogue(const QString& location, int programs, int rounds, int seconds,
                            const std::function<QStringList(const QString&)>& rows,
                            const QString& integrity);

} // namespace velario::test
