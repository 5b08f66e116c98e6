// Every write, read, seek and close of the frame spool, the sound spool, the FLV and the
// thumbnail fails once in a short recording with sound: each run must end in the
// failure the program reports, never in a success, and leave the files as promised.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "process/thumbnail.h"
#include "tests/faults/fault_rig.h"

namespace pemlo {
namespace {

using testing::Bytes;
using testing::Fault;
using testing::FaultLog;
using testing::FaultPlan;
using testing::FaultyFile;
using testing::FlvTag;
using testing::MemoryFile;
using testing::RigOutcome;
using testing::RigPlans;
using testing::runRig;

std::string thumbnailPath() {
    return ::testing::TempDir() + "pemlo_faults_" + std::to_string(getpid()) + ".bmp";
}

int countTags(const Bytes& flv, uint8_t type, bool& parsed) {
    std::vector<FlvTag> tags;
    uint8_t flags = 0;
    parsed = testing::readFlvTags(flv, tags, flags);
    int n = 0;
    for (const FlvTag& tag : tags) {
        n += tag.type == type ? 1 : 0;
    }
    return n;
}

// Frames read back whole before the frame spool's read `call` failed, from the blocks
// each frame has (a cursor block, a frame block when a tile changed, both or none).
int framesReadBefore(const RigOutcome& clean, int call) {
    int reads = 0;
    for (int f = 0; f < testing::kRigFrames; ++f) {
        reads += clean.blocksPerFrame[static_cast<size_t>(f)];
        if (reads > call) {
            return f;
        }
    }
    return testing::kRigFrames;
}

class FileFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = thumbnailPath();
        RigPlans plans;
        plans.thumbnailPath = path_;
        clean_ = runRig(plans);
    }
    void TearDown() override { std::filesystem::remove(path_); }

    RigOutcome run(FaultPlan frame, FaultPlan sound, FaultPlan flv) const {
        RigPlans plans;
        plans.frameSpool = frame;
        plans.soundSpool = sound;
        plans.flv = flv;
        plans.thumbnailPath = path_;
        return runRig(plans);
    }

    std::string path_;
    RigOutcome clean_;
};

TEST_F(FileFaults, WithoutFaultsTheRecordingIsComplete) {
    ASSERT_EQ(clean_.driverResult, 1);
    EXPECT_FALSE(clean_.flvOpen);
    EXPECT_EQ(clean_.soundBytesAppended, testing::kRigSoundBytes);
    // Twelve frames, half of them with a cursor block; every fourth frame repeats the
    // one before, so it has no frame block.
    ASSERT_EQ(clean_.blocksPerFrame.size(), size_t{testing::kRigFrames});
    EXPECT_EQ(clean_.frameLog.writes,
              testing::kRigFrames + testing::kRigFrames / 2 - testing::kRigFrames / 4);
    EXPECT_EQ(clean_.blocksPerFrame[3], 0);  // no cursor, nothing changed
    EXPECT_EQ(clean_.blocksPerFrame[7], 0);
    EXPECT_EQ(clean_.frameLog.reads, clean_.frameLog.writes);
    EXPECT_GE(clean_.soundLog.writes, 6);
    EXPECT_GE(clean_.soundLog.reads, 13);
    EXPECT_GT(clean_.flvLog.writes, 100);
    bool parsed = false;
    EXPECT_EQ(countTags(clean_.flv, 9, parsed), testing::kRigFrames);
    EXPECT_TRUE(parsed);
    // 1.2 s of sound in packets of 1,024 samples: 26 packets, the last one short.
    EXPECT_EQ(countTags(clean_.flv, 8, parsed), 26);
    EXPECT_EQ(std::filesystem::file_size(path_),
              54u + testing::kRigOutputW * testing::kRigOutputH * 3);
}

TEST_F(FileFaults, FrameSpoolWriteFailureEndsTheRecordingAtItsFrame) {
    for (Fault kind : {Fault::FailWrite, Fault::ShortWrite}) {
        for (int at = 0; at < clean_.frameLog.writes; ++at) {
            SCOPED_TRACE(::testing::Message()
                         << "write " << at << " kind " << static_cast<int>(kind));
            const RigOutcome r = run({kind, at}, {}, {});
            int expectedFrame = 0;
            while (clean_.frameWritesDone[static_cast<size_t>(expectedFrame)] <= at) {
                ++expectedFrame;
            }
            EXPECT_EQ(r.recordFailedAt, expectedFrame);
            EXPECT_TRUE(r.frameSpoolReleased);
            EXPECT_FALSE(r.driverRan);
            EXPECT_EQ(r.frameLog.writesAfterFault, 0);
        }
    }
}

TEST_F(FileFaults, FrameSpoolReadOrRewindFailureFailsTheOutputAndKeepsWhatWasWritten) {
    for (Fault kind : {Fault::FailRead, Fault::FailSeek}) {
        const int calls = kind == Fault::FailRead ? clean_.frameLog.reads : clean_.frameLog.seeks;
        ASSERT_GE(calls, 1);
        for (int at = 0; at < calls; ++at) {
            SCOPED_TRACE(::testing::Message()
                         << "call " << at << " kind " << static_cast<int>(kind));
            const RigOutcome r = run({kind, at}, {}, {});
            ASSERT_TRUE(r.driverRan);
            EXPECT_EQ(r.driverResult, 0);
            EXPECT_TRUE(r.frameSpoolReleased);
            EXPECT_TRUE(r.flvOpen);
            // Whole tags only, and none for a frame that did not read back. The frame
            // before the failing read may still be on its way to the file.
            bool parsed = false;
            const int whole = kind == Fault::FailRead ? framesReadBefore(clean_, at) : 0;
            const int tags = countTags(r.flv, 9, parsed);
            EXPECT_TRUE(parsed);
            EXPECT_LE(tags, whole);
            EXPECT_GE(tags + 1, whole);
        }
    }
}

