// A manual-reset event that each signal pulses: PulseEvent wakes every reader waiting at that
// moment and leaves the event reset, in one call, as the POSIX build's sequence-number event
// does. Setting and then resetting it took two calls, and a feed preempted between them left
// the event set: every reader's wait then returned at once, found no new row and waited again,
// spinning until the feed ran (under Wine 1.5 needless wake-ups a row, each a round trip to the
// server). PulseEvent is documented to miss a waiter that a kernel APC has briefly taken off
// the wait; such a reader takes the row after its 16 ms time-out, which it must survive anyway.

#include "platform/named_event.h"

#include <windows.h>

namespace platform {

namespace {

class Win32EventWaiter final : public NamedEventWaiter {
  public:
    explicit Win32EventWaiter(HANDLE h) : h_(h) {}
    ~Win32EventWaiter() override { ::CloseHandle(h_); }
    bool wait(int timeoutMs) override {
        const DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
        return ::WaitForSingleObject(h_, limit) == WAIT_OBJECT_0;
    }

  private:
    HANDLE h_;
};

class Win32EventSignaller final : public NamedEventSignaller {
  public:
    explicit Win32EventSignaller(HANDLE h) : h_(h) {}
    ~Win32EventSignaller() override { ::CloseHandle(h_); }
    void signal() override { ::PulseEvent(h_); }

  private:
    HANDLE h_;
};

}  // namespace

std::unique_ptr<NamedEventWaiter> openNamedEvent(const std::string& name) {
    HANDLE h = ::OpenEventA(SYNCHRONIZE, FALSE, name.c_str());
    if (!h) {
        return nullptr;
    }
    return std::make_unique<Win32EventWaiter>(h);
}

std::unique_ptr<NamedEventSignaller> createNamedEvent(const std::string& name) {
    HANDLE h = ::CreateEventA(nullptr, TRUE, FALSE, name.c_str());
    if (!h) {
        return nullptr;
    }
    return std::make_unique<Win32EventSignaller>(h);
}

}  // namespace platform
