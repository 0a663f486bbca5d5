// The simulator's block failing between two ticks of the running plugin: a row torn while it
// is copied, rows that stop coming, a mapping that shrinks under the reader, a block laid out
// anew, a simulator that goes away. Through the real tick: it never takes a row that was not
// whole, it notices when the simulator is gone, and once the block is sound again the next
// ticks read the new rows.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "plugin/app/main_tick.h"
#include "plugin/engineer/race_state.h"
#include "support/race_fixture.h"

namespace {

class SimulatorFaults : public racetest::RaceWorkTest {
  public:
    // What the fault table below works with.
    using RaceWorkTest::clock_;
    using RaceWorkTest::onSurface;
    using RaceWorkTest::sim_;

    // One tick without a new row.
    void idleTick() {
        ::testing::internal::CaptureStdout();
        app::MainTick();
        ::testing::internal::GetCapturedStdout();
    }
    // Ticks with fresh rows until the plugin has the simulator again and reads lap `lap`.
    bool recovers(int lap) {
        sim_.setInt("Lap", lap);
        for (int i = 0; i < 8; ++i) {
            tick();
            if (race().TelemetryLoaded == 1 && race().TireAgeInLaps == lap - race().TireChangeLap) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(SimulatorFaults, TheTickSurvivesEachFaultAndFollowsTheBlockAgain) {
    struct Case {
        const char* name;
        std::function<void(SimulatorFaults&)> fault;
        std::function<void(SimulatorFaults&)> clear;
        bool simulatorGone;  // the plugin is expected to notice
    } cases[] = {
        // Both copies of both tries the tick makes (before and after its wait).
        {"row torn on every copy", [](SimulatorFaults& t) { t.sim_.tearNextCopies(4); },
         [](SimulatorFaults&) {}, false},
        {"rows stop for 31 s",
         [](SimulatorFaults& t) {
             t.clock_.advanceSeconds(31);
             t.idleTick();
         },
         [](SimulatorFaults&) {}, true},
        {"mapping shrinks inside the buffer table",
         [](SimulatorFaults& t) { t.sim_.reportedViewSize = 60; },
         [](SimulatorFaults& t) { t.sim_.reportedViewSize.reset(); }, true},
        {"block laid out anew with another row",
         [](SimulatorFaults& t) {
             auto vars = testsupport::catalogueVarSpecs();
             vars.insert(vars.begin(), {"CarIdxRPM", telemetry::kDouble, 64, "", "revs/min"});
             ASSERT_TRUE(t.sim_.changeLayout(vars));
             t.onSurface(3);
         },
         [](SimulatorFaults&) {}, false},
        {"simulator gone", [](SimulatorFaults& t) { t.sim_.setConnected(false); },
         [](SimulatorFaults& t) { t.sim_.setConnected(true); }, true},
    };
    int lap = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        onSurface(3);
        ASSERT_TRUE(recovers(lap));
        const int before = race().TireAgeInLaps;

        // The fault comes with a row the plugin must not take, whole or in part.
        sim_.setInt("Lap", lap + 50);
        c.fault(*this);
        if (std::string(c.name) != "rows stop for 31 s") {
            tick();
        }
        if (c.simulatorGone) {
            EXPECT_EQ(race().TelemetryLoaded, 0);
        } else if (std::string(c.name) == "row torn on every copy") {
            EXPECT_EQ(race().TireAgeInLaps, before);  // the last whole row stands
        }
        tick();
        c.clear(*this);
        lap += 100;
        EXPECT_TRUE(recovers(lap));
    }
}

}  // namespace
