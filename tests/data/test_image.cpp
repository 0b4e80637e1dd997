// Image buffer records: allocation, release, free callback, header
// comparison, and the hand-over to a host's file table.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "dyx_image.h"
#include "image_test_util.h"
#include "log_capture.h"

using image_testing::ImagePtr;
using image_testing::make_image;

TEST(ImageAlloc, SizesOfPixelAndDepthData) {
    ImagePtr rgb = make_image(3, 2, DYX_IMG_FMT_RGB);
    ASSERT_TRUE(rgb);
    EXPECT_EQ(dyx_image_data_size(rgb.get()), 18u);
    EXPECT_NE(rgb->data, nullptr);
    EXPECT_EQ(rgb->depth_data, nullptr);
    EXPECT_EQ(rgb->aux_data, nullptr);
    EXPECT_EQ(rgb->valid_x_min, 0);
    EXPECT_EQ(rgb->valid_y_min, 0);
    EXPECT_EQ(rgb->valid_x_max, 2);
    EXPECT_EQ(rgb->valid_y_max, 1);

    ImagePtr with_depth = make_image(3, 2, DYX_IMG_FMT_RGB, 1);
    ASSERT_TRUE(with_depth);
    ASSERT_NE(with_depth->depth_data, nullptr);
    // The whole plane is writable (the sanitizer build checks the bounds).
    for (int n = 0; n < 6; ++n) with_depth->depth_data[n] = 1.0f;
    std::memset(with_depth->data, 0, 18);
}

TEST(ImageAlloc, ComponentsPerPixel) {
    const std::map<int32_t, int> expected = {{DYX_IMG_FMT_A, 1},
                                             {DYX_IMG_FMT_L, 1},
                                             {DYX_IMG_FMT_LA, 2},
                                             {DYX_IMG_FMT_RGB, 3},
                                             {DYX_IMG_FMT_RGBA, 4},
                                             {3, 0},
                                             {0, 0},
                                             {32, 0}};
    for (const auto &entry : expected) {
        dyx_image_t record{};
        record.format = entry.first;
        EXPECT_EQ(dyx_image_color_components_per_pixel(&record), entry.second) << entry.first;
    }
}

TEST(ImageAlloc, EmptyAreaAcceptsAnyFormat) {
    ImagePtr wide = make_image(0, 5, 3);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->data, nullptr);
    ImagePtr tall = make_image(5, 0, DYX_IMG_FMT_RGB, 1);
    ASSERT_TRUE(tall);
    EXPECT_EQ(tall->data, nullptr);
    EXPECT_EQ(tall->depth_data, nullptr);
}

TEST(ImageAlloc, BadFormatIsReported) {
    testing_support::LogCapture capture;
    dyx_image_pool_create(8);
    EXPECT_EQ(dyx_image_alloc(2, 2, 0, 3), nullptr);
    ASSERT_EQ(capture.console.lines.size(), 1u);
    EXPECT_EQ(capture.console.lines[0], "ERROR: dyx_image_alloc: bad pixelFormat\n");
}

// Regression: the byte count used to be a 32-bit product, so a huge image
// was allocated short and then overrun.
TEST(ImageAlloc, OversizedImagesAreRefusedNotAllocatedShort) {
    testing_support::LogCapture capture;
    dyx_image_pool_create(8);
    // (2^32 - 1)^2 wraps to 1 in 32 bits; the real size is far beyond memory.
    EXPECT_EQ(dyx_image_alloc(0xffffffffu, 0xffffffffu, 0, DYX_IMG_FMT_RGBA), nullptr);
    EXPECT_EQ(dyx_image_alloc(0xffffffffu, 0xffffffffu, 1, DYX_IMG_FMT_L), nullptr);
    EXPECT_FALSE(capture.console.lines.empty());
}

