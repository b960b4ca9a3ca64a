#include "data/catalogue/search_index.h"

#include <algorithm>
#include <cstring>

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
    items_.emplace(key, std::move(item));
    stale_ = true;
}

bool SearchIndex::holds(const QString& key, const QString& stamp) const {
    const auto it = items_.constFind(key);
    return it != items_.constEnd() && it->stamp == stamp;
}

void SearchIndex::keepOnly(const QSet<QString>& keys) {
    if (items_.removeIf(
            [&](const QHash<QString, Item>::iterator& it) { return !keys.contains(it.key()); }))
        stale_ = true;
}

void SearchIndex::clear() {
    items_.clear();
    version.clear();
    stale_ = true;
}

void SearchIndex::pack() const {
    if (!stale_)
        return;
    size_t bytes = 0;
    for (const Item& item : items_)
        bytes += item.text.size() + 1;
    haystack_.clear();
    haystack_.reserve(bytes);
    ends_.clear();
    ends_.reserve(size_t(items_.size()));
    codes_.clear();
    codes_.reserve(items_.size());
    for (const Item& item : items_) {
        haystack_ += item.text;
        ends_.push_back(haystack_.size());
        haystack_.push_back('\0');
        codes_ << item.code;
    }
    stale_ = false;
}

QSet<QString> SearchIndex::find(const FoldedSearch& search) const {
    pack();
    QSet<QString> codes;
    const std::string_view needle = search.folded();
    if (needle.empty())
        return codes;
    // The text looked for holds no NUL: a match lies within one item, which is then passed.
    for (size_t at = 0; at < haystack_.size();) {
        const void* found =
            ::memmem(haystack_.data() + at, haystack_.size() - at, needle.data(), needle.size());
        if (!found)
            break;
        const size_t offset = size_t(static_cast<const char*>(found) - haystack_.data());
        const auto item = std::upper_bound(ends_.begin(), ends_.end(), offset);
        codes.insert(codes_[qsizetype(item - ends_.begin())]);
        at = *item + 1;
    }
    return codes;
}

} // namespace velario::data
