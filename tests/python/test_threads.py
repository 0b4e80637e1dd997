"""Python threads sharing images and movies: every result equals the
single-threaded one, a shared object is never seen half-changed, each
thread's error text is its own, and a pure-Python thread keeps running
while orvo works."""
import sys
import threading
import time
import unittest

import orvo
from movie_testing import ScratchTestCase, pattern_image, write_movie
from orvo_testing import run_python

THREADS = 4
ROUNDS = 12  # per thread: a bounded amount of work, never a time
WAIT_SECONDS = 120  # the longest any join or event wait may take


def run_threads(work, count=THREADS):
    """Runs work(index) on `count` threads; returns the exceptions raised."""
    errors = []

    def guarded(index):
        try:
            work(index)
        except Exception as error:  # reported by the test, not lost in the thread
            errors.append(error)

    threads = [threading.Thread(target=guarded, args=(i,)) for i in range(count)]
    for thread in threads:
        thread.daemon = True  # a deadlock fails the test instead of hanging the run
        thread.start()
    for thread in threads:
        thread.join(WAIT_SECONDS)
    stuck = [thread for thread in threads if thread.is_alive()]
    return errors + ["thread still running"] * len(stuck)


class SharedImageTest(unittest.TestCase):

    def test_readers_see_the_shared_image_whole(self):
        # Writers flip the image an even number of times while readers
        # copy it: every copy is the original or its mirror, never a mix.
        shared = pattern_image(64, 48, 3)
        original = shared.tostring()
        mirror = pattern_image(64, 48, 3)
        mirror.flip(orvo.DYX_FLIP_XAXIS)
        allowed = set([original, mirror.tostring()])
        seen = []

        def work(index):
            for _ in range(ROUNDS * 4):
                if index % 2:
                    shared.flip(orvo.DYX_FLIP_XAXIS)
                    shared.flip(orvo.DYX_FLIP_XAXIS)
                else:
                    seen.append(shared.tostring())

        self.assertEqual(run_threads(work), [])
        self.assertEqual(shared.tostring(), original)
        self.assertTrue(seen)
        self.assertTrue(set(seen) <= allowed)

    def test_attributes_are_read_whole(self):
        # dims reads the buffer that a resize on another thread replaces.
        shared = pattern_image(64, 48, 4)
        sizes = []

        def work(index):
            for round_number in range(ROUNDS * 4):
                if index % 2:
                    shared.dims = (32, 24) if round_number % 2 else (64, 48)
                else:
                    sizes.append(tuple(shared.dims))

        self.assertEqual(run_threads(work), [])
        self.assertTrue(set(sizes) <= set([(32, 24), (64, 48)]), set(sizes))

    def test_images_copied_into_each_other_never_deadlock(self):
        # Each call reads the other image's buffer while its own changes.
        pair = [pattern_image(40, 30, 1), pattern_image(40, 30, 2)]
        rgb = orvo.DYX_IMG_FMT_RGB

        def work(index):
            mine, other = pair[index % 2], pair[1 - index % 2]
            for _ in range(ROUNDS * 4):
                mine.fromstring(other, 40, 30, rgb)
                mine.blend(other, 1, 1, 0, 0, (0, 0, 0, 0), 0)

        self.assertEqual(run_threads(work), [])
        self.assertEqual(pair[0].dims, [40, 30])

    def test_operations_match_the_single_threaded_results(self):
        source = pattern_image(97, 61, 5)
        other = pattern_image(97, 61, 9)
        operations = [
            ("resize", lambda im: im.resize(40, 30)),
            ("smooth resize", lambda im: im.resize(150, 90, orvo.DYX_SCALE_SMOOTH)),
            ("grey", lambda im: setattr(im, "format", orvo.DYX_IMG_FMT_L)),
            ("swizzle", lambda im: im.swizzle((2, 1, 0, 3), (1, 1, 1, 1))),
            ("blend", lambda im: im.blend(other, 3, 1, 4, 1, (0, 0, 0, 0), 0)),
            ("bitblt", lambda im: im.bitblt(other, (5, 5), (40, 30), (0, 0), (80, 60), 0, (0, 0, 0, 0))),
            ("diff", lambda im: im.fromstring(im.diff(other, 1).tostring(), 97, 61, orvo.DYX_IMG_FMT_RGB)),
        ]

        def result(operation):
            copy = source.subrect()
            operation(copy)
            return copy.tostring()

        expected = [result(operation) for _, operation in operations]
        got = {}

        def work(index):
            for round_number in range(ROUNDS):
                k = (index + round_number) % len(operations)
                got.setdefault(k, set()).add(result(operations[k][1]))

        self.assertEqual(run_threads(work), [])
        for k, (name, _) in enumerate(operations):
            self.assertEqual(got.get(k), set([expected[k]]), name)

    def test_thread_setting_keeps_results(self):
        self.assertTrue(orvo.threads >= 1)
        source = pattern_image(301, 203, 7)
        results = []
        before = orvo.threads
        try:
            for count in (1, 2, 3, 0):
                orvo.threads = count
                copy = source.subrect()
                copy.resize(150, 101, orvo.DYX_SCALE_SMOOTH)
                copy.format = orvo.DYX_IMG_FMT_L
                results.append(copy.tostring())
        finally:
            orvo.threads = before
        self.assertEqual(len(set(results)), 1)


