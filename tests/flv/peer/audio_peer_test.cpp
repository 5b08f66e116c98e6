// ADPCM audio tags decoded by ffmpeg's adpcm_swf decoder.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "flv/adpcm_encoder.h"
#include "flv/audio_pacer.h"
#include "flv/audio_tags.h"
#include "flv/flv_writer.h"
#include "flv/video_encoder.h"
#include "platform/file.h"
#include "tests/flv/peer/peer_support.h"
#include "tests/support/memory_file.h"

namespace pemlo {
namespace {

using testing::lines;
using testing::MemoryFile;
using testing::readAll;
using testing::readText;
using testing::run;
using testing::ScratchDir;

struct PacketInfo {
    int16_t first;
    int index;
    int samples;
    size_t offset;  // of its first sample in the input
};

struct Recording {
    std::vector<PacketInfo> packets;
    uint32_t videoEnd = 0;
};

// Writes frames of `frameMs` with the sound of `samples` interleaved, the way the
// output driver does, until the frames run out.
Recording writeRecording(const std::string& path, const std::vector<int16_t>& samples, int frames,
                         uint16_t frameMs) {
    Recording rec;
    MemoryFile spool;
    for (int16_t s : samples) {
        spool.bytes.push_back(static_cast<uint8_t>(s & 0xFF));
        spool.bytes.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
    }
    FilePtr file = createFile(path);
    EXPECT_TRUE(file);
    if (!file) {
        return rec;
    }
    FlvWriter writer;
    EXPECT_EQ(flvBegin(writer, *file, 1, 16, 16), 1);
    ScreenVideoEncoder encoder;
    EXPECT_EQ(videoEncoderBegin(encoder, 16, 16, nullptr), 1);
    AudioPacer pacer;
    AudioPackets packets;
    int endOfSound = 0;
    std::vector<uint8_t> frame(16 * 16 * 3);
    size_t offset = 0;
    for (int n = 0; n < frames; ++n) {
        frame[static_cast<size_t>(n) % frame.size()] ^= 0x55;
        EXPECT_EQ(flvWriteVideoTag(writer, encoder, *file, frame.data(), 16, 16, frameMs), 1);
        if (endOfSound) {
            continue;
        }
        int count = 0;
        EXPECT_EQ(encodeDueAudio(pacer, spool, frameMs, packets, endOfSound, count), 1);
        for (int j = 0; j < count; ++j) {
            const uint8_t* f = packets.firstSamples.get() + 2 * j;
            const int n16 = j == count - 1 ? packets.lastPacketSamples : audioPacketSamples;
            rec.packets.push_back(
                {static_cast<int16_t>(f[0] | (f[1] << 8)), packets.stepIndices[j], n16, offset});
            offset += static_cast<size_t>(n16);
            EXPECT_EQ(flvWriteAudioPacket(writer, *file, packets, j), 1);
        }
    }
    rec.videoEnd = writer.videoTimestamp;
    EXPECT_EQ(flvFinish(writer, *file), 1);
    return rec;
}

// The encoder's own reconstruction of a packet: its first sample, then the predictor
// after each further sample.
std::vector<int16_t> reconstruction(const std::vector<int16_t>& samples, const PacketInfo& p) {
    std::vector<int16_t> out = {p.first};
    AdpcmState st;
    st.predicted = p.first;
    st.stepIndex = static_cast<int8_t>(p.index);
    uint8_t code = 0;
    for (int i = 1; i < p.samples; ++i) {
        adpcmEncode(&samples[p.offset + static_cast<size_t>(i)], &code, 1, st);
        out.push_back(st.predicted);
    }
    return out;
}

void checkDecodedSound(const std::vector<int16_t>& samples, uint16_t frameMs) {
    ScratchDir dir;
    ASSERT_TRUE(dir.ok());
    const int frames = static_cast<int>(samples.size() * 1000 / 22050 / frameMs) + 3;
    const Recording rec = writeRecording(dir / "a.flv", samples, frames, frameMs);
    ASSERT_FALSE(rec.packets.empty());
    std::string codec;
    ASSERT_EQ(run("ffprobe -v error -select_streams a -show_entries "
                  "stream=codec_name,sample_rate,channels -of csv=p=0 " +
                      (dir / "a.flv"),
                  &codec),
              0);
    EXPECT_EQ(codec, "adpcm_swf,22050,1\n");
    ASSERT_EQ(run("ffmpeg -v error -i " + (dir / "a.flv") + " -vn -f s16le -c:a pcm_s16le -y " +
                  (dir / "a.raw") + " 2>" + (dir / "err.txt")),
              0);
    EXPECT_EQ(readText(dir / "err.txt"), "");
    const auto raw = readAll(dir / "a.raw");
    std::vector<int16_t> decoded(raw.size() / 2);
    for (size_t i = 0; i < decoded.size(); ++i) {
        decoded[i] = static_cast<int16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
    }
    // ffmpeg yields one sample more per packet than it holds when the packet ends in
    // 4 padding bits: a full packet gives 1,025.
    size_t at = 0;
    double signal = 0, error = 0;
    for (size_t k = 0; k < rec.packets.size(); ++k) {
        const auto& p = rec.packets[k];
        const auto want = reconstruction(samples, p);
        ASSERT_LE(at + want.size(), decoded.size()) << "packet " << k;
        for (size_t i = 0; i < want.size(); ++i) {
            ASSERT_EQ(decoded[at + i], want[i]) << "packet " << k << " sample " << i;
            const double s = samples[p.offset + i];
            signal += s * s;
            error += (s - want[i]) * (s - want[i]);
        }
        at += want.size() + (p.samples % 2 == 0 ? 1 : 0);
    }
    EXPECT_EQ(at, decoded.size());
    const double snr = 10 * std::log10(signal / error);
    std::printf("decoded %zu packets, SNR %.1f dB\n", rec.packets.size(), snr);
    EXPECT_GT(snr, 25.0);
}

std::vector<int16_t> tone(size_t n) {
    std::vector<int16_t> s(n);
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / 22050.0;
        s[i] = static_cast<int16_t>(9000 * std::sin(2 * M_PI * 440 * t) +
                                    6000 * std::sin(2 * M_PI * 1250 * t));
    }
    return s;
}

TEST(AdpcmPeer, ToneDecodesToTheEncodersReconstruction) {
    checkDecodedSound(tone(22050 * 3 + 777), 100);  // ends in a short, odd block
    checkDecodedSound(tone(22050 * 2 + 1000), 67);  // ends in a short, even block
}

TEST(AdpcmPeer, SpeechDecodesToTheEncodersReconstruction) {
    ScratchDir dir;
    ASSERT_TRUE(dir.ok());
    ASSERT_EQ(run("espeak-ng -w " + (dir / "s.wav") +
                  " 'Pemlo records the screen and the sound, one frame at a time.' "
                  ">/dev/null 2>&1"),
              0);
    ASSERT_EQ(run("ffmpeg -v error -i " + (dir / "s.wav") + " -ar 22050 -ac 1 -f s16le -y " +
                  (dir / "s.raw")),
              0);
    const auto raw = readAll(dir / "s.raw");
    std::vector<int16_t> speech(raw.size() / 2);
    for (size_t i = 0; i < speech.size(); ++i) {
        speech[i] = static_cast<int16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
    }
    ASSERT_GT(speech.size(), 22050u);
    checkDecodedSound(speech, 100);
}

// Ten minutes at ten frames per second: every audio tag carries the start time of its
// first sample, and the sound lasts to the end of the picture.
TEST(AdpcmPeer, TenMinuteRecordingStaysInStep) {
    ScratchDir dir;
    ASSERT_TRUE(dir.ok());
    const auto sound = tone(22050 * 600);
    const Recording rec = writeRecording(dir / "long.flv", sound, 6000, 100);
    EXPECT_EQ(rec.videoEnd, 600000u);
    std::string out;
    ASSERT_EQ(run("ffprobe -v error -show_entries packet=codec_type,pts -of csv=p=0 " +
                      (dir / "long.flv"),
                  &out),
              0);
    uint64_t k = 0;
    long lastAudio = -1;
    size_t video = 0;
    for (const auto& line : lines(out)) {
        if (line.rfind("audio,", 0) == 0) {
            const long pts = std::stol(line.substr(6));
            ASSERT_EQ(pts, static_cast<long>(k * 1024 * 1000 / 22050)) << "audio tag " << k;
            lastAudio = pts;
            ++k;
        } else {
            ++video;
        }
    }
    EXPECT_EQ(video, 6000u);
    EXPECT_EQ(k, rec.packets.size());
    EXPECT_EQ(k, (22050u * 600 + 1023) / 1024);  // every sample was sent
    EXPECT_GE(lastAudio, 600000 - 47);
}

}  // namespace
}  // namespace pemlo
