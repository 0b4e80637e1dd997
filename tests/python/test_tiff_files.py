"""TIFF files as other tools make and read them: every page of Pillow's
multi-page files is a frame and Pillow reads ours, Lab colours as a
colour-managed conversion gives them, damaged fax data refused with its
reason, and tags that claim huge sizes refused cheaply."""
import struct
import unittest

import orvo
from movie_testing import ScratchTestCase, open_movie, pattern_image, pixels, write_movie
from orvo_testing import PRINT_PEAK_MB, have_command, run_bounded, run_python, top_down_bytes

try:
    from PIL import Image
except ImportError:  # Python 2.7 here has no Pillow
    Image = None


def claim_huge_sizes(path, tags):
    """Makes the TIFF at `path` claim 1.9 GB of values for each of `tags`."""
    with open(path, "rb") as source:
        data = bytearray(source.read())
    directory = struct.unpack_from("<I", data, 4)[0]
    for number in range(struct.unpack_from("<H", data, directory)[0]):
        entry = directory + 2 + 12 * number
        if struct.unpack_from("<H", data, entry)[0] in tags:
            struct.pack_into("<I", data, entry + 4, 1900000000)
    with open(path, "wb") as out:
        out.write(bytes(data))


@unittest.skipIf(Image is None, "Pillow (python3-pil) is not installed for this Python")
class TiffOtherToolsTest(ScratchTestCase):
    needed_codecs = ("tiff",)

    def test_a_page_of_another_size_is_refused_with_the_reason(self):
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

    def test_lab_file_made_by_colour_management_reads_back_whatever_the_white_point(self):
        try:
            from PIL import ImageCms, TiffImagePlugin
        except ImportError:
            self.skipTest("Pillow was built without LittleCMS (ImageCms)")
        width, height = 32, 8
        rgb = Image.frombytes("RGB", (width, height), bytes(bytearray(
            v for i in range(width * height) for v in ((i * 8) % 256, (i * 3 + 40) % 256, 255 - (i * 5) % 256))))
        rgb.putpixel((0, 0), (255, 255, 255))
        rgb.putpixel((1, 0), (0, 0, 0))
        rgb.putpixel((2, 0), (119, 119, 119))
        to_lab = ImageCms.buildTransform(ImageCms.createProfile("sRGB"), ImageCms.createProfile("LAB"),
                                         "RGB", "LAB")
        lab = ImageCms.applyTransform(rgb, to_lab)
        d65 = TiffImagePlugin.ImageFileDirectory_v2()
        d65[318] = (0.3127, 0.3290)  # WhitePoint; D50 when there is none
        for white_point in (d65, TiffImagePlugin.ImageFileDirectory_v2()):
            lab.save(self.path("lab.tif"), tiffinfo=white_point)
            image = orvo.image(1, 1)
            self.assertEqual(image.load(self.path("lab.tif")), 0, image.errstr())
            self.assertEqual(image.format, orvo.DYX_IMG_FMT_RGB)
            ours = bytearray(top_down_bytes(image))
            # White, black and grey stay so, whatever white point the file names.
            self.assertEqual(ours[0:6], bytearray([255, 255, 255, 0, 0, 0]))
            self.assertEqual(len(set(ours[6:9])), 1, list(ours[6:9]))
            self.assertLessEqual(abs(ours[6] - 119), 2, ours[6])
        # Back to the colours LittleCMS made the Lab file from (its white is
        # D50), up to the rounding of Lab to whole steps (largest in dark
        # blues). LittleCMS's own 8-bit way back is coarser than that, so it
        # is no reference.
        errors = [abs(a - b) for a, b in zip(ours, bytearray(rgb.tobytes()))]
        self.assertLessEqual(float(sum(errors)) / len(errors), 1.0)
        self.assertLessEqual(max(errors), 10)

    def test_a_tag_claiming_a_huge_size_is_refused_cheaply(self):
        # A 3x1 RGB picture whose description and software name each claim
        # 1.9 GB of text.
        Image.new("RGB", (3, 1), (16, 32, 48)).save(self.path("bomb.tif"), tiffinfo={270: "a picture", 305: "a tool"})
        claim_huge_sizes(self.path("bomb.tif"), (270, 305))
        code = "import orvo\nprint(orvo.image(1, 1).load(%r))\n%s\n" % (self.path("bomb.tif"), PRINT_PEAK_MB)
        status, out, err = run_python(code)
        self.assertEqual(status, 0, err)
        result, peak_mb = out.split()[:2]
        self.assertIn(int(result), (0, -2, -5), out)
        self.assertLess(int(peak_mb), 200, out)

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
