"""A progress bar for long writes that also turns Ctrl-C and SIGTERM into a clean stop.

The movie's append() calls back after every frame it writes; answering 1
makes it stop after that frame, so the output can still be closed properly
and stays readable with the frames written so far.
"""
import signal
import sys

STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM)


class Progress(object):
    """Use as `with Progress(total, label, quiet) as progress:`; pass
    `progress, "frame_written"` to append() as its object and method.

    While inside, SIGINT and SIGTERM only note that a stop was asked for
    (`interrupted`, `signal_number`); the write, the close and the rename of
    the output all finish before the command stops.
    """

    def __init__(self, total, label, quiet=False):
        self.total = total
        self.signal_number = None
        self._bar = None
        self._previous_handlers = {}
        if not quiet and sys.stderr.isatty():
            try:
                from tqdm import tqdm
            except ImportError:
                tqdm = None
            if tqdm is not None:
                self._bar = tqdm(total=total, desc=label, unit="frame", file=sys.stderr,
                                 dynamic_ncols=True, leave=True)

    @property
    def interrupted(self):
        return self.signal_number is not None

    def __enter__(self):
        for number in STOP_SIGNALS:
            self._previous_handlers[number] = signal.signal(number, self._on_signal)
        return self

    def __exit__(self, *exc_info):
        for number, handler in self._previous_handlers.items():
            signal.signal(number, handler)
        if self._bar is not None:
            self._bar.close()
        return False

    def _on_signal(self, signum, frame):
        # Only note it: raising here would unwind through the module's
        # callback and leave the file half-finished.
        self.signal_number = signum

    def frame_written(self, index):
        """append()'s callback: `index` is the frame just written. Returns 1 to stop."""
        if self._bar is not None:
            self._bar.update(1)
        return 1 if self.interrupted else 0


class Interrupted(KeyboardInterrupt):
    """SIGINT or SIGTERM outside a write: the command stops where it is."""

    def __init__(self, signum):
        KeyboardInterrupt.__init__(self, signum)
        self.signal_number = signum


def raise_interrupted(signum, frame):
    raise Interrupted(signum)


def stop_on_signals():
    """Makes SIGTERM stop the command as Ctrl-C does, through the same
    exception, so that cleanup code runs for both."""
    for number in STOP_SIGNALS:
        signal.signal(number, raise_interrupted)
