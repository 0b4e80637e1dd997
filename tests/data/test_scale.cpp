// Scaling: the nearest-sample and area-average examples, the depth plane,
// and a byte-for-byte comparison of area averaging with a plain reference
// written directly from the definition.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "dyx_image.h"
#include "image_test_util.h"

using image_testing::apply;
using image_testing::bytes_of;
using image_testing::ImagePtr;
using image_testing::make_image;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes scaled(uint32_t sw, uint32_t sh, int32_t format, const Bytes &pixels, uint32_t dw, uint32_t dh,
             uint32_t flags) {
    ImagePtr image = make_image(sw, sh, format, pixels);
    ImagePtr templ = make_image(dw, dh, DYX_IMG_FMT_L);
    EXPECT_EQ(apply(image, [&](dyx_image_t **v) { return dyx_image_scale(v, templ.get(), flags); }), 0);
    EXPECT_EQ(image->width, dw);
    EXPECT_EQ(image->height, dh);
    return bytes_of(image.get());
}

// Area average exactly as worded: windows, strips and pieces per target
// pixel, single-precision weights and sums, double-precision division.
Bytes reference_area(const Bytes &src, int sw, int sh, int c, int dw, int dh) {
    Bytes out(static_cast<size_t>(dw) * dh * c);
    const float rx = static_cast<float>(sw) / static_cast<float>(dw);
    const float ry = static_cast<float>(sh) / static_cast<float>(dh);
    const float hx = 0.5f * rx, hy = 0.5f * ry;
    for (int j = 0; j < dh; ++j) {
        const float cy = static_cast<float>((j + 0.5) * static_cast<double>(ry));
        float y0, y1;
        if (sh > dh) {
            y0 = cy - hy;
            y1 = cy + hy;
        } else {
            y0 = static_cast<float>(cy - 0.5);
            y1 = static_cast<float>(cy + 0.5);
        }
        for (int i = 0; i < dw; ++i) {
            const float cx = static_cast<float>((i + 0.5) * static_cast<double>(rx));
            float x0, x1;
            if (sw > dw) {
                x0 = cx - hx;
                x1 = cx + hx;
            } else {
                x0 = static_cast<float>(cx - 0.5);
                x1 = static_cast<float>(cx + 0.5);
            }
            float sum[4] = {0, 0, 0, 0};
            float total = 0;
            if (y0 < y1) {
                float ya = y0;
                const long k0 = static_cast<long>(std::floor(y0));
                for (long k = 0;; ++k) {
                    const float yb = std::min(static_cast<float>(k0 + k + 1), y1);
                    const long row = (sh + k0 + k) % sh;
                    if (x0 < x1) {
                        float xa = x0;
                        const long m0 = static_cast<long>(std::floor(x0));
                        for (long m = 0;; ++m) {
                            const float xb = std::min(static_cast<float>(m0 + m + 1), x1);
                            const long col = (sw + m0 + m) % sw;
                            const float w = (xb - xa) * (yb - ya);
                            total += w;
                            for (int q = 0; q < c; ++q) sum[q] += src[(row * sw + col) * c + q] * w;
                            xa = static_cast<float>(m0 + m + 1);
                            if (!(xa < x1)) break;
                        }
                    }
                    ya = static_cast<float>(k0 + k + 1);
                    if (!(ya < y1)) break;
                }
            }
            for (int q = 0; q < c; ++q)
                out[(static_cast<size_t>(j) * dw + i) * c + q] = static_cast<uint8_t>(
                    static_cast<long>((static_cast<double>(sum[q]) + 0.5) / total) & 0xff);
        }
    }
    return out;
}

}  // namespace

TEST(ScaleNearest, PartExamples) {
    EXPECT_EQ(scaled(4, 1, DYX_IMG_FMT_L, {10, 20, 30, 40}, 2, 1, 0), (Bytes{10, 30}));
    EXPECT_EQ(scaled(2, 1, DYX_IMG_FMT_L, {10, 20}, 4, 1, 0), (Bytes{10, 10, 20, 20}));
    EXPECT_EQ(scaled(2, 2, DYX_IMG_FMT_LA, {1, 2, 3, 4, 5, 6, 7, 8}, 1, 3, 0), (Bytes{1, 2, 1, 2, 5, 6}));
}

