#pragma once
// The race engineer's tests (analytics and engineer) over fakes of everything outside: the
// simulator, the clock, the voice, the pit-command sink and the race-data service. Everything
// the outside sees is written to one timeline, so a test can check the order of events.
//
//   RaceTest       the race state, a live fake simulator with the sample session text, a log
//   SnapshotTest   one session snapshot refresh at a time, on a session text of known facts
//   RaceWorkTest   the real tick with the real race work; the snapshot refresh is a seam the
//                  test scripts (the numbers a test sets stay unless `onRefresh` changes them)
//   PluginTest     the plugin's start-up and tick with a recording stand-in for every seam,
//                  beginning offline (the simulator has published nothing)

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/http_client.h"
#include "platform/shared_memory.h"
#include "plugin/engineer/race_state.h"
#include "plugin/engineer/race_work.h"
#include "plugin/telemetry/pit_commands.h"
#include "plugin/telemetry/telemetry_client.h"
#include "support/fake_simulator.h"
#include "support/recording_voice.h"
#include "support/virtual_clock.h"

namespace racetest {

using Events = std::vector<std::string>;
using Commands = std::vector<std::pair<int32_t, int32_t>>;

// Events as "say: ..." (direct speech), "say later: ...", "tone 1200 100 0.0/0.9/0.0/0.0",
// "pit 2 27", "GET /qrd/lap.php?...", "sleep 1000", "refresh".
class Timeline {
  public:
    void add(std::string event);
    Events events() const;
    // Only the events that start with `prefix`.
    Events starting(const std::string& prefix) const;
    void clear();

  private:
    mutable std::mutex mutex_;
    Events events_;
};

class TimelineVoice : public testsupport::RecordingVoice {
  public:
    explicit TimelineVoice(Timeline& t) : timeline_(t) {}

  protected:
    void add(std::string event) override { timeline_.add(std::move(event)); }

  private:
    Timeline& timeline_;
};

class TimelinePitSink : public telemetry::PitCommandSink {
  public:
    explicit TimelinePitSink(Timeline& t) : timeline_(t) {}
    void send(int32_t code, int32_t value) override {
        timeline_.add("pit " + std::to_string(code) + " " + std::to_string(value));
    }

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

// The block "Local\qrdlocal" in memory.
class MemoryBlock : public platform::SharedMemory {
  public:
    uint8_t* data() override { return bytes.data(); }
    size_t size() const override { return bytes.size(); }
    std::array<uint8_t, 256> bytes{};
};

class RaceTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // The folder, the fakes and the attached simulator, before anything is published.
    void setUpOffline();

    // Publishes the staged row (and session text) until the client has taken it.
    void publish() { ASSERT_TRUE(sim_.deliver(telemetry::Telemetry())); }
    void useSessionText(const std::string& text) {
        sim_.setSessionText(text);
        publish();
    }
    std::string readLog() const;
    // The log's lines without their time stamps.
    Events logMessages() const;
    void clearLog() { std::filesystem::remove(dir_ / "Qm_Korvane_Plugin.log"); }
    // The voice's events ("say..." and "tone ..."), the text of the direct speech alone, and
    // the pit commands as (code, value).
    Events voiceEvents() const;
    Events said() const;
    Commands pitCommands() const;

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

// SnapshotTest's session text: a 5.00 km track with its pit entry at 2 %, car 1 in a 100-litre
// tank at 100 %, session 1 the race.
std::string sessionText();

class SnapshotTest : public RaceTest {
  protected:
    void SetUp() override;

    // Publishes the staged row and runs one refresh; returns what it printed.
    std::string refresh();
    // Stages the session text with the given "key: value" lines changed.
    void setFacts(const std::vector<std::pair<std::string, std::string>>& changes);
    // The fuel window as a reset at `lap` with `fuel` litres at `sessionTime` left it.
    void windowFrom(int lap, double fuel, double sessionTime);
    void openLocalBlock();
    // The block's bytes up to and including the first carriage return.
    std::string blockLine() const;

    MemoryBlock block_;
};

class RaceWorkTest : public RaceTest {
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

    // Called in place of the session snapshot refresh.
    std::function<void()> onRefresh;
};

// What PluginTest's recording seams saw, and what they answer. Each seam call and each sleep
// of the clock ("sleep 16") is a line of `calls`.
struct SeamScript {
    Events calls;
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

class PluginTest : public RaceTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // One MainTick; returns what it printed.
    std::string tick();
    // Publishes rows with the connected bit and ticks until the telemetry is loaded and the
    // local block is open; returns everything printed.
    std::string bringOnline();
    void writeSettings(const std::string& text) {
        std::ofstream(dir_ / "Qm_Korvane_Launcher.ini") << text;
    }
};

// The text of a recorded call list, for failure messages.
std::string joined(const Events& calls);
inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}
// `text` with the first "key: old" line's value replaced (the key is matched with its colon).
std::string withValue(std::string text, const std::string& key, const std::string& value);

}  // namespace racetest
