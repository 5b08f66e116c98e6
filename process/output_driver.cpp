#include "process/output_driver.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "flv/audio_pacer.h"
#include "flv/audio_tags.h"
#include "flv/video_encoder.h"
#include "platform/task_pool.h"
#include "process/compositing.h"
#include "process/frame_delta.h"
#include "process/growable_buffer.h"
#include "process/scaler.h"
#include "process/thumbnail.h"

namespace pemlo {
namespace {

// The target blocks of one scaling that must be computed again, and the tasks that do
// it: one per row of blocks, so that tasks never share target rows.
struct ScalePlan {
    ScaleJob job;
    GrowableBuffer<uint8_t> marks;  // one per kPlanBlock x kPlanBlock block of the target
    unsigned columns = 0;
    unsigned rows = 0;
    GrowableBuffer<unsigned> tasks;  // block rows with at least one mark
    unsigned taskCount = 0;
};

// The blocks the scaler recomputes are those of the Screen Video encoder, so the marks
// of the output tell the encoder which blocks may have changed.
constexpr unsigned kPlanBlock = videoBlockSize;

// Marks the target blocks that the changed source rectangles reach (all of them when
// `everything`) and lists the block rows to compute. Returns 1, or 0 when memory runs
// out.
int planScale(ScalePlan& plan, const ScaleJob& job, const ComposedFrame& composed,
              bool everything) {
    plan.job = job;
    plan.columns = (job.targetWidth + kPlanBlock - 1) / kPlanBlock;
    plan.rows = (job.targetHeight + kPlanBlock - 1) / kPlanBlock;
    const size_t blocks = size_t{plan.columns} * plan.rows;
    if (plan.marks.resize(blocks) == 0 || plan.tasks.resize(plan.rows) == 0) {
        return 0;
    }
    uint8_t* marks = plan.marks.data();
    std::memset(marks, everything ? 1 : 0, blocks);
    if (!everything) {
        for (uint32_t i = 0; i < composed.changeCount; ++i) {
            const ChangedRect& r = composed.changes.data()[i];
            unsigned firstColumn = 0;
            unsigned endColumn = 0;
            unsigned firstRow = 0;
            unsigned endRow = 0;
            scaleJobTargetColumns(job, r.column, r.column + r.width, firstColumn, endColumn);
            scaleJobTargetRows(job, r.row, r.row + r.height, firstRow, endRow);
            if (firstColumn >= endColumn || firstRow >= endRow) {
                continue;
            }
            for (unsigned br = firstRow / kPlanBlock; br <= (endRow - 1) / kPlanBlock; ++br) {
                std::memset(marks + size_t{br} * plan.columns + firstColumn / kPlanBlock, 1,
                            (endColumn - 1) / kPlanBlock - firstColumn / kPlanBlock + 1);
            }
        }
    }
    plan.taskCount = 0;
    for (unsigned br = 0; br < plan.rows; ++br) {
        const uint8_t* row = marks + size_t{br} * plan.columns;
        if (std::find(row, row + plan.columns, uint8_t{1}) != row + plan.columns) {
            plan.tasks.data()[plan.taskCount++] = br;
        }
    }
    return 1;
}

// Computes the marked blocks of one block row, neighbouring blocks together.
void runScaleTask(const ScalePlan& plan, unsigned blockRow) {
    const uint8_t* row = plan.marks.data() + size_t{blockRow} * plan.columns;
    for (unsigned c = 0; c < plan.columns;) {
        if (row[c] == 0) {
            ++c;
            continue;
        }
        unsigned end = c + 1;
        while (end < plan.columns && row[end] != 0) {
            ++end;
        }
        scaleJobRect(plan.job, blockRow * kPlanBlock, (blockRow + 1) * kPlanBlock, c * kPlanBlock,
                     end * kPlanBlock);
        c = end;
    }
}

// The block rows to scale for one frame (to the output size and, when wanted, to the
// preview size), taken in turn by every thread that runs run(). No thread waits for
// another to begin: rows that nobody has taken yet go to whoever asks first.
struct ScaleBlockRows {
    ScalePlan plans[2];
    unsigned taskCount[2] = {0, 0};
    std::atomic<unsigned> next{0};

    void restart(bool withPreview) {
        taskCount[0] = plans[0].taskCount;
        taskCount[1] = withPreview ? plans[1].taskCount : 0;
        next.store(0, std::memory_order_relaxed);
    }

