// Bit-block transfer: stepping, clipping, border pixel, alpha mask, and a
// plain per-pixel reference on random images of every format.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "dyx_image.h"
#include "dyx_image_composite.h"
#include "image_test_util.h"

using image_testing::bytes_of;
using image_testing::fill_random;
using image_testing::ImagePtr;
using image_testing::make_image;

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kBorder[4] = {11, 22, 33, 44};
const uint8_t kClearBorder[4] = {11, 22, 33, 0};

struct Rect {
    int32_t x, y, w, h;
};

// The transfer as described, one destination pixel at a time, with the
// clipping done by skipping pixels outside the destination.
Bytes reference_bitblt(const dyx_image_t *src, const dyx_image_t *dest, Rect from, Rect to, int32_t mode,
                       const uint8_t border[4]) {
    const int components = dyx_image_color_components_per_pixel(dest);
    uint8_t border_pixel[4];
    switch (dest->format) {
        case DYX_IMG_FMT_A:
            border_pixel[0] = border[3];
            break;
        case DYX_IMG_FMT_L:
            border_pixel[0] = border[0];
            break;
        case DYX_IMG_FMT_LA:
            border_pixel[0] = border[0], border_pixel[1] = border[3];
            break;
        default:
            for (int c = 0; c < 4; ++c) border_pixel[c] = border[c];
    }
    float step_x = to.w == 1 ? 0.0f : static_cast<float>(from.w - 1) / static_cast<float>(to.w - 1);
    float step_y = to.h == 1 ? 0.0f : static_cast<float>(from.h - 1) / static_cast<float>(to.h - 1);
    float fx = static_cast<float>(from.x), fy = static_cast<float>(from.y);
    // Clipping at a negative origin moves the start by whole steps.
    int x0 = to.x, y0 = to.y, w = to.w, h = to.h;
    if (x0 < 0) w += x0, fx = fx + static_cast<float>(-x0) * step_x, x0 = 0;
    if (y0 < 0) h += y0, fy = fy + static_cast<float>(-y0) * step_y, y0 = 0;
    const bool has_alpha = dest->format != DYX_IMG_FMT_L && dest->format != DYX_IMG_FMT_RGB;
    Bytes out = bytes_of(dest);
    for (int r = 0; r < h; ++r) {
        if (y0 + r >= static_cast<int>(dest->height)) break;
        const int row = static_cast<int>(static_cast<float>(r) * step_y + fy);
        for (int c = 0; c < w; ++c) {
            if (x0 + c >= static_cast<int>(dest->width)) break;
            const int column = static_cast<int>(static_cast<float>(c) * step_x + fx);
            const bool inside = row >= 0 && row < static_cast<int>(src->height) && column >= 0 &&
                                column < static_cast<int>(src->width);
            const uint8_t *sample =
                inside ? src->data + (static_cast<size_t>(row) * src->width + column) * components
                       : border_pixel;
            if (mode == DYX_BITBLT_ALPHAMASK && has_alpha && sample[components - 1] == 0) continue;
            for (int k = 0; k < components; ++k)
                out[((static_cast<size_t>(y0) + r) * dest->width + x0 + c) * components + k] = sample[k];
        }
    }
    return out;
}

int bitblt(const dyx_image_t *src, dyx_image_t *dest, Rect from, Rect to, int32_t mode,
           const uint8_t border[4] = kBorder) {
    const int32_t src_origin[2] = {from.x, from.y}, src_size[2] = {from.w, from.h};
    const int32_t dest_origin[2] = {to.x, to.y}, dest_size[2] = {to.w, to.h};
    return dyx_image_bitblt(src, dest, src_origin, src_size, dest_origin, dest_size, mode, border);
}

Bytes row_of(const dyx_image_t *image, uint32_t row) {
    const Bytes all = bytes_of(image);
    const size_t row_bytes = all.size() / image->height;
    return Bytes(all.begin() + row * row_bytes, all.begin() + (row + 1) * row_bytes);
}

}  // namespace

TEST(Bitblt, StepsThroughTheSource) {
    // A 4 x 4 source onto a 2 x 2 rectangle steps by 3: columns 0 and 3.
    ImagePtr src = make_image(4, 4, DYX_IMG_FMT_L);
    for (int n = 0; n < 16; ++n) src->data[n] = static_cast<uint8_t>(n);
    ImagePtr dest = make_image(2, 2, DYX_IMG_FMT_L, Bytes{0, 0, 0, 0});
    EXPECT_EQ(bitblt(src.get(), dest.get(), {0, 0, 4, 4}, {0, 0, 2, 2}, DYX_BITBLT_COPY), 0);
    EXPECT_EQ(bytes_of(dest.get()), (Bytes{0, 3, 12, 15}));

    // A 1 x 1 destination rectangle copies the source origin pixel.
    ImagePtr one = make_image(2, 2, DYX_IMG_FMT_L, Bytes{0, 0, 0, 0});
    EXPECT_EQ(bitblt(src.get(), one.get(), {2, 1, 2, 2}, {1, 1, 1, 1}, DYX_BITBLT_COPY), 0);
    EXPECT_EQ(bytes_of(one.get()), (Bytes{0, 0, 0, 6}));
}

