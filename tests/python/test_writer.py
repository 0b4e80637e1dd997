"""Writing without a count (orvo.open(path, "w"), orvo.MovieWriter), exact
rates and frame times, progress callables, stacks, grey arrays and codec
options as keywords; the files are read back with PyAV (and Pillow)."""
import errno
import fractions
import io
import os
import sys
import unittest
import warnings

import orvo
from movie_testing import (ScratchTestCase, flat_image, mount_tmpfs, noisy_image, pattern_image, pixels,
                           unmount)

try:
    import av
except ImportError:
    av = None

try:
    import numpy
except ImportError:
    numpy = None

try:
    from PIL import Image
except ImportError:
    Image = None

try:
    import tqdm
except ImportError:
    tqdm = None

Fraction = fractions.Fraction
needs_av = unittest.skipIf(av is None, "PyAV is not installed for this interpreter (the reference reader)")
needs_numpy = unittest.skipIf(numpy is None, "NumPy is not installed for this interpreter")


def av_movie(path_or_data):
    """(rate, [frame times], [top-left red value of each frame], (width,
    height)) of a movie file (or its bytes) as PyAV decodes it."""
    source = io.BytesIO(path_or_data) if isinstance(path_or_data, bytes) else path_or_data
    with av.open(source) as container:
        stream = container.streams.video[0]
        times, reds = [], []
        size = (stream.codec_context.width, stream.codec_context.height)
        for frame in container.decode(stream):
            times.append(Fraction(frame.pts) * stream.time_base)
            reds.append(int(frame.to_ndarray(format="rgb24")[0, 0, 0]))
        return Fraction(stream.average_rate), times, reds, size


def level(number):
    """The flat grey level that marks frame `number` (far apart, so lossy
    codecs keep them apart)."""
    return (number * 37) % 250


def marked_frames(count, width=32, height=16):
    """A generator of flat frames, each marked by its level."""
    for number in range(count):
        yield flat_image(width, height, (level(number),) * 3)


def nearest_mark(value, count):
    return min(range(count), key=lambda number: abs(level(number) - value))


class WriteWithoutCountTest(ScratchTestCase):
    @needs_av
    def test_generator_frames_are_all_written_with_the_first_frames_size(self):
        cases = [("gen.mp4", 7), ("gen.mkv", 5), ("gen.mov", 3), ("gen.avi", 4)]
        for name, count in cases:
            path = self.path(name)
            with orvo.open(path, "w") as writer:
                for picture in marked_frames(count, 48, 32):
                    writer.append(picture)
                self.assertEqual(len(writer), count)
            rate, times, reds, size = av_movie(path)
            self.assertEqual((rate, len(times), size), (30, count, (48, 32)), name)
            self.assertEqual([nearest_mark(red, count) for red in reds], list(range(count)), name)

    def test_sequences_take_frames_until_their_numbers_run_out(self):
        with orvo.open(self.path("seq_#.png"), "w") as writer:
            for picture in marked_frames(10, 8, 6):
                writer.append(picture)
            self.assertRaises(orvo.Error, writer.append, flat_image(8, 6, (1, 2, 3)))
        self.assertEqual(len(self.files()), 10)
        if Image is not None:
            self.assertEqual(Image.open(self.path("seq_9.png")).size, (8, 6))
        # One picture without a run of # takes one frame.
        with orvo.open(self.path("one.jpg"), "w") as writer:
            writer.append(flat_image(8, 6, (1, 2, 3)))
            self.assertRaises(orvo.Error, writer.append, flat_image(8, 6, (1, 2, 3)))

    @needs_av
    def test_past_the_count_raises_and_keeps_the_frames_before(self):
        path = self.path("three.mp4")
        with self.assertRaises(orvo.Error) as caught:
            with orvo.open(path, "w", dims=(32, 16), nframes=3) as writer:
                for picture in marked_frames(4):
                    writer.append(picture)
        self.assertIn("past maximum number of frames", str(caught.exception))
        self.assertEqual(len(av_movie(path)[1]), 3)

    def test_failures_raise_and_an_empty_writer_makes_no_file(self):
        writer = orvo.open(self.path("no/such/dir/x.mp4"), "w")
        self.assertRaises(orvo.Error, writer.append, flat_image(8, 6, (1, 2, 3)))
        writer = orvo.open(self.path("empty.mp4"), "w")
        writer.close()
        writer.close()  # closing again does nothing
        self.assertEqual(self.files(), [])
        self.assertRaises(TypeError, orvo.open, self.path("x.mp4"), "r", nframes=3)


