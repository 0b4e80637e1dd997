// The blend kernel with AVX2: 32 bytes per vector, two blocks of the
// 16-byte kernel per step, the same arithmetic lane for lane
// (see dyx_image_blend.cpp).
#include "dyx_image_blend.h"

#include "dyx_image_simd.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#include <immintrin.h>

#include <array>
#include <cstring>
#include <utility>

// Everything below is this file's own, so no inline function compiled for
// AVX2 here can stand in for another file's. Clang takes the target through
// its own pragma, which reaches every function declared below.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

namespace blend_kernels {
namespace {

typedef uint8_t u8x32 __attribute__((vector_size(32)));
typedef uint16_t u16x16 __attribute__((vector_size(32)));
typedef uint32_t u32x8 __attribute__((vector_size(32)));

inline u8x32 load(const uint8_t *from) {
    return (u8x32)_mm256_loadu_si256(reinterpret_cast<const __m256i *>(from));
}
inline void store(uint8_t *to, u8x32 v) { _mm256_storeu_si256(reinterpret_cast<__m256i *>(to), (__m256i)v); }

// Lanes of at most 255 * 255 + 255 divided by 255, truncated, as the
// 16-byte kernel: the high half of x * 0x8081 shifted by 7.
inline __m256i divide_by_255(__m256i x) {
    return _mm256_srli_epi16(_mm256_mulhi_epu16(x, _mm256_set1_epi16(static_cast<short>(0x8081))), 7);
}

// trunc(s * fs / 255) + trunc(d * fd / 255), saturated at 255. The widening
// and the packing work within each 128-bit half, so they undo each other.
inline u8x32 mix(u8x32 s, u8x32 fs, u8x32 d, u8x32 fd) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i s_low = _mm256_unpacklo_epi8((__m256i)s, zero),
                  s_high = _mm256_unpackhi_epi8((__m256i)s, zero);
    const __m256i fs_low = _mm256_unpacklo_epi8((__m256i)fs, zero),
                  fs_high = _mm256_unpackhi_epi8((__m256i)fs, zero);
    const __m256i d_low = _mm256_unpacklo_epi8((__m256i)d, zero),
                  d_high = _mm256_unpackhi_epi8((__m256i)d, zero);
    const __m256i fd_low = _mm256_unpacklo_epi8((__m256i)fd, zero),
                  fd_high = _mm256_unpackhi_epi8((__m256i)fd, zero);
    const __m256i low = _mm256_add_epi16(divide_by_255(_mm256_mullo_epi16(s_low, fs_low)),
                                         divide_by_255(_mm256_mullo_epi16(d_low, fd_low)));
    const __m256i high = _mm256_add_epi16(divide_by_255(_mm256_mullo_epi16(s_high, fs_high)),
                                          divide_by_255(_mm256_mullo_epi16(d_high, fd_high)));
    return (u8x32)_mm256_packus_epi16(low, high);
}

template <int C>
inline u8x32 pixel_alphas(u8x32 v) {
    if constexpr (C == 4) {
        u32x8 alpha = (u32x8)v & 0xff000000u;
        alpha |= alpha >> 8;
        alpha |= alpha >> 16;
        return (u8x32)alpha;
    } else {
        u16x16 alpha = (u16x16)v & 0xff00;
        alpha |= alpha >> 8;
        return (u8x32)alpha;
    }
}

// The 32 lanes from offset on of a pattern repeating every period bytes.
inline u8x32 repeat_pattern(const uint8_t *pattern, int offset, int period) {
    uint8_t bytes[32];
    for (int k = 0; k < 32; ++k) bytes[k] = pattern[(offset + k) % period];
    return load(bytes);
}

// One factor's select masks for one vector of a wide step: the lanes of
// the 16- or 48-byte block pattern, repeated.
struct FactorVector {
    u8x32 source, source_alpha, dest, dest_alpha, constant, invert;

