#pragma once

#include "data/errors.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace velario {

class HeldTexts;

class DataGrid;

// The catalogue's list as the report walks it: one entry current at a time, the window's
// edit fields following the current entry.
class CatalogueList {
public:
    virtual ~CatalogueList() = default;
    // Entries in the list; nullopt when they cannot be counted.
    virtual std::optional<qint64> entryCount() = 0;
    // Makes the first entry of the list current; InvalidRow when the list is empty.
    virtual Error selectFirst() = 0;
    // Makes the entry after the current one current; InvalidRow after the last one.
    virtual Error selectNext() = 0;
    // InvalidColumn when the list has no such column (0 is the code, 1 the description).
    virtual Error selectColumn(int column) = 0;
    // The current entry's cell in the selected column, as the list shows it.
    virtual QString text() = 0;
    // The edit fields, as selecting the entry filled them.
    virtual QString sqlText() = 0;
    virtual QString database() = 0;
};

// The list grid of the catalogue window, walked through its data source so that every
// entry is reached however few the grid has on display, each arrival repositioning the
// window as a click on the row does. SQLTEXT and DATABASE read the edit fields. While it
// walks on, the grid neither scrolls nor moves its current column, and the window's text
// fields hold their texts (see HeldTexts); back on the first entry, the window shows it.
class CatalogueListGrid final : public CatalogueList {
public:
    CatalogueListGrid(DataGrid& grid, std::function<QString()> sqlText,
                      std::function<QString()> database);
    ~CatalogueListGrid() override;

    std::optional<qint64> entryCount() override;
    Error selectFirst() override;
    Error selectNext() override;
    Error selectColumn(int column) override;
    QString text() override;
    QString sqlText() override { return sqlText_(); }
    QString database() override { return database_(); }

private:
    DataGrid& grid_;
    std::function<QString()> sqlText_;
    std::function<QString()> database_;
    std::unique_ptr<HeldTexts> held_;
    int column_ = 0;
};

// Prints every entry of LIST in its order, two lines each: code, description and the
// start of the SQL text, then the database. The list is left on its first entry.
void printCatalogueList(CatalogueList& list);

} // namespace velario
