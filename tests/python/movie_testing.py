"""Helpers shared by the movie and image file tests (Python 2.7 and 3)."""
import ctypes
import os
import random
import shutil
import struct
import tempfile
import threading
import unittest

import orvo
from orvo_testing import CHILD_SECONDS, run_bounded


def pattern_bytes(width, height, components, seed):
    """Deterministic pixel bytes that differ from frame to frame."""
    return bytes(bytearray((seed * 31 + i * 7 + (i // components) * 3) % 256
                           for i in range(width * height * components)))


def pattern_image(width, height, seed, format=orvo.DYX_IMG_FMT_RGB):
    components = {1: 1, 2: 1, 4: 2, 8: 3, 16: 4}[format]
    return orvo.image(width, height, format, pattern_bytes(width, height, components, seed))


def flat_image(width, height, rgb):
    return orvo.image(width, height, orvo.DYX_IMG_FMT_RGB, bytes(bytearray(list(rgb) * (width * height))))


def pixels(image):
    return bytearray(image.tostring())


def new_write_movie(path, dims, count, **attributes):
    """A write movie with its size, frame count and attributes set, not yet opened."""
    movie = orvo.movie(orvo.MOVIE_WRITE)
    movie.filename = path
    movie.dims = tuple(dims)
    for name, value in attributes.items():
        setattr(movie, name, value)
    movie.addcount(count)
    return movie


def write_movie(path, images, **attributes):
    """Writes the images (or tuples of images) as a movie; returns the movie."""
    first = images[0][0] if isinstance(images[0], tuple) else images[0]
    movie = new_write_movie(path, first.dims, len(images), **attributes)
    if movie.open() != 0:
        raise AssertionError("open %s: %s" % (path, movie.errstr()))
    for frame in images:
        status = movie.append(frame)
        if status != 0:
            raise AssertionError("append to %s: %d %s" % (path, status, movie.errstr()))
    if movie.close() != 0:
        raise AssertionError("close %s: %s" % (path, movie.errstr()))
    return movie


def open_movie(path, **attributes):
    movie = orvo.movie()
    movie.filename = path
    for name, value in attributes.items():
        setattr(movie, name, value)
    if movie.open() != 0:
        raise AssertionError("open %s: %s" % (path, movie.errstr()))
    return movie


def frames_of(path, **attributes):
    """Every frame of the movie at `path`, each as the list of its eyes' bytes."""
    with open_movie(path, **attributes) as movie:
        return [[eye.tostring() for eye in frame] for frame in movie]


def write_tiff(path, width, height, data_bytes):
    """A baseline RGB TIFF of one row per strip whose strips point at
    `data_bytes` zero bytes: fewer than the picture needs makes a file that
    opens but cannot be read; a huge size one whose pixels cannot be held."""
    count = 10
    ifd_offset = 8
    bps_offset = ifd_offset + 2 + count * 12 + 4
    offsets_offset = bps_offset + 6
    counts_offset = offsets_offset + 4 * height
    data_offset = counts_offset + 4 * height
    row = width * 3

    def entry(tag, kind, number, value):
        return struct.pack("<HHII", tag, kind, number, value)

    parts = [struct.pack("<2sHI", b"II", 42, ifd_offset), struct.pack("<H", count),
             entry(256, 4, 1, width), entry(257, 4, 1, height), entry(258, 3, 3, bps_offset),
             entry(259, 3, 1, 1), entry(262, 3, 1, 2), entry(273, 4, height, offsets_offset),
             entry(277, 3, 1, 3), entry(278, 4, 1, 1), entry(279, 4, height, counts_offset),
             entry(284, 3, 1, 1), struct.pack("<I", 0), struct.pack("<HHH", 8, 8, 8)]
    parts.extend(struct.pack("<I", (data_offset + i * row) & 0xffffffff) for i in range(height))
    parts.extend(struct.pack("<I", row) for i in range(height))
    parts.append(b"\0" * data_bytes)
    with open(path, "wb") as out:
        out.write(b"".join(parts))


def codec_names():
    return [entry[0] for entry in orvo.codecs()]


class ScratchTestCase(unittest.TestCase):
    """A test with its own scratch directory and the build's plug-ins."""
    needed_codecs = ("ppm", "png")

    def setUp(self):
        missing = [name for name in self.needed_codecs if name not in codec_names()]
        if missing:
            self.fail("plug-ins %s not loaded: run with QEV_UDILPATH=<build>/udil" % missing)
        self.dir = tempfile.mkdtemp(prefix="orvo-movie-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def files(self):
        return sorted(os.listdir(self.dir))

    def clear(self):
        for name in os.listdir(self.dir):
            os.remove(self.path(name))


def noisy_image(width, height, seed):
    """An RGB image of random bytes: it compresses to about its own size."""
    generator = random.Random(seed)
    return orvo.image(width, height, orvo.DYX_IMG_FMT_RGB,
                      bytes(bytearray(generator.getrandbits(8) for _ in range(width * height * 3))))


def mount_tmpfs(directory, options):
    """Mounts a tmpfs with the mount options `options` ("size=600k,ro") on
    `directory`. Returns None, or why mounting was refused."""
    status, out, err = run_bounded(["mount", "-t", "tmpfs", "-o", options, "tmpfs", directory], 20)
    if status == 0:
        return None
    return (err or out).strip() or "mount exited with %d" % status


def unmount(directory):
    """Unmounts `directory`; lazily when something still holds it open, so
    that a failed test leaves no mount behind."""
    if run_bounded(["umount", directory], 20)[0] != 0:
        run_bounded(["umount", "-l", directory], 20)


def last_udil_error():
    """The codec host's last error text, which carries the plug-ins' own
    messages (every dyx_ function is exported by the module)."""
    library = ctypes.CDLL(orvo._orvo.__file__)
    library.dyx_udil_get_last_error_string.restype = ctypes.c_char_p
    return library.dyx_udil_get_last_error_string().decode("utf-8", "replace")


def wait_until(condition, seconds=CHILD_SECONDS):
    """Whether `condition()` came true within `seconds`. It is looked at
    every 10 ms: the test waits on an event, the bound only stops a hang."""
    pause = threading.Event()
    for _ in range(int(seconds * 100)):
        if condition():
            return True
        pause.wait(0.01)
    return condition()
