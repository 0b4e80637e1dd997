// SSSE3 loops for x86-64 processors (every one made in the last fifteen
// years), chosen at run time. Each function handles the leading pixels it
// can do in whole groups and returns how many it did; the caller finishes
// the rest with its portable loop. They move bytes, or compute exactly
// what the portable loops compute, so results never depend on the path.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dyx_image_simd {

// The widest instructions the kernels may use; tests lower it to check
// that every path gives the same bytes.
enum class Level { kScalar = 0, kSsse3 = 1, kAvx2 = 2 };
void set_limit(Level level);

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

// True when the processor runs SSSE3 and the limit allows it (the
// functions below check it).
bool available();
// True when it runs AVX2 and the limit allows it, for the kernels that
// have a wider version.
bool avx2_available();

// RGB -> RGBA with alpha 255, and RGBA -> RGB.
size_t rgb_to_rgba(const uint8_t *src, uint8_t *dest, size_t count);
size_t rgba_to_rgb(const uint8_t *src, uint8_t *dest, size_t count);

// RGBA swizzle: output byte c takes input byte map[c] where mask[c] is
// set. src and dest may be the same.
size_t swizzle_rgba(const uint8_t *src, uint8_t *dest, size_t count, const int32_t map[4],
                    const int32_t mask[4]);

// The grey value trunc(0.3 r + 0.59 g + 0.11 b) (double precision) of RGB
// (components 3) or RGBA (4) pixels, one byte each.
size_t grey_bytes(const uint8_t *src, uint8_t *dest, size_t count, int components);
// The same with AVX2, 16 pixels per step in integers; `fixes` is
// dyx_image_detail::grey_rounding_fixes().
size_t grey_bytes_avx2(const uint8_t *src, uint8_t *dest, size_t count, int components, const uint8_t *fixes);

// One- and two-component pixels (A, L, LA) spread to `dest_components`
// bytes each, 16 pixels per step: output byte c of a pixel takes its
// source component sources[c], or 255 where sources[c] is -1.
size_t spread_pixels(const uint8_t *src, uint8_t *dest, size_t count, int src_components, int dest_components,
                     const int sources[4]);

// Writes the pixels of `row` (width RGB pixels) in reverse order to `out`;
// `row` must have 16 readable bytes after its end.
size_t mirror_rgb(const uint8_t *row, uint8_t *out, size_t width);

#else

inline bool available() { return false; }
inline bool avx2_available() { return false; }
inline size_t rgb_to_rgba(const uint8_t *, uint8_t *, size_t) { return 0; }
inline size_t rgba_to_rgb(const uint8_t *, uint8_t *, size_t) { return 0; }
inline size_t swizzle_rgba(const uint8_t *, uint8_t *, size_t, const int32_t *, const int32_t *) { return 0; }
inline size_t grey_bytes(const uint8_t *, uint8_t *, size_t, int) { return 0; }
inline size_t grey_bytes_avx2(const uint8_t *, uint8_t *, size_t, int, const uint8_t *) { return 0; }
inline size_t mirror_rgb(const uint8_t *, uint8_t *, size_t) { return 0; }
inline size_t spread_pixels(const uint8_t *, uint8_t *, size_t, int, int, const int *) { return 0; }

#endif

}  // namespace dyx_image_simd
