#include "process/compositing.h"

#include <algorithm>
#include <cstring>

namespace pemlo {

int cropFrame(const uint8_t* grabbed, size_t grabbedSize, uint16_t pitch, int32_t left, int32_t top,
              int32_t width, int32_t height, GrowableBuffer<uint8_t>& out) {
    if (grabbed == nullptr || width <= 0 || height <= 0 || left < 0 || top < 0) {
        return 0;
    }
    // The rectangle must lie inside the screen rows and inside the bytes delivered.
    const int64_t rowBytes = (static_cast<int64_t>(left) + width) * 4;
    const int64_t lastRowStart = (static_cast<int64_t>(top) + height - 1) * pitch;
    if (rowBytes > pitch || lastRowStart + rowBytes > static_cast<int64_t>(grabbedSize)) {
        return 0;
    }
    const size_t outRow = static_cast<size_t>(width) * 3;
    if (out.resize(outRow * static_cast<size_t>(height)) == 0) {
        return 0;
    }
    uint8_t* dst = out.data();
    // The first output row is the bottom row of the rectangle.
    for (int64_t row = static_cast<int64_t>(top) + height - 1; row >= top; --row) {
        const uint8_t* src = grabbed + row * pitch + static_cast<int64_t>(left) * 4;
        // Four bytes at a time: the fourth lands on the next pixel's first byte, which
        // the next copy overwrites; the row's last pixel takes three.
        for (int32_t i = 0; i + 1 < width; ++i) {
            std::memcpy(dst, src, 4);
            dst += 3;
            src += 4;
        }
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
        dst += 3;
    }
    return 1;
}

int overlayCursor(uint8_t* frame, int32_t width, int32_t height, const uint8_t* cursor, int32_t x,
                  int32_t y) {
    if (frame == nullptr || cursor == nullptr || width <= 0 || height <= 0) {
        return 1;
    }
    // Picture rows and columns of the cursor (0 = top, left) that land inside the frame.
    const int64_t firstCol = std::max<int64_t>(0, -static_cast<int64_t>(x));
    const int64_t endCol = std::min<int64_t>(kCursorSide, static_cast<int64_t>(width) - x);
    const int64_t firstRow = std::max<int64_t>(0, -static_cast<int64_t>(y));
    const int64_t endRow = std::min<int64_t>(kCursorSide, static_cast<int64_t>(height) - y);
    for (int64_t i = firstRow; i < endRow; ++i) {
        const uint8_t* src = cursor + (kCursorSide - 1 - i) * kCursorSide * 3;
        uint8_t* dst = frame + (static_cast<int64_t>(height) - 1 - (y + i)) * width * 3;
        for (int64_t j = firstCol; j < endCol; ++j) {
            const uint8_t* s = src + j * 3;
            if (s[0] == kCursorKeyBlue && s[1] == kCursorKeyGreen && s[2] == kCursorKeyRed) {
                continue;
            }
            uint8_t* d = dst + (x + j) * 3;
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
        }
    }
    return 1;
}

int stampWatermark(uint8_t* frame, int32_t width, int32_t height) {
    if (frame == nullptr || width < kWatermarkWidth + kWatermarkRight ||
        height < kWatermarkHeight + kWatermarkBottom) {
        return 1;
    }
    const uint8_t* factor = watermarkMask.data();
    const size_t stride = static_cast<size_t>(width) * 3;
    const size_t firstCol = static_cast<size_t>(width) - kWatermarkWidth - kWatermarkRight;
    for (int row = 0; row < kWatermarkHeight; ++row) {
        uint8_t* p = frame + (kWatermarkBottom + row) * stride + firstCol * 3;
        for (int col = 0; col < kWatermarkWidth; ++col) {
            const unsigned f = *factor++;
            p[0] = static_cast<uint8_t>((p[0] * f) >> 8);
            p[1] = static_cast<uint8_t>((p[1] * f) >> 8);
            p[2] = static_cast<uint8_t>((p[2] * f) >> 8);
            p += 3;
        }
    }
    return 1;
}

}  // namespace pemlo
