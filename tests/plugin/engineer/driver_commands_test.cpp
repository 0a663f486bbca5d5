// The driver's functions through the real tick, by where the car is; the advisories as the
// driver reaches them (their sentences are checked with the analytics); the fuel window's reset.

#include <limits>
#include <string>
#include <vector>

#include "support/race_fixture.h"

namespace racetest {
namespace {

using engineer::kFuel;
using engineer::kModeConfig;
using engineer::kModeOption;
using engineer::kStint;
using engineer::kTire;
using engineer::kWeather;

class DriverCommandsTest : public RaceWorkTest {};

TEST_F(DriverCommandsTest, StintCyclesThroughThePlansAndSaysWhetherThePlanApplies) {
    struct Case {
        double tanks;
        bool available;
    };
    // The plan applies only strictly between one and three tanks.
    const Case cases[] = {{2.0, true}, {1.01, true}, {1.0, false}, {3.0, false}, {0.8, false}};
    onSurface(3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tanks);
        race().FuelPlan = 0;
        race().TanksToFinish = c.tanks;
        race().NextPitLaps = 7.9;
        timeline_.clear();
        Events said;
        for (int press = 1; press <= 5; ++press) {
            tick(kStint);
            const std::string plan = std::to_string(press % 5);
            said.push_back(c.available ? "say:  Setting Stint Fuel plan " + plan
                                       : "say:  Fuel Plan change not available yet. Setting plan " +
                                             plan + ", Next Pit window in 7 laps");
        }
        EXPECT_EQ(timeline_.starting("say"), said);
        EXPECT_EQ(race().FuelPlan, 0);
    }
}

TEST_F(DriverCommandsTest, FuelNumbersComeBeforeThePlanChange) {
    onSurface(3);
    race().FuelLapsLeft = 12.34f;
    race().FuelToFinish = 45.9;
    race().FuelBurnPerLap = 2.46f;
    race().FuelPlan = 2;
    race().NextPitLaps = 7.9;
    race().TanksToFinish = 1.5;
    tick(kFuel | kStint);
    EXPECT_EQ(timeline_.starting("say"),
              (Events{"say:  Checking the numbers there is 12.3 laps of fuel left, we will need 45 "
                      "more liters at the current burn of 2.5 liters per lap. Current Fuel plan 2, "
                      "Next Pit window in 7 laps",
                      "say:  Setting Stint Fuel plan 3"}));

    // Numbers no int holds are spoken without fault.
    race().FuelToFinish = 1e300;
    race().NextPitLaps = std::numeric_limits<double>::quiet_NaN();
    timeline_.clear();
    tick(kFuel);
    const Events spoken = timeline_.starting("say");
    ASSERT_EQ(spoken.size(), 1u);
    EXPECT_TRUE(contains(spoken[0], "we will need 2147483647 more liters")) << spoken[0];
    EXPECT_TRUE(contains(spoken[0], "Next Pit window in 0 laps")) << spoken[0];
}

TEST_F(DriverCommandsTest, ModeConfigTogglesAfterTheOtherFunctionsAndEndsTheTick) {
    struct Case {
        int surface;
        uint32_t pressed;
        Events spoken;
    };
    const Case cases[] = {
        {3,
         kModeOption | kModeConfig,
         {"say:  Fuel Reset.", "say:  Adaptive Tire management is now disabled"}},
        {2, kModeConfig, {"say:  Adaptive Tire management is now disabled"}},
        {1, kModeConfig, {"say:  Adaptive Tire management is now disabled"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.surface);
        onSurface(c.surface);
        race().AdaptiveTireManagement = 1;
        race().FuelBurnMax = 3.2f;
        race().TrackPitSpeedLimit = 0;
        race().PitInArmed = 0;
        race().DistanceToPitEntry = 10;  // a lap report would be due on track
        race().LapReportSent = 0;
        timeline_.clear();
        const std::string out = tick(c.pressed);
        EXPECT_EQ(timeline_.starting("say"), c.spoken);
        EXPECT_EQ(race().AdaptiveTireManagement, 0);
        EXPECT_EQ(race().FuelBurnMax, c.surface == 3 ? 0.0f : 3.2f);
        // Nothing after the message: no speed-limit query, no pit-road row, no on-track calls.
        EXPECT_EQ(race().TrackPitSpeedLimit, 0);
        EXPECT_EQ(out, "");
        EXPECT_TRUE(timeline_.starting("GET").empty());
        EXPECT_EQ(race().PitInArmed, 0);

        // Pressed again: enabled, and without a press the tick goes on to the rest.
        timeline_.clear();
        tick(kModeConfig);
        EXPECT_EQ(timeline_.starting("say"),
                  Events{"say:  Adaptive Tire management is now enabled"});
        tick();
        EXPECT_EQ(race().TrackPitSpeedLimit, 72);
    }
}

TEST_F(DriverCommandsTest, TirePressesOnPitRoadOrderAndThenSpeakTheNextTireChoice) {
    onSurface(2);
    sim_.setInt("Lap", 7);
    race().TireChangeLap = 4;
    race().PitInArmed = 0;
    race().BaselinePressureLF = race().BaselinePressureRF = 170;
    race().BaselinePressureLR = race().BaselinePressureRR = 170;
    // The codes of the pit commands, then the sentence.
    const char* const expected[] = {"3 4 5 6 say:  Setting all tires.",
                                    "7 4 6 say:  Setting right sides only.",
                                    "7 say:  Setting no tires."};
    for (int press = 0; press < 3; ++press) {
        timeline_.clear();
        tick(kTire);
        std::string seen;
        for (const std::string& e : timeline_.events()) {
            if (e.rfind("pit ", 0) == 0) {
                seen += e.substr(4, e.find(' ', 4) - 4) + " ";
            } else if (e.rfind("say", 0) == 0) {
                seen += e;
            }
        }
        EXPECT_EQ(seen, expected[press]);
        EXPECT_EQ(race().TireChangeMode, (press + 1) % 3);
    }
    EXPECT_EQ(logMessages(), (Events{"LOG: Lap 7 TireChangeMode: 1 TireAgeInLaps 3 ",
                                     "LOG: Lap 7 TireChangeMode: 2 TireAgeInLaps 3 ",
                                     "LOG: Lap 7 TireChangeMode: 0 TireAgeInLaps 3 "}));
}

TEST_F(DriverCommandsTest, GarageModeConfigTakesTheBaselinesWhateverElseIsPressed) {
    inGarage();
    sim_.set("LFcoldPressure", 165.5);
    sim_.set("RFcoldPressure", 166);
    sim_.set("LRcoldPressure", 167);
    sim_.set("RRcoldPressure", 168);
    race().BaselinePressureLF = 150;  // taken at an earlier row
    race().BaselinePressureRF = 150;
    struct Case {
        uint32_t pressed;
        bool baselines;
        size_t sentences;
    };
    // 6 is ModeConfig with Fuel: the baselines, but no starting fuel (that needs Fuel alone).
    // Stint and ModeOption say nothing in the garage; Fuel with Tire is no single function.
    const Case cases[] = {
        {kModeConfig | kFuel, true, 1}, {kModeConfig, true, 1},    {kStint, false, 0},
        {kModeOption, false, 0},        {kFuel | kTire, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pressed);
        race().BaselinePressureLF = 150;
        timeline_.clear();
        tick(c.pressed);
        const Events spoken = timeline_.starting("say");
        EXPECT_EQ(spoken.size(), c.sentences);
        if (c.baselines) {
            EXPECT_EQ(spoken, Events{"say:  Baseline starting pressures have been updated."});
            EXPECT_EQ(race().BaselinePressureLF, 165.5);
            EXPECT_EQ(race().BaselinePressureRR, 168);
        } else {
            EXPECT_EQ(race().BaselinePressureLF, 150);
        }
    }
}

TEST_F(DriverCommandsTest, EachPlaceAnswersItsFunctionWithItsAdvisory) {
    constexpr int kGarage = -2;
    constexpr uint32_t kAll = kFuel | kTire | kWeather | kStint | kModeOption | kModeConfig;
    struct Case {
        int surface;
        uint32_t function;
        const char* said;  // how the one sentence begins; nullptr: nothing is done
    };
    const Case cases[] = {
        // Off track or out of the world no function does anything.
        {0, kAll, nullptr},
        {-1, kAll, nullptr},
        {3, kTire, "say: The last read tire observation most worn was 88.0%. Tire sets "},
        {3, kWeather, "say:  Current Track conditions are 20.0% warmer"},
        {kGarage, kWeather, "say:  Current Track conditions are 20.0% warmer"},
        {kGarage, kTire, "say:  Current Weather Suggests taking -3.1 Clicks"},
        {kGarage, kFuel, "say:  Current Suggested Starting Fuel is 50.00 Liters"},
        {1, kFuel, "say:  Current Suggested Starting Fuel is 50.00 Liters"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.surface) + " " + std::to_string(c.function));
        c.surface == kGarage ? inGarage() : onSurface(c.surface);
        sim_.set("Speed", 3.0);  // rolling through the stall: no stop work
        for (const char* wear : {"LFwearR", "RFwearL", "LRwearR", "RRwearL"}) {
            sim_.set(wear, 0.95);
        }
        sim_.set("RFwearL", 0.88);
        sim_.setInt("TireSetsAvailable", 3);
        sim_.set("TrackTempCrew", 50);
        race().LastHighFuelBurnMax = 2.5f;
        race().FuelTankLiters = 100;
        timeline_.clear();
        race().AdaptiveTireManagement = 1;
        race().FuelPlan = 0;
        tick(c.function);
        const Events said = timeline_.starting("say");
        if (!c.said) {
            EXPECT_EQ(said, Events{});
            EXPECT_TRUE(timeline_.starting("pit").empty());
            EXPECT_EQ(race().AdaptiveTireManagement, 1);
            EXPECT_EQ(race().FuelPlan, 0);
            continue;
        }
        ASSERT_EQ(said.size(), 1u);
        EXPECT_EQ(said[0].substr(0, std::string(c.said).size()), c.said);
    }
}

// The fuel window's reset, as the driver's ModeOption and the garage ask for it.
using RaceStateTest = RaceTest;

TEST_F(RaceStateTest, FuelResetStartsTheWindowFromTelemetryAndKeepsTheFirstHighBurn) {
    sim_.set("SessionTime", 1234.97);
    sim_.setInt("Lap", 7);
    sim_.set("FuelLevel", 42.5);
    publish();
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
        engineer::RaceState& r = race();
        r.RaceSessionType = c.raceSessionType;
        r.LastHighFuelBurnMax = c.lastHigh;
        r.FuelBurnPerLapMax = c.perLapMax;
        r.FuelBurnPerMinMax = c.perMinMax;
        r.DistanceSinceReset = 880;
        r.NextPitLaps = 3;
        r.FuelPlanFraction = 0.5;
        r.FuelPlan = 2;
        r.FuelBurnMax = 2.6f;
        r.FuelBurnPerLap = 2.4f;
        r.FuelBurnPerMin = 1.2f;
        r.FuelUsed = 9;
        r.LitersToAdd = 30;
        engineer::FuelReset();
        EXPECT_EQ(r.LastHighFuelBurnMax, c.expected);
        EXPECT_EQ(r.ResetSessionTime, 1234.0);  // whole seconds, truncated
        EXPECT_EQ(r.ResetLap, 7);
        EXPECT_EQ(r.FuelAtReset, 42.5f);
        for (double v :
             {double{r.DistanceSinceReset}, r.NextPitLaps, r.FuelPlanFraction,
              double{r.FuelBurnPerLapMax}, double{r.FuelBurnPerMinMax}, double(r.FuelPlan),
              double{r.FuelBurnMax}, double{r.FuelBurnPerLap}, double{r.FuelBurnPerMin}}) {
            EXPECT_EQ(v, 0);
        }
        // Not part of the window's reset.
        EXPECT_EQ(r.FuelUsed, 9);
        EXPECT_EQ(r.LitersToAdd, 30);

        r.FuelBurnPerLapMax = 4.0f;
        r.FuelBurnPerMinMax = 4.0f;
        engineer::FuelReset();
        EXPECT_EQ(r.LastHighFuelBurnMax, c.afterSecondReset) << "second reset";
    }
}

}  // namespace
}  // namespace racetest
