#include "process/compositing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace pemlo {
namespace {

using Bytes = std::vector<uint8_t>;

// A grabbed screen image whose pixel (x, y) is blue x, green y, red 7, unused 0xEE,
// with `slack` extra bytes at the end of every row.
Bytes makeScreen(int width, int height, int slack) {
    const int pitch = width * 4 + slack;
    Bytes screen(static_cast<size_t>(pitch) * height, 0xCC);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &screen[static_cast<size_t>(y) * pitch + x * 4];
            p[0] = static_cast<uint8_t>(x);
            p[1] = static_cast<uint8_t>(y);
            p[2] = 7;
            p[3] = 0xEE;
        }
    }
    return screen;
}

TEST(CropFrame, CutsTheRectangleBottomUpAndIgnoresRowSlack) {
    const int width = 9;
    const int height = 6;
    const int slack = 12;
    const Bytes screen = makeScreen(width, height, slack);
    GrowableBuffer<uint8_t> out;
    ASSERT_EQ(cropFrame(screen.data(), screen.size(), width * 4 + slack, 2, 1, 5, 4, out), 1);
    ASSERT_EQ(out.size(), 5u * 4u * 3u);
    for (int row = 0; row < 4; ++row) {
        const int screenY = 1 + 4 - 1 - row;  // memory row 0 is the rectangle's bottom row
        for (int col = 0; col < 5; ++col) {
            const uint8_t* p = out.data() + (row * 5 + col) * 3;
            EXPECT_EQ(p[0], 2 + col) << row << "," << col;
            EXPECT_EQ(p[1], screenY) << row << "," << col;
            EXPECT_EQ(p[2], 7) << row << "," << col;
        }
    }
    // The whole screen: the last bytes are the top row's last pixel, no alpha anywhere.
    ASSERT_EQ(cropFrame(screen.data(), screen.size(), width * 4 + slack, 0, 0, width, height, out),
              1);
    ASSERT_EQ(out.size(), static_cast<size_t>(width * height * 3));
    EXPECT_EQ(out.data()[0], 0);
    EXPECT_EQ(out.data()[1], height - 1);
    EXPECT_EQ(out.data()[out.size() - 3], width - 1);
    EXPECT_EQ(out.data()[out.size() - 2], 0);
    for (size_t i = 0; i < out.size(); ++i) {
        ASSERT_NE(out.data()[i], 0xEE);
        ASSERT_NE(out.data()[i], 0xCC);
    }
    // A column one pixel wide, ending at the screen's right edge.
    ASSERT_EQ(cropFrame(screen.data(), screen.size(), width * 4 + slack, width - 1, 2, 1, 3, out),
              1);
    ASSERT_EQ(out.size(), 9u);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(out.data()[row * 3], width - 1);
        EXPECT_EQ(out.data()[row * 3 + 1], 4 - row);
        EXPECT_EQ(out.data()[row * 3 + 2], 7);
    }
}

TEST(CropFrame, EveryWidthAndOffsetGivesThePixelsByteForByte) {
    // Random bytes everywhere, the unused fourth byte included; widths around every
    // multiple of four pixels, rectangles touching the image's last byte, row slack.
    std::mt19937 random(3);
    for (int width = 1; width <= 21; ++width) {
        for (int left = 0; left <= 3; ++left) {
            for (const int slack : {0, 4, 12}) {
                for (const int height : {1, 2, 3}) {
                    const int screenWidth = left + width;
                    const int pitch = screenWidth * 4 + slack;
                    Bytes screen(static_cast<size_t>(pitch) * (height + 1) - slack);
                    for (auto& b : screen) {
                        b = static_cast<uint8_t>(random());
                    }
                    const int top = 1;  // the rectangle ends at the image's last bytes
                    GrowableBuffer<uint8_t> out;
                    ASSERT_EQ(cropFrame(screen.data(), screen.size(), static_cast<uint16_t>(pitch),
                                        left, top, width, height, out),
                              1);
                    Bytes want;
                    for (int y = top + height - 1; y >= top; --y) {
                        for (int x = left; x < left + width; ++x) {
                            const uint8_t* p = &screen[static_cast<size_t>(y) * pitch + x * 4];
                            want.insert(want.end(), p, p + 3);
                        }
                    }
                    ASSERT_EQ(Bytes(out.data(), out.data() + out.size()), want)
                        << width << " wide at " << left << ", " << height << " high, slack "
                        << slack;
                }
            }
        }
    }
}

