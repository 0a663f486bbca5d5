// ctrl-c reaches the program's action outside the signal handler, once per press.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

#include "platform/interrupt.h"

namespace {

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

TEST(Interrupt, EachCtrlCRunsTheActionOnceOutsideTheHandler) {
    platform::watchInterrupt(recordAction);
    std::unique_lock<std::mutex> lock(actionMutex);
    const int before = actionCalls;
#ifdef _WIN32
    // The runtime calls the handler inside raise() here; a real ctrl-c comes on its own thread.
    lock.unlock();
    std::raise(SIGINT);
    std::raise(SIGINT);
    lock.lock();
#else
    // The interrupted code holds the lock the action needs: an action run inside the handler
    // would deadlock here.
    std::raise(SIGINT);
    ASSERT_TRUE(waitForCalls(lock, before + 1));
    EXPECT_NE(actionThread, std::this_thread::get_id());
    std::raise(SIGINT);
#endif
    ASSERT_TRUE(waitForCalls(lock, before + 2));
    EXPECT_EQ(actionCalls, before + 2);

    // A request to terminate ends a run without a console as ctrl-c does.
#ifdef _WIN32
    const int endings[] = {SIGTERM, SIGBREAK};
#else
    const int endings[] = {SIGTERM, SIGHUP};
#endif
    int expected = before + 2;
    for (int sig : endings) {
        SCOPED_TRACE(sig);
        lock.unlock();
        std::raise(sig);
        lock.lock();
        ASSERT_TRUE(waitForCalls(lock, ++expected));
        EXPECT_EQ(actionCalls, expected);
    }

    platform::watchInterrupt(nullptr);
}

}  // namespace
