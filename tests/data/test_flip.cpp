// Flip, swizzle and sub-rectangles.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "dyx_image.h"
#include "image_test_util.h"

using namespace image_testing;

// Mirroring works on whole groups of pixels first and swaps rows through a
// bounded buffer; every size and format must still come out as the plain
// definition says (other flag bits are ignored).
TEST(Flip, EverySizeMirrorsExactly) {
    std::mt19937 random(4);
    std::vector<std::pair<uint32_t, uint32_t>> sizes = {{3000, 2}, {1, 3}, {3, 1}};
    for (uint32_t width = 1; width <= 40; ++width) sizes.push_back({width, width % 3 + 2});
    for (int32_t format : {DYX_IMG_FMT_A, DYX_IMG_FMT_L, DYX_IMG_FMT_LA, DYX_IMG_FMT_RGB, DYX_IMG_FMT_RGBA})
        for (const auto &[width, height] : sizes)
            for (int32_t flags : {DYX_FLIP_XAXIS, DYX_FLIP_YAXIS | 8, DYX_FLIP_XAXIS | DYX_FLIP_YAXIS}) {
                ImagePtr image = make_image(width, height, format);
                fill_random(image.get(), random);
                const Bytes before = bytes_of(image.get());
                ASSERT_EQ(dyx_image_flip(image.get(), flags), 0);
                const size_t c = static_cast<size_t>(dyx_image_color_components_per_pixel(image.get()));
                Bytes expected;
                for (uint32_t y = 0; y < height; ++y)
                    for (uint32_t x = 0; x < width; ++x) {
                        const uint32_t from_y = flags & DYX_FLIP_XAXIS ? height - 1 - y : y;
                        const uint32_t from_x = flags & DYX_FLIP_YAXIS ? width - 1 - x : x;
                        const auto at = before.begin() + (from_y * width + from_x) * c;
                        expected.insert(expected.end(), at, at + c);
                    }
                ASSERT_EQ(bytes_of(image.get()), expected)
                    << format << " " << width << "x" << height << " " << flags;
            }
}

TEST(Swizzle, ExamplesRefusalsAndNoOps) {
    const int32_t all[4] = {1, 1, 1, 1}, reverse[4] = {2, 1, 0, 3};
    const struct {
        int32_t format;
        Bytes pixel;
        int32_t map[4], mask[4];
        Bytes expected;
    } cases[] = {
        {DYX_IMG_FMT_RGBA, {1, 2, 3, 4}, {2, 1, 0, 3}, {1, 1, 1, 1}, {3, 2, 1, 4}},
        {DYX_IMG_FMT_RGBA, {1, 2, 3, 4}, {2, 1, 0, 3}, {1, 0, 0, 0}, {3, 2, 3, 4}},
        {DYX_IMG_FMT_RGB, {1, 2, 3}, {3, 3, 3, 0}, {1, 1, 1, 1}, {255, 255, 255}},  // 3 is opaque alpha
        {DYX_IMG_FMT_LA, {7, 9}, {3, 0, 0, 0}, {1, 0, 0, 1}, {9, 7}},
        {DYX_IMG_FMT_L, {5}, {0, 1, 2, 4}, {1, 1, 1, 1}, {5}},  // one component: nothing to do
    };
    for (const auto &c : cases) {
        ImagePtr image = make_image(1, 1, c.format, c.pixel);
        EXPECT_EQ(dyx_image_swizzle(image.get(), image.get(), c.map, c.mask), 0);
        EXPECT_EQ(bytes_of(image.get()), c.expected) << c.format;
    }
    const int32_t bad[4] = {0, 1, 2, 4}, identity[4] = {0, 1, 2, 3};
    ImagePtr rgb = make_image(1, 1, DYX_IMG_FMT_RGB, Bytes{1, 2, 3});
    EXPECT_EQ(dyx_image_swizzle(rgb.get(), rgb.get(), bad, all), 1);
    EXPECT_EQ(bytes_of(rgb.get()), (Bytes{1, 2, 3}));
    ImagePtr other = make_image(1, 1, DYX_IMG_FMT_RGBA, Bytes{0, 0, 0, 0});
    EXPECT_EQ(dyx_image_swizzle(rgb.get(), other.get(), reverse, all), 1);
    // The identity copies nothing, even into another image.
    ImagePtr copy = make_image(1, 1, DYX_IMG_FMT_RGB, Bytes{0, 0, 0});
    EXPECT_EQ(dyx_image_swizzle(rgb.get(), copy.get(), identity, all), 0);
    EXPECT_EQ(bytes_of(copy.get()), (Bytes{0, 0, 0}));
}

// Swizzling works on whole groups of pixels first: every length must come
// out as the plain definition says, in place and into another image.
TEST(Swizzle, EveryLengthInPlaceAndIntoAnotherImage) {
    std::mt19937 random(6);
    const int32_t map[4] = {3, 0, 2, 1};
    const int32_t mask[4] = {1, 0, 1, 1};
    for (uint32_t width = 1; width <= 40; ++width) {
        ImagePtr src = make_image(width, 1, DYX_IMG_FMT_RGBA), dest = make_image(width, 1, DYX_IMG_FMT_RGBA);
        fill_random(src.get(), random);
        fill_random(dest.get(), random);
        const Bytes s = bytes_of(src.get()), d = bytes_of(dest.get());
        ASSERT_EQ(dyx_image_swizzle(src.get(), dest.get(), map, mask), 0);
        ASSERT_EQ(dyx_image_swizzle(src.get(), src.get(), map, mask), 0);
        for (uint32_t i = 0; i < width; ++i)
            for (int c = 0; c < 4; ++c) {
                const uint8_t moved = s[i * 4 + map[c]];
                ASSERT_EQ(dest->data[i * 4 + c], mask[c] ? moved : d[i * 4 + c]) << width;
                ASSERT_EQ(src->data[i * 4 + c], mask[c] ? moved : s[i * 4 + c]) << width;
            }
    }
}

TEST(Subrect, CopiesTheRectangleWithItsDepth) {
    ImagePtr src = make_image(3, 2, DYX_IMG_FMT_RGB, 1);
    for (int n = 0; n < 6; ++n) src->depth_data[n] = static_cast<float>(n);
    for (int n = 0; n < 18; ++n) src->data[n] = static_cast<uint8_t>(n);
    ImagePtr dest = make_image(2, 1, DYX_IMG_FMT_RGB, 1);
    EXPECT_EQ(dyx_image_subrect(src.get(), dest.get(), 1, 1), 0);
    EXPECT_EQ(std::vector<float>(dest->depth_data, dest->depth_data + 2), (std::vector<float>{4.0f, 5.0f}));
    EXPECT_EQ(bytes_of(dest.get()), (Bytes{12, 13, 14, 15, 16, 17}));
    // Rectangles reaching outside, another format, no depth to copy into.
    ImagePtr square = make_image(2, 2, DYX_IMG_FMT_RGB, 1);
    for (const auto &[x, y] : {std::pair<int32_t, int32_t>{2, 0}, {0, 1}, {-1, 0}, {0x7fffffff, 0}})
        EXPECT_EQ(dyx_image_subrect(src.get(), square.get(), x, y), 1) << x << "," << y;
    ImagePtr wrong_format = make_image(2, 1, DYX_IMG_FMT_RGBA, 1),
             no_depth = make_image(2, 1, DYX_IMG_FMT_RGB);
    EXPECT_EQ(dyx_image_subrect(src.get(), wrong_format.get(), 0, 0), 1);
    EXPECT_EQ(dyx_image_subrect(src.get(), no_depth.get(), 0, 0), 1);
}
