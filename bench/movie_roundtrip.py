#!/usr/bin/env python3
"""Times a movie round trip through orvo.movie against the ffmpeg command.

A 1920 x 1080, 120-frame movie is written with orvo.movie.append and read
back with orvo.movie.getframe through the ffmpeg plug-in, and the same
frames are encoded and decoded by the ffmpeg command fed and drained
through a pipe of raw RGB with the same codec settings. Prints frames per
second of each and the ratio (orvo time / ffmpeg time; below 1 is faster).

Run from the repository with the build's module and plug-ins:
    QEV_UDILPATH=build/udil PYTHONPATH=build/py3 /usr/bin/python3 bench/movie_roundtrip.py
"""
from __future__ import print_function

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy

import orvo

WIDTH, HEIGHT, FRAMES = 1920, 1080, 120

# (name, plug-in options, ffmpeg encoder arguments, suffix)
CASES = [
    ("h264 ultrafast", "codec h264 preset ultrafast crf 20",
     ["-c:v", "libx264", "-preset", "ultrafast", "-crf", "20", "-pix_fmt", "yuv420p"], ".mp4"),
    ("ffv1 lossless", "codec ffv1",
     ["-c:v", "ffv1", "-level", "3", "-slicecrc", "1", "-g", "1", "-pix_fmt", "bgr0"], ".mkv"),
]


def synthetic_frames(count):
    """Moving gradients with mild noise, as raw RGB bytes."""
    rows = numpy.arange(HEIGHT, dtype=numpy.int32)[:, None]
    columns = numpy.arange(WIDTH, dtype=numpy.int32)[None, :]
    noise = numpy.random.RandomState(1).randint(0, 6, size=(HEIGHT, WIDTH, 3), dtype=numpy.int32)
    frames = []
    for k in range(count):
        picture = numpy.empty((HEIGHT, WIDTH, 3), dtype=numpy.int32)
        picture[..., 0] = (columns + 4 * k) // 8
        picture[..., 1] = (rows + 2 * k) // 5
        picture[..., 2] = (columns + rows) // 12 + k
        frames.append(((picture + noise) % 256).astype(numpy.uint8).tobytes())
    return frames


def orvo_write(path, images, options):
    movie = orvo.movie(orvo.MOVIE_WRITE)
    movie.filename = path
    movie.dims = (WIDTH, HEIGHT)
    movie.fps = 25.0
    movie.options = options
    movie.addcount(len(images))
    if movie.open() != 0:
        raise RuntimeError("open: " + movie.errstr())
    for image in images:
        if movie.append(image) != 0:
            raise RuntimeError("append: " + movie.errstr())
    movie.close()


def orvo_read(path):
    movie = orvo.movie()
    movie.filename = path
    if movie.open() != 0:
        raise RuntimeError("open: " + movie.errstr())
    for k in range(movie.nframes):
        if movie.getframe(k) == -1:
            raise RuntimeError("getframe: " + movie.errstr())
    count = movie.nframes
    movie.close()
    return count


def command_write(path, frames, encoder):
    command = ["ffmpeg", "-v", "error", "-y", "-f", "rawvideo", "-pix_fmt", "rgb24", "-s",
               "%dx%d" % (WIDTH, HEIGHT), "-r", "25", "-i", "-"] + encoder + [path]
    child = subprocess.Popen(command, stdin=subprocess.PIPE)
    for frame in frames:
        child.stdin.write(frame)
    child.stdin.close()
    if child.wait() != 0:
        raise RuntimeError("ffmpeg failed writing " + path)


def command_read(path):
    command = ["ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"]
    child = subprocess.Popen(command, stdout=subprocess.PIPE)
    size = WIDTH * HEIGHT * 3
    count = 0
    while True:
        data = child.stdout.read(size)
        if len(data) < size:
            break
        count += 1
    if child.wait() != 0:
        raise RuntimeError("ffmpeg failed reading " + path)
    return count


def best_seconds(work, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--repeat", type=int, default=2, help="runs of each case; the best is kept")
    args = parser.parse_args()
    if shutil.which("ffmpeg") is None:
        sys.exit("the ffmpeg command is needed")
    if "ffmpeg" not in [entry[0] for entry in orvo.codecs()]:
        sys.exit("no ffmpeg plug-in: set QEV_UDILPATH to the build's udil directory")
    frames = synthetic_frames(FRAMES)
    images = [orvo.image(WIDTH, HEIGHT, orvo.DYX_IMG_FMT_RGB, frame) for frame in frames]
    scratch = tempfile.mkdtemp(prefix="orvo-bench-")
    try:
        print("%d x %d, %d frames" % (WIDTH, HEIGHT, FRAMES))
        print("%-16s %-6s %10s %11s %7s" % ("case", "work", "orvo fps", "ffmpeg fps", "ratio"))
        for name, options, encoder, suffix in CASES:
            ours = os.path.join(scratch, "orvo" + suffix)
            theirs = os.path.join(scratch, "ffmpeg" + suffix)
            write_ours = best_seconds(lambda: orvo_write(ours, images, options), args.repeat)
            write_theirs = best_seconds(lambda: command_write(theirs, frames, encoder), args.repeat)
            counts = []
            read_ours = best_seconds(lambda: counts.append(orvo_read(ours)), args.repeat)
            read_theirs = best_seconds(lambda: counts.append(command_read(theirs)), args.repeat)
            if set(counts) != set([FRAMES]):
                raise RuntimeError("frames read back: %s" % sorted(set(counts)))
            for work, mine, other in (("write", write_ours, write_theirs), ("read", read_ours, read_theirs)):
                print("%-16s %-6s %10.1f %11.1f %7.2f" % (name, work, FRAMES / mine, FRAMES / other, mine / other))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
