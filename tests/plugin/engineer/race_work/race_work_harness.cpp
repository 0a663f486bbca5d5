#include "race_work_harness.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "common/log_writer.h"
#include "common/settings_file.h"
#include "plugin/app/main_tick.h"
#include "plugin/app/seams.h"
#include "plugin/engineer/race_work.h"
#include "plugin/links/web_service_link.h"
#include "plugin/telemetry/telemetry_client.h"
#include "support/test_folder.h"

namespace racework {

namespace {

uint32_t pressedAtPoll = 0;
RaceWorkTest* current = nullptr;
Timeline* currentTimeline = nullptr;

std::string narrow(const std::wstring& text) {
    std::string s;
    for (wchar_t c : text) {
        s += c < 128 ? static_cast<char>(c) : '?';
    }
    return s;
}

}  // namespace

void Timeline::add(std::string event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
}

std::vector<std::string> Timeline::events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

std::vector<std::string> Timeline::starting(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& e : events()) {
        if (e.rfind(prefix, 0) == 0) {
            out.push_back(e);
        }
    }
    return out;
}

void Timeline::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
}

void TimelineVoice::speak(const std::wstring& text, bool background) {
    timeline_.add((background ? "say later: " : "say: ") + narrow(text));
}

void TimelineVoice::tone(int hz, int durationMs, float frontLeft, float frontRight,
                         float surroundLeft, float surroundRight) {
    char text[128];
    std::snprintf(text, sizeof text, "tone %d %d %.1f/%.1f/%.1f/%.1f", hz, durationMs, frontLeft,
                  frontRight, surroundLeft, surroundRight);
    timeline_.add(text);
}

void TimelinePitSink::send(int32_t code, int32_t value) {
    timeline_.add("pit " + std::to_string(code) + " " + std::to_string(value));
}

platform::HttpResponse TimelineService::get(const platform::HttpRequest& request) {
    timeline_.add("GET " + request.path);
    platform::HttpResponse response;
    response.status = 200;
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t at = request.path.find("?c=");
    if (at != std::string::npos) {
        const size_t end = request.path.find('&', at);
        const std::string command = request.path.substr(at + 3, end - at - 3);
        auto it = answers_.find(command);
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

void RaceWorkTest::SetUp() {
    dir_ = testsupport::freshTestFolder("korvane_racework");
    common::setSettingsPath((dir_ / "Qm_Korvane_Launcher.ini").string());
    common::PluginLog().setPath((dir_ / "Qm_Korvane_Plugin.log").string());

    engineer::ResetRaceState();
    engineer::ResetPitRoadHandling();
    app::ResetMainTick();
    links::ResetServiceLink();
    links::SetConsoleWriter([](const char*) {});
    platform::setHttpTransport(&service_);
    telemetry::setPitCommandSink(&pits_);
    audio::setVoiceSink(&voice_);

    current = this;
    currentTimeline = &timeline_;
    app::PluginSeams& seams = app::Seams();
    seams = app::DefaultSeams();
    seams.updateAudioEngine = [] {};
    seams.logSessionJoin = [] {};
    seams.pollControls = [] { engineer::Race().PressedFunctions = pressedAtPoll; };
    seams.refreshSessionSnapshot = [] {
        currentTimeline->add("refresh");
        if (current->onRefresh) {
            current->onRefresh();
        }
    };
    engineer::setPitInSnapshotRefresh(seams.refreshSessionSnapshot);
    clock_.setSleepHook([](int ms) { currentTimeline->add("sleep " + std::to_string(ms)); });

    sim_.setSessionText(testsupport::sampleSessionText());
    sim_.attach(telemetry::Telemetry());
    sim_.setConnected(true);
    // Online and loaded: the connection watch has drawn its banner and the 3000 ms are over.
    for (int i = 0; i < 8 && !engineer::Race().TelemetryLoaded; ++i) {
        tick();
    }
    ASSERT_EQ(engineer::Race().TelemetryLoaded, 1);
    timeline_.clear();
    std::filesystem::remove(dir_ / "Qm_Korvane_Plugin.log");
}

void RaceWorkTest::TearDown() {
    app::ResetMainTick();
    telemetry::Telemetry().replaceConnection(nullptr);
    audio::setVoiceSink(nullptr);
    telemetry::setPitCommandSink(nullptr);
    platform::setHttpTransport(nullptr);
    links::ResetServiceLink();
    app::RestoreDefaultSeams();
    engineer::setPitInSnapshotRefresh(nullptr);
    engineer::ResetRaceState();
    engineer::ResetPitRoadHandling();
    common::setSettingsPath("");
    common::PluginLog().setPath("");
    current = nullptr;
    currentTimeline = nullptr;
    pressedAtPoll = 0;
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
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

std::string RaceWorkTest::readLog() const {
    std::ifstream in(dir_ / "Qm_Korvane_Plugin.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> RaceWorkTest::logMessages() const {
    std::vector<std::string> out;
    std::istringstream in(readLog());
    std::string line;
    while (std::getline(in, line)) {
        // "KV: <seconds> : " then the join's blank.
        const size_t at = line.find(" :  ");
        out.push_back(at == std::string::npos ? line : line.substr(at + 4));
    }
    return out;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace racework