TEST(ImageFree, NullVariableAndReset) {
    dyx_image_t *image = nullptr;
    dyx_image_free(&image);
    EXPECT_EQ(image, nullptr);
    dyx_image_pool_create(8);
    image = dyx_image_alloc(4, 4, 1, DYX_IMG_FMT_LA);
    ASSERT_NE(image, nullptr);
    dyx_image_free(&image);
    EXPECT_EQ(image, nullptr);
}

namespace {
std::vector<std::string> freed;
void note_free(dyx_image_t *image) {
    // The buffers are gone by the time the callback runs.
    EXPECT_EQ(image->data, nullptr);
    freed.push_back(static_cast<const char *>(image->free_cb_data));
}
}  // namespace

TEST(ImageFree, CallbackIsFixedAtAllocation) {
    freed.clear();
    dyx_image_free_cb previous_cb = nullptr;
    void *previous_data = nullptr;
    dyx_image_set_freeCB(note_free, const_cast<char *>("first"), &previous_cb, &previous_data);
    ImagePtr early = make_image(2, 2, DYX_IMG_FMT_L);
    dyx_image_set_freeCB(note_free, const_cast<char *>("second"), nullptr, nullptr);
    ImagePtr late = make_image(2, 2, DYX_IMG_FMT_L);
    dyx_image_set_freeCB(previous_cb, previous_data, nullptr, nullptr);
    ImagePtr none = make_image(2, 2, DYX_IMG_FMT_L);

    late.reset();
    early.reset();
    none.reset();
    EXPECT_EQ(freed, (std::vector<std::string>{"second", "first"}));
}

TEST(ImageFree, CallbackReportsPreviousSetting) {
    int marker = 0;
    dyx_image_set_freeCB(note_free, &marker, nullptr, nullptr);
    dyx_image_free_cb old_cb = nullptr;
    void *old_data = nullptr;
    dyx_image_set_freeCB(nullptr, nullptr, &old_cb, &old_data);
    EXPECT_EQ(old_cb, &note_free);
    EXPECT_EQ(old_data, &marker);
}

TEST(ImagePool, CreateTwiceKeepsThePool) {
    EXPECT_EQ(dyx_image_pool_create(8), 0);
    ImagePtr kept = make_image(1, 1, DYX_IMG_FMT_A);
    EXPECT_EQ(dyx_image_pool_create(64), 0);
    ImagePtr another = make_image(1, 1, DYX_IMG_FMT_A);
    EXPECT_TRUE(kept && another);
}

TEST(ImageHeader, DiffFlags) {
    ImagePtr rgb = make_image(4, 3, DYX_IMG_FMT_RGB);
    ImagePtr rgb_depth = make_image(4, 3, DYX_IMG_FMT_RGB, 1);
    ImagePtr rgb_small = make_image(3, 3, DYX_IMG_FMT_RGB);
    ImagePtr rgb_short = make_image(4, 2, DYX_IMG_FMT_RGB);
    ImagePtr la = make_image(4, 3, DYX_IMG_FMT_LA);

    EXPECT_EQ(dyx_image_hdr_diff(rgb.get(), la.get(), 0), 0);
    EXPECT_EQ(dyx_image_hdr_diff(rgb.get(), rgb_depth.get(), 3), 0);
    EXPECT_EQ(dyx_image_hdr_diff(rgb.get(), rgb_depth.get(), 4), 1);
    EXPECT_EQ(dyx_image_hdr_diff(rgb_depth.get(), rgb.get(), 4), 1);
    EXPECT_EQ(dyx_image_hdr_diff(rgb.get(), rgb_small.get(), 1), 1);
    EXPECT_EQ(dyx_image_hdr_diff(rgb.get(), rgb_short.get(), 1), 1);
    EXPECT_EQ(dyx_image_hdr_diff(rgb.get(), rgb_small.get(), 6), 0);
    EXPECT_EQ(dyx_image_hdr_diff(rgb.get(), la.get(), 1), 0);
    EXPECT_EQ(dyx_image_hdr_diff(rgb.get(), la.get(), 2), 1);
    EXPECT_EQ(dyx_image_hdr_diff(rgb.get(), rgb.get(), 7), 0);
}

