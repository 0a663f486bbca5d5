#include "platform/clock.h"

#include <atomic>

namespace platform {

namespace {
// Atomic so that a thread of the code under test never sees a half-installed clock.
std::atomic<Clock*> installedClock{nullptr};
}  // namespace

Clock& clock() {
    Clock* c = installedClock.load(std::memory_order_acquire);
    return c ? *c : systemClock();
}

void setClock(Clock* c) {
    installedClock.store(c, std::memory_order_release);
}

}  // namespace platform
