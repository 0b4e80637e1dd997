// Frame transfer between image buffers and the fake codecs' files: eyes
// to per-frame and container slots, size mismatches, compressed frames.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "log_capture.h"
#include "udil_test_support.h"

using testing_support::LogCapture;
using udil_test::count_lines;
using udil_test::FakeControl;

namespace {

constexpr UdilMovieInfo kMovie = udil_test::kFakeMovie;
constexpr size_t kPictureBytes = udil_test::kFakePictureBytes;

class Transfer : public udil_test::FakeCodecsTest {
protected:
    void SetUp() override {
        FakeCodecsTest::SetUp();
        left_ = picture(11);
        right_ = picture(22);
        a = picture(0);
        b = picture(0);
    }

    // The first pixel byte of the picture stored in a fake file (one eye).
    static int stored_value(const std::string &path, int part = 0) {
        const std::string bytes = udil_test::read_all(path);
        const size_t offset = 64 + size_t(part) * kPictureBytes;
        return bytes.size() > offset ? static_cast<unsigned char>(bytes[offset]) : -1;
    }

    dyx_image_t *left_ = nullptr;
    dyx_image_t *right_ = nullptr;
    dyx_image_t *a = nullptr;  // blank pictures to read into
    dyx_image_t *b = nullptr;
};

// Guards against an image of another shape being overrun by the codec.
TEST_F(Transfer, NegativeFramesNullStreamsAndOtherShapesAreRefused) {
    UdilStream *stream = writer("fmono", "f_###");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(dyx_udil_save_pixels(stream, -1, 0, left_->data, nullptr), 6);
    EXPECT_STREQ(dyx_udil_get_last_error_string(), "Invalid frame number specified");
    EXPECT_EQ(dyx_udil_save_pixels(nullptr, 0, 0, left_->data, nullptr), 1);
    EXPECT_EQ(dyx_udil_get_image(nullptr, 0, 0, left_, nullptr), 1);
    dyx_image_t *small = picture(1, 2, 2);
    dyx_image_t *grey = picture(1, 4, 2, DYX_IMG_FMT_L);
    EXPECT_EQ(dyx_udil_save_image(stream, 0, 0, small, nullptr), 6);
    EXPECT_EQ(dyx_udil_save_image(stream, 0, 3, left_, grey), 6);
    EXPECT_FALSE(udil_test::exists(scratch_.file("f_000.fkm")));
    ASSERT_EQ(dyx_udil_save_image(stream, 0, 0, left_, nullptr), 0);
    // Frames have no upper bound when writing.
    EXPECT_EQ(dyx_udil_save_image(stream, 12345, 0, left_, nullptr), 0);
    EXPECT_TRUE(udil_test::exists(scratch_.file("f_12345.fkm")));
    dyx_udil_file_close(&stream);

    stream = reader("fmono", "f_###.fkm", 0, 0);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(dyx_udil_get_image(stream, 0, 0, small, nullptr), 6);
    EXPECT_EQ(dyx_udil_uncompress_image(stream, 0, 0, nullptr, 0, small), 6);
    dyx_udil_file_close(&stream);
}

TEST_F(Transfer, BothEyesToAMonoCodecGoToTwoNamedFilesOrAreRefused) {
    FakeControl control(udil_test::fake_path("main", "fmono"));
    UdilStream *stream = writer("fmono", "shot_@_###");
    ASSERT_EQ(dyx_udil_save_image(stream, 4, 3, left_, right_), 0);
    EXPECT_EQ(stored_value(scratch_.file("shot_l_004.fkm")), 11);
    EXPECT_EQ(stored_value(scratch_.file("shot_r_004.fkm")), 22);
    EXPECT_EQ(count_lines(control.log(), "eye=1 left=1 right=0"), 2);
    EXPECT_EQ(count_lines(control.log(), "eye=3"), 0);
    // One eye at a time names its own file.
    ASSERT_EQ(dyx_udil_save_image(stream, 5, 2, nullptr, right_), 0);
    EXPECT_EQ(stored_value(scratch_.file("shot_r_005.fkm")), 22);
    EXPECT_FALSE(udil_test::exists(scratch_.file("shot_l_005.fkm")));
    ASSERT_EQ(dyx_udil_save_image(stream, 5, 1, left_, nullptr), 0);
    EXPECT_EQ(stored_value(scratch_.file("shot_l_005.fkm")), 11);
    dyx_udil_file_close(&stream);

    // Reading them back: eye 3 reads the two files, each with eye 1.
    UdilStream *input = reader("fmono", "shot_@_###.fkm", 4, 4);
    ASSERT_NE(input, nullptr);
    control.clear();
    ASSERT_EQ(dyx_udil_get_image(input, 0, 3, a, b), 0);
    EXPECT_EQ(a->data[0], 11);
    EXPECT_EQ(b->data[0], 22);
    EXPECT_EQ(count_lines(control.log(), "get "), 2);
    EXPECT_EQ(count_lines(control.log(), "create_reader"), 2);  // each file is probed
    dyx_udil_file_close(&input);

    // Guards against the right eye silently replacing the left (one name) or
    // being dropped (one movie file without stereo frames).
    stream = writer("fmono", "same_#");
    EXPECT_EQ(dyx_udil_save_image(stream, 1, 3, left_, right_), 6);
    EXPECT_STREQ(dyx_udil_get_last_error_string(),
                 "The codec stores one eye per file: the name needs an @ for the eye");
    EXPECT_FALSE(udil_test::exists(scratch_.file("same_1.fkm")));
    EXPECT_EQ(dyx_udil_save_image(stream, 1, 1, left_, nullptr), 0);  // one eye is fine
    dyx_udil_file_close(&stream);

    UdilMovieInfo info = kMovie;
    info.stereo = 1;
    stream = writer("fmulti", "movie", info);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(dyx_udil_save_image(stream, 0, 3, left_, right_), 6);
    EXPECT_EQ(dyx_udil_save_image(stream, 0, 1, left_, nullptr), 0);
    dyx_udil_file_close(&stream);
}

TEST_F(Transfer, BothEyesToAStereoCodecMakeOneCall) {
    FakeControl control(udil_test::fake_path("main", "fstereo"));
    UdilMovieInfo info = kMovie;
    info.stereo = 1;
    UdilStream *stream = writer("fstereo", "st_@_###", info);
    ASSERT_EQ(dyx_udil_save_image(stream, 1, 3, left_, right_), 0);
    EXPECT_EQ(
        count_lines(control.log(), "save " + scratch_.file("st_@_001.fks") + " frame=1 eye=3 left=1 right=1"),
        1);
    EXPECT_EQ(stored_value(scratch_.file("st_@_001.fks"), 1), 22);
    dyx_udil_file_close(&stream);

    // Read back through a template without '@' (with one, reading looks for
    // a left and a right file).
    stream = writer("fstereo", "st_###", info);
    ASSERT_EQ(dyx_udil_save_image(stream, 1, 3, left_, right_), 0);
    dyx_udil_file_close(&stream);
    UdilStream *input = reader("fstereo", "st_###.fks", 1, 1);
    ASSERT_NE(input, nullptr);
    ASSERT_EQ(dyx_udil_get_image(input, 0, 3, a, b), 0);
    EXPECT_EQ(a->data[0], 11);
    EXPECT_EQ(b->data[0], 22);
    dyx_udil_file_close(&input);

    // So does a container codec with stereo frames; its failure is passed on.
    FakeControl multi_control(udil_test::fake_path("main", "fmultistereo"));
    stream = writer("fmultistereo", "both", info);
    ASSERT_EQ(dyx_udil_save_image(stream, 0, 3, left_, right_), 0);
    EXPECT_EQ(count_lines(multi_control.log(), "frame=0 eye=3 left=1 right=1"), 1);
    multi_control.fail("save", "", 31);
    EXPECT_EQ(dyx_udil_save_image(stream, 1, 3, left_, right_), 31);
    EXPECT_STREQ(dyx_udil_get_last_error_string(), "fake: save refused for frame 1");
    dyx_udil_file_close(&stream);
}

TEST_F(Transfer, ContainerEyePairInEveryEyeCombination) {
    FakeControl control(udil_test::fake_path("main", "fmulti"));
    UdilStream *stream = writer("fmulti", "pair_@");
    ASSERT_EQ(dyx_udil_save_image(stream, 0, 3, left_, right_), 0);
    ASSERT_EQ(dyx_udil_save_image(stream, 1, 1, right_, nullptr), 0);
    ASSERT_EQ(dyx_udil_save_image(stream, 1, 2, nullptr, left_), 0);
    EXPECT_EQ(dyx_udil_save_image(stream, 2, 0, left_, right_), 0);  // eye 0 writes nothing
    EXPECT_EQ(count_lines(control.log(), "save "), 4);
    EXPECT_EQ(count_lines(control.log(), "eye=1 left=1 right=0"), 4);
    dyx_udil_file_close(&stream);

    UdilMovieInfo info;
    int32_t first = -1, last = -1;
    UdilStream *input = dyx_udil_file_open(scratch_.file("pair_@.fkv").c_str(), codec("fmulti"), &info,
                                           nullptr, 0, nullptr, &first, &last);
    ASSERT_NE(input, nullptr);
    EXPECT_TRUE(info.stereo == 1 && input->slots[0].eye_pair == 1);
    EXPECT_EQ(dyx_udil_total_frames(input), 2);
    ASSERT_EQ(dyx_udil_get_image(input, 0, 3, a, b), 0);
    EXPECT_EQ(a->data[0], 11);
    EXPECT_EQ(b->data[0], 22);
    ASSERT_EQ(dyx_udil_get_image(input, 1, 2, nullptr, b), 0);
    EXPECT_EQ(b->data[0], 11);
    ASSERT_EQ(dyx_udil_get_image(input, 1, 1, a, nullptr), 0);
    EXPECT_EQ(a->data[0], 22);

    // A failing left read with a good right read: the left eye's status,
    // and the right picture still arrives.
    control.fail("get", "pair_l", 21);
    b->data[0] = 0;
    EXPECT_EQ(dyx_udil_get_image(input, 0, 3, a, b), 21);
    EXPECT_EQ(b->data[0], 22);
    EXPECT_STREQ(dyx_udil_get_last_error_string(), "fake: get refused for frame 0");
    control.clear();
    control.fail("get", "pair_r", 23);
    EXPECT_EQ(dyx_udil_get_image(input, 0, 3, a, b), 23);
    // A second pair may follow; a single file may not.
    EXPECT_EQ(append(input, "fmulti", "pair_@.fkv"), 0);
    EXPECT_EQ(append(input, "fmulti", "pair_l.fkv"), 1);
    EXPECT_EQ(dyx_udil_total_frames(input), 4);
    dyx_udil_file_close(&input);
}

TEST_F(Transfer, CompressedRequestIsSplitAcrossTwoContainers) {
    FakeControl control(udil_test::fake_path("main", "fmulti"));
    write_frames("fmulti", "a", 0, 2);
    write_frames("fmulti", "b", 0, 3, 100);
    UdilStream *input = reader("fmulti", "a.fkv");
    ASSERT_EQ(append(input, "fmulti", "b.fkv"), 0);
    EXPECT_EQ(dyx_udil_get_compressed_size(input), int64_t(kPictureBytes));

    const int32_t stride = 32;
    std::vector<uint8_t> data(size_t(stride) * 5, 0xee);
    std::vector<int64_t> sizes(5, -1);
    std::vector<int32_t> frames(5, -1);
    UdilCompressedRequest request = {99, 1, 5, stride, 0, 0, data.data(), sizes.data(), frames.data()};
    control.clear();
    ASSERT_EQ(dyx_udil_get_images_compressed(input, &request), 0);
    EXPECT_EQ(
        count_lines(control.log(), "compressed " + scratch_.file("a.fkv") + " marker=-1 first=1 count=2"), 1);
    EXPECT_EQ(
        count_lines(control.log(), "compressed " + scratch_.file("b.fkv") + " marker=-1 first=0 count=3"), 1);
    EXPECT_EQ(frames, (std::vector<int32_t>{1, 2, 0, 1, 2}));
    EXPECT_EQ(sizes[4], int64_t(kPictureBytes));
    EXPECT_EQ(data[0], 1);
    EXPECT_EQ(data[2 * stride], 100);  // the second call's data starts two strides on
    EXPECT_EQ(data[4 * stride + kPictureBytes - 1], 102);
    EXPECT_EQ(data[4 * stride + kPictureBytes], 0xee);

    // Decoding hands the data to the plug-in.
    dyx_image_t *image = picture(0);
    ASSERT_EQ(dyx_udil_uncompress_image(input, 4, 0, data.data() + 2 * stride, int32_t(kPictureBytes), image),
              0);
    EXPECT_EQ(image->data[0], 100);

    request.first_frame = 6;
    request.frame_count = 2;
    EXPECT_EQ(dyx_udil_get_images_compressed(input, &request), 6);
    request.frame_count = 0;
    EXPECT_EQ(dyx_udil_get_images_compressed(input, &request), 0);
    EXPECT_EQ(dyx_udil_uncompress_image(input, 7, 0, data.data(), 1, image), 6);
    dyx_udil_file_close(&input);
}

// A frame file that went missing, or became a FIFO (never opened: reading
// it would wait for ever), fails the size of per-frame compressed files.
TEST_F(Transfer, PerFrameFilesAndCodecsWithoutCompressedFrames) {
    write_frames("fmonoc", "c_#", 0, 2);
    UdilStream *input = reader("fmonoc", "c_#.fkc", 0, 2);
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(dyx_udil_get_compressed_size(input), int64_t(kPictureBytes));
    const std::string frame1 = scratch_.file("c_1.fkc");
    ASSERT_EQ(std::remove(frame1.c_str()), 0);
    LogCapture capture;
    EXPECT_EQ(dyx_udil_get_compressed_size(input), -1);
    ASSERT_EQ(capture.console.lines.size(), 1u);
    EXPECT_EQ(capture.console.lines[0], "ERROR: can't open file " + frame1 + "\n");
    ASSERT_EQ(mkfifo(frame1.c_str(), 0600), 0);
    EXPECT_EQ(dyx_udil_get_compressed_size(input), -1);
    EXPECT_EQ(std::string(dyx_udil_get_last_error_string()), frame1 + ": not a regular file (a FIFO)");
    dyx_udil_file_close(&input);

    // A codec without compressed frames: uncompressing reads the file.
    UdilStream *stream = writer("fmultinc", "n");
    ASSERT_EQ(dyx_udil_save_image(stream, 0, 0, right_, nullptr), 0);
    dyx_udil_file_close(&stream);
    input = reader("fmultinc", "n.fkn");
    EXPECT_EQ(dyx_udil_get_compressed_size(input), -1);
    dyx_image_t *image = picture(0);
    ASSERT_EQ(dyx_udil_uncompress_image(input, 0, 0, "ignored", 7, image), 0);
    EXPECT_EQ(image->data[0], 22);
    // Without compressed frames the request's frames are skipped.
    std::vector<uint8_t> data(64, 0xee);
    UdilCompressedRequest request = {0, 0, 1, 64, 0, 0, data.data(), nullptr, nullptr};
    EXPECT_EQ(dyx_udil_get_images_compressed(input, &request), 0);
    EXPECT_EQ(data[0], 0xee);
    dyx_udil_file_close(&input);
}

// Guards against a frame file deleted after the stream was opened being
// reported with no text, leaving an older failure's message in place.
TEST_F(Transfer, LargerOrDeletedFrameFilesFailAndTheOthersStillRead) {
    write_frames("fmono", "gone_#", 0, 2, 10);
    UdilMovieInfo wide = kMovie;
    wide.width = 8;
    write_frames("fmono", "gone_#", 1, 1, 0, wide);

    UdilStream *input = reader("fmono", "gone_#.fkm", 0, 2);
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(dyx_udil_get_image(input, 1, 0, right_, nullptr), 12);
    ASSERT_EQ(std::remove(scratch_.file("gone_0.fkm").c_str()), 0);
    dyx_udil_set_err_str("an older failure");
    EXPECT_EQ(dyx_udil_get_image(input, 0, 0, right_, nullptr), 7);
    EXPECT_EQ(std::string(dyx_udil_get_last_error_string()),
              "Unable to read frame file " + scratch_.file("gone_0.fkm") + ": No such file or directory");
    EXPECT_EQ(dyx_udil_get_image(input, 2, 0, right_, nullptr), 0);
    EXPECT_EQ(right_->data[0], 12);
    dyx_udil_file_close(&input);
}

}  // namespace
