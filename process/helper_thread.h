// A second thread that the output phase keeps for the whole phase, so that no thread is
// created per frame. It runs one posted task at a time; the poster can wait for a mark
// the task sets part way through and for the end of the task.
#pragma once

#include <pthread.h>

namespace pemlo {

class HelperThread {
  public:
    using Task = void (*)(HelperThread& helper, void* context);

    HelperThread() = default;
    HelperThread(const HelperThread&) = delete;
    HelperThread& operator=(const HelperThread&) = delete;
    // Takes back a task not yet begun or waits for a running one, then stops and joins
    // the thread.
    ~HelperThread();

    // Starts the thread. Returns 1, or 0 when the system gives no thread (the caller
    // then does the work itself); calling it again after success does nothing.
    int start();
    bool started() const { return started_; }

    // Hands `task` to the thread. The previous task must have been waited for.
    void post(Task task, void* context);
    // Called by the running task: releases a waitMark() of the poster.
    void mark();
    // Waits until the posted task has called mark() or has ended.
    void waitMark();
    // Waits until the posted task has ended.
    void wait();
    // Takes the posted task back if the thread has not begun it yet; otherwise waits
    // until it has ended. Either way the thread is then free for the next task.
    void withdraw();
    // True when no task is posted or running.
    bool idle();

  private:
    static void* main(void* self);
    void run();

    pthread_t thread_{};
    pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t changed_ = PTHREAD_COND_INITIALIZER;
    bool started_ = false;
    bool quit_ = false;
    Task task_ = nullptr;   // set while a task is posted or running
    bool running_ = false;  // the thread has begun the task
    void* context_ = nullptr;
    bool marked_ = false;
};

}  // namespace pemlo
