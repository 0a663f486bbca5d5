#pragma once
// Look-ups of one value at a time in the simulator's session-information text.

#include <cstddef>

namespace telemetry {

class TelemetryClient;

inline constexpr int kQueryBufferSize = 512;

// Shared buffers: callers build paths that need a number in QueryPath; the value of the last
// successful query is in QueryResult (at most 512 characters and a NUL).
extern char QueryPath[kQueryBufferSize];
extern char QueryResult[kQueryBufferSize + 1];

// Scans `text` (at most `limit` bytes, stopping at a NUL) for `path`. On success stores the
// value's start and length.
bool findSessionValue(const char* text, size_t limit, const char* path, const char** valueStart,
                      int* valueLength);

// 1 = found (value in QueryResult); 0 = not found, not live or no path; -length = longer than
// 512 characters (QueryResult then holds the first 512).
int querySessionValue(const char* path);
// The same against a given client (tests, tools).
int querySessionValue(TelemetryClient& client, const char* path);

}  // namespace telemetry
