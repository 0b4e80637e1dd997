// The ffstill plug-in driven through the host's codec streams: every
// format and layout written and read back, numbered sequences, files of
// another size refused, and damaged files refused or read without a crash.
// (Files of the ffmpeg command, Pillow and OpenEXR layers are compared
// with those tools' decodes in test_still_files.py.)
#include "image_codec_support.h"

namespace {

using codec_test::ImagePtr;
using codec_test::StreamPtr;

class FfstillPlugin : public codec_test::CodecTest {
protected:
    FfstillPlugin() : CodecTest("ffstill", true) {}
};

// Formats that keep each layout exactly (WebP and JPEG XL with the
// lossless option; WebP keeps no colour under transparent pixels, so its
// RGBA picture is opaque here).
TEST_F(FfstillPlugin, EveryFormatGivesBackWhatItHolds) {
    struct Layout {
        int32_t format;
        const char *suffixes[12];
    };
    const Layout layouts[] = {
        {DYX_IMG_FMT_RGB, {"exr", "dpx", "webp", "bmp", "tga", "jp2", "j2k", "sgi", "qoi", "jxl"}},
        {DYX_IMG_FMT_RGBA, {"exr", "dpx", "bmp", "tga", "sgi", "qoi", "jxl"}},
        {DYX_IMG_FMT_L, {"exr", "dpx", "tga", "jp2", "sgi", "jxl"}},
    };
    for (const Layout &layout : layouts) {
        const ImagePtr picture = codec_test::natural_image(37, 21, layout.format);
        for (const char *suffix : layout.suffixes) {
            if (suffix == nullptr) break;
            const std::string name = std::string("picture") + std::to_string(layout.format) + "." + suffix;
            const std::string path = write(name, picture.get(), "lossless 1");
            ASSERT_FALSE(path.empty()) << name;
            UdilMovieInfo described;
            const ImagePtr back = read(path, nullptr, &described);
            ASSERT_NE(back.get(), nullptr) << name << ": " << dyx_udil_get_last_error_string();
            EXPECT_EQ(described.pixel_format, layout.format) << name;
            EXPECT_TRUE(codec_test::same_pixels(picture.get(), back.get())) << name;
        }
    }
}

TEST_F(FfstillPlugin, SequencesKeepOneFileAFrameAndRefuseAnotherSize) {
    std::vector<ImagePtr> frames;
    for (uint32_t seed = 1; seed <= 3; ++seed)
        frames.push_back(codec_test::natural_image(24, 16, DYX_IMG_FMT_RGB, seed));
    write_frames("frame.#.dpx", frames);
    expect_frames(file("frame.#.dpx"), frames, 0, 2);
    // A file of another size in the sequence is refused with status 12.
    const ImagePtr other = codec_test::natural_image(20, 16, DYX_IMG_FMT_RGB);
    write("frame.1.dpx", other.get());
    UdilMovieInfo info;
    int32_t first = 0, last = 2;
    StreamPtr stream(dyx_udil_file_open(file("frame.#.dpx").c_str(), dyx_udil_find_by_name("ffstill"), &info,
                                        nullptr, 0, nullptr, &first, &last));
    ASSERT_TRUE(stream);
    int status = 0;
    read_frame(stream.get(), info, 1, &status);
    EXPECT_EQ(status, 12);
}

TEST_F(FfstillPlugin, DamagedFilesAreRefusedOrReadNeverCrash) {
    const ImagePtr picture = codec_test::natural_image(40, 30, DYX_IMG_FMT_RGBA);
    for (const char *suffix : {"exr", "dpx", "webp", "bmp", "tga", "jp2", "sgi", "qoi", "jxl"}) {
        const std::string path = write(std::string("good.") + suffix, picture.get(), "lossless 1");
        ASSERT_FALSE(path.empty()) << suffix;
        const std::string good = codec_test::read_bytes(path);
        expect_damage_handled(good, std::string("bad.") + suffix, {0, 7, good.size() / 3, good.size() - 5},
                              std::max<size_t>(1, good.size() / 25), false, 8);
    }
    // A name of no still format gets the codec's own suffix.
    std::string path;
    const ImagePtr small = codec_test::natural_image(8, 8, DYX_IMG_FMT_RGB);
    EXPECT_EQ(write_status(file("picture"), small.get(), "", &path), 0);
    EXPECT_EQ(path, file("picture.exr"));
}

// Regression: FFmpeg's WebP decoder aborted the process (a failed
// assertion) on a lossy picture followed by a chunk that runs past the
// data. Bytes after the RIFF are ignored; a chunk inside it that overruns
// is refused.
TEST_F(FfstillPlugin, WebpChunksRunningPastTheDataNeverAbort) {
    const ImagePtr picture = codec_test::natural_image(16, 8, DYX_IMG_FMT_RGB);
    const std::string good = codec_test::read_bytes(write("lossy.webp", picture.get(), "quality 80"));
    ASSERT_GT(good.size(), 12u);
    const std::string overrun = std::string("\xff\xff\xff\xff\xff\xff\xff\xff") + std::string(100, '\xff');

    codec_test::write_bytes(file("trailing.webp"), good + overrun);
    EXPECT_NE(read(file("trailing.webp")).get(), nullptr) << dyx_udil_get_last_error_string();

    std::string inside = good + overrun;
    const uint32_t riff = uint32_t(inside.size() - 8);
    for (int i = 0; i < 4; ++i) inside[size_t(4 + i)] = char((riff >> (8 * i)) & 0xff);
    codec_test::write_bytes(file("overrun.webp"), inside);
    int status = 0;
    EXPECT_EQ(read(file("overrun.webp"), &status).get(), nullptr);
    EXPECT_NE(std::string(dyx_udil_get_last_error_string()).find("runs past"), std::string::npos)
        << dyx_udil_get_last_error_string();
}

// Regression: FFmpeg's libjxl decoder asked for more input forever when
// libjxl could not use the bytes it had (the fuzzer's three-byte file, a
// signature or a container box cut short). Such files are refused.
TEST_F(FfstillPlugin, JpegXlStartsThatStallTheDecoderAreRefused) {
    const std::string container("\0\0\0\x0cJXL \r\n\x87\n", 12);
    const std::string ftyp(
        "\0\0\0\x14"
        "ftypjxl \0\0\0\0jxl ",
        20);
    const struct {
        const char *name;
        std::string bytes;
        const char *reason;
    } cases[] = {
        {"fuzzed", std::string("\0F", 2), "no JPEG XL signature"},
        {"signature", container.substr(0, 7), "no JPEG XL signature"},
        {"box-header", container + ftyp + std::string("\0\0\x01", 3), "box header is cut short"},
        {"box-overrun", container + ftyp + std::string("\0\0\x01\0jxlc\xff\x0a", 10), "runs past the end"},
        {"codestream", std::string("\xff\x0a\x00", 3), "JPEG XL file"},
    };
    for (const auto &c : cases) {
        const std::string path = file(std::string(c.name) + ".jxl");
        codec_test::write_bytes(path, c.bytes);
        EXPECT_EQ(read(path).get(), nullptr) << c.name;
        EXPECT_NE(std::string(dyx_udil_get_last_error_string()).find(c.reason), std::string::npos)
            << c.name << ": " << dyx_udil_get_last_error_string();
    }
}

}  // namespace
