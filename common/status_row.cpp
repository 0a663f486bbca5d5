#include "common/status_row.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/clock.h"
#include "platform/console.h"

namespace common {

namespace {

constexpr int64_t kRowIntervalMs = 100;

struct RowState {
    int (*columnsSource)() = nullptr;
    bool sourceAsked = false;
    int columns = 0;  // 0: not a terminal, nothing is cut
    bool due = true;
    int64_t lastMs = 0;
    int rowsSinceAsked = 0;
    int column = 0;  // where the cursor stands on the console's line
    std::string pending;
    std::string out;
};

RowState& state() {
    static RowState s;
    return s;
}

int askColumns(RowState& s) {
    return s.columnsSource ? s.columnsSource() : platform::consoleColumns();
}

void writePending(RowState& s) {
    if (s.pending.empty()) {
        return;
    }
    if (s.due) {
        s.out.clear();
        for (char c : s.pending) {
            if (c == '\r' || c == '\n') {
                s.column = 0;
                s.out.push_back(c);
            } else if (s.columns <= 0 || s.column < s.columns - 1) {
                // The last column stays free: a character there makes some terminals wrap.
                ++s.column;
                s.out.push_back(c);
            }
        }
        platform::writeConsoleText(s.out.data(), s.out.size());
    }
    s.pending.clear();
}

}  // namespace

void BeginStatusRows() {
    RowState& s = state();
    if (s.sourceAsked && s.columns <= 0) {
        s.due = true;  // a file or a pipe keeps every row
        return;
    }
    const int64_t now = platform::clock().steadyMs();
    if (s.sourceAsked && now - s.lastMs < kRowIntervalMs) {
        s.due = false;
        return;
    }
    // The width is asked again every second, so a resized window is followed.
    if (!s.sourceAsked || ++s.rowsSinceAsked >= 10) {
        s.columns = askColumns(s);
        s.sourceAsked = true;
        s.rowsSinceAsked = 0;
    }
    s.lastMs = now;
    s.due = true;
}

void RowPrintf(const char* format, ...) {
    RowState& s = state();
    // A row held off the terminal is not even formatted: most ticks write none.
    if (!s.due) {
        return;
    }
    char buffer[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) {
        return;
    }
    s.pending.append(buffer, static_cast<size_t>(n) < sizeof buffer ? static_cast<size_t>(n)
                                                                    : sizeof buffer - 1);
    if (s.pending.find('\r') != std::string::npos) {
        writePending(s);
    }
}

void FlushStatusRow() {
    writePending(state());
}

void SetConsoleColumnsSource(int (*columns)()) {
    RowState& s = state();
    s.columnsSource = columns;
    s.sourceAsked = false;
    s.rowsSinceAsked = 0;
    s.columns = 0;
    s.due = true;
    s.column = 0;
    s.pending.clear();
}

}  // namespace common
