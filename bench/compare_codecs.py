#!/usr/bin/env python3
"""Times orvo's still-image codec plug-ins (png, jpeg, tiff) against Pillow
and OpenCV on a 1920 x 1080 RGB frame of smooth gradients with mild noise.

Every case writes or reads a real file in a scratch directory (in /dev/shm
when there is one, so the disk does not blur the codec time) and prints the
median time of orvo and of each peer, the ratio orvo / peer and the file
sizes. Times are the process's CPU time (user and system): every codec here
runs on one thread, so on an idle machine this equals the elapsed time, and
on a shared one it is not inflated by other processes. orvo is driven through the codec host's own exported functions
(dyx_udil_file_new / dyx_udil_save_pixels / dyx_udil_get_image) called with
ctypes on the module's shared object, the path a movie or image save takes.

Run with the module on the path and the build's plug-in directory:
    PYTHONPATH=build/py3 QEV_UDILPATH=build/udil python3 bench/compare_codecs.py [--repeat N]
"""
from __future__ import print_function

import argparse
import ctypes
import os
import shutil
import statistics
import tempfile
import time

import numpy
import orvo

try:
    from PIL import Image
except ImportError:
    Image = None
try:
    import cv2
except ImportError:
    cv2 = None

WIDTH, HEIGHT = 1920, 1080
RGB = orvo.DYX_IMG_FMT_RGB


class MovieInfo(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int32), ("height", ctypes.c_int32), ("frames", ctypes.c_int32),
                ("stereo", ctypes.c_int32), ("depth", ctypes.c_int32), ("attribute_b", ctypes.c_int32),
                ("frame_rate", ctypes.c_float), ("pixel_format", ctypes.c_int32)]


class ImageRecord(ctypes.Structure):
    """The head of dyx_image_t, up to its pixel pointer."""
    _fields_ = [("width", ctypes.c_uint32), ("height", ctypes.c_uint32), ("valid", ctypes.c_int32 * 4),
                ("format", ctypes.c_int32), ("depth", ctypes.c_int32), ("data", ctypes.c_void_p)]


def host_library():
    """The dyx_ functions exported by the orvo module, with their signatures."""
    lib = ctypes.CDLL(orvo._orvo.__file__)
    p, i32 = ctypes.c_void_p, ctypes.c_int32
    signatures = {
        "dyx_udil_find_by_name": (p, [ctypes.c_char_p]),
        "dyx_udil_load": (ctypes.c_int, [p]),
        "dyx_udil_parse_options": (p, [p, ctypes.c_char_p, ctypes.POINTER(i32)]),
        "dyx_free": (None, [p, ctypes.c_int, ctypes.c_char_p]),
        "dyx_udil_file_new": (p, [ctypes.c_char_p, p, ctypes.POINTER(MovieInfo), i32, p]),
        "dyx_udil_file_open": (p, [ctypes.c_char_p, p, ctypes.POINTER(MovieInfo), p, i32, p,
                                   ctypes.POINTER(i32), ctypes.POINTER(i32)]),
        "dyx_udil_file_close": (ctypes.c_int, [ctypes.POINTER(p)]),
        "dyx_udil_save_pixels": (ctypes.c_int, [p, i32, i32, p, p]),
        "dyx_udil_get_image": (ctypes.c_int, [p, i32, i32, p, p]),
        "dyx_udil_get_last_error_string": (ctypes.c_char_p, []),
        "dyx_image_alloc": (ctypes.POINTER(ImageRecord), [ctypes.c_uint32, ctypes.c_uint32, i32, i32]),
        "dyx_image_free": (None, [ctypes.POINTER(ctypes.POINTER(ImageRecord))]),
    }
    for name, (result, arguments) in signatures.items():
        function = getattr(lib, name)
        function.restype = result
        function.argtypes = arguments
    return lib


class OrvoCodec(object):
    """One plug-in driven through the codec host, as a save or load does."""

    def __init__(self, lib, name, options):
        self.lib = lib
        self.record = lib.dyx_udil_find_by_name(name.encode())
        if not self.record or lib.dyx_udil_load(self.record) != 0:
            raise RuntimeError("no %s plug-in; is QEV_UDILPATH set to the build's udil directory?" % name)
        self.options = options.encode()

    def error(self):
        return self.lib.dyx_udil_get_last_error_string().decode()

    def write(self, stem, pixels):
        """Writes the picture (bottom row first) as `stem` plus the codec's suffix."""
        count = ctypes.c_int32(0)
        options = self.lib.dyx_udil_parse_options(self.record, self.options, ctypes.byref(count))
        info = MovieInfo(WIDTH, HEIGHT, 1, 0, 0, 0, 25.0, RGB)
        stream = ctypes.c_void_p(self.lib.dyx_udil_file_new(stem.encode(), self.record, ctypes.byref(info),
                                                            count, options))
        self.lib.dyx_free(options, 0, b"compare_codecs")
        if not stream:
            raise RuntimeError("can't make %s: %s" % (stem, self.error()))
        status = self.lib.dyx_udil_save_pixels(stream, 0, 0, pixels.ctypes.data, None)
        self.lib.dyx_udil_file_close(ctypes.byref(stream))
        if status != 0:
            raise RuntimeError("can't write %s: %s" % (stem, self.error()))

    def read(self, path):
        """Reads the file into a new image, as a load does; returns nothing."""
        info = MovieInfo(0, 0, -1, 0, 0, 0, -1.0, RGB)
        first, last = ctypes.c_int32(0), ctypes.c_int32(0)
        stream = ctypes.c_void_p(self.lib.dyx_udil_file_open(path.encode(), self.record, ctypes.byref(info), None, 0,
                                                             None, ctypes.byref(first), ctypes.byref(last)))
        if not stream:
            raise RuntimeError("can't open %s" % path)
        image = self.lib.dyx_image_alloc(info.width, info.height, 0, info.pixel_format)
        status = self.lib.dyx_udil_get_image(stream, 0, 0, image, None)
        self.lib.dyx_udil_file_close(ctypes.byref(stream))
        self.lib.dyx_image_free(ctypes.byref(image))
        if status != 0:
            raise RuntimeError("can't read %s: %s" % (path, self.error()))


