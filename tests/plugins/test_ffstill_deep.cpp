// Deep frames through the ffstill plug-in: each format written at the
// depths it holds from padded rows and read back bit for bit, and every
// other depth or layout refused with a reason that names it. (The files
// are checked against OpenImageIO and the ffmpeg command in
// test_deep_pixels.py.)
#include <cmath>
#include <cstring>
#include <fstream>
#include <vector>

#include "dyx_status.h"
#include "image_codec_support.h"

namespace {

using codec_test::StreamPtr;

class FfstillDeep : public codec_test::CodecTest {
protected:
    FfstillDeep() : CodecTest("ffstill", true) {}

    // Writes `frame` as file(name); the status of the deep save.
    int save(const std::string &name, const UdilDeepFrame &frame, const char *options) {
        const int32_t formats[] = {DYX_IMG_FMT_L, DYX_IMG_FMT_LA, DYX_IMG_FMT_RGB, DYX_IMG_FMT_RGBA};
        UdilMovieInfo info{frame.width, frame.height, 1, 0, 0, 0, 25.0f, formats[frame.channels - 1]};
        StreamPtr target = create(file(name), info, options);
        if (!target) return -1;
        const int status = dyx_udil_save_deep(target.get(), 0, UDIL_EYE_MONO, &frame, nullptr);
        const int closed = close(target);
        return status != 0 ? status : closed;
    }
};

constexpr int32_t kWidth = 23, kHeight = 7, kPadding = 6;

int32_t sample_bytes(int32_t sample) { return sample == UDIL_SAMPLE_F32 ? 4 : 2; }

// Samples of every kind's range: 16-bit values spread over 0..65535, halves
// of every finite bit pattern (subnormals and -0 among them) and floats of
// wide-ranging exponents.
std::vector<uint8_t> samples_of(int32_t channels, int32_t sample, int64_t stride) {
    std::vector<uint8_t> rows(size_t(stride * kHeight), 0xEE);
    uint32_t state = 12345;
    for (int64_t y = 0; y < kHeight; ++y)
        for (int64_t i = 0; i < int64_t(kWidth) * channels; ++i) {
            state = state * 1664525u + 1013904223u;
            uint8_t *at = rows.data() + y * stride + i * sample_bytes(sample);
            if (sample == UDIL_SAMPLE_F32) {
                const float value = std::ldexp(float(state >> 8) / 16777216.0f - 0.5f, int(state % 40) - 20);
                std::memcpy(at, &value, 4);
            } else {
                uint16_t value = uint16_t(state >> 16);
                if (sample == UDIL_SAMPLE_F16 && (value & 0x7c00) == 0x7c00)
                    value &= 0xbfff;  // no inf or NaN
                std::memcpy(at, &value, 2);
            }
        }
    return rows;
}

// A half's value, from its fields.
float half_value(uint16_t half) {
    const int exponent = (half >> 10) & 0x1f, mantissa = half & 0x3ff;
    const float magnitude =
        exponent == 0 ? std::ldexp(float(mantissa), -24) : std::ldexp(float(1024 + mantissa), exponent - 25);
    return (half & 0x8000) ? -magnitude : magnitude;
}

// A `bits`-bit sample widened to 16 bits by repeating its bits.
uint16_t widened(uint16_t value, int bits) {
    return uint16_t(value << (16 - bits) | value >> (2 * bits - 16));
}

TEST_F(FfstillDeep, EachFormatGivesBackTheDepthItHolds) {
    const struct {
        const char *suffix;
        int32_t channels, sample;
        const char *options;
        int bits;  // kept of each 16-bit sample
    } cases[] = {
        {"exr", 3, UDIL_SAMPLE_F16, "", 16},
        {"exr", 4, UDIL_SAMPLE_F16, "exrcompression rle", 16},
        {"exr", 1, UDIL_SAMPLE_F16, "exrpixel float", 16},
        {"exr", 1, UDIL_SAMPLE_F32, "", 32},
        {"exr", 3, UDIL_SAMPLE_F32, "exrpixel half", 32},
        {"exr", 4, UDIL_SAMPLE_F32, "exrcompression zip1", 32},
        {"dpx", 1, UDIL_SAMPLE_U16, "", 16},
        {"dpx", 3, UDIL_SAMPLE_U16, "", 16},
        {"dpx", 4, UDIL_SAMPLE_U16, "dpxbits 16", 16},
        {"dpx", 3, UDIL_SAMPLE_U16, "dpxbits 10", 10},
        {"dpx", 3, UDIL_SAMPLE_U16, "dpxbits 12", 12},
        {"sgi", 1, UDIL_SAMPLE_U16, "", 16},
        {"sgi", 3, UDIL_SAMPLE_U16, "", 16},
        {"sgi", 4, UDIL_SAMPLE_U16, "", 16},
        {"jp2", 1, UDIL_SAMPLE_U16, "", 16},
        {"j2k", 3, UDIL_SAMPLE_U16, "", 16},
        {"jxl", 2, UDIL_SAMPLE_U16, "lossless 1", 16},
        {"jxl", 4, UDIL_SAMPLE_U16, "lossless 1", 16},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.suffix) + " " + c.options + " channels " + std::to_string(c.channels));
        const int64_t row = int64_t(kWidth) * c.channels * sample_bytes(c.sample);
        std::vector<uint8_t> written = samples_of(c.channels, c.sample, row + kPadding);
        const UdilDeepFrame frame{kWidth, kHeight, c.channels, c.sample, row + kPadding, written.data()};
        const std::string name = std::string("deep.") + c.suffix;
        ASSERT_EQ(0, save(name, frame, c.options)) << dyx_udil_get_last_error_string();

