// The watermark: a small "Pemlo" mark with a recording dot. The picture is drawn below
// top row first, as it appears on screen; the table is built from it bottom row first,
// the order in which stampWatermark walks the block.
#include <array>

#include "process/compositing.h"

namespace pemlo {
namespace {

// '#' letters (kept bright), 'o' the dot, '.' the backdrop, '-' the softer edge rows.
constexpr const char* kPicture[kWatermarkHeight] = {
    "-----------------------------------------------------------------------------------",
    "...................................................................................",
    "........ooooo......########.................................###....................",
    ".......ooooooo.....##.....##.................................##....................",
    "......ooooooooo....##.....##.................................##....................",
    "......ooooooooo....##.....##....#######....######..#####.....##.....#######........",
    "......ooooooooo....########....##.....##...##...####...##....##....##.....##.......",
    "......ooooooooo....##..........#########...##....##....##....##....##.....##.......",
    "......ooooooooo....##..........##..........##....##....##....##....##.....##.......",
    ".......ooooooo.....##..........##.....##...##....##....##....##....##.....##.......",
    "........ooooo......##...........#######....##....##....##...####....#######........",
    "...................................................................................",
    "-----------------------------------------------------------------------------------",
};

constexpr uint8_t factorOf(char c) {
    switch (c) {
        case '#':
            return 255;
        case 'o':
            return 56;
        case '-':
            return 176;
        default:
            return 112;
    }
}

constexpr std::array<uint8_t, kWatermarkWidth * kWatermarkHeight> buildMask() {
    std::array<uint8_t, kWatermarkWidth * kWatermarkHeight> mask{};
    for (int row = 0; row < kWatermarkHeight; ++row) {
        const char* line = kPicture[kWatermarkHeight - 1 - row];
        for (int col = 0; col < kWatermarkWidth; ++col) {
            mask[row * kWatermarkWidth + col] = factorOf(line[col]);
        }
    }
    return mask;
}

constexpr bool picturesAreComplete() {
    for (const char* line : kPicture) {
        int n = 0;
        while (line[n] != '\0') {
            ++n;
        }
        if (n != kWatermarkWidth) {
            return false;
        }
    }
    return true;
}
static_assert(picturesAreComplete(), "every watermark row must be 83 pixels wide");

}  // namespace

const std::array<uint8_t, kWatermarkWidth* kWatermarkHeight> watermarkMask = buildMask();

}  // namespace pemlo
