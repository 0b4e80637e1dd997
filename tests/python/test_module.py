import ctypes
import sys
import unittest

import orvo
from orvo_testing import run_python


class VersionAndLocationTest(unittest.TestCase):
    def test_version_and_arch(self):
        info = orvo.version()
        self.assertEqual((type(info), len(info), info[1:]), (list, 3, ["4.2.0", 4.2]))
        self.assertTrue(0 < len(info[0]) <= 86)
        self.assertEqual(orvo.arch(), "linux_2.6_64")
        for function in (orvo.version, orvo.home, orvo.arch):
            self.assertRaises(TypeError, function, 1)

    def test_environment_at_import(self):
        code = "import orvo; print(orvo.home()); print(orvo.version()[1])"
        for env, home, warning in (
                ({"QEV_HOME": "/opt/x/"}, "/opt/x", ""),
                ({"QEV_HOME": "/opt/x"}, "/opt/x", ""),
                ({"QEV_HOME": None}, "/usr/local/QEV", ""),
                ({"QEV_HOME": "/nonexistent/home", "QEV_UDILPATH": "/nonexistent/plugins"},
                 "/nonexistent/home", ""),
                ({"QEV_UDILPATH": "d" * 9000, "QEV_HOME": None}, "/usr/local/QEV",
                 "plug-in directory name is too long")):
            status, out, err = run_python(code, **env)
            self.assertEqual((status, out.split()), (0, [home, "4.2.0"]), err)
            self.assertIn(warning, err)


class ModuleContentsTest(unittest.TestCase):
    def test_doc_strings(self):
        for function, doc in ((orvo, "Orvo Python interface"), (orvo.version, "Orvo version"),
                              (orvo.home, "Orvo home"), (orvo.arch, "Orvo arch"),
                              (orvo.codecs, "Orvo codec list"),
                              (orvo.indexof, "Orvo single file template number"),
                              (orvo.image, "Image objects"), (orvo.movie.getframe, "Get image from movie")):
            self.assertEqual(function.__doc__, doc)

    def test_version_module(self):
        versions = sys.modules["qevversion"]
        self.assertEqual((versions.__doc__, versions.QEV_VERSION), ("QEV software version info", "4.2.0"))
        self.assertNotIn("(", versions.QEV_RELEASE_PLAIN)
        self.assertEqual(versions.QEV_RELEASE.replace("(", "").replace(")", ""), versions.QEV_RELEASE_PLAIN)

    def test_library_functions_are_exported(self):
        library = ctypes.CDLL(orvo.__file__)
        for name in ("dyx_malloc", "dyx_strrepl", "dyx_snprintf", "dyx_dl_open", "dyx_qev_home"):
            self.assertTrue(hasattr(library, name), name)
        library.dyx_quornel_symbol_to_unicode.restype = ctypes.c_uint32
        self.assertEqual(library.dyx_quornel_symbol_to_unicode(65), 0x391)


if __name__ == "__main__":
    unittest.main()
