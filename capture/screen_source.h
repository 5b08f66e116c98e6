// What the frame spool needs from the screen: a copy of the whole display as a locked
// 32-bit image, the mouse cursor and a millisecond clock. The Windows program provides
// it with Direct3D 9 (or GDI) and USER32; the tests provide a fake one.
#pragma once

#include <cstdint>

namespace pemlo {

// The cursor image: 32 x 32 pixels, 3 bytes each (blue, green, red), rows bottom-up.
constexpr int kCursorSide = 32;
constexpr uint32_t kCursorImageBytes = 3072;
// Pixels of exactly this colour are not covered by the cursor.
constexpr unsigned char kCursorKeyBlue = 255;
constexpr unsigned char kCursorKeyGreen = 240;
constexpr unsigned char kCursorKeyRed = 255;

// A locked copy of the whole display: `height` rows top-down, `pitch` bytes per row,
// 4 bytes per pixel (blue, green, red, alpha). Valid until unlockFrame.
struct ScreenImage {
    const unsigned char* pixels = nullptr;
    uint32_t pitch = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

// The cursor at the moment of a query: whether it shows (exactly "showing", not
// suppressed) and the screen position of its hot spot.
struct CursorState {
    int showing = 0;
    int32_t x = 0;
    int32_t y = 0;
};

class ScreenSource {
  public:
    virtual ~ScreenSource() = default;

    // Copies the display and locks the copy. 1 on success, 0 on failure.
    virtual int lockFrame(ScreenImage& image) = 0;
    // Unlocks the copy taken by lockFrame. 1 on success, 0 on failure.
    virtual int unlockFrame() = 0;
    // Reads the cursor's state. 1 on success, 0 on failure.
    virtual int queryCursor(CursorState& cursor) = 0;
    // Draws the cursor last queried into the 32 x 32 image over the colour key and
    // returns the image (kCursorImageBytes bytes, owned by the source), or null when it
    // cannot be drawn (the frame is then recorded without a cursor).
    virtual const unsigned char* drawCursor() = 0;
    // The hot-spot offset of the cursor last queried. 1 when known, 0 otherwise (the
    // position is then used as it is).
    virtual int cursorHotspot(int32_t& x, int32_t& y) = 0;
    // Milliseconds from a fixed origin, wrapping at 32 bits.
    virtual uint32_t nowMs() = 0;
    // Called after each recorded frame (the desktop is invalidated so it repaints).
    virtual void frameDone() {}
    // Releases the display objects; later lockFrame calls fail.
    virtual void release() {}
};

}  // namespace pemlo
