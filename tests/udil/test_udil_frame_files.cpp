// Per-frame files of one sequence that differ in layout: the layout that
// holds them all, and frames read through the build's netpbm plug-in from
// hand-made PGM, PPM and PAM files.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "../../udil/libsrc/udil_frame_files.h"
#include "../utils/scratch_dir.h"
#include "dyx_image.h"
#include "dyx_udil.h"
#include "dyx_udil_stream.h"

using testing_support::ScratchDir;

namespace {

constexpr int32_t A = DYX_IMG_FMT_A, L = DYX_IMG_FMT_L, LA = DYX_IMG_FMT_LA, RGB = DYX_IMG_FMT_RGB,
                  RGBA = DYX_IMG_FMT_RGBA;

TEST(FrameFiles, JoinedLayoutHoldsEveryComponentOfBoth) {
    const struct {
        int32_t a, b, joined;
    } cases[] = {
        {L, L, L},  {L, RGB, RGB},  {RGB, L, RGB}, {L, LA, LA},     {LA, RGB, RGBA}, {RGB, RGBA, RGBA},
        {A, L, LA}, {A, RGB, RGBA}, {A, A, A},     {RGBA, L, RGBA}, {0, RGB, RGB},   {RGB, 0, RGB},
    };
    for (const auto &c : cases) EXPECT_EQ(udil::joined_layout(c.a, c.b), c.joined) << c.a << " " << c.b;
}

// Netpbm pictures of 2 x 1 pixels (3 x 1 for the odd one out), written by hand.
void write_file(const std::string &path, const std::string &bytes) {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

const std::string kGrey = std::string("P5\n2 1\n255\n") + "\x10\x80";
const std::string kColour = std::string("P6\n2 1\n255\n") + "\x01\x02\x03\x04\x05\x06";
const std::string kGreyAlpha =
    std::string("P7\nWIDTH 2\nHEIGHT 1\nDEPTH 2\nMAXVAL 255\nTUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n") +
    "\x20\x40\x30\x50";
const std::string kWide = std::string("P5\n3 1\n255\n") + "\x01\x02\x03";

class SequenceLayout : public ::testing::Test {
protected:
    void SetUp() override {
        dyx_udil_list_done();
        dyx_image_pool_create(8);
        ASSERT_EQ(0, dyx_udil_scan_libraries(ORVO_TEST_PLUGIN_DIR));
        codec_ = dyx_udil_find_by_name("ppm");
        ASSERT_NE(codec_, nullptr);
        ASSERT_EQ(0, dyx_udil_load(codec_));
    }
    void TearDown() override { dyx_udil_list_done(); }

    // Opens frames 0 .. last of f.####.pnm.
    UdilStream *open(UdilMovieInfo &info, int32_t last) {
        int32_t first = 0, count = 0;
        UdilOption options[20];
        return dyx_udil_file_open((dir_ / "f.####.pnm").c_str(), codec_, &info, &count, 20, options, &first,
                                  &last);
    }

    // The pixel bytes of stream frame `frame`, read in the stream's layout.
    std::string frame_bytes(UdilStream *stream, const UdilMovieInfo &info, int32_t frame, int *status) {
        dyx_image_t *image =
            dyx_image_alloc(uint32_t(info.width), uint32_t(info.height), 0, info.pixel_format);
        *status = dyx_udil_get_image(stream, frame, UDIL_EYE_MONO, image, nullptr);
        const std::string bytes(reinterpret_cast<const char *>(image->data),
                                size_t(dyx_image_data_size(image)));
        dyx_image_free(&image);
        return bytes;
    }

    ScratchDir dir_;
    UdilRecord *codec_ = nullptr;
};

TEST_F(SequenceLayout, EveryFrameReadsInTheLayoutThatHoldsThemAll) {
    write_file(dir_ / "f.0000.pnm", kGrey);
    write_file(dir_ / "f.0001.pnm", kColour);
    write_file(dir_ / "f.0002.pnm", kGreyAlpha);
    write_file(dir_ / "f.0003.pnm", kWide);
    const struct {
        int32_t last, layout;
        std::string frames[3];  // the pixels of frames 0, 1, 2 in that layout
    } cases[] = {
        {0, L, {"\x10\x80", "", ""}},
        {1, RGB, {"\x10\x10\x10\x80\x80\x80", "\x01\x02\x03\x04\x05\x06", ""}},
        // Opaque alpha for the pictures without.
        {2,
         RGBA,
         {"\x10\x10\x10\xff\x80\x80\x80\xff", "\x01\x02\x03\xff\x04\x05\x06\xff",
          "\x20\x20\x20\x40\x30\x30\x30\x50"}},
        // A file of another size is passed over, and refused when read.
        {3, RGBA, {"\x10\x10\x10\xff\x80\x80\x80\xff", "", ""}},
    };
    for (const auto &c : cases) {
        UdilMovieInfo info{};
        UdilStream *stream = open(info, c.last);
        ASSERT_NE(stream, nullptr) << dyx_udil_get_last_error_string();
        EXPECT_EQ(info.pixel_format, c.layout) << c.last;
        EXPECT_EQ(info.frames, c.last + 1);
        for (int32_t frame = 0; frame < 3 && frame <= c.last; ++frame) {
            if (c.frames[frame].empty()) continue;
            int status = -1;
            EXPECT_EQ(frame_bytes(stream, info, frame, &status), c.frames[frame]) << c.last << " " << frame;
            EXPECT_EQ(status, 0) << dyx_udil_get_last_error_string();
        }
        if (c.last == 2) {
            // Without compressed frames the codec's file is read instead, alike.
            dyx_image_t *image = dyx_image_alloc(2, 1, 0, RGBA);
            EXPECT_EQ(dyx_udil_uncompress_image(stream, 1, UDIL_EYE_MONO, nullptr, 0, image), 0);
            EXPECT_EQ(std::string(reinterpret_cast<const char *>(image->data), 8), c.frames[1]);
            dyx_image_free(&image);
        }
        if (c.last == 3) {
            int status = 0;
            frame_bytes(stream, info, 3, &status);
            EXPECT_EQ(status, 12);
        }
        dyx_udil_file_close(&stream);
    }
}

}  // namespace