class ThreadSettingStartTest(unittest.TestCase):

    def test_environment_variable_gives_the_start_value(self):
        def start_value(setting):
            status, out, err = run_python("import orvo; print(orvo.threads)", ORVO_THREADS=setting)
            self.assertEqual(status, 0, err)
            return int(out)

        cores = start_value(None)
        self.assertTrue(cores >= 1)
        for setting, expected in [("3", 3), ("1", 1), ("256", 256), ("0", cores), ("257", cores),
                                  ("two", cores), ("", cores)]:
            self.assertEqual(start_value(setting), expected, setting)


class SharedMovieTest(ScratchTestCase):

    def test_one_read_movie_shared_by_threads(self):
        frames = [pattern_image(32, 24, seed) for seed in range(8)]
        write_movie(self.path("shared.####.png"), frames)
        movie = orvo.movie()
        movie.filename = self.path("shared.####.png")
        self.assertEqual(movie.open(), 0, movie.errstr())
        expected = [frame.tostring() for frame in frames]
        wrong = []

        def work(index):
            for round_number in range(ROUNDS):
                k = (index * 3 + round_number * 5) % len(frames)
                image = movie.getframe(k)[0]
                if image.tostring() != expected[k]:
                    wrong.append(k)

        self.assertEqual(run_threads(work), [])
        self.assertEqual(movie.close(), 0)
        self.assertEqual(wrong, [])

    def test_each_thread_writes_its_own_movie(self):
        # name, options, frames; each thread's files read back as the
        # main thread's do
        cases = [("t%d.####.png", "", 5), ("t%d.####.ppm", "", 5), ("t%d.png", "", 1),
                 ("t%d.mkv", "codec ffv1", 5)]
        frames = [pattern_image(40, 30, seed) for seed in range(5)]

        def write_and_read(name, options, count):
            write_movie(self.path(name), frames[:count], options=options)
            movie = orvo.movie()
            movie.filename = self.path(name)
            if movie.open() != 0:
                raise AssertionError(movie.errstr())
            pixels = [movie.getframe(k)[0].tostring() for k in range(movie.nframes)]
            movie.close()
            return pixels

        expected = [write_and_read(name % 99, options, count) for name, options, count in cases]

        def work(index):
            for round_number in range(2):
                k = (index + round_number) % len(cases)
                name, options, count = cases[k]
                if write_and_read(name % (index * 10 + round_number), options, count) != expected[k]:
                    raise AssertionError("%s differs" % name)

        self.assertEqual(run_threads(work), [])

    def test_progress_callback_may_use_its_own_movie(self):
        # The callback runs inside append, which holds both movies' locks.
        frames = [pattern_image(16, 12, seed) for seed in range(3)]
        write_movie(self.path("in.####.png"), frames)
        source = orvo.movie()
        source.filename = self.path("in.####.png")
        self.assertEqual(source.open(), 0)
        target = orvo.movie(orvo.MOVIE_WRITE)
        target.filename = self.path("out.####.png")
        target.dims = (16, 12)
        target.addcount(3)
        self.assertEqual(target.open(), 0)
        seen = []

        class Progress(object):
            def step(self, k):
                seen.append((k, len(source), target.errstr(), source.getframe(0)[0].dims))
                return 0

        done = []

        def append_all():
            done.append(target.append(source, object=Progress(), method="step"))

        worker = threading.Thread(target=append_all)
        worker.daemon = True  # a deadlock fails the test instead of hanging the run
        worker.start()
        worker.join(WAIT_SECONDS)
        self.assertEqual(done, [0])
        self.assertEqual(len(seen), 3)
        self.assertEqual(seen[0][1:], (3, "", [16, 12]))
        self.assertEqual(target.close(), 0)
        source.close()

    def test_error_texts_stay_with_their_thread(self):
        texts = {}

        def work(index):
            image = orvo.image(8, 8)
            name = self.path("missing-%d.png" % index)
            for _ in range(ROUNDS):
                if image.load(name) != -2:
                    raise AssertionError("load of a missing file succeeded")
                texts.setdefault(index, set()).add(image.errstr())

        self.assertEqual(run_threads(work), [])
        for index, seen in texts.items():
            self.assertEqual(len(seen), 1, seen)
            text = seen.pop()
            self.assertTrue(text.startswith("Unable to open the file."), text)
            self.assertIn("missing-%d.png" % index, text)


