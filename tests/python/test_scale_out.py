"""Conversions on a Dask cluster of 2 worker processes against the
single-process conversion: the same files, byte for byte where the codec
is deterministic, and no stray file after a failure or an interruption."""
import os
import signal
import socket
import subprocess
import sys
import threading
import unittest
from contextlib import closing

import orvo
from movie_testing import ScratchTestCase, open_movie, pattern_image, pixels, wait_until, write_movie
from orvo_testing import UNDER_VALGRIND, BoundedChild, have_command, run_bounded

try:
    import distributed
except ImportError:  # Python 2.7, or no python3-distributed
    distributed = None
try:
    import numpy
except ImportError:
    numpy = None

SKIP_REASON = "scale-out needs Python 3 with Dask distributed (python3-distributed)"
WAIT_SECONDS = 120  # bound of every wait on the cluster or a child process


def noise_sequence(directory, name, count, width, height):
    """Frames of random bytes: slow to encode, so a task lasts a while."""
    for k in range(count):
        image = orvo.image(width, height, orvo.DYX_IMG_FMT_RGB, os.urandom(width * height * 3))
        assert image.save(os.path.join(directory, "%s.%04d.png" % (name, k))) == 0
    return os.path.join(directory, name + ".####.png")


@unittest.skipUnless(sys.version_info[0] >= 3 and distributed is not None, SKIP_REASON)
@unittest.skipIf(UNDER_VALGRIND, "the conversions run in the cluster's worker processes, which memcheck does not "
                                 "follow; under it only the coordinator would be checked, at great cost in time")
