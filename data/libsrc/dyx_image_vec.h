// Small fixed-width vectors for the pixel loops (GCC/Clang vector
// extensions: SSE2 on x86-64, NEON on ARM), with unaligned loads and
// stores. Every operation on them is lane-wise integer arithmetic, so the
// results are exactly those of the scalar formulas.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dyx_vec {

typedef uint8_t u8x16 __attribute__((vector_size(16)));
typedef uint16_t u16x8 __attribute__((vector_size(16)));
typedef uint32_t u32x4 __attribute__((vector_size(16)));

constexpr int kBytes = 16;

inline u8x16 load(const uint8_t *from) {
    u8x16 v;
    std::memcpy(&v, from, sizeof v);
    return v;
}

inline void store(uint8_t *to, u8x16 v) { std::memcpy(to, &v, sizeof v); }

// The low and high eight bytes widened to 16-bit lanes.
inline u16x8 widen_low(u8x16 v) {
    const u8x16 zero = {};
    return (u16x8)__builtin_shufflevector(v, zero, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
}

inline u16x8 widen_high(u8x16 v) {
    const u8x16 zero = {};
    return (u16x8)__builtin_shufflevector(v, zero, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15,
                                          31);
}

// The low byte of every 16-bit lane of two vectors, low first.
inline u8x16 narrow(u16x8 low, u16x8 high) {
    return __builtin_shufflevector((u8x16)low, (u8x16)high, 0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26,
                                   28, 30);
}

// Lanes of at most 255 * 255 + 255 divided by 255, truncated. SSE2 takes the
// high half of x * 0x8081 shifted by 7, i.e. (x * 32897) >> 23; both forms
// equal the division for every such lane (the blend tests check all byte
// products).
inline u16x8 divide_by_255(u16x8 x) {
#if defined(__SSE2__)
    return (u16x8)_mm_srli_epi16(_mm_mulhi_epu16((__m128i)x, _mm_set1_epi16(static_cast<short>(0x8081))), 7);
#else
    return (x + 1 + (x >> 8)) >> 8;
#endif
}

// Two vectors of lanes up to 0x7fff narrowed to bytes, saturating at 255.
inline u8x16 narrow_saturated(u16x8 low, u16x8 high) {
#if defined(__SSE2__)
    return (u8x16)_mm_packus_epi16((__m128i)low, (__m128i)high);
#else
    const u16x8 top = {255, 255, 255, 255, 255, 255, 255, 255};
    return narrow(low < top ? low : top, high < top ? high : top);
#endif
}

}  // namespace dyx_vec
