// Pixel format conversion (all 25 format pairs, depth plane rules) and the
// grey version of a colour image.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dyx_image.h"
#include "dyx_image_bands.h"
#include "dyx_image_grey.h"
#include "dyx_image_simd.h"
#include "dyx_status.h"

// The pixel loops are written to be vectorised; GCC's -O2 cost model would
// leave most of them scalar. These loops are integer-only, so only the
// speed changes.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("tree-vectorize", "vect-cost-model=dynamic")
#endif

namespace dyx_image_detail {

const uint8_t *grey_rounding_fixes() {
    static const std::array<uint8_t, 65536> fixes = [] {
        std::array<uint8_t, 65536> table{};
        for (int r = 0; r < 256; ++r) {
            for (int g = 0; g < 256; ++g) {
                // 11 * 91 = 1001, so b = -(30 r + 59 g) * 91 (mod 100) puts
                // the sum on a multiple of 100.
                const int first_b = ((100 - (30 * r + 59 * g) % 100) * 91) % 100;
                for (int b = first_b; b < 256; b += 100) {
                    if (grey_reference(r, g, b) != (30 * r + 59 * g + 11 * b) / 100)
                        table[(r << 8) | g] |= static_cast<uint8_t>(1u << (b / 100));
                }
            }
        }
        return table;
    }();
    return fixes.data();
}

}  // namespace dyx_image_detail

