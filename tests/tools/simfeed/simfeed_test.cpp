// The simulator feed's scenarios and the parts of its race model that no end-to-end run shows:
// a scenario writer's mistakes, laps to go from the pace and running dry. The pit menu's
// commands are the end-to-end runs' and the outcome benchmark's to show.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/simfeed_fixture.h"
#include "tools/simfeed/ini_file.h"
#include "tools/simfeed/scenario.h"
#include "tools/simfeed/variables.h"

namespace {

using simfeed::IniFile;

TEST(Scenario, EveryShippedScenarioLoadsCleanly) {
    namespace fs = std::filesystem;
    int count = 0;
    for (const auto& entry : fs::directory_iterator(simfeedtest::scenarioDir())) {
        if (entry.path().extension() != ".ini") {
            continue;
        }
        ++count;
        simfeed::ScenarioLoad load = simfeed::loadScenarioFile(entry.path().string());
        EXPECT_TRUE(load.scenario.has_value()) << entry.path();
        for (const std::string& e : load.errors) {
            ADD_FAILURE() << e;
        }
        for (const std::string& w : load.warnings) {
            ADD_FAILURE() << "warning: " << w;
        }
    }
    EXPECT_GE(count, 5);
}

// A sample of each kind of mistake: the line's shape, a value's type, its range, the track's
// geometry, the car, the sessions and the events.
TEST(Scenario, RefusesMalformedLinesAndUnusableValuesAndSaysWhy) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"[Track\n", "scenario:1: section header without ']'"},
        {"[Track]\nLength\n", "scenario:2: expected key=value"},
        {"Length=1\n", "scenario:1: key outside a section"},
        {"[Track]\n=5\n", "scenario:2: empty key"},
        {"[Car]\nLapTime=fast\n", "scenario:2: [Car] LapTime: 'fast' is not a number"},
        {"[Car]\nTireSets=6.5\n", "'6.5' is not a whole number"},
        {"[Strategy]\nSafetyStop=perhaps\n", "'perhaps' is not yes or no"},
        {"[Track]\nLength=50\n", "[Track] Length must be 200 to 50000"},
        {"[Track]\nPitEntry=0.5\nPitExit=0.55\nPitStall=0.9\n",
         "PitStall must lie on the pit road"},
        {"[Track]\nPitEntry=0.9\nPitExit=0.5\nPitStall=0.95\n", "half a lap"},
        {"[Car]\nStartingPressure=90\n", "starting pressures"},
        {"[Driver]\nCarIdx=40\n", "CarIdx must be below the field size"},
        {"[Strategy]\nPitOnLaps=3,x\n", "is not a list of lap numbers"},
        {"[Session2]\nType=Race\nLaps=unlimited\nTime=unlimited\nRun=yes\n",
         "needs a lap or time limit"},
        {"[Session2]\nType=Sprint\nRun=yes\n", "is not Practice, Qualify or Race"},
        {"[Session2]\nType=Race\nLaps=10\n", "no session is simulated"},
        {"[Event1]\nKind=Meteor\nLap=2\n", "Kind must be"},
    };
    for (const Case& c : cases) {
        simfeed::ScenarioLoad load = simfeed::loadScenario(IniFile::parse(c.text));
        EXPECT_FALSE(load.scenario.has_value()) << c.text;
        bool found = false;
        for (const std::string& e : load.errors) {
            found = found || e.find(c.expected) != std::string::npos;
        }
        EXPECT_TRUE(found) << c.text << "\nexpected: " << c.expected
                           << "\nfirst error: " << (load.errors.empty() ? "" : load.errors[0]);
    }
}

int countOf(const std::vector<std::string>& lines, const std::string& word) {
    int n = 0;
    for (const std::string& l : lines) {
        n += l.rfind(word + " ", 0) == 0 ? 1 : 0;
    }
    return n;
}

TEST(RaceModel, ATimedRaceWithLapsFromPaceShowsTheLeadersLapsToGo) {
    simfeed::Scenario s = simfeedtest::shippedScenario("timed_race");
    for (simfeed::SessionSpec& ss : s.sessions) {
        ss.lapsFromPace = ss.num == 2;
    }
    simfeed::RaceModel m(s);
    // Before the green the clock is full: 1500 s at 95 s a lap is 16 laps begun, and the lap
    // that takes the flag.
    EXPECT_EQ(m.sessionLapsRemainEx(), 16 + 1);
    while (m.stage() != simfeed::Stage::Racing) {
        m.stepSeconds(1);
    }
    m.stepSeconds(600);
    EXPECT_LE(m.sessionLapsRemainEx(), 12);
    EXPECT_GE(m.sessionLapsRemainEx(), 10);
}

// Without a planned stop a car short of fuel either runs dry (and stops; the field finishes
// and the session closes without it) or, with the safety stop, is saved by one.
TEST(RaceModel, ACarShortOfFuelRunsDryOrMakesItsSafetyStop) {
    for (bool safetyStop : {false, true}) {
        SCOPED_TRACE(safetyStop ? "safety stop" : "no safety stop");
        simfeed::Scenario s = simfeedtest::shippedScenario("one_stop");
        s.strategy.pitOnLaps.clear();
        s.strategy.safetyStop = safetyStop;
        if (!safetyStop) {
            s.car.startFuel = 10;
        }
        simfeed::RaceModel m(s);
        m.recordTruth(true);
        double dryAt = -1;
        while (!m.finished() && m.sessionTime() < 4 * 3600) {
            m.stepSeconds(1);
            if (m.player().outOfFuel && m.playerIsOnTrack()) {
                dryAt = dryAt < 0 ? m.sessionTime() : dryAt;
                EXPECT_NE(m.player().engineWarnings & simfeed::kWarnEngineStalled, 0);
                if (m.sessionTime() - dryAt > 10) {
                    EXPECT_EQ(m.playerCar().speed, 0.0) << "the car has rolled to a stop";
                }
            }
        }
        EXPECT_TRUE(m.finished());
        EXPECT_EQ(m.player().outOfFuel, !safetyStop);
        EXPECT_EQ(dryAt > 0, !safetyStop);
        EXPECT_EQ(countOf(m.takeTruth(), "DRY"), safetyStop ? 0 : 1);
        EXPECT_EQ(m.player().stops, safetyStop ? 1 : 0);
        EXPECT_EQ(m.playerCar().lapsCompleted == 14, safetyStop);
    }
}

}  // namespace
