"""Pictures and movies are read the right way up, as viewers and the ffmpeg
command show them, with `dims` the shown size; the reader option
"orientation stored" gives the rows as stored. Files are made at test time
by Pillow, libtiff's tiffcp and the ffmpeg command."""
import re
import shutil
import struct
import sys
import unittest
import warnings

import orvo
from movie_testing import ScratchTestCase, open_movie, pattern_image
from orvo_testing import have_command, run_bounded

try:
    import numpy
except ImportError:
    numpy = None
try:
    from PIL import Image, ImageOps
except ImportError:
    Image = None


TIFFCP, FFMPEG = (name if have_command(name) else None for name in ("tiffcp", "ffmpeg"))
WIDTH, HEIGHT = 20, 12  # as stored


def exif_block(orientation, big_endian=False):
    """An APP1 Exif payload whose IFD0 holds only the Orientation."""
    order = ">" if big_endian else "<"
    tiff = (b"MM" if big_endian else b"II") + struct.pack(order + "HI", 42, 8)
    tiff += struct.pack(order + "H", 1) + struct.pack(order + "HHIHH", 0x0112, 3, 1, orientation, 0)
    tiff += struct.pack(order + "I", 0)
    return b"Exif\0\0" + tiff


def with_app1(jpeg, payload):
    """The JPEG bytes with an APP1 marker holding `payload` after SOI."""
    return jpeg[:2] + b"\xff\xe1" + struct.pack(">H", len(payload) + 2) + payload + jpeg[2:]


def load(path, options=None):
    image = orvo.image()
    status = image.load(path, 0) if options is None else image.load(path, 0, options)
    if status != 0:
        raise AssertionError("load %s: %d %s" % (path, status, image.errstr()))
    return image


class OrientationScratch(ScratchTestCase):
    needed_codecs = ("tiff", "jpeg")

    def tagged_jpeg(self, name, orientation, big_endian=False, jpeg=None):
        """A JPEG (by default one orvo saves) with an Exif orientation added."""
        if jpeg is None:
            self.assertEqual(pattern_image(WIDTH, HEIGHT, 1).save(self.path("plain.jpg"), "quality 100"), 0)
            with open(self.path("plain.jpg"), "rb") as source:
                jpeg = source.read()
        with open(self.path(name), "wb") as target:
            target.write(with_app1(jpeg, exif_block(orientation, big_endian)))
        return self.path(name)


class ExifTest(OrientationScratch):
    def test_damaged_or_odd_exif_blocks_read_as_stored(self):
        good = exif_block(6)
        cases = [
            ("cut short", good[:12]),
            ("IFD past the end", good[:10] + struct.pack("<I", 0xFFFFFFF0) + good[14:]),
            ("entry count past the end", good[:14] + struct.pack("<HH", 0xFFFF, 0x0100) + good[18:]),
            ("value out of range", exif_block(9)),
            ("not Exif", b"XMP\0" + good[4:]),
            ("bad byte order", b"Exif\0\0XX" + good[8:]),
        ]
        # The good block turns; an unknown reader option is a warning and
        # does not stop the picture being read, turned.
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            self.assertEqual(load(self.tagged_jpeg("turned.jpg", 6), "nosuchoption 1").dims, [HEIGHT, WIDTH])
        self.assertIn("unknown option", str(caught[0].message))
        with open(self.path("plain.jpg"), "rb") as source:
            plain = source.read()
        for why, payload in cases:
            with open(self.path("odd.jpg"), "wb") as target:
                target.write(with_app1(plain, payload))
            self.assertEqual(load(self.path("odd.jpg")).dims, [WIDTH, HEIGHT], why)

    def test_a_sequence_with_stored_rows_matches_its_first_file(self):
        for frame in range(2):
            self.tagged_jpeg("seq.%04d.jpg" % frame, 8)
        for options, dims in (("orientation stored", [WIDTH, HEIGHT]), ("", [HEIGHT, WIDTH])):
            with open_movie(self.path("seq.####.jpg"), options=options) as movie:
                self.assertEqual((movie.nframes, movie.dims, movie.getframe(1)[0].dims), (2, dims, dims), options)


