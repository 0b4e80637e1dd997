"""orvo.image: construction, attributes, printing, comparison, pixel and
array access, string forms, pickling, resize, flip, swizzle and subrect."""
import gc
import os
import pickle
import shutil
import sys
import tempfile
import unittest

import orvo
from orvo_testing import run_python

try:
    import numpy
except ImportError:
    numpy = None

A, L, LA, RGB, RGBA = (orvo.DYX_IMG_FMT_A, orvo.DYX_IMG_FMT_L,
                       orvo.DYX_IMG_FMT_LA, orvo.DYX_IMG_FMT_RGB,
                       orvo.DYX_IMG_FMT_RGBA)


def raw(values):
    """Binary pixel data from a list of byte values (str in 2, bytes in 3)."""
    return bytes(bytearray(values))


def image_of(width, height, fmt, values):
    return orvo.image(width, height, fmt, raw(values))


class ConstructionTest(unittest.TestCase):
    def test_defaults_and_repr(self):
        image = orvo.image()
        self.assertEqual(repr(image),
                         "Format: RedGreenBlue\nDims: 100 100\nFrame: 100 100\n"
                         "Origin: 0 0\nFramenumber: 0")
        self.assertEqual(len(image.tostring()), 30000)

    def test_repr_names_every_format(self):
        names = {A: "Alpha", L: "Luminance", LA: "LuminanceAlpha",
                 RGB: "RedGreenBlue", RGBA: "RedGreenBlueAlpha"}
        for fmt, name in names.items():
            self.assertTrue(repr(orvo.image(1, 1, fmt)).startswith(
                "Format: %s\n" % name))

    def test_pixel_bytes_are_copied(self):
        image = orvo.image(2, 1, L, b"ab")
        self.assertEqual(image.tostring(), b"ab")
        self.assertEqual(orvo.image(2, 1, L, b"abcdef").tostring(), b"ab")
        self.assertEqual(orvo.image(2, 1, L, bytearray(b"xy")).tostring(), b"xy")

    def test_errors(self):
        self.assertRaisesRegex_(RuntimeError, "Invalid image data specified",
                                orvo.image, 2, 1, L, b"a")
        self.assertRaisesRegex_(RuntimeError, "Invalid image format specified",
                                orvo.image, 2, 1, 3)
        self.assertRaises(TypeError, orvo.image, "wide")

    def test_bad_sizes_are_refused(self):
        # Regression: sizes were not checked, and a huge one was allocated
        # short.
        self.assertRaises(RuntimeError, orvo.image, -1, 5)
        self.assertRaises(RuntimeError, orvo.image, 5, -1)
        self.assertRaises(RuntimeError, orvo.image, 2000000000, 2000000000, RGBA)

    def test_nine_items_and_frame_defaults(self):
        image = orvo.image(3, 2, L, None, 7, 30, 20, 4, 5, "ignored")
        self.assertEqual(image.framenumber, 7)
        self.assertEqual(image.frame, [30, 20])
        self.assertEqual(image.origin, [4, 5])
        self.assertEqual(orvo.image(3, 2).frame, [3, 2])
        self.assertEqual(orvo.image(3, 2, L, None, 0, 9).frame, [9, 2])
        # A name given as well as its position is refused, never silently dropped.
        self.assertRaises(TypeError, lambda: orvo.image(3, 2, L, width=9))

    def test_empty_image(self):
        image = orvo.image(0, 5, L)
        self.assertEqual(image.tostring(), b"")
        self.assertEqual(image.dims, [0, 5])

    def assertRaisesRegex_(self, exc, text, function, *args):
        try:
            function(*args)
        except exc as error:
            self.assertEqual(str(error), text)
        else:
            self.fail("%s not raised" % exc.__name__)


