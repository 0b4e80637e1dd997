"""A write movie never reports a loss as success: lost eyes, frames past the
announced count, frames that overwrite each other or cannot be read back,
frame counts that wrap, close failures in `with` blocks, and interruptions
(KeyboardInterrupt, SystemExit, Ctrl-C) during an append."""
import os
import signal
import subprocess
import sys
import threading
import time
import unittest

import orvo
from movie_testing import ScratchTestCase, new_write_movie, open_movie, pattern_image, pixels, write_movie
from orvo_testing import CHILD_SECONDS, run_bounded, run_python

BUILD_PLUGINS = os.environ.get("QEV_UDILPATH", "")
FAKE_PLUGINS = os.path.join(os.path.dirname(os.path.abspath(BUILD_PLUGINS or ".")), "tests", "udil_fakes",
                            "main")


def write_movie_for(path, width=8, height=6, count=2, **attributes):
    """A closed write movie with its size, count and attributes set."""
    return new_write_movie(path, (width, height), count, **attributes)


class StereoEyesTest(ScratchTestCase):
    needed_codecs = ("ppm", "png", "ffmpeg")

    def setUp(self):
        ScratchTestCase.setUp(self)
        self.left = [pattern_image(8, 6, k) for k in (1, 2)]
        self.right = [pattern_image(8, 6, k) for k in (11, 12)]

    def write_pairs(self, movie):
        self.assertEqual(movie.open(), 0, movie.errstr())
        for pair in zip(self.left, self.right):
            self.assertEqual(movie.append(pair), 0, movie.errstr())
        self.assertEqual(movie.close(), 0, movie.errstr())

    def assert_stereo_pairs(self, path):
        movie = open_movie(path)
        self.assertEqual((movie.stereo, movie.nframes), (1, 2))
        for k in range(2):
            left, right = movie.getframe(k)
            self.assertEqual(pixels(left), pixels(self.left[k]), "left eye of frame %d" % k)
            self.assertEqual(pixels(right), pixels(self.right[k]), "right eye of frame %d" % k)
        movie.close()

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
            movie = write_movie_for(self.path(name), stereo=stereo, tiling=tiling)
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
            self.write_pairs(write_movie_for(self.path(name), stereo=1, **attributes))
            self.assertEqual(self.files(), sorted(files), name)
            if "anaglyph" not in attributes:
                self.assert_stereo_pairs(self.path(files[0] if name == "wall.ppm" else name))


class FrameCountTest(ScratchTestCase):
    def test_frames_that_would_not_read_back_are_refused_at_open(self):
        # Several frames to one picture file, or a frame number run that
        # cannot hold every frame (or that sequences do not read back).
        for name, count in (("w.jpg", 2), ("w@@.jpg", 2), ("w.ppm", 2), ("w.##########.png", 1),
                            ("w.#.png", 12), ("w.##.png", 101)):
            movie = write_movie_for(self.path(name), count=count)
            self.assertEqual(movie.open(), -1, name)
            self.assertTrue(movie.errstr().startswith("Unable to create movie file: "), name)
        self.assertEqual(self.files(), [])

    def test_one_frame_to_one_picture_file_is_written(self):
        movie = write_movie_for(self.path("w.png"), count=1)
        self.assertEqual(movie.open(), 0)
        self.assertEqual(movie.append(pattern_image(8, 6, 3)), 0)
        self.assertEqual(movie.append(pattern_image(8, 6, 4)), -1)
        movie.close()
        self.assertEqual(self.files(), ["w.png"])

    def test_every_run_that_is_written_reads_back(self):
        cases = [("n.#.png", 10), ("n9.#########.ppm", 2)]
        for name, count in cases:
            images = [pattern_image(8, 6, k) for k in range(count)]
            write_movie(self.path(name), images)
            movie = open_movie(self.path(name))
            self.assertEqual(movie.nframes, count, name)
            self.assertEqual(pixels(movie.getframe(count - 1)[0]), pixels(images[-1]), name)
            movie.close()


class RepeatCountTest(ScratchTestCase):
    def setUp(self):
        ScratchTestCase.setUp(self)
        self.images = [pattern_image(4, 3, k) for k in range(3)]
        write_movie(self.path("r.####.ppm"), self.images)

    def test_repeats_beyond_a_32_bit_count_are_refused(self):
        movie = open_movie(self.path("r.####.ppm"))
        for repeat in [(2 ** 31 - 1, 0), (0, 2 ** 31 - 3), (2 ** 31 - 1, 2 ** 31 - 1)]:
            self.assertRaises(OverflowError, setattr, movie, "repeat", repeat)
            self.assertEqual(movie.repeat, [0, 0])
            self.assertEqual((movie.nframes, len(movie)), (3, 3))
        movie.repeat = (2 ** 31 - 4, 0)  # exactly the largest count
        self.assertEqual(len(movie), 2 ** 31 - 1)
        self.assertEqual(pixels(movie[2 ** 31 - 2][0]), pixels(self.images[2]))
        movie.close()

    def test_a_frame_range_beyond_a_32_bit_count_is_refused(self):
        movie = orvo.movie()
        movie.repeat = (5, 0)
        self.assertRaises(OverflowError, setattr, movie, "framerange", (0, 2 ** 31 - 1))
        self.assertEqual(movie.framerange, [-1, -1])

    def test_a_count_that_outgrows_32_bits_at_open_is_refused(self):
        movie = orvo.movie()
        movie.filename = self.path("r.####.ppm")
        movie.repeat = (2 ** 31 - 2, 0)  # fits until the 3 frames are added
        self.assertEqual(movie.open(), -1)
        self.assertEqual(movie.errstr(),
                         "Unable to open movie file: the frame range and repeats give more than "
                         "2147483647 frames")
        self.assertEqual(movie.close(), -1)  # not left open
        movie.repeat = (0, 0)
        self.assertEqual(movie.open(), 0)
        self.assertEqual(len(movie), 3)
        movie.close()


