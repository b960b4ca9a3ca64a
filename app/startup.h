#pragma once

#include <QString>

#include <functional>

namespace velario {

class SharedState;

enum class StartupOutcome {
    Running, // the catalogue window is shown; the program lives on its events
    Ended    // start-up stopped; the program ends
};

// The folders the configuration file is looked for in when no program folder is given, in
// order: the executable's folder, then the user's and the system's configuration folders for
// the program (~/.config/velario, /etc/xdg/velario). An installed program (its menu entry
// installed beside it) looks in the executable's folder last.
QStringList configurationFolders();

// The program folder when none is given: the first of configurationFolders() that holds the
// configuration file, else the user's configuration folder.
QString defaultProgramDir();

// The program's start: single copy, configuration, environment checks, catalogue, then the
// catalogue window, which LOAD_CATALOGUE_WINDOW loads and shows. STATE receives the
// configuration and the catalogue.
StartupOutcome Main(SharedState& state, const std::function<void()>& loadCatalogueWindow);

} // namespace velario
