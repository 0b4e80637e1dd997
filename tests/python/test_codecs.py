"""orvo.codecs, orvo.extend, orvo.istemplate and orvo.indexof against real
plug-ins and real files on disk."""
import ast
import os
import shutil
import tempfile
import unittest

import orvo
from orvo_testing import run_python

BUILD_DIR = os.path.dirname(os.path.dirname(os.path.abspath(orvo.__file__)))
PLUGIN_DIR = os.path.join(BUILD_DIR, "udil")
FAKE_DIR = os.path.join(BUILD_DIR, "tests", "udil_fakes", "main")


def codecs_with(directory):
    """orvo.codecs() of a fresh interpreter whose plug-in directory is `directory`."""
    status, out, err = run_python("import orvo; print(repr(orvo.codecs()))", QEV_UDILPATH=directory)
    if status != 0:
        raise AssertionError(err)
    return ast.literal_eval(out.strip())


C, I, B = orvo.DYX_UDIL_CHOICE, orvo.DYX_UDIL_INT, orvo.DYX_UDIL_BOOLEAN
ORIENTATION = ["orientation", C, ["display", "stored"], 0]
# name: description, suffixes, (stereo, multi-frame), the options' first four fields
BUILT_CODECS = {
    "ppm": ("Netpbm PPM/PGM/PAM images", [".ppm", ".pgm", ".pnm", ".pam", ".pbm"], (0, 0),
            [["format", C, ["ppm", "pam"], 0], ["bits", C, ["8", "16"], 0]]),
    "png": ("PNG images (libpng)", [".png"], (0, 1),
            [["compression", I, [0, 9], 1],
             ["filter", C, ["auto", "none", "sub", "up", "average", "paeth", "all"], 0],
             ["interlace", B, "0|1", 0]]),
    "jpeg": ("JPEG images (libjpeg-turbo)", [".jpg", ".jpeg"], (0, 0),
             [["quality", I, [1, 100], 90], ["subsampling", C, ["4:4:4", "4:2:2", "4:2:0"], 2],
              ["progressive", B, "0|1", 0], ["optimize", B, "0|1", 0], ORIENTATION]),
    "tiff": ("TIFF images (libtiff)", [".tif", ".tiff"], (0, 1),
             [["compression", C, ["none", "lzw", "deflate", "packbits", "jpeg"], 1],
              ["predictor", B, "0|1", 1], ORIENTATION]),
}


class CodecsTest(unittest.TestCase):
    def test_still_image_plugins_are_listed_with_their_options(self):
        listing = dict((entry[0], entry) for entry in codecs_with(PLUGIN_DIR))
        for name, (desc, suffixes, flags, options) in BUILT_CODECS.items():
            self.assertIn(name, listing, "no %s plug-in in %s" % (name, PLUGIN_DIR))
            entry = listing[name]
            self.assertEqual((entry[1], entry[2], tuple(entry[3:5])), (desc, suffixes, flags), name)
            self.assertEqual([option[:4] for option in entry[5]], options, name)
            for option in entry[5]:  # a description, not the name again
                self.assertNotIn(option[4], ("", option[0]), "%s option %s" % (name, option[0]))
        self.assertEqual(listing["ppm"][5][0][4], "File layout for RGB pictures")

    def test_every_option_type_is_described(self):
        listing = dict((entry[0], entry) for entry in codecs_with(FAKE_DIR))
        self.assertEqual(listing["fmulti"][4], 1)
        self.assertEqual(listing["fstereo"][3], 1)
        options = listing["fmono"][5]
        self.assertEqual(options, [
            ["quality", orvo.DYX_UDIL_INT, [1, 100], 50, "Quality"],
            ["gamma", orvo.DYX_UDIL_FLOAT, [0.0, 1.0], 0.5, "gamma"],
            ["compression", orvo.DYX_UDIL_CHOICE, ["none", "rle", "zip"], 0, "Compression"],
            ["flag", orvo.DYX_UDIL_BOOLEAN, "0|1", 1, "A flag"],
            ["comment", 3, "", "hello", "Comment"],
        ])

    def test_empty_or_missing_directory_lists_nothing(self):
        empty = tempfile.mkdtemp()
        try:
            self.assertEqual(codecs_with(empty), [])
        finally:
            shutil.rmtree(empty)
        self.assertEqual(codecs_with("/nonexistent/orvo/udil"), [])

    def test_codecs_takes_no_arguments(self):
        self.assertRaises(TypeError, orvo.codecs, 1)
        self.assertIsInstance(orvo.codecs(), list)


