#pragma once

#include "data/catalogue/catalogue.h"
#include "data/errors.h"

#include <QString>
#include <QVariant>

#include <array>
#include <memory>

namespace velario {

// The state both windows share, under the names their routines use, and the routines that
// work on it. The application owns the one instance for the whole run and hands it to each
// window.
class SharedState {
public:
    // The open-window registry: slots 1 to 30 (slot 0 unused), packed from slot 1.
    static constexpr int kWinSlots = 30;
    // Window ids in the registry.
    static constexpr int kIdCatalogue = 2;
    static constexpr int kIdResults = 3;

    QString MSG;
    QString COD_SQL;
    QString CFG_LINE;
    QString RELEASE;
    QString UP_DATE;
    QString DIR_PRG;
    QString DIR_DBF;
    QString DIR_BTR;
    QString ANNO_DF;
    QString PATH_DB;
    QString RISP;

    // The catalogue: set once at start-up, null when it could not be opened.
    std::unique_ptr<data::Catalogue> DB;

    std::array<QVariant, kWinSlots + 1> WIN_OPEN;
    int N_WIN_OPEN = 0;
    int WIN_ID = 0;

    SharedState() = default;
    SharedState(const SharedState&) = delete;
    SharedState& operator=(const SharedState&) = delete;

    // Shows ERROR, when there is one, with STATEMENT, the statement that failed.
    static void ERROR_REPORT(const Error& error, const QString& statement);
    // Opens PATH_DB (a file, or a server URI) as the catalogue into DB; tells the user when
    // it cannot.
    void OPEN_CATALOGUE();
    // Removes WIN_ID from the registry.
    void WIN_REMOVE();
};

} // namespace velario
