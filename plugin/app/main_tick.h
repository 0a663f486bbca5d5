#pragma once
// One pass of the race engineer, and the watch over the simulator's presence that ends it.

namespace app {

// The name and size of the block that carries the pit-board line to other local programs.
inline constexpr const char* kLocalBlockName = "Local\\qrdlocal";
inline constexpr int kLocalBlockSize = 256;

// Waits (at most 16 ms) for a telemetry row and does the tick's work for it; without a row
// only the connection watch runs.
void MainTick();

// Notices the simulator coming or going: redraws the console, re-reads the passive mode,
// speaks the change and opens or closes the local block. The first call always counts as a
// change.
void ConnectionWatch();

// Closes the local block at the end of the run, without a word, as the end of the process
// would; POSIX then removes its name.
void CloseLocalLink();

// Takes the local block's name away at once, so that other programs stop finding a line that
// nobody writes any more; the view stays. For the ctrl-c handler, from any thread.
void RemoveLocalBlockName();

// Forgets the connection state seen and closes the local block without a word (tests).
void ResetMainTick();

}  // namespace app
