// The png plug-in through the host's streams: exact round trips of every
// format it writes, its options, PNG flavours made by Pillow and OpenCV,
// sequences and animations, and damaged files.
#include "image_codec_support.h"

namespace {

using codec_test::ImagePtr;

class PngTest : public codec_test::CodecTest {
protected:
    PngTest() : CodecTest("png") {}
};

// Every written format and option comes back exactly, here and in Pillow;
// an A picture is not written.
TEST_F(PngTest, EveryFormatAndOptionRoundTripsExactly) {
    UdilMovieInfo alpha{8, 8, 1, 0, 0, 0, -1.0f, DYX_IMG_FMT_A};
    EXPECT_EQ(nullptr, record_->entry.create_writer(&alpha, 0, nullptr));

    const struct {
        int32_t format;
        const char *options;
        const char *mode;  // Pillow's name of the format
    } cases[] = {{DYX_IMG_FMT_L, "", "L"},
                 {DYX_IMG_FMT_LA, "compression 0", "LA"},
                 {DYX_IMG_FMT_RGB, "filter paeth", "RGB"},
                 {DYX_IMG_FMT_RGBA, "interlace 1 compression 9", "RGBA"}};
    std::vector<ImagePtr> originals;
    std::vector<std::tuple<std::string, std::string, const dyx_image_t *>> for_pillow;
    for (const auto &c : cases) {
        originals.push_back(codec_test::random_image(37, 23, c.format));
        const std::string name = "pic" + std::to_string(c.format);
        const std::string path = write(name, originals.back().get(), c.options);
        EXPECT_EQ(file(name) + ".png", path);
        UdilMovieInfo info;
        EXPECT_TRUE(codec_test::same_pixels(originals.back().get(), read(path, nullptr, &info).get()))
            << c.mode;
        EXPECT_EQ(1, info.frames);
        for_pillow.push_back({path, c.mode, originals.back().get()});
    }
    expect_pillow_reads(for_pillow);
}

TEST_F(PngTest, EveryOptionChangesTheFile) {
    ImagePtr original = codec_test::natural_image(256, 192, DYX_IMG_FMT_RGB);
    const auto bytes_with = [&](const char *options) {
        return codec_test::read_bytes(written_with(original.get(), options));
    };
    const std::string stored = bytes_with("compression 0"), fast = bytes_with(""),
                      small = bytes_with("compression 9"), paeth = bytes_with("filter paeth"),
                      none = bytes_with("filter none"), interlaced = bytes_with("interlace 1");
    const size_t raw = 256 * 192 * 3;
    EXPECT_GT(stored.size(), raw);
    EXPECT_LT(fast.size(), raw * 3 / 4);
    EXPECT_LT(small.size(), fast.size());
    EXPECT_NE(paeth, none);
    EXPECT_NE(paeth, fast);
    // IHDR's interlace method is the 29th byte of the file.
    EXPECT_EQ(0, fast.at(28));
    EXPECT_EQ(1, interlaced.at(28));
}

// Pillow and OpenCV write each flavour and the pixels it must read as (rows
// top first): palettes with and without transparency, bitmaps, grey with a
// transparent level, and 16-bit samples scaled to 8 bits with rounding.
TEST_F(PngTest, ReadsPaletteGreyAndSixteenBitFilesOfOtherTools) {
    const char *script = R"(
y, x = np.mgrid[0:11, 0:19]
rgb = np.dstack([plane(0), plane(1), plane(2)])
save("rgb.png", Image.fromarray(rgb), rgb)
save("rgba.png", Image.fromarray(np.dstack([rgb, plane(3)]), "RGBA"), np.dstack([rgb, plane(3)]))
save("la.png", Image.fromarray(np.dstack([plane(0), plane(1)]), "LA"), np.dstack([plane(0), plane(1)]))
palette = np.array([[10, 20, 30], [40, 50, 60], [70, 80, 90], [200, 210, 220]], np.uint8)
index = ((x + y) % 4).astype(np.uint8)
p = Image.fromarray(index, "P")
p.putpalette(palette.flatten().tolist() + [0] * 756)
save("palette.png", p, palette[index])
save("palette_trns.png", p, np.dstack([palette[index], np.where(index == 1, 0, 255)]), transparency=1)
bits = (x + y) % 2 * 255
save("bilevel.png", Image.fromarray(bits.astype(np.uint8)).convert("1"), bits)
grey = plane(0)
clear = int(grey[0, 1])
save("grey_trns.png", Image.fromarray(grey), np.dstack([grey, np.where(grey == clear, 0, 255)]), transparency=clear)
wide = (x * 3000 + y * 500).astype(np.uint16)
save("grey16.png", Image.fromarray(wide), np.round(wide / 257.0))
cv2.imwrite(os.path.join(d, "rgb16.png"), np.dstack([wide // 3, wide // 2, wide]))  # BGR
with open(os.path.join(d, "rgb16.png.raw"), "wb") as out:
    out.write(np.round(np.dstack([wide, wide // 2, wide // 3]) / 257.0).astype(np.uint8).tobytes())
)";
    ASSERT_TRUE(codec_test::run_python(script, scratch_.path()));
    const int32_t L = DYX_IMG_FMT_L, LA = DYX_IMG_FMT_LA, RGB = DYX_IMG_FMT_RGB, RGBA = DYX_IMG_FMT_RGBA;
    const std::pair<const char *, int32_t> cases[] = {
        {"rgb.png", RGB},      {"rgba.png", RGBA},         {"la.png", LA},
        {"palette.png", RGB},  {"palette_trns.png", RGBA}, {"bilevel.png", L},
        {"grey_trns.png", LA}, {"grey16.png", L},          {"rgb16.png", RGB}};
    for (const auto &[name, format] : cases) expect_reads_as(name, format, file(name) + ".raw");
}

TEST_F(PngTest, RefusesTruncatedAndBitFlippedFiles) {
    ImagePtr original = codec_test::natural_image(64, 48, DYX_IMG_FMT_RGBA);
    const std::string good = codec_test::read_bytes(write("good", original.get(), "compression 6"));
    ASSERT_GT(good.size(), 200u);
    // Every chunk is covered by a CRC, so any flipped bit is noticed.
    expect_damage_handled(good, "damaged.png",
                          {0, 7, 8, 20, 33, 41, good.size() / 2, good.size() - 13, good.size() - 1}, 23,
                          true);
}

// Guards against a few bytes making the reader allocate gigabytes: a chunk
// that claims more bytes than the file has left is refused before libpng
// sees it.
TEST_F(PngTest, RefusesChunksThatClaimMoreThanTheFileHolds) {
    const std::string start = std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16) +
                              std::string("\0\0\0\1\0\0\0\1\x08\0\0\0\0", 13) + std::string(4, '\0');
    for (const char *type : {"tEXt", "iCCP", "zTXt", "prVt"}) {
        const std::string path = file(std::string(type) + ".png");
        codec_test::write_bytes(path,
                                start + std::string("\x7f\xff\xff\xf0", 4) + type + std::string(16, 'a'));
        EXPECT_EQ(nullptr, read(path).get()) << type;
        const std::string error = dyx_udil_get_last_error_string();
        EXPECT_NE(std::string::npos, error.find("the file is cut short: its " + std::string(type) +
                                                " chunk claims 2147483632 bytes"))
            << error;
    }
}

// Guards the buffer the host sized from the first file: a later file of
// another size on the same handle is refused before any pixel is written.
TEST_F(PngTest, HandleRefusesAFileOfAnotherSize) {
    ImagePtr big = codec_test::random_image(32, 32, DYX_IMG_FMT_RGB);
    const std::string big_path = write("big", big.get());
    const std::string small_path = write("small", codec_test::random_image(16, 16, DYX_IMG_FMT_RGB).get());
    const std::string grey_path = write("grey", codec_test::random_image(32, 32, DYX_IMG_FMT_L).get());

    UdilMovieInfo info{};
    UdilHandle reader = record_->entry.create_reader(big_path.c_str(), &info, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, reader);
    for (const std::string &other : {small_path, grey_path}) {
        EXPECT_EQ(12, record_->entry.file_open(reader, other.c_str()));
        int32_t flag = 0;
        char message[256];
        record_->entry.get_err(reader, &flag, message);
        EXPECT_NE(nullptr, std::strstr(message, other.c_str())) << message;
    }
    ImagePtr back = image_testing::make_image(32, 32, DYX_IMG_FMT_RGB);
    EXPECT_NE(0, record_->entry.get_image(reader, 0, UDIL_EYE_MONO, back->data, nullptr));
    ASSERT_EQ(0, record_->entry.file_open(reader, big_path.c_str()));
    // Reading twice from one open file gives the picture both times.
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_EQ(0, record_->entry.get_image(reader, 0, UDIL_EYE_MONO, back->data, nullptr));
        EXPECT_TRUE(codec_test::same_pixels(big.get(), back.get()));
    }
    record_->entry.handle_destroy(&reader);
}

// Frames go to files of their own under a numbered name, or else into one
// animated PNG (a single frame stays a plain PNG), and read back exactly.
TEST_F(PngTest, FramesMakeASequenceOrAnAnimation) {
    const std::vector<ImagePtr> frames = codec_test::random_frames(3, 21, 9, DYX_IMG_FMT_RGBA);
    write_frames("seq_###", frames);
    EXPECT_FALSE(codec_test::read_bytes(file("seq_002.png")).empty());
    expect_frames(file("seq_###.png"), frames, 0, 2);
    for (const int count : {1, 2, 3}) {
        const std::vector<ImagePtr> some = codec_test::random_frames(count, 21, 9, DYX_IMG_FMT_RGBA);
        const std::string name = "anim" + std::to_string(count);
        write_frames(name, some);
        EXPECT_EQ(count > 1, codec_test::read_bytes(file(name + ".png")).find("acTL") != std::string::npos);
        expect_frames(file(name + ".png"), some);
    }
    // The frames of one file come in order; those written stay readable.
    UdilMovieInfo info{21, 9, 3, 0, 0, 0, 24.0f, DYX_IMG_FMT_RGBA};
    codec_test::StreamPtr stream = create(file("order"), info);
    ASSERT_EQ(0, dyx_udil_save_image(stream.get(), 0, UDIL_EYE_MONO, frames[0].get(), nullptr));
    EXPECT_NE(0, dyx_udil_save_image(stream.get(), 2, UDIL_EYE_MONO, frames[0].get(), nullptr));
    EXPECT_NE(std::string::npos,
              std::string(dyx_udil_get_last_error_string()).find("frame 2 cannot follow frame 0"));
    stream.reset();
    EXPECT_NE(nullptr, read(file("order.png")).get());
}

}  // namespace
