#include "platform/console.h"
#include "platform/posix/console_restore.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace platform {

namespace {

// The terminal as it was before keyWaiting switched it; written once, read by the exit and
// signal handlers.
termios savedTerminal{};
volatile sig_atomic_t terminalChanged = 0;
std::once_flag rawOnce;

void restoreTerminal() {
    if (terminalChanged) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
        terminalChanged = 0;
    }
}

void restoreAndReraise(int sig) {
    restoreTerminal();
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

// Signals whose default would end the process with the terminal left without echo. A handler
// the program installed itself is left alone (the ctrl-c action restores the terminal before
// it ends the process).
void guardSignal(int sig) {
    struct sigaction current {};
    if (::sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
        struct sigaction sa {};
        sa.sa_handler = restoreAndReraise;
        sigemptyset(&sa.sa_mask);
        ::sigaction(sig, &sa, nullptr);
    }
}

void enterKeyMode() {
    std::call_once(rawOnce, [] {
        termios t{};
        if (::tcgetattr(STDIN_FILENO, &t) != 0) {
            return;
        }
        savedTerminal = t;
        t.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        if (::tcsetattr(STDIN_FILENO, TCSANOW, &t) != 0) {
            return;
        }
        terminalChanged = 1;
        std::atexit(restoreTerminal);
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
            guardSignal(sig);
        }
    });
}

bool stdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

}  // namespace

void restoreTerminalNow() {
    restoreTerminal();
}

void enableAnsiColours() {}

void writeConsoleText(const char* data, size_t size) {
    std::fwrite(data, 1, size, stdout);
}

int consoleColumns() {
    winsize size{};
    if (!stdoutIsTerminal()) {
        return 0;
    }
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) {
        return 80;  // a terminal that does not say: the narrowest usual one
    }
    return size.ws_col;
}

void clearScreen() {
    if (!stdoutIsTerminal()) {
        return;
    }
    std::fputs("\033[H\033[2J", stdout);
    std::fflush(stdout);
}

bool keyWaiting() {
    // Until the terminal is in key mode a typed key would wait for the line's end.
    if (!terminalChanged && ::isatty(STDIN_FILENO) == 1) {
        enterKeyMode();
    }
    // Nothing readable is no key whatever the input is: on a terminal, the usual answer, in
    // this one call.
    pollfd p{STDIN_FILENO, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) {
        return false;
    }
    if (::isatty(STDIN_FILENO) == 1) {
        // A hung-up terminal is no key: its SIGHUP ends the plugin as ctrl-c does.
        return (p.revents & POLLIN) != 0 && (p.revents & (POLLHUP | POLLERR)) == 0;
    }
    // Without a terminal only bytes waiting in a pipe or socket count (a program typing for
    // the driver). A file or /dev/null is always readable and a missing or ended input stays
    // so: none of them is a key, and the plugin runs on until ctrl-c or a termination signal.
    struct stat st {};
    if (::fstat(STDIN_FILENO, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
        return false;
    }
    int waiting = 0;
    return ::ioctl(STDIN_FILENO, FIONREAD, &waiting) == 0 && waiting > 0;
}

bool keyCanArrive() {
    if (::isatty(STDIN_FILENO) == 1) {
        return true;
    }
    struct stat st {};
    if (::fstat(STDIN_FILENO, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
        return false;
    }
    pollfd p{STDIN_FILENO, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    int waiting = 0;
    const bool ended = r > 0 && (p.revents & (POLLHUP | POLLERR)) != 0;
    return !ended || (::ioctl(STDIN_FILENO, FIONREAD, &waiting) == 0 && waiting > 0);
}

int readKeyNoEcho() {
    if (::isatty(STDIN_FILENO) == 1) {
        enterKeyMode();
    }
    unsigned char c = 0;
    ssize_t n;
    do {
        n = ::read(STDIN_FILENO, &c, 1);
    } while (n < 0 && errno == EINTR);
    return n == 1 ? static_cast<int>(c) : -1;
}

}  // namespace platform
