#include "process/scaler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "tests/process/reference_scaler.h"

namespace pemlo {
namespace {

using Bytes = std::vector<uint8_t>;

// Grey pixels: every value stands for the three bytes of one pixel.
Bytes grey(const std::vector<int>& values) {
    Bytes out;
    for (int v : values) {
        out.insert(out.end(), 3, static_cast<uint8_t>(v));
    }
    return out;
}

ImageBuffer sourceOf(Bytes& pixels, int width, int height) {
    ImageBuffer image;
    image.width = static_cast<uint16_t>(width);
    image.height = static_cast<uint16_t>(height);
    image.stride = static_cast<uint16_t>(width * 3);
    image.pixels = pixels.data();
    return image;
}

struct Scaled {
    ImageBuffer target;
    GrowableBuffer<float> accumulator;
    ~Scaled() { imageBufferRelease(target); }
    Bytes bytes() const {
        return Bytes(target.pixels, target.pixels + size_t{target.stride} * target.height);
    }
};

Bytes scale(Bytes pixels, int sw, int sh, int dw, int dh) {
    const ImageBuffer source = sourceOf(pixels, sw, sh);
    Scaled out;
    EXPECT_EQ(scaleAreaAverage(source, out.target, static_cast<uint16_t>(dw),
                               static_cast<uint16_t>(dh), out.accumulator),
              1);
    EXPECT_EQ(out.target.width, dw);
    EXPECT_EQ(out.target.height, dh);
    EXPECT_EQ(out.target.stride, dw * 3);
    EXPECT_EQ(out.accumulator.size(), static_cast<size_t>(dw) * 3 * dh);
    return out.bytes();
}

TEST(ScaleAreaAverage, SinglePrecisionRoundingGivesTheseBytes) {
    EXPECT_EQ(scale(grey({10, 20, 30, 40, 50}), 5, 1, 3, 1), grey({14, 30, 46}));
    EXPECT_EQ(scale(grey({0, 100, 200}), 3, 1, 2, 1), grey({33, 167}));
    EXPECT_EQ(scale(grey({255, 0, 255, 0}), 4, 1, 3, 1), grey({191, 127, 64}));
    // The same row standing up: the vertical weights follow the same rules.
    EXPECT_EQ(scale(grey({255, 0, 255, 0}), 1, 4, 1, 3), grey({191, 127, 64}));
    EXPECT_EQ(scale(grey({0, 255, 255, 255}), 2, 2, 1, 1), grey({191}));
    EXPECT_EQ(scale(grey({0, 0, 0, 0, 255, 0, 0, 0, 0}), 3, 3, 2, 2), grey({28, 28, 28, 28}));
    EXPECT_EQ(scale(Bytes(320 * 240 * 3, 255), 320, 240, 3, 3), Bytes(27, 255));
}

TEST(ScaleAreaAverage, StrongReductionOfWhiteStaysWhite) {
    // Single precision sums a white 640 x 480 to slightly more than its area.
    EXPECT_EQ(scale(Bytes(640 * 480 * 3, 255), 640, 480, 1, 1), Bytes(3, 255));
    EXPECT_EQ(scale(Bytes(1920 * 1080 * 3, 255), 1920, 1080, 1, 1), Bytes(3, 255));
}

TEST(ScaleAreaAverage, EqualSizeCopiesByteForByte) {
    std::mt19937 random(5);
    Bytes pixels(37 * 23 * 3);
    for (auto& b : pixels) {
        b = static_cast<uint8_t>(random());
    }
    EXPECT_EQ(scale(pixels, 37, 23, 37, 23), pixels);
}

// The exact area average of each target pixel, worked out in double precision from the
// overlap of source and target pixel intervals.
Bytes referenceAverage(const Bytes& src, int sw, int sh, int dw, int dh) {
    auto overlap = [](int i, int n, int j, int m) {
        // Source pixel i of n and target pixel j of m on a line of n x m units.
        const long a0 = static_cast<long>(i) * m;
        const long a1 = a0 + m;
        const long b0 = static_cast<long>(j) * n;
        const long b1 = b0 + n;
        const long lo = std::max(a0, b0);
        const long hi = std::min(a1, b1);
        return hi > lo ? static_cast<double>(hi - lo) / m : 0.0;
    };
    Bytes out(static_cast<size_t>(dw) * dh * 3);
    for (int ty = 0; ty < dh; ++ty) {
        for (int tx = 0; tx < dw; ++tx) {
            for (int k = 0; k < 3; ++k) {
                double sum = 0;
                for (int y = 0; y < sh; ++y) {
                    const double wy = overlap(y, sh, ty, dh);
                    if (wy == 0) {
                        continue;
                    }
                    for (int x = 0; x < sw; ++x) {
                        sum += wy * overlap(x, sw, tx, dw) * src[(y * sw + x) * 3 + k];
                    }
                }
                const double average = sum * dw * dh / (static_cast<double>(sw) * sh);
                out[(ty * dw + tx) * 3 + k] = static_cast<uint8_t>(std::floor(average + 0.5));
            }
        }
    }
    return out;
}

TEST(ScaleAreaAverage, AgreesWithExactAreaAverageWithinOneStep) {
    std::mt19937 random(11);
    const int sizes[][4] = {{17, 13, 5, 4}, {64, 48, 40, 30}, {33, 7, 32, 6},  {100, 3, 7, 2},
                            {9, 31, 9, 10}, {45, 45, 44, 1},  {12, 12, 1, 12}, {81, 29, 27, 29}};
    for (const auto& s : sizes) {
        Bytes src(static_cast<size_t>(s[0]) * s[1] * 3);
        for (auto& b : src) {
            b = static_cast<uint8_t>(random());
        }
        const Bytes got = scale(src, s[0], s[1], s[2], s[3]);
        const Bytes want = referenceAverage(src, s[0], s[1], s[2], s[3]);
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); ++i) {
            ASSERT_LE(std::abs(got[i] - want[i]), 1)
                << s[0] << "x" << s[1] << " to " << s[2] << "x" << s[3] << " byte " << i;
        }
    }
}

