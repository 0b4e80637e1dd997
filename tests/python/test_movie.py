"""orvo.movie: construction, attributes and their setter rules, the text
form, open(), close() and errstr()."""
import os
import unittest

import orvo
from movie_testing import ScratchTestCase, open_movie, pattern_image, write_movie
from orvo_testing import run_python

MEMBERS = ["filename", "stereo", "fps", "dims", "tiling", "format", "framerange", "options",
           "intensity", "repeat", "nframes", "anaglyph", "flip", "realframes"]
METHODS = ["open", "close", "append", "getframe", "addcount", "resetcount", "errstr"]


class ConstructionTest(unittest.TestCase):
    def test_modes_and_defaults(self):
        reader = orvo.movie()
        self.assertEqual(orvo.movie(orvo.MOVIE_READ).realframes, 0)
        self.assertEqual((reader.filename, reader.stereo, reader.fps, reader.dims),
                         ("", 0, -1.0, [0, 0]))
        self.assertEqual((reader.tiling, reader.framerange, reader.repeat, reader.intensity),
                         ([1, 1], [-1, -1], [0, 0], [1.0, 1.0]))
        self.assertEqual((reader.nframes, reader.realframes, reader.anaglyph, reader.flip), (0, 0, 0, 0))
        self.assertIn("Readonly: closed", repr(reader))
        self.assertIn("Writeonly: closed", repr(orvo.movie(7)))

    def test_bad_constructor_arguments(self):
        self.assertRaises(TypeError, orvo.movie, 1, 2)
        self.assertRaises(TypeError, orvo.movie, "write")
        self.assertIn("Readonly", repr(orvo.movie(unused=1)))  # keywords are ignored

    def test_type_doc_members_and_methods(self):
        self.assertEqual(orvo.movie.__doc__, "Movie objects")
        movie = orvo.movie()
        self.assertEqual(movie.__members__, MEMBERS)
        self.assertEqual(movie.__methods__, METHODS)
        self.assertEqual(movie.open.__doc__, "Open file to read or write")
        self.assertEqual(movie.resetcount.__doc__, "Reset the number of frames added to a movie")
        self.assertRaises(AttributeError, getattr, movie, "nosuchthing")

    def test_text_form_of_a_write_movie(self):
        movie = orvo.movie(orvo.MOVIE_WRITE)
        lines = repr(movie).split("\n")
        self.assertTrue(lines[0].startswith("Orvo Movie object <"))
        self.assertEqual(lines[1:], ["Filename:", "Stereo:0", "FPS:-1.000000", "Dimensions:0 0",
                                     "Framerange:-1 -1", "Real frames:0", "Writeonly: closed",
                                     "Pending frames:0", "Anaglyph:none", "Format:", "Options:",
                                     "Tiling:1 1", ""])
        movie.stereo = 1
        movie.anaglyph = orvo.MOVIE_ANAGLYPH_CYANRED
        self.assertIn("\nAnaglyph:cyan/red\n", repr(movie))

    def test_text_form_of_a_read_movie_ends_without_newline(self):
        movie = orvo.movie()
        movie.intensity = (0.5, 0.25)
        text = repr(movie)
        self.assertIn("\nIntensity:0.500000 0.250000\nRepeat:0 0\nFlip:0", text)
        self.assertTrue(text.endswith("Flip:0"))


