// Packs bit fields most significant bit first and writes them to a file in blocks of
// up to 1,024 bytes.
#pragma once

#include <cstdint>

#include "platform/file.h"

namespace pemlo {

inline constexpr int bitWriterCapacity = 1024;

struct BitWriter {
    uint8_t buffer[bitWriterCapacity] = {};
    int count = 0;        // whole bytes in buffer
    uint8_t partial = 0;  // the byte being filled, from the top bit down
    int used = 0;         // bits already placed in `partial` (0..7)
};

// Appends the lowest `bits` bits (0..8) of the low byte of `value`.
int putBits(BitWriter& bw, File& file, unsigned value, int bits);
// Writes the buffered bytes and the partial byte (padded with zero bits); the writer
// is empty afterwards.
int flushBits(BitWriter& bw, File& file);
// Drops anything buffered.
void resetBits(BitWriter& bw);

}  // namespace pemlo
