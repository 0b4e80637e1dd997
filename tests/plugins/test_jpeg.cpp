// The jpeg plug-in through the host's streams: round trips within a stated
// PSNR, its options, files made by Pillow (decoded exactly as Pillow does),
// compressed frames fetched now and decoded later, and damaged files.
#include <cstring>

#include "image_codec_support.h"

namespace {

using codec_test::ImagePtr;

class JpegTest : public codec_test::CodecTest {
protected:
    JpegTest() : CodecTest("jpeg") {}
};

// Quality 90 keeps a natural picture above this (measured: 41 to 45 dB).
constexpr double kQuality90Psnr = 38.0;

// The first frame header (SOF0..SOF2) of a JPEG stream: its marker and the
// sampling factors byte of the first component.
struct FrameHeader {
    int marker = 0;
    int luma_sampling = 0;
};

FrameHeader frame_header(const std::string &bytes) {
    FrameHeader header;
    for (size_t i = 2; i + 11 < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        if (static_cast<unsigned char>(bytes[i]) == 0xFF && b >= 0xC0 && b <= 0xC2) {
            header.marker = b;
            header.luma_sampling = static_cast<unsigned char>(bytes[i + 11]);
            return header;
        }
    }
    return header;
}

TEST_F(JpegTest, RoundTripsGreyAndColourWithinThePsnrBound) {
    for (int32_t format : {DYX_IMG_FMT_L, DYX_IMG_FMT_RGB}) {
        SCOPED_TRACE(format);
        // Odd sizes leave partial blocks at the right and top edges.
        ImagePtr original = codec_test::natural_image(97, 61, format);
        const std::string path = write("pic" + std::to_string(format), original.get());
        EXPECT_EQ(file("pic" + std::to_string(format)) + ".jpg", path);
        UdilMovieInfo info;
        ImagePtr back = read(path, nullptr, &info);
        ASSERT_NE(nullptr, back.get()) << dyx_udil_get_last_error_string();
        EXPECT_EQ(format, info.pixel_format);
        EXPECT_GT(codec_test::psnr(original.get(), back.get()), kQuality90Psnr);
    }
}

TEST_F(JpegTest, EveryOptionChangesTheFile) {
    ImagePtr original = codec_test::natural_image(160, 96, DYX_IMG_FMT_RGB);
    const std::string low = write("low", original.get(), "quality 30");
    const std::string high = write("high", original.get(), "quality 95");
    const std::string full = write("full", original.get(), "subsampling 4:4:4");
    const std::string half = write("half", original.get(), "subsampling 4:2:2");
    const std::string quarter = write("quarter", original.get());
    const std::string progressive = write("progressive", original.get(), "progressive 1");
    const std::string optimized = write("optimized", original.get(), "optimize 1");

    ImagePtr low_back = read(low), high_back = read(high);
    ASSERT_TRUE(low_back && high_back);
    EXPECT_LT(codec_test::read_bytes(low).size(), codec_test::read_bytes(high).size());
    EXPECT_LT(codec_test::psnr(original.get(), low_back.get()),
              codec_test::psnr(original.get(), high_back.get()));

    EXPECT_EQ(0x11, frame_header(codec_test::read_bytes(full)).luma_sampling);
    EXPECT_EQ(0x21, frame_header(codec_test::read_bytes(half)).luma_sampling);
    EXPECT_EQ(0x22, frame_header(codec_test::read_bytes(quarter)).luma_sampling);
    EXPECT_EQ(0xC0, frame_header(codec_test::read_bytes(quarter)).marker);
    EXPECT_EQ(0xC2, frame_header(codec_test::read_bytes(progressive)).marker);

    // Fitted Huffman tables code the same coefficients in fewer bytes.
    ImagePtr plain_back = read(quarter), optimized_back = read(optimized),
             progressive_back = read(progressive);
    EXPECT_LT(codec_test::read_bytes(optimized).size(), codec_test::read_bytes(quarter).size());
    EXPECT_TRUE(codec_test::same_pixels(plain_back.get(), optimized_back.get()));
    ASSERT_NE(nullptr, progressive_back.get());
    EXPECT_GT(codec_test::psnr(original.get(), progressive_back.get()), kQuality90Psnr);
}

TEST_F(JpegTest, DecodesFilesOfPillowAsPillowDoes) {
    // Pillow writes each file and the raw pixels it decodes from it (rows
    // top first); CMYK files (Adobe, inverted) get flat colour blocks.
    const char *script = R"(
import sys, os
import numpy as np
from PIL import Image
d = sys.argv[1]
W, H = 45, 29
y, x = np.mgrid[0:H, 0:W]
def plane(c):
    return ((x * (3 + c) + y * (5 - c)) % 256).astype(np.uint8)
rgb = Image.fromarray(np.dstack([plane(0), plane(1), plane(2)]))
grey = Image.fromarray(plane(0))
files = [("rgb.jpg", rgb, {}), ("rgb444.jpg", rgb, {"subsampling": 0, "quality": 95}),
         ("progressive.jpg", rgb, {"progressive": True}), ("grey.jpg", grey, {})]
for name, image, options in files:
    path = os.path.join(d, name)
    image.save(path, **options)
    with open(path + ".raw", "wb") as out:
        out.write(Image.open(path).tobytes())
blocks = np.zeros((32, 32, 4), np.uint8)
blocks[:16, :16] = (255, 0, 0, 0)     # cyan
blocks[:16, 16:] = (0, 255, 0, 0)     # magenta
blocks[16:, :16] = (0, 0, 0, 128)     # half black
blocks[16:, 16:] = (0, 128, 255, 64)  # orange-ish
Image.fromarray(blocks, "CMYK").save(os.path.join(d, "cmyk.jpg"), quality=100)
)";
    ASSERT_TRUE(codec_test::run_python(script, scratch_.path()));
    for (const char *name : {"rgb.jpg", "rgb444.jpg", "progressive.jpg", "grey.jpg"}) {
        SCOPED_TRACE(name);
        ImagePtr image = read(file(name));
        ASSERT_NE(nullptr, image.get()) << dyx_udil_get_last_error_string();
        EXPECT_EQ(std::string(name) == "grey.jpg" ? DYX_IMG_FMT_L : DYX_IMG_FMT_RGB, image->format);
        // Pillow's rows are top first; flip ours to compare.
        const std::string expected = codec_test::read_bytes(file(name) + ".raw");
        const size_t row = size_t(image->width) * size_t(codec_test::components_of(image->format));
        ASSERT_EQ(expected.size(), row * image->height);
        size_t differing = 0;
        for (size_t y = 0; y < image->height; ++y)
            differing +=
                std::memcmp(expected.data() + y * row, image->data + (image->height - 1 - y) * row, row) != 0;
        EXPECT_EQ(0u, differing) << "rows differing from Pillow's decode";
    }