class SetterTest(unittest.TestCase):
    def test_write_attribute_rules(self):
        movie = orvo.movie(orvo.MOVIE_WRITE)
        movie.stereo = 5
        self.assertEqual(movie.stereo, 1)
        movie.anaglyph = 3
        movie.anaglyph = 9  # ignored without error
        self.assertEqual(movie.anaglyph, 3)
        movie.fps = 0.001
        self.assertEqual(movie.fps, -1.0)
        movie.fps = 100
        self.assertEqual(movie.fps, 60.0)
        movie.fps = 24.0
        self.assertEqual(movie.fps, 24.0)
        movie.dims = (-5, 480)
        self.assertEqual(movie.dims, [0, 480])
        movie.options = "x" * 2000
        self.assertEqual(len(movie.options), 1023)
        movie.format = "png"
        self.assertEqual(movie.format, "png")

    def test_tiling_follows_the_dimensions(self):
        movie = orvo.movie(orvo.MOVIE_WRITE)
        movie.dims = (1920, 1080)
        movie.tiling = (3, 2)
        self.assertEqual(movie.tiling, [3, 2])
        movie.tiling = (7, 2)
        self.assertEqual(movie.tiling, [1, 2])
        movie.tiling = (0, -4)
        self.assertEqual(movie.tiling, [1, 1])
        movie.dims = (0, 0)
        movie.tiling = (3, 4)
        movie.dims = (1000, 600)
        self.assertEqual(movie.tiling, [1, 4])

    def test_read_attribute_rules_on_a_closed_movie(self):
        movie = orvo.movie()
        movie.framerange = (-3, -1)
        self.assertEqual(movie.framerange, [0, 0])
        movie.framerange = (4, 2)
        self.assertEqual(movie.framerange, [4, 4])
        movie.intensity = (-1.0, 2.5)
        self.assertEqual(movie.intensity, [0.0, 1.0])
        movie.flip = 7
        self.assertEqual(movie.flip, 3)
        movie.repeat = (-2, 3)
        self.assertEqual(movie.repeat, [0, 3])

    def test_setter_errors(self):
        reader, writer = orvo.movie(), orvo.movie(orvo.MOVIE_WRITE)
        for name, value in (("stereo", 1), ("anaglyph", 1), ("fps", 25.0), ("dims", (2, 2)),
                            ("tiling", (1, 1)), ("format", "png")):
            with self.assertRaises(AttributeError) as caught:
                setattr(reader, name, value)
            self.assertEqual(str(caught.exception), "set only for write movies")
        reader.options = "orientation stored"  # reader options
        self.assertEqual(reader.options, "orientation stored")
        self.assertEqual(reader.errstr(), "")  # the error string is left alone
        for name, value in (("framerange", (1, 2)), ("intensity", (1.0, 1.0)), ("flip", 1),
                            ("repeat", (1, 1))):
            with self.assertRaises(AttributeError) as caught:
                setattr(writer, name, value)
            self.assertEqual(str(caught.exception), "set only for read movies")
        for name in ("nframes", "realframes"):
            with self.assertRaises(AttributeError) as caught:
                setattr(writer, name, 3)
            self.assertEqual(str(caught.exception), "read-only attribute")
        with self.assertRaises(AttributeError) as caught:
            writer.format = "PNG"  # names are matched exactly
        self.assertEqual(str(caught.exception), "unknown format")
        self.assertEqual(writer.format, "")
        with self.assertRaises(AttributeError) as caught:
            writer.colour = 1
        self.assertEqual(str(caught.exception), "colour")
        with self.assertRaises(AttributeError):
            del writer.filename

    def test_wrong_value_types(self):
        writer = orvo.movie(orvo.MOVIE_WRITE)
        self.assertRaises(TypeError, setattr, writer, "dims", [640, 480])  # a list is not a tuple
        self.assertRaises(TypeError, setattr, writer, "dims", (640,))
        self.assertRaises(TypeError, setattr, writer, "filename", 5)
        self.assertRaises(TypeError, setattr, writer, "stereo", "yes")
        self.assertRaises(ValueError, setattr, writer, "filename", "f" * 1024)
        writer.filename = "f" * 1023
        self.assertEqual(len(writer.filename), 1023)


