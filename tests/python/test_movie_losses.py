"""A write movie never reports a loss as success: lost eyes, frames past the
announced count, frames that overwrite each other or cannot be read back,
frame counts that wrap, close failures in `with` blocks, and interruptions
(KeyboardInterrupt, SystemExit, Ctrl-C) during an append."""
import os
import signal
import sys
import unittest

import orvo
from movie_testing import (ScratchTestCase, frames_of, new_write_movie, open_movie, pattern_image,
                           pixels, wait_until, write_movie)
from orvo_testing import BoundedChild, run_python

BUILD_PLUGINS = os.environ.get("QEV_UDILPATH", "")
FAKE_PLUGINS = os.path.join(os.path.dirname(os.path.abspath(BUILD_PLUGINS or ".")), "tests", "udil_fakes",
                            "main")


class StereoEyesTest(ScratchTestCase):
    needed_codecs = ("ppm", "png", "ffmpeg")
    PAIRS = [(pattern_image(8, 6, k), pattern_image(8, 6, k + 10)) for k in (1, 2)]

    def assert_stereo_pairs(self, path):
        self.assertEqual(frames_of(path), [[left.tostring(), right.tostring()] for left, right in self.PAIRS], path)

    def test_refused_stereo_writes_name_the_missing_eye_mark(self):
        # Each of these used to return 0 everywhere while one eye was lost;
        # a mono movie under an eye-pair name wrote nothing or half a pair.
        cases = [
            ("s.####.ppm", 1, (1, 1), "Unable to create movie file: "),
            ("s.mp4", 1, (1, 1), "Unable to create movie file: "),
            ("t.mp4", 1, (2, 1), "Unable to create MTM subfiles: "),
            ("m_@.####.ppm", 0, (1, 1), "Unable to create movie file: "),
            ("m_@.mp4", 0, (1, 1), "Unable to create movie file: "),
        ]
        for name, stereo, tiling, message in cases:
            movie = new_write_movie(self.path(name), (8, 6), 2, stereo=stereo, tiling=tiling)
            self.assertEqual(movie.open(), -1, name)
            error = movie.errstr()
            self.assertTrue(error.startswith(message), "%s: %s" % (name, error))
            self.assertTrue(not stereo or "stereo" in error, "%s: %s" % (name, error))
            self.assertEqual(self.files(), [], name)

    def test_eye_pairs_read_back_both_eyes(self):
        # Tiles of a one-picture codec get an @ of their own, so the right
        # eye no longer overwrites the left; an anaglyph is one mono picture.
        cases = [
            ("s_@.####.ppm", {}, ["s_l.0000.ppm", "s_l.0001.ppm", "s_r.0000.ppm", "s_r.0001.ppm"]),
            ("wall.ppm", {"tiling": (2, 1)}, ["wall.ppm.mtm"] + ["wall_%04d_%s.%04d.ppm" % (t, eye, k)
                                                                 for t in (0, 1) for eye in "lr" for k in (0, 1)]),
            ("clip_@.mkv", {"options": "codec ffv1"}, ["clip_l.mkv", "clip_r.mkv"]),
            ("a.####.ppm", {"anaglyph": 1}, ["a.0000.ppm", "a.0001.ppm"]),
        ]
        for name, attributes, files in cases:
            self.clear()
            write_movie(self.path(name), self.PAIRS, stereo=1, **attributes)
            self.assertEqual(self.files(), sorted(files), name)
            if "anaglyph" not in attributes:
                self.assert_stereo_pairs(self.path(files[0] if name == "wall.ppm" else name))

    def test_a_stereo_movie_copied_through_append_keeps_both_eyes(self):
        write_movie(self.path("s_@.####.ppm"), self.PAIRS, stereo=1)
        source = open_movie(self.path("s_@.####.ppm"))
        copy = orvo.movie(orvo.MOVIE_WRITE)
        copy.filename, copy.stereo = self.path("copy.@.##.png"), 1
        self.assertEqual((copy.addcount(source), copy.dims), (2, [8, 6]))
        self.assertEqual((copy.open(), copy.append(source), copy.close()), (0, 0, 0))
        self.assert_stereo_pairs(self.path("copy.@.##.png"))


class FrameCountTest(ScratchTestCase):
    def test_frames_that_would_not_read_back_are_refused_at_open(self):
        # Several frames to one picture file, or a frame number run that
        # cannot hold every frame (or that sequences do not read back).
        for name, count in (("w.jpg", 2), ("w@@.jpg", 2), ("w.ppm", 2), ("w.##########.png", 1),
                            ("w.#.png", 12), ("w.##.png", 101)):
            movie = new_write_movie(self.path(name), (8, 6), count)
            self.assertEqual(movie.open(), -1, name)
            self.assertTrue(movie.errstr().startswith("Unable to create movie file: "), name)
        self.assertEqual(self.files(), [])

    def test_every_count_that_is_written_reads_back(self):
        # One frame to one picture file; runs that hold every frame number.
        for name, count, files in (("w.png", 1, ["w.png"]), ("n.#.png", 10, ["n.9.png"]),
                                   ("n9.#########.ppm", 2, ["n9.000000000.ppm", "n9.000000001.ppm"])):
            images = [pattern_image(8, 6, k) for k in range(count)]
            write_movie(self.path(name), images)
            self.assertTrue(set(files) <= set(self.files()), name)
            self.assertEqual(frames_of(self.path(name)), [[image.tostring()] for image in images], name)

    def test_counts_beyond_32_bits_are_refused(self):
        images = [pattern_image(4, 3, k) for k in range(3)]
        write_movie(self.path("r.####.ppm"), images)
        movie = open_movie(self.path("r.####.ppm"))
        for repeat in [(2 ** 31 - 1, 0), (0, 2 ** 31 - 3), (2 ** 31 - 1, 2 ** 31 - 1)]:
            self.assertRaises(OverflowError, setattr, movie, "repeat", repeat)
            self.assertEqual((movie.repeat, movie.nframes, len(movie)), ([0, 0], 3, 3))
        movie.repeat = (2 ** 31 - 4, 0)  # exactly the largest count
        self.assertEqual(len(movie), 2 ** 31 - 1)
        self.assertEqual(pixels(movie[2 ** 31 - 2][0]), pixels(images[2]))
        movie.close()

        movie = orvo.movie()
        movie.repeat = (5, 0)
        self.assertRaises(OverflowError, setattr, movie, "framerange", (0, 2 ** 31 - 1))
        self.assertEqual(movie.framerange, [-1, -1])
        movie.filename = self.path("r.####.ppm")
        movie.repeat = (2 ** 31 - 2, 0)  # fits until the 3 frames are added at open
        too_many = "Unable to open movie file: the frame range and repeats give more than 2147483647 frames"
        self.assertEqual((movie.open(), movie.errstr()), (-1, too_many))
        self.assertEqual(movie.close(), -1)  # not left open
        movie.repeat = (0, 0)
        self.assertEqual((movie.open(), len(movie)), (0, 3))
        movie.close()


