#pragma once

#include "data/errors.h"

#include <QString>

namespace velario::data {

// Creates a new, empty catalogue file at PATH with the table SELEZIONI_SQL. Refuses to
// touch a file that already exists.
Error createCatalogueFile(const QString& path);

// The statement that creates the catalogue table.
QString catalogueTableDdl();
// The statement that creates its index on the code.
QString catalogueIndexDdl();

} // namespace velario::data
