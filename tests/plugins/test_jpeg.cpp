// The jpeg plug-in through the host's streams: round trips within a stated
// PSNR, its options, files made by Pillow (decoded exactly as Pillow does),
// compressed frames fetched now and decoded later, and damaged files.
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
std::pair<int, int> frame_header(const std::string &bytes) {
    for (size_t i = 2; i + 11 < bytes.size(); ++i) {
        const auto b = uint8_t(bytes[i + 1]);
        if (uint8_t(bytes[i]) == 0xFF && b >= 0xC0 && b <= 0xC2) return {b, uint8_t(bytes[i + 11])};
    }
    return {0, 0};
}

// Odd sizes leave partial blocks at the right and top edges.
TEST_F(JpegTest, RoundTripsWithinThePsnrBoundAndEveryOptionChangesTheFile) {
    for (int32_t format : {DYX_IMG_FMT_L, DYX_IMG_FMT_RGB}) {
        ImagePtr original = codec_test::natural_image(97, 61, format);
        const std::string path = write("pic" + std::to_string(format), original.get());
        EXPECT_EQ(file("pic" + std::to_string(format)) + ".jpg", path);
        ImagePtr back = read(path);
        ASSERT_NE(nullptr, back.get()) << dyx_udil_get_last_error_string();
        EXPECT_EQ(format, back->format);
        EXPECT_GT(codec_test::psnr(original.get(), back.get()), kQuality90Psnr) << format;
    }
    ImagePtr original = codec_test::natural_image(97, 61, DYX_IMG_FMT_RGB);
    const auto path_with = [&](const char *options) { return written_with(original.get(), options); };
    const std::string low = path_with("quality 30"), high = path_with("quality 95"), plain = path_with(""),
                      progressive = path_with("progressive 1"), optimized = path_with("optimize 1");
    EXPECT_GT(codec_test::psnr(original.get(), read(progressive).get()), kQuality90Psnr);
    EXPECT_LT(codec_test::read_bytes(low).size(), codec_test::read_bytes(high).size());
    EXPECT_LT(codec_test::psnr(original.get(), read(low).get()),
              codec_test::psnr(original.get(), read(high).get()));

    // Marker and luma sampling of the frame header.
    EXPECT_EQ(std::make_pair(0xC0, 0x11),
              frame_header(codec_test::read_bytes(path_with("subsampling 4:4:4"))));
    EXPECT_EQ(std::make_pair(0xC0, 0x21),
              frame_header(codec_test::read_bytes(path_with("subsampling 4:2:2"))));
    EXPECT_EQ(std::make_pair(0xC0, 0x22), frame_header(codec_test::read_bytes(plain)));
    EXPECT_EQ(0xC2, frame_header(codec_test::read_bytes(progressive)).first);

    // Fitted Huffman tables code the same coefficients in fewer bytes.
    EXPECT_LT(codec_test::read_bytes(optimized).size(), codec_test::read_bytes(plain).size());
    EXPECT_TRUE(codec_test::same_pixels(read(plain).get(), read(optimized).get()));
}

TEST_F(JpegTest, DecodesFilesOfPillowAsPillowDoes) {
    // Pillow writes each file and the raw pixels it decodes from it (rows
    // top first); CMYK files (Adobe, inverted) get flat colour blocks.
    const char *script = R"(
y, x = np.mgrid[0:29, 0:45]
rgb = Image.fromarray(np.dstack([plane(0), plane(1), plane(2)]))
save("rgb.jpg", rgb)
save("rgb444.jpg", rgb, subsampling=0, quality=95)
save("progressive.jpg", rgb, progressive=True)
save("grey.jpg", Image.fromarray(plane(0)))
blocks = np.zeros((32, 32, 4), np.uint8)
blocks[:16, :16] = (255, 0, 0, 0)     # cyan
blocks[:16, 16:] = (0, 255, 0, 0)     # magenta
blocks[16:, :16] = (0, 0, 0, 128)     # half black
blocks[16:, 16:] = (0, 128, 255, 64)  # orange-ish
Image.fromarray(blocks, "CMYK").save(os.path.join(d, "cmyk.jpg"), quality=100)
)";
    ASSERT_TRUE(codec_test::run_python(script, scratch_.path()));
    for (const char *name : {"rgb.jpg", "rgb444.jpg", "progressive.jpg"})
        expect_reads_as(name, DYX_IMG_FMT_RGB, file(name) + ".raw");
    expect_reads_as("grey.jpg", DYX_IMG_FMT_L, file("grey.jpg.raw"));
    ImagePtr cmyk = read(file("cmyk.jpg"));
    ASSERT_NE(nullptr, cmyk.get()) << dyx_udil_get_last_error_string();
    EXPECT_EQ(DYX_IMG_FMT_RGB, cmyk->format);
    // R = (255 - C)(255 - K) / 255 and so on, at the centre of each block.
    const struct {
        uint32_t x, y;
        int rgb[3];
    } blocks[] = {
        {8, 8, {0, 255, 255}}, {24, 8, {255, 0, 255}}, {8, 24, {127, 127, 127}}, {24, 24, {191, 95, 0}}};
    for (const auto &block : blocks)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(block.rgb[c], codec_test::sample(cmyk.get(), block.x, block.y, c), 3)
                << block.x << "," << block.y;
}

