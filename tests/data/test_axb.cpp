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

using image_testing::bytes_of;
using image_testing::fill_random;
using image_testing::ImagePtr;
using image_testing::make_image;

namespace {

using Bytes = std::vector<uint8_t>;

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

TEST(ColorMatrix, IdentityLeavesEveryFormatUnchanged) {
    std::mt19937 random(10);
    for (int32_t format : {DYX_IMG_FMT_A, DYX_IMG_FMT_L, DYX_IMG_FMT_LA, DYX_IMG_FMT_RGB, DYX_IMG_FMT_RGBA}) {
        ImagePtr image = make_image(13, 7, format);
        fill_random(image.get(), random);
        const Bytes before = bytes_of(image.get());
        EXPECT_EQ(dyx_image_axb(image.get(), kIdentity, kUnchangedDepth), 0);
        // L takes row 0 on (l, l, l, 255, 1): identity keeps l.
        EXPECT_EQ(bytes_of(image.get()), before) << format;
    }
}

TEST(ColorMatrix, DocumentedExamplesAndClamping) {
    float matrix[20];
    std::copy(kIdentity, kIdentity + 20, matrix);
    matrix[0] = 0.5f, matrix[4] = 10.0f;  // red: 0.5 * 100 + 10 = 60
    matrix[5] = 3.0f, matrix[6] = 0.0f;   // green: 3 * 100 = 300 -> 255
    matrix[12] = -1.0f;                   // blue: -50 -> 0
    ImagePtr image = make_image(1, 1, DYX_IMG_FMT_RGB, Bytes{100, 70, 50});
    EXPECT_EQ(dyx_image_axb(image.get(), matrix, kUnchangedDepth), 0);
    EXPECT_EQ(bytes_of(image.get()), (Bytes{60, 255, 0}));

    // RGB weighs alpha as 255: column 3 of row 0 adds 0.1 * 255.
    float with_alpha[20] = {0, 0, 0, 0.1f, 0};
    ImagePtr rgb = make_image(1, 1, DYX_IMG_FMT_RGB, Bytes{1, 2, 3});
    dyx_image_axb(rgb.get(), with_alpha, kUnchangedDepth);
    EXPECT_EQ(rgb->data[0], 25);

    // A NaN sum has no value to clamp: it gives 0.
    float not_a_number[20];
    std::copy(kIdentity, kIdentity + 20, not_a_number);
    not_a_number[4] = std::numeric_limits<float>::quiet_NaN();
    not_a_number[19] = std::numeric_limits<float>::infinity();
    ImagePtr rgba = make_image(5, 1, DYX_IMG_FMT_RGBA, Bytes(20, 9));
    dyx_image_axb(rgba.get(), not_a_number, kUnchangedDepth);
    EXPECT_EQ(bytes_of(rgba.get()),
              (Bytes{0, 9, 9, 255, 0, 9, 9, 255, 0, 9, 9, 255, 0, 9, 9, 255, 0, 9, 9, 255}));
}

TEST(ColorMatrix, DepthPlaneIsScaledAndOffset) {
    ImagePtr image = make_image(3, 1, DYX_IMG_FMT_L, 1);
    image->data[0] = image->data[1] = image->data[2] = 4;
    image->depth_data[0] = 1.0f, image->depth_data[1] = -2.0f, image->depth_data[2] = 0.1f;
    const float transform[2] = {3.0f, 0.5f};
    EXPECT_EQ(dyx_image_axb(image.get(), kIdentity, transform), 0);
    EXPECT_EQ(image->depth_data[0], 3.5f);
    EXPECT_EQ(image->depth_data[1], -5.5f);
    const float third = 3.0f * 0.1f;  // single-precision product, then sum
    EXPECT_EQ(image->depth_data[2], third + 0.5f);
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
