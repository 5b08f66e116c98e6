// Reads the sound spool and encodes the packets that have fallen due by the end of
// each video frame.
#pragma once

#include <cstdint>
#include <memory>

#include "flv/adpcm_encoder.h"
#include "platform/file.h"

namespace pemlo {

inline constexpr int audioReadBytes = 2048;

// The packets of one call, in three parallel arrays: packet j's first sample at 2j
// (low byte first), its step index at j, its codes at 512j. The caller keeps this
// between calls; encodeDueAudio grows it as needed.
struct AudioPackets {
    std::unique_ptr<uint8_t[]> firstSamples;
    std::unique_ptr<uint8_t[]> stepIndices;
    std::unique_ptr<uint8_t[]> codes;
    uint32_t capacity = 0;
    int count = 0;  // packets produced by the last call
    // Samples in the last packet of the call: 1,024, or fewer for the final, short
    // block of the spool.
    int lastPacketSamples = 1024;
};

struct AudioPacer {
    uint64_t videoTime = 0;    // ms, sum of the frame durations handed in
    uint64_t packetsDone = 0;  // packets encoded so far
    int started = 0;           // the spool has been rewound
    std::unique_ptr<uint8_t[]> readBuffer;
    AdpcmState state;
};

// Adds `durationMs` to the video clock and encodes every packet whose first sample
// starts no later than the end of the frame. Packet k starts at
// floor(k x 1024 x 1000 / 22050) ms. The first call rewinds `spool`. An empty read ends
// the sound (endOfSound = 1); a final block of 1..2,047 bytes is encoded as a short
// packet and also ends it. Returns 0 when the spool cannot be rewound or read or a
// buffer cannot be allocated; `packetCount` is then not set.
int encodeDueAudio(AudioPacer& pacer, File& spool, uint16_t durationMs, AudioPackets& packets,
                   int& endOfSound, int& packetCount);

}  // namespace pemlo
