// The PPM plug-in through the host: round trips of every pixel format,
// options that change the file, 16-bit and odd-maxval reading, and corrupt
// files that must be refused without harm.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "dyx_image.h"
#include "dyx_malloc.h"
#include "dyx_udil.h"
#include "dyx_udil_stream.h"

namespace {

class ScratchDir {
public:
    ScratchDir() {
        char pattern[] = "/tmp/orvo_ppm_XXXXXX";
        const char *made = mkdtemp(pattern);
        path_ = made ? made : "";
    }
    ~ScratchDir() {
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string read_all(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void write_all(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

int components(int32_t format) {
    return format == DYX_IMG_FMT_RGBA ? 4 : format == DYX_IMG_FMT_RGB ? 3 : format == DYX_IMG_FMT_LA ? 2 : 1;
}

class Ppm : public ::testing::Test {
protected:
    void SetUp() override {
        dyx_udil_list_done();
        dyx_image_pool_create(8);
        ASSERT_EQ(dyx_udil_scan_libraries(ORVO_TEST_PLUGIN_DIR), 0);
        codec_ = dyx_udil_find_by_name("ppm");
        ASSERT_NE(codec_, nullptr);
        ASSERT_EQ(dyx_udil_load(codec_), 0);
    }
    void TearDown() override { dyx_udil_list_done(); }

    // Writes `image` as frame 0 of `name` (no extension) with `options`;
    // returns the file's path or "" on failure.
    std::string save(const dyx_image_t *image, const std::string &name, const char *options = "") {
        int32_t count = 0;
        UdilOption *parsed = dyx_udil_parse_options(codec_, options, &count);
        UdilMovieInfo info = {int32_t(image->width), int32_t(image->height), 1, 0, 0, 0, -1.0f,
                              image->format};
        UdilStream *stream = dyx_udil_file_new(scratch_.file(name).c_str(), codec_, &info, count, parsed);
        dyx_free(parsed, __LINE__, __FILE__);
        if (stream == nullptr) return "";
        const std::string path = scratch_.file(name) + stream->slots[0].suffix;
        const int status = dyx_udil_save_image(stream, 0, 0, image, nullptr);
        dyx_udil_file_close(&stream);
        return status == 0 ? path : "";
    }

    // Reads the single picture of `path`; null when refused. `status`
    // receives the transfer's result.
    dyx_image_t *load(const std::string &path, UdilMovieInfo *info_out = nullptr) {
        UdilMovieInfo info;
        int32_t first = 0, last = 0;
        UdilStream *stream =
            dyx_udil_file_open(path.c_str(), codec_, &info, nullptr, 0, nullptr, &first, &last);
        if (stream == nullptr) return nullptr;
        if (info_out) *info_out = info;
        dyx_image_t *image =
            dyx_image_alloc(uint32_t(info.width), uint32_t(info.height), 0, info.pixel_format);
        last_status_ = dyx_udil_get_image(stream, 0, 0, image, nullptr);
        dyx_udil_file_close(&stream);
        if (last_status_ != 0) dyx_image_free(&image);
        return image;
    }

    static dyx_image_t *pattern(uint32_t width, uint32_t height, int32_t format) {
        dyx_image_t *image = dyx_image_alloc(width, height, 0, format);
        const size_t bytes = size_t(width) * height * components(format);
        for (size_t i = 0; i < bytes; ++i) image->data[i] = uint8_t(i * 7 + 3);
        return image;
    }

    UdilRecord *codec_ = nullptr;
    ScratchDir scratch_;
    int last_status_ = 0;
};

TEST_F(Ppm, EveryFormatRoundTrips) {
    const struct {
        int32_t format;
        const char *suffix;
        const char *magic;
    } cases[] = {{DYX_IMG_FMT_L, ".pgm", "P5\n"},
                 {DYX_IMG_FMT_LA, ".pam", "P7\n"},
                 {DYX_IMG_FMT_RGB, ".ppm", "P6\n"},
                 {DYX_IMG_FMT_RGBA, ".pam", "P7\n"}};
    for (const auto &c : cases) {
        dyx_image_t *image = pattern(5, 3, c.format);
        const std::string path = save(image, "round" + std::to_string(c.format));
        ASSERT_FALSE(path.empty()) << c.format;
        EXPECT_EQ(path.substr(path.size() - 4), c.suffix);
        EXPECT_EQ(read_all(path).substr(0, 3), c.magic);
        UdilMovieInfo info;
        dyx_image_t *back = load(path, &info);
        ASSERT_NE(back, nullptr) << c.format;
        EXPECT_EQ(info.pixel_format, c.format);
        EXPECT_EQ(info.frames, 1);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(back->data), 5 * 3 * components(c.format)),
                  std::string(reinterpret_cast<char *>(image->data), 5 * 3 * components(c.format)));
        dyx_image_free(&image);
        dyx_image_free(&back);
    }
}

TEST_F(Ppm, BottomRowIsWrittenLast) {
    dyx_image_t *image = dyx_image_alloc(1, 2, 0, DYX_IMG_FMT_L);
    image->data[0] = 10;  // row 0: the bottom of the picture
    image->data[1] = 20;
    const std::string path = save(image, "rows");
    EXPECT_EQ(read_all(path), std::string("P5\n1 2\n255\n") + char(20) + char(10));
    dyx_image_free(&image);
}

TEST_F(Ppm, OptionsChangeTheFile) {
    dyx_image_t *image = pattern(2, 2, DYX_IMG_FMT_RGB);
    const std::string pam = save(image, "as_pam", "format pam");
    ASSERT_EQ(pam.substr(pam.size() - 4), ".pam");
    EXPECT_EQ(read_all(pam).substr(0, 3), "P7\n");
    EXPECT_NE(read_all(pam).find("\nTUPLTYPE RGB\nENDHDR\n"), std::string::npos);
    const std::string wide = save(image, "wide", "bits 16");
    const std::string bytes = read_all(wide);
    EXPECT_EQ(bytes.substr(0, 13), "P6\n2 2\n65535\n");
    EXPECT_EQ(bytes.size(), 13u + 2 * 2 * 3 * 2);
    dyx_image_t *back = load(wide);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(back->data), 12),
              std::string(reinterpret_cast<char *>(image->data), 12));
    dyx_image_free(&back);
    dyx_image_free(&image);
}

TEST_F(Ppm, SixteenBitAndOddMaxvalAreScaled) {
    const std::string sixteen = scratch_.file("s.pgm");
    write_all(sixteen, std::string("P5 2 1 65535\n") + '\xff' + '\xff' + '\x80' + '\x00');
    dyx_image_t *image = load(sixteen);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->data[0], 255);
    EXPECT_EQ(image->data[1], 128);  // 32768 * 255 / 65535, rounded
    dyx_image_free(&image);

