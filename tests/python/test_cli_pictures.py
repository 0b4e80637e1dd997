"""What the command writes, read back with Pillow: the pixel layout of the
input where the output holds it, the contact sheet and the difference
picture."""
import os
import unittest

import orvo
from movie_testing import flat_image, pattern_image
from test_cli import CommandTestCase, run_orvo

try:
    from PIL import Image, ImageChops
except ImportError:
    Image = None

NO_PILLOW = "Pillow (python3-pil) reads the written pictures back"
RGBA, RGB, LA, L = orvo.DYX_IMG_FMT_RGBA, orvo.DYX_IMG_FMT_RGB, orvo.DYX_IMG_FMT_LA, orvo.DYX_IMG_FMT_L
PILLOW_MODES = {RGBA: "RGBA", RGB: "RGB", LA: "LA", L: "L"}
DROPPED_ALPHA = "cannot hold RGBA pictures: writing RGB, the alpha is dropped"
COLOURS = [(200, 30, 30), (30, 200, 30), (30, 30, 200), (200, 200, 30), (30, 200, 200), (200, 30, 200),
           (120, 60, 10)]


def bounding_box(picture, colour):
    """(left, top, right, bottom) of the pixels of exactly `colour`, or None."""
    mask = picture.point(lambda v: 0).convert("L")
    mask.putdata([255 if p == colour else 0 for p in picture.getdata()])
    return mask.getbbox()


def bright_columns(picture, box):
    """The x of every column of `box` holding a bright (ink) pixel."""
    region = picture.crop(box)
    width = region.size[0]
    data = list(region.getdata())
    return sorted(set(x + box[0] for i, (r, g, b) in enumerate(data) if min(r, g, b) > 180
                      for x in (i % width,)))


@unittest.skipIf(Image is None, NO_PILLOW)
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

    def test_convert_and_frame_keep_the_layout_the_output_holds(self):
        for layout, name, mode, note in self.CASES:
            for command in ("convert", "frame"):
                with self.subTest(layout=PILLOW_MODES[layout], output=name, command=command):
                    source, output = self.path("in.png"), self.path(name)
                    self.assertEqual(pattern_image(7, 5, layout, layout).save(source), 0)
                    arguments = [command, source] + (["0"] if command == "frame" else []) + [output, "-y"]
                    status, out, err = run_orvo(*arguments)
                    self.assertEqual(status, 0, err)
                    written = Image.open(output)
                    self.assertEqual(written.mode, mode)
                    if note is None:
                        self.assertNotIn("note:", err)
                    else:
                        self.assertIn("orvo: note: %s %s" % (output, note), err)
                    if not output.endswith(".jpg"):
                        # Lossless: the very pixels Pillow reads from the input, in that layout.
                        self.assertEqual(written.tobytes(), Image.open(source).convert(mode).tobytes())

    def test_sequences_stereo_pairs_and_movies(self):
        for k in range(3):
            self.assertEqual(pattern_image(8, 6, k, RGBA).save(self.path("a.%04d.png" % k)), 0)
        self.orvo("convert", self.path("a.####.png"), self.path("b.####.tif"), "--size", "4x3", "-q")
        self.orvo("convert", self.path("a.####.png"), self.path("a.####.png"), self.path("s.####@.png"), "-q")
        for name in ("b.0002.tif", "s.0001l.png", "s.0002r.png"):
            self.assertEqual(Image.open(self.path(name)).mode, "RGBA", name)
        self.assertEqual(Image.open(self.path("b.0002.tif")).size, (4, 3))
        self.assertEqual(Image.open(self.path("s.0002r.png")).tobytes(),
                         Image.open(self.path("a.0002.png")).tobytes())
        # A movie holds RGB only, and says so.
        status, out, err = run_orvo("convert", self.path("a.####.png"), self.path("m.mkv"), "--options", "codec ffv1")
        self.assertEqual(status, 0, err)
        self.assertIn("m.mkv is written as a movie, in RGB: the alpha is dropped", err)
        self.assertEqual(self.orvo_json("info", self.path("m.mkv"))["pixel_format"], "RGB")
        # An unreadable frame stops a picture by picture write; the frames
        # finished before it stay, as for a numbered movie write.
        with open(self.path("a.0001.png"), "wb") as cut:
            cut.write(b"\x89PNG\r\n\x1a\n")
        self.assertFails(["convert", self.path("a.####.png"), self.path("c.####.png")], "stopped after 1 of 3 frames")
        self.assertEqual(sorted(n for n in os.listdir(self.dir) if n.startswith("c.")), ["c.0000.png"])
        self.assertFalse(any(n.startswith(".orvo-") for n in os.listdir(self.dir)))


