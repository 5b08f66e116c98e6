// The scaler's ways of computing a rectangle of a prepared job, one file each; scaler.cpp
// chooses one per job when it sets the job up (ScaleJob::path):
//   scale_path_single_precision.cpp  any job: single-precision sums in source order
//   scale_path_integers.cpp          exact integer sums, one target pixel at a time
//   scale_path_integer_pairs.cpp     the same sums two source pixels at a time (SSE2)
// Every path writes the same bytes. Internal to the scaler: callers use scaler.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "process/scaler.h"

namespace pemlo::scale_paths {

inline float share(unsigned over, unsigned unit) {
    return static_cast<float>(static_cast<double>(over) / static_cast<double>(unit));
}

inline float complement(float w) {
    return static_cast<float>(1.0 - static_cast<double>(w));
}

// Normalises one row of sums to the average, rounded half up; a sum that single
// precision pushed past 255 is held at 255 rather than wrapping.
inline uint8_t normalised(float sum, double f) {
    double value = static_cast<double>(sum) * f + 0.5;
    value = value < 255.0 ? value : 255.0;
    value = value > 0.0 ? value : 0.0;
    return static_cast<uint8_t>(static_cast<int32_t>(value));
}

// Normalises `length` single-precision sums into bytes (scale_path_single_precision.cpp).
void normaliseRow(const float* acc, uint8_t* out, size_t length, double f);

// ScalePath::SinglePrecision.
void singlePrecisionRect(const ScaleJob& job, unsigned firstRow, unsigned endRow,
                         unsigned firstColumn, unsigned endColumn);

// ScalePath::Integers and ScalePath::IntegerPairs. Returns false, having written
// nothing, when its working line cannot be allocated (the caller then takes the single
// precision path, which gives the same bytes).
bool integerRect(const ScaleJob& job, unsigned firstRow, unsigned endRow, unsigned firstColumn,
                 unsigned endColumn);

#if defined(__SSE2__)
// The column step of ScalePath::IntegerPairs: columns [first, end) of one line of row
// sums (`line` indexed like the source row) into single-precision sums at `out`, or
// straight into target bytes at `bytes` when the job has a byte table.
void sumColumnsInPairs(const ScaleJob& job, const uint16_t* line, unsigned first, unsigned end,
                       float* out, uint8_t* bytes);
#endif

}  // namespace pemlo::scale_paths
