#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/named_event.h"
#include "platform/shared_memory.h"
#include "plugin/telemetry/pit_commands.h"
#include "plugin/telemetry/session_query.h"
#include "plugin/telemetry/telemetry_client.h"
#include "plugin/telemetry/telemetry_variable.h"
#include "tests/support/fake_simulator.h"
#include "tests/support/virtual_clock.h"
#include "tools/simblock/sim_block.h"

namespace {

using telemetry::TelemetryClient;
using telemetry::TelemetryVariable;
using testsupport::FakeSimulator;

class ClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim.setSessionText(testsupport::sampleSessionText());
        sim.setConnected(true);
    }

    // Brings the client to processing rows with FuelLevel = `fuel`.
    void goLive(float fuel = 10.0f) {
        sim.set("FuelLevel", fuel);
        ASSERT_TRUE(sim.deliver(client));
        ASSERT_TRUE(client.isTelemetryLive());
    }

    float fuel() { return fuelVar.readFloat(); }

    testsupport::VirtualClock clock;
    testsupport::ScopedClock useClock{clock};
    FakeSimulator sim;
    TelemetryClient client{sim.connection()};
    TelemetryVariable fuelVar{"FuelLevel", client};
};

// Each failed tick sleeps its time-out instead of spinning, and retries only the step that
// failed; a row alone (fetchNewData) tries to open too.
TEST_F(ClientTest, AFailedStepIsTriedAgainOnTheNextTickWithoutReopeningTheOthers) {
    struct Case {
        bool FakeSimulator::*step;
        int mappings, views, events;  // after two failed ticks and one that works
    };
    const Case cases[] = {
        {&FakeSimulator::failOpenMapping, 3, 1, 1},
        {&FakeSimulator::failMapView, 1, 3, 1},
        {&FakeSimulator::failOpenEvent, 1, 1, 3},
    };
    goLive();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mappings * 100 + c.views * 10 + c.events);
        // Closing releases everything; the next tick opens again.
        const int closes = sim.closeCalls;
        client.closeTelemetry();
        EXPECT_EQ(sim.closeCalls, closes + 1);
        EXPECT_FALSE(client.connection()->hasMapping());
        sim.openMappingCalls = sim.mapViewCalls = sim.openEventCalls = 0;
        sim.*c.step = true;
        const size_t sleeps = clock.sleeps().size();
        EXPECT_FALSE(client.waitForTelemetry(16));
        EXPECT_EQ(clock.sleeps().size(), sleeps + 1);
        EXPECT_EQ(clock.sleeps().back(), 16);
        EXPECT_FALSE(client.fetchNewData(nullptr, 0));
        EXPECT_EQ(client.dataCopy(), nullptr);
        EXPECT_FALSE(client.isTelemetryLive());
        sim.*c.step = false;
        EXPECT_TRUE(sim.deliver(client));
        EXPECT_EQ(sim.openMappingCalls, c.mappings);
        EXPECT_EQ(sim.mapViewCalls, c.views);
        EXPECT_EQ(sim.openEventCalls, c.events);
    }
}

TEST(ClientRows, FirstRowAllocatesAndRowsAreProcessedFromTheThirdWithAnyBufferCount) {
    for (int buffers : {1, 3, 4}) {
        SCOPED_TRACE(buffers);
        testsupport::VirtualClock clock;
        testsupport::ScopedClock use(clock);
        simblock::BlockOptions options = testsupport::defaultFakeBlockOptions();
        options.numBuffers = buffers;
        FakeSimulator sim(testsupport::catalogueVarSpecs(), options);
        sim.setConnected(true);
        TelemetryClient client(sim.connection());
        TelemetryVariable lap("Lap", client);
        // The first tick only learns the simulator's tick count.
        sim.setInt("Lap", 1);
        sim.publish();
        EXPECT_FALSE(client.waitForTelemetry(16));
        EXPECT_EQ(client.dataCopy(), nullptr);
        EXPECT_EQ(sim.lastWaitTimeoutMs, 16);
        // The next new row allocates the copy and raises the generation, but is not processed.
        sim.publish();
        EXPECT_FALSE(client.waitForTelemetry(16));
        ASSERT_NE(client.dataCopy(), nullptr);
        EXPECT_EQ(client.generation(), 1);
        EXPECT_EQ(client.dataLength(), sim.header()->bufferLength);
        for (int i = 3; i <= 5; ++i) {
            sim.setInt("Lap", i);
            sim.publish();
            EXPECT_TRUE(client.waitForTelemetry(16));
            EXPECT_EQ(lap.readInt(), i);
        }
        EXPECT_EQ(client.generation(), 1);
        // Nothing new: the copy stays.
        EXPECT_FALSE(client.waitForTelemetry(16));
        EXPECT_TRUE(client.isTelemetryLive());
    }
}

