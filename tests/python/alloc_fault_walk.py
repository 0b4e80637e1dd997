"""Walks every allocation of movie and image operations with that allocation
failing, through the fault-injection build of orvo (run by
test_alloc_faults.py in a child interpreter whose path holds that build).
The library calls themselves are walked in C++ (tests/faults); here are the
operations in which the module allocates or owns what was allocated.

For each operation and each n, the n-th dyx_malloc/dyx_realloc after the
operation starts fails. The operation must then report the failure (an
exception or a non-zero status, never success), release every block it
took, leave its arguments' reference counts as they were and keep the
objects usable. Prints one JSON line: failure points per operation and the
problems found.
"""
from __future__ import print_function

import ctypes
import gc
import json
import os
import shutil
import sys
import tempfile

import orvo
from movie_testing import new_write_movie, open_movie, pattern_image, write_movie

# Walked as a single-threaded script makes the calls: with worker threads the
# n-th allocation is not one fixed point, and the memory pools pass elements
# between threads, so a pool may grow by a chunk in any operation. Worker
# threads are checked by the sanitizer runs instead.
orvo.threads = 1

injector = ctypes.CDLL(orvo._orvo.__file__)
injector.dyx_alloc_faults_arm.argtypes = [ctypes.c_int64]
injector.dyx_alloc_faults_arm.restype = None
injector.dyx_alloc_faults_fired.restype = ctypes.c_int
injector.dyx_alloc_faults_live.restype = ctypes.c_int64

EXPECTED_ERRORS = (MemoryError, RuntimeError, IOError, OSError, ValueError, TypeError)
WIDTH, HEIGHT = 48, 32


def picture(seed, width=WIDTH, height=HEIGHT):
    return pattern_image(width, height, seed)


class Operation(object):
    """setup() builds what the operation works on (no fault armed),
    action(state) is the part walked and returns True on success,
    teardown(state) releases and returns False when the objects were left
    unusable. `arguments(state)` lists objects whose reference counts the
    action must not change."""

    def __init__(self, name, action, setup=None, teardown=None, arguments=None):
        self.name = name
        self.action = action
        self.setup = setup or (lambda: {})
        self.teardown = teardown or (lambda state: True)
        self.arguments = arguments or (lambda state: [])


def run_once(operation, nth, problems):
    state = operation.setup()
    watched = operation.arguments(state)
    counts = [sys.getrefcount(item) for item in watched]
    injector.dyx_alloc_faults_arm(nth)
    error = None
    try:
        succeeded = bool(operation.action(state))
    except EXPECTED_ERRORS as caught:
        succeeded, error = False, caught
    fired = injector.dyx_alloc_faults_fired() != 0
    injector.dyx_alloc_faults_arm(0)
    after = [sys.getrefcount(item) for item in watched]
    if after != counts:
        problems.append("%s, allocation %d failing: reference counts of the arguments went from %s to %s"
                        % (operation.name, nth, counts, after))
    if not operation.teardown(state):
        problems.append("%s, allocation %d failing: objects unusable afterwards" % (operation.name, nth))
    del state, watched, error
    return succeeded, fired


def walk(operation, problems):
    """Returns the number of failure points of the operation."""
    # Two clean runs first, so that pools and caches have grown.
    for _ in range(2):
        if not run_once(operation, 0, problems)[0]:
            problems.append("%s: fails with no allocation failing" % operation.name)
            return 0
    gc.collect()
    points = 0
    for nth in range(1, 2000):
        before = injector.dyx_alloc_faults_live()
        succeeded, fired = run_once(operation, nth, problems)
        gc.collect()
        leaked = injector.dyx_alloc_faults_live() - before
        if leaked != 0:
            problems.append("%s, allocation %d failing: %d blocks not released" % (operation.name, nth, leaked))
        if not fired:
            if not succeeded:
                problems.append("%s: fails when allocation %d is never reached" % (operation.name, nth))
            break
        points += 1
        if succeeded:
            problems.append("%s: reports success after allocation %d failed" % (operation.name, nth))
    if not run_once(operation, 0, problems)[0]:
        problems.append("%s: does not work after the failures" % operation.name)
    return points


class Files(object):
    """The movies and pictures that the read operations open."""

    def __init__(self, directory):
        self.directory = directory
        codecs = [entry[0] for entry in orvo.codecs()]
        self.has_ffmpeg = "ffmpeg" in codecs
        self.sequence = self.write("seq.#.ppm", 4)
        self.png = self.write("still.png", 1)
        self.tiled = self.write("tiled.ppm", 3, tiling=(2, 2)) + ".mtm"
        self.stereo = self.write("pair.@.#.ppm", 2, stereo=1, pairs=True)
        self.container = self.write("clip.mkv", 4, options="codec ffv1") if self.has_ffmpeg else None

    def write(self, name, count, pairs=False, **attributes):
        frames = [(picture(seed), picture(seed + 50)) if pairs else picture(seed) for seed in range(count)]
        path = os.path.join(self.directory, name)
        write_movie(path, frames, **attributes)
        return path


def grey(image):
    image.format = orvo.DYX_IMG_FMT_L
    return image


def opened_write_movie(path, count, **attributes):
    movie = new_write_movie(path, (WIDTH, HEIGHT), count, **attributes)
    if movie.open() != 0:
        raise RuntimeError("cannot write %s: %s" % (path, movie.errstr()))
    return movie


