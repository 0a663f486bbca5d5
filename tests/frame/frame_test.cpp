#include <gtest/gtest.h>

#include "plugin/telemetry/block_layout.h"

TEST(Frame, LayoutMatchesTheSimulatorsOffsets) {
    EXPECT_EQ(sizeof(telemetry::VarHeader), 144u);
    EXPECT_EQ(offsetof(telemetry::BlockHeader, buffers), 48u);
}
