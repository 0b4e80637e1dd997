// Flip, swizzle and sub-rectangles.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "dyx_image.h"
#include "image_test_util.h"

using image_testing::bytes_of;
using image_testing::ImagePtr;
using image_testing::make_image;

namespace {
using Bytes = std::vector<uint8_t>;
}

TEST(Flip, SingleRowOrColumnIsUnchanged) {
    ImagePtr row = make_image(3, 1, DYX_IMG_FMT_L, Bytes{1, 2, 3});
    EXPECT_EQ(dyx_image_flip(row.get(), DYX_FLIP_XAXIS), 0);
    EXPECT_EQ(bytes_of(row.get()), (Bytes{1, 2, 3}));
    ImagePtr column = make_image(1, 3, DYX_IMG_FMT_L, Bytes{1, 2, 3});
    EXPECT_EQ(dyx_image_flip(column.get(), DYX_FLIP_YAXIS), 0);
    EXPECT_EQ(bytes_of(column.get()), (Bytes{1, 2, 3}));
}

TEST(Flip, AxesAndHalfTurn) {
    ImagePtr rows = make_image(2, 3, DYX_IMG_FMT_LA, Bytes{1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6});
    dyx_image_flip(rows.get(), DYX_FLIP_XAXIS);
    EXPECT_EQ(bytes_of(rows.get()), (Bytes{5, 5, 6, 6, 3, 3, 4, 4, 1, 1, 2, 2}));

    ImagePtr rgb = make_image(3, 1, DYX_IMG_FMT_RGB, Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9});
    dyx_image_flip(rgb.get(), DYX_FLIP_YAXIS | 8);
    EXPECT_EQ(bytes_of(rgb.get()), (Bytes{7, 8, 9, 4, 5, 6, 1, 2, 3}));

    ImagePtr square = make_image(2, 2, DYX_IMG_FMT_RGBA);
    for (int n = 0; n < 16; ++n) square->data[n] = static_cast<uint8_t>(n / 4);
    dyx_image_flip(square.get(), DYX_FLIP_XAXIS | DYX_FLIP_YAXIS);
    EXPECT_EQ(bytes_of(square.get()), (Bytes{3, 3, 3, 3, 2, 2, 2, 2, 1, 1, 1, 1, 0, 0, 0, 0}));
}

TEST(Flip, LongRowsSwapCompletely) {
    // Rows longer than the exchange buffer.
    ImagePtr image = make_image(3000, 2, DYX_IMG_FMT_RGB);
    for (size_t n = 0; n < 9000; ++n) {
        image->data[n] = 1;
        image->data[9000 + n] = 2;
    }
    dyx_image_flip(image.get(), DYX_FLIP_XAXIS);
    const Bytes bytes = bytes_of(image.get());
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 9000), Bytes(9000, 2));
    EXPECT_EQ(Bytes(bytes.begin() + 9000, bytes.end()), Bytes(9000, 1));
}

TEST(Swizzle, PartExamples) {
    const int32_t all[4] = {1, 1, 1, 1};
    const int32_t reverse[4] = {2, 1, 0, 3};
    ImagePtr rgba = make_image(1, 1, DYX_IMG_FMT_RGBA, Bytes{1, 2, 3, 4});
    EXPECT_EQ(dyx_image_swizzle(rgba.get(), rgba.get(), reverse, all), 0);
    EXPECT_EQ(bytes_of(rgba.get()), (Bytes{3, 2, 1, 4}));

    const int32_t red_only[4] = {1, 0, 0, 0};
    ImagePtr rgba2 = make_image(1, 1, DYX_IMG_FMT_RGBA, Bytes{1, 2, 3, 4});
    EXPECT_EQ(dyx_image_swizzle(rgba2.get(), rgba2.get(), reverse, red_only), 0);
    EXPECT_EQ(bytes_of(rgba2.get()), (Bytes{3, 2, 3, 4}));

    const int32_t opaque[4] = {3, 3, 3, 0};
    ImagePtr rgb = make_image(1, 1, DYX_IMG_FMT_RGB, Bytes{1, 2, 3});
    EXPECT_EQ(dyx_image_swizzle(rgb.get(), rgb.get(), opaque, all), 0);
    EXPECT_EQ(bytes_of(rgb.get()), (Bytes{255, 255, 255}));

    const int32_t la_map[4] = {3, 0, 0, 0};
    const int32_t la_mask[4] = {1, 0, 0, 1};
    ImagePtr la = make_image(1, 1, DYX_IMG_FMT_LA, Bytes{7, 9});
    EXPECT_EQ(dyx_image_swizzle(la.get(), la.get(), la_map, la_mask), 0);
    EXPECT_EQ(bytes_of(la.get()), (Bytes{9, 7}));
}