def natural_frame():
    """Smooth per-channel gradients with +-3 of noise, like a real frame."""
    y, x = numpy.mgrid[0:HEIGHT, 0:WIDTH]
    noise = numpy.random.default_rng(1).integers(-3, 4, (HEIGHT, WIDTH, 3))
    planes = [x * (60 + 50 * c) // WIDTH + y * (180 - 40 * c) // HEIGHT + 10 for c in range(3)]
    return numpy.clip(numpy.dstack(planes) + noise, 0, 255).astype(numpy.uint8)


def median_ms(work, repeat):
    times = []
    for _ in range(repeat):
        start = time.process_time()
        work()
        times.append(time.process_time() - start)
    return 1000.0 * statistics.median(times)


def size_kib(path):
    return os.path.getsize(path) / 1024.0


def run(repeat, scratch):
    lib = host_library()
    frame = natural_frame()  # rows top first, as Pillow and OpenCV take them
    bottom_first = numpy.ascontiguousarray(frame[::-1])
    bgr = numpy.ascontiguousarray(frame[:, :, ::-1])
    pil_image = Image.fromarray(frame) if Image else None

    def path(name):
        return os.path.join(scratch, name)

    # (case, orvo codec name, orvo options, suffix, Pillow save options, OpenCV imwrite parameters)
    cases = [
        ("PNG default", "png", "", ".png", {}, []),
        ("PNG level 6", "png", "compression 6", ".png", {"compress_level": 6}, [cv2.IMWRITE_PNG_COMPRESSION, 6]
         if cv2 else None),
        ("JPEG q90", "jpeg", "quality 90", ".jpg", {"quality": 90}, [cv2.IMWRITE_JPEG_QUALITY, 90] if cv2 else None),
        ("TIFF LZW", "tiff", "compression lzw predictor 0", ".tif", {"compression": "tiff_lzw"}, None),
        ("TIFF LZW+predictor", "tiff", "compression lzw predictor 1", ".tif", None, None),
    ]
    rows = []
    for label, codec, options, suffix, pil_options, cv_parameters in cases:
        ours = OrvoCodec(lib, codec, options)
        stem = "orvo_" + codec + str(len(rows))
        write_ms = median_ms(lambda: ours.write(path(stem), bottom_first), repeat)
        read_ms = median_ms(lambda: ours.read(path(stem + suffix)), repeat)
        row = [(label + " write", write_ms, size_kib(path(stem + suffix))),
               (label + " read", read_ms, None)]
        peers = []
        if Image and pil_options is not None:
            target = path("pil" + str(len(rows)) + suffix)
            peers.append(("Pillow", median_ms(lambda: pil_image.save(target, **pil_options), repeat),
                          median_ms(lambda: Image.open(target).load(), repeat), size_kib(target)))
        if cv2 is not None and cv_parameters is not None:
            target = path("cv" + str(len(rows)) + suffix)
            peers.append(("OpenCV", median_ms(lambda: cv2.imwrite(target, bgr, cv_parameters), repeat),
                          median_ms(lambda: cv2.imread(target, cv2.IMREAD_UNCHANGED), repeat), size_kib(target)))
        rows.append((row, peers))

    print("%d x %d RGB, median CPU ms of %d runs (ratio = orvo / peer)" % (WIDTH, HEIGHT, repeat))
    print("%-28s %9s %9s  %s" % ("case", "orvo", "KiB", "peers"))
    for row, peers in rows:
        for index, (name, ms, kib) in enumerate(row):
            parts = []
            for peer, write_ms, read_ms, peer_kib in peers:
                peer_ms = write_ms if index == 0 else read_ms
                text = "%s %.1f (x%.2f)" % (peer, peer_ms, ms / peer_ms)
                if index == 0:
                    text += " %.0f KiB" % peer_kib
                parts.append(text)
            print("%-28s %9.1f %9s  %s" % (name, ms, "%.0f" % kib if kib else "", "; ".join(parts)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--repeat", type=int, default=15)
    arguments = parser.parse_args()
    if cv2 is not None:
        cv2.setNumThreads(1)
    scratch = tempfile.mkdtemp(prefix="orvo_codecs_", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    try:
        run(arguments.repeat, scratch)
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
