// The tiff plug-in through the host's streams: round trips of all five
// formats under every compression, its options, layouts made here byte by
// byte (tiles, separate planes, 16 bits, white-is-zero, premultiplied alpha,
// Lab), frames as pages of one file or as files of their own, files of
// Pillow both ways, and damaged files.
#include <map>

#include "image_codec_support.h"

namespace {

using codec_test::ImagePtr;

class TiffTest : public codec_test::CodecTest {
protected:
    TiffTest() : CodecTest("tiff") {}
};

const int32_t A = DYX_IMG_FMT_A, L = DYX_IMG_FMT_L, LA = DYX_IMG_FMT_LA, RGB = DYX_IMG_FMT_RGB,
              RGBA = DYX_IMG_FMT_RGBA;

// A Python function that writes an uncompressed little-endian TIFF of
// `stored` (rows top first, columns, samples): the header, the pixel data in
// strips of 5 rows or in square tiles padded to full size (one plane per
// sample when `planes`), then the directory and its longer values. What the
// file must read as (0..255) goes to name.f64.
const char *const kTiffWriter = R"(
import struct
def tiff(name, stored, expected, photometric, planes=False, tile=0, extra=()):
    height, width, samples = stored.shape
    bits = stored.dtype.itemsize * 8
    rows, columns = tile or 5, tile or width
    data, starts, counts = b"", [], []
    for plane in [stored[:, :, [k]] for k in range(samples)] if planes else [stored]:
        if tile:
            plane = np.pad(plane, ((0, -height % tile), (0, -width % tile), (0, 0)))
        for y0 in range(0, height, rows):
            for x0 in range(0, width, columns):
                chunk = plane[y0:y0 + rows, x0:x0 + columns].astype("<u%d" % (bits // 8)).tobytes()
                starts.append(8 + len(data))
                counts.append(len(chunk))
                data += chunk
    data += b"\0" * (len(data) % 2)
    tags = {256: (4, [width]), 257: (4, [height]), 258: (3, [bits] * samples), 259: (3, [1]),
            262: (3, [photometric]), 277: (3, [samples]), 284: (3, [2 if planes else 1])}
    if tile:
        tags.update({322: (4, [tile]), 323: (4, [tile]), 324: (4, starts), 325: (4, counts)})
    else:
        tags.update({273: (4, starts), 278: (4, [rows]), 279: (4, counts)})
    if extra:
        tags[338] = (3, list(extra))
    directory, outside = struct.pack("<H", len(tags)), b""
    outside_at = 8 + len(data) + 2 + 12 * len(tags) + 4
    for tag, (kind, values) in sorted(tags.items()):
        packed = struct.pack("<%d%s" % (len(values), "H" if kind == 3 else "I"), *values)
        directory += struct.pack("<HHI", tag, kind, len(values))
        if len(packed) <= 4:
            directory += packed.ljust(4, b"\0")
        else:
            directory += struct.pack("<I", outside_at + len(outside))
            outside += packed
    with open(os.path.join(d, name), "wb") as out:
        out.write(b"II*\0" + struct.pack("<I", 8 + len(data)) + data + directory + b"\0" * 4 + outside)
    with open(os.path.join(d, name + ".f64"), "wb") as out:
        out.write(np.asarray(expected, "<f8").tobytes())
)";

// All five formats come back under every compression (exactly, but for
// JPEG), and every option changes the file.
TEST_F(TiffTest, RoundTripsUnderEveryCompressionAndEveryOptionChangesTheFile) {
    std::map<std::string, size_t> rgb_size;  // of the RGB file per option text
    for (const char *options :
         {"compression none", "compression lzw predictor 0", "compression lzw predictor 1",
          "compression deflate predictor 0", "compression packbits", "compression jpeg", ""}) {
        const bool lossy = std::string(options) == "compression jpeg";
        for (int32_t format : {A, L, LA, RGB, RGBA}) {
            if (lossy && format == A) continue;
            SCOPED_TRACE(std::string(options) + " " + std::to_string(format));
            ImagePtr original = codec_test::natural_image(96, 64, format, uint32_t(format));
            const std::string path = write(std::to_string(format) + options, original.get(), options);
            if (format == RGB) rgb_size[options] = codec_test::read_bytes(path).size();
            UdilMovieInfo info;
            ImagePtr back = read(path, nullptr, &info);
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
    const size_t none = rgb_size["compression none"], lzw = rgb_size["compression lzw predictor 0"],
                 lzw_predicted = rgb_size["compression lzw predictor 1"];
    EXPECT_GT(none, size_t(96 * 64 * 3));
    // Mild noise defeats plain LZW; differencing the rows first wins.
    EXPECT_NE(lzw, none);
    EXPECT_LT(lzw_predicted, lzw);
    EXPECT_NE(rgb_size["compression deflate predictor 0"], lzw);
    EXPECT_NE(rgb_size["compression packbits"], none);
    EXPECT_LT(rgb_size["compression jpeg"], lzw_predicted);
    // The defaults are LZW with the predictor.
    EXPECT_EQ(lzw_predicted, rgb_size[""]);
}

// Layouts made here, each with the samples it must read as within a
// tolerance: 16-bit samples are scaled with rounding, white-is-zero grey
// inverted, premultiplied alpha divided out (for 16 bits before rounding,
// where cutting to 8 bits first magnified the error), and 8-bit CIELab
// (D50) of sRGB white, black, red, mid grey and blue turned into sRGB
// (white was once read as (255, 252, 222)).
TEST_F(TiffTest, ReadsHandmadeLayouts) {
    const std::string script = std::string(kTiffWriter) + R"(
y, x = np.mgrid[0:23, 0:37]
def eight(count):
    return np.dstack([(x * 7 + y * 13 + s * 50) % 256 for s in range(count)]).astype(np.uint8)
def sixteen(count):
    return np.dstack([(x * 1700 + y * 2300 + s * 9000) % 65536 for s in range(count)]).astype(np.uint16)
tiff("rgb_strips.tif", eight(3), eight(3), 2)
tiff("rgba_tiles.tif", eight(4), eight(4), 2, tile=16, extra=[2])
tiff("rgb16_tiles_planes.tif", sixteen(3), sixteen(3) * 255.0 / 65535, 2, planes=True, tile=16)
tiff("la_strip_planes.tif", eight(2), eight(2), 1, planes=True, extra=[2])
tiff("grey16.tif", sixteen(1), sixteen(1) * 255.0 / 65535, 1)
tiff("alpha_only.tif", eight(1), eight(1), 1, extra=[2])
tiff("rgb_two_extras.tif", eight(5), eight(4), 2, extra=[0, 0])
tiff("white_is_zero.tif", eight(1), 255.0 - eight(1), 0)
alpha = 55 + (x * 5 + y * 3) % 200
colour = [(100 + s * 50) * alpha // 255 for s in range(3)]
tiff("associated.tif", np.dstack(colour + [alpha]).astype(np.uint8),
     np.dstack([np.minimum(255.0, c * 255.0 / alpha) for c in colour] + [alpha]), 2, extra=[1])
y, x = np.mgrid[0:20, 0:50]
alpha = 200 + (x * 20 + y) * 60
colour = [(x * 1301 + y * 977 + s * 20011) % 65536 * alpha // 65535 for s in range(3)]
tiff("associated16.tif", np.dstack(colour + [alpha]).astype(np.uint16),
     255 * np.dstack([np.minimum(1.0, c / alpha) for c in colour] + [alpha / 65535.0]), 2, extra=[1])
lab = np.array([[[255, 0, 0], [0, 0, 0], [138, 81, 70], [136, 0, 0], [75, 68, -112]]]) % 256
srgb = [[[255, 255, 255], [0, 0, 0], [255, 0, 0], [128, 128, 128], [0, 0, 255]]]
tiff("lab.tif", lab.astype(np.uint8), srgb, 8)
)";
    ASSERT_TRUE(codec_test::run_python(script, scratch_.path()));
    const struct {
        const char *name;
        int32_t format;
        double tolerance;
    } cases[] = {{"rgb_strips", RGB, 0},
                 {"rgba_tiles", RGBA, 0},
                 {"rgb16_tiles_planes", RGB, 0.5},
                 {"la_strip_planes", LA, 0},
                 {"grey16", L, 0.5},
                 {"alpha_only", A, 0},
                 {"rgb_two_extras", RGBA, 0},
                 {"white_is_zero", L, 0},
                 {"associated", RGBA, 0.5},
                 {"associated16", RGBA, 0.5 + 1e-6},
                 {"lab", RGB, 4}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = file(std::string(c.name) + ".tif"),
                          stored = codec_test::read_bytes(path + ".f64");
        ImagePtr image = read(path);
        ASSERT_NE(nullptr, image.get()) << dyx_udil_get_last_error_string();
        ASSERT_EQ(c.format, image->format);
        const int channels = codec_test::components_of(c.format);
        std::vector<double> expected(dyx_image_data_size(image.get()));
        ASSERT_EQ(stored.size(), expected.size() * sizeof(double));
        std::memcpy(expected.data(), stored.data(), stored.size());
        for (uint32_t y = 0; y < image->height; ++y)
            for (uint32_t x = 0; x < image->width; ++x)
                for (int s = 0; s < channels; ++s)
                    ASSERT_NEAR(expected[(size_t(y) * image->width + x) * size_t(channels) + size_t(s)],
                                codec_test::sample(image.get(), x, y, s), c.tolerance)
                        << x << "," << y << " sample " << s;
    }
}

// Frames under one name are the pages of one file, written in order. (A
// numbered name, one file per frame, is the buffer bounds test's.)
TEST_F(TiffTest, FramesArePagesOfOneFileWrittenInOrder) {
    const std::vector<ImagePtr> frames = codec_test::random_frames(3, 23, 9, RGB);
    write_frames("pages", frames);
    expect_frames(file("pages.tif"), frames);
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
    // first, converted to the mode given), and reads the files written here
    // back the same way.
    const char *make = R"(
y, x = np.mgrid[0:27, 0:41]
rgb = Image.fromarray(np.dstack([plane(0), plane(1), plane(2)]))
save("rgb_lzw.tif", rgb, compression="tiff_lzw")
save("rgba_deflate.tif", Image.fromarray(np.dstack([rgb, plane(3)]), "RGBA"), compression="tiff_adobe_deflate")
save("grey_packbits.tif", Image.fromarray(plane(1)), compression="packbits")
save("grey16.tif", Image.fromarray((x * 1500 + y * 700).astype(np.uint16)), mode="I")
save("palette.tif", rgb.quantize(16), mode="RGB")
save("bilevel.tif", Image.fromarray(plane(0)).convert("1"), mode="L")
save("cmyk.tif", Image.fromarray(np.dstack([plane(0), plane(1), plane(2), plane(3) // 4]), "CMYK"), mode="RGB")
)";
    ASSERT_TRUE(codec_test::run_python(make, scratch_.path()));
    const struct {
        const char *name;
        int32_t format;
        int tolerance;  // CMYK goes through libtiff's own conversion, Pillow rounds its own way
    } cases[] = {{"rgb_lzw.tif", RGB, 0}, {"rgba_deflate.tif", RGBA, 0}, {"grey_packbits.tif", L, 0},
                 {"palette.tif", RGB, 0}, {"bilevel.tif", L, 0},         {"cmyk.tif", RGB, 2}};
    for (const auto &c : cases) expect_reads_as(c.name, c.format, file(c.name) + ".raw", c.tolerance);
    // Pillow's "I" pixels are the 16-bit values; ours are scaled to 8 bits.
    ImagePtr grey16 = read(file("grey16.tif"));
    ASSERT_NE(nullptr, grey16.get());
    EXPECT_EQ(L, grey16->format);
    EXPECT_EQ((uint32_t(10 * 1500 + 20 * 700) * 255 + 32767) / 65535,
              codec_test::sample(grey16.get(), 10, 20, 0));

    // The other way: Pillow reads what this plug-in writes.
    ImagePtr rgb = codec_test::natural_image(33, 21, RGB), rgba = codec_test::natural_image(33, 21, RGBA);
    expect_pillow_reads({{write("ours_rgb", rgb.get()), "RGB", rgb.get()},
                         {write("ours_rgba", rgba.get(), "compression deflate"), "RGBA", rgba.get()}});
}

TEST_F(TiffTest, RefusesTruncatedAndDamagedFiles) {
    ImagePtr original = codec_test::natural_image(64, 40, RGB);
    const std::string written = codec_test::read_bytes(write("good", original.get(), "compression lzw"));
    ASSERT_TRUE(codec_test::run_python(std::string(kTiffWriter) + R"(
y, x = np.mgrid[0:40, 0:40]
tiff("handmade.tif", np.dstack([x ^ y ^ s for s in range(3)]).astype(np.uint8), [], 2, tile=16)
)",
                                       scratch_.path()));
    const std::string handmade = codec_test::read_bytes(file("handmade.tif"));
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
