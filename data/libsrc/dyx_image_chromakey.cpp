// Chroma keying: pixels whose colour lies within a tolerance of a key
// colour get a new alpha.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "dyx_image.h"
#include "dyx_image_bands.h"
#include "dyx_image_composite.h"
#include "dyx_image_vec.h"
#include "dyx_status.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the pixel lanes assume little-endian order");

namespace {

using dyx_vec::u16x8;
using dyx_vec::u32x4;
using dyx_vec::u8x16;

// The key test of one pixel: |p - key| <= tolerance for the first
// `keyed` components (1 for LA, 3 for RGBA), in signed integers.
struct KeyTest {
    int keyed;
    int key[3];
    int32_t tolerance[3];

    bool matches(const uint8_t *pixel) const {
        for (int c = 0; c < keyed; ++c)
            if (std::abs(pixel[c] - key[c]) > tolerance[c]) return false;
        return true;
    }
};

template <int C>
void key_pixels(uint8_t *data, size_t pixels, const KeyTest &test, uint8_t alpha) {
    for (size_t p = 0; p < pixels; ++p, data += C)
        if (test.matches(data)) data[C - 1] = alpha;
}

// Sixteen bytes of pixels at a time: the byte differences are compared
// with the tolerances (clamped to 0..255, which decides the same for byte
// differences; negative ones never reach here), and pixels whose keyed
// bytes all pass take the new alpha.
template <int C>
size_t key_vectors(uint8_t *data, size_t pixels, const KeyTest &test, uint8_t alpha) {
    static_assert(C == 2 || C == 4, "LA and RGBA pixels only");
    u8x16 key = {}, limit = {}, alpha_lanes = {}, new_alpha = {};
    for (int lane = 0; lane < 16; ++lane) {
        const int c = lane % C;
        const bool keyed = c < test.keyed;
        key[lane] = keyed ? static_cast<uint8_t>(test.key[c]) : 0;
        limit[lane] = keyed ? static_cast<uint8_t>(std::min<int32_t>(test.tolerance[c], 255)) : 255;
        alpha_lanes[lane] = c == C - 1 ? 0xff : 0;
        new_alpha[lane] = c == C - 1 ? alpha : 0;
    }
    const size_t groups = pixels * C / 16;
    for (size_t n = 0; n < groups; ++n, data += 16) {
        const u8x16 p = dyx_vec::load(data);
        const u8x16 difference = p > key ? p - key : key - p;
        const u8x16 within = (u8x16)(difference <= limit);
        // A pixel matches when every byte of it passes (alpha always does).
        u8x16 hit;
        if constexpr (C == 4)
            hit = (u8x16)((u32x4)within == 0xffffffffu);
        else
            hit = (u8x16)((u16x8)within == 0xffff);
        const u8x16 replace = hit & alpha_lanes;
        dyx_vec::store(data, (p & ~replace) | (new_alpha & replace));
    }
    return groups * 16 / C;
}

// Row bands over the workers; each pixel is keyed alone.
template <int C>
void key_image(uint8_t *data, size_t width, size_t height, const KeyTest &test, uint8_t alpha) {
    dyx_image_bands::for_row_bands(static_cast<int64_t>(height), 2 * width * C,
                                   [&](int64_t first, int64_t end) {
                                       uint8_t *band = data + static_cast<size_t>(first) * width * C;
                                       const size_t pixels = static_cast<size_t>(end - first) * width;
                                       const size_t done = key_vectors<C>(band, pixels, test, alpha);
                                       key_pixels<C>(band + done * C, pixels - done, test, alpha);
                                   });
}

}  // namespace

extern "C" {

int dyx_image_chromakey(dyx_image_t *image, const uint8_t key[3], const int32_t tolerance[3], uint8_t alpha) {
    if (image->format != DYX_IMG_FMT_LA && image->format != DYX_IMG_FMT_RGBA) return DYX_REFUSED;
    const size_t pixels = static_cast<size_t>(image->width) * image->height;
    if (pixels == 0 || image->data == nullptr) return DYX_OK;
    const KeyTest test = {image->format == DYX_IMG_FMT_LA ? 1 : 3,
                          {key[0], key[1], key[2]},
                          {tolerance[0], tolerance[1], tolerance[2]}};
    // A negative tolerance matches no difference: nothing can change.
    for (int c = 0; c < test.keyed; ++c)
        if (test.tolerance[c] < 0) return DYX_OK;
    if (image->format == DYX_IMG_FMT_LA)
        key_image<2>(image->data, image->width, image->height, test, alpha);
    else
        key_image<4>(image->data, image->width, image->height, test, alpha);
    return DYX_OK;
}

}  // extern "C"
