#!/usr/bin/env python3
"""Times orvo's threads side by side with PyAV and OpenCV, in one run.

  * Two Python threads, each reading its own 1080p H.264 movie (each
    writing a PNG sequence, each scaling 4K to 1080p), against one thread
    doing the same total work: orvo, PyAV and OpenCV. The ratio is the gain
    from the second thread (2.0 would be perfect on two free cores).
  * A 1080p PNG sequence written from a script with orvo.threads 1 and at
    its default (frames encoded behind the script on several workers).
  * `orvo convert` of a PNG sequence to a JPEG sequence and to H.264, with
    one worker and at the default, against the ffmpeg command.
  * A 2 x 2 Multi-Tile Movie (H.264 and FFV1 tiles) written with one
    worker and at the default.

Each line gives the wall time, the process's (or the child's) CPU time and
the machine's load average before it; a peer that is not installed is left
out, saying so. Run from the repository with the build:
    QEV_UDILPATH=build/udil PYTHONPATH=build/py3 /usr/bin/python3 bench/threads.py [--quick]
"""
from __future__ import print_function

import argparse
import ctypes
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import threading
import time

import numpy
import orvo

try:
    import av
except ImportError:
    av = None
try:
    import cv2
except ImportError:
    cv2 = None

RGB = orvo.DYX_IMG_FMT_RGB


def set_workers(count):
    """Sets orvo's worker count (0: the default); returns the one before."""
    if hasattr(orvo, "threads"):
        before = orvo.threads
        orvo.threads = count if count > 0 else os.cpu_count()
        return before
    library = ctypes.CDLL(orvo._orvo.__file__)
    before = library.dyx_parallel_threads()
    library.dyx_parallel_set_threads(count)
    return before


