#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "os_helpers.h"
#include "platform/named_event.h"

namespace {

// These tests wait on a real kernel object, so they run on real time, kept to a few
// milliseconds.
using Steady = std::chrono::steady_clock;

std::string eventName() {
    return "Local\\" + platform_test::uniqueName("KorvaneTestEvent");
}

TEST(NamedEvent, OneSignalWakesEveryWaitingReader) {
    const std::string name = eventName();
    auto signaller = platform::createNamedEvent(name);
    ASSERT_NE(signaller, nullptr);
    constexpr int kReaders = 4;
    std::vector<std::unique_ptr<platform::NamedEventWaiter>> waiters;
    for (int i = 0; i < kReaders; ++i) {
        waiters.push_back(platform::openNamedEvent(name));
        ASSERT_NE(waiters.back(), nullptr);
    }
    std::atomic<int> ready{0};
    std::atomic<int> woke{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kReaders; ++i) {
        threads.emplace_back([&, i] {
            ++ready;
            if (waiters[static_cast<size_t>(i)]->wait(5000)) {
                ++woke;
            }
        });
    }
    while (ready < kReaders) {
        std::this_thread::yield();
    }
    // Let every reader get into its wait; a single signal must then release all of them.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    signaller->signal();
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(woke, kReaders);
}

// No writer, no event; a signal nobody waited for is gone: the next wait sees only a later one.
TEST(NamedEvent, WaitEndsAtItsTimeOutAndSignalsDoNotPileUp) {
    const std::string name = eventName();
    EXPECT_EQ(platform::openNamedEvent(name), nullptr);
    auto signaller = platform::createNamedEvent(name);
    auto waiter = platform::openNamedEvent(name);
    ASSERT_NE(waiter, nullptr);
    signaller->signal();
    const auto start = Steady::now();
    EXPECT_FALSE(waiter->wait(30));
    const auto elapsed = Steady::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(25));
    EXPECT_LT(elapsed, std::chrono::milliseconds(2000));
    EXPECT_FALSE(waiter->wait(0));
}

TEST(NamedEvent, ReaderFollowsARestartedWriter) {
    const std::string name = eventName();
    auto first = platform::createNamedEvent(name);
    auto waiter = platform::openNamedEvent(name);
    ASSERT_NE(waiter, nullptr);
    first.reset();
    auto second = platform::createNamedEvent(name);
    ASSERT_NE(second, nullptr);
    std::atomic<bool> done{false};
    std::thread t([&] {
        while (!done) {
            second->signal();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    bool woke = false;
    for (int i = 0; i < 50 && !woke; ++i) {
        woke = waiter->wait(100);
    }
    done = true;
    t.join();
    EXPECT_TRUE(woke);
}

}  // namespace
