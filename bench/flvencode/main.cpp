// Screen Video encoder throughput in frames per second at 1024 x 768 and 1920 x 1080,
// on fully changing frames (ffmpeg's testsrc2) and on screen-like frames (a still
// desktop with typing and a moving window), next to ffmpeg's flashsv encoder on the
// same frames in the same run.
//
//   pemlo_bench_flvencode [FRAMES]    (default 60 frames per workload)
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/flv_sink_file.h"
#include "flv/flv_writer.h"
#include "flv/video_encoder.h"

namespace {

using Clock = std::chrono::steady_clock;
using Frames = std::vector<std::vector<uint8_t>>;  // top-down rows, as ffmpeg has them

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

std::string scratch(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/pemlo_bench_" + name;
}

bool testsrc2(int w, int h, int count, Frames& frames) {
    const std::string path = scratch("testsrc2.raw");
    const std::string cmd = "ffmpeg -v error -f lavfi -i testsrc2=size=" + std::to_string(w) + "x" +
                            std::to_string(h) + ":rate=10 -frames:v " + std::to_string(count) +
                            " -f rawvideo -pix_fmt bgr24 -y " + path;
    if (std::system(cmd.c_str()) != 0) {
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    const size_t size = static_cast<size_t>(w) * h * 3;
    for (int i = 0; i < count; ++i) {
        std::vector<uint8_t> f(size);
        if (!in.read(reinterpret_cast<char*>(f.data()), static_cast<long>(size))) {
            return false;
        }
        frames.push_back(std::move(f));
    }
    std::remove(path.c_str());
    return true;
}

struct Canvas {
    int w, h;
    std::vector<uint8_t>& px;
    void fill(int x0, int y0, int x1, int y1, uint8_t b, uint8_t g, uint8_t r) {
        x0 = std::max(x0, 0);
        y0 = std::max(y0, 0);
        x1 = std::min(x1, w);
        y1 = std::min(y1, h);
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 3];
                p[0] = b;
                p[1] = g;
                p[2] = r;
            }
        }
    }
};

// A desktop: background, icons, taskbar, an editor window in which one character is
// typed per frame, and a dialog that moves a few pixels per frame.
void screenLike(int w, int h, int count, Frames& frames) {
    const size_t size = static_cast<size_t>(w) * h * 3;
    std::vector<uint8_t> desktop(size);
    Canvas d{w, h, desktop};
    for (int y = 0; y < h; ++y) {
        d.fill(0, y, w, y + 1, static_cast<uint8_t>(120 + y * 60 / h), 90, 30);
    }
    for (int i = 0; i < 8; ++i) {
        d.fill(20, 20 + i * 80, 68, 68 + i * 80, static_cast<uint8_t>(40 * i), 200, 220);
    }
    d.fill(0, h - 40, w, h, 60, 60, 60);
    d.fill(150, 80, w - 200, h - 120, 255, 255, 255);  // editor
    d.fill(150, 80, w - 200, 110, 160, 100, 40);       // its title bar
    int caretX = 160;
    int caretY = 120;
    for (int n = 0; n < count; ++n) {
        // Type one glyph: a small pattern of dark strokes.
        for (int s = 0; s < 4; ++s) {
            d.fill(caretX + (n * 3 + s * 2) % 7, caretY + s * 3, caretX + (n * 3 + s * 2) % 7 + 2,
                   caretY + s * 3 + 2, 20, 20, 20);
        }
        caretX += 9;
        if (caretX > w - 220) {
            caretX = 160;
            caretY += 18;
        }
        std::vector<uint8_t> f = desktop;
        Canvas c{w, h, f};
        const int x = 300 + n * 6;
        const int y = 200 + n * 3;
        c.fill(x, y, x + 400, y + 260, 230, 230, 230);
        c.fill(x, y, x + 400, y + 28, 200, 120, 50);
        c.fill(x + 300, y + 220, x + 380, y + 248, 180, 180, 180);
        frames.push_back(std::move(f));
    }
}

struct Result {
    double fps = 0;
    uint64_t bytes = 0;
};