class ScaleOutTest(ScratchTestCase):
    needed_codecs = ("png", "ffmpeg")

    @classmethod
    def setUpClass(cls):
        from distributed import Client, LocalCluster
        # Worker processes inherit the environment (QEV_UDILPATH, PYTHONPATH)
        # and this interpreter's path, which holds the command's package.
        cls.cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None)
        try:
            cls.client = Client(cls.cluster, timeout=WAIT_SECONDS)
        except BaseException:
            cls.cluster.close(timeout=WAIT_SECONDS)
            raise

    @classmethod
    def tearDownClass(cls):
        try:
            cls.client.close(timeout=WAIT_SECONDS)
        finally:
            cls.cluster.close(timeout=WAIT_SECONDS)

    def setUp(self):
        ScratchTestCase.setUp(self)
        for k in range(24):
            for name, image in (("in", pattern_image(64, 48, k)), ("right", pattern_image(64, 48, 99 - k)),
                                ("rgba", pattern_image(64, 48, k, orvo.DYX_IMG_FMT_RGBA))):
                self.assertEqual(image.save(self.path("%s.%04d.png" % (name, k))), 0)

    def convert(self, inputs, output, workers, **options):
        from orvo.cli import scale_out
        inputs = [self.path(name) for name in inputs]
        if workers:
            return scale_out.convert(inputs, self.path(output), client=self.client, **options)
        from orvo.cli import cmd_convert
        args = scale_out._arguments(inputs + [self.path(output)], options)
        args.workers = None
        self.assertEqual(cmd_convert.run(args), 0)

    def test_outputs_are_byte_identical(self):
        cases = [
            ("sequence", ["in.####.png"], "o.####.png", {}),
            ("read options", ["in.####.png"], "o.####.png",
             {"frames": (2, 17), "repeat": (1, 2), "flip": "y", "ramp": (0.2, 1.0)}),
            ("scaled after flip and ramp", ["in.####.png"], "o.####.png",
             {"size": (40, 30), "smooth": True, "flip": "xy", "ramp": (0.1, 0.8)}),
            ("stereo pair", ["in.####.png", "right.####.png"], "o.####@.png", {}),
            ("pictures in their own layout", ["rgba.####.png"], "o.####.png", {"size": (32, 24)}),
            ("2x2 tiles, lossless", ["in.####.png"], "o.avi",
             {"tiles": (2, 2), "codec": "ffmpeg", "options": "codec ffv1", "size": (48, 36), "flip": "x"}),
        ]
        for label, inputs, output, options in cases:
            results = []
            for workers in (0, 2):
                out = self.path("%s-%d" % (label.replace(" ", "_"), workers))
                os.mkdir(out)
                self.convert(inputs, os.path.join(out, output), workers, **options)
                results.append(dict((name, open(os.path.join(out, name), "rb").read()) for name in os.listdir(out)))
            self.assertTrue(results[0], label)
            self.assertEqual(sorted(results[0]), sorted(results[1]), label)
            for name in results[0]:
                self.assertEqual(results[0][name], results[1][name], "%s: %s differs" % (label, name))

    @unittest.skipUnless(have_command("ffprobe"), "the checks read the movie with ffprobe")
    def test_h264_segments_join_into_one_movie(self):
        self.convert(["in.####.png"], "single.mp4", 0)
        self.assertEqual(self.convert(["in.####.png"], "joined.mp4", 2, segment_frames=8), 24)
        probe = ["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries", "frame=key_frame",
                 "-of", "csv=p=0", self.path("joined.mp4")]
        status, out, err = run_bounded(probe, WAIT_SECONDS)
        self.assertEqual((status, err), (0, ""))  # every frame decodes
        keys = [int(line.split(",")[0]) for line in out.split()]
        self.assertEqual(len(keys), 24)
        self.assertEqual([k for k, key in enumerate(keys) if key], [0, 8, 16])
        if numpy is None:
            self.skipTest("the PSNR check needs NumPy")
        quality = []
        for name in ("single.mp4", "joined.mp4"):
            with open_movie(self.path(name)) as movie:
                self.assertEqual(movie.nframes, 24)
                error = numpy.mean([(numpy.frombuffer(pixels(pattern_image(64, 48, k)), numpy.uint8).astype(float) -
                                     numpy.frombuffer(pixels(movie.getframe(k)[0]), numpy.uint8)) ** 2
                                    for k in range(24)])
            quality.append(10 * numpy.log10(255.0 ** 2 / error))
        self.assertLess(abs(quality[0] - quality[1]), 0.5, quality)

    def test_join_refuses_what_it_cannot_join(self):
        from orvo.cli.errors import CliError
        from orvo.cli.scale_out_join import join_segments
        for name, size in (("a.mp4", (64, 48)), ("b.mp4", (32, 24))):
            write_movie(self.path(name), [pattern_image(size[0], size[1], k) for k in range(2)])
        cases = [(["a.mp4", "b.mp4"], "encoded differently"), (["a.mp4", "none.mp4"], "can't open segment"),
                 ([], "no segments")]
        for segments, reason in cases:
            with self.assertRaises(CliError) as caught:
                join_segments(self.path("j.mp4"), [self.path(name) for name in segments])
            self.assertIn(reason, str(caught.exception))
        # Written under a temporary name, the output is told by its own.
        hidden = self.path(".hidden.mp4")
        with self.assertRaises(CliError) as caught:
            join_segments(hidden, [self.path("a.mp4"), self.path("b.mp4")], shown=self.path("shown.mp4"))
        self.assertIn("joining the segments of %s failed" % self.path("shown.mp4"), str(caught.exception))
        self.assertNotIn(".hidden", str(caught.exception))

    def test_killed_worker_task_is_run_again(self):
        source = noise_sequence(self.dir, "noise", 16, 320, 240)
        out = self.path("out")
        os.mkdir(out)
        results = {}
        options = {"options": "preset veryslow", "segment_frames": 4}
        worker = threading.Thread(target=lambda: results.update(
            frames=self.convert([source], os.path.join(out, "k.mp4"), 2, **options)))
        worker.start()
        try:
            # Segments are written in the conversion's private directory.
            self.assertTrue(wait_until(lambda: any(part.startswith("part") for n in os.listdir(out)
                                                   if n.startswith(".orvo-scale-")
                                                   for part in os.listdir(os.path.join(out, n))),
                                       WAIT_SECONDS), "no first segment")
            busy = [address for address, keys in self.client.processing().items() if keys]
            self.assertTrue(busy)
            pids = self.client.run(os.getpid, workers=busy[:1])
            for pid in pids.values():
                os.kill(pid, signal.SIGKILL)
        finally:
            worker.join(WAIT_SECONDS)
        self.assertEqual((results.get("frames"), os.listdir(out)), (16, ["k.mp4"]))
        self.assertEqual(open_movie(os.path.join(out, "k.mp4")).nframes, 16)

    def test_bad_input_fails_and_leaves_nothing(self):
        from orvo.cli.errors import CliError
        with open(self.path("in.0010.png"), "wb") as broken:
            broken.write(b"\x89PNG\r\n\x1a\n this is no picture")
        for output in ("bad.mp4", "bad.####.png"):
            out = self.path(output.replace("#", "_"))
            os.mkdir(out)
            with self.assertRaises(CliError) as caught:
                self.convert(["in.####.png"], os.path.join(out, output), 2, segment_frames=4)
            self.assertIn("frame 10", str(caught.exception))
            self.assertEqual(os.listdir(out), [], output)

    def test_ctrl_c_cancels_and_leaves_nothing(self):
        source = noise_sequence(self.dir, "noise", 32, 320, 240)
        out = self.path("out")
        os.mkdir(out)
        child = BoundedChild([sys.executable, "-m", "orvo", "convert", "--workers", "2",
                              "--options", "preset veryslow", source, os.path.join(out, "c.mp4")], WAIT_SECONDS)
        started = ""
        while "on 2 workers" not in started:  # the conversion's tasks are submitted
            line = child.process.stderr.readline().decode()
            self.assertTrue(line, started)
            started += line
        child.process.send_signal(signal.SIGINT)
        status, _, err = child.finish()
        err = started + err
        self.assertEqual(status, 130, err)
        self.assertIn("cancelled", err)
        self.assertEqual(os.listdir(out), [])


