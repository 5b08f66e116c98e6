// The body of the recovered recording fuzz target: what a start of the program does with
// the files a recording left behind (the frame index and spool, the sound notes and
// spool), from reading them to the finished video. Shared by the libFuzzer program and
// the regression suite, as the bodies in fuzz_bodies.h are.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/recovery.h"
#include "capture/frame_spool.h"
#include "capture/sound_notes_file.h"
#include "capture/sound_recorder.h"
#include "capture/spool_index.h"
#include "flv/flv_writer.h"
#include "process/output_driver.h"
#include "tests/fuzz/fuzz_bodies.h"
#include "tests/support/flv_tags.h"
#include "tests/support/memory_file.h"

namespace pemlo::fuzz {

// Flags of the input's first byte.
constexpr uint8_t kMendFrameCrcs = 1;
constexpr uint8_t kMendSoundCrcs = 2;
// Pictures up to this many pixels are made into a video; larger ones would only test
// how much the allocator hands out.
constexpr int64_t kRecoveredPictureLimit = 256 * 256;

struct RecoveredFiles {
    std::vector<uint8_t> index, notes, sound, spool;
};

inline std::unique_ptr<testing::MemoryFile> memoryFileOf(const std::vector<uint8_t>& bytes) {
    auto file = std::make_unique<testing::MemoryFile>();
    file->bytes = bytes;
    return file;
}

inline uint32_t crcOfBytes(const uint8_t* data, size_t size) {
    return static_cast<uint32_t>(crc32(0, size > 0 ? data : nullptr, static_cast<uInt>(size)));
}

// Sets the crc32 of the index header and of every record whose blocks lie in the spool
// to what the writer would have stored.
inline void mendFrameCrcs(RecoveredFiles& f) {
    if (f.index.size() < kSpoolHeaderFixedBytes) {
        return;
    }
    const uint64_t headerSize = kSpoolHeaderFixedBytes + uint64_t{getLe32(&f.index[24])};
    if (headerSize + 4 > f.index.size()) {
        return;
    }
    putLe32(&f.index[headerSize], crcOfBytes(f.index.data(), headerSize));
    uint64_t blocks = 0;
    for (uint64_t at = headerSize + 4; at + kSpoolRecordBytes <= f.index.size();
         at += kSpoolRecordBytes) {
        FrameRecord record;
        uint32_t number = 0;
        uint32_t crc = 0;
        spoolDecodeRecord(&f.index[at], record, number, crc);
        const uint64_t cursorSize =
            record.cursorBlockSize > 0 ? static_cast<uint64_t>(record.cursorBlockSize) : 0;
        if (record.frameBlockSize < 0 ||
            blocks + cursorSize + static_cast<uint64_t>(record.frameBlockSize) > f.spool.size()) {
            return;
        }
        const uint8_t* cursor = f.spool.data() + blocks;
        const uint8_t* frame = cursor + cursorSize;
        const auto frameSize = static_cast<uint32_t>(record.frameBlockSize);
        crc = spoolRecordCrc(record, number, cursorSize > 0 ? cursor : nullptr,
                             static_cast<uint32_t>(cursorSize), frameSize > 0 ? frame : nullptr,
                             frameSize);
        putLe32(&f.index[at + 28], crc);
        blocks += cursorSize + frameSize;
    }
}

// Sets the crc32s of every sound note (of the sound it adds, when that lies in the spool
// and is no more than a buffer, and of the note itself).
inline void mendSoundCrcs(RecoveredFiles& f) {
    uint64_t bytes = 0;
    for (size_t at = 8; at + kSoundNoteBytes <= f.notes.size(); at += kSoundNoteBytes) {
        uint8_t* note = &f.notes[at];
        const uint64_t end = (getLe32(note + 8) | uint64_t{getLe32(note + 12)} << 32) * 2;
        if (end >= bytes && end - bytes <= kSoundBufferBytes && end <= f.sound.size()) {
            putLe32(note + 16, crcOfBytes(f.sound.data() + bytes, end - bytes));
            bytes = end;
        }
        putLe32(note + 20, crcOfBytes(note, 20));
    }
}

class SilentProgress final : public ProgressSink {
  public:
    void showPreview(const BitmapInfoHeader& /*info*/, const uint8_t* /*pixels*/) override {}
    bool showsPreview() const override { return false; }
    void setPercent(uint32_t percent) override { check(percent <= 100, "a percentage"); }
    bool cancelRequested() override { return false; }
};

// Input: a flags byte (kMendFrameCrcs, kMendSoundCrcs), the lengths of the frame index,
// the sound notes and the sound spool (16 bits each), then those three and the frame
// spool. Returns the number of video tags of the video made, 0 when none was made of a
// recording that opened, and -1 when it did not open.
inline int recoveredRecording(const uint8_t* data, size_t size) {
    Cursor in(data, size);
    const uint32_t flags = in.take(1);
    const uint32_t lengths[3] = {in.take(2), in.take(2), in.take(2)};
    RecoveredFiles files;
    std::vector<uint8_t>* parts[3] = {&files.index, &files.notes, &files.sound};
    const uint8_t* at = in.rest();
    size_t left = in.restSize();
    for (int i = 0; i < 3; ++i) {
        const size_t n = lengths[i] < left ? lengths[i] : left;
        parts[i]->assign(at, at + n);
        at += n;
        left -= n;
    }
    files.spool.assign(at, at + left);
    if ((flags & kMendFrameCrcs) != 0) {
        mendFrameCrcs(files);
    }
    if ((flags & kMendSoundCrcs) != 0) {
        mendSoundCrcs(files);
    }

    // A description that reads is written back the same.
    testing::MemoryFile index;
    index.bytes = files.index;
    std::string text;
    RecordingDescription parsed;
    if (spoolReadDescription(index, text) == 1 && parseRecordingDescription(text, parsed)) {
        RecordingDescription again;
        check(parseRecordingDescription(describeRecording(parsed), again) && again == parsed,
              "a description reads back as it was written");
    }

    FrameSpool spool;
    RecordingDescription d;
    if (!openRecoveredRecording(spool, memoryFileOf(files.spool), index, d)) {
        SpoolFrame frame;
        check(spoolReadFrame(spool, frame) == 0, "a recording that did not open cannot be read");
        return -1;
    }
    const CaptureArea area = spoolArea(spool);
    check(spoolRecordedFrames(spool) >= 1, "an opened recording has a frame");
    check(area.left == d.captureLeft && area.top == d.captureTop && area.width == d.captureWidth &&
              area.height == d.captureHeight,
          "the frames show the rectangle the description names");
    if (int64_t{area.width} * area.height > kRecoveredPictureLimit) {
        captureRelease(spool);
        return 0;
    }

    // As the program does: sound that cannot be read back leaves a video without sound.
    SoundRecorder sound;
    int recordAudio = d.recordAudio;
    testing::MemoryFile notes;
    notes.bytes = files.notes;
    if (recordAudio == 1) {
        if (soundOpenRecorded(sound, memoryFileOf(files.sound), notes) == 1) {
            soundSetVideoOrigin(sound, spoolFirstGrabMs(spool));
            check(soundReadyForOutput(sound, 0) == 1, "recovered sound is ready at once");
        } else {
            recordAudio = 0;
        }
    }
    OutputJob job;
    job.capture = area;
    job.outputWidth = d.outputWidth;
    job.outputHeight = d.outputHeight;
    job.recordAudio = recordAudio;
    job.soundSpool = recordAudio == 1 ? soundSpoolFile(sound) : nullptr;
    job.threads = 1;
    const int32_t frames = spoolRecordedFrames(spool);
    FlvWriter writer;
    testing::MemoryFile out;
    SilentProgress progress;
    const int result = runOutputDriver(job, spool, writer, out, progress);
    captureRelease(spool);
    closeSoundSpool(sound);
    check(result == 0 || result == 1, "the output phase succeeds or fails");
    if (result != 1) {
        return 0;
    }
    std::vector<testing::FlvTag> tags;
    uint8_t flvFlags = 0;
    check(testing::readFlvTags(out.bytes, tags, flvFlags, false), "the video's framing adds up");
    int video = 0;
    uint32_t lastVideo = 0;
    for (const testing::FlvTag& tag : tags) {
        check(tag.type == 8 || tag.type == 9 || tag.type == 18, "only sound, video and metadata");
        check(tag.type != 8 || recordAudio == 1, "sound only when it was recorded");
        if (tag.type == 9) {
            check(video == 0 || tag.timestamp >= lastVideo, "video times never go back");
            lastVideo = tag.timestamp;
            ++video;
        }
    }
    check(video == frames, "every whole frame becomes a video tag");
    return video;
}

}  // namespace pemlo::fuzz
