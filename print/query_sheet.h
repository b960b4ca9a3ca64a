#pragma once

#include <QString>

namespace velario {

// One catalogue entry as the catalogue window's fields show it, saved or not.
struct QuerySheetFields {
    QString code;
    QString description;
    QString database;
    QString databaseType;
    QString sql;
};

// Prints the entry as a sheet: code and description under a heading with the date and
// time, the database and its type, then the SQL text whole, line breaks and all.
void printQuerySheet(const QuerySheetFields& fields);

} // namespace velario
