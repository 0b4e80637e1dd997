// 16-bit frames written by the movie plug-in: each codec's 10-bit (FFV1:
// 16-bit) round trip through the host, and the refusals of depths and
// codecs it cannot write. (The files are checked against ffprobe and the
// ffmpeg command's rgb48le decoding in test_deep_video_write.py.)
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dyx_status.h"
#include "image_codec_support.h"

namespace {

using codec_test::StreamPtr;

class FfmpegDeepWrite : public codec_test::CodecTest {
protected:
    FfmpegDeepWrite() : CodecTest("ffmpeg", true) {}

    // A smooth 16-bit picture (every channel its own ramp), top row first,
    // rows `stride` samples apart; frame `k` is shifted so that frames differ.
    static std::vector<uint16_t> picture(int width, int height, int channels, int stride, int k) {
        std::vector<uint16_t> samples(size_t(stride) * size_t(height), 0);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < channels; ++c)
                    samples[size_t(y) * size_t(stride) + size_t(x * channels + c)] =
                        uint16_t(4000 + (x * 50000) / width + (y * (c + 1) * 2000) / height + k * 1500);
        return samples;
    }

    static UdilDeepFrame frame_of(int width, int height, int channels, int stride, std::vector<uint16_t> &s) {
        return UdilDeepFrame{width, height, channels, UDIL_SAMPLE_U16, int64_t(stride) * 2, s.data()};
    }
};

TEST_F(FfmpegDeepWrite, EachCodecWritesSixteenBitFramesAndReadsThemBack) {
    const struct {
        const char *options;
        int channels;
        int tolerance;  // largest difference read back, of 65535 (lossy codecs)
        int width, height;
    } cases[] = {
        {"codec ffv1", 3, 0, 64, 48},      {"codec ffv1", 4, 0, 33, 17},
        {"codec ffv1", 1, 0, 10, 6},       {"codec ffv1", 2, 0, 64, 48},
        {"codec prores", 3, 1200, 64, 48}, {"codec prores", 4, 1200, 64, 48},
        {"codec prores", 3, 1200, 65, 48}, {"encoder dnxhd", 3, 1200, 256, 120},
        {"codec h264", 3, 2500, 64, 48},   {"codec h264", 3, 2500, 63, 47},
        {"codec hevc", 3, 2500, 64, 48},   {"codec hevc", 1, 2500, 64, 48},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.options) + " channels " + std::to_string(c.channels) + " " +
                     std::to_string(c.width) + "x" + std::to_string(c.height));
        const int stride = c.width * c.channels + 5;  // padded rows
        UdilMovieInfo info{c.width, c.height, 3, 0, 0, 0, 25.0f, UDIL_FMT_RGB};
        std::string path;
        StreamPtr target = create(file("deep"), info, c.options, &path);
        ASSERT_TRUE(target) << dyx_udil_get_last_error_string();
        std::vector<std::vector<uint16_t>> frames;
        for (int k = 0; k < 3; ++k) {
            frames.push_back(picture(c.width, c.height, c.channels, stride, k));
            UdilDeepFrame frame = frame_of(c.width, c.height, c.channels, stride, frames.back());
            ASSERT_EQ(0, dyx_udil_save_deep(target.get(), k, UDIL_EYE_MONO, &frame, nullptr))
                << dyx_udil_get_last_error_string();
        }
        ASSERT_EQ(0, close(target)) << dyx_udil_get_last_error_string();

        UdilMovieInfo read_info;
        StreamPtr stream = open(path, &read_info);
        ASSERT_TRUE(stream) << dyx_udil_get_last_error_string();
        ASSERT_EQ(3, dyx_udil_total_frames(stream.get()));
        UdilDeepFrame layout{};
        ASSERT_EQ(0, dyx_udil_get_deep(stream.get(), 0, UDIL_EYE_MONO, &layout, nullptr));
        const bool alpha = c.channels % 2 == 0;
        EXPECT_EQ(UDIL_SAMPLE_U16, layout.sample);
        // Grey comes back as RGB; alpha is kept by ProRes 4444 and FFV1.
        const int back_channels = alpha && std::strstr(c.options, "h264") == nullptr ? 4 : 3;
        ASSERT_EQ(back_channels, layout.channels);
        for (int k = 2; k >= 0; --k) {
            std::vector<uint16_t> back(size_t(c.width) * size_t(c.height) * size_t(back_channels));
            layout.pixels = back.data();
            layout.stride = int64_t(c.width) * back_channels * 2;
            ASSERT_EQ(0, dyx_udil_get_deep(stream.get(), k, UDIL_EYE_MONO, &layout, nullptr))
                << dyx_udil_get_last_error_string();
            int worst = 0;
            for (int y = 0; y < c.height; ++y)
                for (int x = 0; x < c.width; ++x)
                    for (int b = 0; b < back_channels; ++b) {
                        // Grey's one value stands for R, G and B; its alpha is the last.
                        const int source = c.channels >= 3 ? b : (b == 3 ? 1 : 0);
                        const int wanted =
                            frames[size_t(k)][size_t(y) * size_t(stride) + size_t(x * c.channels + source)];
                        const int got =
                            back[(size_t(y) * size_t(c.width) + size_t(x)) * size_t(back_channels) +
                                 size_t(b)];
                        worst = std::max(worst, std::abs(got - wanted));
                    }
            EXPECT_LE(worst, c.tolerance) << "frame " << k;
        }
    }
}

