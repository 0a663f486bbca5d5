// The feed program in its own process, seen by the race engineer's own reader: every
// variable it reads and every session path it asks for hold what the feed's model holds.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/pit_channel.h"
#include "plugin/telemetry/catalogue.h"
#include "plugin/telemetry/session_query.h"
#include "plugin/telemetry/telemetry_client.h"
#include "plugin/telemetry/telemetry_variable.h"
#include "tests/support/simfeed_fixture.h"
#include "tools/simfeed/feed_row.h"
#include "tools/simfeed/race_model.h"

namespace {

using simfeedtest::FeedProcess;
using telemetry::TelemetryClient;
using telemetry::TelemetryVariable;

int64_t nowMs() {
    return platform::clock().steadyMs();
}

// A channel of this run's own, so no other program sees the test's pit commands.
const std::string& channel() {
    static const std::string name = "KORVANE_SIMFEED_TEST_" + std::to_string(nowMs() % 100000000);
    return name;
}

// Waits for the next row that `accept` takes; false after `timeoutMs`.
template <typename Accept>
bool waitForRow(TelemetryClient& client, int timeoutMs, Accept accept) {
    const int64_t end = nowMs() + timeoutMs;
    while (nowMs() < end) {
        if (client.waitForTelemetry(16) && accept()) {
            return true;
        }
    }
    return false;
}

// A block and event of the test's own, so this run meets no other feed or simulator.
struct PrivateBlock {
    explicit PrivateBlock(const std::string& what)
        : name("KorvaneSimFeed" + what + std::to_string(nowMs() % 100000000)),
          mapping("Local\\" + name),
          event(mapping + "DataValidEvent") {}
    std::string name;
    std::string mapping;
    std::string event;
};

simfeed::Scenario scenarioFile(const std::string& name) {
    const char* bin = std::getenv("KORVANE_BIN_DIR");
    std::string path = simfeedtest::hostPath(std::string(bin != nullptr ? bin : ".")) +
                       "/scenarios/" + name + ".ini";
    simfeed::ScenarioLoad load = simfeed::loadScenarioFile(path);
    EXPECT_TRUE(load.scenario.has_value()) << path;
    return load.scenario.value_or(simfeed::defaultScenario());
}

class LiveFeed : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        platform::setBroadcastChannelName(channel());
        // The engineer's own process-wide reader and catalogue, pointed at the test's block.
        block = new PrivateBlock("Live");
        telemetry::Telemetry().replaceConnection(
            telemetry::makeSystemConnection(block->mapping, block->event));
        feed = new FeedProcess("simfeed_live");
        started = feed->start({"--scenario", "one_stop", "--time-scale", "10", "--channel",
                               channel(), "--block", block->name, "--run-seconds", "240"});
    }
    static void TearDownTestSuite() {
        telemetry::Telemetry().replaceConnection(telemetry::makeSystemConnection());
        delete block;
        block = nullptr;
        delete feed;
        feed = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(started) << feed->error(); }

    static FeedProcess* feed;
    static PrivateBlock* block;
    static bool started;
};

FeedProcess* LiveFeed::feed = nullptr;
PrivateBlock* LiveFeed::block = nullptr;
bool LiveFeed::started = false;

