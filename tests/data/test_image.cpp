// Image buffer records: allocation, release, free callback, header
// comparison, and the hand-over to a host's file table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "dyx_image.h"
#include "image_test_util.h"
#include "log_capture.h"

using namespace image_testing;

TEST(ImageAlloc, SizesRectangleAndComponents) {
    ImagePtr rgb = make_image(3, 2, DYX_IMG_FMT_RGB);
    ASSERT_TRUE(rgb);
    EXPECT_EQ(dyx_image_data_size(rgb.get()), 18u);
    EXPECT_EQ(rgb->depth_data, nullptr);
    EXPECT_EQ(rgb->aux_data, nullptr);
    EXPECT_EQ((std::vector<int32_t>{rgb->valid_x_min, rgb->valid_y_min, rgb->valid_x_max, rgb->valid_y_max}),
              (std::vector<int32_t>{0, 0, 2, 1}));
    // The whole planes are writable (the sanitizer build checks the bounds).
    ImagePtr with_depth = make_image(3, 2, DYX_IMG_FMT_RGB, 1);
    ASSERT_NE(with_depth->depth_data, nullptr);
    std::fill(with_depth->depth_data, with_depth->depth_data + 6, 1.0f);
    std::fill(with_depth->data, with_depth->data + 18, 0);

    // Components per pixel, 0 for what is no format.
    const int32_t formats[] = {
        DYX_IMG_FMT_A, DYX_IMG_FMT_L, DYX_IMG_FMT_LA, DYX_IMG_FMT_RGB, DYX_IMG_FMT_RGBA, 3, 0, 32};
    const int components[] = {1, 1, 2, 3, 4, 0, 0, 0};
    for (int n = 0; n < 8; ++n) {
        dyx_image_t record{};
        record.format = formats[n];
        EXPECT_EQ(dyx_image_color_components_per_pixel(&record), components[n]) << formats[n];
    }
    // Creating the pool again keeps it.
    EXPECT_EQ(dyx_image_pool_create(64), 0);
    EXPECT_TRUE(make_image(1, 1, DYX_IMG_FMT_A));
}

TEST(ImageAlloc, EmptyBadAndOversizedImages) {
    // An empty area has no planes and accepts any format.
    ImagePtr wide = make_image(0, 5, 3), tall = make_image(5, 0, DYX_IMG_FMT_RGB, 1);
    ASSERT_TRUE(wide && tall);
    EXPECT_EQ(wide->data, nullptr);
    EXPECT_EQ(tall->data, nullptr);
    EXPECT_EQ(tall->depth_data, nullptr);

    testing_support::LogCapture capture;
    EXPECT_EQ(dyx_image_alloc(2, 2, 0, 3), nullptr);
    ASSERT_EQ(capture.console.lines.size(), 1u);
    EXPECT_EQ(capture.console.lines[0], "ERROR: dyx_image_alloc: bad pixelFormat\n");
    // Regression: the byte count used to be a 32-bit product, so a huge
    // image was allocated short and then overrun ((2^32 - 1)^2 wraps to 1).
    EXPECT_EQ(dyx_image_alloc(0xffffffffu, 0xffffffffu, 0, DYX_IMG_FMT_RGBA), nullptr);
    EXPECT_EQ(dyx_image_alloc(0xffffffffu, 0xffffffffu, 1, DYX_IMG_FMT_L), nullptr);
    EXPECT_GT(capture.console.lines.size(), 1u);
}

namespace {
std::vector<std::string> freed;
void note_free(dyx_image_t *image) {
    // The buffers are gone by the time the callback runs.
    EXPECT_EQ(image->data, nullptr);
    freed.push_back(static_cast<const char *>(image->free_cb_data));
}
}  // namespace

