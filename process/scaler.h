// Area-averaging reduction of packed BGR images: every target pixel becomes the average
// of the source area it covers, with single-precision accumulators whose rounding fixes
// the exact bytes (255, 0, 255, 0 reduced to 3 x 1 gives 191, 127, 64).
#pragma once

#include <cstdint>

#include "process/growable_buffer.h"

namespace pemlo {

// One packed BGR image: rows of `stride` (= width x 3) bytes, 3 bytes per pixel.
// A target image owns its pixels (imageBufferSetup / imageBufferRelease); a source
// image may point at memory owned elsewhere.
struct ImageBuffer {
    uint16_t width = 0;
    uint16_t height = 0;
    uint16_t stride = 0;
    uint8_t* pixels = nullptr;
};

// The widest image whose stride still fits in 16 bits, and the largest source side the
// scaler's 16-bit position counters can walk.
inline constexpr uint16_t kMaxImageWidth = 21845;
inline constexpr uint16_t kMaxScalerSource = 32768;

// Sets the size and stride of `image` and resizes its pixels to stride x height bytes.
// Returns the pixel pointer, or null when the width is above kMaxImageWidth or memory
// runs out (the image is then left empty).
uint8_t* imageBufferSetup(uint16_t width, uint16_t height, ImageBuffer& image);

// Frees pixels that imageBufferSetup allocated and empties the descriptor.
void imageBufferRelease(ImageBuffer& image);

// What one target column gathers from a source row, in source order: the share of the
// pixel before `first` that spills over its right edge (spillIn, when that pixel lies
// across the boundary), `whole` pixels from `first` on, and the share of the next pixel
// that lies across its own right edge (lastShare).
struct ScalerColumn {
    uint32_t first = 0;  // byte offset of the first whole pixel in the row
    uint32_t whole = 0;
    float spillIn = 0.0f;    // 0: nothing spills in
    float lastShare = 0.0f;  // 0: no pixel lies across the right edge
    // The same two shares counted in the job's column units (see ScaleJob), set only
    // when the job sums in integers.
    uint32_t spillInUnits = 0;
    uint32_t lastShareUnits = 0;
    // The same again as up to four consecutive source pixels from byte `termStart` on
    // with these units each (0 past the column's last pixel), set only when the job sums
    // four terms at a time (ScaleJob::termCount).
    uint32_t termStart = 0;
    uint16_t termUnits[4] = {0, 0, 0, 0};
};

// How a prepared job computes its pixels, chosen once when it is set up; every path
// writes the same bytes (the code of each is in process/scale_path_*.cpp).
enum class ScalePath {
    SinglePrecision,  // any job: single-precision sums in source order
    Integers,         // exact integer sums, one target pixel at a time
    IntegerPairs,     // the same integer sums two source pixels at a time (SSE2)
};

// One reduction prepared so that bands of target rows can be computed separately, on
// different threads if need be. Each target pixel gathers its source pixels in the same
// order whatever the bands, so the bytes equal those of scaleAreaAverage.
struct ScaleJob {
    const uint8_t* source = nullptr;
    unsigned sourceWidth = 0;
    unsigned sourceHeight = 0;
    unsigned sourceStride = 0;
    uint8_t* target = nullptr;
    unsigned targetWidth = 0;
    unsigned targetHeight = 0;
    float* accumulator = nullptr;
    const ScalerColumn* columns = nullptr;
    double factor = 0.0;
    ScalePath path = ScalePath::SinglePrecision;
    // When every weight is a multiple of 1 / 2^k and no sum can outgrow 24 bits of such
    // multiples (1920 to 1280, 3840 to 1920, 1080 to 720 ...), no single-precision sum
    // is ever rounded: the sums are then formed in integers, rows first, and equal the
    // single-precision ones whatever the order. A whole source pixel counts columnUnits
    // units across and rowUnits units down; sumScale (a power of two) turns a sum of
    // units back into the single-precision sum. Set only on the integer paths.
    unsigned columnUnits = 0;
    unsigned rowUnits = 0;
    float sumScale = 0.0f;
    // 2 or 4 when every column reaches at most that many source pixels and the sums fit
    // signed 16-bit products (the columns' termStart and termUnits are then set); 0
    // otherwise.
    unsigned termCount = 0;
    // When the largest sum is small enough: the target byte of every sum in units, in
    // the caller's byte table.
    const uint8_t* byteOfSum = nullptr;
};

// Checks the call as scaleAreaAverage does, sizes the target, the accumulator,
// `columns` (one per target column) and `byteTable` (when the job normalises through a
// table), all kept by the caller from call to call, chooses the job's path and fills
// `job`. Returns 1, or 0 without touching the target.
int scaleJobSetup(ScaleJob& job, const ImageBuffer& source, ImageBuffer& target,
                  uint16_t targetWidth, uint16_t targetHeight, GrowableBuffer<float>& accumulator,
                  GrowableBuffer<ScalerColumn>& columns, GrowableBuffer<uint8_t>& byteTable);

// Computes target rows firstRow to endRow - 1 of a prepared job (rows past the target
// height are ignored). Bands that do not overlap may run at the same time.
void scaleJobRows(const ScaleJob& job, unsigned firstRow, unsigned endRow);

// Computes only the target pixels in rows [firstRow, endRow) and columns
// [firstColumn, endColumn) of a prepared job and leaves every other target byte as it
// was; each written byte equals what scaleJobRows (and scaleAreaAverage) writes there.
// Rows and columns past the target are ignored; an empty rectangle does nothing. It
// touches only the accumulator entries of its own pixels (and per-thread memory), so
// rectangles that do not overlap may be computed at the same time, as bands may.
void scaleJobRect(const ScaleJob& job, unsigned firstRow, unsigned endRow, unsigned firstColumn,
                  unsigned endColumn);

// Which target pixels a change of the source reaches, one axis at a time: given the
// source columns (or rows) [sourceFirst, sourceEnd) of a prepared job, sets
// [targetFirst, targetEnd) to exactly the target columns (rows) whose source area
// overlaps one of them, so that the target pixels outside the span do not depend on
// them. A source span past the source is cut to it; an empty one gives 0, 0.
// Recomputing with scaleJobRect the rectangle formed by the column span and the row span
// of a changed source rectangle brings the target up to date.
void scaleJobTargetColumns(const ScaleJob& job, unsigned sourceFirst, unsigned sourceEnd,
                           unsigned& targetFirst, unsigned& targetEnd);
void scaleJobTargetRows(const ScaleJob& job, unsigned sourceFirst, unsigned sourceEnd,
                        unsigned& targetFirst, unsigned& targetEnd);

// Reduces `source` into `target` at targetWidth x targetHeight; `accumulator` is the
// caller's working buffer, kept from call to call (one per target). Returns 1, or 0
// without touching the target when the call is outside what the scaler accepts (a
// target 0 wide or high or larger than the source, a source larger than
// kMaxScalerSource, a source without pixels or with a stride other than width x 3) or
// memory runs out.
int scaleAreaAverage(const ImageBuffer& source, ImageBuffer& target, uint16_t targetWidth,
                     uint16_t targetHeight, GrowableBuffer<float>& accumulator);

}  // namespace pemlo
