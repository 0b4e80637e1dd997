// The byte-wise difference of two images of the same kind, as a new image.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "dyx_image.h"
#include "dyx_image_bands.h"
#include "dyx_image_simd.h"
#include "dyx_image_stats.h"
#include "dyx_image_vec.h"

namespace {

using dyx_vec::u8x16;

// (a - b) modulo 256: byte arithmetic wraps by itself.
struct ModuloDifference {
    static u8x16 apply(u8x16 a, u8x16 b) { return a - b; }
    static uint8_t apply(uint8_t a, uint8_t b) { return static_cast<uint8_t>(a - b); }
};

// |a - b| as the larger minus the smaller.
struct AbsoluteDifference {
    static u8x16 apply(u8x16 a, u8x16 b) {
        const u8x16 larger = a > b ? a : b;
        const u8x16 smaller = a > b ? b : a;
        return larger - smaller;
    }
    static uint8_t apply(uint8_t a, uint8_t b) { return static_cast<uint8_t>(a > b ? a - b : b - a); }
};

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// 32 bytes per step where the processor has AVX2; returns the bytes done.
// The kind of difference is a template argument, so that the loop holds
// no test of it.
template <bool kAbsolute>
__attribute__((target("avx2"))) size_t wide_difference_of(const uint8_t *a, const uint8_t *b, uint8_t *out,
                                                          size_t bytes) {
    size_t n = 0;
    for (; n + 32 <= bytes; n += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(a + n));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b + n));
        const __m256i d =
            kAbsolute ? _mm256_sub_epi8(_mm256_max_epu8(x, y), _mm256_min_epu8(x, y)) : _mm256_sub_epi8(x, y);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + n), d);
    }
    return n;
}

size_t wide_difference(const uint8_t *a, const uint8_t *b, uint8_t *out, size_t bytes, bool absolute) {
    if (!dyx_image_simd::avx2_available()) return 0;
    return absolute ? wide_difference_of<true>(a, b, out, bytes)
                    : wide_difference_of<false>(a, b, out, bytes);
}
#else
size_t wide_difference(const uint8_t *, const uint8_t *, uint8_t *, size_t, bool) { return 0; }
#endif

template <typename Difference>
void difference(const uint8_t *a, const uint8_t *b, uint8_t *out, size_t bytes) {
    size_t n = wide_difference(a, b, out, bytes, std::is_same<Difference, AbsoluteDifference>::value);
    for (; n + dyx_vec::kBytes <= bytes; n += dyx_vec::kBytes)
        dyx_vec::store(out + n, Difference::apply(dyx_vec::load(a + n), dyx_vec::load(b + n)));
    for (; n < bytes; ++n) out[n] = Difference::apply(a[n], b[n]);
}

}  // namespace

extern "C" {

dyx_image_t *dyx_image_diff(const dyx_image_t *a, const dyx_image_t *b, int32_t absolute) {
    if (dyx_image_hdr_diff(a, b, DYX_IMAGE_HDR_SIZE | DYX_IMAGE_HDR_FORMAT | DYX_IMAGE_HDR_DEPTH) != 0)
        return nullptr;
    dyx_image_t *result = dyx_image_alloc(a->width, a->height, a->depth, a->format);
    if (result == nullptr) return nullptr;
    const size_t bytes = dyx_image_data_size(a);
    if (bytes != 0 && a->data != nullptr && b->data != nullptr) {
        // Row bands over the workers: every byte is its own difference.
        const size_t row_bytes = bytes / a->height;
        dyx_image_bands::for_row_bands(a->height, 3 * row_bytes, [&](int64_t first, int64_t end) {
            const size_t offset = static_cast<size_t>(first) * row_bytes;
            const size_t count = static_cast<size_t>(end - first) * row_bytes;
            if (absolute)
                difference<AbsoluteDifference>(a->data + offset, b->data + offset, result->data + offset,
                                               count);
            else
                difference<ModuloDifference>(a->data + offset, b->data + offset, result->data + offset,
                                             count);
        });
    }
    // The depth plane is not a difference; zero it rather than hand out
    // whatever the allocator left there.
    if (result->depth_data != nullptr)
        std::memset(result->depth_data, 0,
                    static_cast<size_t>(result->width) * result->height * sizeof(float));
    return result;
}

}  // extern "C"
