#include "capture/frame_spool.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "fake_sources.h"
#include "tests/support/memory_file.h"

namespace pemlo {
namespace {

using testing::FakeScreen;
using testing::MemoryFile;
using testing::viewOf;

// One frame as spoolReadFrame hands it out.
struct ReadFrame {
    std::vector<unsigned char> pixels;
    uint32_t rawSize = 0;
    int last = -1;
    uint16_t pitch = 0;
    uint16_t duration = 0;
    std::vector<unsigned char> cursor = std::vector<unsigned char>(kCursorImageBytes);
    uint16_t cursorX = 0;
    uint16_t cursorY = 0;
    int cursorPresent = -1;
};

class SpoolTest : public ::testing::Test {
  protected:
    FakeScreen screen{40, 8, 176};  // 160 bytes of pixels and 16 of padding per row
    FrameSpool spool;
    MemoryFile memory;
    MemoryFile* file = &memory;

    void SetUp() override { ASSERT_EQ(spoolOpenFile(spool, screen, viewOf(memory)), 1); }
    void TearDown() override { std::free(pixels_); }

    int read(ReadFrame& f) {
        const int ok = spoolReadFrame(spool, pixels_, f.rawSize, f.last, f.pitch, f.duration,
                                      f.cursor.data(), f.cursorX, f.cursorY, f.cursorPresent);
        if (ok == 1) {
            f.pixels.assign(pixels_, pixels_ + f.rawSize);
        }
        return ok;
    }

