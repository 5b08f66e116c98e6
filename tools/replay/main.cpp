// pemlo-replay: the whole output phase on Linux, from recorded-like input. The input is
// recorded through the real frame spool and sound spool, then the real output driver
// writes the FLV and its thumbnail exactly as the program does.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/settings.h"
#include "capture/frame_spool.h"
#include "capture/memory_sound_device.h"
#include "capture/screen_source.h"
#include "capture/sound_recorder.h"
#include "flv/flv_writer.h"
#include "platform/file.h"
#include "process/output_driver.h"
#include "tools/replay/arrow.h"
#include "tools/replay/inputs.h"
#include "tools/replay/options.h"

namespace pemlo::replay {
namespace {

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int /*signal*/) {
    interrupted = 1;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "pemlo-replay: %s\n", message.c_str());
    return 1;
}

// Hands the frame spool one input frame per grab, with its cursor and clock.
class ReplayScreen final : public ScreenSource {
  public:
    ReplayScreen(const Options& o) : options_(o), cursorImage_(arrowCursor()) {}

    std::vector<unsigned char> frame;
    bool cursorShown = false;
    int32_t cursorX = 0;
    int32_t cursorY = 0;
    uint32_t clockMs = 0;

    int lockFrame(ScreenImage& image) override {
        image.pixels = frame.data();
        image.pitch = options_.pitch;
        image.width = static_cast<uint32_t>(options_.screenWidth);
        image.height = static_cast<uint32_t>(options_.screenHeight);
        return 1;
    }
    int unlockFrame() override { return 1; }
    int queryCursor(CursorState& cursor) override {
        cursor.showing = cursorShown ? 1 : 0;
        cursor.x = cursorX;
        cursor.y = cursorY;
        return 1;
    }
    const unsigned char* drawCursor() override { return cursorImage_.data(); }
    int cursorHotspot(int32_t& x, int32_t& y) override {
        x = 0;  // the input gives the image's corner, not the pointer's tip
        y = 0;
        return 1;
    }
    uint32_t nowMs() override { return clockMs; }

  private:
    const Options& options_;
    std::vector<unsigned char> cursorImage_;
};

class TerminalProgress final : public ProgressSink {
  public:
    // A terminal shows no pictures; the thumbnail is still written.
    bool showsPreview() const override { return false; }
    void showPreview(const BitmapInfoHeader& /*info*/, const uint8_t* /*pixels*/) override {}
    void setPercent(uint32_t percent) override {
        if (percent == shown_) {
            return;
        }
        shown_ = percent;
        const uint32_t filled = percent * 40 / 100;
        std::string bar(filled, '#');
        bar.append(40 - filled, '.');
        std::fprintf(stderr, "\r[%s] %3u%%", bar.c_str(), percent);
        std::fflush(stderr);
    }
    bool cancelRequested() override { return interrupted != 0; }
    void end() const {
        if (shown_ != kNothing) {
            std::fputc('\n', stderr);
        }
    }

  private:
    static constexpr uint32_t kNothing = 1000;
    uint32_t shown_ = kNothing;
};

int recordSound(const Options& o, const std::string& spoolPath, SoundRecorder& recorder,
                MemorySoundDevice& device) {
    SoundInput input;
    std::string error;
    if (!input.open(o.soundPath, error)) {
        return fail(error);
    }
    if (!startSoundRecording(recorder, device, createTemporaryFile(spoolPath))) {
        return fail("cannot create the sound spool");
    }
    for (int i = 0;; i = (i + 1) % kSoundBufferCount) {
        const size_t got = input.read(device.buffers[i].data(), kSoundBufferBytes);
        if (got == 0) {
            break;
        }
        device.recorded[i] = static_cast<uint32_t>(got);
        if (!onSoundBufferDone(recorder, device.notice(i))) {
            return fail("cannot write the sound spool");
        }
    }
    // The device hands back the buffers it still holds, empty.
    if (!stopSoundRecording(recorder)) {
        return fail("cannot stop the sound recording");
    }
    for (int i = 0; i < kSoundBufferCount; ++i) {
        device.recorded[i] = 0;
        if (!onSoundBufferDone(recorder, device.notice(i))) {
            return fail("cannot write the sound spool");
        }
    }
    return soundAllAppended(recorder) ? 0 : fail("the sound spool is incomplete");
}

