// The fast scaling, grey conversion and bitblt give the same bytes as the
// plain implementations in reference/, and the operations split into row
// bands give the bytes of one worker, over seeded random sizes,
// ratios, formats, offsets and pixels, with one worker and with several,
// and with the AVX2, SSSE3 and scalar kernels.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "../../data/libsrc/dyx_image_simd.h"
#include "dyx_image.h"
#include "dyx_image_composite.h"
#include "dyx_image_stats.h"
#include "dyx_parallel.h"
#include "image_test_util.h"
#include "reference/reference.h"

using namespace image_testing;

namespace {

constexpr int32_t kFormats[] = {DYX_IMG_FMT_A, DYX_IMG_FMT_L, DYX_IMG_FMT_LA, DYX_IMG_FMT_RGB,
                                DYX_IMG_FMT_RGBA};
using dyx_image_simd::Level;

// Worker count and widest kernels of each pass (the processor may lack some).
struct Path {
    int workers;
    Level level;
};
constexpr Path kPaths[] = {{1, Level::kAvx2}, {4, Level::kAvx2}, {1, Level::kSsse3}, {3, Level::kScalar}};

// Runs check() once on every path; stops at the first fatal failure.
void on_every_path(const std::function<void()> &check) {
    for (const Path &path : kPaths) {
        SCOPED_TRACE(::testing::Message() << " workers " << path.workers << " level " << int(path.level));
        dyx_parallel_set_threads(path.workers);
        dyx_image_simd::set_limit(path.level);
        check();
        if (::testing::Test::HasFatalFailure()) return;
    }
}

// Restores the defaults whatever a test leaves behind.
class ExactReference : public ::testing::Test {
protected:
    void TearDown() override {
        dyx_parallel_set_threads(0);
        dyx_image_simd::set_limit(Level::kAvx2);
    }
};

ImagePtr random_image(uint32_t width, uint32_t height, int32_t format, int32_t depth, std::mt19937 &random) {
    ImagePtr image = make_image(width, height, format, depth);
    fill_random(image.get(), random);
    if (image->depth_data != nullptr)
        for (uint64_t n = 0; n < uint64_t{width} * height; ++n)
            image->depth_data[n] = static_cast<float>(random() % 1000) * 0.25f;
    return image;
}

ImagePtr copy_of(const dyx_image_t *image) {
    ImagePtr copy = make_image(image->width, image->height, image->format, image->depth);
    std::memcpy(copy->data, image->data, dyx_image_data_size(image));
    if (image->depth_data != nullptr)
        std::memcpy(copy->depth_data, image->depth_data, sizeof(float) * image->width * image->height);
    return copy;
}

// The pixel bytes followed by the depth values' bytes, if any.
Bytes contents(const dyx_image_t *image) {
    Bytes bytes = bytes_of(image);
    if (image->depth_data != nullptr) {
        const uint8_t *depth = reinterpret_cast<const uint8_t *>(image->depth_data);
        bytes.insert(bytes.end(), depth, depth + sizeof(float) * image->width * image->height);
    }
    return bytes;
}

// Scales a copy of source to dw x dh with the reference and on every path.
void expect_scaling_matches(const dyx_image_t *source, uint32_t dw, uint32_t dh, uint32_t flags) {
    const ImagePtr templ = make_image(dw, dh, DYX_IMG_FMT_L);
    ImagePtr expected = copy_of(source);
    ASSERT_EQ(apply(expected, [&](dyx_image_t **v) { return orvo_reference::scale(v, templ.get(), flags); }),
              0);
    on_every_path([&] {
        ImagePtr actual = copy_of(source);
        ASSERT_EQ(apply(actual, [&](dyx_image_t **v) { return dyx_image_scale(v, templ.get(), flags); }), 0);
        ASSERT_EQ(contents(actual.get()), contents(expected.get()));
    });
}

// A target size along one axis: a common ratio of the source or any size.
uint32_t target_size(uint32_t source, std::mt19937 &random) {
    const uint32_t ratios[] = {source / 2, source * 2 / 3, source * 2, source / 4};
    const uint32_t pick = random() % 6;
    const uint32_t size = pick < 4 ? ratios[pick] : 1 + random() % 400;
    return size > 0 ? size : 1;
}

TEST_F(ExactReference, ScalingMatchesEveryRatioFormatAndWorkerCount) {
    std::mt19937 random(19);
    // Mostly small pictures (quick), some tall enough to split into bands.
    for (int n = 0; n < 240 && !HasFatalFailure(); ++n) {
        const bool large = n % 8 == 0;
        const uint32_t sw = 1 + random() % (large ? 700 : 90), sh = 1 + random() % (large ? 700 : 90);
        const uint32_t dw = target_size(sw, random), dh = target_size(sh, random);
        const int32_t format = kFormats[random() % 5];
        const int32_t depth = random() % 4 == 0 ? 1 : 0;
        const uint32_t flags = random() % 3 == 0 ? 0 : DYX_SCALE_SMOOTH;
        SCOPED_TRACE(::testing::Message() << sw << "x" << sh << " -> " << dw << "x" << dh << " format "
                                          << format << " flags " << flags);
        expect_scaling_matches(random_image(sw, sh, format, depth, random).get(), dw, dh, flags);
    }
}

// Whole-frame sizes the benchmarks use, and exact halving and doubling.
TEST_F(ExactReference, ScalingMatchesOnFrameSizes) {
    const struct {
        uint32_t sw, sh, dw, dh;
        int32_t format;
    } cases[] = {{3840, 2160, 1920, 1080, DYX_IMG_FMT_RGB},
                 {1920, 1080, 1280, 720, DYX_IMG_FMT_RGB},
                 {1920, 1080, 960, 540, DYX_IMG_FMT_RGBA},
                 {1921, 1081, 960, 540, DYX_IMG_FMT_L},
                 {960, 540, 1920, 1080, DYX_IMG_FMT_RGB},
                 {1, 1, 2, 2, DYX_IMG_FMT_RGBA},
                 {3, 5, 6, 10, DYX_IMG_FMT_LA},
                 {17, 9, 34, 18, DYX_IMG_FMT_A},
                 {301, 200, 602, 400, DYX_IMG_FMT_RGBA}};
    std::mt19937 random(7);
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.sw << "x" << c.sh);
        expect_scaling_matches(random_image(c.sw, c.sh, c.format, 0, random).get(), c.dw, c.dh,
                               DYX_SCALE_SMOOTH);
        if (HasFatalFailure()) return;
    }
}

