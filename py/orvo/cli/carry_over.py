"""What a converted movie keeps of its source besides the pictures: the
sound, the start timecode and the container's tags, and the index at the
front of an .mp4.

The write movie writes the pictures only. Once the output is complete,
the ffmpeg plug-in's orvo_ffmpeg_carry() (called through ctypes, as the
join of scale-out segments is) copies its video stream without decoding
into the final file beside the source's audio streams, cut to the frames
converted: copied where the container takes their codec, else
re-encoded. A plug-in option cannot do this: option values are single
words, and a source's path is not one.

The decision is taken before any frame is written (CarryPlan), so that
the notes on what is dropped come first, and it travels to the scale-out
coordinator as a plain dict.
"""
import ctypes
import os
import re
import sys

from .errors import CliError
from .outputs import option_value
from .scale_out_join import loaded_plugin_path

AUDIO, TAGS, TIMECODE, INDEX_FIRST = 1, 2, 4, 8
MESSAGE_SIZE = 8192
# orvo_ffmpeg_carry's status for a container whose pictures it cannot copy.
PICTURES_NOT_COPIED = 3
TIMECODE_PATTERN = re.compile(r"^\d{2}:\d{2}:\d{2}[:;.]\d{2,3}$")
# Players start an .mp4 sooner when its index comes before the pictures
# (web delivery); QuickTime editing tools do not care, so .mov stays as
# written unless the "faststart" option asks.
INDEX_FIRST_SUFFIXES = (".mp4", ".m4v")


def timecode(text):
    """argparse type of --timecode: HH:MM:SS:FF (';' before FF for drop frame)."""
    import argparse
    if not TIMECODE_PATTERN.match(text):
        raise argparse.ArgumentTypeError("'%s' is not a timecode HH:MM:SS:FF" % text)
    return text


def add_arguments(group):
    group.add_argument("--no-audio", action="store_true",
                       help="leave the input's sound out of a movie output")
    group.add_argument("--timecode", type=timecode, metavar="HH:MM:SS:FF",
                       help="start timecode of a .mov, .mp4 or .mxf output (default: the input's, "
                            "moved on to the first frame converted)")


def _note(text):
    sys.stderr.write("orvo: note: %s\n" % text)


def description(movie):
    """The movie's description dict, or {} when the module has none."""
    try:
        info = getattr(movie, "info", None)
    except Exception:
        return {}
    return info if isinstance(info, dict) else {}


def is_movie_file(source):
    name = source.filename
    return source.format == "ffmpeg" and "#" not in name and "@" not in name and ".mtm" not in name


def plan_for(args, sources, codec, plan, timing, pictures):
    """The carry plan (a dict) of a conversion, its notes printed; None
    when the output gets nothing carried over."""
    source = sources[0]
    # A stereo pair of inputs carries the left one's sound.
    from_movie = is_movie_file(source)
    facts = description(source) if from_movie else {}
    # Without a description the plug-in finds out for itself whether
    # there is sound; notes about dropping it need to know.
    audio = facts.get("audio") if facts else (None if from_movie else [])
    wanted_audio = audio != [] and not getattr(args, "no_audio", False)
    # --timecode, else the writer's timecode option (which the carrying
    # over would otherwise replace with the input's).
    given_timecode = getattr(args, "timecode", None) or option_value(getattr(args, "options", "") or "", "timecode")
    one_movie_file = (codec.name == "ffmpeg" and plan.single is not None and len(plan.single.finals) == 1
                      and not pictures)
    if not one_movie_file:
        if wanted_audio and audio:
            _note("%s %s: the audio of %s is not written" % (plan.shown, _soundless(args, codec, plan, pictures),
                                                             source.filename))
        if given_timecode:
            _note("%s holds no timecode: --timecode %s is not written" % (plan.shown, given_timecode))
        return None
    if wanted_audio:
        reason = _timeline_change(args, source, timing)
        wanted_audio = reason is None
        if reason and audio:
            _note("the audio of %s is not written to %s: %s" % (source.filename, plan.shown, reason))
    flags = TAGS | TIMECODE if from_movie else 0
    if wanted_audio:
        flags |= AUDIO
    faststart = option_value(getattr(args, "options", "") or "", "faststart")
    if faststart == "1" or (faststart is None and plan.shown.lower().endswith(INDEX_FIRST_SUFFIXES)):
        flags |= INDEX_FIRST
    if not flags and not given_timecode:
        return None
    first = max(0, source.framerange[0]) if from_movie else 0
    return {"source": os.path.abspath(source.filename) if from_movie else None, "flags": flags,
            "first": first, "timecode": given_timecode or "", "shown": plan.shown,
            # Whether a failure is worth a note: there was something to carry.
            "noted": bool(audio and wanted_audio) or bool(given_timecode) or bool(facts.get("timecode")),
            "resampling": (timing.input_fps / timing.fps) if timing.resampled and timing.fps else 1.0}


