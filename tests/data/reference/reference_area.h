// Kept unchanged from the library's earlier, slower version: the reference
// that the exactness tests compare today's code with (namespace orvo_reference).
// Area averaging, shared by the scaling entry point and its exact integer
// path: the windows of each axis cut into pieces of source pixels.
#pragma once

#include <cstdint>
#include <vector>

namespace orvo_reference {

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
// false, touching nothing, when they do not.
bool resample_exact(int components, const uint8_t *src, uint32_t sw, uint8_t *dest, uint32_t dw, uint32_t dh,
                    const AxisPieces &cols, const AxisPieces &rows);

}  // namespace dyx_image_area

}  // namespace orvo_reference
