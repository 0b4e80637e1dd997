// Deep frames through the host: a codec without the deep entry points is
// read through its 8-bit frames (widened as asked) and refuses deeper ones
// by name; a codec with them takes any row stride and refuses a layout
// other than the file's. (Files are checked against OpenCV, Pillow and the
// ffmpeg command in test_deep_pixels.py.)
#include <cstring>
#include <vector>

#include "dyx_status.h"
#include "image_codec_support.h"

namespace {

using codec_test::ImagePtr;
using codec_test::StreamPtr;

UdilDeepFrame frame_of(int32_t width, int32_t height, int32_t channels, int32_t sample, int64_t stride,
                       std::vector<uint8_t> &storage) {
    storage.assign(size_t(stride * height), 0xEE);  // padding that must stay as it is
    return UdilDeepFrame{width, height, channels, sample, stride, storage.data()};
}

class DeepWithEntryPoints : public codec_test::CodecTest {
protected:
    DeepWithEntryPoints() : CodecTest("ppm") {}
};

// The jpeg codec has no deep entry points.
class DeepWithoutEntryPoints : public codec_test::CodecTest {
protected:
    DeepWithoutEntryPoints() : CodecTest("jpeg") {}
};

TEST_F(DeepWithoutEntryPoints, ReadsWidenTheEightBitFrameAndDeepWritesAreRefusedByName) {
    ImagePtr picture = codec_test::natural_image(9, 5, DYX_IMG_FMT_RGB);
    const std::string path = write("pic", picture.get(), "quality 100");
    UdilMovieInfo info;
    StreamPtr stream = open(path, &info);
    ASSERT_TRUE(stream);
    ImagePtr eight = read_frame(stream.get(), info, 0);
    ASSERT_TRUE(eight);

    UdilDeepFrame layout{};
    ASSERT_EQ(0, dyx_udil_get_deep(stream.get(), 0, UDIL_EYE_MONO, &layout, nullptr));
    EXPECT_EQ(9, layout.width);
    EXPECT_EQ(5, layout.height);
    EXPECT_EQ(3, layout.channels);
    EXPECT_EQ(UDIL_SAMPLE_U8, layout.sample);

    const struct {
        int32_t sample;
        int size;
    } cases[] = {{UDIL_SAMPLE_U8, 1}, {UDIL_SAMPLE_U16, 2}, {UDIL_SAMPLE_F32, 4}};
    for (const auto &c : cases) {
        std::vector<uint8_t> storage;
        const int64_t row = 9 * 3 * c.size;
        UdilDeepFrame deep = frame_of(9, 5, 3, c.sample, row + 8, storage);
        ASSERT_EQ(0, dyx_udil_get_deep(stream.get(), 0, UDIL_EYE_MONO, &deep, nullptr)) << c.sample;
        for (int y = 0; y < 5; ++y) {
            const uint8_t *bottom_first = eight->data + size_t(4 - y) * 27;
            const uint8_t *top_first = storage.data() + y * (row + 8);
            for (int i = 0; i < 27; ++i) {
                const uint8_t v = bottom_first[i];
                if (c.sample == UDIL_SAMPLE_U8) {
                    EXPECT_EQ(v, top_first[i]);
                } else if (c.sample == UDIL_SAMPLE_U16) {
                    EXPECT_EQ(v * 257, reinterpret_cast<const uint16_t *>(top_first)[i]);
                } else {
                    EXPECT_EQ(float(v) / 255.0f, reinterpret_cast<const float *>(top_first)[i]);
                }
            }
            EXPECT_EQ(0xEE, top_first[row]) << "padding written at row " << y;
        }
    }
    std::vector<uint8_t> storage;
    UdilDeepFrame half = frame_of(9, 5, 3, UDIL_SAMPLE_F16, 54, storage);
    EXPECT_EQ(DYX_BAD_ARGUMENT, dyx_udil_get_deep(stream.get(), 0, UDIL_EYE_MONO, &half, nullptr));
    close(stream);

    UdilMovieInfo out_info{9, 5, 1, 0, 0, 0, 25.0f, DYX_IMG_FMT_RGB};
    StreamPtr target = create(file("deep"), out_info);
    ASSERT_TRUE(target);
    UdilDeepFrame wide = frame_of(9, 5, 3, UDIL_SAMPLE_U16, 54, storage);
    EXPECT_EQ(DYX_REFUSED, dyx_udil_save_deep(target.get(), 0, UDIL_EYE_MONO, &wide, nullptr));
    EXPECT_STREQ("The jpeg format cannot hold uint16 samples", dyx_udil_get_last_error_string());
    close(target);
}

TEST_F(DeepWithEntryPoints, StridesArePassedAndOtherLayoutsRefused) {
    // 16-bit RGB written with a padded stride reads back with another.
    const int32_t width = 7, height = 3;
    std::vector<uint8_t> written_storage;
    UdilDeepFrame written = frame_of(width, height, 3, UDIL_SAMPLE_U16, width * 6 + 10, written_storage);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width * 3; ++i)
            reinterpret_cast<uint16_t *>(written_storage.data() + y * written.stride)[i] =
                uint16_t(y * 20000 + i * 911);
    UdilMovieInfo info{width, height, 1, 0, 0, 0, 25.0f, DYX_IMG_FMT_RGB};
    std::string path;
    StreamPtr target = create(file("wide"), info, "", &path);
    ASSERT_TRUE(target);
    ASSERT_EQ(0, dyx_udil_save_deep(target.get(), 0, UDIL_EYE_MONO, &written, nullptr))
        << dyx_udil_get_last_error_string();
    ASSERT_EQ(0, close(target));

    UdilMovieInfo read_info;
    StreamPtr stream = open(path, &read_info);
    ASSERT_TRUE(stream);
    std::vector<uint8_t> storage;
    UdilDeepFrame back = frame_of(width, height, 3, UDIL_SAMPLE_U16, width * 6, storage);
    ASSERT_EQ(0, dyx_udil_get_deep(stream.get(), 0, UDIL_EYE_MONO, &back, nullptr))
        << dyx_udil_get_last_error_string();
    for (int y = 0; y < height; ++y)
        EXPECT_EQ(0, std::memcmp(storage.data() + y * back.stride,
                                 written_storage.data() + y * written.stride, size_t(width * 6)));
    UdilDeepFrame as_float = frame_of(width, height, 3, UDIL_SAMPLE_F32, width * 12, storage);
    EXPECT_EQ(12, dyx_udil_get_deep(stream.get(), 0, UDIL_EYE_MONO, &as_float, nullptr));
    UdilDeepFrame overlapping = frame_of(width, height, 3, UDIL_SAMPLE_U16, width * 6 - 2, storage);
    EXPECT_EQ(DYX_BAD_ARGUMENT, dyx_udil_get_deep(stream.get(), 0, UDIL_EYE_MONO, &overlapping, nullptr));
    EXPECT_EQ(DYX_BAD_ARGUMENT, dyx_udil_get_deep(stream.get(), 1, UDIL_EYE_MONO, &back, nullptr));
}

}  // namespace