TEST(CropFrame, RefusesRectanglesOutsideTheImage) {
    const Bytes screen = makeScreen(8, 4, 0);
    GrowableBuffer<uint8_t> out;
    const uint16_t pitch = 32;
    EXPECT_EQ(cropFrame(screen.data(), screen.size(), pitch, 0, 0, 8, 4, out), 1);
    EXPECT_EQ(cropFrame(screen.data(), screen.size(), pitch, 1, 0, 8, 4, out), 0);
    EXPECT_EQ(cropFrame(screen.data(), screen.size(), pitch, 0, 1, 8, 4, out), 0);
    EXPECT_EQ(cropFrame(screen.data(), screen.size(), pitch, -1, 0, 2, 2, out), 0);
    EXPECT_EQ(cropFrame(screen.data(), screen.size(), pitch, 0, -1, 2, 2, out), 0);
    EXPECT_EQ(cropFrame(screen.data(), screen.size(), pitch, 0, 0, 0, 2, out), 0);
    EXPECT_EQ(cropFrame(screen.data(), screen.size() - 1, pitch, 0, 0, 8, 4, out), 0);
    EXPECT_EQ(cropFrame(nullptr, 0, pitch, 0, 0, 1, 1, out), 0);
}

// A cursor whose picture pixel (column c, row r from the top) is blue c, green r, red
// 100, except a key-coloured diagonal.
Bytes makeCursor() {
    Bytes cursor(kCursorImageBytes);
    for (int r = 0; r < 32; ++r) {
        for (int c = 0; c < 32; ++c) {
            uint8_t* p = &cursor[((31 - r) * 32 + c) * 3];
            if (r == c) {
                p[0] = 255;
                p[1] = 240;
                p[2] = 255;
            } else {
                p[0] = static_cast<uint8_t>(c);
                p[1] = static_cast<uint8_t>(r);
                p[2] = 100;
            }
        }
    }
    return cursor;
}

// Frame pixels at picture (px, py): what the overlay must leave there, worked out
// pixel by pixel from the picture coordinates.
void expectOverlay(const Bytes& before, const Bytes& after, int w, int h, int x, int y) {
    for (int py = 0; py < h; ++py) {
        for (int px = 0; px < w; ++px) {
            const size_t at = (static_cast<size_t>(h - 1 - py) * w + px) * 3;
            const int c = px - x;
            const int r = py - y;
            const bool covered = c >= 0 && c < 32 && r >= 0 && r < 32 && c != r;
            const int b = covered ? c : before[at];
            const int g = covered ? r : before[at + 1];
            const int red = covered ? 100 : before[at + 2];
            ASSERT_EQ(after[at], b) << "x=" << x << " y=" << y << " at " << px << "," << py;
            ASSERT_EQ(after[at + 1], g) << "x=" << x << " y=" << y << " at " << px << "," << py;
            ASSERT_EQ(after[at + 2], red) << "x=" << x << " y=" << y << " at " << px << "," << py;
        }
    }
}

TEST(OverlayCursor, ClipsAtEveryEdge) {
    const Bytes cursor = makeCursor();
    const int w = 50;
    const int h = 40;
    const Bytes blank(static_cast<size_t>(w) * h * 3, 9);
    const int positions[][2] = {{5, 3},      {w - 1, 0},     {w - 20, 10}, {0, h - 5},
                                {10, h - 1}, {-1, 4},        {4, -1},      {-11, -20},
                                {-31, -31},  {-32, 0},       {0, -32},     {w, 0},
                                {0, h},      {w - 1, h - 1}, {-20, h - 3}, {w - 3, -25}};
    for (const auto& pos : positions) {
        Bytes frame = blank;
        EXPECT_EQ(overlayCursor(frame.data(), w, h, cursor.data(), pos[0], pos[1]), 1);
        expectOverlay(blank, frame, w, h, pos[0], pos[1]);
    }
}

