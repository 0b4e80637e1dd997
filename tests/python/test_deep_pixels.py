"""Deep pixels: 16-bit, half and float files read at their own depth and
written from such arrays, checked against OpenCV (IMREAD_UNCHANGED) and
Pillow bit for bit, and written-then-read round trips."""
import json
import os
import sys
import unittest

import orvo
from movie_testing import ScratchTestCase
from orvo_testing import BoundedChild, have_command, run_bounded

try:
    import numpy
    import cv2
    from PIL import Image
except ImportError:  # Python 2.7 here has no NumPy: it keeps the 8-bit API
    numpy = None
try:
    import OpenImageIO
except ImportError:
    OpenImageIO = None

NO_NUMPY = "deep arrays need NumPy (Python 2.7 keeps the 8-bit API)"


def ramp(height, width, channels, dtype):
    """A picture that uses the whole range of its kind (floats also go
    below 0 and above 1, which files of floats keep)."""
    count = height * width * channels
    if dtype == "uint16":
        values = (numpy.arange(count, dtype=numpy.uint64) * 40503) % 65536
    else:
        values = (numpy.arange(count, dtype=numpy.float64) % 977) / 488.0 - 0.5
    array = values.astype(dtype).reshape(height, width, channels)
    return array[:, :, 0] if channels == 1 else array


def to_bgr(array):
    """OpenCV's channel order of an RGB(A) array."""
    if array.ndim == 2:
        return array
    return array[:, :, [2, 1, 0, 3][:array.shape[2]]] if array.shape[2] >= 3 else array


def cv2_read(path):
    return to_bgr(cv2.imread(path, cv2.IMREAD_UNCHANGED))


@unittest.skipIf(numpy is None, NO_NUMPY)
class DeepReadTest(ScratchTestCase):
    """Files written by OpenCV read as OpenCV reads them."""
    needed_codecs = ("ppm", "png", "tiff")

    CASES = [
        # (suffix, channels, dtype)
        (".png", 1, "uint16"), (".png", 3, "uint16"), (".png", 4, "uint16"),
        (".tif", 1, "uint16"), (".tif", 3, "uint16"), (".tif", 4, "uint16"),
        (".tif", 1, "float32"),  # OpenCV writes colour floats as LogLuv, which is no plain float file
        (".pgm", 1, "uint16"), (".ppm", 3, "uint16"),
    ]

    def test_files_written_by_opencv_read_bit_exact(self):
        for suffix, channels, dtype in self.CASES:
            with self.subTest(suffix=suffix, channels=channels, dtype=dtype):
                expected = ramp(37, 53, channels, dtype)
                path = self.path("cv%d%s%s" % (channels, dtype, suffix))
                self.assertTrue(cv2.imwrite(path, to_bgr(expected)))
                self.assertTrue(numpy.array_equal(cv2_read(path), expected))
                got = orvo.imread(path)
                self.assertEqual(got.dtype, numpy.dtype(dtype))
                self.assertTrue(numpy.array_equal(got, expected))

    def test_sixteen_bit_grey_png_reads_as_pillow_reads_it(self):
        expected = ramp(20, 30, 1, "uint16")
        path = self.path("pillow.png")
        Image.fromarray(expected).save(path)
        self.assertTrue(numpy.array_equal(numpy.asarray(Image.open(path)), expected))
        self.assertTrue(numpy.array_equal(orvo.imread(path), expected))

    def test_uint8_asked_gives_the_bytes_of_getframe(self):
        path = self.path("deep.png")
        self.assertTrue(cv2.imwrite(path, to_bgr(ramp(9, 11, 3, "uint16"))))
        eight = orvo.imread(path, dtype=numpy.uint8)
        picture = orvo.image()
        self.assertEqual(picture.load(path), 0)
        self.assertEqual(eight.dtype, numpy.uint8)
        self.assertTrue(numpy.array_equal(eight, picture.toarray()))

    def test_eight_bit_files_stay_uint8_and_widen_when_asked(self):
        path = self.path("eight.png")
        expected = (numpy.arange(6 * 7 * 3) % 256).astype(numpy.uint8).reshape(6, 7, 3)
        orvo.imwrite(path, expected)
        self.assertEqual(orvo.imread(path).dtype, numpy.uint8)
        wide = orvo.imread(path, dtype=numpy.uint16)
        self.assertTrue(numpy.array_equal(wide, expected.astype(numpy.uint16) * 257))

    def test_imiter_and_getarray_give_the_files_depth(self):
        frames = [ramp(8, 10, 3, "uint16") + k for k in range(3)]
        for k, frame in enumerate(frames):
            self.assertTrue(cv2.imwrite(self.path("seq.%04d.png" % k), to_bgr(frame)))
        got = list(orvo.imiter(self.path("seq.####.png")))
        self.assertEqual(len(got), 3)
        for frame, array in zip(frames, got):
            self.assertTrue(numpy.array_equal(array, frame))
        with orvo.open(self.path("seq.####.png")) as opened:
            self.assertTrue(numpy.array_equal(opened.getarray(-1), frames[2]))
            as_float = opened.getarray(0, dtype=numpy.float32)
            self.assertTrue(numpy.allclose(as_float, frames[0] / 65535.0))
            opened.flip = orvo.DYX_FLIP_XAXIS | orvo.DYX_FLIP_YAXIS
            self.assertTrue(numpy.array_equal(opened.getarray(1), frames[1][::-1, ::-1]))

    def test_half_float_tiff_keeps_half_when_asked(self):
        expected = ramp(5, 6, 3, "float16")
        path = self.path("half.tif")
        orvo.imwrite(path, expected)
        self.assertEqual(orvo.imread(path).dtype, numpy.float32)
        half = orvo.imread(path, dtype=numpy.float16)
        self.assertTrue(numpy.array_equal(half.view(numpy.uint16), expected.view(numpy.uint16)))


