// Where the pit entry lies, the countdown tones, the automatic fuel request on the approach,
// and the status outputs: the pit-board line, the fuel status row and the dashboard bits.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "common/status_row.h"
#include "os_helpers.h"
#include "platform/serial_port.h"
#include "plugin/links/serial_pit_board.h"
#include "support/race_fixture.h"

namespace racetest {
namespace {

class PitTest : public SnapshotTest {
  protected:
    // Position 5 at lap 12, two laps after a reset with 29 litres: 2 litres per lap and 1 per
    // minute, 25 litres left (12.5 laps), 30 laps to go: 60 litres to finish, 40 to add.
    void standardWindow() {
        windowFrom(10, 29, 1000);
        sim_.setInt("Lap", 12);
        sim_.set("LapDist", 0);
        sim_.set("FuelLevel", 25);
        sim_.set("SessionTime", 1240);
        sim_.setInt("SessionLapsRemainEx", 30);
    }
    // The car stays at the line and the pit entry moves, so the fuel numbers stay the same:
    // "0.012" puts it 60 m ahead, "0.008" 40 m.
    void pitEntryAt(const char* pct, const char* tank = "100.000") {
        setFacts({{"DriverPitTrkPct", pct}, {"DriverCarFuelMaxLtr", tank}});
    }
};

TEST_F(PitTest, DistanceToThePitEntry) {
    struct Case {
        double lapDist;
        double distance;
    };
    // Pit entry at 2 % of a 5000 m lap: 100 m.
    const Case cases[] = {{4990, 110}, {40, 60}, {100, 5000}, {0, 100}, {2500, 2600}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lapDist);
        sim_.set("LapDist", c.lapDist);
        refresh();
        EXPECT_FLOAT_EQ(race().PitEntryDistance, 100);
        EXPECT_NEAR(race().DistanceToPitEntry, c.distance, 1e-3);
    }
    // Without a lap length there is no approach: the line is published wherever the car is.
    setFacts({{"TrackLength", "0.00 km"}});
    engineer::ResetRaceState();
    openLocalBlock();
    for (double lapDist : {0.0, 40.0, 2500.0}) {
        SCOPED_TRACE(lapDist);
        block_.bytes.fill(0);
        sim_.set("LapDist", lapDist);
        const std::string out = refresh();
        EXPECT_GE(race().DistanceToPitEntry, 75);
        EXPECT_FALSE(contains(out, "Pit Board")) << out;
        EXPECT_TRUE(contains(blockLine(), "\r")) << blockLine();
    }
}

TEST_F(PitTest, CountdownToneOncePerArrival) {
    sim_.setInt("PlayerTrackSurface", 2);
    struct Pass {
        double lapDist;
        Events tones;
        int beepGiven;
    };
    const Pass passes[] = {
        {25, {"tone 1250 150 0.9/0.0/0.0/0.0"}, 1},  // 75 m
        {25, {}, 1},
        {24.5, {}, 1},
        {26, {}, 0},  // 74 m
        {25, {"tone 1250 150 0.9/0.0/0.0/0.0"}, 1},
        {40, {}, 0},
        {50, {"tone 1050 150 0.9/0.0/0.0/0.0"}, 1},
        {60, {}, 0},
        {75, {"tone 850 150 0.9/0.0/0.0/0.0"}, 1},
        {80, {}, 0},
    };
    for (const Pass& p : passes) {
        SCOPED_TRACE(p.lapDist);
        sim_.set("LapDist", p.lapDist);
        timeline_.clear();
        refresh();
        EXPECT_EQ(voiceEvents(), p.tones);
        EXPECT_EQ(race().PitBeepGiven, p.beepGiven);
    }
    // Only while approaching the pits; on track the mark passes silently. A passive plugin
    // sounds nothing.
    sim_.setInt("PlayerTrackSurface", 3);
    sim_.set("LapDist", 25);
    timeline_.clear();
    refresh();
    EXPECT_EQ(race().PitBeepGiven, 0);
    race().PassiveMode = 1;
    sim_.setInt("PlayerTrackSurface", 2);
    refresh();
    EXPECT_EQ(race().PitBeepGiven, 1);
    EXPECT_EQ(voiceEvents(), Events{});
}

TEST_F(PitTest, FuelAmountIsSetOncePerApproach) {
    standardWindow();
    const std::string board = "Pit Board..   P:  5  L: 30" + std::string(44 + 17, ' ') + "\r";
    struct Pass {
        const char* pct;
        std::string row;  // how the printed row begins
        Commands sent;
    };
    const Pass passes[] = {
        {"0.015200", " Fuel L:", {}},  // 76 m: still the status row
        {"0.015000", board, {}},       // 75 m: the approach begins
        {"0.010200", board, {}},       // 51 m: no request yet
        {"0.010000", board, {{2, 40}}},
        {"0.006000", board, {{2, 40}}},  // once per approach
        // The next approach starts again between 75 and 50 m.
        {"0.012000", board, {{2, 40}}},
        {"0.008000", board, {{2, 40}, {2, 40}}},
    };
    for (const Pass& p : passes) {
        SCOPED_TRACE(p.pct);
        pitEntryAt(p.pct);
        const std::string out = refresh();
        EXPECT_EQ(out.substr(0, p.row.size()), p.row);
        EXPECT_EQ(pitCommands(), p.sent);
    }
    // Each approach's request is announced.
    EXPECT_EQ(voiceEvents(), Events(2,
                                    "say later: On Current fuel numbers it looks like the Fuel "
                                    "Window is open."));
    EXPECT_EQ(race().FuelLastSet, 40);
}

// Once per approach (the pass runs twice), by what the tank holds against the need.
TEST_F(PitTest, FuelRequestByWhatTheTankHolds) {
    struct Case {
        const char* name;
        const char* tank;
        double level;
        int laps, flags;
        bool passive;
        Commands sent;
        double lastSet;  // 20 before
        bool fuelOff;    // the driver hears that the fuel is turned off
    };
    // 25 litres at 2 a lap need 40 more for 30 laps; 28 at half a litre a lap need 1.5 for 3.
    const Case cases[] = {
        {"filled exactly: no notice", "65.000", 25, 30, 0, false, {{2, 40}}, 40, false},
        {"enough: fuel off", "100.000", 28, 3, 16, false, {{11, 1}}, 0, true},
        {"exactly the need: the request stays", "100.000", 28, 56, 16, false, {}, 20, false},
        {"enough, no fuel requested", "100.000", 28, 3, 0, false, {}, 20, false},
        {"passive, enough", "100.000", 28, 3, 16, true, {}, 20, false},
        {"passive, fuel to add", "100.000", 25, 30, 0, true, {}, 20, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        engineer::ResetRaceState();
        race().PassiveMode = c.passive;
        race().FuelLastSet = 20;
        standardWindow();
        sim_.set("FuelLevel", c.level);
        sim_.setInt("SessionLapsRemainEx", c.laps);
        sim_.setInt("PitSvFlags", c.flags);
        pitEntryAt("0.008", c.tank);
        timeline_.clear();
        refresh();
        refresh();
        EXPECT_EQ(pitCommands(), c.sent);
        EXPECT_EQ(race().FuelLastSet, c.lastSet);
        EXPECT_EQ(voiceEvents(), c.fuelOff ? Events{"say later: The current fuel numbers look ok, "
                                                    "Turning off fuel. Eyes forward."}
                                           : Events{});
    }
}

TEST_F(PitTest, PitBoardLineByteForByte) {
    standardWindow();
    openLocalBlock();
    // The serial pit board gets the same line, where the settings ask for one.
    platform_test::PseudoTerminal board;
#ifndef _WIN32
    ASSERT_TRUE(board.ok());
    std::filesystem::create_symlink(board.devicePath(), dir_ / "COM4");
    platform::setSerialDeviceDirectory(dir_.string());
    std::ofstream(dir_ / "Qm_Korvane_Launcher.ini") << "[Setup]\nUseSerial=1\n";
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(links::OpenSerialPitBoard());
    ::testing::internal::GetCapturedStdout();
#endif
    // A longer line of an earlier run: its tail stays behind the new line's carriage return.
    for (int i = 0; i < 40; ++i) {
        block_.bytes[i] = 'X';
    }
    const std::string out = refresh();
    const std::string line = " 5, 12, 30,12.50, 40,  0,  0\r";
    ASSERT_EQ(line.size(), 29u);
    EXPECT_EQ(std::string(block_.bytes.begin(), block_.bytes.begin() + 29), line);
    EXPECT_EQ(std::string(block_.bytes.begin() + 29, block_.bytes.begin() + 41),
              std::string(11, 'X') + '\0');
#ifndef _WIN32
    EXPECT_EQ(board.read(29, 5000), line);
    links::CloseSerialPitBoard();
    platform::setSerialDeviceDirectory("");
#endif
    // On track the console row shows the fuel status, the bits and the functions.
    const std::string row =
        " Fuel L:25.000 U:4.000 2.00L/Laps SL: 12 FL:  2 EL:12.50 FN:60.00 FPM:0 T0.60 "
        "NPL:12.50 0 0                 ";
    EXPECT_EQ(out, row + "\r");

    // On a terminal the row is held back between its ten writes a second; the block is not.
    common::SetConsoleColumnsSource([] { return 80; });
    common::BeginStatusRows();
    const std::string shown = refresh();
    sim_.setInt("PlayerCarPosition", 7);
    common::BeginStatusRows();  // the same instant
    const std::string held = refresh();
    common::SetConsoleColumnsSource(nullptr);
    EXPECT_EQ(shown, row.substr(0, 79) + "\r");
    EXPECT_EQ(held, "");
    EXPECT_EQ(blockLine(), " 7, 12, 30,12.50, 40,  0,  0\r");
}

// The line carries the bits of the pass before; it is written only off the approach.
TEST_F(PitTest, PitBoardLineCarriesThePreviousPassBitsAndWaitsOnTheApproach) {
    standardWindow();
    sim_.setInt("EngineWarnings", 16);  // pit speed limiter on
    sim_.setInt("PitSvFlags", 16);
    refresh();  // the block is not open
    EXPECT_EQ(race().StatusBits, 2u);
    openLocalBlock();
    refresh();
    EXPECT_EQ(blockLine(), " 5, 12, 30,12.50, 40, 16,  2\r");
    block_.bytes.fill(0);
    pitEntryAt("0.008");
    refresh();
    EXPECT_EQ(block_.bytes[0], 0);
    // Off track (or in the pit lane) near the entry, the line is published.
    sim_.setInt("PlayerTrackSurface", 2);
    refresh();
    EXPECT_EQ(blockLine().substr(0, 21), " 5, 12, 30,12.50, 40,");
}

TEST_F(PitTest, DashboardBits) {
    struct Case {
        const char* name;
        int warnings, rpm, surface;
        double speed, brake;
        int millisecond;
        uint32_t bits;
    };
    const Case cases[] = {
        {"nothing", 0, 5000, 3, 0, 0, 600, 0},
        {"blink at 499 ms", 0, 5000, 3, 0, 0, 499, 1},
        {"no blink at 500 ms", 0, 5000, 3, 0, 0, 500, 0},
        {"limiter", 16, 5000, 3, 0, 0, 600, 2},
        {"water", 1, 5000, 3, 0, 0, 600, 32},
        {"fuel pressure", 2, 5000, 3, 0, 0, 600, 64},
        {"oil pressure", 4, 5000, 3, 0, 0, 600, 128},
        {"all warnings", 23, 5000, 3, 0, 0, 600, 226},
        {"shift light", 0, 6801, 3, 0, 0, 600, 8},
        {"at the shift point", 0, 6800, 3, 0, 0, 600, 0},
        {"speeding in the pit lane", 0, 5000, 2, 20.9, 0, 600, 4},
        {"at the limit in the pit lane", 0, 5000, 2, 16.9, 0, 600, 0},
        {"fast on track", 0, 5000, 3, 20.9, 0, 600, 0},
        {"braking", 0, 5000, 3, 20, 0.95, 600, 16},
        {"light braking", 0, 5000, 3, 20, 0.9, 600, 0},
        {"braking at walking pace", 0, 5000, 3, 1, 0.95, 600, 0},
        {"braking with the engine idle", 0, 50, 3, 20, 0.95, 600, 0},
    };
    race().TrackPitSpeedLimit = 60;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim_.setInt("EngineWarnings", c.warnings);
        sim_.set("RPM", c.rpm);
        sim_.setInt("PlayerTrackSurface", c.surface);
        sim_.set("Speed", c.speed);
        sim_.set("Brake", c.brake);
        clock_.setCalendarTime(1700000000, c.millisecond);
        race().PressedFunctions = 36;
        const std::string out = refresh();
        EXPECT_EQ(race().StatusBits, c.bits);
        EXPECT_EQ(race().EngineWarningBits, c.warnings);
        char tail[64];
        std::snprintf(tail, sizeof tail, " %u 36                 \r", c.bits);
        EXPECT_EQ(out.substr(out.size() - std::strlen(tail)), tail);
    }
}

}  // namespace
}  // namespace racetest
