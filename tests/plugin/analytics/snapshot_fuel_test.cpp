// The session facts the refresh reads from the session text, and its fuel arithmetic, case by
// case through the real pass.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "plugin/analytics/snapshot_steps.h"
#include "plugin/app/seams.h"
#include "plugin/telemetry/telemetry_client.h"
#include "support/race_fixture.h"

namespace racetest {
namespace {

using FactsTest = SnapshotTest;

TEST_F(FactsTest, ReadFromTheSessionText) {
    // Before any text the initial values apply.
    sim_.setSessionText("");
    refresh();
    const engineer::RaceState& r = race();
    EXPECT_EQ(r.CarID, 0);
    EXPECT_DOUBLE_EQ(r.CarClassMaxFuelPct, 1.0);
    EXPECT_EQ(r.SessionKind, 0);

    sim_.setSessionText(sessionText());
    refresh();
    EXPECT_EQ(r.DriverUserID, 424242);
    EXPECT_EQ(r.ShiftRPM, 6800);
    EXPECT_EQ(r.SubSessionID, 5550123);
    EXPECT_EQ(r.TrackID, 417);
    EXPECT_EQ(r.CarID, 67);
    EXPECT_DOUBLE_EQ(r.TrackAirTemp, 25.55);
    EXPECT_DOUBLE_EQ(r.TrackSurfaceTemp, 41.2);
    EXPECT_DOUBLE_EQ(r.LocalLapLength, 5000);
    EXPECT_FLOAT_EQ(r.PitTrackPct, 0.02f);
    EXPECT_DOUBLE_EQ(r.CarFuelMaxLtr, 100);
    EXPECT_EQ(r.FuelTankLiters, 100);
    EXPECT_EQ(r.SessionNum, 1);
    EXPECT_STREQ(r.SessionName, "RACE");
    EXPECT_EQ(r.SessionKind, 4);

    // Another car index and session number pick their own entries.
    sim_.setInt("PlayerCarIdx", 0);
    sim_.setInt("SessionNum", 0);
    refresh();
    EXPECT_EQ(r.CarID, 11);
    EXPECT_DOUBLE_EQ(r.CarClassMaxFuelPct, 0.5);
    EXPECT_EQ(r.FuelTankLiters, 50);
    EXPECT_STREQ(r.SessionName, "PRACTICE");
    EXPECT_EQ(r.SessionKind, 2);

    // Missing values keep the last good ones.
    sim_.setSessionText("---\nWeekendInfo:\n TrackName: somewhere\n...\n");
    sim_.setInt("SessionNum", 1);
    refresh();
    EXPECT_EQ(r.DriverUserID, 424242);
    EXPECT_EQ(r.CarID, 11);
    EXPECT_DOUBLE_EQ(r.LocalLapLength, 5000);
    EXPECT_EQ(r.SessionNum, 1);
    EXPECT_STREQ(r.SessionName, "PRACTICE");
    EXPECT_EQ(r.SessionKind, 2);

    // Numbers beyond an int are pinned to its ends.
    sim_.setSessionText(
        "---\nDriverInfo:\n DriverUserID: 99999999999999\n DriverCarSLShiftRPM: -99999999999\n"
        "...\n");
    refresh();
    EXPECT_EQ(r.DriverUserID, INT32_MAX);
    EXPECT_EQ(r.ShiftRPM, INT32_MIN);
}

TEST_F(FactsTest, UsableTankIsTheWholeLitresOfAWholeProduct) {
    struct Case {
        const char* pct;
        const char* tank;
        int liters;
    };
    // 0.57 x 100 and 0.29 x 100 fall just short of a whole number in binary.
    const Case cases[] = {{"0.570 %", "100.000", 57},
                          {"0.290 %", "100.000", 29},
                          {"0.500 %", "45.500", 22},
                          {"1.000 %", "110.000", 110},
                          {"0.875 %", "0.000", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pct) + " of " + c.tank);
        SessionFacts facts;
        facts.classMaxFuelPct = c.pct;
        facts.fuelMaxLtr = c.tank;
        sim_.setSessionText(sessionText(facts));
        refresh();
        EXPECT_EQ(race().FuelTankLiters, c.liters);
    }
}

// An old simulator build publishes no PlayerCarIdx: the session text names the driver's car,
// not car 0 (the pace car).
TEST_F(FactsTest, WithoutAPublishedCarIndexTheTextsDriverCarIsTheCar) {
    std::vector<simblock::VarSpec> vars = testsupport::catalogueVarSpecs();
    std::erase_if(vars, [](const simblock::VarSpec& v) { return v.name == "PlayerCarIdx"; });
    testsupport::FakeSimulator old(vars);
    old.attach(telemetry::Telemetry());
    old.setSessionText(sessionText());
    old.setConnected(true);
    old.setInt("SessionNum", 1);
    ASSERT_TRUE(old.deliver(telemetry::Telemetry()));
    ::testing::internal::CaptureStdout();
    app::Seams().refreshSessionSnapshot();
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(race().CarID, 67);
    EXPECT_DOUBLE_EQ(race().CarClassMaxFuelPct, 1.0);
    EXPECT_EQ(race().FuelTankLiters, 100);
    sim_.attach(telemetry::Telemetry());  // the old simulator goes first
}

TEST_F(FactsTest, SessionKindFromTheWholeName) {
    struct Case {
        const char* name;
        int kind;
    };
    const Case cases[] = {{"TESTING", 1},      {"PRACTICE", 2},
                          {"QUALIFY", 3},      {"RACE", 4},
                          {"TIME TRIAL", 5},   {"HEAT", 6},
                          {"Race", 0},         {"RACE 2", 0},
                          {"LONE QUALIFY", 0}, {"OPEN PRACTICE FOR EVERYONE", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SessionFacts facts;
        facts.sessionName = c.name;
        sim_.setSessionText(sessionText(facts));
        refresh();
        EXPECT_EQ(std::string(race().SessionName), std::string(c.name).substr(0, 20));
        EXPECT_EQ(race().SessionKind, c.kind);
    }
}

using FuelTest = SnapshotTest;

TEST_F(FuelTest, LapOrTimeLimited) {
    struct Case {
        int laps, seconds;
        int type;
        const char* word;
        int remaining;
    };
    const Case cases[] = {
        {32767, 1800, 2, "Minutes", 30},      // laps "unlimited": the clock decides
        {32767, 100000, 2, "Minutes", 1666},  // ... however long it runs
        {20, 100000, 1, "Laps", 20},         {0, 1800, 2, "Minutes", 30},
        {1800, 1800, 2, "Minutes", 30},  // not below the seconds
        {200, 119, 2, "Minutes", 1},     // whole minutes, truncated
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.laps) + " laps, " + std::to_string(c.seconds) + " s");
        sim_.setInt("SessionLapsRemainEx", c.laps);
        sim_.setInt("SessionTimeRemain", c.seconds);
        refresh();
        EXPECT_EQ(race().RaceSessionType, c.type);
        EXPECT_STREQ(race().RaceUnitWord, c.word);
        EXPECT_EQ(race().SessionRemaining, c.remaining);
    }
}

