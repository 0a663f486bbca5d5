#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace platform {

namespace {

class PosixClock final : public Clock {
  public:
    int64_t calendarSeconds() override { return static_cast<int64_t>(::time(nullptr)); }

    UtcTime utcNow() override {
        timespec ts{};
        ::clock_gettime(CLOCK_REALTIME, &ts);
        tm parts{};
        ::gmtime_r(&ts.tv_sec, &parts);
        UtcTime t;
        t.year = parts.tm_year + 1900;
        t.month = parts.tm_mon + 1;
        t.day = parts.tm_mday;
        t.hour = parts.tm_hour;
        t.minute = parts.tm_min;
        // A leap second shows as 60 in struct tm; the Windows clock never reports it.
        t.second = parts.tm_sec > 59 ? 59 : parts.tm_sec;
        t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
        return t;
    }

    int64_t steadyMs() override {
        timespec ts{};
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    }

    void sleepMs(int ms) override {
        if (ms <= 0) {
            return;
        }
        timespec left{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
        // A signal must not cut a pacing sleep short.
        while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
    }
};

}  // namespace

Clock& systemClock() {
    // Never destroyed: a detached speech thread may still wait on it while the process ends.
    static PosixClock* instance = new PosixClock;
    return *instance;
}

}  // namespace platform
