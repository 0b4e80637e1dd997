"""orvo.movie: construction, attributes and their setter rules, the text
form, open(), close() and errstr()."""
import os
import unittest

import orvo
from movie_testing import ScratchTestCase, new_write_movie, open_movie, pattern_image, write_movie
from orvo_testing import error_text, fixed_text

MEMBERS = ["filename", "stereo", "fps", "dims", "tiling", "format", "framerange", "options",
           "intensity", "repeat", "nframes", "anaglyph", "flip", "realframes"]
METHODS = ["open", "close", "append", "getframe", "addcount", "resetcount", "errstr"]


class ConstructionTest(unittest.TestCase):
    def test_modes_and_defaults(self):
        reader = orvo.movie()
        self.assertEqual(orvo.movie(orvo.MOVIE_READ).realframes, 0)
        self.assertEqual((reader.filename, reader.stereo, reader.fps, reader.dims), ("", 0, -1.0, [0, 0]))
        self.assertEqual((reader.tiling, reader.framerange, reader.repeat, reader.intensity),
                         ([1, 1], [-1, -1], [0, 0], [1.0, 1.0]))
        self.assertEqual((reader.nframes, reader.realframes, reader.anaglyph, reader.flip), (0, 0, 0, 0))
        self.assertIn("Readonly: closed", repr(reader))
        self.assertIn("Writeonly: closed", repr(orvo.movie(7)))
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
    def test_values_are_clamped_as_set(self):
        # (write movie?, attribute, value set, value read back)
        cases = [(1, "stereo", 5, 1), (1, "fps", 0.001, -1.0), (1, "fps", 100, 60.0), (1, "fps", 24.0, 24.0),
                 (1, "dims", (-5, 480), [0, 480]), (1, "format", "png", "png"),
                 (0, "framerange", (-3, -1), [0, 0]), (0, "framerange", (4, 2), [4, 4]),
                 (0, "intensity", (-1.0, 2.5), [0.0, 1.0]), (0, "flip", 7, 3), (0, "repeat", (-2, 3), [0, 3])]
        for write, name, value, expected in cases:
            movie = orvo.movie(write)
            setattr(movie, name, value)
            self.assertEqual(getattr(movie, name), expected, (name, value))
        movie = orvo.movie(orvo.MOVIE_WRITE)
        movie.anaglyph = 3
        movie.anaglyph = 9  # ignored without error
        movie.options = "x" * 2000
        self.assertEqual((movie.anaglyph, len(movie.options)), (3, 1023))

    def test_tiling_follows_the_dimensions(self):
        movie = orvo.movie(orvo.MOVIE_WRITE)
        movie.dims = (1920, 1080)
        for tiling, expected in (((3, 2), [3, 2]), ((7, 2), [1, 2]), ((0, -4), [1, 1])):
            movie.tiling = tiling
            self.assertEqual(movie.tiling, expected)
        movie.dims = (0, 0)
        movie.tiling = (3, 4)
        movie.dims = (1000, 600)
        self.assertEqual(movie.tiling, [1, 4])

    def test_setter_errors(self):
        reader, writer = orvo.movie(), orvo.movie(orvo.MOVIE_WRITE)
        cases = [(reader, name, value, "set only for write movies")
                 for name, value in (("stereo", 1), ("anaglyph", 1), ("fps", 25.0), ("dims", (2, 2)),
                                     ("tiling", (1, 1)), ("format", "png"))]
        cases += [(writer, name, value, "set only for read movies")
                  for name, value in (("framerange", (1, 2)), ("intensity", (1.0, 1.0)), ("flip", 1),
                                      ("repeat", (1, 1)))]
        cases += [(writer, "nframes", 3, "read-only attribute"), (writer, "realframes", 3, "read-only attribute"),
                  (writer, "format", "PNG", "unknown format"),  # names are matched exactly
                  (writer, "colour", 1, "colour")]
        for movie, name, value, message in cases:
            self.assertEqual(error_text(AttributeError, setattr, movie, name, value), message)
        self.assertEqual(writer.format, "")
        self.assertRaises(AttributeError, delattr, writer, "filename")
        reader.options = "orientation stored"  # reader options
        self.assertEqual((reader.options, reader.errstr()), ("orientation stored", ""))  # errstr left alone
        # Wrong value types: a list is not a tuple.
        for name, value in (("dims", [640, 480]), ("dims", (640,)), ("filename", 5), ("stereo", "yes")):
            self.assertRaises(TypeError, setattr, writer, name, value)
        self.assertRaises(ValueError, setattr, writer, "filename", "f" * 1024)
        writer.filename = "f" * 1023
        self.assertEqual(len(writer.filename), 1023)


