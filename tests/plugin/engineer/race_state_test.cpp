#include "plugin/engineer/race_state.h"

#include <gtest/gtest.h>

#include "support/race_fixture.h"

namespace {

using engineer::Race;
using engineer::RaceState;

using RaceStateTest = racetest::RaceTest;

TEST_F(RaceStateTest, FuelResetStartsTheWindowFromTelemetry) {
    sim_.set("SessionTime", 1234.97);
    sim_.setInt("Lap", 7);
    sim_.set("FuelLevel", 42.5);
    publish();

    RaceState& r = Race();
    r.DistanceSinceReset = 880;
    r.NextPitLaps = 3;
    r.FuelPlanFraction = 0.5;
    r.FuelBurnPerLapMax = 2.6;
    r.FuelBurnPerMinMax = 1.3;
    r.FuelPlan = 2;
    r.FuelBurnMax = 2.6;
    r.FuelBurnPerLap = 2.4;
    r.FuelBurnPerMin = 1.2;
    r.FuelUsed = 9;
    r.LitersToAdd = 30;
    engineer::FuelReset();

    EXPECT_EQ(r.ResetSessionTime, 1234.0);  // whole seconds, truncated
    EXPECT_EQ(r.ResetLap, 7);
    EXPECT_EQ(r.FuelAtReset, 42.5f);
    EXPECT_EQ(r.DistanceSinceReset, 0);
    for (double v : {r.NextPitLaps, r.FuelPlanFraction, double(r.FuelBurnPerLapMax),
                     double(r.FuelBurnPerMinMax), double(r.FuelPlan), double(r.FuelBurnMax),
                     double(r.FuelBurnPerLap), double(r.FuelBurnPerMin)}) {
        EXPECT_EQ(v, 0);
    }
    // Not part of the window's reset.
    EXPECT_EQ(r.FuelUsed, 9);
    EXPECT_EQ(r.LitersToAdd, 30);
}

TEST_F(RaceStateTest, FuelResetKeepsTheFirstHighBurn) {
    struct Case {
        const char* name;
        int32_t raceSessionType;
        float lastHigh;
        float perLapMax, perMinMax;
        float expected;
        float afterSecondReset;  // once the next window burnt 4 litres a lap and a minute
    };
    const Case cases[] = {
        {"lap-limited takes the per-lap maximum", 1, 0, 2.5f, 1.25f, 2.5f, 2.5f},
        {"time-limited takes the per-minute maximum", 2, 0, 2.5f, 1.25f, 1.25f, 1.25f},
        {"no session read yet leaves it 0", 0, 0, 2.5f, 1.25f, 0, 0},
        {"an unknown session type leaves it 0", 3, 0, 2.5f, 1.25f, 0, 0},
        {"one already kept stays", 1, 3.0f, 2.5f, 1.25f, 3.0f, 3.0f},
        {"a first window without a burn keeps nothing", 1, 0, 0, 0, 0, 4.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        engineer::ResetRaceState();
        RaceState& r = Race();
        r.RaceSessionType = c.raceSessionType;
        r.LastHighFuelBurnMax = c.lastHigh;
        r.FuelBurnPerLapMax = c.perLapMax;
        r.FuelBurnPerMinMax = c.perMinMax;
        engineer::FuelReset();
        EXPECT_EQ(r.LastHighFuelBurnMax, c.expected);

        r.FuelBurnPerLapMax = 4.0f;
        r.FuelBurnPerMinMax = 4.0f;
        engineer::FuelReset();
        EXPECT_EQ(r.LastHighFuelBurnMax, c.afterSecondReset) << "second reset";
    }
}

}  // namespace
