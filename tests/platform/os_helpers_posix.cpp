#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>

#include "os_helpers.h"

namespace platform_test {

int processId() {
    return static_cast<int>(::getpid());
}

std::string uniqueName(const std::string& stem) {
    static std::atomic<int> serial{0};
    const auto t = std::chrono::steady_clock::now().time_since_epoch().count();
    return stem + "_" + std::to_string(processId()) + "_" + std::to_string(serial++) + "_" +
           std::to_string(t % 1000000);
}

StdinPipe::StdinPipe() {
    int fds[2];
    if (::pipe(fds) != 0) {
        return;
    }
    savedStdin_ = ::dup(STDIN_FILENO);
    reader_ = fds[0];
    writer_ = fds[1];
    ok_ = savedStdin_ >= 0 && ::dup2(fds[0], STDIN_FILENO) >= 0;
}

StdinPipe::~StdinPipe() {
    closeWriter();
    if (savedStdin_ >= 0) {
        ::dup2(static_cast<int>(savedStdin_), STDIN_FILENO);
        ::close(static_cast<int>(savedStdin_));
    }
    if (reader_ >= 0) {
        ::close(static_cast<int>(reader_));
    }
}

bool StdinPipe::write(const std::string& bytes) {
    return writer_ >= 0 && ::write(static_cast<int>(writer_), bytes.data(), bytes.size()) ==
                               static_cast<ssize_t>(bytes.size());
}

void StdinPipe::closeWriter() {
    if (writer_ >= 0) {
        ::close(static_cast<int>(writer_));
        writer_ = -1;
    }
}

}  // namespace platform_test
