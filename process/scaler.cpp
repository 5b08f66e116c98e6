#include "process/scaler.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pemlo {
namespace {

// The accumulators are single precision; each step is evaluated in double precision and
// rounded once when stored, which fixes the exact bytes.
inline void accumulate(float& acc, double s, float weight) {
    acc = static_cast<float>(s * static_cast<double>(weight) + static_cast<double>(acc));
}

inline void accumulateWhole(float& acc, double s) {
    acc = static_cast<float>(static_cast<double>(acc) + s);
}

// Byte values as doubles, looked up rather than converted.
struct ByteValues {
    double v[256];
    constexpr ByteValues() : v() {
        for (int i = 0; i < 256; ++i) {
            v[i] = i;
        }
    }
};
constexpr ByteValues kByte;

inline double value(uint8_t b) {
    return kByte.v[b];
}

inline float share(unsigned over, unsigned unit) {
    return static_cast<float>(static_cast<double>(over) / static_cast<double>(unit));
}

inline float complement(float w) {
    return static_cast<float>(1.0 - static_cast<double>(w));
}

inline float product(float a, float b) {
    return static_cast<float>(static_cast<double>(a) * static_cast<double>(b));
}

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

// A source row inside one target row: whole pixels add with weight 1.
void addInnerRow(const uint8_t* s, const ScalerColumn* spans, unsigned dw, float* acc) {
    for (unsigned t = 0; t < dw; ++t, acc += 3) {
        const ScalerColumn& span = spans[t];
        const uint8_t* p = s + span.first;
        float a0 = acc[0];
        float a1 = acc[1];
        float a2 = acc[2];
        if (span.spillIn != 0.0f) {
            accumulate(a0, value(p[-3]), span.spillIn);
            accumulate(a1, value(p[-2]), span.spillIn);
            accumulate(a2, value(p[-1]), span.spillIn);
        }
        for (uint32_t i = 0; i < span.whole; ++i, p += 3) {
            accumulateWhole(a0, value(p[0]));
            accumulateWhole(a1, value(p[1]));
            accumulateWhole(a2, value(p[2]));
        }
        if (span.lastShare != 0.0f) {
            accumulate(a0, value(p[0]), span.lastShare);
            accumulate(a1, value(p[1]), span.lastShare);
            accumulate(a2, value(p[2]), span.lastShare);
        }
        acc[0] = a0;
        acc[1] = a1;
        acc[2] = a2;
    }
}

// Adds one source pixel to two target pixels with weights w and x.
inline void addPixelTwice(const uint8_t* p, float* a, float* b, float w, float x) {
    const double s0 = value(p[0]);
    const double s1 = value(p[1]);
    const double s2 = value(p[2]);
    accumulate(a[0], s0, w);
    accumulate(a[1], s1, w);
    accumulate(a[2], s2, w);
    accumulate(b[0], s0, x);
    accumulate(b[1], s1, x);
    accumulate(b[2], s2, x);
}

// A source row across the boundary between target rows: share wy0 of it goes to the
// row `top`, wy1 to the row `bottom`. Pixels across a column boundary take the product
// of both shares.
void addSplitRow(const uint8_t* s, const ScalerColumn* spans, unsigned dw, float* top,
                 float* bottom, float wy0, float wy1) {
    for (unsigned t = 0; t < dw; ++t, top += 3, bottom += 3) {
        const ScalerColumn& span = spans[t];
        const uint8_t* p = s + span.first;
        float a[3] = {top[0], top[1], top[2]};
        float b[3] = {bottom[0], bottom[1], bottom[2]};
        if (span.spillIn != 0.0f) {
            addPixelTwice(p - 3, a, b, product(span.spillIn, wy0), product(span.spillIn, wy1));
        }
        for (uint32_t i = 0; i < span.whole; ++i, p += 3) {
            addPixelTwice(p, a, b, wy0, wy1);
        }
        if (span.lastShare != 0.0f) {
            addPixelTwice(p, a, b, product(span.lastShare, wy0), product(span.lastShare, wy1));
        }
        top[0] = a[0];
        top[1] = a[1];
        top[2] = a[2];
        bottom[0] = b[0];
        bottom[1] = b[1];
        bottom[2] = b[2];
    }
}

// A source row across the boundary of a band: only the share `wy` that falls inside the
// band is added, with the same weights addSplitRow gives that side.
void addWeightedRow(const uint8_t* s, const ScalerColumn* spans, unsigned dw, float* acc,
                    float wy) {
    for (unsigned t = 0; t < dw; ++t, acc += 3) {
        const ScalerColumn& span = spans[t];
        const uint8_t* p = s + span.first;
        float a0 = acc[0];
        float a1 = acc[1];
        float a2 = acc[2];
        if (span.spillIn != 0.0f) {
            const float w = product(span.spillIn, wy);
            accumulate(a0, value(p[-3]), w);
            accumulate(a1, value(p[-2]), w);
            accumulate(a2, value(p[-1]), w);
        }
        for (uint32_t i = 0; i < span.whole; ++i, p += 3) {
            accumulate(a0, value(p[0]), wy);
            accumulate(a1, value(p[1]), wy);
            accumulate(a2, value(p[2]), wy);
        }
        if (span.lastShare != 0.0f) {
            const float w = product(span.lastShare, wy);
            accumulate(a0, value(p[0]), w);
            accumulate(a1, value(p[1]), w);
            accumulate(a2, value(p[2]), w);
        }
        acc[0] = a0;
        acc[1] = a1;
        acc[2] = a2;
    }
}

// Normalises one row of sums to the average, rounded half up; a sum that single
// precision pushed past 255 is held at 255 rather than wrapping.
inline uint8_t normalised(float sum, double f) {
    double value = static_cast<double>(sum) * f + 0.5;
    value = value < 255.0 ? value : 255.0;
    value = value > 0.0 ? value : 0.0;
    return static_cast<uint8_t>(static_cast<int32_t>(value));
}

#if defined(__SSE2__)
// Four sums at a time, the same arithmetic: double precision, min and max, truncation.
inline __m128i normalisedFour(const float* acc, __m128d f, __m128d half, __m128d top,
                              __m128d zero) {
    const __m128 sums = _mm_loadu_ps(acc);
    __m128d low = _mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(sums), f), half);
    __m128d high = _mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(sums, sums)), f), half);
    low = _mm_max_pd(_mm_min_pd(low, top), zero);
    high = _mm_max_pd(_mm_min_pd(high, top), zero);
    return _mm_unpacklo_epi64(_mm_cvttpd_epi32(low), _mm_cvttpd_epi32(high));
}
#endif