// ---- file access table ------------------------------------------------------

namespace {

// A host "file": one stored item, and a log of the calls made on it.
struct FakeFile {
    int32_t width = 0, height = 0, format = 0, depth = 0;
    std::vector<uint8_t> pixels;
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
        *w = item->width;
        *h = item->height;
        *f = item->format;
        *d = item->depth;
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
        item->width = w;
        item->height = h;
        item->format = f;
        item->depth = d;
        const size_t count = static_cast<size_t>(w) * h;
        item->pixels.assign(data, data + count * (f == DYX_IMG_FMT_RGB ? 3 : 1));
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

}  // namespace

TEST(ImageFile, RoundTripCarriesPixelsDepthAndRectangle) {
    ImagePtr image = make_image(2, 2, DYX_IMG_FMT_RGB, 1);
    for (int n = 0; n < 12; ++n) image->data[n] = static_cast<uint8_t>(n * 7);
    for (int n = 0; n < 4; ++n) image->depth_data[n] = 0.5f * n;
    image->valid_x_min = 1;
    image->valid_y_max = 0;

    FakeFile file;
    ASSERT_EQ(dyx_image_to_file(image.get(), &kFakeOps, &file, 0), 0);
    EXPECT_EQ(file.calls,
              (std::vector<std::string>{"write_image", "set_attribute_count", "write_attribute"}));
    EXPECT_EQ(file.attributes, 1);

    file.calls.clear();
    ImagePtr back(dyx_image_from_file(&kFakeOps, &file, 0));
    ASSERT_TRUE(back);
    EXPECT_EQ(file.calls, (std::vector<std::string>{"read_header", "attribute_count", "read_attribute",
                                                    "read_pixels", "read_depth"}));
    EXPECT_EQ(image_testing::bytes_of(back.get()), image_testing::bytes_of(image.get()));
    EXPECT_EQ(back->depth_data[3], 1.5f);
    EXPECT_EQ(back->valid_x_min, 1);
    EXPECT_EQ(back->valid_y_min, 0);
    EXPECT_EQ(back->valid_x_max, 1);
    EXPECT_EQ(back->valid_y_max, 0);
}

TEST(ImageFile, WithoutAttributeTheRectangleIsTheWholeImage) {
    FakeFile file;
    file.width = 3;
    file.height = 2;
    file.format = DYX_IMG_FMT_L;
    file.pixels.assign(6, 4);
    ImagePtr back(dyx_image_from_file(&kFakeOps, &file, 0));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->valid_x_max, 2);
    EXPECT_EQ(back->valid_y_max, 1);
    EXPECT_EQ(file.calls, (std::vector<std::string>{"read_header", "attribute_count", "read_pixels"}));
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
    FakeFile crowded;
    crowded.width = crowded.height = 1;
    crowded.format = DYX_IMG_FMT_L;
    crowded.attributes = 2;
    EXPECT_EQ(dyx_image_from_file(&kFakeOps, &crowded, 0), nullptr);
    ASSERT_EQ(capture.console.lines.size(), 1u);
    EXPECT_EQ(capture.console.lines[0], "ERROR: dyx_image_from_file: more than 1 attribute!\n");

    FakeFile failing;  // read_pixels is call number 2
    failing.width = failing.height = 1;
    failing.format = DYX_IMG_FMT_L;
    failing.pixels.assign(1, 0);
    failing.fail_step = 2;
    EXPECT_EQ(dyx_image_from_file(&kFakeOps, &failing, 0), nullptr);

    FakeFile negative;
    negative.width = -1;
    negative.height = 1;
    negative.format = DYX_IMG_FMT_L;
    EXPECT_EQ(dyx_image_from_file(&kFakeOps, &negative, 0), nullptr);
}