def picture(width, height, seed):
    """A smooth moving gradient with mild noise, as uint8 RGB rows."""
    y, x = numpy.mgrid[0:height, 0:width]
    generator = numpy.random.default_rng(seed)
    frame = numpy.empty((height, width, 3), numpy.uint8)
    frame[..., 0] = (x * 255 // max(width - 1, 1) + seed * 3) % 256
    frame[..., 1] = (y * 255 // max(height - 1, 1) + seed * 5) % 256
    frame[..., 2] = ((x + y) // 8 + seed) % 256
    frame += generator.integers(0, 8, frame.shape, dtype=numpy.uint8)
    return frame


def orvo_image(array):
    return orvo.image(array.shape[1], array.shape[0], RGB, array.tobytes())


class Timed(object):
    """Wall and CPU time of a block, and the load average before it."""

    def __enter__(self):
        self.load = os.getloadavg()[0]
        self.children = resource.getrusage(resource.RUSAGE_CHILDREN)
        self.cpu = time.process_time()
        self.wall = time.perf_counter()
        return self

    def __exit__(self, *exc):
        self.wall = time.perf_counter() - self.wall
        self.cpu = time.process_time() - self.cpu
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        self.cpu += (after.ru_utime - self.children.ru_utime) + (after.ru_stime - self.children.ru_stime)


def report(name, timed, reference=None):
    ratio = " %5.2fx" % (reference.wall / timed.wall) if reference is not None else ""
    print("%-46s wall %7.2f s  cpu %7.2f s  load %4.1f%s" % (name, timed.wall, timed.cpu, timed.load, ratio))
    sys.stdout.flush()


def run_threads(jobs):
    """Runs each job on its own Python thread and waits for all."""
    failures = []

    def guarded(job):
        try:
            job()
        except Exception as error:  # reported after the join
            failures.append(error)

    threads = [threading.Thread(target=guarded, args=(job,)) for job in jobs]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(3600)
    if failures:
        raise failures[0]


def serial_against_threads(name, make_jobs):
    """One thread doing both jobs, then two threads doing one each."""
    jobs = make_jobs()
    with Timed() as serial:
        for job in jobs:
            job()
    jobs = make_jobs()
    with Timed() as parallel:
        run_threads(jobs)
    report(name + ": one thread", serial)
    report(name + ": two threads", parallel, serial)


# ---- work for the two-thread cases ------------------------------------------

def orvo_read(path):
    def job():
        movie = orvo.movie()
        movie.filename = path
        if movie.open() != 0:
            raise RuntimeError(movie.errstr())
        for k in range(movie.nframes):
            if not isinstance(movie.getframe(k), list):
                raise RuntimeError(movie.errstr())
        movie.close()
    return job


def av_read(path):
    def job():
        with av.open(path) as container:
            stream = container.streams.video[0]
            stream.thread_type = "AUTO"
            for frame in container.decode(stream):
                frame.to_ndarray(format="rgb24")
    return job


def cv_read(path):
    def job():
        capture = cv2.VideoCapture(path)
        while capture.read()[0]:
            pass
        capture.release()
    return job


def orvo_write_png(directory, images):
    def job():
        fresh(directory)
        movie = orvo.movie(orvo.MOVIE_WRITE)
        movie.filename = os.path.join(directory, "f.####.png")
        movie.dims = tuple(images[0].dims)
        movie.addcount(len(images))
        if movie.open() != 0:
            raise RuntimeError(movie.errstr())
        for image in images:
            if movie.append(image) != 0:
                raise RuntimeError(movie.errstr())
        if movie.close() != 0:
            raise RuntimeError(movie.errstr())
    return job


def av_write_png(directory, arrays):
    def job():
        fresh(directory)
        with av.open(os.path.join(directory, "f.%04d.png"), "w", format="image2") as container:
            stream = container.add_stream("png")
            stream.width, stream.height, stream.pix_fmt = arrays[0].shape[1], arrays[0].shape[0], "rgb24"
            for array in arrays:
                for packet in stream.encode(av.VideoFrame.from_ndarray(array, format="rgb24")):
                    container.mux(packet)
            for packet in stream.encode():
                container.mux(packet)
    return job


def cv_write_png(directory, arrays):
    def job():
        fresh(directory)
        for k, array in enumerate(arrays):
            cv2.imwrite(os.path.join(directory, "f.%04d.png" % k), array)
    return job


def orvo_scale(source, times):
    def job():
        for _ in range(times):
            copy = orvo.image(source.dims[0], source.dims[1], RGB, source.tostring())
            copy.resize(1920, 1080, 1)
    return job


def av_scale(array, times):
    frame = av.VideoFrame.from_ndarray(array, format="rgb24")

    def job():
        for _ in range(times):
            frame.reformat(width=1920, height=1080, interpolation="AREA")
    return job


def cv_scale(array, times):
    def job():
        for _ in range(times):
            cv2.resize(array, (1920, 1080), interpolation=cv2.INTER_AREA)
    return job


def fresh(directory):
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)


# ---- the cases ----------------------------------------------------------------

def make_h264(path, frames):
    arguments = ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25",
                 "-frames:v", str(frames), "-c:v", "libx264", "-pix_fmt", "yuv420p", path]
    subprocess.run(arguments, check=True, timeout=600)


def two_thread_cases(work, frames):
    print("-- two Python threads against one (%d frames each)" % frames)
    movies = [os.path.join(work, "in%d.mp4" % k) for k in range(2)]
    for path in movies:
        make_h264(path, frames)
    arrays = [picture(1920, 1080, k) for k in range(frames // 2)]
    images = [orvo_image(array) for array in arrays]
    big = picture(3840, 2160, 1)
    scales = max(frames // 4, 4)
    # "orvo x1" runs with orvo.threads = 1, one core per Python thread: the
    # gain from the second thread is then the GIL being released; "orvo"
    # runs at the default, where one thread already uses the workers.
    peers = [("orvo x1", True), ("orvo", True), ("PyAV", av is not None), ("OpenCV", cv2 is not None)]
    for peer, present in peers:
        if not present:
            print("%s is not installed: its rows are left out" % peer)
    dirs = [os.path.join(work, "png%d" % k) for k in range(2)]
    cases = [
        ("read 1080p H.264", {"orvo": orvo_read, "PyAV": av_read, "OpenCV": cv_read}, movies),
        ("write 1080p PNG", {"orvo": lambda d: orvo_write_png(d, images), "PyAV": lambda d: av_write_png(d, arrays),
                             "OpenCV": lambda d: cv_write_png(d, arrays)}, dirs),
        ("scale 4K->1080p area", {"orvo": lambda _: orvo_scale(orvo_image(big), scales),
                                  "PyAV": lambda _: av_scale(big, scales),
                                  "OpenCV": lambda _: cv_scale(big, scales)}, [None, None]),
    ]
    for title, makers, targets in cases:
        makers["orvo x1"] = makers["orvo"]
        for peer, present in peers:
            if present:
                set_workers(1 if peer == "orvo x1" else 0)
                serial_against_threads("%s, %s" % (title, peer),
                                       lambda: [makers[peer](target) for target in targets])
    set_workers(0)


def sequence_case(work, frames):
    print("-- a 1080p PNG sequence of %d frames written from one script" % frames)
    images = [orvo_image(picture(1920, 1080, k)) for k in range(4)]
    sequence = [images[k % len(images)] for k in range(frames)]
    directory = os.path.join(work, "seq")
    results = {}
    for workers, label in ((1, "orvo.threads = 1"), (0, "orvo.threads default")):
        set_workers(workers)
        job = orvo_write_png(directory, sequence)
        with Timed() as timed:
            job()
        results[workers] = timed
        report("write PNG sequence, " + label, timed, results.get(1))
    set_workers(0)


def convert_case(work, frames):
    print("-- orvo convert against the ffmpeg command (%d frames)" % frames)
    source = os.path.join(work, "src")
    fresh(source)
    for k in range(frames):
        save_png(os.path.join(source, "in.%04d.png" % k), picture(1920, 1080, k % 8))
    pattern = os.path.join(source, "in.####.png")
    for title, output, ffmpeg_arguments in (
            ("PNG -> half-size JPEG sequence", "half.####.jpg",
             ["-vf", "scale=960:540:flags=area", "-q:v", "3"]),
            ("PNG -> H.264", "clip.mp4", ["-c:v", "libx264", "-pix_fmt", "yuv420p"])):
        target = os.path.join(work, "out")
        if output.endswith(".jpg"):
            options = ["--size", "960x540", "--smooth"]
        else:
            options = ["--codec", "ffmpeg", "--options", "codec h264"]
        base = None
        for workers in ("1", ""):
            fresh(target)
            env = dict(os.environ)
            env.pop("ORVO_THREADS", None)
            if workers:
                env["ORVO_THREADS"] = workers
            command = [sys.executable, "-m", "orvo", "convert", "-y", pattern, os.path.join(target, output)]
            with Timed() as timed:
                subprocess.run(command + options, check=True, timeout=1800, env=env,
                               stdout=subprocess.DEVNULL)
            report("convert %s, orvo %s" % (title, "1 worker" if workers else "default"), timed, base)
            base = base or timed
        fresh(target)
        ffmpeg_output = os.path.join(target, output.replace("####", "%04d"))
        command = ["ffmpeg", "-v", "error", "-y", "-i", os.path.join(source, "in.%04d.png")]
        with Timed() as timed:
            subprocess.run(command + ffmpeg_arguments + [ffmpeg_output], check=True, timeout=1800)
        report("convert %s, ffmpeg command" % title, timed, base)


def save_png(path, array):
    """Writes a PNG through orvo (no peer needed to make the input)."""
    if orvo_image(array).save(path) != 0:
        raise RuntimeError("cannot write " + path)


def tiled_case(work, frames, codec):
    print("-- a 2 x 2 Multi-Tile Movie of %s tiles (%d frames of 3840 x 2160)" % (codec, frames))
    images = [orvo_image(picture(3840, 2160, k)) for k in range(2)]
    base = None
    for workers, label in ((1, "1 worker"), (0, "default")):
        set_workers(workers)
        directory = os.path.join(work, "mtm")
        fresh(directory)
        movie = orvo.movie(orvo.MOVIE_WRITE)
        movie.filename = os.path.join(directory, "wall")
        movie.dims = (3840, 2160)
        movie.tiling = (2, 2)
        movie.format = "ffmpeg"
        movie.options = "codec " + codec
        movie.addcount(frames)
        with Timed() as timed:
            if movie.open() != 0:
                raise RuntimeError(movie.errstr())
            for k in range(frames):
                if movie.append(images[k % 2]) != 0:
                    raise RuntimeError(movie.errstr())
            if movie.close() != 0:
                raise RuntimeError(movie.errstr())
        report("write 2x2 MTM of %s, %s" % (codec, label), timed, base)
        base = base or timed
    set_workers(0)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--quick", action="store_true", help="a short smoke run with few frames")
    args = parser.parse_args()
    frames = 12 if args.quick else 60
    print("orvo worker default: %d, cores: %d, load before: %.1f %.1f %.1f"
          % ((set_workers(0),) + (os.cpu_count(),) + os.getloadavg()))
    work = tempfile.mkdtemp(prefix="orvo-threads-")
    try:
        two_thread_cases(work, frames)
        sequence_case(work, 24 if args.quick else 120)
        convert_case(work, 24 if args.quick else 120)
        # x264 threads itself, so its tiles show little gain on a few cores;
        # FFV1 encodes each tile on one thread.
        for codec in ("h264", "ffv1"):
            tiled_case(work, 6 if args.quick else 30, codec)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