def _soundless(args, codec, plan, pictures):
    """What kind of output `plan` is, said of one that holds no sound."""
    if getattr(args, "tiles", None) and tuple(args.tiles) != (1, 1):
        return "is a Multi-Tile Movie, which holds no sound"
    if pictures or plan.single is None or not codec.multi_image:
        return "is a sequence of pictures, which hold no sound"
    if len(plan.single.finals) > 1:
        return "is a pair of movie files, one per eye, which are written without sound"
    return "is written by the %s codec, which writes no sound" % codec.name


def _timeline_change(args, source, timing):
    """Why the sound cannot follow the frames written, or None."""
    repeat = getattr(args, "repeat", None)
    if repeat and any(repeat):
        return "repeated first or last frames have no sound to go with them"
    fps = getattr(args, "fps", None)
    if fps and source.fps > 0 and abs(fps - source.fps) > 1e-3 * source.fps:
        return ("--fps %g plays the frames %s than their %g fps, which the sound cannot follow"
                % (fps, "faster" if fps > source.fps else "slower", source.fps))
    return None


def apply(carry, written_file, frames_written):
    """Carries over what `carry` (plan_for) says into the complete movie
    `written_file`, which it replaces. When that fails, a note says why and
    `written_file` stays as the codec wrote it; raises CliError only when
    the plug-in cannot be called."""
    if carry is None or frames_written < 1:
        return
    function = _carry_function()
    directory, base = os.path.split(written_file)
    carried = os.path.join(directory, "carried-" + base)
    source_frames = int(round(frames_written * carry["resampling"]))
    message = ctypes.create_string_buffer(MESSAGE_SIZE)
    source = carry["source"] or written_file
    status = function(written_file.encode("utf-8"), source.encode("utf-8"), carried.encode("utf-8"),
                      carry["first"], source_frames, carry["flags"], carry["timecode"].encode("utf-8"),
                      message, MESSAGE_SIZE)
    text = message.value.decode("utf-8", "replace").replace(carried, carry["shown"])
    if status != 0:
        # The pictures are written and whole: they are kept as they are.
        if os.path.exists(carried):
            os.remove(carried)
        if status == PICTURES_NOT_COPIED and not carry["noted"]:
            return
        _note("%s is written without the sound, timecode and tags of %s: %s"
              % (carry["shown"], carry["source"] or "its input", text))
        return
    for line in text.splitlines():
        _note("%s: %s" % (carry["shown"], line))
    try:
        os.rename(carried, written_file)
    except OSError as error:
        raise CliError("cannot move the finished %s into place: %s" % (carry["shown"], error.strerror))


def _carry_function():
    path = loaded_plugin_path()
    if path is None:
        raise CliError("cannot carry sound and tags over: the ffmpeg plug-in is not loaded")
    try:
        function = ctypes.CDLL(path).orvo_ffmpeg_carry
    except (OSError, AttributeError) as error:
        raise CliError("cannot carry sound and tags over with %s: %s" % (path, error))
    function.restype = ctypes.c_int32
    function.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int64, ctypes.c_int64,
                         ctypes.c_int32, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int32]
    return function
