"""Conversions on a Dask cluster: `orvo convert --workers N` / `--scheduler
ADDRESS`, and convert() for scripts.

The coordinator checks the conversion exactly as a single-process run does
(same inputs, codec, output names and refusals), splits its output frames
into tasks (scale_out_tasks), runs them on the cluster and finishes the
output:

- a numbered sequence: frame ranges, each written under the numbers a
  single-process run gives them;
- a movie file (ffmpeg plug-in): segments, each starting on a key frame,
  joined by stream copy (scale_out_join) under a temporary name that is
  renamed into place;
- a Multi-Tile Movie: the .mtm description is written here, one task
  writes each tile's sub-movie.

Other outputs (one picture, a multi-page picture file) are written by the
single-process path. A failed or interrupted conversion removes every
temporary file and every output file it wrote; earlier files it did not
touch stay as they were.
"""
import argparse
import os
import uuid

from . import arguments, carry_over, convert_in_process, convert_plan
from .convert_plan import wants_stereo
from .errors import CliError
from .files import EYE_LETTERS
from .scale_out_conversion import Conversion


def convert(input, output, client=None, **options):
    """Converts `input` (a name, or a (left, right) pair of names) to
    `output` on a Dask cluster, as `orvo convert` does; `options` are the
    command's long options with '_' for '-' (frames=(0, 99), size=(640,
    360), codec="ffmpeg", options="crf 18", tiles=(2, 2), overwrite=True,
    workers=4, scheduler="tcp://host:8786", quiet=True ...). Without
    `client`, a local cluster of `workers` processes (default: one per
    core) or the cluster at `scheduler` is used. Returns the frames written;
    raises CliError on failure."""
    inputs = [input] if isinstance(input, str) else list(input)
    args = _arguments(inputs + [output], options)
    status, written = run(args, client)
    if status != 0:
        raise CliError("converting %s was interrupted" % output, status)
    return written


def _arguments(names, options):
    parser = argparse.ArgumentParser()
    convert_plan.add_arguments(parser)
    args = parser.parse_args(names)
    args.quiet = True
    args.segment_frames = None
    for name, value in options.items():
        if not hasattr(args, name):
            raise TypeError("convert() got an unknown option '%s'" % name)
        setattr(args, name, value)
    if not args.workers and not args.scheduler:
        args.workers = os.cpu_count() or 1  # used only when no client is given
    return args


def run_command(args):
    """`orvo convert` with --workers or --scheduler: the exit status."""
    return run(args)[0]


def run(args, client=None):
    """Returns (exit status, frames written)."""
    sources = []
    try:
        inputs, read_attributes, codec, timing, plan = convert_plan.open_and_plan(args, sources)
        kind = _kind(args, codec, plan, timing)
        if kind is None:
            for source in sources:
                source.close()
            sources = []
            return convert_in_process.run(_without_scale_out(args)), timing.count
        timing.announce(inputs[0])
        job = _job(args, inputs, read_attributes, codec, plan, timing, sources)
    finally:
        for source in sources:
            source.close()
    return Conversion(args, job, kind, plan, timing).run(client)


def _without_scale_out(args):
    plain = argparse.Namespace(**vars(args))
    plain.workers = plain.scheduler = None
    return plain


def _kind(args, codec, plan, timing):
    """How the output is split: "tile", "frames" or "segment"; None for
    the single-process path."""
    if convert_plan.is_tiled(args):
        return "tile"
    if "#" in plan.shown:
        return "frames"
    if codec.name == "ffmpeg" and timing.count > 1:
        return "segment"
    return None


def _job(args, inputs, read_attributes, codec, plan, timing, sources):
    stereo = wants_stereo(args, sources)
    token = "%d-%s" % (os.getpid(), uuid.uuid4().hex[:8])
    directory = os.path.dirname(os.path.abspath(plan.shown))
    args = _without_scale_out(args)
    args.run = None  # the worker needs the options, not the command
    # Saved picture by picture as a single-process run would.
    pictures = convert_plan.writes_pictures(convert_plan.picture_chooser(args, sources, plan, timing), sources)
    return {
        "args": args, "inputs": [os.path.abspath(name) for name in inputs],
        "read_attributes": read_attributes, "codec": codec.name, "shown": plan.shown,
        "stereo": stereo, "pictures": pictures,
        "dims": tuple(args.size or sources[0].dims), "fps": timing.fps,
        "anaglyph": convert_plan.ANAGLYPHS.get(args.anaglyph, 0), "smooth": arguments.smoothing(args, sources[0].dims),
        "eyes": EYE_LETTERS if stereo and not args.anaglyph else EYE_LETTERS[0],
        # The private directory beside the output, with the stop file and
        # the probe file in it, is made when the conversion starts.
        "token": token, "directory": directory, "private": None, "stop_file": None, "probe": None,
        "progress_queue": "orvo-progress-" + token,
        "multi_image": codec.multi_image,
        "late_effects": None if pictures else _late_effects(args, inputs, read_attributes, timing, sources),
        "carry": carry_over.plan_for(args, sources, codec, plan, timing, pictures),
    }


def _late_effects(args, inputs, read_attributes, timing, sources):
    """A single-process run that reads one input straight into its write
    movie scales each frame before the flip and the ramp; a task, which
    reads frames one by one, then applies those itself after scaling (the
    flip and ramp as {"flip": flags, "ramp": (start, end) or None}; None
    when the order makes no difference)."""
    flip, ramp = read_attributes["flip"], read_attributes["intensity"]
    if len(inputs) != 1 or timing.resampled or not args.size or not (flip or ramp):
        return None
    if tuple(args.size) == tuple(sources[0].dims):
        return None
    return {"flip": flip, "ramp": tuple(ramp) if ramp else None}
