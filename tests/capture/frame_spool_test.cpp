#include "capture/frame_spool.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "capture/spool_index.h"
#include "fake_sources.h"
#include "tests/support/memory_file.h"

namespace pemlo {
namespace {

using testing::FakeScreen;
using testing::MemoryFile;
using testing::viewOf;

// The capture rectangle of a grabbed screen (4 bytes per pixel, `pitch` bytes per row) as
// packed BGR, rows top-down: what the frames read back must build up.
std::vector<unsigned char> crop(const std::vector<unsigned char>& screen, uint32_t pitch,
                                const CaptureArea& a) {
    std::vector<unsigned char> out;
    for (int32_t y = a.top; y < a.top + a.height; ++y) {
        for (int32_t x = a.left; x < a.left + a.width; ++x) {
            const unsigned char* p = &screen[size_t(y) * pitch + size_t(x) * 4];
            out.insert(out.end(), p, p + 3);
        }
    }
    return out;
}

// One frame as spoolReadFrame hands it out, with the picture its tiles build up.
struct ReadFrame {
    int last = -1;
    uint16_t duration = 0;
    std::vector<unsigned char> cursor;
    uint16_t cursorX = 0;
    uint16_t cursorY = 0;
    int cursorPresent = -1;
    uint32_t tiles = 0;
};

class SpoolTest : public ::testing::Test {
  protected:
    FakeScreen screen{40, 8, 176};  // 160 bytes of pixels and 16 of padding per row
    CaptureArea area{0, 0, 40, 8};
    FrameSpool spool;
    MemoryFile memory;
    MemoryFile* file = &memory;
    SpoolFrame frame;
    std::vector<unsigned char> picture;  // packed BGR, top-down

    void SetUp() override { ASSERT_EQ(spoolOpenFile(spool, screen, viewOf(memory), area), 1); }

    int read(ReadFrame& f) {
        const int ok = spoolReadFrame(spool, frame);
        if (ok != 1) {
            return ok;
        }
        f.last = frame.last;
        f.duration = frame.durationMs;
        f.cursorPresent = frame.cursorPresent;
        f.cursor.assign(frame.cursor, frame.cursor + kCursorImageBytes);
        f.cursorX = frame.cursorX;
        f.cursorY = frame.cursorY;
        f.tiles = frame.tileCount;
        picture.resize(size_t(frame.width) * frame.height * 3);
        for (uint32_t i = 0; i < frame.tileCount; ++i) {
            const SpoolTile& t = frame.tiles[i];
            EXPECT_LE(t.x + t.width, frame.width);
            EXPECT_LE(t.y + t.height, frame.height);
            for (uint32_t y = 0; y < t.height; ++y) {
                std::memcpy(&picture[(size_t(t.y + y) * frame.width + t.x) * 3],
                            t.pixels + size_t(y) * t.width * 3, size_t(t.width) * 3);
            }
        }
        return ok;
    }
    std::vector<unsigned char> grabbed(int i) const { return crop(screen.grabbed[i], 176, area); }
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
    // 40 x 8 is two tiles, 32 and 8 pixels wide; every byte changes between the grabs.
    EXPECT_EQ(a.tileCount, 2u);
    EXPECT_EQ(b.tileCount, 2u);
    EXPECT_EQ(a.rawSize, 2u * 4 + 40 * 8 * 3);
    EXPECT_GT(a.cursorBlockSize, 0);
    EXPECT_EQ(b.cursorBlockSize, -1);
    const auto& bytes = file->bytes;
    ASSERT_EQ(bytes.size(), size_t(a.cursorBlockSize) + a.frameBlockSize + b.frameBlockSize);

