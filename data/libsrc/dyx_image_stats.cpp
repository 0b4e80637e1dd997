// Summary statistics over all pixel bytes of an image.
//
// Sums are gathered as exact 64-bit integers. Adding byte values (or their
// squares) one by one in double precision is exact as long as the totals
// stay below 2^53, i.e. for any image of fewer than 2^53 / 65025 (about
// 1.4 * 10^11) bytes, so the integer totals give the same doubles.
#include "dyx_image_stats.h"

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "dyx_image.h"
#include "dyx_image_bands.h"
#include "dyx_status.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

struct ByteTotals {
    uint64_t sum = 0;
    uint64_t sum_of_squares = 0;
    uint8_t minimum = 255;
    uint8_t maximum = 0;
};

void add_bytes(const uint8_t *data, size_t count, ByteTotals &totals) {
    for (size_t n = 0; n < count; ++n) {
        const uint32_t v = data[n];
        totals.sum += v;
        totals.sum_of_squares += v * v;
        if (v < totals.minimum) totals.minimum = static_cast<uint8_t>(v);
        if (v > totals.maximum) totals.maximum = static_cast<uint8_t>(v);
    }
}

#if defined(__SSE2__)
// Blocks of 16 bytes: sums through psadbw, squares through pmaddwd into
// 32-bit lanes, which are widened to 64 bits before they can overflow.
void add_blocks(const uint8_t *data, size_t blocks, ByteTotals &totals) {
    // Per block a 32-bit lane gains at most 4 * 255 * 255 = 260100.
    constexpr size_t kBlocksPerFlush = 16384;
    const __m128i zero = _mm_setzero_si128();
    __m128i sums = zero, squares = zero;
    __m128i minimum = _mm_set1_epi8(static_cast<char>(255)), maximum = zero;
    while (blocks > 0) {
        const size_t chunk = blocks < kBlocksPerFlush ? blocks : kBlocksPerFlush;
        __m128i squares32 = zero;
        for (size_t b = 0; b < chunk; ++b, data += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data));
            sums = _mm_add_epi64(sums, _mm_sad_epu8(v, zero));
            const __m128i low = _mm_unpacklo_epi8(v, zero), high = _mm_unpackhi_epi8(v, zero);
            squares32 = _mm_add_epi32(squares32, _mm_madd_epi16(low, low));
            squares32 = _mm_add_epi32(squares32, _mm_madd_epi16(high, high));
            minimum = _mm_min_epu8(minimum, v);
            maximum = _mm_max_epu8(maximum, v);
        }
        squares = _mm_add_epi64(squares, _mm_unpacklo_epi32(squares32, zero));
        squares = _mm_add_epi64(squares, _mm_unpackhi_epi32(squares32, zero));
        blocks -= chunk;
    }
    alignas(16) uint64_t lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i *>(lanes), sums);
    totals.sum += lanes[0] + lanes[1];
    _mm_store_si128(reinterpret_cast<__m128i *>(lanes), squares);
    totals.sum_of_squares += lanes[0] + lanes[1];
    alignas(16) uint8_t bytes[16];
    _mm_store_si128(reinterpret_cast<__m128i *>(bytes), minimum);
    for (uint8_t v : bytes)
        if (v < totals.minimum) totals.minimum = v;
    _mm_store_si128(reinterpret_cast<__m128i *>(bytes), maximum);
    for (uint8_t v : bytes)
        if (v > totals.maximum) totals.maximum = v;
}
#endif

void add_range(const uint8_t *data, size_t count, ByteTotals &totals) {
    size_t done = 0;
#if defined(__SSE2__)
    add_blocks(data, count / 16, totals);
    done = count / 16 * 16;
#endif
    add_bytes(data + done, count - done, totals);
}

// Row bands over the workers, each with totals of its own, merged at the
// end: integer sums and extremes do not depend on the order of merging.
ByteTotals total_bytes(const uint8_t *data, size_t rows, size_t row_bytes) {
    ByteTotals totals;
    std::mutex merge;
    dyx_image_bands::for_row_bands(static_cast<int64_t>(rows), row_bytes, [&](int64_t first, int64_t end) {
        ByteTotals band;
        add_range(data + static_cast<size_t>(first) * row_bytes, static_cast<size_t>(end - first) * row_bytes,
                  band);
        std::lock_guard<std::mutex> lock(merge);
        totals.sum += band.sum;
        totals.sum_of_squares += band.sum_of_squares;
        if (band.minimum < totals.minimum) totals.minimum = band.minimum;
        if (band.maximum > totals.maximum) totals.maximum = band.maximum;
    });
    return totals;
}

}  // namespace

extern "C" {

int dyx_image_stats(const dyx_image_t *image, double *count, double *mean, double *sum,
                    double *sum_of_squares, double *variance, double *minimum, double *maximum) {
    const uint64_t n = dyx_image_data_size(image);
    ByteTotals totals;
    if (n != 0 && image->data != nullptr) totals = total_bytes(image->data, image->height, n / image->height);

    const double total = static_cast<double>(totals.sum);
    const double total_squares = static_cast<double>(totals.sum_of_squares);
    // The counts divide as single-precision numbers, which matters only
    // beyond 2^24 bytes.
    const double n_single = static_cast<float>(n);
    const double average = n == 0 ? 0.0 : total / n_single;
    const double spread = n > 1 ? (total_squares - n_single * average * average) /
                                      static_cast<double>(static_cast<float>(n - 1))
                                : 0.0;

    if (count) *count = static_cast<double>(n);
    if (mean) *mean = average;
    if (sum) *sum = total;
    if (sum_of_squares) *sum_of_squares = total_squares;
    if (variance) *variance = spread;
    if (minimum) *minimum = totals.minimum;
    if (maximum) *maximum = totals.maximum;
    return DYX_OK;
}

}  // extern "C"
