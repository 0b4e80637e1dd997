// The grey value of RGB or RGBA pixels with AVX2, 16 pixels per step, in
// integers: (30 r + 59 g + 11 b) / 100, then one less where the table of
// dyx_image_grey.h says the double expression falls short (only possible
// when the sum is a multiple of 100).
#include "dyx_image_simd.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#include <immintrin.h>

#include <cstring>

namespace dyx_image_simd {
namespace {

// Shuffle putting red and green of pixels 0-3 of a load side by side in
// 16-bit lanes first_lane to first_lane + 3 (weights 30 and 59 then sum
// them), or blue alone with a zero byte (weight 11).
__m128i pixel_lanes(int components, int first_lane, bool blue) {
    alignas(16) int8_t order[16];
    std::memset(order, -1, sizeof order);
    for (int k = 0; k < 4; ++k) {
        const int lane = first_lane + k;
        order[2 * lane] = static_cast<int8_t>(k * components + (blue ? 2 : 0));
        if (!blue) order[2 * lane + 1] = static_cast<int8_t>(k * components + 1);
    }
    return _mm_load_si128(reinterpret_cast<const __m128i *>(order));
}

__attribute__((target("avx2"))) inline __m256i load_pair(const uint8_t *low, const uint8_t *high) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(low))),
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(high)), 1);
}

// The 16 pixels of one step as 16-bit lanes of red | green << 8 and of
// blue. Pixels 0-3 and 8-11 come from one pair of loads, 4-7 and 12-15 from
// another, so that lane k holds pixel k.
struct StepLanes {
    __m256i rg_first, rg_second, b_first, b_second;

    __attribute__((target("avx2"))) explicit StepLanes(int components)
        : rg_first(_mm256_broadcastsi128_si256(pixel_lanes(components, 0, false))),
          rg_second(_mm256_broadcastsi128_si256(pixel_lanes(components, 4, false))),
          b_first(_mm256_broadcastsi128_si256(pixel_lanes(components, 0, true))),
          b_second(_mm256_broadcastsi128_si256(pixel_lanes(components, 4, true))) {}

    __attribute__((target("avx2"))) void lanes(const uint8_t *p, size_t c, __m256i &rg, __m256i &blue) const {
        const __m256i a = load_pair(p, p + 8 * c), b = load_pair(p + 4 * c, p + 12 * c);
        rg = _mm256_or_si256(_mm256_shuffle_epi8(a, rg_first), _mm256_shuffle_epi8(b, rg_second));
        blue = _mm256_or_si256(_mm256_shuffle_epi8(a, b_first), _mm256_shuffle_epi8(b, b_second));
    }
};

// Four 16-bit lanes, starting at lane `first` of eight, as doubles.
template <int first>
__attribute__((target("avx2"))) inline __m256d lanes_as_doubles(__m128i lanes) {
    return _mm256_cvtepi32_pd(_mm_cvtepu16_epi32(_mm_srli_si128(lanes, 2 * first)));
}

// trunc((0.3 r + 0.59 g) + 0.11 b) in double precision, operation for
// operation as the defining expression, for eight pixels given as 16-bit
// lanes of red | green << 8 and of blue. No FMA: each product is rounded.
__attribute__((target("avx2"))) inline __m128i grey_of_doubles(__m128i rg, __m128i blue) {
    const __m128i red = _mm_and_si128(rg, _mm_set1_epi16(0xff)), green = _mm_srli_epi16(rg, 8);
    __m128i quarter[2];
    for (int half = 0; half < 2; ++half) {
        const __m256d r = half == 0 ? lanes_as_doubles<0>(red) : lanes_as_doubles<4>(red);
        const __m256d g = half == 0 ? lanes_as_doubles<0>(green) : lanes_as_doubles<4>(green);
        const __m256d b = half == 0 ? lanes_as_doubles<0>(blue) : lanes_as_doubles<4>(blue);
        const __m256d value = _mm256_add_pd(
            _mm256_add_pd(_mm256_mul_pd(r, _mm256_set1_pd(0.3)), _mm256_mul_pd(g, _mm256_set1_pd(0.59))),
            _mm256_mul_pd(b, _mm256_set1_pd(0.11)));
        quarter[half] = _mm256_cvttpd_epi32(value);
    }
    return _mm_packs_epi32(quarter[0], quarter[1]);
}

}  // namespace