TEST_F(ExactReference, ConversionAndGreyMatchEveryFormatPair) {
    std::mt19937 random(23);
    for (int n = 0; n < 100 && !HasFatalFailure(); ++n) {
        const uint32_t width = 1 + random() % (n % 10 == 0 ? 900 : 70), height = 1 + random() % 600;
        const int32_t from = kFormats[random() % 5], to = kFormats[random() % 5];
        const int32_t depth = random() % 3 == 0 ? 1 : 0, to_depth = random() % 2;
        const ImagePtr source = random_image(width, height, from, depth, random);
        const ImagePtr templ = make_image(1, 1, to, to_depth);
        ImagePtr expected = copy_of(source.get());
        ASSERT_EQ(apply(expected, [&](dyx_image_t **v) { return orvo_reference::convert(v, templ.get()); }),
                  0);
        // Refused conversions write nothing: both start from the same bytes.
        const ImagePtr grey_expected = make_image(width, height, to),
                       grey_actual = make_image(width, height, to);
        std::memset(grey_expected->data, 0, dyx_image_data_size(grey_expected.get()));
        std::memset(grey_actual->data, 0, dyx_image_data_size(grey_actual.get()));
        const int grey_status = orvo_reference::togrey(source.get(), grey_expected.get());
        SCOPED_TRACE(::testing::Message() << width << "x" << height << " " << from << " -> " << to);
        on_every_path([&] {
            ImagePtr actual = copy_of(source.get());
            ASSERT_EQ(apply(actual, [&](dyx_image_t **v) { return dyx_image_convert(v, templ.get()); }), 0);
            ASSERT_EQ(contents(actual.get()), contents(expected.get()));
            ASSERT_EQ(dyx_image_togrey(source.get(), grey_actual.get()), grey_status);
            ASSERT_EQ(bytes_of(grey_actual.get()), bytes_of(grey_expected.get()));
        });
    }
}

