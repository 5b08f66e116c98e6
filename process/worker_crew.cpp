#include "process/worker_crew.h"

#include <algorithm>
#include <new>
#include <thread>

namespace pemlo {
namespace {

// Enough for any desktop; more threads than block rows in a window would idle.
constexpr unsigned kMaxThreads = 16;

void joinCrew(HelperThread& /*helper*/, void* context) {
    static_cast<WorkerCrew*>(context)->joinCurrent();
}

}  // namespace

unsigned processorCount() {
    return std::max(1u, std::thread::hardware_concurrency());
}

WorkerCrew::~WorkerCrew() = default;

void WorkerCrew::start(unsigned threads) {
    if (helpers_) {
        return;
    }
    const unsigned wanted = std::min(threads == 0 ? processorCount() : threads, kMaxThreads);
    if (wanted <= 1) {
        return;
    }
    helpers_.reset(new (std::nothrow) HelperThread[wanted - 1]);
    if (!helpers_) {
        return;
    }
    while (started_ < wanted - 1 && helpers_[started_].start() == 1) {
        ++started_;
    }
}

HelperThread* WorkerCrew::firstHelper() {
    return started_ > 0 ? &helpers_[0] : nullptr;
}

unsigned WorkerCrew::threadCount() const {
    return started_ + 1;
}

void WorkerCrew::joinCurrent() {
    Task task = nullptr;
    void* context = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!open_) {
            return;
        }
        ++inFlight_;
        task = task_;
        context = context_;
    }
    task(context);
    std::lock_guard<std::mutex> lock(mutex_);
    if (--inFlight_ == 0) {
        ended_.notify_all();
    }
}

void WorkerCrew::runOnAll(Task task, void* context) {
    // The helpers that serve only the crew may still be returning from the last share;
    // had they not, they could take a second share of this task.
    for (unsigned i = 1; i < started_; ++i) {
        helpers_[i].wait();
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        task_ = task;
        context_ = context;
        open_ = true;
    }
    for (unsigned i = 0; i < started_; ++i) {
        // The first may still be on a task of the output loop, which joins when it ends.
        if (i > 0 || helpers_[i].idle()) {
            helpers_[i].post(&joinCrew, this);
        }
    }
    task(context);
    std::unique_lock<std::mutex> lock(mutex_);
    open_ = false;
    ended_.wait(lock, [this] { return inFlight_ == 0; });
}

}  // namespace pemlo
