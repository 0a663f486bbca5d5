// The parts of the simulator feed's race model that no end-to-end run shows: laps to go from
// the pace, and running dry, which the outcome benchmark relies on the feed to tell. The rest of
// the model (its laps, stops, pit menu and session text) and its scenarios are the end-to-end
// runs', the demo's and the outcome benchmark's to show.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tools/simfeed/race_model.h"
#include "tools/simfeed/variables.h"

namespace {

// The scenario shipped under tools/simfeed/scenarios/.
simfeed::Scenario shippedScenario(const std::string& name) {
    const char* src = std::getenv("KORVANE_SOURCE_DIR");
    const std::string path =
        std::string(src != nullptr ? src : ".") + "/tools/simfeed/scenarios/" + name + ".ini";
    simfeed::ScenarioLoad load = simfeed::loadScenarioFile(path);
    EXPECT_TRUE(load.scenario.has_value()) << path;
    return load.scenario.value_or(simfeed::defaultScenario());
}

int countOf(const std::vector<std::string>& lines, const std::string& word) {
    int n = 0;
    for (const std::string& l : lines) {
        n += l.rfind(word + " ", 0) == 0 ? 1 : 0;
    }
    return n;
}

TEST(RaceModel, ATimedRaceWithLapsFromPaceShowsTheLeadersLapsToGo) {
    simfeed::Scenario s = shippedScenario("timed_race");
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
        simfeed::Scenario s = shippedScenario("one_stop");
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
