// Image difference and statistics.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "dyx_image.h"
#include "dyx_image_stats.h"
#include "image_test_util.h"

using image_testing::bytes_of;
using image_testing::fill_random;
using image_testing::ImagePtr;
using image_testing::make_image;

namespace {

using Bytes = std::vector<uint8_t>;

struct Stats {
    double count, mean, sum, sum_of_squares, variance, minimum, maximum;
};

Stats stats_of(const dyx_image_t *image) {
    Stats s;
    EXPECT_EQ(dyx_image_stats(image, &s.count, &s.mean, &s.sum, &s.sum_of_squares, &s.variance, &s.minimum,
                              &s.maximum),
              0);
    return s;
}

}  // namespace

TEST(Diff, ModuloAndAbsolute) {
    ImagePtr a = make_image(2, 1, DYX_IMG_FMT_L, Bytes{10, 30});
    ImagePtr b = make_image(2, 1, DYX_IMG_FMT_L, Bytes{30, 10});
    ImagePtr modulo(dyx_image_diff(a.get(), b.get(), 0));
    ASSERT_TRUE(modulo);
    EXPECT_EQ(bytes_of(modulo.get()), (Bytes{236, 20}));
    ImagePtr absolute(dyx_image_diff(a.get(), b.get(), 1));
    ASSERT_TRUE(absolute);
    EXPECT_EQ(bytes_of(absolute.get()), (Bytes{20, 20}));
    EXPECT_EQ(absolute->format, DYX_IMG_FMT_L);
}

TEST(Diff, RefusesMismatches) {
    ImagePtr rgb = make_image(2, 2, DYX_IMG_FMT_RGB, Bytes(12, 1));
    ImagePtr rgba = make_image(2, 2, DYX_IMG_FMT_RGBA, Bytes(16, 1));
    ImagePtr taller = make_image(2, 3, DYX_IMG_FMT_RGB, Bytes(18, 1));
    ImagePtr deep = make_image(2, 2, DYX_IMG_FMT_RGB, 1);
    EXPECT_EQ(dyx_image_diff(rgb.get(), rgba.get(), 0), nullptr);
    EXPECT_EQ(dyx_image_diff(rgb.get(), taller.get(), 1), nullptr);
    EXPECT_EQ(dyx_image_diff(rgb.get(), deep.get(), 1), nullptr);
}

TEST(Diff, MatchesReferenceOnEveryFormatWithDepthZeroed) {
    std::mt19937 random(12);
    for (int32_t format : {DYX_IMG_FMT_A, DYX_IMG_FMT_L, DYX_IMG_FMT_LA, DYX_IMG_FMT_RGB, DYX_IMG_FMT_RGBA}) {
        ImagePtr a = make_image(29, 11, format, 1), b = make_image(29, 11, format, 1);
        fill_random(a.get(), random);
        fill_random(b.get(), random);
        const Bytes x = bytes_of(a.get()), y = bytes_of(b.get());
        for (int absolute : {0, 7}) {
            ImagePtr result(dyx_image_diff(a.get(), b.get(), absolute));
            ASSERT_TRUE(result);
            ASSERT_TRUE(result->depth_data != nullptr);
            Bytes expected(x.size());
            for (size_t n = 0; n < x.size(); ++n)
                expected[n] =
                    static_cast<uint8_t>(absolute ? std::abs(x[n] - y[n]) : (x[n] - y[n] + 256) % 256);
            EXPECT_EQ(bytes_of(result.get()), expected) << format;
            for (size_t n = 0; n < 29 * 11; ++n) ASSERT_EQ(result->depth_data[n], 0.0f);
        }
    }
    ImagePtr empty_a = make_image(0, 4, DYX_IMG_FMT_RGB), empty_b = make_image(0, 4, DYX_IMG_FMT_RGB);
    ImagePtr empty(dyx_image_diff(empty_a.get(), empty_b.get(), 1));
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->height, 4u);
}

