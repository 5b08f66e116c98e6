#include "process/helper_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace pemlo {
namespace {

struct Counter {
    int runs = 0;
    std::vector<int> seen;
    int value = 0;
};

void count(HelperThread& /*helper*/, void* context) {
    auto& c = *static_cast<Counter*>(context);
    ++c.runs;
    c.seen.push_back(c.value);
}

TEST(HelperThread, RunsEachPostedTaskOnceAndItsWritesAreSeenAfterWait) {
    HelperThread helper;
    ASSERT_EQ(helper.start(), 1);
    EXPECT_EQ(helper.start(), 1);  // already running: nothing new
    Counter c;
    for (int i = 0; i < 200; ++i) {
        c.value = i;
        helper.post(&count, &c);
        helper.wait();
        ASSERT_EQ(c.runs, i + 1);
        ASSERT_EQ(c.seen.back(), i);
    }
    helper.wait();  // nothing posted: returns at once
    helper.waitMark();
    EXPECT_EQ(c.runs, 200);
}

// Marks, then holds on until the poster lets it go (for at most a few seconds, so that a
// poster stuck in waitMark fails the test instead of hanging it).
struct Gate {
    std::atomic<bool> open{false};
    std::atomic<bool> timedOut{false};
    std::atomic<bool> ended{false};
};

void markThenHold(HelperThread& helper, void* context) {
    auto& gate = *static_cast<Gate*>(context);
    helper.mark();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!gate.open.load()) {
        if (std::chrono::steady_clock::now() > limit) {
            gate.timedOut = true;
            break;
        }
        std::this_thread::yield();
    }
    gate.ended = true;
}

TEST(HelperThread, WaitMarkReturnsAtTheMarkBeforeTheTaskEnds) {
    HelperThread helper;
    ASSERT_EQ(helper.start(), 1);
    Gate gate;
    helper.post(&markThenHold, &gate);
    helper.waitMark();
    EXPECT_FALSE(gate.ended.load());
    gate.open = true;
    helper.wait();
    EXPECT_TRUE(gate.ended.load());
    EXPECT_FALSE(gate.timedOut.load());
}

TEST(HelperThread, WithdrawLeavesATaskWhollyRunOrNotRunAndTheThreadFree) {
    HelperThread helper;
    ASSERT_EQ(helper.start(), 1);
    Counter withdrawn;
    Counter waited;
    for (int i = 0; i < 300; ++i) {
        helper.post(&count, &withdrawn);
        helper.withdraw();
        const int before = withdrawn.runs;
        helper.post(&count, &waited);
        helper.wait();
        ASSERT_EQ(waited.runs, i + 1);
        ASSERT_EQ(withdrawn.runs, before) << "a withdrawn task ran after withdraw returned";
    }
    EXPECT_LE(withdrawn.runs, 300);
    // A task that has begun is waited for, not cut short.
    Gate gate;
    helper.post(&markThenHold, &gate);
    helper.waitMark();
    std::thread opener([&gate] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        gate.open = true;
    });
    helper.withdraw();
    EXPECT_TRUE(gate.ended.load());
    EXPECT_FALSE(gate.timedOut.load());
    opener.join();
}

TEST(HelperThread, EndsWithATaskStillPostedOrNeverStarted) {
    Counter c;
    {
        HelperThread helper;
        ASSERT_EQ(helper.start(), 1);
        helper.post(&count, &c);
    }  // joined here: the task has run or was taken back, and nothing runs afterwards
    EXPECT_LE(c.runs, 1);
    HelperThread idle;  // never started
    EXPECT_FALSE(idle.started());
}

}  // namespace
}  // namespace pemlo