    FactorVector() = default;
    FactorVector(const FactorLanes &lanes, int offset, int period) {
        source = repeat_pattern(lanes.source, offset, period);
        source_alpha = repeat_pattern(lanes.source_alpha, offset, period);
        dest = repeat_pattern(lanes.dest, offset, period);
        dest_alpha = repeat_pattern(lanes.dest_alpha, offset, period);
        constant = repeat_pattern(lanes.constant, offset, period);
        invert = repeat_pattern(lanes.invert, offset, period);
    }

    template <unsigned T>
    u8x32 select(u8x32 s, u8x32 s_alpha, u8x32 d, u8x32 d_alpha) const {
        u8x32 factor = constant;
        if constexpr ((T & kSource) != 0) factor |= s & source;
        if constexpr ((T & kSourceAlpha) != 0) factor |= s_alpha & source_alpha;
        if constexpr ((T & kDest) != 0) factor |= d & dest;
        if constexpr ((T & kDestAlpha) != 0) factor |= d_alpha & dest_alpha;
        return factor ^ invert;
    }
};

// Each step is read completely before it is written, as in the 16-byte
// kernel, so that src may be dest.
template <int C, unsigned T>
void blend_steps(const uint8_t *src, uint8_t *dest, size_t steps, const BlendPlan &plan) {
    constexpr int V = C == 3 ? 3 : 1;
    constexpr int period = C == 3 ? 48 : 16;
    FactorVector source_factor[V], dest_factor[V];
    for (int v = 0; v < V; ++v) {
        source_factor[v] = FactorVector(plan.source_factor, 32 * v, period);
        dest_factor[v] = FactorVector(plan.dest_factor, 32 * v, period);
    }
    for (size_t n = 0; n < steps; ++n, src += 32 * V, dest += 32 * V) {
        for (int v = 0; v < V; ++v) {
            const u8x32 s = load(src + 32 * v), d = load(dest + 32 * v);
            u8x32 s_alpha = {}, d_alpha = {};
            if constexpr ((T & kSourceAlpha) != 0) s_alpha = pixel_alphas<C>(s);
            if constexpr ((T & kDestAlpha) != 0) d_alpha = pixel_alphas<C>(d);
            const u8x32 fs = source_factor[v].template select<T>(s, s_alpha, d, d_alpha);
            const u8x32 fd = dest_factor[v].template select<T>(s, s_alpha, d, d_alpha);
            store(dest + 32 * v, mix(s, fs, d, fd));
        }
    }
}

using StepFunction = void (*)(const uint8_t *, uint8_t *, size_t, const BlendPlan &);

template <int C, unsigned... T>
constexpr std::array<StepFunction, kAllTerms> kernels(std::integer_sequence<unsigned, T...>) {
    constexpr bool has_alphas = C == 2 || C == 4;
    return {{&blend_steps < C, has_alphas ? T : T & (kSource | kDest) > ...}};
}

template <int C>
void blend_format(const uint8_t *src, uint8_t *dest, size_t steps, const BlendPlan &plan) {
    static constexpr std::array<StepFunction, kAllTerms> table =
        kernels<C>(std::make_integer_sequence<unsigned, kAllTerms>());
    table[plan.terms](src, dest, steps, plan);
}

}  // namespace

bool blend_wide(int components, const uint8_t *src, uint8_t *dest, size_t blocks, const BlendPlan &plan) {
    if (!dyx_image_simd::avx2_available()) return false;
    switch (components) {
        case 1:
            blend_format<1>(src, dest, blocks, plan);
            return true;
        case 2:
            blend_format<2>(src, dest, blocks, plan);
            return true;
        case 3:
            blend_format<3>(src, dest, blocks, plan);
            return true;
        case 4:
            blend_format<4>(src, dest, blocks, plan);
            return true;
    }
    return false;
}

}  // namespace blend_kernels

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#else

namespace blend_kernels {
bool blend_wide(int, const uint8_t *, uint8_t *, size_t, const BlendPlan &) { return false; }
}  // namespace blend_kernels

#endif