def free_port():
    with closing(socket.socket()) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def child_processes(pid):
    found = []
    for task in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/children" % (pid, task)) as children:
                found.extend(int(child) for child in children.read().split())
        except (IOError, OSError):
            pass
    return found


def can_hide_a_directory():
    """Whether a process may get a mount namespace of its own and mount
    over a directory there (root, or a user namespace the system allows)."""
    if not have_command("unshare"):
        return False
    return run_bounded(["unshare", "--mount", "--propagation", "private", "sh", "-c",
                        "mount -t tmpfs orvo-probe /mnt"], 30)[0] == 0


@unittest.skipUnless(sys.version_info[0] >= 3 and distributed is not None, SKIP_REASON)
@unittest.skipIf(UNDER_VALGRIND, "the conversions run in the cluster's worker processes")
class ClusterEdgesTest(ScratchTestCase):
    """Mistakes and losses around the cluster, each ended by one clear
    line: the command runs as a child, its cluster's processes too."""
    needed_codecs = ("png", "ffmpeg")

    def setUp(self):
        ScratchTestCase.setUp(self)
        for k in range(8):
            self.assertEqual(pattern_image(64, 48, k).save(self.path("in.%04d.png" % k)), 0)
        self.out = self.path("out")
        os.mkdir(self.out)

    def start(self, arguments, log_name):
        """A cluster process, its log in a file, killed at the end of the test."""
        with open(self.path(log_name), "wb") as log:
            process = subprocess.Popen(arguments, stdout=log, stderr=subprocess.STDOUT)
        timer = threading.Timer(WAIT_SECONDS * 2, process.kill)
        timer.daemon = True
        timer.start()
        self.addCleanup(timer.cancel)
        self.addCleanup(process.wait)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        return process

    def wait_for_workers(self, address, count):
        from distributed import Client
        with Client(address, timeout=WAIT_SECONDS) as client:
            self.assertTrue(wait_until(lambda: len(client.scheduler_info()["workers"]) >= count, WAIT_SECONDS),
                            open(self.path("worker.log")).read())

    def test_scheduler_mistakes_fail_at_once_and_say_why(self):
        from orvo.cli.arguments import local_worker_limit
        closed = "tcp://127.0.0.1:%d" % free_port()
        limit = local_worker_limit()
        cases = [
            (["--scheduler", ""], "the scheduler address is empty"),
            (["--scheduler", "nonsense://x"], "'nonsense://' is no Dask transport"),
            (["--scheduler", "udp://127.0.0.1:8786"], "'udp://' is no Dask transport"),
            (["--scheduler", closed], "cannot reach the Dask scheduler at %s: Connection refused" % closed),
            (["--workers", str(limit + 1)], "(at most %d, " % limit),
        ]
        for options, message in cases:
            with self.subTest(options=options):
                # Bounded below the 30 s of Dask's own retries of a refused connection.
                status, _, err = run_bounded([sys.executable, "-m", "orvo", "convert"] + options +
                                             [self.path("in.####.png"), os.path.join(self.out, "m.mp4")], 20)
                self.assertEqual(status, 2, err)
                self.assertIn(message, err)
                self.assertNotIn("Traceback", err)
                self.assertEqual(os.listdir(self.out), [])

    def test_silent_scheduler_fails_after_the_time_stated(self):
        from unittest import mock
        from orvo.cli import scale_out, scale_out_conversion
        from orvo.cli.errors import CliError
        with mock.patch.object(scale_out_conversion, "CONNECT_SECONDS", 1):
            with self.assertRaises(CliError) as caught:
                # A private address no machine here holds: nothing answers there.
                scale_out.convert(self.path("in.####.png"), os.path.join(self.out, "m.mp4"),
                                  scheduler="tcp://10.255.255.1:8786")
        self.assertRegex(str(caught.exception), r"no answer within 1 s|[Uu]nreachable")
        self.assertEqual(os.listdir(self.out), [])

    def test_signal_during_cluster_start_ends_the_command(self):
        from orvo.cli.arguments import local_worker_limit
        workers = str(min(4, local_worker_limit()))
        for signum, code in ((signal.SIGTERM, 143), (signal.SIGINT, 130)):
            with self.subTest(signal=signum):
                child = BoundedChild([sys.executable, "-m", "orvo", "convert", "--workers", workers,
                                      self.path("in.####.png"), os.path.join(self.out, "s.mp4")], WAIT_SECONDS)
                # The cluster's first processes show that its start is under way.
                wait_until(lambda: child.process.poll() is not None or child_processes(child.process.pid))
                self.assertIsNone(child.process.poll(), "the command ended before it could be interrupted")
                child.process.send_signal(signum)
                status, _, err = child.finish()  # the timer's kill shows as -9
                self.assertEqual(status, code, err)
                self.assertNotIn("Traceback", err)
                self.assertEqual(os.listdir(self.out), [])

    def test_killed_scheduler_ends_the_conversion_in_one_line(self):
        address = "tcp://127.0.0.1:%d" % free_port()
        scheduler = self.start([sys.executable, "-m", "distributed.cli.dask_scheduler", "--host", "127.0.0.1",
                                "--port", address.rsplit(":", 1)[1], "--no-dashboard"], "scheduler.log")
        self.start([sys.executable, "-m", "distributed.cli.dask_worker", address, "--nthreads", "1",
                    "--no-dashboard"], "worker.log")
        self.wait_for_workers(address, 1)
        source = noise_sequence(self.dir, "noise", 32, 320, 240)
        child = BoundedChild([sys.executable, "-m", "orvo", "convert", "--scheduler", address,
                              "--options", "preset veryslow", source, os.path.join(self.out, "k.mp4")], WAIT_SECONDS)
        started = ""
        while "on 1 workers" not in started:  # the conversion's tasks are submitted
            line = child.process.stderr.readline().decode()
            self.assertTrue(line, started)
            started += line
        scheduler.kill()
        status, _, err = child.finish()
        self.assertEqual(status, 2, started + err)
        self.assertIn("orvo: lost the connection to the scheduler at %s" % address, err)
        self.assertEqual(err.count("\n"), 1, err)  # no traceback, no log line of the cluster library
        self.assertEqual(os.listdir(self.out), [])

    @unittest.skipUnless(sys.platform.startswith("linux") and can_hide_a_directory(),
                         "hiding the output's directory from a worker needs a mount namespace of its own "
                         "(root, or unprivileged user namespaces)")
    def test_worker_that_cannot_see_the_output_directory_is_refused(self):
        from distributed import Client, LocalCluster
        from orvo.cli import scale_out
        from orvo.cli.errors import CliError
        cluster = LocalCluster(n_workers=0, processes=True, dashboard_address=None)
        self.addCleanup(cluster.close, timeout=WAIT_SECONDS)
        # The worker's own view of the file system has an empty directory
        # where the output's is.
        hide = 'mount -t tmpfs orvo-blind "$0" && exec "$@"'
        self.start(["unshare", "--mount", "--propagation", "private", "sh", "-c", hide, self.out,
                    sys.executable, "-m", "distributed.cli.dask_worker", cluster.scheduler_address,
                    "--nthreads", "1", "--no-dashboard"], "worker.log")
        self.wait_for_workers(cluster.scheduler_address, 1)
        with Client(cluster, timeout=WAIT_SECONDS) as client:
            for output in ("b.####.png", "b.mp4"):
                with self.subTest(output):
                    with self.assertRaises(CliError) as caught:
                        scale_out.convert(self.path("in.####.png"), os.path.join(self.out, output), client=client,
                                          segment_frames=4)
                    self.assertIn("1 of 1 workers", str(caught.exception))
                    self.assertIn("cannot see the output's directory %s" % self.out, str(caught.exception))
                    self.assertEqual(os.listdir(self.out), [])


if __name__ == "__main__":
    unittest.main()
