// Screen Video files decoded by ffmpeg: every frame must come back byte for byte.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "flv/flv_writer.h"
#include "flv/video_encoder.h"
#include "platform/file.h"
#include "tests/flv/peer/peer_support.h"

namespace pemlo {
namespace {

using testing::lines;
using testing::readAll;
using testing::readText;
using testing::run;
using testing::ScratchDir;

// A sequence with every kind of change: identical, partly and fully changed frames.
std::vector<std::vector<uint8_t>> frameSequence(int w, int h, int count) {
    std::mt19937 rng(static_cast<unsigned>(w * 7919 + h));
    const size_t size = static_cast<size_t>(w) * h * 3;
    std::vector<std::vector<uint8_t>> frames;
    std::vector<uint8_t> f(size);
    for (size_t i = 0; i < size; ++i) {
        f[i] = static_cast<uint8_t>((i / 3 % static_cast<size_t>(w)) * 255 / w + (i % 3) * 40);
    }
    for (int n = 0; n < count; ++n) {
        switch (n % 5) {
            case 1:  // identical
                break;
            case 2: {  // a rectangle changes
                const int x0 = static_cast<int>(rng() % static_cast<unsigned>(w));
                const int y0 = static_cast<int>(rng() % static_cast<unsigned>(h));
                for (int y = y0; y < std::min(h, y0 + 17); ++y) {
                    for (int x = x0; x < std::min(w, x0 + 45); ++x) {
                        f[(static_cast<size_t>(y) * w + x) * 3 + (n % 3)] += 77;
                    }
                }
                break;
            }
            case 3:  // one byte changes
                f[rng() % size] ^= 0x80;
                break;
            default:  // everything changes
                for (auto& b : f) {
                    b = static_cast<uint8_t>(rng() & 0xF0);
                }
        }
        frames.push_back(f);
    }
    return frames;
}

void checkRoundTrip(int w, int h, int count) {
    ScratchDir dir;
    ASSERT_TRUE(dir.ok());
    const auto frames = frameSequence(w, h, count);
    std::vector<uint32_t> times;
    {
        FilePtr file = createFile(dir / "v.flv");
        ASSERT_TRUE(file);
        FlvWriter writer;
        ASSERT_EQ(flvBegin(writer, *file, 0, w, h), 1);
        ScreenVideoEncoder encoder;
        ASSERT_EQ(videoEncoderBegin(encoder, w, h, nullptr), 1);
        uint32_t t = 0;
        for (int n = 0; n < count; ++n) {
            times.push_back(t);
            const auto ms = static_cast<uint16_t>(1 + (n * 37) % 250);
            ASSERT_EQ(flvWriteVideoTag(writer, encoder, *file,
                                       frames[static_cast<size_t>(n)].data(), w, h, ms),
                      1);
            t += ms;
        }
        ASSERT_EQ(flvFinish(writer, *file), 1);
    }
    const std::string flv = dir / "v.flv";
    std::string probe;
    ASSERT_EQ(run("ffprobe -v error -select_streams v -show_entries stream=codec_name,width,height "
                  "-of csv=p=0 " +
                      flv,
                  &probe),
              0);
    EXPECT_EQ(probe, "flashsv," + std::to_string(w) + "," + std::to_string(h) + "\n");
    std::string pts;
    ASSERT_EQ(
        run("ffprobe -v error -select_streams v -show_entries packet=pts -of csv=p=0 " + flv, &pts),
        0);
    const auto stamps = lines(pts);
    ASSERT_EQ(stamps.size(), times.size());
    for (size_t i = 0; i < times.size(); ++i) {
        EXPECT_EQ(stamps[i], std::to_string(times[i])) << "frame " << i;
    }
    ASSERT_EQ(
        run("ffmpeg -v error -i " + flv + " -fps_mode passthrough -f rawvideo -pix_fmt bgr24 -y " +
            (dir / "out.raw") + " 2>" + (dir / "err.txt")),
        0);
    EXPECT_EQ(readText(dir / "err.txt"), "");
    const auto raw = readAll(dir / "out.raw");
    const size_t row = static_cast<size_t>(w) * 3;
    const size_t size = row * h;
    ASSERT_EQ(raw.size(), size * count);
    for (int n = 0; n < count; ++n) {
        const auto& in = frames[static_cast<size_t>(n)];
        // ffmpeg's rows run top-down, ours bottom-up.
        for (int y = 0; y < h; ++y) {
            const auto* got = raw.data() + size * n + row * (h - 1 - y);
            const auto* want = in.data() + row * y;
            ASSERT_TRUE(std::equal(want, want + row, got)) << "frame " << n << " row " << y;
        }
    }
}

TEST(ScreenVideoPeer, SmallFramesAcrossKeyframes) {
    checkRoundTrip(33, 20, 45);
    checkRoundTrip(100, 20, 45);
}

TEST(ScreenVideoPeer, LargeFrames) {
    checkRoundTrip(641, 479, 14);
    checkRoundTrip(1024, 768, 8);
}

}  // namespace
}  // namespace pemlo
