// ffmpeg decodes what pemlo-replay writes: the pictures equal the input cut out, given
// its cursor and scaled (outside the watermark), the sound equals what the ADPCM codes
// in the file say and follows the input, and timestamps never go back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "capture/screen_source.h"
#include "tests/process/driver_support.h"
#include "tests/process/reference_scaler.h"
#include "tests/process/replay/replay_support.h"
#include "tools/replay/arrow.h"

namespace pemlo {
namespace {

using testing::Bytes;
using testing::quoted;
using testing::ScratchFolder;

constexpr int kScreenW = 400;
constexpr int kScreenH = 300;
constexpr int kPitch = kScreenW * 4 + 64;
constexpr int kLeft = 30;
constexpr int kTop = 20;
constexpr int kCapW = 330;
constexpr int kCapH = 250;
constexpr int kOutW = 240;
constexpr int kOutH = 170;
constexpr int kFrames = 45;

struct Cursor {
    bool shown;
    int x;
    int y;
};

// A screen-like picture: a still backdrop, a window that moves, and a panel whose
// "text" changes every few frames.
Bytes screenFrame(int i) {
    Bytes p(static_cast<size_t>(kPitch) * kScreenH, 0x5A);
    for (int y = 0; y < kScreenH; ++y) {
        for (int x = 0; x < kScreenW; ++x) {
            uint8_t* q = &p[static_cast<size_t>(y) * kPitch + x * 4];
            uint8_t b = static_cast<uint8_t>(90 + (x + y) / 8);
            uint8_t g = static_cast<uint8_t>(60 + y / 3);
            uint8_t r = 40;
            const int wx = 20 + 4 * i;
            if (x >= wx && x < wx + 120 && y >= 60 && y < 160) {
                b = 230;
                g = 230;
                r = static_cast<uint8_t>(y == 60 || x == wx ? 0 : 240);
            }
            if (x >= 200 && x < 380 && y >= 180 && y < 280 && ((x * 7 + y * 13 + i / 3) % 11) < 3) {
                b = 0;
                g = 0;
                r = 0;
            }
            q[0] = b;
            q[1] = g;
            q[2] = r;
            q[3] = 0;
        }
    }
    return p;
}

Cursor cursorAt(int i) {
    const Cursor path[] = {{true, 100, 100}, {true, 25, 15},   {true, -11, -20}, {false, 0, 0},
                           {true, 355, 40},  {true, 340, 265}, {true, 10, 260},  {true, 200, 5}};
    return path[i % 8];
}

// The capture rectangle with the cursor drawn, bottom-up packed BGR.
Bytes composite(const Bytes& screen, const Cursor& cursor, const Bytes& arrow) {
    Bytes out(static_cast<size_t>(kCapW) * kCapH * 3);
    for (int row = 0; row < kCapH; ++row) {
        const int sy = kTop + kCapH - 1 - row;
        for (int col = 0; col < kCapW; ++col) {
            const int sx = kLeft + col;
            const uint8_t* s = &screen[static_cast<size_t>(sy) * kPitch + sx * 4];
            uint8_t* o = &out[(static_cast<size_t>(row) * kCapW + col) * 3];
            o[0] = s[0];
            o[1] = s[1];
            o[2] = s[2];
            const int c = sx - cursor.x;
            const int r = sy - cursor.y;
            if (cursor.shown && c >= 0 && c < 32 && r >= 0 && r < 32) {
                const uint8_t* a = &arrow[((31 - r) * 32 + c) * 3];
                if (!(a[0] == kCursorKeyBlue && a[1] == kCursorKeyGreen && a[2] == kCursorKeyRed)) {
                    o[0] = a[0];
                    o[1] = a[1];
                    o[2] = a[2];
                }
            }
        }
    }
    return out;
}

// IMA ADPCM as FLV carries it: per packet a 16-bit first sample, a 6-bit step index and
// 4-bit codes, most significant bit first, after a 2-bit code size.
class BitReader {
  public:
    explicit BitReader(const Bytes& data, size_t from) : data_(data), bit_(from * 8) {}
    bool has(int n) const { return bit_ + static_cast<size_t>(n) <= data_.size() * 8; }
    int read(int n) {
        int v = 0;
        for (int i = 0; i < n; ++i, ++bit_) {
            v = v << 1 | ((data_[bit_ / 8] >> (7 - bit_ % 8)) & 1);
        }
        return v;
    }

