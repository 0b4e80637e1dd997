// Chroma keying: tolerances, formats, and a per-pixel reference.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "dyx_image.h"
#include "dyx_image_composite.h"
#include "image_test_util.h"

using namespace image_testing;

TEST(ChromaKey, ExamplesToleranceEdgesAndRefusals) {
    const uint8_t green[3] = {0, 255, 0};
    const int32_t ten[3] = {10, 10, 10};
    ImagePtr image = make_image(2, 1, DYX_IMG_FMT_RGBA, Bytes{5, 250, 3, 200, 5, 240, 3, 200});
    EXPECT_EQ(dyx_image_chromakey(image.get(), green, ten, 0), 0);
    EXPECT_EQ(bytes_of(image.get()), (Bytes{5, 250, 3, 0, 5, 240, 3, 200}));

    // LA compares the luminance alone; the bounds are inclusive and a
    // negative tolerance matches nothing.
    const uint8_t key[3] = {100, 0, 0};
    const int32_t two[3] = {2, -1, -1}, none[3] = {-1, 300, 300};
    ImagePtr la = make_image(5, 1, DYX_IMG_FMT_LA, Bytes{97, 9, 98, 9, 100, 9, 102, 9, 103, 9});
    EXPECT_EQ(dyx_image_chromakey(la.get(), key, two, 55), 0);
    EXPECT_EQ(bytes_of(la.get()), (Bytes{97, 9, 98, 55, 100, 55, 102, 55, 103, 9}));
    EXPECT_EQ(dyx_image_chromakey(la.get(), key, none, 1), 0);
    EXPECT_EQ(bytes_of(la.get()), (Bytes{97, 9, 98, 55, 100, 55, 102, 55, 103, 9}));

    // Formats without alpha beside colour are refused; an empty image is not.
    const int32_t all[3] = {255, 255, 255};
    for (int32_t format : {DYX_IMG_FMT_A, DYX_IMG_FMT_L, DYX_IMG_FMT_RGB}) {
        ImagePtr other = make_image(2, 2, format, Bytes(4 * dyx_image_format_components(format), 7));
        EXPECT_EQ(dyx_image_chromakey(other.get(), key, all, 1), 1) << format;
        EXPECT_EQ(bytes_of(other.get()), Bytes(dyx_image_data_size(other.get()), 7));
    }
    ImagePtr empty = make_image(0, 2, DYX_IMG_FMT_RGBA);
    EXPECT_EQ(dyx_image_chromakey(empty.get(), key, all, 1), 0);
}

TEST(ChromaKey, MatchesReferenceOnRandomImages) {
    std::mt19937 random(9);
    const uint8_t key[3] = {120, 40, 200};
    // Ordinary tolerances, and ones beyond the byte range or exactly 0.
    const int32_t tolerances[2][3] = {{90, 70, 100}, {300, 200, 0}};
    for (const int32_t *tolerance : tolerances) {
        for (int32_t format : {DYX_IMG_FMT_LA, DYX_IMG_FMT_RGBA}) {
            ImagePtr image = make_image(61, 33, format);
            fill_random(image.get(), random);
            const int components = format == DYX_IMG_FMT_LA ? 2 : 4;
            // Plant exact key colours so that a zero tolerance matches too.
            for (size_t p = 0; p < dyx_image_data_size(image.get()); p += 13 * components)
                for (int c = 0; c < components - 1; ++c) image->data[p + c] = key[c];
            Bytes expected = bytes_of(image.get());
            int keyed = 0;
            for (size_t p = 0; p < expected.size(); p += components) {
                bool hit = std::abs(expected[p] - key[0]) <= tolerance[0];
                if (components == 4)
                    hit = hit && std::abs(expected[p + 1] - key[1]) <= tolerance[1] &&
                          std::abs(expected[p + 2] - key[2]) <= tolerance[2];
                if (hit) expected[p + components - 1] = 3, ++keyed;
            }
            ASSERT_GT(keyed, 0);
            EXPECT_EQ(dyx_image_chromakey(image.get(), key, tolerance, 3), 0);
            EXPECT_EQ(bytes_of(image.get()), expected) << format << " tolerance " << tolerance[0];
        }
    }
}
