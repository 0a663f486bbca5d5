// The session facts the refresh reads from the session text, and its fuel arithmetic, case by
// case through the real pass.
#include <cmath>
#include <cstdint>
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
    refresh();
    const engineer::RaceState& r = race();
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

    // Another car index and session number pick their own entries.
    sim_.setInt("PlayerCarIdx", 0);
    sim_.setInt("SessionNum", 0);
    refresh();
    EXPECT_EQ(r.CarID, 11);
    EXPECT_DOUBLE_EQ(r.CarClassMaxFuelPct, 0.5);
    EXPECT_EQ(r.FuelTankLiters, 50);
    EXPECT_STREQ(r.SessionName, "PRACTICE");

    // Missing values keep the last good ones.
    sim_.setSessionText("---\nWeekendInfo:\n TrackName: somewhere\n...\n");
    sim_.setInt("SessionNum", 1);
    refresh();
    EXPECT_EQ(r.DriverUserID, 424242);
    EXPECT_EQ(r.CarID, 11);
    EXPECT_DOUBLE_EQ(r.LocalLapLength, 5000);
    EXPECT_EQ(r.SessionNum, 1);
    EXPECT_STREQ(r.SessionName, "PRACTICE");

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
        setFacts({{"CarClassMaxFuelPct", c.pct}, {"DriverCarFuelMaxLtr", c.tank}});
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
        setFacts({{"SessionName", c.name}});
        refresh();
        EXPECT_EQ(std::string(race().SessionName), std::string(c.name).substr(0, 20));
        EXPECT_EQ(race().SessionKind, c.kind);
    }
}

// One pass at lap `lap`, `lapDist` metres into a 5000 m lap, after a reset on the line of lap
// `resetLap` with `atReset` litres at session time 1000.
struct Pass {
    int resetLap = 10;
    double atReset = 40;
    int lap = 12;
    double lapDist = 0, level = 30;
    double elapsed = 200;  // session seconds since the reset
    int lapsToGo = 20, secondsToGo = 100000, state = 4, plan = 0;
    float burnMaxBefore = 0;
    double tanksBefore = 0;
    const char* tank = "100.000";
};

class FuelTest : public SnapshotTest {
  protected:
    // Runs the pass on a fresh race state. Whatever the inputs, every output is a finite
    // number, and none reaches the console or the pit-board line as "nan" or "inf".
    const engineer::RaceState& pass(const Pass& p) {
        engineer::ResetRaceState();
        openLocalBlock();
        setFacts({{"DriverCarFuelMaxLtr", p.tank}});
        windowFrom(p.resetLap, p.atReset, 1000);
        race().FuelBurnMax = p.burnMaxBefore;
        race().FuelPlan = p.plan;
        race().TanksToFinish = p.tanksBefore;
        sim_.setInt("Lap", p.lap);
        sim_.set("LapDist", p.lapDist);
        sim_.set("FuelLevel", p.level);
        sim_.set("SessionTime", 1000 + p.elapsed);
        sim_.setInt("SessionLapsRemainEx", p.lapsToGo);
        sim_.setInt("SessionTimeRemain", p.secondsToGo);
        sim_.setInt("SessionState", p.state);
        const std::string out = refresh() + blockLine();
        const engineer::RaceState& r = race();
        for (double v : {double{r.FuelBurnPerLap}, double{r.FuelBurnPerMin}, r.FuelToFinish,
                         double{r.FuelLapsLeft}, r.TanksToFinish, r.LitersToAdd}) {
            EXPECT_TRUE(std::isfinite(v)) << v;
        }
        EXPECT_GE(r.FuelToFinish, 0);
        EXPECT_LE(r.FuelToFinish, 999);
        EXPECT_FALSE(contains(out, "nan") || contains(out, "inf")) << out;
        return r;
    }
};

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
        const engineer::RaceState& r = pass({.lapsToGo = c.laps, .secondsToGo = c.seconds});
        EXPECT_EQ(r.RaceSessionType, c.type);
        EXPECT_STREQ(r.RaceUnitWord, c.word);
        EXPECT_EQ(r.SessionRemaining, c.remaining);
    }
}

