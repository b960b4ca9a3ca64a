#pragma once

#include "data/errors.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <string_view>

namespace velario::data {

class Database;

// Creates the catalogue file NEWPATH with the entries of the table SELEZIONI_SQL of the Access
// file ACCESSPATH (.mdb or .accdb): their five fields exactly as the Access file holds them,
// Nulls included, in the order of that table. NEWPATH is written under a hidden name beside
// it and takes its name only once complete, never in place of a file that exists; a failure
// leaves nothing there. COPIED receives the number of entries, LONGCODES the codes (trimmed,
// each once, in the order of the table) longer than a user types (kCodeWidth).
Error importAccessCatalogue(const QString& accessPath, const QString& newPath, qint64* copied,
                            QStringList* longCodes = nullptr);

// The local catalogue at PATH opened for reading, its table SELEZIONI_SQL checked: a SQLite
// catalogue, or an Access file (.mdb or .accdb) with that table and its five columns. Null,
// with ERROR saying what is missing, when it cannot be copied.
std::unique_ptr<Database> openLocalCatalogue(const QString& path, Error* error);

// The statement that reads every entry of a catalogue for a copy, in the order of its table.
QString copyStatement();

// Records CODE, trimmed, among the codes longer than a user types (kCodeWidth), each once.
class LongCodes {
public:
    void note(std::string_view code);
    QStringList list() const { return codes_; }

private:
    QStringList codes_;
    QSet<QString> seen_;
};

} // namespace velario::data
