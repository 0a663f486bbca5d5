#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "tests/support/simfeed_fixture.h"
#include "tools/simfeed/variables.h"

namespace {

using simfeedtest::ModelReader;

// What the race engineer reads from one row.
struct Row {
    double time;
    int state;
    int flags;
    bool onTrack;
    int surface;
    bool inStall;
    int lap;
    double lapDist;
    double speed;
    double fuel;
    int service;
    double serviceFuel;
    int svStatus;
    int lapsRemain;
    double timeRemain;
    int warnings;
    double lfPressure;
    double wear;
    int gear;
};

Row readRow(ModelReader& r) {
    return Row{r.read("SessionTime"),
               r.readInt("SessionState"),
               r.readInt("SessionFlags"),
               r.readBool("IsOnTrack"),
               r.readInt("PlayerTrackSurface"),
               r.readBool("PlayerCarInPitStall"),
               r.readInt("Lap"),
               r.read("LapDist"),
               r.read("Speed"),
               r.read("FuelLevel"),
               r.readInt("PitSvFlags"),
               r.read("PitSvFuel"),
               r.readInt("PlayerCarPitSvStatus"),
               r.readInt("SessionLapsRemainEx"),
               r.read("SessionTimeRemain"),
               r.readInt("EngineWarnings"),
               r.read("PitSvLFP"),
               r.read("LFwearR"),
               r.readInt("Gear")};
}

// Runs a whole scenario, sampling every `every` ticks through the reader, and checks on every
// pair of neighbouring rows that the car's position, speed and lap agree with each other.
std::vector<Row> runThrough(ModelReader& r, int every, double maxSeconds) {
    const double length = r.model.scenario().track.length;
    std::vector<Row> rows;
    rows.push_back(readRow(r));
    int consistencyFailures = 0;
    while (!r.model.finished() && r.model.sessionTime() < maxSeconds) {
        if (!r.advance(every)) {
            ADD_FAILURE() << "the reader did not take the row at " << r.model.sessionTime();
            break;
        }
        Row now = readRow(r);
        const Row& before = rows.back();
        bool driving = before.onTrack && now.onTrack && before.surface != -1 && now.surface != -1 &&
                       now.time > before.time;
        if (driving && consistencyFailures < 5) {
            // Distance run between the rows against the speeds shown (speed changes little
            // in a tenth of a second).
            double run = std::fmod(now.lapDist - before.lapDist + length, length);
            double expected = (before.speed + now.speed) / 2 * (now.time - before.time);
            // The mean of the two speeds is exact under even acceleration. Between samples the
            // car may speed up and slow down again (a crest of the speed profile); at the
            // model's 16 m/s^2 of braking that is off by at most 16 * dt^2 / 4.
            double dt = now.time - before.time;
            double slack = 0.3 + std::fabs(now.speed - before.speed) * dt / 2 + 4.0 * dt * dt;
            if (std::fabs(run - expected) > slack) {
                ++consistencyFailures;
                ADD_FAILURE() << "at " << now.time << " the car ran " << run << " m at "
                              << before.speed << " then " << now.speed << " m/s, surface "
                              << before.surface << " then " << now.surface;
            }
            bool wrapped = now.lapDist < before.lapDist;
            bool racing = (now.flags & simfeed::kFlagCheckered) == 0 &&
                          (before.flags & simfeed::kFlagCheckered) == 0 && before.lap > 0;
            if (racing && wrapped != (now.lap == before.lap + 1)) {
                ++consistencyFailures;
                ADD_FAILURE() << "at " << now.time << " lap " << before.lap << " -> " << now.lap
                              << " with LapDist " << before.lapDist << " -> " << now.lapDist;
            }
        }
        if (now.inStall != (now.surface == simfeed::kSurfaceInPitStall) &&
            consistencyFailures < 5) {
            ++consistencyFailures;
            ADD_FAILURE() << "at " << now.time << " in stall " << now.inStall << " but surface "
                          << now.surface;
        }
        rows.push_back(now);
    }
    return rows;
}

template <typename Pred>
size_t firstIndex(const std::vector<Row>& rows, size_t from, Pred pred) {
    for (size_t i = from; i < rows.size(); ++i) {
        if (pred(rows[i])) {
            return i;
        }
    }
    return rows.size();
}

int countOf(const std::vector<std::string>& lines, const std::string& word) {
    int n = 0;
    for (const std::string& l : lines) {
        n += l.rfind(word + " ", 0) == 0 ? 1 : 0;
    }
    return n;
}

// The race as the engineer reads it, and the truth a judge of the plugin reads: the race's
// stints, stop, laps and flag, with the distance driven agreeing with the laps run from the grid.
TEST(RaceModel, OneStopRaceRunsGarageLapsStopFlagsAndEndAndTellsItsTruth) {
    ModelReader r(simfeedtest::shippedScenario("one_stop"));
    r.model.recordTruth(true);
    const int laps = r.model.session().laps;
    ASSERT_EQ(laps, 14);
    std::vector<Row> rows = runThrough(r, 12, 4 * 3600);
    ASSERT_TRUE(r.model.finished());
    const Row& first = rows.front();

    // The garage: not in the car, not in the world, waiting to get in.
    EXPECT_FALSE(first.onTrack);
    EXPECT_EQ(first.surface, simfeed::kSurfaceNotInWorld);
    EXPECT_EQ(first.state, simfeed::kStateGetInCar);
    EXPECT_EQ(first.lfPressure, 0.0) << "the setup is read a few seconds into the garage";
    size_t grid = firstIndex(rows, 0, [](const Row& x) { return x.onTrack; });
    ASSERT_LT(grid, rows.size());
    EXPECT_NEAR(rows[grid].time, r.model.scenario().garageSeconds, 0.2);
    EXPECT_EQ(rows[grid].lfPressure, 165.0);
    EXPECT_EQ(rows[grid].state, simfeed::kStateWarmup);

    size_t green =
        firstIndex(rows, grid, [](const Row& x) { return x.state == simfeed::kStateRacing; });
    ASSERT_LT(green, rows.size());
    EXPECT_EQ(rows[green].lapsRemain, laps);
    EXPECT_EQ(rows[green].timeRemain, 604800.0);

    // The stop: pit road, then the stall, standing while fuel goes in, then out again.
    size_t pitRoad = firstIndex(rows, green, [](const Row& x) { return x.surface == 2; });
    size_t stall =
        firstIndex(rows, pitRoad, [](const Row& x) { return x.surface == 1 && x.speed == 0; });
    size_t service =
        firstIndex(rows, stall, [](const Row& x) { return x.svStatus == simfeed::kPitSvComplete; });
    size_t out = firstIndex(rows, service, [](const Row& x) { return x.surface == 3; });
    ASSERT_LT(out, rows.size());
    EXPECT_EQ(rows[pitRoad].lap, 7) << "the scenario stops at the end of lap 7";
    EXPECT_NE(rows[pitRoad].warnings & simfeed::kWarnPitSpeedLimiter, 0);
    EXPECT_LE(rows[pitRoad + 5].speed, r.model.pitLimit() + 0.01);
    const Row& arrived = rows[stall];
    const Row& served = rows[service];
    EXPECT_EQ(arrived.svStatus, simfeed::kPitSvInProgress);
    EXPECT_NE(arrived.service & simfeed::kServiceFuel, 0);
    EXPECT_EQ(arrived.serviceFuel, 20.0);
    EXPECT_NEAR(served.fuel - rows[stall - 1].fuel, 20.0, 0.05) << "the requested fuel went in";
    EXPECT_GE(served.time - arrived.time, 20.0 / 2.7 - 0.2) << "at the fill rate";
    EXPECT_EQ(served.service & simfeed::kServiceFuel, 0) << "the fuel request is done";
    for (size_t i = stall; i < service; ++i) {
        EXPECT_EQ(rows[i].speed, 0.0) << "the car stands during the service";
        EXPECT_TRUE(rows[i].inStall);
    }
    EXPECT_EQ(rows[out].svStatus, simfeed::kPitSvNone);
    EXPECT_EQ(rows[out].warnings & simfeed::kWarnPitSpeedLimiter, 0);

    // The engine warning of lap 4 and nowhere else; up through every gear on a lap.
    int topGear = 0;
    for (const Row& x : rows) {
        if (x.state == simfeed::kStateRacing && x.lap != 4) {
            EXPECT_EQ(x.warnings & simfeed::kWarnWaterTemp, 0) << "lap " << x.lap;
        }
        topGear = std::max(topGear, x.gear);
    }
    EXPECT_EQ(topGear, r.model.scenario().car.gears);
    EXPECT_NE(firstIndex(rows, green, [](const Row& x) { return x.lap == 4 && (x.warnings & 1); }),
              rows.size());

    // The last lap under the white flag, the checkered flag, the cool-down and the end.
    size_t white =
        firstIndex(rows, out, [](const Row& x) { return x.flags & simfeed::kFlagWhite; });
    size_t checkered =
        firstIndex(rows, white, [](const Row& x) { return x.flags & simfeed::kFlagCheckered; });
    size_t coolDown = firstIndex(rows, checkered,
                                 [](const Row& x) { return x.state == simfeed::kStateCoolDown; });
    ASSERT_LT(coolDown, rows.size());
    EXPECT_EQ(rows[white].lapsRemain, 1);
    EXPECT_EQ(rows[checkered].state, simfeed::kStateCheckered);
    EXPECT_EQ(rows[checkered].lapsRemain, 0);
    const Row& last = rows.back();
    EXPECT_FALSE(last.onTrack);
    EXPECT_EQ(last.surface, simfeed::kSurfaceNotInWorld);
    EXPECT_EQ(last.state, simfeed::kStateCoolDown);
    EXPECT_EQ(r.model.playerCar().lapsCompleted, laps);
    EXPECT_TRUE(r.model.playerCar().finished);
    EXPECT_GT(last.fuel, 0.0) << "the stop put in enough to finish";

    const std::vector<std::string> lines = r.model.takeTruth();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("SESSION num=2 kind=Race laps=14 ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("STINT t=0.000 lap=0 ", 0), 0u) << lines[1];
    EXPECT_EQ(countOf(lines, "STOP"), 1);
    EXPECT_EQ(countOf(lines, "STINT"), 3);  // the start, the green flag, the stop
    EXPECT_EQ(countOf(lines, "LAP"), 14);
    EXPECT_EQ(countOf(lines, "DRY"), 0);
    EXPECT_GT(countOf(lines, "SAMPLE"), 1000);
    ASSERT_EQ(countOf(lines, "FLAG"), 1);
    EXPECT_EQ(countOf(lines, "SESSIONEND"), 1);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind("STOP ", 0) == 0) {
            ASSERT_LT(i + 1, lines.size());
            EXPECT_NE(lines[i + 1].find("why=stop"), std::string::npos) << lines[i + 1];
        }
        if (lines[i].rfind("FLAG ", 0) == 0) {
            const double length = r.model.scenario().track.length;
            const double grid = length - 10.0 - 8.0 * 3 - 4.0;  // P8
            double odo = std::stod(lines[i].substr(lines[i].find("odo=") + 4));
            EXPECT_NEAR(odo, laps * length + length - grid, 1.0) << lines[i];
        }
    }
}

