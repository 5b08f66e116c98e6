// Test helper: splits FLV bytes into tags, checking the framing on the way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pemlo::testing {

struct FlvTag {
    uint8_t type = 0;
    uint32_t timestamp = 0;
    size_t offset = 0;  // of the tag header
    std::vector<uint8_t> data;
};

// Every tag after the 9-byte header. Each previous-tag-size field must match the tag
// before it; false when the framing does not add up. Our files end with the last tag;
// `allowTrailingSize` also accepts a final size field after it, as other writers add.
inline bool readFlvTags(const std::vector<uint8_t>& file, std::vector<FlvTag>& tags, uint8_t& flags,
                        bool allowTrailingSize = true) {
    tags.clear();
    if (file.size() < 13 || file[0] != 'F' || file[1] != 'L' || file[2] != 'V') {
        return false;
    }
    flags = file[4];
    auto be = [&](size_t p, int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            v = v << 8 | file[p + i];
        }
        return v;
    };
    size_t at = 9;
    uint32_t expectedPrevious = 0;
    while (at < file.size()) {
        if (at + 4 > file.size() || be(at, 4) != expectedPrevious) {
            return false;
        }
        at += 4;
        if (at == file.size()) {
            return allowTrailingSize;
        }
        if (at + 11 > file.size()) {
            return false;
        }
        FlvTag tag;
        tag.offset = at;
        tag.type = file[at];
        const uint32_t size = be(at + 1, 3);
        tag.timestamp = be(at + 4, 3) | uint32_t{file[at + 7]} << 24;
        if (at + 11 + size > file.size()) {
            return false;
        }
        tag.data.assign(file.begin() + static_cast<long>(at + 11),
                        file.begin() + static_cast<long>(at + 11 + size));
        expectedPrevious = 11 + size;
        at += 11 + size;
        tags.push_back(std::move(tag));
    }
    return true;
}

}  // namespace pemlo::testing