TEST(ScaleNearest, EveryFormatTakesWholePixels) {
    std::mt19937 random(3);
    for (int32_t format : {DYX_IMG_FMT_A, DYX_IMG_FMT_LA, DYX_IMG_FMT_RGB, DYX_IMG_FMT_RGBA}) {
        ImagePtr image = make_image(7, 5, format);
        image_testing::fill_random(image.get(), random);
        const Bytes src = bytes_of(image.get());
        const int c = dyx_image_color_components_per_pixel(image.get());
        const Bytes out = scaled(7, 5, format, src, 3, 9, 0);
        const float rx = 7.0f / 3.0f, ry = 5.0f / 9.0f;
        for (int j = 0; j < 9; ++j)
            for (int i = 0; i < 3; ++i) {
                const int sx = static_cast<int>(static_cast<float>(i) * rx);
                const int sy = static_cast<int>(static_cast<float>(j) * ry);
                for (int q = 0; q < c; ++q) ASSERT_EQ(out[(j * 3 + i) * c + q], src[(sy * 7 + sx) * c + q]);
            }
    }
}

TEST(ScaleArea, PartExamples) {
    EXPECT_EQ(scaled(2, 1, DYX_IMG_FMT_L, {0, 255}, 1, 1, DYX_SCALE_SMOOTH), (Bytes{127}));
    EXPECT_EQ(scaled(2, 1, DYX_IMG_FMT_L, {0, 200}, 4, 1, DYX_SCALE_SMOOTH), (Bytes{50, 50, 150, 150}));
    EXPECT_EQ(scaled(4, 1, DYX_IMG_FMT_L, {10, 20, 30, 40}, 2, 1, DYX_SCALE_SMOOTH), (Bytes{15, 35}));
    // Other flag bits are ignored: 3 is smooth, 2 is nearest.
    EXPECT_EQ(scaled(4, 1, DYX_IMG_FMT_L, {10, 20, 30, 40}, 2, 1, 3), (Bytes{15, 35}));
    EXPECT_EQ(scaled(4, 1, DYX_IMG_FMT_L, {10, 20, 30, 40}, 2, 1, 2), (Bytes{10, 30}));
}

TEST(ScaleArea, HalfSizeAveragesTwoByTwoBlocks) {
    const Bytes out = scaled(4, 2, DYX_IMG_FMT_RGB, {0, 0, 0, 4, 8, 12, 100, 100, 100, 0,  0,  0,
                                                     2, 2, 2, 6, 6, 6,  10,  10,  10,  20, 20, 20},
                             2, 1, DYX_SCALE_SMOOTH);
    // (0 + 4 + 2 + 6 + 0.5) / 4 = 3.125 -> 3; (8 + 2 + 6 + 0.5) / 4 -> 4 ...
    EXPECT_EQ(out, (Bytes{3, 4, 5, 32, 32, 32}));
}

// Optimised area averaging against the reference on random sizes and
// ratios: enlarging, shrinking, mixed, single rows and single columns.
TEST(ScaleArea, MatchesReferenceOnRandomSizes) {
    std::mt19937 random(2026);
    std::uniform_int_distribution<int> size(1, 40);
    std::vector<std::array<int, 4>> shapes = {{1, 9, 1, 4},  {9, 1, 4, 1},  {1, 1, 7, 5}, {7, 5, 1, 1},
                                              {5, 1, 1, 7},  {1, 13, 3, 1}, {3, 3, 3, 8}, {16, 9, 7, 4},
                                              {7, 4, 16, 9}, {64, 3, 5, 30}};
    for (int n = 0; n < 200; ++n) shapes.push_back({size(random), size(random), size(random), size(random)});
    for (const auto &shape : shapes) {
        for (int32_t format : {DYX_IMG_FMT_L, DYX_IMG_FMT_LA, DYX_IMG_FMT_RGB, DYX_IMG_FMT_RGBA}) {
            const int sw = shape[0], sh = shape[1], dw = shape[2], dh = shape[3];
            if (sw == dw && sh == dh) continue;
            ImagePtr image = make_image(sw, sh, format);
            image_testing::fill_random(image.get(), random);
            const Bytes src = bytes_of(image.get());
            const int c = dyx_image_color_components_per_pixel(image.get());
            ASSERT_EQ(scaled(sw, sh, format, src, dw, dh, DYX_SCALE_SMOOTH),
                      reference_area(src, sw, sh, c, dw, dh))
                << sw << "x" << sh << " -> " << dw << "x" << dh << " format " << format;
        }
    }
}

TEST(ScaleArea, MatchesReferenceOnLargeRatios) {
    std::mt19937 random(11);
    const int shapes[][4] = {
        {1920, 4, 1280, 3}, {3840, 2, 1920, 1}, {5, 3, 1000, 2}, {997, 1, 3, 1}, {2, 331, 1, 7}};
    for (const auto &shape : shapes) {
        ImagePtr image = make_image(shape[0], shape[1], DYX_IMG_FMT_RGB);
        image_testing::fill_random(image.get(), random);
        const Bytes src = bytes_of(image.get());
        EXPECT_EQ(scaled(shape[0], shape[1], DYX_IMG_FMT_RGB, src, shape[2], shape[3], DYX_SCALE_SMOOTH),
                  reference_area(src, shape[0], shape[1], 3, shape[2], shape[3]));
    }
}