TEST(RaceModel, PracticeLeavesTheStallAndChangesTiresAtItsStop) {
    ModelReader r(simfeedtest::shippedScenario("practice"));
    std::vector<Row> rows = runThrough(r, 12, 4 * 3600);
    ASSERT_TRUE(r.model.finished());
    size_t out = firstIndex(rows, 0, [](const Row& x) { return x.onTrack; });
    ASSERT_LT(out, rows.size());
    EXPECT_EQ(rows[out].surface, simfeed::kSurfaceInPitStall);
    EXPECT_TRUE(rows[out].inStall);
    EXPECT_EQ(rows[out].state, simfeed::kStateRacing);
    size_t road = firstIndex(rows, out, [](const Row& x) { return x.surface == 2; });
    size_t track = firstIndex(rows, road, [](const Row& x) { return x.surface == 3; });
    ASSERT_LT(track, rows.size());
    EXPECT_EQ(rows[track].lap, 1) << "the start line lies between the stall and the pit exit";
    // The stop at the end of lap 4: worn tires come off.
    size_t stall =
        firstIndex(rows, track, [](const Row& x) { return x.surface == 1 && x.speed == 0; });
    size_t done = firstIndex(rows, stall, [](const Row& x) { return x.svStatus == 2; });
    ASSERT_LT(done, rows.size());
    EXPECT_EQ(rows[stall].lap, 4);
    EXPECT_LT(rows[stall].wear, 0.95);
    EXPECT_EQ(rows[done].wear, 1.0);
    EXPECT_GE(rows[done].time - rows[stall].time,
              r.model.scenario().strategy.tireChangeSeconds - 0.2);
    EXPECT_EQ(rows[done].service & simfeed::kServiceTires, 0);
    EXPECT_EQ(r.model.player().tireSetsUsed, 1);
    // The clock runs from the start of the session; at zero the checkered flag is out.
    size_t checkered =
        firstIndex(rows, done, [](const Row& x) { return x.flags & simfeed::kFlagCheckered; });
    ASSERT_LT(checkered, rows.size());
    EXPECT_NEAR(rows[checkered].time, 900, 0.6);
    EXPECT_EQ(rows[checkered].state, simfeed::kStateCheckered);
    for (const Row& x : rows) {
        EXPECT_EQ(x.flags & simfeed::kFlagWhite, 0) << "no white flag in practice";
    }
}