def set_switch_interval(seconds):
    """How long a thread may keep the interpreter's lock while others wait;
    returns the old setting's restorer."""
    if hasattr(sys, "setswitchinterval"):
        old = sys.getswitchinterval()
        sys.setswitchinterval(seconds)
        return lambda: sys.setswitchinterval(old)
    old = sys.getcheckinterval()  # Python 2.7 counts instructions instead
    sys.setcheckinterval(int(seconds * 1e6))
    return lambda: sys.setcheckinterval(old)


class PythonThreadProgressTest(ScratchTestCase):
    """A pure-Python thread counts while one orvo call runs. The interpreter
    is told never to take the lock away from a running thread, so the count
    moves during the call only when orvo lets go of the lock itself."""

    def counting_thread(self):
        count = [0]
        started = threading.Event()
        stop = threading.Event()

        def count_up():
            while not stop.is_set():
                count[0] += 1
                if count[0] == 1000:
                    started.set()
                time.sleep(0)  # hands the lock back at once: a yield, no waiting

        self.addCleanup(set_switch_interval(1000.0))
        thread = threading.Thread(target=count_up)
        thread.start()
        self.addCleanup(thread.join, WAIT_SECONDS)
        self.addCleanup(stop.set)
        self.assertTrue(started.wait(WAIT_SECONDS))
        return count

    def assert_progress_during(self, call):
        count = self.counting_thread()
        for _ in range(50):  # a bound, not a time: one call with progress suffices
            before = count[0]
            call()
            if count[0] > before:
                return
        self.fail("the Python thread never ran during the call")

    def test_scaling(self):
        big = pattern_image(1200, 900, 1)
        self.assert_progress_during(lambda: big.subrect().resize(400, 300, orvo.DYX_SCALE_SMOOTH))

    def test_saving_and_loading(self):
        big = pattern_image(800, 600, 2)
        path = self.path("big.png")
        self.assert_progress_during(lambda: big.save(path))
        reader = orvo.image()
        self.assert_progress_during(lambda: reader.load(path))
        self.assertEqual(reader.tostring(), big.tostring())

    def test_reading_a_movie(self):
        frames = [pattern_image(640, 480, seed) for seed in range(2)]
        write_movie(self.path("m.####.png"), frames)
        movie = orvo.movie()
        movie.filename = self.path("m.####.png")
        self.assertEqual(movie.open(), 0)
        self.addCleanup(movie.close)
        self.assert_progress_during(lambda: movie.getframe(1))


if __name__ == "__main__":
    unittest.main()
