// Plug-ins at the limits of memory and files: every plug-in reads and writes
// the host's pixel buffers within their bounds (the buffers here end exactly
// where an unreadable page begins, so a byte past the end stops the test
// with a fault), and when the file system refuses the bytes it reports the
// failed frame (not only when its file is closed, whose result the host
// ignores) and leaves no truncated frame file behind, while never removing
// anything that is not a regular file.
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "image_codec_support.h"

namespace {

using codec_test::CodecTest;
using codec_test::ImagePtr;

// `size` bytes whose last byte is followed by a page without access.
class GuardedBytes {
public:
    explicit GuardedBytes(size_t size) {
        const size_t page = size_t(sysconf(_SC_PAGESIZE));
        mapped_ = (size + page - 1) / page * page + page;
        void *base = mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) return;
        base_ = static_cast<uint8_t *>(base);
        if (mprotect(base_ + mapped_ - page, page, PROT_NONE) == 0) data_ = base_ + mapped_ - page - size;
    }
    ~GuardedBytes() {
        if (base_ != nullptr) munmap(base_, mapped_);
    }
    GuardedBytes(const GuardedBytes &) = delete;
    GuardedBytes &operator=(const GuardedBytes &) = delete;

    uint8_t *data() const { return data_; }

private:
    size_t mapped_ = 0;
    uint8_t *base_ = nullptr;
    uint8_t *data_ = nullptr;
};

struct Case {
    const char *plugin;
    const char *codec;  // the ffmpeg plug-in's codec; picture codecs write numbered files
};

class BufferBounds : public CodecTest, public ::testing::WithParamInterface<Case> {
protected:
    BufferBounds() : CodecTest(GetParam().plugin, std::string(GetParam().plugin) == "ffmpeg") {}

    // Writes two frames of `width` x `height` from guarded buffers and
    // reads them back into guarded buffers.
    void round_trip(int32_t width, int32_t height) {
        const size_t bytes = size_t(width) * size_t(height) * 3;
        GuardedBytes frames[2] = {GuardedBytes(bytes), GuardedBytes(bytes)};
        std::mt19937 random(uint32_t(width * 131 + height));
        for (GuardedBytes &frame : frames) {
            ASSERT_NE(frame.data(), nullptr);
            for (size_t i = 0; i < bytes; ++i) frame.data()[i] = uint8_t(random());
        }
        std::string written;
        UdilMovieInfo info{width, height, 2, 0, 0, 0, 25.0f, DYX_IMG_FMT_RGB};
        const bool numbered = *GetParam().codec == '\0';
        const std::string name =
            std::to_string(width) + "x" + std::to_string(height) + (numbered ? ".#" : "");
        const std::string options = numbered ? "" : std::string("codec ") + GetParam().codec;
        codec_test::StreamPtr stream = create(file(name), info, options.c_str(), &written);
        ASSERT_TRUE(stream) << dyx_udil_get_last_error_string();
        for (int32_t f = 0; f < 2; ++f)
            EXPECT_EQ(0, dyx_udil_save_pixels(stream.get(), f, UDIL_EYE_MONO, frames[f].data(), nullptr))
                << dyx_udil_get_last_error_string();
        ASSERT_EQ(0, codec_test::close(stream));

        // A numbered sequence is opened with its frame range, a movie with its own.
        stream = open(written, &info, numbered ? 0 : -1, numbered ? 1 : -1);
        ASSERT_TRUE(stream) << dyx_udil_get_last_error_string();
        ASSERT_EQ(info.width, width);
        ASSERT_EQ(info.height, height);
        ImagePtr image(dyx_image_alloc(uint32_t(width), uint32_t(height), 0, info.pixel_format));
        GuardedBytes target(dyx_image_data_size(image.get()));
        uint8_t *own = image->data;
        image->data = target.data();
        for (int32_t f = 0; f < 2; ++f)
            EXPECT_EQ(0, dyx_udil_get_image(stream.get(), f, UDIL_EYE_MONO, image.get(), nullptr));
        image->data = own;
    }
};

TEST_P(BufferBounds, EvenAndOddSizesStayInsideTheBuffers) {
    round_trip(64, 48);
    round_trip(33, 17);
}

INSTANTIATE_TEST_SUITE_P(Plugins, BufferBounds,
                         ::testing::Values(Case{"ppm", ""}, Case{"png", ""}, Case{"jpeg", ""},
                                           Case{"tiff", ""}, Case{"ffmpeg", "h264"}, Case{"ffmpeg", "mpeg4"},
                                           Case{"ffmpeg", "mjpeg"}, Case{"ffmpeg", "ffv1"},
                                           Case{"ffmpeg", "prores"}),
                         [](const ::testing::TestParamInfo<Case> &info) {
                             return std::string(*info.param.codec ? info.param.codec : info.param.plugin);
                         });

// Limits the files this process writes to `bytes` while in scope: writes
// beyond fail with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : previous_(std::signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        struct rlimit limited = saved_;
        limited.rlim_cur = bytes;
        EXPECT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    void (*previous_)(int);
    struct rlimit saved_;
};

struct Codec {
    const char *name;
    const char *suffix;  // what the plug-in names an RGB file
};

void PrintTo(const Codec &codec, std::ostream *out) { *out << codec.name; }

class WriteFaults : public CodecTest, public ::testing::WithParamInterface<Codec> {
protected:
    WriteFaults() : CodecTest(GetParam().name) {}
};

