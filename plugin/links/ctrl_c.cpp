#include "plugin/links/ctrl_c.h"

#include <atomic>
#include <csignal>
#include <cstdio>

#include "platform/interrupt.h"
#include "platform/system.h"

namespace links {

namespace {

std::atomic<void (*)()> cleanupAction{nullptr};

// Runs on the interrupt watcher's thread while the tick may still be running (and may be
// blocked for seconds on the service), so the process ends from here, without exit handlers
// that would tear down what the tick is using.
void onCtrlC() {
    std::fputs("\n\n Recieved ctrl-c, Exiting\n\n", stdout);
    std::fflush(stdout);
    if (void (*cleanup)() = cleanupAction.load()) {
        cleanup();
    }
    platform::endTimerPeriod();
    std::signal(SIGINT, SIG_DFL);
    platform::exitNow(0);
}

}  // namespace

void setCtrlCCleanup(void (*cleanup)()) {
    cleanupAction.store(cleanup);
}

void InstallCtrlCHandler() {
    platform::watchInterrupt(onCtrlC);
}

}  // namespace links
