#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "os_helpers.h"
#include "platform/posix/shm_names.h"

namespace platform_test {

bool truncateBlock(const std::string& name, long long size) {
    const int fd = ::shm_open(platform::posix::shmName(name).c_str(), O_RDWR, 0);
    if (fd < 0) {
        return false;
    }
    const bool done = ::ftruncate(fd, size) == 0;
    ::close(fd);
    return done;
}

RedirectedStdin::RedirectedStdin(const std::string& path) {
    saved_ = ::dup(STDIN_FILENO);
    if (saved_ < 0) {
        return;
    }
    if (path.empty()) {
        ok_ = ::close(STDIN_FILENO) == 0;
        return;
    }
    if (path == kPipe) {
        int fds[2];
        if (::pipe(fds) != 0) {
            return;
        }
        input_ = fds[0];
        writer_ = fds[1];
    } else {
        input_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    ok_ = input_ >= 0 && ::dup2(static_cast<int>(input_), STDIN_FILENO) >= 0;
}

RedirectedStdin::~RedirectedStdin() {
    closeWriter();
    if (saved_ >= 0) {
        ::dup2(static_cast<int>(saved_), STDIN_FILENO);
        ::close(static_cast<int>(saved_));
    }
    if (input_ >= 0) {
        ::close(static_cast<int>(input_));
    }
}

bool RedirectedStdin::write(const std::string& bytes) {
    return writer_ >= 0 && ::write(static_cast<int>(writer_), bytes.data(), bytes.size()) ==
                               static_cast<ssize_t>(bytes.size());
}

void RedirectedStdin::closeWriter() {
    if (writer_ >= 0) {
        ::close(static_cast<int>(writer_));
        writer_ = -1;
    }
}

PseudoTerminal::PseudoTerminal() {
    char name[256] = {0};
    int controller = -1;
    int device = -1;
    if (::openpty(&controller, &device, name, nullptr, nullptr) != 0) {
        return;
    }
    ::fcntl(controller, F_SETFL, ::fcntl(controller, F_GETFL) | O_NONBLOCK);
    controller_ = controller;
    device_ = device;
    devicePath_ = name;
}

PseudoTerminal::~PseudoTerminal() {
    hangUp();
    if (device_ >= 0) {
        ::close(device_);
    }
}

std::string PseudoTerminal::read(size_t want, int timeoutMs) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (controller_ >= 0 && got.size() < want) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            break;
        }
        pollfd p{controller_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        char buf[512];
        const ssize_t n = ::read(controller_, buf, sizeof buf);
        if (n > 0) {
            got.append(buf, static_cast<size_t>(n));
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        }
    }
    return got;
}

void PseudoTerminal::hangUp() {
    if (controller_ >= 0) {
        ::close(controller_);
        controller_ = -1;
    }
}

}  // namespace platform_test
