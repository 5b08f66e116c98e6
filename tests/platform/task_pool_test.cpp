#include "platform/task_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace pemlo {
namespace {

struct Counter {
    std::atomic<int> runs{0};
};

void count(void* context) {
    ++static_cast<Counter*>(context)->runs;
}

// Holds its helper until the test opens it (for a few seconds at most, so that a pool
// that waits for it fails the test instead of hanging it).
struct Gate {
    std::atomic<bool> entered{false};
    std::atomic<bool> open{false};
    std::atomic<bool> timedOut{false};
};

void hold(void* context) {
    auto& gate = *static_cast<Gate*>(context);
    gate.entered = true;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!gate.open.load()) {
        if (std::chrono::steady_clock::now() > limit) {
            gate.timedOut = true;
            return;
        }
        std::this_thread::yield();
    }
}

void waitUntilEntered(const Gate& gate) {
    while (!gate.entered.load()) {
        std::this_thread::yield();
    }
}

TEST(TaskPool, ThreadsForKeepsWithinOneAndTheCap) {
    EXPECT_GE(threadsFor(0), 1u);
    EXPECT_LE(threadsFor(0), kMaxThreads);
    EXPECT_EQ(threadsFor(3), 3u);
    EXPECT_EQ(threadsFor(1000), kMaxThreads);
}

// Every task of a group has run once when wait returns, and what it wrote is seen,
// whichever thread ran it; other groups are not waited for.
TEST(TaskPool, WaitReturnsWhenEveryTaskOfItsGroupHasRun) {
    for (unsigned helpers : {0u, 1u, 3u}) {
        SCOPED_TRACE(helpers);
        TaskPool pool;
        ASSERT_EQ(pool.start(helpers), helpers);
        Counter c;
        for (int round = 1; round <= 100; ++round) {
            TaskGroup group;
            for (int i = 0; i < 5; ++i) {
                pool.submit(group, &count, &c);
            }
            pool.wait(group);
            ASSERT_EQ(c.runs.load(), round * 5);
        }
        TaskGroup none;
        pool.wait(none);  // nothing submitted: returns at once
    }
}

// A group whose task no helper has begun is run by its waiter: a helper busy with
// another group's task does not hold the waiter up.
TEST(TaskPool, TheWaiterRunsItsOwnTasksThatNoHelperHasBegun) {
    TaskPool pool;
    ASSERT_EQ(pool.start(1), 1u);
    Gate gate;
    TaskGroup busy;
    pool.submit(busy, &hold, &gate);
    waitUntilEntered(gate);
    TaskGroup mine;
    Counter c;
    pool.submit(mine, &count, &c);
    pool.submit(mine, &count, &c);
    pool.wait(mine);
    EXPECT_EQ(c.runs.load(), 2);
    EXPECT_FALSE(gate.open.load());
    gate.open = true;
    pool.wait(busy);
    EXPECT_FALSE(gate.timedOut.load());
}

// runOnAll makes one call per thread (the caller's and each helper's) and returns after
// the last; a call still running on a helper is waited for.
TEST(TaskPool, RunOnAllCallsOncePerThreadAndWaitsForEach) {
    TaskPool pool;
    ASSERT_EQ(pool.start(2), 2u);
    Counter c;
    for (int round = 1; round <= 50; ++round) {
        pool.runOnAll(&count, &c);
        ASSERT_EQ(c.runs.load(), round * 3);
    }
    struct Slow {
        std::atomic<int> ended{0};
    } slow;
    pool.runOnAll(
        [](void* context) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            ++static_cast<Slow*>(context)->ended;
        },
        &slow);
    EXPECT_EQ(slow.ended.load(), 3);
}

// stop waits for the running task, drops those not begun (their group's wait returns at
// once) and leaves a pool that starts again.
TEST(TaskPool, StopFinishesWhatRunsAndDropsTheRest) {
    TaskPool pool;
    ASSERT_EQ(pool.start(1), 1u);
    Gate gate;
    TaskGroup group;
    Counter c;
    pool.submit(group, &hold, &gate);
    waitUntilEntered(gate);
    pool.submit(group, &count, &c);
    std::thread opener([&gate] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        gate.open = true;
    });
    pool.stop();
    opener.join();
    EXPECT_FALSE(gate.timedOut.load());
    EXPECT_EQ(c.runs.load(), 0);
    EXPECT_EQ(pool.helperCount(), 0u);
    pool.wait(group);
    ASSERT_EQ(pool.start(1), 1u);
    pool.submit(group, &count, &c);
    pool.wait(group);
    EXPECT_EQ(c.runs.load(), 1);
}

}  // namespace
}  // namespace pemlo
