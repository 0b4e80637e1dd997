"""orvo.image: construction, attributes, printing, comparison, pixel and
array access, string forms, pickling, resize, flip, swizzle and subrect;
and the compositing and measuring methods (blend, bitblt, chromakey,
colormath, diff and stats), whose pixel rules are checked in C++: here,
that the arguments reach them in order, as their low bytes, and that wrong
ones are refused."""
import gc
import pickle
import unittest

import orvo
from orvo_testing import UNDER_SANITIZER, error_text

try:
    import numpy
except ImportError:
    numpy = None

A, L, LA, RGB, RGBA = (orvo.DYX_IMG_FMT_A, orvo.DYX_IMG_FMT_L,
                       orvo.DYX_IMG_FMT_LA, orvo.DYX_IMG_FMT_RGB,
                       orvo.DYX_IMG_FMT_RGBA)
IDENTITY = ((1, 0, 0, 0, 0), (0, 1, 0, 0, 0), (0, 0, 1, 0, 0), (0, 0, 0, 1, 0))


def raw(values):
    """Binary pixel data from a list of byte values (str in 2, bytes in 3)."""
    return bytes(bytearray(values))


def image_of(width, height, fmt, values):
    return orvo.image(width, height, fmt, raw(values))


def pixels(image):
    return list(bytearray(image.tostring()))


class ConstructionTest(unittest.TestCase):
    def test_defaults_and_repr(self):
        image = orvo.image()
        self.assertEqual(repr(image), "Format: RedGreenBlue\nDims: 100 100\nFrame: 100 100\n"
                         "Origin: 0 0\nFramenumber: 0")
        self.assertEqual(len(image.tostring()), 30000)
        names = {A: "Alpha", L: "Luminance", LA: "LuminanceAlpha", RGB: "RedGreenBlue",
                 RGBA: "RedGreenBlueAlpha"}
        for fmt, name in names.items():
            self.assertTrue(repr(orvo.image(1, 1, fmt)).startswith("Format: %s\n" % name))

    def test_pixel_bytes_are_copied(self):
        for data, expected in ((b"ab", b"ab"), (b"abcdef", b"ab"), (bytearray(b"xy"), b"xy")):
            self.assertEqual(orvo.image(2, 1, L, data).tostring(), expected)
        self.assertEqual((orvo.image(0, 5, L).tostring(), orvo.image(0, 5, L).dims), (b"", [0, 5]))

    def test_errors(self):
        # Regression: sizes were not checked, and a huge one was allocated short.
        for args, message in (((2, 1, L, b"a"), "Invalid image data specified"),
                              ((2, 1, 3), "Invalid image format specified"),
                              ((-1, 5), None), ((5, -1), None), ((2000000000, 2000000000, RGBA), None)):
            text = error_text(RuntimeError, orvo.image, *args)
            self.assertEqual(text, message or text, args)
        self.assertRaises(TypeError, orvo.image, "wide")

    def test_nine_items_keywords_and_frame_defaults(self):
        image = orvo.image(3, 2, L, None, 7, 30, 20, 4, 5, "ignored")
        self.assertEqual((image.framenumber, image.frame, image.origin), (7, [30, 20], [4, 5]))
        self.assertEqual(orvo.image(3, 2).frame, [3, 2])
        self.assertEqual(orvo.image(3, 2, L, None, 0, 9).frame, [9, 2])
        # A name given as well as its position is refused, never silently dropped.
        self.assertRaises(TypeError, lambda: orvo.image(3, 2, L, width=9))
        image = orvo.image(width=8, height=6)
        self.assertEqual((image.dims, image.frame, image.format), ([8, 6], [8, 6], RGB))
        image = orvo.image(2, 1, format=L, pixels=b"\1\2", framenumber=3, framewidth=9,
                           frameheight=7, originx=1, originy=2)
        self.assertEqual((image.dims, image.format, image.tostring(), image.framenumber, image.frame,
                          image.origin), ([2, 1], L, b"\1\2", 3, [9, 7], [1, 2]))
        self.assertEqual(orvo.image(4, 4, frameheight=2).frame, [4, 2])
        for kwargs in [{"w": 8}, {"size": (8, 8)}]:
            self.assertRaises(TypeError, lambda: orvo.image(**kwargs))
        self.assertEqual(orvo.__version__, orvo.version()[1])


