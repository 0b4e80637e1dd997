// Scaling: the nearest-sample and area-average examples, the depth plane,
// and the kept record (the exact reference tests compare every shape).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "dyx_image.h"
#include "image_test_util.h"

using namespace image_testing;

namespace {

Bytes scaled(uint32_t sw, uint32_t sh, int32_t format, const Bytes &pixels, uint32_t dw, uint32_t dh,
             uint32_t flags) {
    ImagePtr image = make_image(sw, sh, format, pixels);
    ImagePtr templ = make_image(dw, dh, DYX_IMG_FMT_L);
    EXPECT_EQ(apply(image, [&](dyx_image_t **v) { return dyx_image_scale(v, templ.get(), flags); }), 0);
    EXPECT_EQ(image->width, dw);
    EXPECT_EQ(image->height, dh);
    return bytes_of(image.get());
}

}  // namespace

TEST(Scale, DocumentedExamples) {
    const int32_t L = DYX_IMG_FMT_L;
    const Bytes blocks = {0, 0, 0, 4, 8, 12, 100, 100, 100, 0,  0,  0,
                          2, 2, 2, 6, 6, 6,  10,  10,  10,  20, 20, 20};
    const struct {
        uint32_t sw, sh;
        int32_t format;
        Bytes pixels;
        uint32_t dw, dh, flags;  // other flag bits than smooth are ignored
        Bytes expected;
    } cases[] = {
        {4, 1, L, {10, 20, 30, 40}, 2, 1, 0, {10, 30}},
        {2, 1, L, {10, 20}, 4, 1, 0, {10, 10, 20, 20}},
        {2, 2, DYX_IMG_FMT_LA, {1, 2, 3, 4, 5, 6, 7, 8}, 1, 3, 0, {1, 2, 1, 2, 5, 6}},
        {4, 1, L, {10, 20, 30, 40}, 2, 1, 2, {10, 30}},
        {2, 1, L, {0, 255}, 1, 1, DYX_SCALE_SMOOTH, {127}},
        {2, 1, L, {0, 200}, 4, 1, DYX_SCALE_SMOOTH, {50, 50, 150, 150}},
        {4, 1, L, {10, 20, 30, 40}, 2, 1, DYX_SCALE_SMOOTH, {15, 35}},
        {4, 1, L, {10, 20, 30, 40}, 2, 1, 3, {15, 35}},
        // Half size averages 2 x 2 blocks: (0 + 4 + 2 + 6 + 0.5) / 4 -> 3 ...
        {4, 2, DYX_IMG_FMT_RGB, blocks, 2, 1, DYX_SCALE_SMOOTH, {3, 4, 5, 32, 32, 32}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(scaled(c.sw, c.sh, c.format, c.pixels, c.dw, c.dh, c.flags), c.expected)
            << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh << " flags " << c.flags;
}

TEST(Scale, SameSizeKeepsTheRecord) {
    static int frees = 0;
    dyx_image_set_freeCB([](dyx_image_t *) { ++frees; }, nullptr, nullptr, nullptr);
    ImagePtr image = make_image(3, 2, DYX_IMG_FMT_RGB);
    dyx_image_set_freeCB(nullptr, nullptr, nullptr, nullptr);
    const dyx_image_t *before = image.get();
    ImagePtr templ = make_image(3, 2, DYX_IMG_FMT_L);
    EXPECT_EQ(apply(image, [&](dyx_image_t **v) { return dyx_image_scale(v, templ.get(), 1); }), 0);
    EXPECT_EQ(image.get(), before);
    EXPECT_EQ(frees, 0);
    image.reset();
    EXPECT_EQ(frees, 1);
}

TEST(Scale, DepthPlaneFollowsThePixels) {
    ImagePtr half = make_image(2, 1, DYX_IMG_FMT_L);
    const struct {
        uint32_t flags;
        float expected[2];
    } cases[] = {{0, {1.0f, 3.0f}}, {DYX_SCALE_SMOOTH, {1.5f, 4.0f}}};
    for (const auto &c : cases) {
        ImagePtr image = make_image(4, 1, DYX_IMG_FMT_L, 1);
        const float depths[4] = {1.0f, 2.0f, 3.0f, 5.0f};
        std::copy(depths, depths + 4, image->depth_data);
        ASSERT_EQ(apply(image, [&](dyx_image_t **v) { return dyx_image_scale(v, half.get(), c.flags); }), 0);
        ASSERT_NE(image->depth_data, nullptr);
        EXPECT_FLOAT_EQ(image->depth_data[0], c.expected[0]) << c.flags;
        EXPECT_FLOAT_EQ(image->depth_data[1], c.expected[1]) << c.flags;
    }
}

TEST(Scale, EmptySourceGivesBlack) {
    ImagePtr templ = make_image(2, 2, DYX_IMG_FMT_L);
    for (uint32_t flags : {0u, 1u}) {
        ImagePtr empty = make_image(0, 3, DYX_IMG_FMT_RGB);
        ASSERT_EQ(apply(empty, [&](dyx_image_t **v) { return dyx_image_scale(v, templ.get(), flags); }), 0);
        EXPECT_EQ(bytes_of(empty.get()), Bytes(12, 0));
    }
    ImagePtr image = make_image(0, 3, DYX_IMG_FMT_RGB), none = make_image(0, 0, DYX_IMG_FMT_L);
    ASSERT_EQ(apply(image, [&](dyx_image_t **v) { return dyx_image_scale(v, none.get(), 1); }), 0);
    EXPECT_EQ(image->data, nullptr);
}
