import ctypes
import sys
import unittest

import orvo
from orvo_testing import run_python


class VersionAndLocationTest(unittest.TestCase):
    def test_version_list(self):
        info = orvo.version()
        self.assertIsInstance(info, list)
        self.assertEqual(len(info), 3)
        self.assertEqual(info[1], "4.2.0")
        self.assertEqual(info[2], 4.2)
        self.assertTrue(0 < len(info[0]) <= 86)

    def test_arch(self):
        self.assertEqual(orvo.arch(), "linux_2.6_64")

    def test_functions_take_no_arguments(self):
        for function in (orvo.version, orvo.home, orvo.arch):
            self.assertRaises(TypeError, function, 1)

    def test_home_follows_qev_home(self):
        code = "import orvo; print(orvo.home())"
        for value, expected in (("/opt/x/", "/opt/x"), ("/opt/x", "/opt/x"),
                                (None, "/usr/local/QEV")):
            status, out, err = run_python(code, QEV_HOME=value)
            self.assertEqual(status, 0, err)
            self.assertEqual(out.strip(), expected)

    def test_import_without_plugin_directory(self):
        status, out, err = run_python(
            "import orvo; print(orvo.version()[1])",
            QEV_UDILPATH="/nonexistent/plugins", QEV_HOME="/nonexistent/home")
        self.assertEqual(status, 0, err)
        self.assertEqual(out.strip(), "4.2.0")

    def test_overlong_plugin_directory_is_refused(self):
        status, out, err = run_python("import orvo; print('ok')",
                                      QEV_UDILPATH="d" * 9000)
        self.assertEqual(status, 0, err)
        self.assertEqual(out.strip(), "ok")
        self.assertIn("plug-in directory name is too long", err)


class ModuleContentsTest(unittest.TestCase):
    def test_doc_strings(self):
        self.assertEqual(orvo.__doc__, "Orvo Python interface")
        self.assertEqual(orvo.version.__doc__, "Orvo version")
        self.assertEqual(orvo.home.__doc__, "Orvo home")
        self.assertEqual(orvo.arch.__doc__, "Orvo arch")
        self.assertEqual(orvo.codecs.__doc__, "Orvo codec list")
        self.assertEqual(orvo.indexof.__doc__, "Orvo single file template number")

    def test_constants(self):
        expected = {
            "DYX_IMG_FMT_A": 1, "DYX_IMG_FMT_RGBA": 16, "DYX_FLIP_YAXIS": 2,
            "DYX_BLEND_CALPHA": 7, "DYX_BLEND_MSCOLOR": 18,
            "DYX_BLEND_MCALPHA": 23, "DYX_BITBLT_ALPHAMASK": 1,
            "DYX_SCALE_SMOOTH": 1, "MOVIE_WRITE": 1,
            "MOVIE_ANAGLYPH_CYANRED": 4, "DYX_UDIL_FLOAT": 2,
            "DYX_UDIL_CHOICE": 4,
        }
        for name, value in expected.items():
            self.assertEqual(getattr(orvo, name), value, name)

    def test_version_module(self):
        self.assertIn("qevversion", sys.modules)
        versions = sys.modules["qevversion"]
        self.assertEqual(versions.__doc__, "QEV software version info")
        self.assertEqual(versions.QEV_VERSION, "4.2.0")
        self.assertNotIn("(", versions.QEV_RELEASE_PLAIN)
        self.assertEqual(versions.QEV_RELEASE.replace("(", "").replace(")", ""),
                         versions.QEV_RELEASE_PLAIN)

    def test_library_functions_are_exported(self):
        library = ctypes.CDLL(orvo.__file__)
        for name in ("dyx_malloc", "dyx_strrepl", "dyx_snprintf",
                     "dyx_dl_open", "dyx_qev_home",
                     "dyx_quornel_symbol_to_unicode"):
            self.assertTrue(hasattr(library, name), name)
        library.dyx_quornel_symbol_to_unicode.restype = ctypes.c_uint32
        self.assertEqual(library.dyx_quornel_symbol_to_unicode(65), 0x391)


if __name__ == "__main__":
    unittest.main()
