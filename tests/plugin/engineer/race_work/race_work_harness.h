#pragma once
// The real tick with the real race work, over fakes of everything outside: the simulator,
// the clock, the voice, the pit-command sink and the race-data service. Everything the
// outside sees is written to one timeline, so a test can check the order of events. The
// session snapshot refresh is a seam the test scripts: the fuel numbers a test sets stay as
// they are unless its refresh hook changes them.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/http_client.h"
#include "plugin/audio/voice.h"
#include "plugin/engineer/race_state.h"
#include "plugin/telemetry/pit_commands.h"
#include "support/fake_simulator.h"
#include "support/virtual_clock.h"

namespace racework {

// Events as "say: ..." (direct speech), "say later: ...", "tone 1200 100 0.0/0.9/0.0/0.0",
// "pit 2 27", "GET /qrd/lap.php?...", "sleep 1000", "refresh".
class Timeline {
  public:
    void add(std::string event);
    std::vector<std::string> events() const;
    // Only the events that start with `prefix`.
    std::vector<std::string> starting(const std::string& prefix) const;
    void clear();

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

class TimelineVoice : public audio::VoiceSink {
  public:
    explicit TimelineVoice(Timeline& t) : timeline_(t) {}
    void speak(const std::wstring& text, bool background) override;
    void tone(int hz, int durationMs, float frontLeft, float frontRight, float surroundLeft,
              float surroundRight) override;

  private:
    Timeline& timeline_;
};

class TimelinePitSink : public telemetry::PitCommandSink {
  public:
    explicit TimelinePitSink(Timeline& t) : timeline_(t) {}
    void send(int32_t code, int32_t value) override;

  private:
    Timeline& timeline_;
};

// Answers the service's questions by command ("qrdtireschange", "getpreviousfuelburn",
// "qrdweatherchange"); reports get an empty answer.
class TimelineService : public platform::HttpTransport {
  public:
    explicit TimelineService(Timeline& t) : timeline_(t) {}
    platform::HttpResponse get(const platform::HttpRequest& request) override;
    void answer(const std::string& command, std::string body);

  private:
    Timeline& timeline_;
    std::mutex mutex_;
    std::map<std::string, std::string> answers_;
};

class RaceWorkTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The car's place for the next rows: in the world on `surface`, or in the garage.
    void onSurface(int surface);
    void inGarage();
    // A car on pit road after a four-lap stint, armed for the pit-in consultation.
    void armedOnPitRoad();
    // A car standing (or rolling, at `speed`) in its stall after a measured stint.
    void inTheStall(double speed);
    // Publishes the staged row and runs one MainTick with `pressed` functions; returns what
    // the tick printed.
    std::string tick(uint32_t pressed = 0);
    std::string readLog() const;
    // The log's lines without their time stamps.
    std::vector<std::string> logMessages() const;

    // Called in place of the session snapshot refresh.
    std::function<void()> onRefresh;

    engineer::RaceState& race() { return engineer::Race(); }

    Timeline timeline_;
    testsupport::VirtualClock clock_;
    testsupport::ScopedClock useClock_{clock_};
    testsupport::FakeSimulator sim_;
    TimelineVoice voice_{timeline_};
    TimelinePitSink pits_{timeline_};
    TimelineService service_{timeline_};
    std::filesystem::path dir_;
};

bool contains(const std::string& text, const std::string& part);

}  // namespace racework
