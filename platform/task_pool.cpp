#include "platform/task_pool.h"

#include <algorithm>
#include <new>
#include <system_error>

namespace pemlo {

unsigned threadsFor(unsigned wanted) {
    const unsigned threads = wanted == 0 ? std::thread::hardware_concurrency() : wanted;
    return std::clamp(threads, 1u, kMaxThreads);
}

int startThread(std::thread& thread, std::function<void()> body) {
    try {
        thread = std::thread(std::move(body));
    } catch (const std::system_error&) {
        return 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return 1;
}

TaskPool::~TaskPool() {
    stop();
}

unsigned TaskPool::start(unsigned helpers) {
    if (!helpers_.empty()) {
        return helperCount();
    }
    stopping_ = false;
    const unsigned wanted = std::min(helpers, kMaxThreads);
    try {
        helpers_.reserve(wanted);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    for (unsigned i = 0; i < wanted; ++i) {
        std::thread helper;
        if (startThread(helper, [this] { serve(); }) != 1) {
            break;  // the system gives no more threads: work with those there are
        }
        helpers_.push_back(std::move(helper));
    }
    return helperCount();
}

void TaskPool::submit(TaskGroup& group, Task task, void* context) {
    bool queued = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        try {
            queue_.push_back(Queued{task, context, &group});
            ++group.pending_;
            queued = true;
        } catch (const std::bad_alloc&) {
            queued = false;
        }
    }
    if (queued) {
        queued_.notify_one();
    } else {
        task(context);  // no room to queue it: done here rather than lost
    }
}

void TaskPool::wait(TaskGroup& group) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (group.pending_ != 0) {
        const auto mine = std::find_if(queue_.begin(), queue_.end(),
                                       [&](const Queued& q) { return q.group == &group; });
        if (mine == queue_.end()) {
            ended_.wait(lock);
            continue;
        }
        const Queued q = *mine;
        queue_.erase(mine);
        lock.unlock();
        q.task(q.context);
        lock.lock();
        ended(group);
    }
}

void TaskPool::runOnAll(Task task, void* context) {
    TaskGroup group;
    for (unsigned i = 0; i < helperCount(); ++i) {
        submit(group, task, context);
    }
    task(context);
    wait(group);
}

void TaskPool::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        for (const Queued& q : queue_) {
            --q.group->pending_;
        }
        queue_.clear();
    }
    queued_.notify_all();
    ended_.notify_all();
    for (std::thread& helper : helpers_) {
        helper.join();
    }
    helpers_.clear();
}

// Called with the mutex held when a task of `group` has ended.
void TaskPool::ended(TaskGroup& group) {
    if (--group.pending_ == 0) {
        ended_.notify_all();
    }
}

void TaskPool::serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;  // stopping with nothing left to do
        }
        const Queued q = queue_.front();
        queue_.pop_front();
        lock.unlock();
        q.task(q.context);
        lock.lock();
        ended(*q.group);
    }
}

}  // namespace pemlo
