// Writing pictures when the file system refuses the bytes: every image
// plug-in must report the failed frame (not only when its file is closed,
// whose result the host ignores) and must not leave a truncated frame file
// behind, while never removing anything that is not a regular file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "image_codec_support.h"

namespace {

using codec_test::CodecTest;
using codec_test::ImagePtr;

struct Codec {
    const char *name;
    const char *suffix;  // what the plug-in names an RGB file
};

void PrintTo(const Codec &codec, std::ostream *out) { *out << codec.name; }

class WriteFaults : public CodecTest, public ::testing::WithParamInterface<Codec> {
protected:
    WriteFaults() : CodecTest(GetParam().name) {}

    // Noise compresses badly, so the file is about as large as the pixels.
    static ImagePtr noisy_picture() { return codec_test::random_image(96, 64, DYX_IMG_FMT_RGB); }
    // Small enough for the whole file to wait in the stdio buffer until the
    // file is flushed.
    static ImagePtr small_picture() { return codec_test::random_image(16, 16, DYX_IMG_FMT_RGB); }
};

// Guards against a frame written to a full disk being reported as written
// (the PNG writer used to find out only when the file was closed).
TEST_P(WriteFaults, FullDiskFailsTheFrameAndLeavesTheDeviceAlone) {
    struct stat device;
    if (stat("/dev/full", &device) != 0 || !S_ISCHR(device.st_mode)) GTEST_SKIP() << "no /dev/full here";
    const std::string link = file(std::string("full") + GetParam().suffix);
    ASSERT_EQ(0, symlink("/dev/full", link.c_str()));
    ImagePtr picture = small_picture();
    std::string path;
    const int status = write_status(file("full"), picture.get(), "", &path);
    // A codec that keeps many frames in one file may make it (and fail) as
    // the stream opens, before any frame; the reason is the same.
    if (status == -1 && record_->multi_image_capable) {
        path = link;
    } else {
        EXPECT_EQ(7, status);
    }
    EXPECT_EQ(link, path);
    const std::string error = dyx_udil_get_last_error_string();
    EXPECT_NE(std::string::npos, error.find(link)) << error;
    EXPECT_NE(std::string::npos, error.find("No space left on device")) << error;
    // The failed frame's name is a link to a device: neither goes away.
    struct stat after;
    EXPECT_EQ(0, lstat(link.c_str(), &after));
    EXPECT_TRUE(S_ISLNK(after.st_mode));
    ASSERT_EQ(0, stat("/dev/full", &after));
    EXPECT_TRUE(S_ISCHR(after.st_mode));
}

// Guards against a frame that did not fit leaving its truncated file in
// the sequence (the PPM writer used to keep it).
TEST_P(WriteFaults, FrameCutShortIsRemoved) {
    ImagePtr picture = noisy_picture();
    struct rlimit saved;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    // Writes past 4000 bytes fail with EFBIG instead of raising SIGXFSZ.
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 4000;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
    std::string path;
    const int status = write_status(file("cut"), picture.get(), "", &path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(7, status);
    EXPECT_NE(std::string::npos, std::string(dyx_udil_get_last_error_string()).find(path));
    EXPECT_NE(0, access(path.c_str(), F_OK)) << path << " was left behind";
    // The same writer still makes a good file where there is room.
    const std::string good = write("good", picture.get());
    int read_status = -1;
    EXPECT_NE(nullptr, read(good, &read_status).get());
    EXPECT_EQ(0, read_status);
}

INSTANTIATE_TEST_SUITE_P(ImageCodecs, WriteFaults,
                         ::testing::Values(Codec{"ppm", ".ppm"}, Codec{"png", ".png"}, Codec{"jpeg", ".jpg"},
                                           Codec{"tiff", ".tif"}),
                         [](const ::testing::TestParamInfo<Codec> &info) {
                             return std::string(info.param.name);
                         });

// Movie containers through the ffmpeg plug-in under the same file size
// limit.
class MovieWriteFaults : public CodecTest {
protected:
    MovieWriteFaults() : CodecTest("ffmpeg") {}

    // Writes up to `frames` frames of `pictures` in turn into `name` with
    // `options`, stopping at the first that fails, while the file size is
    // limited to `limit` bytes. Returns the frames accepted; *status gets
    // the last save's status, *closed the close's.
    int write_until_full(const std::string &name, const char *options, const std::vector<ImagePtr> &pictures,
                         rlim_t limit, int frames, int *status, int *closed) {
        int32_t count = 0;
        UdilOption *parsed = dyx_udil_parse_options(record_, options, &count);
        const dyx_image_t &first = *pictures[0];
        UdilMovieInfo info{int32_t(first.width), int32_t(first.height), frames, 0, 0, 0, 25.0f, first.format};
        UdilStream *stream = dyx_udil_file_new(name.c_str(), record_, &info, count, parsed);
        dyx_free(parsed, __LINE__, __FILE__);
        EXPECT_NE(stream, nullptr) << dyx_udil_get_last_error_string();
        if (stream == nullptr) return 0;
        struct rlimit saved;
        getrlimit(RLIMIT_FSIZE, &saved);
        void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limited = saved;
        limited.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &limited);
        int accepted = 0;
        *status = 0;
        while (accepted < frames) {
            *status =
                dyx_udil_save_image(stream, accepted, UDIL_EYE_MONO, pictures[accepted % 4].get(), nullptr);
            if (*status != 0) break;
            ++accepted;
        }
        *closed = dyx_udil_file_close(&stream);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        return accepted;
    }

    static std::vector<ImagePtr> noisy_pictures() {
        std::vector<ImagePtr> pictures;
        for (uint32_t seed = 1; seed <= 4; ++seed)
            pictures.push_back(codec_test::random_image(96, 64, DYX_IMG_FMT_RGB, seed));
        return pictures;
    }
};

// Guards against frames that append had accepted being lost when the disk
// filled: they waited in the Matroska cluster and the I/O buffer.
TEST_F(MovieWriteFaults, MatroskaKeepsEveryFrameAccepted) {
    const std::vector<ImagePtr> pictures = noisy_pictures();
    int status = 0, closed = 0;
    const int accepted =
        write_until_full(file("clip"), "codec ffv1", pictures, 200 * 1024, 100, &status, &closed);
    ASSERT_GT(accepted, 0);
    ASSERT_LT(accepted, 100);
    EXPECT_EQ(7, status);
    EXPECT_NE(std::string::npos, std::string(dyx_udil_get_last_error_string()).find("File too large"))
        << dyx_udil_get_last_error_string();
    (void)closed;  // the cues cannot be written either; the clusters suffice

    UdilMovieInfo info{0, 0, -1, 0, 0, 0, -1.0f, UDIL_FMT_RGB};
    int32_t first = -1, last = -1;
    const std::string path = file("clip.mkv");
    UdilStream *stream = dyx_udil_file_open(path.c_str(), record_, &info, nullptr, 0, nullptr, &first, &last);
    ASSERT_NE(stream, nullptr) << dyx_udil_get_last_error_string();
    EXPECT_EQ(accepted, dyx_udil_total_frames(stream));
    ImagePtr frame(dyx_image_alloc(96, 64, 0, DYX_IMG_FMT_RGB));
    for (int k = 0; k < dyx_udil_total_frames(stream); ++k) {
        ASSERT_EQ(0, dyx_udil_get_image(stream, k, UDIL_EYE_MONO, frame.get(), nullptr)) << k;
        EXPECT_TRUE(codec_test::same_pixels(frame.get(), pictures[k % 4].get())) << "frame " << k;
    }
    dyx_udil_file_close(&stream);
}

// Guards against a movie whose last frames and index could not be written
// at close being reported as finished: H.264 holds every frame of a short
// movie for look-ahead, so only the close meets the limit.
TEST_F(MovieWriteFaults, FailedCloseIsReported) {
    const std::vector<ImagePtr> pictures = noisy_pictures();
    int status = 0, closed = 0;
    const int accepted =
        write_until_full(file("clip"), "codec h264", pictures, 16 * 1024, 10, &status, &closed);
    ASSERT_EQ(0, status) << "the encoder gave a packet back early: " << accepted << " frames accepted";
    EXPECT_EQ(10, accepted);
    EXPECT_EQ(7, closed);
    EXPECT_NE(std::string::npos, std::string(dyx_udil_get_last_error_string()).find("File too large"))
        << dyx_udil_get_last_error_string();
}

}  // namespace