struct NewestCase {
    int32_t ticks[3];
    int expectedBuffer;
};

TEST_F(ClientTest, NewestBufferIsCopiedAndTiesKeepTheLowerIndex) {
    const NewestCase cases[] = {
        {{101, 102, 103}, 2}, {{103, 101, 102}, 0}, {{101, 103, 102}, 1},
        {{103, 103, 101}, 0}, {{101, 103, 103}, 1}, {{103, 103, 103}, 0},
    };
    goLive();
    int32_t base = 1000;
    for (const NewestCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.ticks[0] << "," << c.ticks[1] << "," << c.ticks[2]);
        for (int b = 0; b < 3; ++b) {
            // The fuel level written straight into each buffer's row, bypassing the writer.
            const float fuel = 100.0f + static_cast<float>(b);
            std::memcpy(sim.region() + sim.header()->buffers[b].bufferOffset +
                            sim.varHeader("FuelLevel")->offset,
                        &fuel, sizeof fuel);
            sim.header()->buffers[b].tickCount = base + c.ticks[b];
        }
        base += 1000;
        EXPECT_TRUE(client.waitForTelemetry(16));
        EXPECT_FLOAT_EQ(fuel(), 100.0f + static_cast<float>(c.expectedBuffer));
    }
}

// A row the simulator rewrites under the copy is copied once more, before and after the
// event wait; torn on all four copies, the tick takes nothing and keeps the last intact row,
// and the row that settled is new on the next tick.
TEST_F(ClientTest, ATornRowIsCopiedAgainAndOtherwiseLeftForTheNextTick) {
    for (int tears : {1, 2, 3, 4}) {
        SCOPED_TRACE(tears);
        goLive(10.0f);
        sim.set("FuelLevel", 20.0f);
        sim.publish();
        sim.tearNextCopies(tears);
        const bool taken = tears < 4;
        EXPECT_EQ(client.waitForTelemetry(16), taken);
        EXPECT_TRUE(client.isTelemetryLive());
        EXPECT_FLOAT_EQ(fuel(), taken ? 20.0f : 10.0f);
        if (!taken) {
            EXPECT_TRUE(client.waitForTelemetry(16));
            EXPECT_FLOAT_EQ(fuel(), 20.0f);
        }
    }
    // The publisher starts rewriting the buffer during the first copy (its tick drops to an
    // older one, here the very tick taken last) and is still at it during the second: neither
    // copy is a row.
    sim.set("FuelLevel", 30.0f);
    const int32_t tick = sim.publish();
    int buffer = 0;
    while (sim.header()->buffers[buffer].tickCount != tick) {
        ++buffer;
    }
    sim.onRowCopied = [&] { sim.header()->buffers[buffer].tickCount = tick - 1; };
    std::vector<uint8_t> row(static_cast<size_t>(client.dataLength()));
    EXPECT_FALSE(client.fetchNewData(row.data(), row.size()));
    sim.onRowCopied = nullptr;
    sim.header()->buffers[buffer].tickCount = tick + 1;
    EXPECT_TRUE(client.waitForTelemetry(16));
    EXPECT_FLOAT_EQ(fuel(), 30.0f);
}