// One pass at lap 12 with 10 litres used since a reset at lap 10: 2.5 litres per lap over two
// laps, or `sinceReset` laps back.
struct FuelCase {
    const char* name;
    int sinceReset;
    double burnMaxBefore;
    int laps;
    int seconds;
    double elapsed;  // session seconds since the reset
    int state;
    int plan;
    double fuelToFinish;
};

TEST_F(FuelTest, FuelToFinish) {
    const FuelCase cases[] = {
        // Lap-limited: the first lap uses the current burn, from the second the maximum.
        {"one lap: current burn", 1, 4.0, 20, 100000, 200, 4, 0, 20 * 10.0},
        {"two laps: maximum", 2, 6.0, 20, 100000, 200, 4, 0, 20 * 6.0},
        {"two laps: maximum raised", 2, 1.0, 20, 100000, 200, 4, 0, 20 * 5.0},
        // Time-limited: burn per minute, maximum times whole minutes.
        {"time-limited", 2, 0.0, 32767, 1799, 240, 4, 0, 29 * 2.5},
        {"clamped to 999", 2, 0.0, 32767, 100000, 60, 4, 0, 999},
        {"plan 4 adds the reserve", 2, 0.0, 10, 100000, 600, 4, 4, 10 * 5.0 + 1 + 10},
        {"session state 1", 2, 0.0, 20, 100000, 200, 1, 0, 0},
        {"session state 3", 2, 0.0, 20, 100000, 200, 3, 0, 0},
        {"session state 6", 2, 0.0, 20, 100000, 200, 6, 0, 0},
    };
    for (const FuelCase& c : cases) {
        SCOPED_TRACE(c.name);
        engineer::ResetRaceState();
        const int lap = 12;
        // 10 litres over sinceReset laps of 5000 m from the start/finish line.
        windowFrom(lap - c.sinceReset, 40, 1000);
        race().FuelBurnMax = static_cast<float>(c.burnMaxBefore);
        race().FuelPlan = c.plan;
        sim_.setInt("Lap", lap);
        sim_.set("LapDist", 0);
        sim_.set("FuelLevel", 30);
        sim_.set("SessionTime", 1000 + c.elapsed);
        sim_.setInt("SessionLapsRemainEx", c.laps);
        sim_.setInt("SessionTimeRemain", c.seconds);
        sim_.setInt("SessionState", c.state);
        refresh();
        EXPECT_NEAR(race().FuelToFinish, c.fuelToFinish, 1e-3);
        if (c.state != 4) {
            EXPECT_EQ(race().LitersToAdd, 0);
        }
    }
}

