"""orvo.movie frame transfer: append from images, stereo pairs and read
movies, getframe with frame range, repeats, flip and the intensity ramp,
anaglyphs, the progress callback, addcount and resetcount, all through the
real codec plug-ins."""
import os
import struct
import sys
import unittest

import orvo
from movie_testing import (ScratchTestCase, flat_image, frames_of, new_write_movie, open_movie, pattern_image,
                           pixels, write_movie, write_tiff)
from orvo_testing import fixed_text


def f32(value):
    """The value rounded to single precision."""
    return struct.unpack("f", struct.pack("f", value))[0]


class Progress(object):
    def __init__(self, answers=None, error=None):
        self.calls = []
        self.answers = answers or {}
        self.error = error

    def step(self, k):
        self.calls.append(k)
        if self.error is not None:
            raise self.error
        return self.answers.get(k, 0)


class Reopener(object):
    """A progress object that after frame 1 closes a movie and, when asked,
    opens it again (a write movie under `rename` and another size)."""

    def __init__(self, movie, reopen=False, rename=None):
        self.movie, self.reopen, self.rename = movie, reopen, rename
        self.answers = []

    def step(self, k):
        if k == 1:
            self.answers.append(self.movie.close())
            if self.reopen:
                if self.rename:
                    self.movie.filename = self.rename
                    self.movie.dims = (8, 7)
                self.answers.append(self.movie.open())
        return 0


class ReadOptionsTest(ScratchTestCase):
    def setUp(self):
        ScratchTestCase.setUp(self)
        self.images = [pattern_image(6, 5, k) for k in range(10)]
        write_movie(self.path("ten.####.ppm"), self.images)

    def test_frame_range_and_repeats(self):
        movie = open_movie(self.path("ten.####.ppm"))
        for asked, kept, count in (((2, 500), [2, 9], 8), ((5, 2), [5, 5], 1), ((2, 4), [2, 4], 3)):
            movie.framerange = asked
            self.assertEqual((movie.framerange, movie.nframes), (kept, count), asked)
        movie.repeat = (1, 2)
        self.assertEqual(movie.nframes, 6)
        got = [movie.getframe(k)[0] for k in range(6)]
        self.assertEqual([image.tostring() for image in got], [self.images[n].tostring() for n in (2, 2, 3, 4, 4, 4)])
        # Each frame is numbered by its place in the movie read.
        self.assertEqual([(image.framenumber, image.frame, image.origin) for image in got],
                         [(k, [6, 5], [0, 0]) for k in range(6)])
        for k in (6, -1):
            self.assertEqual((movie.getframe(k), movie.errstr()), (-1, "invalid frame number"))
        # A range set before open selects the files.
        movie = open_movie(self.path("ten.####.ppm"), framerange=(3, 6))
        self.assertEqual((movie.realframes, movie.nframes, movie.framerange), (4, 4, [0, 3]))
        self.assertEqual([movie.getframe(k)[0].tostring() for k in (0, 3)],
                         [self.images[3].tostring(), self.images[6].tostring()])

    def test_intensity_ramp_and_flip(self):
        movie = open_movie(self.path("ten.####.ppm"), intensity=(0.0, 1.0))
        self.assertEqual(set(pixels(movie.getframe(0)[0])), set([0]))
        self.assertEqual(movie.getframe(9)[0].tostring(), self.images[9].tostring())
        factor = f32(f32(1.0 / 9.0) * 5.0)
        expected = bytearray(int(f32(c * factor)) for c in pixels(self.images[5]))
        self.assertEqual(pixels(movie.getframe(5)[0]), expected)
        for axis in (1, 2, 3):
            expected = self.images[4].subrect()
            expected.flip(axis)
            self.assertEqual(open_movie(self.path("ten.####.ppm"), flip=axis).getframe(4)[0].tostring(),
                             expected.tostring())

    def test_getframe_errors(self):
        writer = new_write_movie(self.path("w.ppm"), (2, 2), 1)
        write_tiff(self.path("huge.tif"), 150000, 100000, 0)  # 45 GB of pixels
        cases = [(orvo.movie(), "open() required before getframe()"),
                 (writer, "open() required before getframe()"),
                 (open_movie(self.path("huge.tif")), "unable to allocate image")]
        for movie, message in cases:
            self.assertEqual((movie.getframe(0), movie.errstr()), (-1, message))
        writer.open()
        self.assertEqual((writer.getframe(0), writer.errstr()), (-1, "getframe() not allowed on write movie"))
        self.assertRaises(TypeError, writer.getframe, "0")


