// The integer pairs path, chosen when SSE2 is there and every column reaches at most four
// source pixels (ScaleJob::termCount): the row sums come from scale_path_integers.cpp,
// the column sums two source pixels at a time.
#include "process/scale_paths.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace pemlo::scale_paths {

// Each column's three sums are formed from pairs of its pixels with one multiply-add,
// the fourth lane (the next pixel's first sum) is dropped.
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

}  // namespace pemlo::scale_paths
#endif
