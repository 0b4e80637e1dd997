// The intensity ramp and anaglyph composition of movie frame transfer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "dyx_image.h"
#include "dyx_image_frame.h"
#include "image_test_util.h"

using namespace image_testing;

namespace {

uint8_t scaled(uint8_t value, float factor) { return uint8_t(int(float(value) * factor)); }

uint8_t luminance(uint8_t r, uint8_t g, uint8_t b) {
    const float sum = float(0.3 * r + 0.59 * g + 0.11 * b);
    return uint8_t(int(sum < 255.0f ? sum : 255.0f));
}
}  // namespace

// The vector path must give exactly the one-by-one rule for every byte
// value, including the bytes after the last whole group of sixteen (odd
// sizes on purpose).
TEST(Intensity, EqualsTheOneByOneRuleForEveryByteAndFactor) {
    std::mt19937 random(7);
    ImagePtr image = make_image(37, 9, DYX_IMG_FMT_RGBA);
    for (float factor : {0.0f, 1e-7f, 0.1f, 1.0f / 3.0f, 5.0f * (1.0f / 9.0f), 0.5f, 0.999999f, 1.0f}) {
        fill_random(image.get(), random);
        for (int i = 0; i < 256; ++i) image->data[i] = uint8_t(i);
        const Bytes before = bytes_of(image.get());
        ASSERT_EQ(dyx_image_intensity(image.get(), factor), 0);
        const Bytes after = bytes_of(image.get());
        for (size_t i = 0; i < before.size(); ++i)
            ASSERT_EQ(after[i], scaled(before[i], factor)) << "byte " << i << " factor " << factor;
    }
    // Factors outside [0, 1], NaN and no image are refused.
    const Bytes before = bytes_of(image.get());
    for (float factor : {1.5f, -0.1f, std::nanf("")}) EXPECT_EQ(dyx_image_intensity(image.get(), factor), 6);
    EXPECT_EQ(dyx_image_intensity(nullptr, 0.5f), 6);
    EXPECT_EQ(bytes_of(image.get()), before);
}

// Hand-computed: left pixel (200, 100, 50) has luminance 60 + 59 + 5.5 =
// 124.5 -> 124; right pixel (10, 20, 30) has 3 + 11.8 + 3.3 = 18.1 -> 18;
// white has 255 and black 0.
TEST(Anaglyph, EachModeAgainstHandComputedPixels) {
    const Bytes expected[] = {
        {200, 100, 50, 255, 255, 255},  // mode 0 leaves the left image alone
        {18, 0, 124, 0, 0, 255},        // red/blue
        {124, 0, 18, 255, 0, 0},        // blue/red
        {18, 124, 124, 0, 255, 255},    // red/cyan
        {124, 18, 18, 255, 0, 0},       // cyan/red
    };
    for (int mode = 0; mode <= 4; ++mode) {
        ImagePtr left = make_image(2, 1, DYX_IMG_FMT_RGB, Bytes{200, 100, 50, 255, 255, 255});
        ImagePtr right = make_image(2, 1, DYX_IMG_FMT_RGB, Bytes{10, 20, 30, 0, 0, 0});
        ASSERT_EQ(dyx_image_anaglyph(left.get(), right.get(), mode), 0);
        EXPECT_EQ(bytes_of(left.get()), expected[mode]) << "mode " << mode;
        EXPECT_EQ(bytes_of(right.get()), (Bytes{10, 20, 30, 0, 0, 0}));
    }
}

TEST(Anaglyph, RandomPixelsFollowTheLuminanceRule) {
    std::mt19937 random(11);
    ImagePtr right = make_image(13, 7, DYX_IMG_FMT_RGB);
    fill_random(right.get(), random);
    const Bytes r = bytes_of(right.get());
    for (int mode = 1; mode <= 4; ++mode) {
        ImagePtr left = make_image(13, 7, DYX_IMG_FMT_RGB);
        fill_random(left.get(), random);
        const Bytes l = bytes_of(left.get());
        ASSERT_EQ(dyx_image_anaglyph(left.get(), right.get(), mode), 0);
        for (size_t p = 0; p < l.size(); p += 3) {
            const uint8_t ll = luminance(l[p], l[p + 1], l[p + 2]), lr = luminance(r[p], r[p + 1], r[p + 2]);
            const Bytes want[] = {{lr, 0, ll}, {ll, 0, lr}, {lr, ll, ll}, {ll, lr, lr}};
            ASSERT_EQ(Bytes(left->data + p, left->data + p + 3), want[mode - 1])
                << "mode " << mode << " at " << p;
        }
    }
}

TEST(Anaglyph, RefusesMismatchedInputsWithoutChangingThem) {
    ImagePtr left = make_image(2, 1, DYX_IMG_FMT_RGB, Bytes{1, 2, 3, 4, 5, 6});
    ImagePtr right_small = make_image(1, 1, DYX_IMG_FMT_RGB, Bytes{9, 9, 9});
    ImagePtr right_rgba = make_image(2, 1, DYX_IMG_FMT_RGBA, Bytes(8, 9));
    EXPECT_EQ(dyx_image_anaglyph(left.get(), right_small.get(), 1), 6);
    EXPECT_EQ(dyx_image_anaglyph(left.get(), right_rgba.get(), 1), 6);
    EXPECT_EQ(dyx_image_anaglyph(left.get(), left.get(), 5), 6);
    EXPECT_EQ(dyx_image_anaglyph(nullptr, left.get(), 1), 6);
    EXPECT_EQ(bytes_of(left.get()), (Bytes{1, 2, 3, 4, 5, 6}));
}
