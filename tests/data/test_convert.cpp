// Pixel format conversion: every pair of the table, the depth plane rules,
// the grey value's exact double-precision truncation, and togrey.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "dyx_image.h"
#include "image_test_util.h"

using image_testing::apply;
using image_testing::bytes_of;
using image_testing::ImagePtr;
using image_testing::make_image;

namespace {

std::vector<uint8_t> convert_bytes(int32_t from, const std::vector<uint8_t> &pixel, int32_t to) {
    ImagePtr image = make_image(1, 1, from, pixel);
    ImagePtr templ = make_image(1, 1, to);
    EXPECT_EQ(apply(image, [&](dyx_image_t **var) { return dyx_image_convert(var, templ.get()); }), 0);
    EXPECT_EQ(image->format, to);
    return bytes_of(image.get());
}

using Bytes = std::vector<uint8_t>;

}  // namespace

TEST(Convert, EveryFormatPair) {
    const int32_t A = DYX_IMG_FMT_A, L = DYX_IMG_FMT_L, LA = DYX_IMG_FMT_LA, RGB = DYX_IMG_FMT_RGB,
                  RGBA = DYX_IMG_FMT_RGBA;
    // Grey of (100, 150, 200) is trunc(140.5) = 140.
    struct Case {
        int32_t from;
        Bytes pixel;
        int32_t to;
        Bytes expected;
    };
    const Case cases[] = {
        {A, {7}, A, {7}},
        {A, {7}, L, {7}},
        {A, {7}, LA, {7, 7}},
        {A, {7}, RGB, {7, 7, 7}},
        {A, {7}, RGBA, {7, 7, 7, 7}},
        {L, {7}, A, {7}},
        {L, {7}, L, {7}},
        {L, {7}, LA, {7, 255}},
        {L, {7}, RGB, {7, 7, 7}},
        {L, {7}, RGBA, {7, 7, 7, 255}},
        {LA, {7, 9}, A, {9}},
        {LA, {7, 9}, L, {7}},
        {LA, {7, 9}, LA, {7, 9}},
        {LA, {7, 9}, RGB, {7, 7, 7}},
        {LA, {7, 9}, RGBA, {7, 7, 7, 9}},
        {RGB, {100, 150, 200}, A, {140}},
        {RGB, {100, 150, 200}, L, {140}},
        {RGB, {100, 150, 200}, LA, {140, 255}},
        {RGB, {100, 150, 200}, RGB, {100, 150, 200}},
        {RGB, {100, 150, 200}, RGBA, {100, 150, 200, 255}},
        {RGBA, {100, 150, 200, 3}, A, {3}},
        {RGBA, {100, 150, 200, 3}, L, {140}},
        {RGBA, {100, 150, 200, 3}, LA, {140, 3}},
        {RGBA, {100, 150, 200, 3}, RGB, {100, 150, 200}},
        {RGBA, {100, 150, 200, 3}, RGBA, {100, 150, 200, 3}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(convert_bytes(c.from, c.pixel, c.to), c.expected) << c.from << " -> " << c.to;
}

TEST(Convert, GreyExtremes) {
    EXPECT_EQ(convert_bytes(DYX_IMG_FMT_RGB, {255, 255, 255}, DYX_IMG_FMT_L), Bytes{255});
    EXPECT_EQ(convert_bytes(DYX_IMG_FMT_RGB, {0, 0, 1}, DYX_IMG_FMT_L), Bytes{0});
}

// The fast grey path must agree with the double-precision definition for
// every one of the 2^24 colours, including those where the double sum
// falls just below an integer.
TEST(Convert, GreyMatchesTheDoubleDefinitionForEveryColour) {
    ImagePtr image = make_image(4096, 4096, DYX_IMG_FMT_RGB);
    ASSERT_TRUE(image);
    uint8_t *p = image->data;
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b) {
                *p++ = static_cast<uint8_t>(r);
                *p++ = static_cast<uint8_t>(g);
                *p++ = static_cast<uint8_t>(b);
            }
    ImagePtr grey = make_image(4096, 4096, DYX_IMG_FMT_L);
    ASSERT_EQ(dyx_image_togrey(image.get(), grey.get()), 0);
    ImagePtr templ = make_image(1, 1, DYX_IMG_FMT_L);
    ASSERT_EQ(apply(image, [&](dyx_image_t **var) { return dyx_image_convert(var, templ.get()); }), 0);

    int mismatches = 0;
    size_t n = 0;
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b, ++n) {
                const int expected = static_cast<int>(0.3 * r + 0.59 * g + 0.11 * b);
                mismatches += image->data[n] != expected;
                mismatches += grey->data[n] != expected;
            }
    EXPECT_EQ(mismatches, 0);
}

