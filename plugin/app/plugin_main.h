#pragma once
// The plugin's frame: start-up, the tick loop until a key is pressed, and the ordered shutdown.

namespace app {

// Runs the whole plugin; returns the process exit code (1 when the audio engine cannot be
// initialised, 0 otherwise).
int RunPlugin(int argc, char** argv);

}  // namespace app
