#include <gtest/gtest.h>

#include <string>

#include "tests/support/simfeed_fixture.h"

namespace {

// A lap-limited race that stops on lap 2, with the garage and the start shortened.
simfeed::Scenario stopScenario() {
    simfeed::Scenario s = simfeedtest::shippedScenario("one_stop");
    s.garageSeconds = 2;
    s.setupReadSeconds = 1;
    s.warmupSeconds = 1;
    s.strategy.pitOnLaps = {2};
    s.strategy.menuFuelOn = false;
    s.events.clear();
    return s;
}

// Runs to the end of the player's first stop.
void runToEndOfStop(simfeed::RaceModel& m) {
    while (m.player().stops == 0 && m.sessionTime() < 3600) {
        m.step();
    }
    ASSERT_EQ(m.player().stops, 1);
}

TEST(PitService, CommandsSetTheMenuAsTheSimulatorDoes) {
    simfeed::Scenario s = stopScenario();
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

TEST(PitService, StopChangesTheRequestedTiresAndAddsTheFuel) {
    simfeed::Scenario s = stopScenario();
    s.car.tireSets = 4;
    simfeed::RaceModel m(s);
    m.stepSeconds(1.5);
    m.applyPitCommand(simfeed::kCmdFuel, 12);
    m.applyPitCommand(simfeed::kCmdLF, 172);
    m.applyPitCommand(simfeed::kCmdRR, 158);
    double fuelBefore = 0;
    double wearBefore[4] = {};
    while (m.playerCar().phase != simfeed::CarPhase::Stall && m.sessionTime() < 3600) {
        m.step();
    }
    fuelBefore = m.player().fuel;
    for (int c = 0; c < 4; ++c) {
        wearBefore[c] = m.player().tires[c].wear[1];
        ASSERT_LT(wearBefore[c], 1.0);
    }
    runToEndOfStop(m);
    const simfeed::PlayerState& p = m.player();
    EXPECT_NEAR(p.fuel - fuelBefore, 12.0, 0.01);
    EXPECT_EQ(p.tires[0].wear[1], 1.0);
    EXPECT_EQ(p.tires[3].wear[1], 1.0);
    EXPECT_EQ(p.tires[1].wear[1], wearBefore[1]) << "a tire not asked for stays on";
    EXPECT_EQ(p.tires[2].wear[1], wearBefore[2]);
    EXPECT_EQ(p.tires[0].coldPressure, 172.0);
    EXPECT_EQ(p.tires[3].coldPressure, 158.0);
    EXPECT_EQ(p.tires[1].coldPressure, 165.0);
    EXPECT_EQ(p.tires[0].used, 1);
    EXPECT_EQ(p.tires[1].used, 0);
    EXPECT_EQ(p.tireSetsUsed, 1);
    EXPECT_EQ(p.tireSetsAvailable, 3);
    EXPECT_EQ(p.serviceFlags, 0) << "the work asked for is done";
    EXPECT_EQ(p.serviceStatus, simfeed::kPitSvComplete);
    EXPECT_GE(m.playerCar().stallTime, s.strategy.tireChangeSeconds);
}

TEST(PitService, StopEndsWhateverCannotBeDone) {
    struct Case {
        const char* name;
        int tireSets;
        int fuelRequest;  // 0: the fuel box is cleared
        bool expectTires;
        double expectAdded;  // < 0: up to the usable tank
    } cases[] = {
        {"no tire sets left", 0, 10, false, 10},
        {"more fuel than room", 255, 100, true, -1},
        {"fuel box cleared", 255, 0, true, 0},
    };
    for (const Case& c : cases) {
        simfeed::Scenario s = stopScenario();
        s.car.tireSets = c.tireSets;
        simfeed::RaceModel m(s);
        m.stepSeconds(1.5);
        m.applyPitCommand(simfeed::kCmdFuel, c.fuelRequest > 0 ? c.fuelRequest : 1);
        if (c.fuelRequest == 0) {
            m.applyPitCommand(simfeed::kCmdClearFuel, 1);
        }
        for (int code = simfeed::kCmdLF; code <= simfeed::kCmdRR; ++code) {
            m.applyPitCommand(code, 0);
        }
        while (m.playerCar().phase != simfeed::CarPhase::Stall && m.sessionTime() < 3600) {
            m.step();
        }
        double arrived = m.player().fuel;
        runToEndOfStop(m);
        const simfeed::PlayerState& p = m.player();
        EXPECT_EQ(p.tires[0].wear[0] == 1.0, c.expectTires) << c.name;
        EXPECT_EQ(p.tireSetsUsed, c.expectTires ? 1 : 0) << c.name;
        double added = p.fuel - arrived;
        if (c.expectAdded < 0) {
            EXPECT_NEAR(p.fuel, s.usableTank(), 1e-3) << c.name;
        } else {
            // Idling in the stall burns a few drops.
            EXPECT_NEAR(added, c.expectAdded, 0.02) << c.name;
        }
        EXPECT_LT(m.playerCar().stallTime, 60) << c.name << ": the car was released";
    }
}

}  // namespace