class FullDiskTest(ScratchTestCase):
    def setUp(self):
        ScratchTestCase.setUp(self)
        self.addCleanup(ScratchTestCase.tearDown, self)  # after the unmount below
        refused = mount_tmpfs(self.dir, "size=600k")
        if refused:
            self.skipTest("mounting a tmpfs was refused: %s" % refused)
        self.addCleanup(unmount, self.dir)

    def tearDown(self):
        pass  # the cleanups above

    def test_a_full_disk_raises_and_keeps_the_frames_written(self):
        pictures = [noisy_image(160, 120, seed) for seed in range(3)]
        path = self.path("full.mkv")
        with self.assertRaises(orvo.Error) as caught:
            with orvo.open(path, "w", codec="ffv1") as writer:
                for number in range(400):
                    writer.append(pictures[number % 3])
        self.assertEqual(caught.exception.errno, errno.ENOSPC, str(caught.exception))
        self.assertGreater(len(writer), 0)
        if av is not None:
            self.assertGreaterEqual(len(av_movie(path)[1]), 1)


class RatesAndTimesTest(ScratchTestCase):
    @needs_av
    def test_rates_are_written_and_read_exactly(self):
        cases = [
            ({}, Fraction(30)),
            ({"fps": 25}, Fraction(25)),
            ({"fps": 120}, Fraction(120)),  # above the movie's fps ceiling of 60
            ({"fps": 1000}, Fraction(1000)),
            ({"fps": 12.5}, Fraction(25, 2)),
            ({"rate": Fraction(30000, 1001)}, Fraction(30000, 1001)),
            ({"rate": (24000, 1001)}, Fraction(24000, 1001)),
            ({"fps": 29.97002997}, Fraction(30000, 1001)),
            ({"rate": Fraction(15000, 1001)}, Fraction(15000, 1001)),
            ({"rate": Fraction(1000, 3)}, Fraction(1000, 3)),
            ({"rate": 0.5}, Fraction(1, 2)),
        ]
        for attributes, expected in cases:
            path = self.path("rate.mp4")
            with orvo.open(path, "w", **attributes) as writer:
                for picture in marked_frames(4):
                    writer.append(picture)
            rate, times, _, _ = av_movie(path)
            self.assertEqual(rate, expected, attributes)
            self.assertEqual(times, [number / expected for number in range(4)], attributes)
            with orvo.open(path) as movie:
                self.assertEqual(movie.rate, expected, attributes)
                self.assertIsInstance(movie.rate, Fraction)
                self.assertAlmostEqual(movie.fps, float(expected), 3)

    @needs_av
    def test_a_copy_keeps_the_source_rate(self):
        source_path, copy_path = self.path("source.mp4"), self.path("copy.mp4")
        with orvo.open(source_path, "w", fps=25) as writer:
            for picture in marked_frames(10):
                writer.append(picture)
        with orvo.open(source_path) as source:
            with orvo.open(copy_path, "w", dims=source.dims, nframes=len(source)) as target:
                target.append(source)
            with orvo.open(self.path("given.mp4"), "w", fps=50) as target:  # fps= wins
                target.append(source)
        rate, times, reds, _ = av_movie(copy_path)
        self.assertEqual((rate, len(times), times[-1]), (25, 10, Fraction(9, 25)))
        self.assertEqual([nearest_mark(red, 10) for red in reds], list(range(10)))
        self.assertEqual(av_movie(self.path("given.mp4"))[0], 50)

    def test_the_rate_attribute_checks_its_value(self):
        movie = orvo.movie(orvo.MOVIE_WRITE)
        self.assertIsNone(movie.rate)
        movie.fps = 100
        self.assertEqual(movie.fps, 60.0)  # the fps attribute keeps its ceiling
        movie.rate = 100
        self.assertEqual((movie.rate, movie.fps), (100, 100.0))
        for bad in (0, 0.25, 1001, (1, 0), -5):
            self.assertRaises(ValueError, setattr, movie, "rate", bad)
        self.assertRaises(AttributeError, setattr, orvo.movie(), "rate", 25)
        self.assertNotIn("rate", movie.__members__)
        self.assertIn("rate", dir(movie))

    @needs_av
    def test_frame_times_and_frames_at_times_match_pyav(self):
        path = self.path("ntsc.mp4")  # an MP4's time base is 1/30000 here: exact times
        count = 40
        with orvo.open(path, "w", rate=Fraction(30000, 1001)) as writer:
            for picture in marked_frames(count):
                writer.append(picture)
        rate, times, reds, _ = av_movie(path)
        self.assertEqual(rate, Fraction(30000, 1001))
        with orvo.open(path) as movie:
            for number, time in enumerate(times):
                self.assertAlmostEqual(movie.frametime(number), float(time), 9)
                self.assertEqual(movie.frameat(float(time)), number)
                self.assertEqual(movie.frameat(float(time) + 0.5 / 30), number)  # half a frame on
            self.assertAlmostEqual(movie.frametime(-1), float(times[-1]), 9)
            self.assertEqual(movie.frameat(1.0), 29)  # 29.97 frames have begun at 1 s
            self.assertEqual(pixels(movie[-1][0]), pixels(movie[count - 1][0]))
        # imread at a time and imiter over a span, against PyAV's frames.
        cases = [(0.0, None), (0.5, 1.0), (0.51, 0.52), (1.2, None), (None, 0.1)]
        for start, end in cases:
            shown = [number for number, time in enumerate(times)
                     if (start is None or times[number] + 1 / rate > start) and (end is None or time < end)]
            got = [self.red_of(frame) for frame in orvo.imiter(path, start=start, end=end)]
            self.assertEqual(got, [reds[number] for number in shown], (start, end))
            if start is not None:
                self.assertEqual(self.red_of(orvo.imread(path, start=start)), reds[shown[0]], start)
        self.assertEqual(self.red_of(orvo.imread(path, -1)), reds[-1])
        self.assertEqual(self.red_of(orvo.imread(path, -count)), reds[0])
        self.assertRaises(orvo.Error, orvo.imread, path, -count - 1)

    @staticmethod
    def red_of(frame):
        """The top-left red value of what imread and imiter give."""
        if numpy is not None:
            return int(frame[0, 0, 0])
        return bytearray(frame.getpixel(0, frame.dims[1] - 1))[0]