TEST(Convert, DepthPlaneRules) {
    ImagePtr image = make_image(2, 1, DYX_IMG_FMT_RGB, Bytes{1, 2, 3, 4, 5, 6});
    ImagePtr same_format_depth = make_image(1, 1, DYX_IMG_FMT_RGB, 1);
    ASSERT_EQ(apply(image, [&](dyx_image_t **v) { return dyx_image_convert(v, same_format_depth.get()); }),
              0);
    ASSERT_NE(image->depth_data, nullptr);
    EXPECT_EQ(image->depth_data[0], 0.0f);
    EXPECT_EQ(image->depth_data[1], 0.0f);
    EXPECT_EQ(bytes_of(image.get()), (Bytes{1, 2, 3, 4, 5, 6}));

    // Depth kept when both carry it.
    image->depth_data[0] = 2.5f;
    image->depth_data[1] = -1.0f;
    ImagePtr rgba_depth = make_image(1, 1, DYX_IMG_FMT_RGBA, 1);
    ASSERT_EQ(apply(image, [&](dyx_image_t **v) { return dyx_image_convert(v, rgba_depth.get()); }), 0);
    EXPECT_EQ(image->depth_data[0], 2.5f);
    EXPECT_EQ(image->depth_data[1], -1.0f);
    EXPECT_EQ(bytes_of(image.get()), (Bytes{1, 2, 3, 255, 4, 5, 6, 255}));

    // Dropped by a template without depth.
    ImagePtr rgba = make_image(1, 1, DYX_IMG_FMT_RGBA);
    ASSERT_EQ(apply(image, [&](dyx_image_t **v) { return dyx_image_convert(v, rgba.get()); }), 0);
    EXPECT_EQ(image->depth, 0);
    EXPECT_EQ(image->depth_data, nullptr);
}

TEST(Convert, SameFormatAndDepthKeepsTheRecord) {
    ImagePtr image = make_image(2, 2, DYX_IMG_FMT_L);
    const dyx_image_t *before = image.get();
    ImagePtr templ = make_image(1, 1, DYX_IMG_FMT_L);
    EXPECT_EQ(apply(image, [&](dyx_image_t **v) { return dyx_image_convert(v, templ.get()); }), 0);
    EXPECT_EQ(image.get(), before);
}

TEST(Convert, RandomImagesMatchPerPixelConversion) {
    std::mt19937 random(5);
    ImagePtr image = make_image(37, 11, DYX_IMG_FMT_RGBA);
    image_testing::fill_random(image.get(), random);
    const Bytes original = bytes_of(image.get());
    ImagePtr templ = make_image(1, 1, DYX_IMG_FMT_LA);
    ASSERT_EQ(apply(image, [&](dyx_image_t **v) { return dyx_image_convert(v, templ.get()); }), 0);
    for (size_t n = 0; n < 37 * 11; ++n) {
        const uint8_t *s = &original[n * 4];
        ASSERT_EQ(image->data[n * 2], static_cast<int>(0.3 * s[0] + 0.59 * s[1] + 0.11 * s[2])) << n;
        ASSERT_EQ(image->data[n * 2 + 1], s[3]) << n;
    }
}

