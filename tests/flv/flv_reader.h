// Test helper: splits FLV bytes into tags, checking the framing on the way, and
// decodes Screen Video tags back into blocks.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace pemlo::testing {

struct FlvTag {
    uint8_t type = 0;
    uint32_t timestamp = 0;
    size_t offset = 0;  // of the tag header
    std::vector<uint8_t> data;
};

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

// Every tag after the 9-byte header; each previous-tag-size field must match the tag
// before it and the file must end exactly with the last tag.
inline std::vector<FlvTag> parseFlv(const std::vector<uint8_t>& b) {
    std::vector<FlvTag> tags;
    EXPECT_GE(b.size(), 13u);
    if (b.size() < 13) {
        return tags;
    }
    size_t at = 9;
    uint32_t expectPrevious = 0;
    while (at < b.size()) {
        EXPECT_LE(at + 15, b.size()) << "truncated tag at " << at;
        if (at + 15 > b.size()) {
            break;
        }
        EXPECT_EQ(readU32(b, at), expectPrevious) << "previous tag size at " << at;
        FlvTag t;
        t.offset = at + 4;
        t.type = b[t.offset];
        const uint32_t size = readU24(b, t.offset + 1);
        t.timestamp = readU24(b, t.offset + 4) | (uint32_t{b[t.offset + 7]} << 24);
        EXPECT_LE(t.offset + 11 + size, b.size()) << "tag data past the end";
        if (t.offset + 11 + size > b.size()) {
            break;
        }
        t.data.assign(b.begin() + static_cast<long>(t.offset + 11),
                      b.begin() + static_cast<long>(t.offset + 11 + size));
        expectPrevious = 11 + size;
        at = t.offset + 11 + size;
        tags.push_back(std::move(t));
    }
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
