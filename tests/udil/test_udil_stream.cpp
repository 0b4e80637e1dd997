// Codec streams over real files written and read by the fake test codecs:
// write streams of both kinds, read streams with appended files, and the
// rules that refuse an append.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "dyx_malloc.h"
#include "udil_test_support.h"

using udil_test::count_lines;
using udil_test::FakeControl;

namespace {

constexpr UdilMovieInfo kMovie = udil_test::kFakeMovie;
constexpr size_t kPictureBytes = udil_test::kFakePictureBytes;

class Streams : public udil_test::FakeCodecsTest {};

TEST_F(Streams, WriteStreamsMakeTheirFilesAsTheCodecStoresThem) {
    FakeControl control(udil_test::fake_path("main", "fmulti"));
    UdilStream *stream = writer("fmulti", "clip");
    ASSERT_NE(stream, nullptr);
    EXPECT_TRUE(udil_test::exists(scratch_.file("clip.fkv")));  // a container is made now
    EXPECT_EQ(stream->read, 0);
    EXPECT_EQ(dyx_udil_total_frames(stream), 3);
    const UdilFileSlot &slot = stream->slots[0];
    EXPECT_TRUE(slot.container == 1 && slot.eye_pair == 0 && slot.first_frame == 0 && slot.last_frame == 2);
    EXPECT_STREQ(slot.suffix, ".fkv");
    EXPECT_EQ(dyx_udil_file_close(&stream), 0);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(dyx_udil_file_close(&stream), 6);
    EXPECT_EQ(count_lines(control.log(), "close " + scratch_.file("clip.fkv")), 1);

    // An eye mark makes a pair of containers.
    control.clear();
    stream = writer("fmulti", "clip_@");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->slots[0].eye_pair, 1);
    EXPECT_NE(stream->slots[0].secondary, nullptr);
    EXPECT_TRUE(udil_test::exists(scratch_.file("clip_l.fkv")) &&
                udil_test::exists(scratch_.file("clip_r.fkv")));
    EXPECT_EQ(count_lines(control.log(), "create_writer"), 2);
    dyx_udil_file_close(&stream);

    // A single-image codec makes no file before its frame is written.
    stream = writer("fmono", "img_###");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->slots[0].container, 0);
    EXPECT_EQ(std::string(stream->slots[0].name), scratch_.file("img_###"));
    EXPECT_FALSE(udil_test::exists(scratch_.file("img_000.fkm")));
    dyx_udil_file_close(&stream);
}

// A run of '#' asks a multi-image codec for one file per frame too: each
// file is made when its frame is written and holds it as its frame 0.
TEST_F(Streams, HashRunMakesOneFilePerFrameOfAMultiImageCodec) {
    FakeControl control(udil_test::fake_path("main", "fmulti"));
    UdilStream *stream = writer("fmulti", "clip_###");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->slots[0].container, 0);
    EXPECT_FALSE(udil_test::exists(scratch_.file("clip_000.fkv")));
    dyx_udil_file_close(&stream);
    write_frames("fmulti", "clip_###", 0, 2, 10);
    EXPECT_EQ(count_lines(control.log(), "save " + scratch_.file("clip_002.fkv") + " frame=0"), 1);
    UdilStream *reading = reader("fmulti", "clip_###.fkv", 0, 2);
    ASSERT_NE(reading, nullptr);
    EXPECT_EQ(dyx_udil_total_frames(reading), 3);
    dyx_image_t *image = picture(0);
    ASSERT_EQ(dyx_udil_get_image(reading, 2, 0, image, nullptr), 0) << dyx_udil_get_last_error_string();
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(image->data), kPictureBytes),
              std::string(kPictureBytes, char(12)));
    dyx_udil_file_close(&reading);
}

TEST_F(Streams, WriterGetsACopyOfTheOptions) {
    FakeControl control(udil_test::fake_path("main", "fmono"));
    int32_t count = 0;
    UdilOption *options = dyx_udil_parse_options(codec("fmono"), "quality 77", &count);
    ASSERT_NE(options, nullptr);
    UdilStream *stream =
        dyx_udil_file_new(scratch_.file("o_#").c_str(), codec("fmono"), &kMovie, count, options);
    ASSERT_NE(stream, nullptr);
    std::strcpy(options[0].value, "1");  // the stream keeps its own copy
    EXPECT_STREQ(stream->slots[0].options[0].value, "77");
    EXPECT_EQ(stream->slots[0].option_count, 5);
    dyx_free(options, __LINE__, __FILE__);
    EXPECT_EQ(count_lines(control.log(), "create_writer 4x2 quality=77"), 1);
    EXPECT_EQ(count_lines(control.log(), "choose_suffix quality=77"), 1);
    dyx_udil_file_close(&stream);
}

