// The picture the output phase keeps from frame to frame: the capture rectangle as
// packed BGR (rows bottom-up) with the cursor drawn, brought up to date from each frame
// the spool hands back (its changed tiles and its cursor), together with the
// rectangles whose pixels may differ from the picture before, so that only those need
// scaling and encoding again. The pixels are those cropFrame and overlayCursor give for
// the whole frame.
//
// Calling order: composedFrameSetup once, then composeFrame for every frame in spool
// order, the first frame first.
#pragma once

#include <array>
#include <cstdint>

#include "capture/frame_spool.h"
#include "process/growable_buffer.h"

namespace pemlo {

// A rectangle of the picture in memory order: columns from the left, rows from the
// bottom (row 0 is the first row in memory).
struct ChangedRect {
    uint32_t column = 0;
    uint32_t row = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

struct ComposedFrame {
    int32_t width = 0;
    int32_t height = 0;
    GrowableBuffer<uint8_t> pixels;  // width x height x 3, bottom-up
    bool started = false;            // the first frame has been composed
    // The cursor as drawn on the picture, and what it covers.
    bool cursorDrawn = false;
    int32_t cursorX = 0;  // top-left corner, picture column and row from the top
    int32_t cursorY = 0;
    std::array<unsigned char, kCursorImageBytes> cursor{};
    std::array<uint8_t, kCursorImageBytes> under{};  // the covered pixels, row by row
    // What changed with the last frame composed.
    GrowableBuffer<ChangedRect> changes;
    uint32_t changeCount = 0;
    bool everything = false;  // the whole picture is new (the first frame)
};

// Sizes the picture for a capture rectangle of width x height. Returns 1, or 0 when the
// size is empty or memory runs out.
int composedFrameSetup(ComposedFrame& composed, int32_t width, int32_t height);

// Brings the picture up to `frame`: takes the cursor off, copies the changed tiles in,
// draws the frame's cursor (when it has one) with its corner at picture column x and
// row y (either may be negative), and lists what changed. Returns 1, or 0 when a tile
// does not fit the picture, the first frame does not cover it, or memory runs out.
int composeFrame(ComposedFrame& composed, const SpoolFrame& frame, int32_t cursorX,
                 int32_t cursorY);

}  // namespace pemlo
