// Pixel format conversion: every pair of the table, the depth plane rules,
// and togrey (the exact reference tests compare every size and colour).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "dyx_image.h"
#include "image_test_util.h"

using namespace image_testing;

namespace {

const int32_t A = DYX_IMG_FMT_A, L = DYX_IMG_FMT_L, LA = DYX_IMG_FMT_LA, RGB = DYX_IMG_FMT_RGB,
              RGBA = DYX_IMG_FMT_RGBA;

// Converts `image` in place to the format (and depth) of a template.
int convert(ImagePtr &image, int32_t format, int32_t depth = 0) {
    ImagePtr templ = make_image(1, 1, format, depth);
    return apply(image, [&](dyx_image_t **var) { return dyx_image_convert(var, templ.get()); });
}

}  // namespace

TEST(Convert, EveryFormatPair) {
    // Grey of (100, 150, 200) is trunc(140.5) = 140.
    const struct {
        int32_t from;
        Bytes pixel;
        Bytes as[5];  // as A, L, LA, RGB, RGBA
    } cases[] = {
        {A, {7}, {{7}, {7}, {7, 7}, {7, 7, 7}, {7, 7, 7, 7}}},
        {L, {7}, {{7}, {7}, {7, 255}, {7, 7, 7}, {7, 7, 7, 255}}},
        {LA, {7, 9}, {{9}, {7}, {7, 9}, {7, 7, 7}, {7, 7, 7, 9}}},
        {RGB, {100, 150, 200}, {{140}, {140}, {140, 255}, {100, 150, 200}, {100, 150, 200, 255}}},
        {RGBA, {100, 150, 200, 3}, {{3}, {140}, {140, 3}, {100, 150, 200}, {100, 150, 200, 3}}},
    };
    const int32_t targets[5] = {A, L, LA, RGB, RGBA};
    for (const auto &c : cases)
        for (int t = 0; t < 5; ++t) {
            ImagePtr image = make_image(1, 1, c.from, c.pixel);
            EXPECT_EQ(convert(image, targets[t]), 0);
            EXPECT_EQ(image->format, targets[t]);
            EXPECT_EQ(bytes_of(image.get()), c.as[t]) << c.from << " -> " << targets[t];
        }
}

TEST(Convert, DepthPlaneRulesAndTheKeptRecord) {
    // Added as zeros by a template with depth, kept when both carry it,
    // dropped by a template without.
    ImagePtr image = make_image(2, 1, RGB, Bytes{1, 2, 3, 4, 5, 6});
    ASSERT_EQ(convert(image, RGB, 1), 0);
    ASSERT_NE(image->depth_data, nullptr);
    EXPECT_EQ(std::vector<float>(image->depth_data, image->depth_data + 2), std::vector<float>(2, 0.0f));
    EXPECT_EQ(bytes_of(image.get()), (Bytes{1, 2, 3, 4, 5, 6}));
    image->depth_data[0] = 2.5f, image->depth_data[1] = -1.0f;
    ASSERT_EQ(convert(image, RGBA, 1), 0);
    EXPECT_EQ(std::vector<float>(image->depth_data, image->depth_data + 2),
              (std::vector<float>{2.5f, -1.0f}));
    EXPECT_EQ(bytes_of(image.get()), (Bytes{1, 2, 3, 255, 4, 5, 6, 255}));
    ASSERT_EQ(convert(image, RGBA), 0);
    EXPECT_EQ(image->depth, 0);
    EXPECT_EQ(image->depth_data, nullptr);

    // The same format and depth keep the record itself.
    const dyx_image_t *before = image.get();
    EXPECT_EQ(convert(image, RGBA), 0);
    EXPECT_EQ(image.get(), before);
}

TEST(ToGrey, WritesPerDestinationFormatAndRefusesMismatches) {
    ImagePtr rgba = make_image(1, 1, RGBA, Bytes{100, 150, 200, 9});
    const struct {
        int32_t format;
        Bytes expected;
    } cases[] = {{LA, {140, 9}}, {RGBA, {140, 140, 140, 9}}, {RGB, {140, 140, 140}}, {L, {140}}};
    for (const auto &c : cases) {
        ImagePtr dest = make_image(1, 1, c.format);
        EXPECT_EQ(dyx_image_togrey(rgba.get(), dest.get()), 0);
        EXPECT_EQ(bytes_of(dest.get()), c.expected) << c.format;
    }
    ImagePtr rgb = make_image(1, 1, RGB, Bytes{100, 150, 200}), opaque = make_image(1, 1, RGBA);
    EXPECT_EQ(dyx_image_togrey(rgb.get(), opaque.get()), 0);
    EXPECT_EQ(bytes_of(opaque.get()), (Bytes{140, 140, 140, 255}));

    ImagePtr wide = make_image(2, 1, RGB), small = make_image(1, 1, L);
    EXPECT_EQ(dyx_image_togrey(wide.get(), small.get()), 1);
    ImagePtr alpha = make_image(2, 1, A, Bytes{5, 6});
    EXPECT_EQ(dyx_image_togrey(wide.get(), alpha.get()), 6);
    EXPECT_EQ(bytes_of(alpha.get()), (Bytes{5, 6}));
    // Regression: a one-component source used to be read as three bytes per
    // pixel, past its end.
    ImagePtr l_source = make_image(2, 1, L, Bytes{1, 2}), l_dest = make_image(2, 1, L, Bytes{7, 7});
    EXPECT_EQ(dyx_image_togrey(l_source.get(), l_dest.get()), 6);
    EXPECT_EQ(bytes_of(l_dest.get()), (Bytes{7, 7}));
}
