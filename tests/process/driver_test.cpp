#include "process/output_driver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "process/scaler.h"
#include "process/thumbnail.h"
#include "tests/process/driver_support.h"

namespace pemlo {
namespace {

using testing::Bytes;
using testing::FakeScreen;
using testing::FlvTag;
using testing::MemoryFile;
using testing::ScreenFrame;

constexpr int kScreenW = 320;
constexpr int kScreenH = 240;
constexpr int kPitch = kScreenW * 4 + 16;

// Frame i of a recording: every pixel and every frame differ.
Bytes screenPixels(int i) {
    Bytes pixels(static_cast<size_t>(kPitch) * kScreenH, 0xAB);
    for (int y = 0; y < kScreenH; ++y) {
        for (int x = 0; x < kScreenW; ++x) {
            uint8_t* p = &pixels[static_cast<size_t>(y) * kPitch + x * 4];
            p[0] = static_cast<uint8_t>(x + 3 * i);
            p[1] = static_cast<uint8_t>(y * 2 + i);
            p[2] = static_cast<uint8_t>((x ^ y) + 7 * i);
            p[3] = 0xFF;
        }
    }
    return pixels;
}

// What the capture rectangle shows: the screen with the cursor drawn over it, cut out
// bottom-up as packed BGR.
Bytes expectedComposite(const ScreenFrame& frame, const Bytes& cursor, int left, int top, int width,
                        int height) {
    Bytes out(static_cast<size_t>(width) * height * 3);
    for (int row = 0; row < height; ++row) {
        const int sy = top + height - 1 - row;
        for (int col = 0; col < width; ++col) {
            const int sx = left + col;
            const uint8_t* p = &frame.pixels[static_cast<size_t>(sy) * kPitch + sx * 4];
            uint8_t* o = &out[(static_cast<size_t>(row) * width + col) * 3];
            o[0] = p[0];
            o[1] = p[1];
            o[2] = p[2];
            const int c = sx - frame.cursorX;
            const int r = sy - frame.cursorY;
            if (frame.cursor && c >= 0 && c < 32 && r >= 0 && r < 32) {
                const uint8_t* k = &cursor[((31 - r) * 32 + c) * 3];
                if (!(k[0] == 255 && k[1] == 240 && k[2] == 255)) {
                    o[0] = k[0];
                    o[1] = k[1];
                    o[2] = k[2];
                }
            }
        }
    }
    return out;
}

Bytes scaled(Bytes pixels, int sw, int sh, int dw, int dh) {
    ImageBuffer source{static_cast<uint16_t>(sw), static_cast<uint16_t>(sh),
                       static_cast<uint16_t>(sw * 3), pixels.data()};
    ImageBuffer target;
    GrowableBuffer<float> acc;
    EXPECT_EQ(
        scaleAreaAverage(source, target, static_cast<uint16_t>(dw), static_cast<uint16_t>(dh), acc),
        1);
    Bytes out(target.pixels, target.pixels + static_cast<size_t>(dw) * dh * 3);
    imageBufferRelease(target);
    return out;
}

class RecordingProgress final : public ProgressSink {
  public:
    std::vector<uint32_t> percents;
    std::vector<Bytes> previews;
    BitmapInfoHeader info;
    int asked = 0;
    int cancelAt = -1;  // the question number answered with "stop"
    bool shows = true;

    bool showsPreview() const override { return shows; }

