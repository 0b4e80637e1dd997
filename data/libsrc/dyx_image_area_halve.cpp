// Area averaging at exactly 2:1 in both directions: every target byte is
// floor((a + b + c + d) / 4) of its 2 x 2 source block, one pass over each
// pair of source rows. AVX2 and SSSE3 kernels pair the bytes with a
// shuffle and add them with a multiply-add by ones; the scalar loop does
// the rest of each row and everything on other processors.
#include <cstddef>
#include <cstdint>

#include "dyx_image_area.h"
#include "dyx_image_simd.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define DYX_HALVE_X86 1
#endif

namespace dyx_image_area {
namespace {

size_t halve_scalar(const uint8_t *in0, const uint8_t *in1, uint8_t *out, size_t from, size_t pixels, int c) {
    for (size_t i = from; i < pixels; ++i) {
        const uint8_t *a = in0 + 2 * i * c, *b = in1 + 2 * i * c;
        for (int k = 0; k < c; ++k)
            out[i * c + k] = static_cast<uint8_t>((a[k] + a[k + c] + b[k] + b[k + c]) >> 2);
    }
    return pixels;
}

#ifdef DYX_HALVE_X86

// A group is the source bytes whose targets fit one 16-bit vector: 16
// bytes (8 targets) for 1, 2 and 4 components, 12 bytes (6 targets) for 3.
int group_bytes(int c) { return c == 3 ? 12 : 16; }

// Shuffle putting the two horizontal neighbours of each target byte side
// by side, so that a multiply-add by ones sums them in a 16-bit lane.
void pair_order(int c, int8_t order[16]) {
    const int targets = group_bytes(c) / 2;
    for (int k = 0; k < 8; ++k) {
        const int at = (k / c) * 2 * c + k % c;
        order[2 * k] = static_cast<int8_t>(k < targets ? at : -1);
        order[2 * k + 1] = static_cast<int8_t>(k < targets ? at + c : -1);
    }
}

// Packed targets of two groups: 6 of every 8 bytes are real for RGB.
void rgb_compact(int8_t order[16]) {
    for (int k = 0; k < 16; ++k) order[k] = static_cast<int8_t>(k < 12 ? k + (k / 6) * 2 : -1);
}

__attribute__((target("ssse3"))) inline __m128i sum_pairs(__m128i row0, __m128i row1, __m128i order,
                                                          __m128i ones) {
    const __m128i top = _mm_maddubs_epi16(_mm_shuffle_epi8(row0, order), ones);
    const __m128i bottom = _mm_maddubs_epi16(_mm_shuffle_epi8(row1, order), ones);
    return _mm_srli_epi16(_mm_add_epi16(top, bottom), 2);
}

// Two groups per step; returns the target pixels done.
__attribute__((target("ssse3"))) size_t halve_ssse3(const uint8_t *in0, const uint8_t *in1, uint8_t *out,
                                                    size_t pixels, int c) {
    alignas(16) int8_t order_bytes[16], compact_bytes[16];
    pair_order(c, order_bytes);
    rgb_compact(compact_bytes);
    const __m128i order = _mm_load_si128(reinterpret_cast<const __m128i *>(order_bytes));
    const __m128i compact = _mm_load_si128(reinterpret_cast<const __m128i *>(compact_bytes));
    const __m128i ones = _mm_set1_epi8(1);
    const size_t group = group_bytes(c), in_bytes = 2 * pixels * c;
    size_t x = 0, y = 0;  // source and target byte offsets
    for (; x + group + 16 <= in_bytes; x += 2 * group, y += group) {
        auto load = [](const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); };
        const __m128i first = sum_pairs(load(in0 + x), load(in1 + x), order, ones);
        const __m128i second = sum_pairs(load(in0 + x + group), load(in1 + x + group), order, ones);
        const __m128i packed = _mm_packus_epi16(first, second);
        if (c == 3) {
            const __m128i targets = _mm_shuffle_epi8(packed, compact);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(out + y), targets);
            const int32_t last = _mm_cvtsi128_si32(_mm_srli_si128(targets, 8));
            __builtin_memcpy(out + y + 8, &last, 4);
        } else {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + y), packed);
        }
    }
    return y / c;
}

__attribute__((target("avx2"))) inline __m256i load_pair(const uint8_t *low, const uint8_t *high) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(low))),
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(high)), 1);
}

__attribute__((target("avx2"))) inline __m256i sum_pairs(__m256i row0, __m256i row1, __m256i order,
                                                         __m256i ones) {
    const __m256i top = _mm256_maddubs_epi16(_mm256_shuffle_epi8(row0, order), ones);
    const __m256i bottom = _mm256_maddubs_epi16(_mm256_shuffle_epi8(row1, order), ones);
    return _mm256_srli_epi16(_mm256_add_epi16(top, bottom), 2);
}

// Four groups per step: groups 0 and 2 in one vector, 1 and 3 in another,
// so that packing them puts groups 0, 1 in the low lane and 2, 3 in the
// high one, in target order.
__attribute__((target("avx2"))) size_t halve_avx2(const uint8_t *in0, const uint8_t *in1, uint8_t *out,
                                                  size_t pixels, int c) {
    alignas(16) int8_t order_bytes[16], compact_bytes[16];
    pair_order(c, order_bytes);
    rgb_compact(compact_bytes);
    const __m256i order =
        _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(order_bytes)));
    const __m256i compact =
        _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(compact_bytes)));
    const __m256i ones = _mm256_set1_epi8(1);
    const size_t group = group_bytes(c), in_bytes = 2 * pixels * c;
    size_t x = 0, y = 0;
    for (; x + 3 * group + 16 <= in_bytes; x += 4 * group, y += 2 * group) {
        const __m256i even = sum_pairs(load_pair(in0 + x, in0 + x + 2 * group),
                                       load_pair(in1 + x, in1 + x + 2 * group), order, ones);
        const __m256i odd = sum_pairs(load_pair(in0 + x + group, in0 + x + 3 * group),
                                      load_pair(in1 + x + group, in1 + x + 3 * group), order, ones);
        const __m256i packed = _mm256_packus_epi16(even, odd);
        if (c == 3) {
            const __m256i targets = _mm256_shuffle_epi8(packed, compact);
            const __m128i low = _mm256_castsi256_si128(targets), high = _mm256_extracti128_si256(targets, 1);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + y), low);  // 4 bytes rewritten next
            _mm_storel_epi64(reinterpret_cast<__m128i *>(out + y + 12), high);
            const int32_t last = _mm_cvtsi128_si32(_mm_srli_si128(high, 8));
            __builtin_memcpy(out + y + 20, &last, 4);
        } else {
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + y), packed);
        }
    }
    return y / c;
}

#endif

}  // namespace

void halve_rows(const uint8_t *src, uint32_t sw, uint8_t *dest, uint32_t dw, int components, uint32_t first,
                uint32_t end) {
    const size_t src_stride = static_cast<size_t>(sw) * components;
    const size_t dest_stride = static_cast<size_t>(dw) * components;
    for (uint32_t j = first; j < end; ++j) {
        const uint8_t *in0 = src + 2 * static_cast<size_t>(j) * src_stride, *in1 = in0 + src_stride;
        uint8_t *out = dest + j * dest_stride;
        size_t done = 0;
#ifdef DYX_HALVE_X86
        if (dyx_image_simd::avx2_available())
            done = halve_avx2(in0, in1, out, dw, components);
        else if (dyx_image_simd::available())
            done = halve_ssse3(in0, in1, out, dw, components);
#endif
        halve_scalar(in0, in1, out, done, dw, components);
    }
}

}  // namespace dyx_image_area