class ProgressCallablesTest(ScratchTestCase):
    def source(self, count=5):
        path = self.path("source_#.png")
        with orvo.open(path, "w") as writer:
            for picture in marked_frames(count):
                writer.append(picture)
        return orvo.open(path)

    def test_any_callable_reports_progress(self):
        class Bar(object):
            def __init__(self):
                self.seen = []

            def update(self, number):
                self.seen.append(number)
                return 0  # a method's None fails, as it always has

        def fails(number):
            raise ValueError("no")

        bar = Bar()
        seen = []
        cases = [  # progress, (append's result, frames written, its error text)
            (seen.append, (0, 5, "")),
            (lambda number: 0, (0, 5, "")),
            (lambda number: True, (0, 5, "")),  # a progress bar's update may say it drew
            (lambda number: 1 if number == 2 else None, (-1, 3, "Operation aborted by user")),
            (lambda number: -1, (-1, 1, "Unable to call object method")),
            (fails, (-1, 1, "Unable to call object method")),
            ((bar, "update"), (0, 5, "")),  # an object and a method name, as before
        ]
        for progress, expected in cases:
            source = self.source()
            target = orvo.movie(orvo.MOVIE_WRITE)
            target.filename = self.path("out_#.png")
            target.addcount(source)
            self.assertEqual(target.open(), 0)
            arguments = progress if isinstance(progress, tuple) else (progress,)
            status = target.append(source, *arguments)
            written = target.realframes
            self.assertEqual((status, written, target.errstr()), expected, progress)
            target.close()
            source.close()
        self.assertEqual(seen, [0, 1, 2, 3, 4])
        self.assertEqual(bar.seen, [0, 1, 2, 3, 4])

    @unittest.skipIf(tqdm is None, "tqdm is not installed for this interpreter")
    def test_a_progress_bars_update_goes_on(self):
        # tqdm's update returns True when it redraws and None otherwise.
        with self.source(4) as source:
            bar = tqdm.tqdm(total=6, file=io.StringIO(), mininterval=0)
            with orvo.open(self.path("bar_#.png"), "w") as writer:
                writer.append(source, bar.update)
            self.assertEqual((len(writer), bar.n), (4, 0 + 1 + 2 + 3))
            bar.close()

    def test_references_are_given_back(self):
        # Guards against the progress callable, its answers or a rate
        # keeping a reference per call.
        progress, answer, rate = [].append, 7, Fraction(24000, 1001)
        with self.source(3) as source:
            counts = [sys.getrefcount(item) for item in (progress, answer, rate)]
            for _ in range(20):
                target = orvo.movie(orvo.MOVIE_WRITE)
                target.filename = self.path("refs_#.png")
                target.rate = rate
                target.rate
                target.addcount(source)
                target.open()
                target.append(source, progress)
                target.append(source, lambda number: answer)
                target.close()
            self.assertEqual([sys.getrefcount(item) for item in (progress, answer, rate)], counts)

    def test_a_writer_raises_when_progress_stops_it(self):
        with self.source() as source:
            writer = orvo.open(self.path("stopped_#.png"), "w")
            self.assertRaises(orvo.Error, writer.append, source, lambda number: number == 1 and 1)
            self.assertEqual(len(writer), 2)
            writer.close()


