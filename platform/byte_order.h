// Fixed-width fields in a byte order of their own, whatever the machine's: the program's
// files (the spool index and the sound notes, the thumbnail) are little-endian, FLV and
// its metadata big-endian. Every field of a file is written and read through these.
#pragma once

#include <cstdint>

namespace pemlo {

inline void putLe16(unsigned char* out, uint16_t value) {
    out[0] = static_cast<unsigned char>(value);
    out[1] = static_cast<unsigned char>(value >> 8);
}

inline void putLe32(unsigned char* out, uint32_t value) {
    putLe16(out, static_cast<uint16_t>(value));
    putLe16(out + 2, static_cast<uint16_t>(value >> 16));
}

inline uint16_t getLe16(const unsigned char* in) {
    return static_cast<uint16_t>(in[0] | in[1] << 8);
}

inline uint32_t getLe32(const unsigned char* in) {
    return uint32_t{getLe16(in)} | uint32_t{getLe16(in + 2)} << 16;
}

inline void putBe16(unsigned char* out, uint16_t value) {
    out[0] = static_cast<unsigned char>(value >> 8);
    out[1] = static_cast<unsigned char>(value);
}

// The low 24 bits of `value` (FLV's sizes and timestamps).
inline void putBe24(unsigned char* out, uint32_t value) {
    out[0] = static_cast<unsigned char>(value >> 16);
    putBe16(out + 1, static_cast<uint16_t>(value));
}

inline void putBe32(unsigned char* out, uint32_t value) {
    putBe16(out, static_cast<uint16_t>(value >> 16));
    putBe16(out + 2, static_cast<uint16_t>(value));
}

inline void putBe64(unsigned char* out, uint64_t value) {
    putBe32(out, static_cast<uint32_t>(value >> 32));
    putBe32(out + 4, static_cast<uint32_t>(value));
}

}  // namespace pemlo