class AttributeTest(unittest.TestCase):
    def check_error(self, exc, message, name, value):
        image = orvo.image(4, 4, RGB)
        try:
            setattr(image, name, value)
        except exc as error:
            self.assertEqual(str(error), message)
        else:
            self.fail("setting %s to %r did not fail" % (name, value))

    def test_reads(self):
        image = orvo.image(4, 3, LA)
        self.assertEqual(image.format, LA)
        self.assertEqual(image.dims, [4, 3])
        self.assertEqual(image.framenumber, 0)
        self.assertEqual(image.__members__,
                         ["dims", "format", "frame", "origin", "framenumber"])
        self.assertEqual(len(image.__methods__), 22)
        self.assertEqual(image.__methods__[:3], ["ppm", "subrect", "chromakey"])
        self.assertEqual(image.__methods__[-1], "__reduce__")

    def test_write_rules_and_messages(self):
        self.check_error(AttributeError, "Invalid image size", "dims", (0, 5))
        self.check_error(AttributeError, "Invalid frame size", "frame", (0, 5))
        self.check_error(AttributeError, "Invalid frame number", "framenumber", -1)
        self.check_error(AttributeError, "Invalid image format", "format", 3)
        self.check_error(AttributeError, "Invalid origin", "origin", (-1, 0))
        self.check_error(AttributeError, "colour", "colour", 1)
        # Reads give lists, but writes take tuples only.
        for name, value in (("dims", [4, 4]), ("frame", [1, 1]),
                            ("origin", (1,)), ("format", "RGB"),
                            ("framenumber", 1.5)):
            self.assertRaises(TypeError, setattr, orvo.image(), name, value)

    def test_accepted_writes(self):
        image = orvo.image(4, 4, RGB)
        image.origin = (0, 0)
        image.frame = (640, 480)
        image.framenumber = 12
        self.assertEqual((image.origin, image.frame, image.framenumber),
                         ([0, 0], [640, 480], 12))

    def test_format_converts(self):
        image = image_of(1, 1, LA, [7, 9])
        image.format = RGBA
        self.assertEqual(image.getpixel(0, 0), [7, 7, 7, 9])
        image = image_of(1, 1, RGB, [100, 150, 200])
        image.format = L
        self.assertEqual(image.getpixel(0, 0), [140])

    def test_dims_scale_by_nearest_sample(self):
        image = image_of(4, 1, L, [10, 20, 30, 40])
        image.frame = (50, 60)
        image.dims = (2, 1)
        self.assertEqual(image.tostring(), raw([10, 30]))
        self.assertEqual(image.frame, [50, 60])

    def test_delete_is_refused(self):
        image = orvo.image()
        self.assertRaises(AttributeError, delattr, image, "frame")

    def test_unknown_attribute_read(self):
        self.assertRaises(AttributeError, getattr, orvo.image(), "colour")


class ComparisonTest(unittest.TestCase):
    def test_equal_pixels_other_attributes(self):
        a = image_of(2, 1, L, [1, 2])
        b = orvo.image(2, 1, L, raw([1, 2]), 5, 9, 9, 1, 1)
        self.assertTrue(a == b)
        self.assertFalse(a != b)

    def test_header_differences_are_unequal(self):
        self.assertNotEqual(image_of(2, 1, L, [1, 2]), image_of(2, 1, A, [1, 2]))
        self.assertNotEqual(image_of(2, 1, L, [1, 2]), image_of(1, 2, L, [1, 2]))

    def test_byte_order(self):
        low, high = image_of(2, 1, L, [1, 200]), image_of(2, 1, L, [2, 0])
        self.assertTrue(low < high)
        self.assertTrue(high > low)
        self.assertTrue(low <= low)


