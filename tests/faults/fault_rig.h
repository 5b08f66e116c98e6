// A short recording with sound played through the real frame spool, sound recorder and
// output driver, over in-memory files of which one can be made to fail at a chosen
// write, read, seek or close.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/frame_spool.h"
#include "capture/memory_sound_device.h"
#include "capture/sound_recorder.h"
#include "flv/flv_writer.h"
#include "process/output_driver.h"
#include "tests/process/driver_support.h"
#include "tests/support/memory_file.h"

namespace pemlo::testing {

enum class Fault { None, FailWrite, ShortWrite, FailRead, FailSeek, FailClose };

// Which call of a kind fails (counting from 0). Once it has failed the file stays
// failed for that kind, like a full disk or a lost device.
struct FaultPlan {
    Fault kind = Fault::None;
    int at = -1;
};

// What a file saw.
struct FaultLog {
    int writes = 0;
    int reads = 0;
    int seeks = 0;
    int closes = 0;
    bool fired = false;
    int writesAfterFault = 0;  // write calls made after the fault fired
};

class FaultyFile final : public File {
  public:
    FaultyFile(MemoryFile& store, FaultPlan plan, FaultLog& log)
        : store_(store), plan_(plan), log_(log) {}

    uint32_t write(const void* data, uint32_t count) override {
        const int call = log_.writes++;
        if (log_.fired) {
            ++log_.writesAfterFault;
        }
        if (isWriteFault() && call >= plan_.at) {
            log_.fired = true;
            const uint32_t part = plan_.kind == Fault::ShortWrite ? count / 2 : 0;
            return part > 0 ? store_.write(data, part) : 0;
        }
        return store_.write(data, count);
    }
    int64_t read(void* data, uint32_t count) override {
        const int call = log_.reads++;
        if (plan_.kind == Fault::FailRead && call >= plan_.at) {
            log_.fired = true;
            return -1;
        }
        return store_.read(data, count);
    }
    bool seek(uint64_t offset) override { return seekAllowed() && store_.seek(offset); }
    bool seekEnd() override { return seekAllowed() && store_.seekEnd(); }
    int64_t tell() override { return store_.tell(); }
    bool close() override {
        const int call = log_.closes++;
        const bool closed = store_.close();
        if (plan_.kind == Fault::FailClose && call >= plan_.at) {
            log_.fired = true;
            return false;
        }
        return closed;
    }
    bool isOpen() const override { return store_.isOpen(); }

  private:
    bool isWriteFault() const {
        return plan_.kind == Fault::FailWrite || plan_.kind == Fault::ShortWrite;
    }
    bool seekAllowed() {
        const int call = log_.seeks++;
        if (plan_.kind == Fault::FailSeek && call >= plan_.at) {
            log_.fired = true;
            return false;
        }
        return true;
    }

