#include "process/scaler.h"

#include <cstdlib>
#include <cstring>

namespace pemlo {
namespace {

// The accumulators are single precision; each step is evaluated in double precision and
// rounded once when stored, which fixes the exact bytes.
inline void accumulate(float& acc, unsigned s, float weight) {
    acc = static_cast<float>(static_cast<double>(s) * static_cast<double>(weight) +
                             static_cast<double>(acc));
}

inline void accumulateWhole(float& acc, unsigned s) {
    acc = static_cast<float>(static_cast<double>(acc) + static_cast<double>(s));
}

inline float share(unsigned over, unsigned unit) {
    return static_cast<float>(static_cast<double>(over) / static_cast<double>(unit));
}

inline float complement(float w) {
    return static_cast<float>(1.0 - static_cast<double>(w));
}

inline float product(float a, float b) {
    return static_cast<float>(static_cast<double>(a) * static_cast<double>(b));
}

// One source row that lies across the boundary between target rows `acc` and `acc + L`.
void addSplitRow(const uint8_t* s, unsigned sw, unsigned dw, float* acc, size_t lineLength,
                 float wy0, float wy1) {
    float* e = acc;
    unsigned h = 0;
    for (unsigned x = 0; x < sw; ++x, s += 3) {
        h += dw;
        if (h > sw) {
            const float wx1 = share(h - sw, dw);
            const float wx0 = complement(wx1);
            const float w00 = product(wx0, wy0);
            const float w10 = product(wx1, wy0);
            const float w01 = product(wx0, wy1);
            const float w11 = product(wx1, wy1);
            for (int k = 0; k < 3; ++k) {
                accumulate(e[k], s[k], w00);
                accumulate(e[k + 3], s[k], w10);
                accumulate(e[k + lineLength], s[k], w01);
                accumulate(e[k + lineLength + 3], s[k], w11);
            }
            e += 3;
        } else {
            for (int k = 0; k < 3; ++k) {
                accumulate(e[k], s[k], wy0);
                accumulate(e[k + lineLength], s[k], wy1);
            }
        }
        if (h >= sw) {
            h -= sw;
            if (h == 0) {
                e += 3;
            }
        }
    }
}

// One source row that lies inside the target row `acc`.
void addInnerRow(const uint8_t* s, unsigned sw, unsigned dw, float* acc) {
    float* e = acc;
    unsigned h = 0;
    for (unsigned x = 0; x < sw; ++x, s += 3) {
        h += dw;
        if (h > sw) {
            const float wx1 = share(h - sw, dw);
            const float wx0 = complement(wx1);
            for (int k = 0; k < 3; ++k) {
                accumulate(e[k], s[k], wx0);
                accumulate(e[k + 3], s[k], wx1);
            }
            e += 3;
        } else {
            accumulateWhole(e[0], s[0]);
            accumulateWhole(e[1], s[1]);
            accumulateWhole(e[2], s[2]);
        }
        if (h >= sw) {
            h -= sw;
            if (h == 0) {
                e += 3;
            }
        }
    }
}

}  // namespace

uint8_t* imageBufferSetup(uint16_t width, uint16_t height, ImageBuffer& image) {
    if (width > kMaxImageWidth) {
        imageBufferRelease(image);
        return nullptr;
    }
    const auto stride = static_cast<uint16_t>(width * 3);
    const size_t bytes = static_cast<size_t>(stride) * height;
    const size_t oldBytes = static_cast<size_t>(image.stride) * image.height;
    if (image.pixels == nullptr || bytes != oldBytes) {
        // realloc of 0 bytes may free and return null; keep at least one byte.
        void* grown = std::realloc(image.pixels, bytes == 0 ? 1 : bytes);
        if (grown == nullptr) {
            imageBufferRelease(image);
            return nullptr;
        }
        image.pixels = static_cast<uint8_t*>(grown);
    }
    image.width = width;
    image.height = height;
    image.stride = stride;
    return image.pixels;
}

void imageBufferRelease(ImageBuffer& image) {
    std::free(image.pixels);
    image = ImageBuffer{};
}

int scaleAreaAverage(const ImageBuffer& source, ImageBuffer& target, uint16_t targetWidth,
                     uint16_t targetHeight, GrowableBuffer<float>& accumulator) {
    const unsigned sw = source.width;
    const unsigned sh = source.height;
    const unsigned dw = targetWidth;
    const unsigned dh = targetHeight;
    if (source.pixels == nullptr || dw == 0 || dh == 0 || dw > sw || dh > sh ||
        sw > kMaxScalerSource || sh > kMaxScalerSource || source.stride != sw * 3) {
        return 0;
    }
    const size_t lineLength = static_cast<size_t>(dw) * 3;
    if (accumulator.resize(lineLength * dh) == 0) {
        return 0;
    }
    if (imageBufferSetup(targetWidth, targetHeight, target) == nullptr) {
        return 0;
    }
    float* acc = accumulator.data();
    std::memset(acc, 0, lineLength * dh * sizeof(float));

    float* row = acc;
    unsigned v = 0;
    for (unsigned r = 0; r < sh; ++r) {
        const uint8_t* s = source.pixels + static_cast<size_t>(r) * source.stride;
        v += dh;
        if (v > sh) {
            const float wy1 = share(v - sh, dh);
            const float wy0 = complement(wy1);
            addSplitRow(s, sw, dw, row, lineLength, wy0, wy1);
            row += lineLength;
        } else {
            addInnerRow(s, sw, dw, row);
            if (v == sh) {
                row += lineLength;
            }
        }
        if (v >= sh) {
            v -= sh;
        }
    }

    // Normalise to the average, rounded half up; a sum that single precision pushed
    // past 255 is held at 255 rather than wrapping.
    const auto area = static_cast<uint32_t>(dw * dh);
    const auto sourceArea = static_cast<uint32_t>(sw * sh);
    const auto f = static_cast<double>(
        static_cast<float>(static_cast<double>(area) / static_cast<double>(sourceArea)));
    for (unsigned y = 0; y < dh; ++y) {
        uint8_t* out = target.pixels + static_cast<size_t>(y) * target.stride;
        const float* a = acc + static_cast<size_t>(y) * lineLength;
        for (size_t i = 0; i < lineLength; ++i) {
            const double value = static_cast<double>(a[i]) * f + 0.5;
            out[i] = value >= 255.0 ? 255 : static_cast<uint8_t>(value > 0.0 ? value : 0.0);
        }
    }
    return 1;
}

}  // namespace pemlo