TEST_F(FfmpegDeepWrite, OtherDepthsAndCodecsAreRefusedAndEarlierFramesStay) {
    const int width = 32, height = 16;
    std::vector<uint16_t> samples = picture(width, height, 3, width * 3, 0);
    UdilDeepFrame deep = frame_of(width, height, 3, width * 3, samples);
    UdilMovieInfo info{width, height, 2, 0, 0, 0, 25.0f, UDIL_FMT_RGB};
    codec_test::ImagePtr eight = codec_test::natural_image(width, height, DYX_IMG_FMT_RGB);

    // Refused before anything is written: the codec holds 8 bits only.
    const struct {
        const char *options;
        const char *named;
    } eight_bit_codecs[] = {
        {"codec mpeg4", "mpeg4"}, {"codec mjpeg", "mjpeg"}, {"depth 8", "depth option 8"}};
    for (const auto &c : eight_bit_codecs) {
        SCOPED_TRACE(c.options);
        std::string path;
        StreamPtr target = create(file("eight"), info, c.options, &path);
        ASSERT_TRUE(target) << dyx_udil_get_last_error_string();
        EXPECT_EQ(1, dyx_udil_save_deep(target.get(), 0, UDIL_EYE_MONO, &deep, nullptr));
        const std::string text = dyx_udil_get_last_error_string();
        EXPECT_NE(std::string::npos, text.find(c.named)) << text;
        EXPECT_NE(std::string::npos, text.find("uint16")) << text;
        // The file still takes 8-bit frames.
        ASSERT_EQ(0, dyx_udil_save_image(target.get(), 0, UDIL_EYE_MONO, eight.get(), nullptr))
            << dyx_udil_get_last_error_string();
        ASSERT_EQ(0, close(target));
        UdilMovieInfo read_info;
        StreamPtr stream = open(path, &read_info);
        ASSERT_TRUE(stream) << dyx_udil_get_last_error_string();
        EXPECT_EQ(1, dyx_udil_total_frames(stream.get()));
    }

    std::vector<float> floats(size_t(width) * height * 3, 0.5f);
    UdilDeepFrame real{width, height, 3, UDIL_SAMPLE_F32, width * 12, floats.data()};
    StreamPtr target = create(file("mixed"), info, "codec ffv1");
    ASSERT_TRUE(target);
    EXPECT_EQ(DYX_REFUSED, dyx_udil_save_deep(target.get(), 0, UDIL_EYE_MONO, &real, nullptr));
    EXPECT_STREQ("The ffmpeg format cannot hold float32 samples", dyx_udil_get_last_error_string());

    // A deep first frame settles the depth: an 8-bit frame, or one with
    // alpha, is refused after it, and the deep frame stays in the file.
    std::string path;
    target = create(file("deepfirst"), info, "codec ffv1", &path);
    ASSERT_EQ(0, dyx_udil_save_deep(target.get(), 0, UDIL_EYE_MONO, &deep, nullptr));
    EXPECT_NE(0, dyx_udil_save_image(target.get(), 1, UDIL_EYE_MONO, eight.get(), nullptr));
    EXPECT_NE(nullptr, std::strstr(dyx_udil_get_last_error_string(), "an 8-bit frame cannot follow"));
    std::vector<uint16_t> with_alpha = picture(width, height, 4, width * 4, 1);
    UdilDeepFrame alpha = frame_of(width, height, 4, width * 4, with_alpha);
    EXPECT_EQ(1, dyx_udil_save_deep(target.get(), 1, UDIL_EYE_MONO, &alpha, nullptr));
    ASSERT_EQ(0, close(target));
    UdilMovieInfo read_info;
    StreamPtr stream = open(path, &read_info);
    ASSERT_TRUE(stream);
    EXPECT_EQ(1, dyx_udil_total_frames(stream.get()));
    std::vector<uint16_t> back(samples.size());
    UdilDeepFrame layout{width, height, 3, UDIL_SAMPLE_U16, width * 6, back.data()};
    ASSERT_EQ(0, dyx_udil_get_deep(stream.get(), 0, UDIL_EYE_MONO, &layout, nullptr));
    EXPECT_EQ(samples, back);
    close(stream);

    // An 8-bit first frame settles 8 bits.
    target = create(file("eightfirst"), info, "codec ffv1");
    ASSERT_EQ(0, dyx_udil_save_image(target.get(), 0, UDIL_EYE_MONO, eight.get(), nullptr));
    EXPECT_EQ(1, dyx_udil_save_deep(target.get(), 1, UDIL_EYE_MONO, &deep, nullptr));
    EXPECT_NE(nullptr, std::strstr(dyx_udil_get_last_error_string(), "a uint16 frame cannot follow"));
    EXPECT_EQ(0, close(target));
}

}  // namespace