class SequenceNamesTest(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.directory)

    def path(self, name):
        return os.path.join(self.directory, name)

    def touch(self, *names):
        for name in names:
            open(self.path(name), "w").close()

    def test_istemplate_without_a_number(self):
        self.assertEqual(orvo.istemplate("/data/run.mov"), [0, "/data/run.mov", 0, 0, 0, 0])
        self.assertEqual(orvo.istemplate("dir7/name.png"), [0, "dir7/name.png", 0, 0, 0, 0])
        self.assertEqual(orvo.istemplate(""), [0, "", 0, 0, 0, 0])

    def test_istemplate_finds_the_run_on_disk(self):
        self.touch(*["img_%04d.png" % n for n in range(40, 46)])
        self.assertEqual(orvo.istemplate(self.path("img_0042.png")),
                         [2, self.path("img_####.png"), 0, 6, 40, 45])

    def test_istemplate_marks_the_eye_after_the_number(self):
        self.assertEqual(orvo.istemplate("shot0001r.png")[:3], [2, "shot####@.png", 1])
        self.assertEqual(orvo.istemplate("left0001.png"), [2, "left####.png", 0, 0, 0, 0])
        self.touch("s_07l.tif", "s_08l.tif")
        self.assertEqual(orvo.istemplate(self.path("s_07l.tif")), [2, self.path("s_##@.tif"), 1, 2, 7, 8])

    def test_istemplate_of_a_template(self):
        self.assertEqual(orvo.istemplate(self.path("img_####.png")),
                         [1, self.path("img_####.png"), 0, 0, -1, -1])
        self.touch("e_l_3.png", "e_l_4.png")
        self.assertEqual(orvo.istemplate(self.path("e_@_#.png")), [1, self.path("e_@_#.png"), 1, 2, 3, 4])

    def test_indexof_examples(self):
        self.assertEqual(orvo.indexof("a_###@.png", "a_012r.png", 0, -1), 12)
        self.assertEqual(orvo.indexof("a_###@.png", "a_012l.png", 0, -1), 12)
        self.assertEqual(orvo.indexof("plain.png", "plain.png", 5, -1), 5)
        self.assertEqual(orvo.indexof("plain.png", "other.png", 5, -1), -1)

    def test_indexof_respects_the_range_and_the_padding(self):
        self.assertEqual(orvo.indexof("f_####.png", "f_0042.png", 0, 41), -1)
        self.assertEqual(orvo.indexof("f_####.png", "f_0042.png", 43, -1), -1)
        self.assertEqual(orvo.indexof("f_####.png", "f_0042.png", -7, 42), 42)
        self.assertEqual(orvo.indexof("f_####.png", "f_00042.png", 0, -1), -1)
        self.assertEqual(orvo.indexof("f_####.png", "f_12345.png", 0, 99999), 12345)
        self.assertEqual(orvo.indexof("f_####.png", "f_12345.png", 0, -1), -1)
        self.assertEqual(orvo.indexof("f_####.png", "f_00x2.png", 0, -1), -1)
        self.assertEqual(orvo.indexof("f_####.png", "g_0042.png", 0, -1), -1)
        self.assertEqual(orvo.indexof("f_####.png", "f_.png", 0, -1), -1)

    def test_indexof_with_nine_hashes_answers_at_once(self):
        # Guards against searching up to 10^9 - 1 names one by one (the
        # frame number is read out of the name instead).
        self.assertEqual(orvo.indexof("n_#########.exr", "n_987654321.exr", 0, -1), 987654321)
        self.assertEqual(orvo.indexof("n_#########.exr", "n_000000000.ex", 0, -1), -1)
        self.assertEqual(orvo.indexof("n_############.exr", "n_000000000042.exr", 0, -1), 42)

    def test_extend(self):
        self.touch(*["f_%04d.png" % n for n in range(9, 21)])
        template = self.path("f_####.png")
        self.assertEqual(orvo.extend(template, 9, 10, 20), (1, 9, 20))
        self.assertEqual(orvo.extend(template, 15, 10, 20), (1, 10, 20))
        self.assertEqual(orvo.extend(template, 21, 10, 20), (0, 10, 20))
        self.touch("f_0021.png")
        self.assertEqual(orvo.extend(template, 21, 10, 20), (1, 10, 21))
        os.remove(self.path("f_0009.png"))
        self.assertEqual(orvo.extend(template, 9, 10, 20), (0, 10, 20))

    def test_argument_errors(self):
        self.assertRaises(TypeError, orvo.extend, "f_#", 1, 2)
        self.assertRaises(TypeError, orvo.istemplate, 5)
        self.assertRaises(TypeError, orvo.indexof, "a", "b", "c", 1)


if __name__ == "__main__":
    unittest.main()
