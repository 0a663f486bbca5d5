#include "plugin/app/plugin_main.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "plugin/engineer/race_state.h"
#include "support/race_fixture.h"

namespace {

using engineer::Race;
using racetest::contains;
using racetest::joined;
using racetest::script;

// The log with every time stamp written as 0, as the sleeps of start-up move the clock on.
std::string unstamped(const std::string& log) {
    return std::regex_replace(log, std::regex("KV: [0-9]+ : "), "KV: 0 : ");
}

class RunPluginTest : public racetest::PluginTest {
  protected:
    // Runs the plugin with `args` after the program name; returns the exit code.
    int run(std::vector<std::string> args) {
        std::vector<char*> argv;
        std::string program = "Qm_Korvane_Plugin";
        argv.push_back(program.data());
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        // The loop asks for the key by the clock, which a wait for the simulator moves on.
        sim_.waitPassesTime = true;
        ::testing::internal::CaptureStdout();
        const int code = app::RunPlugin(static_cast<int>(argv.size()) - 1, argv.data());
        out_ = ::testing::internal::GetCapturedStdout();
        return code;
    }
    // The seam calls without the clock's sleeps.
    std::string seamCalls() const {
        std::vector<std::string> calls = script().calls;
        std::erase_if(calls, [](const std::string& c) { return c.rfind("sleep ", 0) == 0; });
        return joined(calls);
    }

    std::string out_;
};

const char* const kStartLine = "KV: 0 :  Starting Up. \n";
const char* const kCloseLine = "KV: 0 :  Closing Down.\n";
const char* const kShuttingDown =
    " [ INFO ]  Shutting down.                                       \n\n";
const char* const kEngineClosed = " [ FMOD ]  Audio engine closed.\n";

// The run with "3" is the end-to-end test's; here the other arguments.
TEST_F(RunPluginTest, TheAudioInterfaceComesFromTheFirstArgument) {
    struct Case {
        std::vector<std::string> args;
        int32_t interfaceId;
        const char* line;
    };
    const Case cases[] = {
        {{}, 1024, "No predefined audio interface set. \n"},
        {{"3", "7"}, 3, "Using predefined audio interface: 3\n"},
        // atoi: no validation, a non-number is interface 0.
        {{"speakers"}, 0, "Using predefined audio interface: 0\n"},
        // 1024 given by hand asks as no argument does.
        {{"1024"}, 1024, "Using predefined audio interface: 1024\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        engineer::ResetRaceState();
        script() = racetest::SeamScript{};
        ASSERT_EQ(run(c.args), 0);
        EXPECT_EQ(Race().AudioInterfaceId, c.interfaceId);
        EXPECT_TRUE(contains(out_, std::string(" [ FMOD ]  ") + c.line)) << out_;
        EXPECT_EQ(seamCalls(),
                  std::string("setupControllers, createAudioEngine, ") +
                      (c.interfaceId == 1024 ? "selectAudioDeviceInteractive"
                                             : "selectAudioDevicePredefined") +
                      ", openSerialPitBoard, closeSerialPitBoard, shutdownAudioEngine");
        // The adjusting pause before the engine starts, on the clock: nothing waits in real time.
        const std::vector<std::string>& calls = script().calls;
        EXPECT_LT(std::find(calls.begin(), calls.end(), "sleep 1000"),
                  std::find(calls.begin(), calls.end(), "createAudioEngine"))
            << joined(calls);
    }
}

TEST_F(RunPluginTest, PassiveModeStartsWithoutControllersOrAudio) {
    writeSettings("[Setup]\nPassiveMode=1\n");
    script().keyAtCheck = 3;
    ASSERT_EQ(run({"3"}), 0);
    EXPECT_EQ(Race().PassiveMode.load(), 1);
    EXPECT_EQ(Race().AdaptiveTireManagement, 0);
    EXPECT_EQ(Race().AudioInterfaceId, 1024);
    // Each waiting tick serves the engine; with none created that touches nothing. The key
    // is asked for at the end of the first tick past 200 ms of the clock: the first waiting
    // tick also clears the screen (16 + 100 ms; the Windows logo may pause on its own), each
    // later one waits 16 ms for the simulator, so 13 ticks between later checks.
    const std::string calls = seamCalls();
    std::string ticks;
    for (size_t n = calls.size(); ticks.size() + 60 < n;) {
        ticks += "updateAudioEngine, ";
    }
    EXPECT_EQ(calls, "openSerialPitBoard, " + ticks + "closeSerialPitBoard, shutdownAudioEngine");
    const std::vector<int64_t>& at = script().keyCheckMs;
    ASSERT_EQ(at.size(), 4u);
    EXPECT_GE(at[1] - at[0], 200);
    EXPECT_LT(at[1] - at[0], 300);
    EXPECT_EQ((std::vector<int64_t>{at[2] - at[1], at[3] - at[2]}),
              (std::vector<int64_t>{208, 208}));
    EXPECT_EQ(unstamped(readLog()), std::string(kStartLine) + kCloseLine);
}

TEST_F(RunPluginTest, EarlyEndsCloseWhatWasOpened) {
    struct Case {
        const char* name;
        bool engineStarts, serialOpens;
        int code, keyChecks;
        const char* calls;
        std::string tail;
        std::string log;
    };
    const std::string opened = "setupControllers, createAudioEngine, selectAudioDevicePredefined";
    const Case cases[] = {
        {"a key before the first tick", true, true, 0, 1,
         "openSerialPitBoard, closeSerialPitBoard, shutdownAudioEngine",
         std::string(kShuttingDown) + kEngineClosed, std::string(kStartLine) + kCloseLine},
        // The log of the previous run stays.
        {"the audio engine cannot start", false, true, 1, 0, nullptr,
         " [ FMOD ]  Audio engine init failed.\n", "the previous run\n"},
        {"the pit board cannot open", true, false, 0, 0, "openSerialPitBoard, shutdownAudioEngine",
         std::string(" [ INFO ]  init failed\n") + kEngineClosed, kStartLine},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        { std::ofstream(dir_ / "Qm_Korvane_Plugin.log") << "the previous run\n"; }
        script() = racetest::SeamScript{};
        script().audioEngineStarts = c.engineStarts;
        script().serialOpens = c.serialOpens;
        EXPECT_EQ(run({"3"}), c.code);
        EXPECT_EQ(script().keyChecks, c.keyChecks);
        EXPECT_EQ(seamCalls(), c.calls ? opened + ", " + c.calls
                                       : std::string("setupControllers, createAudioEngine"));
        EXPECT_FALSE(contains(out_, "Waiting for the sim")) << "a tick ran";
        ASSERT_GE(out_.size(), c.tail.size());
        EXPECT_EQ(out_.substr(out_.size() - c.tail.size()), c.tail);
        EXPECT_EQ(unstamped(readLog()), c.log);
    }
}

}  // namespace
