"""The `orvo` command never destroys a file it was not asked to replace:
overwrites, inputs reached again through links or a codec's suffix,
failed and interrupted writes, and frame rates a movie cannot carry."""
import errno
import hashlib
import os
import resource
import signal
import stat
import unittest

from movie_testing import flat_image, pattern_image, wait_until
from orvo_testing import BoundedChild, have_command, run_bounded
from test_cli import ORVO_COMMAND, CommandTestCase, run_orvo

FFV1 = ("--options", "codec ffv1")


def digest(filename):
    with open(filename, "rb") as data:
        return hashlib.sha1(data.read()).hexdigest()


def temporaries(directory):
    return [n for n in os.listdir(directory) if n.startswith(".orvo-")]


def start_orvo(arguments, **options):
    return BoundedChild(ORVO_COMMAND + arguments, 300, **options)


def limit_file_size():
    # A full disk, as the writer sees it: writes past 64 KiB fail with EFBIG.
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))


class SafetyTestCase(CommandTestCase):
    def setUp(self):
        CommandTestCase.setUp(self)
        self.still = self.path("still.png")
        self.assertEqual(pattern_image(32, 24, 1).save(self.still), 0)
        self.movie = self.path("movie.mkv")
        self.orvo("convert", self.write_sequence("src", 3), self.movie, "-q", *FFV1)

    def assertUntouched(self, filename, before, err):
        self.assertEqual(digest(filename), before, "%s changed: %s" % (filename, err))
        self.assertEqual(temporaries(self.dir), [])