    void showPreview(const BitmapInfoHeader& i, const uint8_t* pixels) override {
        info = i;
        previews.emplace_back(pixels, pixels + static_cast<size_t>(i.biWidth) * 3 * i.biHeight);
    }
    void setPercent(uint32_t percent) override { percents.push_back(percent); }
    bool cancelRequested() override { return asked++ == cancelAt; }
};

// Tests run side by side in separate processes: each gets its own names.
std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "pemlo_driver_" + std::to_string(::getpid()) + "_" + name;
}

Bytes readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// 22,050 Hz mono 16-bit sound of `ms` milliseconds.
Bytes tone(uint32_t ms) {
    Bytes bytes;
    const uint64_t samples = uint64_t{ms} * 22050 / 1000;
    for (uint64_t i = 0; i < samples; ++i) {
        const auto v = static_cast<int16_t>((i * 977) % 20000 - 10000);
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
    }
    return bytes;
}

struct DriverSetup {
    int left = 40;
    int top = 30;
    int width = 200;
    int height = 150;
    int outWidth = 160;
    int outHeight = 120;
    int recordAudio = 0;
    unsigned threads = 0;
    std::string thumbnail = tempPath("thumb.bmp");
};

struct Replay {
    FakeScreen screen{kScreenW, kScreenH, kPitch};
    FrameSpool spool;
    MemoryFile sound;
    FlvWriter writer;
    MemoryFile out;
    RecordingProgress progress;
    std::vector<FlvTag> tags;
    uint8_t flags = 0;
    int result = -1;
    bool parsed = false;

