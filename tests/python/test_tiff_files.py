"""TIFF files as other tools make and read them: every page of Pillow's
multi-page files is a frame and Pillow reads ours, Lab colours as a
colour-managed conversion gives them, damaged fax data refused with its
reason, and tags that claim huge sizes refused cheaply."""
import struct
import unittest

import orvo
from movie_testing import ScratchTestCase, new_write_movie, open_movie, pattern_image, pixels, write_movie
from orvo_testing import PRINT_PEAK_MB, have_command, run_bounded, run_python, top_down_bytes

try:
    from PIL import Image
except ImportError:  # Python 2.7 here has no Pillow
    Image = None

NEED_PILLOW = "Pillow (python3-pil) is not installed for this Python"


def little_endian_tiff(width, height, samples, bits, photometric, data, extra=None, white=None, claims=()):
    """An uncompressed TIFF of one strip; `data` holds the samples, top row
    first, already packed in `bits`. `extra` is the ExtraSamples value,
    `white` the WhitePoint; `claims` are (tag, type, count) entries whose
    values are said to start at the data, whatever their count."""
    entries = [(256, 4, [width]), (257, 4, [height]), (258, 3, [bits] * samples), (259, 3, [1]),
               (262, 3, [photometric]), (273, 4, [0]), (277, 3, [samples]), (278, 4, [height]),
               (279, 4, [len(data)]), (284, 3, [1])]
    if extra is not None:
        entries.append((338, 3, [extra]))
    if white is not None:
        entries.append((318, 5, white))  # rationals as (numerator, denominator) pairs
    entries.extend((tag, kind, ("claim", count)) for tag, kind, count in claims)
    entries.sort(key=lambda entry: entry[0])
    directory_at = 8 + len(data) + (len(data) & 1)
    outside_at = directory_at + 2 + 12 * len(entries) + 4
    directory, outside = [struct.pack("<H", len(entries))], []
    for tag, kind, values in entries:
        if tag == 273:
            values = [8]
        if isinstance(values, tuple):
            directory.append(struct.pack("<HHII", tag, kind, values[1], 8))
            continue
        if kind == 5:
            packed = b"".join(struct.pack("<II", n, d) for n, d in values)
        else:
            packed = b"".join(struct.pack("<H" if kind == 3 else "<I", v) for v in values)
        if len(packed) <= 4:
            directory.append(struct.pack("<HHI", tag, kind, len(values)) + packed.ljust(4, b"\0"))
        else:
            directory.append(struct.pack("<HHII", tag, kind, len(values), outside_at + sum(map(len, outside))))
            outside.append(packed)
    directory.append(struct.pack("<I", 0))
    return (struct.pack("<2sHI", b"II", 42, directory_at) + data + b"\0" * (len(data) & 1) +
            b"".join(directory) + b"".join(outside))


class TiffTest(ScratchTestCase):
    needed_codecs = ("tiff",)

    def test_a_hash_run_too_short_for_the_frames_is_refused_at_open(self):
        movie = new_write_movie(self.path("short_#.tif"), (4, 4), 11)
        self.assertNotEqual(movie.open(), 0)
        self.assertIn("11 frames need more digits", movie.errstr())
        self.assertEqual(self.files(), [])

    def test_a_page_of_another_size_is_refused_with_the_reason(self):
        if Image is None:
            self.skipTest(NEED_PILLOW)
        first = Image.new("RGB", (20, 10), (200, 10, 10))
        other = Image.new("RGB", (8, 6), (10, 200, 10))
        first.save(self.path("mixed.tif"), save_all=True, append_images=[other, first])
        movie = open_movie(self.path("mixed.tif"))
        self.assertEqual(movie.nframes, 3)
        image = orvo.image(1, 1)
        self.assertEqual(image.load(self.path("mixed.tif"), 2), 0, image.errstr())
        self.assertEqual(image.dims, [20, 10])
        self.assertEqual(image.load(self.path("mixed.tif"), 1), -5)
        self.assertIn("page 1 of %s is 8x6 RGB" % self.path("mixed.tif"), image.errstr())

    def test_lab_white_and_black_whatever_the_white_point(self):
        # 8-bit CIELab: L 0..255, a and b signed; white, black, then mid grey.
        data = bytes(bytearray([255, 0, 0, 0, 0, 0, 119, 0, 0]))
        for white in (None, [(3127, 10000), (3290, 10000)]):  # D50 by default, then D65
            with open(self.path("lab.tif"), "wb") as out:
                out.write(little_endian_tiff(3, 1, 3, 8, 8, data, white=white))
            image = orvo.image(1, 1)
            self.assertEqual(image.load(self.path("lab.tif")), 0, image.errstr())
            # L* 46.7 is sRGB grey 110 or so.
            self.assertEqual(list(pixels(image))[:6], [255, 255, 255, 0, 0, 0])
            grey = list(pixels(image))[6:]
            self.assertEqual(len(set(grey)), 1, grey)
            self.assertTrue(108 <= grey[0] <= 112, grey)

    def test_a_tag_claiming_a_huge_size_is_refused_cheaply(self):
        # A 3x1 RGB picture whose description claims 1.9 GB of text and
        # whose software name claims as much.
        with open(self.path("bomb.tif"), "wb") as out:
            out.write(little_endian_tiff(3, 1, 3, 8, 2, b"\x10\x20\x30" * 3,
                                         claims=[(270, 2, 1900000000), (305, 2, 1900000000)]))
        code = "import orvo\nprint(orvo.image(1, 1).load(%r))\n%s\n" % (self.path("bomb.tif"), PRINT_PEAK_MB)
        status, out, err = run_python(code)
        self.assertEqual(status, 0, err)
        result, peak_mb = out.split()[:2]
        self.assertIn(int(result), (0, -2, -5), out)
        self.assertLess(int(peak_mb), 200, out)


