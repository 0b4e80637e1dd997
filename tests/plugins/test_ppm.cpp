// The PPM plug-in through the host: the file each name, format and option
// makes, and corrupt files refused without harm. (Every Netpbm form read is
// checked through the module against the Netpbm tools, in
// test_netpbm_files.py.)
#include "image_codec_support.h"

namespace {

using codec_test::ImagePtr;

class Ppm : public codec_test::CodecTest {
protected:
    Ppm() : CodecTest("ppm") {}
};

const int32_t L = DYX_IMG_FMT_L, LA = DYX_IMG_FMT_LA, RGB = DYX_IMG_FMT_RGB, RGBA = DYX_IMG_FMT_RGBA;

// A 3 x 2 picture: distinct bytes, or black (x = 0) and white for bitmaps.
ImagePtr picture(int32_t format, bool bilevel) {
    ImagePtr image = image_testing::make_image(3, 2, format);
    for (size_t i = 0; i < dyx_image_data_size(image.get()); ++i)
        image->data[i] = bilevel ? (i % 3 ? 255 : 0) : uint8_t(i * 7 + 3);
    return image;
}

// The raster as files store it: rows top first, 16-bit samples as v * 257.
std::string raster(const dyx_image_t *image, bool wide) {
    const size_t row = dyx_image_data_size(image) / image->height;
    std::string out;
    for (size_t y = image->height; y-- > 0;)
        for (size_t i = 0; i < row; ++i) out.append(wide ? 2 : 1, char(image->data[y * row + i]));
    return out;
}

std::string pam(int depth, const char *type) {
    return "P7\nWIDTH 3\nHEIGHT 2\nDEPTH " + std::to_string(depth) + "\nMAXVAL 255\nTUPLTYPE " + type +
           "\nENDHDR\n";
}

// The name's suffix (added when it has none) and the format option choose
// the layout; one that cannot hold the picture is refused with a reason
// and leaves no file (guards against e.pam being written as e.ppm).
TEST_F(Ppm, EachNameFormatAndOptionWritesItsLayout) {
    const struct {
        const char *name;
        int32_t format;
        const char *options;
        const char *written;  // null: refused
        std::string header;   // or the reason of the refusal
        std::string bits;     // a bitmap's raster
    } cases[] = {
        {"grey", L, "", "grey.pgm", "P5\n3 2\n255\n", ""},
        {"ga", LA, "", "ga.pam", pam(2, "GRAYSCALE_ALPHA"), ""},
        {"rgb", RGB, "", "rgb.ppm", "P6\n3 2\n255\n", ""},
        {"rgba", RGBA, "", "rgba.pam", pam(4, "RGB_ALPHA"), ""},
        {"as_pam", RGB, "format pam", "as_pam.pam", pam(3, "RGB"), ""},
        {"wide", RGB, "bits 16", "wide.ppm", "P6\n3 2\n65535\n", ""},
        {"rgb.pam", RGB, "", "rgb.pam", pam(3, "RGB"), ""},
        {"rgb.PPM", RGB, "", "rgb.PPM", "P6\n3 2\n255\n", ""},
        {"rgb.pnm", RGB, "", "rgb.pnm", "P6\n3 2\n255\n", ""},
        {"grey.ppm", L, "", "grey.ppm", "P5\n3 2\n255\n", ""},
        {"grey.pam", L, "format pam", "grey.pam", pam(1, "GRAYSCALE"), ""},
        {"bits.pbm", L, "", "bits.pbm", "P4\n3 2\n", "\x80\x80"},
        {"rgb.pgm", RGB, "", nullptr, "a .pgm file holds grey pictures", ""},
        {"alpha.ppm", RGBA, "", nullptr, "name the file .pam", ""},
        {"alpha.pgm", LA, "", nullptr, "name the file .pam", ""},
        {"asked.ppm", RGB, "format pam", nullptr, "asks for PAM", ""},
        {"asked.pam", RGB, "format ppm", nullptr, "asks for PPM", ""},
        {"grey.pbm", L, "", nullptr, "black (0) and white (255) only", ""},
        {"rgb.pbm", RGB, "", nullptr, "black-and-white grey pictures", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ImagePtr image = picture(c.format, !c.bits.empty());
        std::string path;
        const int status = write_status(file(c.name), image.get(), c.options, &path);
        if (c.written == nullptr) {
            EXPECT_NE(0, status);
            EXPECT_NE(std::string(dyx_udil_get_last_error_string()).find(c.header), std::string::npos)
                << dyx_udil_get_last_error_string();
            EXPECT_EQ(codec_test::read_bytes(file(c.name)), "");
            continue;
        }
        ASSERT_EQ(0, status) << dyx_udil_get_last_error_string();
        EXPECT_EQ(path, file(c.written));
        const bool wide = std::string(c.options) == "bits 16";
        EXPECT_EQ(codec_test::read_bytes(path),
                  c.header + (c.bits.empty() ? raster(image.get(), wide) : c.bits));
        UdilMovieInfo info;
        ImagePtr back = read(path, nullptr, &info);
        EXPECT_TRUE(codec_test::same_pixels(image.get(), back.get()));
        EXPECT_EQ(1, info.frames);
    }
    // The A format is not written.
    UdilMovieInfo alpha{2, 2, 1, 0, 0, 0, -1.0f, DYX_IMG_FMT_A};
    EXPECT_FALSE(create(file("alpha"), alpha));
}

// Corrupt headers and short files must be refused, never read past.
TEST_F(Ppm, CorruptFilesAreRefused) {
    const char *const bad[] = {
        "",
        "P4\n9 4\n",                   // raw bitmap rows of 2 bytes, 2 given
        "P6\n",                        // truncated header
        "P6\n-1 1\n255\n",             // negative width
        "P6\n0 1\n255\n",              // empty picture
        "P6\n99999999999 1\n255\n",    // width beyond 32 bits
        "P6\n1000000 1000000\n255\n",  // far more pixels than the file holds
        "P6\n2 2\n0\n",                // maxval 0
        "P6\n2 2\n70000\n",            // maxval above 16 bits
        "P6\n2 2\n255x",               // no white space before the raster
        "P6\n2 2\n255\naaaaaaaaa",     // a raster one byte short (with "xx")
        "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 5\nMAXVAL 255\nENDHDR\n",
        "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE CMYK\nENDHDR\n",
        "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\n",                              // no ENDHDR
        "P7\nWIDTH 1\nDEPTH 3\nMAXVAL 255\nENDHDR\n",                                // no HEIGHT
        "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE GRAYSCALE\nENDHDR\n",  // disagree
    };
    int index = 0;
    for (const char *header : bad) {
        const std::string path = file("bad" + std::to_string(index++) + ".ppm");
        codec_test::write_bytes(path, std::string(header) + (*header ? "xx" : ""));
        EXPECT_EQ(read(path), nullptr) << header;
    }
    // A refusal at open leaves a message naming the codec and the file.
    EXPECT_EQ(std::string(dyx_udil_get_last_error_string()).find("The ppm codec cannot read " + file("bad")),
              0u)
        << dyx_udil_get_last_error_string();
    codec_test::write_bytes(file("full.ppm"), "P6\n2 2\n255\n" + std::string(12, 'a'));
    EXPECT_NE(read(file("full.ppm")), nullptr);
    // Raw samples above maxval break the format but read, as white.
    codec_test::write_bytes(file("high.pgm"), "P5 3 1 15\n" + std::string("\x0f\0\x20", 3));
    ImagePtr high = read(file("high.pgm"));
    ASSERT_NE(high, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(high->data), 3), std::string("\xff\0\xff", 3));
}

}  // namespace
