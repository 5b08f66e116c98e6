#include "capture/sound_recorder.h"

#include <gtest/gtest.h>

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

TEST_F(SoundTest, StartOpensQueuesBothBuffersThenStarts) {
    start();
    EXPECT_EQ(device.calls, (std::vector<std::string>{"open", "prepare0", "queue0", "prepare1",
                                                      "queue1", "start"}));
    EXPECT_EQ(recorder.stopping, 0);
    EXPECT_EQ(soundAllAppended(recorder), 0);
    ASSERT_NE(soundSpoolFile(recorder), nullptr);
    EXPECT_TRUE(soundSpoolFile(recorder)->isOpen());
}

TEST_F(SoundTest, BuffersAlternateAndAStopMidBufferAppendsOnlyRecordedBytes) {
    start();
    ASSERT_EQ(done(0, kSoundBufferBytes, 1), 1);
    ASSERT_EQ(done(1, kSoundBufferBytes, 2), 1);
    ASSERT_EQ(done(0, 0, 3), 1);  // an empty buffer appends nothing and goes back
    EXPECT_EQ(device.queueCalls, 5);
    device.calls.clear();

    ASSERT_EQ(stopSoundRecording(recorder), 1);
    EXPECT_EQ(device.calls, (std::vector<std::string>{"reset", "stop", "close"}));
    EXPECT_EQ(soundAllAppended(recorder), 0);  // two buffers are still to come back
    // The reset hands back the buffer being filled with 3,002 bytes, and the other empty.
    ASSERT_EQ(done(1, 3002, 4), 1);
    EXPECT_EQ(soundAllAppended(recorder), 0);
    ASSERT_EQ(done(0, 0, 5), 1);
    EXPECT_EQ(soundAllAppended(recorder), 1);

    EXPECT_EQ(device.queueCalls, 5);  // nothing queued after the stop
    EXPECT_EQ(device.releaseCount[0], 1);
    EXPECT_EQ(device.releaseCount[1], 1);
    EXPECT_EQ(spool.bytes, expected({{kSoundBufferBytes, 1}, {kSoundBufferBytes, 2}, {3002, 4}}));
    EXPECT_EQ(recorder.bytesAppended, 2 * kSoundBufferBytes + 3002);

    // A notice repeated after the buffer was handled changes nothing.
    EXPECT_EQ(done(1, 100, 6), 1);
    EXPECT_EQ(device.releaseCount[1], 1);
    EXPECT_EQ(spool.bytes.size(), 2 * kSoundBufferBytes + 3002);

    EXPECT_EQ(closeSoundSpool(recorder), 1);
    EXPECT_FALSE(spool.isOpen());
    EXPECT_EQ(device.releaseCount[0], 1);
}

TEST_F(SoundTest, StopBeforeAnyBufferFilledKeepsOnlyTheRecordedPart) {
    start();
    ASSERT_EQ(stopSoundRecording(recorder), 1);
    ASSERT_EQ(done(0, 862, 9), 1);
    ASSERT_EQ(done(1, 0, 0), 1);
    EXPECT_EQ(soundAllAppended(recorder), 1);
    EXPECT_EQ(spool.bytes, expected({{862, 9}}));
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
    EXPECT_EQ(device.queueCalls, 2);  // not queued again after a failed append

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
    EXPECT_EQ(done(1, 0, 1), 1);
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
