#include "tests/support/simfeed_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/clock.h"

namespace simfeedtest {

namespace fs = std::filesystem;

namespace {

// Built by appending: mingw's g++ 12 at -O3 warns falsely (-Wrestrict) on "x" + string.
std::string inQuotes(const std::string& s) {
    std::string quoted = "\"";
    quoted.append(s).append("\"");
    return quoted;
}

std::string feedExecutable(bool* windows) {
    const char* bin = std::getenv("KORVANE_BIN_DIR");
    if (bin == nullptr) {
        return {};
    }
    std::string dir = hostPath(bin);
    std::error_code ec;
    for (const char* name : {"Qm_Korvane_SimFeed.exe", "Qm_Korvane_SimFeed"}) {
        fs::path p = fs::path(dir) / name;
        if (fs::is_regular_file(p, ec)) {
            *windows = std::string(name).find(".exe") != std::string::npos;
            return p.make_preferred().string();
        }
    }
    return {};
}

}  // namespace

std::string scenarioDir() {
    const char* src = std::getenv("KORVANE_SOURCE_DIR");
    return std::string(src != nullptr ? src : ".") + "/tools/simfeed/scenarios";
}

simfeed::Scenario shippedScenario(const std::string& name) {
    simfeed::ScenarioLoad load = simfeed::loadScenarioFile(scenarioDir() + "/" + name + ".ini");
    EXPECT_TRUE(load.scenario.has_value())
        << name << ": " << (load.errors.empty() ? "" : load.errors.front());
    return load.scenario.value_or(simfeed::defaultScenario());
}

std::string hostPath(const std::string& unixPath) {
    std::error_code ec;
    if (fs::exists(unixPath, ec)) {
        return unixPath;
    }
    std::string drive = "Z:";
    drive += unixPath;
    if (fs::exists(drive, ec)) {
        return fs::path(drive).make_preferred().string();
    }
    return unixPath;
}

FeedProcess::FeedProcess(const std::string& name) {
    std::random_device rd;
    std::mt19937 gen(rd() ^ static_cast<unsigned>(platform::clock().steadyMs()));
    dir_ = (fs::temp_directory_path() / ("korvane_" + name + "_" + std::to_string(gen() % 1000000)))
               .string();
    fs::create_directories(dir_);
    log_ = (fs::path(dir_) / "Qm_Korvane_SimFeed.log").string();
    stopFile_ = (fs::path(dir_) / "stop").string();
}

FeedProcess::~FeedProcess() {
    stop();
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

bool FeedProcess::start(const std::vector<std::string>& args) {
    bool windows = false;
    std::string exe = feedExecutable(&windows);
    if (exe.empty()) {
        error_ = "Qm_Korvane_SimFeed not found in KORVANE_BIN_DIR";
        return false;
    }
    std::error_code ec;
    fs::remove(stopFile_, ec);
    fs::remove(log_, ec);
    std::string cmd = inQuotes(exe);
    for (const std::string& a : args) {
        cmd.append(" ").append(inQuotes(a));
    }
    cmd.append(" --log ").append(inQuotes(log_));
    cmd.append(" --stop-file ").append(inQuotes(stopFile_));
    cmd.append(" --no-keyboard --quiet");
    std::string out = (fs::path(dir_) / "output.txt").string();
    if (windows) {
        std::string line = "start \"\" /b ";
        cmd = line.append(cmd).append(" > ").append(inQuotes(out)).append(" 2>&1");
    } else {
        cmd.append(" > ").append(inQuotes(out)).append(" 2>&1 < /dev/null &");
    }
    if (std::system(cmd.c_str()) != 0) {
        error_ = "cannot start: " + cmd;
        return false;
    }
    running_ = true;
    return waitForLogLine("START", 20000);
}

bool FeedProcess::waitForLogLine(const std::string& text, int timeoutMs) {
    const int64_t end = platform::clock().steadyMs() + timeoutMs;
    while (platform::clock().steadyMs() < end) {
        if (logText().find(text) != std::string::npos) {
            return true;
        }
        platform::sleepMs(20);
    }
    error_ = "no '" + text + "' in the feed's log after " + std::to_string(timeoutMs) + " ms:\n" +
             logText();
    return false;
}

bool FeedProcess::stop(int timeoutMs) {
    if (!running_) {
        return true;
    }
    running_ = false;
    { std::ofstream(stopFile_) << "stop\n"; }
    return waitForLogLine("STOP", timeoutMs);
}

std::string FeedProcess::logText() const {
    std::ifstream f(log_);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

}  // namespace simfeedtest