void normaliseRow(const float* acc, uint8_t* out, size_t length, double f) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128d fs = _mm_set1_pd(f);
    const __m128d half = _mm_set1_pd(0.5);
    const __m128d top = _mm_set1_pd(255.0);
    const __m128d zero = _mm_setzero_pd();
    for (; i + 16 <= length; i += 16) {
        const __m128i a = normalisedFour(acc + i, fs, half, top, zero);
        const __m128i b = normalisedFour(acc + i + 4, fs, half, top, zero);
        const __m128i c = normalisedFour(acc + i + 8, fs, half, top, zero);
        const __m128i d = normalisedFour(acc + i + 12, fs, half, top, zero);
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), bytes);
    }
#endif
    for (; i < length; ++i) {
        out[i] = normalised(acc[i], f);
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

// Sums up to this many units are normalised through a table of their bytes, kept after
// the column table.
constexpr uint32_t kMaxTabledSum = 0xFFFF;

size_t byteTableColumns(uint32_t sumLimit) {
    return sumLimit == 0 || sumLimit > kMaxTabledSum
               ? 0
               : (size_t{sumLimit} + sizeof(ScalerColumn)) / sizeof(ScalerColumn);
}

void planIntegerSums(ScaleJob& job, unsigned sw, unsigned sh, unsigned dw, unsigned dh,
                     ScalerColumn* columns, double factor) {
    job.integerSums = false;
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
    job.integerSums = true;
    job.columnUnits = columnUnits;
    job.rowUnits = rowUnits;
    job.sumScale = 1.0f / static_cast<float>(columnUnits * rowUnits);
    if (byteTableColumns(sumLimit) != 0) {
        // The byte of every possible sum, by the very arithmetic of the single-precision
        // pass: the sum in units times sumScale is its exact single-precision sum.
        auto* table = reinterpret_cast<uint8_t*>(columns + dw);
        for (uint32_t sum = 0; sum <= sumLimit; ++sum) {
            table[sum] = normalised(static_cast<float>(sum) * job.sumScale, factor);
        }
        job.byteOfSum = table;
    }
}

// line[i] = w x s[i] (or line[i] += w x s[i] when `add`), for n bytes; the sums stay
// within 16 bits (see planIntegerSums).
void addWeightedLine(const uint8_t* s, size_t n, unsigned w, uint16_t* line, bool add) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i weight = _mm_set1_epi16(static_cast<int16_t>(w));
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        __m128i low = _mm_mullo_epi16(_mm_unpacklo_epi8(bytes, zero), weight);
        __m128i high = _mm_mullo_epi16(_mm_unpackhi_epi8(bytes, zero), weight);
        auto* out = reinterpret_cast<__m128i*>(line + i);
        if (add) {
            low = _mm_add_epi16(low, _mm_loadu_si128(out));
            high = _mm_add_epi16(high, _mm_loadu_si128(out + 1));
        }
        _mm_storeu_si128(out, low);
        _mm_storeu_si128(out + 1, high);
    }