class AttributeTest(unittest.TestCase):
    def test_reads(self):
        image = orvo.image(4, 3, LA)
        self.assertEqual((image.format, image.dims, image.framenumber), (LA, [4, 3], 0))
        self.assertEqual(image.__members__, ["dims", "format", "frame", "origin", "framenumber"])
        self.assertRaises(AttributeError, getattr, image, "colour")
        self.assertRaises(AttributeError, delattr, image, "frame")

    def test_write_rules_and_messages(self):
        for name, value, message in (("dims", (0, 5), "Invalid image size"),
                                     ("frame", (0, 5), "Invalid frame size"),
                                     ("framenumber", -1, "Invalid frame number"),
                                     ("format", 3, "Invalid image format"),
                                     ("origin", (-1, 0), "Invalid origin"), ("colour", 1, "colour")):
            self.assertEqual(error_text(AttributeError, setattr, orvo.image(4, 4, RGB), name, value), message)
        # Reads give lists, but writes take tuples only.
        for name, value in (("dims", [4, 4]), ("frame", [1, 1]), ("origin", (1,)), ("format", "RGB"),
                            ("framenumber", 1.5)):
            self.assertRaises(TypeError, setattr, orvo.image(), name, value)
        image = orvo.image(4, 4, RGB)
        image.origin, image.frame, image.framenumber = (0, 0), (640, 480), 12
        self.assertEqual((image.origin, image.frame, image.framenumber), ([0, 0], [640, 480], 12))

    def test_format_converts_and_dims_scale_by_nearest_sample(self):
        for before, values, after, expected in ((LA, [7, 9], RGBA, [7, 7, 7, 9]),
                                                (RGB, [100, 150, 200], L, [140])):
            image = image_of(1, 1, before, values)
            image.format = after
            self.assertEqual(image.getpixel(0, 0), expected)
        image = image_of(4, 1, L, [10, 20, 30, 40])
        image.frame = (50, 60)
        image.dims = (2, 1)
        self.assertEqual((image.tostring(), image.frame), (raw([10, 30]), [50, 60]))

    def test_comparison(self):
        a = image_of(2, 1, L, [1, 2])
        self.assertTrue(a == orvo.image(2, 1, L, raw([1, 2]), 5, 9, 9, 1, 1))  # pixels only
        self.assertFalse(a != orvo.image(2, 1, L, raw([1, 2]), 5, 9, 9, 1, 1))
        self.assertNotEqual(a, image_of(2, 1, A, [1, 2]))
        self.assertNotEqual(a, image_of(1, 2, L, [1, 2]))
        low, high = image_of(2, 1, L, [1, 200]), image_of(2, 1, L, [2, 0])
        self.assertTrue(low < high and high > low and low <= low)


class PixelTest(unittest.TestCase):
    def test_getpixel_order_and_range(self):
        image = image_of(2, 2, RGB, range(12))
        self.assertEqual((image.getpixel(1, 0), image.getpixel(0, 1)), ([3, 4, 5], [6, 7, 8]))
        for x, y in ((2, 0), (-1, 0), (0, 2), (0, -1)):
            self.assertEqual(error_text(RuntimeError, image.getpixel, x, y), "Value out of range")

    def test_setpixel(self):
        image = orvo.image(2, 2, RGB)
        self.assertIsNone(image.setpixel(1, 1, [256, 257, 3, 99]))
        self.assertEqual(image.getpixel(1, 1), [0, 1, 3])
        image.setpixel(0, 0, [-1, 2 ** 70 + 5, 0])
        self.assertEqual(image.getpixel(0, 0), [255, 5, 0])
        rgba = orvo.image(2, 2, RGBA)
        for args, message in (((2, 0, [1, 2, 3, 4]), "Value out of range"),
                              ((0, 0, (1, 2, 3, 4)), "The pixel value must be a list"),
                              ((0, 0, [1, 2, 3]), "Insufficient number of components in the pixel")):
            self.assertEqual(error_text(RuntimeError, rgba.setpixel, *args), message)