TEST_F(ClientTest, RowSizeChangeReallocatesAndVariablesResolveAgain) {
    goLive(10.0f);
    TelemetryVariable lap("Lap", client);
    EXPECT_EQ(lap.readInt(), 0);
    EXPECT_FLOAT_EQ(fuel(), 10.0f);
    int oldIndex = fuelVar.index();
    ASSERT_GE(oldIndex, 0);
    int oldLength = client.dataLength();

    for (int extra : {64, 0}) {  // grows, then shrinks back
        SCOPED_TRACE(extra);
        std::vector<simblock::VarSpec> vars = testsupport::catalogueVarSpecs();
        if (extra > 0) {
            vars.insert(vars.begin(), {"CarIdxRPM", telemetry::kDouble, extra, "", "revs/min"});
        }
        ASSERT_TRUE(sim.changeLayout(vars));
        sim.set("FuelLevel", 30.0f + static_cast<float>(extra));
        sim.setInt("Lap", 4);
        int generation = client.generation();
        sim.publish();
        EXPECT_FALSE(client.waitForTelemetry(16));
        EXPECT_EQ(client.generation(), generation + 1);
        EXPECT_EQ(client.dataLength(), sim.header()->bufferLength);
        sim.publish();
        EXPECT_TRUE(client.waitForTelemetry(16));
        EXPECT_FLOAT_EQ(fuel(), 30.0f + static_cast<float>(extra));
        EXPECT_EQ(lap.readInt(), 4);
        if (extra > 0) {
            EXPECT_GT(client.dataLength(), oldLength);
            EXPECT_EQ(fuelVar.index(), oldIndex + 1);
        } else {
            EXPECT_EQ(client.dataLength(), oldLength);
            EXPECT_EQ(fuelVar.index(), oldIndex);
        }
    }
}

// Without rows the simulator counts as gone after 30 s. The calendar clock may jump (time sync,
// a laptop waking up); only time that really passed decides.
TEST_F(ClientTest, LiveUnder30SecondsWithoutRowsNotLiveAt30WhateverTheCalendarDoes) {
    struct Step {
        const char* name;
        int64_t calendarStep;  // seconds, while no row arrives
        int64_t msPassing;
        bool live;
    };
    const Step steps[] = {
        {"29.999 s", 0, 29999, true},
        {"30 s", 0, 30000, false},
        {"forward an hour", 3600, 29000, true},
        {"back a day, frozen 30 s", -86400, 30000, false},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        goLive(10.0f);
        const int generation = client.generation();
        clock.setCalendarTime(clock.calendarSeconds() + s.calendarStep);
        clock.advanceMs(s.msPassing);
        EXPECT_EQ(client.isTelemetryLive(), s.live);
        EXPECT_FLOAT_EQ(fuel(), s.live ? 10.0f : 0.0f);
        EXPECT_FALSE(client.waitForTelemetry(16));  // nothing new; the copy goes with liveness
        EXPECT_EQ(client.dataCopy() != nullptr, s.live);
        EXPECT_EQ(client.generation(), generation);
    }
    // The next row starts over: allocation, a new generation, then data.
    const int generation = client.generation();
    sim.set("FuelLevel", 14.0f);
    ASSERT_TRUE(sim.deliver(client));
    EXPECT_EQ(client.generation(), generation + 1);
    EXPECT_FLOAT_EQ(fuel(), 14.0f);
}

// Ticks counting anew below the last one taken are not new until they pass it; the status bit
// cleared forgets the last tick.
TEST_F(ClientTest, TicksGoingBackwardsAreOldButTheStatusBitClearedResetsTheLastTick) {
    goLive(10.0f);
    sim.restartTicks(0);
    sim.set("FuelLevel", 11.0f);
    sim.publish();  // tick 1, below the last tick taken
    EXPECT_FALSE(client.waitForTelemetry(16));
    EXPECT_FLOAT_EQ(fuel(), 10.0f);
    sim.set("FuelLevel", 12.0f);
    sim.publish();  // tick 2
    EXPECT_TRUE(client.waitForTelemetry(16));
    EXPECT_FLOAT_EQ(fuel(), 12.0f);

    sim.setConnected(false);
    sim.publish();
    EXPECT_FALSE(client.isTelemetryLive());
    EXPECT_FALSE(client.waitForTelemetry(16));
    EXPECT_EQ(client.dataCopy(), nullptr);
    EXPECT_FLOAT_EQ(fuel(), 0.0f);
    EXPECT_EQ(telemetry::querySessionValue(client, "WeekendInfo:TrackID:"), 0);

    // Back again: with the last tick forgotten, the first row only sets it.
    sim.setConnected(true);
    sim.set("FuelLevel", 15.0f);
    std::vector<bool> results;
    for (int i = 0; i < 3; ++i) {
        sim.publish();
        results.push_back(client.waitForTelemetry(16));
    }
    EXPECT_EQ(results, (std::vector<bool>{false, false, true}));
    EXPECT_FLOAT_EQ(fuel(), 15.0f);
}

