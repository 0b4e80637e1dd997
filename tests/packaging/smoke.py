"""Smoke test of an installed orvo wheel, run by the interpreter of a fresh
virtual environment with no orvo environment variable set: the module must
find the plug-ins that came with it, read and write a PNG and an H.264
movie, and the `orvo` command (also `python -m orvo`) must run. The
installation is one package, orvo, with its dist-info and the command.

    python smoke.py            (3.6 and later; NumPy parts skip without NumPy)
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import orvo

try:
    import numpy
except ImportError:
    numpy = None

WIDTH, HEIGHT = 64, 48
EXPECTED_CODECS = {"ppm", "png", "jpeg", "tiff", "ffmpeg", "ffstill"}


def gradient_bytes():
    """RGB bytes, bottom row first, that differ in every pixel."""
    return bytes(bytearray((x * 4 + c * 20) % 256 if c != 1 else (y * 5) % 256
                           for y in range(HEIGHT) for x in range(WIDTH) for c in range(3)))


def gradient_image():
    return orvo.image(WIDTH, HEIGHT, orvo.DYX_IMG_FMT_RGB, gradient_bytes())


class TemporaryDirectoryTest(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.mkdtemp(prefix="orvo-smoke-")
        self.addCleanup(shutil.rmtree, self.directory, True)

    def path(self, name):
        return os.path.join(self.directory, name)


class InstallationTest(unittest.TestCase):
    def test_module_and_every_plugin_come_from_the_environment(self):
        # An orvo variable could take the plug-ins from somewhere else than the wheel.
        for name in ("QEV_UDILPATH", "PYTHONPATH"):
            self.assertNotIn(name, os.environ)
        self.assertTrue(os.path.realpath(orvo.__file__).startswith(os.path.realpath(sys.prefix)),
                        orvo.__file__)
        names = {codec[0] for codec in orvo.codecs()}
        self.assertTrue(EXPECTED_CODECS <= names, names)
        package_plugins = os.path.join(os.path.dirname(orvo.__file__), "plugins")
        shipped = {name[len("libudil-"):-len(".so")] for name in os.listdir(package_plugins)}
        self.assertEqual(shipped, names)

    def test_one_package_with_its_stubs(self):
        try:
            from importlib import metadata
        except ImportError:
            self.skipTest("importlib.metadata needs Python 3.8")
        tops = set()
        for path in metadata.files("orvo"):
            parts = path.parts
            if parts[0] == "..":  # the command, in the environment's bin
                self.assertEqual(parts[-2:], ("bin", "orvo"), path)
            else:
                tops.add(parts[0])
        self.assertEqual(tops, {"orvo", "orvo-%s.dist-info" % orvo.__version__})
        package = os.path.dirname(orvo.__file__)
        for name in ("__init__.py", "__init__.pyi", "py.typed", "__main__.py"):
            self.assertTrue(os.path.isfile(os.path.join(package, name)), name)

    def test_version_matches_package_metadata(self):
        try:
            from importlib import metadata
        except ImportError:
            self.skipTest("importlib.metadata needs Python 3.8")
        self.assertEqual(metadata.version("orvo"), orvo.version()[1])


class PictureAndMovieTest(TemporaryDirectoryTest):
    def test_png_round_trip_keeps_every_pixel(self):
        name = self.path("gradient.png")
        self.assertEqual(gradient_image().save(name), 0)
        loaded = orvo.image()
        self.assertEqual(loaded.load(name), 0, loaded.errstr())
        self.assertEqual((loaded.dims, loaded.tostring()), ([WIDTH, HEIGHT], gradient_bytes()))
        self.assertNotEqual(loaded.load(self.path("missing.png")), 0)
        self.assertTrue(loaded.errstr())

    @unittest.skipIf(numpy is None, "NumPy is not installed for this interpreter")
    def test_png_through_arrays(self):
        picture = numpy.arange(HEIGHT * WIDTH * 3, dtype=numpy.uint8).reshape(HEIGHT, WIDTH, 3)
        orvo.imwrite(self.path("array.png"), picture)
        self.assertTrue(numpy.array_equal(orvo.imread(self.path("array.png")), picture))

    def write_movie(self, frames):
        name = self.path("gradient.mp4")
        movie = orvo.movie(orvo.MOVIE_WRITE)
        movie.filename, movie.dims, movie.options = name, (WIDTH, HEIGHT), "codec h264"
        movie.addcount(frames)
        self.assertEqual(movie.open(), 0, movie.errstr())
        for frame in range(frames):
            self.assertEqual(movie.append(gradient_image()), 0, movie.errstr())
        self.assertEqual(movie.close(), 0, movie.errstr())
        return name

    def test_h264_movie_round_trip(self):
        name, frames = self.write_movie(12), 12
        movie = orvo.movie(orvo.MOVIE_READ)
        movie.filename = name
        self.assertEqual(movie.open(), 0, movie.errstr())
        self.assertEqual(movie.realframes, frames)
        frame = movie.getframe(frames - 1)[0]
        self.assertEqual(frame.dims, [WIDTH, HEIGHT])
        self.assertLess(frame.diff(gradient_image(), 1).stats()["mean"], 16)  # lossy, but close
        movie.close()

    @unittest.skipIf(shutil.which("ffprobe") is None, "the ffprobe command is not installed")
    def test_ffprobe_sees_h264(self):
        codec = subprocess.check_output(
            ["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "stream=codec_name",
             "-of", "default=nw=1:nk=1", self.write_movie(2)], timeout=60, universal_newlines=True)
        self.assertEqual(codec.strip(), "h264")


class CommandTest(TemporaryDirectoryTest):
    def orvo_command(self):
        command = os.path.join(os.path.dirname(sys.executable), "orvo")
        self.assertTrue(os.path.isfile(command), "the wheel installed no orvo command")
        return command

    def test_command_lists_codecs_and_converts_png_to_jpeg(self):
        for command in ([self.orvo_command()], [sys.executable, "-m", "orvo"]):
            output = subprocess.check_output(command + ["codecs"], timeout=120, universal_newlines=True)
            for name in EXPECTED_CODECS:
                self.assertIn(name, output)
        source, target = self.path("in.png"), self.path("out.jpg")
        self.assertEqual(gradient_image().save(source), 0)
        subprocess.check_call([self.orvo_command(), "convert", source, target, "--quiet"], timeout=120)
        loaded = orvo.image()
        self.assertEqual(loaded.load(target), 0, loaded.errstr())
        self.assertEqual(loaded.dims, [WIDTH, HEIGHT])


class CountingResult(unittest.TextTestResult):
    """Counts passes itself: what testsRun includes differs between releases."""

    passes = 0

    def addSuccess(self, test):
        super().addSuccess(test)
        self.passes += 1


def main():
    suite = unittest.defaultTestLoader.loadTestsFromModule(sys.modules[__name__])
    result = unittest.TextTestRunner(verbosity=2, resultclass=CountingResult).run(suite)
    failed = len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses)
    passed = result.passes
    # The line scripts/run-packaging counts.
    print("%d passed, %d failed, %d skipped" % (passed, failed, len(result.skipped)))
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
