// The advisories as the driver reaches them: each function on track, in the stall and in the
// garage, with the real analytics behind them (their sentences are checked with the analytics).

#include <string>
#include <vector>

#include "support/race_fixture.h"

namespace racetest {
namespace {

using engineer::kFuel;
using engineer::kTire;
using engineer::kWeather;

using FunctionAdvisoriesTest = RaceWorkTest;

TEST_F(FunctionAdvisoriesTest, EachPlaceAnswersItsFunctionWithItsAdvisory) {
    struct Case {
        int surface;  // -1: the garage
        uint32_t function;
        const char* said;  // how the one sentence begins
    };
    const Case cases[] = {
        {3, kTire, "say: The last read tire observation most worn was 88.0%. Tire sets "},
        {3, kWeather, "say:  Current Track conditions are 20.0% warmer"},
        {-1, kWeather, "say:  Current Track conditions are 20.0% warmer"},
        {-1, kTire, "say:  Current Weather Suggests taking -3.1 Clicks"},
        {-1, kFuel, "say:  Current Suggested Starting Fuel is 50.00 Liters"},
        {1, kFuel, "say:  Current Suggested Starting Fuel is 50.00 Liters"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.surface) + " " + std::to_string(c.function));
        c.surface < 0 ? inGarage() : onSurface(c.surface);
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
        tick(c.function);
        const Events said = timeline_.starting("say");
        ASSERT_EQ(said.size(), 1u);
        EXPECT_EQ(said[0].substr(0, std::string(c.said).size()), c.said);
    }
}

}  // namespace
}  // namespace racetest
