#include "support/launcher_fixture.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <random>
#include <iterator>

#include "common/log_writer.h"
#include "common/settings_file.h"
#include "launcher/launcher.h"

namespace launchertest {

Recorded& recorded() {
    static Recorded r;
    return r;
}

void LauncherTest::SetUp() {
    recorded() = Recorded{};
    previousDir_ = std::filesystem::current_path();
    dir_ = std::filesystem::temp_directory_path() /
           ("korvane_launcher_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
    common::setSettingsPath("");
    common::LauncherLog().setPath("");
    launcher::LauncherSeams& seams = launcher::Seams();
    seams.write = [](const char* text) { recorded().console += text; };
    seams.runCommand = [](const std::string& commandLine) {
        recorded().commands.push_back(commandLine);
        recorded().consoleAtCommand.push_back(recorded().console);
        return 0;
    };
    seams.keyWaiting = [] { return ++recorded().keyChecks >= recorded().keyAtCheck; };
    seams.keyCanArrive = [] { return true; };
    seams.readKey = [] { return int{'x'}; };
    seams.exitProcess = [](int code) { throw ProcessExit{code}; };
}

void LauncherTest::TearDown() {
    launcher::RestoreDefaultSeams();
    std::filesystem::current_path(previousDir_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void putLittle(std::string& b, size_t at, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) {
        b[at + i] = static_cast<char>((value >> (8 * i)) & 0xff);
    }
}

namespace {

// Filler that no text conversion would leave alone; a formula, so other tools can make it too.
std::string filler(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(((i * 2654435761u + seed * 40503u) >> 13) & 0xff);
    }
    return bytes;
}

}  // namespace

std::string linuxImage(size_t size, unsigned seed) {
    std::string b = filler(size, seed);
    std::fill(b.begin(), b.begin() + 64, '\0');
    b.replace(0, 4,
              "\x7f"
              "ELF");
    b[4] = 2;  // 64-bit
    b[5] = 1;  // little-endian
    b[6] = 1;
    putLittle(b, 16, 3, 2);   // position-independent executable
    putLittle(b, 18, 62, 2);  // x86-64
    putLittle(b, 20, 1, 4);
    putLittle(b, 32, 64, 8);             // program headers
    putLittle(b, 40, size - 2 * 64, 8);  // section headers
    putLittle(b, 52, 64, 2);
    putLittle(b, 54, 56, 2);
    putLittle(b, 56, 1, 2);
    putLittle(b, 58, 64, 2);
    putLittle(b, 60, 2, 2);
    return b;
}

std::string windowsImage(size_t size, unsigned seed) {
    std::string b = filler(size, seed);
    std::fill(b.begin(), b.begin() + 0x400, '\0');
    b.replace(0, 2, "MZ");
    putLittle(b, 0x3c, 0x80, 4);
    b.replace(0x80, 4, std::string("PE\0\0", 4));
    putLittle(b, 0x84, 0x8664, 2);  // x86-64
    putLittle(b, 0x86, 1, 2);       // one section
    putLittle(b, 0x94, 240, 2);     // optional header size
    putLittle(b, 0x98, 0x20b, 2);   // PE32+
    const size_t section = 0x80 + 24 + 240;
    b.replace(section, 5, ".text");
    putLittle(b, section + 16, size - 0x400, 4);
    putLittle(b, section + 20, 0x400, 4);
    return b;
}

std::string executableImage(size_t size, unsigned seed) {
    return kWindows ? windowsImage(size, seed) : linuxImage(size, seed);
}

std::string foreignExecutableImage(size_t size, unsigned seed) {
    return kWindows ? linuxImage(size, seed) : windowsImage(size, seed);
}

int LauncherTest::run() {
    try {
        return launcher::RunLauncher();
    } catch (const ProcessExit& exit) {
        return exit.code;
    }
}

void LauncherTest::writeFile(const std::string& name, const std::string& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string LauncherTest::readFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> LauncherTest::logLines() const {
    std::ifstream in(common::kLauncherLogFile);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace launchertest
