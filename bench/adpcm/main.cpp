// ADPCM throughput: the bare encoder in samples per second, and the whole sound path
// (spool read, packet encoding, audio tags) in samples per second.
//
//   pemlo_bench_adpcm [SECONDS_OF_SOUND]    (default 600)
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/flv_sink_file.h"
#include "flv/adpcm_encoder.h"
#include "flv/audio_pacer.h"
#include "flv/audio_tags.h"
#include "flv/flv_writer.h"
#include "tests/support/memory_file.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int length = argc > 1 ? std::max(1, std::atoi(argv[1])) : 600;
    const size_t count = static_cast<size_t>(length) * 22050;
    std::vector<int16_t> samples(count);
    uint32_t seed = 7;
    for (size_t i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double t = static_cast<double>(i) / 22050.0;
        samples[i] = static_cast<int16_t>(9000 * std::sin(2 * M_PI * 440 * t) +
                                          5000 * std::sin(2 * M_PI * 1250 * t) +
                                          static_cast<int>(seed >> 22) - 512);
    }

    std::vector<uint8_t> codes((count + 1) / 2);
    pemlo::AdpcmState state;
    const auto t0 = Clock::now();
    pemlo::adpcmEncode(samples.data(), codes.data(), static_cast<int>(count), state);
    const auto t1 = Clock::now();
    unsigned checksum = 0;
    for (uint8_t c : codes) {
        checksum = checksum * 31 + c;
    }

    // The whole path, as the output phase runs it at 10 frames per second.
    pemlo::testing::MemoryFile spool;
    spool.bytes.resize(count * 2);
    for (size_t i = 0; i < count; ++i) {
        spool.bytes[2 * i] = static_cast<uint8_t>(samples[i] & 0xFF);
        spool.bytes[2 * i + 1] = static_cast<uint8_t>((samples[i] >> 8) & 0xFF);
    }
    pemlo::bench::SinkFile out;
    pemlo::FlvWriter writer;
    if (!pemlo::flvBegin(writer, out, 1, 16, 16)) {
        return 1;
    }
    pemlo::AudioPacer pacer;
    pemlo::AudioPackets packets;
    int endOfSound = 0;
    uint64_t packetTotal = 0;
    const auto t2 = Clock::now();
    while (!endOfSound) {
        int n = 0;
        if (!pemlo::encodeDueAudio(pacer, spool, 100, packets, endOfSound, n)) {
            return 1;
        }
        for (int j = 0; j < n; ++j) {
            if (!pemlo::flvWriteAudioPacket(writer, out, packets, j)) {
                return 1;
            }
        }
        packetTotal += static_cast<uint64_t>(n);
    }
    const auto t3 = Clock::now();

    const double encoder = static_cast<double>(count) / seconds(t0, t1);
    const double path = static_cast<double>(count) / seconds(t2, t3);
    std::printf("sound: %d s, %zu samples (checksum %08x)\n", length, count, checksum);
    std::printf("adpcmEncode:           %8.1f Msamples/s  (%6.0fx real time)\n", encoder / 1e6,
                encoder / 22050);
    std::printf(
        "pacer + audio tags:    %8.1f Msamples/s  (%6.0fx real time, %llu packets, "
        "%llu bytes)\n",
        path / 1e6, path / 22050, static_cast<unsigned long long>(packetTotal),
        static_cast<unsigned long long>(out.size));
    return 0;
}
