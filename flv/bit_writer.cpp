#include "flv/bit_writer.h"

namespace pemlo {

int putBits(BitWriter& bw, File& file, unsigned value, int bits) {
    if (bits < 0 || bits > 8 || !file.isOpen()) {
        return 0;
    }
    const unsigned v = (value & 0xFFu) & ((1u << bits) - 1);
    if (bw.used + bits < 8) {
        bw.partial = static_cast<uint8_t>(bw.partial | (v << (8 - bits - bw.used)));
        bw.used += bits;
        return 1;
    }
    bw.buffer[bw.count++] = static_cast<uint8_t>(bw.partial | (v >> (bw.used + bits - 8)));
    bw.used = bw.used + bits - 8;
    bw.partial = static_cast<uint8_t>(v << (8 - bw.used));
    if (bw.count == bitWriterCapacity) {
        const uint32_t written = file.write(bw.buffer, bitWriterCapacity);
        bw.count = 0;
        if (written != bitWriterCapacity) {
            return 0;
        }
    }
    return 1;
}

int flushBits(BitWriter& bw, File& file) {
    const auto count = static_cast<uint32_t>(bw.count);
    int ok = file.write(bw.buffer, count) == count;
    if (ok && bw.used > 0) {
        ok = file.write(&bw.partial, 1) == 1;
    }
    resetBits(bw);
    return ok;
}

void resetBits(BitWriter& bw) {
    bw.count = 0;
    bw.partial = 0;
    bw.used = 0;
}

}  // namespace pemlo