// Headers a broken or hostile publisher might leave: none may lead the reader outside the
// mapping (the sanitizer build turns any such read into a failure), and each makes the block
// count as not live.
TEST_F(ClientTest, HeadersThatDoNotFitTheMappingAreRejected) {
    auto size = [](FakeSimulator& s) { return static_cast<int32_t>(s.regionSize()); };
    const std::pair<const char*, std::function<void(FakeSimulator&)>> cases[] = {
        {"huge numVars", [](FakeSimulator& s) { s.header()->numVars = INT_MAX; }},
        {"negative numVars", [](FakeSimulator& s) { s.header()->numVars = -1; }},
        {"one variable too many",
         [&](FakeSimulator& s) {
             telemetry::BlockHeader* h = s.header();
             h->numVars = (size(s) - h->varHeaderOffset) / 144 + 1;
         }},
        {"var table past the end",
         [&](FakeSimulator& s) { s.header()->varHeaderOffset = size(s); }},
        {"negative var table", [](FakeSimulator& s) { s.header()->varHeaderOffset = -144; }},
        {"misaligned var table", [](FakeSimulator& s) { s.header()->varHeaderOffset += 2; }},
        {"no buffers", [](FakeSimulator& s) { s.header()->numBuffers = 0; }},
        {"five buffers", [](FakeSimulator& s) { s.header()->numBuffers = 5; }},
        {"zero row length", [](FakeSimulator& s) { s.header()->bufferLength = 0; }},
        {"row longer than the mapping",
         [&](FakeSimulator& s) { s.header()->bufferLength = size(s) + 1; }},
        {"row running past the end",
         [&](FakeSimulator& s) { s.header()->buffers[1].bufferOffset = size(s) - 8; }},
        {"negative row offset", [](FakeSimulator& s) { s.header()->buffers[0].bufferOffset = -1; }},
        {"row offset near INT_MAX",
         [](FakeSimulator& s) { s.header()->buffers[2].bufferOffset = INT_MAX; }},
        {"session text past the end",
         [&](FakeSimulator& s) { s.header()->sessionInfoOffset = size(s); }},
        {"negative session text", [](FakeSimulator& s) { s.header()->sessionInfoOffset = -5; }},
        {"mapping smaller than the header", [](FakeSimulator& s) { s.reportedViewSize = 40; }},
        {"mapping ends inside the buffer table", [](FakeSimulator& s) { s.reportedViewSize = 60; }},
        {"mapping ends inside the var table",
         [](FakeSimulator& s) {
             s.reportedViewSize = static_cast<size_t>(s.header()->varHeaderOffset + 100);
         }},
        {"mapping ends inside the last row",
         [](FakeSimulator& s) { s.reportedViewSize = s.regionSize() - 1; }},
        // The view keeps its length; the file behind it lost its last byte, which only a copy
        // finds out.
        {"block shrank under the mapping",
         [](FakeSimulator& s) {
             s.reportedMappedSize = s.regionSize();
             s.reportedViewSize = s.regionSize() - 1;
         }},
    };
    for (const auto& [name, poke] : cases) {
        SCOPED_TRACE(name);
        FakeSimulator hostile;
        hostile.setSessionText(testsupport::sampleSessionText());
        hostile.setConnected(true);
        TelemetryClient reader(hostile.connection());
        TelemetryVariable fuelLevel("FuelLevel", reader);
        hostile.set("FuelLevel", 10.0f);
        ASSERT_TRUE(hostile.deliver(reader));
        ASSERT_FLOAT_EQ(fuelLevel.readFloat(), 10.0f);

        poke(hostile);
        hostile.set("FuelLevel", 20.0f);
        hostile.publish();
        EXPECT_FALSE(reader.waitForTelemetry(16));
        EXPECT_EQ(reader.dataCopy(), nullptr);
        EXPECT_FALSE(reader.isTelemetryLive());
        EXPECT_EQ(reader.numVars(), 0);
        EXPECT_EQ(reader.varHeader(0), nullptr);
        EXPECT_EQ(reader.sessionText(), nullptr);
        EXPECT_EQ(reader.sessionTextLimit(), 0u);
        EXPECT_EQ(reader.sessionInfoUpdate(), 0);

        // A reader that meets the block in this state never takes a row from it.
        TelemetryClient fresh(hostile.connection());
        EXPECT_FALSE(hostile.deliver(fresh, 4));
        EXPECT_FALSE(fresh.isTelemetryLive());
    }
}

