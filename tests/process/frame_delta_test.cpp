// The picture the output phase keeps from frame to frame must be, after every frame, the
// crop of that frame's screen with its cursor drawn, and every pixel that changed must
// lie in one of the rectangles it reports.
#include "process/frame_delta.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "process/compositing.h"
#include "tests/process/driver_support.h"

namespace pemlo {
namespace {

using testing::Bytes;
using testing::FakeScreen;
using testing::MemoryFile;
using testing::ScreenFrame;

constexpr uint32_t kW = 83;  // odd sizes: partial tiles on the right and at the bottom
constexpr uint32_t kH = 70;
constexpr uint32_t kPitch = kW * 4 + 8;
const CaptureArea kArea{5, 3, 71, 65};

Bytes reference(const ScreenFrame& f, const Bytes& cursor) {
    GrowableBuffer<uint8_t> cropped;
    EXPECT_EQ(cropFrame(f.pixels.data(), f.pixels.size(), kPitch, kArea.left, kArea.top,
                        kArea.width, kArea.height, cropped),
              1);
    if (f.cursor) {
        overlayCursor(cropped.data(), kArea.width, kArea.height, cursor.data(),
                      f.cursorX - kArea.left, f.cursorY - kArea.top);
    }
    return Bytes(cropped.data(), cropped.data() + cropped.size());
}

bool covered(const ComposedFrame& c, uint32_t column, uint32_t row) {
    for (uint32_t i = 0; i < c.changeCount; ++i) {
        const ChangedRect& r = c.changes.data()[i];
        if (column >= r.column && column < r.column + r.width && row >= r.row &&
            row < r.row + r.height) {
            return true;
        }
    }
    return false;
}

// A screen that keeps most of itself from frame to frame: small patches change, and the
// cursor moves over unchanged tiles, to the edges, off the picture, hides and returns.
std::vector<ScreenFrame> scriptedFrames() {
    std::mt19937 rng(11);
    Bytes screen(size_t{kPitch} * kH);
    for (auto& b : screen) {
        b = static_cast<uint8_t>(rng() % 3 * 60);
    }
    struct Step {
        bool cursor;
        int32_t x, y;  // cursor corner in screen pixels
        int patches;
    };
    const Step steps[] = {
        {true, 20, 20, 0}, {true, 24, 21, 0},   {true, 24, 21, 0},  {true, 60, 50, 2},
        {false, 0, 0, 0},  {true, -20, -25, 1}, {true, 70, 60, 0},  {true, 75, 67, 0},
        {true, 40, 30, 3}, {true, 41, 30, 0},   {true, 200, 10, 0}, {true, 36, 3, 1},
        {false, 36, 3, 0}, {false, 36, 3, 0},   {true, 36, 3, 0},   {true, 4, 66, 2},
    };
    std::vector<ScreenFrame> frames;
    for (const Step& s : steps) {
        for (int p = 0; p < s.patches; ++p) {
            const uint32_t x0 = rng() % kW;
            const uint32_t y0 = rng() % kH;
            for (uint32_t y = y0; y < std::min<uint32_t>(kH, y0 + 1 + rng() % 9); ++y) {
                for (uint32_t x = x0; x < std::min<uint32_t>(kW, x0 + 1 + rng() % 12); ++x) {
                    screen[y * kPitch + x * 4 + rng() % 3] ^= 0x41;
                }
            }
        }
        ScreenFrame f;
        f.pixels = screen;
        f.cursor = s.cursor;
        f.cursorX = s.x;
        f.cursorY = s.y;
        frames.push_back(std::move(f));
    }
    return frames;
}

TEST(ComposedFrame, EveryFrameIsTheCropWithItsCursorAndEveryChangeIsReported) {
    FakeScreen screen(kW, kH, kPitch);
    screen.frames = scriptedFrames();
    FrameSpool spool;
    ASSERT_EQ(spoolOpenFile(spool, screen, std::make_unique<MemoryFile>(), kArea), 1);
    for (size_t i = 0; i < screen.frames.size(); ++i) {
        ASSERT_EQ(spoolRecordFrame(spool), 1);
    }
    screen.stopped = true;

    ComposedFrame composed;
    ASSERT_EQ(composedFrameSetup(composed, kArea.width, kArea.height), 1);
    SpoolFrame frame;
    Bytes before;
    for (size_t i = 0; i < screen.frames.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        ASSERT_EQ(spoolReadFrame(spool, frame), 1);
        const int32_t x = static_cast<int16_t>(frame.cursorX) - kArea.left;
        const int32_t y = static_cast<int16_t>(frame.cursorY) - kArea.top;
        ASSERT_EQ(composeFrame(composed, frame, x, y), 1);
        const Bytes now(composed.pixels.data(), composed.pixels.data() + composed.pixels.size());
        ASSERT_EQ(now, reference(screen.frames[i], screen.cursorImage()));
        EXPECT_EQ(composed.everything, i == 0);
        if (i == 0) {
            before = now;
            continue;
        }
        // Rows in memory order, from the bottom.
        int missed = 0;
        for (uint32_t row = 0; row < uint32_t(kArea.height); ++row) {
            for (uint32_t col = 0; col < uint32_t(kArea.width); ++col) {
                const size_t at = (size_t{row} * kArea.width + col) * 3;
                const bool changed = now[at] != before[at] || now[at + 1] != before[at + 1] ||
                                     now[at + 2] != before[at + 2];
                missed += changed && !covered(composed, col, row) ? 1 : 0;
            }
        }
        EXPECT_EQ(missed, 0);
        before = now;
    }
    captureRelease(spool);
}

TEST(ComposedFrame, ACursorStandingStillOverUnchangedTilesReportsNothing) {
    FakeScreen screen(kW, kH, kPitch);
    screen.frames = scriptedFrames();
    screen.frames.resize(3);  // frames 1 and 2: the same screen, the cursor at (24, 21)
    FrameSpool spool;
    ASSERT_EQ(spoolOpenFile(spool, screen, std::make_unique<MemoryFile>(), kArea), 1);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(spoolRecordFrame(spool), 1);
    }
    ComposedFrame composed;
    ASSERT_EQ(composedFrameSetup(composed, kArea.width, kArea.height), 1);
    SpoolFrame frame;
    const uint32_t expected[] = {0, 2, 0};  // first: everything; then old and new place
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(spoolReadFrame(spool, frame), 1);
        EXPECT_EQ(frame.tileCount, i == 0 ? spool.grid.count() : 0u);
        ASSERT_EQ(composeFrame(composed, frame, static_cast<int16_t>(frame.cursorX) - kArea.left,
                               static_cast<int16_t>(frame.cursorY) - kArea.top),
                  1);
        if (i > 0) {
            EXPECT_EQ(composed.changeCount, expected[i]) << "frame " << i;
        }
    }
    captureRelease(spool);
}

