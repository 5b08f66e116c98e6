#include "process/output_driver.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <memory>

#include "flv/audio_pacer.h"
#include "flv/audio_tags.h"
#include "flv/video_encoder.h"
#include "process/compositing.h"
#include "process/growable_buffer.h"
#include "process/helper_thread.h"
#include "process/scaler.h"
#include "process/thumbnail.h"

namespace pemlo {
namespace {

// One frame read back from the spool: cropped to the capture rectangle, cursor drawn.
struct FrameSlot {
    unsigned char* framePixels = nullptr;  // grown by spoolReadFrame with realloc
    std::array<unsigned char, kCursorImageBytes> cursor{};
    GrowableBuffer<uint8_t> cropped;
    int last = 0;
    uint16_t duration = 0;
    int32_t total = 0;  // frames in the spool, as known after this read

    FrameSlot() = default;
    FrameSlot(const FrameSlot&) = delete;
    FrameSlot& operator=(const FrameSlot&) = delete;
    ~FrameSlot() { std::free(framePixels); }
};

struct CaptureRect {
    int left;
    int top;
    int width;
    int height;
};

int readFrame(FrameSpool& frames, const CaptureRect& capture, FrameSlot& slot) {
    uint32_t rawSize = 0;
    uint16_t pitch = 0;
    uint16_t cursorX = 0;
    uint16_t cursorY = 0;
    int cursorPresent = 0;
    if (spoolReadFrame(frames, slot.framePixels, rawSize, slot.last, pitch, slot.duration,
                       slot.cursor.data(), cursorX, cursorY, cursorPresent) != 1) {
        return 0;
    }
    slot.total = spoolFrameCount(frames);
    if (cropFrame(slot.framePixels, rawSize, pitch, capture.left, capture.top, capture.width,
                  capture.height, slot.cropped) == 0) {
        return 0;
    }
    if (cursorPresent == 1) {
        // The spool keeps the low 16 bits of a corner that may lie left of or above the
        // screen.
        const int32_t x = static_cast<int16_t>(cursorX) - capture.left;
        const int32_t y = static_cast<int16_t>(cursorY) - capture.top;
        if (overlayCursor(slot.cropped.data(), capture.width, capture.height, slot.cursor.data(), x,
                          y) == 0) {
            return 0;
        }
    }
    return 1;
}

// The scaling of one frame (to the output size and, when wanted, to the preview size)
// cut into bands of target rows that both threads take in turn. Neither thread waits
// for the other to begin: bands that nobody has taken yet go to whoever asks first.
struct ScaleBands {
    ScaleJob jobs[2];
    unsigned bandRows[2] = {1, 1};
    unsigned bandCount[2] = {0, 0};
    std::atomic<unsigned> next{0};
    std::atomic<unsigned> done{0};

    void prepare(int index, const ScaleJob& job) {
        jobs[index] = job;
        // About 16 bands per picture: enough to share the work evenly, few enough that
        // the source rows read twice at band edges cost little.
        bandRows[index] = (job.targetHeight + 15) / 16;
        bandCount[index] = (job.targetHeight + bandRows[index] - 1) / bandRows[index];
    }

    void restart() {
        next.store(0, std::memory_order_relaxed);
        done.store(0, std::memory_order_relaxed);
    }

    unsigned total() const { return bandCount[0] + bandCount[1]; }

    bool finished() const { return done.load(std::memory_order_acquire) == total(); }

    // Computes bands until none is left to take. Returns true when this thread
    // completed the last band of all.
    bool run() {
        bool last = false;
        for (;;) {
            unsigned band = next.fetch_add(1, std::memory_order_relaxed);
            int index = 0;
            if (band >= bandCount[0]) {
                band -= bandCount[0];
                index = 1;
                if (band >= bandCount[1]) {
                    return last;
                }
            }
            const unsigned first = band * bandRows[index];
            scaleJobRows(jobs[index], first, first + bandRows[index]);
            last = done.fetch_add(1, std::memory_order_acq_rel) + 1 == total();
        }
    }
};

// The next frame, read by whichever thread gets to it first.
struct NextRead {
    FrameSpool* frames = nullptr;
    const CaptureRect* capture = nullptr;
    FrameSlot* slot = nullptr;  // null: nothing to read
    std::atomic<bool> taken{false};
    int result = 0;  // valid once the thread that took the read has finished it

    // Returns true when this call took the read and did it.
    bool take() {
        if (slot == nullptr || taken.exchange(true, std::memory_order_acq_rel)) {
            return false;
        }
        result = readFrame(*frames, *capture, *slot);
        return true;
    }
};

// What the helper thread does for one frame: its share of the bands, then the next
// frame's read if this thread has not taken it yet.
struct HelperWork {
    ScaleBands* bands = nullptr;
    NextRead* next = nullptr;
};

void helperTask(HelperThread& helper, void* context) {
    auto& work = *static_cast<HelperWork*>(context);
    if (work.bands->run()) {
        helper.mark();
    }
    work.next->take();
}

// The working memory of one output phase, released however the phase ends.
struct Working {
    FrameSlot slots[2];
    ImageBuffer output;
    ImageBuffer preview;
    GrowableBuffer<float> outputAccumulator;
    GrowableBuffer<float> previewAccumulator;
    GrowableBuffer<ScalerColumn> outputColumns;
    GrowableBuffer<ScalerColumn> previewColumns;
    ScaleBands bands;
    NextRead nextRead;
    HelperWork helperWork;
    AudioPacer pacer;
    AudioPackets packets;
    // Last, so that it is stopped before the memory it works on is released.
    HelperThread helper;

