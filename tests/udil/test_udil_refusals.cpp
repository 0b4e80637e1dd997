// Why a file is refused reaches the last error: the plug-in's own reason
// when it gives no handle, and the host's when a name is missing or is no
// regular file. FIFOs, devices and directories are refused before any
// plug-in opens them (a plug-in reading a FIFO would wait for ever).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "udil_test_support.h"

using udil_test::FakeControl;

namespace {

class Refusals : public udil_test::FakeCodecsTest {
protected:
    UdilStream *open(const std::string &path) {
        UdilMovieInfo info;
        int32_t count = 0, first = -1, last = -1;
        return dyx_udil_file_open(path.c_str(), codec("fmulti"), &info, &count, 0, nullptr, &first, &last);
    }

    static std::string last_error() { return dyx_udil_get_last_error_string(); }
};

TEST_F(Refusals, ReaderRefusalGivesThePluginsReason) {
    FakeControl control(udil_test::fake_path("main", "fmulti"));
    ASSERT_TRUE(control.ok());
    write_frames("fmulti", "clip", 0, 2);
    control.fail("create_reader", "clip", 1);
    EXPECT_EQ(open(scratch_.file("clip.fkv")), nullptr);
    // The host says which codec and file, the plug-in why.
    EXPECT_EQ(last_error(), "The fmulti codec cannot read " + scratch_.file("clip.fkv") +
                                ": fake: reader refused for " + scratch_.file("clip.fkv"));
}

TEST_F(Refusals, NonRegularInputsAndOutputsAreRefusedWithoutAskingThePlugin) {
    FakeControl control(udil_test::fake_path("main", "fmulti"));
    ASSERT_TRUE(control.ok());
    ASSERT_EQ(mkfifo(scratch_.file("pipe.fkv").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(scratch_.file("folder.fkv").c_str(), 0700), 0);
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
        EXPECT_EQ(open(refused.path), nullptr) << refused.path;
        EXPECT_EQ(last_error(), refused.path + ": " + refused.reason);
        EXPECT_EQ(udil_test::count_lines(control.log(), "create_reader"), 0) << refused.path;
    }
    for (const char *name : {"pipe", "folder"}) {
        control.clear();
        EXPECT_EQ(writer("fmulti", name), nullptr);
        EXPECT_NE(last_error().find(scratch_.file(name) + ".fkv: not a regular file"), std::string::npos)
            << last_error();
        EXPECT_EQ(udil_test::count_lines(control.log(), "new "), 0) << control.log();
    }
}

TEST_F(Refusals, FifoInAFrameSequenceIsRefused) {
    // One file per frame: frame 1's name is a FIFO, on reading and on writing.
    UdilStream *stream = writer("fmono", "seq.#");
    ASSERT_NE(stream, nullptr);
    dyx_image_t *image = picture(3);
    ASSERT_EQ(dyx_udil_save_image(stream, 0, 0, image, nullptr), 0);
    const std::string frame1 = scratch_.file("seq.1.fkm");
    ASSERT_EQ(mkfifo(frame1.c_str(), 0600), 0);
    EXPECT_NE(dyx_udil_save_image(stream, 1, 0, image, nullptr), 0);
    EXPECT_EQ(last_error(), frame1 + ": not a regular file (a FIFO)");
    ASSERT_EQ(dyx_udil_save_image(stream, 2, 0, image, nullptr), 0);
    dyx_udil_file_close(&stream);

    stream = reader("fmono", "seq.#.fkm", 0, 2);
    ASSERT_NE(stream, nullptr) << last_error();
    EXPECT_EQ(dyx_udil_get_image(stream, 0, UDIL_EYE_MONO, image, nullptr), 0) << last_error();
    EXPECT_NE(dyx_udil_get_image(stream, 1, UDIL_EYE_MONO, image, nullptr), 0);
    EXPECT_NE(last_error().find(frame1 + ": not a regular file (a FIFO)"), std::string::npos) << last_error();
    dyx_udil_file_close(&stream);
}

TEST_F(Refusals, FifoAmongCompressedFrameFilesIsNotOpened) {
    write_frames("fmonoc", "packed.#", 0, 2);
    UdilStream *stream = reader("fmonoc", "packed.#.fkc", 0, 2);
    ASSERT_NE(stream, nullptr) << last_error();
    const std::string frame1 = scratch_.file("packed.1.fkc");
    ASSERT_EQ(std::remove(frame1.c_str()), 0);
    ASSERT_EQ(mkfifo(frame1.c_str(), 0600), 0);
    EXPECT_EQ(dyx_udil_get_compressed_size(stream), -1);
    EXPECT_EQ(last_error(), frame1 + ": not a regular file (a FIFO)");
    dyx_udil_file_close(&stream);
}

}  // namespace