TEST(Bitblt, ClipsANegativeOrigin) {
    // Origin (-1, 0), size (3, 1) over a 3-pixel row: destination columns
    // 0 and 1 come from source columns 1 and 2.
    ImagePtr src = make_image(3, 1, DYX_IMG_FMT_RGB, Bytes{1, 1, 1, 2, 2, 2, 3, 3, 3});
    ImagePtr dest = make_image(3, 1, DYX_IMG_FMT_RGB, Bytes(9, 0));
    EXPECT_EQ(bitblt(src.get(), dest.get(), {0, 0, 3, 1}, {-1, 0, 3, 1}, DYX_BITBLT_COPY), 0);
    EXPECT_EQ(bytes_of(dest.get()), (Bytes{2, 2, 2, 3, 3, 3, 0, 0, 0}));
}

TEST(Bitblt, OriginOutsideOrEmptyRectangleWritesNothing) {
    ImagePtr src = make_image(3, 3, DYX_IMG_FMT_L, Bytes(9, 5));
    ImagePtr dest = make_image(3, 3, DYX_IMG_FMT_L, Bytes(9, 0));
    EXPECT_EQ(bitblt(src.get(), dest.get(), {0, 0, 3, 3}, {3, 0, 2, 2}, DYX_BITBLT_COPY), 0);
    EXPECT_EQ(bitblt(src.get(), dest.get(), {0, 0, 3, 3}, {0, 7, 2, 2}, DYX_BITBLT_COPY), 0);
    EXPECT_EQ(bitblt(src.get(), dest.get(), {0, 0, 3, 3}, {-2, 0, 2, 2}, DYX_BITBLT_COPY), 0);
    EXPECT_EQ(bitblt(src.get(), dest.get(), {0, 0, 3, 3}, {0, 0, 0, 2}, DYX_BITBLT_COPY), 0);
    EXPECT_EQ(bitblt(src.get(), dest.get(), {0, 0, 3, 3}, {0, 0, -4, 2}, DYX_BITBLT_COPY), 0);
    // Extreme values clip without overflow.
    EXPECT_EQ(bitblt(src.get(), dest.get(), {0, 0, 3, 3}, {INT32_MIN, 0, INT32_MAX, 1}, DYX_BITBLT_COPY), 0);
    EXPECT_EQ(bytes_of(dest.get()), Bytes(9, 0));
}

TEST(Bitblt, HugeStepsLandOutsideTheSource) {
    // Positions far beyond any int are tested as floats, never converted.
    ImagePtr src = make_image(3, 3, DYX_IMG_FMT_L, Bytes(9, 5));
    ImagePtr dest = make_image(2, 2, DYX_IMG_FMT_L, Bytes(4, 0));
    EXPECT_EQ(bitblt(src.get(), dest.get(), {0, 0, INT32_MAX, INT32_MIN}, {0, 0, 2, 2}, DYX_BITBLT_COPY), 0);
    EXPECT_EQ(bytes_of(dest.get()), (Bytes{5, 11, 11, 11}));
}

