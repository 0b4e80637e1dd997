// What the blend kernels share: where each lane's factor comes from, for
// one block of whole pixels (16 bytes for 1, 2 and 4 components, 48 for
// RGB), and which inputs the factors read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace blend_kernels {

constexpr int kMaxBlockBytes = 48;

// For every lane at most one mask is 0xff; a lane with none takes
// `constant`. `invert` is 0xff for codes with bit value 16, since
// 255 - e == e ^ 255 for a byte.
struct FactorLanes {
    uint8_t source[kMaxBlockBytes] = {};
    uint8_t source_alpha[kMaxBlockBytes] = {};
    uint8_t dest[kMaxBlockBytes] = {};
    uint8_t dest_alpha[kMaxBlockBytes] = {};
    uint8_t constant[kMaxBlockBytes] = {};
    uint8_t invert[kMaxBlockBytes] = {};
};

// The inputs a plan's factors read anywhere; a kernel is compiled for each
// combination so that unused selects and alpha broadcasts cost nothing.
enum Terms : unsigned { kSource = 1, kSourceAlpha = 2, kDest = 4, kDestAlpha = 8, kAllTerms = 16 };

struct BlendPlan {
    FactorLanes source_factor, dest_factor;
    unsigned terms = 0;
};

// Bytes the AVX2 kernel takes per step: two blocks.
constexpr size_t wide_block_bytes(int components) { return components == 3 ? 96 : 32; }

// Blends `blocks` steps of wide_block_bytes(components) bytes with AVX2,
// computing exactly what the 16-byte kernel computes. False, doing
// nothing, when the processor or the kernel limit does not allow AVX2.
bool blend_wide(int components, const uint8_t *src, uint8_t *dest, size_t blocks, const BlendPlan &plan);

}  // namespace blend_kernels
