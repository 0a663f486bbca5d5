#pragma once
// The few operating-system services the platform tests need beyond the platform layer itself:
// a pipe in place of standard input, and a pseudo-terminal standing in for a serial device.

#include <string>

namespace platform_test {

int processId();

// A name no other test run on this machine uses at the same time.
std::string uniqueName(const std::string& stem);

// Replaces standard input with the read end of a fresh pipe until destroyed.
class StdinPipe {
  public:
    StdinPipe();
    ~StdinPipe();
    StdinPipe(const StdinPipe&) = delete;
    StdinPipe& operator=(const StdinPipe&) = delete;
    bool ok() const { return ok_; }
    bool write(const std::string& bytes);
    void closeWriter();

  private:
    bool ok_ = false;
    long long savedStdin_ = -1;
    long long reader_ = -1;
    long long writer_ = -1;
};

}  // namespace platform_test
