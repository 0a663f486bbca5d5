// Log and settings files that cannot be opened or written: a folder where the file should
// be, a folder that is a file, a full disk. The program says so once and goes on; nothing it
// already had is damaged.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "common/log_writer.h"
#include "common/settings_file.h"
#include "support/virtual_clock.h"

namespace fs = std::filesystem;

namespace {

class FileFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("korvane_file_faults_" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        common::PluginLog().setPath("");
        common::setSettingsPath("");
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    static std::string readFile(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static int count(const std::string& text, const std::string& part) {
        int n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
            ++n;
        }
        return n;
    }

    testsupport::VirtualClock clock_;
    testsupport::ScopedClock useClock_{clock_};
    fs::path dir_;
};

TEST_F(FileFaults, LogThatCannotBeWrittenIsReportedOnceAndTheProgramGoesOn) {
    struct Case {
        const char* name;
        std::string path;
        const char* said;
    } cases[] = {
        {"a folder in its place", (dir_ / "folder.log").string(), "cannot open the log file"},
        {"in a folder that is a file", (dir_ / "file" / "Qm_Korvane_Plugin.log").string(),
         "cannot open the log file"},
#ifndef _WIN32
        {"disk full", "/dev/full", "cannot write the log file"},
#endif
    };
    fs::create_directories(dir_ / "folder.log");
    std::ofstream(dir_ / "file") << "x";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        common::PluginLog().setPath(c.path);
        ::testing::internal::CaptureStderr();
        common::StartPluginLog("Starting Up.");
        for (int tick = 0; tick < 50; ++tick) {
            common::WritePluginLogf("LOG: Lap %d", tick);
        }
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(count(said, c.said), 1) << said;
        EXPECT_NE(said.find(c.path), std::string::npos) << said;

        // Once the file can be written again, lines arrive.
        const fs::path good = dir_ / "Qm_Korvane_Plugin.log";
        common::PluginLog().setPath(good.string());
        common::WritePluginLog("LOG: back");
        EXPECT_NE(readFile(good).find("LOG: back"), std::string::npos);
    }
}

TEST_F(FileFaults, SettingsThatCannotBeWrittenFailTheWriteAndKeepWhatWasThere) {
    const std::string kept = "[Setup]\nPassiveMode=1\n[Audio]\nPreferedDevice=3\n";
    struct Case {
        const char* name;
        fs::path path;
    } cases[] = {
        {"a folder in its place", dir_ / "folder.ini"},
        {"in a folder that is a file", dir_ / "file" / "Qm_Korvane_Launcher.ini"},
        {"in a folder that does not exist", dir_ / "missing" / "Qm_Korvane_Launcher.ini"},
    };
    fs::create_directories(dir_ / "folder.ini");
    std::ofstream(dir_ / "file", std::ios::binary) << kept;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        common::setSettingsPath(c.path.string());
        EXPECT_FALSE(common::writePreferedDevice(7));
        EXPECT_FALSE(common::writeSetupComplete());
        // Reading goes on with the defaults.
        EXPECT_EQ(common::readPreferedDevice(), 1024);
        EXPECT_EQ(readFile(dir_ / "file"), kept);
    }
#ifndef _WIN32
    // A settings file that cannot be read is never replaced: its other settings would be lost.
    const fs::path unreadable = dir_ / "unreadable.ini";
    std::ofstream(unreadable, std::ios::binary) << kept;
    fs::permissions(unreadable, fs::perms::none);
    if (!std::ifstream(unreadable)) {
        common::setSettingsPath(unreadable.string());
        EXPECT_FALSE(common::writePreferedDevice(7));
        fs::permissions(unreadable, fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(readFile(unreadable), kept);
    }
#endif
}

}  // namespace
