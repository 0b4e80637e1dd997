"""argparse value types for the command's options: each refuses bad text
with a message argparse prints as a one-line usage error."""
import argparse
import math
import os
import re

from .errors import CliError

# A local cluster's workers are processes of about 150 MB each that share
# this machine's cores: more than a few per core only compete for them.
LOCAL_WORKERS_PER_CORE = 4
# The Dask transports an address may name; without one it is tcp://.
SCHEDULER_SCHEMES = ("tcp", "tls", "ws", "wss", "ucx")


def _int(text, what):
    try:
        return int(text)
    except ValueError:
        raise argparse.ArgumentTypeError("%s: '%s' is not a whole number" % (what, text))


def frame_range(text):
    """FIRST:LAST (inclusive; either side may be left out) or one frame N."""
    if ":" not in text:
        first = last = _int(text, "frame")
    else:
        first_text, last_text = text.split(":", 1)
        first = _int(first_text, "first frame") if first_text else 0
        last = _int(last_text, "last frame") if last_text else -1
    if first < 0 or last < -1 or (last >= 0 and last < first):
        raise argparse.ArgumentTypeError("'%s' is not a range FIRST:LAST of frames counted from 0" % text)
    return first, last


def _pair(text, what, example):
    parts = text.lower().split("x")
    if len(parts) != 2:
        raise argparse.ArgumentTypeError("%s must look like %s, not '%s'" % (what, example, text))
    first, second = _int(parts[0], what), _int(parts[1], what)
    if first < 1 or second < 1:
        raise argparse.ArgumentTypeError("%s must be positive, not '%s'" % (what, text))
    return first, second


def size(text):
    """WxH in pixels."""
    return _pair(text, "size", "1920x1080")


def tiles(text):
    """AxD: tiles across and down."""
    return _pair(text, "tiles", "2x2")


def non_negative(text):
    value = _int(text, "count")
    if value < 0:
        raise argparse.ArgumentTypeError("a count cannot be negative: %s" % text)
    return value


def positive(text):
    value = _int(text, "count")
    if value < 1:
        raise argparse.ArgumentTypeError("a count must be at least 1, not %s" % text)
    return value


def frame_number(text):
    value = _int(text, "frame")
    if value < 0:
        raise argparse.ArgumentTypeError("frames are counted from 0, not %s" % text)
    return value


# The frame rates a written movie can carry: below MIN_FPS a movie falls
# back to 30 fps and above MAX_FPS it is held at MAX_FPS.
MIN_FPS = 0.5
MAX_FPS = 1000.0


def fps(text):
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError("frame rate: '%s' is not a number" % text)
    if not MIN_FPS <= value <= MAX_FPS:
        raise argparse.ArgumentTypeError("a written movie carries %g to %g frames per second, not %s"
                                         % (MIN_FPS, MAX_FPS, text))
    return value


def add_eye(parser):
    parser.add_argument("--eye", choices=("left", "right"), default="left",
                        help="which eye of a stereo input (default left)")


def add_output_options(parser):
    parser.add_argument("--options", default="", metavar='"NAME VALUE ..."', help="codec options for OUTPUT")


def add_overwrite(parser):
    choice = parser.add_mutually_exclusive_group()
    choice.add_argument("-y", "--overwrite", action="store_true",
                        help="replace output files that exist (by default an existing output is refused)")
    # What ffmpeg users type; it is this command's default made explicit.
    choice.add_argument("-n", "--no-overwrite", action="store_true",
                        help="never replace an existing output: refuse it (the default)")


def time_point(text):
    """Seconds (12.5) or [[hh:]mm:]ss[.frac] (1:02:03.5), as ffmpeg's -ss and -t take them."""
    parts = text.strip().split(":")
    try:
        if len(parts) > 3 or any(not p for p in parts):
            raise ValueError(text)
        seconds = float(parts[-1])
        for place, part in enumerate(reversed(parts[:-1])):
            if not part.isdigit():
                raise ValueError(text)
            seconds += int(part) * 60 ** (place + 1)
        if len(parts) > 1 and not 0 <= float(parts[-1]) < 60:
            raise ValueError(text)
    except ValueError:
        raise argparse.ArgumentTypeError("'%s' is not a time: give seconds (12.5) or hh:mm:ss[.frac]" % text)
    if seconds < 0 or seconds != seconds or seconds == float("inf"):
        raise argparse.ArgumentTypeError("a time cannot be negative: %s" % text)
    return seconds


