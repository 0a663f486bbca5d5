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

TEST(SharedMemory, WriterAndReadersShareOneBlock) {
    const std::string name = blockName();
    auto writer = platform::createSharedMemory(name, 256);
    ASSERT_NE(writer, nullptr) << platform::errorText(platform::lastErrorCode());
    EXPECT_GE(writer->size(), 256u);
    std::memcpy(writer->data(), "pit board line\r", 15);

    auto reader = platform::openSharedMemoryReadOnly(name);
    ASSERT_NE(reader, nullptr);
    EXPECT_GE(reader->size(), 256u);
    EXPECT_EQ(std::memcmp(reader->data(), "pit board line\r", 15), 0);

    auto other = platform::openSharedMemoryReadWrite(name);
    ASSERT_NE(other, nullptr);
    other->data()[200] = 0x5a;
    EXPECT_EQ(reader->data()[200], 0x5a);

    // A second create of the same name opens the existing block rather than a new one.
    auto again = platform::createSharedMemory(name, 256);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->data()[200], 0x5a);
}

TEST(SharedMemory, MissingBlockFailsWithTheSystemsReason) {
    const std::string name = blockName();
    EXPECT_EQ(platform::openSharedMemoryReadOnly(name), nullptr);
    EXPECT_EQ(platform::lastErrorCode(), 2);  // ERROR_FILE_NOT_FOUND / ENOENT
    EXPECT_EQ(platform::openSharedMemoryReadWrite(name), nullptr);
    EXPECT_EQ(platform::createSharedMemory(name, 0), nullptr);
    EXPECT_NE(platform::lastErrorCode(), 0);
}

TEST(SharedMemory, BlockEndsWithItsCreator) {
    const std::string name = blockName();
    auto writer = platform::createSharedMemory(name, 4096);
    ASSERT_NE(writer, nullptr);
    writer->data()[10] = 7;
    auto reader = platform::openSharedMemoryReadOnly(name);
    ASSERT_NE(reader, nullptr);
    EXPECT_FALSE(reader->stale());
    writer.reset();
    // The reader keeps its view; the data stays readable.
    EXPECT_EQ(reader->data()[10], 7);
    EXPECT_GE(reader->size(), 4096u);
#ifndef _WIN32
    // Without Windows the name goes with its creator, and a holder learns that it must reopen
    // to reach a restarted writer's block.
    EXPECT_TRUE(reader->stale());
    EXPECT_EQ(platform::openSharedMemoryReadOnly(name), nullptr);
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
