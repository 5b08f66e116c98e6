#include "process/worker_crew.h"

#include <algorithm>
#include <new>
#include <thread>

namespace pemlo {
namespace {

// Enough for any desktop; more threads than blocks in a row window would idle.
constexpr unsigned kMaxThreads = 16;

void runCrewTask(HelperThread& /*helper*/, void* context) {
    auto& crew = *static_cast<WorkerCrew*>(context);
    crew.runOwnShare();
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

void WorkerCrew::runOwnShare() {
    task_(context_);
}

void WorkerCrew::runOnAll(Task task, void* context) {
    for (unsigned i = 0; i < started_; ++i) {
        helpers_[i].wait();
    }
    task_ = task;
    context_ = context;
    for (unsigned i = 0; i < started_; ++i) {
        helpers_[i].post(&runCrewTask, this);
    }
    task(context);
    for (unsigned i = 0; i < started_; ++i) {
        helpers_[i].wait();
    }
}

}  // namespace pemlo