TEST(ToGrey, WritesPerDestinationFormat) {
    ImagePtr rgba = make_image(1, 1, DYX_IMG_FMT_RGBA, Bytes{100, 150, 200, 9});
    ImagePtr rgb = make_image(1, 1, DYX_IMG_FMT_RGB, Bytes{100, 150, 200});
    ImagePtr dest_la = make_image(1, 1, DYX_IMG_FMT_LA);
    ImagePtr dest_rgba = make_image(1, 1, DYX_IMG_FMT_RGBA);
    ImagePtr dest_rgb = make_image(1, 1, DYX_IMG_FMT_RGB);

    EXPECT_EQ(dyx_image_togrey(rgba.get(), dest_la.get()), 0);
    EXPECT_EQ(bytes_of(dest_la.get()), (Bytes{140, 9}));
    EXPECT_EQ(dyx_image_togrey(rgb.get(), dest_rgba.get()), 0);
    EXPECT_EQ(bytes_of(dest_rgba.get()), (Bytes{140, 140, 140, 255}));
    EXPECT_EQ(dyx_image_togrey(rgba.get(), dest_rgb.get()), 0);
    EXPECT_EQ(bytes_of(dest_rgb.get()), (Bytes{140, 140, 140}));
}

TEST(ToGrey, RefusesMismatches) {
    ImagePtr rgb = make_image(2, 1, DYX_IMG_FMT_RGB);
    ImagePtr small = make_image(1, 1, DYX_IMG_FMT_L);
    EXPECT_EQ(dyx_image_togrey(rgb.get(), small.get()), 1);
    ImagePtr alpha = make_image(2, 1, DYX_IMG_FMT_A, Bytes{5, 6});
    EXPECT_EQ(dyx_image_togrey(rgb.get(), alpha.get()), 6);
    EXPECT_EQ(bytes_of(alpha.get()), (Bytes{5, 6}));
    // Regression: a one-component source used to be read as three bytes per
    // pixel, past its end.
    ImagePtr l_source = make_image(2, 1, DYX_IMG_FMT_L, Bytes{1, 2});
    ImagePtr l_dest = make_image(2, 1, DYX_IMG_FMT_L, Bytes{7, 7});
    EXPECT_EQ(dyx_image_togrey(l_source.get(), l_dest.get()), 6);
    EXPECT_EQ(bytes_of(l_dest.get()), (Bytes{7, 7}));
}

// The word and shuffle loops handle whole groups of pixels and leave the
// last few to a plain loop: every length must come out right.
TEST(Convert, EveryLengthMatchesThePixelTable) {
    std::mt19937 random(8);
    const int32_t pairs[][2] = {{DYX_IMG_FMT_RGB, DYX_IMG_FMT_RGBA},
                                {DYX_IMG_FMT_RGBA, DYX_IMG_FMT_RGB},
                                {DYX_IMG_FMT_RGB, DYX_IMG_FMT_L},
                                {DYX_IMG_FMT_RGBA, DYX_IMG_FMT_L},
                                {DYX_IMG_FMT_RGB, DYX_IMG_FMT_A}};
    for (const auto &pair : pairs) {
        for (uint32_t width = 1; width <= 70; ++width) {
            ImagePtr image = make_image(width, 1, pair[0]);
            image_testing::fill_random(image.get(), random);
            const Bytes src = bytes_of(image.get());
            ImagePtr templ = make_image(1, 1, pair[1]);
            ASSERT_EQ(apply(image, [&](dyx_image_t **v) { return dyx_image_convert(v, templ.get()); }), 0);
            const int sc = pair[0] == DYX_IMG_FMT_RGB ? 3 : 4;
            for (uint32_t i = 0; i < width; ++i) {
                const uint8_t *s = &src[i * sc];
                const int grey = static_cast<int>(0.3 * s[0] + 0.59 * s[1] + 0.11 * s[2]);
                Bytes expected;
                if (pair[1] == DYX_IMG_FMT_RGBA) expected = {s[0], s[1], s[2], 255};
                if (pair[1] == DYX_IMG_FMT_RGB) expected = {s[0], s[1], s[2]};
                if (pair[1] == DYX_IMG_FMT_L || pair[1] == DYX_IMG_FMT_A)
                    expected = {static_cast<uint8_t>(grey)};
                const Bytes got(image->data + i * expected.size(), image->data + (i + 1) * expected.size());
                ASSERT_EQ(got, expected)
                    << pair[0] << " -> " << pair[1] << " width " << width << " pixel " << i;
            }
        }
    }
}
