#include "flv/audio_tags.h"

#include "flv/audio_pacer.h"

namespace pemlo {

namespace {

uint64_t packetBits(int samples) {
    // First sample, 6-bit step index, then one 4-bit code per further sample.
    return 16 + 6 + 4 * static_cast<uint64_t>(samples - 1);
}

}  // namespace

int flvWriteAudioTag(FlvWriter& w, File& file, int count, const uint8_t* firstSample,
                     const uint8_t* stepIndex, const uint8_t* codes, int lastPacketSamples) {
    if (!w.hasAudio) {
        return 1;
    }
    if (w.failed || count < 1 || lastPacketSamples < 1 || lastPacketSamples > audioPacketSamples ||
        !firstSample || !stepIndex || !codes) {
        return 0;
    }
    // Sound format byte, 2-bit code size, then the packets, padded to a whole byte.
    const uint64_t bits =
        8 + 2 + packetBits(audioPacketSamples) * (count - 1) + packetBits(lastPacketSamples);
    if ((bits + 7) / 8 > maxTagDataSize) {
        return 0;
    }

    uint8_t lead[12];
    flvFillTagHeader(lead, tagTypeAudio, w.audioTimestamp);
    lead[11] = static_cast<uint8_t>(audioCodecId * 16 + audioRateIndex * 4 + 2);
    uint64_t tagStart = 0;
    if (!flvOpenTag(w, file, lead, sizeof lead, tagStart)) {
        return 0;
    }

    BitWriter& bw = w.bitWriter;
    resetBits(bw);
    int ok = putBits(bw, file, 2, 2);  // 4-bit codes
    for (int p = 0; ok && p < count; ++p) {
        const int samples = p == count - 1 ? lastPacketSamples : audioPacketSamples;
        const int index = stepIndex[p] > 63 ? 63 : stepIndex[p];
        ok = putBits(bw, file, firstSample[2 * p + 1], 8) &&
             putBits(bw, file, firstSample[2 * p], 8) && putBits(bw, file, index, 6);
        const uint8_t* packetCodes = codes + static_cast<size_t>(p) * audioPacketBytes;
        const int codeCount = samples - 1;
        for (int i = 0; ok && i < codeCount / 2; ++i) {
            ok = putBits(bw, file, packetCodes[i], 8);
        }
        if (ok && (codeCount & 1)) {
            ok = putBits(bw, file, packetCodes[codeCount / 2] >> 4, 4);
        }
    }
    ok = ok && flushBits(bw, file);
    if (!ok) {
        resetBits(bw);
        w.failed = 1;
        return 0;
    }
    if (!flvCloseTag(w, file, tagTypeAudio, tagStart)) {
        return 0;
    }
    w.audioPacketsWritten += static_cast<uint64_t>(count);
    w.audioTimestamp = audioPacketStartMs(w.audioPacketsWritten);
    return 1;
}

int flvWriteAudioPacket(FlvWriter& w, File& file, const AudioPackets& packets, int index) {
    if (index < 0 || index >= packets.count) {
        return 0;
    }
    const int samples = index == packets.count - 1 ? packets.lastPacketSamples : audioPacketSamples;
    return flvWriteAudioTag(
        w, file, 1, packets.firstSamples.get() + 2 * index, packets.stepIndices.get() + index,
        packets.codes.get() + static_cast<size_t>(index) * audioPacketBytes, samples);
}

}  // namespace pemlo
