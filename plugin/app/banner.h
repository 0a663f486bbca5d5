#pragma once
// What the plugin prints at start-up and whenever the simulator comes or goes.

namespace app {

inline constexpr const char* kPluginBanner =
    "\n\n Brenvik Korvane Plugin (Release 3.014)\n Fuel & Tire Adaptive Analytics\n"
    " Vantreau Edition\n\n";

// The banner, printed with "%s\n".
void PrintBanner();

}  // namespace app
