// The threads of the output phase: the calling thread and up to one helper per further
// processor, kept for the whole phase. The first helper also takes the posted tasks of
// the output loop (scaling bands, the next frame's read); the whole crew compresses
// the blocks of a frame for the Screen Video encoder.
#pragma once

#include <memory>

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
    // Waits for whatever the helpers are doing, then runs `task` on each of them and on
    // the calling thread.
    void runOnAll(Task task, void* context) override;
    // What a helper runs during runOnAll: the task it was given.
    void runOwnShare();

  private:
    std::unique_ptr<HelperThread[]> helpers_;
    unsigned started_ = 0;
    Task task_ = nullptr;
    void* context_ = nullptr;
};

// One thread per processor the system reports, at least 1.
unsigned processorCount();

}  // namespace pemlo