@unittest.skipIf(numpy is None, "NumPy is not installed for this interpreter")
class ArrayTest(unittest.TestCase):
    def test_shapes_and_buffer_order(self):
        self.assertEqual(orvo.image(4, 3, RGB).getpixels().shape, (4, 3, 3))
        self.assertEqual(orvo.image(4, 3, L).getpixels().shape, (4, 3))
        self.assertEqual(orvo.image(4, 3, LA).getpixels(depth=1).shape, (4, 3, 2))
        image = image_of(4, 3, RGB, range(36))
        array = image.getpixels()
        self.assertEqual((array.dtype, array.tobytes()), (numpy.uint8, image.tostring()))
        # Element [a][b] is the pixel at linear position a * height + b.
        self.assertEqual(list(array[1][2]), [15, 16, 17])

    def test_round_trip_and_errors(self):
        image = orvo.image(5, 2, RGBA)
        values = numpy.arange(40, dtype=numpy.uint8).reshape(5, 2, 4)
        self.assertIsNone(image.setpixels(values))
        self.assertTrue((image.getpixels() == values).all())
        image.setpixels(array=values[::-1], depth=0)  # not contiguous
        self.assertTrue((image.getpixels() == values[::-1]).all())
        image = orvo.image(4, 3, RGB)
        for shape, message in (((3, 4, 3), "Invalid array dimensions"), ((4, 3, 4), "Invalid array depth"),
                               ((12,), "Invalid array dimensions"),
                               ((4, 3, 3, 0), "Invalid array dimensions")):
            zeros = numpy.zeros(shape, numpy.uint8)
            self.assertEqual(error_text(RuntimeError, image.setpixels, zeros), message)
        # NumPy's own conversion refuses an unsafe cast.
        self.assertRaises(TypeError, image.setpixels, numpy.zeros((4, 3, 3)))


class StringTest(unittest.TestCase):
    def test_fromstring(self):
        image = orvo.image(5, 5, RGBA)
        image.framenumber = 3
        self.assertIsNone(image.fromstring(b"abcdef", 3, 2, L))
        self.assertEqual((image.dims, image.format, image.tostring()), ([3, 2], L, b"abcdef"))
        self.assertEqual(image.framenumber, 3)
        image.fromstring(b"ABCDEF", 3, 2, L)
        self.assertEqual(image.tostring(), b"ABCDEF")
        image.fromstring(b"", 0, 4, RGB)
        self.assertEqual(image.dims, [0, 4])
        for args, message in (((b"abc", 3, 2, L), "Insufficient number of characters in string"),
                              ((b"abc", -1, 1, L), "Value out of range"),
                              ((b"abc", 1, 1, 3), "Value out of range")):
            self.assertEqual(error_text(RuntimeError, image.fromstring, *args), message)
        self.assertEqual(image.dims, [0, 4])

    def test_ppm(self):
        for image, header, data in ((image_of(2, 1, RGB, [1, 2, 3, 4, 5, 6]), b"P6\n2 1", [1, 2, 3, 4, 5, 6]),
                                    (image_of(1, 2, RGBA, range(1, 9)), b"P6\n1 2", [5, 6, 7, 1, 2, 3]),
                                    (image_of(2, 1, LA, [1, 2, 3, 4]), b"P5\n2 1", [1, 3]),
                                    (image_of(1, 2, L, [1, 2]), b"P5\n1 2", [2, 1])):
            self.assertEqual(image.ppm(), header + b"\n255\n" + raw(data))


class PicklingTest(unittest.TestCase):
    def test_reduce_and_round_trip_every_protocol(self):
        image = orvo.image(2, 1, L, b"ab", 4, 10, 11, 1, 2)
        self.assertEqual(image.__reduce__(), (orvo.image, (2, 1, L, b"ab", 4, 10, 11, 1, 2)))
        image = orvo.image(3, 2, RGBA, raw(range(24)), 4, 10, 11, 1, 2)
        for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
            copy = pickle.loads(pickle.dumps(image, protocol))
            self.assertEqual((copy, repr(copy)), (image, repr(image)))
        self.assertEqual((image.errstr(), image.errstr("ignored"), image.macclip()), ("", "", None))


