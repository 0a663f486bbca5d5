#include "platform/system.h"

#include <malloc.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace platform {

namespace {

// strerror_r comes in two shapes, the GNU one returning the text and the XSI one filling the
// buffer; both are thread-safe, unlike strerror.
[[maybe_unused]] std::string fromStrerror(const char* text, const char*) {
    return text;
}
[[maybe_unused]] std::string fromStrerror(int result, const char* buf) {
    return result == 0 ? std::string(buf) : std::string();
}

}  // namespace

void beginTimerPeriod() {}
void endTimerPeriod() {}

void raiseProcessPriority() {
    // A raised priority needs privileges most drivers' accounts lack; the program runs anyway.
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, 0);
    if (errno == 0 && current > -10) {
        ::setpriority(PRIO_PROCESS, 0, -10);
    }
}

void returnLargeBuffersToSystem() {
#if defined(__GLIBC__)
    // A fixed threshold also stops glibc from raising it after each large free, which is what
    // lets the next message's buffers land in, and fragment, the thread pools.
    ::mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    // Every short-lived speech thread would otherwise be given a pool of its own, whose leftovers
    // stay with the process; the threads allocate little besides the large buffers above.
    ::mallopt(M_ARENA_MAX, 2);
#endif
}

void releaseFreedMemory() {
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

std::string writeFileToDisk(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return errorText(errno);
    }
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            ::close(fd);
            return errorText(error);
        }
        written += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        return errorText(error);
    }
    if (::close(fd) != 0) {
        return errorText(errno);
    }
    return "";
}

std::string errorText(int code) {
    char buf[256] = {0};
    std::string text = fromStrerror(::strerror_r(code, buf, sizeof buf), buf);
    if (text.empty()) {
        text = "Unknown error " + std::to_string(code);
    }
    return text;
}

int runCommand(const std::string& commandLine) {
    const int status = std::system(commandLine.c_str());
    if (status == -1) {
        return -1;
    }
    // The command's own exit code, as Windows reports it; a command killed by a signal gives
    // 128 + the signal, as shells report it.
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return status;
}

std::string executableDirectory() {
    std::vector<char> buf(4096);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) {
            return ".";
        }
        if (static_cast<size_t>(n) < buf.size()) {
            std::string path(buf.data(), static_cast<size_t>(n));
            const size_t slash = path.rfind('/');
            if (slash == std::string::npos) {
                return ".";
            }
            return slash == 0 ? std::string("/") : path.substr(0, slash);
        }
        buf.resize(buf.size() * 2);
    }
}

}  // namespace platform
