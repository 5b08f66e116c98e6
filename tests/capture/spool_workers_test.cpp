#include "capture/spool_workers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "fake_sources.h"
#include "tests/support/memory_file.h"

namespace pemlo {
namespace {

using testing::FakeScreen;
using testing::MemoryFile;

// The spool file, whose writes wait while the gate is closed: frames then pile up
// behind the first one being written.
class GatedFile final : public testing::FileView {
  public:
    explicit GatedFile(MemoryFile& target) : FileView(target) {}
    void setOpen(bool open) {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = open;
        changed_.notify_all();
    }
    uint32_t write(const void* data, uint32_t count) override {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return open_; });
        return FileView::write(data, count);
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = true;
};

struct Recording {
    FakeScreen screen{40, 40, 176};
    CaptureArea area{0, 0, 40, 40};
    FrameSpool spool;
    MemoryFile memory;
    MemoryFile indexMemory;  // the index on disk, when the recording keeps one
    GatedFile* gate = nullptr;
    SpoolWorkers workers;

    explicit Recording(unsigned threads, uint64_t bound = kSpoolQueueBytes,
                       bool withIndex = false) {
        auto file = std::make_unique<GatedFile>(memory);
        gate = file.get();
        FilePtr index = withIndex ? std::make_unique<GatedFile>(indexMemory) : nullptr;
        EXPECT_EQ(spoolOpenFiles(spool, screen, std::move(file), std::move(index), area,
                                 withIndex ? "by the workers" : ""),
                  1);
        EXPECT_EQ(workers.start(spool, threads, bound, 100), 1);
    }