    void addFrames(int count, uint32_t durationMs = 100) {
        for (int i = 0; i < count; ++i) {
            ScreenFrame frame;
            frame.pixels = screenPixels(static_cast<int>(screen.frames.size()));
            frame.durationMs = durationMs;
            screen.frames.push_back(std::move(frame));
        }
    }
    MemoryFile* spoolFile = nullptr;  // owned by the spool
    // Records the capture rectangle of DriverSetup unless told another.
    void record(CaptureArea area = CaptureArea{40, 30, 200, 150}) {
        auto file = std::make_unique<MemoryFile>();
        spoolFile = file.get();
        ASSERT_EQ(spoolOpenFile(spool, screen, std::move(file), area), 1);
        for (size_t i = 0; i < screen.frames.size(); ++i) {
            ASSERT_EQ(spoolRecordFrame(spool), 1);
        }
        screen.stopped = true;
    }
    std::string thumbnail;
    ~Replay() {
        std::error_code ignored;
        std::filesystem::remove(thumbnail, ignored);
    }
    void drive(const DriverSetup& s, File* soundSpool) {
        thumbnail = s.thumbnail;
        std::filesystem::remove(s.thumbnail);
        OutputJob job;
        job.capture = CaptureArea{s.left, s.top, s.width, s.height};
        job.outputWidth = s.outWidth;
        job.outputHeight = s.outHeight;
        job.recordAudio = s.recordAudio;
        job.soundSpool = soundSpool;
        job.thumbnailPath = s.thumbnail;
        job.threads = s.threads;
        result = runOutputDriver(job, spool, writer, out, progress);
        parsed = readFlvTags(out.bytes, tags, flags);
    }
    std::vector<uint32_t> timestamps(uint8_t type) const {
        std::vector<uint32_t> t;
        for (const auto& tag : tags) {
            if (tag.type == type) {
                t.push_back(tag.timestamp);
            }
        }
        return t;
    }
};

uint32_t packetStart(uint64_t k) {
    return static_cast<uint32_t>(k * 1024 * 1000 / 22050);
}

TEST(OutputDriver, ReplaysEveryFrameWithSoundPreviewProgressAndThumbnail) {
    for (int frames : {1, 3, 10, 11, 41}) {
        for (int withSound : {0, 1}) {
            SCOPED_TRACE(std::to_string(frames) + " frames, sound " + std::to_string(withSound));
            Replay run;
            run.addFrames(frames);
            run.screen.frames[0].cursor = true;
            run.screen.frames[0].cursorX = 100;
            run.screen.frames[0].cursorY = 90;
            run.record();
            run.sound.bytes = tone(static_cast<uint32_t>(frames) * 100 + 700);
            DriverSetup setup;
            setup.recordAudio = withSound;
            run.drive(setup, withSound ? &run.sound : nullptr);
            ASSERT_EQ(run.result, 1);
            ASSERT_TRUE(run.parsed);
            EXPECT_FALSE(run.out.open) << "finished files are closed";
            EXPECT_EQ(run.flags, withSound ? 0x05 : 0x01);

            // One video tag per frame at the frame's start, a keyframe every 40 frames.
            const auto video = run.timestamps(0x09);
            ASSERT_EQ(video.size(), static_cast<size_t>(frames));
            int v = 0;
            for (const auto& tag : run.tags) {
                if (tag.type == 0x09) {
                    EXPECT_EQ(tag.timestamp, static_cast<uint32_t>(v) * 100);
                    EXPECT_EQ(tag.data.at(0) >> 4, v % 40 == 0 ? 1 : 2) << "frame " << v;
                    ++v;
                }
            }
            // Sound up to the end of the last frame, each tag at its first sample.
            const auto audio = run.timestamps(0x08);
            size_t due = 0;
            while (withSound && packetStart(due) <= static_cast<uint32_t>(frames) * 100) {
                ++due;
            }
            ASSERT_EQ(audio.size(), due);
            for (size_t k = 0; k < audio.size(); ++k) {
                EXPECT_EQ(audio[k], packetStart(k));
            }
            uint32_t previous = 0;
            for (const auto& tag : run.tags) {
                EXPECT_GE(tag.timestamp, previous);
                previous = tag.timestamp;
            }

            // Progress and preview after every frame; the preview comes from the
            // cropped frame with its cursor, not from the watermarked output.
            ASSERT_EQ(run.progress.percents.size(), static_cast<size_t>(frames));
            ASSERT_EQ(run.progress.previews.size(), static_cast<size_t>(frames));
            EXPECT_EQ(run.progress.info.biWidth, 160);
            EXPECT_EQ(run.progress.info.biHeight, 120);
            const auto& cursor = run.screen.cursorImage();
            for (int i = 0; i < frames; ++i) {
                EXPECT_EQ(run.progress.percents[i], static_cast<uint32_t>((i + 1) * 100 / frames));
                const Bytes expected =
                    scaled(expectedComposite(run.screen.frames[i], cursor, 40, 30, 200, 150), 200,
                           150, 160, 120);
                ASSERT_EQ(run.progress.previews[i], expected) << "frame " << i;
            }
            // The thumbnail is the tenth frame's preview, or the first's when shorter.
            const Bytes thumb = readWhole(setup.thumbnail);
            ASSERT_EQ(thumb.size(), 54u + 160u * 120u * 3u);
            const Bytes& shown = run.progress.previews[frames >= 10 ? 9 : 0];
            EXPECT_TRUE(std::equal(shown.begin(), shown.end(), thumb.begin() + 54));
        }
    }
}

// The number of threads changes nothing in the file: frames that change everywhere,
// sound, and a cursor, with one, two and three threads.
TEST(OutputDriver, SameBytesWhateverTheThreadCount) {
    Bytes first;
    for (unsigned threads : {1u, 2u, 3u}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        Replay run;
        run.addFrames(45);
        run.screen.frames[3].cursor = true;
        run.screen.frames[3].cursorX = 60;
        run.screen.frames[3].cursorY = 50;
        run.record(CaptureArea{0, 0, kScreenW, kScreenH});
        run.sound.bytes = tone(5000);
        DriverSetup setup;
        setup.left = 0;
        setup.top = 0;
        setup.width = kScreenW;
        setup.height = kScreenH;
        setup.outWidth = 300;
        setup.outHeight = 200;
        setup.recordAudio = 1;
        setup.threads = threads;
        run.drive(setup, &run.sound);
        ASSERT_EQ(run.result, 1);
        ASSERT_EQ(run.timestamps(0x09).size(), 45u);
        if (threads == 1) {
            first = run.out.bytes;
        } else {
            EXPECT_EQ(run.out.bytes, first);
        }
    }
}

TEST(OutputDriver, InterleavesSoundByTheTrueSampleClock) {
    Replay run;
    run.addFrames(3);
    run.record();
    run.sound.bytes = tone(5000);
    DriverSetup setup;
    setup.recordAudio = 1;
    run.drive(setup, &run.sound);
    ASSERT_EQ(run.result, 1);
    std::vector<std::pair<int, uint32_t>> order;
    for (const auto& tag : run.tags) {
        if (tag.type != 0x12) {
            order.emplace_back(tag.type, tag.timestamp);
        }
    }
    const std::vector<std::pair<int, uint32_t>> want = {{9, 0},   {8, 0},   {8, 46},  {8, 92},
                                                        {9, 100}, {8, 139}, {8, 185}, {9, 200},
                                                        {8, 232}, {8, 278}};
    EXPECT_EQ(order, want);
}

TEST(OutputDriver, EmptyOrShortSoundSpool) {
    {
        Replay run;
        run.addFrames(4);
        run.record();
        DriverSetup setup;
        setup.recordAudio = 1;
        run.drive(setup, &run.sound);
        ASSERT_EQ(run.result, 1);
        EXPECT_EQ(run.flags, 0x05);
        EXPECT_TRUE(run.timestamps(0x08).empty());
        EXPECT_EQ(run.timestamps(0x09).size(), 4u);
    }
    {
        Replay run;
        run.addFrames(4);
        run.record();
        run.sound.bytes = tone(120);  // two whole packets and a short one
        DriverSetup setup;
        setup.recordAudio = 1;
        run.drive(setup, &run.sound);
        ASSERT_EQ(run.result, 1);
        EXPECT_EQ(run.timestamps(0x08), (std::vector<uint32_t>{0, 46, 92}));
    }
}

TEST(OutputDriver, DrawsCursorsClippedAtEveryEdge) {
    // Output at capture size: the preview is then the composited frame itself.
    struct Case {
        int x, y;
        bool visible;
    };
    const std::pair<int, std::vector<Case>> rectangles[] = {
        {0,
         {{-11, -20, true},
          {-27, 5, true},
          {5, -31, true},
          {190, 10, true},
          {40, 140, true},
          {199, 149, true},
          {200, 20, false},
          {-32, 0, false},
          {10, 150, false}}},
        {60, {{45, 40, true}, {255, 195, true}, {259, 30, true}, {100, 199, true}}},
    };
    for (const auto& [left, cases] : rectangles) {
        Replay run;
        run.addFrames(static_cast<int>(cases.size()));
        for (size_t i = 0; i < cases.size(); ++i) {
            run.screen.frames[i].cursor = true;
            run.screen.frames[i].cursorX = cases[i].x;
            run.screen.frames[i].cursorY = cases[i].y;
        }
        DriverSetup setup;
        setup.left = left;
        setup.top = left == 0 ? 0 : 50;
        run.record(CaptureArea{setup.left, setup.top, 200, 150});
        setup.outWidth = 200;
        setup.outHeight = 150;
        run.drive(setup, nullptr);
        ASSERT_EQ(run.result, 1);
        ASSERT_EQ(run.progress.previews.size(), cases.size());
        for (size_t i = 0; i < cases.size(); ++i) {
            SCOPED_TRACE("cursor at " + std::to_string(cases[i].x) + "," +
                         std::to_string(cases[i].y));
            const ScreenFrame& frame = run.screen.frames[i];
            const Bytes expected =
                expectedComposite(frame, run.screen.cursorImage(), setup.left, setup.top, 200, 150);
            EXPECT_EQ(run.progress.previews[i], expected);
            ScreenFrame bare;
            bare.pixels = frame.pixels;
            const bool drawn = run.progress.previews[i] !=
                               expectedComposite(bare, {}, setup.left, setup.top, 200, 150);
            EXPECT_EQ(drawn, cases[i].visible);
        }
    }
}

TEST(OutputDriver, WritesTheThumbnailAsABitmap) {
    Replay run;
    run.addFrames(2);
    run.record(CaptureArea{0, 0, 320, 240});
    DriverSetup setup;
    setup.left = 0;
    setup.top = 0;
    setup.width = 320;
    setup.height = 240;
    setup.outWidth = 320;
    setup.outHeight = 240;
    run.drive(setup, nullptr);
    ASSERT_EQ(run.result, 1);
    const Bytes bmp = readWhole(setup.thumbnail);
    ASSERT_EQ(bmp.size(), 129654u);
    auto le32 = [&](size_t at) {
        return uint32_t{bmp[at]} | uint32_t{bmp[at + 1]} << 8 | uint32_t{bmp[at + 2]} << 16 |
               uint32_t{bmp[at + 3]} << 24;
    };
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(le32(2), 129654u);
    EXPECT_EQ(le32(6), 0u);
    EXPECT_EQ(le32(10), 54u);
    EXPECT_EQ(le32(14), 40u);
    EXPECT_EQ(le32(18), 240u);
    EXPECT_EQ(le32(22), 180u);
    EXPECT_EQ(le32(26), 1u | 24u << 16);  // planes, bits per pixel
    EXPECT_EQ(le32(30), 0u);
    EXPECT_EQ(le32(34), 129600u);
    for (size_t at = 38; at < 54; ++at) {
        EXPECT_EQ(bmp[at], 0) << at;
    }
    ASSERT_EQ(run.progress.previews.size(), 2u);
    EXPECT_TRUE(std::equal(bmp.begin() + 54, bmp.end(), run.progress.previews[0].begin()));

    // A thumbnail that cannot be written leaves the recording as it is.
    Replay again;
    again.addFrames(2);
    again.record(CaptureArea{0, 0, 320, 240});
    setup.thumbnail = tempPath("missing/folder/thumb.bmp");
    again.drive(setup, nullptr);
    EXPECT_EQ(again.result, 1);
    EXPECT_EQ(again.timestamps(0x09).size(), 2u);
}

TEST(OutputDriver, ASinkWithoutPicturesStillGetsTheThumbnail) {
    Replay shown;
    shown.addFrames(12);
    shown.record();
    DriverSetup setup;
    shown.drive(setup, nullptr);
    ASSERT_EQ(shown.result, 1);
    const Bytes withPreviews = readWhole(setup.thumbnail);

    Replay blind;
    blind.addFrames(12);
    blind.record();
    blind.progress.shows = false;
    blind.drive(setup, nullptr);
    ASSERT_EQ(blind.result, 1);
    EXPECT_TRUE(blind.progress.previews.empty());
    EXPECT_EQ(blind.progress.percents.size(), 12u);
    EXPECT_EQ(readWhole(setup.thumbnail), withPreviews);
    EXPECT_EQ(blind.out.bytes, shown.out.bytes);
}

TEST(OutputDriver, PreviewSizeRules) {
    const int cases[][4] = {{320, 240, 240, 180}, {640, 360, 240, 135},  {100, 100, 100, 100},
                            {150, 50, 148, 50},   {1023, 768, 236, 180}, {3, 100, 0, 100},
                            {1000, 1, 240, 0}};
    for (const auto& c : cases) {
        int pw = -1;
        int ph = -1;
        previewSize(c[0], c[1], pw, ph);
        EXPECT_EQ(pw, c[2]) << c[0] << "x" << c[1];
        EXPECT_EQ(ph, c[3]) << c[0] << "x" << c[1];
    }
    // No preview at all for such an output; the FLV is written as usual.
    Replay run;
    run.addFrames(3);
    run.record();
    DriverSetup setup;
    setup.outWidth = 3;
    setup.outHeight = 100;
    run.drive(setup, nullptr);
    ASSERT_EQ(run.result, 1);
    EXPECT_TRUE(run.progress.previews.empty());
    EXPECT_EQ(run.progress.percents, (std::vector<uint32_t>{33, 66, 100}));
    EXPECT_EQ(run.timestamps(0x09).size(), 3u);
    EXPECT_FALSE(std::filesystem::exists(setup.thumbnail));
}

TEST(OutputDriver, FailsCleanlyAndStopsOnCancel) {
    DriverSetup setup;
    {
        Replay run;  // a spool without frames
        run.record();
        run.drive(setup, nullptr);
        EXPECT_EQ(run.result, 0);
        EXPECT_TRUE(run.progress.percents.empty());
    }
    {
        Replay run;  // an output larger than the capture
        run.addFrames(1);
        run.record();
        DriverSetup big = setup;
        big.outWidth = 201;
        run.drive(big, nullptr);
        EXPECT_EQ(run.result, 0);
        EXPECT_TRUE(run.out.bytes.empty());
    }
    {
        Replay run;  // sound asked for without a sound spool
        run.addFrames(1);
        run.record();
        DriverSetup sound = setup;
        sound.recordAudio = 1;
        run.drive(sound, nullptr);
        EXPECT_EQ(run.result, 0);
    }
    {
        Replay run;  // the output file fills up
        run.addFrames(5);
        run.record();
        run.out.writeBudget = 3000;
        run.drive(setup, nullptr);
        EXPECT_EQ(run.result, 0);
        EXPECT_LE(run.out.bytes.size(), 3000u);
    }
    {
        Replay run;  // the sound spool cannot be read
        run.addFrames(5);
        run.record();
        run.sound.bytes = tone(1000);
        run.sound.readBudget = 100;
        DriverSetup sound = setup;
        sound.recordAudio = 1;
        run.drive(sound, &run.sound);
        EXPECT_EQ(run.result, 0);
    }
    {
        Replay run;  // cancelled before the third frame
        run.addFrames(6);
        run.record();
        run.progress.cancelAt = 2;
        run.drive(setup, nullptr);
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.progress.asked, 3);
        EXPECT_EQ(run.progress.percents.size(), 2u);
        EXPECT_EQ(run.timestamps(0x09).size(), 2u);
        EXPECT_TRUE(run.out.open) << "the caller closes (and deletes) a cancelled file";
    }
}

