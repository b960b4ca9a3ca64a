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

// The configuration file in FOLDER: VELARIO.ini, or a file whose name is that in other letters'
// case (VELARIO.INI, velario.ini); empty when there is none.
QString configurationFileIn(const QString& folder);

// The message of a configuration file found in none of the folders SEARCHED (CR between its
// lines).
QString missingConfigurationMessage(const QStringList& searched);

// Reads the configuration file at PATH. A line's key is its first 7 characters, compared
// exactly; its value is everything from the 9th character on, untrimmed; the last occurrence
// of a key wins. Lines end at LF or CR LF. nullopt when the file cannot be opened or read.
std::optional<Configuration> readConfiguration(const QString& path);

} // namespace velario
