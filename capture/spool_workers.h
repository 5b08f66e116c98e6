// Recording ticks that keep pace. On each tick the interface thread only grabs the
// frame and packs its changed tiles; worker threads (one per processor) compress the
// frames, and the frames are appended to the spool in the order they were grabbed.
//
// The frames on their way hold at most kSpoolQueueBytes: the program is 32-bit, and
// its 2 GB of address space also hold the display copy and the grab before (67 MB at
// 3840 x 2160), the sound, and later the output phase's frames; 160 MB lets about a
// dozen fully changed 1920 x 1080 frames or three 3840 x 2160 ones wait. Each frame is
// counted at the most it can hold (every tile changed, blocks that do not compress), so
// the bound holds whatever the picture. When it is reached the tick grabs nothing and
// counts as late; a tick that comes a whole period or more after the one due counts
// the ticks it missed as late too. Nothing is dropped silently: a frame once grabbed is
// appended, or the recording fails with one message.
//
// Calling order, all on the interface thread: start, tick per timer tick, then finish
// (the stop: waits until every grabbed frame is appended) or abandon (a cancel or a
// failure: frames still waiting are dropped); the destructor abandons.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/frame_spool.h"
#include "platform/task_pool.h"

namespace pemlo {

inline constexpr uint64_t kSpoolQueueBytes = uint64_t{160} << 20;

enum class TickResult {
    Recorded,  // the frame was grabbed and is on its way to the spool
    Late,      // the frames waiting hold the bound: nothing grabbed
    Failed,    // the grab or an earlier frame's compression or append failed
};

class SpoolWorkers {
  public:
    SpoolWorkers() = default;
    SpoolWorkers(const SpoolWorkers&) = delete;
    SpoolWorkers& operator=(const SpoolWorkers&) = delete;
    ~SpoolWorkers();

    // Starts `threads` workers (0: one per processor, at least one) for a recording
    // into `spool` (open, nothing recorded yet) with ticks every `periodMs`, holding at
    // most `memoryBound` bytes of waiting frames (at least one frame waits whatever the
    // bound). Returns 1, or 0 when no thread could be started.
    int start(FrameSpool& spool, unsigned threads, uint64_t memoryBound, uint32_t periodMs);
    // One timer tick at `nowMs` (any millisecond clock). After `failed` the workers are
    // stopped and the caller releases the spool.
    TickResult tick(uint32_t nowMs);
    // Waits until every grabbed frame is appended, then stops the workers. 1 when all
    // were appended, 0 after a failure.
    int finish();
    // Stops the workers; frames not yet appended are dropped.
    void abandon();
    // Waits until every grabbed frame is appended, the workers staying ready for more
    // (a pause: the spool may then be written by the caller until the next tick). 1 when
    // all were appended, 0 after a failure (the workers are then stopped).
    int drain();
    // The next tick counts no missed ticks before it (the recording goes on after a
    // pause, whose time is no lateness).
    void restartPace() { ticked_ = false; }
    // Waits until a tick can grab without reaching the bound (or the recording has
    // failed): for a recording that keeps every frame whatever the time it takes (the
    // replay tool).
    void waitForRoom();

    // Frames grabbed so far: each is in the spool or will be unless the recording fails.
    uint32_t framesRecorded() const { return framesRecorded_; }
    // Ticks that grabbed nothing or were missed.
    uint32_t lateTicks() const { return lateTicks_; }
    // Frames that may wait at once under the bound.
    uint32_t frameLimit() const { return frameLimit_; }

  private:
    struct Job {
        GrabbedFrame frame;
        bool compressed = false;
        bool taken = false;
        bool ok = false;
    };
    static void compressTask(void* self);
    void compressNext();
    void writeReady(std::unique_lock<std::mutex>& lock);
    void stop(bool drop);

    FrameSpool* spool_ = nullptr;
    uint32_t periodMs_ = 100;
    uint32_t frameLimit_ = 1;
    uint32_t framesRecorded_ = 0;
    uint32_t lateTicks_ = 0;
    bool ticked_ = false;
    uint32_t lastTickMs_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job*> queue_;  // grab order
    std::vector<std::unique_ptr<Job>> jobs_;
    std::vector<Job*> idle_;
    bool writing_ = false;
    bool failed_ = false;
    bool dropping_ = false;
    // Last, so that the workers stop before the jobs they work on are released.
    TaskPool pool_;
    TaskGroup compressing_;
};

}  // namespace pemlo
