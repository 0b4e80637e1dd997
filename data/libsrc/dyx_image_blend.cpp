// Blending a source image into a destination image with per-component
// factors chosen from the blend factor table, in 8-bit integer arithmetic:
//   dest = min(255, trunc(s * Fs / 255) + trunc(d * Fd / 255)).
//
// The factor codes are resolved once per call into per-lane select masks:
// every lane of a 16-byte block takes its factor from exactly one of the
// source byte, the source pixel's alpha, the destination byte, the
// destination pixel's alpha or a constant, then is inverted or not. The
// pixel loop is branch-free vector code, compiled once for each set of
// inputs the factors read, so that a mode such as SALPHA/MSALPHA costs
// only the selects it needs.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dyx_image.h"
#include "dyx_image_bands.h"
#include "dyx_image_blend.h"
#include "dyx_image_composite.h"
#include "dyx_image_vec.h"
#include "dyx_status.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the alpha broadcasts assume little-endian lanes");

namespace {

using dyx_vec::u16x8;
using dyx_vec::u32x4;
using dyx_vec::u8x16;

using blend_kernels::BlendPlan;
using blend_kernels::FactorLanes;
using blend_kernels::kAllTerms;
using blend_kernels::kDest;
using blend_kernels::kDestAlpha;
using blend_kernels::kSource;
using blend_kernels::kSourceAlpha;

// A block holds whole pixels in whole vectors: 16 bytes for 1, 2 and 4
// components, 48 bytes (16 pixels) for RGB.
constexpr int vectors_per_block(int components) { return components == 3 ? 3 : 1; }
static_assert(blend_kernels::kMaxBlockBytes == 3 * dyx_vec::kBytes, "an RGB block is three vectors");

struct BlendCodes {
    int32_t src_color, src_alpha, dst_color, dst_alpha;
    const uint8_t *constant;
    uint8_t constant_alpha;
};

bool format_has_alpha(int32_t format) {
    return format == DYX_IMG_FMT_A || format == DYX_IMG_FMT_LA || format == DYX_IMG_FMT_RGBA;
}

bool is_alpha_component(int32_t format, int component) {
    return format == DYX_IMG_FMT_A || (format == DYX_IMG_FMT_LA && component == 1) ||
           (format == DYX_IMG_FMT_RGBA && component == 3);
}

// Resolves one factor code for one lane of the block into `factor`.
void resolve_lane(FactorLanes &factor, int32_t code, int lane, int component, int32_t format,
                  const BlendCodes &codes) {
    // Without alpha in the format both alphas are 255. An A pixel is its own
    // alpha; in LA and RGBA the broadcast alpha serves every lane, the alpha
    // lane included, so that one select covers the whole pixel.
    auto take_alpha = [&](uint8_t *own_byte, uint8_t *pixel_alpha) {
        if (!format_has_alpha(format))
            factor.constant[lane] = 255;
        else if (format == DYX_IMG_FMT_A)
            own_byte[lane] = 0xff;
        else
            pixel_alpha[lane] = 0xff;
    };
    switch (code & 15) {
        case DYX_BLEND_ZERO:
            factor.constant[lane] = 0;
            break;
        case DYX_BLEND_ONE:
            factor.constant[lane] = 255;
            break;
        case DYX_BLEND_SCOLOR:
            factor.source[lane] = 0xff;
            break;
        case DYX_BLEND_SALPHA:
            take_alpha(factor.source, factor.source_alpha);
            break;
        case DYX_BLEND_DCOLOR:
            factor.dest[lane] = 0xff;
            break;
        case DYX_BLEND_DALPHA:
            take_alpha(factor.dest, factor.dest_alpha);
            break;
        case DYX_BLEND_CCOLOR:
            factor.constant[lane] = codes.constant[component];
            break;
        case DYX_BLEND_CALPHA:
            factor.constant[lane] = codes.constant_alpha;
            break;
    }
    factor.invert[lane] = (code & DYX_BLEND_INVERT) ? 0xff : 0;
}

BlendPlan make_plan(int32_t format, int components, const BlendCodes &codes) {
    BlendPlan plan;
    const int block_bytes = vectors_per_block(components) * dyx_vec::kBytes;
    for (int lane = 0; lane < block_bytes; ++lane) {
        const int component = lane % components;
        const bool alpha_lane = is_alpha_component(format, component);
        for (FactorLanes *factor : {&plan.source_factor, &plan.dest_factor}) {
            const bool source_side = factor == &plan.source_factor;
            const int32_t code = source_side ? (alpha_lane ? codes.src_alpha : codes.src_color)
                                             : (alpha_lane ? codes.dst_alpha : codes.dst_color);
            resolve_lane(*factor, code, lane, component, format, codes);
            if (factor->source[lane]) plan.terms |= kSource;
            if (factor->source_alpha[lane]) plan.terms |= kSourceAlpha;
            if (factor->dest[lane]) plan.terms |= kDest;
            if (factor->dest_alpha[lane]) plan.terms |= kDestAlpha;
        }
    }
    return plan;
}

// Every lane takes the alpha byte of its own pixel (RGBA and LA only).
template <int C>
inline u8x16 pixel_alphas(u8x16 v) {
    if constexpr (C == 4) {
        u32x4 alpha = (u32x4)v & 0xff000000u;
        alpha |= alpha >> 8;
        alpha |= alpha >> 16;
        return (u8x16)alpha;
    } else {
        static_assert(C == 2, "only RGBA and LA pixels carry alpha beside other components");
        u16x8 alpha = (u16x8)v & 0xff00;
        alpha |= alpha >> 8;
        return (u8x16)alpha;
    }
}

// The select masks of one factor for one vector of the block.
struct FactorVector {
    u8x16 source, source_alpha, dest, dest_alpha, constant, invert;

