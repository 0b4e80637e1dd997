"""`orvo convert` of inputs deeper than 8 bits: frames go across at their
own depth (16-bit, half or float) when the output's codec holds it, as
deep frames through a write movie; otherwise the 8-bit writers take over
and a note says the samples are reduced to 8 bits.

Whether a codec plug-in holds a depth can hang on its options (the movie
plug-in's codec option) or on the format it writes (the still-picture
plug-in's suffix): a first frame it refuses as too deep is written at 8
bits instead, with the note.
"""
import sys

import orvo

from .convert_plan import create_output, is_tiled, wants_stereo
from .convert_writers import MovieWriter
from .errors import CliError

# The status of a frame the codec refuses (a depth it cannot hold).
REFUSED = 1


def input_depth(sources):
    """The sample kind of the first input frame ("uint8" for 8-bit ones, and
    when it cannot be told)."""
    layout = sources[0]._deeplayout(0)
    if not isinstance(layout, tuple):
        sources[0].errstr()
        return "uint8", 0
    return layout[3], layout[2]


def _why_8bit(args, sources, codec, kind, channels):
    """Why the output cannot take the input's deep frames; None when it can."""
    if kind not in orvo._orvo._deepsamples(codec.name):
        return "holds no %s samples" % kind
    if args.size:
        return "is resized, which works on 8-bit frames"
    if args.anaglyph:
        return "is an anaglyph, composed from 8-bit frames"
    if args.ramp and tuple(args.ramp) != (1.0, 1.0):
        return "is ramped, which works on 8-bit frames"
    if is_tiled(args) or len(sources) != 1 or wants_stereo(args, sources):
        return "is tiled or stereo, made from 8-bit frames"
    if codec.name == "ppm" and channels != 3:
        return "is written from RGB frames"
    return None


def deep_writer(args, sources, codec, plan, timing):
    """A DeepWriter when the input is deeper than 8 bits and the output
    holds its depth; None otherwise (with a note when depth is lost)."""
    kind, channels = input_depth(sources)
    if kind == "uint8":
        return None
    why = _why_8bit(args, sources, codec, kind, channels)
    if why is not None:
        _note_8bit(plan.shown, why, kind)
        return None
    return DeepWriter(args, sources, create_output(args, sources, codec, plan, timing), timing, plan.shown)


def _note_8bit(shown, why, kind):
    sys.stderr.write("orvo: note: %s %s: the input's %s samples are reduced to 8 bits\n" % (shown, why, kind))


class DeepWriter(object):
    """Frames at the input's own depth through the open write movie
    `target`; the calls of convert_writers' writers."""

    def __init__(self, args, sources, target, timing, shown):
        self.args, self.sources, self.target, self.timing, self.shown = args, sources, target, timing, shown
        self.source = sources[0]
        self.written = 0

    def append(self, progress):
        for number in range(self.timing.count):
            index = self.timing.source_index(number)
            got = self.source._getdeep(index)
            if not isinstance(got, tuple):
                raise CliError("cannot read frame %d of %s: %s"
                               % (index, self.source.filename, self.source.errstr()))
            width, height, channels, kind, left, _ = got
            status = self.target._appenddeep(left, width, height, channels, kind)
            if status == REFUSED and number == 0:
                return self._append_8bit(progress, kind)
            if status != 0:
                return -1, self.target.errstr()
            self.written = self.target.realframes
            if progress.frame_written(number):
                break
        return 0, ""

    def _append_8bit(self, progress, kind):
        """Every frame at 8 bits, through the same write movie (it refused
        the first deep frame before writing anything)."""
        reason = self.target.errstr().rsplit(": ", 1)[-1].split(";")[0]
        _note_8bit(self.shown, "is written at 8 bits (%s)" % reason, kind)
        writer = MovieWriter(self.args, self.sources, self.target, self.timing)
        status, error = writer.append(progress)
        self.written = writer.written
        return status, error

    def close(self):
        if self.target.close() != 0:
            return -1, self.target.errstr()
        return 0, ""
