// Codec streams over real files written and read by the fake test codecs:
// write streams of both kinds, read streams with appended files, the rules
// that refuse an append, why a stream is refused, and the worker count
// each reader is told.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dyx_malloc.h"
#include "dyx_parallel.h"
#include "dyx_status.h"
#include "udil_test_support.h"

using udil_test::count_lines;
using udil_test::FakeControl;

namespace {

constexpr UdilMovieInfo kMovie = udil_test::kFakeMovie;
constexpr size_t kPictureBytes = udil_test::kFakePictureBytes;

class Streams : public udil_test::FakeCodecsTest {};

// A container is made when the stream opens (a pair of them for an eye
// mark); one file per frame, for a single-image codec or a run of '#', when
// its frame is written. Guards against a write stream renaming its file: a
// name that ends with one of the codec's suffixes is the file's name; any
// other name gets the codec's chosen suffix appended.
TEST_F(Streams, WriteStreamsMakeTheirFilesAsTheCodecStoresThem) {
    FakeControl control(udil_test::fake_path("main", "fmulti"));
    const struct {
        const char *codec, *name;
        int container, eye_pair;
        std::vector<std::string> made, not_made;  // files after the stream opens
    } cases[] = {
        {"fmulti", "clip", 1, 0, {"clip.fkv"}, {}},
        {"fmulti", "clip_@", 1, 1, {"clip_l.fkv", "clip_r.fkv"}, {}},
        {"fmono", "img_###", 0, 0, {}, {"img_000.fkm"}},
        {"fmulti", "clip_###", 0, 0, {}, {"clip_000.fkv"}},
        {"fmulti", "keep.fkv", 1, 0, {"keep.fkv"}, {"keep.fkv.fkv"}},
        {"fmulti", "upper.FKV", 1, 0, {"upper.FKV"}, {}},
        {"fmulti", "other.mp4", 1, 0, {"other.mp4.fkv"}, {}},
    };
    for (const auto &c : cases) {
        control.clear();
        UdilStream *stream = writer(c.codec, c.name);
        ASSERT_NE(stream, nullptr) << c.name;
        const UdilFileSlot &slot = stream->slots[0];
        EXPECT_TRUE(slot.container == c.container && slot.eye_pair == c.eye_pair) << c.name;
        EXPECT_TRUE(stream->read == 0 && dyx_udil_total_frames(stream) == 3) << c.name;
        EXPECT_TRUE(slot.first_frame == 0 && slot.last_frame == 2) << c.name;
        EXPECT_EQ(slot.secondary != nullptr, c.eye_pair == 1) << c.name;
        EXPECT_EQ(count_lines(control.log(), "new "), int(c.made.size())) << c.name;
        for (const std::string &made : c.made) EXPECT_TRUE(udil_test::exists(scratch_.file(made))) << made;
        for (const std::string &absent : c.not_made) EXPECT_FALSE(udil_test::exists(scratch_.file(absent)));
        if (!c.container) {
            EXPECT_EQ(std::string(slot.name), scratch_.file(c.name));
        }
        EXPECT_EQ(dyx_udil_file_close(&stream), 0) << c.name;
        EXPECT_EQ(stream, nullptr);
        EXPECT_EQ(dyx_udil_file_close(&stream), 6);
        for (const std::string &made : c.made)
            EXPECT_EQ(count_lines(control.log(), "close " + scratch_.file(made)), 1) << made;
    }

    // Each file of a '#' run of a multi-image codec holds its frame as frame 0.
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

TEST_F(Streams, ReadStreamsGiveTheFileBoundsAndStartAtTheFirstFileFrame) {
    write_frames("fmulti", "clip", 0, 2);
    UdilMovieInfo info;
    int32_t first = -1, last = -1, count = -1;
    UdilStream *stream = dyx_udil_file_open(scratch_.file("clip.fkv").c_str(), codec("fmulti"), &info, &count,
                                            4, nullptr, &first, &last);
    ASSERT_NE(stream, nullptr);
    EXPECT_TRUE(first == 0 && last == 2 && count == 0 && stream->read == 1);
    EXPECT_TRUE(info.frames == 3 && info.width == 4 && info.height == 2 && info.pixel_format == UDIL_FMT_RGB);
    EXPECT_EQ(info.attribute_b, 7);
    EXPECT_EQ(dyx_udil_total_frames(stream), 3);
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
    EXPECT_EQ(append(stream, "fmulti", "a.fkv"), DYX_NO_MEMORY);  // no room for a 33rd file
    EXPECT_EQ(stream->file_count, 32);
    dyx_udil_file_close(&stream);
}

// Why a stream is refused reaches the last error, replacing an older text:
// the plug-in's reason, and the codec and file when it gives no handle.
TEST_F(Streams, RefusedStreamsLeaveTheirReasonAndReadStreamsCloseQuietly) {
    FakeControl control(udil_test::fake_path("main", "fmulti"));
    write_frames("fmulti", "clip", 0, 2);
    const std::string clip = scratch_.file("clip.fkv");
    const struct {
        bool write;
        const char *operation;
        std::string reason;
    } cases[] = {
        {true, "new", "fake: new refused for " + scratch_.file("out.fkv")},
        {true, "create_writer",
         "The fmulti codec cannot write " + scratch_.file("out") + ": fake: writer refused"},
        {false, "open", "fake: open refused for " + clip},
        {false, "create_reader",
         "The fmulti codec cannot read " + clip + ": fake: reader refused for " + clip},
    };
    for (const auto &c : cases) {
        control.clear();
        control.fail(c.operation, "", 4);
        dyx_udil_set_err_str("before");
        EXPECT_EQ(c.write ? writer("fmulti", "out") : reader("fmulti", "clip.fkv"), nullptr) << c.operation;
        EXPECT_EQ(std::string(dyx_udil_get_last_error_string()), c.reason);
    }
    // Through append: the stream stays as it was.
    control.clear();
    UdilStream *stream = reader("fmulti", "clip.fkv");
    ASSERT_NE(stream, nullptr);
    control.fail("open", "", 4);
    EXPECT_EQ(append(stream, "fmulti", "clip.fkv"), 7);
    EXPECT_EQ(stream->file_count, 1);
    EXPECT_EQ(dyx_udil_total_frames(stream), 3);
    dyx_udil_file_close(&stream);

    write_frames("fmono", "f_##", 0, 3);
    EXPECT_EQ(reader("fmono", "f_##.fkm", 3, 2), nullptr);
    EXPECT_STREQ(dyx_udil_get_last_error_string(), "Invalid number of frames");

    // A failed close of a write stream is reported (the movie plug-in's
    // tests meet it on a full disk); closing a read stream has nothing to
    // lose: its result stays 0 and the last error as it was.
    control.clear();
    control.fail("close", "clip", 7);
    dyx_udil_set_err_str("before");
    stream = reader("fmulti", "clip.fkv");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(dyx_udil_file_close(&stream), 0);
    EXPECT_STREQ(dyx_udil_get_last_error_string(), "before");
}

// Names and the frame paths built from them live in DYX_UDIL_PATH_SIZE
// bytes: one that does not fit is refused as too long, before any plug-in
// sees it, and the stream stays as it was.
TEST_F(Streams, NamesThatDoNotFitAreRefusedAsTooLong) {
    write_frames("fmulti", "a", 0, 2);
    UdilStream *stream = reader("fmulti", "a.fkv");
    ASSERT_NE(stream, nullptr);
    // A name in the scratch directory of exactly DYX_UDIL_PATH_SIZE - 1
    // characters ending in `tail`, through folders of 100 characters (a
    // file name of its own is shorter than a path).
    const auto longest = [this](const std::string &tail) {
        std::string name(DYX_UDIL_PATH_SIZE - 1 - scratch_.file("").size() - tail.size(), 'n');
        for (size_t slash = 100; slash + 1 < name.size(); slash += 101) name[slash] = '/';
        return name + tail;
    };
    const struct {
        const char *codec;
        std::string name;
        int32_t first;
    } cases[] = {
        {"fmulti", longest("") + "x", -1},    // the name itself
        {"fmono", longest("_#"), 7},          // fits, and so does frame 7
        {"fmono", longest("_#"), 123456},     // the '#' run grows past the end
        {"fmono", longest("_@_#"), 1000000},  // with an eye mark
    };
    for (const auto &c : cases) {
        UdilMovieInfo info;
        int32_t first = c.first, last = c.first;
        const int expected = c.first == 7 ? DYX_REFUSED : DYX_NAME_TOO_LONG;  // frame 7 is not there
        EXPECT_EQ(dyx_udil_file_append(stream, scratch_.file(c.name).c_str(), codec(c.codec), &info, nullptr,
                                       0, nullptr, &first, &last),
                  expected)
            << c.name.size() << " characters, first frame " << c.first;
        EXPECT_EQ(stream->file_count, 1);
    }
    dyx_udil_file_close(&stream);

    // Writing: a per-frame name that fits until the frame number grows it
    // (it ends with the codec's suffix, so none is added).
    const std::string name = longest("_#.fkm");
    scratch_.make_dir(name.substr(0, name.rfind('/')));
    stream = writer("fmono", name);
    ASSERT_NE(stream, nullptr);
    dyx_image_t *image = picture(1);
    dyx_udil_set_err_str("before");
    EXPECT_EQ(dyx_udil_save_image(stream, 123456, 0, image, nullptr), DYX_NAME_TOO_LONG);
    EXPECT_STREQ(dyx_udil_get_last_error_string(), "Frame file name too long");
    EXPECT_EQ(dyx_udil_save_image(stream, 5, 0, image, nullptr), 0);
    dyx_udil_file_close(&stream);
}

// FIFOs, devices and directories are refused before any plug-in opens them
// (a plug-in reading a FIFO would wait for ever), with the host's reason.
TEST_F(Streams, NonRegularInputsAreRefusedWithoutAskingThePlugin) {
    FakeControl control(udil_test::fake_path("main", "fmulti"));
    ASSERT_EQ(mkfifo(scratch_.file("pipe.fkv").c_str(), 0600), 0);
    scratch_.make_dir("folder.fkv");
    const struct {
        std::string path;
        std::string reason;
    } cases[] = {
        {scratch_.file("missing.fkv"), "No such file or directory"},
        {scratch_.file("pipe.fkv"), "not a regular file (a FIFO)"},
        {scratch_.file("folder.fkv"), "not a regular file (a directory)"},
        {"/dev/zero", "not a regular file (a character device)"},
    };
    for (const auto &refused : cases) {
        control.clear();
        UdilMovieInfo info;
        int32_t first = -1, last = -1;
        EXPECT_EQ(dyx_udil_file_open(refused.path.c_str(), codec("fmulti"), &info, nullptr, 0, nullptr,
                                     &first, &last),
                  nullptr)
            << refused.path;
        EXPECT_EQ(std::string(dyx_udil_get_last_error_string()), refused.path + ": " + refused.reason);
        EXPECT_EQ(count_lines(control.log(), "create_reader"), 0) << refused.path;
    }
}

// A plug-in is told the library's worker count before each reader it
// makes; one made before udil_set_threads reads as well, never told.
TEST_F(Streams, ReadersAreToldTheWorkerCount) {
    write_frames("fmulti", "clip", 0, 2);
    UdilRecord *older = nullptr;
    ASSERT_EQ(dyx_udil_scan_library(&older, udil_test::fake_path("older", "fold").c_str()), 0);
    ASSERT_NE(older, nullptr);
    ASSERT_EQ(dyx_udil_load(older), 0);
    EXPECT_EQ(older->entry.set_threads, nullptr);
    EXPECT_NE(codec("fmulti")->entry.set_threads, nullptr);
    ASSERT_EQ(std::rename(scratch_.file("clip.fkv").c_str(), scratch_.file("clip.fko").c_str()), 0);
    const struct {
        const char *codec, *file;
        int workers;
        const char *told;
    } cases[] = {
        {"fmulti", "clip.fko", 1, "threads=1"},
        {"fmulti", "clip.fko", 3, "threads=3"},
        {"fold", "clip.fko", 3, "threads=0"},
    };
    for (const auto &c : cases) {
        FakeControl control(udil_test::fake_path(c.codec == std::string("fold") ? "older" : "main", c.codec));
        control.clear();
        dyx_parallel_set_threads(c.workers);
        UdilStream *stream = reader(c.codec, c.file);
        ASSERT_NE(stream, nullptr) << c.codec << ": " << dyx_udil_get_last_error_string();
        EXPECT_EQ(dyx_udil_total_frames(stream), 3) << c.codec;
        EXPECT_EQ(count_lines(control.log(), "create_reader " + scratch_.file(c.file) + " " + c.told), 1)
            << c.codec << " " << control.log();
        dyx_udil_file_close(&stream);
    }
    dyx_parallel_set_threads(0);
}

}  // namespace