@unittest.skipIf(Image is None, NEED_PILLOW)
class TiffOtherToolsTest(ScratchTestCase):
    needed_codecs = ("tiff",)

    def pillow_pages(self, path):
        """Every page of `path` as Pillow decodes it, in RGB."""
        pages = []
        with Image.open(path) as picture:
            for number in range(picture.n_frames):
                picture.seek(number)
                pages.append(picture.convert("RGB").tobytes())
        return pages

    def test_multi_page_files_exchanged_with_pillow(self):
        images = [Image.frombytes("RGB", (17, 11), bytes(pixels(pattern_image(17, 11, seed))))
                  for seed in (7, 8, 9, 10)]
        images[0].save(self.path("pil.tif"), save_all=True, append_images=images[1:], compression="tiff_lzw")
        expected = self.pillow_pages(self.path("pil.tif"))
        movie = open_movie(self.path("pil.tif"))
        self.assertEqual(movie.nframes, len(expected))
        for number, want in enumerate(expected):
            self.assertEqual(top_down_bytes(movie.getframe(number)[0]), want, "page %d" % number)
        frames = [pattern_image(19, 12, seed) for seed in (11, 12, 13)]
        write_movie(self.path("ours.tif"), frames, options="compression deflate")
        self.assertEqual(self.pillow_pages(self.path("ours.tif")), [top_down_bytes(frame) for frame in frames])

    def test_lab_file_made_by_colour_management_reads_back(self):
        try:
            from PIL import ImageCms
        except ImportError:
            self.skipTest("Pillow was built without LittleCMS (ImageCms)")
        width, height = 32, 8
        rgb = Image.frombytes("RGB", (width, height), bytes(bytearray(
            v for i in range(width * height) for v in ((i * 8) % 256, (i * 3 + 40) % 256, 255 - (i * 5) % 256))))
        rgb.putpixel((0, 0), (255, 255, 255))
        rgb.putpixel((1, 0), (0, 0, 0))
        to_lab = ImageCms.buildTransform(ImageCms.createProfile("sRGB"), ImageCms.createProfile("LAB"),
                                         "RGB", "LAB")
        lab = ImageCms.applyTransform(rgb, to_lab)
        lab.save(self.path("lab.tif"))
        image = orvo.image(1, 1)
        self.assertEqual(image.load(self.path("lab.tif")), 0, image.errstr())
        self.assertEqual(image.format, orvo.DYX_IMG_FMT_RGB)
        ours = bytearray(top_down_bytes(image))
        self.assertEqual(ours[0:6], bytearray([255, 255, 255, 0, 0, 0]))  # white is white
        # Back to the colours LittleCMS made the Lab file from, up to the
        # rounding of Lab to whole steps (largest in dark blues). LittleCMS's
        # own 8-bit way back is coarser than that, so it is no reference.
        errors = [abs(a - b) for a, b in zip(ours, bytearray(rgb.tobytes()))]
        self.assertLessEqual(float(sum(errors)) / len(errors), 1.0)
        self.assertLessEqual(max(errors), 10)

    @unittest.skipUnless(have_command("tiffcp"), "libtiff's tools (libtiff-tools) are not installed")
    def test_damaged_fax_data_is_an_error_with_the_reason(self):
        width, height = 256, 200
        page = Image.new("1", (width, height), 1)
        for y in range(height):
            for x in range(0, width, 3 + y % 5):
                page.putpixel((x, y), 0)
        page.save(self.path("page.tif"))
        status, out, err = run_bounded(["tiffcp", "-c", "g4", "-r", str(height), self.path("page.tif"),
                                        self.path("fax.tif")])
        self.assertEqual(status, 0, err)
        good = orvo.image(1, 1)
        self.assertEqual(good.load(self.path("fax.tif")), 0, good.errstr())
        with Image.open(self.path("fax.tif")) as picture:
            start, length = picture.tag_v2[273][0], picture.tag_v2[279][0]
        with open(self.path("fax.tif"), "rb") as source:
            data = bytearray(source.read())
        # The code words go bad from the middle of the strip on.
        for k in range(start + length // 2, start + length):
            data[k] = 0x00 if k % 3 else 0x5A
        with open(self.path("bad.tif"), "wb") as out:
            out.write(bytes(data))
        image = orvo.image(1, 1)
        self.assertEqual(image.load(self.path("bad.tif")), -5)
        message = image.errstr()
        self.assertTrue(message.startswith("Unable to read image frame.: "), message)
        self.assertIn("damaged picture data", message)

    @unittest.skipUnless(have_command("tiffcp"), "libtiff's tools (libtiff-tools) are not installed")
    def test_a_large_picture_in_one_strip_stays_readable(self):
        # libtiff decodes a palette strip into a buffer of its own, larger
        # than the limit on tag memory.
        Image.new("RGB", (5000, 4000), (10, 200, 30)).quantize(8).save(self.path("palette.tif"))
        status, out, err = run_bounded(["tiffcp", "-c", "lzw", "-r", "4000", self.path("palette.tif"),
                                        self.path("one_strip.tif")])
        self.assertEqual(status, 0, err)
        image = orvo.image(1, 1)
        self.assertEqual(image.load(self.path("one_strip.tif")), 0, image.errstr())
        self.assertEqual(image.dims, [5000, 4000])
        self.assertEqual(list(pixels(image)[:3]), [10, 200, 30])


if __name__ == "__main__":
    unittest.main()
