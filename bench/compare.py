#!/usr/bin/env python3
"""Times orvo's image operations side by side with Pillow and OpenCV.

Every case builds its inputs once and then times the same work through
orvo and through each peer that is installed, printing the median time of
each and the ratio orvo / peer. orvo and OpenCV are each timed twice: with
all their workers (orvo.threads at its default, OpenCV at its default
thread count), compared in o/cv2, and with one (orvo.threads = 1,
cv2.setNumThreads(1)), compared in o/cv1 and o/PIL, Pillow being
single-threaded. Operations that orvo does not split into row bands show
about the same time in both orvo columns. A plain NumPy copy of a 1080p
RGB frame is the memory-speed floor. The NumPy view row times one
numpy.asarray(img) against Pillow's numpy.asarray, which copies. The imread
row reads a 1080p PNG into an array: orvo.imread against
numpy.asarray(Image.open(...)) and cv2.imread. After the table, reading
every frame of a 1080p H.264 movie (made with the ffmpeg command) as RGB
arrays is timed through orvo.imiter (views and copies), a getframe loop,
PyAV with and without frame threads, and OpenCV's VideoCapture;
bench/peak_memory.py compares the memory the same readers take.

orvo converts and scales an image in place, so those cases time it on a
fresh copy of the input made before each run, and the image it makes
stays alive until the next copy. The peers' conversions and scalings are
timed under the same conditions: a fresh copy of their input before each
run, their result kept until the next one. Otherwise a peer would find its
input, and the block its last result was freed from, warm in the cache,
which a frame on its way through a program rarely is. --warm-peers times
the peers on the same input every run instead.

Run with the module on the path, for example:
    PYTHONPATH=build/py3 python3 bench/compare.py [--repeat N]
"""
from __future__ import print_function

import argparse
import atexit
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import orvo

try:
    import numpy
except ImportError:
    numpy = None
try:
    from PIL import Image
except ImportError:
    Image = None
try:
    import cv2
except ImportError:
    cv2 = None
try:
    import av
except ImportError:
    av = None

L, RGB, RGBA = orvo.DYX_IMG_FMT_L, orvo.DYX_IMG_FMT_RGB, orvo.DYX_IMG_FMT_RGBA
COMPONENTS = {L: 1, RGB: 3, RGBA: 4}
PIL_MODES = {L: "L", RGB: "RGB", RGBA: "RGBA"}


# Wall-clock time by default; --clock cpu counts this process's processor
# time instead, which is steadier on a machine shared with other work (it
# adds up all of OpenCV's threads, so only its single-threaded column is
# comparable then).
clock = time.perf_counter


class Inputs(object):
    """The pixels of each size and format, made once."""

    def __init__(self):
        self.cache = {}

    def raw(self, width, height, fmt):
        key = (width, height, fmt)
        if key not in self.cache:
            size = width * height * COMPONENTS[fmt]
            if numpy is not None:
                data = numpy.random.default_rng(7).integers(0, 256, size, dtype=numpy.uint8).tobytes()
            else:
                data = bytes(bytearray((n * 37) & 0xFF for n in range(size)))
            self.cache[key] = data
        return self.cache[key]

    def orvo(self, width, height, fmt):
        return orvo.image(width, height, fmt, self.raw(width, height, fmt))

    def pil(self, width, height, fmt):
        return Image.frombytes(PIL_MODES[fmt], (width, height), self.raw(width, height, fmt))

    def array(self, width, height, fmt):
        shape = (height, width) if COMPONENTS[fmt] == 1 else (height, width, COMPONENTS[fmt])
        return numpy.frombuffer(self.raw(width, height, fmt), dtype=numpy.uint8).reshape(shape).copy()


class Timed(object):
    """A case's work, timed one run at a time: work(state) on the state that
    setup() makes untimed before each run. What the run leaves (its result,
    or the state it changed) stays alive until the next run of the same
    work, so that no run finds the memory the last one freed warm in the
    cache. per_run divides the time, for work that repeats a quick call."""

    def __init__(self, work, setup=None, per_run=1):
        self.work, self.setup, self.per_run = work, setup, per_run
        self.kept = None

    def run_ms(self):
        self.kept = None
        state = self.setup() if self.setup else None
        start = clock()
        result = self.work(state)
        elapsed = clock() - start
        self.kept = state if result is None else result
        return 1000.0 * elapsed / self.per_run