class ArraysAndKeywordsTest(ScratchTestCase):
    @needs_av
    @needs_numpy
    def test_stacks_and_grey_arrays_write_movies_and_sequences(self):
        colour = numpy.zeros((6, 16, 24, 3), numpy.uint8)
        colour[:, :, :, 0] = numpy.array([level(n) for n in range(6)], numpy.uint8)[:, None, None]
        grey_stack = numpy.array([numpy.full((16, 24), level(n), numpy.uint8) for n in range(4)])
        cases = [  # name, data, keywords, frames, size
            ("stack.mp4", colour, {"fps": 25}, 6, (24, 16)),
            ("greys.mp4", grey_stack, {}, 4, (24, 16)),
            ("grey.mp4", grey_stack[2], {}, 1, (24, 16)),
            ("listed.mkv", list(colour[:3]), {}, 3, (24, 16)),
        ]
        for name, data, keywords, count, size in cases:
            orvo.imwrite(self.path(name), data, **keywords)
            rate, times, reds, got_size = av_movie(self.path(name))
            self.assertEqual((len(times), got_size), (count, size), name)
            self.assertEqual(rate, keywords.get("fps", 30), name)
        self.assertLess(abs(av_movie(self.path("grey.mp4"))[2][0] - level(2)), 4)
        orvo.imwrite(self.path("stack_#.png"), colour)
        self.assertEqual(len([name for name in self.files() if name.startswith("stack_")]), 6)
        if Image is not None:
            self.assertEqual(Image.open(self.path("stack_5.png")).getpixel((0, 0)), (level(5), 0, 0))

    @needs_av
    def test_keywords_are_codec_options(self):
        stack = [noisy_image(64, 48, seed) for seed in range(3)]
        orvo.imwrite(self.path("prores.mov"), stack, codec="prores")
        orvo.imwrite(self.path("fine.mp4"), stack, crf=10)
        orvo.imwrite(self.path("coarse.mp4"), stack, crf=45, preset="ultrafast")
        with av.open(self.path("prores.mov")) as container:
            self.assertEqual(container.streams.video[0].codec_context.name, "prores")
        self.assertGreater(os.path.getsize(self.path("fine.mp4")), 2 * os.path.getsize(self.path("coarse.mp4")))
        orvo.imwrite(self.path("fine.jpg"), stack[0], quality=95)
        orvo.imwrite(self.path("coarse.jpg"), stack[0], "", quality=10)
        self.assertGreater(os.path.getsize(self.path("fine.jpg")), 2 * os.path.getsize(self.path("coarse.jpg")))
        if Image is not None:
            self.assertEqual(Image.open(self.path("coarse.jpg")).size, (64, 48))
        with orvo.open(self.path("kw.mov"), "w", codec="prores") as writer:
            writer.append(stack[0])
        with av.open(self.path("kw.mov")) as container:
            self.assertEqual(container.streams.video[0].codec_context.name, "prores")
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            orvo.imwrite(self.path("warned.png"), pattern_image(4, 4, 1), bogus=3)
        self.assertEqual([str(warning.message) for warning in caught], ["warning: unknown option: bogus"])
        self.assertTrue(os.path.exists(self.path("warned.png")))


if __name__ == "__main__":
    unittest.main()
