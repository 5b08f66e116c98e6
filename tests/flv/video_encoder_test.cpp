#include "flv/video_encoder.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>
#include <vector>

#include "tests/flv/flv_reader.h"
#include "tests/support/memory_file.h"

namespace pemlo {
namespace {

using testing::decodeVideoTag;
using testing::MemoryFile;
using testing::parseFlv;
using testing::VideoFrame;

struct Encoder {
    MemoryFile file;
    FlvWriter w;
    ScreenVideoEncoder e;
    int width;
    int height;
    Encoder(int wd, int ht, BlockWorkers* workers = nullptr) : width(wd), height(ht) {
        EXPECT_EQ(flvBegin(w, file, 0, wd, ht), 1);
        EXPECT_EQ(videoEncoderBegin(e, wd, ht, workers), 1);
    }
    int put(const std::vector<uint8_t>& frame, uint16_t ms = 100) {
        return flvWriteVideoTag(w, e, file, frame.data(), width, height, ms);
    }
    int putChanged(const std::vector<uint8_t>& frame, const uint8_t* candidates) {
        return flvWriteVideoTagChanged(w, e, file, frame.data(), width, height, 100, candidates);
    }
    std::vector<testing::FlvTag> tags() {
        auto all = parseFlv({file.bytes.begin(), file.bytes.end()});
        all.erase(all.begin());
        return all;
    }
};

std::vector<uint8_t> noise(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> f(static_cast<size_t>(w) * h * 3);
    for (auto& b : f) {
        b = static_cast<uint8_t>(rng());
    }
    return f;
}

// Block (r, c) cut straight from a frame, for comparison with what the tag carries.
std::vector<uint8_t> cut(const std::vector<uint8_t>& f, int w, int h, int r, int c) {
    std::vector<uint8_t> out;
    const int bw = std::min(32, w - 32 * c);
    const int bh = std::min(32, h - 32 * r);
    for (int i = 0; i < bh; ++i) {
        const auto row = f.begin() + ((32 * r + i) * w + 32 * c) * 3;
        out.insert(out.end(), row, row + bw * 3);
    }
    return out;
}

std::vector<int> sentBlocks(const VideoFrame& v) {
    std::vector<int> sent;
    for (size_t i = 0; i < v.blocks.size(); ++i) {
        if (!v.blocks[i].empty()) {
            sent.push_back(static_cast<int>(i));
        }
    }
    return sent;
}

TEST(ScreenVideo, KeyframeCarriesEveryBlockInGridOrder) {
    // Short right-hand column (1 pixel) and short top row (9 rows).
    const int w = 65, h = 41;
    Encoder e(w, h);
    const auto frame = noise(w, h, 1);
    ASSERT_EQ(e.put(frame), 1);
    const auto tags = e.tags();
    ASSERT_EQ(tags.size(), 1u);
    EXPECT_EQ(tags[0].type, 0x09);
    EXPECT_EQ(tags[0].data[0], 0x13);
    const VideoFrame v = decodeVideoTag(tags[0].data);
    ASSERT_TRUE(v.valid);
    EXPECT_EQ(v.width, w);
    EXPECT_EQ(v.height, h);
    ASSERT_EQ(v.blocks.size(), 6u);
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(v.blocks[r * 3 + c], cut(frame, w, h, r, c)) << r << "," << c;
        }
    }
    EXPECT_EQ(v.blocks[2].size(), 32u * 3);      // 1 x 32
    EXPECT_EQ(v.blocks[3].size(), 32u * 9 * 3);  // 32 x 9
}

// Each sent block is exactly what zlib's compress() makes of its pixels, block after
// block and frame after frame.
TEST(ScreenVideo, BlocksAreDefaultLevelZlibStreams) {
    const int w = 97, h = 70;
    Encoder e(w, h);
    auto frame = noise(w, h, 11);
    std::fill(frame.begin(), frame.begin() + w * 3 * 20, 0x33);  // some compressible rows
    ASSERT_EQ(e.put(frame), 1);
    for (size_t i = 0; i < frame.size(); i += 5) {
        frame[i] = static_cast<uint8_t>(frame[i] + 1);
    }
    ASSERT_EQ(e.put(frame), 1);
    const auto tags = e.tags();
    ASSERT_EQ(tags.size(), 2u);
    const auto& d = tags[1].data;
    size_t at = 5;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
            const auto pixels = cut(frame, w, h, r, c);
            std::vector<uint8_t> want(compressBound(pixels.size()));
            uLongf len = want.size();
            ASSERT_EQ(compress(want.data(), &len, pixels.data(), pixels.size()), Z_OK);
            want.resize(len);
            ASSERT_LE(at + 2, d.size());
            const size_t n = (size_t{d[at]} << 8) | d[at + 1];
            ASSERT_EQ(n, want.size()) << r << "," << c;
            EXPECT_TRUE(std::equal(want.begin(), want.end(), d.begin() + static_cast<long>(at + 2)))
                << r << "," << c;
            at += 2 + n;
        }
    }
    EXPECT_EQ(at, d.size());
}

