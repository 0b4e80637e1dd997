// One column piece of area averaging's single-precision path, eight target
// pixels per step with AVX2. Each lane runs the scalar loop's operations
// on one target in the same order (w = width * height, weight += w,
// sum += byte * w, no fused multiply-add), so the sums are bit-identical.
#include "dyx_image_area.h"
#include "dyx_image_simd.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#include <immintrin.h>

namespace dyx_image_area {

__attribute__((target("avx2"))) uint32_t accumulate_piece_avx2(const uint8_t *in, const uint32_t *at,
                                                               const float *widths, float height,
                                                               float *weight, float *const planes[4],
                                                               int components, uint32_t count) {
    if (!dyx_image_simd::avx2_available()) return 0;
    const __m256 strip_height = _mm256_set1_ps(height);
    const __m256i low_byte = _mm256_set1_epi32(0xff);
    uint32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256 w = _mm256_mul_ps(_mm256_loadu_ps(widths + i), strip_height);
        _mm256_storeu_ps(weight + i, _mm256_add_ps(_mm256_loadu_ps(weight + i), w));
        // The pixel's bytes in one 32-bit word per lane.
        const __m256i offsets = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at + i));
        const __m256i words = _mm256_i32gather_epi32(reinterpret_cast<const int *>(in), offsets, 1);
        for (int c = 0; c < components; ++c) {
            const __m256i value = _mm256_and_si256(_mm256_srli_epi32(words, 8 * c), low_byte);
            float *sum = planes[c] + i;
            _mm256_storeu_ps(
                sum, _mm256_add_ps(_mm256_loadu_ps(sum), _mm256_mul_ps(_mm256_cvtepi32_ps(value), w)));
        }
    }
    return i;
}

}  // namespace dyx_image_area

#else

namespace dyx_image_area {

uint32_t accumulate_piece_avx2(const uint8_t *, const uint32_t *, const float *, float, float *,
                               float *const[4], int, uint32_t) {
    return 0;
}

}  // namespace dyx_image_area

#endif