TEST(OutputDriver, ASpoolThatStopsReadingKeepsTheFramesBeforeIt) {
    // The next frame is read while the current one is still being written; a frame that
    // cannot be read must still end the file after the last whole frame, whichever
    // thread read it.
    DriverSetup setup;
    Replay full;
    full.addFrames(8);
    full.record();
    const uint64_t readWhileRecording = full.spoolFile->readTotal;
    full.drive(setup, nullptr);
    ASSERT_EQ(full.result, 1);
    ASSERT_TRUE(full.parsed);
    const uint64_t spoolBytes = full.spoolFile->readTotal - readWhileRecording;
    std::vector<Bytes> fullVideo;
    for (const auto& tag : full.tags) {
        if (tag.type == 0x09) {
            fullVideo.push_back(tag.data);
        }
    }
    ASSERT_EQ(fullVideo.size(), 8u);
    size_t previous = 0;
    for (int k = 0; k < 10; ++k) {
        SCOPED_TRACE("spool readable for " + std::to_string(k) + "/10 of its bytes");
        Replay run;
        run.addFrames(8);
        run.record();
        run.spoolFile->readBudget = run.spoolFile->readTotal + spoolBytes * k / 10;
        run.drive(setup, nullptr);
        EXPECT_EQ(run.result, 0);
        ASSERT_TRUE(run.parsed);
        std::vector<Bytes> video;
        for (const auto& tag : run.tags) {
            if (tag.type == 0x09) {
                video.push_back(tag.data);
            }
        }
        ASSERT_LT(video.size(), 8u);
        EXPECT_GE(video.size(), previous);
        previous = video.size();
        for (size_t i = 0; i < video.size(); ++i) {
            EXPECT_EQ(video[i], fullVideo[i]) << "frame " << i;
        }
        EXPECT_EQ(run.progress.percents.size(), video.size());
    }
    EXPECT_GT(previous, 0u);
}

}  // namespace
}  // namespace pemlo
