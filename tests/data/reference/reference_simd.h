// Kept unchanged from the library's earlier, slower version: the reference
// that the exactness tests compare today's code with (namespace orvo_reference).
// SSSE3 loops for x86-64 processors (every one made in the last fifteen
// years), chosen at run time. Each function handles the leading pixels it
// can do in whole groups and returns how many it did; the caller finishes
// the rest with its portable loop. They move bytes, or compute exactly
// what the portable loops compute, so results never depend on the path.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvo_reference {

namespace dyx_image_simd {

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

// True when the processor runs SSSE3 (the functions below check it).
bool available();

// RGB -> RGBA with alpha 255, and RGBA -> RGB.
size_t rgb_to_rgba(const uint8_t *src, uint8_t *dest, size_t count);
size_t rgba_to_rgb(const uint8_t *src, uint8_t *dest, size_t count);

// The grey value trunc(0.3 r + 0.59 g + 0.11 b) (double precision) of RGB
// (components 3) or RGBA (4) pixels, one byte each.
size_t grey_bytes(const uint8_t *src, uint8_t *dest, size_t count, int components);

#else

inline bool available() { return false; }
inline size_t rgb_to_rgba(const uint8_t *, uint8_t *, size_t) { return 0; }
inline size_t rgba_to_rgb(const uint8_t *, uint8_t *, size_t) { return 0; }
inline size_t grey_bytes(const uint8_t *, uint8_t *, size_t, int) { return 0; }

#endif

}  // namespace dyx_image_simd

}  // namespace orvo_reference
