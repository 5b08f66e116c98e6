#include "capture/tile_diff.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pemlo {
namespace {

// True when the n bytes at a and b are equal. Compares 64 bytes per step and looks at
// the result once per step: a tile row is at most 128 bytes.
inline bool spanEqual(const unsigned char* a, const unsigned char* b, size_t n) {
    size_t i = 0;
#if defined(__SSE2__)
    for (; i + 64 <= n; i += 64) {
        const auto* pa = reinterpret_cast<const __m128i*>(a + i);
        const auto* pb = reinterpret_cast<const __m128i*>(b + i);
        const __m128i e0 = _mm_cmpeq_epi8(_mm_loadu_si128(pa), _mm_loadu_si128(pb));
        const __m128i e1 = _mm_cmpeq_epi8(_mm_loadu_si128(pa + 1), _mm_loadu_si128(pb + 1));
        const __m128i e2 = _mm_cmpeq_epi8(_mm_loadu_si128(pa + 2), _mm_loadu_si128(pb + 2));
        const __m128i e3 = _mm_cmpeq_epi8(_mm_loadu_si128(pa + 3), _mm_loadu_si128(pb + 3));
        const __m128i all = _mm_and_si128(_mm_and_si128(e0, e1), _mm_and_si128(e2, e3));
        if (_mm_movemask_epi8(all) != 0xFFFF) {
            return false;
        }
    }
    for (; i + 16 <= n; i += 16) {
        const __m128i e = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i)));
        if (_mm_movemask_epi8(e) != 0xFFFF) {
            return false;
        }
    }
#endif
    return std::memcmp(a + i, b + i, n - i) == 0;
}

// One row of `width` 4-byte pixels as packed BGR. Four bytes at a time: the fourth lands
// on the next pixel's first byte, which the next copy overwrites; the last pixel takes
// three, so nothing is written past the row.
inline void rowToBgr(const unsigned char* src, uint32_t width, unsigned char* dst) {
    for (uint32_t i = 0; i + 1 < width; ++i) {
        std::memcpy(dst, src, 4);
        dst += 3;
        src += 4;
    }
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
}

}  // namespace

TileGrid tileGridFor(uint32_t width, uint32_t height) {
    TileGrid grid;
    grid.width = width;
    grid.height = height;
    grid.columns = (width + kTileSide - 1) / kTileSide;
    grid.rows = (height + kTileSide - 1) / kTileSide;
    return grid;
}

uint32_t findChangedTiles(const TileGrid& grid, const unsigned char* rows, size_t pitch,
                          unsigned char* previous, unsigned char* changed, bool everything) {
    const size_t previousPitch = size_t{grid.width} * 4;
    uint32_t count = 0;
    for (uint32_t tr = 0; tr < grid.rows; ++tr) {
        unsigned char* marks = changed + size_t{tr} * grid.columns;
        std::memset(marks, everything ? 1 : 0, grid.columns);
        const uint32_t firstRow = tr * kTileSide;
        const uint32_t height = grid.tileHeight(tr);
        if (!everything) {
            // Row by row; a tile found changed is not looked at again.
            uint32_t unchanged = grid.columns;
            for (uint32_t y = firstRow; y < firstRow + height && unchanged > 0; ++y) {
                const unsigned char* now = rows + y * pitch;
                const unsigned char* before = previous + y * previousPitch;
                // Most rows of a desktop do not change at all: one look at the whole row.
                if (unchanged == grid.columns && spanEqual(now, before, previousPitch)) {
                    continue;
                }
                for (uint32_t c = 0; c < grid.columns; ++c) {
                    if (marks[c] != 0) {
                        continue;
                    }
                    const size_t at = size_t{c} * kTileSide * 4;
                    if (!spanEqual(now + at, before + at, size_t{grid.tileWidth(c)} * 4)) {
                        marks[c] = 1;
                        --unchanged;
                    }
                }
            }
        }
        // Bring the changed tiles of this tile row into the previous grab while they
        // are still in the cache, neighbouring tiles in one copy.
        for (uint32_t c = 0; c < grid.columns;) {
            if (marks[c] == 0) {
                ++c;
                continue;
            }
            uint32_t end = c + 1;
            while (end < grid.columns && marks[end] != 0) {
                ++end;
            }
            count += end - c;
            const size_t at = size_t{c} * kTileSide * 4;
            const size_t bytes = (size_t{end - 1} * kTileSide + grid.tileWidth(end - 1)) * 4 - at;
            for (uint32_t y = firstRow; y < firstRow + height; ++y) {
                std::memcpy(previous + y * previousPitch + at, rows + y * pitch + at, bytes);
            }
            c = end;
        }
    }
    return count;
}

size_t packedTilesSize(const TileGrid& grid, const unsigned char* changed) {
    size_t size = 0;
    for (uint32_t tr = 0; tr < grid.rows; ++tr) {
        for (uint32_t c = 0; c < grid.columns; ++c) {
            if (changed[size_t{tr} * grid.columns + c] != 0) {
                size += 4 + size_t{grid.tileWidth(c)} * grid.tileHeight(tr) * 3;
            }
        }
    }
    return size;
}

size_t packChangedTiles(const TileGrid& grid, const unsigned char* rows, size_t pitch,
                        const unsigned char* changed, unsigned char* out) {
    unsigned char* list = out;
    uint32_t count = 0;
    for (uint32_t i = 0; i < grid.count(); ++i) {
        count += changed[i] != 0 ? 1 : 0;
    }
    unsigned char* pixels = out + size_t{count} * 4;
    for (uint32_t tr = 0; tr < grid.rows; ++tr) {
        const uint32_t height = grid.tileHeight(tr);
        for (uint32_t c = 0; c < grid.columns; ++c) {
            if (changed[size_t{tr} * grid.columns + c] == 0) {
                continue;
            }
            list[0] = static_cast<unsigned char>(c & 0xFF);
            list[1] = static_cast<unsigned char>(c >> 8);
            list[2] = static_cast<unsigned char>(tr & 0xFF);
            list[3] = static_cast<unsigned char>(tr >> 8);
            list += 4;
            const uint32_t width = grid.tileWidth(c);
            const unsigned char* src =
                rows + size_t{tr} * kTileSide * pitch + size_t{c} * kTileSide * 4;
            for (uint32_t y = 0; y < height; ++y) {
                rowToBgr(src + y * pitch, width, pixels);
                pixels += size_t{width} * 3;
            }
        }
    }
    return static_cast<size_t>(pixels - out);
}

}  // namespace pemlo
