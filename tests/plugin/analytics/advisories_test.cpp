// The spoken advisories: track conditions, starting pressures, starting fuel and tire sets;
// the session-join line: which session, track and car the driver joined; the tire orders:
// pressures corrected for the track temperature, and the Tire function's choice by mode.

#include <string>
#include <vector>

#include "support/race_fixture.h"
#include "plugin/analytics/analytics_calls.h"
#include "plugin/engineer/race_state.h"

namespace racetest {
namespace {

using WeatherAdvisoryTest = RaceTest;

TEST_F(WeatherAdvisoryTest, TrackTemperatureAgainstUsualConditions) {
    struct Case {
        double track;
        const char* pressure;  // right-front starting pressure in the setup, nullptr = none
        const char* comparison;
        const char* console;
        const char* advice;
    };
    const Case cases[] = {
        {50.0, "165 kPa", " Current Track conditions are 20.0% warmer than usual conditions.",
         " %20.0 Warmer, Suggest (kPa) 152.59 (From: 165.00) -3.1 Clicks   ", "taking -3.1"},
        {30.0, "165 kPa", " Current Track conditions are -25.0% cooler than usual conditions.",
         " %-25.0 Cooler, Suggest (kPa) 177.41 (From: 165.00) +3.1 Clicks   ", "adding 3.1"},
        // Neither warmer nor cooler: a sentence that still reads as English.
        {40.0, "165 kPa",
         " Current Track conditions are the same as usual conditions, 0.0% difference.",
         " %0.0 Usual, Suggest (kPa) 165.00 (From: 165.00) 0.0 Clicks   ", "keeping 0.0"},
        // Without a starting pressure the suggestion is the bare correction; the clicks are
        // the same.
        {50.0, nullptr, " Current Track conditions are 20.0% warmer than usual conditions.",
         " %20.0 Warmer, Suggest (kPa) -12.41 (From: 0.00) -3.1 Clicks   ", "taking -3.1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.track) + (c.pressure ? "" : " no pressure"));
        std::string text = testsupport::sampleSessionText();
        if (!c.pressure) {
            const size_t at = text.find("CarSetup:");
            text = text.substr(0, at) + "...\n";
        }
        sim_.set("TrackTempCrew", c.track);
        useSessionText(text);
        timeline_.clear();
        clearLog();

        analytics::AdviseTrackConditions();
        ::testing::internal::CaptureStdout();
        analytics::AdviseTirePressure();
        const std::string console = ::testing::internal::GetCapturedStdout();

        const std::string advice = std::string(" Current Weather Suggests ") + c.advice +
                                   " Clicks to baseline tire pressures.";
        EXPECT_EQ(said(), (Events{c.comparison, advice}));
        EXPECT_EQ(console, c.console);
        EXPECT_EQ(logMessages(), Events{"LOG: " + advice});
    }
}

using StartingFuelTest = RaceTest;

TEST_F(StartingFuelTest, LapsTimesTheHighestBurnUpToTheTank) {
    struct Case {
        const char* laps;
        const char* time;
        float lastHigh;
        int tank;
        const char* sentence;
        const char* log;  // nullptr: nothing logged
        float highAfter;
    };
    const Case cases[] = {
        // An unseeded burn comes from the maximum of the race kind.
        {"20", "unlimited", 0, 100, " Current Suggested Starting Fuel is 62.00 Liters",
         "LOG: Request Starting Fuel. LastHighFuelBurnMax:3.10 RaceSessionLapsMax:20 "
         "RaceSessionTimeMax:0 RaceSessionType:1 StartingFuel:62.00 AdditionalFuel:0.00, "
         "FuelBurnPerLapMax:3.10 FuelBurnPerMinMax:1.40",
         3.1f},
        {"50", "3600.0000 sec", 2.5f, 100, " Current Suggested Starting Fuel is 100.00 Liters",
         "LOG: Request Starting Fuel. LastHighFuelBurnMax:2.50 RaceSessionLapsMax:50 "
         "RaceSessionTimeMax:3600 RaceSessionType:1 StartingFuel:100.00 AdditionalFuel:25.00, "
         "FuelBurnPerLapMax:3.10 FuelBurnPerMinMax:1.40",
         2.5f},
        // A suggestion must exceed one liter.
        {"20", "unlimited", 0.05f, 100, " Not enough information, Suggest Starting Fuel 100 Liters",
         nullptr, 0.05f},
        {"unlimited", "3600.0000 sec", 0, 110,
         " Not enough information, Suggest Starting Fuel 110 Liters", nullptr, 1.4f},
        // No snapshot yet: the tank is 0, so is the suggestion.
        {"20", "unlimited", 2.5f, 0, " Not enough information, Suggest Starting Fuel 0 Liters",
         nullptr, 2.5f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.laps) + " laps, tank " + std::to_string(c.tank));
        // The race is session 2, the last one in the sample.
        const std::string text = testsupport::sampleSessionText();
        const size_t race = text.find("SessionNum: 2");
        useSessionText(
            text.substr(0, race) +
            withValue(withValue(text.substr(race), "SessionLaps", c.laps), "SessionTime", c.time));
        engineer::RaceState& r = engineer::Race();
        r.LastHighFuelBurnMax = c.lastHigh;
        r.FuelBurnPerLapMax = 3.1f;
        r.FuelBurnPerMinMax = 1.4f;
        r.FuelTankLiters = c.tank;
        timeline_.clear();
        clearLog();
        analytics::AdviseStartingFuel();
        EXPECT_EQ(said(), Events{c.sentence});
        EXPECT_EQ(logMessages(), c.log ? Events{c.log} : Events{});
        EXPECT_FLOAT_EQ(r.LastHighFuelBurnMax, c.highAfter);
    }
}

using TireSetsTest = RaceTest;

TEST_F(TireSetsTest, TheMostWornTireAndTheSetsLeft) {
    struct Case {
        double lf, rf, lr, rr;
        int sets;
        const char* sentence;
    };
    const Case cases[] = {
        {0.92, 0.88, 0.95, 0.90, 3,
         "The last read tire observation most worn was 88.0%. Tire sets remaining is 3"},
        {0.97, 0.96, 0.95, 0.61, 255,
         "The last read tire observation most worn was 61.0%. Tire sets remaining is 255"},
        {0.50, 0.96, 0.95, 0.61, -1,
         "The last read tire observation most worn was 50.0%. Tire sets remaining is -1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sentence);
        sim_.set("LFwearR", c.lf);
        sim_.set("RFwearL", c.rf);
        sim_.set("LRwearR", c.lr);
        sim_.set("RRwearL", c.rr);
        sim_.setInt("TireSetsAvailable", c.sets);
        publish();
        timeline_.clear();
        analytics::AdviseTireSets();
        EXPECT_EQ(said(), Events{c.sentence});
    }
}

TEST_F(TireSetsTest, SetsTheSimulatorDoesNotPublishReadAsNone) {
    std::vector<simblock::VarSpec> vars = testsupport::catalogueVarSpecs();
    std::erase_if(vars,
                  [](const simblock::VarSpec& v) { return v.name.rfind("TireSets", 0) == 0; });
    ASSERT_TRUE(sim_.changeLayout(vars));
    for (const char* wear : {"LFwearR", "RFwearL", "LRwearR", "RRwearL"}) {
        sim_.set(wear, 0.9);
    }
    publish();
    analytics::AdviseTireSets();
    EXPECT_EQ(said(), Events{"The last read tire observation most worn was 90.0%. Tire sets "
                             "remaining is 0"});
}

using SessionJoinTest = RaceTest;

TEST_F(SessionJoinTest, RecordsTheSessionTrackAndCarOfThePlayer) {
    analytics::LogSessionJoin();
    EXPECT_EQ(logMessages(), Events{"LOG: Join Session Information: SessionID: 61234567, "
                                    "47,WeatherTech Raceway at Laguna Seca, 67,Mazda MX-5 Cup"});
    const engineer::RaceState& r = engineer::Race();
    EXPECT_EQ(r.SubSessionID, 61234567);
    EXPECT_EQ(r.TrackID, 47);
    EXPECT_EQ(r.CarID, 67);

    // The car is the one at the player's index, here the pace car's entry.
    sim_.setInt("PlayerCarIdx", 0);
    publish();
    clearLog();
    analytics::LogSessionJoin();
    EXPECT_EQ(logMessages(), Events{"LOG: Join Session Information: SessionID: 61234567, "
                                    "47,WeatherTech Raceway at Laguna Seca, 120,safety "
                                    "pcporsche911cup"});

    // Missing values keep the numbers and show no names.
    useSessionText("---\nWeekendInfo:\n TrackName: somewhere\n...\n");
    clearLog();
    analytics::LogSessionJoin();
    EXPECT_EQ(logMessages(),
              Events{"LOG: Join Session Information: SessionID: 61234567, 47,, 120,"});

    // A number too large for an int is pinned rather than left to atoi's undefined overflow.
    useSessionText(withValue(testsupport::sampleSessionText(), "SubSessionID", "99999999999"));
    analytics::LogSessionJoin();
    EXPECT_EQ(r.SubSessionID, 2147483647);
}

TEST_F(SessionJoinTest, LongNamesAreCutTo126CharactersBetweenCharacters) {
    struct Case {
        const char* what;
        std::string name;
        std::string shown;
    };
    const std::string e = "\xC3\xA9";  // one character, two bytes
    const Case cases[] = {
        {"200 characters", std::string(200, 'N'), std::string(126, 'N')},
        {"a two-byte character across the cut", std::string(125, 'N') + e + "NN",
         std::string(125, 'N')},
        {"a two-byte character just inside", std::string(124, 'N') + e + "NN",
         std::string(124, 'N') + e},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        useSessionText(withValue(testsupport::sampleSessionText(), "TrackDisplayName", c.name));
        clearLog();
        analytics::LogSessionJoin();
        EXPECT_EQ(logMessages(), Events{"LOG: Join Session Information: SessionID: 61234567, 47," +
                                        c.shown + ", 67,Mazda MX-5 Cup"});
    }
}

class TireOrdersTest : public SnapshotTest {
  protected:
    void baselines(double lf, double rf, double lr, double rr) {
        race().BaselinePressureLF = lf;
        race().BaselinePressureRF = rf;
        race().BaselinePressureLR = lr;
        race().BaselinePressureRR = rr;
    }
    void trackAt(double celsius) {
        sim_.set("TrackTempCrew", celsius);
        ASSERT_TRUE(sim_.deliver(telemetry::Telemetry()));
    }
};

TEST_F(TireOrdersTest, AdaptiveOrderKeepsTheTireBookkeeping) {
    baselines(170, 171, 172, 173.9);
    sim_.setInt("Lap", 9);
    trackAt(50);
    race().TireDistance = 1234;
    race().ServiceType = 1;
    // Neither without adaptive management nor in passive mode is anything ordered.
    race().AdaptiveTireManagement = 0;
    analytics::OrderAdaptiveTires();
    race().AdaptiveTireManagement = 1;
    race().PassiveMode = 1;
    analytics::OrderAdaptiveTires();
    EXPECT_EQ(pitCommands(), Commands{});
    EXPECT_EQ(race().TiresRequested, 0);

    race().PassiveMode = 0;
    analytics::OrderAdaptiveTires();
    // 10 degrees over 40 take 10 x 1.8 x 0.689476 = 12.41 kPa.
    EXPECT_EQ(pitCommands(), (Commands{{3, 157}, {4, 158}, {5, 159}, {6, 161}}));
    EXPECT_EQ(race().TireChangeLap, 9);
    EXPECT_EQ(race().TireDistance, 0);
    EXPECT_EQ(race().ServiceType, 0u);
    EXPECT_EQ(race().TiresRequested, 1);
}

TEST_F(TireOrdersTest, TireChoiceByModeFollowsTheTrackTemperature) {
    struct Case {
        int mode;
        uint8_t adaptive;
        double track;
        Commands sent;
    };
    const Case cases[] = {
        {0, 1, 50, {{7, 0}}},
        {1, 1, 50, {{3, 167}, {4, 168}, {5, 169}, {6, 170}}},
        {1, 1, 40, {{3, 180}, {4, 181}, {5, 182}, {6, 183}}},
        {1, 1, 30, {{3, 192}, {4, 193}, {5, 194}, {6, 195}}},
        {1, 1, 40.5, {{3, 179}, {4, 180}, {5, 181}, {6, 182}}},
        {2, 1, 50, {{7, 0}, {4, 168}, {6, 170}}},
        {3, 1, 50, {{7, 0}}},
        // Without adaptive management the baselines go out as they are.
        {1, 0, 50, {{3, 180}, {4, 181}, {5, 182}, {6, 183}}},
        {2, 0, 50, {{7, 0}, {4, 181}, {6, 183}}},
    };
    baselines(180, 181, 182, 183);
    for (const Case& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + " adaptive " + std::to_string(c.adaptive) +
                     " track " + std::to_string(c.track));
        timeline_.clear();
        trackAt(c.track);
        race().TireChangeMode = c.mode;
        race().AdaptiveTireManagement = c.adaptive;
        analytics::OrderTiresForMode();
        EXPECT_EQ(pitCommands(), c.sent);
        EXPECT_EQ(race().TiresRequested, 0);  // the choice does not touch the bookkeeping
    }
    race().PassiveMode = 1;
    timeline_.clear();
    analytics::OrderTiresForMode();
    EXPECT_EQ(pitCommands(), Commands{});
}

}  // namespace
}  // namespace racetest