TEST(ScreenVideo, NarrowAndShallowGrids) {
    {
        Encoder e(33, 32);
        ASSERT_EQ(e.put(noise(33, 32, 2)), 1);
        const VideoFrame v = decodeVideoTag(e.tags()[0].data);
        ASSERT_TRUE(v.valid);
        ASSERT_EQ(v.blocks.size(), 2u);
        EXPECT_EQ(v.blocks[1].size(), 96u);
    }
    {
        Encoder e(100, 20);
        const auto frame = noise(100, 20, 3);
        ASSERT_EQ(e.put(frame), 1);
        const VideoFrame v = decodeVideoTag(e.tags()[0].data);
        ASSERT_TRUE(v.valid);
        ASSERT_EQ(v.blocks.size(), 4u);
        EXPECT_EQ(v.blocks[0].size(), 32u * 20 * 3);
        EXPECT_EQ(v.blocks[3], cut(frame, 100, 20, 0, 3));
        EXPECT_EQ(v.blocks[3].size(), 4u * 20 * 3);
    }
}

TEST(ScreenVideo, SizeFields) {
    Encoder a(640, 480);
    ASSERT_EQ(a.put(std::vector<uint8_t>(640 * 480 * 3)), 1);
    const auto da = a.tags()[0].data;
    EXPECT_EQ(std::vector<uint8_t>(da.begin() + 1, da.begin() + 5),
              (std::vector<uint8_t>{0x12, 0x80, 0x11, 0xE0}));
    Encoder b(1024, 768);
    ASSERT_EQ(b.put(std::vector<uint8_t>(1024 * 768 * 3)), 1);
    const auto db = b.tags()[0].data;
    EXPECT_EQ(std::vector<uint8_t>(db.begin() + 1, db.begin() + 5),
              (std::vector<uint8_t>{0x14, 0x00, 0x13, 0x00}));
}

TEST(ScreenVideo, IdenticalInterFrameIsAllEmptyEntries) {
    Encoder e(320, 240);
    const auto frame = noise(320, 240, 4);
    ASSERT_EQ(e.put(frame), 1);
    ASSERT_EQ(e.put(frame), 1);
    const auto tags = e.tags();
    ASSERT_EQ(tags.size(), 2u);
    EXPECT_EQ(tags[1].data.size(), 165u);
    EXPECT_EQ(tags[1].data[0], 0x23);
    EXPECT_EQ(e.w.previousTagSize, 176u);
    EXPECT_TRUE(std::all_of(tags[1].data.begin() + 5, tags[1].data.end(),
                            [](uint8_t b) { return b == 0; }));
}

TEST(ScreenVideo, ChangeDetectionBoundaries) {
    const int w = 70, h = 70;  // 3 x 3 blocks
    const auto base = noise(w, h, 5);
    struct Case {
        size_t byte;
        std::vector<int> blocks;
    };
    const size_t row = w * 3;
    const std::vector<Case> cases = {
        {31 * row + row - 1, {2}},  // last byte of memory row 31: block (0, last)
        {32 * row, {3}},            // first byte of row 32: block (1, 0)
        {95, {0}},                  // last byte of the first block's span
        {96, {1}},                  // first byte of the second
        {69 * row + 1, {6}},        // green byte of the top-left pixel
        {69 * row + row - 1, {8}},  // last byte of the frame
    };
    for (const auto& c : cases) {
        Encoder e(w, h);
        auto changed = base;
        changed[c.byte] ^= 0x01;
        ASSERT_EQ(e.put(base), 1);
        ASSERT_EQ(e.put(changed), 1);
        const auto tags = e.tags();
        const VideoFrame v = decodeVideoTag(tags[1].data);
        ASSERT_TRUE(v.valid);
        EXPECT_FALSE(v.keyframe);
        EXPECT_EQ(sentBlocks(v), c.blocks) << "byte " << c.byte;
        const int b = c.blocks[0];
        EXPECT_EQ(v.blocks[static_cast<size_t>(b)], cut(changed, w, h, b / 3, b % 3));
    }
}

