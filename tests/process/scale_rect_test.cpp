#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "process/scaler.h"
#include "tests/process/reference_scaler.h"

namespace pemlo {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kUntouched = 0xCD;

using testing::randomPixels;

// Source width, height, target width, height: odd factors, nearly equal sizes, equal
// sizes, single target rows and columns.
constexpr int kSizes[][4] = {{81, 29, 27, 29}, {100, 97, 7, 13}, {33, 64, 32, 63},
                             {50, 50, 50, 50}, {45, 45, 44, 1},  {12, 40, 5, 40},
                             {37, 23, 1, 9},   {64, 48, 19, 17}, {96, 99, 64, 64}};

struct Job {
    ImageBuffer source;
    ImageBuffer target;
    GrowableBuffer<float> accumulator;
    GrowableBuffer<ScalerColumn> columns;
    GrowableBuffer<uint8_t> byteTable;
    ScaleJob job;

    Job(Bytes& pixels, int sw, int sh, int dw, int dh)
        : source{static_cast<uint16_t>(sw), static_cast<uint16_t>(sh),
                 static_cast<uint16_t>(sw * 3), pixels.data()} {
        EXPECT_EQ(setup(dw, dh), 1);
    }
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;
    ~Job() { imageBufferRelease(target); }

    int setup(int dw, int dh) {
        return scaleJobSetup(job, source, target, static_cast<uint16_t>(dw),
                             static_cast<uint16_t>(dh), accumulator, columns, byteTable);
    }
    Bytes bytes() const {
        return Bytes(target.pixels, target.pixels + size_t{target.stride} * target.height);
    }
};

TEST(ScaleJobRect, WritesExactlyTheRectangleWithTheWholeImagesBytes) {
    std::mt19937 random(5);
    for (const auto& s : kSizes) {
        Bytes pixels = randomPixels(s[0], s[1], static_cast<unsigned>(s[0] + s[1]));
        const Bytes want = testing::referenceScale(pixels, s[0], s[1], s[2], s[3]);
        const auto dw = static_cast<unsigned>(s[2]);
        const auto dh = static_cast<unsigned>(s[3]);
        // The whole target, single pixels in the corners, single rows and columns at the
        // edges, and random rectangles, some reaching past the target.
        std::vector<std::array<unsigned, 4>> rects = {
            {0, dh, 0, dw},      {0, 1, 0, 1},           {dh - 1, dh, dw - 1, dw},
            {0, 1, dw - 1, dw},  {dh - 1, dh, 0, 1},     {0, dh, dw - 1, dw},
            {dh - 1, dh, 0, dw}, {0, dh + 5, 0, dw + 5}, {dh / 2, dh / 2 + 1, 0, dw}};
        for (int i = 0; i < 12; ++i) {
            const auto r0 = static_cast<unsigned>(random() % dh);
            const auto c0 = static_cast<unsigned>(random() % dw);
            const auto r1 = static_cast<unsigned>(r0 + 1 + random() % (dh - r0 + 1));
            const auto c1 = static_cast<unsigned>(c0 + 1 + random() % (dw - c0 + 1));
            rects.push_back({r0, r1, c0, c1});
        }
        Job job(pixels, s[0], s[1], s[2], s[3]);
        for (const auto& r : rects) {
            std::fill(job.target.pixels, job.target.pixels + want.size(), kUntouched);
            // Working sums outside the rectangle must stay as they are too, so that
            // rectangles that do not overlap can be computed at the same time.
            std::fill(job.job.accumulator, job.job.accumulator + want.size(), -1.0f);
            scaleJobRect(job.job, r[0], r[1], r[2], r[3]);
            const Bytes got = job.bytes();
            size_t wrong = 0;
            for (unsigned y = 0; y < dh; ++y) {
                for (unsigned x = 0; x < dw * 3; ++x) {
                    const size_t i = size_t{y} * dw * 3 + x;
                    const bool inside = y >= r[0] && y < r[1] && x / 3 >= r[2] && x / 3 < r[3];
                    wrong += got[i] != (inside ? want[i] : kUntouched) ? 1 : 0;
                    wrong += !inside && job.job.accumulator[i] != -1.0f ? 1 : 0;
                }
            }
            EXPECT_EQ(wrong, 0u) << s[0] << "x" << s[1] << " to " << s[2] << "x" << s[3]
                                 << ", rows " << r[0] << "-" << r[1] << ", columns " << r[2] << "-"
                                 << r[3];
        }
        // Empty rectangles write nothing.
        std::fill(job.target.pixels, job.target.pixels + want.size(), kUntouched);
        scaleJobRect(job.job, 1, 1, 0, dw);
        scaleJobRect(job.job, 0, dh, 2, 1);
        scaleJobRect(job.job, dh, dh + 3, 0, dw);
        scaleJobRect(job.job, 0, dh, dw, dw + 2);
        EXPECT_EQ(job.bytes(), Bytes(want.size(), kUntouched));
    }
}

// The target span that the reference's own weights give: every target pixel that some
// source pixel of [first, end) hands a share to.
std::pair<unsigned, unsigned> reachedByReference(int n, int m, unsigned first, unsigned end) {
    const auto shares = testing::axisShares(n, m);
    int low = m;
    int high = -1;
    for (unsigned i = first; i < end; ++i) {
        const auto& s = shares[i];
        low = std::min(low, s.target);
        high = std::max(high, s.spill != 0.0f ? s.target + 1 : s.target);
    }
    return {static_cast<unsigned>(low), static_cast<unsigned>(high + 1)};
}

TEST(ScaleJobTargetSpan, GivesExactlyTheTargetPixelsThatTheSourceSpanReaches) {
    std::mt19937 random(17);
    for (const auto& s : kSizes) {
        Bytes pixels = randomPixels(s[0], s[1], 3);
        Job job(pixels, s[0], s[1], s[2], s[3]);
        for (int axis = 0; axis < 2; ++axis) {
            const auto n = static_cast<unsigned>(s[axis]);
            const int m = s[axis + 2];
            std::vector<std::pair<unsigned, unsigned>> spans = {
                {0, 1}, {n - 1, n}, {0, n}, {n / 2, n / 2 + 1}, {1, n - 1}};
            for (int i = 0; i < 10; ++i) {
                const auto first = static_cast<unsigned>(random() % n);
                spans.emplace_back(first,
                                   static_cast<unsigned>(first + 1 + random() % (n - first)));
            }
            for (const auto& [first, end] : spans) {
                if (first >= end) {
                    continue;
                }
                unsigned targetFirst = 99;
                unsigned targetEnd = 99;
                if (axis == 0) {
                    scaleJobTargetColumns(job.job, first, end, targetFirst, targetEnd);
                } else {
                    scaleJobTargetRows(job.job, first, end, targetFirst, targetEnd);
                }
                EXPECT_EQ(std::make_pair(targetFirst, targetEnd),
                          reachedByReference(static_cast<int>(n), m, first, end))
                    << (axis == 0 ? "columns " : "rows ") << first << "-" << end << " of " << s[0]
                    << "x" << s[1] << " to " << s[2] << "x" << s[3];
            }
        }
        unsigned a = 7;
        unsigned b = 7;
        scaleJobTargetColumns(job.job, 3, 3, a, b);
        EXPECT_EQ(a, b);
        scaleJobTargetRows(job.job, static_cast<unsigned>(s[1]), static_cast<unsigned>(s[1]) + 4, a,
                           b);
        EXPECT_EQ(a, b);
        // A span running past the source is cut to it.
        scaleJobTargetColumns(job.job, 0, static_cast<unsigned>(s[0]) + 9, a, b);
        EXPECT_EQ(a, 0u);
        EXPECT_EQ(b, static_cast<unsigned>(s[2]));
    }
}

TEST(ScaleJobTargetSpan, RescalingTheSpansOfAChangedRectangleBringsTheTargetUpToDate) {
    std::mt19937 random(23);
    for (const auto& s : kSizes) {
        const auto sw = static_cast<unsigned>(s[0]);
        const auto sh = static_cast<unsigned>(s[1]);
        Bytes pixels = randomPixels(s[0], s[1], 11);
        Job job(pixels, s[0], s[1], s[2], s[3]);
        scaleJobRows(job.job, 0, job.job.targetHeight);
        for (int step = 0; step < 8; ++step) {
            // A changed rectangle of the source; the first steps take the corners.
            auto x0 = static_cast<unsigned>(random() % sw);
            auto y0 = static_cast<unsigned>(random() % sh);
            auto x1 = static_cast<unsigned>(x0 + 1 + random() % (sw - x0));
            auto y1 = static_cast<unsigned>(y0 + 1 + random() % (sh - y0));
            if (step < 2) {
                x0 = step == 0 ? 0 : sw - 1;
                y0 = step == 0 ? 0 : sh - 1;
                x1 = x0 + 1;
                y1 = y0 + 1;
            }
            for (unsigned y = y0; y < y1; ++y) {
                for (unsigned x = x0 * 3; x < x1 * 3; ++x) {
                    pixels[size_t{y} * sw * 3 + x] = static_cast<uint8_t>(random());
                }
            }
            ASSERT_EQ(job.setup(s[2], s[3]), 1);
            unsigned c0 = 0;
            unsigned c1 = 0;
            unsigned r0 = 0;
            unsigned r1 = 0;
            scaleJobTargetColumns(job.job, x0, x1, c0, c1);
            scaleJobTargetRows(job.job, y0, y1, r0, r1);
            scaleJobRect(job.job, r0, r1, c0, c1);
            ASSERT_EQ(job.bytes(), testing::referenceScale(pixels, s[0], s[1], s[2], s[3]))
                << s[0] << "x" << s[1] << " to " << s[2] << "x" << s[3] << ", changed " << x0 << ","
                << y0 << " to " << x1 << "," << y1;
        }
    }
}

}  // namespace
}  // namespace pemlo
