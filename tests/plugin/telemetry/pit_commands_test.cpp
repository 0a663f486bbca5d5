#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "plugin/telemetry/pit_commands.h"
#include "tests/support/recording_pit_sink.h"

namespace {

using Commands = std::vector<std::pair<int32_t, int32_t>>;

TEST(PitCommands, GoToTheSinkInCallOrderWithTheirValues) {
    testsupport::RecordingPitSink sink;
    double litersToAdd = 12.9;
    float pressure = static_cast<float>(172.46);
    telemetry::sendPitCommand(telemetry::kPitFuel, static_cast<int32_t>(litersToAdd));
    telemetry::sendPitCommand(telemetry::kPitClearTires, 0);
    for (int32_t corner :
         {telemetry::kPitLF, telemetry::kPitRF, telemetry::kPitLR, telemetry::kPitRR}) {
        telemetry::sendPitCommand(corner, static_cast<int32_t>(pressure));
    }
    telemetry::sendPitCommand(telemetry::kPitClearFuel, 1);
    telemetry::sendPitCommand(telemetry::kPitFuel, -5);
    EXPECT_EQ(
        sink.commands,
        (Commands{{2, 12}, {7, 0}, {3, 172}, {4, 172}, {5, 172}, {6, 172}, {11, 1}, {2, -5}}));
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

TEST(PitCommands, RemovingTheTestSinkStopsRecording) {
    Commands seen;
    {
        testsupport::RecordingPitSink sink;
        telemetry::sendPitCommand(telemetry::kPitFuel, 3);
        seen = sink.commands;
    }
    testsupport::RecordingPitSink second;
    telemetry::sendPitCommand(telemetry::kPitFuel, 4);
    EXPECT_EQ(seen, (Commands{{2, 3}}));
    EXPECT_EQ(second.commands, (Commands{{2, 4}}));
}

}  // namespace
