#include "plugin/app/main_tick.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/shared_memory.h"
#include "plugin/app/banner.h"
#include "plugin/engineer/race_state.h"
#include "support/race_fixture.h"

namespace {

using engineer::Race;
using engineer::RaceState;
using racetest::contains;
using racetest::joined;
using racetest::script;

using Calls = std::vector<std::string>;

const char* const kWaitForSim =
    " [\033[33m WAIT \033[0m]  No connection to iRacing.. (Waiting for the sim)\n\n";
const char* const kConnected = " [\033[32m  OK  \033[0m]  Connected to iRacing.\n\n";
const char* const kActive = " [\033[32m  OK  \033[0m]  Plugin Mode: Active\n";
const char* const kPassive = " [\033[32m  OK  \033[0m]  Plugin Mode: Passive\n";
const char* const kLinkClosing = " [\033[32m  OK  \033[0m]  QRD link closing.\n";
const char* const kLinkConnected = " [\033[32m  OK  \033[0m]  QRD Link Connected.\n";
const char* const kWaitForTelemetry =
    "\n [\033[33m WAIT \033[0m]  Waiting for telemetry...      \n";
const char* const kLoaded = " [\033[32m  OK  \033[0m]  Telemetry Loaded.             \n";

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

class MainTickTest : public racetest::PluginTest {
  protected:
    // A car in the world with the given track surface; the seams' calls start afresh.
    void inTheWorld(int surface) {
        sim_.setBool("IsOnTrack", true);
        sim_.setInt("PlayerTrackSurface", surface);
        script().calls.clear();
    }
};

TEST_F(MainTickTest, WithoutTheSimulatorTheFirstWatchDrawsTheBannerOnce) {
    struct Case {
        const char* settings;
        uint8_t applicationSwitch;
        std::string afterBanner;
        uint8_t passive;
    };
    const std::string debug = " [\033[33m DEBUG \033[0m]  ApplicationSwitch: ON\n\n";
    const Case cases[] = {
        {"[Setup]\nPassiveMode=0\n", 0, kActive, 0},
        {"[setup]\npassivemode=7\n", 1, kPassive + debug, 1},
    };
    telemetry::Telemetry().replaceConnection(nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        app::ResetMainTick();
        engineer::ResetRaceState();
        timeline_.clear();
        writeSettings(c.settings);
        Race().ApplicationSwitch = c.applicationSwitch;
        script().calls.clear();
        EXPECT_EQ(tick(), std::string(app::kPluginBanner) + "\n" + c.afterBanner + kWaitForSim);
        EXPECT_EQ(Race().PassiveMode.load(), c.passive);
        EXPECT_EQ(Race().AdaptiveTireManagement, 1 - c.passive);
        EXPECT_EQ(voiceEvents(), Calls{"say later: Waiting for the sim."});
        EXPECT_EQ(Race().LocalLinkOpen, 0);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(tick(), "");
        }
        EXPECT_EQ(voiceEvents().size(), 1u);
        // Only the connection watch ran, and the sound went on: no per-row work without
        // telemetry. The missing simulator's first wait, the console redraw, then the audio
        // engine's turn and a wait each tick.
        const std::string calls = joined(script().calls);
        std::string turns = "updateAudioEngine";
        for (int i = 0; i < 5; ++i) {
            turns += ", sleep 16, updateAudioEngine";
        }
        EXPECT_EQ(calls.rfind("sleep 16, sleep 100, ", 0), 0u) << calls;
        EXPECT_EQ(calls.substr(calls.find("updateAudioEngine")), turns) << calls;
    }
}

