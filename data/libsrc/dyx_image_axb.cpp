// The colour matrix: every pixel becomes a 4 x 5 matrix applied to
// (red, green, blue, alpha, 1), and the depth plane is scaled and offset.
//
// Each output is a single-precision sum formed strictly left to right
// (m0 * r + m1 * g) + m2 * b + m3 * a + m4; the build keeps the compiler
// from fusing multiply and add, so every path below gives the same bytes:
// the vector path for RGB and RGBA computes the same sums lane by lane, and
// the one-component formats look their 256 possible results up in a table.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dyx_image.h"
#include "dyx_image_bands.h"
#include "dyx_image_composite.h"
#include "dyx_image_vec.h"
#include "dyx_status.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the RGBA lanes assume little-endian pixels");

namespace {

// One row of the matrix applied to (r, g, b, a, 1).
inline float row_sum(const float *m, float r, float g, float b, float a) {
    return m[0] * r + m[1] * g + m[2] * b + m[3] * a + m[4];
}

// Clamped to 0..255 and truncated; a NaN sum is neither below nor above
// and would have no integer value, so it gives 0.
inline uint8_t to_byte(float sum) {
    const double value = sum;
    if (!(value > 0.0)) return 0;
    if (value > 255.0) return 255;
    return static_cast<uint8_t>(value);
}

template <int32_t Format>
void transform_pixels(uint8_t *data, size_t pixels, const float *m) {
    constexpr int C = Format == DYX_IMG_FMT_RGBA ? 4 : Format == DYX_IMG_FMT_RGB ? 3 : 2;
    for (size_t p = 0; p < pixels; ++p, data += C) {
        if constexpr (Format == DYX_IMG_FMT_LA) {
            const float l = data[0], a = data[1];
            data[0] = to_byte(row_sum(m, l, l, l, a));
            data[1] = to_byte(row_sum(m + 15, l, l, l, a));
        } else {
            const float r = data[0], g = data[1], b = data[2];
            const float a = C == 4 ? data[3] : 255.0f;
            data[0] = to_byte(row_sum(m, r, g, b, a));
            data[1] = to_byte(row_sum(m + 5, r, g, b, a));
            data[2] = to_byte(row_sum(m + 10, r, g, b, a));
            if constexpr (C == 4) data[3] = to_byte(row_sum(m + 15, r, g, b, a));
        }
    }
}

// A and L: the result depends on the one byte only.
void transform_by_table(uint8_t *data, size_t pixels, const float *m, int32_t format) {
    uint8_t table[256];
    for (int v = 0; v < 256; ++v) {
        const float x = static_cast<float>(v);
        table[v] = format == DYX_IMG_FMT_A ? to_byte(row_sum(m + 15, 0.0f, 0.0f, 0.0f, x))
                                           : to_byte(row_sum(m, x, x, x, 255.0f));
    }
    for (size_t p = 0; p < pixels; ++p) data[p] = table[data[p]];
}

typedef float f32x4 __attribute__((vector_size(16)));
typedef int32_t i32x4 __attribute__((vector_size(16)));

inline f32x4 splat(float value) { return f32x4{value, value, value, value}; }

// (sum > low ? sum : low), then (sum < high ? sum : high): a NaN fails the
// first test and becomes low. maxps and minps are exactly these selects.
inline f32x4 clamp(f32x4 sum, f32x4 low, f32x4 high) {
#if defined(__SSE2__)
    return (f32x4)_mm_min_ps(_mm_max_ps((__m128)sum, (__m128)low), (__m128)high);
#else
    sum = sum > low ? sum : low;
    return sum < high ? sum : high;
#endif
}

// Four pixels as 32-bit lanes (r, g, b, a); RGB pixels get alpha 255,
// which is the alpha an RGB pixel is weighed with. An RGB pixel is read
// as four bytes, so the caller leaves at least one byte after the group.
template <int C>
inline i32x4 load_pixels(const uint8_t *data) {
    if constexpr (C == 4) {
        return (i32x4)dyx_vec::load(data);
    } else {
        // Lanes built in registers: a round trip through memory would stall
        // on store forwarding.
        auto lane = [data](int p) {
            uint32_t value;
            std::memcpy(&value, data + 3 * p, 4);
            return static_cast<int32_t>((value & 0x00ffffffu) | 0xff000000u);
        };
        return i32x4{lane(0), lane(1), lane(2), lane(3)};
    }
}

template <int C>
inline void store_pixels(uint8_t *data, i32x4 pixels) {
    if constexpr (C == 4) {
        dyx_vec::store(data, (dyx_vec::u8x16)pixels);
    } else {
        for (int p = 0; p < 4; ++p) {
            const uint32_t value = static_cast<uint32_t>(pixels[p]);
            std::memcpy(data + 3 * p, &value, 3);
        }
    }
}

// Four RGB or RGBA pixels at a time, one pixel per lane; returns the
// number of pixels done.
template <int C>
size_t transform_vectors(uint8_t *data, size_t pixels, const float *m) {
    f32x4 weights[20];
    for (int n = 0; n < 20; ++n) weights[n] = splat(m[n]);
    const f32x4 zero = splat(0.0f), top = splat(255.0f);
    // RGB groups read one byte beyond themselves: keep a pixel for the tail.
    const size_t groups = C == 4 ? pixels / 4 : (pixels > 0 ? (pixels - 1) / 4 : 0);
    for (size_t n = 0; n < groups; ++n, data += 4 * C) {
        const i32x4 in = load_pixels<C>(data);
        const f32x4 r = __builtin_convertvector(in & 0xff, f32x4);
        const f32x4 g = __builtin_convertvector((in >> 8) & 0xff, f32x4);
        const f32x4 b = __builtin_convertvector((in >> 16) & 0xff, f32x4);
        const f32x4 a = __builtin_convertvector((in >> 24) & 0xff, f32x4);
        i32x4 out = {0, 0, 0, 0};
#pragma GCC unroll 4
        for (int row = 0; row < C; ++row) {
            const f32x4 *w = weights + 5 * row;
            f32x4 sum = w[0] * r + w[1] * g + w[2] * b + w[3] * a + w[4];
            sum = clamp(sum, zero, top);
            out |= __builtin_convertvector(sum, i32x4) << (8 * row);
        }
        store_pixels<C>(data, out);
    }
    return groups * 4;
}

template <int32_t Format>
void transform_colour(uint8_t *data, size_t pixels, const float *m) {
    constexpr int C = Format == DYX_IMG_FMT_RGBA ? 4 : 3;
    const size_t done = transform_vectors<C>(data, pixels, m);
    transform_pixels<Format>(data + done * C, pixels - done, m);
}

void transform_depth(float *depth, size_t count, float scale, float offset) {
    for (size_t n = 0; n < count; ++n) depth[n] = scale * depth[n] + offset;
}

}  // namespace

