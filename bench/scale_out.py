#!/usr/bin/env python3
"""Times conversions on a local Dask cluster of 1 worker against 2.

Cases (input: a PNG sequence of --frames frames at --size, made once with
the ffmpeg command's test pattern, or NumPy noise when it is missing):
  PNG sequence -> PNG sequence, PNG sequence -> H.264 .mp4 (the join
  included), PNG sequence -> 2x2 Multi-Tile Movie of H.264 tiles.
For each it prints the single-process time for reference, the time on 1
and on 2 workers and the speed-up; then the join's share of the .mp4 case
and the scheduler's overhead per task (a round trip of an empty task).
Cluster start-up is not counted.

Run with the module, plug-ins and command package on the path, e.g.:
    QEV_UDILPATH=build/udil PYTHONPATH=build/py3 python3 bench/scale_out.py [--frames 24]
"""
import argparse
import logging
import os
import shutil
import subprocess
import tempfile
import time
import warnings


import orvo
from orvo.cli import cmd_convert, scale_out, scale_out_conversion

CASES = [
    ("PNG seq -> PNG seq", "out.####.png", {}),
    ("PNG seq -> H.264 .mp4", "out.mp4", {}),
    ("PNG seq -> 2x2 MTM", "wall.mp4", {"tiles": (2, 2)}),
]


def make_input(directory, frames, width, height):
    template = os.path.join(directory, "in.%04d.png")
    try:
        subprocess.check_call(["ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i",
                               "testsrc2=size=%dx%d:rate=24" % (width, height), "-frames:v", str(frames),
                               "-start_number", "0", template], timeout=3600)
    except (OSError, subprocess.CalledProcessError):
        import numpy
        generator = numpy.random.default_rng(1)
        for k in range(frames):
            pixels = generator.integers(0, 256, (height, width, 3), numpy.uint8)
            orvo.image(width, height, orvo.DYX_IMG_FMT_RGB, pixels.tobytes()).save(template % k)
    return os.path.join(directory, "in.####.png")


def timed(function):
    start = time.perf_counter()
    function()
    return time.perf_counter() - start


def single_process(source, output, options):
    args = scale_out._arguments([source, output], dict(options, overwrite=True))
    args.workers = None
    if cmd_convert.run(args) != 0:
        raise SystemExit("the single-process conversion failed")


def task_overhead(client, count=200):
    """Seconds per empty task, submitted together and gathered."""
    start = time.perf_counter()
    client.gather([client.submit(int, k, pure=False) for k in range(count)])
    return (time.perf_counter() - start) / count


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--frames", type=int, default=240)
    parser.add_argument("--size", default="1920x1080")
    arguments = parser.parse_args()
    warnings.filterwarnings("ignore", message="Port .* is already in use")
    from distributed import Client, LocalCluster
    width, height = (int(v) for v in arguments.size.split("x"))
    work = tempfile.mkdtemp(prefix="orvo-scale-bench-")
    joins = []
    original_join = scale_out_conversion.join_segments

    def timed_join(output, segments):
        joins.append(timed(lambda: original_join(output, segments)))
    scale_out_conversion.join_segments = timed_join
    try:
        source = make_input(work, arguments.frames, width, height)
        times = dict((label, [timed(lambda: single_process(source, os.path.join(work, output), options))])
                     for label, output, options in CASES)
        overheads = []
        for workers in (1, 2):
            cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                   dashboard_address=None, silence_logs=logging.ERROR)
            client = Client(cluster)
            try:
                for label, output, options in CASES:
                    target = os.path.join(work, output)
                    times[label].append(timed(lambda: scale_out.convert(
                        source, target, client=client, overwrite=True, **options)))
                overheads.append(task_overhead(client))
            finally:
                client.close()
                cluster.close()
        print("%d frames %dx%d, seconds (frames per second)" % (arguments.frames, width, height))
        print("%-24s %14s %14s %14s %8s" % ("case", "single", "1 worker", "2 workers", "speed-up"))
        for label, _, _ in CASES:
            row = times[label]
            print("%-24s %s %7.2fx" % (label, " ".join("%6.2f (%5.1f)" % (t, arguments.frames / t) for t in row),
                                       row[1] / row[2]))
        mp4 = times[CASES[1][0]]
        print("join of the .mp4: %.3f s on 1 worker, %.3f s on 2 (%.1f%% of the 2-worker time)"
              % (joins[0], joins[1], 100.0 * joins[1] / mp4[2]))
        print("scheduler overhead per task: %.2f ms (1 worker), %.2f ms (2 workers)"
              % tuple(1000 * t for t in overheads))
    finally:
        scale_out_conversion.join_segments = original_join
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