TEST(ComposedFrame, RefusesFramesThatDoNotFitThePicture) {
    ComposedFrame composed;
    ASSERT_EQ(composedFrameSetup(composed, 40, 8), 1);
    std::vector<uint8_t> pixels(32 * 8 * 3 + 8 * 8 * 3, 9);
    SpoolTile tiles[2];
    tiles[0] = {0, 0, 32, 8, pixels.data()};
    tiles[1] = {32, 0, 8, 8, pixels.data() + 32 * 8 * 3};
    SpoolFrame frame;
    frame.width = 40;
    frame.height = 8;
    frame.tiles = tiles;
    frame.tileCount = 1;
    EXPECT_EQ(composeFrame(composed, frame, 0, 0), 0) << "a first frame must cover the picture";
    frame.tileCount = 2;
    frame.width = 41;
    EXPECT_EQ(composeFrame(composed, frame, 0, 0), 0) << "another size";
    frame.width = 40;
    tiles[1].x = 33;
    EXPECT_EQ(composeFrame(composed, frame, 0, 0), 0) << "a tile past the right edge";
    tiles[1].x = 32;
    EXPECT_EQ(composeFrame(composed, frame, 0, 0), 1);
    frame.tiles = nullptr;  // not owned by the frame
    frame.tileCount = 0;
}

}  // namespace
}  // namespace pemlo
