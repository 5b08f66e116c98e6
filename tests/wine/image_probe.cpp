// The image operations on fixed inputs, for comparing the bytes of one build with
// another's (the native build and the Windows build under Wine): each case prints a
// digest of its output, and every result is also checked against the reference scaler
// and the whole-image pass. The last line is PASS or FAIL.
//
//   image_probe    (prints its report on standard output; exit status 0 on PASS)
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "process/compositing.h"
#include "process/scaler.h"
#include "tests/process/reference_scaler.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t digest(const Bytes& bytes) {
    uint32_t h = 2166136261u;  // FNV-1a
    for (uint8_t b : bytes) {
        h = (h ^ b) * 16777619u;
    }
    return h;
}

Bytes pattern(int w, int h, int kind) {
    std::mt19937 random(static_cast<unsigned>(w * 7919 + h * 31 + kind));
    Bytes pixels(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < pixels.size(); ++i) {
        const size_t x = i / 3 % static_cast<size_t>(w);
        const size_t y = i / 3 / static_cast<size_t>(w);
        switch (kind) {
            case 0:
                pixels[i] = static_cast<uint8_t>(random());
                break;
            case 1:
                pixels[i] = 255;
                break;
            default:  // runs of equal pixels of several lengths
                pixels[i] = static_cast<uint8_t>(((x / (1 + y % 7)) * 37 + i % 3 * 80) & 0xFF);
                break;
        }
    }
    return pixels;
}

int failures = 0;

void check(bool ok, const char* what, int sw, int sh, int dw, int dh, int kind) {
    if (!ok) {
        ++failures;
        std::printf("MISMATCH %s %dx%d -> %dx%d pattern %d\n", what, sw, sh, dw, dh, kind);
    }
}

void scaleCase(int sw, int sh, int dw, int dh) {
    for (int kind = 0; kind < 3; ++kind) {
        Bytes pixels = pattern(sw, sh, kind);
        const pemlo::ImageBuffer source{static_cast<uint16_t>(sw), static_cast<uint16_t>(sh),
                                        static_cast<uint16_t>(sw * 3), pixels.data()};
        pemlo::ImageBuffer target;
        pemlo::GrowableBuffer<float> accumulator;
        if (pemlo::scaleAreaAverage(source, target, static_cast<uint16_t>(dw),
                                    static_cast<uint16_t>(dh), accumulator) != 1) {
            check(false, "refused", sw, sh, dw, dh, kind);
            continue;
        }
        const Bytes whole(target.pixels, target.pixels + size_t{target.stride} * target.height);
        check(whole == pemlo::testing::referenceScale(pixels, sw, sh, dw, dh), "reference", sw, sh,
              dw, dh, kind);
        // The same job in four rectangles, the bottom right one first.
        pemlo::GrowableBuffer<pemlo::ScalerColumn> columns;
        pemlo::GrowableBuffer<uint8_t> byteTable;
        pemlo::ScaleJob job;
        pemlo::scaleJobSetup(job, source, target, static_cast<uint16_t>(dw),
                             static_cast<uint16_t>(dh), accumulator, columns, byteTable);
        std::fill(target.pixels, target.pixels + whole.size(), uint8_t{0});
        const auto cx = static_cast<unsigned>(dw) / 3;
        const auto cy = static_cast<unsigned>(dh) / 2;
        pemlo::scaleJobRect(job, cy, job.targetHeight, cx, job.targetWidth);
        pemlo::scaleJobRect(job, 0, cy, cx, job.targetWidth);
        pemlo::scaleJobRect(job, cy, job.targetHeight, 0, cx);
        pemlo::scaleJobRect(job, 0, cy, 0, cx);
        check(Bytes(target.pixels, target.pixels + whole.size()) == whole, "rectangles", sw, sh, dw,
              dh, kind);
        std::printf("scale %dx%d -> %dx%d pattern %d: %08x\n", sw, sh, dw, dh, kind,
                    static_cast<unsigned>(digest(whole)));
        pemlo::imageBufferRelease(target);
    }
}

// The crop of a rectangle ending at the grabbed image's last byte, next to the pixels
// picked one by one.
void cropCase(int left, int width, int height, int slack) {
    const int pitch = (left + width) * 4 + slack;
    Bytes screen = pattern(pitch / 3 + 1, height + 1, 0);
    screen.resize(static_cast<size_t>(pitch) * (height + 1) - static_cast<size_t>(slack));
    pemlo::GrowableBuffer<uint8_t> out;
    if (pemlo::cropFrame(screen.data(), screen.size(), static_cast<uint16_t>(pitch), left, 1, width,
                         height, out) != 1) {
        check(false, "crop refused", left, width, height, slack, 0);
        return;
    }
    const Bytes got(out.data(), out.data() + out.size());
    Bytes want;
    for (int y = height; y >= 1; --y) {
        for (int x = left; x < left + width; ++x) {
            const uint8_t* p = &screen[static_cast<size_t>(y) * pitch + static_cast<size_t>(x) * 4];
            want.insert(want.end(), p, p + 3);
        }
    }
    check(got == want, "crop", left, width, height, slack, 0);
    std::printf("crop %d wide at %d, %d high, slack %d: %08x\n", width, left, height, slack,
                static_cast<unsigned>(digest(got)));
}

}  // namespace

int main() {
    for (int width = 1; width <= 13; ++width) {
        cropCase(width % 3, width, 1 + width % 3, (width % 2) * 8);
    }
    cropCase(0, 1920, 4, 0);
    cropCase(5, 1023, 3, 4);
    // Sizes summed in single precision and in integers (two, four and any number of
    // pixels a column), equal sizes and the strong reductions of a preview.
    const int sizes[][4] = {{4, 1, 3, 1},         {57, 20, 15, 5},     {1281, 31, 1280, 30},
                            {1366, 24, 1280, 20}, {1024, 24, 640, 18}, {1920, 36, 1280, 24},
                            {3840, 8, 1920, 4},   {90, 20, 30, 5},     {28, 24, 16, 6},
                            {35, 16, 8, 4},       {6, 129, 4, 1},      {300, 256, 1, 1},
                            {256, 256, 1, 1},     {50, 50, 50, 50},    {1920, 45, 240, 5},
                            {31, 17, 7, 3},       {96, 99, 64, 64},    {4, 257, 4, 1}};
    for (const auto& s : sizes) {
        scaleCase(s[0], s[1], s[2], s[3]);
    }
    std::printf("%s\n", failures == 0 ? "PASS" : "FAIL");
    return failures == 0 ? 0 : 1;
}