# Set by --warm-peers: the peers' conversions and scalings work on the same
# input every run, not on fresh copies.
warm_peers = False


def on_fresh_copies(source, operation):
    """A peer's work timed as orvo's in-place operations are: on a fresh
    copy of its input made untimed before each run."""
    if warm_peers:
        return Timed(lambda _: operation(source))
    return Timed(operation, source.copy)


def orvo_in_place(inputs, width, height, fmt, operation):
    """Times an in-place orvo operation on a fresh copy each time."""
    return Timed(operation, inputs.orvo(width, height, fmt).subrect)


def build_cases(inputs):
    """(name, orvo's Timed work, a maker of Pillow's work, a maker of
    OpenCV's work) for every case; a maker gives a Timed or a plain work."""
    cases = []

    def add(name, orvo_work, pil_factory=None, cv_factory=None):
        cases.append((name, orvo_work, pil_factory, cv_factory))

    def convert(fmt):
        def work(image):
            image.format = fmt
        return work

    def in_place_case(name, width, height, fmt, orvo_work, pil_work, cv_work):
        """A case that orvo times on fresh copies; so are the peers."""
        add(name, orvo_in_place(inputs, width, height, fmt, orvo_work),
            lambda: on_fresh_copies(inputs.pil(width, height, fmt), pil_work),
            lambda: on_fresh_copies(inputs.array(width, height, fmt), cv_work))

    for source, target, cv_code in ((RGB, L, "RGB2GRAY"), (RGB, RGBA, "RGB2RGBA"), (RGBA, RGB, "RGBA2RGB"),
                                    (RGBA, L, "RGBA2GRAY"), (L, RGB, "GRAY2RGB"), (L, RGBA, "GRAY2RGBA")):
        mode = PIL_MODES[target]
        code = getattr(cv2, "COLOR_" + cv_code) if cv2 else None
        in_place_case("%s -> %s 1920x1080" % (PIL_MODES[source], mode), 1920, 1080, source, convert(target),
                      lambda im, mode=mode: im.convert(mode), lambda a, code=code: cv2.cvtColor(a, code))

    def scale_case(name, sw, sh, dw, dh, smooth):
        pil_filter = (Image.BOX if smooth else Image.NEAREST) if Image else None
        cv_mode = (cv2.INTER_AREA if smooth else cv2.INTER_NEAREST) if cv2 else None

        def resize(image):
            image.resize(dw, dh, smooth)
        in_place_case(name, sw, sh, RGB, resize, lambda im: im.resize((dw, dh), pil_filter),
                      lambda a: cv2.resize(a, (dw, dh), interpolation=cv_mode))

    scale_case("nearest 1920x1080 -> 960x540", 1920, 1080, 960, 540, 0)
    scale_case("nearest 1920x1080 -> 3840x2160", 1920, 1080, 3840, 2160, 0)
    scale_case("area 3840x2160 -> 1920x1080", 3840, 2160, 1920, 1080, 1)
    scale_case("area 1920x1080 -> 1280x720", 1920, 1080, 1280, 720, 1)
    scale_case("area 960x540 -> 1920x1080", 960, 540, 1920, 1080, 1)
    scale_case("area 1920x1080 -> 1000x600", 1920, 1080, 1000, 600, 1)

    def flip_case(name, axis, pil_method, cv_code):
        image = inputs.orvo(1920, 1080, RGB)
        add(name, Timed(lambda _: image.flip(axis)),
            lambda: (lambda im: lambda _: im.transpose(pil_method))(inputs.pil(1920, 1080, RGB)),
            lambda: (lambda a: lambda _: cv2.flip(a, cv_code))(inputs.array(1920, 1080, RGB)))

    flip_case("flip x axis 1920x1080 RGB", orvo.DYX_FLIP_XAXIS,
              Image.FLIP_TOP_BOTTOM if Image else None, 0)
    flip_case("flip y axis 1920x1080 RGB", orvo.DYX_FLIP_YAXIS,
              Image.FLIP_LEFT_RIGHT if Image else None, 1)

    rgba = inputs.orvo(1920, 1080, RGBA)

    def pil_swizzle(im):
        def work(_):
            r, g, b, a = im.split()
            return Image.merge("RGBA", (b, g, r, a))
        return work
    add("swizzle RGBA 1920x1080",
        Timed(lambda _: rgba.swizzle((2, 1, 0, 3), (1, 1, 1, 1))),
        lambda: pil_swizzle(inputs.pil(1920, 1080, RGBA)),
        lambda: (lambda a: lambda _: cv2.cvtColor(a, cv2.COLOR_RGBA2BGRA))(inputs.array(1920, 1080, RGBA)))

    rgb = inputs.orvo(1920, 1080, RGB)
    add("subrect 960x540 of 1920x1080 RGB",
        Timed(lambda _: rgb.subrect((480, 270), (960, 540))),
        lambda: (lambda im: lambda _: im.crop((480, 270, 1440, 810)))(inputs.pil(1920, 1080, RGB)),
        lambda: (lambda a: lambda _: a[270:810, 480:1440].copy())(inputs.array(1920, 1080, RGB)))
    add("tostring 1920x1080 RGB", Timed(lambda _: rgb.tostring()),
        lambda: (lambda im: lambda _: im.tobytes())(inputs.pil(1920, 1080, RGB)), None)
    if numpy is not None:
        array = rgb.getpixels()
        add("getpixels 1920x1080 RGB", Timed(lambda _: rgb.getpixels()),
            lambda: (lambda im: lambda _: numpy.asarray(im))(inputs.pil(1920, 1080, RGB)), None)
        add("setpixels 1920x1080 RGB", Timed(lambda _: rgb.setpixels(array)),
            lambda: (lambda a: lambda _: Image.fromarray(a))(inputs.array(1920, 1080, RGB)), None)

    # ---- compositing, difference and statistics ----
    def blend_factory(peer):
        def factory():
            return peer(inputs.pil(1920, 1080, RGBA), inputs.pil(1920, 1080, RGBA))
        return factory

    blend_dst = inputs.orvo(1920, 1080, RGBA)
    blend_src = orvo.image(1920, 1080, RGBA, inputs.raw(1920, 1080, RGBA)[::-1])

    def orvo_blend(_):
        blend_dst.blend(blend_src, orvo.DYX_BLEND_SALPHA, orvo.DYX_BLEND_ONE,
                        orvo.DYX_BLEND_MSALPHA, orvo.DYX_BLEND_MSALPHA, (0, 0, 0, 0), 0)

    def cv_add_weighted():
        a = inputs.array(1920, 1080, RGBA)
        b = a[::-1].copy()
        return lambda _: cv2.addWeighted(a, 0.5, b, 0.5, 0)
    add("blend RGBA 1080p (PIL alpha_composite)", Timed(orvo_blend),
        blend_factory(lambda a, b: lambda _: Image.alpha_composite(a, b)), cv_add_weighted)
    add("blend RGBA 1080p (PIL Image.blend)", Timed(orvo_blend),
        blend_factory(lambda a, b: lambda _: Image.blend(a, b, 0.5)), cv_add_weighted)

    blt_src = inputs.orvo(1920, 1080, RGBA)
    blt_dst = inputs.orvo(1920, 1080, RGBA)
    add("bitblt 960x540 -> 1920x1080 RGBA",
        Timed(lambda _: blt_dst.bitblt(blt_src, (480, 270), (960, 540), (0, 0), (1920, 1080),
                                       orvo.DYX_BITBLT_COPY, (0, 0, 0, 0))),
        lambda: (lambda im: lambda _: im.resize((1920, 1080), Image.NEAREST, box=(480, 270, 1440, 810)))(
            inputs.pil(1920, 1080, RGBA)),
        lambda: (lambda a, out: lambda _: cv2.resize(a[270:810, 480:1440], (1920, 1080), dst=out,
                                                     interpolation=cv2.INTER_NEAREST))(
            inputs.array(1920, 1080, RGBA), inputs.array(1920, 1080, RGBA)))

    matrix = ((0.9, 0.05, 0.05, 0.0, 1.0), (0.05, 0.9, 0.05, 0.0, 1.0),
              (0.05, 0.05, 0.9, 0.0, 1.0), (0.0, 0.0, 0.0, 1.0, 0.0))
    cm_image = inputs.orvo(1920, 1080, RGBA)
    add("colormath RGBA 1080p", Timed(lambda _: cm_image.colormath(*matrix)),
        None,
        lambda: (lambda a, m: lambda _: cv2.transform(a, m))(
            inputs.array(1920, 1080, RGBA), numpy.array(matrix, dtype=numpy.float32)))

    # Chroma key: pixels near a key colour get a new alpha. OpenCV has no
    # one call for it: the mask of inRange, then the alpha channel set
    # through it.
    key_image = inputs.orvo(1920, 1080, RGBA)
    key, tolerance = (120, 130, 140), (60, 70, 80)

    def cv_chromakey():
        a = inputs.array(1920, 1080, RGBA)
        low = tuple(k - t for k, t in zip(key, tolerance)) + (0,)
        high = tuple(k + t for k, t in zip(key, tolerance)) + (255,)
        nine = numpy.full((1080, 1920), 9, numpy.uint8)

        def work(_):
            mask = cv2.inRange(a, low, high)
            alpha = cv2.copyTo(nine, mask, cv2.extractChannel(a, 3))
            cv2.insertChannel(alpha, a, 3)
        return work
    add("chroma key RGBA 1080p",
        Timed(lambda _: key_image.chromakey(key, tolerance, 9)), None,
        cv_chromakey)

    diff_a = inputs.orvo(1920, 1080, RGBA)
    diff_b = orvo.image(1920, 1080, RGBA, inputs.raw(1920, 1080, RGBA)[::-1])

    def pil_difference():
        from PIL import ImageChops
        a = inputs.pil(1920, 1080, RGBA)
        b = Image.frombytes("RGBA", (1920, 1080), inputs.raw(1920, 1080, RGBA)[::-1])
        return lambda _: ImageChops.difference(a, b)
    add("diff absolute RGBA 1080p", Timed(lambda _: diff_a.diff(diff_b, 1)),
        pil_difference,
        lambda: (lambda a, b: lambda _: cv2.absdiff(a, b))(
            inputs.array(1920, 1080, RGBA), inputs.array(1920, 1080, RGBA)[::-1].copy()))

    stats_image = inputs.orvo(1920, 1080, RGBA)

    def numpy_stats():
        a = inputs.array(1920, 1080, RGBA)

        def work(_):
            return (a.sum(dtype=numpy.float64), a.mean(), a.var(ddof=1), a.min(), a.max())
        return work

    def cv_stats():
        flat = inputs.array(1920, 1080, RGBA).reshape(-1, 1)
        return lambda _: (cv2.meanStdDev(flat), cv2.minMaxLoc(flat))
    add("stats RGBA 1080p (NumPy in PIL col)",
        Timed(lambda _: stats_image.stats()),
        numpy_stats if numpy is not None else None, cv_stats)

    # A view of the pixels, not a copy: its time must not grow with the
    # picture. Each timed run makes many views, as one is too quick to time.
    if numpy is not None:
        views = 1000
        view_image = inputs.orvo(3840, 2160, RGBA)

        def many_views(source):
            return lambda _: [numpy.asarray(source) for _ in range(views)]
        add("numpy.asarray(img) RGBA 4K",
            Timed(many_views(view_image), per_run=views),
            lambda: (lambda im: lambda _: numpy.asarray(im))(inputs.pil(3840, 2160, RGBA)))

    # Reading a file into an array in one call: a 1080p RGB PNG of a smooth
    # picture with some noise, written once by orvo and read by each.
    if numpy is not None:
        png = png_file(inputs)
        add("imread 1920x1080 RGB PNG", Timed(lambda _: orvo.imread(png)),
            lambda: lambda _: numpy.asarray(Image.open(png)),
            lambda: lambda _: cv2.imread(png, cv2.IMREAD_UNCHANGED))
    return cases


