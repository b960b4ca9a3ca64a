#pragma once

#include <functional>

namespace velario {

class SharedState;

enum class StartupOutcome {
    Running, // the catalogue window is shown; the program lives on its events
    Ended    // start-up stopped; the program ends
};

// The program's start: single copy, configuration, environment checks, catalogue, then the
// catalogue window, which LOAD_CATALOGUE_WINDOW loads and shows. STATE receives the
// configuration and the catalogue.
StartupOutcome Main(SharedState& state, const std::function<void()>& loadCatalogueWindow);

} // namespace velario
