#include "flv/flv_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flv/video_encoder.h"
#include "tests/flv/flv_reader.h"
#include "tests/support/memory_file.h"

namespace pemlo {
namespace {

using testing::MemoryFile;
using testing::parseFlv;
using testing::readDouble;

std::vector<uint8_t> bytesOf(const MemoryFile& f) {
    return {f.bytes.begin(), f.bytes.end()};
}

// The value of a number property in the metadata tag data, found by name.
double property(const std::vector<uint8_t>& data, const std::string& name) {
    for (size_t at = 18; at + 2 + name.size() + 9 <= data.size();) {
        const size_t len = (size_t{data[at]} << 8) | data[at + 1];
        const std::string got(data.begin() + static_cast<long>(at + 2),
                              data.begin() + static_cast<long>(at + 2 + len));
        if (got == name) {
            EXPECT_EQ(data[at + 2 + len], 0x00);
            return readDouble(data, at + 3 + len);
        }
        at += 2 + len + 9;
    }
    ADD_FAILURE() << "no property " << name;
    return -1;
}

TEST(FlvContainer, HeaderAndMetadataWithoutSound) {
    MemoryFile f;
    FlvWriter w;
    ASSERT_EQ(flvBegin(w, f, 0, 320, 240), 1);
    ScreenVideoEncoder e;
    ASSERT_EQ(videoEncoderBegin(e, 320, 240, nullptr), 1);
    const std::vector<uint8_t> start = {0x46, 0x4C, 0x56, 0x01, 0x01, 0x00, 0x00, 0x00, 0x09,
                                        0x00, 0x00, 0x00, 0x00, 0x12, 0x00, 0x00, 0x98, 0x00,
                                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x0A};
    const auto b = bytesOf(f);
    ASSERT_EQ(b.size(), 176u);
    EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 27), start);
    EXPECT_EQ(std::string(b.begin() + 27, b.begin() + 37), "onMetaData");
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 37, b.begin() + 42),
              (std::vector<uint8_t>{0x08, 0, 0, 0, 6}));
    EXPECT_EQ(std::vector<uint8_t>(b.end() - 3, b.end()), (std::vector<uint8_t>{0, 0, 9}));
    EXPECT_EQ(w.previousTagSize, 163u);
    const auto tags = parseFlv(b);
    ASSERT_EQ(tags.size(), 1u);
    EXPECT_EQ(property(tags[0].data, "videocodecid"), 3.0);
    EXPECT_EQ(property(tags[0].data, "width"), 320.0);
    EXPECT_EQ(property(tags[0].data, "height"), 240.0);
    EXPECT_EQ(property(tags[0].data, "duration"), 0.0);
    // "videocodecid" is stored as 40 08 00 ...
    const std::string name = "videocodecid";
    const auto at = std::search(b.begin(), b.end(), name.begin(), name.end()) - b.begin();
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + at + 12, b.begin() + at + 21),
              (std::vector<uint8_t>{0x00, 0x40, 0x08, 0, 0, 0, 0, 0, 0}));

    // The first video tag is preceded by 163.
    std::vector<uint8_t> frame(320 * 240 * 3, 7);
    ASSERT_EQ(flvWriteVideoTag(w, e, f, frame.data(), 320, 240, 100), 1);
    EXPECT_EQ(std::vector<uint8_t>(f.bytes.begin() + 176, f.bytes.begin() + 180),
              (std::vector<uint8_t>{0, 0, 0, 0xA3}));
}

