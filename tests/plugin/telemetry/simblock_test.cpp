#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "plugin/telemetry/block_layout.h"
#include "tests/support/fake_simulator.h"
#include "tools/simblock/sim_block.h"

namespace {

using simblock::BlockLayout;
using simblock::BlockOptions;
using simblock::BlockWriter;
using simblock::VarSpec;

TEST(SimBlockLayout, PartsAreAlignedAndDoNotOverlap) {
    for (int buffers = 1; buffers <= telemetry::kMaxBuffers; ++buffers) {
        SCOPED_TRACE(buffers);
        BlockOptions o;
        o.numBuffers = buffers;
        o.sessionCapacity = 1000;
        std::vector<VarSpec> vars = testsupport::catalogueVarSpecs();
        vars.push_back({"Gear", telemetry::kChar});
        vars.push_back({"Odd", telemetry::kDouble, 3});
        BlockLayout l = simblock::computeLayout(vars, o);
        ASSERT_TRUE(l.ok) << l.error;
        // [start, end) of every part, in order of the block.
        std::vector<std::pair<size_t, size_t>> parts = {
            {0, sizeof(telemetry::BlockHeader)},
            {l.varHeaderOffset, l.varHeaderOffset + vars.size() * sizeof(telemetry::VarHeader)},
            {l.sessionInfoOffset, l.sessionInfoOffset + static_cast<size_t>(l.sessionCapacity)},
        };
        for (int i = 0; i < buffers; ++i) {
            parts.push_back({l.bufferOffsets[i], l.bufferOffsets[i] + l.bufferLength});
        }
        for (size_t i = 1; i < parts.size(); ++i) {
            EXPECT_EQ(parts[i].first % 16, 0u);
            EXPECT_GE(parts[i].first, parts[i - 1].second);
        }
        EXPECT_EQ(l.totalSize, parts.back().second);
        EXPECT_GE(l.sessionCapacity, 1000);
        // Every value lies in the row, aligned to its size, without overlapping the next.
        std::vector<std::pair<size_t, size_t>> values;
        for (size_t i = 0; i < vars.size(); ++i) {
            size_t size = static_cast<size_t>(telemetry::varTypeSize(vars[i].type));
            EXPECT_EQ(l.valueOffsets[i] % size, 0u) << vars[i].name;
            values.push_back({l.valueOffsets[i], l.valueOffsets[i] + size * vars[i].count});
        }
        std::sort(values.begin(), values.end());
        for (size_t i = 1; i < values.size(); ++i) {
            EXPECT_GE(values[i].first, values[i - 1].second);
        }
        EXPECT_LE(values.back().second, static_cast<size_t>(l.bufferLength));
    }
}

TEST(SimBlockLayout, UnusableInputIsRefusedWithAReason) {
    struct Case {
        const char* name;
        std::vector<VarSpec> vars;
        int buffers;
    };
    const Case cases[] = {
        {"no buffers", {{"A"}}, 0},
        {"five buffers", {{"A"}}, 5},
        {"unknown type", {{"A", 6}}, 3},
        {"nameless", {{"", telemetry::kInt}}, 3},
        {"negative count", {{"A", telemetry::kInt, -1}}, 3},
        {"row over 2 GiB",
         {{"A", telemetry::kDouble, 200000000}, {"B", telemetry::kDouble, 200000000}},
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BlockOptions o;
        o.numBuffers = c.buffers;
        BlockLayout l = simblock::computeLayout(c.vars, o);
        EXPECT_FALSE(l.ok);
        EXPECT_FALSE(l.error.empty());
    }
}

TEST(SimBlockWriter, RegionTooSmallIsLeftUntouched) {
    std::vector<uint8_t> region(256, 0xAB);
    BlockWriter w(region.data(), region.size(), {{"A", telemetry::kInt}});
    EXPECT_FALSE(w.ok());
    EXPECT_NE(w.error().find("needs"), std::string::npos);
    EXPECT_TRUE(std::all_of(region.begin(), region.end(), [](uint8_t b) { return b == 0xAB; }));
    EXPECT_EQ(w.publish(), 0);
    EXPECT_FALSE(w.setSessionText("x"));
}

TEST(SimBlockWriter, RowsRotateThroughTheBuffersOldestFirst) {
    BlockOptions o;
    o.sessionCapacity = 64;
    std::vector<VarSpec> vars = {{"Lap", telemetry::kInt}};
    BlockLayout l = simblock::computeLayout(vars, o);
    std::vector<uint8_t> region(l.totalSize);
    BlockWriter w(region.data(), region.size(), vars, o);
    ASSERT_TRUE(w.ok());
    auto* h = reinterpret_cast<telemetry::BlockHeader*>(region.data());
    EXPECT_EQ(h->status, 0);
    w.setConnected(true);
    EXPECT_EQ(h->status & telemetry::kStatusConnected, 1);

    auto lapIn = [&](int buffer) {
        int32_t v;
        std::memcpy(&v, region.data() + h->buffers[buffer].bufferOffset, 4);
        return v;
    };
    for (int lap = 1; lap <= 5; ++lap) {
        w.setInt("Lap", lap);
        EXPECT_EQ(w.publish(), lap);
    }
    // Ticks 4, 5, 3 in buffers 0, 1, 2: each row went where the oldest was.
    EXPECT_EQ(h->buffers[0].tickCount, 4);
    EXPECT_EQ(h->buffers[1].tickCount, 5);
    EXPECT_EQ(h->buffers[2].tickCount, 3);
    EXPECT_EQ(lapIn(0), 4);
    EXPECT_EQ(lapIn(1), 5);
    EXPECT_EQ(lapIn(2), 3);

    w.restartTicks(0);
    for (int b = 0; b < 3; ++b) {
        EXPECT_EQ(h->buffers[b].tickCount, 0);
    }
    EXPECT_EQ(w.publish(), 1);
    w.setConnected(false);
    EXPECT_EQ(h->status & telemetry::kStatusConnected, 0);
}

TEST(SimBlockWriter, SessionTextIsRepublishedWithItsCounter) {
    BlockOptions o;
    o.sessionCapacity = 32;
    std::vector<VarSpec> vars = {{"A"}};
    BlockLayout l = simblock::computeLayout(vars, o);
    std::vector<uint8_t> region(l.totalSize);
    BlockWriter w(region.data(), region.size(), vars, o);
    const char* text = reinterpret_cast<const char*>(region.data() + l.sessionInfoOffset);
    ASSERT_TRUE(w.setSessionText("A:\n B: a longer text\n"));
    EXPECT_EQ(w.sessionInfoUpdate(), 1);
    ASSERT_TRUE(w.setSessionText("A:\n B: 1\n"));
    EXPECT_EQ(w.sessionInfoUpdate(), 2);
    EXPECT_STREQ(text, "A:\n B: 1\n");
    // Nothing of the longer text is left behind the NUL.
    EXPECT_TRUE(std::all_of(text + 9, text + 32, [](char c) { return c == 0; }));
    EXPECT_FALSE(w.setSessionText(std::string(32, 'x')));  // no room for the NUL
    EXPECT_EQ(w.sessionInfoUpdate(), 2);
    EXPECT_STREQ(text, "A:\n B: 1\n");
}

TEST(SimBlockWriter, ValuesAreStoredInTheVariablesOwnType) {
    std::vector<VarSpec> vars = {{"C", telemetry::kChar},   {"B", telemetry::kBool},
                                 {"I", telemetry::kInt},    {"F", telemetry::kFloat},
                                 {"D", telemetry::kDouble}, {"Arr", telemetry::kInt, 4}};
    BlockLayout l = simblock::computeLayout(vars);
    std::vector<uint8_t> region(l.totalSize);
    BlockWriter w(region.data(), region.size(), vars);
    ASSERT_TRUE(w.ok());
    auto at = [&](int i) { return w.stagingRow().data() + l.valueOffsets[i]; };
    EXPECT_TRUE(w.setDouble("C", -300.0));  // saturates
    EXPECT_TRUE(w.setDouble("B", 0.25));
    EXPECT_TRUE(w.setDouble("I", 3.99));
    EXPECT_TRUE(w.setInt("F", 7));
    EXPECT_TRUE(w.setFloat("D", 1.5f));
    EXPECT_TRUE(w.setInt("Arr", 9, 3));
    EXPECT_FALSE(w.setInt("Arr", 9, 4));
    EXPECT_FALSE(w.setInt("Missing", 1));
    int8_t c;
    std::memcpy(&c, at(0), 1);
    EXPECT_EQ(c, -128);
    EXPECT_EQ(*at(1), 1);
    int32_t i;
    std::memcpy(&i, at(2), 4);
    EXPECT_EQ(i, 3);
    float f;
    std::memcpy(&f, at(3), 4);
    EXPECT_EQ(f, 7.0f);
    double d;
    std::memcpy(&d, at(4), 8);
    EXPECT_EQ(d, 1.5);
    std::memcpy(&i, at(5) + 12, 4);
    EXPECT_EQ(i, 9);
}

}  // namespace
