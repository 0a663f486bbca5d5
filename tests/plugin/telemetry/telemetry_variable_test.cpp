#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "plugin/telemetry/telemetry_client.h"
#include "plugin/telemetry/telemetry_variable.h"
#include "tests/support/fake_simulator.h"
#include "tests/support/virtual_clock.h"

namespace {

using telemetry::TelemetryClient;
using telemetry::TelemetryVariable;
using testsupport::FakeSimulator;

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
        FakeSimulator sim({{"V", c.type}, {"W", telemetry::kDouble}});
        sim.setConnected(true);
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

class VariableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim.setConnected(true);
        sim.set("FuelLevel", 21.5);
        sim.setInt("Lap", 3);
        ASSERT_TRUE(sim.deliver(client));
    }

    testsupport::VirtualClock clock;
    testsupport::ScopedClock useClock{clock};
    FakeSimulator sim;
    TelemetryClient client{sim.connection()};
};

TEST_F(VariableTest, UnreadableVariablesReadAsZero) {
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
        {"negative count", "FuelLevel", [](telemetry::VarHeader& h) { h.count = -2; }, 1},
        {"type code 6", "FuelLevel", [](telemetry::VarHeader& h) { h.type = 6; }, 1},
        {"type code -1", "FuelLevel", [](telemetry::VarHeader& h) { h.type = -1; }, 1},
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

TEST_F(VariableTest, NotLiveReadsZeroAndKeepsTheIndex) {
    TelemetryVariable fuel("FuelLevel", client);
    EXPECT_FLOAT_EQ(fuel.readFloat(), 21.5f);
    int index = fuel.index();
    sim.setConnected(false);
    EXPECT_FALSE(fuel.resolveIndex());
    EXPECT_EQ(fuel.readFloat(), 0.0f);
    EXPECT_EQ(fuel.index(), index);
}

TEST_F(VariableTest, NamesOf32OrMoreCharactersAreCutTo31) {
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

TEST_F(VariableTest, SetNameResetsOnlyOnAChange) {
    TelemetryVariable v("FuelLevel", client);
    EXPECT_FLOAT_EQ(v.readFloat(), 21.5f);
    int index = v.index();
    v.setName("FuelLevel");
    EXPECT_EQ(v.index(), index);
    v.setName("Lap");
    EXPECT_EQ(v.index(), -1);
    EXPECT_EQ(v.readInt(), 3);
    EXPECT_NE(v.index(), index);
}

}  // namespace