@unittest.skipIf(numpy is None, NO_NUMPY)
class DeepWriteTest(ScratchTestCase):
    """Arrays written keep their depth where the format holds it."""
    needed_codecs = ("ppm", "png", "tiff")

    ROUND_TRIPS = [
        # (suffix, channels, dtype, options)
        (".png", 1, "uint16", ""), (".png", 2, "uint16", ""), (".png", 3, "uint16", ""),
        (".png", 4, "uint16", "compression 9"),
        (".tif", 1, "uint16", ""), (".tif", 3, "uint16", "compression deflate"),
        (".tif", 4, "uint16", "compression none"),
        (".tif", 1, "float32", ""), (".tif", 3, "float32", "compression deflate"),
        (".tif", 3, "float16", ""), (".tif", 4, "float16", "compression none"),
        (".pgm", 1, "uint16", ""), (".ppm", 3, "uint16", ""), (".pam", 4, "uint16", ""),
    ]

    def test_round_trips_are_bit_exact(self):
        for suffix, channels, dtype, options in self.ROUND_TRIPS:
            with self.subTest(suffix=suffix, channels=channels, dtype=dtype, options=options):
                expected = ramp(31, 45, channels, dtype)
                path = self.path("trip%d%s%s" % (channels, dtype, suffix))
                orvo.imwrite(path, expected, options)
                wanted = numpy.float16 if dtype == "float16" else None
                got = orvo.imread(path, dtype=wanted)
                self.assertEqual(got.dtype, numpy.dtype(dtype))
                self.assertTrue(numpy.array_equal(got.view("u%d" % got.itemsize),
                                                  expected.view("u%d" % expected.itemsize)))
                if dtype != "float16" and channels != 2 and suffix != ".pam":
                    # An outside reader agrees.
                    self.assertTrue(numpy.array_equal(cv2_read(path), expected))

    def test_a_depth_the_format_cannot_hold_is_refused_by_name(self):
        for suffix, dtype in ((".png", "float32"), (".pgm", "float16"), (".jpg", "uint16")):
            with self.subTest(suffix=suffix, dtype=dtype):
                path = self.path("refused" + suffix)
                with self.assertRaises(orvo.Error) as caught:
                    orvo.imwrite(path, ramp(4, 4, 1 if suffix == ".pgm" else 3, dtype))
                text = str(caught.exception)
                self.assertIn(dtype, text)
                self.assertIn(suffix.lstrip(".").replace("jpg", "jpeg").replace("pgm", "ppm"), text)
                self.assertFalse(os.path.exists(path))

    def test_writer_takes_deep_frames(self):
        frames = [ramp(6, 8, 3, "uint16") + k for k in range(2)]
        with orvo.open(self.path("out.####.png"), "w") as target:
            for frame in frames:
                target.append(frame)
        for k, frame in enumerate(frames):
            self.assertTrue(numpy.array_equal(cv2_read(self.path("out.%04d.png" % k)), frame))

    def test_stereo_pairs_keep_both_eyes_deep(self):
        pairs = [(ramp(6, 8, 3, "uint16") + k, ramp(6, 8, 3, "uint16") + 100 + k) for k in range(2)]
        with orvo.open(self.path("pair.@.####.png"), "w", stereo=1) as target:
            for pair in pairs:
                target.append(pair)
        movie = orvo.open(self.path("pair.@.####.png"))
        for k, (left, right) in enumerate(pairs):
            # The eyes' own files, as OpenCV reads them, and the pair as
            # orvo reads it back.
            self.assertTrue(numpy.array_equal(cv2_read(self.path("pair.l.%04d.png" % k)), left))
            self.assertTrue(numpy.array_equal(cv2_read(self.path("pair.r.%04d.png" % k)), right))
            got = movie.getarray(k)
            self.assertIsInstance(got, tuple)
            self.assertEqual(got[0].dtype, numpy.uint16)
            self.assertTrue(numpy.array_equal(got[0], left) and numpy.array_equal(got[1], right))

    def test_a_writer_with_an_anaglyph_refuses_deep_frames(self):
        target = orvo.open(self.path("ana.####.png"), "w", stereo=1, anaglyph=orvo.MOVIE_ANAGLYPH_REDCYAN)
        with self.assertRaises(orvo.Error) as caught:
            target.append(ramp(4, 4, 3, "uint16"))
        self.assertIn("anaglyphs are composed from 8-bit frames only", str(caught.exception))


