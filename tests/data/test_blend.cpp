// Blending: the documented examples, and the vector kernels compared byte
// for byte with a plain per-pixel reference on random images.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "dyx_image.h"
#include "dyx_image_composite.h"
#include "image_test_util.h"

using namespace image_testing;

namespace {

const uint8_t kNoConstant[4] = {0, 0, 0, 0};

// The blend written straight from its description: build the eight-entry
// factor table for every component of every pixel, then mix.
Bytes reference_blend(const dyx_image_t *src, const dyx_image_t *dest, int32_t sc, int32_t sa, int32_t dc,
                      int32_t da, const uint8_t constant[4], uint8_t constant_alpha) {
    const int components = dyx_image_color_components_per_pixel(dest);
    const int format = dest->format;
    const bool has_alpha = format == DYX_IMG_FMT_A || format == DYX_IMG_FMT_LA || format == DYX_IMG_FMT_RGBA;
    Bytes out = bytes_of(dest);
    const size_t pixels = static_cast<size_t>(dest->width) * dest->height;
    for (size_t p = 0; p < pixels; ++p) {
        const uint8_t *s = src->data + p * components;
        const uint8_t *d = dest->data + p * components;
        const int s_alpha = !has_alpha ? 255 : s[components - 1];
        const int d_alpha = !has_alpha ? 255 : d[components - 1];
        for (int c = 0; c < components; ++c) {
            const bool alpha_component = has_alpha && c == components - 1;
            const int table[8] = {0, 255, s[c], s_alpha, d[c], d_alpha, constant[c], constant_alpha};
            const int code_s = alpha_component ? sa : sc;
            const int code_d = alpha_component ? da : dc;
            int fs = table[code_s % 16];
            if (code_s & 16) fs = 255 - fs;
            int fd = table[code_d % 16];
            if (code_d & 16) fd = 255 - fd;
            const int result = s[c] * fs / 255 + d[c] * fd / 255;
            out[p * components + c] = static_cast<uint8_t>(std::min(255, std::max(0, result)));
        }
    }
    return out;
}

}  // namespace

// The vector kernel divides by 255 as (x + 1 + (x >> 8)) >> 8; mixing with
// factor ONE from a zero destination exposes exactly trunc(s * f / 255)
// for every pair of bytes.
TEST(Blend, DivisionBy255IsExactForEveryByteProduct) {
    ImagePtr src = make_image(256, 256, DYX_IMG_FMT_LA);
    ImagePtr dest = make_image(256, 256, DYX_IMG_FMT_LA, Bytes(256 * 256 * 2, 0));
    for (size_t at = 0; at < 256 * 256 * 2; at += 2)
        src->data[at] = uint8_t(at >> 9), src->data[at + 1] = uint8_t(at >> 1);
    // Luminance: s * source alpha / 255; alpha: f * f / 255 (ZERO for dest).
    ASSERT_EQ(dyx_image_blend(src.get(), dest.get(), DYX_BLEND_SALPHA, DYX_BLEND_SALPHA, DYX_BLEND_ZERO,
                              DYX_BLEND_ZERO, kNoConstant, 0),
              0);
    int mismatches = 0;
    for (int s = 0; s < 256; ++s)
        for (int f = 0; f < 256; ++f) {
            const size_t at = (static_cast<size_t>(s) * 256 + f) * 2;
            mismatches += dest->data[at] != s * f / 255 || dest->data[at + 1] != f * f / 255;
        }
    EXPECT_EQ(mismatches, 0);
}

TEST(Blend, DocumentedExamples) {
    const int32_t A = DYX_IMG_FMT_A, L = DYX_IMG_FMT_L, LA = DYX_IMG_FMT_LA, RGB = DYX_IMG_FMT_RGB;
    const int32_t ZERO = DYX_BLEND_ZERO, ONE = DYX_BLEND_ONE, SALPHA = DYX_BLEND_SALPHA,
                  MSALPHA = DYX_BLEND_MSALPHA, DALPHA = DYX_BLEND_DALPHA;
    const struct {
        int32_t format;
        Bytes src, dest;
        int32_t sc, sa, dc, da;
        Bytes expected;
    } cases[] = {
        // trunc(200 * 128 / 255) + trunc(100 * 127 / 255) = 100 + 49.
        {DYX_IMG_FMT_RGBA, {200, 0, 0, 128}, {100, 0, 0, 50}, SALPHA, ONE, MSALPHA, ZERO, {149, 0, 0, 128}},
        {L, {200}, {100}, ONE, 0, ONE, 0, {255}},
        {L, {200}, {100}, ZERO, 0, ZERO, 0, {0}},
        // L and RGB have alpha 255 on both sides: SALPHA is ONE, MSALPHA is ZERO.
        {L, {200}, {100}, SALPHA, 0, MSALPHA, 0, {200}},
        {RGB, {1, 2, 3}, {9, 9, 9}, SALPHA, 0, MSALPHA, 0, {1, 2, 3}},
        // Code 16 is 255 - ZERO = ONE, code 17 is 255 - ONE = ZERO.
        {L, {200}, {30}, 16, 0, 17, 0, {200}},
        {A, {200}, {30}, 0, 17, 0, 16, {30}},
        // The colour uses the old destination alpha (60), not the blended one.
        {LA, {255, 255}, {255, 60}, ZERO, ONE, DALPHA, ZERO, {60, 255}},
    };
    for (const auto &c : cases) {
        ImagePtr src = make_image(1, 1, c.format, c.src), dest = make_image(1, 1, c.format, c.dest);
        EXPECT_EQ(dyx_image_blend(src.get(), dest.get(), c.sc, c.sa, c.dc, c.da, kNoConstant, 0), 0);
        EXPECT_EQ(bytes_of(dest.get()), c.expected) << c.format << " " << c.sc << " " << c.dc;
    }
    // The constant colour follows the layout: one value per component.
    const uint8_t constant[4] = {255, 128, 0, 77};
    ImagePtr src = make_image(1, 1, DYX_IMG_FMT_RGBA, Bytes{200, 200, 200, 200});
    ImagePtr dest = make_image(1, 1, DYX_IMG_FMT_RGBA, Bytes{0, 0, 0, 0});
    ASSERT_EQ(dyx_image_blend(src.get(), dest.get(), DYX_BLEND_CCOLOR, DYX_BLEND_CALPHA, DYX_BLEND_ZERO,
                              DYX_BLEND_ZERO, constant, 255),
              0);
    EXPECT_EQ(bytes_of(dest.get()), (Bytes{200, 200 * 128 / 255, 0, 200}));
}

