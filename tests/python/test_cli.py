"""The `orvo` command, run as a user runs it: one subprocess per call."""
import json
import os
import sys
import unittest

import orvo
from movie_testing import ScratchTestCase, flat_image, pattern_image, pixels
from orvo_testing import run_bounded

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "orvo")
PYTHON3 = sys.version_info[0] >= 3
SKIP_REASON = "the orvo command is a Python 3 program"


def run_orvo(*arguments):
    """Runs the command, killed after 300 s (a command that waits shows as
    status -9); returns (exit status, standard output, standard error)."""
    return run_bounded([sys.executable, TOOL] + list(arguments), 300)


@unittest.skipUnless(PYTHON3, SKIP_REASON)
class CommandTestCase(ScratchTestCase):
    needed_codecs = ("ppm", "png", "ffmpeg")

    def orvo(self, *arguments):
        """Runs a command that must succeed; returns its standard output."""
        status, out, err = run_orvo(*arguments)
        self.assertEqual(status, 0, "orvo %s: %s" % (" ".join(arguments), err))
        return out

    def orvo_json(self, *arguments):
        return json.loads(self.orvo(*(arguments + ("--json",))))

    def assertFails(self, arguments, message, status=2):
        """A user mistake: one clear line on standard error, no traceback."""
        code, out, err = run_orvo(*arguments)
        self.assertEqual(code, status, err)
        self.assertNotIn("Traceback", err)
        self.assertIn(message, err)
        return err

    def write_sequence(self, name, count, width=32, height=24):
        """A PNG sequence name.0000.png ... of distinct frames; returns the template."""
        template = self.path(name + ".####.png")
        for k in range(count):
            self.assertEqual(pattern_image(width, height, k).save(self.path("%s.%04d.png" % (name, k))), 0)
        return template

    def frame_pixels(self, name, number, eye=0):
        movie = orvo.movie()
        movie.filename = name
        self.assertEqual(movie.open(), 0, movie.errstr())
        try:
            return pixels(movie.getframe(number)[eye])
        finally:
            movie.close()


class CodecsCommandTest(CommandTestCase):
    def test_table_and_json_list_every_plugin_and_option(self):
        table = self.orvo("codecs")
        listed = self.orvo_json("codecs")
        self.assertEqual([c["name"] for c in listed], [c[0] for c in orvo.codecs()])
        for name, description, suffixes, stereo, multi, options in orvo.codecs():
            self.assertIn(description, table)
            for option in options:
                self.assertIn(option[0], table)
        ffmpeg = [c for c in listed if c["name"] == "ffmpeg"][0]
        self.assertTrue(ffmpeg["multi_image"])
        crf = [o for o in ffmpeg["options"] if o["name"] == "crf"][0]
        self.assertEqual((crf["type"], crf["range"]), ("int", [0, 51]))


class InfoCommandTest(CommandTestCase):
    def test_sequence_by_template_and_by_one_of_its_files(self):
        template = self.write_sequence("seq", 6)
        for arguments in ((template,), (self.path("seq.0004.png"), "--sequence")):
            info = self.orvo_json("info", *arguments)
            self.assertEqual((info["codec"], info["width"], info["height"], info["frames"]),
                             ("png", 32, 24, 6))
            self.assertEqual((info["sequence"]["first"], info["sequence"]["last"]), (0, 5))
            self.assertEqual((info["stereo"], info["pixel_format"]), (False, "RGB"))
        self.assertIn("32 x 24", self.orvo("info", template))

    def test_errors_are_one_line_with_the_module_text(self):
        self.assertFails(["info", self.path("missing.mov")], "missing.mov: no such file")
        with open(self.path("notes.txt"), "w") as notes:
            notes.write("hello")
        self.assertFails(["info", self.path("notes.txt")], "Unsupported movie file format")
        with open(self.path("broken.png"), "w") as broken:
            broken.write("not a picture")
        self.assertFails(["info", self.path("broken.png")], "Unable to open movie file")
        self.assertFails(["info", self.path("none.####.png")], "no file of this sequence exists")
        self.assertFails(["info", self.path("pair@.png")], "its left eye would be")
        self.assertFails(["info"], "arguments are required")