TEST_F(ClientTest, SessionTextWithoutNulAtTheEndOfTheMappingIsNotOverrun) {
    goLive();
    // The text now starts 12 bytes before the end of the mapping and has no NUL.
    size_t size = sim.regionSize();
    std::memset(sim.region() + size - 12, 'A', 12);
    sim.header()->sessionInfoOffset = static_cast<int32_t>(size - 12);
    EXPECT_TRUE(client.isTelemetryLive());
    EXPECT_EQ(client.sessionTextLimit(), 12u);
    EXPECT_EQ(telemetry::querySessionValue(client, "AAAAAAAAAAAA:"), 0);
}

// A publisher on the platform's real named mapping and event, as the simulator (or the
// simulator feed) publishes its block; the reader attaches to it by name.
struct Publisher {
    Publisher(const std::string& mapping, const std::string& event) {
        const simblock::BlockOptions options = testsupport::defaultFakeBlockOptions();
        const auto vars = testsupport::catalogueVarSpecs();
        memory =
            platform::createSharedMemory(mapping, simblock::computeLayout(vars, options).totalSize);
        signaller = platform::createNamedEvent(event);
        if (memory && signaller) {
            writer = std::make_unique<simblock::BlockWriter>(memory->data(), memory->size(), vars,
                                                             options);
            writer->setConnected(true);
        }
    }
    // Up to five rows until the reader has one to process.
    bool deliver(telemetry::TelemetryClient& client) {
        for (int i = 0; i < 5; ++i) {
            writer->publish();
            signaller->signal();
            if (client.waitForTelemetry(16)) {
                return true;
            }
        }
        return false;
    }

    std::unique_ptr<platform::SharedMemory> memory;
    std::unique_ptr<platform::NamedEventSignaller> signaller;
    std::unique_ptr<simblock::BlockWriter> writer;
};

TEST(TelemetrySystem, ReaderAttachesByNameReadsRowsAndFollowsARestartedPublisher) {
    const std::string suffix = std::to_string(std::random_device{}());
    const std::string mapping = "Local\\KorvaneTelemetryTest" + suffix;
    const std::string event = "Local\\KorvaneTelemetryTestEvent" + suffix;

    telemetry::TelemetryClient client(telemetry::makeSystemConnection(mapping, event));
    EXPECT_FALSE(client.openTelemetry()) << "nothing published under the name yet";

    auto pub = std::make_unique<Publisher>(mapping, event);
    ASSERT_NE(pub->writer, nullptr);
    ASSERT_TRUE(pub->writer->setSessionText(testsupport::sampleSessionText()));
    pub->writer->setDouble("FuelLevel", 37.25);
    pub->writer->setInt("Lap", 12);
    ASSERT_TRUE(client.openTelemetry()) << "the block and its event are there at once";
    ASSERT_TRUE(pub->deliver(client));
    EXPECT_GE(client.connection()->viewSize(), pub->writer->layout().totalSize);
    telemetry::TelemetryVariable fuel("FuelLevel", client), lap("Lap", client);
    EXPECT_FLOAT_EQ(fuel.readFloat(), 37.25f);
    EXPECT_EQ(lap.readInt(), 12);
    EXPECT_EQ(client.sessionInfoUpdate(), 1);

    // The publisher goes away and a new one takes the name: the reader follows it.
    pub->writer->setConnected(false);
    EXPECT_FALSE(client.waitForTelemetry(16));
    EXPECT_FALSE(client.isTelemetryLive());
    EXPECT_FALSE(client.connection()->stale()) << "its block is still the name's";
    pub.reset();
    pub = std::make_unique<Publisher>(mapping, event);
    ASSERT_NE(pub->writer, nullptr);
    pub->writer->setInt("Lap", 13);
    ASSERT_TRUE(pub->deliver(client));
    EXPECT_EQ(lap.readInt(), 13);
    client.closeTelemetry();
}

