#pragma once
// The advisories over a fake simulator that is live, with a voice that records what is said
// and a log of the test's own.

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "plugin/audio/voice.h"
#include "support/fake_simulator.h"
#include "support/virtual_clock.h"

namespace advisories {

class RecordingVoice : public audio::VoiceSink {
  public:
    void speak(const std::wstring& text, bool background) override;
    void tone(int, int, float, float, float, float) override {}
    std::vector<std::string> said() const;
    void clear();

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> said_;
};

class AdvisoryTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Publishes the staged row and session text so the client reads them.
    void publish();
    void useSessionText(const std::string& text);
    // The log's messages without their time stamps.
    std::vector<std::string> logMessages() const;
    void clearLog();

    testsupport::VirtualClock clock_;
    testsupport::ScopedClock useClock_{clock_};
    testsupport::FakeSimulator sim_;
    RecordingVoice voice_;
    std::filesystem::path dir_;
};

// `text` with the first "key: old" line's value replaced (the key is matched with its colon).
std::string withValue(std::string text, const std::string& key, const std::string& value);

}  // namespace advisories