namespace {

using dyx_image_detail::GreyMap;

constexpr int kA = DYX_IMG_FMT_A, kL = DYX_IMG_FMT_L, kLA = DYX_IMG_FMT_LA, kRGB = DYX_IMG_FMT_RGB,
              kRGBA = DYX_IMG_FMT_RGBA;

constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
// Byte 3 of a little-endian word: the alpha of an RGBA pixel.
constexpr uint32_t kAlphaWord = 0xff000000u;

constexpr int components_of(int format) {
    return format == kLA ? 2 : format == kRGB ? 3 : format == kRGBA ? 4 : 1;
}

// One pixel from format From to format To, following the conversion table.
template <int From, int To>
inline void convert_pixel(const uint8_t *s, uint8_t *d, const GreyMap &grey) {
    constexpr int TC = components_of(To);
    if constexpr (From == kA || From == kL) {
        // A one-component value spreads to every component; L gains full alpha.
        const uint8_t v = s[0];
        const uint8_t alpha = From == kA ? v : 255;
        if constexpr (To == kA || To == kL) {
            d[0] = v;
        } else if constexpr (To == kLA) {
            d[0] = v;
            d[1] = alpha;
        } else {
            d[0] = v;
            d[1] = v;
            d[2] = v;
            if constexpr (TC == 4) d[3] = alpha;
        }
    } else if constexpr (From == kLA) {
        if constexpr (To == kA)
            d[0] = s[1];
        else if constexpr (To == kL)
            d[0] = s[0];
        else {
            d[0] = s[0];
            d[1] = s[0];
            d[2] = s[0];
            if constexpr (TC == 4) d[3] = s[1];
        }
    } else {  // RGB or RGBA
        constexpr bool has_alpha = From == kRGBA;
        if constexpr (To == kA) {
            d[0] = has_alpha ? s[3] : grey(s[0], s[1], s[2]);
        } else if constexpr (To == kL) {
            d[0] = grey(s[0], s[1], s[2]);
        } else if constexpr (To == kLA) {
            d[0] = grey(s[0], s[1], s[2]);
            d[1] = has_alpha ? s[3] : 255;
        } else {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
            if constexpr (TC == 4) d[3] = has_alpha ? s[3] : 255;
        }
    }
}

// RGB <-> RGBA move whole 32-bit words: one load and one store per pixel.
// The last pixel goes byte by byte, so that no word reaches past a buffer.
void rgb_to_rgba_words(const uint8_t *src, uint8_t *dest, size_t count) {
    size_t i = 0;
    for (; i + 1 < count; ++i) {
        uint32_t word;
        std::memcpy(&word, src + 3 * i, 4);
        word |= kAlphaWord;
        std::memcpy(dest + 4 * i, &word, 4);
    }
    for (; i < count; ++i) {
        std::memcpy(dest + 4 * i, src + 3 * i, 3);
        dest[4 * i + 3] = 255;
    }
}

// Each word store also writes the next pixel's first byte, which the next
// store puts right.
void rgba_to_rgb_words(const uint8_t *src, uint8_t *dest, size_t count) {
    size_t i = 0;
    for (; i + 1 < count; ++i) {
        uint32_t word;
        std::memcpy(&word, src + 4 * i, 4);
        std::memcpy(dest + 3 * i, &word, 4);
    }
    for (; i < count; ++i) std::memcpy(dest + 3 * i, src + 4 * i, 3);
}

// One grey byte per RGB or RGBA pixel.
template <int From>
void grey_bytes(const uint8_t *src, uint8_t *dest, size_t count) {
    constexpr int SC = components_of(From);
    const GreyMap grey;
    size_t i = dyx_image_simd::grey_bytes_avx2(src, dest, count, SC, dyx_image_detail::grey_rounding_fixes());
    i += dyx_image_simd::grey_bytes(src + i * SC, dest + i, count - i, SC);
    for (; i < count; ++i) dest[i] = grey(src[i * SC], src[i * SC + 1], src[i * SC + 2]);
}

// Where each output component of a one- or two-component source comes
// from, as convert_pixel has it: a source component, or -1 for 255.
template <int From, int To>
constexpr std::array<int, 4> spread_sources() {
    constexpr int alpha = From == kA ? 0 : From == kLA ? 1 : -1;
    if constexpr (To == kA) return {From == kL ? 0 : alpha, 0, 0, 0};
    if constexpr (To == kL) return {0, 0, 0, 0};
    if constexpr (To == kLA) return {0, alpha, 0, 0};
    if constexpr (To == kRGB) return {0, 0, 0, 0};
    return {0, 0, 0, alpha};
}

// RGB or RGBA to LA: the grey values a chunk at a time with the fast grey
// loops, then each beside its alpha.
template <int From>
void grey_alpha_pixels(const uint8_t *src, uint8_t *dest, size_t count) {
    constexpr int SC = components_of(From);
    constexpr size_t kChunk = 1024;
    uint8_t grey[kChunk];
    for (size_t first = 0; first < count; first += kChunk) {
        const size_t n = std::min(kChunk, count - first);
        const uint8_t *s = src + first * SC;
        uint8_t *d = dest + 2 * first;
        grey_bytes<From>(s, grey, n);
        for (size_t i = 0; i < n; ++i) {
            d[2 * i] = grey[i];
            d[2 * i + 1] = From == kRGBA ? s[4 * i + 3] : 255;
        }
    }
}

template <int From, int To>
void convert_pixels(const uint8_t *src, uint8_t *dest, size_t count) {
    if constexpr ((From == kA || From == kL || From == kLA) && (To == kRGB || To == kRGBA)) {
        // The compiler's own vectors do well with the narrower targets, not
        // with these.
        constexpr int SC = components_of(From), DC = components_of(To);
        constexpr std::array<int, 4> sources = spread_sources<From, To>();
        const size_t done = dyx_image_simd::spread_pixels(src, dest, count, SC, DC, sources.data());
        const GreyMap grey;
        for (size_t i = done; i < count; ++i) convert_pixel<From, To>(src + i * SC, dest + i * DC, grey);
    } else if constexpr ((From == kRGB || From == kRGBA) && To == kLA) {
        grey_alpha_pixels<From>(src, dest, count);
    } else if constexpr (kLittleEndian && From == kRGB && To == kRGBA) {
        const size_t done = dyx_image_simd::rgb_to_rgba(src, dest, count);
        rgb_to_rgba_words(src + 3 * done, dest + 4 * done, count - done);
    } else if constexpr (kLittleEndian && From == kRGBA && To == kRGB) {
        const size_t done = dyx_image_simd::rgba_to_rgb(src, dest, count);
        rgba_to_rgb_words(src + 4 * done, dest + 3 * done, count - done);
    } else if constexpr ((From == kRGB && (To == kL || To == kA)) || (From == kRGBA && To == kL)) {
        grey_bytes<From>(src, dest, count);
    } else {
        constexpr int SC = components_of(From), DC = components_of(To);
        const GreyMap grey;
        for (size_t i = 0; i < count; ++i) convert_pixel<From, To>(src + i * SC, dest + i * DC, grey);
    }
}

using ConvertFunc = void (*)(const uint8_t *, uint8_t *, size_t);

struct Conversion {
    int from;
    int to;
    ConvertFunc convert;
};

template <int From>
constexpr std::array<Conversion, 5> conversions_from() {
    return {{{From, kA, convert_pixels<From, kA>},
             {From, kL, convert_pixels<From, kL>},
             {From, kLA, convert_pixels<From, kLA>},
             {From, kRGB, convert_pixels<From, kRGB>},
             {From, kRGBA, convert_pixels<From, kRGBA>}}};
}

constexpr std::array<std::array<Conversion, 5>, 5> kConversions = {
    conversions_from<kA>(), conversions_from<kL>(), conversions_from<kLA>(), conversions_from<kRGB>(),
    conversions_from<kRGBA>()};

ConvertFunc find_conversion(int from, int to) {
    for (const auto &row : kConversions)
        for (const Conversion &entry : row)
            if (entry.from == from && entry.to == to) return entry.convert;
    return nullptr;
}

// Grey rows for togrey: the destination format picks what is written.
template <int From, int To>
void grey_pixels(const uint8_t *src, uint8_t *dest, size_t count) {
    constexpr int SC = components_of(From), DC = components_of(To);
    const GreyMap grey;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t *s = src + i * SC;
        uint8_t *d = dest + i * DC;
        const uint8_t value = grey(s[0], s[1], s[2]);
        const uint8_t alpha = From == kRGBA ? s[3] : 255;
        if constexpr (To == kL) {
            d[0] = value;
        } else if constexpr (To == kLA) {
            d[0] = value;
            d[1] = alpha;
        } else {
            d[0] = value;
            d[1] = value;
            d[2] = value;
            if constexpr (To == kRGBA) d[3] = alpha;
        }
    }
}

