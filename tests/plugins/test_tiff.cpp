// The tiff plug-in through the host's streams: exact round trips of all
// five formats under every lossless compression, its options, layouts made
// here byte by byte (tiles, separate planes, 16 bits, white-is-zero,
// premultiplied alpha, Lab), frames as pages of one file or as files of
// their own, files of Pillow both ways, and damaged files.
#include <cstring>
#include <functional>

#include "image_codec_support.h"

namespace {

using codec_test::ImagePtr;

class TiffTest : public codec_test::CodecTest {
protected:
    TiffTest() : CodecTest("tiff") {}
};

// ---- a minimal uncompressed little-endian TIFF writer ---------------------

struct Layout {
    uint32_t width = 0, height = 0;
    uint16_t samples = 1, bits = 8;
    uint16_t photometric = 1;  // 0 white is zero, 1 black is zero, 2 RGB, 8 CIELab
    bool separate = false;
    uint32_t tile = 0;            // tile width and height; 0 for strips
    uint32_t rows_per_strip = 4;  // for strips
    std::vector<uint16_t> extra_samples;
};

// Sample s of pixel (x, y), y from the top, in the layout's bit depth.
using SampleFunction = std::function<uint32_t(uint32_t x, uint32_t y, uint32_t s)>;

class TiffBuilder {
public:
    void add(uint16_t tag, uint16_t type, std::vector<uint32_t> values) {
        entries_.push_back(Entry{tag, type, std::move(values)});
    }
    // Header, then `data`, then the directory with its out-of-line values.
    std::string build(const std::string &data, const std::vector<uint32_t> &chunk_starts) {
        std::string out = "II*";
        out += '\0';
        const uint32_t ifd = uint32_t(8 + data.size() + (data.size() & 1));
        put32(out, ifd);
        out += data;
        if (data.size() & 1) out += '\0';
        for (Entry &entry : entries_)
            if (entry.tag == 273 || entry.tag == 324)
                for (size_t i = 0; i < entry.values.size(); ++i) entry.values[i] = 8 + chunk_starts[i];
        std::sort(entries_.begin(), entries_.end(),
                  [](const Entry &a, const Entry &b) { return a.tag < b.tag; });
        uint32_t extra = ifd + 2 + 12 * uint32_t(entries_.size()) + 4;
        std::string directory, outside;
        put16(directory, uint16_t(entries_.size()));
        for (const Entry &entry : entries_) {
            const uint32_t size = entry.type == 3 ? 2 : 4;
            std::string values;
            for (uint32_t v : entry.values) size == 2 ? put16(values, uint16_t(v)) : put32(values, v);
            put16(directory, entry.tag);
            put16(directory, entry.type);
            put32(directory, uint32_t(entry.values.size()));
            if (values.size() <= 4) {
                values.resize(4, '\0');
                directory += values;
            } else {
                put32(directory, extra + uint32_t(outside.size()));
                outside += values;
            }
        }
        put32(directory, 0);
        return out + directory + outside;
    }

private:
    struct Entry {
        uint16_t tag, type;
        std::vector<uint32_t> values;
    };
    static void put16(std::string &out, uint16_t v) {
        out += char(v & 0xFF);
        out += char(v >> 8);
    }
    static void put32(std::string &out, uint32_t v) {
        for (int i = 0; i < 4; ++i) out += char((v >> (8 * i)) & 0xFF);
    }
    std::vector<Entry> entries_;
};

std::string make_tiff(const Layout &layout, const SampleFunction &value) {
    const uint32_t planes = layout.separate ? layout.samples : 1;
    const uint32_t per_pixel = layout.separate ? 1 : layout.samples;
    const uint32_t chunk_width = layout.tile ? layout.tile : layout.width;
    const uint32_t chunk_height = layout.tile ? layout.tile : layout.rows_per_strip;
    std::string data;
    std::vector<uint32_t> starts, counts;
    for (uint32_t plane = 0; plane < planes; ++plane)
        for (uint32_t y0 = 0; y0 < layout.height; y0 += chunk_height)
            for (uint32_t x0 = 0; x0 < layout.width; x0 += chunk_width) {
                starts.push_back(uint32_t(data.size()));
                // Strips end at the picture; tiles are padded to full size.
                const uint32_t rows = layout.tile ? chunk_height : std::min(chunk_height, layout.height - y0);
                for (uint32_t y = y0; y < y0 + rows; ++y)
                    for (uint32_t x = x0; x < x0 + chunk_width; ++x)
                        for (uint32_t s = 0; s < per_pixel; ++s) {
                            const bool inside = x < layout.width && y < layout.height;
                            const uint32_t v = inside ? value(x, y, layout.separate ? plane : s) : 0;
                            data += char(v & 0xFF);
                            if (layout.bits == 16) data += char(v >> 8);
                        }
                counts.push_back(uint32_t(data.size()) - starts.back());
            }
    TiffBuilder builder;
    builder.add(256, 4, {layout.width});
    builder.add(257, 4, {layout.height});
    builder.add(258, 3, std::vector<uint32_t>(layout.samples, layout.bits));
    builder.add(259, 3, {1});
    builder.add(262, 3, {layout.photometric});
    builder.add(277, 3, {layout.samples});
    builder.add(284, 3, {layout.separate ? 2u : 1u});
    if (layout.tile) {
        builder.add(322, 4, {layout.tile});
        builder.add(323, 4, {layout.tile});
        builder.add(324, 4, std::vector<uint32_t>(starts.size()));
        builder.add(325, 4, counts);
    } else {
        builder.add(273, 4, std::vector<uint32_t>(starts.size()));
        builder.add(278, 4, {layout.rows_per_strip});
        builder.add(279, 4, counts);
    }
    if (!layout.extra_samples.empty())
        builder.add(338, 3, std::vector<uint32_t>(layout.extra_samples.begin(), layout.extra_samples.end()));
    return builder.build(data, starts);
}

uint8_t to_8bit(uint32_t v16) { return uint8_t((v16 * 255 + 32767) / 65535); }

// Sample c of picture pixel (x, y), y from the top.
uint8_t sample(const dyx_image_t *image, uint32_t x, uint32_t y, int c) {
    const int channels = codec_test::components_of(image->format);
    return image->data[(size_t(image->height - 1 - y) * image->width + x) * channels + c];
}

// ---- tests ----------------------------------------------------------------

TEST_F(TiffTest, RoundTripsAllFiveFormatsUnderEveryLosslessCompression) {
    for (const char *compression : {"none", "lzw", "deflate", "packbits"}) {
        for (int32_t format :
             {DYX_IMG_FMT_A, DYX_IMG_FMT_L, DYX_IMG_FMT_LA, DYX_IMG_FMT_RGB, DYX_IMG_FMT_RGBA}) {
            SCOPED_TRACE(std::string(compression) + " " + std::to_string(format));
            ImagePtr original = codec_test::natural_image(45, 31, format, uint32_t(format));
            const std::string options = std::string("compression ") + compression;
            const std::string path =
                write(std::string(compression) + std::to_string(format), original.get(), options.c_str());
            UdilMovieInfo info;
            ImagePtr back = read(path, nullptr, &info);
            ASSERT_NE(nullptr, back.get()) << dyx_udil_get_last_error_string();
            // An A picture is written as grey, which is what other readers
            // understand: it comes back as L with the same bytes.
            EXPECT_EQ(format == DYX_IMG_FMT_A ? DYX_IMG_FMT_L : format, info.pixel_format);
            EXPECT_EQ(image_testing::bytes_of(original.get()), image_testing::bytes_of(back.get()));
        }
    }
}

TEST_F(TiffTest, JpegCompressionStaysWithinThePsnrBound) {
    for (int32_t format : {DYX_IMG_FMT_L, DYX_IMG_FMT_LA, DYX_IMG_FMT_RGB, DYX_IMG_FMT_RGBA}) {
        SCOPED_TRACE(format);
        ImagePtr original = codec_test::natural_image(70, 50, format);
        const std::string path = write("jpeg" + std::to_string(format), original.get(), "compression jpeg");
        UdilMovieInfo info;
        ImagePtr back = read(path, nullptr, &info);
        ASSERT_NE(nullptr, back.get()) << dyx_udil_get_last_error_string();
        EXPECT_EQ(format, info.pixel_format);
        EXPECT_GT(codec_test::psnr(original.get(), back.get()), 36.0);
        EXPECT_FALSE(codec_test::same_pixels(original.get(), back.get()));
    }
}

TEST_F(TiffTest, EveryOptionChangesTheFile) {
    ImagePtr original = codec_test::natural_image(200, 120, DYX_IMG_FMT_RGB);
    auto size_with = [&](const char *options) {
        return codec_test::read_bytes(
                   write(std::string("o") + std::to_string(std::hash<std::string>()(options)), original.get(),
                         options))
            .size();
    };
    const size_t raw = 200 * 120 * 3;
    const size_t none = size_with("compression none");
    const size_t lzw = size_with("compression lzw predictor 0");
    const size_t lzw_predicted = size_with("compression lzw predictor 1");
    const size_t deflate = size_with("compression deflate predictor 0");
    const size_t packbits = size_with("compression packbits");
    const size_t jpeg = size_with("compression jpeg");
    EXPECT_GT(none, raw);
    // Mild noise defeats plain LZW; differencing the rows first wins.
    EXPECT_NE(lzw, none);
    EXPECT_LT(lzw_predicted, lzw);
    EXPECT_LT(lzw_predicted, none);
    EXPECT_NE(deflate, lzw);
    EXPECT_NE(packbits, none);
    EXPECT_LT(jpeg, lzw_predicted);
    // The defaults are LZW with the predictor.
    EXPECT_EQ(lzw_predicted, size_with(""));
}

TEST_F(TiffTest, ReadsStripTileAndPlaneLayouts) {
    const uint32_t W = 37, H = 23;
    auto eight = [](uint32_t x, uint32_t y, uint32_t s) { return (x * 7 + y * 13 + s * 50) % 256; };
    auto sixteen = [](uint32_t x, uint32_t y, uint32_t s) {
        return (x * 1700 + y * 2300 + s * 9000) % 65536;
    };
    struct Case {
        const char *name;
        Layout layout;
        SampleFunction value;
        int32_t format;
    };
    auto layout = [&](uint16_t samples, uint16_t bits, uint16_t photometric, bool separate, uint32_t tile,
                      std::vector<uint16_t> extra) {
        Layout l;
        l.width = W;
        l.height = H;
        l.samples = samples;
        l.bits = bits;
        l.photometric = photometric;
        l.separate = separate;
        l.tile = tile;
        l.rows_per_strip = 5;
        l.extra_samples = std::move(extra);
        return l;
    };
    const std::vector<Case> cases = {
        {"rgb_strips", layout(3, 8, 2, false, 0, {}), eight, DYX_IMG_FMT_RGB},
        {"rgba_tiles", layout(4, 8, 2, false, 16, {2}), eight, DYX_IMG_FMT_RGBA},
        {"rgb16_tiles_planes", layout(3, 16, 2, true, 16, {}), sixteen, DYX_IMG_FMT_RGB},
        {"la_strip_planes", layout(2, 8, 1, true, 0, {2}), eight, DYX_IMG_FMT_LA},
        {"grey16", layout(1, 16, 1, false, 0, {}), sixteen, DYX_IMG_FMT_L},
        {"alpha_only", layout(1, 8, 1, false, 0, {2}), eight, DYX_IMG_FMT_A},
        {"rgb_two_extras", layout(5, 8, 2, false, 0, {0, 0}), eight, DYX_IMG_FMT_RGBA},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = file(std::string(c.name) + ".tif");
        codec_test::write_bytes(path, make_tiff(c.layout, c.value));
        ImagePtr image = read(path);
        ASSERT_NE(nullptr, image.get()) << dyx_udil_get_last_error_string();
        ASSERT_EQ(c.format, image->format);
        const int channels = codec_test::components_of(c.format);
        for (uint32_t y = 0; y < H; ++y)
            for (uint32_t x = 0; x < W; ++x)
                for (int s = 0; s < channels; ++s) {
                    const uint32_t v = c.value(x, y, uint32_t(s));
                    ASSERT_EQ(c.layout.bits == 16 ? to_8bit(v) : uint8_t(v), sample(image.get(), x, y, s))
                        << x << "," << y << " sample " << s;
                }
    }

    // White is zero: grey is inverted.
    const std::string white = file("white_is_zero.tif");
    codec_test::write_bytes(white, make_tiff(layout(1, 8, 0, false, 0, {}), eight));
    ImagePtr inverted = read(white);
    ASSERT_NE(nullptr, inverted.get());
    EXPECT_EQ(255 - eight(5, 3, 0), sample(inverted.get(), 5, 3, 0));

    // Premultiplied (associated) alpha comes out straight.
    auto premultiplied = [](uint32_t x, uint32_t y, uint32_t s) -> uint32_t {
        const uint32_t alpha = 55 + (x * 5 + y * 3) % 200;
        return s == 3 ? alpha : (100 + s * 50) * alpha / 255;
    };
    const std::string associated = file("associated.tif");
    codec_test::write_bytes(associated, make_tiff(layout(4, 8, 2, false, 0, {1}), premultiplied));
    ImagePtr straight = read(associated);
    ASSERT_NE(nullptr, straight.get());
    // The file's premultiplied values lost up to one step each, which
    // dividing by alpha magnifies to 255 / alpha.
    for (uint32_t y = 0; y < H; y += 3)
        for (uint32_t x = 0; x < W; x += 3)
            for (int s = 0; s < 3; ++s)
                EXPECT_NEAR(100 + s * 50, sample(straight.get(), x, y, s),
                            255.0 / premultiplied(x, y, 3) + 0.5);
}

TEST_F(TiffTest, SixteenBitPremultipliedAlphaIsDividedBeforeRounding) {
    // Regression: the colours were cut to 8 bits first, and dividing by a
    // small alpha then magnified the rounding error.
    Layout layout;
    layout.width = 50;
    layout.height = 20;
    layout.samples = 4;
    layout.bits = 16;
    layout.photometric = 2;
    layout.extra_samples = {1};
    auto straight = [](uint32_t x, uint32_t y, uint32_t s) {
        return (x * 1301 + y * 977 + s * 20011) % 65536;
    };
    auto alpha = [](uint32_t x, uint32_t y) { return 200 + (x * 20 + y) * 60; };  // up to 60140
    auto stored = [&](uint32_t x, uint32_t y, uint32_t s) -> uint32_t {
        return s == 3 ? alpha(x, y) : straight(x, y, s) * alpha(x, y) / 65535;
    };
    const std::string path = file("premultiplied16.tif");
    codec_test::write_bytes(path, make_tiff(layout, stored));
    ImagePtr image = read(path);
    ASSERT_NE(nullptr, image.get()) << dyx_udil_get_last_error_string();
    ASSERT_EQ(DYX_IMG_FMT_RGBA, image->format);
    for (uint32_t y = 0; y < layout.height; ++y)
        for (uint32_t x = 0; x < layout.width; ++x)
            for (uint32_t s = 0; s < 4; ++s) {
                const double exact =
                    s == 3 ? alpha(x, y) / 65535.0 : std::min(1.0, double(stored(x, y, s)) / alpha(x, y));
                ASSERT_NEAR(exact * 255, sample(image.get(), x, y, int(s)), 0.5 + 1e-6)
                    << x << "," << y << " sample " << s;
            }
}

TEST_F(TiffTest, LabColoursBecomeSrgb) {
    // Regression: white read as (255, 252, 222). 8-bit CIELab: L scaled to
    // 0..255, a and b signed bytes; the colours are Lab (D50) of sRGB white,
    // black, red and a mid grey.
    struct Colour {
        int lightness, a, b;
        uint8_t red, green, blue;
        int tolerance;
    };
    const std::vector<Colour> colours = {{255, 0, 0, 255, 255, 255, 0},
                                         {0, 0, 0, 0, 0, 0, 0},
                                         {138, 81, 70, 255, 0, 0, 4},
                                         {136, 0, 0, 128, 128, 128, 2}};
    Layout layout;
    layout.width = uint32_t(colours.size());
    layout.height = 1;
    layout.samples = 3;
    layout.photometric = 8;
    const std::string path = file("lab.tif");
    codec_test::write_bytes(path, make_tiff(layout, [&](uint32_t x, uint32_t, uint32_t s) -> uint32_t {
                                const Colour &c = colours[x];
                                return uint32_t(uint8_t(int8_t(s == 0 ? c.lightness : s == 1 ? c.a : c.b)));
                            }));
    ImagePtr image = read(path);
    ASSERT_NE(nullptr, image.get()) << dyx_udil_get_last_error_string();
    ASSERT_EQ(DYX_IMG_FMT_RGB, image->format);
    for (uint32_t x = 0; x < colours.size(); ++x) {
        SCOPED_TRACE(x);
        EXPECT_NEAR(colours[x].red, sample(image.get(), x, 0, 0), colours[x].tolerance);
        EXPECT_NEAR(colours[x].green, sample(image.get(), x, 0, 1), colours[x].tolerance);
        EXPECT_NEAR(colours[x].blue, sample(image.get(), x, 0, 2), colours[x].tolerance);
    }
}

TEST_F(TiffTest, FramesArePagesOfOneFileOrFilesOfTheirOwn) {
    ASSERT_EQ(1, record_->multi_image_capable);
    std::vector<ImagePtr> frames;
    for (uint32_t seed = 1; seed <= 3; ++seed)
        frames.push_back(codec_test::random_image(23, 9, DYX_IMG_FMT_RGB, seed));
    UdilMovieInfo info{23, 9, 3, 0, 0, 0, 25.0f, DYX_IMG_FMT_RGB};
    struct Case {
        const char *name;
        std::vector<std::string> files;  // made, each read as a movie
        int32_t pages;                   // in each file
    };
    for (const Case &c :
         {Case{"pages", {"pages.tif"}, 3}, Case{"seq_#", {"seq_0.tif", "seq_1.tif", "seq_2.tif"}, 1}}) {
        SCOPED_TRACE(c.name);
        UdilStream *stream = dyx_udil_file_new(file(c.name).c_str(), record_, &info, 0, nullptr);
        ASSERT_NE(nullptr, stream) << dyx_udil_get_last_error_string();
        for (int32_t f = 0; f < 3; ++f)
            ASSERT_EQ(0, dyx_udil_save_image(stream, f, UDIL_EYE_MONO, frames[size_t(f)].get(), nullptr))
                << dyx_udil_get_last_error_string();
        ASSERT_EQ(0, dyx_udil_file_close(&stream)) << dyx_udil_get_last_error_string();
        // Reading: the pages of the one file, or the sequence of files.
        UdilMovieInfo found;
        int32_t first = -1, last = -1;
        const std::string name = c.pages == 3 ? file("pages.tif") : file("seq_#.tif");
        if (c.pages == 1) first = 0, last = 2;
        stream = dyx_udil_file_open(name.c_str(), record_, &found, nullptr, 0, nullptr, &first, &last);
        ASSERT_NE(nullptr, stream) << dyx_udil_get_last_error_string();
        EXPECT_EQ(3, dyx_udil_total_frames(stream));
        for (int32_t f = 0; f < 3; ++f) {
            ImagePtr back(dyx_image_alloc(23, 9, 0, DYX_IMG_FMT_RGB));
            ASSERT_EQ(0, dyx_udil_get_image(stream, f, UDIL_EYE_MONO, back.get(), nullptr))
                << dyx_udil_get_last_error_string();
            EXPECT_TRUE(codec_test::same_pixels(frames[size_t(f)].get(), back.get())) << f;
        }
        dyx_udil_file_close(&stream);
        for (const std::string &made : c.files) {
            UdilMovieInfo one;
            first = last = -1;
            stream =
                dyx_udil_file_open(file(made).c_str(), record_, &one, nullptr, 0, nullptr, &first, &last);
            ASSERT_NE(nullptr, stream) << made;
            EXPECT_EQ(c.pages, one.frames) << made;
            dyx_udil_file_close(&stream);
        }
    }
}

TEST_F(TiffTest, PagesAreWrittenInOrder) {
    ImagePtr frame = codec_test::natural_image(8, 8, DYX_IMG_FMT_L);
    UdilMovieInfo info{8, 8, 3, 0, 0, 0, 25.0f, DYX_IMG_FMT_L};
    UdilStream *stream = dyx_udil_file_new(file("order").c_str(), record_, &info, 0, nullptr);
    ASSERT_NE(nullptr, stream);
    ASSERT_EQ(0, dyx_udil_save_image(stream, 0, UDIL_EYE_MONO, frame.get(), nullptr));
    EXPECT_NE(0, dyx_udil_save_image(stream, 2, UDIL_EYE_MONO, frame.get(), nullptr));
    EXPECT_NE(nullptr, std::strstr(dyx_udil_get_last_error_string(), "written in order"))
        << dyx_udil_get_last_error_string();
    EXPECT_EQ(0, dyx_udil_save_image(stream, 1, UDIL_EYE_MONO, frame.get(), nullptr));
    EXPECT_EQ(0, dyx_udil_file_close(&stream));
}

TEST_F(TiffTest, ExchangesFilesWithPillow) {
    // Pillow writes its files plus the pixels it decodes from them (rows top
    // first, converted to the mode named in the .raw file's name), and reads
    // the files written here back the same way.
    const char *make = R"(
import sys, os
import numpy as np
from PIL import Image
d = sys.argv[1]
W, H = 41, 27
y, x = np.mgrid[0:H, 0:W]
def plane(c):
    return ((x * (3 + c) + y * (5 - c)) % 256).astype(np.uint8)
rgb = Image.fromarray(np.dstack([plane(0), plane(1), plane(2)]))
rgba = Image.fromarray(np.dstack([plane(0), plane(1), plane(2), plane(3)]), "RGBA")
def save(name, image, mode, **options):
    path = os.path.join(d, name)
    image.save(path, **options)
    with open(path + "." + mode, "wb") as out:
        out.write(Image.open(path).convert(mode).tobytes())
save("rgb_lzw.tif", rgb, "RGB", compression="tiff_lzw")
save("rgba_deflate.tif", rgba, "RGBA", compression="tiff_adobe_deflate")
save("grey_packbits.tif", Image.fromarray(plane(1)), "L", compression="packbits")
save("grey16.tif", Image.fromarray((x * 1500 + y * 700).astype(np.uint16)), "I")
save("palette.tif", rgb.quantize(16), "RGB")
save("bilevel.tif", Image.fromarray(plane(0)).convert("1"), "L")
save("cmyk.tif", Image.fromarray(np.dstack([plane(0), plane(1), plane(2), plane(3) // 4]), "CMYK"), "RGB")
)";
    ASSERT_TRUE(codec_test::run_python(make, scratch_.path()));
    struct Expectation {
        const char *name;
        const char *mode;
        int32_t format;
    };
    for (const Expectation &e :
         {Expectation{"rgb_lzw.tif", "RGB", DYX_IMG_FMT_RGB},
          Expectation{"rgba_deflate.tif", "RGBA", DYX_IMG_FMT_RGBA},
          Expectation{"grey_packbits.tif", "L", DYX_IMG_FMT_L},
          Expectation{"palette.tif", "RGB", DYX_IMG_FMT_RGB}, Expectation{"bilevel.tif", "L", DYX_IMG_FMT_L},
          Expectation{"cmyk.tif", "RGB", DYX_IMG_FMT_RGB}}) {
        SCOPED_TRACE(e.name);
        ImagePtr image = read(file(e.name));
        ASSERT_NE(nullptr, image.get()) << dyx_udil_get_last_error_string();
        ASSERT_EQ(e.format, image->format);
        const std::string expected = codec_test::read_bytes(file(e.name) + "." + e.mode);
        const size_t row = size_t(image->width) * size_t(codec_test::components_of(image->format));
        ASSERT_EQ(expected.size(), row * image->height);
        int worst = 0;
        for (size_t y = 0; y < image->height; ++y)
            for (size_t i = 0; i < row; ++i)
                worst = std::max(worst, std::abs(int(uint8_t(expected[y * row + i])) -
                                                 int(image->data[(image->height - 1 - y) * row + i])));
        // CMYK goes through libtiff's own conversion, Pillow rounds its own way.
        EXPECT_LE(worst, std::string(e.name) == "cmyk.tif" ? 2 : 0);
    }
    // Pillow's "I" pixels are the 16-bit values; ours are scaled to 8 bits.
    ImagePtr grey16 = read(file("grey16.tif"));
    ASSERT_NE(nullptr, grey16.get());
    EXPECT_EQ(DYX_IMG_FMT_L, grey16->format);
    EXPECT_EQ(to_8bit(10 * 1500 + 20 * 700), sample(grey16.get(), 10, 20, 0));

    // The other way: Pillow reads what this plug-in writes.
    ImagePtr rgb = codec_test::natural_image(33, 21, DYX_IMG_FMT_RGB);
    ImagePtr rgba = codec_test::natural_image(33, 21, DYX_IMG_FMT_RGBA);
    const std::string ours_rgb = write("ours_rgb", rgb.get());
    const std::string ours_rgba = write("ours_rgba", rgba.get(), "compression deflate");
    ASSERT_TRUE(codec_test::pillow_decodes(scratch_.path(), {{ours_rgb, "RGB"}, {ours_rgba, "RGBA"}}));
    codec_test::expect_same_rows(rgb.get(), codec_test::read_bytes(ours_rgb + ".raw"));
    codec_test::expect_same_rows(rgba.get(), codec_test::read_bytes(ours_rgba + ".raw"));
}

TEST_F(TiffTest, RefusesTruncatedAndDamagedFiles) {
    ImagePtr original = codec_test::natural_image(64, 40, DYX_IMG_FMT_RGB);
    const std::string written = codec_test::read_bytes(write("good", original.get(), "compression lzw"));
    Layout tiled;
    tiled.width = 40;
    tiled.height = 40;
    tiled.samples = 3;
    tiled.photometric = 2;
    tiled.tile = 16;
    const std::string handmade =
        make_tiff(tiled, [](uint32_t x, uint32_t y, uint32_t s) { return x ^ y ^ s; });
    const std::string damaged = file("damaged.tif");
    for (const std::string &good : {written, handmade}) {
        // The handmade file keeps its directory at the end, after the data,
        // as the written one does: every cut loses the directory or data.
        for (size_t length :
             {size_t(0), size_t(3), size_t(8), size_t(100), good.size() / 2, good.size() - 1}) {
            codec_test::write_bytes(damaged, good.substr(0, length));
            expect_refused(damaged, "cut to " + std::to_string(length) + " bytes");
        }
        std::string bad_magic = good;
        bad_magic[2] = char(bad_magic[2] ^ 0x01);
        codec_test::write_bytes(damaged, bad_magic);
        expect_refused(damaged, "a broken magic number");
        // Flips anywhere (directory, offsets, counts, data): never a crash,
        // and a refusal names the file.
        for (size_t position = 0; position < good.size(); position += 13) {
            std::string bytes = good;
            bytes[position] = char(bytes[position] ^ (1 << (position % 8)));
            codec_test::write_bytes(damaged, bytes);
            dyx_udil_set_err_str(nullptr);
            int status = 0;
            ImagePtr image = read(damaged, &status);
            if (status > 0) {
                EXPECT_NE(nullptr, std::strstr(dyx_udil_get_last_error_string(), damaged.c_str()))
                    << position;
            }
        }
    }
}

}  // namespace
