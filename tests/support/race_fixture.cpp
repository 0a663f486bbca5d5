#include "support/race_fixture.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "common/log_writer.h"
#include "common/settings_file.h"
#include "platform/clock.h"
#include "plugin/app/main_tick.h"
#include "plugin/app/seams.h"
#include "plugin/engineer/race_work.h"
#include "plugin/links/web_service_link.h"
#include "support/test_folder.h"

namespace racetest {

namespace {

uint32_t pressedAtPoll = 0;
RaceWorkTest* currentWork = nullptr;
Timeline* currentTimeline = nullptr;

}  // namespace

void Timeline::add(std::string event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
}

Events Timeline::events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

Events Timeline::starting(const std::string& prefix) const {
    Events out = events();
    std::erase_if(out, [&](const std::string& e) { return e.rfind(prefix, 0) != 0; });
    return out;
}

void Timeline::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
}

platform::HttpResponse TimelineService::get(const platform::HttpRequest& request) {
    timeline_.add("GET " + request.path);
    platform::HttpResponse response;
    response.status = 200;
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t at = request.path.find("?c=");
    if (at != std::string::npos) {
        const size_t end = request.path.find('&', at);
        auto it = answers_.find(request.path.substr(at + 3, end - at - 3));
        if (it != answers_.end()) {
            response.body = it->second;
        }
    }
    return response;
}

void TimelineService::answer(const std::string& command, std::string body) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_[command] = std::move(body);
}

void RaceTest::SetUp() {
    setUpOffline();
    sim_.setConnected(true);
    sim_.setInt("PlayerCarIdx", 1);
    publish();
}

void RaceTest::setUpOffline() {
    dir_ = testsupport::freshTestFolder("korvane_race");
    common::setSettingsPath((dir_ / "Qm_Korvane_Launcher.ini").string());
    common::PluginLog().setPath((dir_ / "Qm_Korvane_Plugin.log").string());
    engineer::ResetRaceState();
    platform::setHttpTransport(&service_);
    telemetry::setPitCommandSink(&pits_);
    audio::setVoiceSink(&voice_);
    currentTimeline = &timeline_;
    sim_.setSessionText(testsupport::sampleSessionText());
    sim_.attach(telemetry::Telemetry());
}