// Every name fits the block's fixed-width header fields, none twice, and every value the row
// writer writes has its variable.
TEST(Variables, EveryNameFitsOnceAndEveryValueWrittenHasItsVariable) {
    std::vector<std::string> names;
    for (const simblock::VarSpec& v : simfeed::feedVariables()) {
        EXPECT_LE(v.name.size(), 31u) << v.name;
        EXPECT_LE(v.desc.size(), 63u) << v.name;
        EXPECT_LE(v.unit.size(), 31u) << v.name;
        EXPECT_GE(v.count, 1) << v.name;
        names.push_back(v.name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end()) << "duplicate name";
    simfeed::RaceModel m(simfeedtest::shippedScenario("one_stop"));
    m.stepSeconds(200);
    const std::vector<simblock::VarSpec> vars = simfeed::feedVariables();
    const simblock::BlockLayout layout = simblock::computeLayout(vars);
    ASSERT_TRUE(layout.ok) << layout.error;
    std::vector<uint8_t> row(static_cast<size_t>(layout.bufferLength));
    simfeed::RowWriter writer(vars, layout);
    writer.attach(&row);
    simfeed::writeRow(m, writer);
    EXPECT_TRUE(writer.missing().empty()) << "no variable named " << writer.missing().front();
}

TEST(RaceModel, ATimedRaceWithLapsFromPaceShowsTheLeadersLapsToGo) {
    simfeed::Scenario s = simfeedtest::shippedScenario("timed_race");
    for (simfeed::SessionSpec& ss : s.sessions) {
        ss.lapsFromPace = ss.num == 2;
    }
    simfeed::RaceModel m(s);
    // Before the green the clock is full: 1500 s at 95 s a lap is 16 laps begun, and the lap
    // that takes the flag.
    EXPECT_EQ(m.sessionLapsRemainEx(), 16 + 1);
    while (m.stage() != simfeed::Stage::Racing) {
        m.stepSeconds(1);
    }
    m.stepSeconds(600);
    EXPECT_LE(m.sessionLapsRemainEx(), 12);
    EXPECT_GE(m.sessionLapsRemainEx(), 10);
}

// Without a planned stop a car short of fuel either runs dry (and stops; the field finishes
// and the session closes without it) or, with the safety stop, is saved by one.
TEST(RaceModel, ACarShortOfFuelRunsDryOrMakesItsSafetyStop) {
    for (bool safetyStop : {false, true}) {
        SCOPED_TRACE(safetyStop ? "safety stop" : "no safety stop");
        simfeed::Scenario s = simfeedtest::shippedScenario("one_stop");
        s.strategy.pitOnLaps.clear();
        s.strategy.safetyStop = safetyStop;
        if (!safetyStop) {
            s.car.startFuel = 10;
        }
        simfeed::RaceModel m(s);
        m.recordTruth(true);
        double dryAt = -1;
        while (!m.finished() && m.sessionTime() < 4 * 3600) {
            m.stepSeconds(1);
            if (m.player().outOfFuel && m.playerIsOnTrack()) {
                dryAt = dryAt < 0 ? m.sessionTime() : dryAt;
                EXPECT_NE(m.player().engineWarnings & simfeed::kWarnEngineStalled, 0);
                if (m.sessionTime() - dryAt > 10) {
                    EXPECT_EQ(m.playerCar().speed, 0.0) << "the car has rolled to a stop";
                }
            }
        }
        EXPECT_TRUE(m.finished());
        EXPECT_EQ(m.player().outOfFuel, !safetyStop);
        EXPECT_EQ(dryAt > 0, !safetyStop);
        EXPECT_EQ(countOf(m.takeTruth(), "DRY"), safetyStop ? 0 : 1);
        EXPECT_EQ(m.player().stops, safetyStop ? 1 : 0);
        EXPECT_EQ(m.playerCar().lapsCompleted == 14, safetyStop);
    }
}

TEST(PitService, CommandsSetTheMenuAsTheSimulatorDoes) {
    simfeed::Scenario s = simfeedtest::shippedScenario("one_stop");
    s.setupReadSeconds = 1;
    s.strategy.menuFuelOn = true;
    s.strategy.menuFuel = 20;
    simfeed::RaceModel m(s);
    m.stepSeconds(1.5);  // the setup is read: the menu shows its pressures
    struct Step {
        int code;
        int value;
        bool accepted;
        int flags;  // PitSvFlags afterwards
        double fuel;
        double pressure[4];
    } steps[] = {
        {11, 1, true, 0x00, 20, {165, 165, 165, 165}},
        {2, 37, true, 0x10, 37, {165, 165, 165, 165}},
        {2, 0, true, 0x10, 37, {165, 165, 165, 165}},  // 0 keeps the amount
        {2, -5, true, 0x10, 37, {165, 165, 165, 165}},
        {2, 500, true, 0x10, 100, {165, 165, 165, 165}},  // at most the usable tank
        {3, 170, true, 0x11, 100, {170, 165, 165, 165}},
        {4, 0, true, 0x13, 100, {170, 165, 165, 165}},    // 0 keeps the pressure
        {5, 999, true, 0x17, 100, {170, 165, 350, 165}},  // clamped to the car's range
        {6, 50, true, 0x1f, 100, {170, 165, 350, 110}},
        {7, 0, true, 0x10, 100, {170, 165, 350, 110}},
        {1, 0, true, 0x30, 100, {170, 165, 350, 110}},
        {8, 0, true, 0x70, 100, {170, 165, 350, 110}},
        {9, 0, true, 0x50, 100, {170, 165, 350, 110}},
        {10, 0, true, 0x10, 100, {170, 165, 350, 110}},
        {42, 7, false, 0x10, 100, {170, 165, 350, 110}},  // unknown: nothing changes
        {-1, 7, false, 0x10, 100, {170, 165, 350, 110}},
        {6, 180, true, 0x18, 100, {170, 165, 350, 180}},
        {0, 0, true, 0x00, 100, {170, 165, 350, 180}},
    };
    for (const Step& st : steps) {
        simfeed::PitCommandOutcome out = m.applyPitCommand(st.code, st.value);
        std::string what = std::to_string(st.code) + "/" + std::to_string(st.value);
        EXPECT_EQ(out.accepted, st.accepted) << what;
        EXPECT_FALSE(out.text.empty()) << what;
        EXPECT_EQ(m.player().serviceFlags, st.flags) << what;
        EXPECT_EQ(m.player().serviceFuel, st.fuel) << what;
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(m.player().servicePressure[c], st.pressure[c]) << what << " corner " << c;
        }
    }
}

}  // namespace
