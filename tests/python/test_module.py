"""The module itself: version, home and architecture, the environment read
at import, where the plug-ins are found (QEV_UDILPATH, then the home's
directory when it exists, then orvo/plugins in the package, the layout a
wheel installs), and `import orvo` while NumPy fails to load:
Ctrl-C or sys.exit stop the import, any other failure only disables the
pixel arrays (a stand-in `numpy` package first on a child's path)."""
import ctypes
import os
import shutil
import sys
import tempfile
import unittest

import orvo
from orvo_testing import run_python

LIST_CODECS = "import orvo; print(' '.join(sorted(c[0] for c in orvo.codecs())))"


class VersionAndLocationTest(unittest.TestCase):
    def test_version_and_arch(self):
        info = orvo.version()
        self.assertEqual((type(info), len(info), info[1:]), (list, 3, ["4.2.0", 4.2]))
        self.assertTrue(0 < len(info[0]) <= 86)
        self.assertEqual(orvo.arch(), "linux_2.6_64")
        for function in (orvo.version, orvo.home, orvo.arch):
            self.assertRaises(TypeError, function, 1)
        versions = sys.modules["qevversion"]
        self.assertEqual((versions.__doc__, versions.QEV_VERSION), ("QEV software version info", "4.2.0"))
        self.assertEqual(versions.QEV_RELEASE.replace("(", "").replace(")", ""), versions.QEV_RELEASE_PLAIN)
        self.assertNotIn("(", versions.QEV_RELEASE_PLAIN)

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

    def test_library_functions_are_exported(self):
        library = ctypes.CDLL(orvo._orvo.__file__)
        for name in ("dyx_malloc", "dyx_strrepl", "dyx_snprintf", "dyx_dl_open", "dyx_qev_home"):
            self.assertTrue(hasattr(library, name), name)
        library.dyx_quornel_symbol_to_unicode.restype = ctypes.c_uint32
        self.assertEqual(library.dyx_quornel_symbol_to_unicode(65), 0x391)


class PluginsBesideModuleTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="orvo-fallback-")
        self.addCleanup(shutil.rmtree, self.root, True)
        # A copy of the package with a plug-in in it, as pip installs it.
        self.site = os.path.join(self.root, "site")
        shutil.copytree(os.path.dirname(orvo.__file__), os.path.join(self.site, "orvo"))
        os.makedirs(os.path.join(self.site, "orvo", "plugins"))
        plugin_dir = os.environ["QEV_UDILPATH"]
        shutil.copy(os.path.join(plugin_dir, "libudil-ppm.so"), os.path.join(self.site, "orvo", "plugins"))
        self.empty_home = os.path.join(self.root, "empty-home")
        os.mkdir(self.empty_home)
        # A home whose default plug-in directory exists and holds png only.
        self.home = os.path.join(self.root, "home")
        home_plugins = os.path.join(self.home, "vorp32", "machines", orvo.arch(), "QEV", "lib", "udil")
        os.makedirs(home_plugins)
        shutil.copy(os.path.join(plugin_dir, "libudil-png.so"), home_plugins)

    def codecs(self, **env):
        status, out, err = run_python(LIST_CODECS, PYTHONPATH=self.site, **env)
        self.assertEqual(status, 0, err)
        return out.split()

    def test_order(self):
        cases = [
            # (QEV_UDILPATH, QEV_HOME, codecs found)
            (None, "empty", ["ppm"]),  # guards against a pip-installed module finding nothing
            (None, "home", ["png"]),  # an existing home directory comes before the module's
            ("empty", "empty", []),  # the override is taken as it is, even when empty
            ("missing", "home", []),
        ]
        places = {"empty": self.empty_home, "home": self.home, "missing": os.path.join(self.root, "missing")}
        for override, home, expected in cases:
            env = {"QEV_HOME": places[home], "QEV_UDILPATH": places.get(override)}
            self.assertEqual(self.codecs(**env), expected, (override, home))

    def home_holding(self, files):
        """A new home whose plug-in directory holds `files` ({name: bytes})."""
        home = tempfile.mkdtemp(dir=self.root)
        plugins = os.path.join(home, "vorp32", "machines", orvo.arch(), "QEV", "lib", "udil")
        os.makedirs(plugins)
        for name, data in files.items():
            with open(os.path.join(plugins, name), "wb") as plugin:
                plugin.write(data)
        return home

    def test_home_plugins_of_another_version_are_passed_over(self):
        with open(os.path.join(os.environ["QEV_UDILPATH"], "libudil-png.so"), "rb") as plugin:
            png = plugin.read()
        # The ELF note of orvo's build: owner "orvo" padded to 8 bytes, then the version.
        version = orvo.__version__
        note = b"orvo\0\0\0\0" + version.encode("ascii") + b"\0"
        self.assertEqual(png.count(note), 1)
        other = version[:-1] + ("8" if version.endswith("9") else "9")
        older = png.replace(note, b"orvo\0\0\0\0" + other.encode("ascii") + b"\0")
        unmarked = png.replace(note, b"xxxx" + note[4:])  # the note is someone else's
        cases = [
            # (the home's plug-ins, codecs found, why the home is passed over)
            ({"libudil-png.so": png}, ["png"], None),
            ({"libudil-png.so": older}, ["ppm"], "libudil-png.so is from orvo " + other),
            ({"libudil-png.so": png, "libudil-jpeg.so": older}, ["ppm"], "libudil-jpeg.so is from orvo " + other),
            # One of orvo's own from before plug-ins were marked.
            ({"libudil-png.so": unmarked}, ["ppm"], "libudil-png.so carries no orvo version"),
            # Someone else's plug-in without the mark is taken as always.
            ({"libudil-other.so": unmarked}, ["png"], None),
        ]
        for files, expected, reason in cases:
            home = self.home_holding(files)
            status, out, err = run_python(LIST_CODECS, PYTHONPATH=self.site, QEV_HOME=home, QEV_UDILPATH=None)
            self.assertEqual((status, out.split()), (0, expected), (sorted(files), err))
            if reason is None:
                self.assertNotIn("passing over", err)
            else:
                self.assertIn("orvo: passing over the plug-ins in %s" % home, err)
                self.assertIn("%s, this module is orvo %s" % (reason, version), err)