// The frames of a numbered sequence are fetched in their compressed form,
// several in one request (each from its own file), and decode later to the
// frames read directly, also once the files are gone.
TEST_F(JpegTest, FetchesCompressedFramesNowAndDecodesThemLater) {
    std::vector<ImagePtr> frames;
    for (uint32_t f = 0; f < 3; ++f)
        frames.push_back(codec_test::natural_image(48, 32, DYX_IMG_FMT_RGB, f + 1));
    write_frames("seq_###", frames);
    UdilMovieInfo info;
    codec_test::StreamPtr stream = open(file("seq_###.jpg"), &info, 0, 2);
    ASSERT_TRUE(stream);
    std::vector<std::string> files;
    size_t largest = 0;
    for (int f = 0; f < 3; ++f) {
        files.push_back(codec_test::read_bytes(file("seq_00" + std::to_string(f) + ".jpg")));
        largest = std::max(largest, files.back().size());
    }
    ASSERT_EQ(int64_t(largest), dyx_udil_get_compressed_size(stream.get()));

    // A stride one byte too small for the largest frame: no room.
    const int32_t stride = int32_t(largest);
    std::vector<uint8_t> data(size_t(stride) * 3);
    int64_t sizes[3] = {-1, -1, -1};
    int32_t sizes32[3] = {-1, -1, -1};
    UdilCompressedRequest request{0, 0, 3, stride - 1, UDIL_EYE_MONO, 0, data.data(), sizes, sizes32};
    EXPECT_EQ(2, dyx_udil_get_images_compressed(stream.get(), &request));
    // Frames 1 and 2 in one request.
    request = UdilCompressedRequest{0, 1, 2, stride, UDIL_EYE_MONO, 0, data.data(), sizes, sizes32};
    ASSERT_EQ(0, dyx_udil_get_images_compressed(stream.get(), &request)) << dyx_udil_get_last_error_string();
    std::vector<ImagePtr> decoded;
    for (int f = 1; f < 3; ++f) {
        const std::string &bytes = files[size_t(f)];
        EXPECT_EQ(int64_t(bytes.size()), sizes[f - 1]);
        EXPECT_EQ(int32_t(bytes.size()), sizes32[f - 1]);
        EXPECT_EQ(bytes,
                  std::string(reinterpret_cast<char *>(&data[size_t((f - 1) * stride)]), bytes.size()));
        decoded.push_back(read_frame(stream.get(), info, f));
        std::remove(file("seq_00" + std::to_string(f) + ".jpg").c_str());
    }
    ImagePtr later = image_testing::make_image(48, 32, DYX_IMG_FMT_RGB);
    for (int f = 2; f >= 1; --f) {
        ASSERT_EQ(0, dyx_udil_uncompress_image(stream.get(), f, UDIL_EYE_MONO,
                                               &data[size_t((f - 1) * stride)], sizes32[f - 1], later.get()));
        EXPECT_TRUE(codec_test::same_pixels(decoded[size_t(f - 1)].get(), later.get())) << f;
    }

    // Damaged or foreign compressed data is refused, never half decoded.
    EXPECT_EQ(7, dyx_udil_uncompress_image(stream.get(), 0, UDIL_EYE_MONO, files[0].data(),
                                           int32_t(files[0].size() / 2), later.get()));
    EXPECT_EQ(7, dyx_udil_uncompress_image(stream.get(), 0, UDIL_EYE_MONO, "not a jpeg", 10, later.get()));
    const std::string foreign =
        codec_test::read_bytes(write("other", codec_test::natural_image(32, 48, DYX_IMG_FMT_RGB).get()));
    EXPECT_EQ(12, dyx_udil_uncompress_image(stream.get(), 0, UDIL_EYE_MONO, foreign.data(),
                                            int32_t(foreign.size()), later.get()));
}

TEST_F(JpegTest, RefusesTruncatedAndDamagedFiles) {
    ImagePtr original = codec_test::natural_image(120, 80, DYX_IMG_FMT_RGB);
    const std::string good = codec_test::read_bytes(write("good", original.get()));
    // JPEG has no checksum: a flipped bit in the entropy-coded data mostly
    // decodes to wrong pixels unnoticed (libjpeg resynchronises); a cut
    // anywhere, also inside the entropy-coded data, is an error.
    expect_damage_handled(good, "damaged.jpg", {0, 2, 20, 200, good.size() / 2, good.size() - 3}, 7, false);
    // Broken markers: the start of image, the frame header's marker.
    const size_t sof = good.find("\xFF\xC0");
    ASSERT_NE(std::string::npos, sof);
    for (size_t position : {size_t(0), size_t(1), sof + 1}) {
        std::string bytes = good;
        bytes[position] = char(bytes[position] ^ 0x10);
        codec_test::write_bytes(file("marker.jpg"), bytes);
        expect_refused(file("marker.jpg"), "bit flipped at " + std::to_string(position));
    }
}

}  // namespace
