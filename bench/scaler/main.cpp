// Area-averaging scaler throughput in source megapixels per second on fully changing
// frames (ffmpeg's testsrc2 pattern), 1920 x 1080 to 1280 x 720, 3840 x 2160 to
// 1920 x 1080 and 1366 x 768 to 1280 x 720, next to ffmpeg's area scaler (-sws_flags
// area, one thread) on the same frames in the same run. ffmpeg's time for reading the
// frames is measured with a pass that does not scale and taken off. The crop of the
// whole screen from the grabbed 4-byte pixels to bottom-up packed BGR is measured the
// same way, next to ffmpeg's vflip and bgra to bgr24 conversion and to the former
// pixel-by-pixel copy.
//
// Every figure is the shortest of three runs, in processor seconds (ours on this thread,
// ffmpeg's as a child process), except the two-thread figure, which is wall time.
//
//   pemlo_bench_scaler [FRAMES]    (default 80 frames at 1920 x 1080, half as many at
//                                  3840 x 2160)
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/task_pool.h"
#include "process/compositing.h"
#include "process/scaler.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kDistinct = 4;  // distinct frames, cycled

std::string size(int w, int h) {
    return std::to_string(w) + "x" + std::to_string(h);
}

// The same reduction in bands of target rows shared by this thread and a helper, as the
// output phase runs it.
struct Shared {
    pemlo::ScaleJob job;
    unsigned bandRows = 1;
    std::atomic<unsigned> next{0};
    unsigned bands = 0;

    void run() {
        for (unsigned b = next.fetch_add(1); b < bands; b = next.fetch_add(1)) {
            pemlo::scaleJobRows(job, b * bandRows, (b + 1) * bandRows);
        }
    }
};

void helpScale(void* context) {
    static_cast<Shared*>(context)->run();
}

int runCommand(const std::string& cmd) {
    const int status = std::system(cmd.c_str());
    if (status != 0) {
        std::fprintf(stderr, "failed: %s\n", cmd.c_str());
    }
    return status;
}

