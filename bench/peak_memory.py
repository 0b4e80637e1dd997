#!/usr/bin/env python3
"""Peak memory of reading a movie frame by frame: orvo against PyAV and OpenCV.

Each reader runs in a subprocess of its own, which imports what it needs,
notes its peak resident size (ru_maxrss), reads every frame of the movie
as an RGB array, dropping each before the next, and prints how far the
peak rose above the one after the imports. Run with the module on the
path, for example:
    PYTHONPATH=build/py3 QEV_UDILPATH=build/udil python3 bench/peak_memory.py movie.mp4

Without a movie a 4K H.264 one is made with the ffmpeg command:
    ffmpeg -f lavfi -i testsrc2=size=3840x2160:rate=25 -frames:v 60 \\
        -c:v libx264 -preset ultrafast -pix_fmt yuv420p movie.mp4
"""
from __future__ import print_function

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

# The code each subprocess runs: the imports, then READ, which sets `count`.
CHILD = """
import resource, sys
%(imports)s
path = sys.argv[1]
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
count = 0
%(read)s
after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print("%%d %%d" %% (count, after - before))
"""

READERS = [
    ("orvo imiter, default workers", "import orvo",
     "for frame in orvo.imiter(path):\n    count += 1\n    del frame"),
    ("orvo imiter, orvo.threads = 1", "import orvo\norvo.threads = 1",
     "for frame in orvo.imiter(path):\n    count += 1\n    del frame"),
    ("PyAV, frame threads", "import av",
     "with av.open(path) as container:\n"
     "    stream = container.streams.video[0]\n"
     "    stream.thread_type = 'AUTO'\n"
     "    for frame in container.decode(stream):\n"
     "        array = frame.to_ndarray(format='rgb24')\n"
     "        count += 1\n"
     "        del array, frame"),
    ("PyAV, one thread", "import av",
     "with av.open(path) as container:\n"
     "    for frame in container.decode(container.streams.video[0]):\n"
     "        array = frame.to_ndarray(format='rgb24')\n"
     "        count += 1\n"
     "        del array, frame"),
    ("OpenCV VideoCapture", "import cv2",
     "capture = cv2.VideoCapture(path)\n"
     "while True:\n"
     "    ok, array = capture.read()\n"
     "    if not ok:\n"
     "        break\n"
     "    count += 1\n"
     "    del array\n"
     "capture.release()"),
]


def make_movie(directory):
    name = os.path.join(directory, "movie_4k.mp4")
    subprocess.check_call(["ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                           "testsrc2=size=3840x2160:rate=25", "-frames:v", "60", "-c:v", "libx264",
                           "-preset", "ultrafast", "-pix_fmt", "yuv420p", name])
    return name


def run_reader(imports, read, path, python):
    """(frames, peak KiB above the imports), or None when the reader fails."""
    code = CHILD % {"imports": imports, "read": read}
    result = subprocess.run([python, "-c", code, path], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            universal_newlines=True, timeout=600)
    if result.returncode != 0:
        return None, result.stderr.strip().splitlines()[-1:] or ["failed"]
    frames, kib = result.stdout.split()
    return (int(frames), int(kib)), None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("movie", nargs="?", help="the movie to read (default: a 4K H.264 one made here)")
    parser.add_argument("--repeat", type=int, default=3, help="runs per reader; the median is shown")
    args = parser.parse_args()
    directory = None
    path = args.movie
    if path is None:
        directory = tempfile.mkdtemp(prefix="orvo-bench-")
        path = make_movie(directory)
    try:
        print("movie: %s" % path)
        print("%-32s %7s %12s" % ("reader", "frames", "peak MB"))
        for name, imports, read in READERS:
            peaks, frames, why = [], 0, None
            for _ in range(args.repeat):
                outcome, why = run_reader(imports, read, path, sys.executable)
                if outcome is None:
                    break
                frames = outcome[0]
                peaks.append(outcome[1])
            if not peaks:
                print("%-32s %7s %12s  (%s)" % (name, "-", "n/a", why[0] if why else "failed"))
                continue
            peaks.sort()
            print("%-32s %7d %+12.0f" % (name, frames, peaks[len(peaks) // 2] / 1024.0))
            sys.stdout.flush()
    finally:
        if directory is not None:
            shutil.rmtree(directory, True)


if __name__ == "__main__":
    main()
