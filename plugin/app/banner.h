#pragma once
// What the plugin prints at start-up and whenever the simulator comes or goes.

#include "common/release.h"

namespace app {

inline constexpr const char* kPluginBanner = "\n\n Brenvik Korvane Plugin (Release " KORVANE_RELEASE
                                             ")\n Fuel & Tire Adaptive Analytics\n"
                                             " Vantreau Edition\n\n";

// The banner, printed with "%s\n".
void PrintBanner();

}  // namespace app
