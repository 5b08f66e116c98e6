// The integer paths: when every share is an exact binary fraction (see
// scaler.cpp's planIntegerSums), sums are formed in integers, rows first, and equal the
// single-precision ones whatever the order.
#include <algorithm>
#include <cstring>

#include "process/growable_buffer.h"
#include "process/scale_paths.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pemlo::scale_paths {
namespace {

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

}  // namespace

// Each target row first sums its source rows, with their shares in row units, into one
// line of 16-bit sums, then each target pixel sums its part of that line with the column
// shares (two pixels at a time on ScalePath::IntegerPairs).
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
        if (job.path == ScalePath::IntegerPairs) {
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

}  // namespace pemlo::scale_paths
