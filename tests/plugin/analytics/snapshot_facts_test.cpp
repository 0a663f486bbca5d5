// The session facts the refresh reads from the session text.
#include <string>
#include <vector>

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
    EXPECT_DOUBLE_EQ(r.CarClassMaxFuelPct, 1.0);
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
        const char* kept;
    };
    const Case cases[] = {
        {"TESTING", 1, "TESTING"},
        {"PRACTICE", 2, "PRACTICE"},
        {"QUALIFY", 3, "QUALIFY"},
        {"RACE", 4, "RACE"},
        {"TIME TRIAL", 5, "TIME TRIAL"},
        {"HEAT", 6, "HEAT"},
        {"Race", 0, "Race"},
        {"RACE 2", 0, "RACE 2"},
        {"LONE QUALIFY", 0, "LONE QUALIFY"},
        {"OPEN PRACTICE FOR EVERYONE", 0, "OPEN PRACTICE FOR EV"},  // the first 20 kept
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SessionFacts facts;
        facts.sessionName = c.name;
        sim_.setSessionText(sessionText(facts));
        refresh();
        EXPECT_STREQ(race().SessionName, c.kept);
        EXPECT_EQ(race().SessionKind, c.kind);
    }
}

TEST_F(FactsTest, HugeNumbersInTheTextAreClamped) {
    sim_.setSessionText(
        "---\nDriverInfo:\n DriverUserID: 99999999999999\n DriverCarSLShiftRPM: -99999999999\n"
        "...\n");
    refresh();
    EXPECT_EQ(race().DriverUserID, INT32_MAX);
    EXPECT_EQ(race().ShiftRPM, INT32_MIN);
}

}  // namespace
}  // namespace racetest
