#include "process/output_driver.h"

#include <array>
#include <cstdlib>
#include <memory>

#include "flv/audio_pacer.h"
#include "flv/audio_tags.h"
#include "flv/video_encoder.h"
#include "process/compositing.h"
#include "process/growable_buffer.h"
#include "process/scaler.h"
#include "process/thumbnail.h"

namespace pemlo {
namespace {

// The working memory of one output phase, released however the phase ends.
struct Working {
    unsigned char* framePixels = nullptr;  // grown by spoolReadFrame with realloc
    std::array<unsigned char, kCursorImageBytes> cursor{};
    GrowableBuffer<uint8_t> cropped;
    ImageBuffer output;
    ImageBuffer preview;
    GrowableBuffer<float> outputAccumulator;
    GrowableBuffer<float> previewAccumulator;
    AudioPacer pacer;
    AudioPackets packets;

    Working() = default;
    Working(const Working&) = delete;
    Working& operator=(const Working&) = delete;
    ~Working() {
        std::free(framePixels);
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

    auto work = std::make_unique<Working>();
    ImageBuffer source;
    source.width = static_cast<uint16_t>(captureWidth);
    source.height = static_cast<uint16_t>(captureHeight);
    source.stride = static_cast<uint16_t>(captureWidth * 3);

    if (flvBegin(writer, outputFile, recordAudio, outputWidth, outputHeight) != 1) {
        return 0;
    }

    int endOfSound = 0;
    uint32_t framesDone = 0;
    for (;;) {
        if (progress.cancelRequested()) {
            return 0;
        }
        uint32_t rawSize = 0;
        int last = 0;
        uint16_t pitch = 0;
        uint16_t duration = 0;
        uint16_t cursorX = 0;
        uint16_t cursorY = 0;
        int cursorPresent = 0;
        if (spoolReadFrame(frames, work->framePixels, rawSize, last, pitch, duration,
                           work->cursor.data(), cursorX, cursorY, cursorPresent) != 1) {
            return 0;
        }
        if (cropFrame(work->framePixels, rawSize, pitch, captureLeft, captureTop, captureWidth,
                      captureHeight, work->cropped) == 0) {
            return 0;
        }
        source.pixels = work->cropped.data();
        if (cursorPresent == 1) {
            // The spool keeps the low 16 bits of a corner that may lie left of or above
            // the screen.
            const int32_t x = static_cast<int16_t>(cursorX) - captureLeft;
            const int32_t y = static_cast<int16_t>(cursorY) - captureTop;
            if (overlayCursor(work->cropped.data(), captureWidth, captureHeight,
                              work->cursor.data(), x, y) == 0) {
                return 0;
            }
        }
        if (scaleAreaAverage(source, work->output, static_cast<uint16_t>(outputWidth),
                             static_cast<uint16_t>(outputHeight), work->outputAccumulator) != 1 ||
            stampWatermark(work->output.pixels, outputWidth, outputHeight) != 1) {
            return 0;
        }
        if (flvWriteVideoTag(writer, outputFile, work->output.pixels, outputWidth, outputHeight,
                             duration) != 1) {
            return 0;
        }
        if (recordAudio == 1 && endOfSound == 0) {
            int packetCount = 0;
            if (encodeDueAudio(work->pacer, *soundSpool, duration, work->packets, endOfSound,
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

        // The preview comes from the cropped frame with its cursor, not from the
        // watermarked output.
        const bool thumbnailDue = framesDone == 1 || framesDone == 10;
        bool previewReady = false;
        if (hasPreview && (thumbnailDue || progress.showsPreview())) {
            previewReady = scaleAreaAverage(
                               source, work->preview, static_cast<uint16_t>(previewWidth),
                               static_cast<uint16_t>(previewHeight), work->previewAccumulator) == 1;
            if (previewReady && progress.showsPreview()) {
                progress.showPreview(previewInfo, work->preview.pixels);
            }
        }
        const auto total = static_cast<uint64_t>(spoolFrameCount(frames));
        if (total > 0) {
            progress.setPercent(static_cast<uint32_t>(uint64_t{framesDone} * 100 / total));
        }
        if (previewReady && thumbnailDue) {
            // A thumbnail that cannot be written does not affect the recording.
            writeThumbnail(thumbnailPath, previewInfo, work->preview.pixels);
        }
        if (last == 1) {
            return flvFinish(writer, outputFile) == 1 ? 1 : 0;
        }
    }
}

}  // namespace pemlo