// The window opens where the fuel level first falls after the reset: in the pit stall, on the
// grid. The burn over the metres really run matches the car's 2.6 litres a lap at every point
// of the stint, wherever on the lap the stint began.
TEST_F(FuelTest, BurnIsMeasuredFromWhereTheWindowBegan) {
    struct Case {
        const char* name;
        int lap;
        double lapDist;
        bool fromGarage = false;
    };
    const Case cases[] = {
        {"stall before the line", 7, 4925},
        {"stall after the line", 8, 175},
        {"on the line", 8, 0},
        {"grid behind the line", 0, 4990},
        // The tank last stood still in the garage; the engine already idles on the grid.
        {"garage, then the grid", 0, 4990, true},
    };
    const double burn = 2.6, lapLength = 5000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        engineer::ResetRaceState();
        // Standing with a full tank: every pass restarts the window here, and its clock.
        sim_.setInt("PlayerTrackSurface", c.fromGarage ? -1 : 3);
        sim_.setInt("Lap", c.fromGarage ? 0 : c.lap);
        sim_.set("LapDist", c.fromGarage ? 0 : c.lapDist);
        sim_.set("FuelLevel", 40);
        for (double t : {900.0, 1000.0}) {
            sim_.set("SessionTime", t);
            refresh();
        }
        const double idle = c.fromGarage ? 1e-4 : 0;
        if (c.fromGarage) {
            sim_.setInt("PlayerTrackSurface", 3);
            sim_.setInt("Lap", c.lap);
            sim_.set("LapDist", c.lapDist);
            sim_.set("FuelLevel", 40 - idle);
            refresh();
        }
        for (int laps : {2, 3, 5}) {
            for (double at : {100.0, 2500.0, 4900.0}) {
                const double run = laps * lapLength + at - c.lapDist;
                sim_.setInt("Lap", c.lap + laps);
                sim_.set("LapDist", at);
                sim_.set("FuelLevel", 40 - idle - burn * run / lapLength);
                const double seconds = std::trunc(run / 50);  // 50 m/s
                sim_.set("SessionTime", 1000 + seconds);
                refresh();
                EXPECT_NEAR(race().DistanceSinceReset, run, 0.01) << laps << " laps, at " << at;
                EXPECT_NEAR(race().FuelBurnPerLap, burn, 1e-3) << laps << " laps, at " << at;
                EXPECT_NEAR(race().FuelBurnPerMin, burn * run / lapLength * 60 / seconds, 1e-3)
                    << laps << " laps, at " << at;
            }
        }
    }
}

