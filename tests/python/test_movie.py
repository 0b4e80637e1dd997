"""orvo.movie: construction, attributes and their setter rules, the text
form, open(), close() and errstr(), with blocks, len(), indexing and
iteration."""
import os
import unittest

import orvo
from movie_testing import ScratchTestCase, new_write_movie, open_movie, pattern_image, write_movie
from orvo_testing import error_text, fixed_text

MEMBERS = ["filename", "stereo", "fps", "dims", "tiling", "format", "framerange", "options",
           "intensity", "repeat", "nframes", "anaglyph", "flip", "realframes"]
METHODS = ["open", "close", "append", "getframe", "addcount", "resetcount", "errstr"]


class AttributesTest(unittest.TestCase):
    def test_modes_and_defaults(self):
        reader = orvo.movie()
        self.assertEqual(orvo.movie(orvo.MOVIE_READ).realframes, 0)
        self.assertEqual((reader.filename, reader.stereo, reader.fps, reader.dims), ("", 0, -1.0, [0, 0]))
        self.assertEqual((reader.tiling, reader.framerange, reader.repeat, reader.intensity),
                         ([1, 1], [-1, -1], [0, 0], [1.0, 1.0]))
        self.assertEqual((reader.nframes, reader.realframes, reader.anaglyph, reader.flip), (0, 0, 0, 0))
        self.assertEqual((reader.__members__, reader.__methods__), (MEMBERS, METHODS))
        self.assertRaises(AttributeError, getattr, reader, "nosuchthing")
        self.assertIn("Writeonly: closed", repr(orvo.movie(7)))
        self.assertRaises(TypeError, orvo.movie, 1, 2)
        self.assertRaises(TypeError, orvo.movie, "write")
        self.assertIn("Readonly", repr(orvo.movie(unused=1)))  # keywords are ignored

    def test_text_forms(self):
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
        movie = orvo.movie()
        movie.intensity = (0.5, 0.25)
        self.assertTrue(repr(movie).endswith("\nReadonly: closed\nEffective frames:0\nFormat:\n"
                                             "Intensity:0.500000 0.250000\nRepeat:0 0\nFlip:0"))  # no newline

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
        write_movie(self.path("tile.ppm"), [pattern_image(4, 4, 0)])
        descriptions = {"missing.mtm": 'MTM 1.0\nfullresolution 4 4\nnummovies 1\nmovie\n  imageoffset 0 0\n'
                                       '  format ppm\n  file "nothere.ppm"\n',
                        "corners.mtm": 'MTM 1.0\nnummovies 1\nmovie\n  bottomleft 0 0 0\n  bottomright 1 0 0\n'
                                       '  topleft 0 1 0\n  format ppm\n  file "tile.ppm"\n'}
        for name, text in descriptions.items():
            with open(self.path(name), "w") as out:
                out.write(text)
        os.mkdir(self.path("wall.mtm"))  # the description cannot be written

        def reader(name):
            movie = orvo.movie()
            if name is not None:
                movie.filename = self.path(name)
            return movie

        def writer(name, dims=(16, 16), **attributes):
            return new_write_movie(self.path(name), dims, 1, **attributes)

        tiled = {"format": "ffmpeg", "options": "codec ffv1", "tiling": (2, 2)}
        cases = [  # movie, the message, or its fixed part and what its reason names
            (reader(None), "a filename must be specified", None),
            (reader("clip.unknownsuffix"), "Unsupported movie file format", None),
            (reader("missing.png"), "Unable to open movie file", "missing.png"),
            (writer("out.png", (0, 0)), "Unknown output movie dimensions", None),
            (writer("out.unknownsuffix"), "Unable to find movie CODEC", None),
            (reader("absent.mtm"), "Unable to open MTM file", self.path("absent.mtm") + ": No such file"),
            (reader("missing.mtm"), "Unable to open MTM subfiles", "nothere.ppm: No such file"),
            (reader("corners.mtm"), "Only planar MTM files supported", None),
            (writer(os.path.join("no", "such", "dir", "wall"), **tiled), "Unable to create MTM subfiles", "wall_0000"),
            (writer("wall", **tiled), "Unable to create MTM file", "wall.mtm"),
            # 2**30 one-pixel tiles
            (writer("huge", (1 << 20, 1 << 10), format="ppm", tiling=(1 << 20, 1 << 10)),
             "Unable to allocate MTM file", None),
        ]
        for movie, text, reason in cases:
            self.assertEqual(movie.open(), -1, text)
            message = movie.errstr()
            if reason is None:
                self.assertEqual(message, text)
            else:  # the reason the system or the plug-in gave follows the text
                self.assertEqual(fixed_text(message), text)
                self.assertIn(reason, message)
            self.assertEqual(movie.errstr(), "")  # read and cleared
            self.assertEqual((movie.close(), movie.errstr()), (-1, "open() required before close()"))
        self.assertEqual([name for name in self.files() if name.startswith("huge")], [])

    def test_read_movie_opens_closes_and_opens_again(self):
        write_movie(self.path("seq.####.png"), [pattern_image(6, 4, k) for k in range(5)])
        write_movie(self.path("b.####.ppm"), [pattern_image(6, 4, 10 + k) for k in range(5)])
        movie = open_movie(self.path("seq.####.png"))
        self.assertEqual((movie.dims, movie.realframes, movie.nframes, movie.framerange, movie.format),
                         ([6, 4], 5, 5, [0, 4], "png"))
        self.assertIn("Readonly: open", repr(movie))
        self.assertEqual((movie.open(), movie.errstr()), (-1, "movie is already open"))
        self.assertEqual(error_text(AttributeError, setattr, movie, "filename", "other.png"),
                         "attribute cannot be set after open")
        self.assertEqual((movie.errstr(), movie.errstr()), ("attribute cannot be set after open", ""))
        self.assertEqual(movie.close(), 0)
        self.assertEqual((movie.realframes, repr(movie).count("Readonly: closed")), (0, 1))
        self.assertEqual(movie.open(), 0)  # attributes are kept: it opens again
        self.assertEqual(movie.close(), 0)
        movie.filename = self.path("b.####.ppm")  # a new name is matched by its own suffix
        self.assertEqual(movie.format, "")
        self.assertEqual(movie.open(), 0)
        self.assertEqual((movie.format, movie.getframe(1)[0].tostring()), ("ppm", pattern_image(6, 4, 11).tostring()))
        # A multi-tile movie's format is its tiles' codec.
        write_movie(self.path("wall"), [pattern_image(6, 4, 0)], tiling=(2, 1), format="png")
        self.assertEqual(open_movie(self.path("wall.mtm")).format, "png")

    def test_with_blocks_iteration_and_indexing(self):
        images = [pattern_image(8, 6, seed) for seed in range(3)]
        write_movie(self.path("seq_##.png"), images)
        with open_movie(self.path("seq_##.png")) as movie:
            self.assertEqual([frame[0].tostring() for frame in movie], [image.tostring() for image in images])
            self.assertEqual((len(movie), movie[-1][0].tostring()), (3, images[2].tostring()))
            self.assertRaises(IndexError, lambda: movie[3])
        self.assertEqual((movie.close(), movie.errstr()), (-1, "open() required before close()"))  # closed
        with self.assertRaises(KeyError):  # an exception inside goes through, the movie is closed
            with open_movie(self.path("seq_##.png")) as movie:
                raise KeyError("inside")
        self.assertEqual(movie.close(), -1)
        self.assertEqual(len(orvo.movie()), 0)
        self.assertRaises(RuntimeError, lambda: orvo.movie()[0])  # unopened: raises instead of giving -1

    def test_fps_default_and_the_destructor_closing_a_write_movie(self):
        movie = new_write_movie(self.path("frame.ppm"), (3, 2), 1, fps=0.001)
        self.assertEqual(movie.open(), 0)
        self.assertEqual(movie.fps, 30.0)  # unset: thirty
        self.assertEqual(movie.append(pattern_image(3, 2, 9)), 0)
        del movie
        self.assertEqual(open_movie(self.path("frame.ppm")).getframe(0)[0].tostring(),
                         pattern_image(3, 2, 9).tostring())


if __name__ == "__main__":
    unittest.main()
