"""`orvo convert` in this process: the plan (convert_plan) carried out by
a write movie or picture by picture, with progress, Ctrl-C and SIGTERM
handling and the output renamed into place only when it is complete.
"""
import os
import signal
import sys

import orvo

from . import carry_over, layouts
from .convert_deep import deep_writer
from .convert_plan import create_output, open_and_plan, picture_chooser, wants_stereo, writes_pictures
from .convert_writers import MovieWriter, PictureWriter, first_layout
from .errors import CliError, interrupted_status
from .progress import Progress


def run(args):
    """Converts as the options say; returns the exit status."""
    sources = []
    try:
        inputs, _, codec, timing, plan = open_and_plan(args, sources)
        timing.announce(inputs[0])
        try:
            writer = choose_writer(args, sources, codec, plan, timing)
            carry = carry_over.plan_for(args, sources, codec, plan, timing, isinstance(writer, PictureWriter))
            return write_frames(args, writer, plan, timing, carry)
        except BaseException:
            # Whatever stopped the write, the temporary file goes with it.
            plan.discard()
            raise
    finally:
        for source in sources:
            source.close()


def choose_writer(args, sources, codec, plan, timing):
    """A PictureWriter when the output is pictures whose codec holds the
    input's layout better than the RGB a movie writes, else a MovieWriter,
    with a note when its RGB drops the input's alpha."""
    deep = deep_writer(args, sources, codec, plan, timing)
    if deep is not None:
        return deep
    chooser = picture_chooser(args, sources, plan, timing)
    if writes_pictures(chooser, sources):
        return PictureWriter(args, sources, plan.filename, plan.shown, chooser, wants_stereo(args, sources),
                             timing.count)
    layout = first_layout(sources)
    if chooser is not None:
        note = layouts.fit(orvo.image(1, 1, layout), chooser)[1]
    elif layout in (None, layouts.RGB) or args.anaglyph:
        note = None
    else:
        note = layouts.loss_note(layout, layouts.RGB)
        note = note and "is written as a movie, in RGB: " + note
    if note is not None:
        sys.stderr.write("orvo: note: %s %s\n" % (plan.shown, note))
    return MovieWriter(args, sources, create_output(args, sources, codec, plan, timing), timing)


def write_frames(args, writer, plan, timing, carry=None):
    total = timing.count
    output = plan.shown
    with Progress(total, os.path.basename(output), args.quiet) as progress:
        try:
            status, error = writer.append(progress)
            written = writer.written
        finally:
            closed, close_error = writer.close()
        if status == 0 and closed != 0:
            status, error = closed, close_error
        error = plan.explain(error)
        # Stopped before its first frame, the write has nothing worth an
        # earlier file of that name.
        keep = status == 0 and (written > 0 or not progress.interrupted)
        # Renamed while a second signal is still only noted.
        if keep:
            if carry is not None:
                carry_over.apply(carry, plan.single.written(plan.filename), written)
            plan.commit()
        else:
            plan.discard()
    if progress.interrupted:
        how = "interrupted" if progress.signal_number == signal.SIGINT else "interrupted by SIGTERM"
        if status != 0:
            sys.stderr.write("orvo: %s: writing %s failed: %s\n" % (how, output, error))
        elif keep:
            sys.stderr.write("orvo: %s: %s is closed and holds the %d of %d frames written\n"
                             % (how, output, written, total))
        else:
            sys.stderr.write("orvo: %s before the first frame: %s\n" % (how, plan.untouched()))
        return interrupted_status(progress.signal_number)
    if status != 0:
        raise CliError("writing %s stopped after %d of %d frames: %s%s"
                       % (output, written, total, error, " (%s)" % plan.untouched() if plan.single else ""))
    if not args.quiet:
        print("wrote %d frame%s to %s" % (written, "" if written == 1 else "s", output))
    return 0
