#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/settings_file.h"
#include "os_helpers.h"
#include "platform/serial_port.h"
#include "plugin/engineer/race_state.h"
#include "plugin/links/ctrl_c.h"
#include "plugin/links/serial_pit_board.h"
#include "support/test_folder.h"
#include "support/virtual_clock.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

using namespace std::string_literals;

// The device list the fake source hands out (names each ended by a zero, the list by an empty
// name), and the error it fails with (0: it succeeds).
std::string fakeNames;
int fakeError = 0;

bool fakeSource(std::string* names, int* errorCode) {
    if (fakeError != 0) {
        *errorCode = fakeError;
        return false;
    }
    *names = fakeNames;
    return true;
}

class SerialPitBoard : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = testsupport::freshTestFolder("korvane_serial");
        common::setSettingsPath((dir_ / "Qm_Korvane_Launcher.ini").string());
        engineer::ResetRaceState();
        fakeNames.clear();
        fakeError = 0;
    }
    void TearDown() override {
        links::CloseSerialPitBoard();
        links::SetDeviceNameSource(nullptr);
        platform::setSerialDeviceDirectory("");
        common::setSettingsPath("");
    }
    void useSerial(int value) {
        std::ofstream(dir_ / "Qm_Korvane_Launcher.ini") << "[Setup]\nUseSerial=" << value << "\n";
    }
    // Runs OpenSerialPitBoard on a virtual clock; returns its result, the console text and
    // the waits it made.
    bool open(std::string* console, std::vector<int>* sleeps) {
        testsupport::VirtualClock clock;
        testsupport::ScopedClock installed(clock);
        ::testing::internal::CaptureStdout();
        const bool ok = links::OpenSerialPitBoard();
        *console = ::testing::internal::GetCapturedStdout();
        *sleeps = clock.sleeps();
        return ok;
    }
    fs::path dir_;
};

TEST_F(SerialPitBoard, FindComPortsReadsTheDeviceList) {
    struct Case {
        const char* name;
        std::string names;
        int capacity;
        int highest;
        std::vector<int> stored;
        int error = 0;  // the list cannot be had
        const char* console = "";
    };
    const Case cases[] = {
        {"highest by number, not by text", "COM1\0COM10\0COM3\0\0"s, 32, 10, {1, 10, 3}},
        {"other devices ignored", "C:\0LPT1\0COM2\0NUL\0PhysicalDrive0\0\0"s, 32, 2, {2}},
        {"bare COM and COMx do not count", "COM\0COMx\0COM_1\0com5\0xCOM7\0\0"s, 32, -1, {}},
        {"digits after COM", "COM4A\0COM12\0\0"s, 32, 12, {4, 12}},
        {"highest kept beyond the capacity", "COM1\0COM3\0COM10\0\0"s, 2, 10, {1, 3}},
        {"no capacity", "COM5\0\0"s, 0, 5, {}},
        {"empty list", "\0"s, 32, -1, {}},
        {"list without its closing empty name", std::string("COM6\0COM8", 9), 32, 8, {6, 8}},
        {"the list ends at its empty name", std::string("COM1\0\0COM9", 10), 32, 1, {1}},
        {"list needs more room", "COM1\0\0"s, 32, -1, {}, 122, "needs more room!\n"},
        {"list refused", "COM1\0\0"s, 32, -1, {}, 5},
    };
    links::SetDeviceNameSource(fakeSource);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakeNames = c.names;
        fakeError = c.error;
        int ports[32] = {0};
        int count = c.capacity;
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(links::FindComPorts(ports, &count), c.highest);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.console);
        EXPECT_EQ(std::vector<int>(ports, ports + count), c.stored);
    }
}

// Serial off by the setting, or on without a port: either way nothing is written afterwards.
TEST_F(SerialPitBoard, WithoutAPortNothingIsWritten) {
    struct Case {
        int useSerial;
        bool opened;
        const char* console;
        int sleep;
    };
    const Case cases[] = {
        {0, true, " [\033[32m  OK  \033[0m]  Setting Serial Offline.\n", 2000},
        {1, false,
         " [\033[32m  OK  \033[0m]  Initilaising Serial..\n"
         " [\033[33m FAIL \033[0m]  Unable to open a Serial Port -1\n",
         3000},
    };
    links::SetDeviceNameSource(fakeSource);
    fakeNames = "C:\0LPT1\0\0"s;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.useSerial);
        useSerial(c.useSerial);
        std::string console;
        std::vector<int> sleeps;
        EXPECT_EQ(open(&console, &sleeps), c.opened);
        EXPECT_EQ(console, c.console);
        EXPECT_EQ(sleeps, std::vector<int>{c.sleep});
        EXPECT_EQ(engineer::Race().UseSerial, 0);
        EXPECT_EQ(links::WriteSerialLine("%s", "line\r"), 0);
    }
    // Nor does a missing format or an empty line.
    EXPECT_EQ(links::WriteSerialLine(nullptr), 0);
    EXPECT_EQ(links::WriteSerialLine("%s", ""), 0);
}

constexpr const char* kLine = " 5, 12, 30,12.50, 40,  0,  0\r";

