// The colour matrix: documented examples, clamping, the depth transform,
// and a reference written from the per-format sums on random images.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "dyx_image.h"
#include "dyx_image_composite.h"
#include "image_test_util.h"

using namespace image_testing;

namespace {

const float kIdentity[20] = {1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0};
const float kUnchangedDepth[2] = {1.0f, 0.0f};

uint8_t clamp_sum(float sum) {
    const double value = sum;
    if (std::isnan(value) || value < 0.0) return 0;
    if (value > 255.0) return 255;
    return static_cast<uint8_t>(std::trunc(value));
}

// The sums exactly as listed per format, in single precision, left to right.
Bytes reference_axb(const dyx_image_t *image, const float *m) {
    Bytes out = bytes_of(image);
    const int components = dyx_image_color_components_per_pixel(image);
    for (size_t p = 0; p < out.size(); p += components) {
        uint8_t *px = &out[p];
        const float zero = 0.0f, full = 255.0f;
        switch (image->format) {
            case DYX_IMG_FMT_A: {
                const float a = px[0];
                px[0] = clamp_sum(m[15] * zero + m[16] * zero + m[17] * zero + m[18] * a + m[19]);
                break;
            }
            case DYX_IMG_FMT_L: {
                const float l = px[0];
                px[0] = clamp_sum(m[0] * l + m[1] * l + m[2] * l + m[3] * full + m[4]);
                break;
            }
            case DYX_IMG_FMT_LA: {
                const float l = px[0], a = px[1];
                px[0] = clamp_sum(m[0] * l + m[1] * l + m[2] * l + m[3] * a + m[4]);
                px[1] = clamp_sum(m[15] * l + m[16] * l + m[17] * l + m[18] * a + m[19]);
                break;
            }
            default: {
                const float r = px[0], g = px[1], b = px[2], a = components == 4 ? px[3] : full;
                for (int row = 0; row < components; ++row) {
                    const float *w = m + 5 * row;
                    px[row] = clamp_sum(w[0] * r + w[1] * g + w[2] * b + w[3] * a + w[4]);
                }
            }
        }
    }
    return out;
}

}  // namespace

TEST(ColorMatrix, DocumentedExamplesClampingAndTheDepthPlane) {
    // The identity leaves every format unchanged (L takes row 0 on
    // (l, l, l, 255, 1), which keeps l).
    std::mt19937 random(10);
    for (int32_t format : {DYX_IMG_FMT_A, DYX_IMG_FMT_L, DYX_IMG_FMT_LA, DYX_IMG_FMT_RGB, DYX_IMG_FMT_RGBA}) {
        ImagePtr image = make_image(13, 7, format);
        fill_random(image.get(), random);
        const Bytes before = bytes_of(image.get());
        EXPECT_EQ(dyx_image_axb(image.get(), kIdentity, kUnchangedDepth), 0);
        EXPECT_EQ(bytes_of(image.get()), before) << format;
    }
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const int32_t RGB = DYX_IMG_FMT_RGB;
    const struct {
        int32_t format;
        Bytes pixel;
        std::vector<std::pair<int, float>> changes;  // to the identity
        Bytes expected;
    } cases[] = {
        // Red 0.5 * 100 + 10 = 60; green 3 * 100 = 300 -> 255; blue -50 -> 0.
        {RGB, {100, 70, 50}, {{0, 0.5f}, {4, 10.0f}, {5, 3.0f}, {6, 0.0f}, {12, -1.0f}}, {60, 255, 0}},
        // RGB weighs alpha as 255: column 3 of row 0 adds 0.1 * 255.
        {RGB, {1, 2, 3}, {{0, 0.0f}, {3, 0.1f}}, {25, 2, 3}},
        // A NaN sum has no value to clamp: it gives 0.
        {DYX_IMG_FMT_RGBA, {9, 9, 9, 9}, {{4, nan}, {19, inf}}, {0, 9, 9, 255}},
    };
    for (const auto &c : cases) {
        float matrix[20];
        std::copy(kIdentity, kIdentity + 20, matrix);
        for (const auto &[at, value] : c.changes) matrix[at] = value;
        ImagePtr image = make_image(5, 1, c.format);
        for (size_t p = 0; p < dyx_image_data_size(image.get()); ++p)
            image->data[p] = c.pixel[p % c.pixel.size()];
        EXPECT_EQ(dyx_image_axb(image.get(), matrix, kUnchangedDepth), 0);
        for (size_t p = 0; p < dyx_image_data_size(image.get()); ++p)
            ASSERT_EQ(image->data[p], c.expected[p % c.expected.size()]) << "byte " << p;
    }

    // The depth plane is scaled and offset in single precision.
    ImagePtr image = make_image(3, 1, DYX_IMG_FMT_L, 1);
    std::fill(image->data, image->data + 3, 4);
    image->depth_data[0] = 1.0f, image->depth_data[1] = -2.0f, image->depth_data[2] = 0.1f;
    const float transform[2] = {3.0f, 0.5f};
    EXPECT_EQ(dyx_image_axb(image.get(), kIdentity, transform), 0);
    const float third = 3.0f * 0.1f;  // single-precision product, then sum
    EXPECT_EQ(std::vector<float>(image->depth_data, image->depth_data + 3),
              (std::vector<float>{3.5f, -5.5f, third + 0.5f}));
    EXPECT_EQ(bytes_of(image.get()), (Bytes{4, 4, 4}));
}

TEST(ColorMatrix, MatchesReferenceOnRandomImages) {
    std::mt19937 random(11);
    std::uniform_real_distribution<float> weight(-1.5f, 1.5f), offset(-80.0f, 200.0f);
    for (int32_t format : {DYX_IMG_FMT_A, DYX_IMG_FMT_L, DYX_IMG_FMT_LA, DYX_IMG_FMT_RGB, DYX_IMG_FMT_RGBA}) {
        for (int trial = 0; trial < 20; ++trial) {
            float matrix[20];
            for (int n = 0; n < 20; ++n) matrix[n] = n % 5 == 4 ? offset(random) : weight(random);
            // 37 pixels: the vector path and its scalar remainder both run.
            ImagePtr image = make_image(37, 3, format);
            fill_random(image.get(), random);
            const Bytes expected = reference_axb(image.get(), matrix);
            EXPECT_EQ(dyx_image_axb(image.get(), matrix, kUnchangedDepth), 0);
            ASSERT_EQ(bytes_of(image.get()), expected) << "format " << format << " trial " << trial;
        }
    }
}