struct ConversionCase {
    int32_t type;
    double stored;  // written in the variable's own type
    int32_t asInt;
    float asFloat;
    double asDouble;
    bool asBool;
};

// Equal, or both not a number.
bool same(double a, double b) {
    return std::isnan(a) ? std::isnan(b) : a == b;
}

TEST(VariableConversions, EveryTypeCodeConvertsToEveryRead) {
    using namespace telemetry;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const ConversionCase cases[] = {
        {kChar, -3, -3, -3.0f, -3.0, true},
        {kChar, 0, 0, 0.0f, 0.0, false},
        {kBool, 1, 1, 1.0f, 1.0, true},
        {kInt, -7, -7, -7.0f, -7.0, true},
        {kInt, 1, 1, 1.0f, 1.0, true},
        {kInt, 16777217, 16777217, 16777216.0f, 16777217.0, true},  // float rounds
        {kBitField, 48, 48, 48.0f, 48.0, true},
        {kFloat, 3.99, 3, 3.99f, static_cast<double>(3.99f), true},
        {kFloat, -3.99, -3, -3.99f, static_cast<double>(-3.99f), false},
        {kFloat, 0.5, 0, 0.5f, 0.5, false},
        {kFloat, 1.0, 1, 1.0f, 1.0, true},
        {kFloat, nan, 0, static_cast<float>(nan), nan, false},  // no number is no integer
        {kDouble, 12.9, 12, 12.9f, 12.9, true},
        {kDouble, 0.999, 0, 0.999f, 0.999, false},
        {kDouble, 1e10, INT_MAX, 1e10f, 1e10, true},  // saturates instead of overflowing
        {kDouble, -1e10, INT_MIN, -1e10f, -1e10, false},
        {kDouble, nan, 0, static_cast<float>(nan), nan, false},
    };
    testsupport::VirtualClock clock;
    testsupport::ScopedClock use(clock);
    for (const ConversionCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " value " << c.stored);
        // The row holds the value and nothing else: the shortest row of all is one byte.
        FakeSimulator sim({{"V", c.type}});
        sim.setConnected(true);
        sim.header()->bufferLength = telemetry::varTypeSize(c.type);
        TelemetryClient client(sim.connection());
        ASSERT_TRUE(sim.set("V", c.stored));
        ASSERT_TRUE(sim.deliver(client));
        TelemetryVariable v("V", client);
        EXPECT_EQ(v.readInt(), c.asInt);
        EXPECT_TRUE(same(v.readFloat(), c.asFloat)) << v.readFloat();
        EXPECT_TRUE(same(v.readDouble(), c.asDouble)) << v.readDouble();
        EXPECT_EQ(v.readBool(), c.asBool);
    }
}

