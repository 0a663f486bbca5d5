#pragma once
// A launcher under test: a working directory of its own, the virtual clock, the console
// collected into a string, the command processor and the key recorded, and the end of the
// process turned into an exception that the test catches.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/virtual_clock.h"

namespace launchertest {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// Thrown by the test's stand-in for the end of the process.
struct ProcessExit {
    int code;
};

struct Recorded {
    std::string console;
    // Each command line with the console as it stood when the command processor got it.
    std::vector<std::string> commands;
    std::vector<std::string> consoleAtCommand;
    int keyChecks = 0;
    // keyWaiting answers true from this check on (1: at the first).
    int keyAtCheck = 1;
};

Recorded& recorded();

class LauncherTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // RunLauncher, or the process end it ran into; returns the exit code.
    int run();
    // A file of the working directory.
    static void writeFile(const std::string& name, const std::string& bytes);
    static std::string readFile(const std::string& name);
    std::vector<std::string> logLines() const;

    testsupport::VirtualClock clock_;
    testsupport::ScopedClock useClock_{clock_};
    std::filesystem::path dir_;
    std::filesystem::path previousDir_;
};

// A whole executable of `size` bytes (at least 4096) for this platform (ELF x86-64 on Linux,
// PE32+ x86-64 on Windows), its filler bytes set by `seed`; the same bytes on every machine.
std::string executableImage(size_t size, unsigned seed);
// The same for the other platform.
std::string foreignExecutableImage(size_t size, unsigned seed);
// A whole program of Windows (PE32+) or Linux (ELF64), x86-64, as above: one section whose data
// runs to the end of the file / one program header after the file header and two section
// headers at the very end.
std::string windowsImage(size_t size, unsigned seed);
std::string linuxImage(size_t size, unsigned seed);

// Writes `value` into `b` at `at`, `width` bytes little-endian.
void putLittle(std::string& b, size_t at, uint64_t value, size_t width);

// True when `text` contains `part`.
inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace launchertest
