#pragma once
// The console the programs run in.

#include <cstddef>

namespace platform {

// Switches a Windows console into virtual-terminal mode so ANSI colours render; no-op elsewhere.
void enableAnsiColours();

// system("cls") on Windows; the ANSI clear sequence on a POSIX terminal (nothing when stdout
// is not a terminal, so logs stay readable).
void clearScreen();

// Columns of the console window standard output draws in; 0 when it is not a console.
int consoleColumns();

// Writes to standard output, after what the C library still holds of it. On a Windows console
// it goes to the console directly: the C library asks the console for its mode before each
// write, and under Wine every question is a round trip to the console host.
void writeConsoleText(const char* data, size_t size);

// `_kbhit`: true when a key is waiting. On a POSIX terminal the terminal is put into
// non-canonical, no-echo mode on first use and restored at exit. Without a console only a byte
// waiting in a pipe counts; a file, the null device, a missing or ended input never do.
bool keyWaiting();

// False when no key can ever come: input is neither a console nor a pipe or socket, or it is a
// pipe whose writer has gone with nothing left in it. A wait for "any key" then ends.
bool keyCanArrive();

// `_getch`: waits for one key and returns it, without echo.
int readKeyNoEcho();

}  // namespace platform
