"""What `orvo convert` and `orvo frame` keep of the input: its pixel layout
where the output holds it, and a numbered camera name read as one file."""
import os
import unittest

import orvo
from movie_testing import pattern_image
from test_cli import PYTHON3, SKIP_REASON, CommandTestCase, run_orvo

try:
    from PIL import Image
except ImportError:
    Image = None

RGBA, RGB, LA, L = orvo.DYX_IMG_FMT_RGBA, orvo.DYX_IMG_FMT_RGB, orvo.DYX_IMG_FMT_LA, orvo.DYX_IMG_FMT_L
PILLOW_MODES = {RGBA: "RGBA", RGB: "RGB", LA: "LA", L: "L"}
DROPPED_ALPHA = "cannot hold RGBA pictures: writing RGB, the alpha is dropped"


@unittest.skipUnless(PYTHON3, SKIP_REASON)
@unittest.skipIf(Image is None, "Pillow (python3-pil) reads the written pictures back")
class LayoutTest(CommandTestCase):
    CASES = [
        # input layout, output name, Pillow's mode of the output, note on standard error
        (RGBA, "out.png", "RGBA", None),
        (RGBA, "out.tif", "RGBA", None),
        (LA, "out.png", "LA", None),
        (L, "out.png", "L", None),
        (L, "out.tif", "L", None),
        (L, "out.jpg", "L", None),
        (RGB, "out.png", "RGB", None),
        (RGBA, "out.jpg", "RGB", DROPPED_ALPHA),
        (RGBA, "out.ppm", "RGB", DROPPED_ALPHA),
    ]

    def check_output(self, source, output, mode, err, note):
        written = Image.open(output)
        self.assertEqual(written.mode, mode)
        if note is None:
            self.assertNotIn("note:", err)
        else:
            self.assertIn("orvo: note: %s %s" % (output, note), err)
        if not output.endswith(".jpg"):
            # Lossless: the very pixels Pillow reads from the input, in that layout.
            self.assertEqual(written.tobytes(), Image.open(source).convert(mode).tobytes())

    def test_convert_and_frame_keep_the_layout_the_output_holds(self):
        for layout, name, mode, note in self.CASES:
            for command in ("convert", "frame"):
                with self.subTest(layout=PILLOW_MODES[layout], output=name, command=command):
                    source = self.path("in.png")
                    self.assertEqual(pattern_image(7, 5, layout, layout).save(source), 0)
                    output = self.path(name)
                    arguments = [command, source] + (["0"] if command == "frame" else []) + [output, "-y"]
                    status, out, err = run_orvo(*arguments)
                    self.assertEqual(status, 0, err)
                    self.check_output(source, output, mode, err, note)

    def test_numbered_outputs_resized_and_stereo(self):
        for k in range(3):
            self.assertEqual(pattern_image(8, 6, k, RGBA).save(self.path("a.%04d.png" % k)), 0)
        self.orvo("convert", self.path("a.####.png"), self.path("b.####.tif"), "--size", "4x3", "-q")
        self.orvo("convert", self.path("a.####.png"), self.path("a.####.png"), self.path("s.####@.png"), "-q")
        for name in ("b.0002.tif", "s.0001l.png", "s.0002r.png"):
            with self.subTest(name):
                self.assertEqual(Image.open(self.path(name)).mode, "RGBA")
        self.assertEqual(Image.open(self.path("b.0002.tif")).size, (4, 3))
        self.assertEqual(Image.open(self.path("s.0002r.png")).tobytes(),
                         Image.open(self.path("a.0002.png")).tobytes())

    def test_unreadable_frame_stops_a_picture_by_picture_write(self):
        for k in range(3):
            self.assertEqual(pattern_image(8, 6, k, RGBA).save(self.path("a.%04d.png" % k)), 0)
        with open(self.path("a.0001.png"), "wb") as cut:
            cut.write(b"\x89PNG\r\n\x1a\n")
        self.assertFails(["convert", self.path("a.####.png"), self.path("b.####.png")], "stopped after 1 of 3 frames")
        # The frames finished before the failure stay, as for a numbered movie write.
        self.assertEqual(sorted(n for n in os.listdir(self.dir) if n.startswith("b.")), ["b.0000.png"])
        self.assertFalse(any(n.startswith(".orvo-") for n in os.listdir(self.dir)))

    def test_movies_are_rgb_with_a_note(self):
        self.assertEqual(pattern_image(8, 6, 1, RGBA).save(self.path("in.png")), 0)
        status, out, err = run_orvo("convert", self.path("in.png"), self.path("m.mkv"),
                                    "--options", "codec ffv1", "--repeat", "0", "2")
        self.assertEqual(status, 0, err)
        self.assertIn("m.mkv is written as a movie, in RGB: the alpha is dropped", err)
        self.assertEqual(self.orvo_json("info", self.path("m.mkv"))["pixel_format"], "RGB")


@unittest.skipUnless(PYTHON3, SKIP_REASON)
class CameraNameTest(CommandTestCase):
    def save(self, name, seed, width=8):
        self.assertEqual(pattern_image(width, 6, seed).save(self.path(name)), 0)

    def test_a_numbered_file_is_that_file(self):
        for number in (1234, 1235, 1236):
            self.save("IMG_%d.jpg" % number, number, width=8 + number % 2)  # 1235 is the odd one out
        info = self.orvo_json("info", self.path("IMG_1235.jpg"))
        self.assertEqual((info["frames"], info["width"], info["sequence"]), (1, 9, None))
        self.orvo("convert", self.path("IMG_1235.jpg"), self.path("one.png"), "-q")
        self.assertEqual(self.orvo_json("info", self.path("one.png"))["width"], 9)

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

    def test_sequence_mistakes(self):
        self.save("plain.png", 1)
        self.save("gap_0001.png", 1)
        self.save("gap_0005.png", 5)
        self.assertFails(["info", self.path("plain.png"), "--sequence"], "needs a numbered file name")
        self.assertFails(["info", self.path("gap_0005.png"), "--sequence"],
                         "is not in the run of consecutive files")
        self.assertFails(["info", self.path("gone_0001.png"), "--sequence"], "gone_0001.png: no such file")
        self.assertFalse(any(n.startswith(".orvo-") for n in os.listdir(self.dir)))


if __name__ == "__main__":
    unittest.main()
