#pragma once

#include <functional>

namespace velario {

enum class StartupOutcome {
    Running, // the catalogue window is shown; the program lives on its events
    Ended    // start-up stopped; the program ends
};

// The program's start: single copy, configuration, environment checks, catalogue, then the
// catalogue window, which LOAD_CATALOGUE_WINDOW loads and shows.
StartupOutcome Main(const std::function<void()>& loadCatalogueWindow);

} // namespace velario