TEST(ScreenVideo, InterFramesCompareWithTheFrameBefore) {
    const auto a = noise(64, 32, 6);
    auto b = a;
    b[0] ^= 0xFF;  // block 0 changes from a to b
    auto c = b;
    c[100] ^= 0xFF;  // block 1 changes from b to c
    Encoder e(64, 32);
    ASSERT_EQ(e.put(a), 1);
    ASSERT_EQ(e.put(b), 1);
    ASSERT_EQ(e.put(c), 1);
    const auto tags = e.tags();
    EXPECT_EQ(sentBlocks(decodeVideoTag(tags[1].data)), std::vector<int>{0});
    EXPECT_EQ(sentBlocks(decodeVideoTag(tags[2].data)), std::vector<int>{1});
}

TEST(ScreenVideo, KeyframeEveryFortyFramesWhateverChanged) {
    Encoder e(40, 40);
    const auto frame = noise(40, 40, 7);
    const uint16_t durations[3] = {0, 33, 1000};
    for (int i = 0; i < 81; ++i) {
        ASSERT_EQ(e.put(frame, durations[i % 3]), 1);
    }
    const auto tags = e.tags();
    ASSERT_EQ(tags.size(), 81u);
    uint32_t t = 0;
    for (int i = 0; i < 81; ++i) {
        const VideoFrame v = decodeVideoTag(tags[static_cast<size_t>(i)].data);
        ASSERT_TRUE(v.valid);
        const bool key = i % 40 == 0;
        EXPECT_EQ(v.keyframe, key) << i;
        EXPECT_EQ(sentBlocks(v).size(), key ? 4u : 0u) << i;
        EXPECT_EQ(tags[static_cast<size_t>(i)].timestamp, t) << i;
        t += durations[i % 3];
    }
    EXPECT_EQ(e.w.lastKeyframeTimestamp, tags[80].timestamp);
    EXPECT_EQ(e.w.videoTimestamp, t);
}

// Told which blocks may have changed, the encoder writes the same bytes as when it
// compares everything itself, keyframes included; a block it is told is unchanged is
// taken on trust (neither compared nor kept).
TEST(ScreenVideo, CandidateBlocksGiveTheSameTagsAndAreTakenOnTrust) {
    const int w = 100;  // 4 x 3 blocks, the last column 4 wide and the last row 4 high
    const int h = 68;
    const int columns = 4;
    std::mt19937 rng(12);
    Encoder plain(w, h);
    Encoder told(w, h);
    auto frame = noise(w, h, 9);
    std::vector<uint8_t> marks(12, 1);
    for (int i = 0; i < 45; ++i) {
        ASSERT_EQ(plain.put(frame), 1);
        ASSERT_EQ(told.putChanged(frame, marks.data()), 1);
        // Change a pixel or two; mark their blocks and one more that did not change.
        std::fill(marks.begin(), marks.end(), 0);
        for (int k = 0; k < 1 + i % 2; ++k) {
            const int x = static_cast<int>(rng() % w);
            const int y = static_cast<int>(rng() % h);
            frame[(static_cast<size_t>(y) * w + x) * 3 + rng() % 3] ^= 0x10;
            marks[static_cast<size_t>(y / 32 * columns + x / 32)] = 1;
        }
        marks[rng() % 12] = 1;
    }
    EXPECT_EQ(told.file.bytes, plain.file.bytes);

    // A change in a block marked 0 is not seen.
    Encoder trusting(64, 32);
    const auto a = noise(64, 32, 10);
    auto b = a;
    b[0] ^= 0xFF;  // block 0
    const uint8_t none[2] = {0, 0};
    ASSERT_EQ(trusting.put(a), 1);
    ASSERT_EQ(trusting.putChanged(b, none), 1);
    EXPECT_TRUE(sentBlocks(decodeVideoTag(trusting.tags()[1].data)).empty());
}

