// pemlo-replay: the whole output phase on Linux, from recorded-like input. The input is
// recorded through the real frame spool and sound spool, then the real output driver
// writes the FLV and its thumbnail exactly as the program does.
//
// Nothing is written over an existing file until the new one is complete (see kHelp in
// options.h for what is left on disk in each case).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "capture/frame_spool.h"
#include "capture/memory_sound_device.h"
#include "capture/screen_source.h"
#include "capture/sound_recorder.h"
#include "capture/spool_workers.h"
#include "flv/flv_writer.h"
#include "platform/byte_order.h"
#include "platform/file.h"
#include "process/output_driver.h"
#include "tools/common/descriptor_file.h"
#include "tools/common/file_error.h"
#include "tools/common/new_file.h"
#include "tools/common/output_file.h"
#include "tools/common/removal.h"
#include "tools/common/same_file.h"
#include "tools/common/scratch_file.h"
#include "tools/common/standard_descriptors.h"
#include "tools/common/version.h"
#include "tools/replay/arrow.h"
#include "tools/replay/inputs.h"
#include "tools/replay/options.h"

namespace pemlo::replay {
namespace {

// Whether a progress line is on the terminal without its end yet.
bool progressLineOpen = false;

int fail(const std::string& message) {
    std::fprintf(stderr, "%spemlo-replay: %s\n", progressLineOpen ? "\n" : "", message.c_str());
    progressLineOpen = false;
    return 1;
}

// Where the spools go, and why they failed when they did.
struct Spools {
    std::string folder;
    std::shared_ptr<tools::Failure> frames = std::make_shared<tools::Failure>();
    std::shared_ptr<tools::Failure> sound = std::make_shared<tools::Failure>();

    // "cannot write the frame spool in 'folder': No space left on device"; a failure
    // without a system reason (memory, say) is told as a failed write.
    std::string reason(const tools::Failure& failure, const char* what) const {
        std::string text =
            std::string(failure.err == 0 || failure.writing ? "cannot write " : "cannot read ") +
            what + " in '" + folder + "'";
        if (failure.err != 0) {
            text += std::string(": ") + std::strerror(failure.err);
        }
        return text;
    }
};

// Frames counted while they are spooled: nothing for the first half second (a short
// run stays quiet), then at most ten updates a second.
class SpoolProgress {
  public:
    explicit SpoolProgress(uint64_t total) : total_(total) {}
    void frameDone(int n) {
        const auto now = std::chrono::steady_clock::now();
        if (now - start_ < std::chrono::milliseconds(500) ||
            now - shown_ < std::chrono::milliseconds(100)) {
            return;
        }
        shown_ = now;
        if (total_ > 0) {
            std::fprintf(stderr, "\rspooling frames: %d of %llu", n,
                         static_cast<unsigned long long>(total_));
        } else {
            std::fprintf(stderr, "\rspooling frames: %d", n);
        }
        std::fflush(stderr);
        progressLineOpen = true;
    }
    void end() {
        if (progressLineOpen) {
            std::fputc('\n', stderr);
            progressLineOpen = false;
        }
    }

  private:
    uint64_t total_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point shown_{};
};

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
        progressLineOpen = true;
    }
    // Ctrl+C and the other signals end the run from their handler (tools/common/removal.h).
    bool cancelRequested() override { return false; }
    void end() const {
        if (progressLineOpen) {
            std::fputc('\n', stderr);
            progressLineOpen = false;
        }
    }

  private:
    static constexpr uint32_t kNothing = 1000;
    uint32_t shown_ = kNothing;
};

int recordSound(const Options& o, const Spools& spools, SoundRecorder& recorder,
                MemorySoundDevice& device) {
    SoundInput input;
    std::string error;
    if (!input.open(o.soundPath, error)) {
        return fail(error);
    }
    const int fd = tools::createScratchFile(spools.folder, error);
    if (fd < 0) {
        return fail("cannot create the sound spool: " + error);
    }
    if (!startSoundRecording(recorder, device, tools::descriptorFile(fd, spools.sound))) {
        return fail(spools.reason(*spools.sound, "the sound spool"));
    }
    for (int i = 0;; i = (i + 1) % kSoundBufferCount) {
        const size_t got = input.read(device.buffers[i].data(), kSoundBufferBytes);
        if (got == 0) {
            break;
        }
        device.recorded[i] = static_cast<uint32_t>(got);
        if (!onSoundBufferDone(recorder, device.notice(i))) {
            return fail(spools.reason(*spools.sound, "the sound spool"));
        }
    }
    if (input.readErrno() != 0) {
        return fail("--sound: " + tools::fileError("read", o.soundPath, input.readErrno()));
    }
    // The device hands back the buffers it still holds, empty.
    if (!stopSoundRecording(recorder)) {
        return fail("cannot stop the sound recording");
    }
    for (int i = 0; i < kSoundBufferCount; ++i) {
        device.recorded[i] = 0;
        if (!onSoundBufferDone(recorder, device.notice(i))) {
            return fail(spools.reason(*spools.sound, "the sound spool"));
        }
    }
    return soundAllAppended(recorder) ? 0 : fail(spools.reason(*spools.sound, "the sound spool"));
}

