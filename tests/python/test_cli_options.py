"""The options ffmpeg users reach for, checked against the ffmpeg command
and ImageMagick on the same files: -n, -ss/-t (--start/--duration), --size
filtering when shrinking, and --codec naming any FFmpeg video encoder."""
import os
import sys
import unittest

from movie_testing import ScratchTestCase
from orvo_testing import have_command, run_bounded

ORVO_COMMAND = [sys.executable, "-m", "orvo"]
WIDTH, HEIGHT, RATE = 64, 48, 25


def ffmpeg(*arguments):
    status, out, err = run_bounded(["ffmpeg", "-v", "error", "-nostdin"] + list(arguments), 120, text=False)
    if status != 0:
        raise AssertionError("ffmpeg %s failed: %s" % (" ".join(arguments), err))
    return out


def rgb_frames(path, *output_options):
    """The frames of a movie as ffmpeg decodes them to RGB, one bytes each."""
    data = ffmpeg("-i", path, *(list(output_options) + ["-pix_fmt", "rgb24", "-f", "rawvideo", "-"]))
    size = WIDTH * HEIGHT * 3
    return [data[at:at + size] for at in range(0, len(data), size)]


def probe(path, entry):
    status, out, err = run_bounded(["ffprobe", "-v", "error", "-select_streams", "v:0", "-count_frames",
                                    "-show_entries", "stream=" + entry, "-of", "csv=p=0", path])
    return out.strip() if status == 0 else "error: " + err


@unittest.skipUnless(sys.version_info[0] >= 3, "the orvo command is a Python 3 program")
@unittest.skipUnless(have_command("ffmpeg") and have_command("ffprobe"),
                     "the ffmpeg command makes and reads the movies")
