// Kept unchanged from the library's earlier, slower version: the reference
// that the exactness tests compare today's code with (namespace orvo_reference).
// Bit-block transfer: a rectangle of one image, resampled by nearest
// sample, into a rectangle of another image of the same format, clipped to
// the destination, with a border pixel for samples outside the source and
// an optional alpha mask.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dyx_image.h"
#include "dyx_image_composite.h"
#include "dyx_malloc.h"
#include "reference.h"

namespace orvo_reference {

namespace {

constexpr const char kSourceName[] = "data/libsrc/dyx_image_bitblt";

// The border colour (red, green, blue, alpha) laid out as one pixel.
void make_border_pixel(int32_t format, const uint8_t border[4], uint8_t pixel[4]) {
    switch (format) {
        case DYX_IMG_FMT_A:
            pixel[0] = border[3];
            break;
        case DYX_IMG_FMT_L:
            pixel[0] = border[0];
            break;
        case DYX_IMG_FMT_LA:
            pixel[0] = border[0];
            pixel[1] = border[3];
            break;
        default:
            std::memcpy(pixel, border, 4);
            break;
    }
}

// One axis of the transfer: destination origin and size, source start and
// step (single precision, as the positions are formed).
struct Axis {
    int64_t origin;
    int64_t size;
    float start;
    float step;
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
    if (axis.origin + axis.size > extent) axis.size = extent - axis.origin;
    return axis.size >= 1;
}

// Source index of destination step n: trunc(n * step + start) in single
// precision, or -1 when that lies outside [0, extent). The range test is
// made on the float itself so that no out-of-range value is converted.
int64_t source_index(int64_t n, const Axis &axis, int64_t extent) {
    const float position = static_cast<float>(n) * axis.step + axis.start;
    if (!(position > -1.0f) || static_cast<double>(position) >= static_cast<double>(extent)) return -1;
    return static_cast<int64_t>(position);
}

template <int C, bool AlphaMask>
inline void put_sample(uint8_t *to, const uint8_t *sample) {
    // The alpha of A is the value itself, of LA and RGBA the last byte.
    if (AlphaMask && sample[C - 1] == 0) return;
    std::memcpy(to, sample, C);
}

// Rows of the clipped rectangle; `columns` holds the byte offset of every
// column's source pixel within a source row, or -1 for the border.
template <int C, bool AlphaMask>
void transfer_rows(const dyx_image_t *src, dyx_image_t *dest, const Axis &x, const Axis &y,
                   const int64_t *columns, const uint8_t *border) {
    const size_t src_row_bytes = static_cast<size_t>(src->width) * C;
    const size_t dest_row_bytes = static_cast<size_t>(dest->width) * C;
    const size_t run_bytes = static_cast<size_t>(x.size) * C;
    int64_t previous_row = -2;
    const uint8_t *previous_out = nullptr;
    for (int64_t r = 0; r < y.size; ++r) {
        uint8_t *out = dest->data + static_cast<size_t>(y.origin + r) * dest_row_bytes +
                       static_cast<size_t>(x.origin) * C;
        const int64_t row = source_index(r, y, src->height);
        if (!AlphaMask && row == previous_row) {
            // Enlarging repeats source rows: the row just written is the same.
            std::memcpy(out, previous_out, run_bytes);
            continue;
        }
        if (row < 0) {
            for (int64_t c = 0; c < x.size; ++c) put_sample<C, AlphaMask>(out + c * C, border);
        } else {
            const uint8_t *in = src->data + static_cast<size_t>(row) * src_row_bytes;
            for (int64_t c = 0; c < x.size; ++c)
                put_sample<C, AlphaMask>(out + c * C, columns[c] < 0 ? border : in + columns[c]);
        }
        previous_row = row;
        previous_out = out;
    }
}

template <int C>
void transfer(const dyx_image_t *src, dyx_image_t *dest, const Axis &x, const Axis &y, const int64_t *columns,
              const uint8_t *border, bool alpha_mask) {
    if (alpha_mask)
        transfer_rows<C, true>(src, dest, x, y, columns, border);
    else
        transfer_rows<C, false>(src, dest, x, y, columns, border);
}

}  // namespace

int bitblt(const dyx_image_t *src, dyx_image_t *dest, const int32_t src_origin[2], const int32_t src_size[2],
           const int32_t dest_origin[2], const int32_t dest_size[2], int32_t mode, const uint8_t border[4]) {
    uint8_t border_pixel[4] = {0, 0, 0, 0};
    make_border_pixel(dest->format, border, border_pixel);
    if (dyx_image_hdr_diff(src, dest, DYX_IMAGE_HDR_FORMAT | DYX_IMAGE_HDR_DEPTH) != 0) return 1;
    const int components = dyx_image_color_components_per_pixel(dest);
    if (components == 0) return 0;

    const int64_t sx = src_origin ? src_origin[0] : 0, sy = src_origin ? src_origin[1] : 0;
    const int64_t sw = src_size ? src_size[0] : static_cast<int64_t>(src->width);
    const int64_t sh = src_size ? src_size[1] : static_cast<int64_t>(src->height);
    const int64_t dx = dest_origin ? dest_origin[0] : 0, dy = dest_origin ? dest_origin[1] : 0;
    // Without an origin the whole destination; a missing size is read the same way.
    const bool dest_rect = dest_origin != nullptr && dest_size != nullptr;
    const int64_t dw = dest_rect ? dest_size[0] : static_cast<int64_t>(dest->width);
    const int64_t dh = dest_rect ? dest_size[1] : static_cast<int64_t>(dest->height);
    Axis x = make_axis(sx, sw, dx, dw);
    Axis y = make_axis(sy, sh, dy, dh);
    if (!clip(x, dest->width) || !clip(y, dest->height)) return 0;

    int64_t *columns = nullptr;
    dyx_malloc("dyx_image_bitblt", &columns, static_cast<uint64_t>(x.size) * sizeof *columns, __LINE__,
               kSourceName);
    if (columns == nullptr) return 2;
    for (int64_t c = 0; c < x.size; ++c) {
        const int64_t column = source_index(c, x, src->width);
        columns[c] = column < 0 ? -1 : column * components;
    }
    const bool has_alpha = dest->format != DYX_IMG_FMT_L && dest->format != DYX_IMG_FMT_RGB;
    const bool alpha_mask = mode == DYX_BITBLT_ALPHAMASK && has_alpha;
    switch (components) {
        case 1:
            transfer<1>(src, dest, x, y, columns, border_pixel, alpha_mask);
            break;
        case 2:
            transfer<2>(src, dest, x, y, columns, border_pixel, alpha_mask);
            break;
        case 3:
            transfer<3>(src, dest, x, y, columns, border_pixel, alpha_mask);
            break;
        case 4:
            transfer<4>(src, dest, x, y, columns, border_pixel, alpha_mask);
            break;
    }
    dyx_free(columns, __LINE__, kSourceName);
    return 0;
}

}  // namespace orvo_reference
