#pragma once

#include "data/database.h"
#include "data/recordset.h"
#include "platform/errors.h"

#include <QString>
#include <QVariant>

#include <array>
#include <cstdint>
#include <memory>

// The state both windows share, and the services around it. Every routine of the program
// reads and writes these directly; they live for the whole run.
namespace velario::Modulo {

inline QString MSG;
inline QString COD_SQL;
inline QString CFG_LINE;
inline QString RELEASE;
inline QString UP_DATE;
inline QString DIR_PRG;
inline QString DIR_DBF;
inline QString DIR_BTR;
inline QString ANNO_DF;
inline QString PATH_DB;
inline QString RISP;

// The catalogue database: set once at start-up, null when it could not be opened.
inline std::unique_ptr<data::Database> DB;
// The catalogue record set of the last lookup, save or delete.
inline std::unique_ptr<data::Recordset> RS;

inline std::int16_t CNT_I = 0;
inline std::int16_t CNT_J = 0;
inline std::int16_t CNT_K = 0;

// The open-window registry: slots 1 to 30 (slot 0 unused), packed from slot 1.
inline constexpr int kWinSlots = 30;
inline std::array<QVariant, kWinSlots + 1> WIN_OPEN;
inline int N_WIN_OPEN = 0;
inline int WIN_ID = 0;

// The pending error: set by an operation that failed and was not handled where it failed,
// cleared by ERROR_REPORT.
inline Error ERR;

// Window ids in the registry.
inline constexpr int kIdCatalogue = 2;
inline constexpr int kIdResults = 3;

// Null becomes the empty string; anything else passes unchanged.
QVariant NULL_TO_EMPTY(const QVariant& value);

// Shows the pending error with the statement in MSG, then clears it.
void ERROR_REPORT();

// Opens PATH_DB as the catalogue into DB; tells the user when it cannot.
void OPEN_CATALOGUE();

// Removes WIN_ID from the registry.
void WIN_REMOVE();

// The error number as the messages write it: a leading blank for a non-negative number.
QString errorNumberText(int number);

// Back to the state of a program that has just started (every global empty); also what the
// program does before it ends, so that the database handle is closed in order.
void reset();

} // namespace velario::Modulo