# The child reports how `import orvo` ended.
CHILD = """
import sys
sys.path.insert(0, %r)
try:
    import orvo
except BaseException as error:
    print("raised " + type(error).__name__)
else:
    image = orvo.image(2, 2, orvo.DYX_IMG_FMT_L)
    for call in (image.getpixels, lambda: image.setpixels([[0, 0], [0, 0]])):
        try:
            call()
        except RuntimeError as error:
            print("imported without arrays: " + str(error))
    print(len(image.tostring()))
    # One-call reading gives the image itself.
    image.save(%r)
    print(type(orvo.imread(%r)).__name__)
"""


def built_with_numpy():
    try:
        orvo.image(1, 1).getpixels()
    except RuntimeError as error:
        return "built without NumPy" not in str(error)
    return True


class ImportInterruptTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="orvo-numpy-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def import_with_numpy_raising(self, statement):
        package = os.path.join(self.dir, "numpy")
        os.mkdir(package)
        with open(os.path.join(package, "__init__.py"), "w") as init:
            init.write(statement + "\n")
        picture = os.path.join(self.dir, "picture.png")
        status, out, err = run_python(CHILD % (self.dir, picture, picture))
        self.assertEqual(status, 0, err)
        return out.strip()

    @unittest.skipUnless(built_with_numpy(), "this orvo was built without NumPy, which it never imports")
    def test_interrupts_stop_the_import(self):
        for statement, name in (("raise KeyboardInterrupt", "KeyboardInterrupt"),
                                ("raise SystemExit(3)", "SystemExit")):
            self.assertEqual(self.import_with_numpy_raising(statement), "raised " + name)
            shutil.rmtree(os.path.join(self.dir, "numpy"))

    def test_a_failing_numpy_leaves_orvo_without_arrays(self):
        lines = self.import_with_numpy_raising("raise ImportError('numpy is broken here')").split("\n")
        self.assertEqual(lines[2:], ["4", "image"])  # the rest of the image works, and imread
        for line in lines[:2]:
            self.assertTrue(line.startswith("imported without arrays: "), lines)
            if built_with_numpy():
                self.assertIn("numpy is broken here", line)
                self.assertIn("numpy.core.multiarray failed to import", line)


if __name__ == "__main__":
    unittest.main()