// Every catalogue variable as the engineer reads it, against the same tick of a model run in
// this process: the feed and the test share the model's code, seed and scenario.
TEST_F(LiveFeed, ReaderSeesEveryVariableAndSessionValueAsPublished) {
    TelemetryClient& client = telemetry::Telemetry();
    TelemetryVariable isOnTrack("IsOnTrack");
    TelemetryVariable speed("Speed");
    TelemetryVariable tick("SessionTick");
    ASSERT_TRUE(waitForRow(client, 30000,
                           [&] {
                               return client.isTelemetryLive() && isOnTrack.readBool() &&
                                      speed.readDouble() > 20;
                           }))
        << "the feed's car never got going\n"
        << feed->logText();

    // Everything below reads this one row.
    const int32_t at = tick.readInt();
    simfeed::RaceModel model(scenarioFile("one_stop"));
    while (model.tick() < at) {
        model.step();
    }
    const simfeedtest::FeedRow expected(model);
    auto value = [&](const char* name) { return expected.value(name); };

    namespace v = telemetry::vars;
    struct IntRead {
        TelemetryVariable* var;
    } ints[] = {{&v::EngineWarnings},
                {&v::Lap},
                {&v::PitSvFlags},
                {&v::PlayerCarIdx},
                {&v::PlayerCarPitSvStatus},
                {&v::PlayerCarPosition},
                {&v::PlayerTrackSurface},
                {&v::RPM},
                {&v::SessionFlags},
                {&v::SessionLapsRemainEx},
                {&v::SessionNum},
                {&v::SessionState},
                {&v::SessionTime},
                {&v::SessionTimeRemain},
                {&v::Speed},
                {&v::PlayerCarInPitStall}};
    for (const IntRead& r : ints) {
        EXPECT_EQ(r.var->readInt(), static_cast<int32_t>(std::trunc(value(r.var->name()))))
            << r.var->name();
    }
    TelemetryVariable* floats[] = {&v::AirTemp,        &v::FuelLevel,      &v::LFcoldPressure,
                                   &v::RFcoldPressure, &v::LRcoldPressure, &v::RRcoldPressure,
                                   &v::LFtempCR,       &v::RFtempCL,       &v::LRtempCR,
                                   &v::RRtempCL,       &v::LFwearR,        &v::RFwearL,
                                   &v::LRwearR,        &v::RRwearL,        &v::LapDist,
                                   &v::PitSvLFP,       &v::PitSvRFP,       &v::PitSvLRP,
                                   &v::PitSvRRP,       &v::TrackTempCrew,  &v::TrackTempCrew2};
    for (TelemetryVariable* f : floats) {
        EXPECT_EQ(f->readFloat(), static_cast<float>(value(f->name()))) << f->name();
    }
    TelemetryVariable* doubles[] = {&v::AirTemp,  &v::Brake,         &v::FuelLevel,
                                    &v::LFwearR,  &v::PitRepairLeft, &v::PitOptRepairLeft,
                                    &v::PitSvLFP, &v::SessionTime,   &v::TrackTempCrew};
    for (TelemetryVariable* d : doubles) {
        EXPECT_EQ(d->readDouble(), value(d->name())) << d->name();
    }
    EXPECT_TRUE(v::IsOnTrack.readBool());
    for (const char* name : {"TireSetsAvailable", "TireSetsUsed"}) {
        TelemetryVariable local(name);
        EXPECT_EQ(local.readInt(), static_cast<int32_t>(value(name))) << name;
    }
    EXPECT_EQ(v::SessionTime.readDouble(), at / 60.0 - 0.0 + (model.sessionTime() - at / 60.0));
    EXPECT_EQ(v::PlayerTrackSurface.readInt(), simfeed::kSurfaceOnTrack);

    // Every path the engineer queries, found in the live text and equal to the model's.
    const std::string text = model.sessionText();
    const char* paths[] = {"DriverInfo:DriverUserID:",
                           "DriverInfo:DriverCarSLShiftRPM:",
                           "WeekendInfo:SubSessionID:",
                           "WeekendInfo:TrackID:",
                           "WeekendInfo:TrackDisplayName:",
                           "DriverInfo:Drivers:CarIdx:{%d}CarID:",
                           "DriverInfo:Drivers:CarIdx:{%d}CarScreenName:",
                           "WeekendInfo:TrackAirTemp:",
                           "WeekendInfo:TrackSurfaceTemp:",
                           "WeekendInfo:TrackLength:",
                           "DriverInfo:DriverPitTrkPct:",
                           "DriverInfo:DriverCarFuelMaxLtr:",
                           "DriverInfo:Drivers:CarIdx:{%d}CarClassMaxFuelPct:",
                           "SessionInfo:Sessions:SessionNum:{%s}SessionName:",
                           "SessionInfo:Sessions:SessionNum:{2}SessionLaps:",
                           "SessionInfo:Sessions:SessionNum:{2}SessionTime:",
                           "CarSetup:Tires:RightFront:StartingPressure:",
                           "WeekendInfo:TrackPitSpeedLimit:"};
    for (const char* p : paths) {
        std::string path = p;
        if (size_t at2 = path.find("%d"); at2 != std::string::npos) {
            path.replace(at2, 2, std::to_string(v::PlayerCarIdx.readInt()));
        }
        if (size_t at2 = path.find("%s"); at2 != std::string::npos) {
            path.replace(at2, 2, std::to_string(v::SessionNum.readInt()));
        }
        std::snprintf(telemetry::QueryPath, sizeof telemetry::QueryPath, "%s", path.c_str());
        ASSERT_EQ(telemetry::querySessionValue(telemetry::QueryPath), 1) << path;
        const char* start = nullptr;
        int length = 0;
        ASSERT_TRUE(telemetry::findSessionValue(text.c_str(), text.size() + 1, path.c_str(), &start,
                                                &length))
            << path;
        EXPECT_EQ(std::string(telemetry::QueryResult),
                  std::string(start, static_cast<size_t>(length)))
            << path;
    }
}

}  // namespace