class OpenCloseTest(ScratchTestCase):
    def test_read_open_failures(self):
        movie = orvo.movie()
        self.assertEqual(movie.open(), -1)
        self.assertEqual(movie.errstr(), "a filename must be specified")
        self.assertEqual(movie.errstr(), "")
        movie.filename = self.path("clip.unknownsuffix")
        self.assertEqual(movie.open(), -1)
        self.assertEqual(movie.errstr(), "Unsupported movie file format")
        movie.filename = self.path("missing.png")
        self.assertEqual(movie.open(), -1)
        self.assertEqual(movie.errstr().partition(": ")[:2], ("Unable to open movie file", ": "))  # with the reason
        self.assertEqual(movie.close(), -1)
        self.assertEqual(movie.errstr(), "open() required before close()")

    def test_write_open_failures(self):
        movie = orvo.movie(orvo.MOVIE_WRITE)
        movie.filename = self.path("out.png")
        self.assertEqual(movie.open(), -1)
        self.assertEqual(movie.errstr(), "Unknown output movie dimensions")
        movie.dims = (4, 4)
        movie.filename = self.path("out.unknownsuffix")
        self.assertEqual(movie.open(), -1)
        self.assertEqual(movie.errstr(), "Unable to find movie CODEC")

    def test_open_twice_and_attribute_after_open(self):
        write_movie(self.path("one.png"), [pattern_image(4, 4, 1)])
        movie = open_movie(self.path("one.png"))
        self.assertEqual(movie.open(), -1)
        self.assertEqual(movie.errstr(), "movie is already open")
        with self.assertRaises(AttributeError) as caught:
            movie.filename = "other.png"
        self.assertEqual(str(caught.exception), "attribute cannot be set after open")
        self.assertEqual(movie.errstr(), "attribute cannot be set after open")
        self.assertEqual(movie.errstr(), "")
        self.assertEqual(movie.close(), 0)
        self.assertIn("Readonly: closed", repr(movie))
        self.assertEqual(movie.open(), 0)  # attributes are kept: it opens again
        self.assertEqual(movie.close(), 0)

    def test_read_open_fills_the_attributes(self):
        write_movie(self.path("seq.####.png"), [pattern_image(6, 4, k) for k in range(5)])
        movie = open_movie(self.path("seq.####.png"))
        self.assertEqual((movie.dims, movie.realframes, movie.nframes, movie.framerange, movie.format),
                         ([6, 4], 5, 5, [0, 4], "png"))
        self.assertIn("Readonly: open", repr(movie))
        movie.close()
        self.assertEqual(movie.realframes, 0)

    def test_a_new_file_name_is_matched_by_its_own_suffix(self):
        write_movie(self.path("a.png"), [pattern_image(4, 4, 1)])
        write_movie(self.path("b.ppm"), [pattern_image(4, 4, 2)])
        movie = open_movie(self.path("a.png"))
        self.assertEqual(movie.format, "png")
        movie.close()
        movie.filename = self.path("b.ppm")  # not read with the png plug-in
        self.assertEqual(movie.format, "")
        self.assertEqual(movie.open(), 0)
        self.assertEqual((movie.format, movie.getframe(0)[0].tostring()), ("ppm", pattern_image(4, 4, 2).tostring()))

    def test_frame_range_and_repeat_on_an_open_movie(self):
        write_movie(self.path("seq.####.ppm"), [pattern_image(2, 2, k) for k in range(100)])
        movie = open_movie(self.path("seq.####.ppm"))
        movie.framerange = (10, 500)
        self.assertEqual((movie.framerange, movie.nframes), ([10, 99], 90))
        movie.framerange = (50, 20)
        self.assertEqual((movie.framerange, movie.nframes), ([50, 50], 1))
        movie.repeat = (2, 3)
        self.assertEqual(movie.nframes, 6)
        movie.close()

    def test_fps_defaults_to_thirty_when_unset(self):
        movie = orvo.movie(orvo.MOVIE_WRITE)
        movie.filename = self.path("clip.####.ppm")
        movie.dims = (4, 4)
        movie.fps = 0.001
        movie.addcount(1)
        self.assertEqual(movie.open(), 0)
        self.assertEqual(movie.fps, 30.0)
        movie.close()

    def test_the_codec_suffix_is_not_doubled(self):
        write_movie(self.path("still.png"), [pattern_image(4, 4, 1)])
        self.assertEqual(self.files(), ["still.png"])

    def test_destructor_closes_an_open_write_movie(self):
        movie = orvo.movie(orvo.MOVIE_WRITE)
        movie.filename = self.path("frame.ppm")
        movie.dims = (3, 2)
        movie.addcount(1)
        self.assertEqual(movie.open(), 0)
        self.assertEqual(movie.append(pattern_image(3, 2, 9)), 0)
        del movie
        self.assertEqual(open_movie(self.path("frame.ppm")).getframe(0)[0].tostring(),
                         pattern_image(3, 2, 9).tostring())


class OptionWarningTest(ScratchTestCase):
    def run_open(self, options):
        code = ("import orvo\nm = orvo.movie(orvo.MOVIE_WRITE)\nm.filename = %r\nm.dims = (4, 4)\n"
                "m.options = %r\nm.addcount(1)\nprint(m.open())\nm.close()\n"
                % (self.path("opt.png"), options))
        return run_python(code)

    def test_warnings_go_through_the_warnings_module(self):
        status, out, err = self.run_open("compression 9 colour 5")
        self.assertEqual((status, out.strip()), (0, "0"))
        self.assertIn("OrvoWarning: warning: unknown option: colour\n", err)
        status, out, err = self.run_open("compression")
        self.assertIn("OrvoWarning: warning: missing argument for option: compression\n", err)
        status, out, err = self.run_open("filter zigzag compression 2")
        self.assertIn("OrvoWarning: warning: argument zigzag for option filter is invalid", err)
        status, out, err = self.run_open("compression 3")
        self.assertEqual(err, "")