def run_ffmpeg(*arguments):
    status, _, errors = BoundedChild(("ffmpeg", "-v", "error", "-y") + arguments).finish()
    if status != 0:
        raise AssertionError("ffmpeg failed: %s" % errors)


@unittest.skipIf(numpy is None, NO_NUMPY)
@unittest.skipUnless(have_command("ffmpeg"), "the ffmpeg command is not installed")
class DeepVideoReadTest(ScratchTestCase):
    """Video deeper than 8 bits reads as the ffmpeg command's rgb48le or
    rgba64le output, bit for bit."""
    needed_codecs = ("ffmpeg",)

    CASES = [
        # (file, size, encoder options, ffmpeg's raw format, channels)
        ("ffv1.mkv", "320x240", ("-c:v", "ffv1", "-pix_fmt", "yuv420p10le"), "rgb48le", 3),
        ("prores.mov", "322x180", ("-c:v", "prores_ks", "-profile:v", "3", "-pix_fmt", "yuv422p10le",
                                   "-colorspace", "bt709"), "rgb48le", 3),
        ("prores4444.mov", "64x48", ("-c:v", "prores_ks", "-profile:v", "4", "-pix_fmt", "yuva444p10le"),
         "rgba64le", 4),
        ("ffv1_12.mkv", "66x50", ("-c:v", "ffv1", "-pix_fmt", "yuv444p12le"), "rgb48le", 3),
        ("ffv1a.mkv", "64x48", ("-c:v", "ffv1", "-pix_fmt", "yuva444p10le"), "rgba64le", 4),
        ("ffv1rgb.mkv", "64x48", ("-c:v", "ffv1", "-pix_fmt", "gbrp10le"), "rgb48le", 3),
    ]

    def test_frames_equal_the_ffmpeg_commands_conversion(self):
        for name, size, options, raw_format, channels in self.CASES:
            with self.subTest(name=name):
                path, raw = self.path(name), self.path(name + ".raw")
                run_ffmpeg("-f", "lavfi", "-i", "testsrc2=size=%s:rate=10" % size, "-frames:v", "3",
                           *(options + (path,)))
                run_ffmpeg("-i", path, "-f", "rawvideo", "-pix_fmt", raw_format, raw)
                width, height = (int(side) for side in size.split("x"))
                expected = numpy.fromfile(raw, dtype="<u2").reshape(3, height, width, channels)
                got = numpy.stack(list(orvo.imiter(path)))
                self.assertEqual(got.dtype, numpy.uint16)
                self.assertTrue(numpy.array_equal(got, expected))
                with orvo.open(path) as opened:  # out of order, and 8-bit when asked
                    self.assertTrue(numpy.array_equal(opened.getarray(2), expected[2]))
                    self.assertEqual(opened.getarray(0, dtype=numpy.uint8).dtype, numpy.uint8)

    def test_eight_bit_video_stays_uint8(self):
        path = self.path("eight.mkv")
        run_ffmpeg("-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10", "-frames:v", "2", "-c:v", "ffv1",
                   "-pix_fmt", "yuv420p", path)
        self.assertEqual(orvo.imread(path).dtype, numpy.uint8)

    def test_a_movie_codec_without_deep_formats_refuses_deep_frames_by_name(self):
        with self.assertRaises(orvo.Error) as caught:
            orvo.imwrite(self.path("deep.avi"), numpy.zeros((2, 4, 8, 3), numpy.uint16), "codec mjpeg")
        self.assertIn("mjpeg video cannot hold uint16 samples", str(caught.exception))


