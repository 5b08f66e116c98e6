// Preview publication benchmark: how long "Close" spends writing a recording beside the
// page as base64 chunk scripts, against copying the same FLV through the same file seam
// in the same pieces (the least any publication of the data could cost) and the
// coreutils base64 of the same file, in the same run.
//
//   pemlo_bench_preview FILE.flv [folder]   (default folder: /tmp)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/preview_data.h"
#include "platform/file.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool copyThroughSeam(const std::string& from, const std::string& to) {
    pemlo::FilePtr in = pemlo::openFileForReading(from);
    pemlo::FilePtr out = pemlo::createFile(to);
    if (!in || !out) {
        return false;
    }
    std::vector<unsigned char> piece(49152);
    for (;;) {
        const int64_t n = in->read(piece.data(), static_cast<uint32_t>(piece.size()));
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        if (out->write(piece.data(), static_cast<uint32_t>(n)) != static_cast<uint32_t>(n)) {
            return false;
        }
    }
    return out->close();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE.flv [folder]\n", argv[0]);
        return 2;
    }
    const std::string flv = argv[1];
    std::string folder = argc > 2 ? argv[2] : "/tmp";
    folder += "/pemlo-bench-preview/";
    std::system(("mkdir -p '" + folder + "'").c_str());
    pemlo::FilePtr probe = pemlo::openFileForReading(flv);
    if (!probe || !probe->seekEnd()) {
        std::fprintf(stderr, "cannot read %s\n", flv.c_str());
        return 1;
    }
    const double megabytes = static_cast<double>(probe->tell()) / 1048576.0;
    probe.reset();

    pemlo::PreviewFiles files;
    double best = 1e9;
    double bestCopy = 1e9;
    double bestBase64 = 1e9;
    for (int run = 0; run < 3; ++run) {
        auto start = Clock::now();
        const auto result = pemlo::writePreviewData(files, folder, flv, "bench.flv", "bench");
        best = std::min(best, secondsSince(start));
        if (result != pemlo::PreviewDataResult::Written) {
            std::fprintf(stderr, "the data was not written (over the limit or a failure)\n");
            return 1;
        }
        start = Clock::now();
        if (!copyThroughSeam(flv, folder + "copy.flv")) {
            std::fprintf(stderr, "the copy failed\n");
            return 1;
        }
        bestCopy = std::min(bestCopy, secondsSince(start));
        start = Clock::now();
        if (std::system(("base64 -w0 '" + flv + "' > '" + folder + "copy.b64'").c_str()) != 0) {
            std::fprintf(stderr, "base64 failed\n");
            return 1;
        }
        bestBase64 = std::min(bestBase64, secondsSince(start));
    }
    std::printf("FLV %.1f MB; best of 3 runs\n", megabytes);
    std::printf("  data scripts      %7.3f s  %7.1f MB/s\n", best, megabytes / best);
    std::printf("  copy (same seam)  %7.3f s  %7.1f MB/s  ratio %.2f\n", bestCopy,
                megabytes / bestCopy, best / bestCopy);
    std::printf("  base64 (coreutils)%7.3f s  %7.1f MB/s  ratio %.2f\n", bestBase64,
                megabytes / bestBase64, best / bestBase64);
    std::system(("rm -rf '" + folder + "'").c_str());
    return 0;
}
