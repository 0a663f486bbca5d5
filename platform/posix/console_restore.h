#pragma once
// Between the console and the exits that skip exit handlers.

namespace platform {

// Puts the terminal back into the mode the driver had, if the key wait changed it.
void restoreTerminalNow();

}  // namespace platform
