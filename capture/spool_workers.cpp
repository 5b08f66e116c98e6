#include "capture/spool_workers.h"

#include <algorithm>
#include <new>

namespace pemlo {

SpoolWorkers::~SpoolWorkers() {
    abandon();
}

int SpoolWorkers::start(FrameSpool& spool, unsigned threads, uint64_t memoryBound,
                        uint32_t periodMs) {
    if (pool_.helperCount() != 0) {
        return 1;
    }
    spool_ = &spool;
    periodMs_ = std::max<uint32_t>(1, periodMs);
    const uint64_t perFrame = std::max<uint64_t>(1, spoolGrabbedFrameBound(spool));
    frameLimit_ = static_cast<uint32_t>(std::clamp<uint64_t>(memoryBound / perFrame, 1, 4096));
    framesRecorded_ = 0;
    lateTicks_ = 0;
    ticked_ = false;
    failed_ = false;
    dropping_ = false;
    // The interface thread only grabs: every worker is a helper of the pool.
    return pool_.start(threadsFor(threads)) != 0 ? 1 : 0;
}

TickResult SpoolWorkers::tick(uint32_t nowMs) {
    if (ticked_) {
        // Ticks due since the last one, beyond this one, were missed.
        const uint32_t due = (nowMs - lastTickMs_ + periodMs_ / 2) / periodMs_;
        if (due > 1) {
            lateTicks_ += due - 1;
        }
    }
    ticked_ = true;
    lastTickMs_ = nowMs;

    Job* job = nullptr;
    bool failed = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (failed_ || pool_.helperCount() == 0) {
            failed_ = true;
            failed = true;
        } else if (queue_.size() >= frameLimit_) {
            ++lateTicks_;
            return TickResult::Late;
        } else if (!idle_.empty()) {
            job = idle_.back();
            idle_.pop_back();
        }
    }
    if (failed) {
        stop(true);
        return TickResult::Failed;
    }
    if (job == nullptr) {
        std::unique_ptr<Job> fresh(new (std::nothrow) Job);
        if (!fresh) {
            stop(true);
            return TickResult::Failed;
        }
        job = fresh.get();
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(fresh));
    }
    // The workers append only what is already queued; the grab touches the parts of
    // the spool that only ticks use.
    if (!spoolGrabFrame(*spool_, job->frame)) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            idle_.push_back(job);
            failed_ = true;
        }
        stop(true);
        return TickResult::Failed;
    }
    ++framesRecorded_;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job->compressed = false;
        job->taken = false;
        job->ok = false;
        queue_.push_back(job);
    }
    pool_.submit(compressing_, &SpoolWorkers::compressTask, this);
    return TickResult::Recorded;
}

int SpoolWorkers::finish() {
    pool_.wait(compressing_);
    bool failed = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failed = failed_ || !queue_.empty() || pool_.helperCount() == 0;
    }
    stop(failed);
    return failed ? 0 : 1;
}

int SpoolWorkers::drain() {
    // Every grabbed frame has a task in the group; the last to finish has appended it.
    pool_.wait(compressing_);
    bool failed = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failed = failed_ || !queue_.empty() || pool_.helperCount() == 0;
    }
    if (failed) {
        stop(true);
        return 0;
    }
    return 1;
}

void SpoolWorkers::waitForRoom() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return queue_.size() < frameLimit_ || failed_ || dropping_; });
}

void SpoolWorkers::abandon() {
    stop(true);
}

void SpoolWorkers::stop(bool drop) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dropping_ = dropping_ || drop;
    }
    changed_.notify_all();
    pool_.wait(compressing_);
    pool_.stop();
    std::lock_guard<std::mutex> lock(mutex_);
    for (Job* job : queue_) {
        idle_.push_back(job);
    }
    queue_.clear();
}

// Appends the frames at the head of the queue that are compressed, in order, one
// thread at a time; called and returning with the lock held.
void SpoolWorkers::writeReady(std::unique_lock<std::mutex>& lock) {
    if (writing_) {
        return;  // the thread writing will take this frame too
    }
    writing_ = true;
    while (!queue_.empty() && queue_.front()->compressed && !dropping_) {
        Job* job = queue_.front();
        const bool write = job->ok && !failed_;
        lock.unlock();
        const bool appended = write && spoolAppendFrame(*spool_, job->frame) == 1;
        lock.lock();
        if (!appended) {
            failed_ = true;
        }
        queue_.pop_front();
        idle_.push_back(job);
        changed_.notify_all();
    }
    writing_ = false;
}

void SpoolWorkers::compressTask(void* self) {
    static_cast<SpoolWorkers*>(self)->compressNext();
}

// One task per grabbed frame: compresses the first frame no worker has taken, then
// appends what is ready.
void SpoolWorkers::compressNext() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (dropping_) {
        return;
    }
    const auto next =
        std::find_if(queue_.begin(), queue_.end(), [](const Job* j) { return !j->taken; });
    if (next != queue_.end()) {
        Job* job = *next;
        job->taken = true;
        const bool skip = failed_;
        lock.unlock();
        const bool ok = !skip && spoolCompressFrame(job->frame) == 1;
        lock.lock();
        job->ok = ok;
        job->compressed = true;
    }
    writeReady(lock);
}

}  // namespace pemlo
