"""Values and names taken as written: new pictures are black, option values
that are not used as written give an orvo.OrvoWarning, and names reach the
library whole (str, bytes or unicode, no NUL cut)."""
import sys
import unittest
import warnings

import orvo
from movie_testing import ScratchTestCase, new_write_movie, open_movie, pattern_image
from orvo_testing import COMPONENTS, other_string_type, run_python

PY3 = sys.version_info[0] >= 3


def caught_warnings(call, *args):
    """(call's result, texts of the OrvoWarnings it gave)."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = call(*args)
    return result, [str(w.message) for w in caught if issubclass(w.category, orvo.OrvoWarning)]


class NewPicturesAreBlackTest(ScratchTestCase):
    needed_codecs = ("ppm",)

    # Guards against image(w, h) handing out heap memory that an earlier
    # picture (or anything else) left behind.
    def test_image_without_pixels_is_zero_filled(self):
        for size in ((16, 16), (50, 40), (3, 1)):
            for format in COMPONENTS:
                count = size[0] * size[1] * COMPONENTS[format]
                for _ in range(4):  # freed blocks of this size are handed out again
                    orvo.image(size[0], size[1], format, b"\xab" * count)
                for pixels in ((), (None,), (), (None,)):  # no pixels or None
                    fresh = orvo.image(size[0], size[1], format, *pixels)
                    self.assertEqual(fresh.tostring(), b"\0" * count, (size, format))

    def test_new_shapes_are_black(self):
        picture = orvo.image(0, 0)
        picture.dims = (5, 4)
        self.assertEqual(picture.tostring(), b"\0" * 60)
        picture.format = orvo.DYX_IMG_FMT_RGBA
        self.assertEqual(picture.tostring(), b"\0\0\0\xff" * 20)
        picture.resize(7, 3)
        self.assertEqual(picture.tostring(), b"\0\0\0\xff" * 21)

    # Guards against the part of a Multi-Tile frame no tile covers holding
    # old heap bytes.
    def test_frame_parts_without_a_tile_are_zero(self):
        tile = self.path("tile.ppm")
        self.assertEqual(orvo.image(4, 4, orvo.DYX_IMG_FMT_RGB, b"\x11" * 48).save(tile), 0)
        with open(self.path("gap.mtm"), "w") as out:
            out.write('MTM 1.0\nfullresolution 8 8\nnummovies 1\nmovie\n  imageoffset 0 0\n'
                      '  format ppm\n  file "%s"\n' % tile)
        movie = open_movie(self.path("gap.mtm"))
        for _ in range(4):
            orvo.image(8, 8, orvo.DYX_IMG_FMT_RGB, b"\xab" * 192)
        pixels = bytearray(movie.getframe(0)[0].tostring())
        self.assertEqual(sorted(set(pixels)), [0, 0x11])
        self.assertEqual(sum(1 for value in pixels if value == 0x11), 48)


class OptionWarningsTest(ScratchTestCase):
    needed_codecs = ("ppm", "png", "ffmpeg")

    def open_warnings(self, name, options):
        movie = new_write_movie(self.path(name), (16, 16), 1, options=options)
        result, texts = caught_warnings(movie.open)
        if result == 0:
            movie.close()
        return result, texts

    def test_values_not_taken_as_written_warn(self):
        cases = [
            ("w.png", "compression 6", []),
            ("w.png", "compression 99", ["warning: value 99 for option compression is outside the range 0 to 9, "
                                         "9 used"]),
            # Found inside "up": the item after it, as the substring rule says.
            ("w.png", "filter p", ["warning: argument p for option filter is not one of "
                                   "auto|none|sub|up|average|paeth|all, average used"]),
            ("w.png", "filter zigzag", ["warning: argument zigzag for option filter is invalid: not one of "
                                        "auto|none|sub|up|average|paeth|all"]),
            ("w.png", "colour 5", ["warning: unknown option: colour"]),
            ("c.mkv", "codec ffv1 crf 20", []),
            ("c.mkv", "crf 999", ["warning: value 999 for option crf is outside the range 0 to 51, 51 used"]),
            ("c.mkv", "codec 264", ["warning: argument 264 for option codec is not one of "
                                    "h264|mpeg4|mjpeg|ffv1|prores|hevc|vp9|av1, mpeg4 used"]),
        ]
        for name, options, expected in cases:
            if name.endswith(".png"):  # the same rules for a picture saved and a movie opened
                result = caught_warnings(lambda: pattern_image(4, 4, 1).save(self.path(name), options=options))
                self.assertEqual(result, (0, expected), options)
            self.assertEqual(self.open_warnings(name, options), (0, expected), options)
        self.assertTrue(issubclass(orvo.OrvoWarning, UserWarning))
        self.assertEqual(orvo.OrvoWarning.__module__, "orvo")

    def test_a_warning_made_an_error_fails_cleanly(self):
        picture = pattern_image(4, 4, 1)
        movie = new_write_movie(self.path("m.png"), (4, 4), 1, options="compression 12")
        with warnings.catch_warnings():
            warnings.simplefilter("error", orvo.OrvoWarning)
            self.assertRaises(orvo.OrvoWarning, picture.save, self.path("s.png"), "filter zigzag")
            self.assertRaises(orvo.OrvoWarning, movie.open)
            self.assertEqual(picture.save(self.path("fine.png"), "filter up"), 0)
        self.assertEqual(self.files(), ["fine.png"])  # nothing half-made
        self.assertIn("Writeonly: closed", repr(movie))
        result, texts = caught_warnings(movie.open)  # without the filter it opens
        self.assertEqual((result, len(texts)), (0, 1))
        self.assertEqual(movie.append(picture), 0)
        self.assertEqual(movie.close(), 0)
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("ignore", orvo.OrvoWarning)
            self.assertEqual(picture.save(self.path("q.png"), "compression 99"), 0)
        self.assertEqual(caught, [])

    def test_default_filter_prints_through_the_warnings_module(self):
        code = ("import orvo\nm = orvo.movie(orvo.MOVIE_WRITE)\nm.filename = %r\nm.dims = (4, 4)\n"
                "m.options = 'compression abc'\nm.addcount(1)\nprint(m.open())\nm.close()\n"
                % self.path("opt.png"))
        status, out, err = run_python(code)
        self.assertEqual((status, out.strip()), (0, "0"), err)
        self.assertIn("OrvoWarning: warning: value abc for option compression is not a number, 0 used", err)


class NamesTest(ScratchTestCase):
    needed_codecs = ("ppm",)

    # Guards against a NUL silently cutting a name or a movie's texts.
    def test_nul_in_names_and_texts_is_refused(self):
        movie = orvo.movie(orvo.MOVIE_WRITE)
        movie.filename = self.path("keep.ppm")
        movie.options = "format ppm"
        for attribute, value in (("filename", "a.ppm\0.png"), ("format", "ppm\0x"),
                                 ("options", "format pam\0bits 16")):
            before = getattr(movie, attribute)
            self.assertRaises(ValueError, setattr, movie, attribute, value)
            self.assertRaises(ValueError, setattr, movie, attribute, other_string_type(value))
            self.assertEqual(getattr(movie, attribute), before, attribute)
        reader = orvo.movie(orvo.MOVIE_READ)
        self.assertRaises(ValueError, setattr, reader, "filename", "a\0b")
        picture = orvo.image(2, 2)
        self.assertRaises(ValueError, picture.save, self.path("a.ppm\0.png"))
        self.assertRaises(ValueError, picture.save, self.path("a.ppm"), "format\0pam")
        self.assertRaises(ValueError, picture.load, self.path("a.ppm\0.png"))
        self.assertEqual(self.files(), [])

    def test_the_other_string_type_is_accepted(self):
        name = self.path("caf\xc3\xa9.ppm" if not PY3 else u"caf\u00e9.ppm")
        other_name = other_string_type(name)
        picture = pattern_image(3, 2, 5)
        self.assertEqual(picture.save(other_name, other_string_type("format ppm")), 0)
        copy = orvo.image(1, 1)
        self.assertEqual(copy.load(other_name), 0)
        self.assertEqual(copy.tostring(), picture.tostring())
        self.assertEqual(len(self.files()), 1)

        movie = orvo.movie(orvo.MOVIE_WRITE)
        movie.filename = other_name
        movie.format = other_string_type("ppm")
        movie.options = other_string_type("bits 8")
        self.assertEqual((movie.filename, movie.format, movie.options), (name, "ppm", "bits 8"))
        self.assertRaises(TypeError, setattr, movie, "options", 5)
        self.assertRaises(TypeError, picture.save, 5)

    @unittest.skipUnless(sys.version_info >= (3, 6), "os.PathLike names need Python 3.6")
    def test_path_objects_are_accepted(self):
        import pathlib
        path = pathlib.Path(self.path("p.ppm"))
        picture = pattern_image(3, 2, 5)
        self.assertEqual(picture.save(path), 0)
        self.assertEqual(orvo.image(1, 1).load(path), 0)
        movie = orvo.movie()
        movie.filename = path
        self.assertEqual(movie.filename, str(path))
        self.assertEqual(orvo.istemplate(pathlib.Path("shot.####.png")), orvo.istemplate("shot.####.png"))
        self.assertEqual(orvo.extend(pathlib.Path("a.##.png"), 5, 1, 3), orvo.extend("a.##.png", 5, 1, 3))
        self.assertEqual(orvo.indexof(pathlib.Path("a.##.png"), pathlib.Path("a.07.png"), 0, -1), 7)


if __name__ == "__main__":
    unittest.main()
