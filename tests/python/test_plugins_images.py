"""The png, jpeg and tiff codec plug-ins as orvo.codecs() shows them."""
import ast
import os
import unittest

import orvo
from orvo_testing import run_python

BUILD_DIR = os.path.dirname(os.path.dirname(os.path.abspath(orvo.__file__)))
PLUGIN_DIR = os.path.join(BUILD_DIR, "udil")


def build_listing():
    """orvo.codecs() of a fresh interpreter over the build's plug-ins, by name."""
    status, out, err = run_python("import orvo; print(repr(orvo.codecs()))",
                                  QEV_UDILPATH=PLUGIN_DIR)
    if status != 0:
        raise AssertionError(err)
    return dict((entry[0], entry) for entry in ast.literal_eval(out.strip()))


class ImageCodecListingTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.listing = build_listing()

    def entry(self, name):
        self.assertIn(name, self.listing, "no %s plug-in in %s" % (name, PLUGIN_DIR))
        return self.listing[name]

    def test_still_image_codecs_are_listed_beside_ppm(self):
        for name in ("ppm", "png", "jpeg", "tiff"):
            self.entry(name)

    def test_png(self):
        name, desc, suffixes, stereo, multi, options = self.entry("png")
        self.assertEqual(desc, "PNG images (libpng)")
        self.assertEqual(suffixes, [".png"])
        self.assertEqual((stereo, multi), (0, 1))
        self.assertEqual([option[0] for option in options], ["compression", "filter", "interlace"])
        self.assertEqual(options[0][:4], ["compression", orvo.DYX_UDIL_INT, [0, 9], 1])
        self.assertEqual(options[1][:4], ["filter", orvo.DYX_UDIL_CHOICE,
                                          ["auto", "none", "sub", "up", "average", "paeth", "all"], 0])
        self.assertEqual(options[2][:4], ["interlace", orvo.DYX_UDIL_BOOLEAN, "0|1", 0])

    def test_jpeg(self):
        name, desc, suffixes, stereo, multi, options = self.entry("jpeg")
        self.assertEqual(desc, "JPEG images (libjpeg-turbo)")
        self.assertEqual(suffixes, [".jpg", ".jpeg"])
        self.assertEqual((stereo, multi), (0, 0))
        self.assertEqual([option[:4] for option in options], [
            ["quality", orvo.DYX_UDIL_INT, [1, 100], 90],
            ["subsampling", orvo.DYX_UDIL_CHOICE, ["4:4:4", "4:2:2", "4:2:0"], 2],
            ["progressive", orvo.DYX_UDIL_BOOLEAN, "0|1", 0],
            ["optimize", orvo.DYX_UDIL_BOOLEAN, "0|1", 0],
            ["orientation", orvo.DYX_UDIL_CHOICE, ["display", "stored"], 0],
        ])

    def test_tiff(self):
        name, desc, suffixes, stereo, multi, options = self.entry("tiff")
        self.assertEqual(desc, "TIFF images (libtiff)")
        self.assertEqual(suffixes, [".tif", ".tiff"])
        self.assertEqual((stereo, multi), (0, 1))  # pages of one file are frames
        self.assertEqual([option[:4] for option in options], [
            ["compression", orvo.DYX_UDIL_CHOICE, ["none", "lzw", "deflate", "packbits", "jpeg"], 1],
            ["predictor", orvo.DYX_UDIL_BOOLEAN, "0|1", 1],
            ["orientation", orvo.DYX_UDIL_CHOICE, ["display", "stored"], 0],
        ])

    def test_every_option_has_a_description(self):
        for name in ("png", "jpeg", "tiff"):
            for option in self.entry(name)[5]:
                self.assertNotEqual(option[4], option[0], "%s option %s" % (name, option[0]))


if __name__ == "__main__":
    unittest.main()
