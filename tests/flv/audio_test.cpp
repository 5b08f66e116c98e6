#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "flv/adpcm_encoder.h"
#include "flv/audio_pacer.h"
#include "flv/audio_tags.h"
#include "flv/bit_writer.h"
#include "flv/flv_writer.h"
#include "tests/flv/flv_reader.h"
#include "tests/support/memory_file.h"

namespace pemlo {
namespace {

using testing::MemoryFile;
using testing::parseFlv;

// A sound spool holding `samples` as 16-bit little-endian PCM, positioned at its end
// the way the recorder leaves it.
MemoryFile spoolOf(const std::vector<int16_t>& samples) {
    MemoryFile f;
    for (int16_t s : samples) {
        f.bytes.push_back(static_cast<uint8_t>(s & 0xFF));
        f.bytes.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
    }
    f.pos = f.bytes.size();
    return f;
}

std::vector<int16_t> tone(size_t n, double amplitude = 12000) {
    std::vector<int16_t> s(n);
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / 22050.0;
        s[i] = static_cast<int16_t>(amplitude * 0.6 * std::sin(2 * M_PI * 440 * t) +
                                    amplitude * 0.4 * std::sin(2 * M_PI * 1250 * t));
    }
    return s;
}

// Standard IMA ADPCM decoding of `count` codes from a given start.
std::vector<int> imaDecode(int predicted, int index, const uint8_t* codes, int count) {
    std::vector<int> out;
    for (int i = 0; i < count; ++i) {
        const int code = (i & 1) ? codes[i / 2] & 0x0F : codes[i / 2] >> 4;
        const int step = adpcmStepTable[index];
        int diff = step >> 3;
        if (code & 4)
            diff += step;
        if (code & 2)
            diff += step >> 1;
        if (code & 1)
            diff += step >> 2;
        predicted += (code & 8) ? -diff : diff;
        predicted = std::clamp(predicted, -32768, 32767);
        index = std::clamp(index + adpcmIndexTable[code], 0, 88);
        out.push_back(predicted);
    }
    out.push_back(index);  // the final index rides at the end
    return out;
}

TEST(Adpcm, KnownCodesAndStates) {
    {
        AdpcmState st;
        const int16_t s[] = {32767};
        uint8_t out[1] = {0xEE};
        adpcmEncode(s, out, 1, st);
        EXPECT_EQ(out[0], 0x70);
        EXPECT_EQ(st.predicted, 11);
        EXPECT_EQ(st.stepIndex, 8);
    }
    {
        AdpcmState st;
        const int16_t s[] = {100, -100, 1000};
        uint8_t out[2] = {};
        adpcmEncode(s, out, 3, st);
        EXPECT_EQ(out[0], 0x7F);
        EXPECT_EQ(out[1], 0x70);
        EXPECT_EQ(st.predicted, 44);
        EXPECT_EQ(st.stepIndex, 24);
    }
    {
        AdpcmState st;
        const std::vector<int16_t> silence(64, 0);
        std::vector<uint8_t> out(32, 0xAA);
        adpcmEncode(silence.data(), out.data(), 64, st);
        EXPECT_EQ(out, std::vector<uint8_t>(32, 0));
        EXPECT_EQ(st.predicted, 0);
        EXPECT_EQ(st.stepIndex, 0);
    }
    {
        // Full-scale swings: the predictor and the index stay clamped.
        AdpcmState st;
        std::vector<int16_t> s(400);
        for (size_t i = 0; i < s.size(); ++i) {
            s[i] = (i / 3) % 2 ? 32767 : -32768;
        }
        std::vector<uint8_t> out(200);
        adpcmEncode(s.data(), out.data(), 400, st);
        EXPECT_EQ(st.stepIndex, 88);
        const auto dec = imaDecode(0, 0, out.data(), 400);
        EXPECT_EQ(dec[399], st.predicted);
        EXPECT_EQ(dec[400], 88);
    }
}

// Writes one tag of one packet and returns the tag data.
std::vector<uint8_t> oneTag(FlvWriter& w, MemoryFile& f, int16_t first, uint8_t index,
                            const std::vector<uint8_t>& codes, int samples = 1024) {
    const uint8_t sample[2] = {static_cast<uint8_t>(first & 0xFF),
                               static_cast<uint8_t>((first >> 8) & 0xFF)};
    EXPECT_EQ(flvWriteAudioTag(w, f, 1, sample, &index, codes.data(), samples), 1);
    const auto tags = parseFlv({f.bytes.begin(), f.bytes.end()});
    return tags.back().data;
}

TEST(AudioTag, PacketHeaderBitsAndSize) {
    struct Case {
        int16_t first;
        uint8_t index;
        std::vector<uint8_t> bits;
    };
    const Case cases[] = {
        {0, 0, {0x80, 0x00, 0x00}}, {0x1234, 5, {0x84, 0x8D, 0x05}}, {-2, 70, {0xBF, 0xFF, 0xBF}}};
    std::vector<uint8_t> codes(512);
    for (size_t i = 0; i < codes.size(); ++i) {
        codes[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    for (const auto& c : cases) {
        MemoryFile f;
        FlvWriter w;
        ASSERT_EQ(flvBegin(w, f, 1, 16, 16), 1);
        const auto d = oneTag(w, f, c.first, c.index, codes);
        ASSERT_EQ(d.size(), 516u);
        EXPECT_EQ(d[0], 0x1A);
        EXPECT_EQ(std::vector<uint8_t>(d.begin() + 1, d.begin() + 4), c.bits);
        EXPECT_EQ(w.previousTagSize, 527u);
        EXPECT_EQ(f.bytes.size(), 268u + 531u);
        // 1,023 codes follow the size field and the 22 header bits, then 4
        // zero bits of padding.
        for (int i = 0; i < 1023; ++i) {
            const int bitPos = 8 + 24 + 4 * i;
            const uint8_t byte = d[static_cast<size_t>(bitPos / 8)];
            const int got = bitPos % 8 == 0 ? byte >> 4 : byte & 0x0F;
            const int want = (i & 1) ? codes[static_cast<size_t>(i / 2)] & 0xF
                                     : codes[static_cast<size_t>(i / 2)] >> 4;
            ASSERT_EQ(got, want) << "code " << i;
        }
        EXPECT_EQ(d[515] & 0x0F, 0);
    }
}

TEST(AudioTag, TimestampsFollowTheSampleClock) {
    MemoryFile f;
    FlvWriter w;
    ASSERT_EQ(flvBegin(w, f, 1, 16, 16), 1);
    const std::vector<uint8_t> codes(512);
    for (int k = 0; k < 1000; ++k) {
        oneTag(w, f, 0, 0, codes);
    }
    const auto tags = parseFlv({f.bytes.begin(), f.bytes.end()});
    ASSERT_EQ(tags.size(), 1001u);
    EXPECT_EQ(tags[1].timestamp, 0u);
    EXPECT_EQ(tags[2].timestamp, 46u);
    EXPECT_EQ(tags[3].timestamp, 92u);
    EXPECT_EQ(tags[4].timestamp, 139u);
    for (uint64_t k = 0; k < 1000; ++k) {
        EXPECT_EQ(tags[k + 1].timestamp, k * 1024 * 1000 / 22050) << k;
    }
    EXPECT_EQ(w.audioTimestamp, 46439u);  // 1,000 packets last 46.439 s
}

TEST(AudioTag, WithoutSoundWritesNothing) {
    MemoryFile f;
    FlvWriter w;
    ASSERT_EQ(flvBegin(w, f, 0, 16, 16), 1);
    const auto size = f.bytes.size();
    const std::vector<uint8_t> codes(512);
    const uint8_t first[2] = {1, 2};
    const uint8_t index = 3;
    EXPECT_EQ(flvWriteAudioTag(w, f, 1, first, &index, codes.data()), 1);
    EXPECT_EQ(f.bytes.size(), size);
    EXPECT_EQ(w.audioTimestamp, 0u);
    EXPECT_EQ(w.previousTagSize, 163u);
}

TEST(AudioTag, RefusesWhatTheSizeFieldCannotHold) {
    MemoryFile f;
    FlvWriter w;
    ASSERT_EQ(flvBegin(w, f, 1, 16, 16), 1);
    const int count = 32700;  // 32,700 x 514.25 bytes > 16,777,215
    std::vector<uint8_t> first(2 * count), index(count), codes(512u * count);
    const auto size = f.bytes.size();
    EXPECT_EQ(flvWriteAudioTag(w, f, count, first.data(), index.data(), codes.data()), 0);
    EXPECT_EQ(flvWriteAudioTag(w, f, 0, first.data(), index.data(), codes.data()), 0);
    EXPECT_EQ(flvWriteAudioTag(w, f, 1, first.data(), index.data(), codes.data(), 0), 0);
    EXPECT_EQ(flvWriteAudioTag(w, f, 1, first.data(), index.data(), codes.data(), 1025), 0);
    EXPECT_EQ(f.bytes.size(), size);
    // Two packets in one tag fit and pack back to back.
    EXPECT_EQ(flvWriteAudioTag(w, f, 2, first.data(), index.data(), codes.data()), 1);
    EXPECT_EQ(w.previousTagSize, 11u + 1 + (2 + 2 * (22 + 4 * 1023) + 7) / 8);
    EXPECT_EQ(w.audioTimestamp, 92u);
}

TEST(BitWriter, PacksMostSignificantBitFirstAndWritesInBlocks) {
    MemoryFile f;
    BitWriter bw;
    EXPECT_EQ(putBits(bw, f, 9, 9), 0);
    EXPECT_EQ(putBits(bw, f, 1, -1), 0);
    ASSERT_EQ(putBits(bw, f, 0x1FF, 1), 1);  // only the lowest bit counts
    ASSERT_EQ(putBits(bw, f, 0, 0), 1);
    ASSERT_EQ(putBits(bw, f, 0x3, 3), 1);
    ASSERT_EQ(putBits(bw, f, 0xA5, 8), 1);
    for (int i = 0; i < 1023; ++i) {
        ASSERT_EQ(putBits(bw, f, static_cast<unsigned>(i), 8), 1);
    }
    // 1 + 3 + 8 x 1,024 bits: the first 1,024 bytes are out, 4 bits wait.
    ASSERT_EQ(f.bytes.size(), 1024u);
    EXPECT_EQ(f.bytes[0], 0xBA);  // 1, 011, then 1010 of 0xA5
    EXPECT_EQ(f.bytes[1], 0x50);  // 0101, then 0000 of 0
    ASSERT_EQ(flushBits(bw, f), 1);
    ASSERT_EQ(f.bytes.size(), 1025u);
    EXPECT_EQ(f.bytes[1024], ((1022 & 0xF) << 4) | 0x0);
    EXPECT_EQ(bw.count, 0);
    EXPECT_EQ(bw.used, 0);
    f.close();
    EXPECT_EQ(putBits(bw, f, 1, 1), 0);
}

TEST(BitWriter, ShortBlockWriteAndShortFlushFail) {
    MemoryFile f;
    f.writeBudget = 1000;
    BitWriter bw;
    int ok = 1;
    for (int i = 0; i < 1024 && ok; ++i) {
        ok = putBits(bw, f, 0x55, 8);
    }
    EXPECT_EQ(ok, 0);
    MemoryFile g;
    g.writeBudget = 2;
    BitWriter bx;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(putBits(bx, g, 0x55, 8), 1);
    }
    EXPECT_EQ(flushBits(bx, g), 0);
    MemoryFile h;
    h.writeBudget = 1;
    BitWriter by;
    ASSERT_EQ(putBits(by, h, 0x55, 8), 1);
    ASSERT_EQ(putBits(by, h, 1, 1), 1);
    EXPECT_EQ(flushBits(by, h), 0);  // the partial byte does not fit
}

struct Pacer {
    AudioPacer pacer;
    AudioPackets packets;
    int endOfSound = 0;
    int count = -1;
    int call(MemoryFile& spool, uint16_t ms) {
        count = -1;
        return encodeDueAudio(pacer, spool, ms, packets, endOfSound, count);
    }
};

TEST(AudioPacer, PacketsFallDueByTheEndOfEachFrame) {
    auto spool = spoolOf(tone(1024 * 800));
    Pacer p;
    ASSERT_EQ(p.call(spool, 100), 1);
    EXPECT_EQ(p.count, 3);  // starts 0, 46, 92
    EXPECT_GE(p.packets.capacity, 30u);
    ASSERT_EQ(p.call(spool, 100), 1);
    EXPECT_EQ(p.count, 2);  // 139, 185; 232 is past 200
    ASSERT_EQ(p.call(spool, 0), 1);
    EXPECT_EQ(p.count, 0);
    ASSERT_EQ(p.call(spool, 2000), 1);
    EXPECT_GE(p.packets.capacity, 45u);
    // Up to 2,200 ms: packets 5 .. floor(2200 x 22050 / 1024000) = 47.
    EXPECT_EQ(p.count, 43);
    // Over a long run, packet k is produced by the first frame whose end reaches its start.
    uint64_t produced = 48;
    uint64_t end = 2200;
    const uint16_t durations[] = {100, 111, 1, 46, 47, 999};
    for (int i = 0; i < 120; ++i) {
        const uint16_t d = durations[i % 6];
        end += d;
        ASSERT_EQ(p.call(spool, d), 1);
        uint64_t due = 0;
        while ((produced + due) * 1024 * 1000 / 22050 <= end) {
            ++due;
        }
        ASSERT_EQ(p.count, static_cast<int>(due)) << "frame " << i;
        produced += due;
    }
    EXPECT_EQ(p.endOfSound, 0);
}

TEST(AudioPacer, FirstCallWithZeroDurationStillYieldsPacketZero) {
    auto spool = spoolOf(tone(4096));
    Pacer p;
    ASSERT_EQ(p.call(spool, 0), 1);
    EXPECT_EQ(p.count, 1);
    ASSERT_EQ(p.call(spool, 0), 1);
    EXPECT_EQ(p.count, 0);
}

TEST(AudioPacer, EmptySpoolEndsTheSound) {
    auto spool = spoolOf({});
    Pacer p;
    ASSERT_EQ(p.call(spool, 100), 1);
    EXPECT_EQ(p.count, 0);
    EXPECT_EQ(p.endOfSound, 1);
}

TEST(AudioPacer, ExactMultipleOfTheBlockSize) {
    auto spool = spoolOf(tone(5 * 1024));
    Pacer p;
    ASSERT_EQ(p.call(spool, 1000), 1);
    EXPECT_EQ(p.count, 5);
    EXPECT_EQ(p.endOfSound, 1);
    EXPECT_EQ(p.packets.lastPacketSamples, 1024);
}

TEST(AudioPacer, ShortLastBlockBecomesAShortPacket) {
    const auto samples = tone(2 * 1024 + 500, 20000);
    auto spool = spoolOf(samples);
    Pacer p;
    ASSERT_EQ(p.call(spool, 60), 1);
    EXPECT_EQ(p.count, 2);
    EXPECT_EQ(p.endOfSound, 0);
    ASSERT_EQ(p.call(spool, 60), 1);
    EXPECT_EQ(p.count, 1);
    EXPECT_EQ(p.endOfSound, 1);
    EXPECT_EQ(p.packets.lastPacketSamples, 500);
    const uint8_t* first = p.packets.firstSamples.get();
    EXPECT_EQ(static_cast<int16_t>(first[0] | (first[1] << 8)), samples[2048]);
    const auto dec = imaDecode(samples[2048], p.packets.stepIndices[0], p.packets.codes.get(), 499);
    EXPECT_EQ(dec[498], p.pacer.state.predicted);

    MemoryFile f;
    FlvWriter w;
    ASSERT_EQ(flvBegin(w, f, 1, 16, 16), 1);
    ASSERT_EQ(flvWriteAudioPacket(w, f, p.packets, 0), 1);
    EXPECT_EQ(flvWriteAudioPacket(w, f, p.packets, 1), 0);
    // Format byte, then 2 + 16 + 6 + 499 x 4 bits, padded: 253 bytes.
    EXPECT_EQ(w.previousTagSize, 11u + 1 + 253);

    // A block of one sample and a stray odd byte.
    auto odd = spoolOf(tone(1025));
    odd.bytes.push_back(0x7F);
    Pacer q;
    ASSERT_EQ(q.call(odd, 100), 1);
    EXPECT_EQ(q.count, 2);
    EXPECT_EQ(q.packets.lastPacketSamples, 1);
    EXPECT_EQ(q.endOfSound, 1);
}

// Each packet header restarts the decoder exactly where the codes expect it: the
// header's sample and (clamped) index are the encoder's state at the packet start.
TEST(AudioPacer, EveryPacketStartsFromItsOwnHeader) {
    std::vector<int16_t> samples = tone(1024 * 12, 20000);
    // A burst of full-scale noise drives the step index past 63.
    uint32_t seed = 1;
    for (size_t i = 1024 * 3; i < 1024 * 6; ++i) {
        seed = seed * 1103515245u + 12345u;
        samples[i] = static_cast<int16_t>(seed >> 16);
    }
    auto spool = spoolOf(samples);
    Pacer p;
    ASSERT_EQ(p.call(spool, 600), 1);
    ASSERT_EQ(p.count, 12);
    bool sawClamp = false;
    for (int k = 0; k < 12; ++k) {
        const uint8_t* first = p.packets.firstSamples.get() + 2 * k;
        const int16_t s0 = static_cast<int16_t>(first[0] | (first[1] << 8));
        EXPECT_EQ(s0, samples[static_cast<size_t>(k) * 1024]);
        const int index = p.packets.stepIndices[k];
        EXPECT_LE(index, 63);
        sawClamp = sawClamp || index == 63;
        const auto dec = imaDecode(s0, index, p.packets.codes.get() + 512 * k, 1023);
        if ((k > 0 && k < 3) || k > 7) {
            // Tone packets (away from the noise) decode close to the input.
            double signal = 0, error = 0;
            for (int i = 0; i < 1023; ++i) {
                const double want = samples[static_cast<size_t>(k) * 1024 + 1 + i];
                signal += want * want;
                error +=
                    (dec[static_cast<size_t>(i)] - want) * (dec[static_cast<size_t>(i)] - want);
            }
            EXPECT_GT(10 * std::log10(signal / error), 30.0) << "packet " << k;
        }
        if (k == 11) {
            EXPECT_EQ(dec[1022], p.pacer.state.predicted);
            EXPECT_EQ(dec[1023], p.pacer.state.stepIndex);
        }
    }
    EXPECT_TRUE(sawClamp);
}

TEST(AudioPacer, SpoolFaults) {
    {
        auto spool = spoolOf(tone(4096));
        spool.failSeeks = true;
        Pacer p;
        EXPECT_EQ(p.call(spool, 100), 0);
    }
    {
        auto spool = spoolOf(tone(4096));
        spool.readBudget = 3000;
        Pacer p;
        ASSERT_EQ(p.call(spool, 10), 1);
        EXPECT_EQ(p.count, 1);
        EXPECT_EQ(p.call(spool, 100), 0);
        EXPECT_EQ(p.count, -1);
        EXPECT_EQ(p.endOfSound, 0);
    }
}

// An audio tag that meets a short write anywhere fails, and the writer then stays quiet.
TEST(AudioTagFaults, ShortWritesAnywhereFail) {
    const std::vector<uint8_t> codes(512, 0x35);
    const uint8_t first[2] = {0x10, 0x20};
    const uint8_t index = 12;
    for (uint64_t budget = 268; budget < 268 + 531 + 531; ++budget) {
        MemoryFile f;
        FlvWriter w;
        ASSERT_EQ(flvBegin(w, f, 1, 16, 16), 1);
        f.writeBudget = budget;
        int ok = flvWriteAudioTag(w, f, 1, first, &index, codes.data());
        ok = ok && flvWriteAudioTag(w, f, 1, first, &index, codes.data());
        EXPECT_EQ(ok, 0) << budget;
        const int calls = f.writeCalls;
        f.writeBudget = UINT64_MAX;
        EXPECT_EQ(flvWriteAudioTag(w, f, 1, first, &index, codes.data()), 0);
        EXPECT_EQ(f.writeCalls, calls);
        EXPECT_LE(w.audioTimestamp, 46u);
    }
}

}  // namespace
}  // namespace pemlo
