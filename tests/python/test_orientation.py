"""Pictures and movies are read the right way up, as viewers and the ffmpeg
command show them, with `dims` the shown size; the reader option
"orientation stored" gives the rows as stored. Files are made at test time
by libtiff's tools, Pillow and the ffmpeg command."""
import re
import struct
import sys
import unittest

import orvo
from movie_testing import ScratchTestCase, open_movie
from orvo_testing import have_command, run_bounded

try:
    import numpy
except ImportError:
    numpy = None
try:
    from PIL import Image, ImageOps
except ImportError:
    Image = None


TIFFSET, TIFFCP, FFMPEG = (name if have_command(name) else None for name in ("tiffset", "tiffcp", "ffmpeg"))

# A 4 x 2 block picture, each block one colour: (block column, block row)
# from the top left. No two blocks share a colour, so every turn and
# mirror image of it is told apart by its block colours.
BLOCK_COLOURS = [[(250, 10, 10), (10, 250, 10), (10, 10, 250), (250, 250, 10)],
                 [(10, 250, 250), (250, 10, 250), (250, 250, 250), (10, 10, 10)]]
BLOCK = 8

# Where a viewer shows the stored picture's top-left, top-right and
# bottom-left corners, for each orientation code (TIFF and EXIF):
# TL top left, TR top right, BL bottom left, BR bottom right.
SHOWN_CORNERS = {
    1: ("TL", "TR", "BL"),  # as stored
    2: ("TR", "TL", "BR"),  # mirrored left to right
    3: ("BR", "BL", "TR"),  # half a turn
    4: ("BL", "BR", "TL"),  # upside down
    5: ("TL", "BL", "TR"),  # transposed
    6: ("TR", "BR", "TL"),  # shown a quarter turn clockwise
    7: ("BR", "TR", "BL"),  # transverse
    8: ("BL", "TL", "BR"),  # shown a quarter turn anticlockwise
}


