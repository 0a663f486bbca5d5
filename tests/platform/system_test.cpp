// The system services under the programs: the kernel objects they share with each other and
// the simulator, ctrl-c, the console, commands and the clock. Sharing a block, waiting on the
// simulator's event, following a restarted simulator and delivering pit commands are the
// plugin's tests' and the end-to-end runs' part; here the edges.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "os_helpers.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/interrupt.h"
#include "platform/pit_channel.h"
#include "platform/shared_memory.h"
#include "platform/system.h"

namespace {

TEST(SharedMemory, ACopyOutlivesTheObjectShrinkingUnderTheView) {
    constexpr size_t kPage = 4096;
    const std::string name = "Local\\" + platform_test::uniqueName("KorvaneTest");
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

// Without a receiver, or with its queue full, a send drops the message instead of blocking. On
// a channel of its own, so no simulator feed or other test on the machine sees these.
TEST(PitChannel, SendingWithoutRoomDoesNotBlock) {
    platform::setBroadcastChannelName(platform_test::uniqueName("KORVANE_TEST_BROADCAST"));
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) {
        [[maybe_unused]] const bool sent = platform::sendBroadcastMessage(9, 2, 12);
#ifndef _WIN32
        EXPECT_FALSE(sent);  // a broadcast on Windows always "succeeds"
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
    platform::setBroadcastChannelName("");
}

// ctrl-c reaches the program's action outside the signal handler, once per press.
std::mutex actionMutex;
std::condition_variable actionDone;
int actionCalls = 0;
std::thread::id actionThread;

void recordAction() {
    std::lock_guard<std::mutex> lock(actionMutex);
    ++actionCalls;
    actionThread = std::this_thread::get_id();
    actionDone.notify_all();
}

bool waitForCalls(std::unique_lock<std::mutex>& lock, int calls) {
    // A safety net only: the watcher answers at once.
    return actionDone.wait_for(lock, std::chrono::seconds(10),
                               [calls] { return actionCalls >= calls; });
}

// A request to terminate ends a run without a console as ctrl-c does.
TEST(Interrupt, EachCtrlCRunsTheActionOnceOutsideTheHandler) {
#ifdef _WIN32
    const int signals[] = {SIGINT, SIGINT, SIGTERM, SIGBREAK};
#else
    const int signals[] = {SIGINT, SIGINT, SIGTERM, SIGHUP};
#endif
    platform::watchInterrupt(recordAction);
    std::unique_lock<std::mutex> lock(actionMutex);
    int expected = actionCalls;
    for (int sig : signals) {
        SCOPED_TRACE(sig);
#ifdef _WIN32
        // The runtime calls the handler inside raise() here; a real ctrl-c comes on its own
        // thread.
        lock.unlock();
        std::raise(sig);
        lock.lock();
#else
        // The interrupted code holds the lock the action needs: an action run inside the
        // handler would deadlock here.
        std::raise(sig);
#endif
        ASSERT_TRUE(waitForCalls(lock, ++expected));
        EXPECT_EQ(actionCalls, expected);
#ifndef _WIN32
        EXPECT_NE(actionThread, std::this_thread::get_id());
#endif
    }
    platform::watchInterrupt(nullptr);
}

TEST(Console, OnlyBytesWaitingInAPipeCountAsKeysNeverTheEndOfInput) {
    {
        platform_test::RedirectedStdin pipe(platform_test::kPipe);
        ASSERT_TRUE(pipe.ok());
        EXPECT_FALSE(platform::keyWaiting());
        ASSERT_TRUE(pipe.write("q"));
        EXPECT_TRUE(platform::keyWaiting());
        EXPECT_TRUE(platform::keyWaiting());  // testing does not consume the key
        EXPECT_EQ(platform::readKeyNoEcho(), 'q');
        EXPECT_FALSE(platform::keyWaiting());
        pipe.closeWriter();
        EXPECT_FALSE(platform::keyWaiting());
        EXPECT_EQ(platform::readKeyNoEcho(), -1);
    }
    // A plugin started with its input redirected, or with none, runs until it is stopped.
    const std::string file =
        (std::filesystem::temp_directory_path() / platform_test::uniqueName("korvane_stdin"))
            .string();
    std::ofstream(file, std::ios::binary) << "q\n";
#ifdef _WIN32
    const std::string nullDevice = "NUL";
#else
    const std::string nullDevice = "/dev/null";
#endif
    for (const std::string& input : {nullDevice, file, std::string()}) {
        SCOPED_TRACE(input.empty() ? "no input" : input);
        platform_test::RedirectedStdin redirected(input);
        ASSERT_TRUE(redirected.ok());
        EXPECT_FALSE(platform::keyWaiting());
        EXPECT_FALSE(platform::keyWaiting());
    }
    std::remove(file.c_str());
}

TEST(System, ErrorTextCommandStatusAndExecutableDirectory) {
    for (int code : {2, 5, 122}) {
        const std::string text = platform::errorText(code);
        SCOPED_TRACE(code);
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
        EXPECT_NE(text.back(), ' ');
    }
    EXPECT_EQ(platform::runCommand("exit 0"), 0);
    EXPECT_EQ(platform::runCommand("exit 3"), 3);
#ifndef _WIN32
    EXPECT_EQ(platform::runCommand("kill -KILL $$"), 128 + 9);  // as a shell reports a signal
#endif
    const std::filesystem::path dir = platform::executableDirectory();
#ifdef _WIN32
    EXPECT_TRUE(std::filesystem::exists(dir / "platform_core_test.exe"));
#else
    EXPECT_TRUE(std::filesystem::exists(dir / "platform_core_test"));
#endif
    platform::raiseProcessPriority();  // best effort: must not fail the process
    platform::beginTimerPeriod();
    platform::endTimerPeriod();
}

TEST(Clock, SystemCalendarAndUtcAgree) {
    using namespace std::chrono;
    auto& c = platform::systemClock();
    const int64_t before = c.calendarSeconds();
    const platform::UtcTime t = c.utcNow();
    const int64_t after = c.calendarSeconds();
    const sys_days day = year(t.year) / t.month / t.day;
    const int64_t fromUtc =
        day.time_since_epoch().count() * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
    EXPECT_GE(fromUtc, before - 1);
    EXPECT_LE(fromUtc, after + 1);
    EXPECT_GE(t.millisecond, 0);
    EXPECT_LE(t.millisecond, 999);
    const int64_t s0 = c.steadyMs();
    c.sleepMs(5);
    EXPECT_GE(c.steadyMs() - s0, 4);
}

}  // namespace