@unittest.skipUnless(sys.version_info[0] >= 3, "the orvo command is a Python 3 program")
class CommandRepeatTest(ScratchTestCase):
    def test_convert_refuses_repeats_beyond_a_32_bit_count(self):
        # It used to report success after writing 8 frames.
        write_movie(self.path("r.####.ppm"), [pattern_image(4, 3, k) for k in range(3)])
        tool = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "orvo")
        status, out, err = run_bounded([sys.executable, tool, "convert", "--repeat", "2147483647", "2147483647",
                                        self.path("r.####.ppm"), self.path("o.####.ppm")], CHILD_SECONDS)
        self.assertEqual(status, 2, out + err)
        self.assertNotIn("Traceback", err)
        self.assertIn("the frame range and repeats give more than 2147483647 frames", err)
        self.assertFalse([name for name in self.files() if name.startswith("o.")])


class ProgressInterruptTest(ScratchTestCase):
    def setUp(self):
        ScratchTestCase.setUp(self)
        self.images = [pattern_image(6, 5, k) for k in range(5)]
        write_movie(self.path("src.####.ppm"), self.images)

    def copy_with_progress(self, error):
        source = open_movie(self.path("src.####.ppm"))
        movie = write_movie_for(self.path("out.####.ppm"), 6, 5, count=5)
        self.assertEqual(movie.open(), 0)

        class Stopper(object):
            def step(self, k):
                if k == 1:
                    raise error
                return 0
        return movie, lambda: movie.append(source, Stopper(), "step")

    def assert_readable_copy(self, movie, frames):
        self.assertEqual(movie.realframes, frames)
        self.assertEqual(movie.close(), 0)
        copy = open_movie(self.path("out.####.ppm"))
        self.assertEqual(copy.nframes, frames)
        for k in range(frames):
            self.assertEqual(pixels(copy.getframe(k)[0]), pixels(self.images[k]))
        copy.close()

    def test_keyboard_interrupt_and_system_exit_reach_the_script(self):
        for error in (KeyboardInterrupt(), SystemExit(3)):
            movie, append = self.copy_with_progress(error)
            self.assertRaises(type(error), append)
            self.assert_readable_copy(movie, 2)

    def test_other_exceptions_keep_the_error_string(self):
        movie, append = self.copy_with_progress(ValueError("no"))
        self.assertEqual(append(), -1)
        self.assertEqual(movie.errstr(), "Unable to call object method")
        self.assert_readable_copy(movie, 2)


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
    repeats = 50000

    def run_interrupted_child(self):
        """Starts the copy, sends SIGINT when frame 2 is on disk; returns
        the child's exit status and output."""
        code = SIGINT_CHILD % {"directory": self.dir, "repeats": self.repeats}
        child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        timer = threading.Timer(CHILD_SECONDS, child.kill)
        timer.start()
        try:
            third = self.path("out.000002.ppm")
            while not os.path.exists(third) and child.poll() is None:
                time.sleep(0.002)
            if child.poll() is None:
                os.kill(child.pid, signal.SIGINT)
            out, err = child.communicate()
        finally:
            timer.cancel()
        return child.returncode, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")

    def test_ctrl_c_stops_a_movie_copy_between_frames(self):
        image = pattern_image(2, 2, 7)
        write_movie(self.path("src.####.ppm"), [image])
        status, out, err = self.run_interrupted_child()
        self.assertEqual(status, 0, err)
        lines = out.strip().split("\n")
        self.assertEqual(len(lines), 2, out + err)
        words = lines[0].split(" ", 2)
        self.assertEqual((words[0], words[2], lines[1]), ("interrupted", "Operation interrupted", "closed 0"),
                         out)
        written = int(words[1])
        self.assertTrue(3 <= written < self.repeats, written)
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
    movie.filename = os.path.join(%(directory)r, name)
    movie.dims = (4, 3)
    movie.addcount(1)
    assert movie.open() == 0, movie.errstr()
    assert movie.append(orvo.image(4, 3, orvo.DYX_IMG_FMT_RGB, b"\x01" * 36)) == 0
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