TEST_F(MainTickTest, LosingTheSimulatorClosesTheBlockAndForgetsPlanAndBaselines) {
    struct Case {
        const char* name;
        bool clearConnectedBit;
        int secondsWithoutRows;
        bool lost;
    };
    const Case cases[] = {
        {"connected bit cleared", true, 0, true},
        {"no row for 30 s", false, 30, true},
        {"no row for 29 s", false, 29, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        app::ResetMainTick();
        engineer::ResetRaceState();
        sim_.attach(telemetry::Telemetry());
        const char* const cold[] = {"LFcoldPressure", "RFcoldPressure", "LRcoldPressure",
                                    "RRcoldPressure"};
        for (int i = 0; i < 4; ++i) {
            sim_.set(cold[i], 165 + i);
        }
        inTheWorld(3);  // no garage row on the console
        bringOnline();
        RaceState& r = Race();
        r.FuelPlan = 3;
        // The baselines come from the first row.
        ASSERT_EQ((std::vector<double>{r.BaselinePressureLF, r.BaselinePressureRF,
                                       r.BaselinePressureLR, r.BaselinePressureRR}),
                  (std::vector<double>{165, 166, 167, 168}));
        // The last row at the start of a whole second, so the age counts in whole seconds.
        clock_.setCalendarTime(1700001000);
        sim_.publish();
        ASSERT_EQ(tick(), "");
        timeline_.clear();

        if (c.clearConnectedBit) {
            sim_.setConnected(false);
            sim_.publish();
        }
        clock_.advanceSeconds(c.secondsWithoutRows);
        const std::string out = tick() + tick();

        if (!c.lost) {
            EXPECT_EQ(out, "");
            EXPECT_EQ(r.LocalLinkOpen, 1);
            EXPECT_EQ(r.FuelPlan, 3);
            continue;
        }
        EXPECT_EQ(count(out, app::kPluginBanner), 1u) << out;
        EXPECT_TRUE(contains(out, std::string(kLinkClosing) + kWaitForSim)) << out;
        EXPECT_EQ(r.LocalLinkOpen, 0);
        EXPECT_EQ(r.LocalBlock, nullptr);
        EXPECT_EQ(r.TelemetryLoaded, 0);
        EXPECT_EQ(r.BaselinePressureLF, 0);
        EXPECT_EQ(r.BaselinePressureRR, 0);
        EXPECT_EQ(voiceEvents(), Calls{"say later: Waiting for the sim."});

        // Back again: one banner, the block opened and, once the 3000 ms have passed on the
        // clock, the telemetry loaded and the join logged anew (bringOnline checks the first).
        timeline_.clear();
        script().calls.clear();
        const std::string back = bringOnline();
        EXPECT_EQ(count(back, app::kPluginBanner), 1u) << back;
        EXPECT_TRUE(contains(back, std::string(kConnected) + kLinkConnected)) << back;
        EXPECT_LT(back.find(kWaitForTelemetry), back.find(kLoaded)) << back;
        EXPECT_EQ(voiceEvents(), Calls{"say later: Sim connected."});
        const std::string calls = joined(script().calls);
        EXPECT_TRUE(contains(calls, "sleep 3000, logSessionJoin, updateAudioEngine")) << calls;
        EXPECT_EQ(count(calls, "logSessionJoin"), 1u) << calls;
    }
}

#ifndef _WIN32
// The block "/qrdlocal" as another program (or an earlier run) leaves it: `bytes` long, with
// `text` at its start, held open by this test as its maker would while `held`.
class ForeignBlock {
  public:
    ForeignBlock(off_t bytes, const char* text, bool held) {
        fd_ = ::shm_open("/qrdlocal", O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd_ < 0 || ::ftruncate(fd_, bytes) != 0 ||
            ::pwrite(fd_, text, std::strlen(text), 0) < 0 || (held && ::flock(fd_, LOCK_SH))) {
            ADD_FAILURE() << "cannot make /qrdlocal: " << std::strerror(errno);
        }
    }
    ~ForeignBlock() {
        struct stat st {};
        if (::fstat(fd_, &st) == 0 && st.st_nlink > 0) {
            ::shm_unlink("/qrdlocal");
        }
        ::close(fd_);
    }
    bool named() const {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 && st.st_nlink > 0;
    }

  private:
    int fd_ = -1;
};

TEST_F(MainTickTest, ABlockLeftByAKilledRunIsReplacedByAFreshOne) {
    // Killed mid-race: nobody holds the block, the old line is still in it.
    ForeignBlock left(256, " 5, 12, 30,12.50, 40,  0,  0\r", false);
    const std::string out = bringOnline();
    EXPECT_TRUE(contains(out, kLinkConnected)) << out;
    EXPECT_FALSE(left.named());
    ASSERT_NE(Race().LocalBlock, nullptr);
    auto reader = platform::openSharedMemoryReadOnly("Local\\qrdlocal");
    ASSERT_NE(reader, nullptr);
    for (size_t i = 0; i < 256; ++i) {
        ASSERT_EQ(reader->data()[i], 0) << i;
    }
    // ctrl-c and the termination signals take the name away at once; the tick may still be
    // writing to the view.
    app::RemoveLocalBlockName();
    EXPECT_EQ(platform::openSharedMemoryReadOnly("Local\\qrdlocal"), nullptr);
    Race().LocalBlock->data()[0] = ' ';
}

TEST_F(MainTickTest, ABlockThatCannotBeMappedSaysSoWithTheErrorOfTheView) {
    // Held by a live program, and larger than any address space: the view cannot be made.
    ForeignBlock huge(off_t{1} << 62, "", true);
    sim_.setConnected(true);
    std::string out;
    for (int i = 0; i < 3; ++i) {
        sim_.publish();
        out += tick();
    }
    EXPECT_TRUE(contains(out, "Could not initialise QRD (" + std::to_string(ENOMEM) + ").\n"))
        << out;
    EXPECT_FALSE(contains(out, "Could not create file mapping object")) << out;
    EXPECT_FALSE(contains(out, kLinkConnected)) << out;
    EXPECT_EQ(Race().LocalLinkOpen, 0);
    EXPECT_TRUE(huge.named());  // another program's block is left alone
}
#endif

TEST_F(MainTickTest, GarageTicksHoldTheFuelAndTireWindowsAtTheirResetAndShowTheWeather) {
    bringOnline();
    RaceState& r = Race();
    r.TireResetDone = 0;  // back from a stint on track
    script().garageMarker = "<commands>";
    sim_.set("AirTemp", 30.5);
    sim_.set("TrackTempCrew", 42.0);
    for (int lap = 5; lap <= 6; ++lap) {
        SCOPED_TRACE(lap);
        sim_.setBool("IsOnTrack", false);
        sim_.setInt("Lap", lap);
        sim_.set("FuelLevel", 40.0 - lap);
        // What a stint on track would have left behind.
        r.AdaptiveTireManagement = 0;
        r.FuelLastSet = 20;
        r.TiresRequested = 1;
        r.LapReportSent = 1;
        r.TireChangeMode = 2;
        script().calls.clear();
        sim_.publish();
        // The setup's pressures, once read, change the garage's word.
        EXPECT_EQ(tick(), std::string(" Weather: Air: 30.5 (4.9) Track: 42.0 (2.0)<commands>") +
                              (lap == 5 ? " Open Garage." : " Setup data read.") +
                              std::string(44 + 9, ' ') + "\r");
        sim_.set("PitSvLFP", 172.0);

        EXPECT_EQ(r.ResetLap, lap);
        EXPECT_EQ(r.FuelAtReset, static_cast<float>(40.0 - lap));
        EXPECT_EQ(r.FuelPlan, 0);
        EXPECT_EQ(r.TireChangeLap, lap);
        EXPECT_EQ(r.TireResetDone, 1);
        EXPECT_EQ(r.AdaptiveTireManagement, 1);
        EXPECT_EQ(r.FuelLastSet, 0);
        EXPECT_EQ(r.TiresRequested, 0);
        EXPECT_EQ(r.LapReportSent, 0);
        EXPECT_EQ(joined(script().calls),
                  "updateAudioEngine, pollControls, refreshSessionSnapshot, garageDriverCommands");
        // The tire reset is done once per visit: the mode chosen since stays.
        EXPECT_EQ(r.TireChangeMode, lap == 5 ? 0 : 2);
    }
}

// In the world the work follows the track surface; out of it (-1) tire requests are dropped
// and the tire lap is taken.
TEST_F(MainTickTest, InTheWorldTheWorkFollowsTheTrackSurface) {
    struct Case {
        int surface;
        int32_t tireChangeLap, expectedTireChangeLap;
        const char* calls;
    };
    const std::string common =
        "updateAudioEngine, pollControls, refreshSessionSnapshot, driverCommands, "
        "pitRoadHandling";
    const Case cases[] = {{3, 0, 0, ", onTrackCalls"},
                          {1, 0, 0, ""},
                          {-1, 0, 9, ""},   // no tire lap yet
                          {-1, 4, 4, ""}};  // one taken stays
    bringOnline();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.surface);
        inTheWorld(c.surface);
        sim_.setInt("Lap", 9);
        Race().TireChangeLap = c.tireChangeLap;
        Race().TiresRequested = 1;
        sim_.publish();
        EXPECT_EQ(tick(), "");
        EXPECT_EQ(joined(script().calls), common + c.calls);
        EXPECT_EQ(Race().TireChangeLap, c.expectedTireChangeLap);
        EXPECT_EQ(Race().TiresRequested, c.surface < 0 ? 0 : 1);
    }
}

}  // namespace
