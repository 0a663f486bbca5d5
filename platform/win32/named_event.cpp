// A manual-reset event that each signal sets and at once resets. Setting a manual-reset event
// satisfies every wait pending at that moment inside the kernel, so all readers wake even
// though the event is reset right after; a reader that starts waiting later waits for the next
// row. PulseEvent would do the same in one call but is documented to miss waiters that are
// briefly taken off the wait by a kernel APC.

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
    void signal() override {
        ::SetEvent(h_);
        ::ResetEvent(h_);
    }

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