class OverwriteTest(SafetyTestCase):
    def test_existing_output_needs_overwrite_flag(self):
        cases = [
            ("convert", lambda out: ["convert", self.still, out, "-q"], "old.mkv"),
            ("frame", lambda out: ["frame", self.movie, "1", out], "old.png"),
            ("diff", lambda out: ["diff", self.still, self.movie, "--out", out], "old.png"),
        ]
        for command, arguments, name in cases:
            with self.subTest(command=command):
                old = self.path(name)
                if name.endswith(".png"):
                    flat_image(8, 8, (1, 2, 3)).save(old)
                else:
                    self.orvo("convert", self.movie, old, "-q", *FFV1)
                before = digest(old)
                err = self.assertFails(arguments(old), "%s exists; give -y (--overwrite) to replace it" % old)
                self.assertUntouched(old, before, err)
                status, out, err = run_orvo(*(arguments(old) + ["-y"]))
                self.assertIn(status, (0, 1), err)  # diff reports the difference with 1
                self.assertNotEqual(digest(old), before)
                self.assertEqual(self.orvo_json("info", old)["width"], 32)
                os.remove(old)

    def test_fifos_and_directories_are_refused_without_waiting(self):
        os.mkfifo(self.path("pipe.png"))
        os.mkdir(self.path("folder.mkv"))
        cases = [(["info", self.path("pipe.png")], "pipe.png: is not a regular file"),
                 (["frame", self.still, "0", self.path("pipe.png"), "-y"], "pipe.png exists and is not a regular"),
                 (["convert", self.still, self.path("folder.mkv"), "-y"], "folder.mkv exists and is not a regular")]
        for arguments, message in cases:
            with self.subTest(arguments[0]):
                self.assertFails(arguments, message)

    def test_sequence_frames_that_exist_need_overwrite_flag(self):
        template = self.path("out.####.png")
        self.orvo("convert", self.movie, template, "-q")
        before = digest(self.path("out.0002.png"))
        self.assertFails(["convert", self.movie, template], "3 output files exist")
        self.assertEqual(digest(self.path("out.0002.png")), before)
        self.orvo("convert", self.movie, template, "-q", "-y", "--ramp", "0", "0")
        self.assertNotEqual(digest(self.path("out.0002.png")), before)
        # Frames beyond the ones written are not in the way.
        self.orvo("convert", self.movie, self.path("more.####.png"), "--frames", "0:0", "-q")
        self.orvo("convert", self.still, self.path("more.####.png"), "--repeat", "0", "0", "-y", "-q")

    def test_output_that_is_an_input_is_refused_even_with_overwrite(self):
        os.symlink(os.path.basename(self.movie), self.path("soft.mkv"))
        os.link(self.movie, self.path("hard.mkv"))
        tiff = self.path("multi.tif")
        self.assertEqual(pattern_image(8, 8, 2).save(tiff), 0)
        os.link(self.still, self.path("frame.0000.png"))
        cases = [
            ("the same name", ["convert", self.movie, self.movie], self.movie, self.movie),
            ("a symbolic link", ["convert", self.movie, self.path("soft.mkv")], self.path("soft.mkv"),
             self.movie),
            ("a hard link", ["convert", self.movie, self.path("hard.mkv")], self.path("hard.mkv"),
             self.movie),
            ("the suffix the codec adds", ["convert", self.movie, self.path("movie"), "--codec", "ffmpeg"]
             + list(FFV1), self.movie, self.movie),
            ("the right eye input", ["convert", self.still, self.movie, self.movie, "--frames", "0"],
             self.movie, self.movie),
            ("a frame of an output sequence", ["convert", self.still, self.path("frame.####.png")],
             self.path("frame.0000.png"), self.still),
            ("a frame of an input sequence", ["convert", self.path("src.####.png"),
                                              self.path("src.0001.png"), "--frames", "0"],
             self.path("src.0001.png"), self.path("src.0001.png")),
            ("frame", ["frame", tiff, "0", tiff], tiff, tiff),
            ("frame through a link", ["frame", self.path("hard.mkv"), "0", self.path("soft.mkv")],
             self.path("soft.mkv"), self.path("hard.mkv")),
            ("diff --out", ["diff", self.still, self.movie, "--out", self.still], self.still, self.still),
        ]
        for label, arguments, output, source in cases:
            with self.subTest(label):
                before = digest(output)
                err = self.assertFails(arguments + ["-y"], "%s: the output is the input %s" % (output, source))
                self.assertUntouched(output, before, err)

    def test_names_written(self):
        # Another suffix of the same codec is another file, a name without a
        # suffix gets the codec's, and a symbolic link is written through.
        tiff = self.path("multi.tif")
        self.assertEqual(pattern_image(8, 8, 2).save(tiff), 0)
        self.orvo("convert", self.still, self.path("target.mkv"), "-q", *FFV1)
        os.symlink("target.mkv", self.path("link.mkv"))
        inputs = [tiff, self.still, self.movie]
        before = [digest(name) for name in inputs]
        cases = [  # arguments, the name printed, the file written, its frames
            (["frame", tiff, "0", self.path("multi.tiff")], "multi.tiff", "multi.tiff", 1),
            (["diff", self.still, self.movie, "--out", self.path("still.PNG")], "still.PNG", "still.PNG", 1),
            (["convert", self.movie, self.path("plain"), "--codec", "ffmpeg"], "plain.mkv", "plain.mkv", 3),
            (["convert", self.movie, self.path("link.mkv"), "-y"], "link.mkv", "target.mkv", 3),
        ]
        for arguments, printed, written, frames in cases:
            with self.subTest(arguments[-1]):
                status, out, err = run_orvo(*(arguments + list(FFV1 if arguments[0] == "convert" else ())))
                self.assertIn(status, (0, 1), err)  # diff reports the difference with 1
                self.assertIn(self.path(printed), out)
                self.assertEqual(self.orvo_json("info", self.path(written))["frames"], frames)
        self.assertEqual([digest(name) for name in inputs], before)
        self.assertTrue(os.path.islink(self.path("link.mkv")))
        self.assertFalse(os.path.exists(self.path("plain")))
        self.assertEqual(temporaries(self.dir), [])


