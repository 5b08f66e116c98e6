// FLV audio tags of IMA ADPCM packets (sound format 1, 22 kHz, 16-bit, mono).
#pragma once

#include <cstdint>

#include "flv/flv_writer.h"

namespace pemlo {

struct AudioPackets;

// Writes `count` packets as one audio tag at the start time of its first sample. Each
// packet is its first sample (2 bytes, low byte first), its step index (1 byte, sent
// as at most 63) and 512 code bytes holding the codes of the samples after the first.
// `lastPacketSamples` (1..1024) is the number of samples of the last packet; only the
// final packet of a recording can be short. With hasAudio 0 it writes nothing and
// returns 1.
int flvWriteAudioTag(FlvWriter& w, File& file, int count, const uint8_t* firstSample,
                     const uint8_t* stepIndex, const uint8_t* codes,
                     int lastPacketSamples = audioPacketSamples);
// Writes packet `index` of what encodeDueAudio produced as one tag.
int flvWriteAudioPacket(FlvWriter& w, File& file, const AudioPackets& packets, int index);

}  // namespace pemlo
