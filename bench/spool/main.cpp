// Frame spool benchmark. Records screen-like and fully changing frames (32 bits) at
// 1920 x 1080 and 3840 x 2160 into a real temporary spool file and reads them back.
//
// The recording cost of one tick is everything a timer tick does after the display has
// been copied: comparing the capture rectangle with the grab before, packing and
// compressing the changed tiles and the cursor at zlib level 1, appending them to the
// file and growing the index. The grab itself is excluded: the screen source hands out
// frames prepared in memory. Next to it, in the same run, the tick of the former spool
// layout: level-1 compression of the whole locked display and the cursor, appended to a
// file. Screen-like frames are a desktop with windows of text where someone types, a
// clock that changes, a moving cursor and a window dragged now and then; fully changing
// frames differ in every pixel. Read-back is the output phase's side: reading and
// inflating every frame's tiles.
//
// The program's spool also keeps its index on disk (a record with a crc32 over it and
// the frame's blocks after each frame): that durable tick is measured on the same frames
// next to the tick with the index in memory only, the two taking turns. The program
// flushes the spools to the disk every 2 s from a thread of its own, not in the tick;
// the flush of kFlushEveryTicks ticks (2 s at 10 frames per second) is timed on its own.
//
//   pemlo_bench_spool [frames] [folder for the spool file]
//   pemlo_bench_spool paced [seconds] [folder]
//
// paced: a recording driven by a real 100 ms timer for the given time (60 s by
// default) at 1920 x 1080 and 3840 x 2160, fully changing and screen-like, as the
// program ticks: the tick grabs and packs on this thread and the spool workers
// compress and append (one per processor), next to the former tick that did all of it
// on this thread, in the same run. The timer behaves like a window timer: a tick that
// falls due while the thread is busy comes as soon as it is free, and further ones due
// meanwhile are lost. Figures: frames recorded per second, this thread's time per tick,
// late ticks, and the peak memory of the case (each case runs in a process of its
// own, its prepared frames left out).
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <zlib.h>

#include "capture/frame_spool.h"
#include "capture/spool_workers.h"

namespace {

constexpr int kFlushEveryTicks = 20;

using Clock = std::chrono::steady_clock;

struct Screen {
    uint32_t width;
    uint32_t height;
    uint32_t pitch() const { return width * 4; }
};

void fillRect(const Screen& sc, std::vector<unsigned char>& img, int x0, int y0, int w, int h,
              uint32_t bgr) {
    for (int y = std::max(0, y0); y < std::min<int>(int(sc.height), y0 + h); ++y) {
        for (int x = std::max(0, x0); x < std::min<int>(int(sc.width), x0 + w); ++x) {
            unsigned char* p = &img[size_t(y) * sc.pitch() + size_t(x) * 4];
            p[0] = bgr & 0xFF;
            p[1] = (bgr >> 8) & 0xFF;
            p[2] = (bgr >> 16) & 0xFF;
            p[3] = 255;
        }
    }
}

void drawGlyph(const Screen& sc, std::vector<unsigned char>& img, unsigned pattern, int x, int y) {
    for (int gy = 0; gy < 10; ++gy) {
        for (int gx = 0; gx < 5; ++gx) {
            if ((pattern >> ((gy * 5 + gx) % 31)) & 1) {
                fillRect(sc, img, x + gx, y + gy, 1, 1, 0x202020);
            }
        }
    }
}

// Lines of "text": short dark runs of glyph-like strokes on a light page.
void drawText(const Screen& sc, std::vector<unsigned char>& img, std::mt19937& rng, int x0, int y0,
              int w, int h) {
    for (int line = y0; line + 12 < y0 + h; line += 16) {
        int x = x0 + 4;
        const int end = x0 + w - 8 - int(rng() % (w / 3 + 1));
        while (x < end) {
            const int word = 3 + int(rng() % 8);
            for (int c = 0; c < word && x < end; ++c, x += 7) {
                drawGlyph(sc, img, rng(), x, line);
            }
            x += 7;
        }
    }
}

// A window with a title bar and text at (x, y).
void drawWindow(const Screen& sc, std::vector<unsigned char>& img, int x, int y, int w, int h,
                uint32_t seed) {
    std::mt19937 rng(seed);
    fillRect(sc, img, x, y, w, h, 0xF0F0F0);
    fillRect(sc, img, x, y, w, 28, 0x2050A0);
    drawText(sc, img, rng, x + 10, y + 40, w - 20, h - 50);
}

void drawBackground(const Screen& sc, std::vector<unsigned char>& img) {
    for (uint32_t y = 0; y < sc.height; ++y) {
        for (uint32_t x = 0; x < sc.width; ++x) {
            unsigned char* p = &img[size_t(y) * sc.pitch() + size_t(x) * 4];
            p[0] = static_cast<unsigned char>(120 + y * 90 / sc.height);
            p[1] = static_cast<unsigned char>(80 + y * 54 / sc.height);
            p[2] = 40;
            p[3] = 255;
        }
    }
    fillRect(sc, img, 0, int(sc.height) - 40, int(sc.width), 40, 0x303848);
}

// A desktop that changes as one does: typing, a clock, and every 50 frames a window
// dragged across three frames.
class Desktop {
  public:
    explicit Desktop(const Screen& sc) : sc_(sc), img_(size_t(sc.pitch()) * sc.height) {
        drawBackground(sc_, img_);
        redrawWindows();
    }
    const std::vector<unsigned char>& image() const { return img_; }
    void step(int frame) {
        // One or two characters typed into the editor window.
        for (int k = 0; k < 1 + frame % 2; ++k) {
            drawGlyph(sc_, img_, rng_(), editorX_ + 10 + typed_ % 120 * 7,
                      editorY_ + 40 + typed_ / 120 % 30 * 16);
            ++typed_;
        }
        if (frame % 10 == 0) {
            fillRect(sc_, img_, int(sc_.width) - 90, int(sc_.height) - 30, 70, 20,
                     0x404040 + uint32_t(frame) * 0x010203);
        }
        if (frame % 50 >= 47) {
            dragX_ += 40;
            drawBackground(sc_, img_);
            redrawWindows();
        }
    }