    FactorVector() = default;
    FactorVector(const FactorLanes &lanes, int offset)
        : source(dyx_vec::load(lanes.source + offset)),
          source_alpha(dyx_vec::load(lanes.source_alpha + offset)),
          dest(dyx_vec::load(lanes.dest + offset)),
          dest_alpha(dyx_vec::load(lanes.dest_alpha + offset)),
          constant(dyx_vec::load(lanes.constant + offset)),
          invert(dyx_vec::load(lanes.invert + offset)) {}

    template <unsigned T>
    u8x16 select(u8x16 s, u8x16 s_alpha, u8x16 d, u8x16 d_alpha) const {
        u8x16 factor = constant;
        if constexpr ((T & kSource) != 0) factor |= s & source;
        if constexpr ((T & kSourceAlpha) != 0) factor |= s_alpha & source_alpha;
        if constexpr ((T & kDest) != 0) factor |= d & dest;
        if constexpr ((T & kDestAlpha) != 0) factor |= d_alpha & dest_alpha;
        return factor ^ invert;
    }
};

// trunc(s * fs / 255) + trunc(d * fd / 255), saturated at 255 (the sum is
// at most 510).
inline u8x16 mix(u8x16 s, u8x16 s_factor, u8x16 d, u8x16 d_factor) {
    using namespace dyx_vec;
    const u16x8 low =
        divide_by_255(widen_low(s) * widen_low(s_factor)) + divide_by_255(widen_low(d) * widen_low(d_factor));
    const u16x8 high = divide_by_255(widen_high(s) * widen_high(s_factor)) +
                       divide_by_255(widen_high(d) * widen_high(d_factor));
    return narrow_saturated(low, high);
}

// Blends `blocks` whole blocks. Reading a block completely before writing
// it keeps the destination alpha the old one and allows src == dest.
template <int C, unsigned T>
void blend_blocks(const uint8_t *src, uint8_t *dest, size_t blocks, const BlendPlan &plan) {
    constexpr int V = vectors_per_block(C);
    FactorVector source_factor[V], dest_factor[V];
    for (int v = 0; v < V; ++v) {
        source_factor[v] = FactorVector(plan.source_factor, v * dyx_vec::kBytes);
        dest_factor[v] = FactorVector(plan.dest_factor, v * dyx_vec::kBytes);
    }
    for (size_t b = 0; b < blocks; ++b, src += V * dyx_vec::kBytes, dest += V * dyx_vec::kBytes) {
        for (int v = 0; v < V; ++v) {
            const u8x16 s = dyx_vec::load(src + v * dyx_vec::kBytes);
            const u8x16 d = dyx_vec::load(dest + v * dyx_vec::kBytes);
            u8x16 s_alpha = {}, d_alpha = {};
            if constexpr ((T & kSourceAlpha) != 0) s_alpha = pixel_alphas<C>(s);
            if constexpr ((T & kDestAlpha) != 0) d_alpha = pixel_alphas<C>(d);
            const u8x16 fs = source_factor[v].template select<T>(s, s_alpha, d, d_alpha);
            const u8x16 fd = dest_factor[v].template select<T>(s, s_alpha, d, d_alpha);
            dyx_vec::store(dest + v * dyx_vec::kBytes, mix(s, fs, d, fd));
        }
    }
}

// The whole pixel data: whole steps of two blocks in bands over the
// workers (every block is computed alone, so the bands do not change a
// byte), with AVX2 where the processor has it; then the blocks left and
// the last partial block, through a padded copy so that it runs the very
// same code.
template <int C, unsigned T>
void blend_all(const uint8_t *src, uint8_t *dest, size_t bytes, const BlendPlan &plan) {
    constexpr size_t block_bytes = vectors_per_block(C) * dyx_vec::kBytes;
    constexpr size_t step_bytes = blend_kernels::wide_block_bytes(C);
    static_assert(step_bytes == 2 * block_bytes, "a wide step is two blocks");
    const size_t steps = bytes / step_bytes;
    // Each step reads both images and writes one.
    dyx_image_bands::for_row_bands(
        static_cast<int64_t>(steps), 3 * step_bytes, [&](int64_t first, int64_t end) {
            const size_t offset = static_cast<size_t>(first) * step_bytes;
            const size_t count = static_cast<size_t>(end - first);
            if (!blend_kernels::blend_wide(C, src + offset, dest + offset, count, plan))
                blend_blocks<C, T>(src + offset, dest + offset, 2 * count, plan);
        });
    const size_t done = steps * step_bytes;
    const size_t blocks = (bytes - done) / block_bytes;
    blend_blocks<C, T>(src + done, dest + done, blocks, plan);
    const size_t tail = done + blocks * block_bytes, rest = bytes - tail;
    if (rest == 0) return;
    uint8_t src_tail[block_bytes] = {}, dest_tail[block_bytes] = {};
    std::memcpy(src_tail, src + tail, rest);
    std::memcpy(dest_tail, dest + tail, rest);
    blend_blocks<C, T>(src_tail, dest_tail, 1, plan);
    std::memcpy(dest + tail, dest_tail, rest);
}

using BlendFunction = void (*)(const uint8_t *, uint8_t *, size_t, const BlendPlan &);

// One kernel per combination of terms. Only LA and RGBA have pixel alphas
// to broadcast; for A, L and RGB the plan never asks for them.
template <int C, unsigned... T>
constexpr std::array<BlendFunction, kAllTerms> kernels(std::integer_sequence<unsigned, T...>) {
    constexpr bool has_alphas = C == 2 || C == 4;
    return {{&blend_all < C, has_alphas ? T : T & (kSource | kDest) > ...}};
}

template <int C>
void blend_format(const uint8_t *src, uint8_t *dest, size_t bytes, const BlendPlan &plan) {
    static constexpr std::array<BlendFunction, kAllTerms> table =
        kernels<C>(std::make_integer_sequence<unsigned, kAllTerms>());
    table[plan.terms](src, dest, bytes, plan);
}

// Low four bits 8 to 15 name no entry of the factor table.
bool valid_code(int32_t code) { return (code & 15) < 8; }

}  // namespace

