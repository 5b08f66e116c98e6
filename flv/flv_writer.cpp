#include "flv/flv_writer.h"

#include <cstring>

#include "platform/byte_order.h"

namespace pemlo {

namespace {

int fail(FlvWriter& w) {
    w.failed = 1;
    return 0;
}

}  // namespace

uint32_t audioPacketStartMs(uint64_t index) {
    return static_cast<uint32_t>(index * audioPacketSamples * 1000 / audioSampleRate);
}

int flvWriteAll(FlvWriter& w, File& file, const void* data, uint32_t size) {
    if (w.failed) {
        return 0;
    }
    if (file.write(data, size) != size) {
        return fail(w);
    }
    return 1;
}

uint32_t flvVideoTimestamp(const FlvWriter& w) {
    return w.videoTimestamp;
}

void flvNoteVideoTag(FlvWriter& w, bool keyframe, uint16_t durationMs) {
    if (keyframe) {
        w.lastKeyframeTimestamp = w.videoTimestamp;
    }
    w.videoTimestamp += durationMs;
}

void flvFillTagHeader(uint8_t* header, uint8_t tagType, uint32_t timestamp) {
    header[0] = tagType;
    header[1] = header[2] = header[3] = 0;
    putBe24(header + 4, timestamp);
    header[7] = static_cast<uint8_t>(timestamp >> 24);  // the timestamp's extension
    header[8] = header[9] = header[10] = 0;
}

int flvOpenTag(FlvWriter& w, File& file, const uint8_t* lead, uint32_t leadSize,
               uint64_t& tagStart) {
    uint8_t size[4];
    putBe32(size, w.previousTagSize);
    if (!flvWriteAll(w, file, size, 4)) {
        return 0;
    }
    const int64_t at = file.tell();
    if (at < 0) {
        return fail(w);
    }
    tagStart = static_cast<uint64_t>(at);
    return flvWriteAll(w, file, lead, leadSize);
}

int flvCloseTag(FlvWriter& w, File& file, uint8_t tagType, uint64_t tagStart) {
    if (w.failed) {
        return 0;
    }
    const int64_t end = file.tell();
    if (end < 0 || static_cast<uint64_t>(end) < tagStart + 11) {
        return fail(w);
    }
    const uint64_t dataSize = static_cast<uint64_t>(end) - tagStart - 11;
    if (dataSize > maxTagDataSize) {
        // The writers check their sizes before writing; this is the last guard.
        return fail(w);
    }
    uint8_t patch[4];
    patch[0] = tagType;
    putBe24(patch + 1, static_cast<uint32_t>(dataSize));
    if (!file.seek(tagStart)) {
        return fail(w);
    }
    if (!flvWriteAll(w, file, patch, 4)) {
        return 0;
    }
    if (!file.seekEnd()) {
        return fail(w);
    }
    const int64_t fileEnd = file.tell();
    if (fileEnd != end) {
        return fail(w);
    }
    w.previousTagSize = static_cast<uint32_t>(11 + dataSize);
    return 1;
}

int flvBegin(FlvWriter& w, File& file, int hasAudio, int width, int height) {
    if (width < 1 || width > maxFrameSide || height < 1 || height > maxFrameSide ||
        (hasAudio != 0 && hasAudio != 1)) {
        return 0;
    }
    w = FlvWriter{};
    w.hasAudio = hasAudio;
    w.frameWidth = width;
    w.frameHeight = height;

    const uint8_t header[9] = {'F', 'L', 'V', 1, static_cast<uint8_t>((hasAudio << 2) | 1),
                               0,   0,   0,   9};
    if (!flvWriteAll(w, file, header, sizeof header)) {
        return 0;
    }
    return flvWriteMetadata(w, file);
}

int flvWriteNumberProperty(FlvWriter& w, File& file, const char* name, double value) {
    const size_t length = std::strlen(name);
    if (length > 0xFFFF) {
        return fail(w);
    }
    uint8_t lengthBytes[2];
    putBe16(lengthBytes, static_cast<uint16_t>(length));
    uint64_t bits = 0;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    uint8_t number[8];
    putBe64(number, bits);
    const uint8_t typeNumber = 0x00;
    return flvWriteAll(w, file, lengthBytes, 2) &&
           flvWriteAll(w, file, name, static_cast<uint32_t>(length)) &&
           flvWriteAll(w, file, &typeNumber, 1) && flvWriteAll(w, file, number, 8);
}

int flvWriteMetadata(FlvWriter& w, File& file) {
    if (w.failed) {
        return 0;
    }
    if (!file.seek(9)) {
        return fail(w);
    }
    uint8_t lead[4 + 11] = {};
    flvFillTagHeader(lead + 4, tagTypeScript, 0);
    if (!flvWriteAll(w, file, lead, sizeof lead)) {
        return 0;
    }
    const uint8_t start[18] = {
        0x02, 0x00, 0x0A, 'o', 'n',  'M',  'e',  't',  'a',
        'D',  'a',  't',  'a', 0x08, 0x00, 0x00, 0x00, static_cast<uint8_t>(w.hasAudio ? 10 : 6)};
    if (!flvWriteAll(w, file, start, sizeof start)) {
        return 0;
    }
    const double seconds = w.videoTimestamp / 1000.0;
    int ok = flvWriteNumberProperty(w, file, "duration", seconds) &&
             flvWriteNumberProperty(w, file, "lasttimestamp", seconds) &&
             flvWriteNumberProperty(w, file, "lastkeyframetimestamp",
                                    static_cast<double>(w.lastKeyframeTimestamp)) &&
             flvWriteNumberProperty(w, file, "videocodecid", videoCodecId) &&
             flvWriteNumberProperty(w, file, "width", w.frameWidth) &&
             flvWriteNumberProperty(w, file, "height", w.frameHeight);
    if (ok && w.hasAudio) {
        ok = flvWriteNumberProperty(w, file, "audiocodecid", audioCodecId) &&
             flvWriteNumberProperty(w, file, "audiosamplerate", audioSampleRate) &&
             flvWriteNumberProperty(w, file, "audiosamplesize", 16.0) &&
             flvWriteNumberProperty(w, file, "stereo", 0.0);
    }
    const uint8_t objectEnd[3] = {0x00, 0x00, 0x09};
    if (!ok || !flvWriteAll(w, file, objectEnd, 3)) {
        return 0;
    }
    // The metadata tag starts at offset 13; its data at 24.
    const int64_t end = file.tell();
    if (end < 24) {
        return fail(w);
    }
    const auto dataSize = static_cast<uint32_t>(end - 24);
    uint8_t patch[4];
    patch[0] = tagTypeScript;
    putBe24(patch + 1, dataSize);
    if (!file.seek(13)) {
        return fail(w);
    }
    if (!flvWriteAll(w, file, patch, 4)) {
        return 0;
    }
    if (!file.seekEnd()) {
        return fail(w);
    }
    // previousTagSize is the size of the last tag in the file: the metadata tag only
    // while no other tag follows it.
    if (w.previousTagSize == 0) {
        w.previousTagSize = 11 + dataSize;
    }
    return 1;
}

int flvFinish(FlvWriter& w, File& file) {
    if (!flvWriteMetadata(w, file)) {
        return 0;
    }
    if (!file.close()) {
        return fail(w);
    }
    return 1;
}

}  // namespace pemlo
