// The png plug-in through the host's streams: exact round trips of every
// format it writes, its options, PNG flavours made by Pillow and OpenCV,
// and damaged files.
#include "image_codec_support.h"

namespace {

using codec_test::ImagePtr;

class PngTest : public codec_test::CodecTest {
protected:
    PngTest() : CodecTest("png") {}
};

// The pattern the Python scripts below draw: sample c of pixel (x, y),
// y counted from the top as image files store it.
uint8_t pattern(int x, int y, int c) { return uint8_t((x * 7 + y * 13 + c * 50) % 256); }

// Sample c of the picture pixel (x, y), y from the top.
uint8_t sample(const dyx_image_t *image, int x, int y, int c) {
    const int channels = codec_test::components_of(image->format);
    return image->data[(size_t(image->height - 1 - y) * image->width + x) * channels + c];
}

TEST_F(PngTest, RoundTripsEveryWrittenFormatExactly) {
    for (int32_t format : {DYX_IMG_FMT_L, DYX_IMG_FMT_LA, DYX_IMG_FMT_RGB, DYX_IMG_FMT_RGBA}) {
        SCOPED_TRACE(format);
        ImagePtr original = codec_test::random_image(37, 23, format);
        const std::string path = write("pic" + std::to_string(format), original.get());
        EXPECT_EQ(file("pic" + std::to_string(format)) + ".png", path);
        UdilMovieInfo info;
        ImagePtr back = read(path, nullptr, &info);
        ASSERT_NE(nullptr, back.get()) << dyx_udil_get_last_error_string();
        EXPECT_EQ(format, info.pixel_format);
        EXPECT_EQ(1, info.frames);
        EXPECT_TRUE(codec_test::same_pixels(original.get(), back.get()));
    }
}

TEST_F(PngTest, EveryOptionChangesTheFileAndKeepsThePixels) {
    ImagePtr original = codec_test::natural_image(256, 192, DYX_IMG_FMT_RGB);
    const std::string stored = write("stored", original.get(), "compression 0");
    const std::string fast = write("fast", original.get());
    const std::string small = write("small", original.get(), "compression 9");
    const std::string paeth = write("paeth", original.get(), "filter paeth");
    const std::string none = write("none", original.get(), "filter none");
    const std::string interlaced = write("interlaced", original.get(), "interlace 1");

    const size_t raw = 256 * 192 * 3;
    EXPECT_GT(codec_test::read_bytes(stored).size(), raw);
    EXPECT_LT(codec_test::read_bytes(fast).size(), raw * 3 / 4);
    EXPECT_LT(codec_test::read_bytes(small).size(), codec_test::read_bytes(fast).size());
    EXPECT_NE(codec_test::read_bytes(paeth), codec_test::read_bytes(none));
    EXPECT_NE(codec_test::read_bytes(paeth), codec_test::read_bytes(fast));
    // IHDR's interlace method is the 29th byte of the file.
    EXPECT_EQ(0, codec_test::read_bytes(fast).at(28));
    EXPECT_EQ(1, codec_test::read_bytes(interlaced).at(28));

    for (const std::string &path : {stored, fast, small, paeth, none, interlaced}) {
        ImagePtr back = read(path);
        EXPECT_TRUE(codec_test::same_pixels(original.get(), back.get())) << path;
    }
}

TEST_F(PngTest, ReadsPaletteGreyAndSixteenBitFilesOfOtherTools) {
    const char *script = R"(
import sys, os
import numpy as np
from PIL import Image
import cv2
d = sys.argv[1]
W, H = 19, 11
def pattern(c):
    y, x = np.mgrid[0:H, 0:W]
    return ((x * 7 + y * 13 + c * 50) % 256).astype(np.uint8)
rgb = np.dstack([pattern(0), pattern(1), pattern(2)])
Image.fromarray(rgb).save(os.path.join(d, "rgb.png"))
Image.fromarray(np.dstack([rgb, pattern(3)]), "RGBA").save(os.path.join(d, "rgba.png"))
Image.fromarray(np.dstack([pattern(0), pattern(1)]), "LA").save(os.path.join(d, "la.png"))
# Palette of four colours, index (x + y) % 4; index 1 transparent in the second file.
y, x = np.mgrid[0:H, 0:W]
index = ((x + y) % 4).astype(np.uint8)
p = Image.fromarray(index, "P")
p.putpalette([10, 20, 30, 40, 50, 60, 70, 80, 90, 200, 210, 220] + [0] * 756)
p.save(os.path.join(d, "palette.png"))
p.save(os.path.join(d, "palette_trns.png"), transparency=1)
# One bit per pixel.
Image.fromarray(((x + y) % 2 * 255).astype(np.uint8)).convert("1").save(os.path.join(d, "bilevel.png"))
# Grey with one transparent grey level (tRNS).
Image.fromarray(pattern(0)).save(os.path.join(d, "grey_trns.png"), transparency=int(pattern(0)[0, 1]))
# 16-bit grey (Pillow) and 16-bit colour (OpenCV writes BGR).
wide = (x * 3000 + y * 500).astype(np.uint16)
Image.fromarray(wide).save(os.path.join(d, "grey16.png"))
cv2.imwrite(os.path.join(d, "rgb16.png"), np.dstack([wide // 3, wide // 2, wide]))
)";
    ASSERT_TRUE(codec_test::run_python(script, scratch_.path()));
    const int W = 19, H = 11;
    struct Expectation {
        const char *name;
        int32_t format;
    };
    for (const Expectation &expected :
         {Expectation{"rgb.png", DYX_IMG_FMT_RGB}, Expectation{"rgba.png", DYX_IMG_FMT_RGBA},
          Expectation{"la.png", DYX_IMG_FMT_LA}}) {
        ImagePtr image = read(file(expected.name));
        ASSERT_NE(nullptr, image.get()) << expected.name << ": " << dyx_udil_get_last_error_string();
        ASSERT_EQ(expected.format, image->format) << expected.name;
        const int channels = codec_test::components_of(expected.format);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                for (int c = 0; c < channels; ++c)
                    ASSERT_EQ(pattern(x, y, c), sample(image.get(), x, y, c))
                        << expected.name << " " << x << "," << y;
    }

    const uint8_t palette[4][3] = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {200, 210, 220}};
    ImagePtr plain = read(file("palette.png"));
    ImagePtr transparent = read(file("palette_trns.png"));
    ASSERT_NE(nullptr, plain.get());
    ASSERT_NE(nullptr, transparent.get());
    EXPECT_EQ(DYX_IMG_FMT_RGB, plain->format);
    EXPECT_EQ(DYX_IMG_FMT_RGBA, transparent->format);
    ImagePtr bilevel = read(file("bilevel.png"));
    ImagePtr grey_trns = read(file("grey_trns.png"));
    ASSERT_NE(nullptr, bilevel.get());
    ASSERT_NE(nullptr, grey_trns.get());
    EXPECT_EQ(DYX_IMG_FMT_L, bilevel->format);
    EXPECT_EQ(DYX_IMG_FMT_LA, grey_trns->format);
    const uint8_t see_through = pattern(1, 0, 0);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const int index = (x + y) % 4;
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(palette[index][c], sample(plain.get(), x, y, c));
                EXPECT_EQ(palette[index][c], sample(transparent.get(), x, y, c));
            }
            EXPECT_EQ(index == 1 ? 0 : 255, sample(transparent.get(), x, y, 3));
            EXPECT_EQ((x + y) % 2 ? 255 : 0, sample(bilevel.get(), x, y, 0));
            EXPECT_EQ(pattern(x, y, 0), sample(grey_trns.get(), x, y, 0));
            EXPECT_EQ(pattern(x, y, 0) == see_through ? 0 : 255, sample(grey_trns.get(), x, y, 1));
        }

