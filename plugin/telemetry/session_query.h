#pragma once
// Look-ups of one value at a time in the simulator's session-information text.

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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

// A private copy of one session text with the answers already found in it. sync() compares the
// text byte for byte with the copy (the simulator may rewrite it in place without raising its
// update counter) and starts afresh when anything differs; find() then answers exactly as
// findSessionValue on the text would, scanning only for a path not asked before.
class SessionTextIndex {
  public:
    // True when the copy now holds `text` (up to its NUL or `limit`).
    bool sync(const char* text, size_t limit);
    bool find(const char* path, const char** valueStart, int* valueLength);
    bool holdsText() const { return held_; }
    // Where the copy begins: a found value lies at the same offset as in the text.
    const char* copyStart() const { return copy_.data(); }
    void clear();

  private:
    struct Answer {
        bool found = false;
        size_t offset = 0;
        int length = 0;
    };
    struct PathHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };

    std::vector<char> copy_;  // the text and its NUL, or `limit` bytes when it had none
    size_t limit_ = 0;
    bool held_ = false;
    std::unordered_map<std::string, Answer, PathHash, std::equal_to<>> answers_;
};

// While one of these exists (main thread only), the queries against its client are answered
// from the process-wide SessionTextIndex, synchronised once when the pass began: one refresh
// reads one version of the text, and after the first pass on a text costs one comparison of
// the text instead of a scan per query. Outside a pass every query scans the text.
class SessionQueryPass {
  public:
    explicit SessionQueryPass(TelemetryClient& client);
    SessionQueryPass();
    ~SessionQueryPass();
    SessionQueryPass(const SessionQueryPass&) = delete;
    SessionQueryPass& operator=(const SessionQueryPass&) = delete;

  private:
    TelemetryClient* previous_;
};

// Off: passes answer by scanning, as outside a pass (the benchmark's baseline).
void setSessionQueryIndexEnabled(bool enabled);

}  // namespace telemetry
