// An independent statement of the area-averaging scaler's bytes for the tests: each
// target pixel gathers its source pixels from the overlap of pixel intervals, with the
// same single-precision weights and the same order of additions as the scaler's single
// pass, so both must agree byte for byte.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace pemlo::testing {

// Packed BGR noise for the scaler's sources.
inline std::vector<uint8_t> randomPixels(int w, int h, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 3);
    for (auto& b : pixels) {
        b = static_cast<uint8_t>(random());
    }
    return pixels;
}

// How source pixel i of n reaches a line of m target pixels: `weight` to `target`, and
// `spill` (when non-zero) to target + 1.
struct AxisShare {
    int target = 0;
    float weight = 1.0f;
    float spill = 0.0f;
};

inline std::vector<AxisShare> axisShares(int n, int m) {
    std::vector<AxisShare> shares(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const int64_t end = int64_t{i + 1} * m;  // right edge of the source pixel, in units
        const int target = static_cast<int>(int64_t{i} * m / n);
        const int64_t boundary = int64_t{target + 1} * n;
        AxisShare& s = shares[static_cast<size_t>(i)];
        s.target = target;
        if (end > boundary) {
            s.spill = static_cast<float>(static_cast<double>(end - boundary) / m);
            s.weight = static_cast<float>(1.0 - static_cast<double>(s.spill));
        }
    }
    return shares;
}

// Packed BGR in, packed BGR out (any row order; rows map in order).
inline std::vector<uint8_t> referenceScale(const std::vector<uint8_t>& src, int sw, int sh, int dw,
                                           int dh) {
    const auto cols = axisShares(sw, dw);
    const auto rows = axisShares(sh, dh);
    const float f = static_cast<float>(static_cast<double>(static_cast<uint32_t>(dw * dh)) /
                                       static_cast<double>(static_cast<uint32_t>(sw * sh)));
    std::vector<uint8_t> out(static_cast<size_t>(dw) * dh * 3);
    // Weight of source pixel i in target j along one axis; -1 when it does not reach j.
    auto along = [](const AxisShare& s, int j, float& w) {
        if (s.target == j) {
            w = s.weight;
            return true;
        }
        if (s.target + 1 == j && s.spill != 0.0f) {
            w = s.spill;
            return true;
        }
        return false;
    };
    for (int ty = 0; ty < dh; ++ty) {
        // Source rows that reach target row ty lie between these.
        const int r0 = std::max(0, static_cast<int>(int64_t{ty} * sh / dh) - 1);
        const int r1 = std::min(sh, static_cast<int>(int64_t{ty + 1} * sh / dh) + 2);
        for (int tx = 0; tx < dw; ++tx) {
            const int x0 = std::max(0, static_cast<int>(int64_t{tx} * sw / dw) - 1);
            const int x1 = std::min(sw, static_cast<int>(int64_t{tx + 1} * sw / dw) + 2);
            for (int k = 0; k < 3; ++k) {
                float acc = 0.0f;
                for (int r = r0; r < r1; ++r) {
                    float wy = 0;
                    if (!along(rows[static_cast<size_t>(r)], ty, wy)) {
                        continue;
                    }
                    const bool wholeRow = rows[static_cast<size_t>(r)].spill == 0.0f;
                    for (int x = x0; x < x1; ++x) {
                        float wx = 0;
                        if (!along(cols[static_cast<size_t>(x)], tx, wx)) {
                            continue;
                        }
                        const bool wholeCol = cols[static_cast<size_t>(x)].spill == 0.0f;
                        float w = 1.0f;
                        if (wholeRow) {
                            w = wx;
                        } else if (wholeCol) {
                            w = wy;
                        } else {
                            w = static_cast<float>(static_cast<double>(wx) * wy);
                        }
                        const unsigned s = src[(static_cast<size_t>(r) * sw + x) * 3 + k];
                        acc = static_cast<float>(static_cast<double>(s) * w + acc);
                    }
                }
                const double v = static_cast<double>(acc) * static_cast<double>(f) + 0.5;
                out[(static_cast<size_t>(ty) * dw + tx) * 3 + k] =
                    static_cast<uint8_t>(v >= 255.0 ? 255.0 : v);
            }
        }
    }
    return out;
}

}  // namespace pemlo::testing
