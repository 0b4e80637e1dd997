// Scaling: nearest sample, or area averaging over windows that wrap around
// the picture's edges. Sample positions and weights are computed once per
// call for every target column and row; the pixel loops then only gather
// and accumulate.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "dyx_image.h"
#include "dyx_image_area.h"
#include "dyx_image_bands.h"
#include "dyx_status.h"

// The pixel loops are written to be vectorised; GCC's -O2 cost model would
// leave most of them scalar. Integer loops only change speed, and float
// loops are never reordered without -ffast-math, so results stay exact.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("tree-vectorize", "vect-cost-model=dynamic")
#endif

namespace {

using dyx_image_area::AxisPieces;

// ---- nearest sample -----------------------------------------------------

// Source index of every target index: trunc(i * (src / dest)), all in
// single precision. Clamped because for extreme ratios the rounded product
// can reach the source size.
std::vector<size_t> nearest_positions(uint32_t src_size, uint32_t dest_size) {
    std::vector<size_t> positions(dest_size);
    const float ratio = static_cast<float>(src_size) / static_cast<float>(dest_size);
    for (uint32_t i = 0; i < dest_size; ++i) {
        const float product = static_cast<float>(i) * ratio;
        positions[i] = std::min(static_cast<size_t>(product), static_cast<size_t>(src_size) - 1);
    }
    return positions;
}

// Copies one C-byte pixel; fixed sizes become single moves.
template <int C>
inline void copy_pixel(const uint8_t *src, uint8_t *dest) {
    std::memcpy(dest, src, C);
}

// Target rows [first, end) from the source positions of every column
// (byte offsets) and row.
template <int C>
void nearest_resample(const uint8_t *src, uint32_t sw, uint32_t sh, uint8_t *dest, uint32_t dw,
                      const std::vector<size_t> &columns, const std::vector<size_t> &rows, uint32_t first,
                      uint32_t end) {
    const size_t src_stride = static_cast<size_t>(sw) * C;
    const size_t dest_stride = static_cast<size_t>(dw) * C;
    for (uint32_t j = first; j < end; ++j) {
        uint8_t *out = dest + j * dest_stride;
        if (j > first && rows[j] == rows[j - 1]) {  // enlarging: the same row again
            std::memcpy(out, out - dest_stride, dest_stride);
            continue;
        }
        const uint8_t *in = src + rows[j] * src_stride;
        uint32_t i = 0;
        if constexpr (C == 3) {
            // Whole 4-byte words: the extra byte read belongs to the next
            // source row (so never on the last one), the extra byte written
            // is the next target pixel's, written right after.
            if (rows[j] + 1 < sh)
                for (; i + 1 < dw; ++i) copy_pixel<4>(in + columns[i], out + i * C);
        }
        for (; i < dw; ++i) copy_pixel<C>(in + columns[i], out + i * C);
    }
}

void nearest_dispatch(int components, const uint8_t *src, uint32_t sw, uint32_t sh, uint8_t *dest,
                      uint32_t dw, uint32_t dh) {
    if (components < 1 || components > 4) return;  // no pixel layout to copy
    std::vector<size_t> columns = nearest_positions(sw, dw);
    for (size_t &column : columns) column *= components;
    const std::vector<size_t> rows = nearest_positions(sh, dh);
    auto resample_rows = components == 1   ? nearest_resample<1>
                         : components == 2 ? nearest_resample<2>
                         : components == 3 ? nearest_resample<3>
                                           : nearest_resample<4>;
    dyx_image_bands::for_row_bands(dh, uint64_t{dw} * components, [&](int64_t first, int64_t end) {
        resample_rows(src, sw, sh, dest, dw, columns, rows, static_cast<uint32_t>(first),
                      static_cast<uint32_t>(end));
    });
}

// ---- area average ---------------------------------------------------------

// Window [low, high] of target i, as the definition forms it.
void target_window(uint32_t i, uint32_t src_size, uint32_t dest_size, float ratio, float half, float *low,
                   float *high) {
    const float centre = static_cast<float>((static_cast<double>(i) + 0.5) * static_cast<double>(ratio));
    if (src_size > dest_size) {
        *low = centre - half;
        *high = centre + half;
    } else {
        *low = static_cast<float>(static_cast<double>(centre) - 0.5);
        *high = static_cast<float>(static_cast<double>(centre) + 0.5);
    }
}

uint32_t wrap(int64_t position, uint32_t size) {
    const int64_t n = static_cast<int64_t>(size);
    return static_cast<uint32_t>(((position % n) + n) % n);
}

AxisPieces area_pieces(uint32_t src_size, uint32_t dest_size) {
    const float ratio = static_cast<float>(src_size) / static_cast<float>(dest_size);
    const float half = 0.5f * ratio;
    std::vector<std::vector<std::pair<uint32_t, float>>> per_target(dest_size);
    AxisPieces axis;
    axis.size = dest_size;
    axis.count.resize(dest_size);
    for (uint32_t i = 0; i < dest_size; ++i) {
        float low, high;
        target_window(i, src_size, dest_size, ratio, half, &low, &high);
        auto &list = per_target[i];
        if (low < high) {
            const int64_t first = static_cast<int64_t>(std::floor(low));
            float start = low;
            for (int64_t m = 0;; ++m) {
                const float edge = std::min(static_cast<float>(first + m + 1), high);
                list.emplace_back(wrap(first + m, src_size), edge - start);
                start = static_cast<float>(first + m + 1);
                if (!(start < high)) break;
            }
        }
        axis.count[i] = static_cast<uint32_t>(list.size());
        axis.pieces = std::max(axis.pieces, axis.count[i]);
    }
    axis.index.assign(static_cast<size_t>(axis.pieces) * dest_size, 0);
    axis.extent.assign(static_cast<size_t>(axis.pieces) * dest_size, 0.0f);
    for (uint32_t i = 0; i < dest_size; ++i) {
        for (uint32_t m = 0; m < axis.count[i]; ++m) {
            axis.index[static_cast<size_t>(m) * dest_size + i] = per_target[i][m].first;
            axis.extent[static_cast<size_t>(m) * dest_size + i] = per_target[i][m].second;
        }
    }
    return axis;
}

// trunc((sum + 0.5) / weight) in double precision, low 8 bits kept.
inline uint8_t average_byte(float sum, float weight) {
    if (!(weight > 0.0f)) return 0;
    const double value = (static_cast<double>(sum) + 0.5) / static_cast<double>(weight);
    if (value < 2147483648.0) return static_cast<uint8_t>(static_cast<int64_t>(value) & 0xff);
    return static_cast<uint8_t>(static_cast<int64_t>(std::fmod(value, 256.0)));
}

// Area average of C-component byte pixels. For every target row the column
// loop runs piece by piece over the whole row, so each target pixel still
// sees its strips and pieces in the defined order (strip outer, piece
// inner) and sums exactly as the definition does. The sums are kept in one
// plane per component.
template <int C>
void area_resample(const uint8_t *src, uint32_t sw, uint32_t sh, uint8_t *dest, uint32_t dw, uint32_t dh,
                   const AxisPieces &cols, const AxisPieces &rows, uint32_t first, uint32_t end) {
    std::vector<float> weight(dw);
    std::vector<float> sums(static_cast<size_t>(dw) * C);
    float *planes[4] = {};
    for (int c = 0; c < C; ++c) planes[c] = sums.data() + static_cast<size_t>(c) * dw;
    std::vector<uint32_t> offsets(cols.index.size());
    for (size_t n = 0; n < offsets.size(); ++n) offsets[n] = cols.index[n] * C;
    const size_t src_stride = static_cast<size_t>(sw) * C;
    // The vector loop reads a whole word per pixel: the last source row is
    // read from a copy with room after it, and offsets must fit its lanes.
    const bool vector_ok = src_stride < (size_t{1} << 31);
    std::vector<uint8_t> last_row(vector_ok ? src_stride + 4 : 0);
    if (vector_ok) std::memcpy(last_row.data(), src + (static_cast<size_t>(sh) - 1) * src_stride, src_stride);

    for (uint32_t j = first; j < end; ++j) {
        std::fill(weight.begin(), weight.end(), 0.0f);
        std::fill(sums.begin(), sums.end(), 0.0f);
        for (uint32_t k = 0; k < rows.count[j]; ++k) {
            const size_t strip = static_cast<size_t>(k) * dh + j;
            const float height = rows.extent[strip];
            const uint8_t *in = src + rows.index[strip] * src_stride;
            const uint8_t *padded_in = rows.index[strip] + 1 == sh ? last_row.data() : in;
            for (uint32_t m = 0; m < cols.pieces; ++m) {
                const float *widths = cols.extent.data() + static_cast<size_t>(m) * dw;
                const uint32_t *at = offsets.data() + static_cast<size_t>(m) * dw;
                uint32_t i = vector_ok ? dyx_image_area::accumulate_piece_avx2(padded_in, at, widths, height,
                                                                               weight.data(), planes, C, dw)
                                       : 0;
                for (; i < dw; ++i) {
                    const float w = widths[i] * height;
                    weight[i] += w;
                    const uint8_t *p = in + at[i];
                    for (int c = 0; c < C; ++c) planes[c][i] += static_cast<float>(p[c]) * w;
                }
            }
        }
        uint8_t *out = dest + static_cast<size_t>(j) * dw * C;
        for (uint32_t i = 0; i < dw; ++i)
            for (int c = 0; c < C; ++c) out[i * C + c] = average_byte(planes[c][i], weight[i]);
    }
}

void area_dispatch(int components, const uint8_t *src, uint32_t sw, uint32_t sh, uint8_t *dest, uint32_t dw,
                   uint32_t dh, const AxisPieces &cols, const AxisPieces &rows) {
    if (components < 1 || components > 4) return;  // no pixel layout to average
    if (dyx_image_area::resample_exact(components, src, sw, sh, dest, dw, dh, cols, rows)) return;
    auto resample_rows = components == 1   ? area_resample<1>
                         : components == 2 ? area_resample<2>
                         : components == 3 ? area_resample<3>
                                           : area_resample<4>;
    // Every target row reads each of its strips once per column piece.
    const uint64_t row_work = uint64_t{rows.pieces} * cols.pieces * dw * components;
    dyx_image_bands::for_row_bands(dh, row_work, [&](int64_t first, int64_t end) {
        resample_rows(src, sw, sh, dest, dw, dh, cols, rows, static_cast<uint32_t>(first),
                      static_cast<uint32_t>(end));
    });
}

// Depth values are averaged as values, with the same windows and weights
// as the pixels (splitting a float into four bytes would average nothing
// meaningful). Only the real pieces take part, so an infinite depth never
// meets a zero weight.
void area_depth(const float *src, uint32_t sw, float *dest, uint32_t dw, uint32_t dh, const AxisPieces &cols,
                const AxisPieces &rows, uint32_t first, uint32_t end) {
    for (uint32_t j = first; j < end; ++j) {
        for (uint32_t i = 0; i < dw; ++i) {
            float weight = 0.0f, sum = 0.0f;
            for (uint32_t k = 0; k < rows.count[j]; ++k) {
                const size_t strip = static_cast<size_t>(k) * dh + j;
                const float *in = src + static_cast<size_t>(rows.index[strip]) * sw;
                for (uint32_t m = 0; m < cols.count[i]; ++m) {
                    const size_t piece = static_cast<size_t>(m) * dw + i;
                    const float w = cols.extent[piece] * rows.extent[strip];
                    weight += w;
                    sum += in[cols.index[piece]] * w;
                }
            }
            dest[static_cast<size_t>(j) * dw + i] = weight > 0.0f ? sum / weight : 0.0f;
        }
    }
}

void resample(const dyx_image_t *src, dyx_image_t *dest, bool smooth) {
    const uint32_t sw = src->width, sh = src->height, dw = dest->width, dh = dest->height;
    const size_t dest_pixels = static_cast<size_t>(dw) * dh;
    if (dest_pixels == 0) return;
    const int components = dyx_image_color_components_per_pixel(src);
    if (static_cast<size_t>(sw) * sh == 0) {
        // Nothing to sample: the enlarged picture is black, without depth.
        std::memset(dest->data, 0, dest_pixels * components);
        if (dest->depth_data != nullptr) std::fill(dest->depth_data, dest->depth_data + dest_pixels, 0.0f);
        return;
    }
    if (!smooth) {
        nearest_dispatch(components, src->data, sw, sh, dest->data, dw, dh);
        if (src->depth_data != nullptr && dest->depth_data != nullptr)
            nearest_dispatch(4, reinterpret_cast<const uint8_t *>(src->depth_data), sw, sh,
                             reinterpret_cast<uint8_t *>(dest->depth_data), dw, dh);
        return;
    }
    const AxisPieces cols = area_pieces(sw, dw);
    const AxisPieces rows = area_pieces(sh, dh);
    area_dispatch(components, src->data, sw, sh, dest->data, dw, dh, cols, rows);
    if (src->depth_data != nullptr && dest->depth_data != nullptr) {
        const uint64_t row_work = uint64_t{rows.pieces} * cols.pieces * dw * sizeof(float);
        dyx_image_bands::for_row_bands(dh, row_work, [&](int64_t first, int64_t end) {
            area_depth(src->depth_data, sw, dest->depth_data, dw, dh, cols, rows,
                       static_cast<uint32_t>(first), static_cast<uint32_t>(end));
        });
    }
}

}  // namespace

extern "C" {

int dyx_image_scale(dyx_image_t **image_var, const dyx_image_t *templ, uint32_t flags) {
    dyx_image_t *src = *image_var;
    if (templ->width == src->width && templ->height == src->height) return DYX_OK;
    dyx_image_t *dest = dyx_image_alloc(templ->width, templ->height, src->depth, src->format);
    if (dest == nullptr) return DYX_IMAGE_NO_BUFFER;
    try {
        resample(src, dest, (flags & DYX_SCALE_SMOOTH) != 0);
    } catch (const std::bad_alloc &) {
        dyx_image_free(&dest);
        return DYX_IMAGE_NO_BUFFER;
    }
    dyx_image_free(image_var);
    *image_var = dest;
    return DYX_OK;
}

}  // extern "C"
