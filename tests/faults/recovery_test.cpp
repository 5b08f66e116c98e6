// A recording that never finished (the process killed, the power gone) read back at the
// next start: every write of the recording goes to a journal, so the spools as a cut at
// any byte leaves them can be rebuilt, and what is recovered is compared with what the
// recording held up to the cut.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>

#include "capture/sound_notes_file.h"
#include "capture/spool_index.h"
#include "tests/faults/fault_rig.h"

namespace pemlo {
namespace {

using testing::Bytes;
using testing::FakeScreen;
using testing::MemoryFile;
using testing::QuietProgress;
using testing::ScreenFrame;

enum FileId { kFrames, kIndex, kSound, kNotes, kFileCount };

// Every write of the four files, in the order they were made.
struct Journal {
    std::vector<std::pair<int, Bytes>> writes;
};

class JournalFile final : public File {
  public:
    JournalFile(MemoryFile& store, Journal& journal, int id)
        : store_(store), journal_(journal), id_(id) {}
    uint32_t write(const void* data, uint32_t count) override {
        const auto* p = static_cast<const uint8_t*>(data);
        journal_.writes.emplace_back(id_, Bytes(p, p + count));
        return store_.write(data, count);
    }
    int64_t read(void* data, uint32_t count) override { return store_.read(data, count); }
    bool seek(uint64_t offset) override { return store_.seek(offset); }
    bool seekEnd() override { return store_.seekEnd(); }
    int64_t tell() override { return store_.tell(); }
    bool close() override { return store_.close(); }
    bool isOpen() const override { return store_.isOpen(); }

  private:
    MemoryFile& store_;
    Journal& journal_;
    int id_;
};

// A MemoryFile handed to code that takes ownership of its file.
FilePtr viewOf(MemoryFile& store) {
    static Journal ignored;
    ignored.writes.clear();
    return std::make_unique<JournalFile>(store, ignored, -1);
}

constexpr uint16_t kPeriodMs = 100;

// The fault rig's recording of `frames` frames with sound, stopped or not.
struct Take {
    explicit Take(int frames)
        : screen(testing::kRigScreenW, testing::kRigScreenH, testing::kRigPitch) {
        for (int i = 0; i < frames; ++i) {
            ScreenFrame frame;
            frame.pixels = testing::rigScreen(i);
            frame.cursor = i % 2 == 0;
            frame.cursorX = 10 + i;
            frame.cursorY = 5 + i;
            frame.durationMs = kPeriodMs;
            screen.frames.push_back(std::move(frame));
        }
    }

    void record() {
        auto view = [this](int id) {
            return std::make_unique<JournalFile>(files[id], journal, id);
        };
        ASSERT_EQ(spoolOpenFiles(spool, screen, view(kFrames), view(kIndex),
                                 CaptureArea{0, 0, testing::kRigScreenW, testing::kRigScreenH},
                                 "the recording's own words"),
                  1);
        ASSERT_EQ(startSoundRecording(recorder, device, view(kSound), view(kNotes)), 1);
        uint32_t sample = 0;
        uint32_t sent = 0;
        int buffer = 0;
        const auto frames = static_cast<uint32_t>(screen.frames.size());
        for (uint32_t i = 0; i < frames; ++i) {
            ASSERT_EQ(spoolRecordFrame(spool), 1);
            device.clockMs = screen.nowMs() + 30;
            // A buffer comes back each time 10,240 bytes have been recorded; the sound
            // runs a little ahead of the picture.
            const uint32_t soFar = (i + 2) * kPeriodMs * kSoundSampleRate / 1000 * 2;
            while (sent + kSoundBufferBytes <= soFar) {
                testing::fillTone(device, buffer, kSoundBufferBytes, sample);
                ASSERT_EQ(onSoundBufferDone(recorder, device.notice(buffer)), 1);
                sent += kSoundBufferBytes;
                buffer = (buffer + 1) % kSoundBufferCount;
            }
        }
    }