class PixelTest(unittest.TestCase):
    def test_getpixel_order_and_range(self):
        image = image_of(2, 2, RGB, range(12))
        self.assertEqual(image.getpixel(1, 0), [3, 4, 5])
        self.assertEqual(image.getpixel(0, 1), [6, 7, 8])
        for x, y in ((2, 0), (-1, 0), (0, 2), (0, -1)):
            try:
                image.getpixel(x, y)
            except RuntimeError as error:
                self.assertEqual(str(error), "Value out of range")
            else:
                self.fail("getpixel(%d, %d) did not fail" % (x, y))

    def test_setpixel(self):
        image = orvo.image(2, 2, RGB)
        self.assertIsNone(image.setpixel(1, 1, [256, 257, 3, 99]))
        self.assertEqual(image.getpixel(1, 1), [0, 1, 3])
        image.setpixel(0, 0, [-1, 2 ** 70 + 5, 0])
        self.assertEqual(image.getpixel(0, 0), [255, 5, 0])

    def test_setpixel_errors(self):
        image = orvo.image(2, 2, RGBA)
        cases = (((2, 0, [1, 2, 3, 4]), "Value out of range"),
                 ((0, 0, (1, 2, 3, 4)), "The pixel value must be a list"),
                 ((0, 0, [1, 2, 3]), "Insufficient number of components in the pixel"))
        for args, message in cases:
            try:
                image.setpixel(*args)
            except RuntimeError as error:
                self.assertEqual(str(error), message)
            else:
                self.fail("setpixel%r did not fail" % (args,))


@unittest.skipIf(numpy is None, "NumPy is not installed for this interpreter")
class ArrayTest(unittest.TestCase):
    def test_shapes(self):
        self.assertEqual(orvo.image(4, 3, RGB).getpixels().shape, (4, 3, 3))
        self.assertEqual(orvo.image(4, 3, L).getpixels().shape, (4, 3))
        self.assertEqual(orvo.image(4, 3, LA).getpixels(depth=1).shape, (4, 3, 2))

    def test_bytes_in_buffer_order(self):
        image = image_of(4, 3, RGB, range(36))
        array = image.getpixels()
        self.assertEqual(array.dtype, numpy.uint8)
        self.assertEqual(array.tobytes(), image.tostring())
        # Element [a][b] is the pixel at linear position a * height + b.
        self.assertEqual(list(array[1][2]), [15, 16, 17])

    def test_round_trip(self):
        image = orvo.image(5, 2, RGBA)
        values = numpy.arange(40, dtype=numpy.uint8).reshape(5, 2, 4)
        self.assertIsNone(image.setpixels(values))
        self.assertTrue((image.getpixels() == values).all())
        image.setpixels(array=values[::-1], depth=0)  # not contiguous
        self.assertTrue((image.getpixels() == values[::-1]).all())

    def test_errors(self):
        image = orvo.image(4, 3, RGB)
        for shape, message in (((3, 4, 3), "Invalid array dimensions"),
                               ((4, 3, 4), "Invalid array depth"),
                               ((12,), "Invalid array dimensions"),
                               ((4, 3, 3, 0), "Invalid array dimensions")):
            try:
                image.setpixels(numpy.zeros(shape, numpy.uint8))
            except RuntimeError as error:
                self.assertEqual(str(error), message)
            else:
                self.fail("shape %r accepted" % (shape,))
        # NumPy's own conversion refuses an unsafe cast.
        self.assertRaises(TypeError, image.setpixels, numpy.zeros((4, 3, 3)))


class ArrayWithoutNumpyTest(unittest.TestCase):
    """orvo imports without a usable NumPy; only the arrays are refused."""

    CODE = "\n".join([
        "import orvo",
        "image = orvo.image(2, 2, orvo.DYX_IMG_FMT_L)",
        "for call in (image.getpixels, lambda: image.setpixels([[0, 0], [0, 0]])):",
        "    try:",
        "        call()",
        "    except RuntimeError as error:",
        "        print('RuntimeError: %s' % error)",
        "print(image.tostring() is not None)",
    ])

    def test_arrays_raise_runtime_error(self):
        fake = tempfile.mkdtemp()
        try:
            os.mkdir(os.path.join(fake, "numpy"))
            with open(os.path.join(fake, "numpy", "__init__.py"), "w") as module:
                module.write("raise ImportError('this NumPy is broken')\n")
            path = os.pathsep.join([fake] + [p for p in sys.path if p])
            status, out, err = run_python(self.CODE, PYTHONPATH=path)
        finally:
            shutil.rmtree(fake)
        self.assertEqual(status, 0, err)
        lines = out.splitlines()
        self.assertEqual(len(lines), 3, out)
        self.assertTrue(all(line.startswith("RuntimeError: ") for line in lines[:2]), out)
        self.assertEqual(lines[2], "True")
        if numpy is not None:
            self.assertIn("numpy.core.multiarray failed to import", lines[0])
            self.assertIn("this NumPy is broken", lines[0])


