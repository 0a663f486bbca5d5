#pragma once
// The live status row at the bottom of the plugin's console. It is refreshed with every
// telemetry row (sixty times a second), far faster than anyone can read it, and a terminal
// pays for every character it draws. So on a terminal a tick's rows go out at most ten times a
// second, each cut to the console's width so that its carriage return keeps overwriting one
// line; written elsewhere (a file, a pipe) every row goes out whole. Only the printing is
// spared: whatever else the tick does with its numbers happens every tick.

namespace common {

// Starts a tick: decides whether the rows printed during it reach the console.
void BeginStatusRows();

// Appends printf-formatted text to the row. A carriage return ends the row, which then goes
// out in one write (or, in a tick in between, not at all).
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void RowPrintf(const char* format, ...);

// Writes what the row holds so far, before other output that belongs after it.
void FlushStatusRow();

// Where the console's width comes from (0: not a terminal); tests substitute their own.
// nullptr restores the console's.
void SetConsoleColumnsSource(int (*columns)());

}  // namespace common
