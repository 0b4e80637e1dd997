"""The command's views for people and scripts: the contact sheet, the
difference picture and `orvo info --json`, read back with Pillow."""
import os
import unittest

import orvo
from movie_testing import flat_image, pattern_image
from test_cli import PYTHON3, SKIP_REASON, CommandTestCase, run_orvo

try:
    from PIL import Image, ImageChops
except ImportError:
    Image = None

NO_PILLOW = "Pillow (python3-pil) reads the written pictures back"
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


@unittest.skipUnless(PYTHON3, SKIP_REASON)
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

    def test_defaults_wide_numbers_and_movies(self):
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
        # A movie's sheet is the sheet of the same frames read from files.
        movie = self.path("clip.mkv")
        self.orvo("convert", template, movie, "-q", "--options", "codec ffv1")
        for name, out in ((movie, "movie.png"), (template, "files.png")):
            self.orvo("sheet", name, self.path(out), "--every", "10", "--width", "32")
        from_movie, from_files = (Image.open(self.path(n)).convert("RGB") for n in ("movie.png", "files.png"))
        self.assertEqual(from_movie.size, from_files.size)
        self.assertLessEqual(max(high for low, high in ImageChops.difference(from_movie, from_files).getextrema()), 8)

    def test_output_rules_and_mistakes(self):
        template = self.flat_sequence(3)
        sheet = self.path("sheet.png")
        self.orvo("sheet", template, sheet)
        self.assertFails(["sheet", template, sheet], "exists; give -y (--overwrite)")
        self.orvo("sheet", template, sheet, "-y")
        for arguments in ([self.path("f.0001.png"), self.path("f.0001.png")],
                          [self.path("f.0001.png"), self.path("f.0002.png"), "--sequence"]):
            self.assertFails(["sheet"] + arguments + ["-y"], "the output is the input")
        self.assertFails(["sheet", template, self.path("huge.png"), "--width", "100000"], "too large")
        self.assertFails(["sheet", template, sheet, "--every", "0"], "at least 1")
        self.assertFails(["sheet", template, self.path("s.xyz")], "no codec writes files ending in '.xyz'")
        self.assertEqual(sorted(n for n in os.listdir(self.dir) if not n.startswith("f.")), ["sheet.png"])


@unittest.skipUnless(PYTHON3, SKIP_REASON)
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

    def test_equal_frames_give_a_black_picture(self):
        flat_image(4, 4, (10, 20, 30)).save(self.path("a.png"))
        self.orvo("diff", self.path("a.png"), self.path("a.png"), "--out", self.path("d.jpg"))
        self.assertEqual(Image.open(self.path("d.jpg")).getextrema(), (0, 0))


@unittest.skipUnless(PYTHON3, SKIP_REASON)
class InfoJsonTest(CommandTestCase):
    KEYS = {"input", "file", "codec", "width", "height", "frames", "fps", "stereo", "pixel_format",
            "sequence", "tiles"}
    TEXT_KEYS = {"file": "file", "codec": "codec", "frames": "frames", "stereo": "stereo",
                 "pixel format": "pixel_format"}

    def test_every_input_kind_has_the_same_keys_and_the_printed_values(self):
        template = self.write_sequence("seq", 3)
        movie = self.path("clip.mkv")
        self.orvo("convert", template, movie, "-q", "--fps", "12", "--options", "codec ffv1")
        self.orvo("convert", template, self.path("wall.mtm"), "--tiles", "2x1", "--codec", "ffmpeg",
                  "--options", "codec ffv1", "-q")
        cases = [(self.path("seq.0001.png"), "sequence", None), (template, "sequence", {"template": template,
                                                                                        "first": 0, "last": 2}),
                 (movie, "fps", 12.0), (self.path("wall.mtm"), "tiles", 2)]
        for name, key, value in cases:
            with self.subTest(name):
                info = self.orvo_json("info", name)
                self.assertEqual(set(info), self.KEYS)
                self.assertEqual(info[key], value)
                printed = dict(line.split(":", 1) for line in self.orvo("info", name).splitlines())
                printed = dict((k.strip(), v.strip()) for k, v in printed.items())
                self.assertEqual(printed["size"], "%d x %d" % (info["width"], info["height"]))
                for text_key, json_key in self.TEXT_KEYS.items():
                    expected = info[json_key]
                    if isinstance(expected, bool):
                        expected = "yes" if expected else "no"
                    self.assertEqual(printed[text_key], str(expected))
                self.assertEqual(printed["fps"], "unknown" if info["fps"] is None else "%g" % info["fps"])


if __name__ == "__main__":
    unittest.main()