// Ratios whose extents are small powers of two (2:1, 3:2, 1:2, 4:1 ...)
// take the integer path; it must agree with the definition as well,
// including pieces that wrap around the edges when enlarging.
TEST(ScaleArea, MatchesReferenceOnDyadicRatios) {
    std::mt19937 random(17);
    const int shapes[][4] = {{8, 6, 4, 3},     {6, 4, 4, 2},     {3, 2, 6, 4},   {4, 4, 16, 16},
                             {12, 9, 8, 6},    {16, 1, 4, 1},    {1, 16, 1, 4},  {2, 2, 8, 4},
                             {96, 54, 64, 36}, {5, 3, 10, 6},    {7, 7, 14, 28}, {40, 8, 20, 16},
                             {30, 20, 20, 40}, {64, 64, 4, 4},   {64, 32, 2, 1}, {96, 96, 3, 3},
                             {48, 48, 16, 16}, {40, 40, 16, 16}, {256, 2, 2, 1}};
    for (const auto &shape : shapes) {
        for (int32_t format : {DYX_IMG_FMT_L, DYX_IMG_FMT_LA, DYX_IMG_FMT_RGB, DYX_IMG_FMT_RGBA}) {
            ImagePtr image = make_image(shape[0], shape[1], format);
            image_testing::fill_random(image.get(), random);
            const Bytes src = bytes_of(image.get());
            const int c = dyx_image_color_components_per_pixel(image.get());
            ASSERT_EQ(scaled(shape[0], shape[1], format, src, shape[2], shape[3], DYX_SCALE_SMOOTH),
                      reference_area(src, shape[0], shape[1], c, shape[2], shape[3]))
                << shape[0] << "x" << shape[1] << " -> " << shape[2] << "x" << shape[3] << " format "
                << format;
        }
    }
    // Saturated pictures: the largest sums, where a rounding slip would show.
    for (const auto &shape : shapes) {
        ImagePtr image = make_image(shape[0], shape[1], DYX_IMG_FMT_L);
        std::memset(image->data, 255, dyx_image_data_size(image.get()));
        const Bytes src = bytes_of(image.get());
        EXPECT_EQ(scaled(shape[0], shape[1], DYX_IMG_FMT_L, src, shape[2], shape[3], DYX_SCALE_SMOOTH),
                  reference_area(src, shape[0], shape[1], 1, shape[2], shape[3]));
    }
}

TEST(Scale, SameSizeKeepsTheRecord) {
    int frees = 0;
    static int *counter = nullptr;
    counter = &frees;
    dyx_image_set_freeCB([](dyx_image_t *) { ++*counter; }, nullptr, nullptr, nullptr);
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
    ImagePtr image = make_image(4, 1, DYX_IMG_FMT_L, 1);
    const float depths[4] = {1.0f, 2.0f, 3.0f, 5.0f};
    std::copy(depths, depths + 4, image->depth_data);
    ImagePtr half = make_image(2, 1, DYX_IMG_FMT_L);

    ImagePtr nearest = make_image(4, 1, DYX_IMG_FMT_L, 1);
    std::copy(depths, depths + 4, nearest->depth_data);
    ASSERT_EQ(apply(nearest, [&](dyx_image_t **v) { return dyx_image_scale(v, half.get(), 0); }), 0);
    ASSERT_NE(nearest->depth_data, nullptr);
    EXPECT_EQ(nearest->depth_data[0], 1.0f);
    EXPECT_EQ(nearest->depth_data[1], 3.0f);

    ASSERT_EQ(apply(image, [&](dyx_image_t **v) { return dyx_image_scale(v, half.get(), 1); }), 0);
    ASSERT_NE(image->depth_data, nullptr);
    EXPECT_FLOAT_EQ(image->depth_data[0], 1.5f);
    EXPECT_FLOAT_EQ(image->depth_data[1], 4.0f);
}

TEST(Scale, EmptySourceGivesBlack) {
    ImagePtr image = make_image(0, 3, DYX_IMG_FMT_RGB);
    ImagePtr templ = make_image(2, 2, DYX_IMG_FMT_L);
    for (uint32_t flags : {0u, 1u}) {
        ImagePtr empty = make_image(0, 3, DYX_IMG_FMT_RGB);
        ASSERT_EQ(apply(empty, [&](dyx_image_t **v) { return dyx_image_scale(v, templ.get(), flags); }), 0);
        EXPECT_EQ(bytes_of(empty.get()), Bytes(12, 0));
    }
    ImagePtr none = make_image(0, 0, DYX_IMG_FMT_L);
    ASSERT_EQ(apply(image, [&](dyx_image_t **v) { return dyx_image_scale(v, none.get(), 1); }), 0);
    EXPECT_EQ(image->data, nullptr);
}