class CommandOptionTest(ScratchTestCase):
    needed_codecs = ("png", "ffmpeg")

    def setUp(self):
        ScratchTestCase.setUp(self)
        # Four seconds of RGB pictures that FFV1 keeps exactly.
        self.source = self.path("source.mkv")
        ffmpeg("-f", "lavfi", "-i", "testsrc=size=%dx%d:rate=%d" % (WIDTH, HEIGHT, RATE), "-t", "4",
               "-pix_fmt", "bgr0", "-c:v", "ffv1", self.source)

    def orvo(self, *arguments):
        return run_bounded(ORVO_COMMAND + list(arguments), 300)

    def test_start_and_duration_keep_the_frames_ffmpeg_keeps(self):
        cases = [  # our options, ffmpeg's output options
            (["-ss", "1", "-t", "0.5"], ["-ss", "1", "-t", "0.5"]),
            (["--start", "00:00:01.52", "--duration", "1"], ["-ss", "1.52", "-t", "1"]),
            (["-ss", "0.02"], ["-ss", "0.02"]),  # between two frames
            (["-t", "0:00.1"], ["-t", "0.1"]),
            (["--start", "3.9"], ["-ss", "3.9"]),
        ]
        # Between frames a start keeps the frames shown in [start, start +
        # duration); ffmpeg measures the duration from the start rounded up
        # to the next frame, one frame fewer here (frames 38 to 61).
        reference_frames = rgb_frames(self.source)
        status, out, err = self.orvo("convert", self.source, self.path("mid.mkv"), "-q", "--options",
                                     "codec ffv1", "-ss", "1.5", "-t", "1")
        self.assertEqual(status, 0, err)
        self.assertTrue(rgb_frames(self.path("mid.mkv")) == reference_frames[38:63])
        for ours, theirs in cases:
            output = self.path("cut.mkv")
            status, out, err = self.orvo("convert", self.source, output, "-q", "-y", "--options", "codec ffv1",
                                         *ours)
            self.assertEqual(status, 0, err)
            expected = rgb_frames(self.source, *theirs)
            got = rgb_frames(output)
            self.assertEqual(len(got), len(expected), ours)
            self.assertTrue(got == expected, ours)
            self.assertIn(got[0], reference_frames)
        for bad, message in ((["-ss", "5"], "no frame is shown from 5 s on"),
                             (["-t", "0"], "no frame is shown within that duration"),
                             (["-ss", "1:75"], "is not a time"), (["-t", "-1"], "cannot be negative"),
                             (["-ss", "1", "--frames", "2:3"], "not both")):
            status, out, err = self.orvo("convert", self.source, self.path("bad.mkv"), "-q", *bad)
            self.assertEqual(status, 2, err)
            self.assertIn(message, err)
            self.assertFalse(os.path.exists(self.path("bad.mkv")))

    def test_no_overwrite_keeps_an_existing_output(self):
        output = self.path("kept.mkv")
        with open(output, "wb") as existing:
            existing.write(b"precious")
        for options, status, message in ((["-n"], 2, "kept.mkv exists"), (["--no-overwrite"], 2, "exists"),
                                         (["-n", "-y"], 2, "not allowed with")):
            code, out, err = self.orvo("convert", self.source, output, "-q", *options)
            self.assertEqual(code, status, err)
            self.assertIn(message, err)
            with open(output, "rb") as kept:
                self.assertEqual(kept.read(), b"precious")

    @unittest.skipUnless(have_command("convert"), "ImageMagick makes and scales the pattern")
    def test_shrinking_filters_unless_nearest_is_asked_for(self):
        # A one-pixel checkerboard: halved by an average it is mid grey,
        # sampled it is one of its two colours.
        board = self.path("board.png")
        status, out, err = run_bounded(["convert", "-size", "%dx%d" % (WIDTH, HEIGHT), "pattern:gray50",
                                        "-depth", "8", "PNG24:" + board])
        self.assertEqual(status, 0, err)
        status, box, err = run_bounded(["convert", board, "-scale", "50%", "-depth", "8", "rgb:-"], text=False)
        self.assertEqual(status, 0, err)
        for options, grey in (([], True), (["--nearest"], False), (["--smooth"], True)):
            output = self.path("half.png")
            code, out, err = self.orvo("convert", board, output, "--size", "32x24", "-q", "-y", *options)
            self.assertEqual(code, 0, err)
            status, ours, err = run_bounded(["convert", output, "-depth", "8", "rgb:-"], text=False)
            values = set(bytearray(ours))
            if grey:
                worst = max(abs(a - b) for a, b in zip(bytearray(ours), bytearray(box)))
                self.assertLessEqual(worst, 1, options)
            else:
                self.assertTrue(values <= set([0, 255]), (options, sorted(values)[:5]))
        code, out, err = self.orvo("convert", board, self.path("x.png"), "--size", "8x8", "--smooth", "--nearest")
        self.assertEqual(code, 2)
        self.assertIn("not allowed with", err)

    def test_codec_names_any_ffmpeg_video_encoder(self):
        status, encoders, err = run_bounded(["ffmpeg", "-hide_banner", "-encoders"])
        listed = set(line.split()[1] for line in encoders.splitlines() if line.startswith(" V"))
        cases = [  # --codec, output, codec ffprobe reports
            ("hevc", "a.mp4", "hevc"), ("libx265", "b.mkv", "hevc"), ("vp9", "c.webm", "vp9"),
            ("libvpx", "d.webm", "vp8"), ("av1", "e.mkv", "av1"), ("mpeg2video", "f.mpg", "mpeg2video"),
            ("utvideo", "g.avi", "utvideo"), ("huffyuv", "h.avi", "huffyuv"), ("qtrle", "i.mov", "qtrle"),
            ("magicyuv", "k.mov", "magicyuv"), ("prores", "l.mov", "prores"),
            ("ffvhuff", "m.avi", "ffvhuff"), ("cinepak", "n.mov", "cinepak"), ("h264", "o", "h264"),
        ]
        for name, output, codec in cases:
            if name not in listed and name not in ("hevc", "vp9", "av1", "prores", "h264"):
                continue  # an encoder this FFmpeg build lacks
            status, out, err = self.orvo("convert", self.source, self.path(output), "-q", "-t", "0.2",
                                         "--codec", name)
            self.assertEqual(status, 0, (name, err))
            written = self.path(output if "." in output else output + ".mp4")
            self.assertEqual(probe(written, "codec_name,nb_read_frames").split(",")[:2], [codec, "5"], name)
        for name, output, message in (("nosuch", "p.mkv", "no video encoder of FFmpeg"),
                                      ("utvideo", "q.mp4", "write it as .avi"),
                                      ("utvideo", "r", "needs an output name with its container's suffix")):
            status, out, err = self.orvo("convert", self.source, self.path(output), "-q", "--codec", name)
            self.assertEqual(status, 2, err)
            self.assertIn(message, err)


if __name__ == "__main__":
    unittest.main()
