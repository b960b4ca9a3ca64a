#pragma once

#include "data/catalogue/catalogue.h"

#include <memory>

namespace velario::data {

class Database;

// The catalogue kept in DATABASE, a SQLite file already checked (checkCatalogue).
std::unique_ptr<Catalogue> fileCatalogue(std::unique_ptr<Database> database);

} // namespace velario::data
