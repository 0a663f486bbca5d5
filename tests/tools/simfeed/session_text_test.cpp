#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <set>
#include <sstream>
#include <string>

#include "plugin/telemetry/session_query.h"
#include "tools/simfeed/feed_runner.h"
#include "tools/simfeed/race_model.h"
#include "tools/simfeed/session_text.h"

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

// Every path the race engineer asks for, with the text the simulator would hold and what
// the engineer's conversion makes of it.
TEST(SessionText, AnswersEveryPathTheEngineerAsksFor) {
    simfeed::Scenario s = scenarioWithDistinctCorners();
    simfeed::RaceModel model(s);
    const std::string text = model.sessionText();
    struct Case {
        std::string path;
        std::string value;
        double converted;  // atof of the value (atoi where the engineer uses atoi)
        bool integer;
    } cases[] = {
        {"DriverInfo:DriverUserID:", "402117", 402117, true},
        {"DriverInfo:DriverCarSLShiftRPM:", "7300.000", 7300, true},
        {"WeekendInfo:SubSessionID:", "60123457", 60123457, true},
        {"WeekendInfo:TrackID:", "417", 417, true},
        {"WeekendInfo:TrackDisplayName:", "Brenvik Ring", 0, false},
        {"DriverInfo:Drivers:CarIdx:{11}CarID:", "143", 143, true},
        {"DriverInfo:Drivers:CarIdx:{11}CarScreenName:", "Korvane GT3", 0, false},
        {"WeekendInfo:TrackAirTemp:", "25.55 C", 25.55, false},
        {"WeekendInfo:TrackSurfaceTemp:", "40.00 C", 40.0, false},
        {"WeekendInfo:TrackLength:", "5.15 km", 5.15, false},
        {"DriverInfo:DriverPitTrkPct:", "0.915000", 0.915, false},
        {"DriverInfo:DriverCarFuelMaxLtr:", "100.000", 100, false},
        {"DriverInfo:Drivers:CarIdx:{11}CarClassMaxFuelPct:", "0.900 %", 0.9, false},
        {"SessionInfo:Sessions:SessionNum:{2}SessionName:", "RACE", 0, false},
        {"SessionInfo:Sessions:SessionNum:{0}SessionName:", "PRACTICE", 0, false},
        {"SessionInfo:Sessions:SessionNum:{1}SessionName:", "QUALIFY", 0, false},
        {"SessionInfo:Sessions:SessionNum:{2}SessionLaps:", "12", 12, true},
        {"SessionInfo:Sessions:SessionNum:{0}SessionLaps:", "unlimited", 0, true},
        {"SessionInfo:Sessions:SessionNum:{2}SessionTime:", "unlimited", 0, true},
        {"SessionInfo:Sessions:SessionNum:{0}SessionTime:", "1800.0000 sec", 1800, true},
        {"CarSetup:Tires:RightFront:StartingPressure:", "168 kPa", 168, false},
        {"CarSetup:Tires:LeftRear:StartingPressure:", "171.5 kPa", 171.5, false},
        {"WeekendInfo:TrackPitSpeedLimit:", "60.00 kph", 60, true},
    };
    for (const Case& c : cases) {
        std::string v = lookup(text, c.path);
        EXPECT_EQ(v, c.value) << c.path;
        if (c.integer) {
            EXPECT_EQ(std::atoi(v.c_str()), static_cast<int>(c.converted)) << c.path;
        } else if (c.converted != 0) {
            EXPECT_DOUBLE_EQ(std::atof(v.c_str()), c.converted) << c.path;
        }
    }
    // A car index that is not in the field is not found rather than answered by another car.
    EXPECT_EQ(lookup(text, "DriverInfo:Drivers:CarIdx:{40}CarID:"), "<not found>");
    EXPECT_EQ(lookup(text, "SessionInfo:Sessions:SessionNum:{3}SessionName:"), "<not found>");
}

// The default field and the largest the simulator has, as the benchmarks of the snapshot
// refresh take them from the feed: every car listed once, with a name of its own.
TEST(SessionText, ListsTheWholeFieldWithDistinctDrivers) {
    for (int field : {40, 64}) {
        simfeed::FeedOptions o;
        o.scenario = "one_stop";
        o.fieldSize = field == 40 ? 0 : field;
        std::string path;
        std::vector<std::string> errors;
        std::vector<std::string> warnings;
        std::optional<simfeed::Scenario> s =
            simfeed::loadFeedScenario(o, &path, &errors, &warnings);
        ASSERT_TRUE(s.has_value()) << (errors.empty() ? "" : errors.front());
        ASSERT_EQ(s->fieldSize, field);
        const std::string text = simfeed::initialSessionText(*s);
        std::set<std::string> names;
        std::set<std::string> ids;
        for (int car = 0; car < field; ++car) {
            std::string base = "DriverInfo:Drivers:CarIdx:{" + std::to_string(car) + "}";
            names.insert(lookup(text, base + "UserName:"));
            ids.insert(lookup(text, base + "UserID:"));
            EXPECT_EQ(lookup(text, base + "CarID:"), "143") << car;
        }
        EXPECT_EQ(names.size(), static_cast<size_t>(field));
        EXPECT_EQ(ids.size(), static_cast<size_t>(field));
        EXPECT_EQ(names.count("<not found>"), 0u);
        EXPECT_EQ(lookup(text, "DriverInfo:Drivers:CarIdx:{" + std::to_string(field) + "}CarID:"),
                  "<not found>");
        EXPECT_EQ(lookup(text, "DriverInfo:Drivers:CarIdx:{7}UserName:"), s->driver.name);
        EXPECT_EQ(lookup(text, "DriverInfo:Drivers:CarIdx:{7}UserID:"), "402117");
    }
}

TEST(SessionText, IsRepublishedWhenTheSessionChanges) {
    simfeed::Scenario s = simfeed::defaultScenario();
    s.sessions[0].run = true;
    s.sessions[0].timeSeconds = 300;
    s.garageSeconds = 5;
    s.betweenSessionsSeconds = 5;
    s.coolDownSeconds = 5;
    s.checkeredTimeout = 30;
    simfeed::RaceModel model(s);
    ASSERT_EQ(model.sessionNum(), 0);
    EXPECT_EQ(lookup(model.sessionText(), "SessionInfo:CurrentSessionNum:"), "0");
    int revision = model.sessionTextRevision();
    while (model.sessionNum() == 0) {
        model.step();
        ASSERT_LT(model.sessionTime(), 900) << "practice never ended";
    }
    EXPECT_GT(model.sessionTextRevision(), revision);
    const std::string text = model.sessionText();
    EXPECT_EQ(lookup(text, "SessionInfo:CurrentSessionNum:"), "2");
    // The practice's results name the player's car; the race has none yet.
    EXPECT_EQ(lookup(text, "SessionInfo:Sessions:SessionNum:{0}ResultsOfficial:"), "1");
    EXPECT_NE(
        lookup(text, "SessionInfo:Sessions:SessionNum:{0}ResultsPositions:Position:{1}CarIdx:"),
        "<not found>");
    EXPECT_EQ(lookup(text, "SessionInfo:Sessions:SessionNum:{2}ResultsOfficial:"), "0");
}

}  // namespace