        UdilMovieInfo info;
        StreamPtr stream = open(file(name), &info);
        ASSERT_TRUE(stream) << dyx_udil_get_last_error_string();
        UdilDeepFrame layout{};
        ASSERT_EQ(0, dyx_udil_get_deep(stream.get(), 0, UDIL_EYE_MONO, &layout, nullptr));
        const bool floats = c.sample != UDIL_SAMPLE_U16;
        EXPECT_EQ(floats ? UDIL_SAMPLE_F32 : UDIL_SAMPLE_U16, layout.sample);  // half is read as float
        ASSERT_EQ(c.channels, layout.channels);
        const int64_t back_row = int64_t(kWidth) * c.channels * (floats ? 4 : 2);
        std::vector<uint8_t> storage(size_t(back_row * kHeight));
        UdilDeepFrame back{kWidth, kHeight, c.channels, layout.sample, back_row, storage.data()};
        ASSERT_EQ(0, dyx_udil_get_deep(stream.get(), 0, UDIL_EYE_MONO, &back, nullptr))
            << dyx_udil_get_last_error_string();
        int mismatches = 0;
        for (int64_t y = 0; y < kHeight; ++y)
            for (int64_t i = 0; i < int64_t(kWidth) * c.channels; ++i) {
                const uint8_t *in = written.data() + y * frame.stride + i * sample_bytes(c.sample);
                const uint8_t *out = storage.data() + y * back_row + i * (floats ? 4 : 2);
                if (c.sample == UDIL_SAMPLE_U16) {
                    uint16_t value, got;
                    std::memcpy(&value, in, 2);
                    std::memcpy(&got, out, 2);
                    mismatches += got != widened(uint16_t(value >> (16 - c.bits)), c.bits);
                } else if (c.sample == UDIL_SAMPLE_F16) {
                    uint16_t half;
                    std::memcpy(&half, in, 2);
                    const float expected = half_value(half);
                    mismatches += std::memcmp(&expected, out, 4) != 0;
                } else {
                    mismatches += std::memcmp(in, out, 4) != 0;
                }
            }
        EXPECT_EQ(0, mismatches);
        close(stream);
    }
}

TEST_F(FfstillDeep, DepthsAndLayoutsAFormatCannotHoldAreRefusedByName) {
    const struct {
        const char *suffix;
        int32_t channels, sample;
        const char *options, *reason;
    } cases[] = {
        {"exr", 3, UDIL_SAMPLE_U16, "", "The exr format cannot hold uint16 samples"},
        {"dpx", 3, UDIL_SAMPLE_F32, "", "The dpx format cannot hold float32 samples"},
        {"sgi", 3, UDIL_SAMPLE_F16, "", "The sgi format cannot hold float16 samples"},
        {"jxl", 3, UDIL_SAMPLE_F32, "", "The jpegxl format cannot hold float32 samples"},
        {"webp", 3, UDIL_SAMPLE_U16, "", "The webp format cannot hold uint16 samples"},
        {"bmp", 4, UDIL_SAMPLE_U16, "", "The bmp format cannot hold uint16 samples"},
        {"tga", 3, UDIL_SAMPLE_F32, "", "The targa format cannot hold float32 samples"},
        {"qoi", 4, UDIL_SAMPLE_U16, "", "The qoi format cannot hold uint16 samples"},
        {"exr", 2, UDIL_SAMPLE_F16, "", "written as L, RGB or RGBA"},
        {"dpx", 4, UDIL_SAMPLE_U16, "dpxbits 10", "at 10 bits from RGB pictures only"},
        {"jp2", 4, UDIL_SAMPLE_U16, "", "writes no 16-bit RGBA pictures"},
        {"sgi", 2, UDIL_SAMPLE_U16, "", "writes no 16-bit grey with alpha pictures"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.suffix) + " " + c.reason);
        const int64_t row = int64_t(kWidth) * c.channels * sample_bytes(c.sample);
        std::vector<uint8_t> written = samples_of(c.channels, c.sample, row);
        const UdilDeepFrame frame{kWidth, kHeight, c.channels, c.sample, row, written.data()};
        const std::string name = std::string("refused.") + c.suffix;
        EXPECT_NE(0, save(name, frame, c.options));
        EXPECT_NE(std::string::npos, std::string(dyx_udil_get_last_error_string()).find(c.reason))
            << dyx_udil_get_last_error_string();
        EXPECT_FALSE(std::ifstream(file(name)).good()) << "a refused picture left its file";
    }
}

}  // namespace