    MemoryFile& store_;
    FaultPlan plan_;
    FaultLog& log_;
};

class QuietProgress final : public ProgressSink {
  public:
    void showPreview(const BitmapInfoHeader& /*info*/, const uint8_t* /*pixels*/) override {
        ++previews;
    }
    void setPercent(uint32_t percent) override { lastPercent = percent; }
    bool cancelRequested() override { return false; }
    int previews = 0;
    uint32_t lastPercent = 0;
};

// The recording: twelve frames of 100 ms (so the thumbnail is written twice) of a 64 x 48
// screen, the cursor on every other frame, and 1.2 s of a tone at 22,050 Hz.
inline constexpr int kRigFrames = 12;
inline constexpr int kRigScreenW = 64;
inline constexpr int kRigScreenH = 48;
inline constexpr int kRigPitch = kRigScreenW * 4;
inline constexpr int kRigOutputW = 40;
inline constexpr int kRigOutputH = 30;
inline constexpr uint32_t kRigSoundBytes = kRigFrames * 100 * kSoundSampleRate / 1000 * 2;

struct RigPlans {
    FaultPlan frameSpool;
    FaultPlan soundSpool;
    FaultPlan flv;
    std::string thumbnailPath;
};

struct RigOutcome {
    FaultLog frameLog;
    FaultLog soundLog;
    FaultLog flvLog;
    // Recording.
    int recordFailedAt = -1;           // frame whose spoolRecordFrame returned 0
    int soundFailedAt = -1;            // buffer delivery whose onSoundBufferDone returned 0
    std::vector<int> frameWritesDone;  // frame spool writes after each recorded frame
    std::vector<int> blocksPerFrame;   // cursor and frame blocks of each recorded frame
    std::vector<int> soundDeliveries;  // sound spool writes after each delivery
    uint64_t soundBytesAppended = 0;
    bool frameSpoolReleased = false;  // the spool's file was closed and dropped
    // Output phase.
    bool driverRan = false;
    int driverResult = -1;
    Bytes flv;
    bool flvOpen = false;
};

// A still picture with a patch that moves from frame to frame, so that frames change
// some tiles; every fourth frame repeats the one before and changes none.
inline Bytes rigScreen(int i) {
    Bytes pixels(static_cast<size_t>(kRigPitch) * kRigScreenH);
    for (size_t k = 0; k < pixels.size(); ++k) {
        pixels[k] = static_cast<uint8_t>(k * 7 + (k >> 5));
    }
    const int patch = i % 4 == 3 ? i - 1 : i;
    if (patch > 0) {
        const int top = patch * 7 % 40;
        const int left = patch * 11 % 50;
        for (int y = top; y < top + 6; ++y) {
            for (int x = left; x < left + 10 && x < kRigScreenW; ++x) {
                pixels[static_cast<size_t>(y) * kRigPitch + static_cast<size_t>(x) * 4] ^=
                    static_cast<uint8_t>(patch * 37);
            }
        }
    }
    return pixels;
}

inline void fillTone(MemorySoundDevice& device, int buffer, uint32_t bytes, uint32_t& sample) {
    device.recorded[buffer] = bytes;
    for (uint32_t k = 0; k + 1 < bytes; k += 2, ++sample) {
        const auto v = static_cast<int16_t>(9000.0 * std::sin(sample * 0.0712));
        device.buffers[buffer][k] = static_cast<unsigned char>(static_cast<uint16_t>(v) & 0xFF);
        device.buffers[buffer][k + 1] = static_cast<unsigned char>(static_cast<uint16_t>(v) >> 8);
    }
}

// Plays one recording the way the Windows program does: a tick per frame, each full
// sound buffer appended as it comes back, the device's queued buffers at the stop,
// then the output phase. A failed tick or append ends the recording there (the program
// shows its message and tears down), so the output phase does not run.
inline RigOutcome runRig(const RigPlans& plans) {
    RigOutcome out;
    FakeScreen screen(kRigScreenW, kRigScreenH, kRigPitch);
    for (int i = 0; i < kRigFrames; ++i) {
        ScreenFrame frame;
        frame.pixels = rigScreen(i);
        frame.cursor = i % 2 == 0;
        frame.cursorX = 10 + i;
        frame.cursorY = 5 + i;
        frame.durationMs = 100;
        screen.frames.push_back(std::move(frame));
    }
    MemoryFile frameStore;
    MemoryFile soundStore;
    MemoryFile flvStore;
    FrameSpool spool;
    if (spoolOpenFile(spool, screen,
                      std::make_unique<FaultyFile>(frameStore, plans.frameSpool, out.frameLog),
                      CaptureArea{0, 0, kRigScreenW, kRigScreenH}) != 1) {
        return out;
    }
    MemorySoundDevice device;
    SoundRecorder recorder;
    if (startSoundRecording(
            recorder, device,
            std::make_unique<FaultyFile>(soundStore, plans.soundSpool, out.soundLog)) != 1) {
        return out;
    }

    uint32_t sample = 0;
    uint32_t soundSent = 0;
    int nextBuffer = 0;
    auto deliver = [&](uint32_t bytes) {
        fillTone(device, nextBuffer, bytes, sample);
        soundSent += bytes;
        const int ok = onSoundBufferDone(recorder, device.notice(nextBuffer));
        out.soundDeliveries.push_back(out.soundLog.writes);
        nextBuffer = (nextBuffer + 1) % kSoundBufferCount;
        return ok;
    };
    for (int i = 0; i < kRigFrames; ++i) {
        if (spoolRecordFrame(spool) != 1) {
            out.recordFailedAt = i;
            break;
        }
        out.frameWritesDone.push_back(out.frameLog.writes);
        const FrameRecord& record = spool.index[i];
        out.blocksPerFrame.push_back((record.cursorBlockSize != -1 ? 1 : 0) +
                                     (record.frameBlockSize > 0 ? 1 : 0));
        // A buffer comes back each time 10,240 bytes of sound have been recorded.
        const uint32_t soundSoFar = static_cast<uint32_t>(i + 1) * kRigSoundBytes / kRigFrames;
        while (out.soundFailedAt < 0 && soundSent + kSoundBufferBytes <= soundSoFar) {
            if (deliver(kSoundBufferBytes) != 1) {
                out.soundFailedAt = static_cast<int>(out.soundDeliveries.size()) - 1;
            }
        }
        if (out.soundFailedAt >= 0) {
            break;
        }
    }
    screen.stopped = true;
    if (stopSoundRecording(recorder) != 1) {
        return out;
    }
    if (out.recordFailedAt < 0 && out.soundFailedAt < 0) {
        // The device hands back every queued buffer: the rest of the sound, then nothing.
        for (int k = 0; k < kSoundBufferCount && out.soundFailedAt < 0; ++k) {
            const uint32_t rest = kRigSoundBytes - soundSent;
            const uint32_t bytes = rest < kSoundBufferBytes ? rest : kSoundBufferBytes;
            if (deliver(bytes) != 1) {
                out.soundFailedAt = static_cast<int>(out.soundDeliveries.size()) - 1;
            }
        }
    }
    out.soundBytesAppended = recorder.bytesAppended;
    if (out.recordFailedAt >= 0 || out.soundFailedAt >= 0 || soundAllAppended(recorder) != 1) {
        out.frameSpoolReleased = spool.file == nullptr;
        return out;
    }

    QuietProgress progress;
    FlvWriter writer;
    FaultyFile flvFile(flvStore, plans.flv, out.flvLog);
    out.driverRan = true;
    OutputJob job;
    job.capture = CaptureArea{0, 0, kRigScreenW, kRigScreenH};
    job.outputWidth = kRigOutputW;
    job.outputHeight = kRigOutputH;
    job.recordAudio = 1;
    job.soundSpool = soundSpoolFile(recorder);
    job.thumbnailPath = plans.thumbnailPath;
    out.driverResult = runOutputDriver(job, spool, writer, flvFile, progress);
    out.frameSpoolReleased = spool.file == nullptr;
    out.flv = flvStore.bytes;
    out.flvOpen = flvStore.isOpen();
    closeSoundSpool(recorder);
    captureRelease(spool);
    return out;
}

}  // namespace pemlo::testing