    ImagePtr cmyk = read(file("cmyk.jpg"));
    ASSERT_NE(nullptr, cmyk.get()) << dyx_udil_get_last_error_string();
    EXPECT_EQ(DYX_IMG_FMT_RGB, cmyk->format);
    // R = (255 - C)(255 - K) / 255 and so on, at the centre of each block.
    struct Block {
        int x, y;
        int rgb[3];
    };
    for (const Block &block : {Block{8, 8, {0, 255, 255}}, Block{24, 8, {255, 0, 255}},
                               Block{8, 24, {127, 127, 127}}, Block{24, 24, {191, 95, 0}}}) {
        const uint8_t *pixel = cmyk->data + (size_t(31 - block.y) * 32 + size_t(block.x)) * 3;
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(block.rgb[c], pixel[c], 3) << block.x << "," << block.y << " " << c;
    }
}

class JpegCompressedTest : public JpegTest {
protected:
    // Three frames of a numbered sequence seq_000.jpg ... seq_002.jpg.
    void SetUp() override {
        JpegTest::SetUp();
        if (HasFatalFailure()) return;
        UdilMovieInfo info{48, 32, 3, 0, 0, 0, 24.0f, DYX_IMG_FMT_RGB};
        UdilStream *stream = dyx_udil_file_new(file("seq_###").c_str(), record_, &info, 0, nullptr);
        ASSERT_NE(nullptr, stream);
        for (uint32_t frame = 0; frame < 3; ++frame) {
            ImagePtr image = codec_test::natural_image(48, 32, DYX_IMG_FMT_RGB, frame + 1);
            ASSERT_EQ(0, dyx_udil_save_image(stream, int32_t(frame), UDIL_EYE_MONO, image.get(), nullptr));
        }
        dyx_udil_file_close(&stream);
        int32_t first = 0, last = 2;
        UdilMovieInfo described{0, 0, -1, 0, 0, 0, -1.0f, DYX_IMG_FMT_RGB};
        stream_ = dyx_udil_file_open(file("seq_###.jpg").c_str(), record_, &described, nullptr, 0, nullptr,
                                     &first, &last);
        ASSERT_NE(nullptr, stream_);
    }
    void TearDown() override {
        if (stream_) dyx_udil_file_close(&stream_);
        JpegTest::TearDown();
    }

