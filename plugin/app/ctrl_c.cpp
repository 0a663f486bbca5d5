#include "plugin/app/ctrl_c.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/system.h"

namespace app {

namespace {

std::atomic<void (*)()> cleanupAction{nullptr};

extern "C" void onCtrlC(int) {
    std::fputs("\n\n Recieved ctrl-c, Exiting\n\n", stdout);
    std::fflush(stdout);
    if (void (*cleanup)() = cleanupAction.load()) {
        cleanup();
    }
    platform::endTimerPeriod();
    std::signal(SIGINT, SIG_DFL);
    // exit() rather than _Exit(): the console's exit handler puts the terminal back the way
    // the driver had it.
    std::exit(0);
}

}  // namespace

void setCtrlCCleanup(void (*cleanup)()) {
    cleanupAction.store(cleanup);
}

void InstallCtrlCHandler() {
    std::signal(SIGINT, onCtrlC);
}

}  // namespace app