    Working() = default;
    Working(const Working&) = delete;
    Working& operator=(const Working&) = delete;
    ~Working() {
        helper.withdraw();
        imageBufferRelease(output);
        imageBufferRelease(preview);
    }
};

bool settingsUsable(int captureWidth, int captureHeight, int outputWidth, int outputHeight) {
    return captureWidth >= 1 && captureHeight >= 1 && captureWidth <= kMaxImageWidth &&
           captureHeight <= kMaxScalerSource && outputWidth >= 1 && outputHeight >= 1 &&
           outputWidth <= captureWidth && outputHeight <= captureHeight;
}

}  // namespace

int runOutputDriver(FlvWriter& writer, FrameSpool& frames, File* soundSpool, int captureLeft,
                    int captureTop, int captureWidth, int captureHeight, int outputWidth,
                    int outputHeight, File& outputFile, ProgressSink& progress, int recordAudio,
                    const std::string& thumbnailPath) {
    if (!settingsUsable(captureWidth, captureHeight, outputWidth, outputHeight) ||
        (recordAudio == 1 && soundSpool == nullptr)) {
        return 0;
    }
    int previewWidth = 0;
    int previewHeight = 0;
    previewSize(outputWidth, outputHeight, previewWidth, previewHeight);
    const bool hasPreview = previewWidth > 0 && previewHeight > 0;
    const BitmapInfoHeader previewInfo = previewBitmapInfo(previewWidth, previewHeight);
    const CaptureRect capture{captureLeft, captureTop, captureWidth, captureHeight};

    auto work = std::make_unique<Working>();
    ImageBuffer source;
    source.width = static_cast<uint16_t>(captureWidth);
    source.height = static_cast<uint16_t>(captureHeight);
    source.stride = static_cast<uint16_t>(captureWidth * 3);

    if (flvBegin(writer, outputFile, recordAudio, outputWidth, outputHeight) != 1) {
        return 0;
    }
    // Without a second thread the same work runs on this one, frame after frame.
    const bool threaded = work->helper.start() == 1;

    int endOfSound = 0;
    uint32_t framesDone = 0;
    int current = 0;          // the slot of the frame being written
    bool frameReady = false;  // read at the end of the frame before
    for (;;) {
        if (progress.cancelRequested()) {
            return 0;
        }
        FrameSlot& frame = work->slots[current];
        if (!frameReady && readFrame(frames, capture, frame) != 1) {
            return 0;
        }
        source.pixels = frame.cropped.data();

        // The preview comes from the cropped frame with its cursor, not from the
        // watermarked output.
        const bool thumbnailDue = framesDone + 1 == 1 || framesDone + 1 == 10;
        ScaleJob outputJob;
        if (scaleJobSetup(outputJob, source, work->output, static_cast<uint16_t>(outputWidth),
                          static_cast<uint16_t>(outputHeight), work->outputAccumulator,
                          work->outputColumns) != 1) {
            return 0;
        }
        ScaleBands& bands = work->bands;
        bands.prepare(0, outputJob);
        bands.bandCount[1] = 0;
        bool previewReady = false;
        if (hasPreview && (thumbnailDue || progress.showsPreview())) {
            ScaleJob previewJob;
            previewReady = scaleJobSetup(previewJob, source, work->preview,
                                         static_cast<uint16_t>(previewWidth),
                                         static_cast<uint16_t>(previewHeight),
                                         work->previewAccumulator, work->previewColumns) == 1;
            if (previewReady) {
                bands.prepare(1, previewJob);
            }
        }
        bands.restart();
        NextRead& next = work->nextRead;
        next.frames = &frames;
        next.capture = &capture;
        next.slot = frame.last == 1 ? nullptr : &work->slots[1 - current];
        next.taken.store(false, std::memory_order_relaxed);
        next.result = 0;
        if (threaded) {
            work->helperWork = HelperWork{&bands, &next};
            work->helper.post(&helperTask, &work->helperWork);
        }
        bands.run();
        if (!bands.finished()) {
            // The rest is in the helper's hands; it marks when it completes the last band.
            work->helper.waitMark();
        }

        if (stampWatermark(work->output.pixels, outputWidth, outputHeight) != 1) {
            return 0;
        }
        if (flvWriteVideoTag(writer, outputFile, work->output.pixels, outputWidth, outputHeight,
                             frame.duration) != 1) {
            return 0;
        }
        if (recordAudio == 1 && endOfSound == 0) {
            int packetCount = 0;
            if (encodeDueAudio(work->pacer, *soundSpool, frame.duration, work->packets, endOfSound,
                               packetCount) != 1) {
                return 0;
            }
            for (int j = 0; j < packetCount; ++j) {
                if (flvWriteAudioPacket(writer, outputFile, work->packets, j) != 1) {
                    return 0;
                }
            }
        }
        ++framesDone;

        if (previewReady && progress.showsPreview()) {
            progress.showPreview(previewInfo, work->preview.pixels);
        }
        if (frame.total > 0) {
            progress.setPercent(static_cast<uint32_t>(uint64_t{framesDone} * 100 /
                                                      static_cast<uint64_t>(frame.total)));
        }
        if (previewReady && thumbnailDue) {
            // A thumbnail that cannot be written does not affect the recording.
            writeThumbnail(thumbnailPath, previewInfo, work->preview.pixels);
        }
        if (frame.last == 1) {
            return flvFinish(writer, outputFile) == 1 ? 1 : 0;
        }
        // The next frame: read it here unless the helper has already taken it, then
        // leave the helper free for the next task.
        if (!next.take()) {
            work->helper.wait();
        }
        work->helper.withdraw();
        if (next.result != 1) {
            return 0;
        }
        current = 1 - current;
        frameReady = true;
    }
}

}  // namespace pemlo
