// The FLV container: file header, the onMetaData script tag, the framing shared by
// every tag, and the final rewrite of the metadata. One FlvWriter per output file. It
// knows tags and metadata only: what goes into a video tag is the Screen Video
// encoder's (video_encoder.h), which reports each tag it has written.
#pragma once

#include <cstdint>

#include "flv/bit_writer.h"
#include "platform/file.h"

namespace pemlo {

inline constexpr int videoCodecId = 3;                // Screen Video
inline constexpr int audioCodecId = 1;                // ADPCM
inline constexpr int audioRateIndex = 2;              // 22 kHz
inline constexpr int audioPacketBytes = 512;          // code bytes per audio packet
inline constexpr int audioPacketMs = 46;              // whole milliseconds per packet (46.44 exact)
inline constexpr int audioPacketSamples = 1024;       // samples per packet
inline constexpr int audioSampleRate = 22050;         // samples per second
inline constexpr int maxFrameSide = 4095;             // the 12-bit size fields of Screen Video
inline constexpr uint32_t maxTagDataSize = 0xFFFFFF;  // the 24-bit size field

// Tag types.
inline constexpr uint8_t tagTypeAudio = 0x08;
inline constexpr uint8_t tagTypeVideo = 0x09;
inline constexpr uint8_t tagTypeScript = 0x12;

struct FlvWriter {
    uint32_t previousTagSize = 0;  // 11 + data size of the last tag written
    uint32_t videoTimestamp = 0;   // ms, timestamp of the next video tag
    uint32_t audioTimestamp = 0;   // ms, timestamp of the next audio tag
    uint32_t lastKeyframeTimestamp = 0;
    int hasAudio = 0;
    int frameWidth = 0;  // the video's size, for the metadata
    int frameHeight = 0;
    // Audio packets written so far; the next audio tag starts at the first sample
    // of packet audioPacketsWritten.
    uint64_t audioPacketsWritten = 0;
    BitWriter bitWriter;
    // Set by the first failed operation; every later operation fails at once, so a
    // failed file receives no further bytes.
    int failed = 0;
};

// Start time in whole milliseconds (rounded down) of audio packet `index`.
uint32_t audioPacketStartMs(uint64_t index);

// Writes the file header and a placeholder metadata tag. `file` is empty and at offset
// 0. Fails (0) with nothing written when the frame size is outside 1..4095.
int flvBegin(FlvWriter& w, File& file, int hasAudio, int width, int height);
// (Re)writes the metadata tag at offset 9 from the current counters, then returns to
// the end of the file.
int flvWriteMetadata(FlvWriter& w, File& file);
// One AMF0 ECMA array entry: u16 name length, name, 0x00, big-endian double.
int flvWriteNumberProperty(FlvWriter& w, File& file, const char* name, double value);
// Rewrites the metadata with the final values and closes the file.
int flvFinish(FlvWriter& w, File& file);

// Tag framing used by the video and audio tag writers. flvOpenTag writes the previous
// tag size and the `lead` bytes (the 11-byte header with a zero size plus the first
// body bytes), remembering where the tag starts; flvCloseTag patches the data size and
// moves to the end of the file. Both mark the writer failed on any short write.
int flvOpenTag(FlvWriter& w, File& file, const uint8_t* lead, uint32_t leadSize,
               uint64_t& tagStart);
int flvCloseTag(FlvWriter& w, File& file, uint8_t tagType, uint64_t tagStart);
// Writes all of `data` or marks the writer failed and returns 0.
int flvWriteAll(FlvWriter& w, File& file, const void* data, uint32_t size);
// The timestamp of the next video tag, in milliseconds.
uint32_t flvVideoTimestamp(const FlvWriter& w);
// Called once a video tag has been written in full: a keyframe's timestamp becomes the
// last keyframe's, and the next video tag comes `durationMs` later.
void flvNoteVideoTag(FlvWriter& w, bool keyframe, uint16_t durationMs);
// Fills the 11-byte tag header with a zero data size.
void flvFillTagHeader(uint8_t* header, uint8_t tagType, uint32_t timestamp);

}  // namespace pemlo
