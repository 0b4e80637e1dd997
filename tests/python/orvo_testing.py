"""Helpers shared by the Python tests (Python 2.7 and 3)."""
import os
import subprocess
import sys
import threading

import orvo

CHILD_SECONDS = 120  # no child of a test runs longer
# Set by scripts/run-valgrind: resident sizes then measure valgrind, not orvo.
UNDER_VALGRIND = bool(os.environ.get("ORVO_UNDER_VALGRIND"))
# Set by scripts/run-asan-python: freed blocks wait in AddressSanitizer's
# quarantine, so resident sizes grow without a leak (LeakSanitizer reports
# leaked blocks itself there).
UNDER_SANITIZER = bool(os.environ.get("ORVO_UNDER_SANITIZER"))
# A line of Python that prints the process's peak resident size in MB.
# VmHWM starts afresh at exec; ru_maxrss keeps the forking parent's peak.
PRINT_PEAK_MB = ("print([int(line.split()[1]) // 1024 for line in open('/proc/self/status') "
                 "if line.startswith('VmHWM:')][0])")


COMPONENTS = {orvo.DYX_IMG_FMT_A: 1, orvo.DYX_IMG_FMT_L: 1, orvo.DYX_IMG_FMT_LA: 2, orvo.DYX_IMG_FMT_RGB: 3,
              orvo.DYX_IMG_FMT_RGBA: 4}


def top_down_bytes(image):
    """The pixel bytes with the top row first, as files, NumPy views and
    other libraries hold them (orvo's row 0 is the bottom one)."""
    width, height = image.dims
    row = width * COMPONENTS[image.format]
    data = image.tostring()
    return b"".join(data[y * row:(y + 1) * row] for y in reversed(range(height)))


def other_string_type(text):
    """The string type the interpreter does not use for text: bytes in
    Python 3, unicode in Python 2.7."""
    return text.encode("utf-8") if sys.version_info[0] >= 3 else text.decode("utf-8")


def have_command(name):
    """Whether an executable `name` is on the PATH."""
    return any(os.access(os.path.join(folder, name), os.X_OK)
               for folder in os.environ.get("PATH", "").split(os.pathsep))


class BoundedChild(object):
    """A child process with piped output that is killed after `seconds`,
    so that a test whose wait on it goes wrong cannot hang (Python 2.7 has
    no timeout in subprocess)."""

    def __init__(self, arguments, seconds=CHILD_SECONDS, **options):
        self.process = subprocess.Popen(arguments, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **options)
        self.timer = threading.Timer(seconds, self.process.kill)
        self.timer.daemon = True  # a failed test does not keep the run waiting for it
        self.timer.start()

    def finish(self, text=True):
        """Waits for the child; returns (exit status, output, error output),
        as text unless `text` is false."""
        try:
            out, err = self.process.communicate()
        finally:
            self.timer.cancel()
            # A cancelled timer's thread still ends on its own; Python 2.7
            # complains when the interpreter exits while it does.
            self.timer.join(5)
        if not text:
            return self.process.returncode, out, err
        return self.process.returncode, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")


def run_bounded(arguments, seconds=30, env=None, text=True):
    """Runs a command, killing it after `seconds`; returns (status, output,
    error output), as text unless `text` is false."""
    return BoundedChild(arguments, seconds, env=env).finish(text)


def run_python(code, **env_changes):
    """Runs `code` in a fresh interpreter with the same orvo on its path,
    for at most CHILD_SECONDS.

    Keyword arguments set environment variables; a value of None removes
    one. Returns (exit status, standard output, standard error) as text.
    """
    env = dict(os.environ)
    for key, value in env_changes.items():
        if value is None:
            env.pop(key, None)
        else:
            env[key] = value
    return run_bounded([sys.executable, "-c", code], CHILD_SECONDS, env)


def fixed_text(message):
    """The fixed part of an error text that goes on with ": " and the reason
    the plug-in or the system gave; None when no reason follows."""
    text, colon, _ = message.partition(": ")
    return text if colon else None


def error_text(kind, function, *args):
    """str() of the `kind` exception that function(*args) raises."""
    try:
        function(*args)
    except kind as error:
        return str(error)
    raise AssertionError("%s not raised by %r%r" % (kind.__name__, function, args))
