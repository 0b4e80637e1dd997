"""Still pictures of film, web and old tools (OpenEXR, DPX, WebP, BMP,
Targa, JPEG 2000, SGI, QOI, JPEG XL) made by the ffmpeg command and Pillow
at test time, read through the ffstill plug-in and compared with the
outside tool's own decode; and pictures written by orvo read back by those
tools (Python 2.7 and 3)."""
import math
import os
import struct
import sys
import unittest

import orvo
from movie_testing import ScratchTestCase, pattern_image
from orvo_testing import have_command, run_bounded, top_down_bytes

try:
    from PIL import Image
except ImportError:
    Image = None

FFMPEG_SECONDS = 120
NEEDS_FFMPEG = unittest.skipIf(not have_command("ffmpeg"),
                               "the ffmpeg command is not installed (Debian package ffmpeg)")
# ffmpeg's name of the 8-bit layout of each of orvo's formats.
FFMPEG_LAYOUT = {orvo.DYX_IMG_FMT_L: "gray", orvo.DYX_IMG_FMT_LA: "ya8", orvo.DYX_IMG_FMT_RGB: "rgb24",
                 orvo.DYX_IMG_FMT_RGBA: "rgba"}
# Even and odd sizes (an RGB source: lavfi's YUV sources round odd sizes
# down); the alpha ramps across the picture.
SOURCE = "testsrc2=size=%dx%d,format=rgb24"
ALPHA_SOURCE = "testsrc2=size=%dx%d,format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='4*X+Y'"


def differences(a, b):
    """(mean, worst) absolute difference of two byte strings of one size."""
    a, b = bytearray(a), bytearray(b)
    if len(a) != len(b):
        raise AssertionError("%d bytes against %d" % (len(a), len(b)))
    values = [abs(x - y) for x, y in zip(a, b)]
    return float(sum(values)) / max(1, len(values)), max(values) if values else 0


def srgb_byte(linear):
    """The mapping of a linear-light sample to 8 bits: clipped to 0..1,
    through the sRGB transfer."""
    value = 0.0 if linear != linear else min(1.0, max(0.0, linear))
    encoded = 12.92 * value if value <= 0.0031308 else 1.055 * math.pow(value, 1.0 / 2.4) - 0.055
    return int(math.floor(encoded * 255.0 + 0.5))