class OpenCloseTest(ScratchTestCase):
    def test_open_failures(self):
        reader, writer = orvo.movie(), orvo.movie(orvo.MOVIE_WRITE)
        cases = [(reader, None, "a filename must be specified"),
                 (reader, "clip.unknownsuffix", "Unsupported movie file format"),
                 (writer, "out.png", "Unknown output movie dimensions"),
                 (writer, "out.unknownsuffix", "Unable to find movie CODEC")]
        for movie, name, message in cases:
            if name is not None:
                movie.filename = self.path(name)
            if name == "out.unknownsuffix":
                movie.dims = (4, 4)
            self.assertEqual((movie.open(), movie.errstr(), movie.errstr()), (-1, message, ""), name)
        reader.filename = self.path("missing.png")
        self.assertEqual(reader.open(), -1)
        self.assertEqual(fixed_text(reader.errstr()), "Unable to open movie file")
        self.assertEqual((reader.close(), reader.errstr()), (-1, "open() required before close()"))

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

    def test_fps_default_and_the_destructor_closing_a_write_movie(self):
        movie = new_write_movie(self.path("frame.ppm"), (3, 2), 1, fps=0.001)
        self.assertEqual(movie.open(), 0)
        self.assertEqual(movie.fps, 30.0)  # unset: thirty
        self.assertEqual(movie.append(pattern_image(3, 2, 9)), 0)
        del movie
        self.assertEqual(open_movie(self.path("frame.ppm")).getframe(0)[0].tostring(),
                         pattern_image(3, 2, 9).tostring())


class MultiTileOpenTest(ScratchTestCase):
    def write_text(self, name, text):
        with open(self.path(name), "w") as out:
            out.write(text)

    def test_tiled_write_names_and_description(self):
        movie = new_write_movie(self.path("out.mov"), (640, 480), 1, format="ppm", tiling=(2, 1))
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
        message = movie.errstr()
        self.assertEqual(fixed_text(message), "Unable to open MTM file")
        self.assertIn(self.path("absent.mtm") + ": No such file or directory", message)
        self.write_text("missing.mtm", 'MTM 1.0\nfullresolution 4 4\nnummovies 1\nmovie\n'
                        '  imageoffset 0 0\n  format ppm\n  file "nothere.ppm"\n')
        movie.filename = self.path("missing.mtm")
        self.assertEqual(movie.open(), -1)
        self.assertEqual(fixed_text(movie.errstr()), "Unable to open MTM subfiles")
        write_movie(self.path("tile.ppm"), [pattern_image(4, 4, 0)])
        self.write_text("corners.mtm", 'MTM 1.0\nnummovies 1\nmovie\n  bottomleft 0 0 0\n'
                        '  bottomright 1 0 0\n  topleft 0 1 0\n  format ppm\n  file "tile.ppm"\n')
        movie.filename = self.path("corners.mtm")
        self.assertEqual(movie.open(), -1)
        self.assertEqual(movie.errstr(), "Only planar MTM files supported")

    def test_tiled_write_failures(self):
        movie = new_write_movie(self.path(os.path.join("no", "such", "dir", "wall")), (16, 16), 1,
                                format="ffmpeg", options="codec ffv1", tiling=(2, 2))
        self.assertEqual(movie.open(), -1)
        self.assertEqual(fixed_text(movie.errstr()), "Unable to create MTM subfiles")
        os.mkdir(self.path("wall.mtm"))  # the description cannot be written
        movie.filename = self.path("wall")
        self.assertEqual(movie.open(), -1)
        self.assertEqual(fixed_text(movie.errstr()), "Unable to create MTM file")

    def test_tile_record_that_cannot_be_allocated(self):
        # 2**30 one-pixel tiles
        movie = new_write_movie(self.path("huge"), (1 << 20, 1 << 10), 1, format="ppm", tiling=(1 << 20, 1 << 10))
        self.assertEqual(movie.open(), -1)
        self.assertEqual(movie.errstr(), "Unable to allocate MTM file")
        self.assertEqual(self.files(), [])


if __name__ == "__main__":
    unittest.main()