    const std::string small = scratch_.file("m.pgm");
    write_all(small, std::string("P5\n# a comment\n3 1\n# another\n15\n") + '\x0f' + '\x00' + '\x20');
    image = load(small);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->data[0], 255);
    EXPECT_EQ(image->data[1], 0);
    EXPECT_EQ(image->data[2], 255);  // above maxval: clamped, not wrapped
    dyx_image_free(&image);

    const std::string gray_alpha = scratch_.file("ga.pam");
    write_all(gray_alpha,
              std::string("P7\nWIDTH 1\nHEIGHT 1\nDEPTH 2\nMAXVAL 255\nTUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n") +
                  '\x11' + '\x22');
    UdilMovieInfo info;
    image = load(gray_alpha, &info);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(info.pixel_format, DYX_IMG_FMT_LA);
    EXPECT_EQ(image->data[1], 0x22);
    dyx_image_free(&image);
}

// Corrupt headers and short files must be refused, never read past.
TEST_F(Ppm, CorruptFilesAreRefused) {
    const std::string pixels(64, 'x');
    const char *const bad[] = {
        "",
        "P3\n1 1\n255\n1 2 q\n",       // a plain sample that is no number
        "P1\n2 1\n1 7\n",              // a plain bitmap holds 0 and 1 only
        "P4\n9 4\n",                   // raw bitmap rows of 2 bytes, 2 given
        "P6\n",                        // truncated header
        "P6\n-1 1\n255\n",             // negative width
        "P6\n0 1\n255\n",              // empty picture
        "P6\n99999999999 1\n255\n",    // width beyond 32 bits
        "P6\n1000000 1000000\n255\n",  // far more pixels than the file holds
        "P6\n2 2\n0\n",                // maxval 0
        "P6\n2 2\n70000\n",            // maxval above 16 bits
        "P6\n2 2\n255x",               // no white space before the raster
        "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 5\nMAXVAL 255\nENDHDR\n",
        "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE CMYK\nENDHDR\n",
        "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\n",                              // no ENDHDR
        "P7\nWIDTH 1\nDEPTH 3\nMAXVAL 255\nENDHDR\n",                                // no HEIGHT
        "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE GRAYSCALE\nENDHDR\n",  // type and depth
                                                                                     // disagree
    };
    int index = 0;
    for (const char *header : bad) {
        const std::string path = scratch_.file("bad" + std::to_string(index++) + ".ppm");
        write_all(path, std::string(header) + (std::string(header).empty() ? "" : pixels.substr(0, 2)));
        EXPECT_EQ(load(path), nullptr) << header;
    }
    // A refusal at open still leaves a message naming the codec and file.
    EXPECT_EQ(std::string(dyx_udil_get_last_error_string())
                  .find("The ppm codec cannot read " + scratch_.file("bad")),
              0u)
        << dyx_udil_get_last_error_string();
    // A raster one byte short of its header's promise.
    const std::string short_file = scratch_.file("short.ppm");
    write_all(short_file, "P6\n2 2\n255\n" + std::string(11, 'a'));
    EXPECT_EQ(load(short_file), nullptr);
    write_all(short_file, "P6\n2 2\n255\n" + std::string(12, 'a'));
    dyx_image_t *image = load(short_file);
    EXPECT_NE(image, nullptr);
    dyx_image_free(&image);
}

