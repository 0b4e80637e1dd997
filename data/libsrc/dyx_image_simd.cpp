// SSSE3 byte-shuffling loops; see dyx_image_simd.h.
#include "dyx_image_simd.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#include <immintrin.h>
#include <tmmintrin.h>

#include <atomic>
#include <cstring>

#define DYX_SSSE3 __attribute__((target("ssse3")))

namespace dyx_image_simd {

namespace {

std::atomic<int> limit{static_cast<int>(Level::kAvx2)};

bool allowed(Level level) { return limit.load(std::memory_order_relaxed) >= static_cast<int>(level); }

}  // namespace

bool available() {
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return supported && allowed(Level::kSsse3);
}

bool avx2_available() {
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return supported && allowed(Level::kAvx2);
}

void set_limit(Level level) { limit.store(static_cast<int>(level), std::memory_order_relaxed); }

namespace {

#define DYX_AVX2 __attribute__((target("avx2")))

// Eight pixels per step: the 24 source bytes go 12 to each 128-bit half,
// then spread to four bytes each. The 32-byte load must stay inside the
// source.
DYX_AVX2 size_t rgb_to_rgba_avx2(const uint8_t *src, uint8_t *dest, size_t count) {
    const __m256i halves = _mm256_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0);
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1,
                                            3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m256i alpha = _mm256_set1_epi32(static_cast<int>(0xff000000u));
    size_t i = 0;
    for (; 3 * i + 32 <= 3 * count; i += 8) {
        const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + 3 * i));
        const __m256i out = _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(in, halves), spread);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dest + 4 * i), _mm256_or_si256(out, alpha));
    }
    return i;
}

// Eight pixels per step: each half packs its four pixels into 12 bytes,
// which are then joined into 24. The 32-byte store must stay inside the
// destination; its last 8 bytes are the next step's to write.
DYX_AVX2 size_t rgba_to_rgb_avx2(const uint8_t *src, uint8_t *dest, size_t count) {
    const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4,
                                          5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    size_t i = 0;
    for (; i + 8 <= count && 3 * i + 32 <= 3 * count; i += 8) {
        const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + 4 * i));
        const __m256i out = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(in, pack), join);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dest + 3 * i), out);
    }
    return i;
}

DYX_SSSE3 size_t rgb_to_rgba_ssse3(const uint8_t *src, uint8_t *dest, size_t count) {
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xff000000u));
    size_t i = 0;
    // Four pixels per step; the 16-byte load must stay inside the source.
    for (; 3 * i + 16 <= 3 * count; i += 4) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 3 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dest + 4 * i),
                         _mm_or_si128(_mm_shuffle_epi8(in, spread), alpha));
    }
    return i;
}

DYX_SSSE3 size_t rgba_to_rgb_ssse3(const uint8_t *src, uint8_t *dest, size_t count) {
    const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i out =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 4 * i)), pack);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dest + 3 * i), out);
        const int32_t last = _mm_cvtsi128_si32(_mm_srli_si128(out, 8));
        std::memcpy(dest + 3 * i + 8, &last, 4);
    }
    return i;
}

}  // namespace

// The widest loop the processor and the limit allow, then the narrower
// one for the pixels left.
size_t rgb_to_rgba(const uint8_t *src, uint8_t *dest, size_t count) {
    const size_t wide = avx2_available() ? rgb_to_rgba_avx2(src, dest, count) : 0;
    return wide + (available() ? rgb_to_rgba_ssse3(src + 3 * wide, dest + 4 * wide, count - wide) : 0);
}

size_t rgba_to_rgb(const uint8_t *src, uint8_t *dest, size_t count) {
    const size_t wide = avx2_available() ? rgba_to_rgb_avx2(src, dest, count) : 0;
    return wide + (available() ? rgba_to_rgb_ssse3(src + 4 * wide, dest + 3 * wide, count - wide) : 0);
}

namespace {

// Sixteen bytes of the swizzle's shuffle and write mask: four pixels.
struct SwizzleLanes {
    alignas(16) int8_t order[16];
    alignas(16) int8_t write[16];
};

SwizzleLanes swizzle_lanes(const int32_t map[4], const int32_t mask[4]) {
    SwizzleLanes lanes;
    for (int pixel = 0; pixel < 4; ++pixel) {
        for (int c = 0; c < 4; ++c) {
            lanes.order[pixel * 4 + c] = static_cast<int8_t>(pixel * 4 + map[c]);
            lanes.write[pixel * 4 + c] = mask[c] != 0 ? -1 : 0;
        }
    }
    return lanes;
}

// Eight pixels per step; both halves use the same four-pixel pattern.
DYX_AVX2 size_t swizzle_rgba_avx2(const uint8_t *src, uint8_t *dest, size_t count,
                                  const SwizzleLanes &lanes) {
    const __m256i shuffle =
        _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(lanes.order)));
    const __m256i written =
        _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(lanes.write)));
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + 4 * i));
        const __m256i old = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(dest + 4 * i));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dest + 4 * i),
                            _mm256_blendv_epi8(old, _mm256_shuffle_epi8(in, shuffle), written));
    }
    return i;
}

