// Test helper: reads FLV fields, splits our files into tags and decodes Screen Video
// tags back into blocks.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "tests/support/flv_tags.h"

namespace pemlo::testing {

inline uint32_t readU32(const std::vector<uint8_t>& b, size_t at) {
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) |
           b[at + 3];
}
inline uint32_t readU24(const std::vector<uint8_t>& b, size_t at) {
    return (uint32_t{b[at]} << 16) | (uint32_t{b[at + 1]} << 8) | b[at + 2];
}
inline double readDouble(const std::vector<uint8_t>& b, size_t at) {
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) {
        bits = (bits << 8) | b[at + i];
    }
    double v = 0;
    std::memcpy(&v, &bits, 8);
    return v;
}

// Every tag of one of our files: the framing must add up and the file must end exactly
// with the last tag.
inline std::vector<FlvTag> parseFlv(const std::vector<uint8_t>& b) {
    std::vector<FlvTag> tags;
    uint8_t flags = 0;
    EXPECT_TRUE(readFlvTags(b, tags, flags, false)) << "the FLV's tag framing does not add up";
    return tags;
}

// One Screen Video tag taken apart: each block's inflated pixels (empty = not sent).
struct VideoFrame {
    bool keyframe = false;
    int width = 0;
    int height = 0;
    std::vector<std::vector<uint8_t>> blocks;
    bool valid = false;
};

inline VideoFrame decodeVideoTag(const std::vector<uint8_t>& d) {
    VideoFrame f;
    if (d.size() < 5 || (d[0] & 0x0F) != 3) {
        return f;
    }
    f.keyframe = (d[0] >> 4) == 1;
    if ((d[1] >> 4) != 1 || (d[3] >> 4) != 1) {
        return f;
    }
    f.width = ((d[1] & 0x0F) << 8) | d[2];
    f.height = ((d[3] & 0x0F) << 8) | d[4];
    const int cols = (f.width + 31) / 32;
    const int rows = (f.height + 31) / 32;
    size_t at = 5;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            if (at + 2 > d.size()) {
                return f;
            }
            const size_t n = (size_t{d[at]} << 8) | d[at + 1];
            at += 2;
            std::vector<uint8_t> pixels;
            if (n > 0) {
                if (at + n > d.size()) {
                    return f;
                }
                pixels.resize(32 * 32 * 3);
                uLongf len = pixels.size();
                if (uncompress(pixels.data(), &len, d.data() + at, n) != Z_OK) {
                    return f;
                }
                pixels.resize(len);
                at += n;
            }
            f.blocks.push_back(std::move(pixels));
        }
    }
    f.valid = at == d.size();
    return f;
}

}  // namespace pemlo::testing