  private:
    void redrawWindows() {
        drawWindow(sc_, img_, 60 + dragX_, 60, int(sc_.width) * 9 / 16, int(sc_.height) * 7 / 10,
                   1);
        editorX_ = int(sc_.width) / 2 - 60;
        editorY_ = int(sc_.height) / 4;
        drawWindow(sc_, img_, editorX_, editorY_, int(sc_.width) / 2, int(sc_.height) * 6 / 10, 2);
        typed_ = 0;
    }
    Screen sc_;
    std::vector<unsigned char> img_;
    std::mt19937 rng_{9};
    int dragX_ = 0;
    int editorX_ = 0;
    int editorY_ = 0;
    int typed_ = 0;
};

// Frames that differ in every pixel: shaded, noisy and moving (testsrc2-like).
std::vector<unsigned char> changingFrame(const Screen& sc, int frame) {
    std::vector<unsigned char> img(size_t(sc.pitch()) * sc.height);
    std::mt19937 rng(uint32_t(frame) + 100);
    for (uint32_t y = 0; y < sc.height; ++y) {
        unsigned char* p = &img[size_t(y) * sc.pitch()];
        for (uint32_t x = 0; x < sc.width; ++x, p += 4) {
            const unsigned n = rng() & 7;
            p[0] = static_cast<unsigned char>(x / 4 + uint32_t(frame) * 5 + n);
            p[1] = static_cast<unsigned char>(y / 3 + uint32_t(frame) * 3 + n);
            p[2] = static_cast<unsigned char>((x + y) / 8 + uint32_t(frame) * 7);
            p[3] = 255;
        }
    }
    return img;
}

class PreparedScreen final : public pemlo::ScreenSource {
  public:
    explicit PreparedScreen(const Screen& sc) : sc_(sc) {}
    const std::vector<unsigned char>* frame = nullptr;
    std::vector<unsigned char> cursor = std::vector<unsigned char>(pemlo::kCursorImageBytes);
    int ticks = 0;
    uint32_t clock = 0;

    int lockFrame(pemlo::ScreenImage& image) override {
        image.pixels = frame->data();
        image.pitch = sc_.pitch();
        image.width = sc_.width;
        image.height = sc_.height;
        return 1;
    }
    int unlockFrame() override { return 1; }
    int queryCursor(pemlo::CursorState& state) override {
        state = {1, int32_t(400 + ticks * 3), 300};
        ++ticks;
        return 1;
    }
    const unsigned char* drawCursor() override { return cursor.data(); }
    int cursorHotspot(int32_t& x, int32_t& y) override {
        x = 0;
        y = 0;
        return 1;
    }
    uint32_t nowMs() override { return clock += 100; }