DYX_SSSE3 size_t swizzle_rgba_ssse3(const uint8_t *src, uint8_t *dest, size_t count,
                                    const SwizzleLanes &lanes) {
    const __m128i shuffle = _mm_load_si128(reinterpret_cast<const __m128i *>(lanes.order));
    const __m128i written = _mm_load_si128(reinterpret_cast<const __m128i *>(lanes.write));
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 4 * i));
        const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i *>(dest + 4 * i));
        const __m128i moved = _mm_shuffle_epi8(in, shuffle);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dest + 4 * i),
                         _mm_or_si128(_mm_and_si128(moved, written), _mm_andnot_si128(written, old)));
    }
    return i;
}

}  // namespace

size_t swizzle_rgba(const uint8_t *src, uint8_t *dest, size_t count, const int32_t map[4],
                    const int32_t mask[4]) {
    if (!available()) return 0;
    const SwizzleLanes lanes = swizzle_lanes(map, mask);
    const size_t wide = avx2_available() ? swizzle_rgba_avx2(src, dest, count, lanes) : 0;
    return wide + swizzle_rgba_ssse3(src + 4 * wide, dest + 4 * wide, count - wide, lanes);
}

// Picks byte `first + k * stride` of a 16-byte load into 16-bit lane
// `lane0 + k`, k = 0..3.
DYX_SSSE3 inline __m128i lanes(int first, int stride, int lane0) {
    alignas(16) int8_t order[16];
    std::memset(order, -1, sizeof order);
    for (int k = 0; k < 4; ++k) order[2 * (lane0 + k)] = static_cast<int8_t>(first + k * stride);
    return _mm_load_si128(reinterpret_cast<const __m128i *>(order));
}

// trunc((0.3 r + 0.59 g) + 0.11 b) in double precision for eight 16-bit
// lanes, two at a time: the defining expression, operation for operation.
DYX_SSSE3 inline __m128i grey_by_definition(__m128i red, __m128i green, __m128i blue) {
    const __m128i zero = _mm_setzero_si128();
    const __m128d red_weight = _mm_set1_pd(0.3), green_weight = _mm_set1_pd(0.59),
                  blue_weight = _mm_set1_pd(0.11);
    __m128i halves[2];
    for (int half = 0; half < 2; ++half) {
        const __m128i r = half ? _mm_unpackhi_epi16(red, zero) : _mm_unpacklo_epi16(red, zero);
        const __m128i g = half ? _mm_unpackhi_epi16(green, zero) : _mm_unpacklo_epi16(green, zero);
        const __m128i b = half ? _mm_unpackhi_epi16(blue, zero) : _mm_unpacklo_epi16(blue, zero);
        __m128i pairs[2];
        for (int pair = 0; pair < 2; ++pair) {
            const __m128i r2 = pair ? _mm_srli_si128(r, 8) : r;
            const __m128i g2 = pair ? _mm_srli_si128(g, 8) : g;
            const __m128i b2 = pair ? _mm_srli_si128(b, 8) : b;
            const __m128d value = _mm_add_pd(_mm_add_pd(_mm_mul_pd(red_weight, _mm_cvtepi32_pd(r2)),
                                                        _mm_mul_pd(green_weight, _mm_cvtepi32_pd(g2))),
                                             _mm_mul_pd(blue_weight, _mm_cvtepi32_pd(b2)));
            pairs[pair] = _mm_cvttpd_epi32(value);  // two results in the low half
        }
        halves[half] = _mm_unpacklo_epi64(pairs[0], pairs[1]);
    }
    return _mm_packs_epi32(halves[0], halves[1]);
}

DYX_SSSE3 size_t grey_bytes(const uint8_t *src, uint8_t *dest, size_t count, int components) {
    if (!available()) return 0;
    const int c = components;
    const __m128i red_low = lanes(0, c, 0), red_high = lanes(0, c, 4);
    const __m128i green_low = lanes(1, c, 0), green_high = lanes(1, c, 4);
    const __m128i blue_low = lanes(2, c, 0), blue_high = lanes(2, c, 4);
    const __m128i red_weight = _mm_set1_epi16(30), green_weight = _mm_set1_epi16(59);
    const __m128i blue_weight = _mm_set1_epi16(11), hundred = _mm_set1_epi16(100);
    // sum / 100 == (sum * 41944) >> 22 for every sum up to 25500.
    const __m128i reciprocal = _mm_set1_epi16(static_cast<short>(41944));
    const __m128i zero = _mm_setzero_si128();
    const size_t bytes = count * static_cast<size_t>(c);
    size_t i = 0;
    // Eight pixels per step from two 16-byte loads, both inside the source.
    for (; i + 8 <= count && i * c + 4 * c + 16 <= bytes; i += 8) {
        const uint8_t *p = src + i * c;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 4 * c));
        const __m128i red = _mm_or_si128(_mm_shuffle_epi8(a, red_low), _mm_shuffle_epi8(b, red_high));
        const __m128i green = _mm_or_si128(_mm_shuffle_epi8(a, green_low), _mm_shuffle_epi8(b, green_high));
        const __m128i blue = _mm_or_si128(_mm_shuffle_epi8(a, blue_low), _mm_shuffle_epi8(b, blue_high));
        const __m128i sum = _mm_add_epi16(
            _mm_add_epi16(_mm_mullo_epi16(red, red_weight), _mm_mullo_epi16(green, green_weight)),
            _mm_mullo_epi16(blue, blue_weight));
        __m128i grey = _mm_srli_epi16(_mm_mulhi_epu16(sum, reciprocal), 6);
        // Off a multiple of 100 the integer quotient is the double's integer
        // part; on one, the double may fall just short, so ask it. A black
        // pixel (sum 0) is exact, and black frames are common.
        const __m128i on_integer = _mm_andnot_si128(_mm_cmpeq_epi16(sum, zero),
                                                    _mm_cmpeq_epi16(_mm_mullo_epi16(grey, hundred), sum));
        if (_mm_movemask_epi8(on_integer) != 0) grey = grey_by_definition(red, green, blue);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dest + i), _mm_packus_epi16(grey, zero));
    }
    return i;
}