    std::string frame_file(int frame) const { return file("seq_00" + std::to_string(frame) + ".jpg"); }

    UdilStream *stream_ = nullptr;
};

TEST_F(JpegCompressedTest, FetchesFramesNowAndDecodesThemLater) {
    size_t largest = 0;
    for (int frame = 0; frame < 3; ++frame)
        largest = std::max(largest, codec_test::read_bytes(frame_file(frame)).size());
    ASSERT_EQ(int64_t(largest), dyx_udil_get_compressed_size(stream_));

    const int32_t stride = int32_t(largest);
    std::vector<uint8_t> data(size_t(stride) * 3);
    std::vector<int64_t> sizes(3, -1);
    std::vector<int32_t> sizes32(3, -1);
    std::vector<ImagePtr> decoded;
    for (int frame = 0; frame < 3; ++frame) {
        UdilCompressedRequest request{0,
                                      frame,
                                      1,
                                      stride,
                                      UDIL_EYE_MONO,
                                      0,
                                      data.data() + frame * stride,
                                      &sizes[size_t(frame)],
                                      &sizes32[size_t(frame)]};
        ASSERT_EQ(0, dyx_udil_get_images_compressed(stream_, &request)) << dyx_udil_get_last_error_string();
        const std::string bytes = codec_test::read_bytes(frame_file(frame));
        EXPECT_EQ(int64_t(bytes.size()), sizes[size_t(frame)]);
        EXPECT_EQ(int32_t(bytes.size()), sizes32[size_t(frame)]);
        EXPECT_EQ(0, std::memcmp(bytes.data(), data.data() + frame * stride, bytes.size()));
        decoded.push_back(image_testing::make_image(48, 32, DYX_IMG_FMT_RGB));
        ASSERT_EQ(0, dyx_udil_get_image(stream_, frame, UDIL_EYE_MONO, decoded.back().get(), nullptr));
    }
    // The files are gone; the fetched bytes still decode to the same frames.
    for (int frame = 0; frame < 3; ++frame) std::remove(frame_file(frame).c_str());
    for (int frame = 2; frame >= 0; --frame) {
        ImagePtr later = image_testing::make_image(48, 32, DYX_IMG_FMT_RGB);
        ASSERT_EQ(0, dyx_udil_uncompress_image(stream_, frame, UDIL_EYE_MONO, data.data() + frame * stride,
                                               sizes32[size_t(frame)], later.get()));
        EXPECT_TRUE(codec_test::same_pixels(decoded[size_t(frame)].get(), later.get())) << frame;
    }
}

