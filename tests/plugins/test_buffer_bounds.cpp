// Every plug-in reads and writes the host's pixel buffers within their
// bounds: the buffers here end exactly where an unreadable page begins, so
// a byte read or written past the end stops the test with a fault.
#include <sys/mman.h>
#include <unistd.h>

#include "image_codec_support.h"

namespace {

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
    const char *options;
    const char *name;  // per-frame plug-ins number their files
};

class BufferBounds : public codec_test::CodecTest, public ::testing::WithParamInterface<Case> {
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
        const std::string name = std::to_string(width) + "x" + std::to_string(height) + GetParam().name;
        codec_test::StreamPtr stream = create(file(name), info, GetParam().options, &written);
        ASSERT_TRUE(stream) << dyx_udil_get_last_error_string();
        for (int32_t f = 0; f < 2; ++f)
            EXPECT_EQ(0, dyx_udil_save_pixels(stream.get(), f, UDIL_EYE_MONO, frames[f].data(), nullptr))
                << dyx_udil_get_last_error_string();
        ASSERT_EQ(0, codec_test::close(stream));

        // A numbered sequence is opened with its frame range, a movie with its own.
        const bool numbered = std::strchr(GetParam().name, '#') != nullptr;
        stream = open(written, &info, numbered ? 0 : -1, numbered ? 1 : -1);
        ASSERT_TRUE(stream) << dyx_udil_get_last_error_string();
        ASSERT_EQ(info.width, width);
        ASSERT_EQ(info.height, height);
        codec_test::ImagePtr image(dyx_image_alloc(uint32_t(width), uint32_t(height), 0, info.pixel_format));
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

INSTANTIATE_TEST_SUITE_P(
    Plugins, BufferBounds,
    ::testing::Values(Case{"ppm", "", "frame.#"}, Case{"png", "", "frame.#"}, Case{"jpeg", "", "frame.#"},
                      Case{"tiff", "", "frame.#"}, Case{"ffmpeg", "codec h264", "clip"},
                      Case{"ffmpeg", "codec mpeg4", "clip"}, Case{"ffmpeg", "codec mjpeg", "clip"},
                      Case{"ffmpeg", "codec ffv1", "clip"}, Case{"ffmpeg", "codec prores", "clip"}),
    [](const ::testing::TestParamInfo<Case> &info) {
        std::string label = std::string(info.param.plugin) + "_" + info.param.options;
        for (char &c : label)
            if (!isalnum(static_cast<unsigned char>(c))) c = '_';
        return label;
    });

}  // namespace
