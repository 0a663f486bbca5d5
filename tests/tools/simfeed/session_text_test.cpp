#include <gtest/gtest.h>

#include <string>

#include "plugin/telemetry/session_query.h"
#include "tools/simfeed/race_model.h"

namespace {

std::string lookup(const std::string& text, const std::string& path) {
    const char* start = nullptr;
    int length = 0;
    if (!telemetry::findSessionValue(text.c_str(), text.size() + 1, path.c_str(), &start,
                                     &length)) {
        return "<not found>";
    }
    return std::string(start, static_cast<size_t>(length));
}

simfeed::Scenario scenarioWithDistinctCorners() {
    simfeed::Scenario s = simfeed::defaultScenario();
    // Every corner different, so a look-up that lands on the wrong corner shows.
    s.car.startingPressure[0] = 162;
    s.car.startingPressure[1] = 168;
    s.car.startingPressure[2] = 171.5;
    s.car.startingPressure[3] = 174;
    s.car.classMaxFuelPct = 0.9;
    s.driver.carIdx = 11;
    s.track.pitEntryPct = 0.915;
    return s;
}

// Every path the race engineer asks for, with the text the simulator would hold.
TEST(SessionText, AnswersEveryPathTheEngineerAsksFor) {
    simfeed::Scenario s = scenarioWithDistinctCorners();
    simfeed::RaceModel model(s);
    const std::string text = model.sessionText();
    struct Case {
        const char* path;
        const char* value;
    } cases[] = {
        {"DriverInfo:DriverUserID:", "402117"},
        {"DriverInfo:DriverCarSLShiftRPM:", "7300.000"},
        {"WeekendInfo:SubSessionID:", "60123457"},
        {"WeekendInfo:TrackID:", "417"},
        {"WeekendInfo:TrackDisplayName:", "Brenvik Ring"},
        {"DriverInfo:Drivers:CarIdx:{11}CarID:", "143"},
        {"DriverInfo:Drivers:CarIdx:{11}CarScreenName:", "Korvane GT3"},
        {"WeekendInfo:TrackAirTemp:", "25.55 C"},
        {"WeekendInfo:TrackSurfaceTemp:", "40.00 C"},
        {"WeekendInfo:TrackLength:", "5.15 km"},
        {"DriverInfo:DriverPitTrkPct:", "0.915000"},
        {"DriverInfo:DriverCarFuelMaxLtr:", "100.000"},
        {"DriverInfo:Drivers:CarIdx:{11}CarClassMaxFuelPct:", "0.900 %"},
        {"SessionInfo:Sessions:SessionNum:{2}SessionName:", "RACE"},
        {"SessionInfo:Sessions:SessionNum:{0}SessionName:", "PRACTICE"},
        {"SessionInfo:Sessions:SessionNum:{1}SessionName:", "QUALIFY"},
        {"SessionInfo:Sessions:SessionNum:{2}SessionLaps:", "12"},
        {"SessionInfo:Sessions:SessionNum:{0}SessionLaps:", "unlimited"},
        {"SessionInfo:Sessions:SessionNum:{2}SessionTime:", "unlimited"},
        {"SessionInfo:Sessions:SessionNum:{0}SessionTime:", "1800.0000 sec"},
        {"CarSetup:Tires:RightFront:StartingPressure:", "168 kPa"},
        {"CarSetup:Tires:LeftRear:StartingPressure:", "171.5 kPa"},
        {"WeekendInfo:TrackPitSpeedLimit:", "60.00 kph"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(lookup(text, c.path), c.value) << c.path;
    }
    // A car index that is not in the field is not found rather than answered by another car.
    EXPECT_EQ(lookup(text, "DriverInfo:Drivers:CarIdx:{40}CarID:"), "<not found>");
    EXPECT_EQ(lookup(text, "SessionInfo:Sessions:SessionNum:{3}SessionName:"), "<not found>");
}

}  // namespace
