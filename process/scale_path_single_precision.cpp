// The single-precision path: every target pixel sums its source pixels in source order
// in a float accumulator, each step evaluated in double precision and rounded once, the
// arithmetic that fixes the scaler's bytes for every job.
#include <cstring>

#include "process/scale_paths.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pemlo::scale_paths {
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

inline float product(float a, float b) {
    return static_cast<float>(static_cast<double>(a) * static_cast<double>(b));
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

}  // namespace

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

void singlePrecisionRect(const ScaleJob& job, unsigned firstRow, unsigned endRow,
                         unsigned firstColumn, unsigned endColumn) {
    const unsigned sh = job.sourceHeight;
    const unsigned dw = job.targetWidth;
    const unsigned dh = job.targetHeight;
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

}  // namespace pemlo::scale_paths
