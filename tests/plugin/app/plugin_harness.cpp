#include "plugin_harness.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "common/log_writer.h"
#include "common/settings_file.h"
#include "platform/clock.h"
#include "plugin/app/main_tick.h"
#include "plugin/engineer/race_state.h"
#include "plugin/telemetry/telemetry_client.h"
#include "support/test_folder.h"

namespace apptest {

namespace {

void record(const char* name) {
    script().calls.emplace_back(name);
}

app::PluginSeams recordingSeams() {
    app::PluginSeams s{};
    s.setupControllers = [] { record("setupControllers"); };
    s.createAudioEngine = [] {
        record("createAudioEngine");
        return script().audioEngineStarts;
    };
    s.selectAudioDeviceInteractive = [] { record("selectAudioDeviceInteractive"); };
    s.selectAudioDevicePredefined = [] { record("selectAudioDevicePredefined"); };
    s.shutdownAudioEngine = [] { record("shutdownAudioEngine"); };
    s.openSerialPitBoard = [] {
        record("openSerialPitBoard");
        return script().serialOpens;
    };
    s.closeSerialPitBoard = [] { record("closeSerialPitBoard"); };
    s.keyWaiting = [] {
        script().keyCheckMs.push_back(platform::clock().steadyMs());
        return script().keyChecks++ >= script().keyAtCheck;
    };
    s.updateAudioEngine = [] { record("updateAudioEngine"); };
    s.pollControls = [] { record("pollControls"); };
    s.refreshSessionSnapshot = [] { record("refreshSessionSnapshot"); };
    s.logSessionJoin = [] { record("logSessionJoin"); };
    s.driverCommands = [] {
        record("driverCommands");
        return script().driverResult;
    };
    s.garageDriverCommands = [] {
        record("garageDriverCommands");
        std::printf("%s", script().garageMarker);
    };
    s.pitRoadHandling = [] { record("pitRoadHandling"); };
    s.onTrackCalls = [] { record("onTrackCalls"); };
    return s;
}

}  // namespace

SeamScript& script() {
    static SeamScript s;
    return s;
}

void PluginTest::SetUp() {
    dir_ = testsupport::freshTestFolder("korvane_app");
    common::setSettingsPath((dir_ / "Qm_Korvane_Launcher.ini").string());
    common::PluginLog().setPath((dir_ / "Qm_Korvane_Plugin.log").string());

    engineer::ResetRaceState();
    app::ResetMainTick();
    script() = SeamScript{};
    app::Seams() = recordingSeams();
    clock_.setSleepHook([](int ms) { script().calls.push_back("sleep " + std::to_string(ms)); });
    sim_.attach(telemetry::Telemetry());
}

void PluginTest::TearDown() {
    app::ResetMainTick();
    telemetry::Telemetry().replaceConnection(nullptr);
    app::RestoreDefaultSeams();
    engineer::ResetRaceState();
    common::setSettingsPath("");
    common::PluginLog().setPath("");
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string PluginTest::tick() {
    ::testing::internal::CaptureStdout();
    app::MainTick();
    return ::testing::internal::GetCapturedStdout();
}

std::string PluginTest::bringOnline() {
    sim_.setConnected(true);
    std::string out;
    const engineer::RaceState& r = engineer::Race();
    for (int i = 0; i < 8 && !(r.TelemetryLoaded && r.LocalLinkOpen); ++i) {
        sim_.publish();
        out += tick();
    }
    EXPECT_EQ(r.TelemetryLoaded, 1) << out;
    EXPECT_EQ(r.LocalLinkOpen, 1) << out;
    return out;
}

void PluginTest::writeSettings(const std::string& text) {
    std::ofstream(dir_ / "Qm_Korvane_Launcher.ini") << text;
}

std::string PluginTest::readLog() const {
    std::ifstream in(dir_ / "Qm_Korvane_Plugin.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string joined(const std::vector<std::string>& calls) {
    std::string s;
    for (const std::string& c : calls) {
        s += (s.empty() ? "" : ", ") + c;
    }
    return s;
}

}  // namespace apptest
