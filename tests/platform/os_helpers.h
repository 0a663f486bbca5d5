#pragma once
// The few operating-system services the platform tests need beyond the platform layer itself:
// another standard input, and a pseudo-terminal standing in for a serial device.

#include <atomic>
#include <random>
#include <string>

namespace platform_test {

// Cuts the named block's object down to `size` bytes behind its views' backs, as a foreign
// writer could on POSIX. False on Windows, where a mapped section cannot shrink.
bool truncateBlock(const std::string& name, long long size);

// A name no other test run on this machine uses at the same time.
inline std::string uniqueName(const std::string& stem) {
    static std::atomic<int> serial{0};
    return stem + "_" + std::to_string(std::random_device{}()) + "_" + std::to_string(serial++);
}

// Replaces standard input until destroyed: with the read end of a fresh pipe (kPipe), with the
// file at `path` (the null device is "NUL" on Windows, "/dev/null" elsewhere), or with no input
// at all when `path` is empty.
inline const std::string kPipe = "|";
class RedirectedStdin {
  public:
    explicit RedirectedStdin(const std::string& path);
    ~RedirectedStdin();
    RedirectedStdin(const RedirectedStdin&) = delete;
    RedirectedStdin& operator=(const RedirectedStdin&) = delete;
    bool ok() const { return ok_; }
    // Into the pipe, and its end.
    bool write(const std::string& bytes);
    void closeWriter();

  private:
    bool ok_ = false;
    long long saved_ = -1;
    long long input_ = -1;
    long long writer_ = -1;
};

// A pseudo-terminal pair: the platform layer opens the device side as a serial port, the test
// reads what arrives on the other side. Not available on Windows (ok() is false there).
class PseudoTerminal {
  public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;
    bool ok() const { return controller_ >= 0; }
    // The device a program opens, e.g. /dev/pts/3.
    const std::string& devicePath() const { return devicePath_; }
    // Reads until `want` bytes arrived or `timeoutMs` passed.
    std::string read(size_t want, int timeoutMs);
    // Hangs up the line, as when a device is unplugged.
    void hangUp();

  private:
    int controller_ = -1;
    int device_ = -1;
    std::string devicePath_;
};

}  // namespace platform_test
