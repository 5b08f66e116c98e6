// Synthetic recordings for the output driver's tests: a fake screen that hands the frame
// spool computed frames and cursors.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "capture/frame_spool.h"
#include "capture/screen_source.h"
#include "tests/support/flv_tags.h"
#include "tests/support/memory_file.h"

namespace pemlo::testing {

using Bytes = std::vector<uint8_t>;

struct ScreenFrame {
    Bytes pixels;  // top-down, `pitch` bytes per row, 4 bytes per pixel
    bool cursor = false;
    int32_t cursorX = 0;  // top-left corner of the cursor image on the screen
    int32_t cursorY = 0;
    uint32_t durationMs = 100;
};

// A cursor image in which every picture pixel (column c, row r from the top) has its
// own colour, with a key-coloured band on the right.
inline Bytes testCursor() {
    Bytes cursor(kCursorImageBytes);
    for (int r = 0; r < 32; ++r) {
        for (int c = 0; c < 32; ++c) {
            uint8_t* p = &cursor[((31 - r) * 32 + c) * 3];
            const bool key = c >= 28;
            p[0] = key ? kCursorKeyBlue : static_cast<uint8_t>(c * 8);
            p[1] = key ? kCursorKeyGreen : static_cast<uint8_t>(r * 8);
            p[2] = key ? kCursorKeyRed : 30;
        }
    }
    return cursor;
}

class FakeScreen final : public ScreenSource {
  public:
    FakeScreen(uint32_t width, uint32_t height, uint32_t pitch)
        : width_(width), height_(height), pitch_(pitch), cursor_(testCursor()) {}

    std::vector<ScreenFrame> frames;
    size_t next = 0;

    int lockFrame(ScreenImage& image) override {
        current_ = next++;
        image.pixels = frames[current_].pixels.data();
        image.pitch = pitch_;
        image.width = width_;
        image.height = height_;
        return 1;
    }
    int unlockFrame() override { return 1; }
    int queryCursor(CursorState& cursor) override {
        cursor.showing = frames[current_].cursor ? 1 : 0;
        cursor.x = frames[current_].cursorX;
        cursor.y = frames[current_].cursorY;
        return 1;
    }
    const unsigned char* drawCursor() override { return cursor_.data(); }
    int cursorHotspot(int32_t& x, int32_t& y) override {
        x = 0;
        y = 0;
        return 1;
    }
    // Frame i is grabbed at the sum of the durations before it; once recording is over
    // (`stopped`) the clock stands at the end of the last frame.
    uint32_t nowMs() override {
        const size_t end = stopped ? frames.size() : current_;
        uint32_t t = 0;
        for (size_t i = 0; i < end; ++i) {
            t += frames[i].durationMs;
        }
        return t;
    }
    bool stopped = false;

    const Bytes& cursorImage() const { return cursor_; }

  private:
    uint32_t width_;
    uint32_t height_;
    uint32_t pitch_;
    size_t current_ = 0;
    Bytes cursor_;
};

}  // namespace pemlo::testing
