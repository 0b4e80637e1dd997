// Image difference and statistics.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "dyx_image.h"
#include "dyx_image_stats.h"
#include "image_test_util.h"

using namespace image_testing;

namespace {

// count, mean, sum, sum of squares, variance, minimum and maximum.
std::vector<double> stats_of(const dyx_image_t *image) {
    std::vector<double> s(7);
    EXPECT_EQ(dyx_image_stats(image, &s[0], &s[1], &s[2], &s[3], &s[4], &s[5], &s[6]), 0);
    return s;
}

}  // namespace

TEST(Diff, RefusesMismatches) {
    ImagePtr rgb = make_image(2, 2, DYX_IMG_FMT_RGB, Bytes(12, 1));
    ImagePtr rgba = make_image(2, 2, DYX_IMG_FMT_RGBA, Bytes(16, 1));
    ImagePtr taller = make_image(2, 3, DYX_IMG_FMT_RGB, Bytes(18, 1));
    ImagePtr deep = make_image(2, 2, DYX_IMG_FMT_RGB, 1);
    EXPECT_EQ(dyx_image_diff(rgb.get(), rgba.get(), 0), nullptr);
    EXPECT_EQ(dyx_image_diff(rgb.get(), taller.get(), 1), nullptr);
    EXPECT_EQ(dyx_image_diff(rgb.get(), deep.get(), 1), nullptr);
}

// Modulo 256 or absolute differences (any non-zero flag) of every byte,
// in a new image of the same format whose depth plane is zero.
TEST(Diff, MatchesTheDefinitionOnEveryFormatWithDepthZeroed) {
    ImagePtr a = make_image(2, 1, DYX_IMG_FMT_L, Bytes{10, 30}),
             b = make_image(2, 1, DYX_IMG_FMT_L, Bytes{30, 10});
    ImagePtr modulo(dyx_image_diff(a.get(), b.get(), 0)), absolute(dyx_image_diff(a.get(), b.get(), 1));
    ASSERT_TRUE(modulo && absolute);
    EXPECT_EQ(bytes_of(modulo.get()), (Bytes{236, 20}));
    EXPECT_EQ(bytes_of(absolute.get()), (Bytes{20, 20}));

    std::mt19937 random(12);
    for (int32_t format : {DYX_IMG_FMT_A, DYX_IMG_FMT_L, DYX_IMG_FMT_LA, DYX_IMG_FMT_RGB, DYX_IMG_FMT_RGBA}) {
        ImagePtr a = make_image(29, 11, format, 1), b = make_image(29, 11, format, 1);
        fill_random(a.get(), random);
        fill_random(b.get(), random);
        const Bytes x = bytes_of(a.get()), y = bytes_of(b.get());
        for (int absolute : {0, 7}) {
            ImagePtr result(dyx_image_diff(a.get(), b.get(), absolute));
            ASSERT_TRUE(result);
            EXPECT_EQ(result->format, format);
            ASSERT_TRUE(result->depth_data != nullptr);
            Bytes expected(x.size());
            for (size_t n = 0; n < x.size(); ++n)
                expected[n] =
                    static_cast<uint8_t>(absolute ? std::abs(x[n] - y[n]) : (x[n] - y[n] + 256) % 256);
            EXPECT_EQ(bytes_of(result.get()), expected) << format;
            EXPECT_EQ(std::vector<float>(result->depth_data, result->depth_data + 29 * 11),
                      std::vector<float>(29 * 11, 0));
        }
    }
    ImagePtr empty_a = make_image(0, 4, DYX_IMG_FMT_RGB), empty_b = make_image(0, 4, DYX_IMG_FMT_RGB);
    ImagePtr empty(dyx_image_diff(empty_a.get(), empty_b.get(), 1));
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->height, 4u);
}

// Every byte counts (alpha too); an empty image has minimum 255 and
// maximum 0; every result address may be null.
TEST(Stats, DocumentedValues) {
    const struct {
        uint32_t width;
        int32_t format;
        Bytes pixels;
        std::vector<double> expected;
    } cases[] = {
        {2, DYX_IMG_FMT_L, {0, 255}, {2, 127.5, 255, 65025, 32512.5, 0, 255}},
        {1, DYX_IMG_FMT_RGBA, {1, 2, 3, 200}, {4, 51.5, 206, 40014, (40014 - 4 * 51.5 * 51.5) / 3, 1, 200}},
        {0, DYX_IMG_FMT_RGB, {}, {0, 0, 0, 0, 0, 255, 0}},
        {1, DYX_IMG_FMT_L, {77}, {1, 77, 77, 5929, 0, 77, 77}},
    };
    for (const auto &c : cases) {
        ImagePtr image = make_image(c.width, 1, c.format, c.pixels);
        EXPECT_EQ(stats_of(image.get()), c.expected) << c.width << " " << c.format;
        EXPECT_EQ(dyx_image_stats(image.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
                  0);
    }
}

TEST(Stats, MatchesDoubleAccumulationOnRandomImages) {
    std::mt19937 random(13);
    // Sizes around the 16-byte blocks, and one large enough for several
    // flushes of the 32-bit square sums.
    for (uint32_t width : {1, 5, 16, 17, 333, 4099}) {
        ImagePtr image = make_image(width, 67, DYX_IMG_FMT_RGB);
        fill_random(image.get(), random);
        const Bytes bytes = bytes_of(image.get());
        double sum = 0, squares = 0, minimum = 255, maximum = 0;
        for (uint8_t v : bytes) {
            sum += v;
            squares += static_cast<float>(v) * static_cast<float>(v);
            minimum = std::min<double>(minimum, v);
            maximum = std::max<double>(maximum, v);
        }
        const double n = static_cast<float>(bytes.size()), mean = sum / n;
        const double variance = (squares - n * mean * mean) / static_cast<float>(bytes.size() - 1);
        EXPECT_EQ(stats_of(image.get()),
                  (std::vector<double>{double(bytes.size()), mean, sum, squares, variance, minimum, maximum}))
            << width;
    }
    // 16777217 bytes: n rounds to 16777216 in single precision, n - 1 stays;
    // the mean is exactly 2, not 2 * 16777216 / 16777217.
    ImagePtr image = make_image(16777217, 1, DYX_IMG_FMT_L, Bytes(16777217, 2));
    image->data[0] = 0;
    EXPECT_EQ(stats_of(image.get()),
              (std::vector<double>{16777217.0, 2, 2.0 * 16777216, 4.0 * 16777216, 0, 0, 2}));
}