TEST(OverlayCursor, LeavesOutExactlyTheKeyColour) {
    Bytes cursor(kCursorImageBytes);
    for (size_t i = 0; i < cursor.size(); i += 3) {
        cursor[i] = 255;
        cursor[i + 1] = 240;
        cursor[i + 2] = 255;
    }
    // Top-left picture pixel: one step off the key in red; the next one off in blue.
    uint8_t* topLeft = &cursor[31 * 96];
    topLeft[2] = 254;
    topLeft[3] = 254;
    Bytes frame(static_cast<size_t>(40) * 40 * 3, 1);
    overlayCursor(frame.data(), 40, 40, cursor.data(), 0, 0);
    const uint8_t* top = &frame[static_cast<size_t>(39) * 40 * 3];
    EXPECT_EQ(top[0], 255);
    EXPECT_EQ(top[1], 240);
    EXPECT_EQ(top[2], 254);
    EXPECT_EQ(top[3], 254);
    EXPECT_EQ(top[4], 240);
    EXPECT_EQ(top[5], 255);
    size_t changed = 0;
    for (uint8_t b : frame) {
        changed += b != 1 ? 1 : 0;
    }
    EXPECT_EQ(changed, 6u);
}

TEST(StampWatermark, StampsOnlyFramesLargeEnough) {
    for (const auto& size : {std::pair{92, 480}, std::pair{640, 42}, std::pair{10, 10}}) {
        Bytes frame(static_cast<size_t>(size.first) * size.second * 3, 200);
        const Bytes before = frame;
        EXPECT_EQ(stampWatermark(frame.data(), size.first, size.second), 1);
        EXPECT_EQ(frame, before) << size.first << "x" << size.second;
    }
}

TEST(StampWatermark, DarkensTheBlockByItsFactors) {
    // Varied content so that every factor meets several byte values.
    for (const auto& size : {std::pair{93, 43}, std::pair{320, 240}}) {
        const int w = size.first;
        const int h = size.second;
        Bytes frame(static_cast<size_t>(w) * h * 3);
        for (size_t i = 0; i < frame.size(); ++i) {
            frame[i] = static_cast<uint8_t>(i * 37 + 11);
        }
        const Bytes before = frame;
        ASSERT_EQ(stampWatermark(frame.data(), w, h), 1);
        for (int row = 0; row < h; ++row) {
            for (int col = 0; col < w; ++col) {
                const int mrow = row - 30;
                const int mcol = col - (w - 93);
                const bool inBlock = mrow >= 0 && mrow < 13 && mcol >= 0 && mcol < 83;
                for (int k = 0; k < 3; ++k) {
                    const size_t at = (static_cast<size_t>(row) * w + col) * 3 + k;
                    const int expected =
                        inBlock ? (before[at] * watermarkMask[mrow * 83 + mcol]) >> 8 : before[at];
                    ASSERT_EQ(frame[at], expected) << w << "x" << h << " " << col << "," << row;
                }
            }
        }
    }
    // White under the brightest factor loses one step; the mark is not flat.
    Bytes white(static_cast<size_t>(93) * 43 * 3, 255);
    stampWatermark(white.data(), 93, 43);
    int bright = 0;
    int dark = 0;
    for (int i = 0; i < 83 * 13; ++i) {
        const uint8_t f = watermarkMask[i];
        const uint8_t got = white[((30 + i / 83) * 93 + i % 83) * 3];
        EXPECT_EQ(got, (255 * f) >> 8);
        bright += f == 255 ? 1 : 0;
        dark += f < 128 ? 1 : 0;
    }
    EXPECT_EQ(white[((30 + 5) * 93 + 20) * 3], 254);  // a letter pixel (the P's stem)
    EXPECT_GT(bright, 100);
    EXPECT_GT(dark, 400);
}

}  // namespace
}  // namespace pemlo
