#!/usr/bin/env python3
"""Times the ffmpeg movie plug-in against the ffmpeg command.

At 1920 x 1080 RGB on realistic synthetic frames (smooth moving gradients
with mild noise), each case writes a 120-frame movie and reads it back in
order, once through the plug-in's append and getframe entry points (loaded
with ctypes, in this process) and once through the ffmpeg command fed and
drained through a pipe of raw RGB, with the same codec settings. Then 20
frames of an H.264 movie with B-frames are read in random order, against
the cost of decoding one group of pictures.

Run from the repository with the build's plug-in directory:
    /usr/bin/python3 bench/compare_movies.py [--plugins build/udil] [--repeat N]
"""
from __future__ import print_function

import argparse
import ctypes
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import numpy

WIDTH, HEIGHT, FRAMES = 1920, 1080, 120
FMT_RGB = 8


class UdilOption(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char * 256), ("set", ctypes.c_int32), ("type", ctypes.c_int32),
                ("range", ctypes.c_char * 256), ("value", ctypes.c_char * 256),
                ("description", ctypes.c_char * 512)]


class UdilMovieInfo(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int32), ("height", ctypes.c_int32), ("frames", ctypes.c_int32),
                ("stereo", ctypes.c_int32), ("depth", ctypes.c_int32), ("attribute_b", ctypes.c_int32),
                ("frame_rate", ctypes.c_float), ("pixel_format", ctypes.c_int32)]


class Plugin(object):
    """The plug-in's entry points, called as the host calls them."""

    def __init__(self, directory):
        lib = ctypes.CDLL(os.path.join(directory, "libudil-ffmpeg.so"))
        vp, i32, cp = ctypes.c_void_p, ctypes.c_int32, ctypes.c_char_p
        lib.udil_create_writer.restype = vp
        lib.udil_create_writer.argtypes = [ctypes.POINTER(UdilMovieInfo), i32, ctypes.POINTER(UdilOption)]
        lib.udil_create_reader.restype = vp
        lib.udil_create_reader.argtypes = [cp, ctypes.POINTER(UdilMovieInfo), vp, i32, vp]
        for name in ("udil_file_new", "udil_file_open"):
            getattr(lib, name).argtypes = [vp, cp]
        lib.udil_file_close.argtypes = [vp]
        lib.udil_save_image.argtypes = [vp, i32, i32, vp, vp]
        lib.udil_get_image.argtypes = [vp, i32, i32, vp, vp]
        lib.udil_handle_destroy.argtypes = [ctypes.POINTER(vp)]
        lib.udil_get_err.argtypes = [vp, ctypes.POINTER(i32), ctypes.c_char_p]
        self.lib = lib

    def options(self, settings):
        """The default option records with `settings` (name: item text) applied."""
        count = self.lib.udil_get_num_options()
        records = (UdilOption * count)()
        self.lib.udil_get_default_options(records)
        for record in records:
            name = record.name.decode()
            if name not in settings:
                continue
            value = str(settings[name])
            if record.type == 4:  # a choice is stored as the item's index
                value = str(record.range.decode().split("|").index(value))
            record.value = value.encode()
            record.set = 1
        return count, records

    def check(self, handle, status, what):
        if status != 0:
            flag = ctypes.c_int32()
            message = ctypes.create_string_buffer(256)
            self.lib.udil_get_err(handle, ctypes.byref(flag), message)
            raise RuntimeError("%s: %d %s" % (what, status, message.value.decode()))

    def destroy(self, handle):
        pointer = ctypes.c_void_p(handle)
        self.lib.udil_handle_destroy(ctypes.byref(pointer))

    def write(self, path, frames, settings):
        info = UdilMovieInfo(WIDTH, HEIGHT, len(frames), 0, 0, 0, 25.0, FMT_RGB)
        count, records = self.options(settings)
        handle = self.lib.udil_create_writer(ctypes.byref(info), count, records)
        self.check(handle, self.lib.udil_file_new(handle, path.encode()), "file_new")
        for number, frame in enumerate(frames):
            self.check(handle, self.lib.udil_save_image(handle, number, 0, frame.ctypes.data, None), "save")
        self.check(handle, self.lib.udil_file_close(handle), "close")
        self.destroy(handle)

    def open(self, path):
        info = UdilMovieInfo()
        handle = self.lib.udil_create_reader(path.encode(), ctypes.byref(info), None, 0, None)
        if not handle:
            raise RuntimeError("can't read " + path)
        self.check(handle, self.lib.udil_file_open(handle, path.encode()), "file_open")
        return handle, info

    def read(self, handle, numbers, pixels):
        for number in numbers:
            self.check(handle, self.lib.udil_get_image(handle, number, 0, pixels.ctypes.data, None), "get_image")


def synthetic_frames(count):
    """Smooth gradients that drift from frame to frame, with mild noise."""
    rng = numpy.random.default_rng(1)
    y, x = numpy.mgrid[0:HEIGHT, 0:WIDTH].astype(numpy.float32)
    frames = []
    for number in range(count):
        shift = 6.0 * number
        red = 40 + 170 * (x + shift) / (WIDTH + 6.0 * count)
        green = 50 + 150 * y / HEIGHT
        blue = 128 + 70 * numpy.sin((x + y + 2 * shift) / 190.0)
        picture = numpy.stack([red, green, blue], axis=-1)
        picture += rng.normal(0.0, 1.5, size=picture.shape).astype(numpy.float32)
        frames.append(numpy.ascontiguousarray(numpy.clip(picture, 0, 255).astype(numpy.uint8)))
    return frames