TEST_F(ClientTest, UnreadableVariablesReadAsZero) {
    sim.setInt("Lap", 3);
    goLive(21.5f);
    struct Case {
        const char* name;
        const char* variable;
        std::function<void(telemetry::VarHeader&)> poke;
        int expectedIndex;  // -1: not found; 1: found
    };
    const int32_t rowLength = sim.header()->bufferLength;
    const Case cases[] = {
        {"unknown name", "NoSuchVariable", nullptr, -1},
        {"name differing in case", "fuellevel", nullptr, -1},
        {"count 0", "FuelLevel", [](telemetry::VarHeader& h) { h.count = 0; }, 1},
        {"type code 6", "FuelLevel", [](telemetry::VarHeader& h) { h.type = 6; }, 1},
        {"value past the row", "FuelLevel",
         [&](telemetry::VarHeader& h) { h.offset = rowLength - 2; }, 1},
        {"negative value offset", "FuelLevel", [](telemetry::VarHeader& h) { h.offset = -4; }, 1},
        {"double reaching past the row", "SessionTime",
         [&](telemetry::VarHeader& h) { h.offset = rowLength - 4; }, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        telemetry::VarHeader saved{};
        telemetry::VarHeader* h = sim.varHeader(c.variable);
        if (c.poke) {
            saved = *h;
            c.poke(*h);
        }
        // Slots are taken with each row.
        sim.publish();
        ASSERT_TRUE(client.waitForTelemetry(16));
        TelemetryVariable v(c.variable, client);
        EXPECT_TRUE(v.resolveIndex());
        EXPECT_EQ(v.index() >= 0 ? 1 : -1, c.expectedIndex);
        EXPECT_EQ(v.readInt(), 0);
        EXPECT_EQ(v.readFloat(), 0.0f);
        EXPECT_EQ(v.readDouble(), 0.0);
        EXPECT_FALSE(v.readBool());
        if (v.index() >= 0) {
            // Refused, not read as zero from whatever lies past the row.
            const auto* slot = client.varSlot(v.index());
            EXPECT_TRUE(slot == nullptr || slot->type < 0);
        }
        if (c.poke) {
            *h = saved;
        }
    }
    // The neighbours stay readable.
    TelemetryVariable lap("Lap", client);
    EXPECT_EQ(lap.readInt(), 3);
}

TEST_F(ClientTest, NamesOf32OrMoreCharactersAreCutTo31) {
    const std::string longName = "AVeryLongTelemetryVariableNameXYZ0123456789";  // 43
    const std::string cut = longName.substr(0, 31);
    TelemetryVariable v(longName.c_str(), client);
    EXPECT_EQ(std::string(v.name()), cut);

    // Published with exactly those 31 characters: found; with 32 filling the whole name field:
    // not the same name.
    for (int published : {31, 32}) {
        SCOPED_TRACE(published);
        FakeSimulator other({{cut, telemetry::kInt}});
        other.setConnected(true);
        other.setInt(cut, 7);
        std::memcpy(other.varHeader(cut)->name, longName.data(), static_cast<size_t>(published));
        TelemetryClient reader(other.connection());
        ASSERT_TRUE(other.deliver(reader));
        TelemetryVariable found(longName.c_str(), reader);
        EXPECT_EQ(found.readInt(), published == 31 ? 7 : 0);
        EXPECT_EQ(found.index(), published == 31 ? 0 : -1);
    }
}

// Not live, a variable reads zero and keeps its index for the next row.
TEST_F(ClientTest, SetNameResetsOnlyOnAChangeAndNotLiveKeepsTheIndex) {
    sim.setInt("Lap", 3);
    goLive(21.5f);
    TelemetryVariable v("FuelLevel", client);
    EXPECT_FLOAT_EQ(v.readFloat(), 21.5f);
    const int index = v.index();
    v.setName("FuelLevel");
    EXPECT_EQ(v.index(), index);
    v.setName("Lap");
    EXPECT_EQ(v.index(), -1);
    EXPECT_EQ(v.readInt(), 3);
    const int lapIndex = v.index();
    sim.setConnected(false);
    EXPECT_FALSE(v.resolveIndex());
    EXPECT_EQ(v.readInt(), 0);
    EXPECT_EQ(v.index(), lapIndex);
}

TEST(PitCommands, MessageParametersCarryKindCodeAndSignedValue) {
    struct Case {
        int32_t code;
        int64_t wparam;
    };
    const Case cases[] = {
        {2, 0x20009},
        {11, 0xB0009},
        {0x7FFF, 0x7FFF0009},
        // The high half set makes the 32-bit result negative; it is sign-extended.
        {0xFFFF, static_cast<int64_t>(static_cast<int32_t>(0xFFFF0009u))},
        // Only the code's low 16 bits are carried.
        {0x10002, 0x20009},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(telemetry::pitCommandWParam(c.code), c.wparam);
    }
    EXPECT_EQ(telemetry::pitCommandLParam(-5), -5);
    EXPECT_EQ(telemetry::pitCommandLParam(INT32_MIN), static_cast<int64_t>(INT32_MIN));
}

}  // namespace
