#pragma once

#include "platform/errors.h"

#include <QString>

#include <atomic>

namespace velario::data {

// Path of a SQLite file that holds every user table of the Access file ACCESSPATH (.mdb or
// .accdb) with the same table and column names, rows and values. The copy is built on first
// use and kept in the user's cache folder while the Access file keeps its path, size and
// modification time, so later calls return at once. Empty, with ERROR set, when the file
// cannot be read.
//
// Values in the copy: text and memo as TEXT; whole numbers and Yes/No (1/0) as INTEGER; single
// and double as REAL; currency as the number nearest its four-decimal amount (REAL, or INTEGER
// when whole), so comparisons with literals and sums rounded to four decimals are exact;
// date/time as TEXT 'YYYY-MM-DD HH:MM:SS', which sorts and compares in time order; binary and
// OLE as BLOB; nulls as NULL. The declared column types name the Access type: VARCHAR(n), TEXT
// (memo), INTEGER, BOOLEAN, FLOAT, DOUBLE, NUMERIC(19,4) (currency), NUMERIC(p,s), DATETIME,
// BLOB.
//
// CANCEL, when given, may be set from another thread to stop a copy being built: it is then
// discarded and ERROR says OperationCancelled.
QString accessCopyFor(const QString& accessPath, Error* error,
                      const std::atomic<bool>* cancel = nullptr);

} // namespace velario::data
