#include "process/compositing.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    uint8_t* const frameEnd = dst + out.size();
    // The first output row is the bottom row of the rectangle.
    for (int64_t row = static_cast<int64_t>(top) + height - 1; row >= top; --row) {
        const uint8_t* src = grabbed + row * pitch + static_cast<int64_t>(left) * 4;
        int32_t i = 0;
#if defined(__SSE2__)
        // Four pixels at a time: in each 64-bit half, the second pixel's three bytes move
        // down next to the first's; the two halves' six bytes are then joined. Each store
        // writes 16 bytes of which 12 are kept: the next store, or the next row, writes
        // over the other 4, so it stops 16 bytes before the end of the frame.
        const __m128i firstPixel = _mm_set1_epi64x(0x0000000000FFFFFFLL);
        const __m128i secondPixel = _mm_set1_epi64x(0x0000FFFFFF000000LL);
        const __m128i lowHalf = _mm_set_epi32(0, 0, 0x0000FFFF, -1);
        const __m128i highHalf = _mm_set_epi32(0, -1, static_cast<int>(0xFFFF0000u), 0);
        for (; i + 4 < width && frameEnd - dst >= 16; i += 4, src += 16, dst += 12) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
            const __m128i halves = _mm_or_si128(_mm_and_si128(x, firstPixel),
                                                _mm_and_si128(_mm_srli_epi64(x, 8), secondPixel));
            const __m128i joined = _mm_or_si128(_mm_and_si128(halves, lowHalf),
                                                _mm_and_si128(_mm_srli_si128(halves, 2), highHalf));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), joined);
        }
#endif
        // Four bytes at a time: the fourth lands on the next pixel's first byte, which
        // the next copy overwrites; the row's last pixel takes three.
        for (; i + 1 < width; ++i) {
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
