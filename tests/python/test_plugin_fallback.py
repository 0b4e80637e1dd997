"""Where the module finds its plug-ins: QEV_UDILPATH, then the home's
directory when it exists, then orvo.plugins beside the module file (the
layout a wheel installs)."""
import os
import shutil
import tempfile
import unittest

import orvo
from orvo_testing import run_python

LIST_CODECS = "import orvo; print(' '.join(sorted(c[0] for c in orvo.codecs())))"


class PluginsBesideModuleTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="orvo-fallback-")
        self.addCleanup(shutil.rmtree, self.root, True)
        # A copy of the module with a plug-in beside it, as pip installs it.
        self.site = os.path.join(self.root, "site")
        os.makedirs(os.path.join(self.site, "orvo.plugins"))
        shutil.copy(orvo.__file__, self.site)
        plugin_dir = os.environ["QEV_UDILPATH"]
        shutil.copy(os.path.join(plugin_dir, "libudil-ppm.so"), os.path.join(self.site, "orvo.plugins"))
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


if __name__ == "__main__":
    unittest.main()
