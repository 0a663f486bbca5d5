#include "launcher_harness.h"

#include <fstream>
#include <random>
#include <sstream>

#include "common/log_writer.h"
#include "common/settings_file.h"
#include "launcher/launcher.h"

namespace launchertest {

Recorded& recorded() {
    static Recorded r;
    return r;
}

namespace {

void write(const char* text) {
    recorded().console += text;
}

int runCommand(const std::string& commandLine) {
    recorded().commands.push_back(commandLine);
    recorded().consoleAtCommand.push_back(recorded().console);
    return 0;
}

bool keyWaiting() {
    return ++recorded().keyChecks >= recorded().keyAtCheck;
}

int readKey() {
    ++recorded().keysRead;
    return 'x';
}

void exitProcess(int code) {
    throw ProcessExit{code};
}

}  // namespace

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
    seams.write = write;
    seams.runCommand = runCommand;
    seams.keyWaiting = keyWaiting;
    seams.readKey = readKey;
    seams.exitProcess = exitProcess;
}

void LauncherTest::TearDown() {
    launcher::RestoreDefaultSeams();
    std::filesystem::current_path(previousDir_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
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
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool LauncherTest::exists(const std::string& name) {
    return std::filesystem::exists(name);
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
