#include "platform/interrupt.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

std::atomic<void (*)()> interruptAction{nullptr};

// The C runtime runs a console ctrl-c's SIGINT handler on the thread Windows starts for the
// console event, so the action may do ordinary work here.
extern "C" void onSigint(int sig) {
    // The runtime resets the signal before each call; watch for the next one.
    std::signal(sig, onSigint);
    if (void (*action)() = interruptAction.load()) {
        action();
    }
}

}  // namespace

void watchInterrupt(void (*action)()) {
    interruptAction.store(action);
    for (int sig : {SIGINT, SIGBREAK, SIGTERM}) {
        std::signal(sig, onSigint);
    }
}

void exitNow(int code) {
    std::fflush(nullptr);
    std::_Exit(code);
}

}  // namespace platform
