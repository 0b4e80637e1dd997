"""orvo.image compositing and measuring methods: blend, bitblt, chromakey,
colormath, diff and stats."""
import unittest

import orvo

A, L, LA, RGB, RGBA = 1, 2, 4, 8, 16


def raw(values):
    """Pixel bytes as the binary string type of the running Python."""
    return bytes(bytearray(values))


def pixels(image):
    return list(bytearray(image.tostring()))


def make(width, height, fmt, values):
    return orvo.image(width, height, fmt, raw(values))


class BlendTest(unittest.TestCase):

    def test_documented_examples(self):
        src = make(1, 1, RGBA, [200, 0, 0, 128])
        dst = make(1, 1, RGBA, [100, 0, 0, 50])
        result = dst.blend(src, orvo.DYX_BLEND_SALPHA, orvo.DYX_BLEND_ONE,
                           orvo.DYX_BLEND_MSALPHA, orvo.DYX_BLEND_ZERO,
                           (0, 0, 0, 0), 0)
        self.assertEqual(result, None)
        self.assertEqual(pixels(dst)[0], 149)

    def test_constants_keep_their_low_byte(self):
        dst = make(1, 1, RGBA, [0, 0, 0, 0])
        dst.blend(make(1, 1, RGBA, [255, 255, 255, 255]),
                  orvo.DYX_BLEND_CCOLOR, orvo.DYX_BLEND_CALPHA,
                  orvo.DYX_BLEND_ZERO, orvo.DYX_BLEND_ZERO,
                  (256 + 10, 20, -1, 40), 512 + 7)
        self.assertEqual(pixels(dst), [10, 20, 255, 7])

    def test_mismatch_is_silent_and_wrong_types_raise(self):
        dst = make(2, 1, L, [5, 6])
        self.assertEqual(dst.blend(make(1, 1, L, [9]), 1, 1, 1, 1, (0, 0, 0, 0), 0), None)
        self.assertEqual(pixels(dst), [5, 6])
        self.assertEqual(dst.blend(make(2, 1, A, [9, 9]), 1, 1, 1, 1, (0, 0, 0, 0), 0), None)
        self.assertEqual(pixels(dst), [5, 6])
        with self.assertRaises(TypeError) as caught:
            dst.blend("image", 1, 1, 1, 1, (0, 0, 0, 0), 0)
        self.assertEqual(str(caught.exception), "object not of type Image")
        self.assertRaises(TypeError, dst.blend, dst, 1, 1, 1, 1, (0, 0, 0), 0)
        self.assertRaises(TypeError, dst.blend, dst, 1, 1, 1, 1)


class BitbltTest(unittest.TestCase):

    def test_stepping(self):
        src = make(4, 4, L, range(16))
        dst = make(2, 2, L, [0, 0, 0, 0])
        self.assertEqual(dst.bitblt(src, (0, 0), (4, 4), (0, 0), (2, 2),
                                    orvo.DYX_BITBLT_COPY, (0, 0, 0, 0)), None)
        self.assertEqual(pixels(dst), [0, 3, 12, 15])

    def test_border_and_alpha_mask(self):
        src = make(1, 1, RGBA, [1, 2, 3, 4])
        dst = make(3, 1, RGBA, [99] * 12)
        dst.bitblt(src, (-2, 0), (3, 1), (0, 0), (3, 1), orvo.DYX_BITBLT_ALPHAMASK, (7, 8, 9, 0))
        self.assertEqual(pixels(dst), [99] * 8 + [1, 2, 3, 4])
        dst.bitblt(src, (-2, 0), (3, 1), (0, 0), (3, 1), orvo.DYX_BITBLT_COPY, (256 + 7, 8, 9, 0))
        self.assertEqual(pixels(dst), [7, 8, 9, 0] * 2 + [1, 2, 3, 4])

    def test_wrong_arguments(self):
        dst = make(1, 1, L, [0])
        with self.assertRaises(TypeError) as caught:
            dst.bitblt(5, (0, 0), (1, 1), (0, 0), (1, 1), 0, (0, 0, 0, 0))
        self.assertEqual(str(caught.exception), "object not of type Image")
        self.assertRaises(TypeError, dst.bitblt, dst, (0, 0), (1, 1), (0, 0))
        # Other formats are refused silently.
        self.assertEqual(dst.bitblt(make(1, 1, A, [5]), (0, 0), (1, 1),
                                    (0, 0), (1, 1), 0, (1, 1, 1, 1)), None)
        self.assertEqual(pixels(dst), [0])


