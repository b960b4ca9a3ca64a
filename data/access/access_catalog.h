#pragma once

#include "data/access/access_pages.h"

#include <QHash>
#include <QString>

#include <memory>
#include <string>
#include <vector>

namespace velario::data::access {

// The catalog's definition page, right after the header page and the file's usage map.
constexpr unsigned long kCatalogPage = 2;

// A table whose rows are in this file, with its property blob where its columns may need it.
struct CatalogTable {
    std::unique_ptr<MdbCatalogEntry> entry;
    std::string properties;
};

// A table whose rows are in another file or an ODBC source, and the message that says where.
struct LinkedTable {
    QString name;
    QString message;
};

struct Catalog {
    std::vector<CatalogTable> tables; // the system's own among them
    std::vector<LinkedTable> linked;
};

// The tables the file's catalog (its system table of objects) lists. False, with the
// reader's error set, when the catalog cannot be read whole.
bool readCatalog(PageReader& reader, Catalog* catalog);

// The "ResultType" property of each column, by column name folded to lower case, from a
// table's property blob. Whatever the blob does not hold is left out.
QHash<QString, int> resultTypes(const std::string& blob);

} // namespace velario::data::access
