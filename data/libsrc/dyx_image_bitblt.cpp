// Bit-block transfer: a rectangle of one image, resampled by nearest
// sample, into a rectangle of another image of the same format, clipped to
// the destination, with a border pixel for samples outside the source and
// an optional alpha mask.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dyx_image.h"
#include "dyx_image_bands.h"
#include "dyx_image_composite.h"
#include "dyx_image_simd.h"
#include "dyx_malloc.h"
#include "dyx_status.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define DYX_BITBLT_AVX2 1
#endif

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

// The columns of the clipped rectangle: the byte offset of every column's
// source pixel within a source row, or -1 for the border. Positions are
// monotonic in the column, so the source columns form one run [lo, hi).
struct Columns {
    const int64_t *offsets;
    int64_t lo, hi;
    const int32_t *gather;  // 32-bit copies of the offsets, or null
};

#ifdef DYX_BITBLT_AVX2
// out[c] = the C-byte pixel at in + offsets[c] for n columns; returns how
// many were done. Whole 32-bit words are gathered, so the last source
// pixels (whose word would reach past the row) are left to the caller.
template <int C>
__attribute__((target("avx2"))) int64_t gather_run(const uint8_t *in, const int32_t *offsets, uint8_t *out,
                                                   int64_t n, int64_t safe_offset) {
    if constexpr (C != 4 && C != 3) {
        return 0;
    } else {
        int64_t c = 0;
        const __m256i compact = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1,
                                                 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
        for (; c + 8 <= n; c += 8) {
            const __m256i at = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(offsets + c));
            if (offsets[c + 7] > safe_offset || offsets[c] > safe_offset) break;
            const __m256i words = _mm256_i32gather_epi32(reinterpret_cast<const int *>(in), at, 1);
            if constexpr (C == 4) {
                _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 4 * c), words);
            } else {
                const __m256i packed = _mm256_shuffle_epi8(words, compact);
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 3 * c), _mm256_castsi256_si128(packed));
                const __m128i high = _mm256_extracti128_si256(packed, 1);  // overwrites 4 junk bytes
                _mm_storel_epi64(reinterpret_cast<__m128i *>(out + 3 * c + 12), high);
                const int32_t last = _mm_cvtsi128_si32(_mm_srli_si128(high, 8));
                std::memcpy(out + 3 * c + 20, &last, 4);
            }
        }
        return c;
    }
}
#endif

// Copies the source run of one row (no mask, no border inside it).
template <int C>
void copy_run(const uint8_t *in, const Columns &columns, uint8_t *out, int64_t src_row_bytes) {
    int64_t c = columns.lo;
#ifdef DYX_BITBLT_AVX2
    if (columns.gather != nullptr && dyx_image_simd::avx2_available())
        c += gather_run<C>(in, columns.gather + c, out + c * C, columns.hi - c, src_row_bytes - 4);
#else
    (void)src_row_bytes;
#endif
    for (; c < columns.hi; ++c) std::memcpy(out + c * C, in + columns.offsets[c], C);
}

// Rows [first, end) of the clipped rectangle.
template <int C, bool AlphaMask>
void transfer_rows(const dyx_image_t *src, dyx_image_t *dest, const Axis &x, const Axis &y,
                   const Columns &columns, const uint8_t *border, int64_t first, int64_t end) {
    const size_t src_row_bytes = static_cast<size_t>(src->width) * C;
    const size_t dest_row_bytes = static_cast<size_t>(dest->width) * C;
    const size_t run_bytes = static_cast<size_t>(x.size) * C;
    int64_t previous_row = -2;
    const uint8_t *previous_out = nullptr;
    for (int64_t r = first; r < end; ++r) {
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
            for (int64_t c = 0; c < columns.lo; ++c) put_sample<C, AlphaMask>(out + c * C, border);
            if (AlphaMask) {
                for (int64_t c = columns.lo; c < columns.hi; ++c)
                    put_sample<C, AlphaMask>(out + c * C, in + columns.offsets[c]);
            } else {
                copy_run<C>(in, columns, out, static_cast<int64_t>(src_row_bytes));
            }
            for (int64_t c = columns.hi; c < x.size; ++c) put_sample<C, AlphaMask>(out + c * C, border);
        }
        previous_row = row;
        previous_out = out;
    }
}

template <int C>
void transfer(const dyx_image_t *src, dyx_image_t *dest, const Axis &x, const Axis &y, const Columns &columns,
              const uint8_t *border, bool alpha_mask) {
    auto rows = alpha_mask ? transfer_rows<C, true> : transfer_rows<C, false>;
    dyx_image_bands::for_row_bands(
        y.size, static_cast<uint64_t>(x.size) * C,
        [&](int64_t first, int64_t end) { rows(src, dest, x, y, columns, border, first, end); });
}

}  // namespace

extern "C" {

int dyx_image_bitblt(const dyx_image_t *src, dyx_image_t *dest, const int32_t src_origin[2],
                     const int32_t src_size[2], const int32_t dest_origin[2], const int32_t dest_size[2],
                     int32_t mode, const uint8_t border[4]) {
    uint8_t border_pixel[4] = {0, 0, 0, 0};
    make_border_pixel(dest->format, border, border_pixel);
    if (dyx_image_hdr_diff(src, dest, DYX_IMAGE_HDR_FORMAT | DYX_IMAGE_HDR_DEPTH) != 0) return DYX_REFUSED;
    const int components = dyx_image_color_components_per_pixel(dest);
    if (components == 0) return DYX_OK;

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
    if (!clip(x, dest->width) || !clip(y, dest->height)) return DYX_OK;

    // Byte offsets of the columns' source pixels, then (when the offsets
    // fit) their 32-bit copies for the gathering loop.
    int64_t *offsets = nullptr;
    const bool narrow = static_cast<uint64_t>(src->width) * components < (uint64_t{1} << 31);
    dyx_malloc("dyx_image_bitblt", &offsets,
               static_cast<uint64_t>(x.size) * (sizeof *offsets + sizeof(int32_t)), __LINE__, kSourceName);
    if (offsets == nullptr) return DYX_NO_MEMORY;
    Columns columns{offsets, x.size, x.size, nullptr};
    for (int64_t c = 0; c < x.size; ++c) {
        const int64_t column = source_index(c, x, src->width);
        offsets[c] = column < 0 ? -1 : column * components;
        if (column >= 0) {
            columns.lo = std::min(columns.lo, c);
            columns.hi = c + 1;
        }
    }
    if (columns.lo >= columns.hi) columns.lo = columns.hi = x.size;
    if (narrow) {
        int32_t *gather = reinterpret_cast<int32_t *>(offsets + x.size);
        for (int64_t c = 0; c < x.size; ++c) gather[c] = static_cast<int32_t>(offsets[c]);
        columns.gather = gather;
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
    dyx_free(offsets, __LINE__, kSourceName);
    return DYX_OK;
}

}  // extern "C"