def exr_bytes(planes, alpha, grey):
    """8-bit samples of an EXR's float planes (FFmpeg's G, B, R, A order
    or one grey plane): through the sRGB transfer, alpha clipped only."""
    values = struct.unpack("<%df" % (len(planes) // 4), planes)
    if grey:
        return bytes(bytearray(srgb_byte(value) for value in values))
    count = len(values) // (4 if alpha else 3)
    green, blue, red = values[:count], values[count:2 * count], values[2 * count:3 * count]
    opacity = values[3 * count:]
    expected = bytearray()
    for k in range(count):
        expected.extend((srgb_byte(red[k]), srgb_byte(green[k]), srgb_byte(blue[k])))
        if alpha:
            expected.append(int(math.floor(min(1.0, max(0.0, opacity[k])) * 255.0 + 0.5)))
    return bytes(expected)


def visible(rgba):
    """RGBA bytes with the colour of fully transparent pixels zeroed."""
    data = bytearray(rgba)
    for k in range(0, len(data), 4):
        if data[k + 3] == 0:
            data[k:k + 3] = b"\0\0\0"
    return bytes(data)


class StillCase(ScratchTestCase):
    needed_codecs = ("ffstill",)
    figures = []  # (case, mean, worst), see tearDownModule

    def ffmpeg(self, arguments):
        status, out, err = run_bounded(["ffmpeg", "-nostdin", "-v", "error", "-y"] + arguments, FFMPEG_SECONDS)
        if status != 0:
            self.fail("ffmpeg %s: %s" % (" ".join(arguments), err.strip()))

    def make(self, name, output_arguments, size=(65, 49), alpha=False):
        path = self.path(name)
        source = (ALPHA_SOURCE if alpha else SOURCE) % size
        self.ffmpeg(["-f", "lavfi", "-i", source, "-frames:v", "1", "-update", "1"] + output_arguments + [path])
        return path

    def ffmpeg_decode(self, path, pixel_format, extra=()):
        """The ffmpeg command's decode; YUV pictures converted with
        swscale's exact path (chroma interpolated for every pixel), as
        orvo converts them."""
        raw = path + "." + pixel_format + ".raw"
        self.ffmpeg(list(extra) + ["-i", path, "-sws_flags", "bicubic+accurate_rnd+full_chroma_int", "-f", "rawvideo",
                                   "-pix_fmt", pixel_format, raw])
        with open(raw, "rb") as data:
            return data.read()

    def load(self, path, options=None):
        picture = orvo.image()
        status = picture.load(path) if options is None else picture.load(path, 0, options)
        self.assertEqual(status, 0, "%s: %s" % (os.path.basename(path), picture.errstr()))
        return picture

    def exr_reference(self, path, alpha, format=None):
        """The EXR's float samples as the ffmpeg command decodes them, put
        through the sRGB transfer (alpha clipped only)."""
        grey = format == orvo.DYX_IMG_FMT_L
        planes = self.ffmpeg_decode(path, "grayf32le" if grey else "gbrapf32le" if alpha else "gbrpf32le")
        return exr_bytes(planes, alpha, grey)

    def check(self, case, got, reference, tolerance):
        mean, worst = differences(got, reference)
        StillCase.figures.append((case, mean, worst))
        self.assertLessEqual(worst, tolerance, "%s: worst difference %d (mean %.3f)" % (case, worst, mean))


@NEEDS_FFMPEG
class ReadStillsTest(StillCase):
    # name, ffmpeg output arguments, alpha source, orvo format, tolerance
    # against the ffmpeg command's 8-bit decode.
    CASES = [
        ("rgb.bmp", [], False, orvo.DYX_IMG_FMT_RGB, 0),
        ("bgra.bmp", ["-pix_fmt", "bgra"], True, orvo.DYX_IMG_FMT_RGBA, 0),
        ("pal8.bmp", ["-pix_fmt", "pal8"], False, orvo.DYX_IMG_FMT_RGB, 0),
        ("rgb565.bmp", ["-pix_fmt", "rgb565le"], False, orvo.DYX_IMG_FMT_RGB, 0),
        ("rgb555.tga", ["-pix_fmt", "rgb555le"], False, orvo.DYX_IMG_FMT_RGB, 0),
        ("mono.bmp", ["-pix_fmt", "monob"], False, orvo.DYX_IMG_FMT_RGB, 0),
        ("grey.tga", ["-pix_fmt", "gray"], False, orvo.DYX_IMG_FMT_L, 0),
        ("rle.tga", ["-rle", "1"], False, orvo.DYX_IMG_FMT_RGB, 0),
        ("bgra.tga", ["-pix_fmt", "bgra"], True, orvo.DYX_IMG_FMT_RGBA, 0),
        ("rgb.sgi", [], False, orvo.DYX_IMG_FMT_RGB, 0),
        ("rgba.sgi", ["-pix_fmt", "rgba"], True, orvo.DYX_IMG_FMT_RGBA, 0),
        ("rle.sgi", ["-rle", "1"], False, orvo.DYX_IMG_FMT_RGB, 0),
        ("grey.sgi", ["-pix_fmt", "gray"], False, orvo.DYX_IMG_FMT_L, 0),
        ("rgb.qoi", [], False, orvo.DYX_IMG_FMT_RGB, 0),
        ("rgba.qoi", ["-pix_fmt", "rgba"], True, orvo.DYX_IMG_FMT_RGBA, 0),
        ("rgb.dpx", [], False, orvo.DYX_IMG_FMT_RGB, 0),
        ("rgba.dpx", ["-pix_fmt", "rgba"], True, orvo.DYX_IMG_FMT_RGBA, 0),
        ("rgb.jp2", ["-pred", "dwt53"], False, orvo.DYX_IMG_FMT_RGB, 0),
        ("codestream.j2k", ["-pred", "dwt53", "-format", "j2k"], False, orvo.DYX_IMG_FMT_RGB, 0),
        ("grey.jp2", ["-pix_fmt", "gray", "-pred", "dwt53"], False, orvo.DYX_IMG_FMT_L, 0),
        ("lossless.webp", ["-lossless", "1"], False, orvo.DYX_IMG_FMT_RGB, 0),
        ("alpha.webp", ["-lossless", "1"], True, orvo.DYX_IMG_FMT_RGBA, 0),
        ("lossy.webp", ["-quality", "80"], False, orvo.DYX_IMG_FMT_RGB, 0),
        ("rgb.jxl", ["-distance", "0"], False, orvo.DYX_IMG_FMT_RGB, 0),
        ("rgba.jxl", ["-distance", "0", "-pix_fmt", "rgba"], True, orvo.DYX_IMG_FMT_RGBA, 0),
    ]

    def test_each_layout_reads_as_the_ffmpeg_command_decodes_it(self):
        for size in ((65, 49), (64, 48)):
            for name, arguments, alpha, format, tolerance in self.CASES:
                case = "%dx%d %s" % (size[0], size[1], name)
                path = self.make("%dx%d-%s" % (size[0], size[1], name), arguments, size, alpha)
                picture = self.load(path)
                self.assertEqual((picture.dims, picture.format), ([size[0], size[1]], format), case)
                reference = self.ffmpeg_decode(path, FFMPEG_LAYOUT[format])
                self.check(case, top_down_bytes(picture), reference, tolerance)

    @unittest.skipIf(Image is None, "Pillow is not installed")
    def test_files_pillow_writes_read_as_pillow_decodes_them(self):
        pattern = bytes(bytearray((x * 7 + (x // 3) * 11) % 256 for x in range(65 * 49 * 3)))
        source = Image.frombytes("RGB", (65, 49), pattern)
        cases = [("pillow.bmp", "RGB", {}), ("pillow.tga", "RGB", {}),
                 ("pillow-rle.tga", "RGB", {"compression": "tga_rle"}),
                 ("pillow.sgi", "RGB", {}), ("pillow-rgba.sgi", "RGBA", {}), ("pillow-p.bmp", "P", {}),
                 ("pillow-lossless.webp", "RGB", {"lossless": True}),
                 ("pillow-rgba.webp", "RGBA", {"lossless": True}),
                 ("pillow.jp2", "RGB", {"irreversible": False}), ("pillow-l.jp2", "L", {"irreversible": False})]
        for name, mode, options in cases:
            picture = source.convert(mode)
            if mode == "RGBA":
                picture.putalpha(Image.frombytes("L", (65, 49), bytes(bytearray(x % 256 for x in range(65 * 49)))))
            path = self.path(name)
            picture.save(path, **options)
            expected = Image.open(path)
            expected = expected.convert("RGB" if expected.mode == "P" else expected.mode)
            got = self.load(path)
            self.assertEqual(got.dims, list(expected.size), name)
            self.check(name + " (Pillow)", top_down_bytes(got), expected.tobytes(), 0)

    def test_deep_samples_keep_their_top_8_bits(self):
        cases = [("10bit.dpx", ["-pix_fmt", "gbrp10le"], "gbrp10le", 2),
                 ("12bit.dpx", ["-pix_fmt", "gbrp12le"], "gbrp12le", 4),
                 ("16bit.dpx", ["-pix_fmt", "rgb48le"], "rgb48le", 8),
                 ("16bit.sgi", ["-pix_fmt", "rgb48be"], "rgb48le", 8),
                 ("16bit.jp2", ["-pix_fmt", "rgb48le", "-pred", "dwt53"], "rgb48le", 8),
                 ("16bit.jxl", ["-pix_fmt", "rgb48le", "-distance", "0"], "rgb48le", 8)]
        for name, arguments, deep, shift in cases:
            path = self.make(name, arguments)
            samples = self.ffmpeg_decode(path, deep)
            picture = self.load(path)
            count = picture.dims[0] * picture.dims[1]
            values = struct.unpack("<%dH" % (len(samples) // 2), samples)
            if deep.startswith("gbrp"):
                green, blue, red = values[:count], values[count:2 * count], values[2 * count:]
                expected = bytearray()
                for k in range(count):
                    expected.extend((red[k] >> shift, green[k] >> shift, blue[k] >> shift))
            else:
                expected = bytearray(value >> shift for value in values)
            self.check(name, top_down_bytes(picture), bytes(expected), 0)

    def test_exr_of_every_compression_reads_through_the_srgb_transfer(self):
        for compression in ("none", "rle", "zip1", "zip16"):
            for sample in ("half", "float"):
                for alpha in (False, True):
                    name = "%s-%s%s.exr" % (compression, sample, "-rgba" if alpha else "")
                    path = self.make(name, ["-pix_fmt", "gbrapf32le" if alpha else "gbrpf32le", "-compression",
                                            compression, "-format", sample], alpha=alpha)
                    got = self.load(path)
                    self.assertEqual(got.format, orvo.DYX_IMG_FMT_RGBA if alpha else orvo.DYX_IMG_FMT_RGB, name)
                    # The sRGB table steps linear light in 1/65535.
                    self.check(name, top_down_bytes(got), self.exr_reference(path, alpha), 1)

    @unittest.skipIf(not have_command("exrmaketiled"), "OpenEXR's tools are not installed (Debian package openexr)")
    def test_tiled_exr_of_every_openexr_compression(self):
        # OpenEXR's own tool writes each compression, tiled; each must read
        # as OpenEXR decodes it (the tool's copy without compression) and as
        # the ffmpeg command decodes it, lossless ones as the source.
        for sample in ("half", "float"):
            source = self.make("source-%s.exr" % sample, ["-pix_fmt", "gbrpf32le", "-format", sample,
                                                          "-compression", "none"])
            expected = self.exr_reference(source, False)
            for compression in ("dwaa", "dwab"):
                # Refused: FFmpeg's decoder gives colours tens of levels off.
                name = "tiled-%s-%s.exr" % (compression, sample)
                status, out, err = run_bounded(["exrmaketiled", "-z", compression, "-t", "32", "32", source,
                                                self.path(name)], FFMPEG_SECONDS)
                self.assertEqual(status, 0, err)
                picture = orvo.image()
                self.assertNotEqual(picture.load(self.path(name)), 0, name)
                self.assertIn(compression.upper() + " compression is not read", picture.errstr())
            for compression in ("none", "rle", "zip", "piz", "pxr24", "b44", "b44a"):
                name = "tiled-%s-%s.exr" % (compression, sample)
                status, out, err = run_bounded(["exrmaketiled", "-z", compression, "-t", "32", "32", source,
                                                self.path(name)], FFMPEG_SECONDS)
                self.assertEqual(status, 0, err)
                got = top_down_bytes(self.load(self.path(name)))
                self.check(name, got, self.exr_reference(self.path(name), False), 1)
                plain = self.path("openexr-" + name)
                status, out, err = run_bounded(["exrmaketiled", "-z", "none", self.path(name), plain],
                                               FFMPEG_SECONDS)
                self.assertEqual(status, 0, err)
                self.check(name + " (OpenEXR)", got, self.exr_reference(plain, False), 1)
                if compression in ("none", "rle", "zip", "piz"):
                    self.check(name + " (source)", got, expected, 0)

    def test_exr_values_outside_0_to_1_are_clipped(self):
        # Twice the light of the test pattern: everything above 0.5 is white.
        path = self.path("bright.exr")
        self.ffmpeg(["-f", "lavfi", "-i", SOURCE % (65, 49), "-frames:v", "1", "-vf",
                     "format=gbrpf32le,geq=r='2*r(X,Y)':g='2*g(X,Y)':b='2*b(X,Y)'", "-update", "1", path])
        got = bytearray(top_down_bytes(self.load(path)))
        self.check("bright.exr", bytes(got), self.exr_reference(path, False), 1)
        self.assertIn(255, got)


@NEEDS_FFMPEG
class WriteStillsTest(StillCase):
    SUFFIXES = ["exr", "dpx", "webp", "bmp", "tga", "jp2", "j2k", "sgi", "qoi", "jxl"]
    LOSSLESS_OPTIONS = {"webp": "lossless 1", "jxl": "lossless 1"}

    def test_every_suffix_written_by_orvo_reads_back_in_the_ffmpeg_command(self):
        for format in (orvo.DYX_IMG_FMT_RGB, orvo.DYX_IMG_FMT_RGBA, orvo.DYX_IMG_FMT_L):
            source = pattern_image(65, 49, 3, format)
            for suffix in self.SUFFIXES:
                path = self.path("orvo-%d.%s" % (format, suffix))
                self.assertEqual(source.save(path, self.LOSSLESS_OPTIONS.get(suffix, "")), 0,
                                 "%s: %s" % (path, source.errstr()))
                again = self.load(path)
                # A format without grey or alpha holds the picture as RGB.
                if suffix == "exr":
                    reference = self.exr_reference(path, again.format == orvo.DYX_IMG_FMT_RGBA, again.format)
                else:
                    reference = self.ffmpeg_decode(path, FFMPEG_LAYOUT[again.format])
                self.check("written " + os.path.basename(path), top_down_bytes(again), reference,
                           1 if suffix == "exr" else 0)
                if again.format == format:
                    # Lossless formats give the picture back exactly (WebP
                    # keeps no colour under fully transparent pixels).
                    expected = source.tostring()
                    if suffix == "webp" and format == orvo.DYX_IMG_FMT_RGBA:
                        expected, got = visible(expected), visible(again.tostring())
                    else:
                        got = again.tostring()
                    self.check("round trip " + os.path.basename(path), got, expected, 0)

    def test_exr_compression_and_sample_options_reach_the_file(self):
        source = pattern_image(64, 48, 5, orvo.DYX_IMG_FMT_RGB)
        sizes = {}
        for options in ("exrcompression none", "exrcompression zip16", "exrpixel float exrcompression none"):
            path = self.path(options.replace(" ", "-") + ".exr")
            self.assertEqual(source.save(path, options), 0, source.errstr())
            sizes[options] = os.path.getsize(path)
            self.assertEqual(self.load(path).tostring(), source.tostring(), options)
        self.assertLess(sizes["exrcompression zip16"], sizes["exrcompression none"])
        self.assertGreater(sizes["exrpixel float exrcompression none"], sizes["exrcompression none"])

    def test_numbered_sequence_and_command_convert_on_both_sides(self):
        frames = [pattern_image(64, 48, k, orvo.DYX_IMG_FMT_RGB) for k in range(3)]
        with orvo.open(self.path("seq.###.dpx"), "w", dims=(64, 48), nframes=3) as movie:
            for frame in frames:
                self.assertEqual(movie.append(frame), 0, movie.errstr())
        self.assertEqual(sorted(os.listdir(self.dir)), ["seq.000.dpx", "seq.001.dpx", "seq.002.dpx"])
        read = [top_down_bytes(self.load(self.path("seq.%03d.dpx" % k))) for k in range(3)]
        self.assertEqual(read, [top_down_bytes(frame) for frame in frames])
        python = sys.executable
        status, out, err = run_bounded([python, "-m", "orvo", "convert", self.path("seq.###.dpx"),
                                        self.path("out.###.exr")], FFMPEG_SECONDS)
        self.assertEqual(status, 0, err)
        status, out, err = run_bounded([python, "-m", "orvo", "convert", self.path("out.###.exr"),
                                        self.path("back.###.tga")], FFMPEG_SECONDS)
        self.assertEqual(status, 0, err)
        for k in range(3):
            back = self.load(self.path("back.%03d.tga" % k))
            self.check("convert dpx>exr>tga %d" % k, top_down_bytes(back), read[k], 0)

    def test_imread_and_imwrite(self):
        source = pattern_image(64, 48, 9, orvo.DYX_IMG_FMT_RGBA)
        path = self.path("imwrite.qoi")
        orvo.imwrite(path, source)
        got = orvo.imread(path)
        picture = got if isinstance(got, orvo.image) else orvo.image.fromarray(got)
        self.assertEqual(picture.tostring(), source.tostring())
        with self.assertRaises(orvo.Error):
            orvo.imread(self.path("missing.exr"))


def layered_exr(path, width, height, layers):
    """Writes an uncompressed scanline OpenEXR file of 32-bit float
    channels: `layers` maps a layer name ("" for the default RGB layer) to
    a function (x, y, channel index) -> value."""
    names = []
    for layer, value in layers.items():
        for index, channel in enumerate("RGB"):
            names.append(((layer + "." if layer else "") + channel, value, index))
    names.sort(key=lambda entry: entry[0])
    channels = b"".join(name.encode("ascii") + b"\0" + struct.pack("<iB3xii", 2, 0, 1, 1)
                        for name, value, index in names) + b"\0"

    def attribute(name, kind, data):
        return name + b"\0" + kind + b"\0" + struct.pack("<i", len(data)) + data

    window = struct.pack("<iiii", 0, 0, width - 1, height - 1)
    header = (struct.pack("<ii", 20000630, 2) + attribute(b"channels", b"chlist", channels) +
              attribute(b"compression", b"compression", b"\0") + attribute(b"dataWindow", b"box2i", window) +
              attribute(b"displayWindow", b"box2i", window) + attribute(b"lineOrder", b"lineOrder", b"\0") +
              attribute(b"pixelAspectRatio", b"float", struct.pack("<f", 1.0)) +
              attribute(b"screenWindowCenter", b"v2f", struct.pack("<ff", 0.0, 0.0)) +
              attribute(b"screenWindowWidth", b"float", struct.pack("<f", 1.0)) + b"\0")
    line_size = 8 + 4 * width * len(names)
    start = len(header) + 8 * height
    offsets = b"".join(struct.pack("<Q", start + y * line_size) for y in range(height))
    lines = []
    for y in range(height):
        samples = [value(x, y, index) for name, value, index in names for x in range(width)]
        lines.append(struct.pack("<ii", y, 4 * len(samples)) + struct.pack("<%df" % len(samples), *samples))
    with open(path, "wb") as out:
        out.write(header + offsets + b"".join(lines))


@NEEDS_FFMPEG
class ExrLayerTest(StillCase):
    def test_a_reader_option_picks_another_layer(self):
        def front(x, y, c):
            return (x + 3 * c) / 40.0

        def back(x, y, c):
            return (y * 0.1 + c * 0.3) * 1.5  # reaches past 1: clipped

        path = self.path("layers.exr")
        layered_exr(path, 37, 21, {"": front, "back": back})
        for layer, value in (("", front), ("back", back)):
            expected = bytes(bytearray(srgb_byte(struct.unpack("<f", struct.pack("<f", value(x, y, c)))[0])
                                       for y in range(21) for x in range(37) for c in range(3)))
            got = self.load(path, "layer " + layer if layer else None)
            self.check("layer '%s' (own values)" % layer, top_down_bytes(got), expected, 1)
            decoded = self.ffmpeg_decode(path, "gbrpf32le", ["-layer", layer] if layer else [])
            self.check("layer '%s' (ffmpeg)" % layer, top_down_bytes(got), exr_bytes(decoded, False, False), 1)
        picture = orvo.image()
        self.assertNotEqual(picture.load(path, 0, "layer nosuchlayer"), 0)
        self.assertTrue(picture.errstr())


def tearDownModule():
    # ORVO_TEST_FIGURES=1 prints the measured differences of every case.
    if not os.environ.get("ORVO_TEST_FIGURES"):
        return
    for case, mean, worst in StillCase.figures:
        sys.stdout.write("%-44s mean %.3f worst %d\n" % (case, mean, worst))


if __name__ == "__main__":
    unittest.main()