// Every colour once: a 4096 x 4096 RGB picture made grey, checked against
// the defining double-precision expression, on every path.
TEST_F(ExactReference, GreyOfEveryColourIsTheDoubleExpression) {
    const ImagePtr image = make_image(4096, 4096, DYX_IMG_FMT_RGB);
    std::vector<uint8_t> expected(size_t{1} << 24);
    for (uint32_t colour = 0; colour < (1u << 24); ++colour) {
        const int r = colour >> 16, g = (colour >> 8) & 255, b = colour & 255;
        uint8_t *pixel = image->data + 3 * size_t{colour};
        pixel[0] = static_cast<uint8_t>(r);
        pixel[1] = static_cast<uint8_t>(g);
        pixel[2] = static_cast<uint8_t>(b);
        expected[colour] = static_cast<uint8_t>(static_cast<int>(0.3 * r + 0.59 * g + 0.11 * b));
    }
    const ImagePtr grey = make_image(4096, 4096, DYX_IMG_FMT_L);
    on_every_path([&] {
        ASSERT_EQ(dyx_image_togrey(image.get(), grey.get()), 0);
        EXPECT_EQ(bytes_of(grey.get()), expected);
    });
}

// Every colour whose integer sum is a multiple of 100, side by side, as
// RGB and RGBA: the pixels that need the rounding fix-up, densely (flat
// grey pictures are made of them).
TEST_F(ExactReference, GreyOfEveryColourOnAHundredIsTheDoubleExpression) {
    std::vector<uint8_t> rgb, expected;
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b)
                if ((30 * r + 59 * g + 11 * b) % 100 == 0) {
                    rgb.insert(rgb.end(),
                               {static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b)});
                    expected.push_back(static_cast<uint8_t>(static_cast<int>(0.3 * r + 0.59 * g + 0.11 * b)));
                }
    const int width = 1024, height = static_cast<int>(expected.size() / width);
    expected.resize(size_t{1024} * height);
    for (const int32_t format : {DYX_IMG_FMT_RGB, DYX_IMG_FMT_RGBA}) {
        const ImagePtr image = make_image(width, height, format);
        const int c = format == DYX_IMG_FMT_RGB ? 3 : 4;
        for (size_t n = 0; n < expected.size(); ++n) {
            std::memcpy(image->data + c * n, &rgb[3 * n], 3);
            if (c == 4) image->data[c * n + 3] = static_cast<uint8_t>(n);
        }
        const ImagePtr grey = make_image(width, height, DYX_IMG_FMT_L);
        on_every_path([&] {
            ASSERT_EQ(dyx_image_togrey(image.get(), grey.get()), 0);
            EXPECT_EQ(bytes_of(grey.get()), expected) << "components " << c;
        });
    }
}

TEST_F(ExactReference, BitbltMatchesEveryRectangleAndMode) {
    std::mt19937 random(31);
    auto any = [&](int low, int high) { return low + static_cast<int32_t>(random() % (high - low + 1)); };
    for (int n = 0; n < 300 && !HasFatalFailure(); ++n) {
        const bool large = n % 10 == 0;
        const int sw = any(1, large ? 900 : 60), sh = any(1, large ? 700 : 60);
        const int tw = any(1, large ? 1200 : 80), th = any(1, large ? 900 : 80);
        const int32_t format = kFormats[random() % 5];
        const ImagePtr source = random_image(sw, sh, format, 0, random);
        const ImagePtr target = random_image(tw, th, format, 0, random);
        const int32_t src_origin[2] = {any(-20, 40), any(-20, 40)};
        const int32_t src_size[2] = {any(1, sw + 20), any(1, sh + 20)};
        const int32_t dest_origin[2] = {any(-30, tw), any(-30, th)};
        const int32_t dest_size[2] = {any(1, tw + 40), any(1, th + 40)};
        const int32_t mode = random() % 2 == 0 ? DYX_BITBLT_COPY : DYX_BITBLT_ALPHAMASK;
        const uint8_t border[4] = {17, 34, 51, static_cast<uint8_t>(random() % 2 == 0 ? 0 : 200)};
        const auto blit = [&](dyx_image_t *into, decltype(&dyx_image_bitblt) function) {
            return function(source.get(), into, src_origin, src_size, dest_origin, dest_size, mode, border);
        };
        const ImagePtr expected = copy_of(target.get());
        ASSERT_EQ(blit(expected.get(), orvo_reference::bitblt), 0);
        SCOPED_TRACE(::testing::Message() << "case " << n);
        on_every_path([&] {
            const ImagePtr actual = copy_of(target.get());
            ASSERT_EQ(blit(actual.get(), dyx_image_bitblt), 0);
            ASSERT_EQ(bytes_of(actual.get()), bytes_of(expected.get()));
        });
    }
}

}  // namespace

