"""A FIFO, a directory or another non-regular file named as an input or an
output is refused with a clear message, at once. Each case runs in a child
interpreter with a time limit: a plug-in opening a FIFO would wait for a
writer (or reader) for ever, and a regression must not hang the suite."""
import os
import sys
import unittest

import orvo
from movie_testing import ScratchTestCase, pattern_image, write_movie
from orvo_testing import run_bounded

CHILD_SECONDS = 30

# What the child does with the path; it then prints the status and the
# error text.
LOAD = "thing = orvo.image(2, 2)\nprint(thing.load(%r))"
SAVE = "thing = orvo.image(4, 4)\nprint(thing.save(%r))"
READ_MOVIE = "thing = orvo.movie()\nthing.filename = %r\nprint(thing.open())"
WRITE_MOVIE = ("thing = orvo.movie(orvo.MOVIE_WRITE)\nthing.filename = %r\nthing.dims = (8, 6)\n"
               "thing.addcount(2)\nprint(thing.open() or thing.append((orvo.image(8, 6),)))")
GET_FRAME = READ_MOVIE + "\nprint(thing.getframe(1))"


class BlockingFileTest(ScratchTestCase):
    needed_codecs = ("ppm", "png", "ffmpeg")

    def fifo(self, name):
        os.mkfifo(self.path(name))
        return self.path(name)

    def run_child(self, template, path):
        code = "import orvo\n%s\nprint(thing.errstr())\n" % (template % path)
        status, out, err = run_bounded([sys.executable, "-c", code], CHILD_SECONDS)
        self.assertEqual(status, 0, "child failed or was killed after %d s: %s" % (CHILD_SECONDS, err))
        return out.strip().split("\n")

    def assertRefused(self, template, path, text, kind):
        lines = self.run_child(template, path)
        self.assertNotEqual(lines[-2], "0", lines)
        self.assertTrue(lines[-1].startswith(text + ": "), lines)
        self.assertIn(": not a regular file (%s)" % kind, lines[-1])

    def test_fifos_directories_and_devices(self):
        for name in ("folder.png", "folder.mkv", "folder.ppm"):
            os.mkdir(self.path(name))
        os.symlink("/dev/zero", self.path("zero.ppm"))
        cases = [(LOAD, self.fifo("pipe.png"), "Unable to open the file.", "a FIFO"),
                 (READ_MOVIE, self.fifo("pipe.mp4"), "Unable to open movie file", "a FIFO"),
                 (READ_MOVIE, self.fifo("pipe.mtm"), "Unable to open MTM file", "a FIFO"),
                 (SAVE, self.fifo("pipe.ppm"), "Unable to save the image.", "a FIFO"),
                 (SAVE, self.path("pipe.png"), "Unable to create the new file.", "a FIFO"),
                 (SAVE, self.path("pipe.mp4"), "Unable to create the new file.", "a FIFO"),
                 (WRITE_MOVIE, self.fifo("pipe.mkv"), "Unable to create movie file", "a FIFO"),
                 (LOAD, self.path("folder.png"), "Unable to open the file.", "a directory"),
                 (SAVE, self.path("folder.ppm"), "Unable to save the image.", "a directory"),
                 (SAVE, self.path("folder.png"), "Unable to create the new file.", "a directory"),
                 (WRITE_MOVIE, self.path("folder.mkv"), "Unable to create movie file", "a directory"),
                 (LOAD, self.path("zero.ppm"), "Unable to open the file.", "a character device")]
        for template, path, text, kind in cases:
            self.assertRefused(template, path, text, kind)

    def test_fifo_in_a_frame_sequence(self):
        write_movie(self.path("seq.#.png"), [pattern_image(8, 6, k) for k in range(3)])
        os.remove(self.path("seq.1.png"))
        self.fifo("seq.1.png")
        lines = self.run_child(GET_FRAME, self.path("seq.#.png"))
        self.assertEqual(lines[0], "0", lines)
        self.assertEqual(lines[1], "-1", lines)
        self.assertTrue(lines[2].startswith("unable to read the requested frame: "), lines)
        self.assertIn(self.path("seq.1.png") + ": not a regular file (a FIFO)", lines[2])

    def test_fifo_as_a_tile_of_a_multi_tile_movie(self):
        movie = orvo.movie(orvo.MOVIE_WRITE)
        movie.filename = self.path("wall")
        movie.format = "ppm"
        movie.dims = (8, 6)
        movie.tiling = (2, 1)
        movie.addcount(1)
        self.assertEqual(movie.open(), 0, movie.errstr())
        self.assertEqual(movie.append((pattern_image(8, 6, 1),)), 0, movie.errstr())
        self.assertEqual(movie.close(), 0, movie.errstr())
        tiles = [name for name in self.files() if name.endswith(".ppm")]
        self.assertEqual(len(tiles), 2, self.files())
        os.remove(self.path(tiles[1]))
        self.fifo(tiles[1])
        mtm = [name for name in self.files() if name.endswith(".mtm")][0]
        lines = self.run_child(READ_MOVIE, self.path(mtm))
        self.assertEqual(lines[0], "-1", lines)
        self.assertTrue(lines[1].startswith("Unable to open MTM subfiles: "), lines)
        self.assertIn(tiles[1] + ": not a regular file (a FIFO)", lines[1])


if __name__ == "__main__":
    unittest.main()