// Processor seconds of this thread, and of the finished child processes (ffmpeg): on a
// shared machine they count only the work done, not the time spent waiting for a core.
double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double childSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double wallSeconds() {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// The shortest of three runs by the given clock. A failed run gives -1.
template <typename Run>
double bestOfThree(double (*clock)(), Run run) {
    double best = -1.0;
    for (int i = 0; i < 3; ++i) {
        const double t0 = clock();
        if (!run()) {
            return -1.0;
        }
        const double t = clock() - t0;
        best = best < 0 || t < best ? t : best;
    }
    return best;
}

double runFfmpeg(const std::string& input, int w, int h, int frames, const std::string& filter,
                 const char* format = "bgr24") {
    const int loops = frames / kDistinct - 1;
    const std::string cmd = std::string(
                                "ffmpeg -v error -threads 1 -filter_threads 1 -f rawvideo "
                                "-pix_fmt ") +
                            format + " -s " + size(w, h) + " -stream_loop " +
                            std::to_string(loops) + " -i " + input + " -vf " + filter +
                            " -f null -";
    return bestOfThree(&childSeconds, [&] { return runCommand(cmd) == 0; });
}

// Scales `frames` frames cycling through `source`, on this thread alone and in bands on
// two threads; prints the rates next to ffmpeg's.
int measure(const std::vector<std::vector<uint8_t>>& source, const std::string& input, int sw,
            int sh, int dw, int dh, int frames) {
    const double megapixels = double{1.0} * sw * sh * frames / 1e6;
    pemlo::ImageBuffer target;
    pemlo::GrowableBuffer<float> accumulator;
    unsigned checksum = 0;
    const auto sourceOf = [&](int i) {
        const auto& f = source[static_cast<size_t>(i % kDistinct)];
        return pemlo::ImageBuffer{static_cast<uint16_t>(sw), static_cast<uint16_t>(sh),
                                  static_cast<uint16_t>(sw * 3), const_cast<uint8_t*>(f.data())};
    };
    const double ours = bestOfThree(&threadSeconds, [&] {
        for (int i = 0; i < frames; ++i) {
            if (pemlo::scaleAreaAverage(sourceOf(i), target, static_cast<uint16_t>(dw),
                                        static_cast<uint16_t>(dh), accumulator) != 1) {
                return false;
            }
            checksum +=
                target.pixels[static_cast<size_t>(i) * 7919 % (target.stride * target.height)];
        }
        return true;
    });

    pemlo::TaskPool pool;
    pemlo::GrowableBuffer<pemlo::ScalerColumn> columns;
    pemlo::GrowableBuffer<uint8_t> byteTable;
    Shared shared;
    const double two = bestOfThree(&wallSeconds, [&] {
        for (int i = 0; i < frames; ++i) {
            if (pool.start(1) != 1 ||
                pemlo::scaleJobSetup(shared.job, sourceOf(i), target, static_cast<uint16_t>(dw),
                                     static_cast<uint16_t>(dh), accumulator, columns,
                                     byteTable) != 1) {
                return false;
            }
            shared.bandRows = (static_cast<unsigned>(dh) + 15) / 16;
            shared.bands = (static_cast<unsigned>(dh) + shared.bandRows - 1) / shared.bandRows;
            shared.next = 0;
            pool.runOnAll(&helpScale, &shared);
            checksum +=
                target.pixels[static_cast<size_t>(i) * 7919 % (target.stride * target.height)];
        }
        return true;
    });
    pemlo::imageBufferRelease(target);
    const double ffmpegRead = runFfmpeg(input, sw, sh, frames, "null");
    const double total = runFfmpeg(input, sw, sh, frames, "scale=" + size(dw, dh) + ":flags=area");
    if (ours < 0 || two < 0 || ffmpegRead < 0 || total < 0) {
        std::fprintf(stderr, "a run failed\n");
        return 1;
    }
    const double theirs = total - ffmpegRead;
    std::printf(
        "%s -> %-9s %d frames: pemlo %7.1f MP/s (%.3f s), in bands on two threads %7.1f MP/s "
        "(%.3f s wall); ffmpeg area %7.1f MP/s (%.3f s net of reading, %.3f s in all); speed "
        "pemlo/ffmpeg one thread %.2f, two threads %.2f  [check %u]\n",
        size(sw, sh).c_str(), size(dw, dh).c_str(), frames, megapixels / ours, ours,
        megapixels / two, two, megapixels / theirs, theirs, total, theirs / ours, theirs / two,
        checksum);
    return 0;
}

// The crop as it was before the four-pixel steps: one 4-byte copy per pixel, each
// overwriting the last pixel's spare byte, bottom row first.
void formerCrop(const uint8_t* grabbed, int pitch, int w, int h, uint8_t* out) {
    for (int y = h - 1; y >= 0; --y) {
        const uint8_t* src = grabbed + static_cast<size_t>(y) * pitch;
        for (int x = 0; x + 1 < w; ++x, src += 4, out += 3) {
            std::memcpy(out, src, 4);
        }
        out[0] = src[0];
        out[1] = src[1];
        out[2] = src[2];
        out += 3;
    }
}

int measureCrop(const std::vector<std::vector<uint8_t>>& source, int w, int h, int frames) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string input = std::string(tmp ? tmp : "/tmp") + "/pemlo_bench_crop.raw";
    std::vector<std::vector<uint8_t>> grabbed;
    {
        std::ofstream out(input, std::ios::binary);
        for (const auto& f : source) {
            grabbed.emplace_back(size_t{4} * w * h);
            for (size_t i = 0, j = 0; j < f.size(); i += 4, j += 3) {
                grabbed.back()[i] = f[j];
                grabbed.back()[i + 1] = f[j + 1];
                grabbed.back()[i + 2] = f[j + 2];
                grabbed.back()[i + 3] = 0xFF;
            }
            out.write(reinterpret_cast<const char*>(grabbed.back().data()),
                      static_cast<std::streamsize>(grabbed.back().size()));
        }
    }
    const double megapixels = double{1.0} * w * h * frames / 1e6;
    pemlo::GrowableBuffer<uint8_t> out;
    std::vector<uint8_t> formerOut(size_t{3} * w * h);
    unsigned checksum = 0;
    const double ours = bestOfThree(&threadSeconds, [&] {
        for (int i = 0; i < frames; ++i) {
            const auto& g = grabbed[static_cast<size_t>(i % kDistinct)];
            if (pemlo::cropFrame(g.data(), g.size(), static_cast<uint16_t>(w * 4), 0, 0, w, h,
                                 out) != 1) {
                return false;
            }
            checksum += out.data()[static_cast<size_t>(i) * 7919 % out.size()];
        }
        return true;
    });
    const double former = bestOfThree(&threadSeconds, [&] {
        for (int i = 0; i < frames; ++i) {
            formerCrop(grabbed[static_cast<size_t>(i % kDistinct)].data(), w * 4, w, h,
                       formerOut.data());
            checksum += formerOut[static_cast<size_t>(i) * 7919 % formerOut.size()];
        }
        return true;
    });
    const double reading = runFfmpeg(input, w, h, frames, "null", "bgra");
    const double total = runFfmpeg(input, w, h, frames, "vflip,format=bgr24", "bgra");
    std::remove(input.c_str());
    if (ours < 0 || reading < 0 || total < 0) {
        return 1;
    }
    const double theirs = total - reading;
    std::printf(
        "crop %s bgra -> bottom-up bgr24, %d frames: pemlo %7.1f MP/s (%.3f s), former copy "
        "%7.1f MP/s (%.3f s); ffmpeg vflip+format %7.1f MP/s (%.3f s net of reading); speed "
        "pemlo/ffmpeg %.2f, pemlo/former %.2f  [check %u]\n",
        size(w, h).c_str(), frames, megapixels / ours, ours, megapixels / former, former,
        megapixels / theirs, theirs, theirs / ours, former / ours, checksum);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int frames =
        argc > 1 ? std::max(kDistinct, std::atoi(argv[1]) / kDistinct * kDistinct) : 80;
    const char* tmp = std::getenv("TMPDIR");
    const std::string input = std::string(tmp ? tmp : "/tmp") + "/pemlo_bench_scaler.raw";
    // The last size has shares in 683rds and 9ths: it is summed in single precision.
    const int sizes[][4] = {
        {1920, 1080, 1280, 720}, {3840, 2160, 1920, 1080}, {1366, 768, 1280, 720}};
    int failed = 0;
    for (const auto& s : sizes) {
        // Fully changing frames: ffmpeg's test pattern, moving from frame to frame.
        if (runCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=" + size(s[0], s[1]) +
                       ":rate=10 -frames:v " + std::to_string(kDistinct) +
                       " -pix_fmt bgr24 -f rawvideo " + input) != 0) {
            return 1;
        }
        std::ifstream in(input, std::ios::binary);
        std::vector<uint8_t> all{std::istreambuf_iterator<char>(in),
                                 std::istreambuf_iterator<char>()};
        const size_t frameBytes = size_t{3} * s[0] * s[1];
        if (all.size() != frameBytes * kDistinct) {
            std::fprintf(stderr, "ffmpeg wrote %zu bytes\n", all.size());
            return 1;
        }
        std::vector<std::vector<uint8_t>> source;
        for (int i = 0; i < kDistinct; ++i) {
            source.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(frameBytes * i),
                                all.begin() + static_cast<std::ptrdiff_t>(frameBytes * (i + 1)));
        }
        const int n =
            s[0] > 1920 ? std::max(kDistinct, frames / 2 / kDistinct * kDistinct) : frames;
        failed |= measure(source, input, s[0], s[1], s[2], s[3], n);
        failed |= measureCrop(source, s[0], s[1], n);
    }
    std::remove(input.c_str());
    return failed;
}
