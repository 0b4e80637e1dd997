"""Ctrl-C (or sys.exit) while NumPy loads during `import orvo` stops the
import; a NumPy that fails to import otherwise only disables the pixel
arrays. Each case runs a child interpreter with a stand-in `numpy` package
first on its path."""
import os
import shutil
import tempfile
import unittest

import orvo
from orvo_testing import run_python

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

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def import_with_numpy_raising(self, statement):
        package = os.path.join(self.dir, "numpy")
        os.mkdir(package)
        with open(os.path.join(package, "__init__.py"), "w") as init:
            init.write(statement + "\n")
        status, out, err = run_python(CHILD % self.dir)
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
        self.assertEqual(len(lines), 3, lines)
        self.assertEqual(lines[2], "4")  # the rest of the image works
        for line in lines[:2]:
            self.assertTrue(line.startswith("imported without arrays: "), lines)
            if built_with_numpy():
                self.assertIn("numpy is broken here", line)
                self.assertIn("numpy.core.multiarray failed to import", line)


if __name__ == "__main__":
    unittest.main()