int recordFrames(const Options& o, const Spools& spools, FrameSpool& spool, ReplayScreen& screen) {
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
    SpoolProgress progress(frames.framesInFile(frameBytes));
    // The frames are grabbed here and compressed on the spool workers, as the program
    // does; every frame is kept, so a frame waits for room instead of coming late.
    SpoolWorkers workers;
    if (!workers.start(spool, o.threads, kSpoolQueueBytes, 100)) {
        return fail("cannot start the spool workers");
    }
    const auto spoolFailure = [&](int n) {
        return fail(spools.reason(*spools.frames, "the frame spool") + " (frame " +
                    std::to_string(n) + ")");
    };
    for (int n = 1;; ++n) {
        const int got = frames.next(screen.frame, frameBytes);
        if (got == 0) {
            break;
        }
        if (got < 0) {
            if (frames.readErrno() != 0) {
                return fail("--frames: " +
                            tools::fileError("read", frames.name(), frames.readErrno()));
            }
            return fail("--frames: '" + frames.name() + "' ends inside frame " + std::to_string(n) +
                        " (" + std::to_string(frameBytes) + " bytes per frame)");
        }
        uint16_t duration = static_cast<uint16_t>(o.fps > 0 ? 1000 / o.fps : 0);
        std::string line;
        if (o.fps == 0 && (durations.next(line, error) != 1 || !parseDuration(line, duration))) {
            return fail("--durations: " +
                        (!error.empty() ? error
                                        : "'" + o.durationsPath + "' line " + std::to_string(n) +
                                              " should hold the duration of frame " +
                                              std::to_string(n) + " in milliseconds (0 to 65535)"));
        }
        screen.cursorShown = false;
        if (!o.cursorPath.empty() &&
            (cursors.next(line, error) != 1 ||
             !parseCursor(line, screen.cursorShown, screen.cursorX, screen.cursorY))) {
            return fail("--cursor: " + (!error.empty()
                                            ? error
                                            : "'" + o.cursorPath + "' line " + std::to_string(n) +
                                                  " should hold 'x y' or '-'"));
        }
        workers.waitForRoom();
        if (workers.tick(static_cast<uint32_t>(n) * 100) != TickResult::Recorded) {
            return spoolFailure(n);
        }
        screen.clockMs += duration;
        progress.frameDone(n);
    }
    if (!workers.finish()) {
        return spoolFailure(static_cast<int>(workers.framesRecorded()));
    }
    progress.end();
    if (spoolRecordedFrames(spool) == 0) {
        return fail("--frames: '" + o.framesPath + "' holds no frame");
    }
    return 0;
}

// Refuses outputs that cannot be written or would replace an input, before anything is.
int checkTargets(const Options& o, const std::string& thumbnail) {
    const std::vector<std::string> inputs = {o.framesPath, o.durationsPath, o.cursorPath,
                                             o.soundPath};
    for (const std::string& target : {o.outputPath, thumbnail}) {
        const std::string refusal = tools::OutputFile::check(target);
        if (!refusal.empty()) {
            return fail(refusal);
        }
        const std::string input = tools::sameFileAs(target, inputs);
        if (!input.empty()) {
            return fail("will not write '" + target + "': it is the input '" +
                        (input == "-" ? std::string("standard input") : input) + "'");
        }
    }
    return 0;
}

// What the driver left in the thumbnail's new file: nothing (it makes none when the
// picture is too small for a preview), a whole BMP (its header gives the file's own
// size), or a broken one.
enum class Thumbnail { None, Complete, Broken };

Thumbnail thumbnailWritten(int fd) {
    struct stat st = {};
    if (::fstat(fd, &st) != 0) {
        return Thumbnail::Broken;
    }
    if (st.st_size == 0) {
        return Thumbnail::None;
    }
    unsigned char head[6] = {};
    if (::pread(fd, head, sizeof head, 0) != sizeof head) {
        return Thumbnail::Broken;
    }
    const uint32_t size = getLe32(head + 2);
    return head[0] == 'B' && head[1] == 'M' && size == static_cast<uint64_t>(st.st_size)
               ? Thumbnail::Complete
               : Thumbnail::Broken;
}

