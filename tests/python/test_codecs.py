"""orvo.codecs, orvo.extend, orvo.istemplate and orvo.indexof against real
plug-ins and real files on disk."""
import ast
import os
import unittest

import orvo
from movie_testing import ScratchTestCase
from orvo_testing import run_python

# build/py3/orvo/__init__.py: the build tree is three levels up.
BUILD_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(orvo.__file__))))
PLUGIN_DIR = os.path.join(BUILD_DIR, "udil")
FAKE_DIR = os.path.join(BUILD_DIR, "tests", "udil_fakes", "main")


def codecs_with(directory):
    """orvo.codecs() of a fresh interpreter whose plug-in directory is `directory`."""
    status, out, err = run_python("import orvo; print(repr(orvo.codecs()))", QEV_UDILPATH=directory)
    if status != 0:
        raise AssertionError(err)
    return ast.literal_eval(out.strip())


class CodecsTest(unittest.TestCase):
    def test_still_image_plugins_are_listed_with_described_options(self):
        listing = dict((entry[0], entry) for entry in codecs_with(PLUGIN_DIR))
        # name: suffixes, (stereo, multi-frame)
        for name, suffixes, flags in (("ppm", [".ppm", ".pgm", ".pnm", ".pam", ".pbm"], (0, 0)),
                                      ("png", [".png"], (0, 1)), ("jpeg", [".jpg", ".jpeg"], (0, 0)),
                                      ("tiff", [".tif", ".tiff"], (0, 1))):
            self.assertIn(name, listing, "no %s plug-in in %s" % (name, PLUGIN_DIR))
            self.assertEqual((listing[name][2], tuple(listing[name][3:5])), (suffixes, flags), name)
            for option in listing[name][5]:  # a description, not the name again
                self.assertNotIn(option[4], ("", option[0]), "%s option %s" % (name, option[0]))

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


class SequenceNamesTest(ScratchTestCase):
    def touch(self, *names):
        for name in names:
            open(self.path(name), "w").close()

    def test_istemplate(self):
        self.touch(*["img_%04d.png" % n for n in range(40, 46)] + ["s_07l.tif", "s_08l.tif", "e_l_3.png", "e_l_4.png"])
        cases = [
            # A name without a number, a numbered name (found on disk or not), a template.
            ("/data/run.mov", [0, "/data/run.mov", 0, 0, 0, 0]),
            ("dir7/name.png", [0, "dir7/name.png", 0, 0, 0, 0]),
            ("", [0, "", 0, 0, 0, 0]),
            (self.path("img_0042.png"), [2, self.path("img_####.png"), 0, 6, 40, 45]),
            ("left0001.png", [2, "left####.png", 0, 0, 0, 0]),
            (self.path("s_07l.tif"), [2, self.path("s_##@.tif"), 1, 2, 7, 8]),  # the eye after the number
            (self.path("img_####.png"), [1, self.path("img_####.png"), 0, 6, 40, 45]),
            (self.path("none_####.png"), [1, self.path("none_####.png"), 0, 0, -1, -1]),
            (self.path("e_@_#.png"), [1, self.path("e_@_#.png"), 1, 2, 3, 4]),
        ]
        for name, expected in cases:
            self.assertEqual(orvo.istemplate(name), expected, name)
        self.assertEqual(orvo.istemplate("shot0001r.png")[:3], [2, "shot####@.png", 1])

    def test_indexof(self):
        cases = [
            ("a_###@.png", "a_012r.png", 0, -1, 12), ("a_###@.png", "a_012l.png", 0, -1, 12),
            ("plain.png", "plain.png", 5, -1, 5), ("plain.png", "other.png", 5, -1, -1),
            # The range and the padding.
            ("f_####.png", "f_0042.png", 0, 41, -1), ("f_####.png", "f_0042.png", 43, -1, -1),
            ("f_####.png", "f_0042.png", -7, 42, 42), ("f_####.png", "f_00042.png", 0, -1, -1),
            ("f_####.png", "f_12345.png", 0, 99999, 12345), ("f_####.png", "f_12345.png", 0, -1, -1),
            ("f_####.png", "f_00x2.png", 0, -1, -1), ("f_####.png", "g_0042.png", 0, -1, -1),
            ("f_####.png", "f_.png", 0, -1, -1),
            # Guards against searching up to 10^9 - 1 names one by one (the
            # frame number is read out of the name instead).
            ("n_#########.exr", "n_987654321.exr", 0, -1, 987654321),
            ("n_#########.exr", "n_000000000.ex", 0, -1, -1),
            ("n_############.exr", "n_000000000042.exr", 0, -1, 42),
        ]
        for name_template, name, start, end, expected in cases:
            self.assertEqual(orvo.indexof(name_template, name, start, end), expected, (name_template, name))

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
        self.assertRaises(TypeError, orvo.codecs, 1)


if __name__ == "__main__":
    unittest.main()
