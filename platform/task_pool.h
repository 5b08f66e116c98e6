// The program's helper threads. Every thread the program starts beside the interface
// thread and the output phase's own worker thread starts through startThread; threads
// that run short tasks belong to a TaskPool.
//
// A TaskPool keeps its helpers from start to stop and runs the tasks submitted to it in
// the order they came, each on whichever helper is free. Each task belongs to a
// TaskGroup of the caller; wait(group) returns once every task of that group has ended,
// and meanwhile runs on the calling thread the group's tasks that no helper has begun,
// so that a caller never waits for a helper that is busy elsewhere.
//
// submit and wait may be called from any thread, but a group is waited for by one
// thread at a time. A task must not wait for its own group.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace pemlo {

// The most threads a piece of work takes, its caller's included: enough for any desktop,
// and more than the block rows of a small window would leave idle.
inline constexpr unsigned kMaxThreads = 16;

// The threads to use when `wanted` are asked for (0: one per processor the system
// reports): from 1 to kMaxThreads.
unsigned threadsFor(unsigned wanted);

// Starts `body` on a new thread held by `thread` (which must hold none). Returns 1, or 0
// when the system gives no thread.
int startThread(std::thread& thread, std::function<void()> body);

class TaskGroup {
  public:
    TaskGroup() = default;
    TaskGroup(const TaskGroup&) = delete;
    TaskGroup& operator=(const TaskGroup&) = delete;

  private:
    friend class TaskPool;
    unsigned pending_ = 0;  // submitted and not yet ended; guarded by the pool's mutex
};

class TaskPool {
  public:
    using Task = void (*)(void* context);

    TaskPool() = default;
    TaskPool(const TaskPool&) = delete;
    TaskPool& operator=(const TaskPool&) = delete;
    // Stops the pool (see stop).
    ~TaskPool();

    // Starts up to `helpers` helper threads (at most kMaxThreads); those the system
    // refuses are left out. Returns the number of helpers running. Does nothing to a
    // pool that already has helpers.
    unsigned start(unsigned helpers);
    unsigned helperCount() const { return static_cast<unsigned>(helpers_.size()); }

    // Queues task(context) as a task of `group`. When memory for the queue runs out it
    // runs the task on the calling thread before returning.
    void submit(TaskGroup& group, Task task, void* context);
    // Returns once every task of `group` has ended; runs those no helper has begun.
    void wait(TaskGroup& group);
    // Calls task(context) helperCount() + 1 times, on the calling thread and on the
    // helpers as they come free, and returns when every call has returned.
    void runOnAll(Task task, void* context);

    // Drops the tasks no helper has begun (a group waited for later returns at once),
    // waits for those running and joins the helpers. The pool may be started again.
    void stop();

  private:
    struct Queued {
        Task task;
        void* context;
        TaskGroup* group;
    };
    void serve();
    void ended(TaskGroup& group);

    std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable ended_;
    std::deque<Queued> queue_;
    bool stopping_ = false;
    std::vector<std::thread> helpers_;
};

}  // namespace pemlo
