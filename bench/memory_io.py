#!/usr/bin/env python3
"""Times reading and writing files in memory (bytes through orvo's
anonymous in-memory file) against the same files on disk, for PNG, JPEG and
TIFF pictures (1920 x 1080 RGB) and an H.264 MP4 of 30 frames of 640 x 360.

Each row is one codec, each column the time of one way:
    write file   orvo.imwrite(path, ...)              the file on disk
    write memory orvo.imwrite(io.BytesIO(), ..., format=...)
    read file    orvo.imread(path) (every frame of the movie: imiter)
    read memory  orvo.imread(data) with the file's bytes (imiter for the movie)
and the ratios memory / file. Times are the best of --repeat turns, the
four ways taking turns (the machine may be shared).

Run with the module on the path, for example:
    PYTHONPATH=build/py3 QEV_UDILPATH=build/udil python3 bench/memory_io.py [--repeat N]
"""
from __future__ import print_function

import argparse
import io
import os
import shutil
import tempfile
import time

import numpy

import orvo


def best_seconds(works, repeat):
    """The shortest time of each piece of work, the pieces taking turns so
    that a busy spell of the machine falls on all of them alike."""
    times = [[] for _ in works]
    for _ in range(repeat):
        for index, work in enumerate(works):
            started = time.perf_counter()
            work()
            times[index].append(time.perf_counter() - started)
    return [min(each) for each in times]


def picture():
    """A 1080p picture with smooth gradients and some texture, as photos have."""
    rows = numpy.linspace(0, 255, 1080, dtype=numpy.float32)[:, None]
    columns = numpy.linspace(0, 255, 1920, dtype=numpy.float32)[None, :]
    texture = numpy.random.RandomState(1).randint(0, 24, (1080, 1920)).astype(numpy.float32)
    planes = [(rows + texture) % 256, (columns + texture) % 256, (rows + columns) / 2]
    return numpy.dstack(planes).astype(numpy.uint8)


def movie_frames():
    base = picture()[::3, ::3][:360, :640]
    return numpy.array([numpy.roll(base, 8 * number, axis=1) for number in range(30)])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=7)
    arguments = parser.parse_args()
    orvo.threads = 1
    directory = tempfile.mkdtemp(prefix="orvo-bench-")
    try:
        still = picture()
        frames = movie_frames()
        cases = [("PNG", "png", still), ("JPEG", "jpg", still), ("TIFF", "tif", still), ("H.264 MP4", "mp4", frames)]
        print("| format | size | write file | write memory | ratio | read file | read memory | ratio |")
        print("|---|---|---|---|---|---|---|---|")
        for label, suffix, data in cases:
            path = os.path.join(directory, "bench." + suffix)
            movie = suffix == "mp4"

            def write_file():
                orvo.imwrite(path, data)

            def write_memory():
                orvo.imwrite(io.BytesIO(), data, format=suffix)

            def read_file():
                if movie:
                    sum(1 for _ in orvo.imiter(path))
                else:
                    orvo.imread(path)

            write_file()
            with open(path, "rb") as stream:
                contents = stream.read()

            def read_memory():
                if movie:
                    sum(1 for _ in orvo.imiter(contents))
                else:
                    orvo.imread(contents)

            times = best_seconds((write_file, write_memory, read_file, read_memory), arguments.repeat)
            print("| %s | %d KB | %.1f ms | %.1f ms | %.2f | %.1f ms | %.1f ms | %.2f |" % (
                label, len(contents) // 1024, times[0] * 1e3, times[1] * 1e3, times[1] / times[0],
                times[2] * 1e3, times[3] * 1e3, times[3] / times[2]))
    finally:
        shutil.rmtree(directory, True)


if __name__ == "__main__":
    main()
