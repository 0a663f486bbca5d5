#include "tests/support/virtual_clock.h"

namespace testsupport {

VirtualClock::VirtualClock(int64_t calendarSeconds) : calendarMs_(calendarSeconds * 1000) {}

int64_t VirtualClock::calendarSeconds() {
    std::lock_guard<std::mutex> lock(mutex_);
    // Floor, so times before 1970 still count whole seconds the way time() does.
    return calendarMs_ >= 0 ? calendarMs_ / 1000 : -((-calendarMs_ + 999) / 1000);
}

platform::UtcTime VirtualClock::utcNow() {
    std::lock_guard<std::mutex> lock(mutex_);
    return utcFromEpochMs(calendarMs_);
}

int64_t VirtualClock::steadyMs() {
    std::lock_guard<std::mutex> lock(mutex_);
    return steadyMs_;
}

void VirtualClock::sleepMs(int ms) {
    if (ms < 0) {
        ms = 0;
    }
    std::function<void(int)> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calendarMs_ += ms;
        steadyMs_ += ms;
        sleeps_.push_back(ms);
        hook = hook_;
    }
    if (hook) {
        hook(ms);
    }
}

void VirtualClock::advanceMs(int64_t ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    calendarMs_ += ms;
    steadyMs_ += ms;
}

void VirtualClock::setCalendarTime(int64_t seconds, int millisecond) {
    std::lock_guard<std::mutex> lock(mutex_);
    calendarMs_ = seconds * 1000 + millisecond;
}

std::vector<int> VirtualClock::sleeps() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleeps_;
}

int64_t VirtualClock::totalSleptMs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    int64_t total = 0;
    for (int s : sleeps_) {
        total += s;
    }
    return total;
}

void VirtualClock::clearSleeps() {
    std::lock_guard<std::mutex> lock(mutex_);
    sleeps_.clear();
}

void VirtualClock::setSleepHook(std::function<void(int)> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = std::move(hook);
}

ScopedClock::ScopedClock(platform::Clock& clock) {
    platform::setClock(&clock);
}

ScopedClock::~ScopedClock() {
    platform::setClock(nullptr);
}

platform::UtcTime utcFromEpochMs(int64_t ms) {
    int64_t secs = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    int millis = static_cast<int>(ms - secs * 1000);
    int64_t days = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
    int64_t rem = secs - days * 86400;

    // Days since 1970-01-01 to a civil date (Howard Hinnant's algorithm).
    int64_t z = days + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t d = doy - (153 * mp + 2) / 5 + 1;
    int64_t m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) {
        ++y;
    }

    platform::UtcTime t;
    t.year = static_cast<int>(y);
    t.month = static_cast<int>(m);
    t.day = static_cast<int>(d);
    t.hour = static_cast<int>(rem / 3600);
    t.minute = static_cast<int>(rem % 3600 / 60);
    t.second = static_cast<int>(rem % 60);
    t.millisecond = millis;
    return t;
}

}  // namespace testsupport
