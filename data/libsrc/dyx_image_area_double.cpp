// Area averaging at exactly 1:2 in both directions. Each target window is
// one source pixel wide and centred a quarter pixel off a source centre,
// so it covers 3/4 of the nearer source pixel and 1/4 of the farther one
// on each axis (the farther one wrapping round the edge). Weights 9, 3, 3
// and 1 sixteenths are exact in single precision and add up to 1, so the
// definition's trunc(sum + 0.5) is (9 a + 3 b + 3 c + d + 8) >> 4.
// Per target row: v = 3 near + far over the source row, then the left and
// right targets of every source pixel, then both interleaved.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "dyx_image_area.h"
#include "dyx_image_simd.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <tmmintrin.h>
#define DYX_DOUBLE_SSSE3 1
#endif

// Integer loops written to be vectorised; only the speed changes.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("tree-vectorize", "vect-cost-model=dynamic")
#endif

namespace dyx_image_area {
namespace {

#ifdef DYX_DOUBLE_SSSE3
// Interleaves the left (even) and right (odd) targets of RGB source pixels,
// four source pixels per step; returns the source pixels done.
__attribute__((target("ssse3"))) size_t interleave_rgb(const uint8_t *even, const uint8_t *odd, uint8_t *out,
                                                       size_t pixels) {
    const __m128i even_low = _mm_setr_epi8(0, 1, 2, -1, -1, -1, 3, 4, 5, -1, -1, -1, 6, 7, 8, -1);
    const __m128i odd_low = _mm_setr_epi8(-1, -1, -1, 0, 1, 2, -1, -1, -1, 3, 4, 5, -1, -1, -1, 6);
    const __m128i even_high = _mm_setr_epi8(-1, -1, 9, 10, 11, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i odd_high = _mm_setr_epi8(7, 8, -1, -1, -1, 9, 10, 11, -1, -1, -1, -1, -1, -1, -1, -1);
    size_t k = 0;
    for (; k + 4 <= pixels; k += 4) {  // the rows of left and right targets are padded by 16
        const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i *>(even + 3 * k));
        const __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i *>(odd + 3 * k));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 6 * k),
                         _mm_or_si128(_mm_shuffle_epi8(e, even_low), _mm_shuffle_epi8(o, odd_low)));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + 6 * k + 16),
                         _mm_or_si128(_mm_shuffle_epi8(e, even_high), _mm_shuffle_epi8(o, odd_high)));
    }
    return k;
}
#endif

// Interleaves 16 bytes of left and right targets into 32 output bytes,
// C bytes from each in turn (C = 1, 2 or 4).
template <int C>
size_t interleave_words(const uint8_t *even, const uint8_t *odd, uint8_t *out, size_t pixels) {
#ifdef DYX_DOUBLE_SSSE3
    size_t k = 0;
    for (; (k + 16 / C) <= pixels; k += 16 / C) {
        const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i *>(even + C * k));
        const __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i *>(odd + C * k));
        __m128i low, high;
        if constexpr (C == 1) {
            low = _mm_unpacklo_epi8(e, o);
            high = _mm_unpackhi_epi8(e, o);
        } else if constexpr (C == 2) {
            low = _mm_unpacklo_epi16(e, o);
            high = _mm_unpackhi_epi16(e, o);
        } else {
            low = _mm_unpacklo_epi32(e, o);
            high = _mm_unpackhi_epi32(e, o);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 2 * C * k), low);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 2 * C * k + 16), high);
    }
    return k;
#else
    (void)even, (void)odd, (void)out, (void)pixels;
    return 0;
#endif
}

template <int C>
void double_rows(const uint8_t *src, uint32_t sw, uint32_t sh, uint8_t *dest, uint32_t first, uint32_t end) {
    const size_t values = static_cast<size_t>(sw) * C;
    // v with C values of wrap-around padding on each side.
    std::vector<uint16_t> padded(values + 2 * C);
    std::vector<uint8_t> even(values + 16), odd(values + 16);
    uint16_t *v = padded.data() + C;
    for (uint32_t j = first; j < end; ++j) {
        const uint32_t near = j / 2;
        const uint32_t far = j % 2 == 0 ? (near == 0 ? sh - 1 : near - 1) : (near + 1 == sh ? 0 : near + 1);
        const uint8_t *__restrict a = src + near * values;
        const uint8_t *__restrict b = src + far * values;
        for (size_t n = 0; n < values; ++n) v[n] = static_cast<uint16_t>(3 * a[n] + b[n]);
        for (int c = 0; c < C; ++c) {
            v[c - C] = v[values - C + c];
            v[values + c] = v[c];
        }
        const uint16_t *__restrict centre = v;
        const uint16_t *__restrict left = v - C;
        const uint16_t *__restrict right = v + C;
        uint8_t *__restrict e = even.data();
        uint8_t *__restrict o = odd.data();
        for (size_t n = 0; n < values; ++n) {
            e[n] = static_cast<uint8_t>((3 * centre[n] + left[n] + 8) >> 4);
            o[n] = static_cast<uint8_t>((3 * centre[n] + right[n] + 8) >> 4);
        }
        uint8_t *out = dest + static_cast<size_t>(j) * 2 * values;
        size_t k = 0;
#ifdef DYX_DOUBLE_SSSE3
        if (dyx_image_simd::available()) {
            if constexpr (C == 3)
                k = interleave_rgb(e, o, out, sw);
            else
                k = interleave_words<C>(e, o, out, sw);
        }
#endif
        for (; k < sw; ++k) {
            std::memcpy(out + 2 * C * k, e + C * k, C);
            std::memcpy(out + 2 * C * k + C, o + C * k, C);
        }
    }
}

}  // namespace

void double_rows(const uint8_t *src, uint32_t sw, uint32_t sh, uint8_t *dest, int components, uint32_t first,
                 uint32_t end) {
    switch (components) {
        case 1:
            double_rows<1>(src, sw, sh, dest, first, end);
            break;
        case 2:
            double_rows<2>(src, sw, sh, dest, first, end);
            break;
        case 3:
            double_rows<3>(src, sw, sh, dest, first, end);
            break;
        case 4:
            double_rows<4>(src, sw, sh, dest, first, end);
            break;
    }
}

}  // namespace dyx_image_area