template <int From>
ConvertFunc grey_function(int to) {
    switch (to) {
        case kL:
            return grey_bytes<From>;
        case kLA:
            return grey_pixels<From, kLA>;
        case kRGB:
            return grey_pixels<From, kRGB>;
        case kRGBA:
            return grey_pixels<From, kRGBA>;
        default:
            return nullptr;
    }
}

size_t pixel_count(const dyx_image_t *image) {
    return static_cast<size_t>(image->width) * static_cast<size_t>(image->height);
}

// Runs a per-pixel conversion over row bands of the picture.
void convert_rows(ConvertFunc convert, const dyx_image_t *src, uint8_t *dest_data, int dest_components) {
    const int src_components = dyx_image_color_components_per_pixel(src);
    const size_t width = src->width;
    dyx_image_bands::for_row_bands(
        src->height, width * (src_components + dest_components), [&](int64_t first, int64_t end) {
            const size_t start = static_cast<size_t>(first) * width;
            convert(src->data + start * src_components, dest_data + start * dest_components,
                    static_cast<size_t>(end - first) * width);
        });
}

}  // namespace

extern "C" {

int dyx_image_convert(dyx_image_t **image_var, const dyx_image_t *templ) {
    dyx_image_t *src = *image_var;
    if (templ->format == src->format && templ->depth == src->depth) return DYX_OK;
    dyx_image_t *dest = dyx_image_alloc(src->width, src->height, templ->depth, templ->format);
    if (dest == nullptr) return DYX_IMAGE_NO_BUFFER;
    const size_t count = pixel_count(src);

    if (dest->depth_data != nullptr) {
        if (templ->depth == src->depth && src->depth_data != nullptr)
            std::memcpy(dest->depth_data, src->depth_data, count * sizeof(float));
        else
            std::fill(dest->depth_data, dest->depth_data + count, 0.0f);
    }

    if (count != 0) {
        if (src->format == dest->format) {
            std::memcpy(dest->data, src->data, dyx_image_data_size(src));
        } else if (ConvertFunc convert = find_conversion(src->format, dest->format)) {
            convert_rows(convert, src, dest->data, dyx_image_color_components_per_pixel(dest));
        }
    }
    dyx_image_free(image_var);
    *image_var = dest;
    return DYX_OK;
}

int dyx_image_togrey(const dyx_image_t *src, dyx_image_t *dest) {
    if (dyx_image_hdr_diff(src, dest, DYX_IMAGE_HDR_SIZE) != 0) return DYX_REFUSED;
    ConvertFunc convert = nullptr;
    // Only a colour source has the three components the grey value needs.
    if (src->format == kRGB)
        convert = grey_function<kRGB>(dest->format);
    else if (src->format == kRGBA)
        convert = grey_function<kRGBA>(dest->format);
    if (convert == nullptr) return DYX_BAD_ARGUMENT;
    if (pixel_count(src) != 0)
        convert_rows(convert, src, dest->data, dyx_image_color_components_per_pixel(dest));
    return DYX_OK;
}

}  // extern "C"