class ChromaKeyTest(unittest.TestCase):

    def test_documented_example_low_bytes_and_refused_formats(self):
        image = make(2, 1, RGBA, [5, 250, 3, 200, 5, 240, 3, 200])
        self.assertEqual(image.chromakey((0, 255, 0), (10, 10, 10), 0), None)
        self.assertEqual(pixels(image), [5, 250, 3, 0, 5, 240, 3, 200])
        # Low bytes of the arguments; formats without colour and alpha are refused.
        image = make(1, 1, LA, [0, 9])
        image.chromakey((256, 0, 0), (0, 0, 0), 256 + 44)
        self.assertEqual(pixels(image), [0, 44])
        rgb = make(1, 1, RGB, [0, 0, 0])
        self.assertEqual(rgb.chromakey((0, 0, 0), (5, 5, 5), 1), None)
        self.assertEqual(pixels(rgb), [0, 0, 0])
        self.assertRaises(TypeError, rgb.chromakey, (0, 0), (5, 5, 5), 1)


class ColorMathTest(unittest.TestCase):

    IDENTITY = ((1, 0, 0, 0, 0), (0, 1, 0, 0, 0), (0, 0, 1, 0, 0), (0, 0, 0, 1, 0))

    def test_identity_documented_example_and_wrong_shapes(self):
        values = [3, 100, 200, 255, 0, 17, 128, 9]
        image = make(2, 1, RGBA, values)
        self.assertEqual(image.colormath(*self.IDENTITY), None)
        self.assertEqual(pixels(image), values)

        image = make(1, 1, RGB, [100, 100, 100])
        image.colormath((0.5, 0, 0, 0, 10), (3, 0, 0, 0, 0), (-1, 0, 0, 0, 0), (0, 0, 0, 1, 0))
        self.assertEqual(pixels(image), [60, 255, 0])
        self.assertRaises(TypeError, image.colormath, *self.IDENTITY[:3])
        self.assertRaises(TypeError, image.colormath, (1, 0, 0, 0), *self.IDENTITY[1:])


class DiffTest(unittest.TestCase):

    def test_modulo_and_absolute(self):
        a = make(2, 1, L, [10, 30])
        b = make(2, 1, L, [30, 10])
        modulo = a.diff(b)
        self.assertEqual(pixels(modulo), [236, 20])
        self.assertEqual(pixels(a.diff(b, 1)), [20, 20])
        self.assertEqual(pixels(a.diff(image=b, absolute=1)), [20, 20])
        self.assertEqual((modulo.format, modulo.frame, modulo.origin, modulo.framenumber), (L, [100, 100], [0, 0], 0))
        self.assertEqual(pixels(a), [10, 30])

    def test_mismatches(self):
        rgb = make(2, 2, RGB, [0] * 12)
        for other in (make(2, 2, RGBA, [0] * 16), make(2, 3, RGB, [0] * 18)):
            with self.assertRaises(TypeError) as caught:
                rgb.diff(other)
            self.assertEqual(str(caught.exception), "image size/format mismatch")
        with self.assertRaises(TypeError) as caught:
            rgb.diff("image")
        self.assertEqual(str(caught.exception), "object not of type Image")


class StatsTest(unittest.TestCase):
    def test_documented_values_alpha_counts_and_empty_image(self):
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
