#include "data/catalogue/search_index.h"

namespace velario::data {

void SearchIndex::put(const QString& key, const QString& stamp, std::string_view code,
                      std::string_view description, std::string_view sql) {
    Item item{stamp, QString::fromUtf8(code.data(), qsizetype(code.size())), {}};
    item.text.reserve(code.size() + description.size() + sql.size() + 2);
    // The NULs keep a text from being found across the end of one field and the start of the
    // next: no text typed into the search holds one.
    FoldedSearch::appendFolded(code, item.text);
    item.text.push_back('\0');
    FoldedSearch::appendFolded(description, item.text);
    item.text.push_back('\0');
    FoldedSearch::appendFolded(sql, item.text);
    items_.insert(key, std::move(item));
}

bool SearchIndex::holds(const QString& key, const QString& stamp) const {
    const auto it = items_.constFind(key);
    return it != items_.constEnd() && it->stamp == stamp;
}

void SearchIndex::keepOnly(const QSet<QString>& keys) {
    items_.removeIf(
        [&](const QHash<QString, Item>::iterator& it) { return !keys.contains(it.key()); });
}

void SearchIndex::clear() {
    items_.clear();
    version.clear();
}

QSet<QString> SearchIndex::find(const FoldedSearch& search) const {
    QSet<QString> codes;
    for (const Item& item : items_)
        if (search.foundInFolded(item.text))
            codes.insert(item.code);
    return codes;
}

} // namespace velario::data
