#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "os_helpers.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/system.h"

namespace {

TEST(Console, OnlyBytesWaitingInAPipeCountAsKeysNeverTheEndOfInput) {
    {
        platform_test::StdinPipe pipe;
        ASSERT_TRUE(pipe.ok());
        EXPECT_FALSE(platform::keyWaiting());
        ASSERT_TRUE(pipe.write("q"));
        EXPECT_TRUE(platform::keyWaiting());
        EXPECT_TRUE(platform::keyWaiting());  // testing does not consume the key
        EXPECT_EQ(platform::readKeyNoEcho(), 'q');
        EXPECT_FALSE(platform::keyWaiting());
        pipe.closeWriter();
        EXPECT_FALSE(platform::keyWaiting());
        EXPECT_EQ(platform::readKeyNoEcho(), -1);
    }
    // A plugin started with its input redirected, or with none, runs until it is stopped.
    const std::string file =
        (std::filesystem::temp_directory_path() / platform_test::uniqueName("korvane_stdin"))
            .string();
    {
        std::FILE* f = std::fopen(file.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("q\n", f);
        std::fclose(f);
    }
#ifdef _WIN32
    const std::string nullDevice = "NUL";
#else
    const std::string nullDevice = "/dev/null";
#endif
    for (const std::string& input : {nullDevice, file, std::string()}) {
        SCOPED_TRACE(input.empty() ? "no input" : input);
        platform_test::StdinFrom redirected(input);
        ASSERT_TRUE(redirected.ok());
        EXPECT_FALSE(platform::keyWaiting());
        EXPECT_FALSE(platform::keyWaiting());
    }
    std::remove(file.c_str());
}

TEST(Console, TitleRoundTrips) {
    const std::string before = platform::consoleTitle();
    platform::setConsoleTitle("Brenvik Korvane x64 ");
    const std::string now = platform::consoleTitle();
#ifdef _WIN32
    if (now.empty()) {
        GTEST_SKIP() << "no console window (output redirected)";
    }
#endif
    EXPECT_EQ(now, "Brenvik Korvane x64 ");
    platform::setConsoleTitle(before);
}

TEST(System, ErrorTextCommandStatusAndExecutableDirectory) {
    for (int code : {2, 5, 122}) {
        const std::string text = platform::errorText(code);
        SCOPED_TRACE(code);
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
        EXPECT_NE(text.back(), ' ');
    }
    EXPECT_EQ(platform::runCommand("exit 0"), 0);
    EXPECT_EQ(platform::runCommand("exit 3"), 3);
#ifndef _WIN32
    EXPECT_EQ(platform::runCommand("kill -KILL $$"), 128 + 9);  // as a shell reports a signal
#endif
    const std::filesystem::path dir = platform::executableDirectory();
#ifdef _WIN32
    EXPECT_TRUE(std::filesystem::exists(dir / "platform_core_test.exe"));
#else
    EXPECT_TRUE(std::filesystem::exists(dir / "platform_core_test"));
#endif
    platform::raiseProcessPriority();  // best effort: must not fail the process
    platform::beginTimerPeriod();
    platform::endTimerPeriod();
}

TEST(Clock, SystemCalendarAndUtcAgree) {
    using namespace std::chrono;
    auto& c = platform::systemClock();
    const int64_t before = c.calendarSeconds();
    const platform::UtcTime t = c.utcNow();
    const int64_t after = c.calendarSeconds();
    const sys_days day = year(t.year) / t.month / t.day;
    const int64_t fromUtc =
        day.time_since_epoch().count() * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
    EXPECT_GE(fromUtc, before - 1);
    EXPECT_LE(fromUtc, after + 1);
    EXPECT_GE(t.millisecond, 0);
    EXPECT_LE(t.millisecond, 999);
    const int64_t s0 = c.steadyMs();
    c.sleepMs(5);
    EXPECT_GE(c.steadyMs() - s0, 4);
}

}  // namespace