namespace {

// The loop of spread_pixels for one pair of pixel sizes, so that the
// masks stay in registers.
template <int SC, int DC>
DYX_SSSE3 size_t spread_steps(const uint8_t *src, uint8_t *dest, size_t count, const __m128i (&order)[4][2],
                              const __m128i (&fill)[4]) {
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const uint8_t *in = src + i * SC;
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
        __m128i second = first;
        if constexpr (SC == 2) second = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 16));
        uint8_t *out = dest + i * DC;
#pragma GCC unroll 4
        for (int k = 0; k < DC; ++k) {
            __m128i v = _mm_or_si128(_mm_shuffle_epi8(first, order[k][0]), fill[k]);
            if constexpr (SC == 2) v = _mm_or_si128(v, _mm_shuffle_epi8(second, order[k][1]));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16 * k), v);
        }
    }
    return i;
}

}  // namespace

DYX_SSSE3 size_t spread_pixels(const uint8_t *src, uint8_t *dest, size_t count, int src_components,
                               int dest_components, const int sources[4]) {
    if (!available() || src_components < 1 || src_components > 2 || dest_components < 1 ||
        dest_components > 4)
        return 0;
    // For output vector k: which byte of each of the (up to two) input
    // vectors every lane takes, and the 255s.
    __m128i order[4][2], fill[4];
    for (int k = 0; k < dest_components; ++k) {
        alignas(16) int8_t lanes[2][16];
        alignas(16) uint8_t ones[16];
        std::memset(lanes, -1, sizeof lanes);
        std::memset(ones, 0, sizeof ones);
        for (int j = 0; j < 16; ++j) {
            const int out = 16 * k + j, pixel = out / dest_components, component = out % dest_components;
            if (sources[component] < 0) {
                ones[j] = 255;
                continue;
            }
            const int in = pixel * src_components + sources[component];
            lanes[in / 16][j] = static_cast<int8_t>(in % 16);
        }
        order[k][0] = _mm_load_si128(reinterpret_cast<const __m128i *>(lanes[0]));
        order[k][1] = _mm_load_si128(reinterpret_cast<const __m128i *>(lanes[1]));
        fill[k] = _mm_load_si128(reinterpret_cast<const __m128i *>(ones));
    }
    switch (src_components * 8 + dest_components) {
        case 1 * 8 + 2:
            return spread_steps<1, 2>(src, dest, count, order, fill);
        case 1 * 8 + 3:
            return spread_steps<1, 3>(src, dest, count, order, fill);
        case 1 * 8 + 4:
            return spread_steps<1, 4>(src, dest, count, order, fill);
        case 2 * 8 + 1:
            return spread_steps<2, 1>(src, dest, count, order, fill);
        case 2 * 8 + 3:
            return spread_steps<2, 3>(src, dest, count, order, fill);
        case 2 * 8 + 4:
            return spread_steps<2, 4>(src, dest, count, order, fill);
        default:
            return 0;
    }
}

DYX_SSSE3 size_t mirror_rgb(const uint8_t *row, uint8_t *out, size_t width) {
    if (!available()) return 0;
    // Five pixels (15 bytes) reversed per step; the 16th byte written
    // belongs to the next pixel, which a later step or the caller writes.
    const __m128i reverse = _mm_setr_epi8(12, 13, 14, 9, 10, 11, 6, 7, 8, 3, 4, 5, 0, 1, 2, -1);
    size_t done = 0;
    for (; done + 5 <= width && 3 * done + 16 <= 3 * width; done += 5) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + 3 * (width - done - 5)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 3 * done), _mm_shuffle_epi8(in, reverse));
    }
    return done;
}

}  // namespace dyx_image_simd

#else

namespace dyx_image_simd {

void set_limit(Level) {}

}  // namespace dyx_image_simd

#endif
