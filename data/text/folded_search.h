#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace velario::data {

// Looks for a text as a person searching for it means it: case and accents aside, so that
// "citta" finds "Città", "CITTÀ" and "città" written with a combining accent. Letters lose
// what Unicode's canonical decomposition adds to them (accents, cedillas, rings) and fold
// their case; letters that are not built that way (ß, ø, æ) stay as they are. Texts are read
// in UTF-8 as the engine gives them and folded a block at a time, so that a text of megabytes
// costs a block of memory.
class FoldedSearch {
public:
    explicit FoldedSearch(const QString& text);

    // Whether the text looked for is empty once folded (nothing to find).
    bool isEmpty() const { return needle_.empty(); }
    // Whether UTF8 holds the text looked for. Bytes that are not UTF-8 match only themselves.
    bool foundIn(std::string_view utf8);

    // UTF8 as a search sees it, for texts searched many times: appended to OUT.
    static void appendFolded(std::string_view utf8, std::string& out);
    // Whether FOLDED, made by appendFolded, holds the text looked for.
    bool foundInFolded(std::string_view folded) const;
    // The text looked for, folded: what foundInFolded looks for.
    std::string_view folded() const { return needle_; }

private:
    std::string needle_;
    // Reused for every text searched, so that a scan of many texts allocates once.
    std::string folded_;
};

} // namespace velario::data
