#pragma once

#include "data/text/folded_search.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <string>
#include <string_view>
#include <vector>

namespace velario::data {

// The searchable texts of the catalogue (code, description and SQL of each entry) folded once,
// so that a search of every entry is a scan of memory. The engine that owns the table keeps
// it as the table is (CatalogueTable::refreshSearch): each entry is filed under the engine's
// own name for its row, with a stamp that tells whether the row changed since.
class SearchIndex {
public:
    // The entry of the row KEY, CODE a view without data for a Null.
    void put(const QString& key, const QString& stamp, std::string_view code,
             std::string_view description, std::string_view sql);
    // Whether the row KEY is filed with STAMP.
    bool holds(const QString& key, const QString& stamp) const;
    // Drops the rows whose keys are not in KEYS.
    void keepOnly(const QSet<QString>& keys);
    void clear();
    qsizetype size() const { return items_.size(); }

    // The codes, a Null as empty text, of the entries that hold what SEARCH looks for.
    QSet<QString> find(const FoldedSearch& search) const;
    // Lays the entries out for find(), which otherwise does it the first time after a change.
    void pack() const;

    // The version of the whole table the index was read at, for an engine that can tell only
    // that something changed; empty: not read.
    QString version;

private:
    struct Item {
        QString stamp;
        QString code;
        std::string text; // code, description and SQL folded, a NUL between them
    };
    QHash<QString, Item> items_;
    // Every item's text end to end, a NUL after each, and where each ends: one scan of memory
    // finds every item that holds the text. Made again by the first search after a change.
    mutable std::string haystack_;
    mutable std::vector<size_t> ends_;
    mutable QStringList codes_;
    mutable bool stale_ = true;
};

} // namespace velario::data
