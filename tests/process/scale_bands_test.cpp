#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "process/scaler.h"
#include "tests/process/reference_scaler.h"

namespace pemlo {
namespace {

using Bytes = std::vector<uint8_t>;

using testing::randomPixels;

// Scales in the bands given by `cuts` (target rows where a band ends), computing the
// bands in reverse order so that no band can lean on one computed before it.
Bytes scaleInBands(Bytes& pixels, int sw, int sh, int dw, int dh, std::vector<unsigned> cuts) {
    ImageBuffer source{static_cast<uint16_t>(sw), static_cast<uint16_t>(sh),
                       static_cast<uint16_t>(sw * 3), pixels.data()};
    ImageBuffer target;
    GrowableBuffer<float> accumulator;
    GrowableBuffer<ScalerColumn> columns;
    GrowableBuffer<uint8_t> byteTable;
    ScaleJob job;
    EXPECT_EQ(scaleJobSetup(job, source, target, static_cast<uint16_t>(dw),
                            static_cast<uint16_t>(dh), accumulator, columns, byteTable),
              1);
    cuts.push_back(static_cast<unsigned>(dh));
    for (size_t i = cuts.size(); i-- > 0;) {
        scaleJobRows(job, i == 0 ? 0 : cuts[i - 1], cuts[i]);
    }
    Bytes out(target.pixels, target.pixels + size_t{target.stride} * target.height);
    imageBufferRelease(target);
    return out;
}

TEST(ScaleJobBands, AnySplitIntoBandsGivesTheWholeImagesBytes) {
    const int sizes[][4] = {{1920, 108, 1280, 72}, {1024, 77, 640, 48}, {81, 29, 27, 29},
                            {100, 97, 7, 13},      {33, 64, 32, 63},    {50, 50, 50, 50},
                            {45, 45, 44, 1},       {12, 40, 5, 40}};
    std::mt19937 random(41);
    for (const auto& s : sizes) {
        Bytes pixels = randomPixels(s[0], s[1], static_cast<unsigned>(s[0] * s[1]));
        const Bytes want = testing::referenceScale(pixels, s[0], s[1], s[2], s[3]);
        const auto dh = static_cast<unsigned>(s[3]);
        // Single rows, halves, and random cuts that start or end on split source rows.
        std::vector<unsigned> rows;
        for (unsigned y = 1; y < dh; ++y) {
            rows.push_back(y);
        }
        std::vector<unsigned> randomCuts;
        for (unsigned y = 1; y < dh; ++y) {
            if (random() % 5 == 0) {
                randomCuts.push_back(y);
            }
        }
        for (const auto& cuts :
             {std::vector<unsigned>{}, rows, std::vector<unsigned>{dh / 2}, randomCuts}) {
            EXPECT_EQ(scaleInBands(pixels, s[0], s[1], s[2], s[3], cuts), want)
                << s[0] << "x" << s[1] << " to " << s[2] << "x" << s[3] << " in " << cuts.size() + 1
                << " bands";
        }
    }
}

TEST(ScaleJobBands, WideRowsOfStrongReductionsStayWhite) {
    // 18 bytes per target row: most of each row is normalised several bytes at a time.
    Bytes white(static_cast<size_t>(3200) * 480 * 3, 255);
    EXPECT_EQ(scaleInBands(white, 3200, 480, 6, 2, {1}), Bytes(6 * 2 * 3, 255));
    EXPECT_EQ(testing::referenceScale(white, 3200, 480, 6, 2), Bytes(6 * 2 * 3, 255));
}

TEST(ScaleJobBands, EmptyOrOutOfRangeBandsWriteNothing) {
    Bytes pixels = randomPixels(20, 10, 7);
    ImageBuffer source{20, 10, 60, pixels.data()};
    ImageBuffer target;
    GrowableBuffer<float> accumulator;
    GrowableBuffer<ScalerColumn> columns;
    GrowableBuffer<uint8_t> byteTable;
    ScaleJob job;
    ASSERT_EQ(scaleJobSetup(job, source, target, 7, 4, accumulator, columns, byteTable), 1);
    std::fill(target.pixels, target.pixels + 7 * 3 * 4, uint8_t{0xAB});
    scaleJobRows(job, 2, 2);
    scaleJobRows(job, 3, 1);
    scaleJobRows(job, 4, 9);
    EXPECT_EQ(Bytes(target.pixels, target.pixels + 7 * 3 * 4), Bytes(7 * 3 * 4, 0xAB));
    // A band reaching past the last row stops at it.
    scaleJobRows(job, 2, 9);
    const Bytes want = testing::referenceScale(pixels, 20, 10, 7, 4);
    EXPECT_EQ(Bytes(target.pixels + 2 * 21, target.pixels + 4 * 21),
              Bytes(want.begin() + 2 * 21, want.end()));
    EXPECT_EQ(scaleJobSetup(job, source, target, 21, 4, accumulator, columns, byteTable), 0);
    imageBufferRelease(target);
}

}  // namespace
}  // namespace pemlo
