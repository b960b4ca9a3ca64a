#pragma once

#include <QString>

#include <optional>

namespace velario {

// The settings of the configuration file, one per known key; a key that does not occur
// stays empty.
struct Configuration {
    QString release;
    QString upDate;
    QString dirPrg;
    QString dirDbf;
    QString dirBtr;
    QString annoDf;
};

// Reads the configuration file at PATH. A line's key is its first 7 characters, compared
// exactly; its value is everything from the 9th character on, untrimmed; the last occurrence
// of a key wins. Lines end at LF or CR LF. nullopt when the file cannot be opened or read.
std::optional<Configuration> readConfiguration(const QString& path);

} // namespace velario