    // Computes block rows until none is left to take.
    void run() {
        for (;;) {
            unsigned task = next.fetch_add(1, std::memory_order_relaxed);
            int index = 0;
            if (task >= taskCount[0]) {
                task -= taskCount[0];
                index = 1;
                if (task >= taskCount[1]) {
                    return;
                }
            }
            runScaleTask(plans[index], plans[index].tasks.data()[task]);
        }
    }
};

void scaleBlockRowsTask(void* context) {
    static_cast<ScaleBlockRows*>(context)->run();
}

// The watermark block of the output, kept aside while the stamped frame is encoded, so
// that the output keeps the scaled pixels for the next frame.
struct WatermarkKeeper {
    std::array<uint8_t, kWatermarkWidth * kWatermarkHeight * 3> kept{};

    static bool applies(int width, int height) {
        return width >= kWatermarkWidth + kWatermarkRight &&
               height >= kWatermarkHeight + kWatermarkBottom;
    }
    void move(uint8_t* frame, int width, int height, bool save) {
        if (!applies(width, height)) {
            return;
        }
        const size_t stride = static_cast<size_t>(width) * 3;
        const size_t first = static_cast<size_t>(width - kWatermarkWidth - kWatermarkRight) * 3;
        uint8_t* k = kept.data();
        for (int row = 0; row < kWatermarkHeight; ++row, k += kWatermarkWidth * 3) {
            uint8_t* p = frame + (kWatermarkBottom + row) * stride + first;
            if (save) {
                std::memcpy(k, p, kWatermarkWidth * 3);
            } else {
                std::memcpy(p, k, kWatermarkWidth * 3);
            }
        }
    }
};

int readFrame(FrameSpool& frames, SpoolFrame& slot) {
    return spoolReadFrame(frames, slot);
}

// The next frame, read by whichever thread gets to it first.
struct NextRead {
    FrameSpool* frames = nullptr;
    SpoolFrame* slot = nullptr;  // null: nothing to read
    std::atomic<bool> taken{false};
    int result = 0;  // valid once the thread that took the read has finished it

    // Returns true when this call took the read and did it.
    bool take() {
        if (slot == nullptr || taken.exchange(true, std::memory_order_acq_rel)) {
            return false;
        }
        result = readFrame(*frames, *slot);
        return true;
    }
};

void nextReadTask(void* context) {
    static_cast<NextRead*>(context)->take();
}

// The encoder compresses the blocks of a frame on this thread and the pool's helpers.
class PoolBlockWorkers final : public BlockWorkers {
  public:
    explicit PoolBlockWorkers(TaskPool& pool) : pool_(pool) {}
    unsigned threadCount() const override { return pool_.helperCount() + 1; }
    void runOnAll(Task task, void* context) override { pool_.runOnAll(task, context); }

  private:
    TaskPool& pool_;
};

// The working memory of one output phase, released however the phase ends.
struct Working {
    SpoolFrame slots[2];
    ComposedFrame composed;
    ImageBuffer source;  // the composed frame, as the scaler reads it
    ImageBuffer output;
    ImageBuffer preview;
    GrowableBuffer<float> outputAccumulator;
    GrowableBuffer<float> previewAccumulator;
    GrowableBuffer<ScalerColumn> outputColumns;
    GrowableBuffer<ScalerColumn> previewColumns;
    GrowableBuffer<uint8_t> outputByteTable;
    GrowableBuffer<uint8_t> previewByteTable;
    // The two reductions, prepared at their first use and kept: sizes and buffers stay
    // the same for the whole phase, so their spans and tables are worked out once.
    ScaleJob outputJob;
    ScaleJob previewJob;
    bool outputJobReady = false;
    bool previewJobReady = false;
    WatermarkKeeper watermark;
    ScaleBlockRows blockRows;
    NextRead nextRead;
    AudioPacer pacer;
    AudioPackets packets;
    ScreenVideoEncoder encoder;
    int previewWidth = 0;
    int previewHeight = 0;
    bool previewCurrent = false;  // the preview shows the frame before
    // The helpers that scale, read the next frame and compress blocks beside this thread,
    // and the tasks each step waits for. Last, so that the helpers are stopped before
    // the memory they work on is released.
    TaskPool pool;
    TaskGroup scaling;
    TaskGroup reading;
    PoolBlockWorkers blockWorkers{pool};

