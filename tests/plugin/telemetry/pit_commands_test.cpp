#include "plugin/telemetry/pit_commands.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

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