def png_file(inputs):
    """The name of a 1080p RGB PNG in a directory removed at exit."""
    directory = tempfile.mkdtemp(prefix="orvo-bench-")
    atexit.register(shutil.rmtree, directory, True)
    rows = numpy.arange(1080, dtype=numpy.uint16).reshape(1080, 1, 1)
    columns = numpy.arange(1920, dtype=numpy.uint16).reshape(1, 1920, 1)
    smooth = ((rows // 5 + columns // 8 + numpy.array([0, 60, 120], dtype=numpy.uint16)) % 256)
    noise = numpy.frombuffer(inputs.raw(1920, 1080, RGB), dtype=numpy.uint8).reshape(1080, 1920, 3) % 8
    name = os.path.join(directory, "frame.png")
    orvo.imwrite(name, (smooth + noise).astype(numpy.uint8))
    return name


def h264_file(frames=150):
    """A 1080p H.264 movie of `frames` frames made by the ffmpeg command, in
    a directory removed at exit; None without ffmpeg."""
    ffmpeg = shutil.which("ffmpeg") if hasattr(shutil, "which") else None
    if ffmpeg is None:
        return None
    directory = tempfile.mkdtemp(prefix="orvo-bench-")
    atexit.register(shutil.rmtree, directory, True)
    name = os.path.join(directory, "movie.mp4")
    subprocess.check_call([ffmpeg, "-loglevel", "error", "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25",
                           "-frames:v", str(frames), "-c:v", "libx264", "-pix_fmt", "yuv420p", name])
    return name


def reading_cases(path):
    """(name, work) reading every frame of the movie as RGB arrays. Each
    loop holds its last array while it reads the next, as a program's loop
    over frames does."""
    def orvo_imiter(copy):
        return lambda _: sum(1 for _frame in orvo.imiter(path, copy=copy))

    def orvo_getframe_loop(_):
        movie = orvo.open(path)
        for number in range(len(movie)):
            array = numpy.asarray(movie.getframe(number)[0])
        movie.close()
        return array

    def pyav(threads):
        def work(_):
            with av.open(path) as container:
                stream = container.streams.video[0]
                if threads:
                    stream.thread_type = "AUTO"
                for frame in container.decode(stream):
                    array = frame.to_ndarray(format="rgb24")
            return array
        return work

    def opencv(_):
        capture = cv2.VideoCapture(path)
        while capture.read()[0]:
            pass
        capture.release()

    cases = [("orvo imiter", orvo_imiter(False)), ("orvo imiter copy=True", orvo_imiter(True)),
             ("orvo getframe + numpy.asarray", orvo_getframe_loop)]
    if av is not None:
        cases += [("PyAV, frame threads", pyav(True)), ("PyAV, one thread", pyav(False))]
    if cv2 is not None:
        cases.append(("OpenCV VideoCapture", opencv))
    return cases


def time_reading(repeat, orvo_threads):
    """Prints the median seconds of reading a 1080p H.264 movie each way."""
    path = h264_file() if numpy is not None else None
    if path is None:
        print("frame reading: needs NumPy and the ffmpeg command")
        return
    print("\nreading 150 frames of 1080p H.264 as RGB arrays (median s of %d, in interleaved rounds)" % repeat)
    columns = []
    for name, work in reading_cases(path):
        columns.append((name, Timed(work), lambda: set_orvo_threads(orvo_threads)))
        if name.startswith("orvo"):
            columns.append((name + " x1", Timed(work), lambda: set_orvo_threads(1)))
    times = interleaved_ms(columns, repeat)
    set_orvo_threads(orvo_threads)
    for name, _, _ in columns:
        if name.endswith(" x1"):
            continue
        line = "  %-32s %7.3f" % (name, times[name] / 1000.0)
        if name + " x1" in times:
            line += "  (orvo.threads = 1: %.3f)" % (times[name + " x1"] / 1000.0)
        print(line)


def as_timed(work):
    return work if isinstance(work, Timed) else Timed(work)


def set_orvo_threads(count):
    if hasattr(orvo, "threads"):  # builds without the setting run on one thread
        orvo.threads = count


def interleaved_ms(columns, repeat):
    """The median milliseconds of each column's work, timed in rounds of
    one run of every column each, so that a change in the machine's speed
    during the case reaches every column alike, in turns. Each column is (label,
    Timed work, a call that sets the worker count before each run)."""
    times = dict((label, []) for label, _, _ in columns)
    for round_number in range(repeat):
        # Each round starts at the next column, so that no column always
        # follows the same one.
        start = round_number % len(columns)
        for label, work, prepare in columns[start:] + columns[:start]:
            prepare()
            times[label].append(work.run_ms())
    return dict((label, statistics.median(values)) for label, values in times.items())


def ratio(ours, theirs):
    return "%7.2f" % (ours / theirs) if theirs else "    n/a"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--repeat", type=int, default=21, help="timed runs per case (default 21)")
    parser.add_argument("--clock", choices=("wall", "cpu"), default="wall",
                        help="wall-clock (default) or this process's processor time")
    parser.add_argument("--reading-repeat", type=int, default=5,
                        help="runs of each movie reading (default 5; at most --repeat; 0 skips them)")
    parser.add_argument("--warm-peers", action="store_true",
                        help="time the peers' conversions and scalings on the same input every run, not on fresh "
                             "copies as orvo's")
    parser.add_argument("--only", action="append", default=[],
                        help="run only the cases whose name holds this text (may be repeated)")
    args = parser.parse_args()
    global clock, warm_peers
    warm_peers = args.warm_peers
    clock = time.perf_counter if args.clock == "wall" else time.process_time
    print("clock: %s time, %d runs per case" % (args.clock, args.repeat))

    peers = (("numpy", numpy), ("Pillow (python3-pil)", Image), ("OpenCV (python3-opencv)", cv2))
    missing = [name for name, module in peers if module is None]
    for name in missing:
        print("peer missing: %s; its columns show n/a" % name)

    inputs = Inputs()
    if numpy is not None:
        frame = inputs.array(1920, 1080, RGB)
        copy = Timed(lambda _: frame.copy())
        floor = statistics.median(copy.run_ms() for _ in range(args.repeat))
        print("memory-speed floor: NumPy copy of a 1920x1080 RGB frame %.3f ms" % floor)
    default_threads = cv2.getNumThreads() if cv2 else 0
    # Builds without the worker setting run everything on one thread.
    orvo_threads = getattr(orvo, "threads", 1)

    header = "%-34s %9s %9s %9s %7s %9s %7s %9s %7s" % (
        "case (median ms)", "orvo x%d" % orvo_threads, "orvo x1", "Pillow", "o/PIL",
        "cv2 x%d" % default_threads, "o/cv2", "cv2 x1", "o/cv1")
    print(header)
    print("-" * len(header))
    for name, orvo_work, pil_factory, cv_factory in build_cases(inputs):
        if args.only and not any(text in name for text in args.only):
            continue
        columns = [("orvo", orvo_work, lambda: set_orvo_threads(orvo_threads)),
                   ("orvo1", orvo_work, lambda: set_orvo_threads(1))]
        if Image is not None and pil_factory is not None:
            columns.append(("pil", as_timed(pil_factory()), lambda: None))
        if cv2 is not None and numpy is not None and cv_factory is not None:
            cv_work = as_timed(cv_factory())
            columns += [("cv", cv_work, lambda: cv2.setNumThreads(default_threads)),
                        ("cv1", cv_work, lambda: cv2.setNumThreads(1))]
        times = interleaved_ms(columns, args.repeat)
        set_orvo_threads(orvo_threads)
        if cv2 is not None:
            cv2.setNumThreads(default_threads)
        ours, ours1 = times["orvo"], times["orvo1"]
        pil_ms, cv_ms, cv1_ms = times.get("pil"), times.get("cv"), times.get("cv1")

        def show(value):
            # Times under a microsecond or so (views) keep their digits.
            if value is None:
                return "      n/a"
            return "%9.3f" % value if value >= 0.1 else "%9.5f" % value
        columns = (show(ours), show(ours1), show(pil_ms), ratio(ours1, pil_ms), show(cv_ms),
                   ratio(ours, cv_ms), show(cv1_ms), ratio(ours1, cv1_ms))
        print("%-34s %s %s %s %s %s %s %s %s" % ((name,) + columns))
        sys.stdout.flush()
    if args.reading_repeat > 0 and (not args.only or "reading" in args.only):
        time_reading(min(args.repeat, args.reading_repeat), orvo_threads)


if __name__ == "__main__":
    main()