#endif
    for (; i < n; ++i) {
        const auto v = static_cast<unsigned>(s[i]) * w + (add ? line[i] : 0u);
        line[i] = static_cast<uint16_t>(v);
    }
}

#if defined(__SSE2__)
// Columns [first, end) of one line of row sums (`line` indexed like the source row) into
// single-precision sums at `out`, or straight into target bytes at `bytes` when the job
// has a byte table: each column's three sums are formed from pairs of its pixels with
// one multiply-add, the fourth lane (the next pixel's first sum) is dropped.
void sumColumnsInPairs(const ScaleJob& job, const uint16_t* line, unsigned first, unsigned end,
                       float* out, uint8_t* bytes) {
    const __m128 scale = _mm_set1_ps(job.sumScale);
    const auto unitsOf = [](const uint16_t* units) {
        return _mm_set1_epi32(static_cast<int>(units[0] | (uint32_t{units[1]} << 16)));
    };
    const auto pair = [](const uint16_t* p) {
        return _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                  _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 3)));
    };
    for (unsigned t = first; t < end; ++t, out += 3) {
        const ScalerColumn& c = job.columns[t];
        const uint16_t* p = line + c.termStart;
        __m128i sum = _mm_madd_epi16(pair(p), unitsOf(c.termUnits));
        if (job.termCount > 2) {
            sum = _mm_add_epi32(sum, _mm_madd_epi16(pair(p + 6), unitsOf(c.termUnits + 2)));
        }
        if (job.byteOfSum != nullptr) {
            alignas(16) uint32_t units[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(units), sum);
            bytes[0] = job.byteOfSum[units[0]];
            bytes[1] = job.byteOfSum[units[1]];
            bytes[2] = job.byteOfSum[units[2]];
            bytes += 3;
            continue;
        }
        const __m128 sums = _mm_mul_ps(_mm_cvtepi32_ps(sum), scale);
        if (t + 1 < end) {
            _mm_storeu_ps(out, sums);  // the fourth lane is overwritten by the next column
        } else {
            alignas(16) float last[4];
            _mm_store_ps(last, sums);
            out[0] = last[0];
            out[1] = last[1];
            out[2] = last[2];
        }
    }
}
#endif

