#include "flv/adpcm_encoder.h"

namespace pemlo {

const int adpcmStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

const int adpcmIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

void adpcmEncode(const int16_t* samples, uint8_t* codes, int count, AdpcmState& state) {
    int predicted = state.predicted;
    // An index outside the table would read past it; keep it in range.
    const int carried = static_cast<unsigned char>(state.stepIndex);
    int index = carried > 88 ? 88 : carried;
    int step = adpcmStepTable[index];
    uint8_t pending = 0;
    for (int i = 0; i < count; ++i) {
        int d = samples[i] - predicted;
        int sign = 0;
        if (d < 0) {
            sign = 8;
            d = -d;
        }
        int code = 0;
        int delta = step >> 3;
        if (d >= step) {
            code = 4;
            d -= step;
            delta += step;
        }
        step >>= 1;
        if (d >= step) {
            code |= 2;
            d -= step;
            delta += step;
        }
        step >>= 1;
        if (d >= step) {
            code |= 1;
            delta += step;
        }
        predicted = sign ? predicted - delta : predicted + delta;
        if (predicted < -32768) {
            predicted = -32768;
        } else if (predicted > 32767) {
            predicted = 32767;
        }
        code |= sign;
        index += adpcmIndexTable[code];
        if (index < 0) {
            index = 0;
        } else if (index > 88) {
            index = 88;
        }
        step = adpcmStepTable[index];
        if ((i & 1) == 0) {
            pending = static_cast<uint8_t>(code << 4);
        } else {
            *codes++ = static_cast<uint8_t>(pending | code);
        }
    }
    if (count & 1) {
        *codes = pending;
    }
    state.predicted = static_cast<int16_t>(predicted);
    state.stepIndex = static_cast<int8_t>(index);
}

}  // namespace pemlo
