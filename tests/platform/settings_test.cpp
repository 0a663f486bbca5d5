#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/test_folder.h"
#include "platform/settings.h"

namespace fs = std::filesystem;

namespace {

class SettingsFile : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = testsupport::freshTestFolder("korvane_ini"); }
    // A fresh file per case: Windows caches profile files by name and time stamp.
    std::string write(const std::string& content) {
        const fs::path p = dir_ / ("case" + std::to_string(counter_++) + ".ini");
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    fs::path dir_;
    int counter_ = 0;
};

struct ReadCase {
    const char* name;
    const char* content;
    const char* section;
    const char* key;
    int expectedInt;          // with default -99
    const char* expectedStr;  // with default "dflt"
};

TEST_F(SettingsFile, ReadsLikeThePrivateProfileFunctions) {
    const ReadCase cases[] = {
        {"plain", "[Setup]\nPassiveMode=1\n", "Setup", "PassiveMode", 1, "1"},
        {"names ignore case", "[setup]\npassivemode=7\n", "SETUP", "PassiveMODE", 7, "7"},
        {"blanks around key and value", "[Setup]\n  UseSerial   =   42   \n", "Setup", "UseSerial",
         42, "42"},
        {"tab blanks", "[Setup]\n\tUseSerial\t=\t5\t\n", "Setup", "UseSerial", 5, "5"},
        {"leading integer", "[A]\nK=12abc\n", "A", "K", 12, "12abc"},
        {"negative", "[A]\nK= -7x\n", "A", "K", -7, "-7x"},
        {"plus sign", "[A]\nK=+5\n", "A", "K", 5, "+5"},
        {"no number", "[A]\nK=abc\n", "A", "K", 0, "abc"},
        {"empty value", "[A]\nK=\n", "A", "K", -99, ""},
        {"missing key", "[A]\nOther=1\n", "A", "K", -99, "dflt"},
        {"missing section", "[B]\nK=1\n", "A", "K", -99, "dflt"},
        {"key of another section", "[A]\nX=1\n[B]\nK=3\n", "A", "K", -99, "dflt"},
        {"crlf lines", "[A]\r\nK=abc\r\nN=9\r\n", "A", "K", 0, "abc"},
        {"crlf number", "[A]\r\nK=abc\r\nN=9\r\n", "A", "N", 9, "9"},
        {"no final line end", "[A]\nK=31", "A", "K", 31, "31"},
        {"comment line", "[A]\n; K=5\nJ=1\n", "A", "K", -99, "dflt"},
        {"double quotes stripped", "[A]\nK=\"hello world\"\n", "A", "K", 0, "hello world"},
        {"single quotes stripped", "[A]\nK='x y'\n", "A", "K", 0, "x y"},
        {"quoted number", "[A]\nK=\"12\"\n", "A", "K", 12, "12"},
        {"unmatched quote kept", "[A]\nK=\"abc\n", "A", "K", 0, "\"abc"},
        {"inner quotes kept", "[A]\nK=a\"b\"\n", "A", "K", 0, "a\"b\""},
        {"binding text", "[Controls]\nFuel=0:3:1\n", "Controls", "Fuel", 0, "0:3:1"},
        {"key with inner blank", "[A]\nFuel Button = 3\n", "A", "Fuel Button", 3, "3"},
        {"asked names taken trimmed", "[Setup]\nUseSerial=2\n", " Setup\t", "  UseSerial ", 2, "2"},
        {"indented section", "  [A]  \nK=4\n", "A", "K", 4, "4"},
        {"value keeps equals", "[A]\nK=a=b\n", "A", "K", 0, "a=b"},
        {"utf-8 byte-order mark", "\xEF\xBB\xBF[Setup]\r\nPassiveMode=1\r\n", "Setup",
         "PassiveMode", 1, "1"},
        {"first of twin keys", "[A]\nK=1\nK=2\n", "A", "K", 1, "1"},
        {"big number wraps like Windows", "[A]\nK=4294967297\n", "A", "K", 1, "4294967297"},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = write(c.content);
        EXPECT_EQ(platform::profileInt(c.section, c.key, -99, path), c.expectedInt);
        EXPECT_EQ(platform::profileString(c.section, c.key, "dflt", path), c.expectedStr);
    }
}

