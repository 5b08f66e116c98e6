// 4-bit IMA ADPCM encoder.
#pragma once

#include <cstdint>

namespace pemlo {

struct AdpcmState {
    int16_t predicted = 0;
    int8_t stepIndex = 0;  // 0..88
};

extern const int adpcmStepTable[89];
extern const int adpcmIndexTable[16];

// Encodes `count` samples into (count + 1) / 2 bytes: codes fill the high nibble
// first; an odd count leaves the last byte's low nibble 0. The state carries over.
void adpcmEncode(const int16_t* samples, uint8_t* codes, int count, AdpcmState& state);

}  // namespace pemlo
