// The threads of the output phase: the calling thread and up to one helper per further
// processor, kept for the whole phase. The first helper also takes the posted tasks of
// the output loop (scaling bands, the next frame's read); the whole crew compresses
// the blocks of a frame for the Screen Video encoder. A first helper that is still busy
// when the blocks are handed out joins them when its own task calls joinCurrent().
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "flv/video_encoder.h"
#include "process/helper_thread.h"

namespace pemlo {

class WorkerCrew final : public BlockWorkers {
  public:
    WorkerCrew() = default;
    WorkerCrew(const WorkerCrew&) = delete;
    WorkerCrew& operator=(const WorkerCrew&) = delete;
    ~WorkerCrew();

    // Starts up to `threads` - 1 helpers (0: one thread per processor). The helpers the
    // system refuses are left out; the crew always has the calling thread.
    void start(unsigned threads);
    // The first helper, or null when none started.
    HelperThread* firstHelper();

    unsigned threadCount() const override;
    // Runs `task` on the calling thread and on every helper that is free or becomes
    // free (through joinCurrent) before the calling thread has finished its share;
    // returns when every call that began has returned. Each thread calls it once at
    // most, so a task may rely on at most threadCount() calls.
    void runOnAll(Task task, void* context) override;
    // Called on a helper: takes a share of the task runOnAll is running, if any.
    void joinCurrent();

  private:
    std::unique_ptr<HelperThread[]> helpers_;
    unsigned started_ = 0;
    std::mutex mutex_;
    std::condition_variable ended_;
    bool open_ = false;  // runOnAll's task still takes helpers
    unsigned inFlight_ = 0;
    Task task_ = nullptr;
    void* context_ = nullptr;
};

// One thread per processor the system reports, at least 1.
unsigned processorCount();

}  // namespace pemlo