TEST(Bitblt, BorderAndAlphaMask) {
    // Source origin (-5, 0): the first columns fall before the source.
    ImagePtr src = make_image(2, 1, DYX_IMG_FMT_RGBA, Bytes{1, 2, 3, 4, 5, 6, 7, 8});
    ImagePtr dest = make_image(7, 1, DYX_IMG_FMT_RGBA, Bytes(28, 99));
    EXPECT_EQ(bitblt(src.get(), dest.get(), {-5, 0, 7, 1}, {0, 0, 7, 1}, DYX_BITBLT_COPY), 0);
    Bytes expected;
    for (int n = 0; n < 5; ++n) expected.insert(expected.end(), kBorder, kBorder + 4);
    expected.insert(expected.end(), {1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(bytes_of(dest.get()), expected);

    // With the mask, a border of alpha 0 leaves the destination alone.
    ImagePtr masked = make_image(7, 1, DYX_IMG_FMT_RGBA, Bytes(28, 99));
    EXPECT_EQ(
        bitblt(src.get(), masked.get(), {-5, 0, 7, 1}, {0, 0, 7, 1}, DYX_BITBLT_ALPHAMASK, kClearBorder), 0);
    expected.assign(20, 99);
    expected.insert(expected.end(), {1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(bytes_of(masked.get()), expected);

    // The mask has no effect without alpha; L takes the border's red.
    ImagePtr grey_src = make_image(1, 1, DYX_IMG_FMT_L, Bytes{0});
    ImagePtr grey = make_image(2, 1, DYX_IMG_FMT_L, Bytes{99, 99});
    EXPECT_EQ(
        bitblt(grey_src.get(), grey.get(), {-1, 0, 2, 1}, {0, 0, 2, 1}, DYX_BITBLT_ALPHAMASK, kClearBorder),
        0);
    EXPECT_EQ(bytes_of(grey.get()), (Bytes{11, 0}));
}

TEST(Bitblt, RefusesOtherFormatOrDepthAndDefaultsToWholeImages) {
    ImagePtr rgb = make_image(2, 2, DYX_IMG_FMT_RGB, Bytes(12, 1));
    ImagePtr rgba = make_image(2, 2, DYX_IMG_FMT_RGBA, Bytes(16, 0));
    EXPECT_EQ(dyx_image_bitblt(rgb.get(), rgba.get(), nullptr, nullptr, nullptr, nullptr, 0, kBorder), 1);
    EXPECT_EQ(bytes_of(rgba.get()), Bytes(16, 0));
    ImagePtr deep = make_image(2, 2, DYX_IMG_FMT_RGB, 1);
    EXPECT_EQ(dyx_image_bitblt(rgb.get(), deep.get(), nullptr, nullptr, nullptr, nullptr, 0, kBorder), 1);

    // All defaults: the whole source stretched over the whole destination.
    ImagePtr src = make_image(2, 1, DYX_IMG_FMT_L, Bytes{10, 20});
    ImagePtr dest = make_image(3, 2, DYX_IMG_FMT_L, Bytes(6, 0));
    EXPECT_EQ(dyx_image_bitblt(src.get(), dest.get(), nullptr, nullptr, nullptr, nullptr, 0, kBorder), 0);
    // Column steps 0.5 (0, 0.5, 1 -> 0, 0, 1); row step 0, so both rows are row 0.
    EXPECT_EQ(bytes_of(dest.get()), (Bytes{10, 10, 20, 10, 10, 20}));
}

TEST(Bitblt, MatchesReferenceOnRandomImages) {
    std::mt19937 random(7);
    const int32_t formats[] = {DYX_IMG_FMT_A, DYX_IMG_FMT_L, DYX_IMG_FMT_LA, DYX_IMG_FMT_RGB,
                               DYX_IMG_FMT_RGBA};
    std::uniform_int_distribution<int> coordinate(-12, 30), size(-2, 40);
    for (int32_t format : formats) {
        ImagePtr src = make_image(23, 17, format);
        fill_random(src.get(), random);
        // Some zero alphas so that the mask matters.
        for (uint64_t n = 0; n < dyx_image_data_size(src.get()); n += 7) src->data[n] = 0;
        for (int trial = 0; trial < 300; ++trial) {
            ImagePtr dest = make_image(19, 21, format);
            fill_random(dest.get(), random);
            const Rect from = {coordinate(random), coordinate(random), size(random), size(random)};
            const Rect to = {coordinate(random), coordinate(random), size(random), size(random)};
            const int32_t mode = trial % 3 == 0 ? DYX_BITBLT_COPY : DYX_BITBLT_ALPHAMASK;
            const uint8_t *border = trial % 2 ? kBorder : kClearBorder;
            const Bytes expected = reference_bitblt(src.get(), dest.get(), from, to, mode, border);
            ASSERT_EQ(bitblt(src.get(), dest.get(), from, to, mode, border), 0);
            ASSERT_EQ(bytes_of(dest.get()), expected)
                << "format " << format << " from " << from.x << "," << from.y << " " << from.w << "x"
                << from.h << " to " << to.x << "," << to.y << " " << to.w << "x" << to.h << " mode " << mode;
        }
    }
}

TEST(Bitblt, EnlargingRepeatsRowsExactly) {
    // Doubling reuses each source row; the copied rows must equal the
    // sampled ones, also where rows fall outside the source.
    ImagePtr src = make_image(5, 4, DYX_IMG_FMT_RGB);
    std::mt19937 random(8);
    fill_random(src.get(), random);
    ImagePtr dest = make_image(10, 12, DYX_IMG_FMT_RGB, Bytes(360, 0));
    const Bytes expected = reference_bitblt(src.get(), dest.get(), {0, -1, 5, 6}, {0, 0, 10, 12}, 0, kBorder);
    EXPECT_EQ(bitblt(src.get(), dest.get(), {0, -1, 5, 6}, {0, 0, 10, 12}, DYX_BITBLT_COPY), 0);
    EXPECT_EQ(bytes_of(dest.get()), expected);
    EXPECT_EQ(row_of(dest.get(), 1), row_of(dest.get(), 2));  // trunc(-0.55) and trunc(-0.09) are both row 0
}