    Working() = default;
    Working(const Working&) = delete;
    Working& operator=(const Working&) = delete;
    ~Working() {
        pool.stop();
        imageBufferRelease(output);
        imageBufferRelease(preview);
    }
};

bool settingsUsable(const OutputJob& job) {
    const CaptureArea& c = job.capture;
    return c.width >= 1 && c.height >= 1 && c.width <= kMaxImageWidth &&
           c.height <= kMaxScalerSource && job.outputWidth >= 1 && job.outputHeight >= 1 &&
           job.outputWidth <= c.width && job.outputHeight <= c.height &&
           (job.recordAudio != 1 || job.soundSpool != nullptr);
}

// Compose: the frame cropped to the capture area and converted, its cursor drawn.
int composeStep(Working& work, const OutputJob& job, const SpoolFrame& frame) {
    // The spool keeps the low 16 bits of a corner that may lie left of or above the
    // screen.
    const int32_t cursorX = static_cast<int16_t>(frame.cursorX) - job.capture.left;
    const int32_t cursorY = static_cast<int16_t>(frame.cursorY) - job.capture.top;
    if (composeFrame(work.composed, frame, cursorX, cursorY) != 1) {
        return 0;
    }
    work.source.pixels = work.composed.pixels.data();
    return 1;
}

// Scale: the changed parts of the output (and of the preview when it is wanted) on
// this thread and the pool's helpers; a helper then reads the next frame unless this
// thread gets to it first. Sets `previewReady` when the preview holds this frame.
int scaleStep(Working& work, const OutputJob& job, FrameSpool& frames, int current,
              bool previewWanted, bool& previewReady) {
    const ComposedFrame& composed = work.composed;
    if (!work.outputJobReady) {
        if (scaleJobSetup(work.outputJob, work.source, work.output,
                          static_cast<uint16_t>(job.outputWidth),
                          static_cast<uint16_t>(job.outputHeight), work.outputAccumulator,
                          work.outputColumns, work.outputByteTable) != 1) {
            return 0;
        }
        work.outputJobReady = true;
    }
    ScaleBlockRows& rows = work.blockRows;
    if (planScale(rows.plans[0], work.outputJob, composed, composed.everything) != 1) {
        return 0;
    }
    previewReady = false;
    if (previewWanted) {
        if (!work.previewJobReady) {
            work.previewJobReady =
                scaleJobSetup(work.previewJob, work.source, work.preview,
                              static_cast<uint16_t>(work.previewWidth),
                              static_cast<uint16_t>(work.previewHeight), work.previewAccumulator,
                              work.previewColumns, work.previewByteTable) == 1;
        }
        previewReady =
            work.previewJobReady && planScale(rows.plans[1], work.previewJob, composed,
                                              composed.everything || !work.previewCurrent) == 1;
    }
    work.previewCurrent = previewReady;
    rows.restart(previewReady);
    NextRead& next = work.nextRead;
    const SpoolFrame& frame = work.slots[current];
    next.frames = &frames;
    next.slot = frame.last == 1 ? nullptr : &work.slots[1 - current];
    next.taken.store(false, std::memory_order_relaxed);
    next.result = 0;
    for (unsigned i = 0; i < work.pool.helperCount(); ++i) {
        work.pool.submit(work.scaling, &scaleBlockRowsTask, &rows);
    }
    work.pool.submit(work.reading, &nextReadTask, &next);
    rows.run();
    work.pool.wait(work.scaling);
    return 1;
}

// Encode: the watermarked output as a video tag, its blocks compressed on every thread; the
// output keeps the scaled pixels under the watermark for the next frame.
int encodeStep(Working& work, const OutputJob& job, FlvWriter& writer, File& outputFile,
               const SpoolFrame& frame) {
    work.watermark.move(work.output.pixels, job.outputWidth, job.outputHeight, true);
    if (stampWatermark(work.output.pixels, job.outputWidth, job.outputHeight) != 1) {
        return 0;
    }
    if (flvWriteVideoTagChanged(writer, work.encoder, outputFile, work.output.pixels,
                                job.outputWidth, job.outputHeight, frame.durationMs,
                                work.blockRows.plans[0].marks.data()) != 1) {
        return 0;
    }
    work.watermark.move(work.output.pixels, job.outputWidth, job.outputHeight, false);
    return 1;
}

// Interleave sound: the audio packets that have fallen due by the end of this frame.
int soundStep(Working& work, const OutputJob& job, FlvWriter& writer, File& outputFile,
              const SpoolFrame& frame, int& endOfSound) {
    if (job.recordAudio != 1 || endOfSound != 0) {
        return 1;
    }
    int packetCount = 0;
    if (encodeDueAudio(work.pacer, *job.soundSpool, frame.durationMs, work.packets, endOfSound,
                       packetCount) != 1) {
        return 0;
    }
    for (int j = 0; j < packetCount; ++j) {
        if (flvWriteAudioPacket(writer, outputFile, work.packets, j) != 1) {
            return 0;
        }
    }
    return 1;
}

// Report: the preview, the progress, and the thumbnail when it is due.
void reportStep(Working& work, const OutputJob& job, ProgressSink& progress, bool previewReady,
                bool thumbnailDue, uint32_t framesDone, int32_t frameTotal) {
    const BitmapInfoHeader info = previewBitmapInfo(work.previewWidth, work.previewHeight);
    if (previewReady && progress.showsPreview()) {
        progress.showPreview(info, work.preview.pixels);
    }
    if (frameTotal > 0) {
        progress.setPercent(
            static_cast<uint32_t>(uint64_t{framesDone} * 100 / static_cast<uint64_t>(frameTotal)));
    }
    if (previewReady && thumbnailDue) {
        // A thumbnail that cannot be written does not affect the recording.
        writeThumbnail(job.thumbnailPath, info, work.preview.pixels);
    }
}

// The next frame: read here unless a helper has already taken it.
int nextFrameStep(Working& work) {
    work.nextRead.take();
    work.pool.wait(work.reading);
    return work.nextRead.result;
}

}  // namespace

int runOutputDriver(const OutputJob& job, FrameSpool& frames, FlvWriter& writer, File& outputFile,
                    ProgressSink& progress) {
    if (!settingsUsable(job)) {
        return 0;
    }
    auto work = std::make_unique<Working>();
    previewSize(job.outputWidth, job.outputHeight, work->previewWidth, work->previewHeight);
    const bool hasPreview = work->previewWidth > 0 && work->previewHeight > 0;
    work->source.width = static_cast<uint16_t>(job.capture.width);
    work->source.height = static_cast<uint16_t>(job.capture.height);
    work->source.stride = static_cast<uint16_t>(job.capture.width * 3);
    if (composedFrameSetup(work->composed, job.capture.width, job.capture.height) != 1) {
        return 0;
    }
    // Without helpers the same work runs on this thread, frame after frame.
    work->pool.start(threadsFor(job.threads) - 1);
    if (videoEncoderBegin(work->encoder, job.outputWidth, job.outputHeight, &work->blockWorkers) !=
            1 ||
        flvBegin(writer, outputFile, job.recordAudio, job.outputWidth, job.outputHeight) != 1) {
        return 0;
    }

    int endOfSound = 0;
    uint32_t framesDone = 0;
    int current = 0;  // the slot of the frame being written
    int32_t frameTotal = 0;
    for (;;) {
        if (progress.cancelRequested()) {
            return 0;
        }
        if (framesDone == 0) {
            // The first frame: no other read runs yet, so the count can be taken here.
            if (readFrame(frames, work->slots[current]) != 1) {
                return 0;
            }
            frameTotal = spoolFrameCount(frames);
        }
        const SpoolFrame& frame = work->slots[current];
        const bool thumbnailDue = framesDone + 1 == 1 || framesDone + 1 == 10;
        bool previewReady = false;
        if (composeStep(*work, job, frame) != 1 ||
            scaleStep(*work, job, frames, current,
                      hasPreview && (thumbnailDue || progress.showsPreview()), previewReady) != 1 ||
            encodeStep(*work, job, writer, outputFile, frame) != 1 ||
            soundStep(*work, job, writer, outputFile, frame, endOfSound) != 1) {
            return 0;
        }
        ++framesDone;
        reportStep(*work, job, progress, previewReady, thumbnailDue, framesDone, frameTotal);
        if (frame.last == 1) {
            return flvFinish(writer, outputFile) == 1 ? 1 : 0;
        }
        if (nextFrameStep(*work) != 1) {
            return 0;
        }
        current = 1 - current;
    }
}

}  // namespace pemlo