class FailedOrInterruptedWriteTest(SafetyTestCase):
    def test_failed_write_leaves_the_earlier_file(self):
        old = self.path("old.mkv")
        self.orvo("convert", self.movie, old, "-q", *FFV1)
        before = digest(old)
        status, out, err = start_orvo(["convert", self.still, old, "-y", "--size", "320x240", "--repeat", "0",
                                       "200"] + list(FFV1), preexec_fn=limit_file_size).finish()
        self.assertEqual(status, 2, err)
        self.assertIn("writing %s stopped after" % old, err)
        self.assertIn("%s was left as it was" % old, err)
        self.assertNotIn(".orvo-", err)  # the reason names the file the user knows
        self.assertUntouched(old, before, err)

    def test_unreadable_input_frame_leaves_the_earlier_files(self):
        template = self.path("src.####.png")
        cases = [("one movie", [template], ["old.mkv"], "old.mkv"),
                 ("a stereo pair", [template, template], ["oldl.mkv", "oldr.mkv"], "old@.mkv")]
        for label, inputs, olds, name in cases:
            with self.subTest(label):
                self.orvo(*(["convert"] + inputs + [self.path(name), "-q", "-y"] + list(FFV1)))
                before = [digest(self.path(old)) for old in olds]
                with open(self.path("src.0001.png"), "wb") as cut:
                    cut.write(b"\x89PNG\r\n\x1a\n")
                err = self.assertFails(["convert"] + inputs + [self.path(name), "-y"], "stopped after 1 of 3 frames")
                self.assertIn("%s was left as it was" % self.path(name), err)
                self.assertEqual([digest(self.path(old)) for old in olds], before)
                self.assertEqual(temporaries(self.dir), [])
                self.assertEqual(pattern_image(32, 24, 1).save(self.path("src.0001.png")), 0)

    def test_signal_leaves_a_closed_readable_movie_in_place(self):
        total = 20001
        for signum, code, word in ((signal.SIGINT, 130, "interrupted"),
                                   (signal.SIGTERM, 143, "interrupted by SIGTERM")):
            with self.subTest(signal=signum):
                output = self.path("long.mkv")
                self.orvo("convert", self.movie, output, "-q", "-y", *FFV1)
                child = start_orvo(["convert", self.still, output, "-y", "--repeat", "0", str(total - 1),
                                    "--size", "320x240"] + list(FFV1))
                self.addCleanup(lambda child=child: child.process.poll() is None and child.process.kill())
                # Frames in the write's temporary file show it is under way.
                wait_until(lambda: child.process.poll() is not None or self.temporary_size() > 1 << 20)
                self.assertIsNone(child.process.poll(), "the convert ended before it could be interrupted")
                child.process.send_signal(signum)
                status, out, err = child.finish()
                self.assertEqual(status, code, err)
                self.assertIn("orvo: %s: %s is closed and holds the" % (word, output), err)
                self.assertNotIn("Traceback", err)
                frames = self.orvo_json("info", output)["frames"]
                self.assertTrue(3 < frames < total, frames)
                self.assertIn("holds the %d of %d frames" % (frames, total), err)
                self.assertEqual(temporaries(self.dir), [])

    def temporary_size(self):
        """The size of the largest file in a private temporary directory;
        the directory goes away with the write, perhaps while it is read."""
        sizes = [0]
        for private in temporaries(self.dir):
            try:
                sizes.extend(os.path.getsize(os.path.join(self.path(private), name))
                             for name in os.listdir(self.path(private)))
            except OSError:
                pass
        return max(sizes)


# A child that knows its own process id plants, before it converts, a link
# to the victim under every name the temporary output could be given from
# that id, as someone watching the output's directory could.
PLANTING_CONVERT = """
import os, sys
directory, victim, extension = sys.argv[1:4]
for attempt in range(1000):
    for eye in ("", "l", "r"):
        os.symlink(victim, os.path.join(directory, ".orvo-%d-%d%s.tmp%s" % (os.getpid(), attempt, eye, extension)))
from orvo.cli.main import main
sys.exit(main(sys.argv[4:]))
"""


