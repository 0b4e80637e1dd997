"""orvo.image as an array: zero-copy top-down views through the buffer
protocol and __array_interface__, BufferError while a view is exported,
fromarray/toarray, movie.getarray and append of arrays."""
import gc
import sys
import unittest

import orvo
from movie_testing import ScratchTestCase, new_write_movie, open_movie, pattern_bytes, pattern_image, write_movie
from orvo_testing import COMPONENTS, top_down_bytes

try:
    import numpy
except ImportError:
    numpy = None

NO_NUMPY = "NumPy is not installed for this interpreter"
FORMATS = sorted(COMPONENTS)


def expected_shape(image):
    width, height = image.dims
    components = COMPONENTS[image.format]
    return (height, width) if components == 1 else (height, width, components)


@unittest.skipIf(numpy is None, NO_NUMPY)
class ViewTest(unittest.TestCase):

    def test_views_are_top_down_for_every_format_and_odd_or_empty_size(self):
        for fmt in FORMATS:
            for width, height in [(1, 1), (1, 4), (5, 1), (3, 5), (17, 9), (0, 0), (0, 3), (4, 0)]:
                image = pattern_image(width, height, width + fmt, fmt)
                view = numpy.asarray(image)
                label = "format %d, %d x %d" % (fmt, width, height)
                self.assertEqual(view.shape, expected_shape(image), label)
                self.assertEqual(view.dtype, numpy.uint8, label)
                self.assertTrue(view.flags.writeable, label)
                self.assertEqual(view.tobytes(), top_down_bytes(image), label)
                if width and height:  # getpixel counts rows from the bottom.
                    self.assertEqual(list(view.reshape(height, width, -1)[0, width - 1]),
                                     image.getpixel(width - 1, height - 1), label)

    def test_view_shares_the_pixels_both_ways(self):
        image = pattern_image(6, 4, 3, orvo.DYX_IMG_FMT_RGB)
        view = numpy.asarray(image)
        view[0, 1] = (1, 2, 3)  # top row, second column
        self.assertEqual(image.getpixel(1, 3), [1, 2, 3])
        image.setpixel(5, 0, [7, 8, 9])  # bottom row
        self.assertEqual(list(view[3, 5]), [7, 8, 9])
        image.flip(orvo.DYX_FLIP_XAXIS)  # in place: the view follows
        self.assertEqual(list(view[0, 5]), [7, 8, 9])
        self.assertTrue(numpy.shares_memory(view, numpy.asarray(image)))

    def test_array_interface_describes_the_same_view(self):
        image = pattern_image(5, 3, 1, orvo.DYX_IMG_FMT_LA)

        class InterfaceOnly(object):
            def __init__(self, interface):
                self.__array_interface__ = interface

        interface = image.__array_interface__
        self.assertEqual((interface["shape"], interface["typestr"], interface["version"]),
                         ((3, 5, 2), "|u1", 3))
        self.assertEqual(interface["strides"], (-10, 2, 1))
        through_interface = numpy.asarray(InterfaceOnly(interface))
        numpy.testing.assert_array_equal(through_interface, numpy.asarray(image))
        self.assertTrue(numpy.shares_memory(through_interface, numpy.asarray(image)))
        grey = orvo.image(4, 2, orvo.DYX_IMG_FMT_L)
        self.assertEqual(grey.__array_interface__["shape"], (2, 4))

    def test_references_and_memory_stay_flat_over_many_views(self):
        import tracemalloc
        image = pattern_image(64, 48, 2, orvo.DYX_IMG_FMT_RGBA)
        before = sys.getrefcount(image)
        view = numpy.asarray(image)
        self.assertEqual(sys.getrefcount(image), before + 1)  # held by the exported view
        del view
        self.assertEqual(sys.getrefcount(image), before)
        tracemalloc.start()
        try:
            first, _ = tracemalloc.get_traced_memory()
            for _ in range(10000):
                numpy.asarray(image)[0, 0, 0] += 1
                memoryview(image).release()
            gc.collect()
            last, _ = tracemalloc.get_traced_memory()
        finally:
            tracemalloc.stop()
        self.assertLess(last - first, 64 * 1024)
        self.assertEqual(sys.getrefcount(image), before)
        self.assertEqual(image.getpixel(0, 47)[0], (pattern_image(64, 48, 2, orvo.DYX_IMG_FMT_RGBA)
                                                    .getpixel(0, 47)[0] + 10000) % 256)
        image.dims = (8, 8)  # no export is left behind


