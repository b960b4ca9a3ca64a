#pragma once

#include "data/errors.h"

#include <mdbtools.h>

#include <QString>

#include <atomic>

namespace velario::data::access {

// Part of every copy's name: raising it turns the copies written by an older build stale.
constexpr int kCopyFormat = 2;

// Writes every user table of MDB, the open Access file SOURCE of FILESIZE bytes, into a new
// SQLite file TARGET, as accessCopyFor describes the copy. False, with ERROR set, when the
// file cannot be read whole, the copy cannot be written or CANCEL was set.
bool writeCopy(MdbHandle* mdb, const QString& source, qint64 fileSize, const QString& target,
               Error* error, const std::atomic<bool>* cancel);

} // namespace velario::data::access
