"""How many frames a conversion writes, at which rate, and from which input frames."""
import math
import sys

from . import arguments


class FrameTiming(object):
    """The frame rate written and which input frames make the output.

    A written movie carries MIN_FPS to MAX_FPS frames per second. An input
    whose rate lies outside is resampled to the nearest rate a movie can
    carry, dropping (or repeating) frames so that its duration stays the
    same, as ffmpeg's -r does. An explicit --fps plays every frame at that
    rate instead.
    """

    def __init__(self, args, source, codec):
        self.total = source.nframes
        self.count = source.nframes
        self.fps = args.fps or (source.fps if source.fps > 0 else None)
        self.input_fps = source.fps
        self.resampled = False
        if args.fps or not codec.multi_image or self.fps is None:
            return
        carried = min(max(self.input_fps, arguments.MIN_FPS), arguments.MAX_FPS)
        if abs(carried - self.input_fps) > 1e-3 * carried:
            self.fps = carried
            self.count = max(1, int(round(self.total * carried / self.input_fps)))
            self.resampled = True

    def source_index(self, number):
        """The input frame shown at output frame `number`."""
        if not self.resampled:
            return number
        return min(self.total - 1, int(math.floor(number * self.input_fps / self.fps + 1e-6)))

    def announce(self, name):
        if self.resampled:
            change = "dropping" if self.count < self.total else "repeating"
            sys.stderr.write("orvo: note: %s runs at %g fps, which a written movie cannot carry "
                             "(%g to %g fps): writing %g fps, %s frames to keep its duration "
                             "(%d frames become %d); give --fps to keep every frame at another rate\n"
                             % (name, self.input_fps, arguments.MIN_FPS, arguments.MAX_FPS, self.fps,
                                change, self.total, self.count))