    // 16-bit samples are scaled to 8 bits with rounding.
    ImagePtr grey16 = read(file("grey16.png"));
    ImagePtr rgb16 = read(file("rgb16.png"));
    ASSERT_NE(nullptr, grey16.get());
    ASSERT_NE(nullptr, rgb16.get());
    EXPECT_EQ(DYX_IMG_FMT_L, grey16->format);
    EXPECT_EQ(DYX_IMG_FMT_RGB, rgb16->format);
    auto scaled = [](int v) { return int(std::lround(v / 257.0)); };
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const int wide = x * 3000 + y * 500;
            EXPECT_EQ(scaled(wide), sample(grey16.get(), x, y, 0));
            EXPECT_EQ(scaled(wide), sample(rgb16.get(), x, y, 0));
            EXPECT_EQ(scaled(wide / 2), sample(rgb16.get(), x, y, 1));
            EXPECT_EQ(scaled(wide / 3), sample(rgb16.get(), x, y, 2));
        }
}

TEST_F(PngTest, PillowReadsWhatItWrites) {
    ImagePtr rgba = codec_test::random_image(29, 17, DYX_IMG_FMT_RGBA);
    ImagePtr la = codec_test::random_image(29, 17, DYX_IMG_FMT_LA);
    const std::string interlaced = write("interlaced", rgba.get(), "interlace 1 compression 9");
    const std::string stored = write("stored", la.get(), "compression 0");
    ASSERT_TRUE(codec_test::pillow_decodes(scratch_.path(), {{interlaced, "RGBA"}, {stored, "LA"}}));
    codec_test::expect_same_rows(rgba.get(), codec_test::read_bytes(interlaced + ".raw"));
    codec_test::expect_same_rows(la.get(), codec_test::read_bytes(stored + ".raw"));
}