class PlantedTemporaryTest(SafetyTestCase):
    def setUp(self):
        SafetyTestCase.setUp(self)
        self.victim = self.path("victim.txt")
        with open(self.victim, "w") as victim:
            victim.write("not yours to overwrite\n")
        self.victim_digest = digest(self.victim)

    def test_links_planted_for_every_guessable_name_are_not_followed(self):
        cases = [("a movie", self.movie, "out.mkv", list(FFV1)),
                 ("a stereo pair", self.movie, "pair@.mkv", ["--stereo"] + list(FFV1)),
                 ("a picture", self.still, "still-copy.png", [])]
        for label, source, output, options in cases:
            with self.subTest(label):
                out = self.path("out-" + output.replace("@", "_"))
                os.mkdir(out)
                arguments = ["convert", source, os.path.join(out, output), "-q"] + options
                status, _, err = BoundedChild([ORVO_COMMAND[0], "-c", PLANTING_CONVERT, out, self.victim,
                                               os.path.splitext(output)[1]] + arguments, 300).finish()
                self.assertEqual(status, 0, err)
                self.assertEqual(digest(self.victim), self.victim_digest, err)
                planted = [n for n in os.listdir(out) if os.path.islink(os.path.join(out, n))]
                self.assertEqual(len(planted), 3000)
                written = sorted(set(os.listdir(out)) - set(planted))
                expected = [output.replace("@", eye) for eye in "lr"] if "@" in output else [output]
                self.assertEqual(written, expected)
                for name in written:
                    self.assertTrue(os.path.isfile(os.path.join(out, name)), name)
                    self.assertGreater(self.orvo_json("info", os.path.join(out, name))["frames"], 0)

    def test_temporary_is_alone_in_a_fresh_private_directory(self):
        from orvo.cli.codecs import codec_by_name
        from orvo.cli.outputs import TemporaryOutput
        final = self.path("fresh.mkv")
        before = sorted(os.listdir(self.dir))
        first, second = [TemporaryOutput(final, codec_by_name("ffmpeg")) for _ in range(2)]
        self.assertEqual(sorted(os.listdir(self.dir)), before, "made before the codec needs it")
        try:
            temporaries_made = [first.temporary, second.temporary]
            directories = [os.path.dirname(t) for t in temporaries_made]
            for temporary, directory in zip(temporaries_made, directories):
                self.assertEqual(os.path.basename(temporary), "fresh.mkv")
                self.assertEqual(os.path.dirname(directory), self.dir)  # the rename stays on one file system
                status = os.lstat(directory)
                self.assertTrue(stat.S_ISDIR(status.st_mode))
                self.assertEqual(stat.S_IMODE(status.st_mode), 0o700)
                self.assertEqual(os.listdir(directory), [])
                self.assertNotIn(str(os.getpid()), os.path.basename(directory))
            self.assertNotEqual(directories[0], directories[1])
        finally:
            first.discard()
            second.discard()
        self.assertEqual(sorted(os.listdir(self.dir)), before)

    def test_no_private_directory_means_no_write(self):
        from unittest import mock
        output = self.path("refused.mkv")
        self.orvo("convert", self.movie, output, "-q", *FFV1)
        before = digest(output)
        from orvo.cli.main import main
        taken = FileExistsError(errno.EEXIST, "File exists")
        handlers = [(number, signal.getsignal(number)) for number in (signal.SIGINT, signal.SIGTERM)]
        try:
            with mock.patch("tempfile.mkdtemp", side_effect=taken), mock.patch("sys.stderr") as stderr:
                status = main(["convert", self.movie, output, "-q", "-y"] + list(FFV1))
        finally:
            for number, handler in handlers:  # the command takes over the signals
                signal.signal(number, handler)
        self.assertEqual(status, 2)
        message = "".join(call[0][0] for call in stderr.write.call_args_list)
        self.assertIn("cannot write %s: no private temporary directory" % output, message)
        self.assertUntouched(output, before, message)


@unittest.skipUnless(have_command("ffmpeg"), "the ffmpeg command makes inputs at rates orvo cannot write")
class FrameRateTest(SafetyTestCase):
    def ffmpeg_movie(self, name, rate, seconds):
        status, out, err = run_bounded(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                                        "testsrc=size=64x48:rate=%s:duration=%g" % (rate, seconds),
                                        "-c:v", "ffv1", self.path(name)], 120)
        self.assertEqual(status, 0, err)
        return self.path(name)

    def duration(self, filename):
        return float(run_bounded(["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0",
                                  filename], 60)[1])

    def test_rates_a_movie_cannot_carry_keep_the_duration(self):
        cases = [
            # input rate, seconds, options, written fps, frames written, input frame of output frame k, resampled
            ("120", 1, [], 120.0, 120, lambda k: k, False),  # carried as it is
            ("2000", 0.5, [], 1000.0, 500, lambda k: 2 * k, True),
            ("1/4", 8, [], 0.5, 4, lambda k: k // 2, True),
            ("120", 1, ["--fps", "60"], 60.0, 120, lambda k: k, False),  # asked for: every frame is kept
        ]
        for rate, seconds, options, fps, frames, source_of, resampled in cases:
            with self.subTest(rate=rate, options=options):
                source = self.ffmpeg_movie("in.nut", rate, seconds)  # NUT keeps 2000 fps; Matroska counts ms
                output = self.path("out.mkv")
                status, out, err = run_orvo("convert", source, output, "-y", *(options + list(FFV1)))
                self.assertEqual(status, 0, err)
                self.assertEqual("which a written movie cannot carry" in err, resampled, err)
                info = self.orvo_json("info", output)
                self.assertEqual((info["fps"], info["frames"]), (fps, frames))
                # frames / fps is the input's length in every case without --fps
                self.assertAlmostEqual(self.duration(output), frames / fps, delta=0.5 / fps + 0.01)
                for k in (0, 1, frames - 1):
                    self.assertEqual(self.frame_pixels(output, k), self.frame_pixels(source, source_of(k)))


if __name__ == "__main__":
    unittest.main()