@unittest.skipIf(Image is None or numpy is None, "Pillow and NumPy are the reference here (Python 3 only)")
class PillowReferenceTest(OrientationScratch):
    """Every orientation of TIFF and JPEG files, against the stored picture
    turned by Pillow's exif_transpose."""

    def source_picture(self, mode):
        if mode == "P":
            return self.source_picture("RGB").convert("P", palette=Image.ADAPTIVE, colors=16)
        shape = {"RGB": (HEIGHT, WIDTH, 3), "RGBA": (HEIGHT, WIDTH, 4), "L": (HEIGHT, WIDTH)}[mode]
        return Image.fromarray(numpy.random.RandomState(16).randint(0, 256, shape).astype(numpy.uint8), mode)

    def compare(self, path, stored, orientation, tolerance):
        """orvo's shown and stored reads of `path` against the stored Pillow
        picture, turned as a viewer shows it and as it is."""
        turned = stored.copy()
        turned.getexif()[0x0112] = orientation
        for options, reference in ((None, ImageOps.exif_transpose(turned)), ("orientation stored", stored)):
            image = load(path, options)
            ours = numpy.frombuffer(image.tostring(), numpy.uint8).reshape(image.dims[1], image.dims[0], -1)[::-1]
            theirs = numpy.asarray(reference.convert("RGB") if reference.mode == "P" else reference)
            theirs = theirs.reshape(theirs.shape[0], theirs.shape[1], -1)
            self.assertEqual(ours.shape, theirs.shape, "%s %s" % (path, options))
            difference = numpy.abs(ours.astype(int) - theirs.astype(int)).max()
            self.assertLessEqual(difference, tolerance, "%s %s" % (path, options))

    def test_tiff_in_every_layout(self):
        for mode in ("RGB", "RGBA", "L", "P"):
            for compression in ("raw", "tiff_lzw"):
                for orientation in range(1, 9):
                    path = self.path("pillow-%s-%s-%d.tif" % (mode, compression, orientation))
                    source = self.source_picture(mode)
                    source.save(path, compression=compression, tiffinfo={274: orientation})
                    self.compare(path, source, orientation, 0)
        # A movie of a turned file has the shown size, unless stored is asked for.
        for options, dims in (("", [HEIGHT, WIDTH]), ("orientation stored", [WIDTH, HEIGHT])):
            with open_movie(path, options=options) as movie:
                self.assertEqual((movie.dims, movie.getframe(0)[0].dims), (dims, dims), options)

    @unittest.skipIf(TIFFCP is None, "tiffcp (Debian package libtiff-tools) is not installed")
    def test_tiled_tiff(self):
        for orientation in range(1, 9):
            strips, tiled = self.path("strips-%d.tif" % orientation), self.path("tiled-%d.tif" % orientation)
            self.source_picture("RGB").save(strips, tiffinfo={274: orientation})
            status, out, err = run_bounded([TIFFCP, "-t", "-w", "16", "-l", "16", strips, tiled])
            self.assertEqual(status, 0, err)
            self.compare(tiled, self.source_picture("RGB"), orientation, 0)

    def test_jpeg_in_both_byte_orders(self):
        for mode in ("RGB", "L"):
            self.source_picture(mode).save(self.path("plain.jpg"), quality=95)
            with open(self.path("plain.jpg"), "rb") as source:
                plain = source.read()
            with Image.open(self.path("plain.jpg")) as stored:
                stored.load()
            for big_endian in (False, True):
                for orientation in range(1, 9):
                    name = "exif-%s-%d-%d.jpg" % (mode, big_endian, orientation)
                    self.compare(self.tagged_jpeg(name, orientation, big_endian, plain), stored, orientation, 1)


@unittest.skipIf(FFMPEG is None or numpy is None or sys.version_info[0] < 3,
                 "the ffmpeg command and NumPy are the reference here (Python 3 only)")
