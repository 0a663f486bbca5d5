#include "platform/interrupt.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/posix/console_restore.h"

namespace platform {

namespace {

std::atomic<void (*)()> interruptAction{nullptr};
int wakePipe[2] = {-1, -1};
std::once_flag watcherOnce;

extern "C" void onSigint(int) {
    const int saved = errno;
    const char byte = 1;
    // A full pipe means a wake-up is already pending; nothing is lost.
    [[maybe_unused]] ssize_t n = ::write(wakePipe[1], &byte, 1);
    errno = saved;
}

void watch() {
    char byte = 0;
    for (;;) {
        const ssize_t n = ::read(wakePipe[0], &byte, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        if (void (*action)() = interruptAction.load()) {
            action();
        }
    }
}

bool startWatcher() {
    if (::pipe(wakePipe) != 0) {
        std::perror("\n ctrl-c watch");
        return false;
    }
    for (int fd : wakePipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    ::fcntl(wakePipe[1], F_SETFL, ::fcntl(wakePipe[1], F_GETFL) | O_NONBLOCK);
    // The watcher lives as long as the process and is never joined.
    std::thread(watch).detach();
    return true;
}

}  // namespace

void watchInterrupt(void (*action)()) {
    static bool watching = false;
    std::call_once(watcherOnce, [] { watching = startWatcher(); });
    interruptAction.store(action);
    if (!watching) {
        return;
    }
    struct sigaction sa {};
    sa.sa_handler = onSigint;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(sig, &sa, nullptr);
    }
}

void exitNow(int code) {
    std::fflush(nullptr);
    restoreTerminalNow();
    std::_Exit(code);
}

}  // namespace platform