// The integer form of scaleJobRect: each target row first sums its source rows, with
// their shares in row units, into one line of 16-bit sums, then each target pixel sums
// its part of that line with the column shares. Returns false, having written nothing,
// when the line cannot be allocated.
bool integerRect(const ScaleJob& job, unsigned firstRow, unsigned endRow, unsigned firstColumn,
                 unsigned endColumn) {
    thread_local GrowableBuffer<uint16_t> buffer;
    const ScalerColumn& firstSpan = job.columns[firstColumn];
    const ScalerColumn& lastSpan = job.columns[endColumn - 1];
    const size_t begin = firstSpan.first - (firstSpan.spillInUnits != 0 ? 3 : 0);
    const size_t end =
        lastSpan.first + size_t{3} * lastSpan.whole + (lastSpan.lastShareUnits != 0 ? 3 : 0);
    // Reading four terms of three sums from the last column's first pixel runs up to 13
    // sums past it; they are zero and weigh nothing.
    constexpr size_t kSlack = 16;
    if (buffer.resize(end - begin + kSlack) == 0) {
        return false;
    }
    uint16_t* line = buffer.data();
    std::memset(line + (end - begin), 0, kSlack * sizeof(uint16_t));
    const unsigned sh = job.sourceHeight;
    const unsigned dh = job.targetHeight;
    const unsigned gy = dh / job.rowUnits;
    const size_t lineLength = size_t{job.targetWidth} * 3;
    const unsigned whole = job.columnUnits;
    for (unsigned y = firstRow; y < endRow; ++y) {
        // Target row y covers units [y x sh, (y + 1) x sh) down; source row r covers
        // [r x dh, (r + 1) x dh).
        const uint64_t top = uint64_t{y} * sh;
        const uint64_t bottom = top + sh;
        const auto firstSource = static_cast<unsigned>(top / dh);
        const auto endSource = static_cast<unsigned>((bottom + dh - 1) / dh);
        for (unsigned r = firstSource; r < endSource; ++r) {
            const uint64_t from = std::max<uint64_t>(uint64_t{r} * dh, top);
            const uint64_t to = std::min<uint64_t>(uint64_t{r + 1} * dh, bottom);
            const auto w = static_cast<unsigned>((to - from) / gy);
            addWeightedLine(job.source + size_t{r} * job.sourceStride + begin, end - begin, w, line,
                            r != firstSource);
        }
        float* sums = job.accumulator + lineLength * y + size_t{firstColumn} * 3;
        float* out = sums;
        uint8_t* bytes = job.target + lineLength * y + size_t{firstColumn} * 3;
        unsigned t = firstColumn;
#if defined(__SSE2__)
        if (job.termCount != 0) {
            sumColumnsInPairs(job, line - begin, t, endColumn, out, bytes);
            out += size_t{endColumn - t} * 3;
            t = endColumn;
        }
#endif
        for (; t < endColumn; ++t, out += 3, bytes += 3) {
            const ScalerColumn& span = job.columns[t];
            const uint16_t* p = line + (span.first - begin);
            uint32_t a0 = 0;
            uint32_t a1 = 0;
            uint32_t a2 = 0;
            if (span.spillInUnits != 0) {
                a0 = span.spillInUnits * p[-3];
                a1 = span.spillInUnits * p[-2];
                a2 = span.spillInUnits * p[-1];
            }
            uint32_t w0 = 0;
            uint32_t w1 = 0;
            uint32_t w2 = 0;
            for (uint32_t i = 0; i < span.whole; ++i, p += 3) {
                w0 += p[0];
                w1 += p[1];
                w2 += p[2];
            }
            a0 += w0 * whole;
            a1 += w1 * whole;
            a2 += w2 * whole;
            if (span.lastShareUnits != 0) {
                a0 += span.lastShareUnits * p[0];
                a1 += span.lastShareUnits * p[1];
                a2 += span.lastShareUnits * p[2];
            }
            if (job.byteOfSum != nullptr) {
                bytes[0] = job.byteOfSum[a0];
                bytes[1] = job.byteOfSum[a1];
                bytes[2] = job.byteOfSum[a2];
                continue;
            }
            out[0] = static_cast<float>(a0) * job.sumScale;
            out[1] = static_cast<float>(a1) * job.sumScale;
            out[2] = static_cast<float>(a2) * job.sumScale;
        }
        if (job.byteOfSum == nullptr) {
            normaliseRow(sums, job.target + lineLength * y + size_t{firstColumn} * 3,
                         size_t{endColumn - firstColumn} * 3, job.factor);
        }
    }
    return true;
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
                  GrowableBuffer<ScalerColumn>& columns) {
    const unsigned sw = source.width;
    const unsigned sh = source.height;
    const unsigned dw = targetWidth;
    const unsigned dh = targetHeight;
    if (source.pixels == nullptr || dw == 0 || dh == 0 || dw > sw || dh > sh ||
        sw > kMaxScalerSource || sh > kMaxScalerSource || source.stride != sw * 3) {
        return 0;
    }
    const size_t tableColumns = byteTableColumns(integerSumLimit(sw, sh, dw, dh));
    if (accumulator.resize(static_cast<size_t>(dw) * 3 * dh) == 0 ||
        columns.resize(dw + tableColumns) == 0) {
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
    planIntegerSums(job, sw, sh, dw, dh, columns.data(), factor);
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
    const unsigned sh = job.sourceHeight;
    const unsigned dw = job.targetWidth;
    const unsigned dh = job.targetHeight;
    endRow = endRow < dh ? endRow : dh;
    endColumn = endColumn < dw ? endColumn : dw;
    if (firstRow >= endRow || firstColumn >= endColumn) {
        return;
    }
    if (job.integerSums && integerRect(job, firstRow, endRow, firstColumn, endColumn)) {
        return;
    }
    const size_t lineLength = static_cast<size_t>(dw) * 3;
    // Only the columns of the rectangle are accumulated, cleared and normalised; the
    // column table places each one's source pixels in the row whatever its neighbours.
    const size_t left = static_cast<size_t>(firstColumn) * 3;
    const size_t width = static_cast<size_t>(endColumn - firstColumn) * 3;
    const ScalerColumn* columns = job.columns + firstColumn;
    const unsigned count = endColumn - firstColumn;
    // A target row collects sums from at most two source rows' worth of rows at a time,
    // so a band keeps its sums in two accumulator rows of its own (its first two), used
    // in turn: each target row is cleared when first touched and normalised as soon as
    // it is complete, while it is still in the cache.
    const auto sums = [&](unsigned y) {
        return job.accumulator + lineLength * (firstRow + ((y - firstRow) & 1u)) + left;
    };
    unsigned cleared = firstRow;
    unsigned finished = firstRow;
    const auto touch = [&](unsigned y) {
        for (; cleared <= y; ++cleared) {
            std::memset(sums(cleared), 0, width * sizeof(float));
        }
    };
    const auto finishBefore = [&](unsigned end) {
        for (; finished < end; ++finished) {
            normaliseRow(sums(finished), job.target + lineLength * finished + left, width,
                         job.factor);
        }
    };

    // The source rows that reach the band: from the one holding the band's top edge to
    // the one holding its bottom edge. The row counter v and the current target row
    // start where a pass from the top would have them.
    const auto firstSource = static_cast<unsigned>(uint64_t{firstRow} * sh / dh);
    const auto endSource = static_cast<unsigned>((uint64_t{endRow} * sh + dh - 1) / dh);
    unsigned current = static_cast<unsigned>(uint64_t{firstSource} * dh / sh);
    unsigned v = static_cast<unsigned>(uint64_t{firstSource} * dh % sh);
    for (unsigned r = firstSource; r < endSource; ++r) {
        const uint8_t* s = job.source + static_cast<size_t>(r) * job.sourceStride;
        v += dh;
        if (v > sh) {
            const float wy1 = share(v - sh, dh);
            const float wy0 = complement(wy1);
            const bool top = current >= firstRow;
            const bool bottom = current + 1 < endRow;
            if (top && bottom) {
                touch(current + 1);
                addSplitRow(s, columns, count, sums(current), sums(current + 1), wy0, wy1);
            } else if (top) {
                touch(current);
                addWeightedRow(s, columns, count, sums(current), wy0);
            } else {
                touch(current + 1);
                addWeightedRow(s, columns, count, sums(current + 1), wy1);
            }
            ++current;
        } else {
            touch(current);
            addInnerRow(s, columns, count, sums(current));
            if (v == sh) {
                ++current;
            }
        }
        if (v >= sh) {
            v -= sh;
        }
        finishBefore(current < endRow ? current : endRow);
    }
    touch(endRow - 1);
    finishBefore(endRow);
}

int scaleAreaAverage(const ImageBuffer& source, ImageBuffer& target, uint16_t targetWidth,
                     uint16_t targetHeight, GrowableBuffer<float>& accumulator) {
    // One column table per thread, kept from call to call.
    thread_local GrowableBuffer<ScalerColumn> columns;
    ScaleJob job;
    if (scaleJobSetup(job, source, target, targetWidth, targetHeight, accumulator, columns) != 1) {
        return 0;
    }
    scaleJobRows(job, 0, targetHeight);
    return 1;
}

}  // namespace pemlo
