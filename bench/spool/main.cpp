// Frame spool benchmark. Records 1920 x 1080 screen-like frames (32 bits, pitch 7,680)
// into a real temporary spool file and reads them back.
//
// The recording cost of one tick is everything a timer tick does after the display has
// been copied: level-1 compression of the frame and the cursor, appending both to the
// file and growing the index. The grab itself is excluded: the screen source hands out
// frames prepared in memory. The cost is shown against the 100 ms tick of 10 frames per
// second. Read-back is the output phase's side: reading and inflating every frame.
//
//   pemlo_bench_spool [frames] [folder for the spool file]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "capture/frame_spool.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kWidth = 1920;
constexpr uint32_t kHeight = 1080;
constexpr uint32_t kPitch = kWidth * 4;

void fillRect(std::vector<unsigned char>& img, int x0, int y0, int w, int h, uint32_t bgr) {
    for (int y = std::max(0, y0); y < std::min<int>(kHeight, y0 + h); ++y) {
        for (int x = std::max(0, x0); x < std::min<int>(kWidth, x0 + w); ++x) {
            unsigned char* p = &img[size_t(y) * kPitch + size_t(x) * 4];
            p[0] = bgr & 0xFF;
            p[1] = (bgr >> 8) & 0xFF;
            p[2] = (bgr >> 16) & 0xFF;
            p[3] = 255;
        }
    }
}

// Lines of "text": short dark runs of glyph-like strokes on a light page.
void drawText(std::vector<unsigned char>& img, std::mt19937& rng, int x0, int y0, int w, int h) {
    for (int line = y0; line + 12 < y0 + h; line += 16) {
        int x = x0 + 4;
        const int end = x0 + w - 8 - int(rng() % (w / 3 + 1));
        while (x < end) {
            const int word = 3 + int(rng() % 8);
            for (int c = 0; c < word && x < end; ++c, x += 7) {
                const unsigned pattern = rng();
                for (int gy = 0; gy < 10; ++gy) {
                    for (int gx = 0; gx < 5; ++gx) {
                        if ((pattern >> ((gy * 5 + gx) % 31)) & 1) {
                            fillRect(img, x + gx, line + gy, 1, 1, 0x202020);
                        }
                    }
                }
            }
            x += 7;
        }
    }
}

// A desktop: a gradient background, a task bar, windows with title bars, text and one
// photo-like area.
std::vector<unsigned char> makeDesktop(uint32_t seed) {
    std::vector<unsigned char> img(size_t(kPitch) * kHeight);
    std::mt19937 rng(seed);
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
            unsigned char* p = &img[size_t(y) * kPitch + size_t(x) * 4];
            p[0] = static_cast<unsigned char>(120 + y / 12);
            p[1] = static_cast<unsigned char>(80 + y / 20);
            p[2] = 40;
            p[3] = 255;
        }
    }
    fillRect(img, 0, kHeight - 40, kWidth, 40, 0x303848);
    fillRect(img, 60, 60, 1100, 760, 0xF0F0F0);
    fillRect(img, 60, 60, 1100, 28, 0x2050A0);
    drawText(img, rng, 70, 100, 1080, 700);
    fillRect(img, 900, 300, 900, 600, 0xFFFFFF);
    fillRect(img, 900, 300, 900, 28, 0x606060);
    // A photo-like area: smooth shading with noise.
    for (int y = 340; y < 640; ++y) {
        for (int x = 940; x < 1400; ++x) {
            unsigned char* p = &img[size_t(y) * kPitch + size_t(x) * 4];
            const int n = int(rng() % 24);
            p[0] = static_cast<unsigned char>((x / 3 + n) & 0xFF);
            p[1] = static_cast<unsigned char>((y / 2 + n) & 0xFF);
            p[2] = static_cast<unsigned char>((x + y) / 5 + n);
        }
    }
    drawText(img, rng, 1420, 340, 360, 540);
    return img;
}

class PreparedScreen final : public pemlo::ScreenSource {
  public:
    std::vector<std::vector<unsigned char>> frames;
    std::vector<unsigned char> cursor = std::vector<unsigned char>(pemlo::kCursorImageBytes);
    size_t next = 0;
    uint32_t clock = 0;

