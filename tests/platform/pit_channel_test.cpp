#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "os_helpers.h"
#include "platform/pit_channel.h"

namespace {

class PitChannel : public ::testing::Test {
  protected:
    // A channel of its own, so no simulator feed or other test on the machine sees these.
    void SetUp() override {
        platform::setBroadcastChannelName(platform_test::uniqueName("KORVANE_TEST_BROADCAST"));
    }
    void TearDown() override { platform::setBroadcastChannelName(""); }
};

TEST_F(PitChannel, CommandsArriveInOrderWithTheirValues) {
    auto receiver = platform::createBroadcastReceiver();
    ASSERT_NE(receiver, nullptr);
    for (int32_t code = 2; code <= 11; ++code) {
        // Negative values must keep their sign.
        ASSERT_TRUE(platform::sendBroadcastMessage(9, code, code * 100 - 500)) << code;
    }
    std::vector<platform::BroadcastMessage> got;
    // Delivery is asynchronous on Windows; give it a bounded real-time wait.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (got.size() < 10 && std::chrono::steady_clock::now() < deadline) {
        receiver->poll([&](const platform::BroadcastMessage& m) { got.push_back(m); });
        if (got.size() < 10) {
            std::this_thread::yield();
        }
    }
    ASSERT_EQ(got.size(), 10u);
    for (int32_t i = 0; i < 10; ++i) {
        const int32_t code = i + 2;
        EXPECT_EQ(got[static_cast<size_t>(i)].kind, 9);
        EXPECT_EQ(got[static_cast<size_t>(i)].code, code);
        EXPECT_EQ(got[static_cast<size_t>(i)].value, code * 100 - 500);
    }
    EXPECT_EQ(receiver->poll(nullptr), 0);
}

// Without a receiver, or with its queue full, a send drops the message instead of blocking.
TEST_F(PitChannel, SendingWithoutRoomDoesNotBlock) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) {
        const bool sent = platform::sendBroadcastMessage(9, 2, 12);
#ifndef _WIN32
        EXPECT_FALSE(sent);  // a broadcast on Windows always "succeeds"
#else
        (void)sent;
#endif
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
#ifndef _WIN32
    auto receiver = platform::createBroadcastReceiver();
    ASSERT_NE(receiver, nullptr);
    int sent = 0;
    for (int i = 0; i < 200; ++i) {
        sent += platform::sendBroadcastMessage(9, 2, i) ? 1 : 0;
    }
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, 200);
    EXPECT_EQ(receiver->poll(nullptr), sent);
#endif
}

}  // namespace