Result ours(int w, int h, const Frames& frames) {
    // The encoder takes bottom-up rows.
    const size_t row = static_cast<size_t>(w) * 3;
    Frames flipped;
    for (const auto& f : frames) {
        std::vector<uint8_t> g(f.size());
        for (int y = 0; y < h; ++y) {
            std::memcpy(&g[row * y], &f[row * (h - 1 - y)], row);
        }
        flipped.push_back(std::move(g));
    }
    pemlo::bench::SinkFile sink;
    pemlo::FlvWriter writer;
    pemlo::ScreenVideoEncoder encoder;
    if (!pemlo::flvBegin(writer, sink, 0, w, h) ||
        !pemlo::videoEncoderBegin(encoder, w, h, nullptr)) {
        return {};
    }
    const auto t0 = Clock::now();
    for (const auto& f : flipped) {
        if (!pemlo::flvWriteVideoTag(writer, encoder, sink, f.data(), w, h, 100)) {
            return {};
        }
    }
    const auto t1 = Clock::now();
    pemlo::flvFinish(writer, sink);
    return {static_cast<double>(frames.size()) / seconds(t0, t1), sink.size};
}

Result ffmpeg(int w, int h, const Frames& frames) {
    const std::string raw = scratch("frames.raw");
    const std::string out = scratch("ffmpeg.flv");
    {
        std::ofstream f(raw, std::ios::binary);
        for (const auto& fr : frames) {
            f.write(reinterpret_cast<const char*>(fr.data()), static_cast<long>(fr.size()));
        }
    }
    // Warm the page cache so that both sides read the frames from memory.
    const std::string warm = "cat " + raw + " >/dev/null";
    if (std::system(warm.c_str()) != 0) {
        return {};
    }
    const std::string cmd = "ffmpeg -v error -threads 1 -f rawvideo -pix_fmt bgr24 -s " +
                            std::to_string(w) + "x" + std::to_string(h) + " -r 10 -i " + raw +
                            " -c:v flashsv -g 40 -f flv -y " + out;
    const auto t0 = Clock::now();
    const int status = std::system(cmd.c_str());
    const auto t1 = Clock::now();
    Result r;
    if (status == 0) {
        r.fps = static_cast<double>(frames.size()) / seconds(t0, t1);
        std::ifstream f(out, std::ios::binary | std::ios::ate);
        r.bytes = static_cast<uint64_t>(f.tellg());
    }
    std::remove(raw.c_str());
    std::remove(out.c_str());
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const int sizes[][2] = {{1024, 768}, {1920, 1080}};
    std::printf("%-12s %-11s %7s %10s %12s %10s %12s %8s\n", "size", "workload", "frames",
                "ours fps", "ours bytes", "ffmpeg fps", "ffmpeg bytes", "ratio");
    int failures = 0;
    for (const auto& s : sizes) {
        for (int workload = 0; workload < 2; ++workload) {
            Frames frames;
            if (workload == 0) {
                if (!testsrc2(s[0], s[1], count, frames)) {
                    std::fprintf(stderr, "could not make testsrc2 frames with ffmpeg\n");
                    return 1;
                }
            } else {
                screenLike(s[0], s[1], count, frames);
            }
            const Result a = ours(s[0], s[1], frames);
            const Result b = ffmpeg(s[0], s[1], frames);
            if (a.fps == 0 || b.fps == 0) {
                ++failures;
            }
            std::printf("%4dx%-7d %-11s %7d %10.1f %12llu %10.1f %12llu %7.2fx\n", s[0], s[1],
                        workload == 0 ? "testsrc2" : "screen-like", count, a.fps,
                        static_cast<unsigned long long>(a.bytes), b.fps,
                        static_cast<unsigned long long>(b.bytes), b.fps > 0 ? a.fps / b.fps : 0.0);
            std::fflush(stdout);
        }
    }
    std::printf(
        "ratio = our frames per second / ffmpeg flashsv frames per second "
        "(ffmpeg timed as a whole process, one thread)\n");
    return failures == 0 ? 0 : 1;
}
