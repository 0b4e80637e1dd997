// Every plug-in reads and writes the host's pixel buffers within their
// bounds: the buffers here end exactly where an unreadable page begins, so
// a byte read or written past the end stops the test with a fault.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../utils/scratch_dir.h"
#include "dyx_image.h"
#include "dyx_malloc.h"
#include "dyx_udil.h"
#include "dyx_udil_stream.h"

namespace {

// `size` bytes whose last byte is followed by a page without access.
class GuardedBytes {
public:
    explicit GuardedBytes(size_t size) : size_(size) {
        const size_t page = size_t(sysconf(_SC_PAGESIZE));
        mapped_ = (size + page - 1) / page * page + page;
        void *base = mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) return;
        base_ = static_cast<uint8_t *>(base);
        if (mprotect(base_ + mapped_ - page, page, PROT_NONE) != 0) return;
        data_ = base_ + mapped_ - page - size;
    }
    ~GuardedBytes() {
        if (base_ != nullptr) munmap(base_, mapped_);
    }
    GuardedBytes(const GuardedBytes &) = delete;
    GuardedBytes &operator=(const GuardedBytes &) = delete;

    uint8_t *data() const { return data_; }
    size_t size() const { return size_; }

private:
    size_t size_ = 0, mapped_ = 0;
    uint8_t *base_ = nullptr;
    uint8_t *data_ = nullptr;
};

struct Case {
    const char *plugin;
    const char *options;
    const char *name;  // per-frame plug-ins number their files
};

const Case kCases[] = {
    {"ppm", "", "frame.#"},
    {"png", "", "frame.#"},
    {"jpeg", "", "frame.#"},
    {"tiff", "", "frame.#"},
    {"ffmpeg", "codec h264", "clip"},
    {"ffmpeg", "codec mpeg4", "clip"},
    {"ffmpeg", "codec mjpeg", "clip"},
    {"ffmpeg", "codec ffv1", "clip"},
    {"ffmpeg", "codec prores", "clip"},
};

class BufferBounds : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        dyx_udil_list_done();
        dyx_image_pool_create(8);
        ASSERT_EQ(0, dyx_udil_scan_libraries(ORVO_TEST_PLUGIN_DIR));
        record_ = dyx_udil_find_by_name(GetParam().plugin);
        if (record_ == nullptr) GTEST_SKIP() << "the " << GetParam().plugin << " plug-in was not built";
        ASSERT_EQ(0, dyx_udil_load(record_));
        ASSERT_FALSE(scratch_.path().empty());
    }
    void TearDown() override { dyx_udil_list_done(); }

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

        int32_t count = 0;
        UdilOption *options = dyx_udil_parse_options(record_, GetParam().options, &count);
        UdilMovieInfo info{width, height, 2, 0, 0, 0, 25.0f, DYX_IMG_FMT_RGB};
        const std::string name =
            scratch_ / (std::to_string(width) + "x" + std::to_string(height) + GetParam().name);
        UdilStream *stream = dyx_udil_file_new(name.c_str(), record_, &info, count, options);
        dyx_free(options, __LINE__, __FILE__);
        ASSERT_NE(stream, nullptr) << dyx_udil_get_last_error_string();
        const std::string written = name + stream->slots[0].suffix;
        for (int32_t f = 0; f < 2; ++f)
            EXPECT_EQ(0, dyx_udil_save_pixels(stream, f, UDIL_EYE_MONO, frames[f].data(), nullptr))
                << dyx_udil_get_last_error_string();
        ASSERT_EQ(0, dyx_udil_file_close(&stream));

        UdilMovieInfo read_info{0, 0, -1, 0, 0, 0, -1.0f, DYX_IMG_FMT_RGB};
        // A numbered sequence is opened with its frame range, a movie with its own.
        const bool numbered = std::strchr(GetParam().name, '#') != nullptr;
        int32_t first = numbered ? 0 : -1, last = numbered ? 1 : -1;
        stream = dyx_udil_file_open(written.c_str(), record_, &read_info, nullptr, 0, nullptr, &first, &last);
        ASSERT_NE(stream, nullptr) << dyx_udil_get_last_error_string();
        ASSERT_EQ(read_info.width, width);
        ASSERT_EQ(read_info.height, height);
        dyx_image_t *image = dyx_image_alloc(uint32_t(width), uint32_t(height), 0, read_info.pixel_format);
        ASSERT_NE(image, nullptr);
        GuardedBytes target(dyx_image_data_size(image));
        uint8_t *own = image->data;
        image->data = target.data();
        for (int32_t f = 0; f < 2; ++f)
            EXPECT_EQ(0, dyx_udil_get_image(stream, f, UDIL_EYE_MONO, image, nullptr));
        image->data = own;
        dyx_image_free(&image);
        dyx_udil_file_close(&stream);
    }

    UdilRecord *record_ = nullptr;
    testing_support::ScratchDir scratch_;
};

TEST_P(BufferBounds, EvenAndOddSizesStayInsideTheBuffers) {
    round_trip(64, 48);
    round_trip(33, 17);
}

INSTANTIATE_TEST_SUITE_P(Plugins, BufferBounds, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case> &info) {
                             std::string label = std::string(info.param.plugin) + "_" + info.param.options;
                             for (char &c : label)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return label;
                         });

}  // namespace