  private:
    Screen sc_;
};

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double p95(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * 95 / 100)];
}

// The tick of the former layout: the whole locked display and the cursor compressed at
// level 1 and appended.
class FormerSpool {
  public:
    explicit FormerSpool(const std::string& path) : file_(pemlo::createTemporaryFile(path)) {}
    bool ok() const { return file_ != nullptr; }
    uint64_t bytes = 0;
    void tick(const std::vector<unsigned char>& frame, const std::vector<unsigned char>& cursor) {
        if (scratch_.size() < compressBound(uLong(frame.size()))) {
            scratch_.resize(compressBound(uLong(frame.size())));
        }
        uLongf n = uLongf(scratch_.size());
        compress2(scratch_.data(), &n, cursor.data(), uLong(cursor.size()), 1);
        file_->write(scratch_.data(), uint32_t(n));
        bytes += n;
        n = uLongf(scratch_.size());
        compress2(scratch_.data(), &n, frame.data(), uLong(frame.size()), 1);
        file_->write(scratch_.data(), uint32_t(n));
        bytes += n;
    }

  private:
    pemlo::FilePtr file_;
    std::vector<unsigned char> scratch_;
};

// Records `frames` frames (each made by `next` before its tick, untimed) through the
// spool and, right after each tick, through the former layout, so that both see the
// same load; then reads the spool back. Returns false when the spool fails.
bool run(const Screen& sc, const char* content, int frames, const std::string& folder,
         const std::function<const std::vector<unsigned char>*(int)>& next) {
    PreparedScreen screen(sc);
    for (size_t i = 0; i < screen.cursor.size(); i += 3) {
        screen.cursor[i] = 255;
        screen.cursor[i + 1] = 240;
        screen.cursor[i + 2] = 255;
    }
    std::fill(screen.cursor.begin(), screen.cursor.begin() + 16 * 96, 0);

    pemlo::FrameSpool spool;
    const pemlo::CaptureArea area{0, 0, int32_t(sc.width), int32_t(sc.height)};
    FormerSpool former(folder + "/pemlo_bench_spool_former.dat");
    // The program's spool: kept files, the index on disk, flushed now and then.
    PreparedScreen durableScreen(sc);
    durableScreen.cursor = screen.cursor;
    pemlo::FrameSpool durable;
    const std::string durableFolder = folder + "/pemlo_bench_spool_durable";
    if (!former.ok() ||
        !pemlo::spoolOpenFile(
            spool, screen, pemlo::createTemporaryFile(folder + "/pemlo_bench_spool.dat"), area) ||
        !pemlo::makeFolder(durableFolder) ||
        !pemlo::spoolOpen(durable, durableScreen, area, durableFolder, "bench")) {
        std::fprintf(stderr, "cannot create the spool files in %s\n", folder.c_str());
        return false;
    }
    std::vector<double> wall;
    std::vector<double> cpu;
    std::vector<double> formerWall;
    std::vector<double> formerCpu;
    std::vector<double> durableWall;
    std::vector<double> durableCpu;
    std::vector<double> flushWall;
    for (int i = 0; i < frames; ++i) {
        screen.frame = next(i);
        durableScreen.frame = screen.frame;
        // The two spools take turns going first, so that neither finds the frame warmer
        // in the caches than the other does.
        auto tick = [&](pemlo::FrameSpool& which, std::vector<double>& w, std::vector<double>& c) {
            const auto start = Clock::now();
            const double cpuStart = cpuMs();
            const int ok = pemlo::spoolRecordFrame(which);
            w.push_back(ms(Clock::now() - start));
            c.push_back(cpuMs() - cpuStart);
            return ok == 1;
        };
        const bool ok = i % 2 == 0
                            ? tick(spool, wall, cpu) && tick(durable, durableWall, durableCpu)
                            : tick(durable, durableWall, durableCpu) && tick(spool, wall, cpu);
        if (!ok) {
            std::fprintf(stderr, "recording failed at frame %d\n", i);
            return false;
        }
        if ((i + 1) % kFlushEveryTicks == 0) {
            const auto f0 = Clock::now();
            pemlo::spoolFlush(durable);
            flushWall.push_back(ms(Clock::now() - f0));
        }
        const auto t0 = Clock::now();
        const double c0 = cpuMs();
        former.tick(*screen.frame, screen.cursor);
        formerWall.push_back(ms(Clock::now() - t0));
        formerCpu.push_back(cpuMs() - c0);
    }
    uint64_t spooled = 0;
    for (int i = 0; i < frames; ++i) {
        spooled += uint64_t(spool.index[i].frameBlockSize) +
                   uint64_t(std::max(0, spool.index[i].cursorBlockSize));
    }
    pemlo::SpoolFrame frame;
    const auto r0 = Clock::now();
    int read = 0;
    for (;;) {
        if (!pemlo::spoolReadFrame(spool, frame)) {
            std::fprintf(stderr, "read-back failed at frame %d\n", read);
            return false;
        }
        ++read;
        if (frame.last) {
            break;
        }
    }
    const double readMs = ms(Clock::now() - r0);
    pemlo::captureRelease(spool);
    pemlo::captureRelease(durable);
    pemlo::deleteFile(durableFolder + "/" + pemlo::kFrameSpoolName);
    pemlo::deleteFile(durableFolder + "/" + pemlo::kFrameIndexName);
    pemlo::removeFolder(durableFolder);

    std::printf(
        "%ux%u %-14s tick, wall: median %7.2f ms p95 %7.2f | former %7.2f p95 %7.2f | "
        "ratio of medians %.3f\n",
        sc.width, sc.height, content, median(wall), p95(wall), median(formerWall), p95(formerWall),
        median(wall) / median(formerWall));
    std::printf(
        "%ux%u %-14s tick, CPU:  median %7.2f ms p95 %7.2f | former %7.2f p95 %7.2f | "
        "ratio of medians %.3f\n",
        sc.width, sc.height, content, median(cpu), p95(cpu), median(formerCpu), p95(formerCpu),
        median(cpu) / median(formerCpu));
    const double flushMedian = flushWall.empty() ? 0.0 : median(flushWall);
    std::printf(
        "%ux%u %-14s durable tick (index on disk), wall: median %7.2f ms, CPU %7.2f | "
        "ratio to the in-memory index: wall %.3f, CPU %.3f\n",
        sc.width, sc.height, content, median(durableWall), median(durableCpu),
        median(durableWall) / median(wall), median(durableCpu) / median(cpu));
    std::printf(
        "%ux%u %-14s flush of %d ticks (off the tick, on its own thread): median %7.2f ms "
        "max %7.2f\n",
        sc.width, sc.height, content, kFlushEveryTicks, flushMedian,
        flushWall.empty() ? 0.0 : *std::max_element(flushWall.begin(), flushWall.end()));
    std::printf(
        "%ux%u %-14s spooled %9.1f KB per frame (former %9.1f KB) | read-back %.1f "
        "frames/s\n",
        sc.width, sc.height, content, double(spooled) / frames / 1e3,
        double(former.bytes) / frames / 1e3, read * 1000.0 / readMs);
    std::fflush(stdout);
    return true;
}

}  // namespace