class ConvertCommandTest(CommandTestCase):
    def test_movie_file_with_size_and_fps(self):
        template = self.write_sequence("src", 5)
        output = self.path("out.mp4")
        self.assertIn("wrote 5 frames", self.orvo("convert", template, output, "--size", "64x48",
                                                  "--fps", "12", "--smooth", "--options", "crf 10"))
        info = self.orvo_json("info", output)
        self.assertEqual((info["codec"], info["width"], info["height"], info["frames"], info["fps"]),
                         ("ffmpeg", 64, 48, 5, 12.0))

    def test_frame_range_and_repeats_pick_the_frames(self):
        template = self.write_sequence("src", 6)
        output = self.path("cut.####.png")
        self.orvo("convert", template, output, "--frames", "1:3", "--repeat", "1", "2", "-q")
        # frame 1 twice, frames 2 and 3, frame 3 twice more
        expected = [1, 1, 2, 3, 3, 3]
        self.assertEqual(self.orvo_json("info", output)["frames"], len(expected))
        for written, source in enumerate(expected):
            self.assertEqual(self.frame_pixels(output, written), self.frame_pixels(template, source))

    def test_flip_and_ramp(self):
        template = self.write_sequence("src", 2)
        flipped = self.path("flip.####.png")
        self.orvo("convert", template, flipped, "--flip", "xy", "-q")
        expected = pattern_image(32, 24, 1)
        expected.flip(orvo.DYX_FLIP_XAXIS | orvo.DYX_FLIP_YAXIS)
        self.assertEqual(self.frame_pixels(flipped, 1), pixels(expected))
        dark = self.path("dark.####.png")
        self.orvo("convert", template, dark, "--ramp", "0", "0", "-q")
        self.assertEqual(self.orvo_json("stats", self.path("dark.0001.png"))["maximum"], 0)

    def test_tiled_multi_tile_movie_reads_back(self):
        template = self.write_sequence("src", 3)
        self.orvo("convert", template, self.path("wall.mtm"), "--tiles", "2x2", "--codec", "ffmpeg",
                  "--options", "codec ffv1", "-q")
        info = self.orvo_json("info", self.path("wall.mtm"))
        self.assertEqual((info["width"], info["height"], info["frames"], info["tiles"]), (32, 24, 3, 4))
        self.assertEqual(len([n for n in os.listdir(self.dir) if n.startswith("wall_")]), 4)
        status, out, err = run_orvo("diff", self.path("wall.mtm"), template, "--frame", "2", "--threshold", "8")
        self.assertEqual(status, 0, out + err)

    def test_stereo_pair_and_anaglyph(self):
        left, right = self.path("left.png"), self.path("right.png")
        flat_image(4, 2, (200, 100, 0)).save(left)
        flat_image(4, 2, (0, 50, 250)).save(right)
        pair = self.path("pair.####@.png")
        self.orvo("convert", left, right, pair, "-q")
        info = self.orvo_json("info", pair)
        self.assertEqual((info["stereo"], info["frames"]), (True, 1))
        self.assertEqual(self.frame_pixels(pair, 0, eye=1), pixels(flat_image(4, 2, (0, 50, 250))))

        anaglyph = self.path("red_cyan.####.png")
        self.orvo("convert", left, right, anaglyph, "--anaglyph", "red-cyan", "-q")
        lum_left = int(0.3 * 200 + 0.59 * 100)
        lum_right = int(0.59 * 50 + 0.11 * 250)
        self.assertEqual(self.frame_pixels(anaglyph, 0)[:3], bytearray([lum_right, lum_left, lum_left]))
        self.assertFalse(self.orvo_json("info", anaglyph)["stereo"])

    def test_user_mistakes(self):
        template = self.write_sequence("src", 3)
        out = self.path("out.mp4")
        self.assertFails(["convert", template, out, "--codec", "nope"], "unknown codec 'nope'")
        self.assertFails(["convert", template, out, "--options", "speed 3"], "has no option 'speed'")
        self.assertFails(["convert", template, out, "--options", "codec h265"], "takes one of")
        self.assertFails(["convert", template, out, "--options", "crf 99"], "must lie in 0..51")
        self.assertFails(["convert", template, self.path("out.xyz")], "no codec writes files ending in '.xyz'")
        self.assertFails(["convert", template, self.path("one.ppm")], "name the 3 frames with a '#' run")
        self.assertFails(["convert", template, out, "--tiles", "3x2"], "do not divide")
        self.assertFails(["convert", template, out, "--frames", "7:9"], "frame 7 does not exist")
        self.assertFails(["convert", self.path("gone.mov"), out], "gone.mov: no such file")
        self.assertFails(["convert", template, out, "--size", "0x4"], "size must be positive")
        self.assertFails(["convert", template, out, "--anaglyph", "green"], "invalid choice")
        self.assertFalse(os.path.exists(out))


class FrameStatsDiffCommandTest(CommandTestCase):
    def test_frame_extracts_the_frame(self):
        template = self.write_sequence("src", 4)
        output = self.path("third.ppm")
        self.assertIn("wrote frame 2", self.orvo("frame", template, "2", output))
        self.assertEqual(self.frame_pixels(output, 0), self.frame_pixels(template, 2))
        self.assertFails(["frame", template, "9", self.path("x.png")], "has 4 frames; frame 9 does not exist")
        self.assertFails(["frame", template, "1", self.path("x.qq")], "no codec writes files ending in '.qq'")

    def test_stats_match_the_image_method(self):
        image = pattern_image(8, 4, 7)
        image.save(self.path("p.png"))
        stats = self.orvo_json("stats", self.path("p.png"))
        for key, value in image.stats().items():
            self.assertAlmostEqual(stats[key], value, places=6)
        self.assertIn("variance:", self.orvo("stats", self.path("p.png")))
        self.assertFails(["stats", self.path("p.png"), "--eye", "right"], "not a stereo movie")

    def test_diff_exit_status_and_difference_picture(self):
        flat_image(4, 4, (10, 20, 30)).save(self.path("a.png"))
        flat_image(4, 4, (10, 25, 30)).save(self.path("b.png"))
        flat_image(4, 2, (10, 20, 30)).save(self.path("small.png"))
        status, out, err = run_orvo("diff", self.path("a.png"), self.path("a.png"))
        self.assertEqual((status, out.split(":")[0]), (0, "equal"))
        status, out, err = run_orvo("diff", self.path("a.png"), self.path("b.png"), "--out", self.path("d.png"))
        self.assertEqual(status, 1, err)
        self.assertIn("16 of 48 bytes", out)
        self.assertEqual(self.orvo_json("stats", self.path("d.png"))["maximum"], 255)
        status, out, err = run_orvo("diff", self.path("a.png"), self.path("b.png"), "--threshold", "5")
        self.assertEqual(status, 0, out + err)
        status, out, err = run_orvo("diff", self.path("a.png"), self.path("small.png"), "--json")
        self.assertEqual((status, json.loads(out)["equal"]), (1, False))
        self.assertFails(["diff", self.path("a.png"), self.path("nope.png")], "nope.png: no such file")


if __name__ == "__main__":
    unittest.main()
