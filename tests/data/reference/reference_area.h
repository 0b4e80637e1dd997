// Kept unchanged from the library's earlier, slower version: the reference
// that the exactness tests compare today's code with (namespace orvo_reference).
// Area averaging: the windows of each axis cut into pieces of source pixels.
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

}  // namespace dyx_image_area

}  // namespace orvo_reference