TEST_F(Ppm, PluginErrorsReachTheLastError) {
    dyx_image_t *image = pattern(2, 2, DYX_IMG_FMT_RGB);
    UdilMovieInfo info = {2, 2, 1, 0, 0, 0, -1.0f, DYX_IMG_FMT_RGB};
    UdilStream *stream = dyx_udil_file_new("/nonexistent/dir/img_#", codec_, &info, 0, nullptr);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(dyx_udil_save_image(stream, 3, 0, image, nullptr), 7);
    EXPECT_EQ(
        std::string(dyx_udil_get_last_error_string()).find("ppm: can't create /nonexistent/dir/img_3.ppm"),
        0u);
    dyx_udil_file_close(&stream);
    // The A format is not written.
    info.pixel_format = DYX_IMG_FMT_A;
    EXPECT_EQ(dyx_udil_file_new(scratch_.file("alpha").c_str(), codec_, &info, 0, nullptr), nullptr);
    dyx_image_free(&image);
}

}  // namespace

// Guards against e.pam being written as e.ppm: a name with one of the
// codec's suffixes is kept, and the suffix chooses the layout; a layout
// that cannot hold the picture, or that contradicts the format option, is
// refused with a reason and leaves no file.
TEST_F(Ppm, TheNamesSuffixChoosesTheLayout) {
    const struct {
        const char *name;
        int32_t format;
        const char *options;
        const char *magic;  // null: refused
        const char *reason;
    } cases[] = {
        {"rgb.pam", DYX_IMG_FMT_RGB, "", "P7", nullptr},
        {"rgb.PPM", DYX_IMG_FMT_RGB, "", "P6", nullptr},
        {"rgb.pnm", DYX_IMG_FMT_RGB, "", "P6", nullptr},
        {"grey.ppm", DYX_IMG_FMT_L, "", "P5", nullptr},
        {"grey.pgm", DYX_IMG_FMT_L, "", "P5", nullptr},
        {"grey.pam", DYX_IMG_FMT_L, "format pam", "P7", nullptr},
        {"rgb.pgm", DYX_IMG_FMT_RGB, "", nullptr, "a .pgm file holds grey pictures"},
        {"alpha.ppm", DYX_IMG_FMT_RGBA, "", nullptr, "name the file .pam"},
        {"alpha.pgm", DYX_IMG_FMT_LA, "", nullptr, "name the file .pam"},
        {"asked.ppm", DYX_IMG_FMT_RGB, "format pam", nullptr, "asks for PAM"},
        {"asked.pam", DYX_IMG_FMT_RGB, "format ppm", nullptr, "asks for PPM"},
        {"grey.pbm", DYX_IMG_FMT_L, "", nullptr, "black (0) and white (255) only"},
        {"rgb.pbm", DYX_IMG_FMT_RGB, "", nullptr, "black-and-white grey pictures"},
    };
    for (const auto &c : cases) {
        dyx_image_t *image = pattern(3, 2, c.format);
        const std::string path = save(image, c.name, c.options);
        dyx_image_free(&image);
        if (c.magic == nullptr) {
            EXPECT_EQ(path, "") << c.name;
            EXPECT_NE(std::string(dyx_udil_get_last_error_string()).find(c.reason), std::string::npos)
                << c.name << ": " << dyx_udil_get_last_error_string();
            EXPECT_EQ(read_all(scratch_.file(c.name)), "") << c.name;
            continue;
        }
        EXPECT_EQ(path, scratch_.file(c.name));
        EXPECT_EQ(read_all(scratch_.file(c.name)).substr(0, 2), c.magic) << c.name;
    }
}

