// The calls made on track without being asked, through the real tick.

#include <algorithm>
#include <string>
#include <vector>

#include "support/race_fixture.h"

namespace racetest {
namespace {

class OnTrackCallsTest : public RaceWorkTest {
  protected:
    void SetUp() override {
        RaceWorkTest::SetUp();
        onSurface(3);
        sim_.setInt("Lap", 9);
        race().DistanceToPitEntry = 1000;
        race().PitInArmed = 1;
    }
    Events said() const { return timeline_.starting("say"); }
};

// Each call is made once when its condition begins, and again only after it has ended.
TEST_F(OnTrackCallsTest, EachCallOncePerOccasion) {
    struct Case {
        const char* name;
        void (*set)(testsupport::FakeSimulator& sim, double value);
        std::vector<double> values;  // one tick each
        const char* call;
        size_t times;
    };
    const Case cases[] = {
        {"the white flag, with no burn measured yet",
         [](testsupport::FakeSimulator& sim, double v) {
             sim.setInt("SessionFlags", static_cast<int>(v));
         },
         {2, 2, 0, 2},
         "say later: White flag, last lap, with 999.00 laps left in the tank.",
         2},
        {"low fuel, strictly between one and two laps",
         [](testsupport::FakeSimulator&, double v) {
             engineer::Race().FuelLapsLeft = static_cast<float>(v);
         },
         {2.0, 1.0, 2.5, 1.99, 1.5, 1.2, 2.5, 1.5},
         "say later: Warning for low fuel, there is 2 laps left in the tank.",
         2},
        {"box next lap, strictly between one and two laps",
         [](testsupport::FakeSimulator&, double v) { engineer::Race().NextPitLaps = v; },
         {1.5, 1.4, 0.9, 1.5, 2.0, 1.5, 2.5, 1.0},
         "say later: Ok, Fuel plan says box next lap, Copy Box next lap?",
         3},
        {"the checkered flag's data report",
         [](testsupport::FakeSimulator& sim, double v) {
             sim.setInt("SessionFlags", static_cast<int>(v));
         },
         {1, 1, 3, 0, 1},
         "GET /qrd/data.php",
         2},
        {"the lap report near the pit entry",
         [](testsupport::FakeSimulator&, double v) { engineer::Race().DistanceToPitEntry = v; },
         {80, 75, 80, 74.9, 50, 10, 300, 60},
         "GET /qrd/lap.php",
         2},
    };
    race().FuelLapsLeft = 999;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        timeline_.clear();
        for (double v : c.values) {
            c.set(sim_, v);
            tick();
        }
        Events calls;
        for (const std::string& e : timeline_.events()) {
            calls.push_back(e.rfind("GET", 0) == 0 ? e.substr(0, e.find('?')) : e);
        }
        EXPECT_EQ(std::count(calls.begin(), calls.end(), c.call), static_cast<long>(c.times));
    }
}

TEST_F(OnTrackCallsTest, FuelSavingIsAdvisedAtTheLapReportOfARacingLapInTheLastTank) {
    struct Case {
        const char* name;
        int kind, state, type;
        double tanks;
        float burnMax;
        const char* saving;  // nullptr: no advice
        const char* burns;   // the burns the log line shows
        uint8_t advised;
        float lastHigh = 2.5f;
    };
    const Case cases[] = {
        {"lap-limited", 4, 4, 1, 0.8, 2.8f, "0.20 Liters per lap", "(2.50  2.50)", 1},
        {"time-limited", 4, 4, 2, 0.8, 2.8f, "0.30 Liters per minute", "(1.00  1.00)", 1, 1.0f},
        // A saving of nothing or less is no advice.
        {"time-limited, burning less than before", 4, 4, 2, 0.8, 2.8f, nullptr, nullptr, 1},
        {"lap-limited, burning what was saved before", 4, 4, 1, 0.8, 2.8f, nullptr, nullptr, 1,
         2.7f},
        {"burn at the old maximum", 4, 4, 1, 0.8, 2.5f, nullptr, nullptr, 1},
        {"practice", 2, 4, 1, 0.8, 2.8f, nullptr, nullptr, 0},
        {"not racing yet", 4, 3, 1, 0.8, 2.8f, nullptr, nullptr, 0},
        {"more than a tank to go", 4, 4, 1, 1.0, 2.8f, nullptr, nullptr, 0},
        // The first stint has no earlier burn to compare with.
        {"no earlier burn known", 4, 4, 1, 0.8, 2.8f, nullptr, nullptr, 1, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        race().SessionKind = c.kind;
        sim_.setInt("SessionState", c.state);
        race().RaceSessionType = c.type;
        race().TanksToFinish = c.tanks;
        race().FuelBurnMax = c.burnMax;
        race().LastHighFuelBurnMax = c.lastHigh;
        race().FuelBurnPerLap = 2.7f;
        race().FuelBurnPerMin = 1.3f;
        race().DistanceToPitEntry = 500;
        tick();
        timeline_.clear();
        clearLog();
        race().DistanceToPitEntry = 40;
        tick();
        tick();
        EXPECT_EQ(timeline_.starting("GET ").size(), 1u);
        Events spoken, log;
        if (c.saving) {
            const std::string saving = c.saving;
            spoken = {"say later:  On current fuel burn, we need to fuel save " + saving + "."};
            log = {"LOG: Lap 9 On current fuel burn, we need to fuel save " +
                   saving.substr(0, saving.find(" per")) + ". " + c.burns};
        }
        EXPECT_EQ(said(), spoken);
        EXPECT_EQ(logMessages(), log);
        EXPECT_EQ(race().FuelSaveAdvised, c.advised);
    }
}

TEST_F(OnTrackCallsTest, TireRequestsFromThePitMenuAreTakenBackOnTrack) {
    struct Case {
        const char* name;
        uint8_t adaptive;
        uint8_t passive;
        int flags;
        bool cleared;
    };
    const Case cases[] = {
        {"adaptive", 1, 0, 4, true},    {"all four", 1, 0, 15, true},
        {"fuel only", 1, 0, 16, false}, {"adaptive off", 0, 0, 15, false},
        {"passive", 1, 1, 15, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        race().AdaptiveTireManagement = c.adaptive;
        race().PassiveMode = c.passive;
        race().TiresRequested = 1;
        race().ServiceType = 1;
        sim_.setInt("PitSvFlags", c.flags);
        timeline_.clear();
        tick();
        EXPECT_EQ(timeline_.starting("pit"), c.cleared ? Events{"pit 7 0"} : Events{});
        EXPECT_EQ(race().TiresRequested, c.cleared ? 0 : 1);
        EXPECT_EQ(race().ServiceType, c.cleared ? 0u : 1u);
    }
}

TEST_F(OnTrackCallsTest, BackOnTrackThePitInConsultationIsArmedAgain) {
    race().PitInArmed = 0;
    race().TireResetDone = 1;
    tick();
    EXPECT_EQ(race().PitInArmed, 1);
    EXPECT_EQ(race().TireResetDone, 0);
    // Armed already: the tire reset mark of this stint stays.
    race().TireResetDone = 1;
    tick();
    EXPECT_EQ(race().TireResetDone, 1);
}

}  // namespace
}  // namespace racetest
