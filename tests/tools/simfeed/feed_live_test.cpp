// The feed program in its own process, seen by the race engineer's own reader: every
// variable it reads, every session path it asks for, the pit commands it sends, a recording
// replayed, and the connection controls.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/pit_channel.h"
#include "platform/shared_memory.h"
#include "plugin/telemetry/catalogue.h"
#include "plugin/telemetry/pit_commands.h"
#include "plugin/telemetry/session_query.h"
#include "plugin/telemetry/telemetry_client.h"
#include "plugin/telemetry/telemetry_variable.h"
#include "tests/tools/simfeed/feed_process.h"
#include "tests/tools/simfeed/model_reader.h"
#include "tools/simfeed/feed_row.h"
#include "tools/simfeed/ibt_file.h"
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
    TelemetryClient reader() const {
        return TelemetryClient(telemetry::makeSystemConnection(mapping, event));
    }
    // The highest tick count in the block's buffer table; -1 without a block.
    int32_t headerTick() const {
        auto block = platform::openSharedMemoryReadOnly(mapping);
        if (!block || block->size() < sizeof(telemetry::BlockHeader)) {
            return -1;
        }
        telemetry::BlockHeader h;
        std::memcpy(&h, block->data(), sizeof h);
        int32_t newest = 0;
        for (int i = 0; i < h.numBuffers && i < telemetry::kMaxBuffers; ++i) {
            newest = std::max(newest, h.buffers[i].tickCount);
        }
        return newest;
    }
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

// The engineer's own send, the feed's next rows and the feed's log.
TEST_F(LiveFeed, PitCommandsComeBackInTelemetryAndTheLog) {
    TelemetryClient& client = telemetry::Telemetry();
    namespace v = telemetry::vars;
    TelemetryVariable fuel("PitSvFuel");
    struct Step {
        int code;
        int value;
        std::function<bool()> shows;
    } steps[] = {
        {telemetry::kPitFuel, 37,
         [&] { return (v::PitSvFlags.readInt() & 16) && fuel.readInt() == 37; }},
        {telemetry::kPitLF, 170,
         [&] { return (v::PitSvFlags.readInt() & 1) && v::PitSvLFP.readInt() == 170; }},
        {telemetry::kPitRF, 171,
         [&] { return (v::PitSvFlags.readInt() & 2) && v::PitSvRFP.readInt() == 171; }},
        {telemetry::kPitLR, 172,
         [&] { return (v::PitSvFlags.readInt() & 4) && v::PitSvLRP.readInt() == 172; }},
        {telemetry::kPitRR, 173,
         [&] { return (v::PitSvFlags.readInt() & 8) && v::PitSvRRP.readInt() == 173; }},
        {telemetry::kPitClearTires, 0, [&] { return (v::PitSvFlags.readInt() & 15) == 0; }},
        {telemetry::kPitClearFuel, 1,
         [&] {
             return v::PitSvFlags.readInt() == 0 && fuel.readInt() == 37 &&
                    v::PitSvRRP.readInt() == 173;
         }},
    };
    std::vector<std::string> sent;
    for (const Step& s : steps) {
        telemetry::sendPitCommand(s.code, s.value);
        sent.push_back("code=" + std::to_string(s.code) + " value=" + std::to_string(s.value));
        EXPECT_TRUE(waitForRow(client, 10000, s.shows))
            << "command " << s.code << " never showed; PitSvFlags " << v::PitSvFlags.readInt();
    }
    EXPECT_TRUE(feed->waitForLogLine("PIT code=11 value=1", 5000));
    EXPECT_EQ(feed->pitCommands(), sent);
}