    int lockFrame(pemlo::ScreenImage& image) override {
        const auto& f = frames[next++ % frames.size()];
        image.pixels = f.data();
        image.pitch = kPitch;
        image.width = kWidth;
        image.height = kHeight;
        return 1;
    }
    int unlockFrame() override { return 1; }
    int queryCursor(pemlo::CursorState& state) override {
        state = {1, int32_t(400 + next * 3), 300};
        return 1;
    }
    const unsigned char* drawCursor() override { return cursor.data(); }
    int cursorHotspot(int32_t& x, int32_t& y) override {
        x = 0;
        y = 0;
        return 1;
    }
    uint32_t nowMs() override { return clock += 100; }
};

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(2, std::atoi(argv[1])) : 100;
    const std::string folder = argc > 2 ? argv[2] : ".";

    PreparedScreen screen;
    // Eight desktops that differ in their text, so consecutive frames are not identical.
    for (uint32_t s = 0; s < 8; ++s) {
        screen.frames.push_back(makeDesktop(s + 1));
    }
    for (size_t i = 0; i < screen.cursor.size(); i += 3) {
        screen.cursor[i] = 255;
        screen.cursor[i + 1] = 240;
        screen.cursor[i + 2] = 255;
    }
    std::fill(screen.cursor.begin(), screen.cursor.begin() + 16 * 96, 0);

    pemlo::FrameSpool spool;
    if (!pemlo::spoolOpenFile(spool, screen,
                              pemlo::createTemporaryFile(folder + "/pemlo_bench_spool.dat"))) {
        std::fprintf(stderr, "cannot create the spool file in %s\n", folder.c_str());
        return 1;
    }
    std::vector<double> ticks;
    for (int i = 0; i < frames; ++i) {
        const auto t0 = Clock::now();
        if (!pemlo::spoolRecordFrame(spool)) {
            std::fprintf(stderr, "recording failed at frame %d\n", i);
            return 1;
        }
        ticks.push_back(ms(Clock::now() - t0));
    }
    uint64_t spooled = 0;
    for (int i = 0; i < frames; ++i) {
        spooled +=
            uint64_t(spool.index[i].frameBlockSize) + uint64_t(spool.index[i].cursorBlockSize);
    }

    unsigned char* pixels = nullptr;
    std::vector<unsigned char> cursor(pemlo::kCursorImageBytes);
    const auto r0 = Clock::now();
    int read = 0;
    for (;;) {
        uint32_t raw = 0;
        int last = 0;
        uint16_t pitch = 0, duration = 0, cx = 0, cy = 0;
        int present = 0;
        if (!pemlo::spoolReadFrame(spool, pixels, raw, last, pitch, duration, cursor.data(), cx, cy,
                                   present)) {
            std::fprintf(stderr, "read-back failed at frame %d\n", read);
            return 1;
        }
        ++read;
        if (last) {
            break;
        }
    }
    const double readMs = ms(Clock::now() - r0);
    std::free(pixels);
    pemlo::captureRelease(spool);

    std::vector<double> sorted = ticks;
    std::sort(sorted.begin(), sorted.end());
    double sum = 0;
    for (double t : ticks) {
        sum += t;
    }
    const double mean = sum / frames;
    const double median = sorted[sorted.size() / 2];
    const double p95 = sorted[std::min(sorted.size() - 1, sorted.size() * 95 / 100)];
    const double raw = double(kPitch) * kHeight;
    std::printf("frame spool, %d frames of %ux%u (32-bit, pitch %u, %.1f MB each)\n", frames,
                kWidth, kHeight, kPitch, raw / 1e6);
    std::printf("spooled: %.1f KB per frame (ratio %.1f:1)\n", double(spooled) / frames / 1e3,
                raw * frames / double(spooled));
    std::printf("recording tick, grab excluded: mean %.2f ms, median %.2f ms, p95 %.2f ms\n", mean,
                median, p95);
    std::printf("share of the 100 ms tick at 10 frames/s: mean %.1f %%, p95 %.1f %%\n", mean, p95);
    std::printf(
        "read-back: %d frames in %.1f ms = %.1f frames/s (%.0f MB/s inflated), "
        "%.1f x the 10 frames/s recording rate\n",
        read, readMs, read * 1000.0 / readMs, raw * read / 1e3 / readMs,
        read * 1000.0 / readMs / 10.0);
    return 0;
}