    // Cursor, frame, frame; a frame block is the tile list, then each tile's BGR rows.
    const unsigned char* p = bytes.data();
    EXPECT_EQ(inflate(p, a.cursorBlockSize, kCursorImageBytes), screen.cursorImage);
    p += a.cursorBlockSize;
    const std::vector<unsigned char> first = inflate(p, a.frameBlockSize, a.rawSize);
    ASSERT_EQ(first.size(), a.rawSize);
    EXPECT_EQ(std::vector<unsigned char>(first.begin(), first.begin() + 8),
              (std::vector<unsigned char>{0, 0, 0, 0, 1, 0, 0, 0}));
    const std::vector<unsigned char> whole = grabbed(0);
    // The second tile's first row: pixels 32 to 39 of the top row.
    EXPECT_TRUE(
        std::equal(whole.begin() + 32 * 3, whole.begin() + 40 * 3, first.begin() + 8 + 32 * 8 * 3));
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
        EXPECT_EQ(picture, grabbed(i));
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
        EXPECT_EQ(picture, grabbed(i));
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

// A screen of 70 x 41 pixels (tiles 3 x 2, the last column 6 wide, the last row 9
// high) with padding, whose grabs the test scripts; the spool records the rectangle
// (1, 2, 67, 38): tiles 3 x 2, the last column 3 wide and the last row 6 high.
class TileSpoolTest : public ::testing::Test {
  protected:
    static constexpr uint32_t kPitch = 70 * 4 + 12;
    FakeScreen screen{70, 41, kPitch};
    CaptureArea area{1, 2, 67, 38};
    FrameSpool spool;
    MemoryFile memory;
    std::vector<unsigned char> base;
    SpoolFrame frame;