# Runs in a child that copies a long movie with the default Ctrl-C
# handling; the test sends SIGINT once the copy's third frame file exists.
SIGINT_CHILD = r"""
import os
import orvo
directory = %(directory)r
source = orvo.movie()
source.filename = os.path.join(directory, "src.####.ppm")
source.repeat = (0, %(repeats)d)
assert source.open() == 0
out = orvo.movie(orvo.MOVIE_WRITE)
out.filename = os.path.join(directory, "out.######.ppm")
out.dims = (2, 2)
out.addcount(source.nframes)
assert out.open() == 0
try:
    out.append(source)
    print("finished %%d" %% out.realframes)
except KeyboardInterrupt:
    print("interrupted %%d %%s" %% (out.realframes, out.errstr()))
print("closed %%d" %% out.close())
"""


class SignalTest(ScratchTestCase):
    def test_ctrl_c_stops_a_movie_copy_between_frames(self):
        image, repeats = pattern_image(2, 2, 7), 50000
        write_movie(self.path("src.####.ppm"), [image])
        child = BoundedChild([sys.executable, "-c", SIGINT_CHILD % {"directory": self.dir, "repeats": repeats}])
        # The copy's third frame file shows the copy is under way.
        wait_until(lambda: os.path.exists(self.path("out.000002.ppm")) or child.process.poll() is not None)
        if child.process.poll() is None:
            child.process.send_signal(signal.SIGINT)
        status, out, err = child.finish()
        self.assertEqual(status, 0, err)
        lines = out.strip().split("\n")
        self.assertEqual(len(lines), 2, out + err)
        words = lines[0].split(" ", 2)
        self.assertEqual((words[0], words[2], lines[1]), ("interrupted", "Operation interrupted", "closed 0"), out)
        written = int(words[1])
        self.assertTrue(3 <= written < repeats, written)
        copy = open_movie(self.path("out.######.ppm"))
        self.assertEqual(copy.nframes, written)
        self.assertEqual(pixels(copy.getframe(written - 1)[0]), pixels(image))
        copy.close()


# Runs in a child over the test codecs: `close` of the fake movie codec
# fails on request.
CLOSE_CHILD = r"""
import ctypes, os
import orvo
fake = ctypes.CDLL(os.path.join(%(plugins)r, "libudil-fmulti.so"))
def written(name):
    movie = orvo.movie(orvo.MOVIE_WRITE)
    movie.filename, movie.dims = os.path.join(%(directory)r, name), (4, 3)
    movie.addcount(1)
    assert movie.open() == 0 and movie.append(orvo.image(4, 3, orvo.DYX_IMG_FMT_RGB, b"\x01" * 36)) == 0
    return movie
fake.fake_fail(b"close", b"", 7)
movie = written("a.fkv")
try:
    with movie:
        pass
    print("no error")
except OSError as error:
    print("OSError %%s|%%s|%%d" %% (error, movie.errstr(), movie.close()))
movie = written("b.fkv")
try:
    with movie:
        raise KeyError("inside")
except KeyError:
    print("KeyError")
fake.fake_clear()
with written("c.fkv"):
    pass
print("clean")
"""


class CloseInWithTest(ScratchTestCase):
    needed_codecs = ()

    def test_a_failed_close_at_the_end_of_a_with_block_raises(self):
        if not os.path.exists(os.path.join(FAKE_PLUGINS, "libudil-fmulti.so")):
            self.skipTest("the test codecs are not built in %s" % FAKE_PLUGINS)
        status, out, err = run_python(CLOSE_CHILD % {"plugins": FAKE_PLUGINS, "directory": self.dir},
                                      QEV_UDILPATH=FAKE_PLUGINS)
        self.assertEqual(status, 0, err)
        lines = out.strip().split("\n")
        self.assertEqual(len(lines), 3, out)
        self.assertTrue(lines[0].startswith("OSError Unable to finish movie file"), lines[0])
        message, error_string, closed = lines[0][len("OSError "):].split("|")
        self.assertEqual(message, error_string)  # the exception carries errstr()
        self.assertEqual(closed, "-1")  # closed all the same
        self.assertEqual(lines[1:], ["KeyError", "clean"])


if __name__ == "__main__":
    unittest.main()