TEST(FlvContainer, HeaderAndMetadataWithSound) {
    MemoryFile f;
    FlvWriter w;
    ASSERT_EQ(flvBegin(w, f, 1, 64, 48), 1);
    ScreenVideoEncoder e;
    ASSERT_EQ(videoEncoderBegin(e, 64, 48, nullptr), 1);
    const auto b = bytesOf(f);
    ASSERT_EQ(b.size(), 268u);
    EXPECT_EQ(b[4], 0x05);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 14, b.begin() + 17),
              (std::vector<uint8_t>{0, 0, 0xF4}));
    EXPECT_EQ(b[41], 10);
    EXPECT_EQ(w.previousTagSize, 255u);
    auto bytesAfter = [&](const std::string& name) {
        const auto at = std::search(b.begin(), b.end(), name.begin(), name.end()) - b.begin();
        return std::vector<uint8_t>(b.begin() + at + static_cast<long>(name.size()) + 1,
                                    b.begin() + at + static_cast<long>(name.size()) + 9);
    };
    EXPECT_EQ(bytesAfter("audiosamplerate"),
              (std::vector<uint8_t>{0x40, 0xD5, 0x88, 0x80, 0, 0, 0, 0}));
    EXPECT_EQ(bytesAfter("audiosamplesize"), (std::vector<uint8_t>{0x40, 0x30, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(bytesAfter("stereo"), std::vector<uint8_t>(8, 0));
    const auto tags = parseFlv(b);
    ASSERT_EQ(tags.size(), 1u);
    EXPECT_EQ(property(tags[0].data, "audiocodecid"), 1.0);

    std::vector<uint8_t> frame(64 * 48 * 3, 1);
    ASSERT_EQ(flvWriteVideoTag(w, e, f, frame.data(), 64, 48, 40), 1);
    EXPECT_EQ(std::vector<uint8_t>(f.bytes.begin() + 268, f.bytes.begin() + 272),
              (std::vector<uint8_t>{0, 0, 0, 0xFF}));
}

TEST(FlvContainer, FinishRewritesOnlyTheMetadata) {
    MemoryFile f;
    FlvWriter w;
    ASSERT_EQ(flvBegin(w, f, 0, 40, 40), 1);
    ScreenVideoEncoder e;
    ASSERT_EQ(videoEncoderBegin(e, 40, 40, nullptr), 1);
    std::vector<uint8_t> frame(40 * 40 * 3);
    const uint16_t durations[3] = {100, 100, 101};
    for (int i = 0; i < 3; ++i) {
        frame[static_cast<size_t>(i) * 50] = static_cast<uint8_t>(i + 1);
        ASSERT_EQ(flvWriteVideoTag(w, e, f, frame.data(), 40, 40, durations[i]), 1);
    }
    const auto before = bytesOf(f);
    ASSERT_EQ(flvFinish(w, f), 1);
    EXPECT_FALSE(f.open);
    const auto after = bytesOf(f);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_TRUE(std::equal(before.begin() + 176, before.end(), after.begin() + 176));
    const auto tags = parseFlv(after);
    ASSERT_EQ(tags.size(), 4u);
    EXPECT_EQ(tags[0].data.size(), 152u);
    EXPECT_DOUBLE_EQ(property(tags[0].data, "duration"), 0.301);
    EXPECT_DOUBLE_EQ(property(tags[0].data, "lasttimestamp"), 0.301);
    EXPECT_EQ(property(tags[0].data, "lastkeyframetimestamp"), 0.0);
    EXPECT_EQ(tags[3].timestamp, 200u);
}

TEST(FlvContainer, LastKeyframeInMillisecondsDurationInSeconds) {
    MemoryFile f;
    FlvWriter w;
    ASSERT_EQ(flvBegin(w, f, 1, 8, 8), 1);
    ScreenVideoEncoder e;
    ASSERT_EQ(videoEncoderBegin(e, 8, 8, nullptr), 1);
    std::vector<uint8_t> frame(8 * 8 * 3);
    for (int i = 0; i < 41; ++i) {
        ASSERT_EQ(flvWriteVideoTag(w, e, f, frame.data(), 8, 8, 100), 1);
    }
    ASSERT_EQ(flvFinish(w, f), 1);
    const auto tags = parseFlv(bytesOf(f));
    ASSERT_EQ(tags.size(), 42u);
    EXPECT_EQ(tags[0].data.size(), 244u);
    EXPECT_EQ(property(tags[0].data, "lastkeyframetimestamp"), 4000.0);
    EXPECT_DOUBLE_EQ(property(tags[0].data, "duration"), 4.1);
}

TEST(FlvContainer, FinishWithoutTagsEndsAfterTheMetadata) {
    for (int sound = 0; sound <= 1; ++sound) {
        MemoryFile f;
        FlvWriter w;
        ASSERT_EQ(flvBegin(w, f, sound, 1, 1), 1);
        ASSERT_EQ(flvFinish(w, f), 1);
        EXPECT_EQ(f.bytes.size(), sound ? 268u : 176u);
        const auto tags = parseFlv(bytesOf(f));
        ASSERT_EQ(tags.size(), 1u);
        EXPECT_EQ(property(tags[0].data, "duration"), 0.0);
    }
}

TEST(FlvContainer, TimestampExtensionByte) {
    MemoryFile f;
    FlvWriter w;
    ASSERT_EQ(flvBegin(w, f, 0, 4, 4), 1);
    ScreenVideoEncoder e;
    ASSERT_EQ(videoEncoderBegin(e, 4, 4, nullptr), 1);
    std::vector<uint8_t> frame(4 * 4 * 3);
    w.videoTimestamp = 16777216u - 1;
    ASSERT_EQ(flvWriteVideoTag(w, e, f, frame.data(), 4, 4, 1), 1);
    ASSERT_EQ(flvWriteVideoTag(w, e, f, frame.data(), 4, 4, 1), 1);
    ASSERT_EQ(flvWriteVideoTag(w, e, f, frame.data(), 4, 4, 0), 1);
    const auto b = bytesOf(f);
    const auto tags = parseFlv(b);
    ASSERT_EQ(tags.size(), 4u);
    auto stamp = [&](int i) {
        return std::vector<uint8_t>(b.begin() + static_cast<long>(tags[i].offset + 4),
                                    b.begin() + static_cast<long>(tags[i].offset + 8));
    };
    EXPECT_EQ(stamp(1), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0x00}));
    EXPECT_EQ(stamp(2), (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(stamp(3), (std::vector<uint8_t>{0x00, 0x00, 0x01, 0x01}));
}

TEST(FlvContainer, RefusesFrameSizesOutsideTheSizeFields) {
    const int sizes[][2] = {{0, 10}, {10, 0}, {4096, 10}, {10, 4096}, {-1, 5}};
    for (const auto& s : sizes) {
        MemoryFile f;
        FlvWriter w;
        EXPECT_EQ(flvBegin(w, f, 0, s[0], s[1]), 0) << s[0] << "x" << s[1];
        EXPECT_TRUE(f.bytes.empty());
    }
    MemoryFile f;
    FlvWriter w;
    EXPECT_EQ(flvBegin(w, f, 0, 4095, 1), 1);
}

// Every short write, wherever it falls, fails the operation; afterwards the writer
// refuses everything and the file receives nothing more.
TEST(FlvContainerFaults, ShortWritesAnywhereFailAndStopTheWriter) {
    std::vector<uint8_t> frameA(70 * 50 * 3);
    std::vector<uint8_t> frameB(70 * 50 * 3);
    for (size_t i = 0; i < frameA.size(); ++i) {
        frameA[i] = static_cast<uint8_t>(i * 7);
        frameB[i] = static_cast<uint8_t>(i % 300 == 0 ? 1 : i * 7);
    }
    // The complete file, to know how far the budget has to reach.
    uint64_t total = 0;
    {
        MemoryFile f;
        FlvWriter w;
        ASSERT_EQ(flvBegin(w, f, 1, 70, 50), 1);
        ScreenVideoEncoder e;
        ASSERT_EQ(videoEncoderBegin(e, 70, 50, nullptr), 1);
        ASSERT_EQ(flvWriteVideoTag(w, e, f, frameA.data(), 70, 50, 100), 1);
        ASSERT_EQ(flvWriteVideoTag(w, e, f, frameB.data(), 70, 50, 100), 1);
        ASSERT_EQ(flvFinish(w, f), 1);
        total = f.written;
    }
    for (uint64_t budget = 0; budget < total; ++budget) {
        MemoryFile f;
        f.writeBudget = budget;
        FlvWriter w;
        ScreenVideoEncoder e;
        ASSERT_EQ(videoEncoderBegin(e, 70, 50, nullptr), 1);
        int ok = flvBegin(w, f, 1, 70, 50);
        ok = ok && flvWriteVideoTag(w, e, f, frameA.data(), 70, 50, 100);
        ok = ok && flvWriteVideoTag(w, e, f, frameB.data(), 70, 50, 100);
        ok = ok && flvFinish(w, f);
        EXPECT_EQ(ok, 0) << "budget " << budget;
        if (budget < 9) {
            continue;  // flvBegin failed before the writer was set up
        }
        EXPECT_EQ(w.failed, 1) << "budget " << budget;
        const int calls = f.writeCalls;
        f.writeBudget = UINT64_MAX;
        EXPECT_EQ(flvWriteVideoTag(w, e, f, frameA.data(), 70, 50, 100), 0);
        EXPECT_EQ(flvWriteMetadata(w, f), 0);
        EXPECT_EQ(flvFinish(w, f), 0);
        EXPECT_EQ(f.writeCalls, calls) << "budget " << budget;
        EXPECT_TRUE(f.open);
    }
}

TEST(FlvContainerFaults, FailedSeekFailsTheTag) {
    MemoryFile f;
    FlvWriter w;
    ASSERT_EQ(flvBegin(w, f, 0, 16, 16), 1);
    ScreenVideoEncoder e;
    ASSERT_EQ(videoEncoderBegin(e, 16, 16, nullptr), 1);
    std::vector<uint8_t> frame(16 * 16 * 3);
    f.failSeeks = true;
    EXPECT_EQ(flvWriteVideoTag(w, e, f, frame.data(), 16, 16, 10), 0);
    EXPECT_EQ(w.videoTimestamp, 0u);
    EXPECT_EQ(w.previousTagSize, 163u);
    f.failSeeks = false;
    EXPECT_EQ(flvFinish(w, f), 0);
}

}  // namespace
}  // namespace pemlo