extern "C" {

int dyx_image_axb(dyx_image_t *image, const float matrix[20], const float depth[2]) {
    const size_t width = image->width;
    const size_t pixels = width * image->height;
    const bool colour = pixels != 0 && image->data != nullptr;
    const bool scale_depth = image->depth && image->depth_data != nullptr && pixels != 0;
    if (!colour && !scale_depth) return DYX_OK;
    const size_t components = static_cast<size_t>(dyx_image_color_components_per_pixel(image));
    // Row bands over the workers: every pixel and depth value is its own.
    const uint64_t row_work = width * ((colour ? 2 * components : 0) + (scale_depth ? 2 * sizeof(float) : 0));
    dyx_image_bands::for_row_bands(image->height, row_work, [&](int64_t first, int64_t end) {
        const size_t start = static_cast<size_t>(first) * width;
        const size_t count = static_cast<size_t>(end - first) * width;
        if (colour) {
            uint8_t *data = image->data + start * components;
            switch (image->format) {
                case DYX_IMG_FMT_A:
                case DYX_IMG_FMT_L:
                    transform_by_table(data, count, matrix, image->format);
                    break;
                case DYX_IMG_FMT_LA:
                    transform_pixels<DYX_IMG_FMT_LA>(data, count, matrix);
                    break;
                case DYX_IMG_FMT_RGB:
                    transform_colour<DYX_IMG_FMT_RGB>(data, count, matrix);
                    break;
                case DYX_IMG_FMT_RGBA:
                    transform_colour<DYX_IMG_FMT_RGBA>(data, count, matrix);
                    break;
            }
        }
        if (scale_depth) transform_depth(image->depth_data + start, count, depth[0], depth[1]);
    });
    return DYX_OK;
}

}  // extern "C"
