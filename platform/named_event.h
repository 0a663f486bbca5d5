#pragma once
// The simulator's data-valid event: the writer signals once per published row, and every
// reader that waits at that moment wakes up.

#include <memory>
#include <string>

namespace platform {

class NamedEventWaiter {
  public:
    virtual ~NamedEventWaiter() = default;
    // Waits at most `timeoutMs` for the next signal; true when signalled.
    virtual bool wait(int timeoutMs) = 0;
};

class NamedEventSignaller {
  public:
    virtual ~NamedEventSignaller() = default;
    // Wakes every waiting reader.
    virtual void signal() = 0;
};

// OpenEventA(SYNCHRONIZE). nullptr when no writer created the event.
std::unique_ptr<NamedEventWaiter> openNamedEvent(const std::string& name);

// Creates the event (or opens it when it exists).
std::unique_ptr<NamedEventSignaller> createNamedEvent(const std::string& name);

}  // namespace platform