class BufferErrorTest(ScratchTestCase):
    """While a view is exported, operations that would free the pixel
    memory it points at raise BufferError, as bytearray's resizing does;
    operations in place go on."""

    def reallocations(self, scratch):
        rgb = orvo.DYX_IMG_FMT_RGB
        return [
            ("dims", lambda image: setattr(image, "dims", (5, 5))),
            ("format", lambda image: setattr(image, "format", orvo.DYX_IMG_FMT_RGBA)),
            ("resize", lambda image: image.resize(2, 2)),
            ("load", lambda image: image.load(scratch)),
            ("fromstring of another size", lambda image: image.fromstring(b"\0" * 12, 2, 2, rgb)),
            ("fromstring of another format", lambda image: image.fromstring(b"\0" * 12, 3, 2, orvo.DYX_IMG_FMT_LA)),
        ]

    def in_place(self):
        rgb = orvo.DYX_IMG_FMT_RGB
        other = pattern_image(3, 2, 9, rgb)
        return [
            ("fromstring of the same shape", lambda image: image.fromstring(b"\1" * 18, 3, 2, rgb)),
            ("dims unchanged", lambda image: setattr(image, "dims", (3, 2))),
            ("format unchanged", lambda image: setattr(image, "format", rgb)),
            ("flip", lambda image: image.flip(orvo.DYX_FLIP_YAXIS)),
            ("swizzle", lambda image: image.swizzle((2, 1, 0, 3), (1, 1, 1, 1))),
            ("setpixel", lambda image: image.setpixel(0, 0, [1, 2, 3])),
            ("blend", lambda image: image.blend(other, 1, 0, 0, 0, (0, 0, 0, 0), 0)),
            ("colormath", lambda image: image.colormath((1, 0, 0, 0, 0), (0, 1, 0, 0, 0), (0, 0, 1, 0, 0),
                                                        (0, 0, 0, 1, 0))),
            ("framenumber", lambda image: setattr(image, "framenumber", 4)),
        ]

    def setUp(self):
        ScratchTestCase.setUp(self)
        self.scratch = self.path("picture.ppm")
        self.assertEqual(pattern_image(4, 4, 1).save(self.scratch), 0)

    def test_reallocation_refused_while_exported_and_fine_after(self):
        for name, operation in self.reallocations(self.scratch):
            image = pattern_image(3, 2, 1)
            before = image.tostring()
            view = memoryview(image)
            self.assertRaises(BufferError, operation, image)
            self.assertEqual((image.dims, image.tostring()), ([3, 2], before), name)  # nothing changed
            del view  # the last reference releases the export
            operation(image)
            self.assertNotEqual(image.dims + [image.format], [3, 2, orvo.DYX_IMG_FMT_RGB], name)

    def test_operations_in_place_go_on_while_exported(self):
        for name, operation in self.in_place():
            image = pattern_image(3, 2, 1)
            view = memoryview(image)
            operation(image)
            self.assertEqual(view.tobytes(), top_down_bytes(image), name)

    def test_memoryview_is_the_top_down_view(self):
        for fmt in FORMATS:
            image = pattern_image(5, 3, fmt, fmt)
            view = memoryview(image)
            self.assertEqual((view.shape, view.format, view.itemsize, view.readonly, view.tobytes()),
                             (expected_shape(image), "B", 1, False, top_down_bytes(image)))


