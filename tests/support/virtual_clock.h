#pragma once
// A clock for tests: time stands still until the test moves it, and a sleep moves it at once,
// so a 3000 ms wait costs nothing. Every sleep is recorded for the test to check.

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/clock.h"

namespace testsupport {

class VirtualClock : public platform::Clock {
  public:
    // Starts at `calendarSeconds` (seconds since 1970, UTC); the steady clock starts at 0.
    explicit VirtualClock(int64_t calendarSeconds = 1700000000);

    int64_t calendarSeconds() override;
    platform::UtcTime utcNow() override;
    int64_t steadyMs() override;
    // Advances both clocks by `ms` (negative counts as 0), records it, then calls the sleep
    // hook if one is set.
    void sleepMs(int ms) override;

    void advanceMs(int64_t ms);
    void advanceSeconds(int64_t s) { advanceMs(s * 1000); }
    // Sets the calendar time (seconds and milliseconds); the steady clock is not touched.
    void setCalendarTime(int64_t seconds, int millisecond = 0);

    std::vector<int> sleeps() const;
    int64_t totalSleptMs() const;
    void clearSleeps();

    // Called after each sleep (outside the clock's lock) with the slept milliseconds; lets a
    // test make things happen "during" a wait.
    void setSleepHook(std::function<void(int)> hook);

  private:
    mutable std::mutex mutex_;
    int64_t calendarMs_;
    int64_t steadyMs_ = 0;
    std::vector<int> sleeps_;
    std::function<void(int)> hook_;
};

// Installs a clock for the life of the scope and restores the system clock afterwards.
class ScopedClock {
  public:
    explicit ScopedClock(platform::Clock& clock) { platform::setClock(&clock); }
    ~ScopedClock() { platform::setClock(nullptr); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace testsupport