// A missing file gives the defaults (without their trailing blanks); a string is cut to the
// caller's buffer.
TEST_F(SettingsFile, DefaultsAndShortBuffers) {
    const std::string absent = (dir_ / "absent.ini").string();
    EXPECT_EQ(platform::profileInt("Audio", "PreferedDevice", 1024, absent), 1024);
    EXPECT_EQ(platform::profileString("Controls", "Fuel", "", absent), "");
    EXPECT_EQ(platform::profileString("A", "K", "abc  ", absent), "abc");
    const std::string path = write("[A]\nK=abcdef\nQ=\"abcdef\"\n");
    EXPECT_EQ(platform::profileString("A", "K", "", path, 4), "abc");
    EXPECT_EQ(platform::profileString("A", "K", "", path, 7), "abcdef");
    EXPECT_EQ(platform::profileString("A", "Q", "", path, 9), "abcdef");
    EXPECT_EQ(platform::profileString("A", "missing", "123456", path, 3), "12");
}

// Into no file at all, and into one that starts with a byte-order mark.
TEST_F(SettingsFile, WritingCreatesFileSectionAndKeyAndLeavesOtherSettingsAlone) {
    const std::string created = (dir_ / "new.ini").string();
    ASSERT_TRUE(platform::writeProfileString("Controls", "Fuel", "0:3:1", created));
    ASSERT_TRUE(platform::writeProfileString("Controls", "Tire", "0:4:1", created));
    EXPECT_EQ(platform::profileString("Controls", "Fuel", "", created), "0:3:1");
    EXPECT_EQ(platform::profileString("Controls", "Tire", "", created), "0:4:1");
    const std::string original =
        "\xEF\xBB\xBF[Setup]\r\n"
        "; Brenvik Korvane\r\n"
        "PassiveMode = 0\r\n"
        "UseSerial=1\r\n"
        "\r\n"
        "[Controls]\r\n"
        "Fuel=0:3:1\r\n"
        "\r\n"
        "[Audio]\r\n"
        "PreferedDevice=2\r\n";
    const std::string path = write(original);
    ASSERT_TRUE(platform::writeProfileString("controls", "fuel", "1:5:1", path));  // replace
    ASSERT_TRUE(platform::writeProfileString("Controls", "Tire", "1:6:1", path));  // add key
    ASSERT_TRUE(platform::writeProfileString("Setup", "SetupComplete", "1", path));
    ASSERT_TRUE(platform::writeProfileString("Service", "Host", "127.0.0.1", path));  // section
    // Names with blanks around them are the same setting, not a second one beside it.
    ASSERT_TRUE(platform::writeProfileString(" Audio", "  PreferedDevice ", "3", path));

    EXPECT_EQ(platform::profileInt("Setup", "PassiveMode", -1, path), 0);
    EXPECT_EQ(platform::profileInt("Setup", "UseSerial", -1, path), 1);
    EXPECT_EQ(platform::profileInt("Setup", "SetupComplete", -1, path), 1);
    EXPECT_EQ(platform::profileString("Controls", "Fuel", "", path), "1:5:1");
    EXPECT_EQ(platform::profileString("Controls", "Tire", "", path), "1:6:1");
    EXPECT_EQ(platform::profileInt("Audio", "PreferedDevice", -1, path), 3);
    EXPECT_EQ(platform::profileString("Service", "Host", "", path), "127.0.0.1");
    EXPECT_EQ(platform::profileString("Audio", "Tire", "none", path), "none");
#ifndef _WIN32
    // The exact file: every untouched line as it was, new keys at the end of their section,
    // the new section at the end, the file's own line ends.
    EXPECT_EQ(read(path),
              "\xEF\xBB\xBF[Setup]\r\n"
              "; Brenvik Korvane\r\n"
              "PassiveMode = 0\r\n"
              "UseSerial=1\r\n"
              "SetupComplete=1\r\n"
              "\r\n"
              "[Controls]\r\n"
              "Fuel=1:5:1\r\n"
              "Tire=1:6:1\r\n"
              "\r\n"
              "[Audio]\r\n"
              "PreferedDevice=3\r\n"
              "\r\n"
              "[Service]\r\n"
              "Host=127.0.0.1\r\n");
#endif
}

TEST_F(SettingsFile, WritesThatWouldCorruptTheFileAreRefused) {
    const std::string original = "[Setup]\nUseSerial=0\n";
    const std::string path = write(original);
    const struct {
        const char* section;
        const char* key;
        const char* value;
    } refused[] = {
        {"Setup", "UseSerial", "1\n[Setup]\nPassiveMode=1"},
        {"Setup", "Use\rSerial", "1"},
        {"Se]tup", "UseSerial", "1"},
        {"Setup", "Use=Serial", "1"},
        {"", "UseSerial", "1"},
        {"Setup", "", "1"},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.key);
        EXPECT_FALSE(platform::writeProfileString(r.section, r.key, r.value, path));
    }
    EXPECT_EQ(read(path), original);
    EXPECT_FALSE(platform::writeProfileString("Setup", "UseSerial", "1",
                                              (dir_ / "no" / "such" / "dir.ini").string()));
}

}  // namespace
