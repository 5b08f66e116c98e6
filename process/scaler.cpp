// The scaler's set-up (spans, the integer plan and the choice of path) and its public
// calls; the paths that compute the pixels are in scale_path_*.cpp.
#include "process/scaler.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "process/scale_paths.h"

namespace pemlo {
namespace {

using scale_paths::complement;
using scale_paths::normalised;
using scale_paths::share;

// The column spans follow from the horizontal counter exactly as a single pass over the
// row would step it: h advances by dw per source pixel and wraps at sw.
void buildSpans(unsigned sw, unsigned dw, ScalerColumn* spans) {
    unsigned h = 0;
    unsigned column = 0;
    spans[0] = ScalerColumn{};
    for (unsigned x = 0; x < sw; ++x) {
        h += dw;
        if (h > sw) {
            const float wx1 = share(h - sw, dw);
            spans[column].lastShare = complement(wx1);
            ++column;
            spans[column] = ScalerColumn{};
            spans[column].spillIn = wx1;
            spans[column].first = (x + 1) * 3;
        } else {
            ++spans[column].whole;
        }
        if (h >= sw) {
            h -= sw;
            if (h == 0 && x + 1 < sw) {
                ++column;
                spans[column] = ScalerColumn{};
                spans[column].first = (x + 1) * 3;
            }
        }
    }
}

unsigned greatestCommonDivisor(unsigned a, unsigned b) {
    while (b != 0) {
        const unsigned r = a % b;
        a = b;
        b = r;
    }
    return a;
}

bool isPowerOfTwo(unsigned n) {
    return n != 0 && (n & (n - 1)) == 0;
}

// Along one axis of n source pixels reduced to m, every share is a multiple of
// g / m with g = gcd(n, m); when m / g is a power of two, a share is k / (m / g) exactly
// in single precision, and so is every product of two shares. A target pixel gathers
// n / g units across (a whole source pixel is m / g units). Returns the largest sum of
// a target pixel's bytes in units when the job can sum in integers, 0 otherwise.
uint32_t integerSumLimit(unsigned sw, unsigned sh, unsigned dw, unsigned dh) {
    const unsigned gx = greatestCommonDivisor(sw, dw);
    const unsigned gy = greatestCommonDivisor(sh, dh);
    // The row sums are kept in 16 bits; the full sums must stay below 2^24 units so that
    // every partial single-precision sum is exact.
    const uint64_t rowSumMax = uint64_t{255} * (sh / gy);
    const uint64_t sumMax = rowSumMax * (sw / gx);
    if (!isPowerOfTwo(dw / gx) || !isPowerOfTwo(dh / gy) || rowSumMax > 0xFFFF ||
        sumMax >= (uint64_t{1} << 24)) {
        return 0;
    }
    return static_cast<uint32_t>(sumMax);
}

// Sums up to this many units are normalised through a table of their bytes.
constexpr uint32_t kMaxTabledSum = 0xFFFF;

size_t byteTableSize(uint32_t sumLimit) {
    return sumLimit == 0 || sumLimit > kMaxTabledSum ? 0 : size_t{sumLimit} + 1;
}

// The pairs path exists only where SSE2 does.
#if defined(__SSE2__)
constexpr bool kPairsBuilt = true;
#else
constexpr bool kPairsBuilt = false;
#endif

void planIntegerSums(ScaleJob& job, unsigned sw, unsigned sh, unsigned dw, unsigned dh,
                     ScalerColumn* columns, GrowableBuffer<uint8_t>& byteTable, double factor) {
    job.path = ScalePath::SinglePrecision;
    job.termCount = 0;
    job.byteOfSum = nullptr;
    const uint32_t sumLimit = integerSumLimit(sw, sh, dw, dh);
    if (sumLimit == 0) {
        return;
    }
    const unsigned columnUnits = dw / greatestCommonDivisor(sw, dw);
    const unsigned rowUnits = dh / greatestCommonDivisor(sh, dh);
    const uint64_t rowSumMax = uint64_t{255} * (sh / greatestCommonDivisor(sh, dh));
    for (unsigned t = 0; t < dw; ++t) {
        columns[t].spillInUnits =
            static_cast<uint32_t>(columns[t].spillIn * static_cast<float>(columnUnits));
        columns[t].lastShareUnits =
            static_cast<uint32_t>(columns[t].lastShare * static_cast<float>(columnUnits));
    }
    // Four terms a column at most, weights and row sums within signed 16 bits: the
    // columns are summed two pixels at a time.
    unsigned terms = 0;
    for (unsigned t = 0; t < dw; ++t) {
        const ScalerColumn& c = columns[t];
        terms = std::max(
            terms, c.whole + (c.spillInUnits != 0 ? 1u : 0u) + (c.lastShareUnits != 0 ? 1u : 0u));
    }
    if (terms <= 4 && columnUnits <= 0x4000 && rowSumMax <= 0x7FFF) {
        job.termCount = terms <= 2 ? 2 : 4;
        for (unsigned t = 0; t < dw; ++t) {
            ScalerColumn& c = columns[t];
            unsigned k = 0;
            c.termStart = c.first;
            if (c.spillInUnits != 0) {
                c.termStart -= 3;
                c.termUnits[k++] = static_cast<uint16_t>(c.spillInUnits);
            }
            for (uint32_t i = 0; i < c.whole; ++i) {
                c.termUnits[k++] = static_cast<uint16_t>(columnUnits);
            }
            if (c.lastShareUnits != 0) {
                c.termUnits[k++] = static_cast<uint16_t>(c.lastShareUnits);
            }
        }
    }
    job.path = job.termCount != 0 && kPairsBuilt ? ScalePath::IntegerPairs : ScalePath::Integers;
    job.columnUnits = columnUnits;
    job.rowUnits = rowUnits;
    job.sumScale = 1.0f / static_cast<float>(columnUnits * rowUnits);
    if (byteTableSize(sumLimit) != 0) {
        // The byte of every possible sum, by the very arithmetic of the single-precision
        // pass: the sum in units times sumScale is its exact single-precision sum.
        uint8_t* table = byteTable.data();
        for (uint32_t sum = 0; sum <= sumLimit; ++sum) {
            table[sum] = normalised(static_cast<float>(sum) * job.sumScale, factor);
        }
        job.byteOfSum = table;
    }
}

}  // namespace

uint8_t* imageBufferSetup(uint16_t width, uint16_t height, ImageBuffer& image) {
    if (width > kMaxImageWidth) {
        imageBufferRelease(image);
        return nullptr;
    }
    const auto stride = static_cast<uint16_t>(width * 3);
    const size_t bytes = static_cast<size_t>(stride) * height;
    const size_t oldBytes = static_cast<size_t>(image.stride) * image.height;
    if (image.pixels == nullptr || bytes != oldBytes) {
        // realloc of 0 bytes may free and return null; keep at least one byte.
        void* grown = std::realloc(image.pixels, bytes == 0 ? 1 : bytes);
        if (grown == nullptr) {
            imageBufferRelease(image);
            return nullptr;
        }
        image.pixels = static_cast<uint8_t*>(grown);
    }
    image.width = width;
    image.height = height;
    image.stride = stride;
    return image.pixels;
}

void imageBufferRelease(ImageBuffer& image) {
    std::free(image.pixels);
    image = ImageBuffer{};
}

int scaleJobSetup(ScaleJob& job, const ImageBuffer& source, ImageBuffer& target,
                  uint16_t targetWidth, uint16_t targetHeight, GrowableBuffer<float>& accumulator,
                  GrowableBuffer<ScalerColumn>& columns, GrowableBuffer<uint8_t>& byteTable) {
    const unsigned sw = source.width;
    const unsigned sh = source.height;
    const unsigned dw = targetWidth;
    const unsigned dh = targetHeight;
    if (source.pixels == nullptr || dw == 0 || dh == 0 || dw > sw || dh > sh ||
        sw > kMaxScalerSource || sh > kMaxScalerSource || source.stride != sw * 3) {
        return 0;
    }
    const size_t tableSize = byteTableSize(integerSumLimit(sw, sh, dw, dh));
    if (accumulator.resize(static_cast<size_t>(dw) * 3 * dh) == 0 || columns.resize(dw) == 0 ||
        (tableSize != 0 && byteTable.resize(tableSize) == 0)) {
        return 0;
    }
    if (imageBufferSetup(targetWidth, targetHeight, target) == nullptr) {
        return 0;
    }
    buildSpans(sw, dw, columns.data());
    const auto area = static_cast<uint32_t>(dw * dh);
    const auto sourceArea = static_cast<uint32_t>(sw * sh);
    const auto factor = static_cast<double>(
        static_cast<float>(static_cast<double>(area) / static_cast<double>(sourceArea)));
    planIntegerSums(job, sw, sh, dw, dh, columns.data(), byteTable, factor);
    job.source = source.pixels;
    job.sourceWidth = sw;
    job.sourceHeight = sh;
    job.sourceStride = source.stride;
    job.target = target.pixels;
    job.targetWidth = dw;
    job.targetHeight = dh;
    job.accumulator = accumulator.data();
    job.columns = columns.data();
    job.factor = factor;
    return 1;
}

namespace {

// The target pixels [first, end) of a line of `targetSize` whose source area touches
// source pixels [sourceFirst, sourceEnd) of a line of `sourceSize`. Target pixel t
// covers source units [t x sourceSize, (t + 1) x sourceSize) and source pixel x covers
// [x x targetSize, (x + 1) x targetSize); every overlap of positive length carries a
// non-zero weight.
void targetSpan(unsigned sourceSize, unsigned targetSize, unsigned sourceFirst, unsigned sourceEnd,
                unsigned& targetFirst, unsigned& targetEnd) {
    sourceEnd = sourceEnd < sourceSize ? sourceEnd : sourceSize;
    if (sourceFirst >= sourceEnd || targetSize == 0) {
        targetFirst = 0;
        targetEnd = 0;
        return;
    }
    targetFirst = static_cast<unsigned>(uint64_t{sourceFirst} * targetSize / sourceSize);
    targetEnd =
        static_cast<unsigned>((uint64_t{sourceEnd} * targetSize + sourceSize - 1) / sourceSize);
}

}  // namespace

void scaleJobTargetColumns(const ScaleJob& job, unsigned sourceFirst, unsigned sourceEnd,
                           unsigned& targetFirst, unsigned& targetEnd) {
    targetSpan(job.sourceWidth, job.targetWidth, sourceFirst, sourceEnd, targetFirst, targetEnd);
}

void scaleJobTargetRows(const ScaleJob& job, unsigned sourceFirst, unsigned sourceEnd,
                        unsigned& targetFirst, unsigned& targetEnd) {
    targetSpan(job.sourceHeight, job.targetHeight, sourceFirst, sourceEnd, targetFirst, targetEnd);
}

void scaleJobRows(const ScaleJob& job, unsigned firstRow, unsigned endRow) {
    scaleJobRect(job, firstRow, endRow, 0, job.targetWidth);
}

void scaleJobRect(const ScaleJob& job, unsigned firstRow, unsigned endRow, unsigned firstColumn,
                  unsigned endColumn) {
    const unsigned dw = job.targetWidth;
    const unsigned dh = job.targetHeight;
    endRow = endRow < dh ? endRow : dh;
    endColumn = endColumn < dw ? endColumn : dw;
    if (firstRow >= endRow || firstColumn >= endColumn) {
        return;
    }
    if (job.path != ScalePath::SinglePrecision &&
        scale_paths::integerRect(job, firstRow, endRow, firstColumn, endColumn)) {
        return;
    }
    scale_paths::singlePrecisionRect(job, firstRow, endRow, firstColumn, endColumn);
}

int scaleAreaAverage(const ImageBuffer& source, ImageBuffer& target, uint16_t targetWidth,
                     uint16_t targetHeight, GrowableBuffer<float>& accumulator) {
    // One column table and byte table per thread, kept from call to call.
    thread_local GrowableBuffer<ScalerColumn> columns;
    thread_local GrowableBuffer<uint8_t> byteTable;
    ScaleJob job;
    if (scaleJobSetup(job, source, target, targetWidth, targetHeight, accumulator, columns,
                      byteTable) != 1) {
        return 0;
    }
    scaleJobRows(job, 0, targetHeight);
    return 1;
}

}  // namespace pemlo
