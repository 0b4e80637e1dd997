// Area averaging, shared by the scaling entry point and its exact integer
// path: the windows of each axis cut into pieces of source pixels.
#pragma once

#include <cstdint>
#include <vector>

namespace dyx_image_area {

// The pieces of one axis: for every target index i, up to `pieces` source
// indices and their single-precision extents, stored piece-major
// (index[m * size + i]). Targets with fewer pieces are padded with extent
// 0 at a valid index: adding a zero weight leaves every sum unchanged, so
// all targets can run the same sequence of operations.
struct AxisPieces {
    uint32_t size = 0;
    uint32_t pieces = 0;
    std::vector<uint32_t> count;  // real pieces of each target
    std::vector<uint32_t> index;
    std::vector<float> extent;
};

// Resamples by area average in exact integer arithmetic when the pieces
// allow it (extents that are small multiples of a power of two); returns
// false, touching nothing, when they do not. Large pictures are split into
// row bands over the library's workers.
bool resample_exact(int components, const uint8_t *src, uint32_t sw, uint32_t sh, uint8_t *dest, uint32_t dw,
                    uint32_t dh, const AxisPieces &cols, const AxisPieces &rows);

// Target rows [first, end) of an area average at exactly 2:1 in both
// directions (target (i, j) covers source columns 2i, 2i + 1 and rows 2j,
// 2j + 1, each piece of extent 1): floor((a + b + c + d) / 4).
void halve_rows(const uint8_t *src, uint32_t sw, uint8_t *dest, uint32_t dw, int components, uint32_t first,
                uint32_t end);

// Target rows [first, end) of an area average at exactly 1:2 in both
// directions (dw = 2 sw, dh = 2 sh): (9 a + 3 b + 3 c + d + 8) >> 4 of the
// nearer and farther source pixels, wrapping round the edges.
void double_rows(const uint8_t *src, uint32_t sw, uint32_t sh, uint8_t *dest, int components, uint32_t first,
                 uint32_t end);

// One column piece of one strip in single precision, as the general path
// sums it, for targets [0, count): w = widths[i] * height, weight[i] += w,
// planes[c][i] += (byte c of the pixel at in + at[i]) * w. Reads a 32-bit
// word at each in + at[i]. Returns the targets done: a multiple of eight
// with AVX2, 0 without.
uint32_t accumulate_piece_avx2(const uint8_t *in, const uint32_t *at, const float *widths, float height,
                               float *weight, float *const planes[4], int components, uint32_t count);

}  // namespace dyx_image_area