  private:
    unsigned char* pixels_ = nullptr;
};

std::vector<unsigned char> inflate(const unsigned char* data, size_t size, size_t expected) {
    std::vector<unsigned char> out(expected);
    uLongf n = expected;
    EXPECT_EQ(uncompress(out.data(), &n, data, size), Z_OK);
    out.resize(n);
    return out;
}

TEST_F(SpoolTest, FileHoldsCursorAndFrameBlocksBackToBackInRecordingOrder) {
    screen.times = {1000, 1100};
    for (size_t i = 0; i < screen.cursorImage.size(); ++i) {
        screen.cursorImage[i] = static_cast<unsigned char>(i % 3 == 1 ? 240 : 255);
    }
    screen.cursorImage[0] = 0;  // one pixel of cursor
    ASSERT_EQ(spoolRecordFrame(spool), 1);
    screen.cursor.showing = 0;
    ASSERT_EQ(spoolRecordFrame(spool), 1);

    const FrameRecord& a = spool.index[0];
    const FrameRecord& b = spool.index[1];
    EXPECT_EQ(a.rawSize, 176u * 8);
    EXPECT_EQ(a.pitch, 176);
    EXPECT_GT(a.cursorBlockSize, 0);
    EXPECT_EQ(b.cursorBlockSize, -1);
    const auto& bytes = file->bytes;
    ASSERT_EQ(bytes.size(), size_t(a.cursorBlockSize) + a.frameBlockSize + b.frameBlockSize);

    // The whole locked memory, padding included, in the order cursor, frame, frame.
    const unsigned char* p = bytes.data();
    EXPECT_EQ(inflate(p, a.cursorBlockSize, kCursorImageBytes), screen.cursorImage);
    p += a.cursorBlockSize;
    EXPECT_EQ(inflate(p, a.frameBlockSize, a.rawSize), screen.grabbed[0]);
    p += a.frameBlockSize;
    EXPECT_EQ(inflate(p, b.frameBlockSize, b.rawSize), screen.grabbed[1]);
    EXPECT_EQ(screen.unlocks, 2);
    EXPECT_EQ(screen.framesDone, 2);
    EXPECT_EQ(spoolIsBusy(spool), 0);
}

TEST_F(SpoolTest, ReadsBackFramesCursorsAndDurationsUpToTheFirstRead) {
    screen.times = {1000, 1100, 1205, 1300};
    std::vector<std::vector<unsigned char>> cursors;
    screen.cursorImage[5] = 76;
    cursors.push_back(screen.cursorImage);
    ASSERT_EQ(spoolRecordFrame(spool), 1);
    screen.cursor.showing = 0;
    ASSERT_EQ(spoolRecordFrame(spool), 1);
    screen.cursor.showing = 1;
    cursors.emplace_back();
    screen.cursorImage[5] = 77;
    cursors.push_back(screen.cursorImage);
    ASSERT_EQ(spoolRecordFrame(spool), 1);
    EXPECT_EQ(spoolFrameCount(spool), 0);

    const uint16_t durations[] = {100, 105, 95};
    const int present[] = {1, 0, 1};
    for (int i = 0; i < 3; ++i) {
        ReadFrame f;
        ASSERT_EQ(read(f), 1) << "frame " << i;
        EXPECT_EQ(spoolFrameCount(spool), 3);
        EXPECT_EQ(f.last, i == 2 ? 1 : 0);
        EXPECT_EQ(f.duration, durations[i]);
        EXPECT_EQ(f.pitch, 176);
        EXPECT_EQ(f.rawSize, 176u * 8);
        EXPECT_EQ(f.pixels, screen.grabbed[i]);
        EXPECT_EQ(f.cursorPresent, present[i]);
        if (present[i] == 1) {
            EXPECT_EQ(f.cursor, cursors[i]);
            EXPECT_EQ(f.cursorX, 100);
            EXPECT_EQ(f.cursorY, 50);
        }
        EXPECT_EQ(spoolIsBusy(spool), 0);
    }
    EXPECT_TRUE(file->isOpen());
    // Reading past the last frame is refused and releases the spool.
    ReadFrame extra;
    EXPECT_EQ(read(extra), 0);
    EXPECT_FALSE(file->isOpen());
}

TEST_F(SpoolTest, DurationsAreKeptModulo65536AndTheOnlyFrameIsTheLast) {
    // 70,000 ms between two grabs, and the clock wraps past 2^32 before the read.
    screen.times = {4294960000u, 4294960000u + 70000u, 63000u};
    ASSERT_EQ(spoolRecordFrame(spool), 1);
    ASSERT_EQ(spoolRecordFrame(spool), 1);
    ReadFrame f;
    ASSERT_EQ(read(f), 1);
    EXPECT_EQ(f.duration, 70000 - 65536);
    EXPECT_EQ(f.last, 0);
    ASSERT_EQ(read(f), 1);
    EXPECT_EQ(f.last, 1);
    // From 4294960000 + 70000 (wrapped to 62704) to 63000.
    EXPECT_EQ(f.duration, 296);
}

TEST_F(SpoolTest, SingleFrameSpoolReadsAsTheLastWithItsDurationToTheRead) {
    screen.times = {500, 740};
    ASSERT_EQ(spoolRecordFrame(spool), 1);
    ReadFrame f;
    ASSERT_EQ(read(f), 1);
    EXPECT_EQ(f.last, 1);
    EXPECT_EQ(f.duration, 240);
    EXPECT_EQ(spoolFrameCount(spool), 1);
}

TEST_F(SpoolTest, CursorPositionIsTheImageCornerInSixteenBits) {
    screen.cursor = {1, 5, 5};
    screen.hotspotX = 16;
    screen.hotspotY = 16;
    ASSERT_EQ(spoolRecordFrame(spool), 1);
    EXPECT_EQ(spool.index[0].cursorX, 65525);
    // Without a known hot spot the position is used as it is.
    screen.hotspotKnown = 0;
    screen.cursor = {1, 70000, 300};
    ASSERT_EQ(spoolRecordFrame(spool), 1);
    ReadFrame f;
    ASSERT_EQ(read(f), 1);
    EXPECT_EQ(f.cursorX, 65525);
    EXPECT_EQ(f.cursorY, 65525);
    ASSERT_EQ(read(f), 1);
    EXPECT_EQ(f.cursorX, 70000 - 65536);
    EXPECT_EQ(f.cursorY, 300);
}

TEST_F(SpoolTest, SuppressedOrUndrawableCursorCountsAsNoCursor) {
    screen.cursor.showing = 2;
    ASSERT_EQ(spoolRecordFrame(spool), 1);
    screen.cursor.showing = 1;
    screen.failCursorDraw = true;
    ASSERT_EQ(spoolRecordFrame(spool), 1);
    screen.failCursorDraw = false;
    ASSERT_EQ(spoolRecordFrame(spool), 1);
    EXPECT_EQ(spool.index[0].cursorBlockSize, -1);
    EXPECT_EQ(spool.index[1].cursorBlockSize, -1);
    EXPECT_GT(spool.index[2].cursorBlockSize, 0);
    const int present[] = {0, 0, 1};
    for (int i = 0; i < 3; ++i) {
        ReadFrame f;
        ASSERT_EQ(read(f), 1);
        EXPECT_EQ(f.cursorPresent, present[i]);
        EXPECT_EQ(f.pixels, screen.grabbed[i]);
    }
}

TEST_F(SpoolTest, IncompressibleCursorBlockLargerThanTheImageReadsBack) {
    std::mt19937 noise(7);
    for (auto& b : screen.cursorImage) {
        b = static_cast<unsigned char>(noise());
    }
    ASSERT_EQ(spoolRecordFrame(spool), 1);
    EXPECT_GT(spool.index[0].cursorBlockSize, int32_t(kCursorImageBytes));
    EXPECT_LE(spool.index[0].cursorBlockSize, int32_t(kCursorBlockBound));
    ReadFrame f;
    ASSERT_EQ(read(f), 1);
    EXPECT_EQ(f.cursor, screen.cursorImage);
}

// A spool whose blocks were damaged after recording fails the read, and the failure
// closes (so deletes) the spool file.
class DamagedSpoolTest : public SpoolTest {
  protected:
    void SetUp() override {
        SpoolTest::SetUp();
        ASSERT_EQ(spoolRecordFrame(spool), 1);
        ASSERT_EQ(spoolRecordFrame(spool), 1);
    }
    void expectReadFailsAndReleases(int goodReads) {
        for (int i = 0; i < goodReads; ++i) {
            ReadFrame f;
            ASSERT_EQ(read(f), 1);
        }
        ReadFrame f;
        EXPECT_EQ(read(f), 0);
        EXPECT_FALSE(file->isOpen());
        EXPECT_EQ(spool.file, nullptr);
        EXPECT_EQ(spoolIsBusy(spool), 1);
        EXPECT_GE(screen.releases, 1);
        ReadFrame again;
        EXPECT_EQ(read(again), 0);
    }
};

TEST_F(DamagedSpoolTest, CorruptFrameData) {
    const FrameRecord& a = spool.index[0];
    file->bytes[size_t(a.cursorBlockSize) + a.frameBlockSize / 2] ^= 0x55;
    expectReadFailsAndReleases(0);
}

TEST_F(DamagedSpoolTest, FrameBlockInflatingToTheWrongLength) {
    // Replace the second frame block with one of the same size that inflates short.
    const FrameRecord& a = spool.index[0];
    FrameRecord& b = spool.index[1];
    std::vector<unsigned char> shorter(b.rawSize - 4, 9);
    std::vector<unsigned char> block(compressBound(shorter.size()));
    uLongf n = block.size();
    ASSERT_EQ(compress2(block.data(), &n, shorter.data(), shorter.size(), 1), Z_OK);
    const size_t at = size_t(a.cursorBlockSize) + a.frameBlockSize + b.cursorBlockSize;
    file->bytes.resize(at);
    file->bytes.insert(file->bytes.end(), block.begin(), block.begin() + long(n));
    b.frameBlockSize = int32_t(n);
    expectReadFailsAndReleases(1);
}

TEST_F(DamagedSpoolTest, CursorBlockInflatingToTheWrongLength) {
    // A valid zlib stream of 3,000 bytes in place of the first cursor block.
    FrameRecord& a = spool.index[0];
    std::vector<unsigned char> image(3000, 1);
    std::vector<unsigned char> block(compressBound(image.size()));
    uLongf n = block.size();
    ASSERT_EQ(compress2(block.data(), &n, image.data(), image.size(), 1), Z_OK);
    std::vector<unsigned char> rest(file->bytes.begin() + a.cursorBlockSize, file->bytes.end());
    file->bytes.assign(block.begin(), block.begin() + long(n));
    file->bytes.insert(file->bytes.end(), rest.begin(), rest.end());
    a.cursorBlockSize = int32_t(n);
    expectReadFailsAndReleases(0);
}

TEST_F(DamagedSpoolTest, TruncatedFile) {
    file->bytes.resize(file->bytes.size() - 1);
    expectReadFailsAndReleases(1);
}

TEST_F(DamagedSpoolTest, ReadError) {
    file->readBudget = 10;
    expectReadFailsAndReleases(0);
}

TEST_F(DamagedSpoolTest, RewindFails) {
    file->failSeeks = true;
    expectReadFailsAndReleases(0);
}

TEST_F(SpoolTest, RecordingAfterReadingIsRefusedWithoutTouchingTheFile) {
    ASSERT_EQ(spoolRecordFrame(spool), 1);
    ASSERT_EQ(spoolRecordFrame(spool), 1);
    ReadFrame f;
    ASSERT_EQ(read(f), 1);
    const auto before = file->bytes;
    const int writes = file->writeCalls;
    const int grabs = screen.grabs;
    EXPECT_EQ(spoolRecordFrame(spool), 0);
    EXPECT_EQ(file->bytes, before);
    EXPECT_EQ(file->writeCalls, writes);
    EXPECT_EQ(screen.grabs, grabs);
    EXPECT_TRUE(file->isOpen());
    EXPECT_EQ(spoolIsBusy(spool), 1);
}

TEST_F(SpoolTest, ReadAfterReleaseFails) {
    ASSERT_EQ(spoolRecordFrame(spool), 1);
    EXPECT_EQ(captureRelease(spool), 1);
    EXPECT_FALSE(file->isOpen());
    EXPECT_EQ(screen.releases, 1);
    ReadFrame f;
    EXPECT_EQ(read(f), 0);
    EXPECT_EQ(spoolRecordFrame(spool), 0);
}

TEST_F(SpoolTest, EmptySpoolFailsTheFirstReadAndReleases) {
    ReadFrame f;
    EXPECT_EQ(read(f), 0);
    EXPECT_EQ(f.last, 0);
    EXPECT_EQ(spoolFrameCount(spool), 0);
    EXPECT_FALSE(file->isOpen());
    EXPECT_EQ(screen.releases, 1);
}

// Every failure of a recording tick after the grab releases the spool and leaves the
// busy flag set, so that later ticks are skipped.
TEST_F(SpoolTest, FailedRecordingStepsReleaseTheSpool) {
    struct Case {
        const char* name;
        void (*arrange)(FakeScreen&, MemoryFile&);
    };
    const Case cases[] = {
        {"grab", [](FakeScreen& s, MemoryFile&) { s.failLock = true; }},
        {"cursor query", [](FakeScreen& s, MemoryFile&) { s.failCursorQuery = true; }},
        {"short cursor write", [](FakeScreen&, MemoryFile& f) { f.writeBudget = f.written + 5; }},
        {"short frame write",
         [](FakeScreen& s, MemoryFile& f) {
             s.cursor.showing = 0;
             f.writeBudget = f.written + 5;
         }},
        {"unlock", [](FakeScreen& s, MemoryFile&) { s.failUnlock = true; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeScreen screen2(40, 8, 176);
        FrameSpool spool2;
        MemoryFile f;
        ASSERT_EQ(spoolOpenFile(spool2, screen2, viewOf(f)), 1);
        ASSERT_EQ(spoolRecordFrame(spool2), 1);
        c.arrange(screen2, f);
        EXPECT_EQ(spoolRecordFrame(spool2), 0);
        EXPECT_EQ(spoolIsBusy(spool2), 1);
        EXPECT_FALSE(f.isOpen());
        EXPECT_EQ(screen2.releases, 1);
        EXPECT_FALSE(screen2.locked);
    }
}

TEST(SpoolLimits, DisplayRowsTooWideForTheIndexAreRefused) {
    // A pitch that does not fit 16 bits would read back with the wrong row length.
    FakeScreen wide(16400, 2, 65600);
    FrameSpool spool;
    MemoryFile f;
    ASSERT_EQ(spoolOpenFile(spool, wide, viewOf(f)), 1);
    EXPECT_EQ(spoolRecordFrame(spool), 0);
    EXPECT_TRUE(f.bytes.empty());
    EXPECT_EQ(wide.releases, 1);
}

TEST(SpoolLimits, OpeningWithoutAFileFails) {
    FakeScreen screen(4, 4, 16);
    FrameSpool spool;
    EXPECT_EQ(spoolOpenFile(spool, screen, nullptr), 0);
    EXPECT_EQ(spoolRecordFrame(spool), 0);
}

TEST(SpoolFile, TheSpoolFileDisappearsWithoutBeingClosed) {
    // The real temporary file: no name is left in the folder while it is in use.
    FakeScreen screen(8, 4, 32);
    FrameSpool spool;
    ASSERT_EQ(spoolOpen(spool, screen), 1);
    ASSERT_EQ(spoolRecordFrame(spool), 1);
    EXPECT_EQ(openFileForReading(kFrameSpoolName), nullptr);
    unsigned char* pixels = nullptr;
    uint32_t raw = 0;
    int last = 0;
    uint16_t pitch = 0, duration = 0, cx = 0, cy = 0;
    int present = 0;
    std::vector<unsigned char> cursor(kCursorImageBytes);
    EXPECT_EQ(
        spoolReadFrame(spool, pixels, raw, last, pitch, duration, cursor.data(), cx, cy, present),
        1);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(pixels, pixels + raw), screen.grabbed[0]);
    std::free(pixels);
    EXPECT_EQ(captureRelease(spool), 1);
}

}  // namespace
}  // namespace pemlo