TEST_F(FuelTest, ReserveTakesWholeLitresOfBothBurns) {
    EXPECT_EQ(analytics::snapshot::ReserveLiters(1.3f, 2.4f), 8);  // 2 + 2 x 3
    EXPECT_EQ(analytics::snapshot::ReserveLiters(0, 0), 0);
    EXPECT_EQ(analytics::snapshot::ReserveLiters(0.1f, 0.1f), 3);
    // Whatever a burn holds, the reserve is a defined number.
    EXPECT_EQ(analytics::snapshot::ReserveLiters(-3e38f, 0), INT32_MIN);
}

TEST_F(FuelTest, LitersToAddWithReserveAndTankLimit) {
    struct Case {
        const char* name;
        const char* tank;
        double atReset, level;
        int laps;
        double litersToAdd;
    };
    // 4.8 litres used over two laps in 222 s: 2.4 per lap, 1.297 per minute, reserve 8.
    const Case cases[] = {
        {"30.7 becomes 38", "100.000", 22.1, 17.3, 20, 38},
        {"cut to the 45-litre tank", "45.000", 24.8, 20.0, 21, 25},
        {"enough in the tank", "100.000", 60.8, 56.0, 20, 0},
        {"below one litre short: no reserve", "100.000", 21.1, 16.3, 7, 0.5},
        {"one whole litre short: the reserve", "100.000", 20.1, 15.3, 7, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        engineer::ResetRaceState();
        SessionFacts facts;
        facts.fuelMaxLtr = c.tank;
        sim_.setSessionText(sessionText(facts));
        windowFrom(10, c.atReset, 1000);
        sim_.setInt("Lap", 12);
        sim_.set("LapDist", 0);
        sim_.set("FuelLevel", c.level);
        sim_.set("SessionTime", 1222.5);
        sim_.setInt("SessionLapsRemainEx", c.laps);
        refresh();
        EXPECT_NEAR(race().FuelBurnPerLap, 2.4, 1e-4);
        EXPECT_NEAR(race().FuelBurnPerMin, 4.8 / 3.7, 1e-4);
        EXPECT_NEAR(race().LitersToAdd, c.litersToAdd, 1e-3);
    }
}

TEST_F(FuelTest, NonFiniteValuesNeverReachTheOutputs) {
    struct Case {
        const char* name;
        const char* tank;
        double level;
        double lapDist;
        double elapsed;
    };
    const Case cases[] = {
        // 0 litres over 0 m and 0 s: 0 / 0.
        {"nothing run yet", "100.000", 40, 0, 0},
        // Fuel used over no distance or time: a division by zero.
        {"used without distance", "100.000", 39, 0, 0},
        // No tank size known: tanks to finish would be infinite or 0 / 0.
        {"no tank", "0.000", 39, 2500, 120},
        {"no tank, no need", "0.000", 40, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        engineer::ResetRaceState();
        SessionFacts facts;
        facts.fuelMaxLtr = c.tank;
        sim_.setSessionText(sessionText(facts));
        windowFrom(12, 40, 1000);
        openLocalBlock();
        sim_.setInt("Lap", 12);
        sim_.set("LapDist", c.lapDist);
        sim_.set("FuelLevel", c.level);
        sim_.set("SessionTime", 1000 + c.elapsed);
        const std::string out = refresh() + refresh();
        const engineer::RaceState& r = race();
        for (double v : {static_cast<double>(r.FuelBurnPerLap),
                         static_cast<double>(r.FuelBurnPerMin), r.FuelToFinish,
                         static_cast<double>(r.FuelLapsLeft), r.TanksToFinish, r.LitersToAdd}) {
            EXPECT_TRUE(std::isfinite(v)) << v;
        }
        EXPECT_GE(r.FuelToFinish, 0);
        EXPECT_LE(r.FuelToFinish, 999);
        EXPECT_EQ(out.find("nan"), std::string::npos) << out;
        EXPECT_EQ(blockLine().find("nan"), std::string::npos) << blockLine();
        EXPECT_EQ(blockLine().find("inf"), std::string::npos) << blockLine();
    }
}

TEST_F(FuelTest, LapsLeftOfAnUnmeasuredOrEmptyTank) {
    struct Case {
        const char* name;
        int lap;
        double level;
        double lapsLeft;
        const char* onTheBoard;
    };
    const Case cases[] = {
        // 1 litre over 0 m: no burn known, and no endless window either.
        {"nothing run", 12, 39, 999, ",999.00,"},
        // 5 litres over two laps: the tank is dry now, not 999 laps from the next stop.
        {"empty", 14, 0, 0, ",0.00,"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        engineer::ResetRaceState();
        windowFrom(12, c.lap == 12 ? 40 : 5, 1000);
        openLocalBlock();
        sim_.setInt("Lap", c.lap);
        sim_.set("LapDist", 0);
        sim_.set("FuelLevel", c.level);
        sim_.set("SessionTime", 1000 + 60 * (c.lap - 12));
        refresh();
        EXPECT_EQ(race().FuelLapsLeft, c.lapsLeft);
        EXPECT_EQ(race().NextPitLaps, c.lapsLeft);
        EXPECT_TRUE(contains(blockLine(), c.onTheBoard)) << blockLine();
    }
}

// Before the green flag the fuel falls (the engine idles, the pace lap is driven) but the
// simulator counts no lap: the window waits for the race and starts where it goes green.
TEST_F(FuelTest, TheWindowStartsAtTheGreenFlag) {
    windowFrom(0, 30, 0);
    sim_.setInt("Lap", 0);
    double fuel = 30;
    for (int state : {1, 2, 3, 3}) {
        SCOPED_TRACE(state);
        sim_.setInt("SessionState", state);
        sim_.set("LapDist", 4990 - state);
        sim_.set("FuelLevel", fuel -= 0.5);
        refresh();
        EXPECT_FLOAT_EQ(race().FuelAtReset, static_cast<float>(fuel));
        EXPECT_FLOAT_EQ(race().ResetLapDist, static_cast<float>(4990 - state));
    }
    // Racing: the window runs from the last pass before the green.
    sim_.setInt("SessionState", 4);
    sim_.setInt("Lap", 2);
    sim_.set("LapDist", 4987);
    sim_.set("FuelLevel", fuel - 5.2);
    refresh();
    EXPECT_NEAR(race().FuelBurnPerLap, 2.6, 1e-3);
}

TEST_F(FuelTest, PlanFractionAndNextWindow) {
    struct Case {
        int plan;
        double tanksBefore;
        double fraction;
        double nextPitLaps;
    };
    // 2.5 litres per lap, 30 litres in the tank (12 laps), 20 laps to go: 50 litres to finish.
    const Case cases[] = {
        {0, 2.0, 1.0, 12},
        {1, 2.0, 0.25, 5},
        {2, 2.0, 0.5, 10},
        {3, 2.0, 0.75, 15},
        {3, 3.0, 0.0, 12},  // three tanks or more: no plan fraction, no planned
                            // window
        {2, 1.0, 0.5, 12},  // a tank or less: the fraction is set, the window is the tank's
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("plan " + std::to_string(c.plan) + " tanks " + std::to_string(c.tanksBefore));
        engineer::ResetRaceState();
        windowFrom(8, 40, 1000);
        race().FuelPlan = c.plan;
        race().TanksToFinish = c.tanksBefore;
        sim_.setInt("Lap", 12);
        sim_.set("LapDist", 0);
        sim_.set("FuelLevel", 30);
        sim_.set("SessionTime", 1400);
        sim_.setInt("SessionLapsRemainEx", 20);
        refresh();
        EXPECT_DOUBLE_EQ(race().FuelPlanFraction, c.fraction);
        EXPECT_NEAR(race().NextPitLaps, c.nextPitLaps, 1e-4);
        EXPECT_DOUBLE_EQ(race().TanksToFinish, 0.5);
    }
}

}  // namespace
}  // namespace racetest