def block_picture():
    """The block picture as an orvo RGB image (rows bottom first)."""
    width, height = 4 * BLOCK, 2 * BLOCK
    rows = []
    for y in range(height):
        row = bytearray()
        for x in range(width):
            row.extend(BLOCK_COLOURS[y // BLOCK][x // BLOCK])
        rows.append(bytes(row))
    return orvo.image(width, height, orvo.DYX_IMG_FMT_RGB, b"".join(reversed(rows)))


def pixel_at(image, x, y):
    """The RGB pixel at (x, y) counted from the top left."""
    width, height = image.dims
    data = bytearray(image.tostring())
    start = ((height - 1 - y) * width + x) * 3
    return tuple(data[start:start + 3])


def corner_pixel(image, corner):
    width, height = image.dims
    x = BLOCK // 2 if corner[1] == "L" else width - 1 - BLOCK // 2
    y = BLOCK // 2 if corner[0] == "T" else height - 1 - BLOCK // 2
    return pixel_at(image, x, y)


def near(a, b, tolerance):
    return all(abs(p - q) <= tolerance for p, q in zip(a, b))


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

    def tagged_tiff(self, name, orientation, options=""):
        """The block picture saved by orvo, its Orientation set by tiffset."""
        path = self.path(name)
        self.assertEqual(block_picture().save(path, options), 0)
        status, out, err = run_bounded([TIFFSET, "-s", "274", str(orientation), path])
        self.assertEqual(status, 0, err)
        return path

    def tagged_jpeg(self, name, orientation, big_endian=False):
        """The block picture saved by orvo, with an Exif orientation added."""
        plain = self.path("plain-" + name)
        self.assertEqual(block_picture().save(plain, "quality 100 subsampling 4:4:4"), 0)
        with open(plain, "rb") as source:
            data = source.read()
        path = self.path(name)
        with open(path, "wb") as target:
            target.write(with_app1(data, exif_block(orientation, big_endian)))
        return path

    def check_shown_corners(self, path, orientation, tolerance):
        shown = load(path)
        stored = load(path, "orientation stored")
        width, height = 4 * BLOCK, 2 * BLOCK
        self.assertEqual(stored.dims, [width, height])
        self.assertEqual(shown.dims, [height, width] if orientation >= 5 else [width, height])
        for stored_corner, shown_corner in zip(("TL", "TR", "BL"), SHOWN_CORNERS[orientation]):
            self.assertTrue(near(corner_pixel(stored, stored_corner), corner_pixel(shown, shown_corner),
                                 tolerance),
                            "orientation %d: stored %s should show at %s" % (orientation, stored_corner,
                                                                             shown_corner))


@unittest.skipIf(TIFFSET is None, "tiffset (Debian package libtiff-tools) is not installed")
class TiffOrientationTest(OrientationScratch):
    # Strips, palette pictures (libtiff's RGBA reader) and every layout
    # Pillow writes are compared with Pillow below; tiles are checked here.
    @unittest.skipIf(TIFFCP is None, "tiffcp (Debian package libtiff-tools) is not installed")
    def test_every_orientation_on_the_tile_path(self):
        for orientation in range(1, 9):
            path = self.tagged_tiff("strips-%d.tif" % orientation, orientation)
            tiled = self.path("tiled-%d.tif" % orientation)
            status, out, err = run_bounded([TIFFCP, "-t", "-w", "16", "-l", "16", path, tiled])
            self.assertEqual(status, 0, err)
            self.check_shown_corners(tiled, orientation, 0)

    def test_a_movie_of_the_file_has_the_shown_size_unless_stored_is_asked_for(self):
        path = self.tagged_tiff("turned.tif", 6)
        movie = open_movie(path)
        self.assertEqual(movie.dims, [2 * BLOCK, 4 * BLOCK])
        movie.close()
        movie = open_movie(path, options="orientation stored")
        self.assertEqual(movie.dims, [4 * BLOCK, 2 * BLOCK])
        self.assertEqual(movie.getframe(0)[0].tostring(), block_picture().tostring())
        movie.close()


class JpegOrientationTest(OrientationScratch):
    # Guards against the Exif orientation being ignored.
    def test_every_orientation_in_both_byte_orders(self):
        for big_endian in (False, True):
            for orientation in range(1, 9):
                path = self.tagged_jpeg("exif-%d-%d.jpg" % (big_endian, orientation), orientation, big_endian)
                self.check_shown_corners(path, orientation, 12)

    def test_damaged_or_odd_exif_blocks_read_as_stored(self):
        plain = self.path("plain.jpg")
        self.assertEqual(block_picture().save(plain, "quality 100"), 0)
        with open(plain, "rb") as source:
            data = source.read()
        good = exif_block(6)
        cases = [
            ("cut short", good[:12]),
            ("IFD past the end", good[:10] + struct.pack("<I", 0xFFFFFFF0) + good[14:]),
            ("entry count past the end", good[:14] + struct.pack("<HH", 0xFFFF, 0x0100) + good[18:]),
            ("value out of range", exif_block(9)),
            ("not Exif", b"XMP\0" + good[4:]),
            ("bad byte order", b"Exif\0\0XX" + good[8:]),
        ]
        for why, payload in cases:
            path = self.path("odd.jpg")
            with open(path, "wb") as target:
                target.write(with_app1(data, payload))
            image = load(path)
            self.assertEqual(image.dims, [4 * BLOCK, 2 * BLOCK], why)

    def test_a_sequence_with_stored_rows_matches_its_first_file(self):
        for frame in range(2):
            self.tagged_jpeg("seq.%04d.jpg" % frame, 8)
        movie = open_movie(self.path("seq.####.jpg"), options="orientation stored")
        self.assertEqual((movie.nframes, movie.dims), (2, [4 * BLOCK, 2 * BLOCK]))
        self.assertEqual(movie.getframe(1)[0].dims, [4 * BLOCK, 2 * BLOCK])
        movie.close()
        movie = open_movie(self.path("seq.####.jpg"))
        self.assertEqual(movie.getframe(1)[0].dims, [2 * BLOCK, 4 * BLOCK])
        movie.close()

    def test_an_unknown_reader_option_is_a_warning_and_the_picture_still_reads(self):
        path = self.tagged_jpeg("warned.jpg", 3)
        import warnings
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            image = load(path, "nosuchoption 1")
        self.assertIn("unknown option", str(caught[0].message))
        self.assertTrue(near(corner_pixel(image, "BR"), BLOCK_COLOURS[0][0], 12))


@unittest.skipIf(Image is None or numpy is None, "Pillow and NumPy are the reference here (Python 3 only)")
class PillowReferenceTest(ScratchTestCase):
    """Each orientation written by Pillow, shown by Pillow's exif_transpose."""
    needed_codecs = ("tiff", "jpeg")

    def source_picture(self, mode):
        if mode == "P":
            return self.source_picture("RGB").convert("P", palette=Image.ADAPTIVE, colors=16)
        shape = {"RGB": (12, 20, 3), "RGBA": (12, 20, 4), "L": (12, 20)}[mode]
        return Image.fromarray(numpy.random.RandomState(16).randint(0, 256, shape).astype(numpy.uint8), mode)

    def orvo_array(self, path, options=None):
        image = load(path, options)
        width, height = image.dims
        data = numpy.frombuffer(image.tostring(), numpy.uint8)
        return data.reshape(height, width, -1)[::-1]

    def pillow_array(self, picture):
        if picture.mode == "P":
            picture = picture.convert("RGB")
        array = numpy.asarray(picture)
        return array.reshape(array.shape[0], array.shape[1], -1)

    def compare(self, path, shown, stored, tolerance):
        for options, reference in ((None, shown), ("orientation stored", stored)):
            ours, theirs = self.orvo_array(path, options), self.pillow_array(reference)
            self.assertEqual(ours.shape, theirs.shape, "%s %s" % (path, options))
            difference = numpy.abs(ours.astype(int) - theirs.astype(int)).max()
            self.assertLessEqual(difference, tolerance, "%s %s" % (path, options))

    def test_tiff_in_every_layout(self):
        # Pillow itself turns a TIFF by its Orientation tag as it loads it.
        for mode in ("RGB", "RGBA", "L", "P"):
            for compression in ("raw", "tiff_lzw"):
                for orientation in range(1, 9):
                    path = self.path("pillow-%s-%s-%d.tif" % (mode, compression, orientation))
                    source = self.source_picture(mode)
                    source.save(path, compression=compression, tiffinfo={274: orientation})
                    with Image.open(path) as shown:
                        shown.load()
                        self.compare(path, shown, source, 0)

    def test_jpeg(self):
        for mode in ("RGB", "L"):
            for orientation in range(1, 9):
                path = self.path("pillow-%s-%d.jpg" % (mode, orientation))
                exif = Image.Exif()
                exif[0x0112] = orientation
                self.source_picture(mode).save(path, quality=95, exif=exif.tobytes())
                with Image.open(path) as stored:
                    self.compare(path, ImageOps.exif_transpose(stored), stored, 1)


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

    def test_quarter_and_half_turns_read_as_the_ffmpeg_command_shows_them(self):
        # Guards against rotated phone videos coming out sideways with the
        # stored size.
        for degrees in (90, 180, 270):
            path = self.rotated(degrees)
            movie = open_movie(path)
            self.assertFramesMatch(movie, self.reference_frames(path))
            movie.close()

    def test_stored_frames_on_request(self):
        path = self.rotated(90)
        movie = open_movie(path, options="orientation stored")
        self.assertFramesMatch(movie, self.reference_frames(path, ["-noautorotate"]))
        movie.close()
        image = orvo.image()
        self.assertEqual(image.load(path, 2, options="orientation stored"), 0)
        self.assertEqual(image.dims, [64, 48])

    def test_both_eyes_of_a_pair_get_the_reader_options(self):
        for eye in "lr":
            self.ffmpeg(["-i", self.plain, "-c", "copy", "-metadata:s:v:0", "rotate=90",
                         self.path("pair_%s.mp4" % eye)])
        for options, dims in (("", [48, 64]), ("orientation stored", [64, 48])):
            movie = open_movie(self.path("pair_@.mp4"), options=options)
            self.assertEqual((movie.stereo, movie.dims), (1, dims), options)
            left, right = movie.getframe(1)
            self.assertEqual((left.dims, right.dims), (dims, dims), options)
            movie.close()

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
        reference = self.reference_frames(path, ["-noautorotate"], "hflip")
        movie = open_movie(path)
        self.assertFramesMatch(movie, reference)
        movie.close()


if __name__ == "__main__":
    unittest.main()
