#pragma once

#include <QString>

namespace velario {

// Where the result window reads the entry it runs: the window that opened it. Each text is
// read when it is needed, as the opener shows it then (untrimmed).
class EntrySource {
public:
    virtual QString entryCode() const = 0;
    virtual QString entryDescription() const = 0;
    virtual QString entrySql() const = 0;
    virtual QString entryDatabase() const = 0;
    virtual QString entryType() const = 0;
    // The opener steps aside (minimised) while the result window is loaded, and back after.
    virtual void setSteppedAside(bool aside) = 0;

protected:
    ~EntrySource() = default;
};

} // namespace velario