def opens_again(state):
    """Teardown of the open operations: the movie (if one was made) closes
    and opens again."""
    movie = state.get("movie")
    if movie is None:
        return True
    movie.close()
    return movie.open() == 0 and movie.close() == 0


def opening(name, path, write=False, **attributes):
    """Opens a movie to read, or to write one frame when `write` is set."""
    def action(state):
        if write:
            state["movie"] = new_write_movie(path, (WIDTH, HEIGHT), 1, **attributes)
        else:
            state["movie"] = orvo.movie()
            state["movie"].filename = path
        return state["movie"].open() == 0

    return Operation(name, action, teardown=opens_again)


def reading(name, path, index=1, **attributes):
    def action(state):
        frames = state["movie"].getframe(index)
        return isinstance(frames, list) and len(frames) > 0

    def teardown(state):
        usable = isinstance(state["movie"].getframe(index), list)
        state["movie"].close()
        return usable

    return Operation(name, action, lambda: {"movie": open_movie(path, **attributes)}, teardown)


def writing(name, path, frame=None, **attributes):
    """Appends one frame (or pair) to a fresh write movie; afterwards the
    same movie must take the frame and close cleanly."""
    frame = frame or (lambda: picture(7))

    def setup():
        return {"movie": opened_write_movie(path, 2, **attributes), "frame": frame()}

    def teardown(state):
        movie = state["movie"]
        if movie.realframes == 0 and movie.append(state["frame"]) != 0:
            movie.close()
            return False
        return movie.close() == 0

    def arguments(state):
        frame = state["frame"]
        return list(frame) if isinstance(frame, tuple) else [frame]

    return Operation(name, lambda state: state["movie"].append(state["frame"]) == 0, setup, teardown, arguments)


def closing(name, path, **attributes):
    """close() of a write movie holding one frame: the codec finishes the file."""
    def setup():
        movie = opened_write_movie(path, 1, **attributes)
        if movie.append(picture(3)) != 0:
            raise RuntimeError("cannot write %s: %s" % (path, movie.errstr()))
        return {"movie": movie}

    return Operation(name, lambda state: state["movie"].close() == 0, setup)


def image_method(name, method, *arguments):
    def setup():
        return {"image": picture(5)}

    def action(state):
        result = getattr(state["image"], method)(*arguments)
        return result is None or result == 0 or isinstance(result, (orvo.image, dict))

    def teardown(state):
        return state["image"].dims[0] > 0

    return Operation("image." + method, action, setup, teardown, lambda state: [state["image"]])


def operations(files, scratch):
    out = os.path.join(scratch, "out")
    found = [
        opening("open a sequence", files.sequence),
        opening("open a png file", files.png),
        opening("open a multi-tile movie", files.tiled),
        opening("open a stereo sequence", files.stereo),
        reading("getframe from a sequence", files.sequence),
        reading("getframe flipped, ramped, repeated", files.sequence, flip=3, intensity=(0.2, 0.9),
                repeat=(1, 1), framerange=(1, 3)),
        reading("getframe from a multi-tile movie", files.tiled),
        reading("getframe from a stereo sequence", files.stereo),
        opening("open a sequence to write", out + ".#.ppm", write=True),
        opening("open a multi-tile movie to write", out + "-mtm", write=True, tiling=(2, 1), format="ppm"),
        writing("append to a sequence", out + ".#.ppm"),
        writing("append to a png sequence", out + ".#.png"),
        writing("append a picture of another size", out + ".#.ppm", frame=lambda: picture(2, 30, 20)),
        writing("append a grey picture", out + ".#.ppm", frame=lambda: grey(picture(4))),
        writing("append a stereo pair", out + ".@.#.ppm", frame=lambda: (picture(1), picture(2)), stereo=1),
        writing("append an anaglyph", out + ".#.ppm", frame=lambda: (picture(1), picture(2)),
                anaglyph=orvo.MOVIE_ANAGLYPH_REDCYAN),
        writing("append to a multi-tile movie", out + "-tiles", tiling=(2, 2), format="ppm"),
        # Two of the sequence's four frames: the write movie announces two.
        writing("append from a read movie", out + ".#.ppm",
                frame=lambda: open_movie(files.sequence, framerange=(0, 1))),
        closing("close a sequence", out + ".#.ppm"),
        image_method("resize", "resize", 60, 40, 1),
        image_method("subrect", "subrect", (4, 4), (20, 10)),
        Operation("image.format", lambda state: grey(state["image"]) is state["image"],
                  lambda: {"image": picture(6)}),
        image_method("save", "save", out + "-saved.png"),
        image_method("load", "load", files.png),
    ]
    if files.has_ffmpeg:
        found += [
            opening("open a container movie", files.container),
            reading("getframe from a container movie", files.container),
            opening("open a container movie to write", out + "-clip", write=True, format="ffmpeg",
                    options="codec ffv1"),
            writing("append to a container movie", out + "-clip", format="ffmpeg", options="codec ffv1"),
            closing("close a container movie", out + "-clip", format="ffmpeg", options="codec ffv1"),
        ]
    return found


def main():
    scratch = tempfile.mkdtemp(prefix="orvo-faults-")
    try:
        files = Files(scratch)
        problems, coverage = [], {}
        for operation in operations(files, scratch):
            coverage[operation.name] = walk(operation, problems)
        print(json.dumps({"coverage": coverage, "problems": problems, "ffmpeg": files.has_ffmpeg}))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