int run(int argc, char** argv) {
    Options o;
    std::string error;
    if (!parseOptions(argc, argv, o, error)) {
        return fail(error);
    }
    if (o.help) {
        std::fputs(kHelp, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (o.version) {
        return tools::printVersion("pemlo-replay");
    }
    const std::string thumbnail = thumbnailPathFor(o.outputPath);
    if (checkTargets(o, thumbnail) != 0) {
        return 1;
    }
    // Scratch spools beside the output, without a name.
    Spools spools;
    spools.folder = tools::folderOf(o.outputPath);

    ReplayScreen screen(o);
    FrameSpool frameSpool;
    const CaptureArea area{o.captureLeft, o.captureTop, o.captureWidth, o.captureHeight};
    const int frameFd = tools::createScratchFile(spools.folder, error);
    if (frameFd < 0) {
        return fail("cannot create the frame spool: " + error);
    }
    if (!spoolOpenFile(frameSpool, screen, tools::descriptorFile(frameFd, spools.frames), area)) {
        return fail("cannot start the frame spool");
    }
    MemorySoundDevice device;
    SoundRecorder recorder;
    const int recordAudio = o.soundPath.empty() ? 0 : 1;
    if (recordAudio && recordSound(o, spools, recorder, device) != 0) {
        return 1;
    }
    const auto recordStart = std::chrono::steady_clock::now();
    if (recordFrames(o, spools, frameSpool, screen) != 0) {
        return 1;
    }
    const auto outputStart = std::chrono::steady_clock::now();

    // The FLV and the thumbnail go to new files that replace the targets once complete.
    // The driver opens the thumbnail by name: it is given this run's own descriptor.
    tools::OutputFile flvOut;
    tools::OutputFile bmpOut;
    if (!flvOut.create(o.outputPath, error) || !bmpOut.create(thumbnail, error)) {
        return fail(error);
    }
    auto flvFailure = std::make_shared<tools::Failure>();
    const int flvFd = ::fcntl(flvOut.descriptor(), F_DUPFD_CLOEXEC, 3);
    if (flvFd < 0) {
        return fail(tools::fileError("write", o.outputPath, errno));
    }
    FilePtr output = tools::descriptorFile(flvFd, flvFailure);
    const std::string thumbnailByDescriptor =
        "/proc/self/fd/" + std::to_string(bmpOut.descriptor());
    TerminalProgress progress;
    FlvWriter writer;
    OutputJob job;
    job.capture = area;
    job.outputWidth = o.outputWidth;
    job.outputHeight = o.outputHeight;
    job.recordAudio = recordAudio;
    job.soundSpool = soundSpoolFile(recorder);
    job.thumbnailPath = thumbnailByDescriptor;
    job.threads = o.threads;
    const int done = runOutputDriver(job, frameSpool, writer, *output, progress);
    const auto outputEnd = std::chrono::steady_clock::now();
    progress.end();
    const int32_t frameCount = spoolFrameCount(frameSpool);
    captureRelease(frameSpool);
    closeSoundSpool(recorder);
    const std::string untouched =
        "; '" + o.outputPath + "' and '" + thumbnail + "' were left as they were";
    if (done != 1) {
        output->close();
        if (flvFailure->err != 0) {
            return fail(tools::fileError("write", o.outputPath, flvFailure->err) + untouched);
        }
        if (spools.frames->err != 0) {
            return fail(spools.reason(*spools.frames, "the frame spool") + untouched);
        }
        if (spools.sound->err != 0) {
            return fail(spools.reason(*spools.sound, "the sound spool") + untouched);
        }
        return fail("There was an internal error while processing recorded data." + untouched);
    }
    const Thumbnail thumbnailDone = thumbnailWritten(bmpOut.descriptor());
    if (!flvOut.commit(error)) {
        return fail(error + untouched);
    }
    if (thumbnailDone == Thumbnail::Broken) {
        return fail("'" + o.outputPath +
                    "' is complete, but its thumbnail could not be written; '" + thumbnail +
                    "' was left as it was");
    }
    if (thumbnailDone == Thumbnail::None) {
        bmpOut.discard();
    } else if (!bmpOut.commit(error)) {
        return fail("'" + o.outputPath + "' is complete, but: " + error);
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
    if (!pemlo::tools::makeStandardDescriptorsValid()) {
        return 1;
    }
    pemlo::tools::installRemovalOnSignals("pemlo-replay");
    return pemlo::replay::run(argc, argv);
}