@unittest.skipIf(Image is None, NO_PILLOW)
class SheetTest(CommandTestCase):
    def flat_sequence(self, count, width=32, height=24):
        for k in range(count):
            flat_image(width, height, COLOURS[k % len(COLOURS)]).save(self.path("f.%04d.png" % k))
        return self.path("f.####.png")

    def test_thumbnails_in_rows_with_their_numbers_under_them(self):
        template = self.flat_sequence(7)
        out = self.orvo("sheet", template, self.path("sheet.png"), "--every", "2", "--columns", "3",
                        "--width", "40")
        self.assertIn("sheet of 4 frames", out)
        sheet = Image.open(self.path("sheet.png")).convert("RGB")
        boxes = [bounding_box(sheet, COLOURS[k]) for k in (0, 2, 4, 6)]
        for box in boxes:
            self.assertEqual((box[2] - box[0], box[3] - box[1]), (40, 30), boxes)
        # Three across, the fourth starts the second row under the first.
        self.assertEqual(len(set(box[1] for box in boxes[:3])), 1)
        self.assertEqual(boxes[1][0] - boxes[0][0], boxes[2][0] - boxes[1][0])
        self.assertEqual(boxes[3][0], boxes[0][0])
        self.assertGreater(boxes[3][1], boxes[0][3])
        for k in (1, 3, 5):
            self.assertIsNone(bounding_box(sheet, COLOURS[k]), "frame %d is not on the sheet" % k)
        # Numbers: ink right under each thumbnail, centred, "0" ... "6" each drawn differently.
        labels = []
        for box in boxes:
            columns = bright_columns(sheet, (box[0], box[3], box[2], box[3] + 24))
            self.assertTrue(columns, "no number under %s" % (box,))
            self.assertLessEqual(abs((columns[0] + columns[-1]) / 2.0 - (box[0] + box[2]) / 2.0), 2)
            labels.append(sheet.crop((box[0], box[3], box[2], box[3] + 24)).tobytes())
        self.assertEqual(len(set(labels)), 4)
        # The empty cells of the last row stay ground: no ink right of the fourth cell.
        self.assertEqual(bright_columns(sheet, (boxes[1][0], boxes[3][1], sheet.size[0], sheet.size[1])), [])

    def test_defaults_and_wide_numbers(self):
        template = self.flat_sequence(40, 16, 8)
        self.assertIn("sheet of 20 frames", self.orvo("sheet", template, self.path("auto.png")))
        # Every other frame, thumbnails never wider than the frames.
        counts = Image.open(self.path("auto.png")).convert("RGB").getcolors(1 << 16)
        for k, colour in enumerate(COLOURS):
            shown = len([n for n in range(0, 40, 2) if n % len(COLOURS) == k])
            self.assertIn((shown * 16 * 8, colour), counts)
        # Numbers wider than the thumbnails widen the cells: no ink covers a thumbnail.
        wide = self.orvo("sheet", template, self.path("wide.png"), "--every", "1", "--columns", "10",
                         "--width", "4")
        self.assertIn("sheet of 40 frames", wide)
        counts = Image.open(self.path("wide.png")).convert("RGB").getcolors(1 << 16)
        for k, colour in enumerate(COLOURS):
            frames = len(range(k, 40, len(COLOURS)))
            self.assertIn((frames * 4 * 2, colour), counts)

    def test_output_rules_and_mistakes(self):
        template = self.flat_sequence(3)
        sheet = self.path("sheet.png")
        self.orvo("sheet", template, sheet)
        self.assertFails(["sheet", template, sheet], "exists; give -y (--overwrite)")
        self.orvo("sheet", template, sheet, "-y")
        one, two = self.path("f.0001.png"), self.path("f.0002.png")
        for arguments, message in (([one, one, "-y"], "the output is the input"),
                                   ([one, two, "--sequence", "-y"], "the output is the input"),
                                   ([template, self.path("huge.png"), "--width", "100000"], "too large"),
                                   ([template, sheet, "--every", "0"], "at least 1"),
                                   ([template, self.path("s.xyz")], "no codec writes files ending in '.xyz'")):
            self.assertFails(["sheet"] + arguments, message)
        self.assertEqual(sorted(n for n in os.listdir(self.dir) if not n.startswith("f.")), ["sheet.png"])


@unittest.skipIf(Image is None, NO_PILLOW)
class DifferencePictureTest(CommandTestCase):
    def test_largest_difference_is_white(self):
        cases = [
            # label, format, picture B made from A's bytes with these (index, new value) changes
            ("small colour differences", orvo.DYX_IMG_FMT_RGB, [(5, 3), (40, 20), (41, 21)]),
            ("alpha alone", orvo.DYX_IMG_FMT_RGBA, [(7, 200)]),
            ("grey", orvo.DYX_IMG_FMT_L, [(0, 1), (9, 4)]),
        ]
        for label, format, changes in cases:
            with self.subTest(label):
                first = pattern_image(5, 4, 1, format)
                data = bytearray(first.tostring())
                for index, value in changes:
                    data[index] = value
                second = orvo.image(5, 4, format, bytes(data))
                self.assertEqual(first.save(self.path("a.png")), 0)
                self.assertEqual(second.save(self.path("b.png")), 0)
                status, out, err = run_orvo("diff", self.path("a.png"), self.path("b.png"),
                                            "--out", self.path("d.png"), "-y")
                self.assertEqual(status, 1, err)
                # Pillow's own difference, largest over the bands, stretched to 0..255.
                a, b = Image.open(self.path("a.png")), Image.open(self.path("b.png"))
                bands = ImageChops.difference(a, b).split()
                per_pixel = [max(values) for values in zip(*[band.getdata() for band in bands])]
                largest = max(per_pixel)
                expected = [(v * 255 + largest // 2) // largest for v in per_pixel]
                picture = Image.open(self.path("d.png"))
                self.assertEqual((picture.mode, list(picture.getdata())), ("L", expected))
                self.assertIn("white: a difference of %d" % largest, out)


if __name__ == "__main__":
    unittest.main()
