// The recorded sound through the sound recorder, its timeline and the output driver,
// from a scripted device: what reaches the FLV.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "capture/memory_sound_device.h"
#include "capture/sound_recorder.h"
#include "process/output_driver.h"
#include "tests/process/driver_support.h"
#include "tests/support/scripted_sound.h"

namespace pemlo {
namespace {

using testing::Bytes;
using testing::FakeScreen;
using testing::FlvTag;
using testing::MemoryFile;
using testing::recordScript;
using testing::ScreenFrame;
using testing::SoundScript;
using testing::SoundTake;

constexpr uint32_t kW = 64;
constexpr uint32_t kH = 48;

class QuietProgress final : public ProgressSink {
  public:
    void showPreview(const BitmapInfoHeader&, const uint8_t*) override {}
    bool showsPreview() const override { return false; }
    void setPercent(uint32_t) override {}
    bool cancelRequested() override { return false; }
};

// A recording of `seconds` at 10 frames per second whose frames start at clock 0.
struct Recording {
    FakeScreen screen{kW, kH, kW * 4};
    FrameSpool spool;

    explicit Recording(int seconds) {
        for (int i = 0; i < seconds * 10; ++i) {
            ScreenFrame frame;
            frame.pixels.assign(size_t{kW} * 4 * kH, static_cast<uint8_t>(i % 7 == 0 ? 200 : 40));
            frame.durationMs = 100;
            screen.frames.push_back(std::move(frame));
        }
        EXPECT_EQ(
            spoolOpenFile(spool, screen, std::make_unique<MemoryFile>(),
                          CaptureArea{0, 0, static_cast<int32_t>(kW), static_cast<int32_t>(kH)}),
            1);
        for (size_t i = 0; i < screen.frames.size(); ++i) {
            EXPECT_EQ(spoolRecordFrame(spool), 1);
        }
        screen.stopped = true;
    }
};

// Plays `take` through a sound recorder as the device would hand it back; after the
// stop the device hands back the buffer being filled, then the empty rest, unless
// `keepsBuffers`.
// The recorder owns the spool; `spool` is left pointing at it.
void playTake(const SoundTake& take, MemorySoundDevice& device, SoundRecorder& recorder,
              MemoryFile*& spool, bool keepsBuffers = false) {
    device.clockMs = take.startClockMs;
    auto file = std::make_unique<MemoryFile>();
    spool = file.get();
    ASSERT_EQ(startSoundRecording(recorder, device, std::move(file)), 1);
    size_t at = 0;
    int i = 0;
    for (size_t b = 0; b < take.bufferBytes.size(); ++b) {
        const uint32_t bytes = take.bufferBytes[b];
        std::memcpy(device.buffers[i].data(), take.bytes.data() + at, bytes);
        device.recorded[i] = bytes;
        at += bytes;
        if (b == take.notes.size()) {
            device.clockMs = take.stopClockMs;
            ASSERT_EQ(stopSoundRecording(recorder), 1);
            if (keepsBuffers) {
                return;
            }
        } else {
            device.clockMs = take.notes[b].clockMs;
        }
        ASSERT_EQ(onSoundBufferDone(recorder, device.notice(i)), 1);
        i = (i + 1) % kSoundBufferCount;
    }
    if (recorder.stopping == 0) {
        ASSERT_EQ(stopSoundRecording(recorder), 1);
    }
    for (int k = 0; k < kSoundBufferCount; ++k) {
        device.recorded[k] = 0;
        ASSERT_EQ(onSoundBufferDone(recorder, device.notice(k)), 1);
    }
}

struct Flv {
    int result = 0;
    Bytes bytes;
    int audioTags = 0;
    uint32_t lastAudio = 0;
    uint32_t lastVideo = 0;
};

Flv drive(Recording& recording, File& sound) {
    Flv flv;
    FlvWriter writer;
    MemoryFile out;
    QuietProgress progress;
    const std::string thumbnail =
        ::testing::TempDir() + "pemlo_sync_" + std::to_string(::getpid()) + ".bmp";
    OutputJob job;
    job.capture = CaptureArea{0, 0, kW, kH};
    job.outputWidth = kW;
    job.outputHeight = kH;
    job.recordAudio = 1;
    job.soundSpool = &sound;
    job.thumbnailPath = thumbnail;
    flv.result = runOutputDriver(job, recording.spool, writer, out, progress);
    std::filesystem::remove(thumbnail);
    flv.bytes = out.bytes;
    std::vector<FlvTag> tags;
    uint8_t flags = 0;
    EXPECT_TRUE(readFlvTags(out.bytes, tags, flags));
    for (const FlvTag& tag : tags) {
        if (tag.type == 8) {
            ++flv.audioTags;
            flv.lastAudio = tag.timestamp;
        } else if (tag.type == 9) {
            flv.lastVideo = tag.timestamp;
        }
    }
    return flv;
}

SoundScript minute() {
    SoundScript script;
    script.originMs = 0;  // the fake screen's first frame
    script.lengthMs = 60000;
    script.keepSamples = true;
    return script;
}

TEST(SoundSync, ACleanDeviceGivesTheSameFlvAsItsSoundAppendedPlainly) {
    for (double jitter : {0.0, 60.0}) {
        SCOPED_TRACE(jitter);
        SoundScript script = minute();
        script.jitterMs = jitter;
        const SoundTake take = recordScript(script);

        Recording recorded(60);
        MemorySoundDevice device;
        SoundRecorder recorder;
        MemoryFile* spool = nullptr;
        playTake(take, device, recorder, spool);
        soundSetVideoOrigin(recorder, 0);
        ASSERT_EQ(soundReadyForOutput(recorder, 0), 1);
        EXPECT_TRUE(recorder.edits.empty());
        const Flv through = drive(recorded, *soundSpoolFile(recorder));

        Recording again(60);
        MemoryFile plain;
        plain.bytes = take.bytes;
        const Flv reference = drive(again, plain);
        ASSERT_EQ(through.result, 1);
        ASSERT_EQ(reference.result, 1);
        EXPECT_GT(reference.audioTags, 1200);
        EXPECT_TRUE(through.bytes == reference.bytes);
        closeSoundSpool(recorder);
    }
}

TEST(SoundSync, DropoutsAreFilledSoTheSoundLastsAsLongAsThePicture) {
    SoundScript script = minute();
    script.jitterMs = 20;
    script.dropouts = {{15000, 1000}, {30500, 1000}, {45200, 1000}};
    const SoundTake take = recordScript(script);
    Recording recorded(60);
    MemorySoundDevice device;
    SoundRecorder recorder;
    MemoryFile* spool = nullptr;
    playTake(take, device, recorder, spool);
    soundSetVideoOrigin(recorder, 0);
    ASSERT_EQ(soundReadyForOutput(recorder, 0), 1);
    const Flv flv = drive(recorded, *soundSpoolFile(recorder));
    ASSERT_EQ(flv.result, 1);
    // Without the silence the sound would end 3 s before the picture.
    EXPECT_GE(flv.lastAudio + 100, flv.lastVideo);
    EXPECT_LE(flv.lastAudio, flv.lastVideo + 100);

    Recording again(60);
    MemoryFile plain;
    plain.bytes = take.bytes;
    const Flv asRecorded = drive(again, plain);
    EXPECT_LT(asRecorded.lastAudio + 2900, flv.lastAudio);
    closeSoundSpool(recorder);
}

TEST(SoundSync, ADeviceThatKeepsItsBuffersAtTheStopLosesNoRecording) {
    SoundScript script = minute();
    script.lengthMs = 10100;  // the stop falls inside a buffer
    const SoundTake take = recordScript(script);
    Recording recorded(10);
    MemorySoundDevice device;
    SoundRecorder recorder;
    MemoryFile* spool = nullptr;
    playTake(take, device, recorder, spool, true);
    soundSetVideoOrigin(recorder, 0);
    EXPECT_EQ(soundAllAppended(recorder), 0);
    EXPECT_EQ(soundReadyForOutput(recorder, 100), 0);
    ASSERT_EQ(soundReadyForOutput(recorder, kSoundStopWaitMs), 1);
    const Flv flv = drive(recorded, *soundSpoolFile(recorder));
    ASSERT_EQ(flv.result, 1);
    // The sound of the full buffers is there: 43 of them, about 9.98 s.
    EXPECT_EQ(recorder.bytesAppended, 43u * kSoundBufferBytes);
    EXPECT_GE(flv.lastAudio, 9900u);
    // The buffers turning up now change nothing.
    device.recorded[0] = 100;
    EXPECT_EQ(onSoundBufferDone(recorder, device.notice(0)), 1);
    EXPECT_EQ(spool->bytes.size(), 43u * kSoundBufferBytes);
    closeSoundSpool(recorder);
}

}  // namespace
}  // namespace pemlo
