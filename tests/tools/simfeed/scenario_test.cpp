#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/simfeed_fixture.h"
#include "tools/simfeed/ini_file.h"
#include "tools/simfeed/scenario.h"

namespace {

using simfeed::IniFile;

TEST(IniFile, ReadsValuesWhateverTheCaseCommentsAndLineEnds) {
    IniFile ini = IniFile::parse(
        "; leading comment\r\n"
        "[Track]\r\n"
        "Length = 5150   ; metres\r\n"
        "Name=brenvik ring # the home circuit\r\n"
        "Url=http://x/#anchor\r\n"
        "[track]\n"
        "PitEntry=0.93\n");
    EXPECT_TRUE(ini.errors().empty());
    EXPECT_EQ(ini.getDouble("TRACK", "length", 0), 5150);
    EXPECT_EQ(ini.getString("Track", "Name", ""), "brenvik ring");
    // A comment mark inside a word is part of the value.
    EXPECT_EQ(ini.getString("Track", "Url", ""), "http://x/#anchor");
    // A section written twice is one section.
    EXPECT_EQ(ini.getDouble("Track", "PitEntry", 0), 0.93);
    EXPECT_EQ(ini.getInt("Track", "Missing", 42), 42);
}

TEST(Scenario, EveryShippedScenarioLoadsCleanly) {
    namespace fs = std::filesystem;
    int count = 0;
    for (const auto& entry : fs::directory_iterator(simfeedtest::scenarioDir())) {
        if (entry.path().extension() != ".ini") {
            continue;
        }
        ++count;
        simfeed::ScenarioLoad load = simfeed::loadScenarioFile(entry.path().string());
        EXPECT_TRUE(load.scenario.has_value()) << entry.path();
        for (const std::string& e : load.errors) {
            ADD_FAILURE() << e;
        }
        for (const std::string& w : load.warnings) {
            ADD_FAILURE() << "warning: " << w;
        }
    }
    EXPECT_GE(count, 5);
}

TEST(Scenario, RefusesMalformedLinesAndUnusableValuesAndSaysWhy) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"[Track\n", "scenario:1: section header without ']'"},
        {"[Track]\nLength\n", "scenario:2: expected key=value"},
        {"Length=1\n", "scenario:1: key outside a section"},
        {"[Track]\n=5\n", "scenario:2: empty key"},
        {"[Car]\nLapTime=fast\n", "scenario:2: [Car] LapTime: 'fast' is not a number"},
        {"[Car]\nTireSets=6.5\n", "'6.5' is not a whole number"},
        {"[Strategy]\nSafetyStop=perhaps\n", "'perhaps' is not yes or no"},
        {"[Track]\nLength=50\n", "[Track] Length must be 200 to 50000"},
        {"[Track]\nPitEntry=1.2\n", "PitEntry must be a fraction"},
        {"[Track]\nPitEntry=0.5\nPitExit=0.55\nPitStall=0.9\n",
         "PitStall must lie on the pit road"},
        {"[Track]\nPitEntry=0.9\nPitExit=0.5\nPitStall=0.95\n", "half a lap"},
        {"[Car]\nClassMaxFuelPct=1.5\n", "ClassMaxFuelPct"},
        {"[Car]\nStartingPressure=90\n", "starting pressures"},
        {"[Car]\nIdleRPM=8000\n", "engine speeds must rise"},
        {"[Driver]\nCarIdx=40\n", "CarIdx must be below the field size"},
        {"[Strategy]\nFuelFillRate=0\n", "FuelFillRate"},
        {"[Strategy]\nPitOnLaps=3,x\n", "is not a list of lap numbers"},
        {"[Session2]\nType=Race\nLaps=unlimited\nTime=unlimited\nRun=yes\n",
         "needs a lap or time limit"},
        {"[Session2]\nType=Race\nLaps=12.5\nRun=yes\n", "a lap count must be a whole number"},
        {"[Session2]\nType=Sprint\nRun=yes\n", "is not Practice, Qualify or Race"},
        {"[Session2]\nType=Race\nLaps=10\n", "no session is simulated"},
        {"[Event1]\nKind=Meteor\nLap=2\n", "Kind must be"},
        {"[Event1]\nKind=WaterTemp\n", "an event needs a Lap"},
    };
    for (const Case& c : cases) {
        simfeed::ScenarioLoad load = simfeed::loadScenario(IniFile::parse(c.text));
        EXPECT_FALSE(load.scenario.has_value()) << c.text;
        bool found = false;
        for (const std::string& e : load.errors) {
            found = found || e.find(c.expected) != std::string::npos;
        }
        EXPECT_TRUE(found) << c.text << "\nexpected: " << c.expected
                           << "\nfirst error: " << (load.errors.empty() ? "" : load.errors[0]);
    }
}

}  // namespace