    // The normal end: the stop (the device hands its buffers back empty), then the
    // output phase.
    Bytes stopAndMakeVideo(const std::string& thumbnail) {
        screen.stopped = true;
        EXPECT_EQ(stopSoundRecording(recorder), 1);
        for (int k = 0; k < kSoundBufferCount; ++k) {
            device.recorded[k] = 0;
            EXPECT_EQ(onSoundBufferDone(recorder, device.notice(k)), 1);
        }
        return makeVideo(spool, recorder, thumbnail);
    }

    static Bytes makeVideo(FrameSpool& frames, SoundRecorder& sound, const std::string& thumbnail) {
        soundSetVideoOrigin(sound, spoolFirstGrabMs(frames));
        EXPECT_EQ(soundReadyForOutput(sound, 0), 1);
        MemoryFile flv;
        QuietProgress progress;
        FlvWriter writer;
        OutputJob job;
        job.capture = CaptureArea{0, 0, testing::kRigScreenW, testing::kRigScreenH};
        job.outputWidth = testing::kRigOutputW;
        job.outputHeight = testing::kRigOutputH;
        job.recordAudio = 1;
        job.soundSpool = soundSpoolFile(sound);
        job.thumbnailPath = thumbnail;
        EXPECT_EQ(runOutputDriver(job, frames, writer, flv, progress), 1);
        return flv.bytes;
    }

    FakeScreen screen;
    MemorySoundDevice device;
    FrameSpool spool;
    SoundRecorder recorder;
    MemoryFile files[kFileCount];
    Journal journal;
};

// The four files as a cut after `bytes` bytes of the journal leaves them, with what a
// reader must find whole: the frames whose index record is complete and the sound up
// to the last complete note.
struct Cut {
    Bytes files[kFileCount];
    int wholeFrames = 0;
    uint64_t wholeSoundBytes = 0;
    bool indexHeader = false;
    bool notesMagic = false;
};

Cut cutAt(const Journal& journal, size_t bytes) {
    Cut cut;
    size_t left = bytes;
    for (const auto& [id, data] : journal.writes) {
        const size_t n = std::min(left, data.size());
        Bytes& file = cut.files[id];
        const bool firstWrite = file.empty();
        file.insert(file.end(), data.begin(), data.begin() + static_cast<long>(n));
        left -= n;
        if (n == data.size()) {
            if (id == kIndex && firstWrite) {
                cut.indexHeader = true;
            } else if (id == kIndex) {
                ++cut.wholeFrames;
            } else if (id == kNotes && firstWrite) {
                cut.notesMagic = true;
            } else if (id == kNotes) {
                cut.wholeSoundBytes = 2 * (getLe32(&data[8]) | uint64_t{getLe32(&data[12])} << 32);
            }
        }
        if (left == 0) {
            break;
        }
    }
    return cut;
}

MemoryFile memoryOf(const Bytes& bytes) {
    MemoryFile file;
    file.bytes = bytes;
    return file;
}

// What a reader takes from the files: the frames (each as its duration, cursor and
// tiles, all in one string of bytes) and the sound.
struct Recovered {
    int opened = 0;
    int frames = -1;
    Bytes frameBytes;
    int soundOpened = 0;
    Bytes sound;
};

Recovered recover(const Bytes (&files)[kFileCount], bool readFrames) {
    Recovered out;
    MemoryFile frames = memoryOf(files[kFrames]);
    MemoryFile index = memoryOf(files[kIndex]);
    MemoryFile sound = memoryOf(files[kSound]);
    MemoryFile notes = memoryOf(files[kNotes]);
    FrameSpool spool;
    std::string description;
    out.opened = spoolOpenRecorded(spool, viewOf(frames), index, kPeriodMs, description);
    if (out.opened == 1) {
        EXPECT_EQ(description, "the recording's own words");
        out.frames = spoolRecordedFrames(spool);
        SpoolFrame frame;
        for (int i = 0; readFrames && i < out.frames; ++i) {
            EXPECT_EQ(spoolReadFrame(spool, frame), 1);
            EXPECT_EQ(frame.last, i + 1 == out.frames ? 1 : 0);
            out.frameBytes.push_back(static_cast<uint8_t>(frame.durationMs));
            out.frameBytes.push_back(static_cast<uint8_t>(frame.cursorPresent));
            out.frameBytes.push_back(static_cast<uint8_t>(frame.cursorX));
            for (uint32_t t = 0; t < frame.tileCount; ++t) {
                const SpoolTile& tile = frame.tiles[t];
                out.frameBytes.insert(out.frameBytes.end(), tile.pixels,
                                      tile.pixels + tile.width * tile.height * 3);
            }
        }
    }
    SoundRecorder recorder;
    out.soundOpened = soundOpenRecorded(recorder, viewOf(sound), notes);
    if (out.soundOpened == 1) {
        File* file = soundSpoolFile(recorder);
        uint8_t chunk[4096];
        int64_t got = 0;
        while ((got = file->read(chunk, sizeof chunk)) > 0) {
            out.sound.insert(out.sound.end(), chunk, chunk + got);
        }
        EXPECT_EQ(got, 0);
    }
    closeSoundSpool(recorder);
    captureRelease(spool);
    return out;
}

std::string thumbnailPath(const char* name) {
    return ::testing::TempDir() + "pemlo_recovery_" + std::to_string(getpid()) + name;
}

class Recovery : public ::testing::Test {
  protected:
    void SetUp() override { take_.record(); }
    void TearDown() override { std::filesystem::remove(thumbnailPath("a.bmp")); }