int recordFrames(const Options& o, FrameSpool& spool, ReplayScreen& screen) {
    std::string error;
    FrameInput frames;
    if (!frames.open(o.framesPath, error)) {
        return fail(error);
    }
    LineInput durations;
    if (!o.durationsPath.empty() && !durations.open(o.durationsPath, error)) {
        return fail("--durations: " + error);
    }
    LineInput cursors;
    if (!o.cursorPath.empty() && !cursors.open(o.cursorPath, error)) {
        return fail("--cursor: " + error);
    }
    const size_t frameBytes = static_cast<size_t>(o.pitch) * static_cast<size_t>(o.screenHeight);
    for (int n = 1;; ++n) {
        const int got = frames.next(screen.frame, frameBytes);
        if (got == 0) {
            break;
        }
        if (got < 0) {
            return fail("--frames: the input ends inside frame " + std::to_string(n) + " (" +
                        std::to_string(frameBytes) + " bytes per frame)");
        }
        uint16_t duration = static_cast<uint16_t>(o.fps > 0 ? 1000 / o.fps : 0);
        std::string line;
        if (o.fps == 0 && (!durations.next(line) || !parseDuration(line, duration))) {
            return fail("--durations: line " + std::to_string(n) +
                        " should hold the duration of frame " + std::to_string(n) +
                        " in milliseconds (0 to 65535)");
        }
        screen.cursorShown = false;
        if (!o.cursorPath.empty() &&
            (!cursors.next(line) ||
             !parseCursor(line, screen.cursorShown, screen.cursorX, screen.cursorY))) {
            return fail("--cursor: line " + std::to_string(n) + " should hold 'x y' or '-'");
        }
        if (!spoolRecordFrame(spool)) {
            return fail("cannot write frame " + std::to_string(n) + " to the frame spool");
        }
        screen.clockMs += duration;
    }
    if (spool.count == 0) {
        return fail("--frames: the input holds no frame");
    }
    return 0;
}

int run(int argc, char** argv) {
    Options o;
    std::string error;
    if (!parseOptions(argc, argv, o, error)) {
        return fail(error);
    }
    // Scratch spools beside the output, deleted as soon as they are open.
    const std::string scratch = o.outputPath + "." + std::to_string(::getpid());

    ReplayScreen screen(o);
    FrameSpool frameSpool;
    const CaptureArea area{o.captureLeft, o.captureTop, o.captureWidth, o.captureHeight};
    if (!spoolOpenFile(frameSpool, screen, createTemporaryFile(scratch + ".vid.tmp"), area)) {
        return fail("cannot create the frame spool beside '" + o.outputPath + "'");
    }
    MemorySoundDevice device;
    SoundRecorder recorder;
    const int recordAudio = o.soundPath.empty() ? 0 : 1;
    if (recordAudio && recordSound(o, scratch + ".snd.tmp", recorder, device) != 0) {
        return 1;
    }
    const auto recordStart = std::chrono::steady_clock::now();
    if (recordFrames(o, frameSpool, screen) != 0) {
        return 1;
    }
    const auto outputStart = std::chrono::steady_clock::now();

    FilePtr output = createFile(o.outputPath);
    if (output == nullptr) {
        return fail("cannot create '" + o.outputPath + "': " + std::strerror(errno));
    }
    const std::string thumbnail = thumbnailPathFor(o.outputPath);
    std::signal(SIGINT, onInterrupt);
    TerminalProgress progress;
    FlvWriter writer;
    const int done = runOutputDriver(writer, frameSpool, soundSpoolFile(recorder), o.captureLeft,
                                     o.captureTop, o.captureWidth, o.captureHeight, o.outputWidth,
                                     o.outputHeight, *output, progress, recordAudio, thumbnail);
    const auto outputEnd = std::chrono::steady_clock::now();
    progress.end();
    const int32_t frameCount = spoolFrameCount(frameSpool);
    captureRelease(frameSpool);
    closeSoundSpool(recorder);
    if (done != 1 && interrupted != 0) {
        output->close();
        deleteFile(o.outputPath);
        deleteFile(thumbnail);
        return fail("cancelled; '" + o.outputPath + "' and its thumbnail were removed");
    }
    if (done != 1) {
        output->close();
        return fail("There was an internal error while processing recorded data.");
    }
    const double recording = std::chrono::duration<double>(outputStart - recordStart).count();
    const double outputTime = std::chrono::duration<double>(outputEnd - outputStart).count();
    std::fprintf(stderr,
                 "File successfully created.\n%d frames: recorded into the spools in %.3f s, "
                 "output phase %.3f s (%.1f frames/s)\n",
                 frameCount, recording, outputTime, outputTime > 0 ? frameCount / outputTime : 0.0);
    return 0;
}

}  // namespace
}  // namespace pemlo::replay

int main(int argc, char** argv) {
    return pemlo::replay::run(argc, argv);
}