    // Reads the spool back and checks that frame i shows grab i of the screen.
    void expectFramesAsGrabbed(int frames) { expectFramesAsGrabbed(frames, spool); }
    void expectFramesAsGrabbed(int frames, FrameSpool& from) {
        SpoolFrame frame;
        std::vector<unsigned char> picture(40 * 40 * 3);
        for (int i = 0; i < frames; ++i) {
            ASSERT_EQ(spoolReadFrame(from, frame), 1) << "frame " << i;
            EXPECT_EQ(frame.last, i + 1 == frames ? 1 : 0);
            for (uint32_t t = 0; t < frame.tileCount; ++t) {
                const SpoolTile& tile = frame.tiles[t];
                for (uint32_t y = 0; y < tile.height; ++y) {
                    std::memcpy(&picture[((tile.y + y) * 40 + tile.x) * 3],
                                tile.pixels + size_t{y} * tile.width * 3, size_t{tile.width} * 3);
                }
            }
            const auto& grab = screen.grabbed[static_cast<size_t>(i)];
            for (int y = 0; y < 40; ++y) {
                for (int x = 0; x < 40; ++x) {
                    ASSERT_EQ(std::memcmp(&picture[(y * 40 + x) * 3], &grab[y * 176 + x * 4], 3), 0)
                        << "frame " << i << " pixel " << x << "," << y;
                }
            }
        }
    }
};

// Many frames on several threads reach the spool whole and in the order they were
// grabbed, with the cursor of each.
TEST(SpoolWorkers, FramesReachTheSpoolInGrabOrder) {
    for (unsigned threads : {1u, 2u, 4u}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        Recording r(threads);
        for (int i = 0; i < 30; ++i) {
            ASSERT_EQ(r.workers.tick(static_cast<uint32_t>(i) * 100), TickResult::Recorded);
        }
        EXPECT_EQ(r.workers.finish(), 1);
        EXPECT_EQ(r.workers.framesRecorded(), 30u);
        EXPECT_EQ(r.workers.lateTicks(), 0u);
        EXPECT_EQ(r.spool.count, 30);
        r.expectFramesAsGrabbed(30);
    }
}

// Frames appended by the workers carry their index records on disk: a later start reads
// every one back whole (numbers in turn, crc32 over record and blocks), with the
// durations the grab readings give.
TEST(SpoolWorkers, TheFramesIndexOnDiskReadsBackAsALaterStartWouldReadIt) {
    Recording r(2, kSpoolQueueBytes, true);
    const uint32_t grabs[] = {1000, 1100, 1230, 1300, 1450, 1500, 1600, 1790};
    for (uint32_t t : grabs) {
        r.screen.times.push_back(t);
    }
    for (uint32_t t : grabs) {
        ASSERT_EQ(r.workers.tick(t), TickResult::Recorded);
    }
    ASSERT_EQ(r.workers.finish(), 1);

    auto frames = std::make_unique<MemoryFile>();
    frames->bytes = r.memory.bytes;
    MemoryFile index;
    index.bytes = r.indexMemory.bytes;
    FrameSpool recovered;
    std::string description;
    ASSERT_EQ(spoolOpenRecorded(recovered, std::move(frames), index, 100, description), 1);
    EXPECT_EQ(description, "by the workers");
    ASSERT_EQ(spoolRecordedFrames(recovered), 8);
    EXPECT_EQ(spoolFirstGrabMs(recovered), 1000u);
    EXPECT_EQ(spoolDurationMs(recovered), 890u);
    r.expectFramesAsGrabbed(8, recovered);
}

// A pause waits until every frame grabbed is appended (its record goes after theirs),
// the workers stay ready for the frames after it, and the paused time counts neither in
// the durations nor as late ticks.
TEST(SpoolWorkers, APauseWaitsForTheFramesOnTheirWayAndCountsNoLateTicks) {
    Recording r(2, kSpoolQueueBytes, true);
    const uint32_t grabs[] = {1000, 1100, 1200, 9050, 9150};
    for (uint32_t t : grabs) {
        r.screen.times.push_back(t);
    }
    r.gate->setOpen(false);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(r.workers.tick(grabs[i]), TickResult::Recorded);
    }
    std::atomic<int> drained{-1};
    std::thread pause([&] { drained = r.workers.drain(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(drained.load(), -1) << "the pause waits for the frames on their way";
    r.gate->setOpen(true);
    pause.join();
    ASSERT_EQ(drained.load(), 1);
    ASSERT_EQ(spoolPause(r.spool, 1250), 1);
    ASSERT_EQ(spoolResume(r.spool, 9050), 1);
    r.workers.restartPace();
    ASSERT_EQ(r.workers.tick(9050), TickResult::Recorded);
    ASSERT_EQ(r.workers.tick(9150), TickResult::Recorded);
    ASSERT_EQ(r.workers.finish(), 1);
    EXPECT_EQ(r.workers.lateTicks(), 0u);
    EXPECT_EQ(r.workers.framesRecorded(), 5u);

    auto frames = std::make_unique<MemoryFile>();
    frames->bytes = r.memory.bytes;
    MemoryFile index;
    index.bytes = r.indexMemory.bytes;
    FrameSpool recovered;
    std::string description;
    ASSERT_EQ(spoolOpenRecorded(recovered, std::move(frames), index, 100, description), 1);
    ASSERT_EQ(spoolRecordedFrames(recovered), 5);
    // 100 + 100 + (50 before the pause) + 100 + the last frame's period.
    EXPECT_EQ(spoolDurationMs(recovered), 450u);
    EXPECT_EQ(spoolPauses(recovered), (std::vector<PauseSpan>{{1250, 9050, 1}}));
}

// With room for one frame, a tick while it is still being written grabs nothing and
// counts as late; the stop then waits for the frame that was promised.
TEST(SpoolWorkers, TheBoundMakesTicksLateAndTheStopKeepsWhatWasGrabbed) {
    Recording r(2, 1);
    ASSERT_EQ(r.workers.frameLimit(), 1u);
    r.gate->setOpen(false);
    EXPECT_EQ(r.workers.tick(0), TickResult::Recorded);
    EXPECT_EQ(r.workers.tick(100), TickResult::Late);
    EXPECT_EQ(r.workers.tick(200), TickResult::Late);
    EXPECT_EQ(r.screen.grabs, 1);
    std::atomic<int> finished{-1};
    std::thread stop([&] { finished = r.workers.finish(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(finished.load(), -1) << "the stop waits for the frame on its way";
    r.gate->setOpen(true);
    stop.join();
    EXPECT_EQ(finished.load(), 1);
    EXPECT_EQ(r.workers.framesRecorded(), 1u);
    EXPECT_EQ(r.workers.lateTicks(), 2u);
    r.expectFramesAsGrabbed(1);
}

// Late ticks against a scripted clock: a tick that comes one or more whole periods
// after the one due counts those it missed; jitter within half a period does not.
TEST(SpoolWorkers, MissedPeriodsCountAsLate) {
    Recording r(1);
    const uint32_t times[] = {0, 100, 240, 300, 549, 551, 1000, 1100};
    // Missed:              -  0    0    0    1    0    3     0
    for (uint32_t t : times) {
        ASSERT_EQ(r.workers.tick(t), TickResult::Recorded);
    }
    EXPECT_EQ(r.workers.lateTicks(), 4u);
    EXPECT_EQ(r.workers.finish(), 1);
    EXPECT_EQ(r.spool.count, 8);
}

// A cancel while frames still wait returns at once the writes can go on; what was
// appended reads back.
TEST(SpoolWorkers, CancelWhileFramesWait) {
    Recording r(2);
    r.gate->setOpen(false);
    int recorded = 0;
    for (int i = 0; i < 4; ++i) {
        recorded += r.workers.tick(static_cast<uint32_t>(i) * 100) == TickResult::Recorded;
    }
    EXPECT_EQ(recorded, 4);
    std::thread cancel([&] { r.workers.abandon(); });
    r.gate->setOpen(true);
    cancel.join();
    EXPECT_LE(r.spool.count, 4);
    r.expectFramesAsGrabbed(r.spool.count);
}

// A write that fails in the middle fails the recording once: the next tick (or the
// stop) reports it, and no tick grabs afterwards.
TEST(SpoolWorkers, AWriteFailureInTheMiddleFailsTheRecording) {
    Recording r(2);
    ASSERT_EQ(r.workers.tick(0), TickResult::Recorded);
    ASSERT_EQ(r.workers.finish(), 1);
    const uint64_t oneFrame = r.memory.written;

    Recording failing(2);
    failing.memory.writeBudget = oneFrame * 3 + 10;
    TickResult last = TickResult::Recorded;
    int ticks = 0;
    for (; ticks < 50 && last != TickResult::Failed; ++ticks) {
        last = failing.workers.tick(static_cast<uint32_t>(ticks) * 100);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(last, TickResult::Failed);
    const int grabs = failing.screen.grabs;
    EXPECT_EQ(failing.workers.tick(static_cast<uint32_t>(ticks) * 100), TickResult::Failed);
    EXPECT_EQ(failing.screen.grabs, grabs);
    EXPECT_EQ(failing.workers.finish(), 0);
    EXPECT_EQ(failing.spool.count, 3) << "the frames before the failure stay whole";
}

}  // namespace
}  // namespace pemlo
