#include "platform/clock.h"

#include <windows.h>

#include <ctime>

namespace platform {

namespace {

class Win32Clock final : public Clock {
  public:
    int64_t calendarSeconds() override { return static_cast<int64_t>(::_time64(nullptr)); }

    UtcTime utcNow() override {
        SYSTEMTIME st{};
        ::GetSystemTime(&st);
        UtcTime t;
        t.year = st.wYear;
        t.month = st.wMonth;
        t.day = st.wDay;
        t.hour = st.wHour;
        t.minute = st.wMinute;
        t.second = st.wSecond;
        t.millisecond = st.wMilliseconds;
        return t;
    }

    int64_t steadyMs() override {
        LARGE_INTEGER frequency{};
        LARGE_INTEGER now{};
        ::QueryPerformanceFrequency(&frequency);
        ::QueryPerformanceCounter(&now);
        // Split to keep the multiplication far from overflow on long uptimes.
        const int64_t whole = now.QuadPart / frequency.QuadPart;
        const int64_t rest = now.QuadPart % frequency.QuadPart;
        return whole * 1000 + rest * 1000 / frequency.QuadPart;
    }

    void sleepMs(int ms) override { ::Sleep(ms > 0 ? static_cast<DWORD>(ms) : 0); }
};

}  // namespace

Clock& systemClock() {
    // Never destroyed: a detached speech thread may still wait on it while the process ends.
    static Win32Clock* instance = new Win32Clock;
    return *instance;
}

}  // namespace platform