TEST_F(Streams, RefusedOutputFileFillsTheLastError) {
    FakeControl control(udil_test::fake_path("main", "fmulti"));
    control.fail("new", "", 9);
    EXPECT_EQ(writer("fmulti", "clip"), nullptr);
    EXPECT_EQ(std::string(dyx_udil_get_last_error_string()),
              "fake: new refused for " + scratch_.file("clip.fkv"));
    control.clear();
    control.fail("create_writer", "", 1);
    dyx_udil_set_err_str("before");
    EXPECT_EQ(writer("fmulti", "clip"), nullptr);
    // The plug-in's reason for giving no writer replaces the older text.
    EXPECT_EQ(std::string(dyx_udil_get_last_error_string()),
              "The fmulti codec cannot write " + scratch_.file("clip") + ": fake: writer refused");
}

TEST_F(Streams, ReadStreamsGiveTheFileBoundsAndStartAtTheFirstFileFrame) {
    write_frames("fmulti", "clip", 0, 2);
    UdilMovieInfo info;
    int32_t first = -1, last = -1, count = -1;
    UdilStream *stream = dyx_udil_file_open(scratch_.file("clip.fkv").c_str(), codec("fmulti"), &info, &count,
                                            4, nullptr, &first, &last);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(last, 2);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(info.frames == 3 && info.width == 4 && info.height == 2 && info.pixel_format == UDIL_FMT_RGB);
    EXPECT_EQ(info.attribute_b, 7);
    EXPECT_EQ(dyx_udil_total_frames(stream), 3);
    EXPECT_EQ(stream->read, 1);
    dyx_udil_file_close(&stream);

    FakeControl control(udil_test::fake_path("main", "fmono"));
    write_frames("fmono", "f_####", 10, 19);
    stream = reader("fmono", "f_####.fkm", 10, 19);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(dyx_udil_total_frames(stream), 10);
    dyx_image_t *image = picture(0);
    control.clear();
    ASSERT_EQ(dyx_udil_get_image(stream, 0, 0, image, nullptr), 0);
    EXPECT_EQ(image->data[0], 10);
    EXPECT_EQ(count_lines(control.log(), "open " + scratch_.file("f_0010.fkm")), 1);
    ASSERT_EQ(dyx_udil_get_image(stream, 9, 0, image, nullptr), 0);
    EXPECT_EQ(image->data[kPictureBytes - 1], 19);
    EXPECT_EQ(dyx_udil_get_image(stream, 10, 0, image, nullptr), 6);
    EXPECT_STREQ(dyx_udil_get_last_error_string(), "Invalid frame number specified");
    dyx_udil_file_close(&stream);
}

TEST_F(Streams, AppendReadsOnAndRefusesAnotherPictureSizeAndA33rdFile) {
    write_frames("fmulti", "a", 0, 2);
    write_frames("fmulti", "b", 0, 3, 100);
    UdilMovieInfo wide = kMovie;
    wide.width = 8;
    write_frames("fmulti", "wide", 0, 2, 0, wide);
    UdilStream *stream = reader("fmulti", "a.fkv");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(append(stream, "fmulti", "wide.fkv"), 1);
    EXPECT_EQ(stream->file_count, 1);
    EXPECT_EQ(dyx_udil_total_frames(stream), 3);
    ASSERT_EQ(append(stream, "fmulti", "b.fkv"), 0);
    EXPECT_EQ(dyx_udil_total_frames(stream), 7);
    dyx_image_t *image = picture(0);
    ASSERT_EQ(dyx_udil_get_image(stream, 5, 0, image, nullptr), 0);
    EXPECT_EQ(image->data[0], 102);  // file frame 2 of the second file
    ASSERT_EQ(dyx_udil_get_image(stream, 2, 0, image, nullptr), 0);
    EXPECT_EQ(image->data[0], 2);

    for (int k = 2; k < DYX_UDIL_MAX_FILES; ++k) ASSERT_EQ(append(stream, "fmulti", "a.fkv"), 0) << k;
    EXPECT_EQ(stream->file_count, 32);
    EXPECT_EQ(dyx_udil_total_frames(stream), 97);
    EXPECT_EQ(append(stream, "fmulti", "a.fkv"), 2);
    EXPECT_EQ(stream->file_count, 32);
    dyx_udil_file_close(&stream);
}