def oiio_read(path):
    """The picture as OpenImageIO reads it, in the file's own sample type."""
    source = OpenImageIO.ImageInput.open(path)
    try:
        return source.read_image(source.spec().format)
    finally:
        source.close()


@unittest.skipIf(numpy is None, NO_NUMPY)
@unittest.skipUnless(have_command("ffmpeg"), "the ffmpeg command is not installed")
class DeepStillReadTest(ScratchTestCase):
    """OpenEXR and DPX files read whole: as the ffmpeg command decodes them
    (rgb48le, gbrp(a)f32le) and as OpenImageIO reads them."""
    needed_codecs = ("ffstill",)

    CASES = [
        # (file, ffmpeg's writing options, dtype, channels, what OpenImageIO agrees on)
        ("half.exr", ("-pix_fmt", "gbrapf32le", "-c:v", "exr", "-format", "1"), "float32", 4, "all"),
        ("float.exr", ("-pix_fmt", "gbrpf32le", "-c:v", "exr", "-compression", "1"), "float32", 3, "all"),
        ("ten.dpx", ("-pix_fmt", "gbrp10le", "-c:v", "dpx"), "uint16", 3, "all"),
        # OpenImageIO gives 12-bit samples shifted up (v << 4); the ffmpeg
        # command, and orvo, repeat their top bits below them to span 0..65535.
        ("twelve.dpx", ("-pix_fmt", "gbrp12le", "-c:v", "dpx"), "uint16", 3, "top 12 bits"),
        ("sixteen.dpx", ("-pix_fmt", "rgb48le", "-c:v", "dpx"), "uint16", 3, "all"),
    ]

    def test_files_read_as_the_ffmpeg_command_and_openimageio_read_them(self):
        for name, options, dtype, channels, agreed in self.CASES:
            with self.subTest(name=name):
                path, raw = self.path(name), self.path(name + ".raw")
                run_ffmpeg("-f", "lavfi", "-i", "testsrc2=size=64x48", "-frames:v", "1", *(options + (path,)))
                got = orvo.imread(path)
                self.assertEqual(got.dtype, numpy.dtype(dtype))
                if dtype == "uint16":
                    run_ffmpeg("-i", path, "-f", "rawvideo", "-pix_fmt", "rgb48le", raw)
                    expected = numpy.fromfile(raw, dtype="<u2").reshape(48, 64, channels)
                else:
                    planar = "gbrapf32le" if channels == 4 else "gbrpf32le"
                    run_ffmpeg("-i", path, "-f", "rawvideo", "-pix_fmt", planar, raw)
                    planes = numpy.fromfile(raw, dtype="<f4").reshape(channels, 48, 64)
                    expected = numpy.stack([planes[i] for i in (2, 0, 1, 3)[:channels]], axis=2)
                self.assertTrue(numpy.array_equal(got, expected))
                if OpenImageIO is None:
                    continue
                theirs = oiio_read(path)
                if agreed == "all":
                    self.assertTrue(numpy.array_equal(got, theirs.astype(got.dtype)))
                else:
                    self.assertTrue(numpy.array_equal(got >> 4, theirs >> 4))
                if name == "half.exr":  # half samples kept when asked
                    self.assertTrue(numpy.array_equal(orvo.imread(path, dtype=numpy.float16), theirs))

    @unittest.skipIf(OpenImageIO is None, "OpenImageIO's Python module is not installed (python3-openimageio)")
    def test_files_openimageio_writes_read_as_it_reads_them(self):
        # Its headers order and add attributes their own way; a channel
        # beyond RGBA (Z) is left out, as the ffmpeg command leaves it.
        for channels, names, sample, compression in ((3, ("R", "G", "B"), "half", "zip"),
                                                     (4, ("R", "G", "B", "A"), "float", "piz"),
                                                     (1, ("Y",), "half", "none"),
                                                     (4, ("R", "G", "B", "Z"), "float", "rle")):
            with self.subTest(names=names, sample=sample):
                written = ramp(19, 33, channels, "float16" if sample == "half" else "float32")
                path = self.path("oiio-%s-%s.exr" % ("".join(names), sample))
                target = OpenImageIO.ImageOutput.create(path)
                spec = OpenImageIO.ImageSpec(33, 19, channels, sample)
                spec.channelnames = names
                spec.attribute("compression", compression)
                self.assertTrue(target.open(path, spec), OpenImageIO.geterror())
                self.assertTrue(target.write_image(written.reshape(19, 33, channels)))
                target.close()
                kept = written[:, :, :3] if "Z" in names else written
                self.assertTrue(numpy.array_equal(orvo.imread(path), kept.astype(numpy.float32)))