// The callback and its data are fixed when a buffer is allocated; setting
// them hands back the previous setting; freeing resets the variable.
TEST(ImageFree, CallbackIsFixedAtAllocationAndTheVariableReset) {
    freed.clear();
    dyx_image_free_cb previous_cb = nullptr;
    void *previous_data = nullptr;
    dyx_image_set_freeCB(note_free, const_cast<char *>("first"), &previous_cb, &previous_data);
    ImagePtr early = make_image(2, 2, DYX_IMG_FMT_L);
    dyx_image_set_freeCB(note_free, const_cast<char *>("second"), nullptr, nullptr);
    ImagePtr late = make_image(2, 2, DYX_IMG_FMT_L);
    dyx_image_free_cb old_cb = nullptr;
    void *old_data = nullptr;
    dyx_image_set_freeCB(previous_cb, previous_data, &old_cb, &old_data);
    EXPECT_EQ(old_cb, &note_free);
    EXPECT_STREQ(static_cast<const char *>(old_data), "second");
    ImagePtr none = make_image(2, 2, DYX_IMG_FMT_L);

    dyx_image_t *raw = late.release();
    dyx_image_free(&raw);
    EXPECT_EQ(raw, nullptr);
    dyx_image_free(&raw);  // a null variable is left alone
    early.reset();
    none.reset();
    EXPECT_EQ(freed, (std::vector<std::string>{"second", "first"}));
}

TEST(ImageHeader, DiffFlags) {
    ImagePtr rgb = make_image(4, 3, DYX_IMG_FMT_RGB), rgb_depth = make_image(4, 3, DYX_IMG_FMT_RGB, 1);
    ImagePtr rgb_small = make_image(3, 3, DYX_IMG_FMT_RGB), rgb_short = make_image(4, 2, DYX_IMG_FMT_RGB);
    ImagePtr la = make_image(4, 3, DYX_IMG_FMT_LA);
    const struct {
        const dyx_image_t *a, *b;
        int32_t flags;
        int different;
    } cases[] = {{rgb.get(), la.get(), 0, 0},        {rgb.get(), rgb_depth.get(), 3, 0},
                 {rgb.get(), rgb_depth.get(), 4, 1}, {rgb_depth.get(), rgb.get(), 4, 1},
                 {rgb.get(), rgb_small.get(), 1, 1}, {rgb.get(), rgb_short.get(), 1, 1},
                 {rgb.get(), rgb_small.get(), 6, 0}, {rgb.get(), la.get(), 1, 0},
                 {rgb.get(), la.get(), 2, 1},        {rgb.get(), rgb.get(), 7, 0}};
    for (const auto &c : cases) EXPECT_EQ(dyx_image_hdr_diff(c.a, c.b, c.flags), c.different) << c.flags;
}

// ---- file access table ------------------------------------------------------

namespace {

// A host "file": one stored item, and a log of the calls made on it.
struct FakeFile {
    int32_t width = 1, height = 1, format = DYX_IMG_FMT_L, depth = 0;
    std::vector<uint8_t> pixels = {0};
    std::vector<float> depth_values;
    int32_t attributes = 0;
    int32_t rect[4] = {0, 0, 0, 0};
    int32_t fail_step = -1;  // the call number that fails, or -1
    std::vector<std::string> calls;

    int32_t status(const char *call) {
        calls.push_back(call);
        return static_cast<int32_t>(calls.size()) - 1 == fail_step ? 9 : 0;
    }
};

FakeFile *as_file(void *file) { return static_cast<FakeFile *>(file); }

const dyx_image_file_ops kFakeOps = {
    [](void *file, int32_t, int32_t *w, int32_t *h, int32_t *f, int32_t *d) {
        FakeFile *item = as_file(file);
        *w = item->width, *h = item->height, *f = item->format, *d = item->depth;
        return item->status("read_header");
    },
    [](void *file, int32_t, uint8_t *data) {
        std::copy(as_file(file)->pixels.begin(), as_file(file)->pixels.end(), data);
        return as_file(file)->status("read_pixels");
    },
    [](void *file, int32_t, float *data) {
        std::copy(as_file(file)->depth_values.begin(), as_file(file)->depth_values.end(), data);
        return as_file(file)->status("read_depth");
    },
    [](void *file, int32_t) {
        as_file(file)->calls.push_back("attribute_count");
        return as_file(file)->attributes;
    },
    [](void *file, int32_t, int32_t number, int32_t values[4]) {
        EXPECT_EQ(number, 0);
        std::copy(as_file(file)->rect, as_file(file)->rect + 4, values);
        return as_file(file)->status("read_attribute");
    },
    [](void *file, int32_t, int32_t w, int32_t h, int32_t f, int32_t d, const uint8_t *data,
       const float *depth) {
        FakeFile *item = as_file(file);
        item->width = w, item->height = h, item->format = f, item->depth = d;
        const size_t count = static_cast<size_t>(w) * h;
        item->pixels.assign(data, data + count * dyx_image_format_components(f));
        if (depth) item->depth_values.assign(depth, depth + count);
        return item->status("write_image");
    },
    [](void *file, int32_t, int32_t count) {
        as_file(file)->attributes = count;
        return as_file(file)->status("set_attribute_count");
    },
    [](void *file, int32_t, int32_t id, int32_t type, const int32_t values[4]) {
        EXPECT_EQ(id, 1000);
        EXPECT_EQ(type, 0);
        std::copy(values, values + 4, as_file(file)->rect);
        return as_file(file)->status("write_attribute");
    },
};

using Calls = std::vector<std::string>;

}  // namespace

