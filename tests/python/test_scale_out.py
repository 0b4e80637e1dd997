"""Conversions on a Dask cluster of 2 worker processes against the
single-process conversion: the same files, byte for byte where the codec
is deterministic, and no stray file after a failure or an interruption."""
import os
import signal
import sys
import threading
import unittest

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
            self.assertTrue(wait_until(lambda: any(n.startswith(".orvo-scale-") for n in os.listdir(out)),
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


if __name__ == "__main__":
    unittest.main()
