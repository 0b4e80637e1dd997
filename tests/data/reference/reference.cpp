// Plain implementations written pixel by pixel from the definitions, with
// no precomputed tables, word moves or vector kernels: the exactness tests
// compare the library's fast paths with these.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "dyx_image.h"
#include "dyx_image_composite.h"
#include "reference.h"

namespace orvo_reference {

namespace {

constexpr int32_t kA = DYX_IMG_FMT_A, kL = DYX_IMG_FMT_L, kLA = DYX_IMG_FMT_LA, kRGB = DYX_IMG_FMT_RGB,
                  kRGBA = DYX_IMG_FMT_RGBA;

size_t pixel_count(const dyx_image_t *image) { return static_cast<size_t>(image->width) * image->height; }

// trunc(0.3 r + 0.59 g + 0.11 b) in double precision.
uint8_t grey(const uint8_t *rgb) {
    return static_cast<uint8_t>(static_cast<int>(0.3 * rgb[0] + 0.59 * rgb[1] + 0.11 * rgb[2]));
}

// One pixel through the conversion table: every source is read as
// luminance, red, green, blue and alpha, and the target picks from those.
void convert_pixel(int32_t from, int32_t to, const uint8_t *s, uint8_t *d) {
    const bool colour = from == kRGB || from == kRGBA, has_alpha = from != kL && from != kRGB;
    const uint8_t l = colour ? grey(s) : s[0];
    const uint8_t alpha = from == kA ? s[0] : from == kLA ? s[1] : from == kRGBA ? s[3] : 255;
    const uint8_t rgba[4] = {colour ? s[0] : l, colour ? s[1] : l, colour ? s[2] : l, alpha};
    if (to == kA) {
        d[0] = has_alpha ? alpha : l;  // the grey of RGB, the value of L
    } else if (to == kL) {
        d[0] = l;
    } else if (to == kLA) {
        d[0] = l, d[1] = alpha;
    } else {
        std::memcpy(d, rgba, dyx_image_format_components(to));
    }
}

// ---- scaling ----------------------------------------------------------------

// Nearest sample: trunc(i * (src / dest)) in single precision, kept inside
// the source where an extreme ratio rounds the product up to its size.
size_t nearest(uint32_t i, uint32_t src_size, uint32_t dest_size) {
    const float position =
        static_cast<float>(i) * (static_cast<float>(src_size) / static_cast<float>(dest_size));
    return std::min(static_cast<size_t>(position), static_cast<size_t>(src_size) - 1);
}

// A source row or column under an area-average window, and its extent.
struct Piece {
    uint32_t index;
    float extent;
};

// The pieces of target i's window along one axis, in order; positions
// before the first or past the last source index wrap around.
std::vector<Piece> window_pieces(uint32_t i, uint32_t src_size, uint32_t dest_size) {
    const float ratio = static_cast<float>(src_size) / static_cast<float>(dest_size), half = 0.5f * ratio;
    const float centre = static_cast<float>((static_cast<double>(i) + 0.5) * static_cast<double>(ratio));
    float low = centre - half, high = centre + half;
    if (src_size <= dest_size) {
        low = static_cast<float>(static_cast<double>(centre) - 0.5);
        high = static_cast<float>(static_cast<double>(centre) + 0.5);
    }
    std::vector<Piece> pieces;
    const int64_t n = src_size;
    float start = low;
    for (int64_t k = static_cast<int64_t>(std::floor(low)); start < high; ++k) {
        const float edge = std::min(static_cast<float>(k + 1), high);
        pieces.push_back({static_cast<uint32_t>((k % n + n) % n), edge - start});
        start = static_cast<float>(k + 1);
    }
    return pieces;
}

// The weighted sums of one target's `count` values per sample (the bytes
// of a pixel, or a depth value) over its row strips (outer) and column
// pieces (inner), added in that order in single precision. Returns the
// total weight.
template <typename Value>
float window_sums(const Value *plane, uint32_t sw, size_t count, const std::vector<Piece> &strips,
                  const std::vector<Piece> &pieces, float *sums) {
    float weight = 0.0f;
    std::fill(sums, sums + count, 0.0f);
    for (const Piece &strip : strips)
        for (const Piece &piece : pieces) {
            const float w = piece.extent * strip.extent;
            weight += w;
            const Value *sample = plane + (static_cast<size_t>(strip.index) * sw + piece.index) * count;
            for (size_t c = 0; c < count; ++c) sums[c] += static_cast<float>(sample[c]) * w;
        }
    return weight;
}

// trunc((sum + 0.5) / weight) in double precision, low 8 bits kept.
uint8_t average_byte(float sum, float weight) {
    if (!(weight > 0.0f)) return 0;
    const double value = (static_cast<double>(sum) + 0.5) / static_cast<double>(weight);
    return static_cast<uint8_t>(static_cast<int64_t>(std::fmod(value, 256.0)));
}

// Nearest sample or area average of the pixels and the depth plane; depth
// values are averaged as values, with the pixels' windows and weights.
void resample(const dyx_image_t *src, dyx_image_t *dest, bool smooth) {
    const uint32_t sw = src->width, sh = src->height, dw = dest->width, dh = dest->height;
    const size_t components = dyx_image_color_components_per_pixel(src);
    const bool depth = src->depth_data != nullptr && dest->depth_data != nullptr;
    if (pixel_count(dest) == 0) return;
    if (pixel_count(src) == 0) {  // nothing to sample: black, depth 0
        std::memset(dest->data, 0, dyx_image_data_size(dest));
        if (dest->depth_data != nullptr)
            std::fill(dest->depth_data, dest->depth_data + pixel_count(dest), 0.0f);
        return;
    }
    std::vector<std::vector<Piece>> columns, rows;
    for (uint32_t i = 0; smooth && i < dw; ++i) columns.push_back(window_pieces(i, sw, dw));
    for (uint32_t j = 0; smooth && j < dh; ++j) rows.push_back(window_pieces(j, sh, dh));
    for (uint32_t j = 0; j < dh; ++j)
        for (uint32_t i = 0; i < dw; ++i) {
            const size_t to = static_cast<size_t>(j) * dw + i;
            if (!smooth) {
                const size_t from = nearest(j, sh, dh) * sw + nearest(i, sw, dw);
                std::memcpy(dest->data + to * components, src->data + from * components, components);
                if (depth) dest->depth_data[to] = src->depth_data[from];
                continue;
            }
            float sums[4];
            float weight = window_sums(src->data, sw, components, rows[j], columns[i], sums);
            for (size_t c = 0; c < components; ++c)
                dest->data[to * components + c] = average_byte(sums[c], weight);
            if (depth) {
                weight = window_sums(src->depth_data, sw, 1, rows[j], columns[i], sums);
                dest->depth_data[to] = weight > 0.0f ? sums[0] / weight : 0.0f;
            }
        }
}

// ---- bitblt -----------------------------------------------------------------

// One axis of the transfer: destination origin and size, source start and
// step (single precision, as the positions are formed).
struct Axis {
    int64_t origin, size;
    float start, step;
};

Axis make_axis(int64_t src_origin, int64_t src_size, int64_t dest_origin, int64_t dest_size) {
    const float step =
        dest_size == 1 ? 0.0f : static_cast<float>(src_size - 1) / static_cast<float>(dest_size - 1);
    return Axis{dest_origin, dest_size, static_cast<float>(src_origin), step};
}

// Clips the axis to [0, extent); false when nothing of it is left.
bool clip(Axis &axis, int64_t extent) {
    if (axis.origin < 0) {
        axis.size += axis.origin;
        axis.start = axis.start + static_cast<float>(-axis.origin) * axis.step;
        axis.origin = 0;
    }
    if (axis.origin >= extent) return false;
    axis.size = std::min(axis.size, extent - axis.origin);
    return axis.size >= 1;
}

// trunc(n * step + start) in single precision, or -1 outside [0, extent);
// the range test is made on the float so no huge value is converted.
int64_t source_index(int64_t n, const Axis &axis, int64_t extent) {
    const float position = static_cast<float>(n) * axis.step + axis.start;
    if (!(position > -1.0f) || static_cast<double>(position) >= static_cast<double>(extent)) return -1;
    return static_cast<int64_t>(position);
}

}  // namespace

int scale(dyx_image_t **image_var, const dyx_image_t *templ, uint32_t flags) {
    dyx_image_t *src = *image_var;
    if (templ->width == src->width && templ->height == src->height) return 0;
    dyx_image_t *dest = dyx_image_alloc(templ->width, templ->height, src->depth, src->format);
    if (dest == nullptr) return 1;
    resample(src, dest, (flags & DYX_SCALE_SMOOTH) != 0);
    dyx_image_free(image_var);
    *image_var = dest;
    return 0;
}

int convert(dyx_image_t **image_var, const dyx_image_t *templ) {
    dyx_image_t *src = *image_var;
    if (templ->format == src->format && templ->depth == src->depth) return 0;
    dyx_image_t *dest = dyx_image_alloc(src->width, src->height, templ->depth, templ->format);
    if (dest == nullptr) return 1;
    const int from = dyx_image_format_components(src->format), to = dyx_image_format_components(dest->format);
    const bool keep_depth = templ->depth == src->depth && src->depth_data != nullptr;
    for (size_t p = 0; p < pixel_count(src); ++p) {
        convert_pixel(src->format, dest->format, src->data + p * from, dest->data + p * to);
        if (dest->depth_data != nullptr) dest->depth_data[p] = keep_depth ? src->depth_data[p] : 0.0f;
    }
    dyx_image_free(image_var);
    *image_var = dest;
    return 0;
}

int togrey(const dyx_image_t *src, dyx_image_t *dest) {
    if (dyx_image_hdr_diff(src, dest, DYX_IMAGE_HDR_SIZE) != 0) return 1;
    if ((src->format != kRGB && src->format != kRGBA) || dest->format == kA) return 6;
    const int from = dyx_image_format_components(src->format), to = dyx_image_format_components(dest->format);
    for (size_t p = 0; p < pixel_count(src); ++p) {
        // Grey and alpha as an LA pixel, then laid out as the destination's.
        const uint8_t *s = src->data + p * from;
        const uint8_t grey_alpha[2] = {grey(s), src->format == kRGBA ? s[3] : uint8_t{255}};
        convert_pixel(kLA, dest->format, grey_alpha, dest->data + p * to);
    }
    return 0;
}

int bitblt(const dyx_image_t *src, dyx_image_t *dest, const int32_t src_origin[2], const int32_t src_size[2],
           const int32_t dest_origin[2], const int32_t dest_size[2], int32_t mode, const uint8_t border[4]) {
    if (dyx_image_hdr_diff(src, dest, DYX_IMAGE_HDR_FORMAT | DYX_IMAGE_HDR_DEPTH) != 0) return 1;
    // The border colour as a pixel: L takes red, A and LA's alpha take alpha.
    uint8_t border_pixel[4] = {border[0], border[1], border[2], border[3]};
    if (dest->format == kA) border_pixel[0] = border[3];
    if (dest->format == kLA) border_pixel[1] = border[3];

    // Without a destination origin the whole destination; a missing size is read the same way.
    const bool dest_rect = dest_origin != nullptr && dest_size != nullptr;
    Axis x = make_axis(src_origin ? src_origin[0] : 0, src_size ? src_size[0] : int64_t{src->width},
                       dest_rect ? dest_origin[0] : 0, dest_rect ? dest_size[0] : int64_t{dest->width});
    Axis y = make_axis(src_origin ? src_origin[1] : 0, src_size ? src_size[1] : int64_t{src->height},
                       dest_rect ? dest_origin[1] : 0, dest_rect ? dest_size[1] : int64_t{dest->height});
    if (!clip(x, dest->width) || !clip(y, dest->height)) return 0;

    const int64_t components = dyx_image_color_components_per_pixel(dest);
    const bool alpha_mask = mode == DYX_BITBLT_ALPHAMASK && dest->format != kL && dest->format != kRGB;
    for (int64_t r = 0; r < y.size; ++r) {
        const int64_t row = source_index(r, y, src->height);
        for (int64_t c = 0; c < x.size; ++c) {
            const int64_t column = source_index(c, x, src->width);
            const uint8_t *sample =
                row < 0 || column < 0 ? border_pixel : src->data + (row * src->width + column) * components;
            // The alpha of A is the value itself, of LA and RGBA the last byte.
            if (alpha_mask && sample[components - 1] == 0) continue;
            std::memcpy(dest->data + ((y.origin + r) * dest->width + x.origin + c) * components, sample,
                        components);
        }
    }
    return 0;
}

}  // namespace orvo_reference