// Resident memory figures of this process in kB ("VmRSS", "VmHWM").
long statusKb(const char* field) {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    long kb = -1;
    char line[256];
    while (f != nullptr && std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, field, std::strlen(field)) == 0) {
            kb = std::atol(line + std::strlen(field) + 1);
        }
    }
    if (f != nullptr) {
        std::fclose(f);
    }
    return kb;
}

// One paced case: `pipelined` ticks through the spool workers, otherwise the whole
// tick on this thread.
void paced(const Screen& sc, const char* content, bool pipelined, double seconds,
           const std::string& folder,
           const std::function<const std::vector<unsigned char>*(int)>& next) {
    PreparedScreen screen(sc);
    pemlo::FrameSpool spool;
    const pemlo::CaptureArea area{0, 0, int32_t(sc.width), int32_t(sc.height)};
    if (!pemlo::spoolOpenFile(
            spool, screen, pemlo::createTemporaryFile(folder + "/pemlo_bench_paced.dat"), area)) {
        std::fprintf(stderr, "cannot create the spool file in %s\n", folder.c_str());
        return;
    }
    pemlo::SpoolWorkers workers;
    if (pipelined && !workers.start(spool, 0, pemlo::kSpoolQueueBytes, 100)) {
        std::fprintf(stderr, "no worker threads\n");
        return;
    }
    screen.frame = next(0);
    const long baseKb = statusKb("VmRSS:");
    std::vector<double> tickMs;
    std::vector<double> grabMs;  // the ticks that grabbed a frame
    const auto start = Clock::now();
    const auto period = std::chrono::milliseconds(100);
    auto due = start + period;
    int ticks = 0;
    int recorded = 0;
    int late = 0;
    while (due <= start + std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(seconds))) {
        std::this_thread::sleep_until(due);
        const auto t0 = Clock::now();
        const auto nowMs = uint32_t(ms(t0 - start));
        bool ok = true;
        if (pipelined) {
            const pemlo::TickResult r = workers.tick(nowMs);
            ok = r != pemlo::TickResult::Failed;
            recorded += r == pemlo::TickResult::Recorded;
        } else {
            ok = pemlo::spoolRecordFrame(spool) == 1;
            recorded += ok;
        }
        const auto t1 = Clock::now();
        tickMs.push_back(ms(t1 - t0));
        if (recorded > int(grabMs.size())) {
            grabMs.push_back(ms(t1 - t0));
        }
        if (!ok) {
            std::fprintf(stderr, "recording failed\n");
            return;
        }
        ++ticks;
        // The next frame is made ready outside the tick (a real screen changes on its own).
        screen.frame = next(ticks);
        // One tick due meanwhile comes at once; the others due meanwhile are lost.
        due += period;
        const auto now = Clock::now();
        while (due + period <= now) {
            due += period;
            ++late;
        }
    }
    if (pipelined) {
        workers.finish();
        late = int(workers.lateTicks());
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const long peakKb = statusKb("VmHWM:");
    std::printf(
        "%ux%u %-14s %-18s %5.2f frames/s over %.0f s | this thread per tick: median %6.2f ms "
        "p95 %6.2f, per tick that grabbed: median %6.2f ms p95 %6.2f | late ticks %d | peak "
        "memory %.0f MB above the prepared frames\n",
        sc.width, sc.height, content, pipelined ? "tick + workers" : "whole tick (former)",
        recorded / elapsed, elapsed, median(tickMs), p95(tickMs), median(grabMs), p95(grabMs), late,
        double(peakKb - baseKb) / 1024.0);
    std::fflush(stdout);
    pemlo::captureRelease(spool);
}

