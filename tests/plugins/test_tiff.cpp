// The tiff plug-in through the host's streams: round trips of all five
// formats under every compression, its options, layouts made here byte by
// byte (tiles, separate planes, 16 bits, white-is-zero, premultiplied alpha,
// Lab), frames as pages of one file or as files of their own, files of
// Pillow both ways, and damaged files.
#include <functional>

#include "image_codec_support.h"

namespace {

using codec_test::ImagePtr;

class TiffTest : public codec_test::CodecTest {
protected:
    TiffTest() : CodecTest("tiff") {}
};

const int32_t A = DYX_IMG_FMT_A, L = DYX_IMG_FMT_L, LA = DYX_IMG_FMT_LA, RGB = DYX_IMG_FMT_RGB,
              RGBA = DYX_IMG_FMT_RGBA;

// ---- a minimal uncompressed little-endian TIFF writer ---------------------

struct Layout {
    uint32_t width, height;
    uint16_t samples, bits;
    uint16_t photometric;  // 0 white is zero, 1 black is zero, 2 RGB, 8 CIELab
    bool separate;         // one plane per sample
    uint32_t tile;         // tile width and height; 0 for strips of 5 rows
    std::vector<uint32_t> extra_samples;
};

// Sample s of pixel (x, y), y from the top.
using SampleFunction = std::function<uint32_t(uint32_t x, uint32_t y, uint32_t s)>;

void put(std::string &out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += char((value >> (8 * i)) & 0xFF);
}

// Header, then the pixel data, then the directory and its out-of-line values.
std::string make_tiff(const Layout &l, const SampleFunction &value) {
    const uint32_t planes = l.separate ? l.samples : 1, per_pixel = l.separate ? 1 : l.samples;
    const uint32_t chunk_width = l.tile ? l.tile : l.width, chunk_height = l.tile ? l.tile : 5;
    std::string data;
    std::vector<uint32_t> starts, counts;
    for (uint32_t plane = 0; plane < planes; ++plane)
        for (uint32_t y0 = 0; y0 < l.height; y0 += chunk_height)
            for (uint32_t x0 = 0; x0 < l.width; x0 += chunk_width) {
                starts.push_back(uint32_t(8 + data.size()));
                // Strips end at the picture; tiles are padded to full size.
                const uint32_t rows = l.tile ? chunk_height : std::min(chunk_height, l.height - y0);
                for (uint32_t y = y0; y < y0 + rows; ++y)
                    for (uint32_t x = x0; x < x0 + chunk_width; ++x)
                        for (uint32_t s = 0; s < per_pixel; ++s) {
                            const bool inside = x < l.width && y < l.height;
                            put(data, inside ? value(x, y, l.separate ? plane : s) : 0, l.bits / 8);
                        }
                counts.push_back(uint32_t(8 + data.size()) - starts.back());
            }
    if (data.size() & 1) data += '\0';
    struct Tag {
        uint16_t tag, type;  // type 3 is SHORT, 4 LONG
        std::vector<uint32_t> values;
    };
    std::vector<Tag> tags = {{256, 4, {l.width}},
                             {257, 4, {l.height}},
                             {258, 3, std::vector<uint32_t>(l.samples, l.bits)},
                             {259, 3, {1}},
                             {262, 3, {l.photometric}},
                             {277, 3, {l.samples}},
                             {284, 3, {l.separate ? 2u : 1u}}};
    if (l.tile)
        tags.insert(tags.end(), {{322, 4, {l.tile}}, {323, 4, {l.tile}}, {324, 4, starts}, {325, 4, counts}});
    else
        tags.insert(tags.end(), {{273, 4, starts}, {278, 4, {5}}, {279, 4, counts}});
    if (!l.extra_samples.empty()) tags.push_back({338, 3, l.extra_samples});
    std::sort(tags.begin(), tags.end(), [](const Tag &a, const Tag &b) { return a.tag < b.tag; });

    std::string out = "II*";
    out += '\0';
    put(out, uint32_t(8 + data.size()), 4);
    out += data;
    const uint32_t outside_at = uint32_t(out.size() + 2 + 12 * tags.size() + 4);
    std::string directory, outside;
    put(directory, uint32_t(tags.size()), 2);
    for (const Tag &tag : tags) {
        std::string bytes;
        for (uint32_t v : tag.values) put(bytes, v, tag.type == 3 ? 2 : 4);
        put(directory, tag.tag, 2);
        put(directory, tag.type, 2);
        put(directory, uint32_t(tag.values.size()), 4);
        if (bytes.size() <= 4) {
            directory += bytes + std::string(4 - bytes.size(), '\0');
        } else {
            put(directory, outside_at + uint32_t(outside.size()), 4);
            outside += bytes;
        }
    }
    put(directory, 0, 4);
    return out + directory + outside;
}

// ---- tests ----------------------------------------------------------------

TEST_F(TiffTest, RoundTripsAllFiveFormatsUnderEveryCompression) {
    for (const char *compression : {"none", "lzw", "deflate", "packbits", "jpeg"}) {
        const bool lossy = std::string(compression) == "jpeg";
        for (int32_t format : {A, L, LA, RGB, RGBA}) {
            if (lossy && format == A) continue;
            SCOPED_TRACE(std::string(compression) + " " + std::to_string(format));
            ImagePtr original = codec_test::natural_image(45, 31, format, uint32_t(format));
            const std::string options = std::string("compression ") + compression;
            UdilMovieInfo info;
            ImagePtr back = read(write(options + std::to_string(format), original.get(), options.c_str()),
                                 nullptr, &info);
            ASSERT_NE(nullptr, back.get()) << dyx_udil_get_last_error_string();
            // An A picture is written as grey, which is what other readers
            // understand: it comes back as L with the same bytes.
            EXPECT_EQ(format == A ? L : format, info.pixel_format);
            if (lossy) {
                EXPECT_GT(codec_test::psnr(original.get(), back.get()), 36.0);
                EXPECT_FALSE(codec_test::same_pixels(original.get(), back.get()));
            } else {
                EXPECT_EQ(codec_test::bytes_of(original.get()), codec_test::bytes_of(back.get()));
            }
        }
    }
}

TEST_F(TiffTest, EveryOptionChangesTheFile) {
    ImagePtr original = codec_test::natural_image(200, 120, RGB);
    const auto size_with = [&](const char *options) {
        return codec_test::read_bytes(
                   write(std::to_string(std::hash<std::string>()(options)), original.get(), options))
            .size();
    };
    const size_t none = size_with("compression none"), lzw = size_with("compression lzw predictor 0"),
                 lzw_predicted = size_with("compression lzw predictor 1"),
                 deflate = size_with("compression deflate predictor 0");
    EXPECT_GT(none, size_t(200 * 120 * 3));
    // Mild noise defeats plain LZW; differencing the rows first wins.
    EXPECT_NE(lzw, none);
    EXPECT_LT(lzw_predicted, lzw);
    EXPECT_NE(deflate, lzw);
    EXPECT_NE(size_with("compression packbits"), none);
    EXPECT_LT(size_with("compression jpeg"), lzw_predicted);
    // The defaults are LZW with the predictor.
    EXPECT_EQ(lzw_predicted, size_with(""));
}

// Layouts made here, each with the samples it must read as (0..255) within
// a tolerance: 16-bit samples are scaled with rounding, white-is-zero grey
// inverted, premultiplied alpha divided out (for 16 bits before rounding,
// where cutting to 8 bits first magnified the error), and 8-bit CIELab
// (D50) of sRGB white, black, red and mid grey turned into sRGB (white was
// once read as (255, 252, 222)).
TEST_F(TiffTest, ReadsHandmadeLayouts) {
    using Expected = std::function<double(uint32_t x, uint32_t y, uint32_t s)>;
    const SampleFunction eight = [](uint32_t x, uint32_t y, uint32_t s) {
        return (x * 7 + y * 13 + s * 50) % 256;
    };
    const SampleFunction sixteen = [](uint32_t x, uint32_t y, uint32_t s) {
        return (x * 1700 + y * 2300 + s * 9000) % 65536;
    };
    const auto alpha8 = [](uint32_t x, uint32_t y) { return 55 + (x * 5 + y * 3) % 200; };
    const SampleFunction premultiplied8 = [=](uint32_t x, uint32_t y, uint32_t s) {
        return s == 3 ? alpha8(x, y) : (100 + s * 50) * alpha8(x, y) / 255;
    };
    const auto alpha16 = [](uint32_t x, uint32_t y) { return 200 + (x * 20 + y) * 60; };  // up to 60140
    const SampleFunction premultiplied16 = [=](uint32_t x, uint32_t y, uint32_t s) {
        return s == 3 ? alpha16(x, y) : (x * 1301 + y * 977 + s * 20011) % 65536 * alpha16(x, y) / 65535;
    };
    const int lab[4][6] = {
        {255, 0, 0, 255, 255, 255}, {0, 0, 0, 0, 0, 0}, {138, 81, 70, 255, 0, 0}, {136, 0, 0, 128, 128, 128}};
    const SampleFunction lab_samples = [&](uint32_t x, uint32_t, uint32_t s) {
        return uint8_t(int8_t(lab[x][s]));
    };
    const Expected srgb = [&](uint32_t x, uint32_t, uint32_t s) { return lab[x][3 + s]; };
    const Expected scaled = [&](uint32_t x, uint32_t y, uint32_t s) {
        return sixteen(x, y, s) * 255.0 / 65535;
    };
    const Expected inverted = [&](uint32_t x, uint32_t y, uint32_t s) { return 255.0 - eight(x, y, s); };
    const Expected straight8 = [&](uint32_t x, uint32_t y, uint32_t s) {
        return s == 3 ? alpha8(x, y) : std::min(255.0, premultiplied8(x, y, s) * 255.0 / alpha8(x, y));
    };
    const Expected straight16 = [&](uint32_t x, uint32_t y, uint32_t s) {
        const double alpha = alpha16(x, y);
        return 255 * (s == 3 ? alpha / 65535 : std::min(1.0, premultiplied16(x, y, s) / alpha));
    };
    const struct {
        const char *name;
        Layout layout;
        SampleFunction stored;
        Expected expected;
        int32_t format;
        double tolerance;
    } cases[] = {
        {"rgb_strips", {37, 23, 3, 8, 2, false, 0, {}}, eight, eight, RGB, 0},
        {"rgba_tiles", {37, 23, 4, 8, 2, false, 16, {2}}, eight, eight, RGBA, 0},
        {"rgb16_tiles_planes", {37, 23, 3, 16, 2, true, 16, {}}, sixteen, scaled, RGB, 0.5},
        {"la_strip_planes", {37, 23, 2, 8, 1, true, 0, {2}}, eight, eight, LA, 0},
        {"grey16", {37, 23, 1, 16, 1, false, 0, {}}, sixteen, scaled, L, 0.5},
        {"alpha_only", {37, 23, 1, 8, 1, false, 0, {2}}, eight, eight, A, 0},
        {"rgb_two_extras", {37, 23, 5, 8, 2, false, 0, {0, 0}}, eight, eight, RGBA, 0},
        {"white_is_zero", {37, 23, 1, 8, 0, false, 0, {}}, eight, inverted, L, 0},
        {"associated", {37, 23, 4, 8, 2, false, 0, {1}}, premultiplied8, straight8, RGBA, 0.5},
        {"associated16", {50, 20, 4, 16, 2, false, 0, {1}}, premultiplied16, straight16, RGBA, 0.5 + 1e-6},
        {"lab", {4, 1, 3, 8, 8, false, 0, {}}, lab_samples, srgb, RGB, 4},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = file(std::string(c.name) + ".tif");
        codec_test::write_bytes(path, make_tiff(c.layout, c.stored));
        ImagePtr image = read(path);
        ASSERT_NE(nullptr, image.get()) << dyx_udil_get_last_error_string();
        ASSERT_EQ(c.format, image->format);
        for (uint32_t y = 0; y < c.layout.height; ++y)
            for (uint32_t x = 0; x < c.layout.width; ++x)
                for (int s = 0; s < codec_test::components_of(c.format); ++s)
                    ASSERT_NEAR(c.expected(x, y, uint32_t(s)), codec_test::sample(image.get(), x, y, s),
                                c.tolerance)
                        << x << "," << y << " sample " << s;
    }
}

TEST_F(TiffTest, FramesArePagesOfOneFileOrFilesOfTheirOwn) {
    ASSERT_EQ(1, record_->multi_image_capable);
    const std::vector<ImagePtr> frames = codec_test::random_frames(3, 23, 9, RGB);
    write_frames("pages", frames);
    expect_frames(file("pages.tif"), frames);
    write_frames("seq_#", frames);
    expect_frames(file("seq_#.tif"), frames, 0, 2);
    for (const char *made : {"pages.tif", "seq_0.tif", "seq_1.tif", "seq_2.tif"}) {
        UdilMovieInfo info;
        EXPECT_TRUE(open(file(made), &info)) << made;
        EXPECT_EQ(made[0] == 'p' ? 3 : 1, info.frames) << made;
    }
    // Pages are written in order.
    UdilMovieInfo info{23, 9, 3, 0, 0, 0, 25.0f, RGB};
    codec_test::StreamPtr stream = create(file("order"), info);
    ASSERT_EQ(0, dyx_udil_save_image(stream.get(), 0, UDIL_EYE_MONO, frames[0].get(), nullptr));
    EXPECT_NE(0, dyx_udil_save_image(stream.get(), 2, UDIL_EYE_MONO, frames[0].get(), nullptr));
    EXPECT_NE(nullptr, std::strstr(dyx_udil_get_last_error_string(), "written in order"))
        << dyx_udil_get_last_error_string();
    EXPECT_EQ(0, dyx_udil_save_image(stream.get(), 1, UDIL_EYE_MONO, frames[1].get(), nullptr));
    EXPECT_EQ(0, codec_test::close(stream));
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
y, x = np.mgrid[0:27, 0:41]
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
    const struct {
        const char *name, *mode;
        int32_t format;
        int tolerance;  // CMYK goes through libtiff's own conversion, Pillow rounds its own way
    } cases[] = {{"rgb_lzw.tif", "RGB", RGB, 0},   {"rgba_deflate.tif", "RGBA", RGBA, 0},
                 {"grey_packbits.tif", "L", L, 0}, {"palette.tif", "RGB", RGB, 0},
                 {"bilevel.tif", "L", L, 0},       {"cmyk.tif", "RGB", RGB, 2}};
    for (const auto &c : cases) {
        ImagePtr image = read(file(c.name));
        ASSERT_NE(nullptr, image.get()) << c.name << ": " << dyx_udil_get_last_error_string();
        ASSERT_EQ(c.format, image->format) << c.name;
        EXPECT_LE(codec_test::worst_row_difference(image.get(),
                                                   codec_test::read_bytes(file(c.name) + "." + c.mode)),
                  c.tolerance)
            << c.name;
    }
    // Pillow's "I" pixels are the 16-bit values; ours are scaled to 8 bits.
    ImagePtr grey16 = read(file("grey16.tif"));
    ASSERT_NE(nullptr, grey16.get());
    EXPECT_EQ(L, grey16->format);
    EXPECT_EQ((uint32_t(10 * 1500 + 20 * 700) * 255 + 32767) / 65535,
              codec_test::sample(grey16.get(), 10, 20, 0));

    // The other way: Pillow reads what this plug-in writes.
    ImagePtr rgb = codec_test::natural_image(33, 21, RGB), rgba = codec_test::natural_image(33, 21, RGBA);
    const std::string ours_rgb = write("ours_rgb", rgb.get());
    const std::string ours_rgba = write("ours_rgba", rgba.get(), "compression deflate");
    ASSERT_TRUE(codec_test::pillow_decodes(scratch_.path(), {{ours_rgb, "RGB"}, {ours_rgba, "RGBA"}}));
    EXPECT_EQ(0, codec_test::worst_row_difference(rgb.get(), codec_test::read_bytes(ours_rgb + ".raw")));
    EXPECT_EQ(0, codec_test::worst_row_difference(rgba.get(), codec_test::read_bytes(ours_rgba + ".raw")));
}

TEST_F(TiffTest, RefusesTruncatedAndDamagedFiles) {
    ImagePtr original = codec_test::natural_image(64, 40, RGB);
    const std::string written = codec_test::read_bytes(write("good", original.get(), "compression lzw"));
    const std::string handmade = make_tiff({40, 40, 3, 8, 2, false, 16, {}},
                                           [](uint32_t x, uint32_t y, uint32_t s) { return x ^ y ^ s; });
    for (const std::string &good : {written, handmade}) {
        // The handmade file keeps its directory at the end, after the data,
        // as the written one does: every cut loses the directory or data.
        // Flips anywhere (directory, offsets, counts, data) must not crash.
        expect_damage_handled(good, "damaged.tif", {0, 3, 8, 100, good.size() / 2, good.size() - 1}, 13,
                              false);
        std::string bad_magic = good;
        bad_magic[2] = char(bad_magic[2] ^ 0x01);
        codec_test::write_bytes(file("magic.tif"), bad_magic);
        expect_refused(file("magic.tif"), "a broken magic number");
    }
}

}  // namespace
