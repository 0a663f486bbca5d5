// Stands in for the controls library: the plugin runs as with no controller plugged in.
#include <cstdio>

#include "plugin/app/seams.h"
#include "plugin/engineer/race_state.h"

namespace controls {

void SetupControllers() {
    std::printf(" No controlers available\n");
}

void PollControls() {
    engineer::Race().PressedFunctions = 0;
}

}  // namespace controls