class FromArrayTest(unittest.TestCase):

    def test_bytes_with_a_shape_make_an_image_top_row_first(self):
        # Works through the buffer protocol alone, without NumPy.
        for fmt, shape_tail in [(orvo.DYX_IMG_FMT_L, ()), (orvo.DYX_IMG_FMT_L, (1,)),
                                (orvo.DYX_IMG_FMT_LA, (2,)), (orvo.DYX_IMG_FMT_RGB, (3,)),
                                (orvo.DYX_IMG_FMT_RGBA, (4,))]:
            data = pattern_bytes(5, 3, COMPONENTS[fmt], fmt)
            image = orvo.image.fromarray(data, shape=(3, 5) + shape_tail)
            self.assertEqual((image.dims, image.format, image.frame), ([5, 3], fmt, [5, 3]))
            self.assertEqual(top_down_bytes(image), data)
        alpha = orvo.image.fromarray(b"\1\2", (1, 2), orvo.DYX_IMG_FMT_A)
        self.assertEqual((alpha.format, alpha.tostring()), (orvo.DYX_IMG_FMT_A, b"\1\2"))
        if sys.version_info[0] >= 3:  # an image round trips through its own view
            image = pattern_image(7, 5, 3, orvo.DYX_IMG_FMT_RGBA)
            self.assertEqual(orvo.image.fromarray(memoryview(image)).tostring(), image.tostring())

    def test_bad_arrays_are_refused(self):
        cases = [
            ((b"abc",), ValueError),  # a flat buffer without a shape
            ((b"abcd", (2, 3)), ValueError),  # size does not match
            ((b"", (2 ** 31, 2 ** 31, 4)), ValueError),  # a size that wraps around 64 bits to 0
            ((b"abcd", (1, 1, 4), orvo.DYX_IMG_FMT_RGB), ValueError),  # format does not match
            ((b"\0" * 10, (1, 2, 5)), ValueError),  # five components
            ((b"\0" * 4, (2, 2), 3), ValueError),  # no such format
            ((b"\0" * 4, (2, 2, 1, 1)), ValueError),
            ((12,), TypeError),
        ]
        for arguments, error in cases:
            self.assertRaises(error, orvo.image.fromarray, *arguments)

    @unittest.skipIf(numpy is None, NO_NUMPY)
    def test_arrays_round_trip_in_every_layout(self):
        generator = numpy.random.default_rng(3)
        for shape in [(3, 5), (3, 5, 1), (4, 1, 2), (1, 6, 3), (9, 7, 4)]:
            array = generator.integers(0, 256, shape, dtype=numpy.uint8)
            for label, source in [("contiguous", array), ("upside down", array[::-1]),
                                  ("every other column", array[:, ::2]),
                                  ("Fortran order", numpy.asfortranarray(array))]:
                image = orvo.image.fromarray(source)
                back = image.toarray()
                self.assertTrue(back.flags.c_contiguous)
                numpy.testing.assert_array_equal(back, source.reshape(back.shape), "%s %s" % (shape, label))
                numpy.testing.assert_array_equal(numpy.asarray(image), back)
                self.assertFalse(numpy.shares_memory(back, numpy.asarray(image)))

    @unittest.skipIf(numpy is None, NO_NUMPY)
    def test_other_dtypes_are_refused(self):
        for array in [numpy.zeros((2, 2), numpy.uint16), numpy.zeros((2, 2, 3), numpy.float32),
                      numpy.zeros((2, 2), numpy.int8), numpy.zeros(4, numpy.uint8)]:
            self.assertRaises((TypeError, ValueError), orvo.image.fromarray, array)

    @unittest.skipIf(numpy is not None, "checks the message given without NumPy")
    def test_toarray_needs_numpy(self):
        self.assertRaises(RuntimeError, orvo.image(2, 2).toarray)