    // The whole take read back, and the byte count of the journal.
    Bytes whole(int id) const { return take_.files[id].bytes; }
    size_t journalBytes() const {
        size_t n = 0;
        for (const auto& write : take_.journal.writes) {
            n += write.second.size();
        }
        return n;
    }
    Take take_{testing::kRigFrames};
};

TEST_F(Recovery, ACutAtAnyByteGivesExactlyTheWholeFramesAndSoundBeforeIt) {
    const Bytes files[kFileCount] = {whole(kFrames), whole(kIndex), whole(kSound), whole(kNotes)};
    const Recovered all = recover(files, true);
    ASSERT_EQ(all.frames, testing::kRigFrames);
    ASSERT_EQ(all.sound, whole(kSound));

    // Every byte after the record of the fourth-last frame; before it, every 61st byte
    // and the bytes around the edge of every write.
    const size_t total = journalBytes();
    size_t tailStart = 0;
    std::vector<size_t> edges;
    size_t offset = 0;
    int records = 0;
    for (const auto& [id, data] : take_.journal.writes) {
        offset += data.size();
        edges.push_back(offset);
        if (id == kIndex && data.size() == kSpoolRecordBytes &&
            ++records == testing::kRigFrames - 3) {
            tailStart = offset;
        }
    }
    ASSERT_GT(tailStart, 0u);
    std::vector<size_t> cuts;
    for (size_t c = 0; c < tailStart; c += 61) {
        cuts.push_back(c);
    }
    for (const size_t e : edges) {
        for (size_t c = e > 2 ? e - 2 : 0; c <= e + 2 && c <= total; ++c) {
            cuts.push_back(c);
        }
    }
    // Inside the sound's own bytes every cut is alike: every 13th of those.
    offset = 0;
    for (const auto& [id, data] : take_.journal.writes) {
        for (size_t k = 0; k < data.size(); k += id == kSound ? 13 : 1) {
            if (offset + k >= tailStart) {
                cuts.push_back(offset + k);
            }
        }
        offset += data.size();
    }
    cuts.push_back(total);
    int framesSeen = -1;
    for (const size_t c : cuts) {
        const Cut cut = cutAt(take_.journal, c);
        const bool atEdge = std::binary_search(edges.begin(), edges.end(), c);
        const Recovered r = recover(cut.files, atEdge || cut.wholeFrames != framesSeen);
        SCOPED_TRACE(::testing::Message() << "cut after byte " << c << " of " << total);
        ASSERT_EQ(r.opened, cut.indexHeader ? 1 : 0);
        ASSERT_EQ(r.soundOpened, cut.notesMagic ? 1 : 0);
        if (r.opened == 1) {
            ASSERT_EQ(r.frames, cut.wholeFrames);
            if (atEdge || cut.wholeFrames != framesSeen) {
                // The first frames of the whole take (every frame lasts one period,
                // which is also what the last frame recovered is given).
                ASSERT_LE(r.frameBytes.size(), all.frameBytes.size());
                ASSERT_TRUE(
                    std::equal(r.frameBytes.begin(), r.frameBytes.end(), all.frameBytes.begin()));
                ASSERT_EQ(r.frameBytes.size() == all.frameBytes.size(),
                          cut.wholeFrames == testing::kRigFrames);
            }
            framesSeen = cut.wholeFrames;
        }
        if (r.soundOpened == 1) {
            ASSERT_EQ(r.sound.size(), cut.wholeSoundBytes);
            ASSERT_TRUE(std::equal(r.sound.begin(), r.sound.end(), whole(kSound).begin()));
        }
    }
}

TEST_F(Recovery, GarbageOrARepeatedTailAddsNothing) {
    Bytes files[kFileCount] = {whole(kFrames), whole(kIndex), whole(kSound), whole(kNotes)};
    // Garbage after every file, as a power cut can leave blocks the system had allocated.
    Bytes garbled[kFileCount];
    for (int id = 0; id < kFileCount; ++id) {
        garbled[id] = files[id];
        for (int k = 0; k < 300; ++k) {
            garbled[id].push_back(static_cast<uint8_t>(k * 113 + id));
        }
    }
    Recovered r = recover(garbled, true);
    EXPECT_EQ(r.frames, testing::kRigFrames);
    EXPECT_EQ(r.sound, whole(kSound));
    // The last frame, note and sound written once more.
    Bytes repeated[kFileCount];
    for (int id = 0; id < kFileCount; ++id) {
        repeated[id] = files[id];
    }
    const auto& writes = take_.journal.writes;
    for (size_t k = writes.size(); k-- > 0;) {
        if (writes[k].first == kIndex) {
            for (size_t j = k; j-- > 0 && writes[j].first == kFrames;) {
                repeated[kFrames].insert(repeated[kFrames].end(), writes[j].second.begin(),
                                         writes[j].second.end());
            }
            repeated[kIndex].insert(repeated[kIndex].end(), writes[k].second.begin(),
                                    writes[k].second.end());
            break;
        }
    }
    const size_t n = repeated[kNotes].size();
    repeated[kNotes].insert(repeated[kNotes].end(),
                            files[kNotes].begin() + long(n - kSoundNoteBytes), files[kNotes].end());
    r = recover(repeated, true);
    EXPECT_EQ(r.frames, testing::kRigFrames);
    EXPECT_EQ(r.sound, whole(kSound));
}

TEST_F(Recovery, ARecordOnDiskWhoseBlocksDidNotReachItIsNotWhole) {
    // A power cut may leave the end of a file at its new length but full of zeros.
    Bytes files[kFileCount] = {whole(kFrames), whole(kIndex), whole(kSound), whole(kNotes)};
    std::fill(files[kFrames].end() - 50, files[kFrames].end(), 0);
    std::fill(files[kSound].end() - 50, files[kSound].end(), 0);
    const Recovered r = recover(files, true);
    // Frame 11 repeats frame 10 without a cursor and has no block of its own: the zeros
    // fall in frame 10's.
    EXPECT_EQ(r.frames, 10);
    EXPECT_EQ(r.sound.size(), whole(kSound).size() - kSoundBufferBytes);
}

TEST_F(Recovery, AnIndexWithOnlyItsHeaderHoldsNoFrame) {
    Bytes files[kFileCount] = {Bytes(), take_.journal.writes[0].second, Bytes(), Bytes()};
    ASSERT_EQ(take_.journal.writes[0].first, kIndex);
    const Recovered r = recover(files, true);
    EXPECT_EQ(r.opened, 1);
    EXPECT_EQ(r.frames, 0);
    EXPECT_EQ(r.soundOpened, 0);
    // A damaged header is no recording at all.
    files[kIndex][20] ^= 1;
    EXPECT_EQ(recover(files, true).opened, 0);
}

TEST_F(Recovery, AChecksumFailingInTheMiddleEndsTheRecordingThereWithoutSkippingAhead) {
    // Frame 5's frame block, frame 5's record, and the sound of the third buffer.
    size_t blockAt = 0;
    size_t recordAt = 0;
    int records = 0;
    for (const auto& [id, data] : take_.journal.writes) {
        if (id == kIndex && data.size() == kSpoolRecordBytes && records++ == 5) {
            break;
        }
        if (id == kFrames) {
            blockAt += data.size();
        }
        if (id == kIndex) {
            recordAt += data.size();
        }
    }
    {
        Bytes files[kFileCount] = {whole(kFrames), whole(kIndex), whole(kSound), whole(kNotes)};
        files[kFrames][blockAt - 1] ^= 0x40;  // the last byte of frame 5's blocks
        EXPECT_EQ(recover(files, true).frames, 5);
    }
    {
        Bytes files[kFileCount] = {whole(kFrames), whole(kIndex), whole(kSound), whole(kNotes)};
        files[kIndex][recordAt + 16] ^= 1;  // frame 5's grab time
        EXPECT_EQ(recover(files, true).frames, 5);
    }
    {
        Bytes files[kFileCount] = {whole(kFrames), whole(kIndex), whole(kSound), whole(kNotes)};
        files[kSound][2 * kSoundBufferBytes + 7] ^= 1;
        const Recovered r = recover(files, true);
        EXPECT_EQ(r.sound.size(), 2 * kSoundBufferBytes);
        EXPECT_EQ(r.frames, testing::kRigFrames);
    }
}

TEST(RecoveredVideo, IsByteForByteTheVideoOfTheSameRecordingStoppedAtThatFrame) {
    const std::string thumbnail = thumbnailPath("b.bmp");
    for (const int frames : {1, 4, 9}) {
        SCOPED_TRACE(frames);
        Take take(frames);
        take.record();
        // The process dies here: the files are what it wrote.
        Bytes files[kFileCount];
        for (int id = 0; id < kFileCount; ++id) {
            files[id] = take.files[id].bytes;
        }
        const Bytes stopped = take.stopAndMakeVideo(thumbnail);

        MemoryFile frameFile = memoryOf(files[kFrames]);
        MemoryFile index = memoryOf(files[kIndex]);
        MemoryFile sound = memoryOf(files[kSound]);
        MemoryFile notes = memoryOf(files[kNotes]);
        FrameSpool spool;
        SoundRecorder recorder;
        std::string description;
        ASSERT_EQ(spoolOpenRecorded(spool, viewOf(frameFile), index, kPeriodMs, description), 1);
        ASSERT_EQ(soundOpenRecorded(recorder, viewOf(sound), notes), 1);
        const Bytes recovered = Take::makeVideo(spool, recorder, thumbnail);
        std::vector<testing::FlvTag> tags;
        uint8_t flags = 0;
        ASSERT_TRUE(testing::readFlvTags(recovered, tags, flags));
        EXPECT_EQ(std::count_if(tags.begin(), tags.end(),
                                [](const testing::FlvTag& t) { return t.type == 9; }),
                  frames);
        EXPECT_EQ(std::count_if(tags.begin(), tags.end(),
                                [](const testing::FlvTag& t) { return t.type == 8; }) > 0,
                  frames > 1);
        EXPECT_EQ(recovered, stopped);
        closeSoundSpool(recorder);
        captureRelease(spool);
    }
    std::filesystem::remove(thumbnail);
}

}  // namespace
}  // namespace pemlo
