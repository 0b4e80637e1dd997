"""orvo.image compositing and measuring methods: blend, bitblt, chromakey,
colormath, diff and stats. The pixel rules are checked in C++; here, that
the arguments reach them in order, as their low bytes, and that wrong ones
are refused."""
import unittest

import orvo

A, L, LA, RGB, RGBA = (orvo.DYX_IMG_FMT_A, orvo.DYX_IMG_FMT_L, orvo.DYX_IMG_FMT_LA, orvo.DYX_IMG_FMT_RGB,
                       orvo.DYX_IMG_FMT_RGBA)
IDENTITY = ((1, 0, 0, 0, 0), (0, 1, 0, 0, 0), (0, 0, 1, 0, 0), (0, 0, 0, 1, 0))


def make(width, height, fmt, values):
    return orvo.image(width, height, fmt, bytes(bytearray(values)))


def pixels(image):
    return list(bytearray(image.tostring()))


class InPlaceMethodsTest(unittest.TestCase):
    def test_pixels_after_each_call(self):
        # (destination, method, arguments, its pixels afterwards)
        cases = [
            (make(1, 1, RGBA, [100, 0, 0, 50]), "blend",
             (make(1, 1, RGBA, [200, 0, 0, 128]), orvo.DYX_BLEND_SALPHA, orvo.DYX_BLEND_ONE,
              orvo.DYX_BLEND_MSALPHA, orvo.DYX_BLEND_ZERO, (0, 0, 0, 0), 0), [149, 0, 0, 128]),
            (make(1, 1, RGBA, [0, 0, 0, 0]), "blend",
             (make(1, 1, RGBA, [255] * 4), orvo.DYX_BLEND_CCOLOR, orvo.DYX_BLEND_CALPHA, orvo.DYX_BLEND_ZERO,
              orvo.DYX_BLEND_ZERO, (256 + 10, 20, -1, 40), 512 + 7), [10, 20, 255, 7]),
            # Another size or format is refused silently.
            (make(2, 1, L, [5, 6]), "blend", (make(1, 1, L, [9]), 1, 1, 1, 1, (0, 0, 0, 0), 0), [5, 6]),
            (make(2, 1, L, [5, 6]), "blend", (make(2, 1, A, [9, 9]), 1, 1, 1, 1, (0, 0, 0, 0), 0), [5, 6]),
            (make(2, 2, L, [0] * 4), "bitblt",
             (make(4, 4, L, range(16)), (0, 0), (4, 4), (0, 0), (2, 2), orvo.DYX_BITBLT_COPY, (0, 0, 0, 0)),
             [0, 3, 12, 15]),
            (make(3, 1, RGBA, [99] * 12), "bitblt",
             (make(1, 1, RGBA, [1, 2, 3, 4]), (-2, 0), (3, 1), (0, 0), (3, 1), orvo.DYX_BITBLT_ALPHAMASK,
              (7, 8, 9, 0)), [99] * 8 + [1, 2, 3, 4]),
            (make(3, 1, RGBA, [99] * 12), "bitblt",
             (make(1, 1, RGBA, [1, 2, 3, 4]), (-2, 0), (3, 1), (0, 0), (3, 1), orvo.DYX_BITBLT_COPY,
              (256 + 7, 8, 9, 0)), [7, 8, 9, 0] * 2 + [1, 2, 3, 4]),
            (make(1, 1, L, [0]), "bitblt", (make(1, 1, A, [5]), (0, 0), (1, 1), (0, 0), (1, 1), 0, (1, 1, 1, 1)),
             [0]),
            (make(2, 1, RGBA, [5, 250, 3, 200, 5, 240, 3, 200]), "chromakey", ((0, 255, 0), (10, 10, 10), 0),
             [5, 250, 3, 0, 5, 240, 3, 200]),
            (make(1, 1, LA, [0, 9]), "chromakey", ((256, 0, 0), (0, 0, 0), 256 + 44), [0, 44]),
            (make(1, 1, RGB, [0, 0, 0]), "chromakey", ((0, 0, 0), (5, 5, 5), 1), [0, 0, 0]),  # no alpha
            (make(2, 1, RGBA, [3, 100, 200, 255, 0, 17, 128, 9]), "colormath", IDENTITY,
             [3, 100, 200, 255, 0, 17, 128, 9]),
            (make(1, 1, RGB, [100, 100, 100]), "colormath",
             ((0.5, 0, 0, 0, 10), (3, 0, 0, 0, 0), (-1, 0, 0, 0, 0), (0, 0, 0, 1, 0)), [60, 255, 0]),
        ]
        for number, (image, method, arguments, expected) in enumerate(cases):
            self.assertIsNone(getattr(image, method)(*arguments), number)
            self.assertEqual(pixels(image), expected, "case %d (%s)" % (number, method))

    def test_wrong_arguments_raise(self):
        image = make(2, 2, RGB, [0] * 12)
        cases = [
            (image.blend, ("image", 1, 1, 1, 1, (0, 0, 0, 0), 0), "object not of type Image"),
            (image.blend, (image, 1, 1, 1, 1, (0, 0, 0), 0), None),
            (image.blend, (image, 1, 1, 1, 1), None),
            (image.bitblt, (5, (0, 0), (1, 1), (0, 0), (1, 1), 0, (0, 0, 0, 0)), "object not of type Image"),
            (image.bitblt, (image, (0, 0), (1, 1), (0, 0)), None),
            (image.chromakey, ((0, 0), (5, 5, 5), 1), None),
            (image.colormath, IDENTITY[:3], None),
            (image.colormath, ((1, 0, 0, 0),) + IDENTITY[1:], None),
            (image.diff, (make(2, 2, RGBA, [0] * 16),), "image size/format mismatch"),
            (image.diff, (make(2, 3, RGB, [0] * 18),), "image size/format mismatch"),
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
        a, b = make(2, 1, L, [10, 30]), make(2, 1, L, [30, 10])
        modulo = a.diff(b)
        self.assertEqual(pixels(modulo), [236, 20])
        self.assertEqual((pixels(a.diff(b, 1)), pixels(a.diff(image=b, absolute=1))), ([20, 20], [20, 20]))
        self.assertEqual((modulo.format, modulo.frame, modulo.origin, modulo.framenumber), (L, [100, 100], [0, 0], 0))
        self.assertEqual(pixels(a), [10, 30])

    def test_stats_values_alpha_counts_and_empty_image(self):
        cases = [(make(2, 1, L, [0, 255]), (2, 127.5, 255, 65025, 32512.5, 0, 255)),
                 (make(1, 1, L, [77]), (1, 77, 77, 5929, 0, 77, 77)),
                 (make(1, 1, RGBA, [0, 0, 0, 8]), (4, 2, 8, 64, 16, 0, 8)),  # alpha counts; n - 1 divides
                 (orvo.image(0, 5, L), (0, 0, 0, 0, 0, 255, 0))]
        names = ("count", "mean", "sum", "sumofsquares", "variance", "minimum", "maximum")
        for image, values in cases:
            stats = image.stats("ignored", 5)  # arguments are ignored
            self.assertEqual(stats, dict(zip(names, map(float, values))))
            self.assertTrue(all(isinstance(value, float) for value in stats.values()))


if __name__ == "__main__":
    unittest.main()
