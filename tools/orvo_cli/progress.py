"""A progress bar for long writes that also turns Ctrl-C into a clean stop.

The movie's append() calls back after every frame it writes; answering 1
makes it stop after that frame, so the output can still be closed properly
and stays readable with the frames written so far.
"""
import signal
import sys


class Progress(object):
    """Use as `with Progress(total, label, quiet) as progress:`; pass
    `progress, "frame_written"` to append() as its object and method."""

    def __init__(self, total, label, quiet=False):
        self.total = total
        self.interrupted = False
        self._bar = None
        self._previous_handler = None
        if not quiet and sys.stderr.isatty():
            try:
                from tqdm import tqdm
            except ImportError:
                tqdm = None
            if tqdm is not None:
                self._bar = tqdm(total=total, desc=label, unit="frame", file=sys.stderr,
                                 dynamic_ncols=True, leave=True)

    def __enter__(self):
        self._previous_handler = signal.signal(signal.SIGINT, self._on_interrupt)
        return self

    def __exit__(self, *exc_info):
        signal.signal(signal.SIGINT, self._previous_handler)
        if self._bar is not None:
            self._bar.close()
        return False

    def _on_interrupt(self, signum, frame):
        # Only note it: raising here would unwind through the module's
        # callback and leave the file half-finished.
        self.interrupted = True

    def frame_written(self, index):
        """append()'s callback: `index` is the frame just written. Returns 1 to stop."""
        if self._bar is not None:
            self._bar.update(1)
        return 1 if self.interrupted else 0
