#pragma once
// One session snapshot refresh at a time over the fake simulator: a session text with known
// facts, a telemetry row the test stages, a recording voice and pit-command sink, and an
// in-memory stand-in for the block "Local\qrdlocal".

#include <gtest/gtest.h>

#include <array>
#include <mutex>
#include <string>
#include <vector>

#include "platform/shared_memory.h"
#include "plugin/audio/voice.h"
#include "plugin/engineer/race_state.h"
#include "support/fake_simulator.h"
#include "support/recording_pit_sink.h"
#include "support/virtual_clock.h"

namespace snapshottest {

// The facts the fixture's session text announces.
struct SessionFacts {
    const char* trackLength = "5.00 km";  // nullptr: no TrackLength at all
    const char* pitTrackPct = "0.020000";
    const char* fuelMaxLtr = "100.000";
    const char* classMaxFuelPct = "1.000 %";
    const char* sessionName = "RACE";
};

std::string sessionText(const SessionFacts& facts = {});

// "tone 1250 150 0.9/0.0/0.0/0.0", "say later: ...".
class RecordingVoice : public audio::VoiceSink {
  public:
    void speak(const std::wstring& text, bool background) override;
    void tone(int hz, int durationMs, float frontLeft, float frontRight, float surroundLeft,
              float surroundRight) override;
    std::vector<std::string> events() const;
    void clear();

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

class MemoryBlock : public platform::SharedMemory {
  public:
    uint8_t* data() override { return bytes.data(); }
    size_t size() const override { return bytes.size(); }
    std::array<uint8_t, 256> bytes{};
};

class SnapshotTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Publishes the staged row and runs one refresh; returns what it printed.
    std::string refresh();
    // The fuel window as a reset at `lap` with `fuel` litres at `sessionTime` left it.
    void windowFrom(int lap, double fuel, double sessionTime);
    void openLocalBlock();
    // The block's bytes up to and including the first carriage return.
    std::string blockLine() const;

    engineer::RaceState& race() { return engineer::Race(); }

    testsupport::VirtualClock clock_;
    testsupport::ScopedClock useClock_{clock_};
    testsupport::FakeSimulator sim_;
    testsupport::RecordingPitSink pits_;
    RecordingVoice voice_;
    MemoryBlock block_;
};

}  // namespace snapshottest