class GeometryTest(unittest.TestCase):
    def test_resize_smooth_nearest_and_keywords(self):
        image = image_of(4, 2, L, [0, 4, 100, 0, 2, 6, 10, 20])
        image.frame = (7, 7)
        self.assertIsNone(image.resize(2, 1, orvo.DYX_SCALE_SMOOTH))
        self.assertEqual((image.tostring(), image.frame), (raw([3, 32]), [7, 7]))
        for kwargs, expected in (({"dx": 4, "dy": 1}, [0, 0, 200, 200]),
                                 ({"dx": 4, "dy": 1, "smooth": 3}, [50, 50, 150, 150])):
            image = image_of(2, 1, L, [0, 200])
            image.resize(**kwargs)
            self.assertEqual(image.tostring(), raw(expected), kwargs)
        self.assertEqual(error_text(AttributeError, orvo.image().resize, 0, 5), "Invalid image size")

    def test_flip_and_swizzle(self):
        image = image_of(2, 2, L, [1, 2, 3, 4])
        self.assertIsNone(image.flip(orvo.DYX_FLIP_XAXIS | orvo.DYX_FLIP_YAXIS))
        self.assertEqual(image.tostring(), raw([4, 3, 2, 1]))
        image.flip(orvo.DYX_FLIP_XAXIS)
        self.assertEqual(image.tostring(), raw([2, 1, 4, 3]))
        image = image_of(1, 1, RGBA, [1, 2, 3, 4])
        self.assertIsNone(image.swizzle((2, 1, 0, 3), (1, 1, 1, 1)))
        image.swizzle((0, 1, 9, 3), (1, 1, 1, 1))  # refused, silently
        self.assertEqual(image.getpixel(0, 0), [3, 2, 1, 4])
        la = image_of(1, 1, LA, [7, 9])
        la.swizzle((3, 0, 0, 0), (1, 0, 0, 1))
        self.assertEqual(la.getpixel(0, 0), [9, 7])

    def test_subrect(self):
        image = image_of(3, 3, L, range(9))
        image.frame = (30, 30)
        part, whole = image.subrect((1, 1), (2, 2)), image.subrect()
        self.assertEqual((part.dims, part.tostring(), part.frame), ([2, 2], raw([4, 5, 7, 8]), [100, 100]))
        self.assertEqual((whole, whole.frame), (image, [100, 100]))
        for args in (((2, 0), (2, 1)), ((0, 2), (1, 2)), ((-1, 0), (1, 1)), ((0, 0), (-1, 1))):
            self.assertRaises(RuntimeError, image.subrect, *args)


class InPlaceMethodsTest(unittest.TestCase):
    def test_pixels_after_each_call(self):
        # (destination, method, arguments, its pixels afterwards)
        cases = [
            (image_of(1, 1, RGBA, [100, 0, 0, 50]), "blend",
             (image_of(1, 1, RGBA, [200, 0, 0, 128]), orvo.DYX_BLEND_SALPHA, orvo.DYX_BLEND_ONE,
              orvo.DYX_BLEND_MSALPHA, orvo.DYX_BLEND_ZERO, (0, 0, 0, 0), 0), [149, 0, 0, 128]),
            (image_of(1, 1, RGBA, [0, 0, 0, 0]), "blend",
             (image_of(1, 1, RGBA, [255] * 4), orvo.DYX_BLEND_CCOLOR, orvo.DYX_BLEND_CALPHA, orvo.DYX_BLEND_ZERO,
              orvo.DYX_BLEND_ZERO, (256 + 10, 20, -1, 40), 512 + 7), [10, 20, 255, 7]),
            # Another size or format is refused silently.
            (image_of(2, 1, L, [5, 6]), "blend", (image_of(1, 1, L, [9]), 1, 1, 1, 1, (0, 0, 0, 0), 0), [5, 6]),
            (image_of(2, 1, L, [5, 6]), "blend", (image_of(2, 1, A, [9, 9]), 1, 1, 1, 1, (0, 0, 0, 0), 0), [5, 6]),
            (image_of(2, 2, L, [0] * 4), "bitblt",
             (image_of(4, 4, L, range(16)), (0, 0), (4, 4), (0, 0), (2, 2), orvo.DYX_BITBLT_COPY, (0, 0, 0, 0)),
             [0, 3, 12, 15]),
            (image_of(3, 1, RGBA, [99] * 12), "bitblt",
             (image_of(1, 1, RGBA, [1, 2, 3, 4]), (-2, 0), (3, 1), (0, 0), (3, 1), orvo.DYX_BITBLT_ALPHAMASK,
              (7, 8, 9, 0)), [99] * 8 + [1, 2, 3, 4]),
            (image_of(3, 1, RGBA, [99] * 12), "bitblt",
             (image_of(1, 1, RGBA, [1, 2, 3, 4]), (-2, 0), (3, 1), (0, 0), (3, 1), orvo.DYX_BITBLT_COPY,
              (256 + 7, 8, 9, 0)), [7, 8, 9, 0] * 2 + [1, 2, 3, 4]),
            (image_of(1, 1, L, [0]), "bitblt",
             (image_of(1, 1, A, [5]), (0, 0), (1, 1), (0, 0), (1, 1), 0, (1, 1, 1, 1)), [0]),
            (image_of(2, 1, RGBA, [5, 250, 3, 200, 5, 240, 3, 200]), "chromakey", ((0, 255, 0), (10, 10, 10), 0),
             [5, 250, 3, 0, 5, 240, 3, 200]),
            (image_of(1, 1, LA, [0, 9]), "chromakey", ((256, 0, 0), (0, 0, 0), 256 + 44), [0, 44]),
            (image_of(1, 1, RGB, [0, 0, 0]), "chromakey", ((0, 0, 0), (5, 5, 5), 1), [0, 0, 0]),  # no alpha
            (image_of(2, 1, RGBA, [3, 100, 200, 255, 0, 17, 128, 9]), "colormath", IDENTITY,
             [3, 100, 200, 255, 0, 17, 128, 9]),
            (image_of(1, 1, RGB, [100, 100, 100]), "colormath",
             ((0.5, 0, 0, 0, 10), (3, 0, 0, 0, 0), (-1, 0, 0, 0, 0), (0, 0, 0, 1, 0)), [60, 255, 0]),
        ]
        for number, (image, method, arguments, expected) in enumerate(cases):
            self.assertIsNone(getattr(image, method)(*arguments), number)
            self.assertEqual(pixels(image), expected, "case %d (%s)" % (number, method))

    def test_wrong_arguments_raise(self):
        image = image_of(2, 2, RGB, [0] * 12)
        cases = [
            (image.blend, ("image", 1, 1, 1, 1, (0, 0, 0, 0), 0), "object not of type Image"),
            (image.blend, (image, 1, 1, 1, 1, (0, 0, 0), 0), None),
            (image.blend, (image, 1, 1, 1, 1), None),
            (image.bitblt, (5, (0, 0), (1, 1), (0, 0), (1, 1), 0, (0, 0, 0, 0)), "object not of type Image"),
            (image.bitblt, (image, (0, 0), (1, 1), (0, 0)), None),
            (image.chromakey, ((0, 0), (5, 5, 5), 1), None),
            (image.colormath, IDENTITY[:3], None),
            (image.colormath, ((1, 0, 0, 0),) + IDENTITY[1:], None),
            (image.diff, (image_of(2, 2, RGBA, [0] * 16),), "image size/format mismatch"),
            (image.diff, (image_of(2, 3, RGB, [0] * 18),), "image size/format mismatch"),
            (image.diff, ("image",), "object not of type Image"),
        ]
        for method, arguments, message in cases:
            try:
                method(*arguments)
            except TypeError as error:
                self.assertEqual(str(error), message or str(error), arguments)
            else:
                self.fail("%s%r raised no TypeError" % (method.__name__, arguments))
        self.assertEqual(pixels(image), [0] * 12)