def add_times(parser):
    parser.add_argument("--start", "-ss", type=time_point, metavar="TIME",
                        help="start at the first frame shown at or after TIME (seconds or hh:mm:ss[.frac])")
    parser.add_argument("--duration", "-t", type=time_point, metavar="TIME",
                        help="keep the frames shown within TIME from the start")


def times_of(args):
    """(start, duration, rate for an input without one) of --start and
    --duration, or None without them."""
    start, duration = getattr(args, "start", None), getattr(args, "duration", None)
    if start is None and duration is None:
        return None
    if getattr(args, "frames", None) is not None:
        raise CliError("give the frames to use either by number (--frames) or by time "
                       "(--start, --duration), not both")
    return start, duration, getattr(args, "fps", None)


def frames_of_times(start, duration, fps):
    """(first, last) input frames shown from `start` for `duration`
    seconds at `fps`: a frame k is shown from k / fps on. last is -1 for
    the end of the input; None when no frame lies inside."""
    nudge = 1e-9  # 0.2 s at 25 fps is frame 5, whatever the float says
    first = int(math.ceil((start or 0.0) * fps - nudge))
    if duration is None:
        return first, -1
    end = int(math.ceil(((start or 0.0) + duration) * fps - nudge))  # the first frame left out
    return (first, end - 1) if end > first else None


def add_scaling(parser):
    how = parser.add_mutually_exclusive_group()
    how.add_argument("--smooth", action="store_true",
                     help="scale with filtering also when enlarging")
    how.add_argument("--nearest", action="store_true",
                     help="scale by sampling the nearest pixel, also when shrinking")


def smoothing(args, source_dims):
    """1 when frames are scaled with filtering: when shrinking in either
    direction (a sampled half of a fine pattern is one of its colours, not
    its average), unless --nearest asks for sampling; when enlarging only
    with --smooth."""
    if getattr(args, "smooth", False):
        return 1
    if getattr(args, "nearest", False) or not getattr(args, "size", None):
        return 0
    width, height = args.size
    return 1 if width < source_dims[0] or height < source_dims[1] else 0


def unit_interval(text):
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError("'%s' is not a number" % text)
    if not 0.0 <= value <= 1.0:
        raise argparse.ArgumentTypeError("an intensity lies between 0 and 1, not %s" % text)
    return value


def add_sequence(parser):
    parser.add_argument("--sequence", action="store_true",
                        help="read a numbered picture file (shot.0042.png) as the run of consecutive "
                             "files it belongs to, as 'shot.####.png' would (by default a named file "
                             "is that file alone)")


def local_worker_limit():
    return LOCAL_WORKERS_PER_CORE * (os.cpu_count() or 1)


def check_local_workers(count):
    """The problem with `count` local workers, or None."""
    limit = local_worker_limit()
    if count > limit:
        return ("%d workers is more than this machine's %d cores can run (at most %d, %d per core); "
                "give --scheduler to use a larger cluster" % (count, os.cpu_count() or 1, limit,
                                                              LOCAL_WORKERS_PER_CORE))
    return None


def local_workers(text):
    """A worker count a local cluster on this machine can hold."""
    count = positive(text)
    problem = check_local_workers(count)
    if problem is not None:
        raise argparse.ArgumentTypeError(problem)
    return count


def check_scheduler(address):
    """The problem with a scheduler address, or None."""
    if not address.strip():
        return "the scheduler address is empty; give one such as tcp://host:8786"
    match = re.match(r"([A-Za-z][A-Za-z0-9+.-]*)://", address)
    if match and match.group(1).lower() not in SCHEDULER_SCHEMES:
        return ("'%s' is not a Dask scheduler address: '%s://' is no Dask transport (%s)"
                % (address, match.group(1), ", ".join(s + "://" for s in SCHEDULER_SCHEMES)))
    return None


def scheduler(text):
    """A Dask scheduler address: [tcp://]host:port and the other Dask transports."""
    problem = check_scheduler(text)
    if problem is not None:
        raise argparse.ArgumentTypeError(problem)
    return text


def add_scale_out(parser):
    group = parser.add_argument_group("running on a Dask cluster (Python 3 with python3-distributed)")
    group.add_argument("--workers", type=local_workers, metavar="N",
                       help="run the conversion on a local Dask cluster of N worker processes "
                            "(at most %d per core)" % LOCAL_WORKERS_PER_CORE)
    group.add_argument("--scheduler", type=scheduler, metavar="ADDRESS",
                       help="run the conversion on the Dask cluster at ADDRESS (tcp://host:8786); "
                            "every worker must see the input and output files")
