// Area-averaging scaler throughput in source megapixels per second, 1920 x 1080 to
// 1280 x 720 and to 640 x 480, next to ffmpeg's area scaler (-sws_flags area, one
// thread) on the same frames in the same run. ffmpeg's time for reading the frames is
// measured with a pass that does not scale and taken off.
//
//   pemlo_bench_scaler [FRAMES]    (default 120 frames per target size)
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "process/helper_thread.h"
#include "process/scaler.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kW = 1920;
constexpr int kH = 1080;
constexpr int kDistinct = 8;  // distinct frames, cycled

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// A desktop-like picture: gradients, windows with hard edges, text-like speckle.
std::vector<uint8_t> makeFrame(int i) {
    std::vector<uint8_t> f(static_cast<size_t>(kW) * kH * 3);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            uint8_t* p = &f[(static_cast<size_t>(y) * kW + x) * 3];
            p[0] = static_cast<uint8_t>(x / 8 + i * 9);
            p[1] = static_cast<uint8_t>(y / 5);
            p[2] = static_cast<uint8_t>((x ^ y) & 0x3F);
            if (x > 200 + 20 * i && x < 1100 + 20 * i && y > 150 && y < 800) {
                const bool ink = ((x * 7 + y * 3 + i) % 13) < 4 && (y / 18) % 2 == 0;
                p[0] = p[1] = p[2] = ink ? 20 : 245;
            }
        }
    }
    return f;
}

// The same reduction in bands of target rows shared by this thread and a helper, as the
// output phase runs it.
struct Shared {
    pemlo::ScaleJob job;
    unsigned bandRows = 1;
    std::atomic<unsigned> next{0};
    std::atomic<unsigned> done{0};
    unsigned bands = 0;

    void run() {
        for (unsigned b = next.fetch_add(1); b < bands; b = next.fetch_add(1)) {
            pemlo::scaleJobRows(job, b * bandRows, (b + 1) * bandRows);
            done.fetch_add(1);
        }
    }
};

void helpScale(pemlo::HelperThread& /*helper*/, void* context) {
    static_cast<Shared*>(context)->run();
}

double runFfmpeg(const std::string& input, int frames, const std::string& filter) {
    const int loops = frames / kDistinct - 1;
    const std::string cmd =
        "ffmpeg -v error -threads 1 -filter_threads 1 -f rawvideo -pix_fmt "
        "bgr24 -s 1920x1080 -stream_loop " +
        std::to_string(loops) + " -i " + input + " -vf " + filter + " -f null -";
    const auto t0 = Clock::now();
    const int status = std::system(cmd.c_str());
    const auto t1 = Clock::now();
    if (status != 0) {
        std::fprintf(stderr, "ffmpeg failed: %s\n", cmd.c_str());
        return -1;
    }
    return seconds(t0, t1);
}

}  // namespace

int main(int argc, char** argv) {
    const int frames =
        argc > 1 ? std::max(kDistinct, std::atoi(argv[1]) / kDistinct * kDistinct) : 120;
    std::vector<std::vector<uint8_t>> source;
    const char* tmp = std::getenv("TMPDIR");
    const std::string input = std::string(tmp ? tmp : "/tmp") + "/pemlo_bench_scaler.raw";
    {
        std::ofstream out(input, std::ios::binary);
        for (int i = 0; i < kDistinct; ++i) {
            source.push_back(makeFrame(i));
            out.write(reinterpret_cast<const char*>(source.back().data()),
                      static_cast<std::streamsize>(source.back().size()));
        }
    }
    const double megapixels = double{kW} * kH * frames / 1e6;
    const double ffmpegRead = runFfmpeg(input, frames, "null");
    std::printf("frames: %d of 1920 x 1080 per size; ffmpeg reading them alone: %.3f s\n", frames,
                ffmpegRead);
    const int targets[][2] = {{1280, 720}, {640, 480}};
    for (const auto& t : targets) {
        pemlo::ImageBuffer target;
        pemlo::GrowableBuffer<float> accumulator;
        unsigned checksum = 0;
        const auto t0 = Clock::now();
        for (int i = 0; i < frames; ++i) {
            auto& f = source[static_cast<size_t>(i % kDistinct)];
            pemlo::ImageBuffer src{kW, kH, kW * 3, f.data()};
            if (pemlo::scaleAreaAverage(src, target, static_cast<uint16_t>(t[0]),
                                        static_cast<uint16_t>(t[1]), accumulator) != 1) {
                std::fprintf(stderr, "scale failed\n");
                return 1;
            }
            checksum += target.pixels[static_cast<size_t>(i) % (target.stride * target.height)];
        }
        const double ours = seconds(t0, Clock::now());

        pemlo::HelperThread helper;
        pemlo::GrowableBuffer<pemlo::ScalerColumn> columns;
        Shared shared;
        const auto t2 = Clock::now();
        for (int i = 0; i < frames && helper.start() == 1; ++i) {
            auto& f = source[static_cast<size_t>(i % kDistinct)];
            pemlo::ImageBuffer src{kW, kH, kW * 3, f.data()};
            if (pemlo::scaleJobSetup(shared.job, src, target, static_cast<uint16_t>(t[0]),
                                     static_cast<uint16_t>(t[1]), accumulator, columns) != 1) {
                std::fprintf(stderr, "scale failed\n");
                return 1;
            }
            shared.bandRows = (static_cast<unsigned>(t[1]) + 15) / 16;
            shared.bands = (static_cast<unsigned>(t[1]) + shared.bandRows - 1) / shared.bandRows;
            shared.next = 0;
            shared.done = 0;
            helper.post(&helpScale, &shared);
            shared.run();
            helper.wait();
            checksum += target.pixels[static_cast<size_t>(i) % (target.stride * target.height)];
        }
        const double two = seconds(t2, Clock::now());
        pemlo::imageBufferRelease(target);
        const double total =
            runFfmpeg(input, frames,
                      "scale=" + std::to_string(t[0]) + ":" + std::to_string(t[1]) + ":flags=area");
        const double theirs = total - ffmpegRead;
        std::printf(
            "1920x1080 -> %4dx%-4d  pemlo %7.1f MP/s (%.3f s), in bands on two threads %7.1f "
            "MP/s (%.3f s)  ffmpeg area %7.1f MP/s (%.3f s net of reading, %.3f s in all)  ratio "
            "pemlo/ffmpeg one thread %.2f, two threads %.2f  [check %u]\n",
            t[0], t[1], megapixels / ours, ours, megapixels / two, two, megapixels / theirs, theirs,
            total, theirs / ours, theirs / two, checksum);
    }
    std::remove(input.c_str());
    return 0;
}
