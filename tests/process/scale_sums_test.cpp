// The scaler forms its sums in integers when no single-precision sum can be rounded;
// these cases pin that each way of summing gives the reference's bytes, at the limits
// where it is chosen.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "process/scaler.h"
#include "tests/process/reference_scaler.h"

namespace pemlo {
namespace {

using Bytes = std::vector<uint8_t>;

struct Case {
    int sw, sh, dw, dh;
    bool integerSums;
    unsigned termCount;
    bool byteTable;
};

// Sizes and the way each one is summed: two or four terms per column at a time, one
// pixel at a time in integers, or in single precision; integer sums become bytes
// through a table or through the single-precision normalisation.
constexpr Case kCases[] = {
    {96, 54, 64, 36, true, 2, true},    // 1.5 both ways, as 1920 x 1080 to 1280 x 720
    {3840, 4, 1920, 2, true, 2, true},  // 2 both ways
    {50, 50, 50, 50, true, 2, true},    // equal sizes
    {90, 20, 30, 5, true, 4, true},     // 3 across, 4 down
    {28, 24, 16, 6, true, 4, true},     // 1.75 across: up to three pixels a column
    {96, 99, 64, 64, true, 2, false},   // sums up to 255 x 297, past the table
    {35, 16, 8, 4, true, 0, true},      // 4.375 across: up to six pixels a column
    {4, 257, 4, 1, true, 0, true},      // sums up to 65,535, the table's last byte
    {6, 129, 4, 1, true, 0, false},     // row sums up to 255 x 129, past signed 16 bits
    {6, 257, 4, 1, true, 0, false},     // row sums up to 255 x 257, the most 16 bits hold
    {256, 256, 1, 1, true, 0, false},   // sums up to 255 x 65,536, just below 2^24
    {6, 258, 4, 1, false, 0, false},    // row sums past 16 bits
    {300, 256, 1, 1, false, 0, false},  // sums past 2^24
    {57, 20, 15, 5, false, 0, false},   // shares in fifteenths across
    {4, 1, 3, 1, false, 0, false},      // shares in thirds
    {1281, 721, 1280, 720, false, 0, false}};

Bytes pattern(int w, int h, int kind, unsigned seed) {
    std::mt19937 random(seed);
    Bytes pixels(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < pixels.size(); ++i) {
        const size_t pixel = i / 3;
        switch (kind) {
            case 0:
                pixels[i] = static_cast<uint8_t>(random());
                break;
            case 1:  // the largest sums
                pixels[i] = 255;
                break;
            default:  // a checkerboard of 0 and 255 with runs along the rows
                pixels[i] =
                    ((pixel % static_cast<size_t>(w)) / 3 + pixel / static_cast<size_t>(w)) % 2 != 0
                        ? 255
                        : 0;
                break;
        }
    }
    return pixels;
}

TEST(ScalerSums, EveryWayOfSummingGivesTheReferenceBytes) {
    for (const Case& c : kCases) {
        for (int kind = 0; kind < 3; ++kind) {
            Bytes pixels = pattern(c.sw, c.sh, kind, static_cast<unsigned>(c.sw * 31 + kind));
            const ImageBuffer source{static_cast<uint16_t>(c.sw), static_cast<uint16_t>(c.sh),
                                     static_cast<uint16_t>(c.sw * 3), pixels.data()};
            ImageBuffer target;
            GrowableBuffer<float> accumulator;
            GrowableBuffer<ScalerColumn> columns;
            GrowableBuffer<uint8_t> byteTable;
            ScaleJob job;
            ASSERT_EQ(scaleJobSetup(job, source, target, static_cast<uint16_t>(c.dw),
                                    static_cast<uint16_t>(c.dh), accumulator, columns, byteTable),
                      1);
            const ScalePath path = !c.integerSums     ? ScalePath::SinglePrecision
                                   : c.termCount != 0 ? ScalePath::IntegerPairs
                                                      : ScalePath::Integers;
            EXPECT_EQ(job.path, path) << c.sw << "x" << c.sh;
            EXPECT_EQ(job.termCount, c.termCount) << c.sw << "x" << c.sh;
            EXPECT_EQ(job.byteOfSum != nullptr, c.byteTable) << c.sw << "x" << c.sh;
            scaleJobRows(job, 0, job.targetHeight);
            const Bytes want = testing::referenceScale(pixels, c.sw, c.sh, c.dw, c.dh);
            EXPECT_EQ(Bytes(target.pixels, target.pixels + want.size()), want)
                << c.sw << "x" << c.sh << " to " << c.dw << "x" << c.dh << ", pattern " << kind;
            // The last column alone, then the rest: the last column's sums must not spill
            // into the next row's.
            if (c.dw > 1) {
                std::fill(target.pixels, target.pixels + want.size(), uint8_t{0});
                scaleJobRect(job, 0, job.targetHeight, job.targetWidth - 1, job.targetWidth);
                scaleJobRect(job, 0, job.targetHeight, 0, job.targetWidth - 1);
                EXPECT_EQ(Bytes(target.pixels, target.pixels + want.size()), want)
                    << c.sw << "x" << c.sh << " in two column spans";
            }
            imageBufferRelease(target);
        }
    }
}

TEST(ScalerSums, WhiteStaysWhiteAtTheLargestIntegerSums) {
    Bytes white(size_t{256} * 256 * 3, 255);
    EXPECT_EQ(testing::referenceScale(white, 256, 256, 1, 1), Bytes(3, 255));
    const ImageBuffer source{256, 256, 256 * 3, white.data()};
    ImageBuffer target;
    GrowableBuffer<float> accumulator;
    ASSERT_EQ(scaleAreaAverage(source, target, 1, 1, accumulator), 1);
    EXPECT_EQ(Bytes(target.pixels, target.pixels + 3), Bytes(3, 255));
    imageBufferRelease(target);
}

}  // namespace
}  // namespace pemlo
