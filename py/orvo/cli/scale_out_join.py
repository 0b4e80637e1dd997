"""Joining movie segments by stream copy, through the movie plug-in.

The ffmpeg plug-in exports orvo_ffmpeg_join() beside its codec entry
points: it copies the packets of each segment into one container with
FFmpeg's libraries, without decoding them. It is called here through ctypes
from the very plug-in file the orvo module loaded, so the join always uses
the FFmpeg the segments were encoded with.
"""
import ctypes

import orvo

from .errors import CliError

PLUGIN_FILE = "libudil-ffmpeg.so"
ERROR_SIZE = 512


def loaded_plugin_path(file_name=PLUGIN_FILE):
    """The path of the plug-in the orvo module loaded (it opens every plug-in
    at import), from the process's memory map; None when it is not loaded."""
    orvo.codecs()  # the registry, and with it the plug-ins, are in place
    try:
        with open("/proc/self/maps") as maps:
            for line in maps:
                path = line.split(None, 5)[-1].strip()
                if path.endswith("/" + file_name):
                    return path
    except (IOError, OSError):
        return None
    return None


def _join_function():
    path = loaded_plugin_path()
    if path is None:
        raise CliError("cannot join movie segments: the ffmpeg plug-in (%s) is not loaded" % PLUGIN_FILE)
    try:
        function = ctypes.CDLL(path).orvo_ffmpeg_join
    except (OSError, AttributeError) as error:
        raise CliError("cannot join movie segments with %s: %s" % (path, error))
    function.restype = ctypes.c_int32
    function.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_char_p), ctypes.c_int32,
                         ctypes.c_char_p, ctypes.c_int32]
    return function


def join_segments(output, segments, shown=None):
    """Writes `output` from the movie files `segments`, in order, by stream
    copy; raises CliError with the plug-in's reason on failure, naming the
    output `shown` (the name the user gave, when `output` is a temporary)."""
    function = _join_function()
    names = (ctypes.c_char_p * len(segments))(*[s.encode("utf-8") for s in segments])
    error = ctypes.create_string_buffer(ERROR_SIZE)
    status = function(output.encode("utf-8"), names, len(segments), error, ERROR_SIZE)
    if status != 0:
        reason = error.value.decode("utf-8", "replace")
        if shown is not None:
            reason = reason.replace(output, shown)
        raise CliError("joining the segments of %s failed: %s" % (shown or output, reason))
