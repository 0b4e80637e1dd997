"""Python threads sharing images and movies: every result equals the
single-threaded one, a shared object is never seen half-changed, each
thread's error text is its own, and a pure-Python thread keeps running
while orvo works."""
import itertools
import sys
import threading
import time
import unittest

import orvo
from movie_testing import ScratchTestCase, new_write_movie, open_movie, pattern_image, write_movie
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
    return errors + ["thread still running"] * len([thread for thread in threads if thread.is_alive()])


def flipped(image):
    image.flip(orvo.DYX_FLIP_XAXIS)
    return image


class SharedImageTest(unittest.TestCase):

    def test_readers_see_the_shared_image_whole(self):
        # Odd threads change the image and back while even ones read it:
        # every read sees one state or the other, never a mix. The first
        # allowed state is the one the writers leave.
        def resize(image, round_number):
            image.dims = (32, 24) if round_number % 2 else (64, 48)

        cases = [  # image, change, read, allowed
            (pattern_image(64, 48, 3), lambda image, _: flipped(flipped(image)), lambda image: image.tostring(),
             [pattern_image(64, 48, 3).tostring(), flipped(pattern_image(64, 48, 3)).tostring()]),
            (pattern_image(64, 48, 4), resize, lambda image: tuple(image.dims), [(32, 24), (64, 48)]),
        ]
        for shared, change, read, allowed in cases:
            seen = []

            def work(index):
                for round_number in range(ROUNDS * 4):
                    if index % 2:
                        change(shared, round_number)
                    else:
                        seen.append(read(shared))

            self.assertEqual(run_threads(work), [])
            self.assertEqual(read(shared), allowed[0])
            self.assertTrue(seen and set(seen) <= set(allowed), set(seen))

    def test_images_copied_into_each_other_never_deadlock(self):
        # Each call reads the other image's buffer while its own changes.
        pair = [pattern_image(40, 30, 1), pattern_image(40, 30, 2)]

        def work(index):
            mine, other = pair[index % 2], pair[1 - index % 2]
            for _ in range(ROUNDS * 4):
                mine.fromstring(other, 40, 30, orvo.DYX_IMG_FMT_RGB)
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

        self.addCleanup(setattr, orvo, "threads", orvo.threads)
        orvo.threads = 1
        expected = [result(operation) for _, operation in operations]
        orvo.threads = 0  # the threads below share a worker per core
        got = {}

        def work(index):
            for round_number in range(ROUNDS):
                k = (index + round_number) % len(operations)
                got.setdefault(k, set()).add(result(operations[k][1]))

        self.assertEqual(run_threads(work), [])
        for k, (name, _) in enumerate(operations):
            self.assertEqual(got.get(k), set([expected[k]]), name)

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

    def test_threads_share_a_read_movie_and_write_their_own(self):
        frames = [pattern_image(40, 30, seed) for seed in range(5)]
        write_movie(self.path("shared.####.png"), frames)
        shared = open_movie(self.path("shared.####.png"))
        # name, options, frames; each thread's files read back as the main thread's do
        cases = [("t%d.####.png", "", 5), ("t%d.####.ppm", "", 5), ("t%d.png", "", 1), ("t%d.mkv", "codec ffv1", 5)]

        def write_and_read(name, options, count):
            write_movie(self.path(name), frames[:count], options=options)
            with open_movie(self.path(name)) as movie:
                return [frame[0].tostring() for frame in movie]

        expected = [write_and_read(name % 99, options, count) for name, options, count in cases]

        def work(index):
            for round_number in range(ROUNDS):
                k = (index * 3 + round_number * 5) % len(frames)
                if shared.getframe(k)[0].tostring() != frames[k].tostring():
                    raise AssertionError("frame %d of the shared movie differs" % k)
                if round_number < 2:
                    k = (index + round_number) % len(cases)
                    name, options, count = cases[k]
                    if write_and_read(name % (index * 10 + round_number), options, count) != expected[k]:
                        raise AssertionError("%s differs" % name)

        self.assertEqual(run_threads(work), [])
        self.assertEqual(shared.close(), 0)

    def test_progress_callback_may_use_its_own_movie(self):
        # The callback runs inside append, which holds both movies' locks.
        write_movie(self.path("in.####.png"), [pattern_image(16, 12, seed) for seed in range(3)])
        source = open_movie(self.path("in.####.png"))
        target = new_write_movie(self.path("out.####.png"), (16, 12), 3)
        self.assertEqual(target.open(), 0)
        seen = []

        class Progress(object):
            def step(self, k):
                seen.append((k, len(source), target.errstr(), source.getframe(0)[0].dims))
                return 0

        done = []
        self.assertEqual(run_threads(lambda _: done.append(target.append(source, object=Progress(), method="step")),
                                     1), [])
        self.assertEqual((done, len(seen), seen[0][1:], target.close()), ([0], 3, (3, "", [16, 12]), 0))
        source.close()

    def test_error_texts_stay_with_their_thread(self):
        texts = {}

        def missing(index):
            return self.path("missing-%d.png" % index)

        def work(index):
            image = orvo.image(8, 8)
            for _ in range(ROUNDS):
                texts.setdefault(index, set()).add((image.load(missing(index)), image.errstr()))

        self.assertEqual(run_threads(work), [])
        self.assertEqual(texts, dict((index, set([(-2, "Unable to open the file.: %s: No such file or directory"
                                                   % missing(index))])) for index in range(THREADS)))


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

    def test_long_calls_let_python_threads_run(self):
        large, big = pattern_image(1200, 900, 1), pattern_image(800, 600, 2)
        path = self.path("big.png")
        write_movie(self.path("m.####.png"), [pattern_image(640, 480, seed) for seed in range(2)])
        movie = open_movie(self.path("m.####.png"))
        self.addCleanup(movie.close)
        reader = orvo.image()
        # Scaling alternates between two sizes: a copy made for each call
        # would let the thread run during the copy instead.
        sizes = itertools.cycle([(400, 300, orvo.DYX_SCALE_SMOOTH), (1200, 900, orvo.DYX_SCALE_SMOOTH)])
        calls = [("scaling", lambda: large.resize(*next(sizes))),
                 ("saving", lambda: big.save(path)), ("loading", lambda: reader.load(path)),
                 ("reading a movie", lambda: movie.getframe(1))]
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
        for name, call in calls:
            for _ in range(50):  # a bound, not a time: one call with progress suffices
                before = count[0]
                call()
                if count[0] > before:
                    break
            else:
                self.fail("the Python thread never ran during " + name)
        self.assertEqual(reader.tostring(), big.tostring())


if __name__ == "__main__":
    unittest.main()