def ffmpeg_decode(path, dtype, channels, shape):
    """The picture as the ffmpeg command decodes it: 16-bit RGB(A) or grey,
    or float planes put back in R, G, B, A order."""
    raw = path + ".raw"
    if dtype == "uint16":
        run_ffmpeg("-i", path, "-f", "rawvideo", "-pix_fmt", ("gray16le", "", "rgb48le", "rgba64le")[channels - 1], raw)
        return numpy.fromfile(raw, dtype="<u2").reshape(shape)
    run_ffmpeg("-i", path, "-f", "rawvideo", "-pix_fmt", ("grayf32le", "", "gbrpf32le", "gbrapf32le")[channels - 1],
               raw)
    planes = numpy.fromfile(raw, dtype="<f4").reshape((channels,) + shape[:2])
    if channels == 1:
        return planes[0]
    return numpy.stack([planes[i] for i in (2, 0, 1, 3)[:channels]], axis=2)


def same_bits(a, b):
    if a.dtype != b.dtype or a.shape != b.shape:
        return False
    return numpy.array_equal(a.view("u%d" % a.itemsize), b.view("u%d" % b.itemsize))


@unittest.skipIf(numpy is None, NO_NUMPY)
@unittest.skipUnless(have_command("ffmpeg"), "the ffmpeg command is not installed")
class DeepStillWriteTest(ScratchTestCase):
    """OpenEXR (half, float) and DPX (16, 12, 10 bits) written from arrays,
    read back bit for bit by orvo, OpenImageIO and the ffmpeg command; the
    other 16-bit still formats round trip; depths a format cannot hold are
    refused by name."""
    needed_codecs = ("ffstill",)

    CASES = [
        # (suffix, channels, dtype, options, bits kept of 16-bit samples)
        (".exr", 3, "float16", "", 16), (".exr", 4, "float16", "exrcompression rle", 16),
        (".exr", 1, "float32", "", 32), (".exr", 3, "float32", "exrcompression zip1", 32),
        (".exr", 4, "float32", "exrcompression none", 32),
        (".dpx", 1, "uint16", "", 16), (".dpx", 3, "uint16", "", 16), (".dpx", 4, "uint16", "", 16),
        (".dpx", 3, "uint16", "dpxbits 10", 10), (".dpx", 3, "uint16", "dpxbits 12", 12),
    ]

    def test_files_read_back_bit_exact_by_openimageio_and_the_ffmpeg_command(self):
        for suffix, channels, dtype, options, bits in self.CASES:
            with self.subTest(suffix=suffix, channels=channels, dtype=dtype, options=options):
                written = ramp(27, 38, channels, dtype)
                if dtype == "float16":  # halves at their edges: subnormal, -0, largest, infinite
                    written.reshape(-1)[:5] = numpy.array([6e-8, -0.0, 65504, numpy.inf, -numpy.inf], "float16")
                path = self.path("w%d%s%d%s" % (channels, dtype, bits, suffix))
                orvo.imwrite(path, written, options)
                kept = written
                if dtype == "uint16" and bits < 16:  # the top bits kept, widened again when read
                    top = written >> (16 - bits)
                    kept = (top << (16 - bits)) | (top >> (2 * bits - 16))
                self.assertTrue(same_bits(orvo.imread(path, dtype=numpy.float16 if dtype == "float16" else None),
                                          kept))
                as_read = kept.astype("float32") if dtype == "float16" else kept
                self.assertTrue(same_bits(ffmpeg_decode(path, as_read.dtype.name, channels, kept.shape), as_read))
                if OpenImageIO is None:
                    continue
                theirs = oiio_read(path).reshape(kept.shape)
                if bits == 12:  # OpenImageIO shifts 12-bit samples up rather than widening them
                    self.assertTrue(numpy.array_equal(theirs >> 4, kept >> 4))
                else:
                    self.assertTrue(same_bits(theirs, kept))

    def test_other_sixteen_bit_formats_round_trip(self):
        for suffix, channels, options in ((".sgi", 3, ""), (".sgi", 4, ""), (".jp2", 1, ""), (".jp2", 3, ""),
                                          (".jxl", 3, "lossless 1"), (".jxl", 2, "lossless 1")):
            with self.subTest(suffix=suffix, channels=channels):
                written = ramp(27, 38, channels, "uint16")
                path = self.path("trip%d%s" % (channels, suffix))
                orvo.imwrite(path, written, options)
                self.assertTrue(same_bits(orvo.imread(path), written))
                if channels != 2:
                    self.assertTrue(same_bits(ffmpeg_decode(path, "uint16", channels, written.shape), written))

    def test_a_depth_the_format_cannot_hold_is_refused_by_name(self):
        for suffix, dtype, name in ((".exr", "uint16", "exr"), (".dpx", "float32", "dpx"),
                                    (".dpx", "float16", "dpx"), (".sgi", "float32", "sgi"),
                                    (".webp", "uint16", "webp"), (".bmp", "float16", "bmp")):
            with self.subTest(suffix=suffix, dtype=dtype):
                path = self.path("refused" + suffix)
                with self.assertRaises(orvo.Error) as caught:
                    orvo.imwrite(path, ramp(4, 4, 3, dtype))
                self.assertIn("The %s format cannot hold %s samples" % (name, dtype), str(caught.exception))
                self.assertFalse(os.path.exists(path))

    def test_convert_keeps_the_depth_each_still_format_holds(self):
        source = self.path("deep.png")
        written = ramp(16, 24, 3, "uint16")
        orvo.imwrite(source, written)
        for output, note in (("out.dpx", False), ("out.sgi", False), ("out.webp", True), ("out.exr", True)):
            with self.subTest(output=output):
                status, _, err = run_bounded([sys.executable, "-m", "orvo", "convert", source, self.path(output),
                                              "-q"], 300)
                self.assertEqual(status, 0, err)
                self.assertEqual(note, "uint16 samples are reduced to 8 bits" in err, err)
                if not note:
                    self.assertTrue(same_bits(ffmpeg_decode(self.path(output), "uint16", 3, written.shape),
                                              written))