// Every Netpbm form reads: plain text (comments where white space may
// stand), raw bitmaps (1 is black, rows padded to whole bytes), PAM, and
// maxvals other than 255 scaled with rounding.
TEST_F(Ppm, EveryFormReads) {
    const struct {
        const char *name;
        std::string bytes;
        int32_t format;
        std::string pixels;  // bottom row first
    } cases[] = {
        {"plain.pbm", "P1\n# two rows\n3 2\n1 0#x\n1\n0 0 1\n", DYX_IMG_FMT_L,
         std::string("\xff\xff\0\0\xff\0", 6)},
        {"dense.pbm", "P1 3 2 101001", DYX_IMG_FMT_L, std::string("\xff\xff\0\0\xff\0", 6)},
        {"raw.pbm", std::string("P4\n9 2\n") + std::string("\x80\x00\x7f\x80", 4), DYX_IMG_FMT_L,
         std::string("\xff\0\0\0\0\0\0\0\0") + std::string("\0\xff\xff\xff\xff\xff\xff\xff\xff")},
        {"plain.pgm", "P2 2 1 # max\n100\n0 # dark\n50\n", DYX_IMG_FMT_L, std::string("\0\x80", 2)},
        {"plain.ppm", "P3\n1 1\n4\n1 2 4\n", DYX_IMG_FMT_RGB, std::string("\x40\x80\xff", 3)},
        {"wide.pgm", std::string("P5\n2 1\n65535\n") + std::string("\x80\x00\xff\xff", 4), DYX_IMG_FMT_L,
         std::string("\x80\xff", 2)},
        {"bw.pam",
         std::string("P7\nWIDTH 2\nHEIGHT 1\nDEPTH 1\nMAXVAL 1\nTUPLTYPE BLACKANDWHITE\nENDHDR\n") +
             std::string("\0\1", 2),
         DYX_IMG_FMT_L, std::string("\0\xff", 2)},
    };
    for (const auto &c : cases) {
        write_all(scratch_.file(c.name), c.bytes);
        UdilMovieInfo info;
        dyx_image_t *image = load(scratch_.file(c.name), &info);
        ASSERT_NE(image, nullptr) << c.name << ": " << dyx_udil_get_last_error_string();
        EXPECT_EQ(info.pixel_format, c.format) << c.name;
        EXPECT_EQ(std::string(reinterpret_cast<char *>(image->data), c.pixels.size()), c.pixels) << c.name;
        dyx_image_free(&image);
    }
}

// Black-and-white grey pictures are written as raw PBM under a .pbm name
// and read back unchanged.
TEST_F(Ppm, PbmNamesWriteBitmaps) {
    dyx_image_t *image = dyx_image_alloc(9, 2, 0, DYX_IMG_FMT_L);
    for (size_t i = 0; i < 18; ++i) image->data[i] = (i % 3 == 0) ? 0 : 255;
    const std::string path = save(image, "bits.pbm");
    ASSERT_EQ(path, scratch_.file("bits.pbm")) << dyx_udil_get_last_error_string();
    // Both rows hold black at x = 0, 3 and 6; 1 marks black.
    EXPECT_EQ(read_all(path), std::string("P4\n9 2\n") + std::string("\x92\x00\x92\x00", 4));
    dyx_image_t *back = load(path);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(back->data), 18),
              std::string(reinterpret_cast<char *>(image->data), 18));
    dyx_image_free(&image);
    dyx_image_free(&back);
}
