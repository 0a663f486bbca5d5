#pragma once
// A plugin frame under test: the fake simulator behind the process-wide telemetry client, the
// virtual clock, a recording voice, recording stand-ins for every seam, and a settings file
// and log of the test's own.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "plugin/app/seams.h"
#include "support/fake_simulator.h"
#include "support/recording_voice.h"
#include "support/virtual_clock.h"

namespace apptest {

// What the recording seams saw and what they answer.
struct SeamScript {
    std::vector<std::string> calls;
    engineer::CommandResult driverResult = engineer::CommandResult::kTickGoesOn;
    bool audioEngineStarts = true;
    bool serialOpens = true;
    // keyWaiting answers true from this check on (0: at once).
    int keyAtCheck = 0;
    int keyChecks = 0;
    std::vector<int64_t> keyCheckMs;  // the clock at each check
    // Printed by the garage driver commands, to place them in the console row.
    const char* garageMarker = "";
};

SeamScript& script();

class PluginTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // One MainTick; returns what it printed.
    std::string tick();
    // Publishes a row (with the connected bit) and ticks until the telemetry is loaded and the
    // local block is open; returns everything printed.
    std::string bringOnline();
    void writeSettings(const std::string& text);
    std::string readLog() const;

    testsupport::VirtualClock clock_;
    testsupport::ScopedClock useClock_{clock_};
    testsupport::FakeSimulator sim_;
    testsupport::RecordingVoice voice_;
    std::filesystem::path dir_;
};

// The text of a recorded call list, for failure messages.
std::string joined(const std::vector<std::string>& calls);

}  // namespace apptest