class RotatedMovieTest(ScratchTestCase):
    """Movies whose display matrix turns them, against the ffmpeg command's
    own (autorotated) decode of the same file."""
    needed_codecs = ("ffmpeg",)

    def setUp(self):
        ScratchTestCase.setUp(self)
        self.plain = self.path("plain.mp4")
        self.ffmpeg(["-f", "lavfi", "-i", "testsrc=size=64x48:rate=5", "-frames:v", "4", "-c:v", "mpeg4",
                     "-q:v", "2", self.plain])

    def ffmpeg(self, arguments):
        status, out, err = run_bounded([FFMPEG, "-v", "error", "-y"] + arguments, 120)
        self.assertEqual(status, 0, err)

    def rotated(self, degrees):
        path = self.path("rotated-%d.mp4" % degrees)
        self.ffmpeg(["-i", self.plain, "-c", "copy", "-metadata:s:v:0", "rotate=%d" % degrees, path])
        return path

    def reference_frames(self, path, input_arguments=(), filters=None):
        """Every frame as the ffmpeg command decodes it: PPM pictures, whose
        headers give the size it shows them in."""
        frames = self.path("reference.ppm")
        output = ["-vf", filters] if filters else []
        self.ffmpeg(list(input_arguments) + ["-i", path] + output +
                    ["-f", "image2pipe", "-c:v", "ppm", frames])
        with open(frames, "rb") as source:
            data = source.read()
        pictures = []
        while data:
            header = re.match(b"P6\\s(\\d+)\\s(\\d+)\\s255\\s", data)
            self.assertTrue(header, "not a PPM picture")
            width, height, rest = int(header.group(1)), int(header.group(2)), data[header.end():]
            size = width * height * 3
            pictures.append(numpy.frombuffer(rest[:size], numpy.uint8).reshape(height, width, 3))
            data = rest[size:]
        return numpy.array(pictures)

    def assertFramesMatch(self, movie, reference):
        self.assertEqual(movie.nframes, len(reference))
        self.assertEqual(movie.dims, [reference.shape[2], reference.shape[1]])
        for frame in range(movie.nframes):
            ours = movie.getarray(frame).astype(int)
            self.assertEqual(ours.shape, reference[frame].shape)
            # The colour conversions differ by rounding; a wrong turn
            # differs everywhere.
            self.assertLess(numpy.abs(ours - reference[frame]).mean(), 3.0, "frame %d" % frame)

    def test_turns_read_as_the_ffmpeg_command_shows_them_or_as_stored(self):
        # Guards against rotated phone videos coming out sideways with the
        # stored size.
        for degrees in (90, 180, 270):
            path = self.rotated(degrees)
            for options, input_arguments in (("", []), ("orientation stored", ["-noautorotate"])):
                with open_movie(path, options=options) as movie:
                    self.assertFramesMatch(movie, self.reference_frames(path, input_arguments))
        image = orvo.image()
        self.assertEqual(image.load(path, 2, options="orientation stored"), 0)
        self.assertEqual(image.dims, [64, 48])

    def test_both_eyes_of_a_pair_get_the_reader_options(self):
        for eye in "lr":
            shutil.copy(self.rotated(90), self.path("pair_%s.mp4" % eye))
        for options, dims in (("", [48, 64]), ("orientation stored", [64, 48])):
            with open_movie(self.path("pair_@.mp4"), options=options) as movie:
                self.assertEqual((movie.stereo, movie.dims, [eye.dims for eye in movie.getframe(1)]),
                                 (1, dims, [dims, dims]), options)

    def test_a_mirrored_matrix_is_shown_mirrored(self):
        # This ffmpeg command ignores mirroring, so the reference is its
        # stored decode mirrored by its own hflip filter. The matrix is
        # patched into the track header: -1 0 0 / 0 1 0 / 0 0 1.
        with open(self.plain, "rb") as source:
            data = bytearray(source.read())
        at = data.find(b"tkhd")
        self.assertGreater(at, 0)
        version = data[at + 4]
        matrix = at + 8 + (32 if version == 1 else 20) + 16
        self.assertEqual(struct.unpack(">9i", bytes(data[matrix:matrix + 36])),
                         (65536, 0, 0, 0, 65536, 0, 0, 0, 1 << 30))
        data[matrix:matrix + 4] = struct.pack(">i", -65536)
        path = self.path("mirrored.mp4")
        with open(path, "wb") as target:
            target.write(bytes(data))
        with open_movie(path) as movie:
            self.assertFramesMatch(movie, self.reference_frames(path, ["-noautorotate"], "hflip"))


if __name__ == "__main__":
    unittest.main()
