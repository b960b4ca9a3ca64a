#pragma once

#include "data/errors.h"

#include <QString>

#include <atomic>

struct sqlite3;

namespace velario::data {

// Path of a SQLite file that holds every user table of the Access file ACCESSPATH (.mdb or
// .accdb) with the same table and column names, rows and values. The copy is built on first
// use and kept in the user's cache folder while the Access file keeps its path, size and
// modification time, so later calls return at once. Empty, with ERROR set, when the file
// cannot be read.
//
// Values in the copy: text and memo as TEXT; whole numbers, large numbers and Yes/No (1/0) as
// INTEGER; single and double as REAL; currency as the number nearest its four-decimal amount
// (REAL, or INTEGER when whole), so comparisons with literals and sums rounded to four decimals
// are exact; date/time as TEXT 'YYYY-MM-DD HH:MM:SS' and extended date/time as TEXT
// 'YYYY-MM-DD HH:MM:SS.fffffff', which sort and compare in time order; binary and OLE as BLOB;
// nulls as NULL. A calculated column holds the result Access stored, as a value of its result
// type. The declared column types name the Access type: VARCHAR(n), TEXT (memo), INTEGER,
// BIGINT, BOOLEAN, FLOAT, DOUBLE, NUMERIC(19,4) (currency), NUMERIC(p,s), NUMERIC (calculated
// decimal), DATETIME, DATETIME2, BLOB.
//
// What cannot be read stays out of reach rather than showing a wrong value: a column of a type
// the reader does not know is in the copy, but reading it fails with a message that names the
// column and its type; a table linked to another file or to an ODBC source is in the copy, but
// reading it fails with a message that names where its rows are. Those messages need the
// functions of prepareAccessCopyConnection on the connection that reads the copy.
//
// A file encrypted with a password is refused with a message that says so.
//
// CANCEL, when given, may be set from another thread to stop a copy being built: it is then
// discarded and ERROR says OperationCancelled.
QString accessCopyFor(const QString& accessPath, Error* error,
                      const std::atomic<bool>* cancel = nullptr);

// Defines on HANDLE, a connection to a copy, the SQL functions through which the copy's
// unreadable columns and linked tables report themselves. False when the engine refuses them.
bool prepareAccessCopyConnection(sqlite3* handle);

} // namespace velario::data