TEST(Swizzle, RefusalsAndNoOps) {
    const int32_t all[4] = {1, 1, 1, 1};
    const int32_t bad[4] = {0, 1, 2, 4};
    const int32_t reverse[4] = {2, 1, 0, 3};
    const int32_t identity[4] = {0, 1, 2, 3};
    ImagePtr l = make_image(1, 1, DYX_IMG_FMT_L, Bytes{5});
    EXPECT_EQ(dyx_image_swizzle(l.get(), l.get(), bad, all), 0);
    EXPECT_EQ(bytes_of(l.get()), Bytes{5});

    ImagePtr rgb = make_image(1, 1, DYX_IMG_FMT_RGB, Bytes{1, 2, 3});
    EXPECT_EQ(dyx_image_swizzle(rgb.get(), rgb.get(), bad, all), 1);
    EXPECT_EQ(bytes_of(rgb.get()), (Bytes{1, 2, 3}));
    ImagePtr other = make_image(1, 1, DYX_IMG_FMT_RGBA, Bytes{0, 0, 0, 0});
    EXPECT_EQ(dyx_image_swizzle(rgb.get(), other.get(), reverse, all), 1);
    ImagePtr copy = make_image(1, 1, DYX_IMG_FMT_RGB, Bytes{0, 0, 0});
    EXPECT_EQ(dyx_image_swizzle(rgb.get(), copy.get(), identity, all), 0);
    EXPECT_EQ(bytes_of(copy.get()), (Bytes{0, 0, 0}));
    EXPECT_EQ(dyx_image_swizzle(rgb.get(), copy.get(), reverse, all), 0);
    EXPECT_EQ(bytes_of(copy.get()), (Bytes{3, 2, 1}));
}

TEST(Subrect, CopiesTheRectangle) {
    ImagePtr src = make_image(3, 3, DYX_IMG_FMT_L, Bytes{0, 1, 2, 10, 11, 12, 20, 21, 22});
    ImagePtr dest = make_image(2, 2, DYX_IMG_FMT_L);
    EXPECT_EQ(dyx_image_subrect(src.get(), dest.get(), 1, 1), 0);
    EXPECT_EQ(bytes_of(dest.get()), (Bytes{11, 12, 21, 22}));
    EXPECT_EQ(dyx_image_subrect(src.get(), dest.get(), 2, 2), 1);
    EXPECT_EQ(dyx_image_subrect(src.get(), dest.get(), -1, 0), 1);
    EXPECT_EQ(dyx_image_subrect(src.get(), dest.get(), 0x7fffffff, 0), 1);
    ImagePtr wrong_format = make_image(2, 2, DYX_IMG_FMT_A);
    EXPECT_EQ(dyx_image_subrect(src.get(), wrong_format.get(), 0, 0), 1);
}

TEST(Subrect, CopiesDepthToo) {
    ImagePtr src = make_image(3, 2, DYX_IMG_FMT_RGB, 1);
    for (int n = 0; n < 6; ++n) src->depth_data[n] = static_cast<float>(n);
    for (int n = 0; n < 18; ++n) src->data[n] = static_cast<uint8_t>(n);
    ImagePtr dest = make_image(2, 1, DYX_IMG_FMT_RGB, 1);
    EXPECT_EQ(dyx_image_subrect(src.get(), dest.get(), 1, 1), 0);
    EXPECT_EQ(dest->depth_data[0], 4.0f);
    EXPECT_EQ(dest->depth_data[1], 5.0f);
    EXPECT_EQ(bytes_of(dest.get()), (Bytes{12, 13, 14, 15, 16, 17}));
    ImagePtr no_depth = make_image(2, 1, DYX_IMG_FMT_RGB);
    EXPECT_EQ(dyx_image_subrect(src.get(), no_depth.get(), 0, 0), 1);
}

// Mirroring and swizzling work on whole groups of pixels first; every
// width must still come out as the plain definition says.
TEST(Flip, EveryWidthMirrorsExactly) {
    std::mt19937 random(4);
    for (int32_t format : {DYX_IMG_FMT_L, DYX_IMG_FMT_LA, DYX_IMG_FMT_RGB, DYX_IMG_FMT_RGBA}) {
        for (uint32_t width = 1; width <= 40; ++width) {
            ImagePtr image = make_image(width, 3, format);
            image_testing::fill_random(image.get(), random);
            const Bytes before = bytes_of(image.get());
            const size_t c = static_cast<size_t>(dyx_image_color_components_per_pixel(image.get()));
            dyx_image_flip(image.get(), DYX_FLIP_YAXIS);
            for (uint32_t y = 0; y < 3; ++y)
                for (uint32_t x = 0; x < width; ++x)
                    for (size_t k = 0; k < c; ++k)
                        ASSERT_EQ(image->data[(y * width + x) * c + k],
                                  before[(y * width + width - 1 - x) * c + k])
                            << format << " width " << width;
        }
    }
}

TEST(Swizzle, EveryLengthInPlaceAndIntoAnotherImage) {
    std::mt19937 random(6);
    const int32_t map[4] = {3, 0, 2, 1};
    const int32_t mask[4] = {1, 0, 1, 1};
    for (uint32_t width = 1; width <= 40; ++width) {
        ImagePtr src = make_image(width, 1, DYX_IMG_FMT_RGBA);
        ImagePtr dest = make_image(width, 1, DYX_IMG_FMT_RGBA);
        image_testing::fill_random(src.get(), random);
        image_testing::fill_random(dest.get(), random);
        const Bytes s = bytes_of(src.get());
        const Bytes d = bytes_of(dest.get());
        ASSERT_EQ(dyx_image_swizzle(src.get(), dest.get(), map, mask), 0);
        ASSERT_EQ(dyx_image_swizzle(src.get(), src.get(), map, mask), 0);
        for (uint32_t i = 0; i < width; ++i) {
            for (int c = 0; c < 4; ++c) {
                const uint8_t moved = s[i * 4 + map[c]];
                ASSERT_EQ(dest->data[i * 4 + c], mask[c] ? moved : d[i * 4 + c]) << width;
                ASSERT_EQ(src->data[i * 4 + c], mask[c] ? moved : s[i * 4 + c]) << width;
            }
        }
    }
}
