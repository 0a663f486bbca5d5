#include "common/settings_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        file_ =
            fs::temp_directory_path() /
            ("korvane_settings_" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".ini");
        fs::remove(file_);
        common::setSettingsPath(file_.string());
    }
    void TearDown() override {
        common::setSettingsPath("");
        fs::remove(file_);
    }
    void write(const std::string& text) { std::ofstream(file_) << text; }

    fs::path file_;
};

TEST_F(SettingsFileTest, MissingKeysTakeTheirDefaults) {
    write("[Other]\nPassiveMode=1\n");
    EXPECT_FALSE(common::readPassiveMode());
    EXPECT_FALSE(common::readUseSerial());
    EXPECT_EQ(common::readSetupComplete(), 0);
    EXPECT_EQ(common::readPreferedDevice(), 1024);
    EXPECT_EQ(common::readControlBinding("Fuel"), "");
}

TEST_F(SettingsFileTest, KeysAreReadFromTheirSections) {
    write(
        "[Setup]\nPassiveMode=2\nUseSerial=1\nSetupComplete=1\n"
        "[Controls]\nFuel=1133:49765:4\nModeConfig=0:0:3\n"
        "[Audio]\nPreferedDevice=3\n");
    EXPECT_TRUE(common::readPassiveMode());
    EXPECT_TRUE(common::readUseSerial());
    EXPECT_EQ(common::readSetupComplete(), 1);
    EXPECT_EQ(common::readControlBinding("Fuel"), "1133:49765:4");
    EXPECT_EQ(common::readControlBinding("ModeConfig"), "0:0:3");
    EXPECT_EQ(common::readPreferedDevice(), 3);
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

}  // namespace