TEST(ImageFile, RoundTripCarriesPixelsDepthAndRectangle) {
    ImagePtr image = make_image(2, 2, DYX_IMG_FMT_RGB, 1);
    for (int n = 0; n < 12; ++n) image->data[n] = static_cast<uint8_t>(n * 7);
    for (int n = 0; n < 4; ++n) image->depth_data[n] = 0.5f * n;
    image->valid_x_min = 1;
    image->valid_y_max = 0;

    FakeFile file;
    ASSERT_EQ(dyx_image_to_file(image.get(), &kFakeOps, &file, 0), 0);
    EXPECT_EQ(file.calls, (Calls{"write_image", "set_attribute_count", "write_attribute"}));
    EXPECT_EQ(file.attributes, 1);

    file.calls.clear();
    ImagePtr back(dyx_image_from_file(&kFakeOps, &file, 0));
    ASSERT_TRUE(back);
    EXPECT_EQ(file.calls,
              (Calls{"read_header", "attribute_count", "read_attribute", "read_pixels", "read_depth"}));
    EXPECT_EQ(bytes_of(back.get()), bytes_of(image.get()));
    EXPECT_EQ(back->depth_data[3], 1.5f);
    EXPECT_EQ(
        (std::vector<int32_t>{back->valid_x_min, back->valid_y_min, back->valid_x_max, back->valid_y_max}),
        (std::vector<int32_t>{1, 0, 1, 0}));

    // Without the attribute the rectangle is the whole image.
    FakeFile plain;
    plain.width = 3, plain.height = 2, plain.pixels.assign(6, 4);
    back.reset(dyx_image_from_file(&kFakeOps, &plain, 0));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->valid_x_max, 2);
    EXPECT_EQ(back->valid_y_max, 1);
    EXPECT_EQ(plain.calls, (Calls{"read_header", "attribute_count", "read_pixels"}));
}

TEST(ImageFile, FailuresStopAtTheFirstStatus) {
    ImagePtr image = make_image(1, 1, DYX_IMG_FMT_L);
    for (int step = 0; step < 3; ++step) {
        FakeFile file;
        file.fail_step = step;
        EXPECT_EQ(dyx_image_to_file(image.get(), &kFakeOps, &file, 0), 9);
        EXPECT_EQ(file.calls.size(), static_cast<size_t>(step + 1));
    }

    testing_support::LogCapture capture;
    FakeFile crowded, failing, negative;
    crowded.attributes = 2;
    EXPECT_EQ(dyx_image_from_file(&kFakeOps, &crowded, 0), nullptr);
    ASSERT_EQ(capture.console.lines.size(), 1u);
    EXPECT_EQ(capture.console.lines[0], "ERROR: dyx_image_from_file: more than 1 attribute!\n");
    failing.fail_step = 2;  // read_pixels
    EXPECT_EQ(dyx_image_from_file(&kFakeOps, &failing, 0), nullptr);
    negative.width = -1;
    EXPECT_EQ(dyx_image_from_file(&kFakeOps, &negative, 0), nullptr);
}
