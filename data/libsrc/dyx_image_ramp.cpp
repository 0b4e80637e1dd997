// The intensity ramp of movie reading: every pixel byte times a factor.
#include <cstddef>
#include <cstdint>

#include "dyx_image.h"
#include "dyx_image_frame.h"
#include "dyx_status.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline uint8_t scaled(uint8_t value, float factor) {
    return static_cast<uint8_t>(static_cast<int>(static_cast<float>(value) * factor));
}

// Sixteen bytes per step through single-precision lanes: the same
// multiply and the same truncation as `scaled`, so results are identical.
size_t scale_bytes_vector(uint8_t *bytes, size_t count, float factor) {
#if defined(__SSE2__)
    const __m128 lanes = _mm_set1_ps(factor);
    const __m128i zero = _mm_setzero_si128();
    size_t done = 0;
    for (; done + 16 <= count; done += 16) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + done));
        const __m128i low = _mm_unpacklo_epi8(in, zero);
        const __m128i high = _mm_unpackhi_epi8(in, zero);
        __m128i words[4] = {_mm_unpacklo_epi16(low, zero), _mm_unpackhi_epi16(low, zero),
                            _mm_unpacklo_epi16(high, zero), _mm_unpackhi_epi16(high, zero)};
        for (__m128i &word : words) word = _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(word), lanes));
        const __m128i packed =
            _mm_packus_epi16(_mm_packs_epi32(words[0], words[1]), _mm_packs_epi32(words[2], words[3]));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(bytes + done), packed);
    }
    return done;
#else
    (void)bytes;
    (void)count;
    (void)factor;
    return 0;
#endif
}

}  // namespace

extern "C" {

int dyx_image_intensity(dyx_image_t *image, float factor) {
    if (image == nullptr || !(factor >= 0.0f && factor <= 1.0f)) return DYX_BAD_ARGUMENT;
    if (factor == 1.0f || image->data == nullptr) return DYX_OK;
    const size_t count = static_cast<size_t>(dyx_image_data_size(image));
    uint8_t *bytes = image->data;
    for (size_t i = scale_bytes_vector(bytes, count, factor); i < count; ++i)
        bytes[i] = scaled(bytes[i], factor);
    return DYX_OK;
}

}  // extern "C"
