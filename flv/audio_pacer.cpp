#include "flv/audio_pacer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "flv/flv_writer.h"

namespace pemlo {

namespace {

// Reads up to audioReadBytes, going on after short reads; -1 when a read fails.
int64_t readBlock(File& spool, uint8_t* buffer) {
    int64_t got = 0;
    while (got < audioReadBytes) {
        const int64_t n = spool.read(buffer + got, static_cast<uint32_t>(audioReadBytes - got));
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            break;
        }
        got += n;
    }
    return got;
}

int reserve(AudioPackets& packets, uint32_t capacity) {
    if (packets.capacity >= capacity) {
        return 1;
    }
    std::unique_ptr<uint8_t[]> first(new (std::nothrow) uint8_t[2 * capacity]);
    std::unique_ptr<uint8_t[]> index(new (std::nothrow) uint8_t[capacity]);
    std::unique_ptr<uint8_t[]> codes(new (std::nothrow)
                                         uint8_t[static_cast<size_t>(audioPacketBytes) * capacity]);
    if (!first || !index || !codes) {
        return 0;
    }
    packets.firstSamples = std::move(first);
    packets.stepIndices = std::move(index);
    packets.codes = std::move(codes);
    packets.capacity = capacity;
    return 1;
}

}  // namespace

int encodeDueAudio(AudioPacer& pacer, File& spool, uint16_t durationMs, AudioPackets& packets,
                   int& endOfSound, int& packetCount) {
    pacer.videoTime += durationMs;
    if (!pacer.started) {
        if (!spool.seek(0)) {
            return 0;
        }
        pacer.readBuffer.reset(new (std::nothrow) uint8_t[audioReadBytes]);
        if (!pacer.readBuffer) {
            return 0;
        }
        pacer.started = 1;
    }
    // A frame of D ms has at most floor(D / 46.44) + 1 packet starts within it.
    const uint32_t capacity = std::max<uint32_t>(durationMs / audioPacketMs + 2, 30);
    if (!reserve(packets, capacity)) {
        return 0;
    }

    int16_t samples[audioPacketSamples];
    uint32_t i = 0;
    packets.lastPacketSamples = audioPacketSamples;
    while (!endOfSound && i < packets.capacity &&
           audioPacketStartMs(pacer.packetsDone) <= pacer.videoTime) {
        const uint8_t* raw = pacer.readBuffer.get();
        const int64_t got = readBlock(spool, pacer.readBuffer.get());
        if (got < 0) {
            return 0;
        }
        const int count = static_cast<int>(got / 2);
        if (count == 0) {
            endOfSound = 1;
            break;
        }
        for (int s = 0; s < count; ++s) {
            samples[s] = static_cast<int16_t>(static_cast<uint16_t>(raw[2 * s]) |
                                              static_cast<uint16_t>(raw[2 * s + 1] << 8));
        }
        // Each packet starts afresh from its own first sample, so a decoder that takes
        // the header as its starting point follows the codes exactly.
        AdpcmState& state = pacer.state;
        state.predicted = samples[0];
        state.stepIndex = std::min<int8_t>(state.stepIndex, 63);
        packets.firstSamples[2 * i] = raw[0];
        packets.firstSamples[2 * i + 1] = raw[1];
        packets.stepIndices[i] = static_cast<uint8_t>(state.stepIndex);
        uint8_t* codes = packets.codes.get() + static_cast<size_t>(i) * audioPacketBytes;
        std::memset(codes, 0, audioPacketBytes);
        adpcmEncode(samples + 1, codes, count - 1, state);
        ++pacer.packetsDone;
        ++i;
        if (count < audioPacketSamples) {
            // The final, short block of the spool.
            packets.lastPacketSamples = count;
            endOfSound = 1;
        }
    }
    packets.count = static_cast<int>(i);
    packetCount = static_cast<int>(i);
    return 1;
}

}  // namespace pemlo