class MultiTileOpenTest(ScratchTestCase):
    def write_text(self, name, text):
        with open(self.path(name), "w") as out:
            out.write(text)

    def test_tiled_write_names_and_description(self):
        movie = orvo.movie(orvo.MOVIE_WRITE)
        movie.filename = self.path("out.mov")
        movie.format = "ppm"
        movie.dims = (640, 480)
        movie.tiling = (2, 1)
        movie.addcount(1)
        self.assertEqual(movie.open(), 0)
        self.assertEqual(movie.append(pattern_image(640, 480, 3)), 0)
        self.assertEqual(movie.close(), 0)
        self.assertIn("out.mov.mtm", self.files())
        with open(self.path("out.mov.mtm")) as description:
            text = description.read()
        self.assertIn("fullresolution 640 480", text)
        self.assertIn("imageoffset 0 0", text)
        self.assertIn("imageoffset 320 0", text)
        self.assertIn("out.mov_0000.", text)
        self.assertIn("out.mov_0001.", text)
        tile = open_movie(self.path("out.mov_0001.0000.ppm"))
        self.assertEqual(tile.dims, [320, 480])

    def test_mtm_read_failures(self):
        movie = orvo.movie()
        movie.filename = self.path("absent.mtm")
        self.assertEqual(movie.open(), -1)
        self.assertEqual(movie.errstr().partition(": ")[:2], ("Unable to open MTM file", ": "))  # with the reason
        self.write_text("missing.mtm", 'MTM 1.0\nfullresolution 4 4\nnummovies 1\nmovie\n'
                        '  imageoffset 0 0\n  format ppm\n  file "nothere.ppm"\n')
        movie.filename = self.path("missing.mtm")
        self.assertEqual(movie.open(), -1)
        self.assertEqual(movie.errstr().partition(": ")[:2], ("Unable to open MTM subfiles", ": "))  # with the reason
        write_movie(self.path("tile.ppm"), [pattern_image(4, 4, 0)])
        self.write_text("corners.mtm", 'MTM 1.0\nnummovies 1\nmovie\n  bottomleft 0 0 0\n'
                        '  bottomright 1 0 0\n  topleft 0 1 0\n  format ppm\n  file "tile.ppm"\n')
        movie.filename = self.path("corners.mtm")
        self.assertEqual(movie.open(), -1)
        self.assertEqual(movie.errstr(), "Only planar MTM files supported")

    def test_tiled_write_failures(self):
        movie = orvo.movie(orvo.MOVIE_WRITE)
        movie.format = "ffmpeg"
        movie.options = "codec ffv1"
        movie.dims = (16, 16)
        movie.tiling = (2, 2)
        movie.addcount(1)
        movie.filename = self.path(os.path.join("no", "such", "dir", "wall"))
        self.assertEqual(movie.open(), -1)
        self.assertEqual(movie.errstr().partition(": ")[:2], ("Unable to create MTM subfiles", ": "))  # with the reason
        os.mkdir(self.path("wall.mtm"))  # the description cannot be written
        movie.filename = self.path("wall")
        self.assertEqual(movie.open(), -1)
        self.assertEqual(movie.errstr().partition(": ")[:2], ("Unable to create MTM file", ": "))  # with the reason

    def test_tile_record_that_cannot_be_allocated(self):
        movie = orvo.movie(orvo.MOVIE_WRITE)
        movie.filename = self.path("huge")
        movie.format = "ppm"
        movie.dims = (1 << 20, 1 << 10)
        movie.tiling = (1 << 20, 1 << 10)  # 2**30 one-pixel tiles
        movie.addcount(1)
        self.assertEqual(movie.open(), -1)
        self.assertEqual(movie.errstr(), "Unable to allocate MTM file")
        self.assertEqual(self.files(), [])


class CreateFailureTest(ScratchTestCase):
    needed_codecs = ("ffmpeg",)

    def test_unable_to_create_movie_file(self):
        movie = orvo.movie(orvo.MOVIE_WRITE)
        movie.filename = self.path(os.path.join("no", "such", "out.mkv"))
        movie.dims = (16, 16)
        movie.addcount(1)
        self.assertEqual(movie.open(), -1)
        self.assertEqual(movie.errstr().partition(": ")[:2], ("Unable to create movie file", ": "))  # with the reason


if __name__ == "__main__":
    unittest.main()