# Each case: the plug-in's options, the command's matching encoder
# arguments and the file suffix.
CASES = [
    ("x264 ultrafast", {"codec": "h264", "preset": "ultrafast", "crf": 20},
     ["-c:v", "libx264", "-preset", "ultrafast", "-crf", "20", "-pix_fmt", "yuv420p"], ".mp4"),
    ("x264 medium", {"codec": "h264", "preset": "medium", "crf": 20},
     ["-c:v", "libx264", "-preset", "medium", "-crf", "20", "-pix_fmt", "yuv420p"], ".mp4"),
    ("MJPEG", {"codec": "mjpeg", "qscale": 3},
     ["-c:v", "mjpeg", "-q:v", "3", "-pix_fmt", "yuvj420p"], ".avi"),
    ("FFV1", {"codec": "ffv1"},
     ["-c:v", "ffv1", "-level", "3", "-slicecrc", "1", "-g", "1", "-pix_fmt", "bgr0"], ".mkv"),
]


def command_write(path, frames, encoder):
    command = ["ffmpeg", "-v", "error", "-y", "-f", "rawvideo", "-pix_fmt", "rgb24", "-s",
               "%dx%d" % (WIDTH, HEIGHT), "-r", "25", "-i", "-"] + encoder + [path]
    process = subprocess.Popen(command, stdin=subprocess.PIPE)
    for frame in frames:
        process.stdin.write(memoryview(frame).cast("B"))
    process.stdin.close()
    if process.wait() != 0:
        raise RuntimeError("ffmpeg failed writing " + path)


def command_read(path):
    command = ["ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"]
    process = subprocess.Popen(command, stdout=subprocess.PIPE, bufsize=0)
    got = 0
    while True:
        chunk = process.stdout.read(1 << 22)
        if not chunk:
            break
        got += len(chunk)
    if process.wait() != 0 or got != FRAMES * WIDTH * HEIGHT * 3:
        raise RuntimeError("ffmpeg failed reading " + path)


def median_seconds(work, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--plugins", default=os.path.join("build", "udil"))
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--medium-repeat", type=int, default=1, help="runs of the slow x264 medium case")
    arguments = parser.parse_args()
    if shutil.which("ffmpeg") is None:
        sys.exit("the ffmpeg command is needed")
    plugin = Plugin(arguments.plugins)
    print("making %d synthetic %dx%d frames ..." % (FRAMES, WIDTH, HEIGHT))
    frames = synthetic_frames(FRAMES)
    pixels = numpy.empty((HEIGHT, WIDTH, 3), numpy.uint8)
    scratch = tempfile.mkdtemp(prefix="orvo_movies_")
    try:
        print("%-16s %-7s %12s %12s %8s" % ("case", "work", "orvo fps", "ffmpeg fps", "ratio"))
        for name, settings, encoder, suffix in CASES:
            repeat = arguments.medium_repeat if "medium" in name else arguments.repeat
            ours, theirs = os.path.join(scratch, "ours" + suffix), os.path.join(scratch, "theirs" + suffix)
            write_ours = median_seconds(lambda: plugin.write(ours, frames, settings), repeat)
            write_theirs = median_seconds(lambda: command_write(theirs, frames, encoder), repeat)

            def read_ours():
                handle, _ = plugin.open(ours)
                plugin.read(handle, range(FRAMES), pixels)
                plugin.destroy(handle)

            read_mine = median_seconds(read_ours, arguments.repeat)
            read_theirs = median_seconds(lambda: command_read(ours), arguments.repeat)
            for work, mine, other in (("write", write_ours, write_theirs), ("read", read_mine, read_theirs)):
                print("%-16s %-7s %12.1f %12.1f %8.2f" % (name, work, FRAMES / mine, FRAMES / other,
                                                          (FRAMES / mine) / (FRAMES / other)))
            print("%-16s sizes   orvo %.1f MB, ffmpeg %.1f MB"
                  % (name, os.path.getsize(ours) / 1e6, os.path.getsize(theirs) / 1e6))
            sys.stdout.flush()

        # Random access on H.264 with B-frames and a key frame every 24.
        gop = 24
        movie = os.path.join(scratch, "gop.mp4")
        plugin.write(movie, frames, {"codec": "h264", "preset": "medium", "crf": 20, "keyint": gop})
        order = list(range(FRAMES))
        random.Random(5).shuffle(order)
        order = order[:20]

        def random_reads():
            handle, _ = plugin.open(movie)
            start = time.perf_counter()
            plugin.read(handle, order, pixels)
            elapsed = time.perf_counter() - start
            plugin.destroy(handle)
            return elapsed

        def one_gop():
            handle, _ = plugin.open(movie)
            start = time.perf_counter()
            plugin.read(handle, range(gop), pixels)
            elapsed = time.perf_counter() - start
            plugin.destroy(handle)
            return elapsed

        per_read = statistics.median(random_reads() for _ in range(arguments.repeat)) / len(order)
        per_gop = statistics.median(one_gop() for _ in range(arguments.repeat))
        print("random read (x264 medium, B-frames, GOP %d): %.1f ms per frame; one GOP decodes in %.1f ms "
              "(ratio %.2f)" % (gop, 1000 * per_read, 1000 * per_gop, per_read / per_gop))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