class MeasuringTest(unittest.TestCase):
    def test_diff_modulo_and_absolute(self):
        a, b = image_of(2, 1, L, [10, 30]), image_of(2, 1, L, [30, 10])
        modulo = a.diff(b)
        self.assertEqual(pixels(modulo), [236, 20])
        self.assertEqual((pixels(a.diff(b, 1)), pixels(a.diff(image=b, absolute=1))), ([20, 20], [20, 20]))
        self.assertEqual((modulo.format, modulo.frame, modulo.origin, modulo.framenumber), (L, [100, 100], [0, 0], 0))
        self.assertEqual(pixels(a), [10, 30])

    def test_stats_values_alpha_counts_and_empty_image(self):
        cases = [(image_of(2, 1, L, [0, 255]), (2, 127.5, 255, 65025, 32512.5, 0, 255)),
                 (image_of(1, 1, L, [77]), (1, 77, 77, 5929, 0, 77, 77)),
                 (image_of(1, 1, RGBA, [0, 0, 0, 8]), (4, 2, 8, 64, 16, 0, 8)),  # alpha counts; n - 1 divides
                 (orvo.image(0, 5, L), (0, 0, 0, 0, 0, 255, 0))]
        names = ("count", "mean", "sum", "sumofsquares", "variance", "minimum", "maximum")
        for image, values in cases:
            stats = image.stats("ignored", 5)  # arguments are ignored
            self.assertEqual(stats, dict(zip(names, map(float, values))))
            self.assertTrue(all(isinstance(value, float) for value in stats.values()))


class ReferenceCountTest(unittest.TestCase):
    def test_no_growth_over_many_calls(self):
        if UNDER_SANITIZER:
            self.skipTest("LeakSanitizer reports leaks itself; resident sizes under it hold its quarantine")

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
        resident = resident_kib()
        for _ in range(10000):
            work()
        gc.collect()
        # One leaked image per call would be over 10 MB.
        self.assertLess(resident_kib() - resident, 2000)


def resident_kib():
    with open("/proc/self/status") as status:
        return [int(line.split()[1]) for line in status if line.startswith("VmRSS:")][0]


if __name__ == "__main__":
    unittest.main()