TEST_F(PngTest, RefusesTruncatedAndBitFlippedFiles) {
    ImagePtr original = codec_test::natural_image(64, 48, DYX_IMG_FMT_RGBA);
    const std::string good = codec_test::read_bytes(write("good", original.get(), "compression 6"));
    ASSERT_GT(good.size(), 200u);
    const std::string damaged = file("damaged.png");
    for (size_t length : {size_t(0), size_t(7), size_t(8), size_t(20), size_t(33), size_t(41),
                          good.size() / 2, good.size() - 13, good.size() - 1}) {
        codec_test::write_bytes(damaged, good.substr(0, length));
        expect_refused(damaged, "cut to " + std::to_string(length) + " bytes");
    }
    // Every chunk is covered by a CRC, so any flipped bit is noticed.
    for (size_t position = 0; position < good.size(); position += 23) {
        std::string bytes = good;
        bytes[position] = char(bytes[position] ^ (1 << (position % 8)));
        codec_test::write_bytes(damaged, bytes);
        expect_refused(damaged, "bit flipped at " + std::to_string(position));
    }
}

// Guards the buffer the host sized from the first file: a later file of
// another size on the same handle is refused before any pixel is written.
TEST_F(PngTest, HandleRefusesAFileOfAnotherSize) {
    ImagePtr big = codec_test::random_image(32, 32, DYX_IMG_FMT_RGB);
    ImagePtr small = codec_test::random_image(16, 16, DYX_IMG_FMT_RGB);
    ImagePtr grey = codec_test::random_image(32, 32, DYX_IMG_FMT_L);
    const std::string big_path = write("big", big.get());
    const std::string small_path = write("small", small.get());
    const std::string grey_path = write("grey", grey.get());

    UdilMovieInfo info{};
    UdilHandle reader = record_->entry.create_reader(big_path.c_str(), &info, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, reader);
    EXPECT_EQ(32, info.width);
    for (const std::string &other : {small_path, grey_path}) {
        EXPECT_EQ(12, record_->entry.file_open(reader, other.c_str()));
        int32_t flag = 0;
        char message[256];
        record_->entry.get_err(reader, &flag, message);
        EXPECT_NE(0, flag);
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

TEST_F(PngTest, WritesAndReadsANumberedSequence) {
    std::vector<ImagePtr> frames;
    UdilMovieInfo info{20, 10, 3, 0, 0, 0, 24.0f, DYX_IMG_FMT_RGB};
    UdilStream *stream = dyx_udil_file_new(file("seq_###").c_str(), record_, &info, 0, nullptr);
    ASSERT_NE(nullptr, stream);
    for (int frame = 0; frame < 3; ++frame) {
        frames.push_back(codec_test::random_image(20, 10, DYX_IMG_FMT_RGB, uint32_t(frame + 1)));
        ASSERT_EQ(0, dyx_udil_save_image(stream, frame, UDIL_EYE_MONO, frames.back().get(), nullptr));
    }
    dyx_udil_file_close(&stream);
    EXPECT_FALSE(codec_test::read_bytes(file("seq_002.png")).empty());

    int32_t first = 0, last = 2;
    UdilMovieInfo described{0, 0, -1, 0, 0, 0, -1.0f, DYX_IMG_FMT_RGB};
    stream = dyx_udil_file_open(file("seq_###.png").c_str(), record_, &described, nullptr, 0, nullptr, &first,
                                &last);
    ASSERT_NE(nullptr, stream);
    EXPECT_EQ(3, dyx_udil_total_frames(stream));
    ImagePtr back = image_testing::make_image(20, 10, DYX_IMG_FMT_RGB);
    for (int frame = 2; frame >= 0; --frame) {
        ASSERT_EQ(0, dyx_udil_get_image(stream, frame, UDIL_EYE_MONO, back.get(), nullptr));
        EXPECT_TRUE(codec_test::same_pixels(frames[size_t(frame)].get(), back.get())) << frame;
    }
    dyx_udil_file_close(&stream);
}

TEST_F(PngTest, RefusesToWriteAlphaOnlyPictures) {
    UdilMovieInfo info{8, 8, 1, 0, 0, 0, -1.0f, DYX_IMG_FMT_A};
    EXPECT_EQ(nullptr, record_->entry.create_writer(&info, 0, nullptr));
    EXPECT_EQ(DYX_IMG_FMT_L | DYX_IMG_FMT_LA | DYX_IMG_FMT_RGB | DYX_IMG_FMT_RGBA,
              record_->entry.image_formats());
}

// Several frames written into one file make an animated PNG whose frames
// read back exactly; a single frame stays a plain PNG.
TEST_F(PngTest, FramesOfOneFileMakeAnAnimation) {
    for (const int32_t count : {1, 2, 4}) {
        SCOPED_TRACE(count);
        std::vector<ImagePtr> frames;
        UdilMovieInfo info{21, 9, count, 0, 0, 0, 24.0f, DYX_IMG_FMT_RGBA};
        const std::string name = file("anim" + std::to_string(count));
        UdilStream *stream = dyx_udil_file_new(name.c_str(), record_, &info, 0, nullptr);
        ASSERT_NE(nullptr, stream) << dyx_udil_get_last_error_string();
        for (int frame = 0; frame < count; ++frame) {
            frames.push_back(codec_test::random_image(21, 9, DYX_IMG_FMT_RGBA, uint32_t(frame + 5)));
            ASSERT_EQ(0, dyx_udil_save_image(stream, frame, UDIL_EYE_MONO, frames.back().get(), nullptr))
                << dyx_udil_get_last_error_string();
        }
        dyx_udil_file_close(&stream);
        const std::string bytes = codec_test::read_bytes(name + ".png");
        EXPECT_EQ(count > 1, bytes.find("acTL") != std::string::npos);

        UdilMovieInfo described{0, 0, -1, 0, 0, 0, -1.0f, DYX_IMG_FMT_RGB};
        int32_t first = -1, last = -1;  // the file's own frames
        stream = dyx_udil_file_open((name + ".png").c_str(), record_, &described, nullptr, 0, nullptr, &first,
                                    &last);
        ASSERT_NE(nullptr, stream);
        EXPECT_EQ(count, described.frames);
        EXPECT_EQ(count, dyx_udil_total_frames(stream));
        ImagePtr back = image_testing::make_image(21, 9, DYX_IMG_FMT_RGBA);
        // Backwards, so that every read goes back to the first frame.
        for (int frame = count - 1; frame >= 0; --frame) {
            ASSERT_EQ(0, dyx_udil_get_image(stream, frame, UDIL_EYE_MONO, back.get(), nullptr));
            EXPECT_TRUE(codec_test::same_pixels(frames[size_t(frame)].get(), back.get())) << frame;
        }
        EXPECT_NE(0, dyx_udil_get_image(stream, count, UDIL_EYE_MONO, back.get(), nullptr));
        dyx_udil_file_close(&stream);
    }
}

TEST_F(PngTest, FramesOfOneFileComeInOrder) {
    UdilMovieInfo info{8, 8, 3, 0, 0, 0, 24.0f, DYX_IMG_FMT_RGB};
    ImagePtr picture = codec_test::random_image(8, 8, DYX_IMG_FMT_RGB);
    UdilStream *stream = dyx_udil_file_new(file("order").c_str(), record_, &info, 0, nullptr);
    ASSERT_NE(nullptr, stream);
    ASSERT_EQ(0, dyx_udil_save_image(stream, 0, UDIL_EYE_MONO, picture.get(), nullptr));
    EXPECT_NE(0, dyx_udil_save_image(stream, 2, UDIL_EYE_MONO, picture.get(), nullptr));
    EXPECT_NE(std::string::npos,
              std::string(dyx_udil_get_last_error_string()).find("frame 2 cannot follow frame 0"));
    dyx_udil_file_close(&stream);
    EXPECT_TRUE(survives(file("order.png")));
}

// Guards against a few bytes making the reader allocate gigabytes: a chunk
// that claims more bytes than the file has left is refused before libpng
// sees it.
TEST_F(PngTest, RefusesChunksThatClaimMoreThanTheFileHolds) {
    const std::string signature("\x89PNG\r\n\x1a\n", 8);
    const std::string header = std::string("\0\0\0\x0dIHDR", 8) +
                               std::string("\0\0\0\1\0\0\0\1\x08\0\0\0\0", 13) + std::string(4, '\0');
    for (const char *type : {"tEXt", "iCCP", "zTXt", "prVt"}) {
        const std::string path = file(std::string(type) + ".png");
        codec_test::write_bytes(
            path, signature + header + std::string("\x7f\xff\xff\xf0", 4) + type + std::string(16, 'a'));
        int status = 0;
        EXPECT_EQ(nullptr, read(path, &status).get()) << type;
        const std::string error = dyx_udil_get_last_error_string();
        EXPECT_NE(std::string::npos, error.find("the file is cut short: its " + std::string(type) +
                                                " chunk claims 2147483632 bytes"))
            << error;
    }
}

}  // namespace