class StringTest(unittest.TestCase):
    def test_fromstring(self):
        image = orvo.image(5, 5, RGBA)
        image.framenumber = 3
        self.assertIsNone(image.fromstring(b"abcdef", 3, 2, L))
        self.assertEqual((image.dims, image.format, image.tostring()),
                         ([3, 2], L, b"abcdef"))
        self.assertEqual(image.framenumber, 3)
        image.fromstring(b"ABCDEF", 3, 2, L)
        self.assertEqual(image.tostring(), b"ABCDEF")
        image.fromstring(b"", 0, 4, RGB)
        self.assertEqual(image.dims, [0, 4])

    def test_fromstring_errors(self):
        image = image_of(1, 1, L, [9])
        for args, message in (((b"abc", 3, 2, L), "Insufficient number of characters in string"),
                              ((b"abc", -1, 1, L), "Value out of range"),
                              ((b"abc", 1, 1, 3), "Value out of range")):
            try:
                image.fromstring(*args)
            except RuntimeError as error:
                self.assertEqual(str(error), message)
            else:
                self.fail("fromstring%r did not fail" % (args,))
        self.assertEqual(image.tostring(), raw([9]))

    def test_ppm(self):
        rgb = image_of(2, 1, RGB, [1, 2, 3, 4, 5, 6])
        self.assertEqual(rgb.ppm(), b"P6\n2 1\n255\n" + raw([1, 2, 3, 4, 5, 6]))
        rgba = image_of(1, 2, RGBA, [1, 2, 3, 4, 5, 6, 7, 8])
        self.assertEqual(rgba.ppm(), b"P6\n1 2\n255\n" + raw([5, 6, 7, 1, 2, 3]))
        la = image_of(2, 1, LA, [1, 2, 3, 4])
        self.assertEqual(la.ppm(), b"P5\n2 1\n255\n" + raw([1, 3]))
        l = image_of(1, 2, L, [1, 2])
        self.assertEqual(l.ppm(), b"P5\n1 2\n255\n" + raw([2, 1]))


class PicklingTest(unittest.TestCase):
    def test_reduce(self):
        image = orvo.image(2, 1, L, b"ab", 4, 10, 11, 1, 2)
        self.assertEqual(image.__reduce__(),
                         (orvo.image, (2, 1, L, b"ab", 4, 10, 11, 1, 2)))

    def test_round_trip_every_protocol(self):
        image = orvo.image(3, 2, RGBA, raw(range(24)), 4, 10, 11, 1, 2)
        for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
            copy = pickle.loads(pickle.dumps(image, protocol))
            self.assertEqual(copy, image)
            self.assertEqual(repr(copy), repr(image))


class SmallMethodsTest(unittest.TestCase):
    def test_errstr_and_macclip(self):
        image = orvo.image()
        self.assertEqual(image.errstr(), "")
        self.assertEqual(image.errstr("ignored"), "")
        self.assertIsNone(image.macclip())


