"""Reading and writing bytes, bytearrays, memoryviews, io.BytesIO and open
binary files (imread, imwrite, imiter, open) through an anonymous file in
memory; checked with Pillow and PyAV on the same bytes, and against the
files orvo writes on disk."""
import io
import os
import tempfile
import unittest

import orvo
from movie_testing import ScratchTestCase, noisy_image
from orvo_testing import top_down_bytes

try:
    import av
except ImportError:
    av = None

try:
    import numpy
except ImportError:
    numpy = None

try:
    from PIL import Image
except ImportError:
    Image = None

# format, file suffix, lossless, Pillow's format name
PICTURES = [("png", ".png", True, "PNG"), ("jpg", ".jpg", False, "JPEG"), ("tiff", ".tif", True, "TIFF")]


def open_descriptors():
    return sorted(os.listdir("/proc/self/fd"))


def as_bytes(picture):
    """Top row first RGB bytes of what imread gives (an array or an image)."""
    if numpy is not None and isinstance(picture, numpy.ndarray):
        return bytearray(picture.tobytes())
    return bytearray(top_down_bytes(picture))


class MemoryPicturesTest(ScratchTestCase):
    needed_codecs = ("png", "jpeg", "tiff")

    def setUp(self):
        ScratchTestCase.setUp(self)
        self.picture = noisy_image(40, 24, 5)
        self.descriptors = open_descriptors()
        # Temporary files would go to a directory of the test's own (the
        # machine's /tmp sees other programs' files come and go).
        self.saved = (tempfile.tempdir, os.environ.get("TMPDIR"), os.environ.get("QEV_TMPDIR"))
        self.temporary = self.path("tmp")
        os.mkdir(self.temporary)
        tempfile.tempdir = os.environ["TMPDIR"] = os.environ["QEV_TMPDIR"] = self.temporary

    def tearDown(self):
        tempfile.tempdir = self.saved[0]
        for name, value in zip(("TMPDIR", "QEV_TMPDIR"), self.saved[1:]):
            if value is None:
                os.environ.pop(name, None)
            else:
                os.environ[name] = value
        # Nothing is left open, and nothing was put on disk.
        self.assertEqual(open_descriptors(), self.descriptors)
        self.assertEqual(os.listdir(self.temporary), [])
        ScratchTestCase.tearDown(self)

    def test_written_bytes_are_the_file_bytes(self):
        for format, suffix, _, _ in PICTURES:
            on_disk = self.path("picture" + suffix)
            orvo.imwrite(on_disk, self.picture)
            with io.open(on_disk, "rb") as stream:
                expected = stream.read()
            target = io.BytesIO()
            orvo.imwrite(target, self.picture, format=format)
            grown = bytearray(b"old contents")
            orvo.imwrite(grown, self.picture, format="." + format)
            with io.open(self.path("named" + suffix), "wb") as stream:
                orvo.imwrite(stream, self.picture)  # the format from the file's name
            with io.open(self.path("named" + suffix), "rb") as stream:
                named = stream.read()
            self.assertEqual([target.getvalue(), bytes(grown), named], [expected] * 3, format)
        self.assertRaises(ValueError, orvo.imwrite, io.BytesIO(), self.picture)  # no name, no format

    def test_bytes_read_as_the_files_do(self):
        for format, suffix, lossless, pillow in PICTURES:
            on_disk = self.path("picture" + suffix)
            orvo.imwrite(on_disk, self.picture)
            with io.open(on_disk, "rb") as stream:
                data = stream.read()
            expected = as_bytes(orvo.imread(on_disk))
            with io.open(on_disk, "rb") as stream:
                sources = [data, bytearray(data), memoryview(data), io.BytesIO(data), stream]
                for source in sources:
                    self.assertEqual(as_bytes(orvo.imread(source)), expected, (format, type(source)))
            self.assertEqual(as_bytes(orvo.imread(io.BytesIO(data), format=format)), expected)
            self.assertEqual(len(list(orvo.imiter(data))), 1)
            if Image is not None:
                decoded = Image.open(io.BytesIO(data))
                self.assertEqual(decoded.format, pillow)
                reference = bytearray(decoded.convert("RGB").tobytes())
                if lossless:
                    self.assertEqual(expected, reference, format)
                    self.assertEqual(expected, pixels_top_down(self.picture))
                else:  # decoders of one JPEG differ by rounding at most
                    self.assertLessEqual(max(abs(a - b) for a, b in zip(expected, reference)), 3)

    def test_damaged_bytes_raise(self):
        self.assertRaises(orvo.Error, orvo.imread, b"\x89PNG\r\n\x1a\n\x00\x00broken")
        self.assertRaises(orvo.Error, orvo.imread, io.BytesIO(b"\x00not a picture at all"))


def pixels_top_down(picture):
    return bytearray(top_down_bytes(picture))


@unittest.skipIf(av is None, "PyAV is not installed for this interpreter (the reference reader)")
class MemoryMoviesTest(ScratchTestCase):
    needed_codecs = ("ffmpeg",)

    def frames(self, count):
        return [noisy_image(32, 16, seed) for seed in range(count)]

    def test_movies_written_to_memory_play_in_pyav(self):
        descriptors = open_descriptors()
        target = io.BytesIO()
        with orvo.open(target, "w", format="mp4", fps=25) as writer:
            for picture in self.frames(6):
                writer.append(picture)
        data = target.getvalue()
        with av.open(io.BytesIO(data)) as container:
            stream = container.streams.video[0]
            self.assertEqual((stream.codec_context.name, stream.average_rate), ("h264", 25))
            self.assertEqual(sum(1 for _ in container.decode(stream)), 6)
        with io.open(self.path("out.mp4"), "wb") as stream:
            orvo.imwrite(stream, self.frames(3))
        with av.open(self.path("out.mp4")) as container:
            self.assertEqual(sum(1 for _ in container.decode(video=0)), 3)
        self.assertEqual(open_descriptors(), descriptors)

    def test_movies_read_from_memory_give_pyavs_frames(self):
        path = self.path("source.mp4")
        orvo.imwrite(path, self.frames(5), fps=25)
        with io.open(path, "rb") as stream:
            data = stream.read()
        with av.open(path) as container:
            reference = [frame.to_ndarray(format="rgb24").tobytes() for frame in container.decode(video=0)]
        descriptors = open_descriptors()
        with orvo.open(io.BytesIO(data)) as movie:
            self.assertEqual((len(movie), movie.rate, movie.dims), (5, 25, [32, 16]))
            self.assertEqual(pixels_top_down(movie[-1][0]), bytearray(reference[-1]))
        self.assertEqual(open_descriptors(), descriptors)  # the movie let its file go
        got = [as_bytes(frame) for frame in orvo.imiter(data, start=0.08)]
        self.assertEqual(got, [bytearray(frame) for frame in reference[2:]])
        self.assertEqual(as_bytes(orvo.imread(memoryview(data), -2)), bytearray(reference[3]))
        with io.open(path, "rb") as stream:
            self.assertEqual(len(list(orvo.imiter(stream, format="mp4"))), 5)
        self.assertEqual(open_descriptors(), descriptors)


if __name__ == "__main__":
    unittest.main()
