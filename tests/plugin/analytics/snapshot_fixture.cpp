#include "snapshot_fixture.h"

#include <cstdio>

#include "plugin/app/seams.h"
#include "plugin/telemetry/telemetry_client.h"

namespace snapshottest {

std::string sessionText(const SessionFacts& f) {
    std::string s;
    s += "---\nWeekendInfo:\n";
    s += " TrackName: brenvik ring\n TrackID: 417\n";
    if (f.trackLength != nullptr) {
        s += std::string(" TrackLength: ") + f.trackLength + "\n";
    }
    s += " TrackPitSpeedLimit: 60.00 kph\n TrackAirTemp: 25.55 C\n TrackSurfaceTemp: 41.20 C\n";
    s += " SubSessionID: 5550123\n";
    s += "SessionInfo:\n Sessions:\n";
    s += " - SessionNum: 0\n   SessionLaps: unlimited\n   SessionName: PRACTICE\n";
    s += " - SessionNum: 1\n   SessionLaps: 14\n";
    s += std::string("   SessionName: ") + f.sessionName + "\n";
    s += "DriverInfo:\n DriverCarIdx: 1\n DriverUserID: 424242\n";
    s += std::string(" DriverPitTrkPct: ") + f.pitTrackPct + "\n";
    s += std::string(" DriverCarFuelMaxLtr: ") + f.fuelMaxLtr + "\n";
    s += " DriverCarSLShiftRPM: 6800.000\n Drivers:\n";
    s += " - CarIdx: 0\n   CarID: 11\n   CarClassMaxFuelPct: 0.500 %\n";
    s += std::string(" - CarIdx: 1\n   CarID: 67\n   CarClassMaxFuelPct: ") + f.classMaxFuelPct +
         "\n";
    s += "\n...\n";
    return s;
}

void RecordingVoice::speak(const std::wstring& text, bool background) {
    std::string narrow;
    for (wchar_t c : text) {
        narrow += c < 128 ? static_cast<char>(c) : '?';
    }
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back((background ? "say later: " : "say: ") + narrow);
}

void RecordingVoice::tone(int hz, int durationMs, float frontLeft, float frontRight,
                          float surroundLeft, float surroundRight) {
    char text[96];
    std::snprintf(text, sizeof text, "tone %d %d %.1f/%.1f/%.1f/%.1f", hz, durationMs, frontLeft,
                  frontRight, surroundLeft, surroundRight);
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(text);
}

std::vector<std::string> RecordingVoice::events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

void RecordingVoice::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
}

void SnapshotTest::SetUp() {
    engineer::ResetRaceState();
    audio::setVoiceSink(&voice_);
    sim_.attach(telemetry::Telemetry());
    sim_.setSessionText(sessionText());
    sim_.setConnected(true);
    sim_.setInt("PlayerCarIdx", 1);
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

void SnapshotTest::TearDown() {
    telemetry::Telemetry().replaceConnection(nullptr);
    audio::setVoiceSink(nullptr);
    engineer::ResetRaceState();
}

std::string SnapshotTest::refresh() {
    EXPECT_TRUE(sim_.deliver(telemetry::Telemetry()));
    ::testing::internal::CaptureStdout();
    app::Seams().refreshSessionSnapshot();
    return ::testing::internal::GetCapturedStdout();
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

}  // namespace snapshottest