extern "C" {

int dyx_image_blend(const dyx_image_t *src, dyx_image_t *dest, int32_t src_color, int32_t src_alpha,
                    int32_t dst_color, int32_t dst_alpha, const uint8_t constant[4], uint8_t constant_alpha) {
    if (dyx_image_hdr_diff(src, dest, DYX_IMAGE_HDR_SIZE | DYX_IMAGE_HDR_FORMAT) != 0) return DYX_REFUSED;
    const int components = dyx_image_color_components_per_pixel(dest);
    if (components == 0) return DYX_OK;
    if (!valid_code(src_color) || !valid_code(src_alpha) || !valid_code(dst_color) || !valid_code(dst_alpha))
        return DYX_BAD_ARGUMENT;
    const size_t bytes = dyx_image_data_size(dest);
    if (bytes == 0 || src->data == nullptr || dest->data == nullptr) return DYX_OK;

    const BlendCodes codes = {src_color, src_alpha, dst_color, dst_alpha, constant, constant_alpha};
    const BlendPlan plan = make_plan(dest->format, components, codes);
    switch (components) {
        case 1:
            blend_format<1>(src->data, dest->data, bytes, plan);
            break;
        case 2:
            blend_format<2>(src->data, dest->data, bytes, plan);
            break;
        case 3:
            blend_format<3>(src->data, dest->data, bytes, plan);
            break;
        case 4:
            blend_format<4>(src->data, dest->data, bytes, plan);
            break;
    }
    return DYX_OK;
}

}  // extern "C"
