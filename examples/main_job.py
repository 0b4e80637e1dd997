#!/usr/bin/python3
"""The main job: a short animated test pattern made with NumPy, written as a
PNG sequence, converted with the `orvo` command to an H.264 movie, a 2 x 2
tiled Multi-Tile Movie and a red/cyan anaglyph of a left/right pair, and
read back with `orvo info`.

    examples/main_job.py [OUTPUT_DIRECTORY]     (default: ./orvo-main-job)
"""
from __future__ import print_function

import os
import shlex
import shutil
import subprocess
import sys
import time

import numpy
import orvo

WIDTH, HEIGHT, FRAMES = 320, 240, 48
SQUARE = 48


def orvo_command():
    """The installed command, else the package's own (`python3 -m orvo`)."""
    installed = shutil.which("orvo")
    if installed:
        return [installed]
    return [sys.executable, "-m", "orvo"]


def test_pattern(frame, shift):
    """Colour bars under a horizontal ramp, with a white square that bounces
    across; `shift` moves the square sideways (the parallax of the right eye)."""
    picture = numpy.zeros((HEIGHT, WIDTH, 3), numpy.uint8)
    bars = numpy.array([[192, 192, 192], [192, 192, 0], [0, 192, 192], [0, 192, 0],
                        [192, 0, 192], [192, 0, 0], [0, 0, 192]], numpy.uint8)
    columns = numpy.arange(WIDTH) * len(bars) // WIDTH
    picture[:HEIGHT * 2 // 3] = bars[columns]
    ramp = (numpy.arange(WIDTH) * 255 // (WIDTH - 1) + frame * 8) % 256
    picture[HEIGHT * 2 // 3:] = ramp[None, :, None].astype(numpy.uint8)
    travel = WIDTH - SQUARE
    x = abs((frame * 12) % (2 * travel) - travel) + shift
    x = max(0, min(travel, x))
    y = HEIGHT // 3 - SQUARE // 2
    picture[y:y + SQUARE, x:x + SQUARE] = 255
    # Image buffers keep the bottom row first.
    return orvo.image(WIDTH, HEIGHT, orvo.DYX_IMG_FMT_RGB, picture[::-1].tobytes())


def run(command, *arguments):
    print("$ orvo " + " ".join(shlex.quote(a) for a in arguments))
    sys.stdout.flush()
    subprocess.check_call(command + list(arguments))


def main():
    out = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "orvo-main-job")
    frames_dir = os.path.join(out, "frames")
    if os.path.isdir(out):
        shutil.rmtree(out)
    os.makedirs(frames_dir)
    started = time.time()
    print("orvo %s, plug-ins: %s" % (orvo.version()[1], ", ".join(c[0] for c in orvo.codecs())))

    for frame in range(FRAMES):
        for eye, shift in (("left", 0), ("right", -10)):
            name = os.path.join(frames_dir, "%s.%04d.png" % (eye, frame))
            image = test_pattern(frame, shift)
            if image.save(name) != 0:
                sys.exit("cannot write %s: %s" % (name, image.errstr()))
    print("wrote %d left and %d right frames to %s" % (FRAMES, FRAMES, frames_dir))

    command = orvo_command()
    left = os.path.join(frames_dir, "left.####.png")
    right = os.path.join(frames_dir, "right.####.png")
    movie = os.path.join(out, "pattern.mp4")
    tiled = os.path.join(out, "pattern_tiles.mtm")
    anaglyph = os.path.join(out, "pattern_anaglyph.mp4")
    run(command, "convert", left, movie, "--fps", "24", "--options", "codec h264 crf 18", "--quiet")
    run(command, "convert", left, tiled, "--tiles", "2x2", "--codec", "ffmpeg", "--fps", "24", "--quiet")
    run(command, "convert", left, right, anaglyph, "--anaglyph", "red-cyan", "--fps", "24", "--quiet")
    for name in (movie, tiled, anaglyph):
        run(command, "info", name)

    print("")
    print("done in %.1f s; the files are in %s:" % (time.time() - started, out))
    print("  frames/left.####.png, frames/right.####.png  the PNG sequences")
    print("  pattern.mp4             H.264 movie")
    print("  pattern_tiles.mtm       2 x 2 Multi-Tile Movie (pattern_tiles_000[0-3].mp4)")
    print("  pattern_anaglyph.mp4    red/cyan anaglyph of the left/right pair")


if __name__ == "__main__":
    main()