void RaceTest::TearDown() {
    telemetry::Telemetry().replaceConnection(nullptr);
    audio::setVoiceSink(nullptr);
    telemetry::setPitCommandSink(nullptr);
    platform::setHttpTransport(nullptr);
    engineer::ResetRaceState();
    common::setSettingsPath("");
    common::PluginLog().setPath("");
    currentTimeline = nullptr;
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string RaceTest::readLog() const {
    std::ifstream in(dir_ / "Qm_Korvane_Plugin.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

Events RaceTest::logMessages() const {
    Events out;
    std::istringstream in(readLog());
    std::string line;
    while (std::getline(in, line)) {
        // "KV: <seconds> : " then the join's blank.
        const size_t at = line.find(" :  ");
        out.push_back(at == std::string::npos ? line : line.substr(at + 4));
    }
    return out;
}

Events RaceTest::voiceEvents() const {
    Events out = timeline_.events();
    std::erase_if(out,
                  [](const std::string& e) { return e.rfind("say", 0) && e.rfind("tone", 0); });
    return out;
}

Events RaceTest::said() const {
    Events out;
    for (const std::string& e : timeline_.starting("say: ")) {
        out.push_back(e.substr(5));
    }
    return out;
}

Commands RaceTest::pitCommands() const {
    Commands out;
    for (const std::string& e : timeline_.starting("pit ")) {
        int code = 0, value = 0;
        std::sscanf(e.c_str(), "pit %d %d", &code, &value);
        out.emplace_back(code, value);
    }
    return out;
}

std::string sessionText() {
    // The player's car and the race come first, so that withValue changes theirs.
    return "---\nWeekendInfo:\n TrackName: brenvik ring\n TrackID: 417\n TrackLength: 5.00 km\n"
           " TrackPitSpeedLimit: 60.00 kph\n TrackAirTemp: 25.55 C\n TrackSurfaceTemp: 41.20 C\n"
           " SubSessionID: 5550123\nSessionInfo:\n Sessions:\n"
           " - SessionNum: 1\n   SessionLaps: 14\n   SessionName: RACE\n"
           " - SessionNum: 0\n   SessionLaps: unlimited\n   SessionName: PRACTICE\n"
           "DriverInfo:\n DriverCarIdx: 1\n DriverUserID: 424242\n DriverPitTrkPct: 0.020000\n"
           " DriverCarFuelMaxLtr: 100.000\n DriverCarSLShiftRPM: 6800.000\n Drivers:\n"
           " - CarIdx: 1\n   CarID: 67\n   CarClassMaxFuelPct: 1.000 %\n"
           " - CarIdx: 0\n   CarID: 11\n   CarClassMaxFuelPct: 0.500 %\n\n...\n";
}

void SnapshotTest::SetUp() {
    RaceTest::SetUp();
    sim_.setSessionText(sessionText());
    sim_.setInt("SessionNum", 1);
    sim_.setInt("PlayerTrackSurface", 3);
    sim_.setBool("IsOnTrack", true);
    sim_.setInt("PlayerCarPosition", 5);
    sim_.setInt("SessionLapsRemainEx", 20);
    sim_.setInt("SessionTimeRemain", 100000);
    sim_.setInt("SessionState", 4);
    // Mid-lap, far from the pit entry at 100 m.
    sim_.set("LapDist", 2500);
    // Half a second into the calendar second: the blink bit is off unless a test moves it.
    clock_.setCalendarTime(1700000000, 600);
}

std::string SnapshotTest::refresh() {
    publish();
    ::testing::internal::CaptureStdout();
    app::Seams().refreshSessionSnapshot();
    return ::testing::internal::GetCapturedStdout();
}

void SnapshotTest::setFacts(const std::vector<std::pair<std::string, std::string>>& changes) {
    std::string text = sessionText();
    for (const auto& [key, value] : changes) {
        text = withValue(text, key, value);
    }
    sim_.setSessionText(text);
}

void SnapshotTest::windowFrom(int lap, double fuel, double sessionTime) {
    race().ResetLap = lap;
    race().FuelAtReset = static_cast<float>(fuel);
    race().ResetSessionTime = sessionTime;
}

void SnapshotTest::openLocalBlock() {
    race().LocalBlock = &block_;
    race().LocalLinkOpen = 1;
}

std::string SnapshotTest::blockLine() const {
    std::string s;
    for (uint8_t b : block_.bytes) {
        s += static_cast<char>(b);
        if (b == '\r') {
            break;
        }
    }
    return s;
}

void RaceWorkTest::SetUp() {
    RaceTest::SetUp();
    engineer::ResetPitRoadHandling();
    app::ResetMainTick();
    links::ResetServiceLink();
    links::SetConsoleWriter([](const char*) {});
    currentWork = this;
    app::PluginSeams& seams = app::Seams();
    seams = app::DefaultSeams();
    seams.updateAudioEngine = [] {};
    seams.logSessionJoin = [] {};
    seams.pollControls = [] { engineer::Race().PressedFunctions = pressedAtPoll; };
    seams.refreshSessionSnapshot = [] {
        currentTimeline->add("refresh");
        if (currentWork->onRefresh) {
            currentWork->onRefresh();
        }
    };
    engineer::setPitInSnapshotRefresh(seams.refreshSessionSnapshot);
    clock_.setSleepHook([](int ms) { currentTimeline->add("sleep " + std::to_string(ms)); });
    // Online and loaded: the connection watch has drawn its banner and the 3000 ms are over.
    for (int i = 0; i < 8 && !engineer::Race().TelemetryLoaded; ++i) {
        tick();
    }
    ASSERT_EQ(engineer::Race().TelemetryLoaded, 1);
    timeline_.clear();
    clearLog();
}

void RaceWorkTest::TearDown() {
    app::ResetMainTick();
    links::ResetServiceLink();
    app::RestoreDefaultSeams();
    engineer::setPitInSnapshotRefresh(nullptr);
    engineer::ResetPitRoadHandling();
    currentWork = nullptr;
    pressedAtPoll = 0;
    RaceTest::TearDown();
}

void RaceWorkTest::onSurface(int surface) {
    sim_.setBool("IsOnTrack", true);
    sim_.setInt("PlayerTrackSurface", surface);
}

void RaceWorkTest::inGarage() {
    sim_.setBool("IsOnTrack", false);
    sim_.setInt("PlayerTrackSurface", -1);
}

void RaceWorkTest::armedOnPitRoad() {
    onSurface(2);
    sim_.setInt("Lap", 9);
    sim_.set("LapDist", 20);
    race().TireChangeLap = 6;
    race().LocalLapLength = 3600;
    race().LapsSinceReset = 4;
    race().PitInArmed = 1;
    race().FuelBurnPerLap = 2.5f;
    race().FuelBurnMax = 2.5f;
    race().LitersToAdd = 30;
    race().FuelLastSet = 20;
}

void RaceWorkTest::inTheStall(double speed) {
    onSurface(1);
    sim_.setBool("PlayerCarInPitStall", true);
    sim_.set("Speed", speed);
    sim_.setInt("Lap", 12);
    for (const char* wear : {"LFwearR", "RFwearL", "LRwearR", "RRwearL"}) {
        sim_.set(wear, 0.9);
    }
    race().FuelBurnPerLap = 2.4f;
    race().FuelBurnPerMin = 1.3f;
}

std::string RaceWorkTest::tick(uint32_t pressed) {
    pressedAtPoll = pressed;
    sim_.publish();
    ::testing::internal::CaptureStdout();
    app::MainTick();
    std::string out = ::testing::internal::GetCapturedStdout();
    pressedAtPoll = 0;
    return out;
}

SeamScript& script() {
    static SeamScript s;
    return s;
}

namespace {

void record(const char* name) {
    script().calls.emplace_back(name);
}

// Each seam records its name; those that answer take the script's answer.
#define KORVANE_RECORD(seam) s.seam = [] { record(#seam); }
app::PluginSeams recordingSeams() {
    app::PluginSeams s{};
    KORVANE_RECORD(setupControllers);
    KORVANE_RECORD(selectAudioDeviceInteractive);
    KORVANE_RECORD(selectAudioDevicePredefined);
    KORVANE_RECORD(shutdownAudioEngine);
    KORVANE_RECORD(closeSerialPitBoard);
    KORVANE_RECORD(updateAudioEngine);
    KORVANE_RECORD(pollControls);
    KORVANE_RECORD(refreshSessionSnapshot);
    KORVANE_RECORD(logSessionJoin);
    KORVANE_RECORD(pitRoadHandling);
    KORVANE_RECORD(onTrackCalls);
    s.createAudioEngine = [] {
        record("createAudioEngine");
        return script().audioEngineStarts;
    };
    s.openSerialPitBoard = [] {
        record("openSerialPitBoard");
        return script().serialOpens;
    };
    s.keyWaiting = [] {
        script().keyCheckMs.push_back(platform::clock().steadyMs());
        return script().keyChecks++ >= script().keyAtCheck;
    };
    s.driverCommands = [] {
        record("driverCommands");
        return engineer::CommandResult::kTickGoesOn;
    };
    s.garageDriverCommands = [] {
        record("garageDriverCommands");
        std::printf("%s", script().garageMarker);
    };
    return s;
}
#undef KORVANE_RECORD

}  // namespace

void PluginTest::SetUp() {
    setUpOffline();
    app::ResetMainTick();
    script() = SeamScript{};
    app::Seams() = recordingSeams();
    clock_.setSleepHook([](int ms) { script().calls.push_back("sleep " + std::to_string(ms)); });
}

void PluginTest::TearDown() {
    app::ResetMainTick();
    app::RestoreDefaultSeams();
    RaceTest::TearDown();
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

std::string joined(const Events& calls) {
    std::string s;
    for (const std::string& c : calls) {
        s += (s.empty() ? "" : ", ") + c;
    }
    return s;
}

std::string withValue(std::string text, const std::string& key, const std::string& value) {
    const std::string needle = " " + key + ": ";
    const size_t at = text.find(needle);
    if (at == std::string::npos) {
        ADD_FAILURE() << "no " << key << " in the session text";
        return text;
    }
    const size_t start = at + needle.size();
    text.replace(start, text.find('\n', start) - start, value);
    return text;
}

}  // namespace racetest
