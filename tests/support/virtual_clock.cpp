#include "tests/support/virtual_clock.h"

#include <chrono>
#include <numeric>

namespace testsupport {

namespace {

// The calendar fields of `ms` milliseconds since 1970 (UTC, proleptic Gregorian).
platform::UtcTime utcFromEpochMs(int64_t ms) {
    using namespace std::chrono;
    const sys_time<milliseconds> at{milliseconds{ms}};
    const sys_days day = floor<days>(at);
    const year_month_day date{day};
    const hh_mm_ss<milliseconds> time{at - day};
    platform::UtcTime t;
    t.year = static_cast<int>(date.year());
    t.month = static_cast<int>(static_cast<unsigned>(date.month()));
    t.day = static_cast<int>(static_cast<unsigned>(date.day()));
    t.hour = static_cast<int>(time.hours().count());
    t.minute = static_cast<int>(time.minutes().count());
    t.second = static_cast<int>(time.seconds().count());
    t.millisecond = static_cast<int>(time.subseconds().count());
    return t;
}

}  // namespace

VirtualClock::VirtualClock(int64_t calendarSeconds) : calendarMs_(calendarSeconds * 1000) {}

int64_t VirtualClock::calendarSeconds() {
    std::lock_guard<std::mutex> lock(mutex_);
    // Floor, so times before 1970 still count whole seconds the way time() does.
    return std::chrono::floor<std::chrono::seconds>(std::chrono::milliseconds{calendarMs_}).count();
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
    return std::accumulate(sleeps_.begin(), sleeps_.end(), int64_t{0});
}

void VirtualClock::clearSleeps() {
    std::lock_guard<std::mutex> lock(mutex_);
    sleeps_.clear();
}

void VirtualClock::setSleepHook(std::function<void(int)> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = std::move(hook);
}

}  // namespace testsupport