class ResizeTest(unittest.TestCase):
    def test_smooth_half_size(self):
        image = image_of(4, 2, L, [0, 4, 100, 0, 2, 6, 10, 20])
        image.frame = (7, 7)
        self.assertIsNone(image.resize(2, 1, orvo.DYX_SCALE_SMOOTH))
        self.assertEqual(image.tostring(), raw([3, 32]))
        self.assertEqual(image.frame, [7, 7])

    def test_keywords_and_nearest(self):
        image = image_of(2, 1, L, [0, 200])
        image.resize(dx=4, dy=1)
        self.assertEqual(image.tostring(), raw([0, 0, 200, 200]))
        image = image_of(2, 1, L, [0, 200])
        image.resize(4, 1, smooth=3)
        self.assertEqual(image.tostring(), raw([50, 50, 150, 150]))

    def test_invalid_size(self):
        try:
            orvo.image().resize(0, 5)
        except AttributeError as error:
            self.assertEqual(str(error), "Invalid image size")
        else:
            self.fail("resize(0, 5) did not fail")


class FlipSwizzleSubrectTest(unittest.TestCase):
    def test_flip(self):
        image = image_of(2, 2, L, [1, 2, 3, 4])
        self.assertIsNone(image.flip(orvo.DYX_FLIP_XAXIS | orvo.DYX_FLIP_YAXIS))
        self.assertEqual(image.tostring(), raw([4, 3, 2, 1]))
        image.flip(orvo.DYX_FLIP_XAXIS)
        self.assertEqual(image.tostring(), raw([2, 1, 4, 3]))

    def test_swizzle(self):
        image = image_of(1, 1, RGBA, [1, 2, 3, 4])
        self.assertIsNone(image.swizzle((2, 1, 0, 3), (1, 1, 1, 1)))
        self.assertEqual(image.getpixel(0, 0), [3, 2, 1, 4])
        image.swizzle((0, 1, 9, 3), (1, 1, 1, 1))  # refused, silently
        self.assertEqual(image.getpixel(0, 0), [3, 2, 1, 4])
        la = image_of(1, 1, LA, [7, 9])
        la.swizzle((3, 0, 0, 0), (1, 0, 0, 1))
        self.assertEqual(la.getpixel(0, 0), [9, 7])

    def test_subrect(self):
        image = image_of(3, 3, L, range(9))
        image.frame = (30, 30)
        part = image.subrect((1, 1), (2, 2))
        self.assertEqual(part.dims, [2, 2])
        self.assertEqual(part.tostring(), raw([4, 5, 7, 8]))
        self.assertEqual(part.frame, [100, 100])
        whole = image.subrect()
        self.assertEqual(whole, image)
        self.assertEqual(whole.frame, [100, 100])
        for args in (((2, 2), (2, 2)), ((-1, 0), (1, 1)), ((0, 0), (-1, 1))):
            self.assertRaises(RuntimeError, image.subrect, *args)


class ReferenceCountTest(unittest.TestCase):
    def test_no_growth_over_many_calls(self):
        def work():
            image = orvo.image(8, 4, RGB, b"x" * 96, 1, 2, 3, 4, 5)
            image.getpixel(1, 1)
            image.setpixel(1, 1, [1, 2, 3])
            image.format = RGBA
            image.dims = (4, 4)
            image.resize(2, 2, 1)
            image.fromstring(image.tostring(), 2, 2, RGBA)
            image.ppm()
            image.subrect((0, 0), (1, 1))
            image.flip(3)
            image.swizzle((2, 1, 0, 3), (1, 1, 1, 1))
            pickle.loads(pickle.dumps(image))
            repr(image)
            image == image
            image.__members__
            try:
                image.getpixel(9, 9)
            except RuntimeError:
                pass
            if numpy is not None:
                image.setpixels(image.getpixels())

        for _ in range(500):
            work()
        gc.collect()
        if hasattr(sys, "gettotalrefcount"):
            before = sys.gettotalrefcount()
        resident = _resident_kib()
        for _ in range(10000):
            work()
        gc.collect()
        if hasattr(sys, "gettotalrefcount"):
            self.assertLess(sys.gettotalrefcount() - before, 100)
        # One leaked image per call would be over 10 MB.
        self.assertLess(_resident_kib() - resident, 2000)


def _resident_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


if __name__ == "__main__":
    unittest.main()