// Guards against a frame written to a full disk being reported as written
// (the PNG writer used to find out only when the file was closed).
TEST_P(WriteFaults, FullDiskFailsTheFrameAndLeavesTheDeviceAlone) {
    struct stat device;
    if (stat("/dev/full", &device) != 0 || !S_ISCHR(device.st_mode)) GTEST_SKIP() << "no /dev/full here";
    const std::string link = file(std::string("full") + GetParam().suffix);
    ASSERT_EQ(0, symlink("/dev/full", link.c_str()));
    // Small enough for the whole file to wait in the stdio buffer until the
    // file is flushed.
    ImagePtr picture = codec_test::random_image(16, 16, DYX_IMG_FMT_RGB);
    std::string path;
    const int status = write_status(file("full"), picture.get(), "", &path);
    // A codec that keeps many frames in one file may make it (and fail) as
    // the stream opens, before any frame; the reason is the same.
    if (status == -1 && record_->multi_image_capable)
        path = link;
    else
        EXPECT_EQ(7, status);
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
// the sequence (the PPM writer used to keep it). A frame whose file cannot
// be made fails with a message that names the codec and that file.
TEST_P(WriteFaults, FailedFrameNamesItsFileAndLeavesNoneBehind) {
    // Noise compresses badly, so the file is about as large as the pixels.
    ImagePtr picture = codec_test::random_image(96, 64, DYX_IMG_FMT_RGB);
    std::string path;
    int status = 0;
    {
        FileSizeLimit limit(4000);
        status = write_status(file("cut"), picture.get(), "", &path);
    }
    EXPECT_EQ(7, status);
    EXPECT_NE(std::string::npos, std::string(dyx_udil_get_last_error_string()).find(path));
    EXPECT_NE(0, access(path.c_str(), F_OK)) << path << " was left behind";
    // The same writer still makes a good file where there is room.
    EXPECT_NE(nullptr, read(write("good", picture.get())).get());

    codec_test::StreamPtr stream =
        create("/nonexistent/dir/img_#", {96, 64, 4, 0, 0, 0, 25.0f, DYX_IMG_FMT_RGB});
    ASSERT_TRUE(stream) << dyx_udil_get_last_error_string();
    EXPECT_EQ(7, dyx_udil_save_image(stream.get(), 3, UDIL_EYE_MONO, picture.get(), nullptr));
    const std::string expected =
        std::string(GetParam().name) + ": can't create /nonexistent/dir/img_3" + GetParam().suffix;
    EXPECT_EQ(0u, std::string(dyx_udil_get_last_error_string()).find(expected))
        << dyx_udil_get_last_error_string();
}

INSTANTIATE_TEST_SUITE_P(ImageCodecs, WriteFaults,
                         ::testing::Values(Codec{"ppm", ".ppm"}, Codec{"png", ".png"}, Codec{"jpeg", ".jpg"},
                                           Codec{"tiff", ".tif"}),
                         [](const ::testing::TestParamInfo<Codec> &info) {
                             return std::string(info.param.name);
                         });

// Movie containers through the ffmpeg plug-in under a file size limit.
class MovieWriteFaults : public CodecTest {
protected:
    MovieWriteFaults() : CodecTest("ffmpeg", true) {}

    // Writes up to `frames` noisy frames with `options` while files are
    // limited to `limit` bytes, stopping at the first that fails. Returns the
    // frames accepted; *status gets the last save's status, *closed the
    // close's.
    int write_until_full(const char *options, rlim_t limit, int frames, int *status, int *closed) {
        UdilMovieInfo info{96, 64, frames, 0, 0, 0, 25.0f, DYX_IMG_FMT_RGB};
        codec_test::StreamPtr stream = create(file("clip"), info, options);
        EXPECT_TRUE(stream) << dyx_udil_get_last_error_string();
        if (!stream) return 0;
        FileSizeLimit limited(limit);
        int accepted = 0;
        *status = 0;
        while (accepted < frames && *status == 0) {
            *status = dyx_udil_save_image(stream.get(), accepted, UDIL_EYE_MONO,
                                          pictures_[accepted % 4].get(), nullptr);
            accepted += *status == 0;
        }
        *closed = codec_test::close(stream);
        return accepted;
    }

    const std::vector<ImagePtr> pictures_ = codec_test::random_frames(4, 96, 64, DYX_IMG_FMT_RGB);
};

// Guards against frames that append had accepted being lost when the disk
// filled: they waited in the Matroska cluster and the I/O buffer.
TEST_F(MovieWriteFaults, MatroskaKeepsEveryFrameAccepted) {
    int status = 0, closed = 0;
    const int accepted = write_until_full("codec ffv1", 200 * 1024, 100, &status, &closed);
    ASSERT_GT(accepted, 0);
    ASSERT_LT(accepted, 100);
    EXPECT_EQ(7, status);
    EXPECT_NE(std::string::npos, std::string(dyx_udil_get_last_error_string()).find("File too large"))
        << dyx_udil_get_last_error_string();
    // The cues cannot be written either (closed is not 0); the clusters suffice.
    std::vector<ImagePtr> expected;
    for (int k = 0; k < accepted; ++k)
        expected.push_back(codec_test::random_image(96, 64, DYX_IMG_FMT_RGB, k % 4 + 1));
    expect_frames(file("clip.mkv"), expected);
}

// Guards against a movie whose last frames and index could not be written
// at close being reported as finished: H.264 holds every frame of a short
// movie for look-ahead, so only the close meets the limit.
TEST_F(MovieWriteFaults, FailedCloseIsReported) {
    int status = 0, closed = 0;
    const int accepted = write_until_full("codec h264", 16 * 1024, 10, &status, &closed);
    ASSERT_EQ(0, status) << "the encoder gave a packet back early: " << accepted << " frames accepted";
    EXPECT_EQ(10, accepted);
    EXPECT_EQ(7, closed);
    EXPECT_NE(std::string::npos, std::string(dyx_udil_get_last_error_string()).find("File too large"))
        << dyx_udil_get_last_error_string();
}

}  // namespace