// Every paced case in a process of its own, so that each peak memory is its own.
int pacedAll(double seconds, const std::string& folder) {
    std::printf(
        "paced recording, 100 ms timer, %.0f s per case, %u processors; timings are "
        "noisy on a shared machine, compare figures of the same run\n",
        seconds, std::thread::hardware_concurrency());
    std::fflush(stdout);
    for (const Screen sc : {Screen{1920, 1080}, Screen{3840, 2160}}) {
        for (const bool changingContent : {true, false}) {
            for (const bool pipelined : {true, false}) {
                const pid_t child = fork();
                if (child == 0) {
                    if (changingContent) {
                        std::vector<std::vector<unsigned char>> frames;
                        for (int i = 0; i < 4; ++i) {
                            frames.push_back(changingFrame(sc, i));
                        }
                        paced(sc, "fully changing", pipelined, seconds, folder,
                              [&](int i) { return &frames[size_t(i) % frames.size()]; });
                    } else {
                        Desktop desktop(sc);
                        paced(sc, "screen-like", pipelined, seconds, folder, [&](int i) {
                            if (i > 0) {
                                desktop.step(i);
                            }
                            return &desktop.image();
                        });
                    }
                    std::_Exit(0);
                }
                int status = 0;
                waitpid(child, &status, 0);
            }
        }
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "paced") {
        return pacedAll(argc > 2 ? std::max(1.0, std::atof(argv[2])) : 60.0,
                        argc > 3 ? argv[3] : ".");
    }
    const int frames = argc > 1 ? std::max(2, std::atoi(argv[1])) : 100;
    const std::string folder = argc > 2 ? argv[2] : ".";
    std::printf(
        "frame spool, %d frames per case; timings are noisy on a shared machine, "
        "compare ratios from the same run\n",
        frames);
    for (const Screen sc : {Screen{1920, 1080}, Screen{3840, 2160}}) {
        Desktop desktop(sc);
        if (!run(sc, "screen-like", frames, folder, [&](int i) {
                if (i > 0) {
                    desktop.step(i);
                }
                return &desktop.image();
            })) {
            return 1;
        }
        std::vector<std::vector<unsigned char>> changing;
        for (int i = 0; i < 4; ++i) {
            changing.push_back(changingFrame(sc, i));
        }
        if (!run(sc, "fully changing", frames, folder,
                 [&](int i) { return &changing[size_t(i) % changing.size()]; })) {
            return 1;
        }
    }
    return 0;
}