// Threads for the encoder: each runOnAll starts `count` - 1 threads beside the caller.
class SpawnedWorkers final : public BlockWorkers {
  public:
    explicit SpawnedWorkers(unsigned count) : count_(count) {}
    unsigned threadCount() const override { return count_; }
    void runOnAll(Task task, void* context) override {
        ++calls;
        std::vector<std::thread> threads;
        for (unsigned i = 1; i < count_; ++i) {
            threads.emplace_back(task, context);
        }
        task(context);
        for (auto& t : threads) {
            t.join();
        }
    }
    int calls = 0;

  private:
    unsigned count_;
};

// Blocks compressed on several threads give the bytes of one thread: keyframes, inter
// frames with a few changed blocks, candidates, and a frame so wide and tall that its
// block rows are compressed and written in more than one window.
TEST(ScreenVideo, ThreadsGiveTheBytesOfOneThread) {
    struct Size {
        int w;
        int h;
    };
    for (const Size size : {Size{100, 68}, Size{1280, 720}, Size{4095, 420}}) {
        SCOPED_TRACE(std::to_string(size.w) + "x" + std::to_string(size.h));
        SpawnedWorkers three(3);
        Encoder one(size.w, size.h);
        Encoder many(size.w, size.h, &three);
        std::mt19937 rng(5);
        auto frame = noise(size.w, size.h, 4);
        const int frames = size.w > 2000 ? 3 : 12;
        for (int i = 0; i < frames; ++i) {
            ASSERT_EQ(one.put(frame), 1);
            ASSERT_EQ(many.put(frame), 1);
            for (int k = 0; k < 1 + i % 5; ++k) {
                frame[rng() % frame.size()] ^= 0x21;
            }
            if (i % 4 == 3) {
                frame = noise(size.w, size.h, static_cast<unsigned>(i));
            }
        }
        EXPECT_EQ(many.file.bytes, one.file.bytes);
        EXPECT_GT(three.calls, 0);
    }
}

TEST(ScreenVideo, RefusesAFrameOfAnotherSize) {
    Encoder e(32, 32);
    const auto frame = noise(32, 33, 8);
    const auto before = e.file.bytes.size();
    EXPECT_EQ(flvWriteVideoTag(e.w, e.e, e.file, frame.data(), 32, 33, 10), 0);
    EXPECT_EQ(flvWriteVideoTag(e.w, e.e, e.file, frame.data(), 33, 32, 10), 0);
    EXPECT_EQ(flvWriteVideoTag(e.w, e.e, e.file, nullptr, 32, 32, 10), 0);
    EXPECT_EQ(e.file.bytes.size(), before);
    EXPECT_EQ(e.put(noise(32, 32, 8)), 1);
    FlvWriter fresh;
    ScreenVideoEncoder unset;
    MemoryFile f;
    EXPECT_EQ(flvBegin(fresh, f, 0, 32, 32), 1);
    const auto header = f.bytes.size();
    EXPECT_EQ(flvWriteVideoTag(fresh, unset, f, frame.data(), 32, 32, 10), 0);
    EXPECT_EQ(f.bytes.size(), header);
    EXPECT_EQ(videoEncoderBegin(unset, 4096, 32, nullptr), 0);
    EXPECT_EQ(videoEncoderBegin(unset, 32, 0, nullptr), 0);
    EXPECT_EQ(flvWriteVideoTag(fresh, unset, f, frame.data(), 32, 32, 10), 0);
}

// A 4095 x 4095 frame of noise needs more than 16,777,215 bytes of tag data: refused
// with nothing written, and the writer still takes a frame that fits.
TEST(ScreenVideo, TagTooBigForTheSizeFieldIsRefused) {
    const int side = 4095;
    Encoder e(side, side);
    const auto frame = noise(side, side, 9);
    const auto before = e.file.bytes.size();
    const int calls = e.file.writeCalls;
    EXPECT_EQ(e.put(frame), 0);
    EXPECT_EQ(e.file.bytes.size(), before);
    EXPECT_EQ(e.file.writeCalls, calls);
    EXPECT_EQ(e.w.videoTimestamp, 0u);
    // A compressible frame of the same size fits, and is the keyframe the refused one
    // would have been.
    ASSERT_EQ(e.put(std::vector<uint8_t>(frame.size(), 0x40)), 1);
    const auto tags = e.tags();
    ASSERT_EQ(tags.size(), 1u);
    EXPECT_TRUE(decodeVideoTag(tags[0].data).valid);
    EXPECT_TRUE(decodeVideoTag(tags[0].data).keyframe);
}

}  // namespace
}  // namespace pemlo