TEST(ScaleAreaAverage, MatchesTheGatheredSinglePrecisionSumsExactly) {
    std::mt19937 random(23);
    const int sizes[][4] = {{17, 13, 5, 4},       {64, 48, 40, 30}, {33, 7, 32, 6},
                            {100, 3, 7, 2},       {9, 31, 9, 10},   {45, 45, 44, 1},
                            {12, 12, 1, 12},      {81, 29, 27, 29}, {320, 240, 240, 180},
                            {300, 200, 200, 150}, {640, 480, 3, 3}};
    for (const auto& s : sizes) {
        Bytes src(static_cast<size_t>(s[0]) * s[1] * 3);
        for (auto& b : src) {
            b = static_cast<uint8_t>(random());
        }
        EXPECT_EQ(scale(src, s[0], s[1], s[2], s[3]),
                  testing::referenceScale(src, s[0], s[1], s[2], s[3]))
            << s[0] << "x" << s[1] << " to " << s[2] << "x" << s[3];
    }
}

TEST(ScaleAreaAverage, RefusesCallsOutsideItsPreconditionWithoutTouchingTheTarget) {
    Bytes pixels(8 * 6 * 3, 77);
    const ImageBuffer source = sourceOf(pixels, 8, 6);
    Scaled out;
    ASSERT_EQ(scaleAreaAverage(source, out.target, 4, 3, out.accumulator), 1);
    const uint8_t* before = out.target.pixels;
    const Bytes content = out.bytes();
    EXPECT_EQ(scaleAreaAverage(source, out.target, 0, 3, out.accumulator), 0);
    EXPECT_EQ(scaleAreaAverage(source, out.target, 4, 0, out.accumulator), 0);
    EXPECT_EQ(scaleAreaAverage(source, out.target, 9, 3, out.accumulator), 0);
    EXPECT_EQ(scaleAreaAverage(source, out.target, 4, 7, out.accumulator), 0);
    ImageBuffer padded = source;
    padded.stride = 8 * 3 + 4;
    EXPECT_EQ(scaleAreaAverage(padded, out.target, 4, 3, out.accumulator), 0);
    ImageBuffer empty = source;
    empty.pixels = nullptr;
    EXPECT_EQ(scaleAreaAverage(empty, out.target, 4, 3, out.accumulator), 0);
    EXPECT_EQ(out.target.pixels, before);
    EXPECT_EQ(out.target.width, 4);
    EXPECT_EQ(out.target.height, 3);
    EXPECT_EQ(out.bytes(), content);
}

TEST(ScaleAreaAverage, ReusedBuffersFollowEachNewSize) {
    std::mt19937 random(3);
    Bytes pixels(40 * 30 * 3);
    for (auto& b : pixels) {
        b = static_cast<uint8_t>(random());
    }
    const ImageBuffer source = sourceOf(pixels, 40, 30);
    Scaled out;
    const Bytes small = scale(pixels, 40, 30, 7, 5);
    const Bytes large = scale(pixels, 40, 30, 33, 29);
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_EQ(scaleAreaAverage(source, out.target, 33, 29, out.accumulator), 1);
        EXPECT_EQ(out.bytes(), large);
        ASSERT_EQ(scaleAreaAverage(source, out.target, 7, 5, out.accumulator), 1);
        EXPECT_EQ(out.bytes(), small);
    }
}

TEST(ImageBufferSetup, SizesStrideAndRefusesWidthsBeyondSixteenBitStride) {
    ImageBuffer image;
    ASSERT_NE(imageBufferSetup(100, 2, image), nullptr);
    EXPECT_EQ(image.stride, 300);
    image.pixels[599] = 1;  // the last byte is ours
    ASSERT_NE(imageBufferSetup(kMaxImageWidth, 1, image), nullptr);
    EXPECT_EQ(image.stride, 65535);
    EXPECT_EQ(imageBufferSetup(kMaxImageWidth + 1, 1, image), nullptr);
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(image.width, 0);
    imageBufferRelease(image);
}

}  // namespace
}  // namespace pemlo