// A few seconds of the live feed recorded in the disk format by the test, then replayed by
// the feed: every row the reader takes from the replay is a recorded row, byte for byte.
TEST_F(LiveFeed, RecordingReplaysUnchanged) {
    TelemetryClient& client = telemetry::Telemetry();
    TelemetryVariable tick("SessionTick");
    ASSERT_TRUE(waitForRow(client, 10000, [] { return true; }));
    std::vector<telemetry::VarHeader> headers;
    for (int i = 0; i < client.numVars(); ++i) {
        headers.push_back(*client.varHeader(i));
    }
    ASSERT_GT(headers.size(), 250u);
    const std::string text(client.sessionText(),
                           strnlen(client.sessionText(), client.sessionTextLimit()));
    std::string path = (std::filesystem::path(feed->dir()) / "recorded.ibt").string();
    std::map<int32_t, std::vector<uint8_t>> recorded;
    {
        simfeed::IbtWriter out;
        std::string error;
        ASSERT_TRUE(out.open(path, headers, client.dataLength(), text, 60, 0, &error)) << error;
        const int64_t end = nowMs() + 3000;
        while (nowMs() < end) {
            if (client.waitForTelemetry(16)) {
                std::vector<uint8_t> row(client.dataCopy(),
                                         client.dataCopy() + client.dataLength());
                recorded[tick.readInt()] = row;
                out.addRow(row.data(), tick.readInt() / 60.0);
            }
        }
        ASSERT_TRUE(out.close(&error)) << error;
    }
    ASSERT_GT(recorded.size(), 60u);
    client.closeTelemetry();
    ASSERT_TRUE(feed->stop()) << feed->error();

    PrivateBlock replayBlock("Replay");
    FeedProcess replay("simfeed_replay");
    ASSERT_TRUE(replay.start(
        {"--replay", path, "--until-end", "--channel", channel(), "--block", replayBlock.name}))
        << replay.error();
    TelemetryClient reader = replayBlock.reader();
    TelemetryVariable replayedTick("SessionTick", reader);
    size_t seen = 0;
    size_t mismatches = 0;
    bool textChecked = false;
    const int64_t end = nowMs() + 20000;
    while (nowMs() < end && replay.logText().find("END") == std::string::npos) {
        if (!reader.waitForTelemetry(16)) {
            continue;
        }
        if (!textChecked) {
            EXPECT_EQ(std::string(reader.sessionText(),
                                  strnlen(reader.sessionText(), reader.sessionTextLimit())),
                      text);
            textChecked = true;
        }
        auto it = recorded.find(replayedTick.readInt());
        if (it == recorded.end()) {
            ++mismatches;
            continue;
        }
        // Value by value, through the replayed block's own headers.
        for (int i = 0; i < reader.numVars(); ++i) {
            const telemetry::VarHeader* h = reader.varHeader(i);
            const telemetry::VarHeader& r = headers[static_cast<size_t>(i)];
            ASSERT_EQ(std::strncmp(h->name, r.name, 32), 0);
            size_t bytes = static_cast<size_t>(telemetry::varTypeSize(h->type) * h->count);
            if (std::memcmp(reader.dataCopy() + h->offset, it->second.data() + r.offset, bytes) !=
                0) {
                ++mismatches;
                ADD_FAILURE() << h->name << " differs in the replay of tick " << it->first;
            }
        }
        ++seen;
    }
    EXPECT_TRUE(textChecked);
    EXPECT_GT(seen, recorded.size() / 2) << "the replay runs at the recorded rate";
    EXPECT_EQ(mismatches, 0u);
    EXPECT_TRUE(replay.stop()) << replay.error();
}

// Started late, disconnected and frozen on command: the reader sees the simulator come, go,
// come back with its tick count started over, and stand still.
TEST(FeedControls, ConnectLateDisconnectAndFreeze) {
    PrivateBlock block("Controls");
    FeedProcess feed("simfeed_controls");
    ASSERT_TRUE(feed.start({"--scenario", "one_stop", "--channel", channel(), "--block", block.name,
                            "--connect-after", "1.5", "--disconnect", "3.5:5", "--freeze", "7:2",
                            "--run-seconds", "20"}))
        << feed.error();
    EXPECT_EQ(block.headerTick(), -1) << "no simulator before --connect-after";
    TelemetryClient reader = block.reader();
    TelemetryVariable tick("SessionTick", reader);
    const int64_t start = nowMs();
    ASSERT_TRUE(waitForRow(reader, 15000, [&] { return reader.isTelemetryLive(); }))
        << feed.logText();
    EXPECT_NE(feed.logText().find("PUBLISH block=" + block.mapping), std::string::npos);
    int32_t raceTick = 0;
    int32_t blockTick = 0;
    while (feed.logText().find("DISCONNECT") == std::string::npos && nowMs() - start < 10000) {
        if (reader.waitForTelemetry(16)) {
            raceTick = tick.readInt();
            blockTick = std::max(blockTick, block.headerTick());
        }
    }
    ASSERT_GT(raceTick, 0);
    EXPECT_FALSE(waitForRow(reader, 500, [] { return true; })) << "no rows while disconnected";
    EXPECT_FALSE(reader.isTelemetryLive()) << "the connected bit is clear";
    ASSERT_TRUE(waitForRow(reader, 10000, [&] { return reader.isTelemetryLive(); }));
    EXPECT_TRUE(feed.logText().find("RECONNECT") != std::string::npos);
    EXPECT_LT(block.headerTick(), blockTick) << "a restarted simulator counts from the start";
    EXPECT_GE(tick.readInt(), raceTick) << "the race carries on where it stopped";

    ASSERT_TRUE(feed.waitForLogLine("FREEZE", 10000));
    waitForRow(reader, 100, [] { return true; });
    const int64_t frozenAt = nowMs();
    EXPECT_FALSE(waitForRow(reader, 1200, [] { return true; })) << "no new row while frozen";
    EXPECT_TRUE(reader.isTelemetryLive()) << "a frozen simulator is still connected";
    ASSERT_TRUE(waitForRow(reader, 5000, [] { return true; }));
    EXPECT_GE(nowMs() - frozenAt, 1000);
    EXPECT_LT(nowMs() - start, 20000);
    EXPECT_TRUE(feed.stop()) << feed.error();
}

}  // namespace