__attribute__((target("avx2"))) size_t grey_bytes_avx2(const uint8_t *src, uint8_t *dest, size_t count,
                                                       int components, const uint8_t *fixes) {
    if (!avx2_available()) return 0;
    const size_t c = static_cast<size_t>(components);
    const StepLanes shuffles(components);
    const __m256i rg_weights = _mm256_set1_epi16(30 | (59 << 8));
    const __m256i b_weights = _mm256_set1_epi16(11);
    // sum / 100 == (sum * 41944) >> 22 for every sum up to 25500.
    const __m256i reciprocal = _mm256_set1_epi16(static_cast<short>(41944));
    const __m256i hundred = _mm256_set1_epi16(100);
    const __m256i zero = _mm256_setzero_si256();
    const size_t bytes = count * c;
    // Groups holding a sum that is a multiple of 100, with their lanes: the
    // fix-ups are made after each chunk of groups, so that the vector loop
    // has no branch that depends on the pixels.
    constexpr size_t kChunkGroups = 256;
    constexpr int kDoublesFrom = 4;
    uint32_t hit_group[kChunkGroups], hit_lanes[kChunkGroups];
    size_t i = 0;
    // The last load of a step must stay inside the source.
    while (i + 16 <= count && i * c + 12 * c + 16 <= bytes) {
        const size_t chunk_start = i;
        size_t hits = 0;
        for (size_t g = 0; g < kChunkGroups && i + 16 <= count && i * c + 12 * c + 16 <= bytes;
             ++g, i += 16) {
            __m256i rg, blue;
            shuffles.lanes(src + i * c, c, rg, blue);
            const __m256i sum =
                _mm256_add_epi16(_mm256_maddubs_epi16(rg, rg_weights), _mm256_mullo_epi16(blue, b_weights));
            const __m256i grey = _mm256_srli_epi16(_mm256_mulhi_epu16(sum, reciprocal), 6);
            const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(grey, grey), 0x08);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dest + i), _mm256_castsi256_si128(packed));
            // Two mask bits per 16-bit lane; the low one marks the pixel. A
            // black pixel (sum 0) is exact, and black frames are common.
            const __m256i on_hundred = _mm256_andnot_si256(
                _mm256_cmpeq_epi16(sum, zero), _mm256_cmpeq_epi16(_mm256_mullo_epi16(grey, hundred), sum));
            hit_group[hits] = static_cast<uint32_t>(i - chunk_start);
            hit_lanes[hits] = static_cast<uint32_t>(_mm256_movemask_epi8(on_hundred)) & 0x55555555u;
            hits += hit_lanes[hits] != 0;
        }
        for (size_t h = 0; h < hits; ++h) {
            const size_t first = chunk_start + hit_group[h];
            // Flat grey pictures put every sum on a multiple of 100: a step
            // with several such pixels is recomputed whole in doubles,
            // which costs less than a table lookup each.
            if (__builtin_popcount(hit_lanes[h]) >= kDoublesFrom) {
                __m256i rg, blue;
                shuffles.lanes(src + first * c, c, rg, blue);
                const __m128i low = grey_of_doubles(_mm256_castsi256_si128(rg), _mm256_castsi256_si128(blue));
                const __m128i high =
                    grey_of_doubles(_mm256_extracti128_si256(rg, 1), _mm256_extracti128_si256(blue, 1));
                _mm_storeu_si128(reinterpret_cast<__m128i *>(dest + first), _mm_packus_epi16(low, high));
                continue;
            }
            for (uint32_t lanes = hit_lanes[h]; lanes != 0; lanes &= lanes - 1) {
                const size_t at = first + static_cast<size_t>(__builtin_ctz(lanes)) / 2;
                const uint8_t *pixel = src + at * c;
                const unsigned blue_hundreds = (pixel[2] * 41u) >> 12;  // pixel[2] / 100
                dest[at] = static_cast<uint8_t>(dest[at] -
                                                ((fixes[(pixel[0] << 8) | pixel[1]] >> blue_hundreds) & 1));
            }
        }
    }
    return i;
}

}  // namespace dyx_image_simd

#endif