@unittest.skipIf(numpy is None, NO_NUMPY)
class MovieArrayTest(ScratchTestCase):

    def test_append_arrays_and_read_them_back(self):
        frames = [numpy.random.default_rng(k).integers(0, 256, (5, 7, 3), dtype=numpy.uint8) for k in range(3)]
        # An image made from an array (it gives the size), an array and a
        # one-item tuple of an array.
        write_movie(self.path("arr.####.png"), [orvo.image.fromarray(frames[0]), frames[1], (frames[2],)])
        read = open_movie(self.path("arr.####.png"))
        for k, expected in enumerate(frames):
            array = read.getarray(k)
            numpy.testing.assert_array_equal(array, expected, "frame %d" % k)
            self.assertEqual(array.tobytes(), read.getframe(k)[0].toarray().tobytes())
        self.assertNotEqual(read.getarray(3), 0)  # a bad frame number gives the status
        self.assertEqual(read.errstr(), "invalid frame number")

    def test_frames_are_views_unless_a_copy_is_asked(self):
        frames = [numpy.random.default_rng(k).integers(0, 256, (5, 7, 3), dtype=numpy.uint8) for k in range(2)]
        name = self.path("view.####.png")
        write_movie(name, [orvo.image.fromarray(frame) for frame in frames])
        read = open_movie(name)
        for copy, detached in [({}, False), ({"copy": False}, False), ({"copy": True}, True)]:
            array = read.getarray(1, **copy)
            numpy.testing.assert_array_equal(array, frames[1])
            self.assertEqual(array.flags.c_contiguous, detached, copy)
            # A view's base holds the frame's image, which nothing else has.
            holder = getattr(array.base, "obj", None)
            self.assertEqual(isinstance(holder, orvo.image), not detached, copy)
            array[0, 0] = (1, 2, 3)  # a frame's array is the caller's to change
            numpy.testing.assert_array_equal(read.getarray(1, copy=True), frames[1])
        read.close()
        # The views outlive the iterator that made them, each on its own image.
        for copy in (False, True):
            arrays = list(orvo.imiter(name, copy=copy))
            self.assertEqual(len(arrays), 2)
            for array, expected in zip(arrays, frames):
                numpy.testing.assert_array_equal(array, expected)
                self.assertEqual(array.flags.c_contiguous, copy)
            self.assertFalse(numpy.shares_memory(arrays[0], arrays[1]))

    def test_stereo_pairs_of_arrays(self):
        left = numpy.full((4, 6, 3), 40, numpy.uint8)
        right = numpy.full((4, 6, 3), 200, numpy.uint8)
        left[0] = 255  # top row marks the orientation
        write_movie(self.path("pair.@.##.ppm"), [(orvo.image.fromarray(left), right), (right, left)], stereo=1)
        read = open_movie(self.path("pair.@.##.ppm"))
        for number, pair in enumerate([(left, right), (right, left)]):
            read_pair = read.getarray(number)
            self.assertIsInstance(read_pair, tuple)
            numpy.testing.assert_array_equal(read_pair[0], pair[0])
            numpy.testing.assert_array_equal(read_pair[1], pair[1])

    def test_arrays_that_cannot_be_frames_raise(self):
        movie = new_write_movie(self.path("bad.##.ppm"), (4, 4), 1)
        self.assertEqual(movie.open(), 0)
        self.assertRaises(TypeError, movie.append, numpy.zeros((4, 4, 3), numpy.float64))
        self.assertRaises(ValueError, movie.append, numpy.zeros((4, 4, 6), numpy.uint8))
        self.assertNotEqual(movie.append(b"not an image"), 0)  # a flat buffer is no frame
        self.assertEqual(movie.errstr(), "A tuple of image(s) or a movie object required")
        self.assertEqual(movie.append(numpy.zeros((4, 4, 3), numpy.uint8)), 0)
        movie.close()


if __name__ == "__main__":
    unittest.main()