#ifndef _WIN32
TEST_F(SerialPitBoard, TheLineArrivesByteForByteOnTheHighestPort) {
    platform_test::PseudoTerminal board;
    platform_test::PseudoTerminal other;
    ASSERT_TRUE(board.ok() && other.ok());
    fs::create_symlink(board.devicePath(), dir_ / "COM10");
    fs::create_symlink(other.devicePath(), dir_ / "COM3");
    platform::setSerialDeviceDirectory(dir_.string());
    useSerial(1);

    std::string console;
    std::vector<int> sleeps;
    ASSERT_TRUE(open(&console, &sleeps));
    EXPECT_EQ(console,
              " [\033[32m  OK  \033[0m]  Initilaising Serial..\n"
              " [\033[32m  OK  \033[0m]  Setting Highest Available Serial Port:10\n");
    EXPECT_EQ(sleeps, std::vector<int>{3000});
    EXPECT_EQ(engineer::Race().UseSerial, 1);

    EXPECT_EQ(links::WriteSerialLine("%s", kLine), 29);
    EXPECT_EQ(board.read(29, 5000), kLine);  // the carriage return untranslated
    EXPECT_EQ(other.read(1, 50), "");
    // The longest line goes whole and a longer one is cut to it, never with the closing zero.
    for (const auto& [length, sent] :
         {std::pair{4094, 4094}, std::pair{4096, 4095}, std::pair{5000, 4095}}) {
        const std::string text(static_cast<size_t>(length), 'x');
        EXPECT_EQ(links::WriteSerialLine("%s", text.c_str()), sent);
        EXPECT_TRUE(board.read(static_cast<size_t>(sent), 5000) == text.substr(0, sent)) << length;
    }

    // The port is not shared while the pit board holds it.
    platform::SerialOpenFailure why = platform::SerialOpenFailure::kNone;
    EXPECT_EQ(platform::openSerialPort(10, &why), nullptr);
    EXPECT_EQ(why, platform::SerialOpenFailure::kOpen);

    // An unplugged device costs at most the write time-out, and the tick goes on.
    board.hangUp();
    const auto start = std::chrono::steady_clock::now();
    links::WriteSerialLine("%s", kLine);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    links::CloseSerialPitBoard();
    EXPECT_EQ(links::WriteSerialLine("%s", kLine), 0);
}

// ctrl-c ends the plugin from the interrupt watcher: the pit board is closed and the process
// ends with success, whatever the tick was doing.
TEST(CtrlC, ClosesThePitBoardAndEndsTheProcessWithSuccess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            links::setCtrlCCleanup([] { std::fputs("pit board closed\n", stderr); });
            links::InstallCtrlCHandler();
            std::raise(SIGINT);
            for (;;) {
                ::pause();
            }
        },
        ::testing::ExitedWithCode(0), "pit board closed");
}

TEST(SerialDevices, DeviceNamesBecomeComNumbers) {
    const fs::path dir = testsupport::freshTestFolder("korvane_dev");
    for (const char* name : {"ttyS0", "ttyS3", "ttyUSB0", "ttyUSB2", "ttyACM1", "COM7", "tty1",
                             "ttyUSBx", "console", "COM"}) {
        std::ofstream(dir / name) << "";
    }
    platform::setSerialDeviceDirectory(dir.string());
    std::string names;
    int error = -1;
    ASSERT_TRUE(platform::listDeviceNames(&names, &error));
    EXPECT_EQ(error, 0);
    EXPECT_EQ(names, "COM1\0COM4\0COM7\0COM100\0COM102\0COM201\0\0"s);
    EXPECT_FALSE(platform::listDeviceNames(&names, &error, 10));
    EXPECT_EQ(error, 122);
    // A plain file is no serial device: found, but its settings cannot be made.
    platform::SerialOpenFailure why = platform::SerialOpenFailure::kNone;
    EXPECT_EQ(platform::openSerialPort(7, &why), nullptr);
    EXPECT_EQ(why, platform::SerialOpenFailure::kSettings);
    EXPECT_EQ(platform::openSerialPort(8, &why), nullptr);
    EXPECT_EQ(why, platform::SerialOpenFailure::kOpen);
    platform::setSerialDeviceDirectory("");
}
#else
TEST(SerialDevices, TheSystemListsItsDevices) {
    std::string names;
    int error = -1;
    ASSERT_TRUE(platform::listDeviceNames(&names, &error));
    EXPECT_GT(names.size(), 2u);
    EXPECT_FALSE(platform::listDeviceNames(&names, &error, 10));
    EXPECT_EQ(error, 122);
}

// Run by wine_serial_test.sh, which links COM<KORVANE_TEST_COM_PORT> in the Wine prefix to a
// pseudo-terminal whose output it records in the file KORVANE_TEST_COM_CAPTURE.
TEST_F(SerialPitBoard, TheLineArrivesByteForByteOnTheHighestPort) {
    const char* port = std::getenv("KORVANE_TEST_COM_PORT");
    const char* capture = std::getenv("KORVANE_TEST_COM_CAPTURE");
    if (!port || !capture) {
        GTEST_SKIP() << "needs the pseudo-terminal of wine_serial_test.sh";
    }
    links::SetDeviceNameSource(fakeSource);
    fakeNames = "COM1\0COM"s + port + "\0LPT1\0\0"s;
    useSerial(1);
    std::string console;
    std::vector<int> sleeps;
    ASSERT_TRUE(open(&console, &sleeps)) << console;
    EXPECT_NE(console.find(std::string("Setting Highest Available Serial Port:") + port + "\n"),
              std::string::npos);
    EXPECT_EQ(links::WriteSerialLine("%s", kLine), 29);
    links::CloseSerialPitBoard();
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (got.size() < 29 && std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(capture, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        got = ss.str();
    }
    EXPECT_EQ(got, kLine);
}
#endif

}  // namespace
