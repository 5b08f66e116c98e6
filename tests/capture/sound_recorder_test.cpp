#include "capture/sound_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fake_sources.h"
#include "tests/support/memory_file.h"

namespace pemlo {
namespace {

using testing::FakeSoundDevice;
using testing::MemoryFile;
using testing::viewOf;

class SoundTest : public ::testing::Test {
  protected:
    FakeSoundDevice device;
    SoundRecorder recorder;
    MemoryFile spool;

    void start() { ASSERT_EQ(startSoundRecording(recorder, device, viewOf(spool)), 1); }
    int done(int i, uint32_t bytes, unsigned char first) {
        device.fill(i, bytes, first);
        return onSoundBufferDone(recorder, device.notice(i));
    }
    std::vector<unsigned char> expected(std::initializer_list<std::pair<uint32_t, int>> parts) {
        std::vector<unsigned char> out;
        for (const auto& [bytes, first] : parts) {
            for (uint32_t k = 0; k < bytes; ++k) {
                out.push_back(static_cast<unsigned char>(first + static_cast<int>(k)));
            }
        }
        return out;
    }
};

TEST_F(SoundTest, StartOpensQueuesEveryBufferThenStarts) {
    start();
    std::vector<std::string> want{"open"};
    for (int i = 0; i < kSoundBufferCount; ++i) {
        want.push_back("prepare" + std::to_string(i));
        want.push_back("queue" + std::to_string(i));
    }
    want.emplace_back("start");
    EXPECT_EQ(device.calls, want);
    EXPECT_EQ(recorder.stopping, 0);
    EXPECT_EQ(soundAllAppended(recorder), 0);
    ASSERT_NE(soundSpoolFile(recorder), nullptr);
    EXPECT_TRUE(soundSpoolFile(recorder)->isOpen());
}

TEST_F(SoundTest, BuffersCycleAndAStopMidBufferAppendsOnlyRecordedBytes) {
    start();
    ASSERT_EQ(done(0, kSoundBufferBytes, 1), 1);
    ASSERT_EQ(done(1, kSoundBufferBytes, 2), 1);
    ASSERT_EQ(done(2, 0, 3), 1);  // an empty buffer appends nothing and goes back
    EXPECT_EQ(device.queueCalls, kSoundBufferCount + 3);
    device.calls.clear();

    ASSERT_EQ(stopSoundRecording(recorder), 1);
    EXPECT_EQ(device.calls, (std::vector<std::string>{"reset", "stop", "close"}));
    EXPECT_EQ(soundAllAppended(recorder), 0);  // every buffer is still to come back
    // The reset hands back the buffer being filled with 3,002 bytes, the others empty.
    ASSERT_EQ(done(3, 3002, 4), 1);
    for (int i = 4; i < kSoundBufferCount + 3; ++i) {
        EXPECT_EQ(soundAllAppended(recorder), 0);
        ASSERT_EQ(done(i % kSoundBufferCount, 0, 5), 1);
    }
    EXPECT_EQ(soundAllAppended(recorder), 1);

    EXPECT_EQ(device.queueCalls, kSoundBufferCount + 3);  // nothing queued after the stop
    for (int i = 0; i < kSoundBufferCount; ++i) {
        EXPECT_EQ(device.releaseCount[i], 1) << i;
    }
    EXPECT_EQ(spool.bytes, expected({{kSoundBufferBytes, 1}, {kSoundBufferBytes, 2}, {3002, 4}}));
    EXPECT_EQ(recorder.bytesAppended, 2 * kSoundBufferBytes + 3002);

    // A notice repeated after the buffer was handled changes nothing.
    EXPECT_EQ(done(3, 100, 6), 1);
    EXPECT_EQ(device.releaseCount[3], 1);
    EXPECT_EQ(spool.bytes.size(), 2 * kSoundBufferBytes + 3002);

    EXPECT_EQ(closeSoundSpool(recorder), 1);
    EXPECT_FALSE(spool.isOpen());
    EXPECT_EQ(device.releaseCount[0], 1);
}

TEST_F(SoundTest, StopBeforeAnyBufferFilledKeepsOnlyTheRecordedPart) {
    start();
    ASSERT_EQ(stopSoundRecording(recorder), 1);
    ASSERT_EQ(done(0, 862, 9), 1);
    for (int i = 1; i < kSoundBufferCount; ++i) {
        ASSERT_EQ(done(i, 0, 0), 1);
    }
    EXPECT_EQ(soundAllAppended(recorder), 1);
    EXPECT_EQ(spool.bytes, expected({{862, 9}}));
}

TEST_F(SoundTest, EachBufferNotesTheClockUntilTheStop) {
    start();
    device.clockMs = 1232;
    ASSERT_EQ(done(0, kSoundBufferBytes, 1), 1);
    device.clockMs = 1470;
    ASSERT_EQ(done(1, kSoundBufferBytes, 1), 1);
    device.clockMs = 1500;
    ASSERT_EQ(stopSoundRecording(recorder), 1);
    // Handed back by the stop: appended, but its notice says nothing about its timing.
    device.clockMs = 2900;
    ASSERT_EQ(done(2, 1000, 1), 1);
    EXPECT_EQ(recorder.bytesAppended, 2 * kSoundBufferBytes + 1000);
    ASSERT_EQ(recorder.notes.size(), 2u);
    EXPECT_EQ(recorder.notes[0].clockMs, 1232u);
    EXPECT_EQ(recorder.notes[0].samples, kSoundBufferBytes / 2);
    EXPECT_EQ(recorder.notes[1].clockMs, 1470u);
    EXPECT_EQ(recorder.notes[1].samples, kSoundBufferBytes);
}

TEST_F(SoundTest, TheOutputWaitsForTheLastBuffersThenGoesOnWithoutThem) {
    start();
    ASSERT_EQ(done(0, kSoundBufferBytes, 1), 1);
    EXPECT_EQ(soundReadyForOutput(recorder, 0), 0);  // still recording
    ASSERT_EQ(stopSoundRecording(recorder), 1);
    ASSERT_EQ(done(1, 600, 2), 1);
    // The device never hands back the other buffers.
    EXPECT_EQ(soundReadyForOutput(recorder, 0), 0);
    EXPECT_EQ(soundReadyForOutput(recorder, kSoundStopWaitMs - 1), 0);
    EXPECT_EQ(soundReadyForOutput(recorder, kSoundStopWaitMs), 1);
    EXPECT_EQ(soundReadyForOutput(recorder, 0), 1);  // and stays ready
    // A buffer that turns up after all is not appended under the reader's feet.
    ASSERT_EQ(done(2, 900, 3), 1);
    EXPECT_EQ(spool.bytes, expected({{kSoundBufferBytes, 1}, {600, 2}}));
    EXPECT_EQ(device.releaseCount[2], 1);
    EXPECT_EQ(soundSpoolFile(recorder), &*recorder.spool);
}

TEST_F(SoundTest, TheOutputReadsTheEditedSoundOnceTheVideoOriginIsKnown) {
    device.clockMs = 700;
    start();
    // The device began capturing 300 ms after the first frame (clock 400) and keeps time
    // from there: the sound it missed is silence before its first sample.
    for (int i = 0; i < 6; ++i) {
        device.clockMs = 700 + static_cast<uint32_t>((i + 1) * 5120 * 1000 / 22050);
        ASSERT_EQ(done(i, kSoundBufferBytes, static_cast<unsigned char>(i + 1)), 1);
    }
    ASSERT_EQ(stopSoundRecording(recorder), 1);
    for (int i = 0; i < kSoundBufferCount; ++i) {
        ASSERT_EQ(done(i, 0, 0), 1);
    }
    soundSetVideoOrigin(recorder, 400);
    ASSERT_EQ(soundReadyForOutput(recorder, 0), 1);
    ASSERT_EQ(recorder.edits.size(), 1u);
    EXPECT_EQ(recorder.edits[0].at, 0u);
    EXPECT_EQ(recorder.edits[0].kind, SoundEditKind::Silence);
    const int64_t silentSamples = recorder.edits[0].count;
    EXPECT_NEAR(static_cast<double>(silentSamples), 300 * 22.05, 30);
    File* sound = soundSpoolFile(recorder);
    ASSERT_NE(sound, &*recorder.spool);
    ASSERT_TRUE(sound->seek(0));
    const auto silent = static_cast<size_t>(2 * silentSamples);
    std::vector<unsigned char> got(silent + 6 * kSoundBufferBytes + 2);
    const int64_t n = sound->read(got.data(), static_cast<uint32_t>(got.size()));
    ASSERT_EQ(n, static_cast<int64_t>(got.size() - 2));
    got.resize(static_cast<size_t>(n));
    EXPECT_TRUE(std::all_of(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(silent),
                            [](unsigned char c) { return c == 0; }));
    EXPECT_TRUE(std::equal(got.begin() + static_cast<std::ptrdiff_t>(silent), got.end(),
                           spool.bytes.begin()));

    EXPECT_EQ(closeSoundSpool(recorder), 1);
    EXPECT_EQ(soundSpoolFile(recorder), nullptr);
}

TEST_F(SoundTest, ByteCountsLargerThanTheBufferAreClamped) {
    start();
    device.recorded[0] = kSoundBufferBytes + 500;
    ASSERT_EQ(onSoundBufferDone(recorder, device.notice(0)), 1);
    EXPECT_EQ(spool.bytes.size(), kSoundBufferBytes);
}

TEST_F(SoundTest, UnknownNoticeFails) {
    start();
    int other = 0;
    EXPECT_EQ(onSoundBufferDone(recorder, &other), 0);
    EXPECT_TRUE(spool.bytes.empty());
}

TEST_F(SoundTest, FailedAppendsAndRequeuesAreReported) {
    start();
    spool.writeBudget = 100;
    EXPECT_EQ(done(0, kSoundBufferBytes, 1), 0);
    EXPECT_EQ(device.queueCalls, kSoundBufferCount);  // not queued again after a failed append

    spool.writeBudget = UINT64_MAX;
    device.failQueueAfter = device.queueCalls;
    EXPECT_EQ(done(1, 10, 1), 0);
}

TEST_F(SoundTest, FailedAppendDuringTheStopStillReleasesTheBuffer) {
    start();
    ASSERT_EQ(stopSoundRecording(recorder), 1);
    spool.writeBudget = 0;
    EXPECT_EQ(done(0, 500, 1), 0);
    EXPECT_EQ(device.releaseCount[0], 1);
    for (int i = 1; i < kSoundBufferCount; ++i) {
        EXPECT_EQ(done(i, 0, 1), 1);
    }
    EXPECT_EQ(soundAllAppended(recorder), 1);
}

TEST_F(SoundTest, NoSpoolMakesTheFirstAppendFail) {
    ASSERT_EQ(startSoundRecording(recorder, device, nullptr), 1);
    EXPECT_EQ(done(0, 20, 1), 0);
    EXPECT_EQ(soundSpoolFile(recorder), nullptr);
}

TEST(SoundStart, FailuresAtEachStep) {
    {
        FakeSoundDevice device;
        device.failOpen = true;
        SoundRecorder recorder;
        EXPECT_EQ(startSoundRecording(recorder, device, nullptr), 0);
        EXPECT_EQ(device.calls, std::vector<std::string>{"open"});
        EXPECT_FALSE(device.allocated[0]);
        EXPECT_EQ(stopSoundRecording(recorder), 1);  // never opened: no device call
        EXPECT_EQ(device.calls.size(), 1u);
        EXPECT_EQ(closeSoundSpool(recorder), 1);
    }
    {
        FakeSoundDevice device;
        device.failPrepareAt = 1;
        SoundRecorder recorder;
        EXPECT_EQ(startSoundRecording(recorder, device, nullptr), 0);
        EXPECT_EQ(device.calls.back(), "prepare1");
    }
    {
        FakeSoundDevice device;
        device.failQueueAfter = 0;
        SoundRecorder recorder;
        EXPECT_EQ(startSoundRecording(recorder, device, nullptr), 0);
        EXPECT_EQ(device.calls.back(), "queue0");
    }
    {
        FakeSoundDevice device;
        device.failStart = true;
        SoundRecorder recorder;
        EXPECT_EQ(startSoundRecording(recorder, device, nullptr), 0);
    }
}

TEST(SoundStop, FailedResetSkipsStopAndClose) {
    FakeSoundDevice device;
    SoundRecorder recorder;
    ASSERT_EQ(startSoundRecording(recorder, device, nullptr), 1);
    device.failReset = true;
    device.calls.clear();
    EXPECT_EQ(stopSoundRecording(recorder), 0);
    EXPECT_EQ(device.calls, std::vector<std::string>{"reset"});
    EXPECT_EQ(recorder.stopping, 1);
    // The device is still open: closing the spool must not free buffers it may fill.
    EXPECT_EQ(closeSoundSpool(recorder), 1);
    EXPECT_EQ(device.releaseCount[0], 0);
}

TEST(SoundClose, WithoutSoundThereIsNothingToClose) {
    SoundRecorder recorder;
    EXPECT_EQ(closeSoundSpool(recorder), 1);
    EXPECT_EQ(closeSoundSpool(recorder), 1);
    EXPECT_EQ(soundAllAppended(recorder), 1);
}

}  // namespace
}  // namespace pemlo
