#pragma once
// Time as the programs see it. Every wait, sleep and time stamp goes through the process-wide
// clock so that tests can replace it with a virtual one and a 3000 ms wait costs nothing.

#include <cstdint>

namespace platform {

struct UtcTime {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;       // 0..59
    int millisecond = 0;  // 0..999
};

class Clock {
  public:
    virtual ~Clock() = default;
    // Calendar seconds since 1970-01-01 UTC (`_time64` / `time`).
    virtual int64_t calendarSeconds() = 0;
    // Current UTC time with milliseconds (`GetSystemTime`).
    virtual UtcTime utcNow() = 0;
    // Monotonic milliseconds, for durations.
    virtual int64_t steadyMs() = 0;
    virtual void sleepMs(int ms) = 0;
};

// The real clock of the machine.
Clock& systemClock();

// The clock in use; the system clock unless a test installed another.
Clock& clock();
// Installs `c` (nullptr restores the system clock). Not thread-safe against concurrent use:
// tests install their clock before starting the code under test.
void setClock(Clock* c);

inline void sleepMs(int ms) {
    clock().sleepMs(ms);
}

}  // namespace platform