class WriteMovieTest(ScratchTestCase):
    def writer(self, name, count, dims=(6, 5), **attributes):
        return new_write_movie(self.path(name), dims, count, **attributes)

    def source(self, count=5):
        self.images = [pattern_image(6, 5, k) for k in range(count)]
        write_movie(self.path("src.####.ppm"), self.images)
        return open_movie(self.path("src.####.ppm"))

    def test_pending_count_bounds_a_movie_source(self):
        movie = self.writer("out.####.ppm", 3)
        self.assertEqual(movie.open(), 0)
        # Frames left unwritten are a failure, not a success.
        self.assertEqual(movie.append(self.source(5)), -1)
        self.assertEqual(movie.errstr(), "past maximum number of frames, close() required")
        self.assertEqual(movie.realframes, 3)
        self.assertEqual(movie.append(self.images[0]), -1)
        self.assertEqual(movie.errstr(), "past maximum number of frames, close() required")
        movie.close()
        self.assertEqual(open_movie(self.path("out.####.ppm")).nframes, 3)

    def test_conversion_and_scaling_on_append(self):
        source = pattern_image(8, 8, 5, orvo.DYX_IMG_FMT_RGBA)
        before = source.tostring()
        for smooth in (0, 1):
            movie = self.writer("small%d.ppm" % smooth, 1, dims=(4, 4))
            self.assertEqual((movie.open(), movie.append(source, smooth=smooth), movie.close()), (0, 0, 0))
            expected = orvo.image(8, 8, orvo.DYX_IMG_FMT_RGBA, before)
            expected.format = orvo.DYX_IMG_FMT_RGB
            expected.resize(4, 4, smooth)
            self.assertEqual(frames_of(self.path("small%d.ppm" % smooth)), [[expected.tostring()]])
        # The script's image is not changed.
        self.assertEqual((source.tostring(), source.format), (before, orvo.DYX_IMG_FMT_RGBA))

    def test_argument_errors(self):
        movie = self.writer("out.####.ppm", 2)
        image = pattern_image(6, 5, 0)
        self.assertEqual(movie.append(image), -1)
        self.assertEqual(movie.errstr(), "open() required before append()")
        movie.open()
        closed = self.source(2)
        closed.close()
        for source, message in (((image, image, image), "Only one or two (stereo) images allowed"),
                                ((), "Only one or two (stereo) images allowed"),
                                ((image, 5), "Tuple must contain image objects"),
                                ([image], "A tuple of image(s) or a movie object required"),
                                (5, "A tuple of image(s) or a movie object required"),
                                (closed, "the appended movie must be readonly and open")):
            self.assertEqual(movie.append(source), -1)
            self.assertEqual(movie.errstr(), message)
        self.assertEqual(movie.append(image, object=Progress()), -1)
        self.assertEqual(movie.errstr(), "A method name is required with a progress object")
        self.assertRaises(TypeError, movie.append, image, smooth="yes")
        self.assertRaises(TypeError, movie.append)
        self.assertEqual(movie.realframes, 0)  # nothing was written
        self.assertEqual(movie.append((image, pattern_image(6, 5, 1))), 0)  # mono: the left image
        movie.close()
        self.assertEqual(open_movie(self.path("out.####.ppm")).getframe(0)[0].tostring(), image.tostring())

    def test_bad_source_frames_stop_the_copy_after_the_good_ones(self):
        def other_size():
            self.assertEqual(pattern_image(7, 5, 1).save(self.path("src.0001.ppm")), 0)

        cases = [  # damage done to the source's files, status, error text, frames written
            (other_size, 12, "Mixed size images detected in movie. All images must be the same size.", 1),
            (lambda: os.remove(self.path("src.0002.ppm")), None, "Unable to read frame from movie file", 2),
        ]
        for damage, status, message, frames in cases:
            source = self.source(3)
            damage()
            movie = self.writer("out%d.####.ppm" % frames, 3)
            movie.open()
            got, text = movie.append(source), movie.errstr()
            self.assertEqual(movie.realframes, frames)
            if status is not None:
                self.assertEqual((got, text), (status, message))
            else:  # the plug-in's status, with its reason after the text
                self.assertNotIn(got, (0, -1))
                self.assertEqual(fixed_text(text), message)

    def test_mono_sources_feed_both_eyes(self):
        movie = self.writer("st.@.####.ppm", 3, stereo=1)
        movie.open()
        image = pattern_image(6, 5, 3)
        self.assertEqual(movie.append(self.source(1)), 0)  # a mono movie
        self.assertEqual(movie.append((image,)), 0)  # one image, alone or in a tuple
        self.assertEqual(movie.append(image), 0)
        movie.close()
        self.assertEqual(frames_of(self.path("st.@.####.ppm")),
                         [[expected.tostring()] * 2 for expected in (self.images[0], image, image)])

    def test_anaglyphs_from_image_pairs_and_stereo_movies(self):
        # Each mode's pixels are checked in the image library's own tests.
        left, right = (200, 100, 50), (10, 20, 30)
        write_movie(self.path("pair.@.#.ppm"), [(flat_image(3, 3, left), flat_image(3, 3, right))], stereo=1)
        cases = [  # stereo, source, the pixel written
            # Luminances: left 60 + 59 + 5.5 -> 124, right 3 + 11.8 + 3.3 -> 18.
            (1, (flat_image(3, 3, left), flat_image(3, 3, right)), [18, 124, 124]),
            (1, open_movie(self.path("pair.@.#.ppm")), [18, 124, 124]),
            (0, (flat_image(3, 3, left), flat_image(3, 3, right)), list(left)),  # not stereo: no anaglyph
        ]
        for k, (stereo, source, expected) in enumerate(cases):
            name = "ana%d.ppm" % k
            movie = self.writer(name, 1, dims=(3, 3), stereo=stereo, anaglyph=orvo.MOVIE_ANAGLYPH_REDCYAN)
            self.assertEqual((movie.open(), movie.append(source), movie.close()), (0, 0, 0))
            self.assertEqual(movie.anaglyph, orvo.MOVIE_ANAGLYPH_REDCYAN if stereo else 0)
            if isinstance(source, tuple):
                self.assertEqual(source[0].getpixel(0, 0), list(left))  # the script's image is not changed
            reader = open_movie(self.path(name))
            frame = reader.getframe(0)
            self.assertEqual((reader.stereo, len(frame)), (0, 1))  # written as a mono movie
            self.assertEqual(frame[0].getpixel(2, 2), expected, k)

    def test_answers_of_the_progress_method(self):
        # progress, its method, status (or the exception that reaches the
        # script), calls, frames written, errstr
        cases = [(Progress(), "step", 0, [0, 1, 2, 3], 4, ""),
                 (Progress({0: 1}), "step", -1, [0], 1, "Operation aborted by user"),
                 (Progress({1: -1}), "step", -1, [0, 1], 2, "Unable to call object method"),
                 (Progress({1: None}), "step", -1, [0, 1], 2, "Unable to call object method"),
                 (Progress(error=ValueError("boom")), "step", -1, [0], 1, "Unable to call object method"),
                 (Progress(), "nosuch", -1, [], 1, "Unable to call object method"),
                 (Progress(error=KeyboardInterrupt()), "step", KeyboardInterrupt, [0], 1, "Operation interrupted"),
                 (Progress(error=SystemExit(3)), "step", SystemExit, [0], 1, "Operation interrupted")]
        for number, (progress, method, status, calls, frames, message) in enumerate(cases):
            movie = self.writer("p%d.####.ppm" % number, 4)
            movie.open()
            if isinstance(status, type):
                self.assertRaises(status, movie.append, self.source(4), object=progress, method=method)
            else:
                self.assertEqual(movie.append(self.source(4), object=progress, method=method), status)
                self.assertIsNone(sys.exc_info()[0])
            self.assertEqual((progress.calls, movie.realframes, movie.errstr()), (calls, frames, message))
            # The frames before the answer are written, and read back.
            self.assertEqual((movie.close(), frames_of(self.path("p%d.####.ppm" % number))),
                             (0, [[image.tostring()] for image in self.images[:frames]]))

    def test_closing_or_reopening_a_movie_in_the_progress_method_ends_the_transfer(self):
        target_moved = "the movie was closed or reopened during append(); the remaining frames were not written"
        source_moved = ("the appended movie was closed or reopened during append(); the remaining frames were "
                        "not written")
        # the movie the method changes, whether it opens it again, under which name, errstr
        cases = [("target", False, None, target_moved),
                 ("target", True, "other.####.ppm", target_moved),
                 ("source", False, None, source_moved),
                 ("source", True, None, source_moved)]
        self.addCleanup(setattr, orvo, "threads", orvo.threads)
        for threads in (1, 2):  # on the calling thread, and written behind it
            orvo.threads = threads
            for number, (which, reopen, rename, message) in enumerate(cases):
                name = "moved%d-%d.####.ppm" % (threads, number)
                movie, source = self.writer(name, 4), self.source(4)
                self.assertEqual(movie.open(), 0)
                reopener = Reopener(movie if which == "target" else source, reopen, rename and self.path(rename))
                self.assertEqual(movie.append(source, object=reopener, method="step"), -1)
                self.assertEqual((movie.errstr(), reopener.answers), (message, [0, 0] if reopen else [0]))
                if which == "source" or reopen:
                    self.assertEqual(movie.close(), 0)
                # The two frames written before the change stay in the first
                # output, readable; none went on into another file.
                self.assertEqual(frames_of(self.path(name)), [[image.tostring()] for image in self.images[:2]])
                self.assertFalse([file for file in self.files() if file.startswith("other")])

    def test_addcount_and_resetcount(self):
        movie = orvo.movie(orvo.MOVIE_WRITE)
        steps = [  # what is added, the count it gives or -1, errstr then
            (0, -1, "cannot add less than one frame"),
            (pattern_image(7, 3, 0), 1, ""),
            (4, 5, ""),
            (2.7, 7, ""),
            (orvo.movie(), -1, "added movie object must be readonly and open"),
            (orvo.movie(orvo.MOVIE_WRITE), -1, "added movie object must be readonly and open"),
        ]
        for added, count, message in steps:
            self.assertEqual((movie.addcount(added), movie.errstr()), (count, message), repr(added))
        self.assertEqual(movie.dims, [7, 3])  # the image's
        self.assertRaises(TypeError, movie.addcount, "many")
        self.assertEqual((movie.resetcount(), movie.nframes), (0, 0))
        self.assertEqual(movie.addcount(2 ** 31 - 1), 2 ** 31 - 1)
        self.assertEqual((movie.addcount(1), movie.errstr()), (-1, "cannot add more than 2147483647 frames"))
        # A movie gives its size and rate; an image the tiling that divides it.
        source, fresh, tiled = self.source(3), orvo.movie(orvo.MOVIE_WRITE), orvo.movie(orvo.MOVIE_WRITE)
        self.assertEqual((fresh.addcount(source), fresh.dims, fresh.fps), (3, [6, 5], source.fps))
        tiled.tiling = (2, 3)
        tiled.addcount(pattern_image(7, 3, 0))  # 7 columns cannot be split in two
        self.assertEqual(tiled.tiling, [1, 3])

    def test_count_methods_on_open_and_read_movies(self):
        movie = self.writer("c.ppm", 1)
        movie.open()
        for target, when in ((orvo.movie(), "on readonly files"), (movie, "once file is open()")):
            for method, argument in (("addcount", (1,)), ("resetcount", ())):
                self.assertEqual(getattr(target, method)(*argument), -1)
                self.assertEqual(target.errstr(), "%s() not allowed %s" % (method, when))


if __name__ == "__main__":
    unittest.main()
