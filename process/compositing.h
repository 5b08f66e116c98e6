// The image operations applied to each replayed frame: cut the capture rectangle out of
// the grabbed screen image, draw the recorded cursor, and darken the watermark block.
// Frames here are packed BGR: 3 bytes per pixel, rows of width x 3 bytes, bottom-up.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "capture/screen_source.h"
#include "process/growable_buffer.h"

namespace pemlo {

// The watermark block: 83 x 13 pixels, 10 columns from the right edge and 30 rows from
// the bottom of the output frame. Frames not wider than 92 or not taller than 42 pixels
// carry no watermark.
inline constexpr int kWatermarkWidth = 83;
inline constexpr int kWatermarkHeight = 13;
inline constexpr int kWatermarkRight = 10;
inline constexpr int kWatermarkBottom = 30;

// 1,079 factors, bottom row first, each row left to right: a byte v of the block
// becomes (v x factor) >> 8.
extern const std::array<uint8_t, kWatermarkWidth * kWatermarkHeight> watermarkMask;

// Cuts the rectangle (left, top, width, height) out of a grabbed screen image (rows
// top-down, `pitch` bytes each, 4 bytes per pixel blue, green, red, unused) of
// `grabbedSize` bytes into `out` as packed BGR, bottom-up; `out` is resized to exactly
// width x height x 3 bytes. Returns 1, or 0 when the rectangle is empty, does not lie
// inside the grabbed image, or memory runs out.
int cropFrame(const uint8_t* grabbed, size_t grabbedSize, uint16_t pitch, int32_t left, int32_t top,
              int32_t width, int32_t height, GrowableBuffer<uint8_t>& out);

// Draws the 32 x 32 cursor image (kCursorImageBytes bytes, transparent where it holds the
// key colour kCursorKeyBlue, kCursorKeyGreen, kCursorKeyRed) onto a packed BGR frame of
// width x height pixels with its top-left corner at picture column x, row y counted
// from the top (either may be negative). The part outside the frame is clipped on every
// side; key-coloured pixels leave the frame unchanged. Returns 1.
int overlayCursor(uint8_t* frame, int32_t width, int32_t height, const uint8_t* cursor, int32_t x,
                  int32_t y);

// Darkens the watermark block of a packed BGR frame of width x height pixels with
// `watermarkMask`. Returns 1.
int stampWatermark(uint8_t* frame, int32_t width, int32_t height);

}  // namespace pemlo