// Picture sizes of the banded-operations test. Under ThreadSanitizer,
// which runs it some thirty times slower, four are enough to find races;
// the other builds check all twelve.
#if defined(__SANITIZE_THREAD__)
constexpr int kBandedSizes = 4;
#else
constexpr int kBandedSizes = 12;
#endif

// Blend, chroma key, colour matrix, swizzle, difference and statistics
// split their pictures into bands: on every path the bytes (and the
// statistics) equal those of one worker with the widest kernels, on sizes
// whose rows and blocks do not divide evenly.
TEST_F(ExactReference, BandedOperationsMatchOneWorker) {
    std::mt19937 random(41);
    const uint8_t constant[4] = {10, 200, 30, 128};
    const uint8_t key[3] = {120, 130, 140};
    const int32_t tolerance[3] = {60, 70, 80};
    const float matrix[20] = {0.9f,  0.05f, 0.05f, 0.0f, 1.5f, 0.05f, 0.9f, 0.05f, 0.0f, -2.0f,
                              0.05f, 0.05f, 0.9f,  0.0f, 1.0f, 0.1f,  0.1f, 0.1f,  0.7f, 0.0f};
    const float depth_map[2] = {0.5f, 2.0f};
    for (int n = 0; n < kBandedSizes && !HasFatalFailure(); ++n) {
        const uint32_t width = 700 + random() % 1300, height = 300 + random() % 800;
        const int32_t format = kFormats[random() % 5];
        const ImagePtr a = random_image(width, height, format, 1, random);
        const ImagePtr b = random_image(width, height, format, 1, random);
        const auto run_all = [&] {
            std::vector<Bytes> results;
            const int32_t modes[][4] = {
                {DYX_BLEND_SALPHA, DYX_BLEND_ONE, DYX_BLEND_MSALPHA, DYX_BLEND_CCOLOR},
                {DYX_BLEND_DCOLOR, DYX_BLEND_DALPHA | DYX_BLEND_INVERT, DYX_BLEND_SCOLOR, DYX_BLEND_CALPHA}};
            for (const auto &mode : modes) {
                const ImagePtr blended = copy_of(a.get());
                EXPECT_EQ(
                    dyx_image_blend(b.get(), blended.get(), mode[0], mode[1], mode[2], mode[3], constant, 77),
                    0);
                results.push_back(contents(blended.get()));
            }
            const ImagePtr keyed = copy_of(a.get());
            dyx_image_chromakey(keyed.get(), key, tolerance, 9);
            results.push_back(contents(keyed.get()));
            const ImagePtr transformed = copy_of(a.get());
            EXPECT_EQ(dyx_image_axb(transformed.get(), matrix, depth_map), 0);
            results.push_back(contents(transformed.get()));
            const int32_t swizzle_map[4] = {2, 3, 0, 1}, swizzle_mask[4] = {1, 1, 0, 1};
            const ImagePtr swizzled = copy_of(a.get()), swizzled_into = copy_of(b.get());
            EXPECT_EQ(dyx_image_swizzle(swizzled.get(), swizzled.get(), swizzle_map, swizzle_mask), 0);
            EXPECT_EQ(dyx_image_swizzle(a.get(), swizzled_into.get(), swizzle_map, swizzle_mask), 0);
            results.push_back(contents(swizzled.get()));
            results.push_back(contents(swizzled_into.get()));
            for (int32_t absolute : {0, 1}) {
                dyx_image_t *difference = dyx_image_diff(a.get(), b.get(), absolute);
                EXPECT_NE(difference, nullptr);
                if (difference == nullptr) continue;
                results.push_back(contents(difference));
                dyx_image_free(&difference);
            }
            double values[7] = {};
            EXPECT_EQ(dyx_image_stats(a.get(), &values[0], &values[1], &values[2], &values[3], &values[4],
                                      &values[5], &values[6]),
                      0);
            const uint8_t *raw = reinterpret_cast<const uint8_t *>(values);
            results.push_back(Bytes(raw, raw + sizeof values));
            return results;
        };
        dyx_parallel_set_threads(1);
        const std::vector<Bytes> expected = run_all();
        SCOPED_TRACE(::testing::Message() << width << "x" << height << " format " << format);
        on_every_path([&] { ASSERT_EQ(run_all(), expected); });
    }
}
