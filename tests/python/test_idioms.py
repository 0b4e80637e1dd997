"""One-call reading and writing with exceptions, help() and signatures,
and pictures for notebooks (orvo.imread, imwrite, imiter, open, Error,
_repr_png_)."""
import errno
import inspect
import io
import os
import pydoc
import sys
import unittest

import orvo
from movie_testing import ScratchTestCase, pattern_image, pixels, write_movie

PYTHON3 = sys.version_info[0] >= 3

try:
    import numpy
except ImportError:
    numpy = None

try:
    from PIL import Image
except ImportError:
    Image = None

if PYTHON3:
    import pathlib
else:
    pathlib = None


def decoded_png(data):
    """(size, mode, RGB bytes) of PNG file bytes, through Pillow."""
    picture = Image.open(io.BytesIO(data))
    return picture.size, picture.mode, picture.convert("RGB").tobytes()


class ExceptionsTest(ScratchTestCase):
    """Failures raise orvo.Error (an OSError) with the errstr() text."""

    def setUp(self):
        ScratchTestCase.setUp(self)
        self.png = self.path("picture.png")
        self.assertEqual(pattern_image(8, 6, 1).save(self.png), 0)

    def assert_error(self, call, kind, text, code=None):
        try:
            call()
        except kind as error:
            self.assertIsInstance(error, orvo.Error)
            self.assertIsInstance(error, OSError if PYTHON3 else EnvironmentError)
            self.assertIn(text, str(error))
            self.assertEqual(error.errno, code)
            self.assertTrue(error.status < 0)
            return error
        self.fail("no %s raised" % kind.__name__)

    def test_failures_raise_with_the_reason(self):
        missing, damaged, unknown = self.path("missing.png"), self.path("damaged.png"), self.path("x.unknownsuffix")
        with open(self.png, "rb") as source:
            head = source.read(40)
        with open(damaged, "wb") as target:
            target.write(head)  # the signature and part of the header
        with open(unknown, "wb") as target:
            target.write(b"data")
        picture = pattern_image(8, 6, 2)
        unknown_format = "File extension indicates unknown file format"
        cases = [
            (lambda: orvo.imread(missing), "Unable to open the file.", errno.ENOENT),
            (lambda: orvo.imiter(missing), "", errno.ENOENT),
            (lambda: orvo.open(missing), "", errno.ENOENT),
            (lambda: orvo.open(self.path("missing_##.png")), "", errno.ENOENT),
            (lambda: orvo.imread(damaged), "Unable to", None),
            (lambda: orvo.imread(unknown), unknown_format, None),
            (lambda: orvo.imread(self.png, 5), "Invalid frame number.", None),
            # A parent that is a file, and one that does not exist.
            (lambda: orvo.imwrite(os.path.join(self.png, "x.png"), picture), "Unable to", errno.ENOTDIR),
            (lambda: orvo.imwrite(self.path("no/such/dir/x.png"), picture), "Unable to", errno.ENOENT),
            (lambda: orvo.imwrite(self.path("x.unknownsuffix.out"), picture), unknown_format, None),
        ]
        for number, (call, text, code) in enumerate(cases):
            error = self.assert_error(call, orvo.Error, text, code)
            # Only a file or directory that is not there is "not found".
            self.assertEqual(isinstance(error, orvo.NotFoundError), code == errno.ENOENT, number)
            if PYTHON3:
                self.assertEqual(isinstance(error, FileNotFoundError), code == errno.ENOENT, number)
        self.assertEqual(self.assert_error(cases[0][0], orvo.Error, "", errno.ENOENT).filename, missing)
        self.assertEqual(self.files(), ["damaged.png", "picture.png", "x.unknownsuffix"])  # nothing left behind

    def test_open_checks_its_arguments(self):
        self.assertRaises(ValueError, orvo.open, self.png, "a")
        orvo.open(self.path("out.png"), "w").close()  # no size, no frame: nothing is written
        self.assertFalse(os.path.exists(self.path("out.png")))
        self.assertRaises(TypeError, orvo.open, self.png, "r", colour=1)
        self.assertRaises(AttributeError, orvo.open, self.path("out_##.png"), "w", dims=(8, 6), nframes=2,
                          format="nosuch")
        self.assertRaises(AttributeError, orvo.open, self.png, "r", fps=10)  # a write attribute