@unittest.skipIf(numpy is None, NO_NUMPY)
@unittest.skipUnless(have_command("ffmpeg"), "the ffmpeg command is not installed")
class DeepConvertTest(ScratchTestCase):
    """`orvo convert` keeps the depth both ends hold, and says when it cannot."""
    needed_codecs = ("png", "tiff", "jpeg", "ffmpeg")

    def orvo(self, *arguments):
        status, out, err = run_bounded([sys.executable, "-m", "orvo"] + list(arguments), 300)
        self.assertEqual(status, 0, err)
        return out, err

    def test_ten_bit_video_to_png_to_tiff_loses_nothing(self):
        video, raw = self.path("in.mov"), self.path("in.raw")
        run_ffmpeg("-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10", "-frames:v", "2", "-c:v", "prores_ks",
                   "-pix_fmt", "yuv422p10le", video)
        run_ffmpeg("-i", video, "-f", "rawvideo", "-pix_fmt", "rgb48le", raw)
        expected = numpy.fromfile(raw, dtype="<u2").reshape(2, 48, 64, 3)
        self.orvo("convert", video, self.path("f.####.png"), "-q")
        self.orvo("convert", self.path("f.0001.png"), self.path("f.tif"), "-q")
        self.assertTrue(numpy.array_equal(cv2_read(self.path("f.0000.png")), expected[0]))
        self.assertTrue(numpy.array_equal(cv2_read(self.path("f.tif")), expected[1]))
        info = json.loads(self.orvo("info", self.path("f.tif"), "--json")[0])
        self.assertEqual(info["samples"], "uint16")
        self.assertIn("bit depth:    16 (uint16)", self.orvo("info", self.path("f.tif"))[0])

    def test_an_eight_bit_output_gets_a_note(self):
        path = self.path("deep.png")
        self.assertTrue(cv2.imwrite(path, ramp(8, 8, 3, "uint16")))
        _, err = self.orvo("convert", path, self.path("out.jpg"), "-q")
        self.assertIn("uint16 samples are reduced to 8 bits", err)


if __name__ == "__main__":
    unittest.main()
