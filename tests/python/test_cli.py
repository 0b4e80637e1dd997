"""The `orvo` command, run as a user runs it: one subprocess per call."""
import json
import os
import sys
import unittest

import orvo
from movie_testing import ScratchTestCase, flat_image, frames_of, pattern_image, pixels, write_tiff
from orvo_testing import run_bounded

# The command as `python3 -m orvo` runs it, from the package on the path.
ORVO_COMMAND = [sys.executable, "-m", "orvo"]
PYTHON3 = sys.version_info[0] >= 3
SKIP_REASON = "the orvo command is a Python 3 program"
# The keys `orvo info --json` has always had (it gives more for movie files).
ELEVEN_INFO_KEYS = ("input", "file", "codec", "width", "height", "frames", "fps", "stereo", "pixel_format",
                    "sequence", "tiles")


def run_orvo(*arguments):
    """Runs the command, killed after 300 s (a command that waits shows as
    status -9); returns (exit status, standard output, standard error)."""
    return run_bounded(ORVO_COMMAND + list(arguments), 300)


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

    def frame_pixels(self, name, number):
        return frames_of(name)[number][0]


class CodecsInfoCommandTest(CommandTestCase):
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

    def test_every_input_kind_printed_and_as_json(self):
        template = self.write_sequence("seq", 3)
        movie, wall = self.path("clip.mkv"), self.path("wall.mtm")
        self.orvo("convert", template, movie, "-q", "--fps", "12", "--options", "codec ffv1")
        self.orvo("convert", template, wall, "--tiles", "2x2", "--codec", "ffmpeg", "--fps", "12",
                  "--options", "codec ffv1", "-q")
        cases = [  # input, codec, frames, fps, sequence, tiles
            (self.path("seq.0001.png"), "png", 1, None, None, None),
            (template, "png", 3, None, {"template": template, "first": 0, "last": 2, "not_read": []}, None),
            (movie, "ffmpeg", 3, 12.0, None, None),
            (wall, "ffmpeg", 3, 12.0, None, 4),
        ]
        for name, codec, frames, fps, sequence, tiles in cases:
            with self.subTest(name):
                described = self.orvo_json("info", name)
                self.assertEqual(dict((key, described[key]) for key in ELEVEN_INFO_KEYS),
                                 {"input": name, "file": name, "codec": codec, "width": 32, "height": 24,
                                  "frames": frames, "fps": fps, "stereo": False, "pixel_format": "RGB",
                                  "sequence": sequence, "tiles": tiles})
                printed = dict((key.strip(), value.strip()) for key, value in
                               (line.split(":", 1) for line in self.orvo("info", name).splitlines()))
                self.assertEqual([printed[key] for key in ("file", "codec", "size", "frames", "fps", "stereo")],
                                 [name, codec, "32 x 24", str(frames), "unknown" if fps is None else "%g" % fps, "no"])
        # The tiles read back as the frames they were made from.
        self.assertEqual(len([n for n in os.listdir(self.dir) if n.startswith("wall_")]), 4)
        status, out, err = run_orvo("diff", wall, template, "--frame", "2", "--threshold", "8")
        self.assertEqual(status, 0, out + err)

    def test_errors_are_one_line_with_the_module_text(self):
        self.assertEqual(pattern_image(32, 24, 1).save(self.path("whole.png")), 0)
        with open(self.path("whole.png"), "rb") as whole:
            png = whole.read()
        for name, content in (("notes.txt", b"hello"), ("broken.png", b"not a picture"),
                              ("cut.png", png[:len(png) // 2])):
            with open(self.path(name), "wb") as out:
                out.write(content)
        write_tiff(self.path("hollow.tif"), 16, 16, 10)  # opens, but its strips are missing
        cases = [("missing.mov", "missing.mov: no such file"), ("notes.txt", "Unsupported movie file format"),
                 ("broken.png", "Unable to open movie file"), ("none.####.png", "no file of this sequence exists"),
                 ("pair@.png", "its left eye would be"),
                 ("cut.png", "cannot read frame 0 of %s: " % self.path("cut.png")),
                 ("hollow.tif", "cannot read frame 0 of %s: " % self.path("hollow.tif"))]
        for name, message in cases:
            err = self.assertFails(["info", self.path(name)], message)
            self.assertFalse(err.rstrip().endswith(":"), err)  # the reason follows
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

    def test_read_options_pick_and_change_the_frames(self):
        template = self.write_sequence("src", 4)

        def source(k, flip=0):
            image = pattern_image(32, 24, k)
            image.flip(flip)
            return pixels(image)

        cases = [  # options, the frames written
            (["--frames", "1:3", "--repeat", "1", "2"], [source(k) for k in (1, 1, 2, 3, 3, 3)]),
            (["--flip", "xy"], [source(k, orvo.DYX_FLIP_XAXIS | orvo.DYX_FLIP_YAXIS) for k in range(4)]),
            (["--ramp", "0", "0"], [bytearray(32 * 24 * 3)] * 4),
        ]
        for number, (options, expected) in enumerate(cases):
            output = self.path("out%d.####.png" % number)
            self.orvo(*(["convert", template, output, "-q"] + options))
            self.assertEqual(frames_of(output), [[frame] for frame in expected], options)

    def test_stereo_pair_and_anaglyph(self):
        left, right = self.path("left.png"), self.path("right.png")
        colours = [(200, 100, 0), (0, 50, 250)]
        for name, colour in zip((left, right), colours):
            flat_image(4, 2, colour).save(name)
        self.orvo("convert", left, right, self.path("pair.####@.png"), "-q")
        self.assertEqual(frames_of(self.path("pair.####@.png")), [[flat_image(4, 2, c).tostring() for c in colours]])
        anaglyph = self.path("red_cyan.####.png")
        self.orvo("convert", left, right, anaglyph, "--anaglyph", "red-cyan", "-q")
        # Red from the right eye's luminance (29.5 + 27.5), green and blue from the left's (60 + 59).
        self.assertEqual(self.frame_pixels(anaglyph, 0)[:3], bytearray([57, 119, 119]))
        self.assertFalse(self.orvo_json("info", anaglyph)["stereo"])

    def test_user_mistakes(self):
        template = self.write_sequence("src", 3)
        out = self.path("out.mp4")
        cases = [
            ([template, out, "--codec", "nope"], "unknown codec 'nope'"),
            ([template, out, "--options", "speed 3"], "has no option 'speed'"),
            ([template, out, "--options", "codec h265"], "takes one of"),
            ([template, out, "--options", "crf 99"], "must lie in 0..51"),
            ([template, self.path("out.xyz")], "no codec writes files ending in '.xyz'"),
            ([template, self.path("one.ppm")], "name the 3 frames with a '#' run"),
            ([template, out, "--tiles", "3x2"], "do not divide"),
            ([template, out, "--frames", "7:9"], "frame 7 does not exist"),
            ([self.path("gone.mov"), out], "gone.mov: no such file"),
            ([template, out, "--size", "0x4"], "size must be positive"),
            ([template, out, "--anaglyph", "green"], "invalid choice"),
            # It used to report success after writing 8 frames.
            ([template, self.path("o.####.ppm"), "--repeat", "2147483647", "2147483647"],
             "the frame range and repeats give more than 2147483647 frames"),
        ]
        cases += [([template, out, "--fps", fps], "a written movie carries 0.5 to 60 frames per second, not " + fps)
                  for fps in ("120", "0.2", "60.5")]
        for arguments, message in cases:
            self.assertFails(["convert"] + arguments, message)
        self.assertEqual(sorted(os.listdir(self.dir)), ["src.%04d.png" % k for k in range(3)])  # nothing written


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
        status, out, err = run_orvo("diff", self.path("a.png"), self.path("a.png"), "--out", self.path("zero.png"))
        self.assertEqual((status, out.split(":")[0]), (0, "equal"))
        self.assertEqual(self.orvo_json("stats", self.path("zero.png"))["maximum"], 0)  # a black picture
        status, out, err = run_orvo("diff", self.path("a.png"), self.path("b.png"), "--out", self.path("d.png"))
        self.assertEqual(status, 1, err)
        self.assertIn("16 of 48 bytes", out)
        self.assertEqual(self.orvo_json("stats", self.path("d.png"))["maximum"], 255)
        status, out, err = run_orvo("diff", self.path("a.png"), self.path("b.png"), "--threshold", "5")
        self.assertEqual(status, 0, out + err)
        status, out, err = run_orvo("diff", self.path("a.png"), self.path("small.png"), "--json")
        self.assertEqual((status, json.loads(out)["equal"]), (1, False))
        self.assertFails(["diff", self.path("a.png"), self.path("nope.png")], "nope.png: no such file")


class CameraNameTest(CommandTestCase):
    def save(self, name, seed, width=8):
        self.assertEqual(pattern_image(width, 6, seed).save(self.path(name)), 0)

    def test_a_numbered_file_is_that_file_unless_a_sequence_is_asked_for(self):
        for number in (1234, 1235, 1236):
            self.save("IMG_%d.jpg" % number, number, width=8 + number % 2)  # 1235 is the odd one out
        info = self.orvo_json("info", self.path("IMG_1235.jpg"))
        self.assertEqual((info["frames"], info["width"], info["sequence"]), (1, 9, None))
        self.orvo("convert", self.path("IMG_1235.jpg"), self.path("one.png"), "-q")
        self.assertEqual(self.orvo_json("info", self.path("one.png"))["width"], 9)
        for name, seed in (("plain.png", 1), ("gap_0001.png", 1), ("gap_0005.png", 5)):
            self.save(name, seed)
        for name, message in (("plain.png", "needs a numbered file name"),
                              ("gone_0001.png", "gone_0001.png: no such file")):
            self.assertFails(["info", self.path(name), "--sequence"], message)
        # A file past a gap stands for the run that holds it.
        info = self.orvo_json("info", self.path("gap_0005.png"), "--sequence")
        self.assertEqual((info["frames"], info["sequence"]["first"]), (1, 5))
        self.assertFalse(any(n.startswith(".orvo-") for n in os.listdir(self.dir)))

    def test_sequence_is_asked_for_and_stereo_only_where_the_other_eye_exists(self):
        for k in (1, 2, 3):
            self.save("render.%04d.final.png" % k, k)
            self.save("eye_%04dl.png" % k, k)
            self.save("eye_%04dr.png" % k, 10 + k)
        self.save("render.0001.finar.png", 0)  # an 'r' twin of one frame only
        cases = [
            # named file, template read, stereo
            ("render.0002.final.png", "render.####.final.png", False),
            ("eye_0003r.png", "eye_####@.png", True),
        ]
        for name, template, stereo in cases:
            with self.subTest(name):
                info = self.orvo_json("info", self.path(name), "--sequence")
                self.assertEqual((info["file"], info["frames"], info["stereo"]),
                                 (self.path(template), 3, stereo))
        self.orvo("convert", self.path("render.0003.final.png"), self.path("copy.####.png"), "--sequence", "-q")
        self.assertEqual(self.orvo_json("info", self.path("copy.####.png"))["frames"], 3)
        self.assertEqual(self.frame_pixels(self.path("copy.####.png"), 2),
                         self.frame_pixels(self.path("render.0003.final.png"), 0))


if __name__ == "__main__":
    unittest.main()


def package_imports(directory, package):
    """{module: set of modules of the same package it imports}, read from
    the sources (imports inside functions included)."""
    import ast
    modules = sorted(name[:-3] for name in os.listdir(directory) if name.endswith(".py"))
    graph = {}
    for module in modules:
        with open(os.path.join(directory, module + ".py")) as source:
            tree = ast.parse(source.read())
        imported = set()
        for node in ast.walk(tree):
            if isinstance(node, ast.ImportFrom):
                base = node.module or ""
                if node.level == 0 and base.startswith(package + "."):
                    base, level = base[len(package) + 1:], 1
                elif node.level == 0 and base == package:
                    base, level = "", 1
                else:
                    level = node.level
                if level != 1:
                    continue
                names = [base.split(".")[0]] if base else [alias.name for alias in node.names]
                imported.update(name for name in names if name in modules)
            elif isinstance(node, ast.Import):
                for alias in node.names:
                    if alias.name.startswith(package + "."):
                        imported.add(alias.name[len(package) + 1:].split(".")[0])
        graph[module] = imported
    return graph


def import_circles(graph):
    """Every circle of the graph, each as the list of its modules."""
    circles, done = [], set()

    def visit(module, path):
        if module in path:
            circles.append(path[path.index(module):] + [module])
            return
        if module in done:
            return
        for imported in sorted(graph[module]):
            visit(imported, path + [module])
        done.add(module)

    for module in sorted(graph):
        visit(module, [])
    return circles


class CommandPackageTest(unittest.TestCase):
    CLI = os.path.join(os.path.dirname(os.path.abspath(orvo.__file__)), "cli")

    def test_the_circle_finder_finds_circles(self):
        graph = {"a": {"b"}, "b": {"c"}, "c": {"a"}, "d": {"a"}}
        self.assertEqual(import_circles(graph), [["a", "b", "c", "a"]])
        self.assertEqual(import_circles({"a": {"b"}, "b": set()}), [])

    def test_no_module_of_the_command_imports_itself_back(self):
        graph = package_imports(self.CLI, "orvo.cli")
        # The reader sees both spellings and lazy imports.
        self.assertIn("scale_out", graph["cmd_convert"])
        self.assertIn("convert_plan", graph["scale_out_conversion"])
        self.assertEqual(import_circles(graph), [])