TEST_F(Streams, EmptyFrameRangeAndRefusalsLeaveNoStream) {
    write_frames("fmono", "f_##", 0, 3);
    EXPECT_EQ(reader("fmono", "f_##.fkm", 3, 2), nullptr);
    EXPECT_STREQ(dyx_udil_get_last_error_string(), "Invalid number of frames");
    // A reader that refuses the file, and a file that does not exist.
    EXPECT_EQ(reader("fmulti", "missing.fkv"), nullptr);
    FakeControl control(udil_test::fake_path("main", "fmulti"));
    write_frames("fmulti", "a", 0, 2);
    control.fail("open", "a.fkv", 4);
    EXPECT_EQ(reader("fmulti", "a.fkv"), nullptr);
    EXPECT_EQ(std::string(dyx_udil_get_last_error_string()),
              "fake: open refused for " + scratch_.file("a.fkv"));

    // The same through append: the stream stays as it was.
    control.clear();
    UdilStream *stream = reader("fmulti", "a.fkv");
    ASSERT_NE(stream, nullptr);
    control.fail("open", "a.fkv", 4);
    EXPECT_EQ(append(stream, "fmulti", "a.fkv"), 7);
    EXPECT_EQ(stream->file_count, 1);
    EXPECT_EQ(dyx_udil_total_frames(stream), 3);
    dyx_udil_file_close(&stream);
}

TEST_F(Streams, ContainerEyePairReadsBothFiles) {
    write_frames("fmulti", "c_l", 0, 1, 10);
    write_frames("fmulti", "c_r", 0, 1, 20);
    UdilMovieInfo info;
    int32_t first = -1, last = -1;
    UdilStream *stream = dyx_udil_file_open(scratch_.file("c_@.fkv").c_str(), codec("fmulti"), &info, nullptr,
                                            0, nullptr, &first, &last);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(info.stereo, 1);
    EXPECT_EQ(stream->slots[0].eye_pair, 1);
    EXPECT_EQ(dyx_udil_total_frames(stream), 2);
    // A second pair may follow; a single file may not.
    EXPECT_EQ(append(stream, "fmulti", "c_@.fkv"), 0);
    EXPECT_EQ(append(stream, "fmulti", "c_l.fkv"), 1);
    EXPECT_EQ(dyx_udil_total_frames(stream), 4);
    dyx_udil_file_close(&stream);
}

// Guards against a movie whose last frames or index could not be written
// (a full disk at close) being reported as closed cleanly.
TEST_F(Streams, FailedCloseOfAWrittenContainerIsReported) {
    FakeControl control(udil_test::fake_path("main", "fmulti"));
    UdilStream *stream = writer("fmulti", "clip");
    ASSERT_NE(stream, nullptr);
    control.fail("close", "clip", 7);
    EXPECT_EQ(dyx_udil_file_close(&stream), 7);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(std::string(dyx_udil_get_last_error_string()),
              "fake: close refused for " + scratch_.file("clip.fkv"));

    // Closing a read stream has nothing to lose: its result stays 0.
    control.clear();
    write_frames("fmulti", "clip", 0, 2);
    control.fail("close", "clip", 7);
    dyx_udil_set_err_str("before");
    stream = reader("fmulti", "clip.fkv");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(dyx_udil_file_close(&stream), 0);
    EXPECT_STREQ(dyx_udil_get_last_error_string(), "before");
}

// Guards against a write stream renaming its file: a name that ends with
// one of the codec's suffixes is the file's name; any other name gets the
// codec's chosen suffix appended.
TEST_F(Streams, WriteStreamKeepsANameEndingWithTheCodecsSuffix) {
    const std::pair<const char *, const char *> cases[] = {
        {"keep.fkv", "keep.fkv"}, {"upper.FKV", "upper.FKV"}, {"other.mp4", "other.mp4.fkv"}};
    for (const auto &c : cases) {
        UdilStream *stream = writer("fmulti", c.first);
        ASSERT_NE(stream, nullptr) << c.first;
        EXPECT_TRUE(udil_test::exists(scratch_.file(c.second))) << c.first;
        EXPECT_EQ(dyx_udil_file_close(&stream), 0);
    }
    EXPECT_FALSE(udil_test::exists(scratch_.file("keep.fkv.fkv")));
}

}  // namespace
