#pragma once

#include <QString>

#include <functional>

namespace velario {

class SharedState;

enum class StartupOutcome {
    Running, // the catalogue window is shown; the program lives on its events
    Ended    // start-up stopped; the program ends
};

// The program folder when none is given: the executable's folder when it holds the
// configuration file, else the first of the user's and the system's configuration folders for
// the program that holds it (~/.config/velario, /etc/xdg/velario), else the user's.
QString defaultProgramDir();

// The program's start: single copy, configuration, environment checks, catalogue, then the
// catalogue window, which LOAD_CATALOGUE_WINDOW loads and shows. STATE receives the
// configuration and the catalogue.
StartupOutcome Main(SharedState& state, const std::function<void()>& loadCatalogueWindow);

} // namespace velario
