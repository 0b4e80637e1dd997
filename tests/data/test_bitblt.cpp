// Bit-block transfer: stepping, clipping, border pixel, alpha mask and
// refusals (the exact reference tests compare every rectangle and mode).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "dyx_image.h"
#include "dyx_image_composite.h"
#include "image_test_util.h"

using namespace image_testing;

namespace {

const uint8_t kBorder[4] = {11, 22, 33, 44};
const uint8_t kClearBorder[4] = {11, 22, 33, 0};

struct Rect {
    int32_t x, y, w, h;
};

int bitblt(const dyx_image_t *src, dyx_image_t *dest, Rect from, Rect to, int32_t mode,
           const uint8_t border[4] = kBorder) {
    const int32_t src_origin[2] = {from.x, from.y}, src_size[2] = {from.w, from.h};
    const int32_t dest_origin[2] = {to.x, to.y}, dest_size[2] = {to.w, to.h};
    return dyx_image_bitblt(src, dest, src_origin, src_size, dest_origin, dest_size, mode, border);
}

}  // namespace

TEST(Bitblt, Examples) {
    const int32_t L = DYX_IMG_FMT_L, RGB = DYX_IMG_FMT_RGB, RGBA = DYX_IMG_FMT_RGBA;
    const Bytes ramp = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, fives(9, 5), none(9, 0);
    const Bytes rgb = {1, 1, 1, 2, 2, 2, 3, 3, 3}, rgba = {1, 2, 3, 4, 5, 6, 7, 8};
    Bytes bordered, kept(20, 99);
    for (int n = 0; n < 5; ++n) bordered.insert(bordered.end(), kBorder, kBorder + 4);
    bordered.insert(bordered.end(), rgba.begin(), rgba.end());
    kept.insert(kept.end(), rgba.begin(), rgba.end());
    const struct {
        int32_t format;
        uint32_t sw, sh;
        Bytes src;
        uint32_t dw, dh;
        uint8_t fill;  // of the destination
        Rect from, to;
        bool masked;  // with the alpha mask and a border of alpha 0
        Bytes expected;
    } cases[] = {
        // A 4 x 4 source onto a 2 x 2 rectangle steps by 3: columns 0 and 3.
        {L, 4, 4, ramp, 2, 2, 0, {0, 0, 4, 4}, {0, 0, 2, 2}, false, {0, 3, 12, 15}},
        // A 1 x 1 destination rectangle copies the source origin pixel.
        {L, 4, 4, ramp, 2, 2, 0, {2, 1, 2, 2}, {1, 1, 1, 1}, false, {0, 0, 0, 6}},
        // Clipping at (-1, 0): columns 0 and 1 come from source columns 1 and 2.
        {RGB, 3, 1, rgb, 3, 1, 0, {0, 0, 3, 1}, {-1, 0, 3, 1}, false, {2, 2, 2, 3, 3, 3, 0, 0, 0}},
        // Origins outside and empty rectangles write nothing; extreme values
        // clip without overflow.
        {L, 3, 3, fives, 3, 3, 0, {0, 0, 3, 3}, {3, 0, 2, 2}, false, none},
        {L, 3, 3, fives, 3, 3, 0, {0, 0, 3, 3}, {0, 7, 2, 2}, false, none},
        {L, 3, 3, fives, 3, 3, 0, {0, 0, 3, 3}, {-2, 0, 2, 2}, false, none},
        {L, 3, 3, fives, 3, 3, 0, {0, 0, 3, 3}, {0, 0, 0, 2}, false, none},
        {L, 3, 3, fives, 3, 3, 0, {0, 0, 3, 3}, {0, 0, -4, 2}, false, none},
        {L, 3, 3, fives, 3, 3, 0, {0, 0, 3, 3}, {INT32_MIN, 0, INT32_MAX, 1}, false, none},
        // Positions far beyond any int are tested as floats, never converted.
        {L, 3, 3, fives, 2, 2, 0, {0, 0, INT32_MAX, INT32_MIN}, {0, 0, 2, 2}, false, {5, 11, 11, 11}},
        // Source origin (-5, 0): the first columns fall before the source and
        // take the border; with the mask, a border of alpha 0 leaves them.
        {RGBA, 2, 1, rgba, 7, 1, 99, {-5, 0, 7, 1}, {0, 0, 7, 1}, false, bordered},
        {RGBA, 2, 1, rgba, 7, 1, 99, {-5, 0, 7, 1}, {0, 0, 7, 1}, true, kept},
        // The mask has no effect without alpha; L takes the border's red.
        {L, 1, 1, {0}, 2, 1, 99, {-1, 0, 2, 1}, {0, 0, 2, 1}, true, {11, 0}},
    };
    for (const auto &c : cases) {
        ImagePtr src = make_image(c.sw, c.sh, c.format, c.src);
        ImagePtr dest = make_image(c.dw, c.dh, c.format, Bytes(c.expected.size(), c.fill));
        const int32_t mode = c.masked ? DYX_BITBLT_ALPHAMASK : DYX_BITBLT_COPY;
        EXPECT_EQ(bitblt(src.get(), dest.get(), c.from, c.to, mode, c.masked ? kClearBorder : kBorder), 0);
        EXPECT_EQ(bytes_of(dest.get()), c.expected)
            << "to " << c.to.x << "," << c.to.y << " " << c.to.w << "x" << c.to.h;
    }
}

TEST(Bitblt, RefusesOtherFormatOrDepthAndDefaultsToWholeImages) {
    ImagePtr rgb = make_image(2, 2, DYX_IMG_FMT_RGB, Bytes(12, 1));
    ImagePtr rgba = make_image(2, 2, DYX_IMG_FMT_RGBA, Bytes(16, 0));
    EXPECT_EQ(dyx_image_bitblt(rgb.get(), rgba.get(), nullptr, nullptr, nullptr, nullptr, 0, kBorder), 1);
    EXPECT_EQ(bytes_of(rgba.get()), Bytes(16, 0));
    ImagePtr deep = make_image(2, 2, DYX_IMG_FMT_RGB, 1);
    EXPECT_EQ(dyx_image_bitblt(rgb.get(), deep.get(), nullptr, nullptr, nullptr, nullptr, 0, kBorder), 1);

    // All defaults: the whole source stretched over the whole destination.
    ImagePtr src = make_image(2, 1, DYX_IMG_FMT_L, Bytes{10, 20});
    ImagePtr dest = make_image(3, 2, DYX_IMG_FMT_L, Bytes(6, 0));
    EXPECT_EQ(dyx_image_bitblt(src.get(), dest.get(), nullptr, nullptr, nullptr, nullptr, 0, kBorder), 0);
    // Column steps 0.5 (0, 0.5, 1 -> 0, 0, 1); row step 0, so both rows are row 0.
    EXPECT_EQ(bytes_of(dest.get()), (Bytes{10, 10, 20, 10, 10, 20}));
}
