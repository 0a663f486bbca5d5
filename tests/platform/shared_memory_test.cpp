// The writer's and reader's sharing of a block is the plugin's tests' part (its own block and
// the simulator's); here the system's edges.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "os_helpers.h"
#include "platform/shared_memory.h"
#include "platform/system.h"

namespace {

std::string blockName() {
    return "Local\\" + platform_test::uniqueName("KorvaneTestBlock");
}

// Opening before the writer fails with the system's reason; a second create of the name opens
// the existing block; the reader keeps its view when the creator goes.
TEST(SharedMemory, ABlockIsOneForItsNameWhileItsCreatorLives) {
    const std::string name = blockName();
    EXPECT_EQ(platform::openSharedMemoryReadOnly(name), nullptr);
    EXPECT_EQ(platform::lastErrorCode(), 2);  // ERROR_FILE_NOT_FOUND / ENOENT
    EXPECT_EQ(platform::createSharedMemory(name, 0), nullptr);
    EXPECT_NE(platform::lastErrorCode(), 0);
    auto writer = platform::createSharedMemory(name, 4096);
    ASSERT_NE(writer, nullptr) << platform::errorText(platform::lastErrorCode());
    writer->data()[10] = 7;
    auto again = platform::createSharedMemory(name, 4096);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->data()[10], 7);
    auto reader = platform::openSharedMemoryReadOnly(name);
    ASSERT_NE(reader, nullptr);
    EXPECT_FALSE(reader->stale());
    writer.reset();
    again.reset();
    EXPECT_EQ(reader->data()[10], 7);
    EXPECT_GE(reader->size(), 4096u);
#ifndef _WIN32
    // Without Windows the name goes with its creator, and a holder learns that it must reopen
    // to reach a restarted writer's block.
    EXPECT_TRUE(reader->stale());
    auto restarted = platform::createSharedMemory(name, 4096);
    ASSERT_NE(restarted, nullptr);
    EXPECT_EQ(restarted->data()[10], 0);
#endif
}

TEST(SharedMemory, ACopyOutlivesTheObjectShrinkingUnderTheView) {
    constexpr size_t kPage = 4096;
    const std::string name = blockName();
    auto writer = platform::createSharedMemory(name, 3 * kPage);
    ASSERT_NE(writer, nullptr);
    writer->data()[2 * kPage + 5] = 9;
    auto reader = platform::openSharedMemoryReadOnly(name);
    ASSERT_NE(reader, nullptr);
    uint8_t row[16] = {};
    ASSERT_TRUE(reader->copyOut(2 * kPage, row, sizeof row));
    EXPECT_EQ(row[5], 9);
    if (!platform_test::truncateBlock(name, kPage)) {
        GTEST_SKIP() << "a Windows view keeps its pages while it is mapped";
    }
    // Twice: a copy that faulted must leave the next fault caught as well.
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(reader->copyOut(2 * kPage, row, sizeof row));
        EXPECT_FALSE(reader->copyOut(kPage - 8, row, sizeof row));
        EXPECT_TRUE(reader->copyOut(0, row, sizeof row));
    }
    EXPECT_EQ(reader->size(), kPage);
    EXPECT_EQ(reader->mappedSize(), 3 * kPage);
}

}  // namespace
