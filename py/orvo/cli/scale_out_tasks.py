"""What a worker of a scale-out conversion does: one task.

A task writes output frames FIRST .. FIRST+COUNT-1 of the conversion, read
by random access from the inputs opened with the user's read options, to a
temporary name in the conversion's private directory beside the output:

- "frames": part of a numbered sequence, renamed into place under the
  numbers a single-process run gives them;
- "segment": a piece of a movie file that starts on a key frame (a new
  encoder starts with one); the coordinator joins the pieces;
- "tile": one sub-movie of a Multi-Tile Movie, every frame cut to its tile,
  renamed onto the name the .mtm description gives it.

Between frames the task reports progress and looks for the conversion's
stop file; whatever stops it, it removes its own temporary files and then
reports its end.
"""
import os
import struct

import orvo

from . import layouts
from .codecs import codec_by_name
from .convert_writers import PictureWriter, read_output_frame
from .errors import CliError
from .files import EYE_LETTERS, frame_name
from .inputs import open_movie
from .timing import FrameTiming


PROGRESS_REPORTS_PER_TASK = 8


class Stopped(Exception):
    """The coordinator asked every task to stop (Ctrl-C or a failed task)."""


def run_task(job, task):
    """Runs one task (see the module's text) of the conversion `job`;
    returns the number of frames written."""
    written = []
    report = _progress_reporter(job)
    if hasattr(orvo, "threads"):
        # A worker process is one core's share of the cluster (the results
        # do not depend on the setting).
        orvo.threads = 1
    report(("start", task["index"]))
    try:
        if job["probe"] and not sees_probe(*job["probe"]):
            raise CliError("%s: a worker cannot see the output's directory %s; the workers and the command "
                           "must share its file system" % (job["shown"], job["directory"]))
        sources = _open_sources(job)
        try:
            count = _write(job, task, sources, written, report)
        finally:
            for source in sources:
                source.close()
        if task["kind"] != "segment":
            _move_into_place(task, job["eyes"])
        return count
    except BaseException:
        for name in written + _temporary_files(task, job["eyes"]):
            _remove(name)
        raise
    finally:
        # After this the task touches no file: the coordinator may clean up.
        report(("end", task["index"]))


def sees_probe(name, token):
    """Whether this process finds the probe file `name` holding `token`: it
    then sees the directory the coordinator wrote it in."""
    try:
        with open(name) as probe:
            return probe.read(len(token) + 1) == token
    except (IOError, OSError):
        return False


def _open_sources(job):
    args = job["args"]
    attributes = dict(job["read_attributes"])
    if job["late_effects"]:
        attributes.update(flip=0, intensity=None)  # applied here, after scaling
    return [open_movie(name, widen=args.sequence, notes=False, **attributes)[0] for name in job["inputs"]]