TEST_F(FileFaults, SoundSpoolAppendFailureEndsTheRecordingAndKeepsEarlierSound) {
    // One write per buffer handed back with sound in it; the stop's last ones come back
    // empty.
    ASSERT_EQ(clean_.soundDeliveries.size(),
              static_cast<size_t>(clean_.soundLog.writes + kSoundBufferCount - 1));
    for (int at = 0; at < clean_.soundLog.writes; ++at) {
        ASSERT_EQ(clean_.soundDeliveries[static_cast<size_t>(at)], at + 1);
    }
    for (Fault kind : {Fault::FailWrite, Fault::ShortWrite}) {
        for (int at = 0; at < clean_.soundLog.writes; ++at) {
            SCOPED_TRACE(::testing::Message()
                         << "write " << at << " kind " << static_cast<int>(kind));
            const RigOutcome r = run({}, {kind, at}, {});
            EXPECT_EQ(r.soundFailedAt, at);
            EXPECT_EQ(r.soundBytesAppended, uint64_t{kSoundBufferBytes} * at);
            EXPECT_FALSE(r.driverRan);
            EXPECT_EQ(r.soundLog.writesAfterFault, 0);
        }
    }
}

TEST_F(FileFaults, SoundSpoolReadOrRewindFailureFailsTheOutput) {
    for (Fault kind : {Fault::FailRead, Fault::FailSeek}) {
        const int calls = kind == Fault::FailRead ? clean_.soundLog.reads : clean_.soundLog.seeks;
        ASSERT_GE(calls, 1);
        for (int at = 0; at < calls; ++at) {
            SCOPED_TRACE(::testing::Message()
                         << "call " << at << " kind " << static_cast<int>(kind));
            const RigOutcome r = run({}, {kind, at}, {});
            ASSERT_TRUE(r.driverRan);
            EXPECT_EQ(r.driverResult, 0);
            EXPECT_TRUE(r.flvOpen);
            bool parsed = false;
            EXPECT_LT(countTags(r.flv, 8, parsed), 26);
            EXPECT_TRUE(parsed);
        }
    }
}

TEST_F(FileFaults, FlvWriteSeekOrCloseFailureFailsTheOutputAndWritesNothingMore) {
    for (Fault kind : {Fault::FailWrite, Fault::ShortWrite, Fault::FailSeek}) {
        const int calls = kind == Fault::FailSeek ? clean_.flvLog.seeks : clean_.flvLog.writes;
        ASSERT_GE(calls, 1);
        for (int at = 0; at < calls; ++at) {
            SCOPED_TRACE(::testing::Message()
                         << "call " << at << " kind " << static_cast<int>(kind));
            const RigOutcome r = run({}, {}, {kind, at});
            ASSERT_TRUE(r.driverRan);
            EXPECT_EQ(r.driverResult, 0);
            // Left open for the tear-down; the writer gives up at the first fault.
            EXPECT_TRUE(r.flvOpen);
            EXPECT_EQ(r.flvLog.writesAfterFault, 0);
        }
    }
    const RigOutcome closing = run({}, {}, {Fault::FailClose, 0});
    EXPECT_EQ(closing.driverResult, 0);
}

TEST_F(FileFaults, ThumbnailFailureLeavesTheRecordingAlone) {
    const auto info = previewBitmapInfo(8, 2);
    const Bytes pixels(info.biSizeImage, 0x5A);
    FaultLog cleanLog;
    MemoryFile cleanStore;
    FaultyFile cleanFile(cleanStore, {}, cleanLog);
    ASSERT_EQ(writeThumbnailFile(cleanFile, info, pixels.data()), 1);
    EXPECT_EQ(cleanStore.bytes.size(), 54u + info.biSizeImage);
    EXPECT_FALSE(cleanStore.isOpen());
    ASSERT_EQ(cleanLog.writes, 3);

    for (Fault kind : {Fault::FailWrite, Fault::ShortWrite}) {
        for (int at = 0; at < cleanLog.writes; ++at) {
            SCOPED_TRACE(::testing::Message()
                         << "write " << at << " kind " << static_cast<int>(kind));
            FaultLog log;
            MemoryFile store;
            FaultyFile file(store, {kind, at}, log);
            EXPECT_EQ(writeThumbnailFile(file, info, pixels.data()), 0);
            EXPECT_FALSE(store.isOpen());
        }
    }
    FaultLog log;
    MemoryFile store;
    FaultyFile failingClose(store, {Fault::FailClose, 0}, log);
    EXPECT_EQ(writeThumbnailFile(failingClose, info, pixels.data()), 0);

    // A thumbnail that cannot be created at all: the FLV is finished byte for byte as
    // without the fault.
    RigPlans plans;
    plans.thumbnailPath =
        ::testing::TempDir() + "no_such_folder_" + std::to_string(getpid()) + "/clip.bmp";
    const RigOutcome r = runRig(plans);
    EXPECT_EQ(r.driverResult, 1);
    EXPECT_EQ(r.flv, clean_.flv);
}

}  // namespace
}  // namespace pemlo