class ReadWriteTest(ScratchTestCase):
    @unittest.skipIf(numpy is None, "NumPy is not installed")
    def test_arrays_round_trip_top_row_first(self):
        for shape in [(3, 5), (3, 5, 2), (7, 4, 3), (2, 9, 4)]:
            array = (numpy.arange(int(numpy.prod(shape))) * 7 % 251).astype(numpy.uint8).reshape(shape)
            png = self.path("a%d.png" % len(shape))
            orvo.imwrite(png, array)
            read = orvo.imread(png)
            self.assertEqual(read.shape, array.shape)
            self.assertTrue((read == array).all(), shape)
            if Image is not None:
                self.assertTrue((numpy.asarray(Image.open(png)) == array).all(), shape)

    def test_with_open_writes_and_reads_a_sequence_by_any_name(self):
        # pathlib names (Python 3) go everywhere a str does.
        name = (lambda leaf: pathlib.Path(self.dir) / leaf) if PYTHON3 else self.path
        sequence = name("frames_##.png")
        with orvo.open(sequence, "w", dims=[8, 6], nframes=3, fps=12) as movie:
            self.assertEqual(movie.fps, 12.0)
            for seed in range(3):
                self.assertEqual(movie.append(pattern_image(8, 6, seed)), 0)
        self.assertEqual(movie.close(), 0)  # closed by the block; closing again does nothing
        with orvo.open(sequence, framerange=(1, 2)) as movie:
            self.assertEqual(len(movie), 2)
            self.assertEqual(pixels(movie[0][0]), pixels(pattern_image(8, 6, 1)))
        self.assertEqual(len(list(orvo.imiter(sequence))), 3)
        orvo.imwrite(name("p.png"), pattern_image(4, 4, 1))
        read = orvo.imread(name("p.png"))
        self.assertEqual(pixels(orvo.image.fromarray(read) if numpy is not None else read),
                         pixels(pattern_image(4, 4, 1)))

    def test_imiter_reads_each_frame_when_asked(self):
        sequence = self.path("lazy_##.png")
        write_movie(sequence, [pattern_image(8, 6, seed) for seed in range(3)])
        frames = orvo.imiter(sequence)
        first = next(frames)
        # A frame damaged after the start is found only when it is reached.
        with open(self.path("lazy_02.png"), "wb") as target:
            target.write(b"\x89PNG\r\n\x1a\n")
        next(frames)
        self.assertRaises(orvo.Error, next, frames)
        expected = pattern_image(8, 6, 0)
        if numpy is not None:
            expected = expected.toarray()
            self.assertTrue((first == expected).all())
        else:
            self.assertEqual(pixels(first), pixels(expected))


class HelpAndSignaturesTest(unittest.TestCase):
    def test_help_lists_every_attribute_with_its_doc(self):
        for kind in (orvo.image, orvo.movie):
            text = pydoc.plain(pydoc.render_doc(kind))
            for name in kind().__members__:
                self.assertIn(name, text)
                descriptor = kind.__dict__[name]
                self.assertTrue(descriptor.__doc__ and descriptor.__doc__ in text, (kind, name))

    @unittest.skipIf(not PYTHON3, "Python 2.7 has no text signatures")
    def test_every_function_and_method_has_a_signature(self):
        callables = [getattr(orvo, name) for name in dir(orvo) if callable(getattr(orvo, name))
                     and not isinstance(getattr(orvo, name), type)]
        for kind in (orvo.image, orvo.movie, orvo.uuid):
            callables.append(kind)
            callables.extend(getattr(kind, name) for name in dir(kind)
                             if not name.startswith("__") and callable(getattr(kind, name)))
            callables.extend(getattr(kind, name) for name in ("__enter__", "__exit__", "__reduce__")
                             if hasattr(kind, name))
        for function in callables:
            inspect.signature(function)  # raises ValueError without one
        self.assertEqual(str(inspect.signature(orvo.image.load)),
                         "(self, /, filename, frame=0, options='', format=None)")
        self.assertEqual(str(inspect.signature(orvo.extend)), "(template, frame, first, last, /)")
        self.assertIn("format=8", str(inspect.signature(orvo.image)))
        self.assertEqual(orvo.image.load.__doc__, "Load image from disk")


@unittest.skipIf(Image is None, "Pillow is not installed")
class NotebookPicturesTest(ScratchTestCase):
    def test_image_png_decodes_to_the_picture(self):
        for format, mode in [(orvo.DYX_IMG_FMT_RGB, "RGB"), (orvo.DYX_IMG_FMT_RGBA, "RGBA"),
                             (orvo.DYX_IMG_FMT_L, "L")]:
            picture = pattern_image(7, 5, 3, format)
            size, decoded_mode, _ = decoded_png(picture._repr_png_())
            self.assertEqual((size, decoded_mode), ((7, 5), mode))
        picture = pattern_image(7, 5, 3)
        top_down = picture.ppm()[-7 * 5 * 3:]
        self.assertEqual(decoded_png(picture._repr_png_())[2], top_down)
        self.assertEqual(picture.errstr(), "")

    def test_movie_contact_sheet_is_small(self):
        sequence = self.path("sheet_###.png")
        frames = [pattern_image(400, 100, seed) for seed in range(20)]
        movie = write_movie(sequence, frames)
        self.assertIsNone(movie._repr_png_())  # a closed write movie
        with orvo.open(sequence) as movie:
            size, mode, data = decoded_png(movie._repr_png_())
        # Eight thumbnails of 160 x 40 in two rows of four, 4 pixels apart.
        self.assertEqual(size, (4 * 164 - 4, 2 * 44 - 4))
        self.assertEqual(mode, "RGB")
        self.assertIsNone(movie._repr_png_())  # closed again
        orvo.imwrite(self.path("one.png"), pattern_image(30, 60, 1))
        with orvo.open(self.path("one.png")) as movie:
            self.assertEqual(decoded_png(movie._repr_png_())[0], (30, 60))  # small frames are not enlarged


if __name__ == "__main__":
    unittest.main()