// Regression: the frames of a sequence live in one file each, so a request
// for several of them must reach every frame's file, not only the first.
TEST_F(JpegCompressedTest, FetchesSeveralFramesOfASequenceInOneRequest) {
    const int32_t stride = 1 << 14;
    std::vector<uint8_t> data(size_t(stride) * 3);
    std::vector<int64_t> sizes(3, -1);
    std::vector<int32_t> sizes32(3, -1);
    UdilCompressedRequest several{
        0, 0, 3, stride, UDIL_EYE_MONO, 0, data.data(), sizes.data(), sizes32.data()};
    ASSERT_EQ(0, dyx_udil_get_images_compressed(stream_, &several)) << dyx_udil_get_last_error_string();
    for (int frame = 0; frame < 3; ++frame) {
        const std::string bytes = codec_test::read_bytes(frame_file(frame));
        EXPECT_EQ(int64_t(bytes.size()), sizes[size_t(frame)]) << frame;
        EXPECT_EQ(0, std::memcmp(bytes.data(), data.data() + size_t(frame) * stride, bytes.size())) << frame;
    }
}

TEST_F(JpegCompressedTest, RefusesRequestsItCannotFill) {
    std::vector<uint8_t> data(1 << 16);
    int64_t size64 = 0;
    int32_t size32 = 0;
    // A stride too small for the frame: no room.
    UdilCompressedRequest cramped{0, 1, 1, 100, UDIL_EYE_MONO, 0, data.data(), &size64, &size32};
    EXPECT_EQ(2, dyx_udil_get_images_compressed(stream_, &cramped));

    // Damaged or foreign compressed data is refused, never half decoded.
    const std::string bytes = codec_test::read_bytes(frame_file(0));
    ImagePtr target = image_testing::make_image(48, 32, DYX_IMG_FMT_RGB);
    EXPECT_EQ(7, dyx_udil_uncompress_image(stream_, 0, UDIL_EYE_MONO, bytes.data(), int32_t(bytes.size() / 2),
                                           target.get()));
    EXPECT_EQ(7, dyx_udil_uncompress_image(stream_, 0, UDIL_EYE_MONO, "not a jpeg", 10, target.get()));
    ImagePtr other = codec_test::natural_image(32, 48, DYX_IMG_FMT_RGB);
    const std::string foreign = codec_test::read_bytes(write("other", other.get()));
    EXPECT_EQ(12, dyx_udil_uncompress_image(stream_, 0, UDIL_EYE_MONO, foreign.data(),
                                            int32_t(foreign.size()), target.get()));
}

TEST_F(JpegTest, RefusesTruncatedAndDamagedFiles) {
    ImagePtr original = codec_test::natural_image(120, 80, DYX_IMG_FMT_RGB);
    const std::string good = codec_test::read_bytes(write("good", original.get()));
    const std::string damaged = file("damaged.jpg");
    // A cut anywhere, also inside the entropy-coded data, is an error.
    for (size_t length : {size_t(0), size_t(2), size_t(20), size_t(200), good.size() / 2, good.size() - 3}) {
        codec_test::write_bytes(damaged, good.substr(0, length));
        expect_refused(damaged, "cut to " + std::to_string(length) + " bytes");
    }
    // Broken markers: the start of image, the frame header's marker.
    const size_t sof = good.find("\xFF\xC0");
    ASSERT_NE(std::string::npos, sof);
    for (size_t position : {size_t(0), size_t(1), sof + 1}) {
        std::string bytes = good;
        bytes[position] = char(bytes[position] ^ 0x10);
        codec_test::write_bytes(damaged, bytes);
        expect_refused(damaged, "bit flipped at " + std::to_string(position));
    }
    // JPEG has no checksum: a flipped bit in the entropy-coded data mostly
    // decodes to wrong pixels unnoticed (libjpeg resynchronises). Whatever a
    // flip does, the read must not crash or write outside the buffer, and a
    // refusal must say which file.
    for (size_t position = 0; position < good.size(); position += 7) {
        std::string bytes = good;
        bytes[position] = char(bytes[position] ^ (1 << (position % 8)));
        codec_test::write_bytes(damaged, bytes);
        dyx_udil_set_err_str(nullptr);
        int status = 0;
        ImagePtr image = read(damaged, &status);
        if (status > 0) {
            EXPECT_NE(nullptr, std::strstr(dyx_udil_get_last_error_string(), damaged.c_str())) << position;
        }
    }
}

}  // namespace
