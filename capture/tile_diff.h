// Which parts of the capture rectangle changed from one grab to the next. The rectangle
// is cut into tiles of kTileSide x kTileSide pixels (the last column and row of tiles
// may be narrower or lower); a tile has changed when any byte of its pixels differs
// from the grab before. Changed tiles are packed for the spool as a list of positions
// followed by their pixels in packed BGR.
//
// Packed tiles: for each of n tiles, in ascending order (row by row, left to right), its
// column and row in the tile grid as two little-endian 16-bit values; then, tile after
// tile in the same order, its pixels: rows top-down, width x 3 bytes each (blue, green,
// red). The length is 4 n + 3 x the sum of the tiles' areas.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pemlo {

inline constexpr uint32_t kTileSide = 32;

// The tile grid of a capture rectangle of width x height pixels.
struct TileGrid {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t columns = 0;
    uint32_t rows = 0;

    uint32_t count() const { return columns * rows; }
    uint32_t tileWidth(uint32_t column) const {
        return column + 1 < columns ? kTileSide : width - column * kTileSide;
    }
    uint32_t tileHeight(uint32_t row) const {
        return row + 1 < rows ? kTileSide : height - row * kTileSide;
    }
};

TileGrid tileGridFor(uint32_t width, uint32_t height);

// Compares the capture rectangle, `grid.height` rows of `pitch` bytes starting at `rows`
// (4 bytes per pixel, top-down), with `previous` (the last grab of the rectangle, rows
// of width x 4 bytes with no gap). Sets changed[i] to 1 for every tile i that differs
// (to 1 for all of them when `everything`) and to 0 otherwise, and copies the changed
// tiles into `previous`. Returns the number of changed tiles.
uint32_t findChangedTiles(const TileGrid& grid, const unsigned char* rows, size_t pitch,
                          unsigned char* previous, unsigned char* changed, bool everything);

// The packed length of the tiles marked in `changed`.
size_t packedTilesSize(const TileGrid& grid, const unsigned char* changed);

// Packs the tiles marked in `changed` from the capture rectangle (as for
// findChangedTiles) into `out`, which holds packedTilesSize bytes. Returns the length.
size_t packChangedTiles(const TileGrid& grid, const unsigned char* rows, size_t pitch,
                        const unsigned char* changed, unsigned char* out);

}  // namespace pemlo
