// The advisories as the driver reaches them: through the functions on track, in the stall and
// in the garage, with the real analytics behind them.

#include <string>
#include <vector>

#include "race_work_harness.h"

namespace racework {
namespace {

using engineer::kFuel;
using engineer::kTire;
using engineer::kWeather;
using Events = std::vector<std::string>;

std::string withRaceLaps(const std::string& laps) {
    std::string text = testsupport::sampleSessionText();
    const std::string race = "SessionLaps: 20\n";
    const size_t at = text.find(race);
    text.replace(at, race.size(), "SessionLaps: " + laps + "\n");
    return text;
}

class AdvisoriesTest : public RaceWorkTest {};

TEST_F(AdvisoriesTest, TheTireFunctionOnTrackTellsTheMostWornTireAndTheSetsLeft) {
    onSurface(3);
    sim_.set("LFwearR", 0.92);
    sim_.set("RFwearL", 0.88);
    sim_.set("LRwearR", 0.95);
    sim_.set("RRwearL", 0.90);
    sim_.setInt("TireSetsAvailable", 3);
    tick(kTire);
    EXPECT_EQ(timeline_.starting("say"),
              Events{"say: The last read tire observation most worn was 88.0%. Tire sets "
                     "remaining is 3"});
}

TEST_F(AdvisoriesTest, TheWeatherFunctionComparesTheTrackWithUsualConditions) {
    struct Case {
        double track;
        const char* sentence;
    };
    const Case cases[] = {
        {50.0, "say:  Current Track conditions are 20.0% warmer than usual conditions."},
        {30.0, "say:  Current Track conditions are -25.0% cooler than usual conditions."},
    };
    for (bool garage : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(c.track) + (garage ? " garage" : " track"));
            garage ? inGarage() : onSurface(3);
            sim_.set("TrackTempCrew", c.track);
            timeline_.clear();
            tick(kWeather);
            EXPECT_EQ(timeline_.starting("say"), Events{c.sentence});
        }
    }
}

TEST_F(AdvisoriesTest, TheTireFunctionInTheGarageSuggestsClicksForTheTrack) {
    struct Case {
        double track;
        const char* console;
        const char* sentence;
    };
    const Case cases[] = {
        {50.0, " %20.0 Warmer, Suggest (kPa) 152.59 (From: 165.00) -3.1 Clicks   ",
         "say:  Current Weather Suggests taking -3.1 Clicks to baseline tire pressures."},
        {30.0, " %-25.0 Cooler, Suggest (kPa) 177.41 (From: 165.00) +3.1 Clicks   ",
         "say:  Current Weather Suggests adding 3.1 Clicks to baseline tire pressures."},
    };
    inGarage();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.track);
        sim_.set("TrackTempCrew", c.track);
        timeline_.clear();
        const std::string out = tick(kTire);
        EXPECT_TRUE(contains(out, c.console)) << out;
        EXPECT_EQ(timeline_.starting("say"), Events{c.sentence});
    }
}

TEST_F(AdvisoriesTest, TheFuelFunctionSuggestsTheStartingFuelInTheGarageAndTheStall) {
    struct Case {
        const char* laps;
        int tank;
        const char* sentence;
        const char* logTail;
    };
    const Case cases[] = {
        {"20", 100, "say:  Current Suggested Starting Fuel is 50.00 Liters",
         "RaceSessionType:1 StartingFuel:50.00 AdditionalFuel:0.00,"},
        {"50", 100, "say:  Current Suggested Starting Fuel is 100.00 Liters",
         "StartingFuel:100.00 AdditionalFuel:25.00,"},
        {"unlimited", 110, "say:  Not enough information, Suggest Starting Fuel 110 Liters",
         nullptr},
        {"20", 0, "say:  Not enough information, Suggest Starting Fuel 0 Liters", nullptr},
    };
    for (bool garage : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.laps) + (garage ? " garage" : " stall"));
            garage ? inGarage() : onSurface(1);
            sim_.set("Speed", 3.0);  // rolling: no stop work in the stall
            for (const char* wear : {"LFwearR", "RFwearL", "LRwearR", "RRwearL"}) {
                sim_.set(wear, 1.0);  // new tires: no change by wear
            }
            sim_.setSessionText(withRaceLaps(c.laps));
            race().LastHighFuelBurnMax = 2.5f;
            race().FuelTankLiters = c.tank;
            timeline_.clear();
            std::filesystem::remove(dir_ / "Qm_Korvane_Plugin.log");
            tick(kFuel);
            EXPECT_EQ(timeline_.starting("say"), Events{c.sentence});
            const std::string log = readLog();
            if (c.logTail) {
                EXPECT_TRUE(contains(log, c.logTail)) << log;
            } else {
                EXPECT_FALSE(contains(log, "Request Starting Fuel")) << log;
            }
        }
    }
}

}  // namespace
}  // namespace racework
