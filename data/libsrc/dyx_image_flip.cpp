// Rearranging operations that move bytes without changing them: flipping
// over an axis, swizzling channels, copying a sub-rectangle.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "dyx_image.h"
#include "dyx_image_bands.h"
#include "dyx_image_simd.h"
#include "dyx_status.h"

namespace {

// Exchanges two equally long byte runs through a small stack buffer.
void swap_bytes(uint8_t *a, uint8_t *b, size_t length) {
    uint8_t buffer[4096];
    while (length > 0) {
        const size_t part = std::min(length, sizeof buffer);
        std::memcpy(buffer, a, part);
        std::memcpy(a, b, part);
        std::memcpy(b, buffer, part);
        a += part;
        b += part;
        length -= part;
    }
}

void flip_rows(uint8_t *data, size_t row_bytes, uint32_t height) {
    for (uint32_t i = 0; i < height / 2; ++i)
        swap_bytes(data + i * row_bytes, data + (height - 1 - i) * row_bytes, row_bytes);
}

// RGB rows are mirrored from a copy of the row: whole 15-byte groups by
// shuffles, the rest pixel by pixel.
void mirror_rgb_rows(uint8_t *data, uint32_t width, uint32_t height) {
    const size_t row_bytes = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> copy(row_bytes + 16);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = data + y * row_bytes;
        std::memcpy(copy.data(), row, row_bytes);
        for (size_t j = dyx_image_simd::mirror_rgb(copy.data(), row, width); j < width; ++j)
            std::memcpy(row + 3 * j, copy.data() + 3 * (width - 1 - j), 3);
    }
}

// Reverses the pixel order of every row.
template <int C>
void mirror_rows(uint8_t *data, uint32_t width, uint32_t height) {
    const size_t row_bytes = static_cast<size_t>(width) * C;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *left = data + y * row_bytes;
        uint8_t *right = left + row_bytes - C;
        for (uint32_t j = 0; j < width / 2; ++j, left += C, right -= C) {
            uint8_t held[C];
            std::memcpy(held, left, C);
            std::memcpy(left, right, C);
            std::memcpy(right, held, C);
        }
    }
}

// One swizzled pixel: the table is read from the source before anything is
// written, so swizzling in place permutes each pixel correctly.
template <int C>
void swizzle_pixels(const uint8_t *src, uint8_t *dest, size_t count, const int32_t map[4],
                    const int32_t mask[4]) {
    const bool write[4] = {mask[0] != 0, mask[1] != 0, mask[2] != 0, mask[3] != 0};
    for (size_t n = 0; n < count; ++n, src += C, dest += C) {
        uint8_t table[4];
        if constexpr (C == 2) {
            table[0] = table[1] = table[2] = src[0];
            table[3] = src[1];
            if (write[0]) dest[0] = table[map[0]];
            if (write[3]) dest[1] = table[map[3]];
        } else {
            table[0] = src[0];
            table[1] = src[1];
            table[2] = src[2];
            table[3] = C == 4 ? src[C - 1] : 255;
            for (int c = 0; c < C; ++c)
                if (write[c]) dest[c] = table[map[c]];
        }
    }
}

void swizzle_band(const uint8_t *src, uint8_t *dest, size_t count, int components, const int32_t map[4],
                  const int32_t mask[4]) {
    switch (components) {
        case 2:
            swizzle_pixels<2>(src, dest, count, map, mask);
            break;
        case 3:
            swizzle_pixels<3>(src, dest, count, map, mask);
            break;
        case 4: {
            const size_t done = dyx_image_simd::swizzle_rgba(src, dest, count, map, mask);
            swizzle_pixels<4>(src + 4 * done, dest + 4 * done, count - done, map, mask);
            break;
        }
    }
}

}  // namespace

extern "C" {

int dyx_image_flip(dyx_image_t *image, uint32_t flags) {
    const int components = dyx_image_color_components_per_pixel(image);
    if (image->data == nullptr || components == 0) return DYX_OK;
    if ((flags & DYX_FLIP_XAXIS) && image->height > 1)
        flip_rows(image->data, static_cast<size_t>(image->width) * components, image->height);
    if (flags & DYX_FLIP_YAXIS) {
        switch (components) {
            case 1:
                mirror_rows<1>(image->data, image->width, image->height);
                break;
            case 2:
                mirror_rows<2>(image->data, image->width, image->height);
                break;
            case 3:
                try {
                    mirror_rgb_rows(image->data, image->width, image->height);
                } catch (const std::bad_alloc &) {
                    mirror_rows<3>(image->data, image->width, image->height);  // needs no row copy
                }
                break;
            case 4:
                mirror_rows<4>(image->data, image->width, image->height);
                break;
        }
    }
    return DYX_OK;
}

int dyx_image_swizzle(const dyx_image_t *src, dyx_image_t *dest, const int32_t map[4],
                      const int32_t mask[4]) {
    const int components = dyx_image_color_components_per_pixel(src);
    if (components < 2) return DYX_OK;
    if (dyx_image_hdr_diff(src, dest, DYX_IMAGE_HDR_SIZE | DYX_IMAGE_HDR_FORMAT) != 0) return DYX_REFUSED;
    for (int c = 0; c < 4; ++c)
        if (map[c] < 0 || map[c] > 3) return DYX_REFUSED;
    if (map[0] == 0 && map[1] == 1 && map[2] == 2 && map[3] == 3) return DYX_OK;
    // Each pixel is rearranged alone, so row bands may run on any worker,
    // in place too.
    const size_t width = src->width;
    dyx_image_bands::for_row_bands(src->height, 2 * width * components, [&](int64_t first, int64_t end) {
        const size_t start = static_cast<size_t>(first) * width * components;
        const size_t count = static_cast<size_t>(end - first) * width;
        swizzle_band(src->data + start, dest->data + start, count, components, map, mask);
    });
    return DYX_OK;
}

int dyx_image_subrect(const dyx_image_t *src, dyx_image_t *dest, int32_t x, int32_t y) {
    if (dyx_image_hdr_diff(src, dest, DYX_IMAGE_HDR_FORMAT | DYX_IMAGE_HDR_DEPTH) != 0) return DYX_REFUSED;
    // 64-bit sums: x + width must not wrap around.
    if (x < 0 || y < 0 || static_cast<int64_t>(x) + dest->width > src->width ||
        static_cast<int64_t>(y) + dest->height > src->height)
        return DYX_REFUSED;
    const size_t components = static_cast<size_t>(dyx_image_color_components_per_pixel(src));
    const size_t row_bytes = static_cast<size_t>(dest->width) * components;
    if (row_bytes != 0) {
        for (uint32_t r = 0; r < dest->height; ++r) {
            const size_t from = (static_cast<size_t>(y) + r) * src->width + static_cast<size_t>(x);
            std::memcpy(dest->data + r * row_bytes, src->data + from * components, row_bytes);
        }
    }
    if (src->depth_data != nullptr && dest->depth_data != nullptr && dest->width != 0) {
        for (uint32_t r = 0; r < dest->height; ++r) {
            const size_t from = (static_cast<size_t>(y) + r) * src->width + static_cast<size_t>(x);
            std::memcpy(dest->depth_data + static_cast<size_t>(r) * dest->width, src->depth_data + from,
                        dest->width * sizeof(float));
        }
    }
    return DYX_OK;
}

}  // extern "C"
