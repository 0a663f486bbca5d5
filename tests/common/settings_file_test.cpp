#include "common/settings_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/test_folder.h"

namespace {

namespace fs = std::filesystem;

class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = testsupport::freshTestFolder("korvane_settings");
        file_ = dir_ / "Qm_Korvane_Launcher.ini";
        common::setSettingsPath(file_.string());
    }
    void TearDown() override {
        common::setSettingsPath("");
        fs::remove_all(dir_);
    }
    void write(const std::string& text) { std::ofstream(file_) << text; }
    static std::string readText(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path dir_;
    fs::path file_;
};

TEST_F(SettingsFileTest, KeysAreReadFromTheirSectionsOrTakeTheirDefaults) {
    const struct {
        const char* text;
        bool passive, serial;
        int setupComplete, device;
        const char* fuel;
    } cases[] = {
        {"[Other]\nPassiveMode=1\nPreferedDevice=3\n", false, false, 0, 1024, ""},
        {"[Setup]\nPassiveMode=2\nUseSerial=1\nSetupComplete=1\n[Controls]\nFuel=1133:49765:4\n"
         "[Audio]\nPreferedDevice=3\n",
         true, true, 1, 3, "1133:49765:4"},
    };
    for (const auto& c : cases) {
        write(c.text);
        EXPECT_EQ(common::readPassiveMode(), c.passive) << c.text;
        EXPECT_EQ(common::readUseSerial(), c.serial) << c.text;
        EXPECT_EQ(common::readSetupComplete(), c.setupComplete) << c.text;
        EXPECT_EQ(common::readPreferedDevice(), c.device) << c.text;
        EXPECT_EQ(common::readControlBinding("Fuel"), c.fuel) << c.text;
    }
}

TEST_F(SettingsFileTest, WrittenKeysReadBackAndKeepTheRest) {
    write("[Setup]\nPassiveMode=1\n");
    ASSERT_TRUE(common::writePreferedDevice(2));
    ASSERT_TRUE(common::writeSetupComplete());
    for (const char* key : common::kControlKeys) {
        ASSERT_TRUE(common::writeControlBinding(key, std::string(key) + ":1:1"));
    }
    EXPECT_EQ(common::readPreferedDevice(), 2);
    EXPECT_EQ(common::readSetupComplete(), 1);
    EXPECT_TRUE(common::readPassiveMode());
    for (const char* key : common::kControlKeys) {
        EXPECT_EQ(common::readControlBinding(key), std::string(key) + ":1:1");
    }
}

// A settings file that cannot be written fails the write; what was there stays, reading goes on
// with the defaults, and a file that cannot be read is never replaced (its other settings
// would be lost).
TEST_F(SettingsFileTest, UnwritableSettingsFailTheWriteAndKeepWhatWasThere) {
    const std::string kept = "[Setup]\nPassiveMode=1\n[Audio]\nPreferedDevice=3\n";
    fs::create_directories(dir_ / "folder.ini");
    std::ofstream(dir_ / "file", std::ios::binary) << kept;
    std::vector<fs::path> paths = {dir_ / "folder.ini", dir_ / "file" / "Qm_Korvane_Launcher.ini",
                                   dir_ / "missing" / "Qm_Korvane_Launcher.ini"};
#ifndef _WIN32
    const fs::path unreadable = dir_ / "unreadable.ini";
    std::ofstream(unreadable, std::ios::binary) << kept;
    fs::permissions(unreadable, fs::perms::none);
    if (!std::ifstream(unreadable)) {  // root reads it all the same
        paths.push_back(unreadable);
    }
#endif
    for (const fs::path& path : paths) {
        SCOPED_TRACE(path.string());
        common::setSettingsPath(path.string());
        EXPECT_FALSE(common::writePreferedDevice(7));
        EXPECT_FALSE(common::writeSetupComplete());
        EXPECT_EQ(common::readPreferedDevice(), 1024);
    }
#ifndef _WIN32
    fs::permissions(unreadable, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(readText(unreadable), kept);
#endif
    EXPECT_EQ(readText(dir_ / "file"), kept);
}

}  // namespace