  private:
    const Bytes& data_;
    size_t bit_;
};

std::vector<int16_t> decodeAudioTag(const Bytes& body) {
    static const int steps[89] = {
        7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
        25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
        88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
        307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
        1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
        3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
        12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
    static const int indexShift[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
    std::vector<int16_t> out;
    BitReader bits(body, 1);
    if (bits.read(2) != 2) {
        return out;
    }
    int sample = static_cast<int16_t>(bits.read(16));
    int index = bits.read(6);
    out.push_back(static_cast<int16_t>(sample));
    while (bits.has(4)) {
        const int code = bits.read(4);
        const int step = steps[index];
        int diff = step >> 3;
        diff += (code & 4) ? step : 0;
        diff += (code & 2) ? step >> 1 : 0;
        diff += (code & 1) ? step >> 2 : 0;
        sample += (code & 8) ? -diff : diff;
        sample = std::clamp(sample, -32768, 32767);
        index = std::clamp(index + indexShift[code & 7], 0, 88);
        out.push_back(static_cast<int16_t>(sample));
    }
    return out;
}

uint32_t packetStart(uint64_t k) {
    return static_cast<uint32_t>(k * 1024 * 1000 / 22050);
}

double snrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& got) {
    double signal = 0;
    double noise = 0;
    for (size_t i = 0; i < reference.size() && i < got.size(); ++i) {
        const double want = reference[i];
        const double error = want - got[i];
        signal += want * want;
        noise += error * error;
    }
    return 10 * std::log10(signal / std::max(noise, 1.0));
}

std::vector<int16_t> samplesOf(const Bytes& bytes, size_t from = 0) {
    std::vector<int16_t> s;
    for (size_t i = from; i + 1 < bytes.size(); i += 2) {
        s.push_back(static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8));
    }
    return s;
}

// Checks the audio of `flv` against ffmpeg's decoding and against the input samples.
void checkSound(const ScratchFolder& dir, const std::string& flv, const std::vector<int16_t>& input,
                double minSnr, size_t& packets) {
    Bytes file = testing::readFile(flv);
    std::vector<testing::FlvTag> tags;
    uint8_t flags = 0;
    ASSERT_TRUE(testing::readFlvTags(file, tags, flags));
    EXPECT_EQ(flags, 0x05);
    const std::string pcm = dir / "sound.s16";
    ASSERT_EQ(testing::runShell("ffmpeg -v error -y -i " + quoted(flv) +
                                " -vn -f s16le -ar 22050 -ac 1 " + quoted(pcm)),
              0);
    const std::vector<int16_t> decoded = samplesOf(testing::readFile(pcm));
    std::vector<int16_t> ours;  // the first 1,024 of each packet, as the codes say
    size_t at = 0;
    packets = 0;
    for (const auto& tag : tags) {
        if (tag.type != 0x08) {
            continue;
        }
        EXPECT_EQ(tag.data[0], 0x1A) << "ADPCM, 22 kHz, 16-bit, mono";
        const std::vector<int16_t> packet = decodeAudioTag(tag.data);
        ASSERT_GE(packet.size(), 2u);
        EXPECT_EQ(tag.timestamp, packetStart(packets)) << "packet " << packets;
        // ffmpeg yields one sample per 4 bits after the header, the padding included.
        ASSERT_LE(at + packet.size(), decoded.size());
        for (size_t i = 0; i + 1 < packet.size(); ++i) {
            ASSERT_EQ(decoded[at + i], packet[i]) << "packet " << packets << " sample " << i;
        }
        ours.insert(ours.end(), packet.begin(), packet.end() - 1);
        at += packet.size();
        ++packets;
    }
    EXPECT_EQ(at, decoded.size());
    ASSERT_GT(packets, 0u);
    const double snr = snrDb(input, ours);
    EXPECT_GT(snr, minSnr);
    std::printf("sound: %zu packets, %.1f dB against the input\n", packets, snr);
}

TEST(ReplayPeer, FfmpegDecodesPicturesAndSoundAsRecorded) {
    ScratchFolder dir("peer");
    const Bytes arrow = replay::arrowCursor();
    // Frames stream through standard input; durations vary around 100 ms.
    std::string durations;
    std::string cursors;
    std::vector<uint32_t> starts;
    uint32_t clock = 0;
    {
        std::FILE* frames = std::fopen((dir / "frames.raw").c_str(), "wb");
        ASSERT_NE(frames, nullptr);
        for (int i = 0; i < kFrames; ++i) {
            const Bytes screen = screenFrame(i);
            std::fwrite(screen.data(), 1, screen.size(), frames);
            const uint32_t d = 80 + static_cast<uint32_t>(i % 5) * 15;
            durations += std::to_string(d) + "\n";
            const Cursor c = cursorAt(i);
            cursors += c.shown ? std::to_string(c.x) + " " + std::to_string(c.y) + "\n" : "-\n";
            starts.push_back(clock);
            clock += d;
        }
        std::fclose(frames);
    }
    testing::writeText(dir / "durations.txt", durations);
    testing::writeText(dir / "cursor.txt", cursors);
    // Speech from espeak-ng (a 22,050 Hz mono 16-bit WAV), followed by a tone so that
    // the sound outlasts the pictures.
    const std::string speech = dir / "speech.wav";
    ASSERT_EQ(testing::runShell("espeak-ng -w " + quoted(speech) +
                                " 'Pemlo records the screen and the sound of this test.'"),
              0);
    Bytes wav = testing::readFile(speech);
    ASSERT_GT(wav.size(), 44u);
    std::vector<int16_t> input = samplesOf(wav, 44);
    for (int n = 0; n < 22050 * 5; ++n) {
        input.push_back(static_cast<int16_t>(9000 * std::sin(2 * M_PI * 440 * n / 22050.0) +
                                             4000 * std::sin(2 * M_PI * 1250 * n / 22050.0)));
    }
    Bytes pcm = testing::wavHeader(22050, 1, 16, static_cast<uint32_t>(input.size() * 2));
    for (int16_t s : input) {
        pcm.push_back(static_cast<uint8_t>(s));
        pcm.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
    }
    testing::writeFile(dir / "sound.wav", pcm);

    const std::string flv = dir / "out.flv";
    ASSERT_EQ(testing::runShell(std::string(PEMLO_REPLAY_BIN) + " --screen 400x300 --pitch " +
                                std::to_string(kPitch) + " --frames - --durations " +
                                quoted(dir / "durations.txt") + " --cursor " +
                                quoted(dir / "cursor.txt") + " --capture 30,20,330,250" +
                                " --output 240,170 --sound " + quoted(dir / "sound.wav") + " -o " +
                                quoted(flv) + " <" + quoted(dir / "frames.raw") + " 2>/dev/null"),
              0);

    // Pictures: every frame, in order, exact outside the watermark block.
    const std::string raw = dir / "video.bgr";
    ASSERT_EQ(
        testing::runShell("ffmpeg -v error -y -i " + quoted(flv) +
                          " -an -fps_mode passthrough -f rawvideo -pix_fmt bgr24 " + quoted(raw)),
        0);
    const Bytes video = testing::readFile(raw);
    const size_t frameBytes = size_t{kOutW} * kOutH * 3;
    ASSERT_EQ(video.size(), frameBytes * kFrames);
    for (int i = 0; i < kFrames; ++i) {
        const Bytes expected = testing::referenceScale(
            composite(screenFrame(i), cursorAt(i), arrow), kCapW, kCapH, kOutW, kOutH);
        int differing = 0;
        for (int y = 0; y < kOutH; ++y) {  // decoded rows run top-down
            const int memoryRow = kOutH - 1 - y;
            for (int x = 0; x < kOutW; ++x) {
                const bool mark =
                    y >= kOutH - 43 && y <= kOutH - 31 && x >= kOutW - 93 && x <= kOutW - 11;
                if (mark) {
                    continue;
                }
                for (int k = 0; k < 3; ++k) {
                    differing += video[i * frameBytes + (size_t(y) * kOutW + x) * 3 + k] !=
                                 expected[(size_t(memoryRow) * kOutW + x) * 3 + k];
                }
            }
        }
        EXPECT_EQ(differing, 0) << "frame " << i;
    }

    // Timestamps: video tags at the frame starts, nothing ever goes back.
    std::vector<testing::FlvTag> tags;
    uint8_t flags = 0;
    ASSERT_TRUE(testing::readFlvTags(testing::readFile(flv), tags, flags));
    std::vector<uint32_t> videoTimes;
    uint32_t previous = 0;
    for (const auto& tag : tags) {
        EXPECT_GE(tag.timestamp, previous);
        previous = tag.timestamp;
        if (tag.type == 0x09) {
            videoTimes.push_back(tag.timestamp);
        }
    }
    EXPECT_EQ(videoTimes, starts);

    size_t packets = 0;
    checkSound(dir, flv, input, 15.0, packets);
    // Sound reaches the end of the pictures, and not beyond.
    EXPECT_LE(packetStart(packets - 1), clock);
    EXPECT_GT(packetStart(packets), clock);
}

TEST(ReplayPeer, TenMinutesAtTenFramesPerSecondKeepSoundInStep) {
    ScratchFolder dir("long");
    const int frames = 6000;
    const int w = 96;
    const int h = 64;
    std::vector<int16_t> tone;
    for (int n = 0; n < 22050 * 601; ++n) {
        tone.push_back(static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * n / 22050.0) +
                                            3000 * std::sin(2 * M_PI * 1250 * n / 22050.0)));
    }
    Bytes raw(tone.size() * 2);
    for (size_t i = 0; i < tone.size(); ++i) {
        raw[2 * i] = static_cast<uint8_t>(tone[i]);
        raw[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(tone[i]) >> 8);
    }
    testing::writeFile(dir / "tone.raw", raw);
    const std::string flv = dir / "long.flv";
    const std::string command = std::string(PEMLO_REPLAY_BIN) +
                                " --screen 96x64 --frames - --fps 10 --capture 0,0,96,64 "
                                "--output 96,64 --sound " +
                                quoted(dir / "tone.raw") + " -o " + quoted(flv) + " 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "w");
    ASSERT_NE(pipe, nullptr);
    Bytes frame(size_t{w} * h * 4);
    for (int i = 0; i < frames; ++i) {
        for (size_t p = 0; p < frame.size(); p += 4) {
            frame[p] = static_cast<uint8_t>(p / 4 + i);
            frame[p + 1] = static_cast<uint8_t>(i / 10);
            frame[p + 2] = 128;
        }
        ASSERT_EQ(std::fwrite(frame.data(), 1, frame.size(), pipe), frame.size());
    }
    const int status = ::pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    size_t packets = 0;
    checkSound(dir, flv, tone, 25.0, packets);
    // 600,000 ms of pictures: the last packet starts within one packet of their end.
    const uint32_t end = frames * 100;
    EXPECT_LE(packetStart(packets - 1), end);
    EXPECT_GE(packetStart(packets - 1) + 47, end);
}

}  // namespace
}  // namespace pemlo
