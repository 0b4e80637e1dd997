"""The two ways `orvo convert` writes its frames.

A movie output (and any output whose pictures are RGB anyway) goes
through a write movie, which reads, scales and writes every frame itself.
A movie writes RGB pictures, so an output of one picture per file whose
codec holds the input's own layout (RGBA, grey, grey with alpha) is
written picture by picture with image.save instead, keeping that layout.

Both writers answer the same three calls: append(progress) writes the
frames and returns (status, error text), `written` counts the frames
written, close() finishes the output and returns (status, error text).
"""
import sys

from . import arguments, layouts
from .errors import CliError
from .files import EYE_LETTERS, frame_name
from .inputs import read_frame

# What append() reports when its progress callback asked it to stop.
STOPPED_BY_CALLBACK = "Operation aborted by user"


class MovieWriter(object):
    """Frames through an open write movie `target`."""

    def __init__(self, args, sources, target, timing):
        self.args, self.sources, self.target, self.timing = args, sources, target, timing
        self.written = 0

    def append(self, progress):
        status, error = self._append_all(progress)
        self.written = self.target.realframes  # close() resets it
        if progress.interrupted and error.startswith(STOPPED_BY_CALLBACK):
            status, error = 0, ""
        return status, error

    def _append_all(self, progress):
        smooth = arguments.smoothing(self.args, self.sources[0].dims)
        sources, target, timing = self.sources, self.target, self.timing
        if len(sources) == 1 and not timing.resampled:
            # The movie reads and writes every frame itself, calling back after each.
            status = target.append(sources[0], progress, "frame_written", smooth)
            return status, target.errstr() if status != 0 else ""
        # A left/right pair from two movies, or a resampled movie, goes across frame by frame.
        for number in range(timing.count):
            try:
                frame = read_output_frame(sources, timing.source_index(number), bool(target.stereo))
            except CliError as error:
                return -1, str(error)
            status = target.append(tuple(frame) if len(frame) > 1 else frame[0], smooth=smooth)
            if status != 0:
                return status, target.errstr()
            if progress.frame_written(number):
                break
        return 0, ""

    def close(self):
        if self.target.close() != 0:
            return -1, self.target.errstr()
        return 0, ""


class PictureWriter(object):
    """Frames saved one picture per file, each in the layout `chooser`
    picks for it, under `filename` (a '#' run numbers the frames, an '@'
    names the eye); notes on what a layout loses name the output `shown`."""

    def __init__(self, args, sources, filename, shown, chooser, stereo, count):
        self.args, self.sources, self.chooser = args, sources, chooser
        self.filename, self.shown = filename, shown
        self.stereo, self.count = stereo, count
        self.written = 0
        self._notes = set()

    def append(self, progress):
        for number in range(self.count):
            try:
                frame = read_output_frame(self.sources, number, self.stereo)
            except CliError as error:
                return -1, str(error)
            for eye_letter, image in zip(EYE_LETTERS, frame):
                status, error = self._save(image, frame_name(self.filename, number, eye_letter))
                if status != 0:
                    return status, error
            self.written += 1
            if progress.frame_written(number):
                break
        return 0, ""

    def _save(self, image, name):
        if self.args.size:
            image.resize(self.args.size[0], self.args.size[1], arguments.smoothing(self.args, image.dims))
        image, note = layouts.fit(image, self.chooser)
        if note is not None and note not in self._notes:
            self._notes.add(note)
            sys.stderr.write("orvo: note: %s %s\n" % (self.shown, note))
        if image.save(name, self.args.options) != 0:
            return -1, image.errstr()
        return 0, ""

    def close(self):
        return 0, ""


def read_output_frame(sources, index, stereo):
    """The pictures of output frame `index`: one per eye written."""
    if len(sources) == 2:
        names = ("left input", "right input")
        return [read_frame(source, name, index) for source, name in zip(sources, names)]
    images = sources[0].getframe(index)
    if not isinstance(images, list):
        raise CliError("cannot read frame %d of %s: %s" % (index, sources[0].filename, sources[0].errstr()))
    return images[:2] if stereo and len(images) == 2 else images[:1]


def first_layout(sources):
    """The pixel layout of the first input frame, or None when it cannot be
    read (the write then reports why)."""
    images = sources[0].getframe(0)
    return images[0].format if isinstance(images, list) else None