    void SetUp() override {
        base.resize(size_t(kPitch) * 41);
        std::mt19937 noise(3);
        for (auto& b : base) {
            b = static_cast<unsigned char>(noise() % 4);  // flat, compressible
        }
        ASSERT_EQ(spoolOpenFile(spool, screen, viewOf(memory), area), 1);
    }
    unsigned char& at(std::vector<unsigned char>& img, int x, int y, int byte) {
        return img[size_t(y) * kPitch + size_t(x) * 4 + size_t(byte)];
    }
    // Records the base frame and `next` through a fresh spool; returns the tiles of the
    // second frame read back (column, row, width, height).
    std::vector<std::array<uint32_t, 4>> changedTiles(const std::vector<unsigned char>& next) {
        FrameSpool fresh;
        MemoryFile f;
        EXPECT_EQ(spoolOpenFile(fresh, screen, viewOf(f), area), 1);
        screen.scripted = {base, next};
        EXPECT_EQ(spoolRecordFrame(fresh), 1);
        EXPECT_EQ(spoolRecordFrame(fresh), 1);
        EXPECT_EQ(spoolReadFrame(fresh, frame), 1);
        EXPECT_EQ(frame.tileCount, 6u);
        EXPECT_EQ(spoolReadFrame(fresh, frame), 1);
        std::vector<std::array<uint32_t, 4>> tiles;
        for (uint32_t i = 0; i < frame.tileCount; ++i) {
            const SpoolTile& t = frame.tiles[i];
            tiles.push_back({t.x / kTileSide, t.y / kTileSide, t.width, t.height});
        }
        return tiles;
    }
};

TEST_F(TileSpoolTest, ChangedTilesAreFoundAtTileAndFrameEdges) {
    using Tiles = std::vector<std::array<uint32_t, 4>>;
    struct Case {
        const char* name;
        int x, y, byte;
        Tiles want;
    };
    // Screen coordinates; the rectangle starts at (1, 2).
    const Case cases[] = {
        {"last byte of a tile row (the unused fourth)", 32, 2, 3, Tiles{{0, 0, 32, 32}}},
        {"first byte of the next tile", 33, 2, 0, Tiles{{1, 0, 32, 32}}},
        {"last row of the first tile row", 40, 33, 1, Tiles{{1, 0, 32, 32}}},
        {"first row of the second tile row", 40, 34, 1, Tiles{{1, 1, 32, 6}}},
        {"right partial tile", 67, 10, 2, Tiles{{2, 0, 3, 32}}},
        {"bottom partial tile", 5, 39, 0, Tiles{{0, 1, 32, 6}}},
        {"bottom right corner", 67, 39, 0, Tiles{{2, 1, 3, 6}}},
        {"left of the rectangle", 0, 10, 0, Tiles{}},
        {"right of the rectangle", 68, 10, 0, Tiles{}},
        {"above the rectangle", 10, 1, 0, Tiles{}},
        {"below the rectangle", 10, 40, 0, Tiles{}},
        {"row padding", 70, 10, 0, Tiles{}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<unsigned char> next = base;
        if (c.x < 70) {
            at(next, c.x, c.y, c.byte) ^= 0x80;
        } else {
            next[size_t(c.y) * kPitch + 70 * 4] ^= 0x80;
        }
        EXPECT_EQ(changedTiles(next), c.want);
    }
    // Two changes in one tile and one in the last tile: ascending, each once.
    std::vector<unsigned char> next = base;
    at(next, 1, 2, 0) ^= 1;
    at(next, 30, 30, 2) ^= 1;
    at(next, 67, 39, 1) ^= 1;
    EXPECT_EQ(changedTiles(next), (Tiles{{0, 0, 32, 32}, {2, 1, 3, 6}}));
}

TEST_F(TileSpoolTest, AnUnchangedScreenWritesOnlyTheCursorAsItMoves) {
    screen.scripted = {base, base, base};
    screen.cursor = {1, 3, 4};
    ASSERT_EQ(spoolRecordFrame(spool), 1);
    const size_t afterFirst = memory.bytes.size();
    screen.cursor = {1, 40, 20};
    ASSERT_EQ(spoolRecordFrame(spool), 1);
    screen.cursor.showing = 0;
    ASSERT_EQ(spoolRecordFrame(spool), 1);
    EXPECT_EQ(spool.index[1].tileCount, 0u);
    EXPECT_EQ(spool.index[1].frameBlockSize, 0);
    EXPECT_EQ(spool.index[2].frameBlockSize, 0);
    EXPECT_EQ(memory.bytes.size(), afterFirst + size_t(spool.index[1].cursorBlockSize));
    const std::vector<unsigned char> whole = crop(base, kPitch, area);
    std::vector<unsigned char> picture(whole.size());
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(spoolReadFrame(spool, frame), 1);
        EXPECT_EQ(frame.tileCount, i == 0 ? 6u : 0u);
        EXPECT_EQ(frame.cursorPresent, i < 2 ? 1 : 0);
        if (i == 1) {
            EXPECT_EQ(frame.cursorX, 40);
            EXPECT_EQ(frame.cursorY, 20);
        }
        for (uint32_t t = 0; t < frame.tileCount; ++t) {
            const SpoolTile& tile = frame.tiles[t];
            for (uint32_t y = 0; y < tile.height; ++y) {
                std::memcpy(&picture[(size_t(tile.y + y) * 67 + tile.x) * 3],
                            tile.pixels + size_t(y) * tile.width * 3, size_t(tile.width) * 3);
            }
        }
        EXPECT_EQ(picture, whole);
    }
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
    // Puts a frame block holding `packed` (tileCount tiles) in place of frame i's.
    void replaceFrameBlock(int i, const std::vector<unsigned char>& packed, uint32_t tileCount) {
        std::vector<unsigned char> block(compressBound(packed.size()));
        uLongf n = block.size();
        ASSERT_EQ(compress2(block.data(), &n, packed.data(), packed.size(), 1), Z_OK);
        size_t at = 0;
        for (int k = 0; k < i; ++k) {
            at += size_t(std::max(0, spool.index[k].cursorBlockSize)) +
                  size_t(spool.index[k].frameBlockSize);
        }
        FrameRecord& r = spool.index[i];
        at += size_t(std::max(0, r.cursorBlockSize));
        std::vector<unsigned char> rest(file->bytes.begin() + long(at + size_t(r.frameBlockSize)),
                                        file->bytes.end());
        file->bytes.resize(at);
        file->bytes.insert(file->bytes.end(), block.begin(), block.begin() + long(n));
        file->bytes.insert(file->bytes.end(), rest.begin(), rest.end());
        r.frameBlockSize = int32_t(n);
        r.rawSize = uint32_t(packed.size());
        r.tileCount = tileCount;
    }
    // Two tiles of this spool's 40 x 8 rectangle, with the list given.
    static std::vector<unsigned char> twoTiles(std::vector<unsigned char> list) {
        list.resize(list.size() + (32 * 8 + 8 * 8) * 3, 7);
        return list;
    }
};

TEST_F(DamagedSpoolTest, CorruptFrameData) {
    const FrameRecord& a = spool.index[0];
    file->bytes[size_t(a.cursorBlockSize) + a.frameBlockSize / 2] ^= 0x55;
    expectReadFailsAndReleases(0);
}

TEST_F(DamagedSpoolTest, FrameBlockInflatingToTheWrongLength) {
    const FrameRecord b = spool.index[1];
    std::vector<unsigned char> shorter(b.rawSize - 4, 9);
    replaceFrameBlock(1, shorter, b.tileCount);
    spool.index[1].rawSize = b.rawSize;
    expectReadFailsAndReleases(1);
}

TEST_F(DamagedSpoolTest, ATileRightOfTheRectangle) {
    replaceFrameBlock(1, twoTiles({0, 0, 0, 0, 2, 0, 0, 0}), 2);
    expectReadFailsAndReleases(1);
}

TEST_F(DamagedSpoolTest, ATileBelowTheRectangle) {
    replaceFrameBlock(1, twoTiles({0, 0, 0, 0, 1, 0, 1, 0}), 2);
    expectReadFailsAndReleases(1);
}

TEST_F(DamagedSpoolTest, TheSameTileTwiceOrTilesOutOfOrder) {
    replaceFrameBlock(1, twoTiles({1, 0, 0, 0, 0, 0, 0, 0}), 2);
    expectReadFailsAndReleases(1);
}

TEST_F(DamagedSpoolTest, ATileListedTwice) {
    // Sized first and the list written over it: growing a short vector trips a false
    // -Warray-bounds in GCC 12 at -O3.
    std::vector<unsigned char> packed(8 + 8 * 8 * 3 * 2, 7);
    const unsigned char list[] = {1, 0, 0, 0, 1, 0, 0, 0};
    std::copy(std::begin(list), std::end(list), packed.begin());
    replaceFrameBlock(1, packed, 2);
    expectReadFailsAndReleases(1);
}

TEST_F(DamagedSpoolTest, AFirstFrameWithoutEveryTile) {
    std::vector<unsigned char> packed{0, 0, 0, 0};
    packed.resize(packed.size() + 32 * 8 * 3, 7);
    replaceFrameBlock(0, packed, 1);
    expectReadFailsAndReleases(0);
}

TEST_F(DamagedSpoolTest, TilePixelsShortOfTheList) {
    std::vector<unsigned char> packed = twoTiles({0, 0, 0, 0, 1, 0, 0, 0});
    packed.resize(packed.size() - 3);
    replaceFrameBlock(1, packed, 2);
    expectReadFailsAndReleases(1);
}

TEST_F(DamagedSpoolTest, TileCountOrRawSizeAtOddsWithTheBlock) {
    // The block is sound, but the index promises one tile more than the list holds.
    replaceFrameBlock(1, twoTiles({0, 0, 0, 0, 1, 0, 0, 0}), 2);
    spool.index[1].tileCount = 3;
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
        CaptureArea area;
    };
    const CaptureArea whole{0, 0, 40, 8};
    const Case cases[] = {
        {"grab", [](FakeScreen& s, MemoryFile&) { s.failLock = true; }, whole},
        {"cursor query", [](FakeScreen& s, MemoryFile&) { s.failCursorQuery = true; }, whole},
        {"short cursor write", [](FakeScreen&, MemoryFile& f) { f.writeBudget = f.written + 5; },
         whole},
        {"short frame write",
         [](FakeScreen& s, MemoryFile& f) {
             s.cursor.showing = 0;
             f.writeBudget = f.written + 5;
         },
         whole},
        {"unlock", [](FakeScreen& s, MemoryFile&) { s.failUnlock = true; }, whole},
        {"rectangle wider than the display", [](FakeScreen&, MemoryFile&) {}, {1, 0, 40, 8}},
        {"rectangle lower than the display", [](FakeScreen&, MemoryFile&) {}, {0, 0, 40, 9}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeScreen screen2(40, 8, 176);
        FrameSpool spool2;
        MemoryFile f;
        ASSERT_EQ(spoolOpenFile(spool2, screen2, viewOf(f), c.area), 1);
        if (c.area.width == 40 && c.area.height == 8 && c.area.left == 0) {
            ASSERT_EQ(spoolRecordFrame(spool2), 1);
        }
        c.arrange(screen2, f);
        EXPECT_EQ(spoolRecordFrame(spool2), 0);
        EXPECT_EQ(spoolIsBusy(spool2), 1);
        EXPECT_FALSE(f.isOpen());
        EXPECT_EQ(screen2.releases, 1);
        EXPECT_FALSE(screen2.locked);
    }
}

TEST(SpoolLimits, OpeningWithoutAFileOrWithAnUnusableRectangleFails) {
    FakeScreen screen(4, 4, 16);
    const CaptureArea bad[] = {
        {-1, 0, 4, 4}, {0, -1, 4, 4}, {0, 0, 0, 4}, {0, 0, 4, 0}, {0, 0, kMaxCaptureWidth + 1, 4}};
    for (const CaptureArea& a : bad) {
        FrameSpool spool;
        MemoryFile f;
        EXPECT_EQ(spoolOpenFile(spool, screen, viewOf(f), a), 0);
        EXPECT_EQ(spoolRecordFrame(spool), 0);
    }
    FrameSpool spool;
    EXPECT_EQ(spoolOpenFile(spool, screen, nullptr, CaptureArea{0, 0, 4, 4}), 0);
    EXPECT_EQ(spoolRecordFrame(spool), 0);
}

TEST(SpoolFile, TheSpoolAndItsIndexStayInTheirFolderUnsharedUntilDeleted) {
    // The real files: kept on disk (a later start reads them), never shared while open.
    const std::string folder = ::testing::TempDir() + "pemlo_spool_" + std::to_string(getpid());
    ASSERT_TRUE(makeFolder(folder));
    FakeScreen screen(8, 4, 32);
    {
        FrameSpool spool;
        ASSERT_EQ(spoolOpen(spool, screen, CaptureArea{0, 0, 8, 4}, folder, "about"), 1);
        ASSERT_EQ(spoolRecordFrame(spool), 1);
        SpoolFrame frame;
        EXPECT_EQ(spoolReadFrame(spool, frame), 1);
        ASSERT_EQ(frame.tileCount, 1u);
        EXPECT_EQ(
            std::vector<unsigned char>(frame.tiles[0].pixels, frame.tiles[0].pixels + 8 * 4 * 3),
            crop(screen.grabbed[0], 32, CaptureArea{0, 0, 8, 4}));
        EXPECT_EQ(captureRelease(spool), 1);
    }
    FrameSpool again;
    FilePtr index = openFileForReading(folder + "/" + kFrameIndexName);
    ASSERT_NE(index, nullptr);
    std::string description;
    ASSERT_EQ(spoolOpenRecorded(again, openFileForReading(folder + "/" + kFrameSpoolName), *index,
                                100, description),
              1);
    EXPECT_EQ(description, "about");
    EXPECT_EQ(spoolRecordedFrames(again), 1);
    captureRelease(again);
    EXPECT_TRUE(deleteFile(folder + "/" + kFrameSpoolName));
    EXPECT_TRUE(deleteFile(folder + "/" + kFrameIndexName));
    EXPECT_TRUE(removeFolder(folder));
}

// A recording with pauses, its index in memory: frames grabbed at `grabs` (clock), the
// recording paused before the grab of the same index in `pausesBefore` ({begin, end};
// end 0: still paused at the end).
struct PausedTake {
    FakeScreen screen{16, 4, 64};
    CaptureArea area{0, 0, 16, 4};
    MemoryFile frames;
    MemoryFile index;
};

void recordWithPauses(PausedTake& t, const std::vector<uint32_t>& grabs,
                      const std::vector<std::pair<size_t, PauseSpan>>& pauses) {
    FrameSpool spool;
    ASSERT_EQ(spoolOpenFiles(spool, t.screen, viewOf(t.frames), viewOf(t.index), t.area, "d"), 1);
    size_t nextPause = 0;
    for (size_t i = 0; i <= grabs.size(); ++i) {
        for (; nextPause < pauses.size() && pauses[nextPause].first == i; ++nextPause) {
            const PauseSpan& p = pauses[nextPause].second;
            ASSERT_EQ(spoolPause(spool, p.beginMs), 1);
            GrabbedFrame refused;
            EXPECT_EQ(spoolGrabFrame(spool, refused), 0);  // nothing is grabbed while paused
            EXPECT_EQ(spoolPause(spool, p.beginMs), 0);
            if (p.ended != 0) {
                ASSERT_EQ(spoolResume(spool, p.endMs), 1);
            }
        }
        if (i < grabs.size()) {
            t.screen.times = {grabs[i]};
            ASSERT_EQ(spoolRecordFrame(spool), 1);
        }
    }
    captureRelease(spool);
}

std::vector<uint16_t> recoveredDurations(PausedTake& t, std::vector<PauseSpan>* pauses = nullptr,
                                         uint64_t* totalMs = nullptr) {
    MemoryFile frames;
    frames.bytes = t.frames.bytes;
    MemoryFile index;
    index.bytes = t.index.bytes;
    FrameSpool spool;
    std::string description;
    EXPECT_EQ(spoolOpenRecorded(spool, viewOf(frames), index, 100, description), 1);
    if (pauses != nullptr) {
        *pauses = spoolPauses(spool);
    }
    if (totalMs != nullptr) {
        *totalMs = spoolDurationMs(spool);
    }
    std::vector<uint16_t> out;
    SpoolFrame frame;
    for (int32_t i = 0; i < spoolRecordedFrames(spool); ++i) {
        EXPECT_EQ(spoolReadFrame(spool, frame), 1);
        out.push_back(frame.durationMs);
    }
    return out;
}

TEST(SpoolPauses, ThePausedTimeIsLeftOutOfTheDurationsAndTheRecordsRecoverIt) {
    PausedTake t;
    // A 70 s pause (beyond the 16-bit durations) and a recording that ends paused.
    recordWithPauses(t, {1000, 1100, 71160, 71260}, {{2, {1150, 71150, 1}}, {4, {71300, 0, 0}}});
    std::vector<PauseSpan> pauses;
    uint64_t total = 0;
    // The frame before a pause lasts until it; the last one until the pause it ended in.
    EXPECT_EQ(recoveredDurations(t, &pauses, &total), (std::vector<uint16_t>{100, 60, 100, 40}));
    EXPECT_EQ(total, 300u);
    EXPECT_EQ(pauses, (std::vector<PauseSpan>{{1150, 71150, 1}, {71300, 0, 0}}));

    // Killed just after going on, before the next frame: the last frame lasts a period.
    PausedTake resumed;
    recordWithPauses(resumed, {1000, 1100}, {{2, {1150, 9000, 1}}});
    EXPECT_EQ(recoveredDurations(resumed, &pauses), (std::vector<uint16_t>{100, 100}));
    EXPECT_EQ(pauses.size(), 1u);
}

TEST(SpoolPauses, ATornOrDamagedPauseRecordEndsTheRecordingAtTheFrameBeforeIt) {
    PausedTake t;
    recordWithPauses(t, {1000, 1100, 5160, 5260}, {{2, {1150, 5150, 1}}});
    const size_t pauseAt = t.index.bytes.size() - 2 * kSpoolRecordBytes - 2 * kSpoolRecordBytes;
    ASSERT_TRUE(spoolIsPauseRecord(&t.index.bytes[pauseAt]));
    std::vector<PauseSpan> pauses;
    for (size_t keep : {pauseAt + 5, pauseAt + kSpoolRecordBytes - 1}) {
        PausedTake torn = {};
        torn.frames.bytes = t.frames.bytes;
        torn.index.bytes.assign(t.index.bytes.begin(), t.index.bytes.begin() + keep);
        EXPECT_EQ(recoveredDurations(torn, &pauses), (std::vector<uint16_t>{100, 100})) << keep;
        EXPECT_TRUE(pauses.empty());
    }
    // A flipped bit in the pause or in its going on: nothing after it is used.
    for (size_t at : {pauseAt + 8, pauseAt + kSpoolRecordBytes + 8}) {
        PausedTake damaged;
        damaged.frames.bytes = t.frames.bytes;
        damaged.index.bytes = t.index.bytes;
        damaged.index.bytes[at] ^= 1;
        const std::vector<uint16_t> got = recoveredDurations(damaged, &pauses);
        EXPECT_EQ(got, (at == pauseAt + 8 ? std::vector<uint16_t>{100, 100}
                                          : std::vector<uint16_t>{100, 50}))
            << at;
    }
    EXPECT_EQ(recoveredDurations(t), (std::vector<uint16_t>{100, 60, 100, 100}));
}

TEST(SpoolPauses, APauseNeedsAFrameAndEveryGrabbedFrameInTheSpool) {
    FakeScreen screen(16, 4, 64);
    FrameSpool spool;
    MemoryFile frames;
    ASSERT_EQ(spoolOpenFile(spool, screen, viewOf(frames), CaptureArea{0, 0, 16, 4}), 1);
    EXPECT_EQ(spoolPause(spool, 10), 0);   // no frame yet
    EXPECT_EQ(spoolResume(spool, 10), 0);  // not paused
    screen.times = {100};
    GrabbedFrame grabbed;
    ASSERT_EQ(spoolGrabFrame(spool, grabbed), 1);
    EXPECT_EQ(spoolPause(spool, 150), 0);  // the frame is still on its way
    ASSERT_EQ(spoolCompressFrame(grabbed), 1);
    ASSERT_EQ(spoolAppendFrame(spool, grabbed), 1);
    EXPECT_EQ(spoolPause(spool, 150), 1);
    EXPECT_EQ(spoolIsPaused(spool), 1);
    // Stopped while paused: the last frame lasts until the pause, not until the read.
    screen.times = {9000};
    SpoolFrame frame;
    ASSERT_EQ(spoolReadFrame(spool, frame), 1);
    EXPECT_EQ(frame.durationMs, 50);
    EXPECT_EQ(frame.last, 1);
}

}  // namespace
}  // namespace pemlo