TEST(Stats, DocumentedValues) {
    ImagePtr image = make_image(2, 1, DYX_IMG_FMT_L, Bytes{0, 255});
    const Stats s = stats_of(image.get());
    EXPECT_EQ(s.count, 2);
    EXPECT_EQ(s.sum, 255);
    EXPECT_EQ(s.sum_of_squares, 65025);
    EXPECT_EQ(s.mean, 127.5);
    EXPECT_EQ(s.variance, 32512.5);
    EXPECT_EQ(s.minimum, 0);
    EXPECT_EQ(s.maximum, 255);

    // Alpha counts: four bytes per RGBA pixel.
    ImagePtr rgba = make_image(1, 1, DYX_IMG_FMT_RGBA, Bytes{1, 2, 3, 200});
    const Stats r = stats_of(rgba.get());
    EXPECT_EQ(r.count, 4);
    EXPECT_EQ(r.sum, 206);
    EXPECT_EQ(r.maximum, 200);
}

TEST(Stats, EmptyAndSinglePixelImages) {
    ImagePtr empty = make_image(0, 3, DYX_IMG_FMT_RGB);
    const Stats e = stats_of(empty.get());
    EXPECT_EQ(e.count, 0);
    EXPECT_EQ(e.sum, 0);
    EXPECT_EQ(e.sum_of_squares, 0);
    EXPECT_EQ(e.mean, 0);
    EXPECT_EQ(e.variance, 0);
    EXPECT_EQ(e.minimum, 255);
    EXPECT_EQ(e.maximum, 0);

    ImagePtr one = make_image(1, 1, DYX_IMG_FMT_L, Bytes{77});
    const Stats o = stats_of(one.get());
    EXPECT_EQ(o.mean, 77);
    EXPECT_EQ(o.variance, 0);
    EXPECT_EQ(o.minimum, 77);
    EXPECT_EQ(o.maximum, 77);

    // Every result address may be null.
    EXPECT_EQ(dyx_image_stats(one.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
}

TEST(Stats, MatchesDoubleAccumulationOnRandomImages) {
    std::mt19937 random(13);
    // Sizes around the 16-byte blocks, and one large enough for several
    // flushes of the 32-bit square sums.
    const uint32_t widths[] = {1, 5, 16, 17, 333, 4099};
    for (uint32_t width : widths) {
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
        const double n = static_cast<float>(bytes.size());
        const double mean = sum / n;
        const double variance = (squares - n * mean * mean) / static_cast<float>(bytes.size() - 1);
        const Stats s = stats_of(image.get());
        EXPECT_EQ(s.count, static_cast<double>(bytes.size()));
        EXPECT_EQ(s.sum, sum);
        EXPECT_EQ(s.sum_of_squares, squares);
        EXPECT_EQ(s.mean, mean);
        EXPECT_EQ(s.variance, variance);
        EXPECT_EQ(s.minimum, minimum);
        EXPECT_EQ(s.maximum, maximum);
    }
}

TEST(Stats, CountsBeyondSinglePrecisionDivideByRoundedCounts) {
    // 16777217 bytes: n rounds to 16777216 in single precision, n - 1 stays.
    ImagePtr image = make_image(16777217, 1, DYX_IMG_FMT_L);
    std::memset(image->data, 2, 16777217);
    image->data[0] = 0;
    const Stats s = stats_of(image.get());
    EXPECT_EQ(s.count, 16777217.0);
    const double sum = 2.0 * 16777216;
    EXPECT_EQ(s.sum, sum);
    EXPECT_EQ(s.mean, sum / 16777216.0);  // exactly 2, not 2 * 16777216 / 16777217
    EXPECT_EQ(s.variance, (4.0 * 16777216 - 16777216.0 * s.mean * s.mean) / 16777216.0);
    EXPECT_EQ(s.minimum, 0);
    EXPECT_EQ(s.maximum, 2);
}