def _write(job, task, sources, written, report):
    args = job["args"]
    timing = FrameTiming(args, sources[0], codec_by_name(job["codec"]))
    if job["pictures"]:
        chooser = layouts.LayoutChooser(job["shown"], args.options)
        writer = PictureWriter(args, sources, task["temporary"], job["shown"], chooser, job["stereo"], 0)
        target = None
    else:
        target = _open_target(job, task)
    # Progress goes to the coordinator a few times per task, not per frame,
    # to spare the scheduler on large clusters.
    batch, unreported = max(1, task["count"] // PROGRESS_REPORTS_PER_TASK), 0
    try:
        for offset in range(task["count"]):
            if os.path.exists(job["stop_file"]):
                raise Stopped()
            index = timing.source_index(task["first"] + offset)
            frame = read_output_frame(sources, index, job["stereo"])
            if job["late_effects"]:
                frame = [_scaled_with_effects(image, job, index, sources[0].nframes) for image in frame]
            if task.get("tile"):
                frame = [_cut(image, job, task["tile"]) for image in frame]
            if target is None:
                _save_pictures(writer, frame, offset, task, job, written)
            elif target.append(tuple(frame) if len(frame) > 1 else frame[0], smooth=job["smooth"]) != 0:
                raise CliError("writing %s failed: %s" % (job["shown"], _explain(target.errstr(), task, job)))
            unreported += 1
            if unreported == batch or offset == task["count"] - 1:
                report(("frames", unreported))
                unreported = 0
    finally:
        if target is not None and target.close() != 0:
            raise CliError("writing %s failed: %s" % (job["shown"], _explain(target.errstr(), task, job)))
    return task["count"]


def _save_pictures(writer, frame, offset, task, job, written):
    """Saves each eye of one frame as the picture writer of a single-process
    run does, under the task's temporary names."""
    for eye_letter, image in zip(EYE_LETTERS, frame):
        name = frame_name(task["temporary"], offset, eye_letter)
        written.append(name)
        status, error = writer._save(image, name)
        if status != 0:
            raise CliError("writing %s failed: %s" % (job["shown"], _explain(error, task, job)))


def _open_target(job, task):
    """A write movie for the task's frames, set as the single-process run
    sets the output's (the tile's size for a tile)."""
    args = job["args"]
    target = orvo.movie(orvo.MOVIE_WRITE)
    target.filename = task["temporary"]
    target.format = job["codec"]
    target.options = args.options
    target.dims = tuple(task["tile"][2:]) if task.get("tile") else job["dims"]
    if job["fps"]:
        target.rate = job["fps"]
    if job["stereo"]:
        target.stereo = 1
    if job["anaglyph"]:
        target.anaglyph = job["anaglyph"]
    target.addcount(task["count"])
    if target.open() != 0:
        raise CliError("cannot create %s: %s" % (job["shown"], _explain(target.errstr(), task, job)))
    return target


def _cut(image, job, tile):
    """The tile (x, y, width, height) of an output frame, the frame first
    brought to the output's size as the tiled writer does."""
    x, y, width, height = tile
    if tuple(image.dims) != tuple(job["dims"]):
        image.resize(job["dims"][0], job["dims"][1], job["smooth"])
    return image.subrect((x, y), (width, height))


def _scaled_with_effects(image, job, index, frames):
    """An input frame as a write movie reading the input itself makes it:
    converted to RGB, scaled, then flipped and dimmed by the ramp."""
    if image.format != orvo.DYX_IMG_FMT_RGB:
        image.format = orvo.DYX_IMG_FMT_RGB
    image.resize(job["dims"][0], job["dims"][1], job["smooth"])
    effects = job["late_effects"]
    if effects["flip"]:
        image.flip(effects["flip"])
    if effects["ramp"] is not None:
        factor = ramp_factor(effects["ramp"], frames, index)
        if factor != 1.0:
            width, height = image.dims
            image.fromstring(image.tostring().translate(_intensity_table(factor)), width, height, image.format)
    return image


def _explain(text, task, job):
    """A codec's message with the task's temporary name told as the output's."""
    temporary = task["temporary"]
    return text.replace(temporary, job["shown"]).replace(os.path.basename(temporary), job["shown"])


def _float32(value):
    return struct.unpack("f", struct.pack("f", value))[0]


def ramp_factor(ramp, frames, index):
    """The ramp's factor at frame `index` of `frames`, in the single
    precision of the movie's own ramp (each operation in double precision
    then rounded to single gives the same result)."""
    start, end = _float32(ramp[0]), _float32(ramp[1])
    step = _float32(_float32(end - start) / _float32(frames - 1)) if frames > 1 else 0.0
    factor = _float32(start + _float32(step * _float32(index)))
    return min(max(factor, 0.0), 1.0)


def _intensity_table(factor):
    """Byte v becomes v times `factor` in single precision, truncated."""
    return bytes(bytearray(int(_float32(value * factor)) for value in range(256)))


def _progress_reporter(job):
    """A function that puts a message on the conversion's progress queue:
    ("start", task index), ("frames", count), ("end", task index); it does
    nothing outside a Dask worker."""
    try:
        from distributed import Queue, get_worker
        get_worker()
    except (ImportError, ValueError):
        return lambda frames: None
    queue = Queue(job["progress_queue"])
    return lambda frames: queue.put(frames)


def _eye_names(name, numbers, eyes):
    return [frame_name(name, number, eye) for number in numbers for eye in (eyes if "@" in name else eyes[:1])]


def _temporary_files(task, eyes):
    numbers = range(task["count"]) if "#" in task["temporary"] else [0]
    return _eye_names(task["temporary"], numbers, eyes)


def _move_into_place(task, eyes):
    """Renames the task's temporary files onto their final names: frame k of
    a numbered name becomes frame first_number + k."""
    numbered = "#" in task["final"]
    numbers = range(task["count"]) if numbered else [0]
    for number in numbers:
        for eye in (eyes if "@" in task["final"] else eyes[:1]):
            source = frame_name(task["temporary"], number, eye)
            final = frame_name(task["final"], task["first_number"] + number if numbered else 0, eye)
            if not os.path.exists(source):
                raise CliError("%s: the codec reported success but wrote no file" % final)
            os.rename(source, final)


def _remove(name):
    try:
        os.remove(name)
    except OSError:
        pass