TEST(Blend, RefusalsLeaveTheDestination) {
    ImagePtr src = make_image(2, 2, DYX_IMG_FMT_L, Bytes{1, 2, 3, 4});
    ImagePtr wide = make_image(3, 2, DYX_IMG_FMT_L, Bytes(6, 9)),
             other = make_image(2, 2, DYX_IMG_FMT_A, Bytes(4, 9));
    EXPECT_EQ(dyx_image_blend(src.get(), wide.get(), 1, 1, 1, 1, kNoConstant, 0), 1);
    EXPECT_EQ(dyx_image_blend(src.get(), other.get(), 1, 1, 1, 1, kNoConstant, 0), 1);
    EXPECT_EQ(bytes_of(wide.get()), Bytes(6, 9));
    EXPECT_EQ(bytes_of(other.get()), Bytes(4, 9));
    // Low four bits 8 to 15 select no factor.
    ImagePtr dest = make_image(2, 2, DYX_IMG_FMT_L, Bytes(4, 9));
    for (int32_t bad : {8, 15, 24, 31}) {
        EXPECT_EQ(dyx_image_blend(src.get(), dest.get(), bad, 1, 1, 1, kNoConstant, 0), 6) << bad;
        EXPECT_EQ(dyx_image_blend(src.get(), dest.get(), 1, 1, 1, bad, kNoConstant, 0), 6) << bad;
    }
    EXPECT_EQ(bytes_of(dest.get()), Bytes(4, 9));
    ImagePtr empty_src = make_image(0, 3, DYX_IMG_FMT_RGB), empty_dest = make_image(0, 3, DYX_IMG_FMT_RGB);
    EXPECT_EQ(dyx_image_blend(empty_src.get(), empty_dest.get(), 1, 1, 1, 1, kNoConstant, 0), 0);
}

// Every code pair on every format, on an odd size so that the padded last
// block is exercised too; then blending in place.
TEST(Blend, MatchesTheReferenceForEveryCodeAndFormat) {
    std::mt19937 random(6);
    const int32_t codes[] = {0, 1, 2, 3, 4, 5, 6, 7, 16, 17, 18, 19, 20, 21, 22, 23, 32 + 3};
    const uint8_t constant[4] = {17, 200, 99, 250};
    for (int32_t format : {DYX_IMG_FMT_A, DYX_IMG_FMT_L, DYX_IMG_FMT_LA, DYX_IMG_FMT_RGB, DYX_IMG_FMT_RGBA}) {
        ImagePtr src = make_image(7, 5, format), original = make_image(7, 5, format);
        fill_random(src.get(), random);
        fill_random(original.get(), random);
        for (int32_t color : codes)
            for (int32_t alpha : codes) {
                ImagePtr dest = make_image(7, 5, format, bytes_of(original.get()));
                const Bytes expected =
                    reference_blend(src.get(), dest.get(), color, alpha, alpha ^ 16, color, constant, 140);
                ASSERT_EQ(
                    dyx_image_blend(src.get(), dest.get(), color, alpha, alpha ^ 16, color, constant, 140),
                    0);
                ASSERT_EQ(bytes_of(dest.get()), expected)
                    << "format " << format << " codes " << color << ", " << alpha;
            }

        // In place: the source is the destination.
        const Bytes expected = reference_blend(src.get(), src.get(), DYX_BLEND_DCOLOR, DYX_BLEND_DALPHA,
                                               DYX_BLEND_SCOLOR, DYX_BLEND_MCALPHA, constant, 90);
        ASSERT_EQ(dyx_image_blend(src.get(), src.get(), DYX_BLEND_DCOLOR, DYX_BLEND_DALPHA, DYX_BLEND_SCOLOR,
                                  DYX_BLEND_MCALPHA, constant, 90),
                  0);
        EXPECT_EQ(bytes_of(src.get()), expected) << format << " in place";
    }
}