TEST_F(FuelTest, FuelToFinish) {
    struct Case {
        const char* name;
        Pass in;  // 10 litres used over two laps unless the row says otherwise
        double fuelToFinish;
    };
    const Case cases[] = {
        // Lap-limited: the first lap uses the current burn, from the second the maximum.
        {"one lap: current burn", {.resetLap = 11, .burnMaxBefore = 4}, 20 * 10.0},
        {"two laps: maximum", {.burnMaxBefore = 6}, 20 * 6.0},
        {"two laps: maximum raised", {.burnMaxBefore = 1}, 20 * 5.0},
        // Time-limited: burn per minute, maximum times whole minutes.
        {"time-limited", {.elapsed = 240, .lapsToGo = 32767, .secondsToGo = 1799}, 29 * 2.5},
        {"clamped to 999", {.elapsed = 60, .lapsToGo = 32767}, 999},
        {"plan 4 adds the reserve", {.elapsed = 600, .lapsToGo = 10, .plan = 4}, 10 * 5.0 + 1 + 10},
        {"getting in", {.state = 1}, 0},
        {"parade laps", {.state = 3}, 0},
        {"cool-down", {.state = 6}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(pass(c.in).FuelToFinish, c.fuelToFinish, 1e-3);
    }
}

TEST_F(FuelTest, LitersToAddWithReserveAndTankLimit) {
    struct Case {
        const char* name;
        Pass in;
        double litersToAdd;
    };
    // 4.8 litres used over two laps in 222 s: 2.4 per lap, 1.297 per minute, reserve 8.
    const Case cases[] = {
        {"30.7 becomes 38", {.atReset = 22.1, .level = 17.3}, 38},
        {"cut to the 45-litre tank",
         {.atReset = 24.8, .level = 20, .lapsToGo = 21, .tank = "45"},
         25},
        {"enough in the tank", {.atReset = 60.8, .level = 56}, 0},
        {"below one litre short: no reserve", {.atReset = 21.1, .level = 16.3, .lapsToGo = 7}, 0.5},
        {"one whole litre short: the reserve", {.atReset = 20.1, .level = 15.3, .lapsToGo = 7}, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pass in = c.in;
        in.elapsed = 222.5;
        const engineer::RaceState& r = pass(in);
        EXPECT_NEAR(r.FuelBurnPerLap, 2.4, 1e-4);
        EXPECT_NEAR(r.FuelBurnPerMin, 4.8 / 3.7, 1e-4);
        EXPECT_NEAR(r.LitersToAdd, c.litersToAdd, 1e-3);
    }
}

TEST_F(FuelTest, LapsLeftOfAnUnmeasuredEmptyOrUnknownTank) {
    // 1 litre over 0 m: no burn known, and no endless window either.
    EXPECT_EQ(pass({.resetLap = 12, .level = 39, .elapsed = 0}).FuelLapsLeft, 999);
    EXPECT_EQ(race().NextPitLaps, 999);
    EXPECT_TRUE(contains(blockLine(), ",999.00,")) << blockLine();
    // 5 litres over two laps: the tank is dry now, not 999 laps from the next stop.
    EXPECT_EQ(
        pass({.resetLap = 12, .atReset = 5, .lap = 14, .level = 0, .elapsed = 120}).FuelLapsLeft,
        0);
    EXPECT_EQ(race().NextPitLaps, 0);
    EXPECT_TRUE(contains(blockLine(), ",0.00,")) << blockLine();
    // Nothing over nothing, and no tank size known: the pass's own checks.
    pass({.resetLap = 12, .level = 40, .elapsed = 0});
    pass({.resetLap = 12, .lapDist = 2500, .level = 39, .elapsed = 120, .tank = "0.000"});
    pass({.resetLap = 12, .level = 40, .elapsed = 0, .tank = "0.000"});
}

TEST_F(FuelTest, PlanFractionAndNextWindow) {
    struct Case {
        int plan;
        double tanksBefore;
        double fraction;
        double nextPitLaps;
    };
    // 2.5 litres per lap, 30 litres in the tank (12 laps), 20 laps to go: 50 litres to finish.
    // A plan applies strictly between one and three tanks.
    const Case cases[] = {{0, 2.0, 1.0, 12},  {1, 2.0, 0.25, 5}, {2, 2.0, 0.5, 10},
                          {3, 2.0, 0.75, 15}, {3, 3.0, 0.0, 12}, {2, 1.0, 0.5, 12}};
    for (const Case& c : cases) {
        SCOPED_TRACE("plan " + std::to_string(c.plan) + " tanks " + std::to_string(c.tanksBefore));
        const engineer::RaceState& r =
            pass({.resetLap = 8, .elapsed = 400, .plan = c.plan, .tanksBefore = c.tanksBefore});
        EXPECT_DOUBLE_EQ(r.FuelPlanFraction, c.fraction);
        EXPECT_NEAR(r.NextPitLaps, c.nextPitLaps, 1e-4);
        EXPECT_DOUBLE_EQ(r.TanksToFinish, 0.5);
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
                SCOPED_TRACE(std::to_string(laps) + " laps, at " + std::to_string(at));
                const double run = laps * lapLength + at - c.lapDist;
                sim_.setInt("Lap", c.lap + laps);
                sim_.set("LapDist", at);
                sim_.set("FuelLevel", 40 - idle - burn * run / lapLength);
                const double seconds = std::trunc(run / 50);  // 50 m/s
                sim_.set("SessionTime", 1000 + seconds);
                refresh();
                EXPECT_NEAR(race().DistanceSinceReset, run, 0.01);
                EXPECT_NEAR(race().FuelBurnPerLap, burn, 1e-3);
                EXPECT_NEAR(race().FuelBurnPerMin, burn * run / lapLength * 60 / seconds, 1e-3);
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

}  // namespace
}  // namespace racetest
