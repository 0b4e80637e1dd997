"""The one exception the subcommands raise for a user-facing failure, and the exit statuses."""

EXIT_OK = 0
EXIT_DIFFERENT = 1   # `orvo diff`: the images differ
EXIT_ERROR = 2       # a clear one-line error was printed
EXIT_INTERRUPTED = 130  # Ctrl-C, as the shell reports SIGINT


def interrupted_status(signal_number):
    """128 plus the signal number, as the shell reports a process a signal ended."""
    return 128 + signal_number if signal_number else EXIT_INTERRUPTED


class CliError(Exception):
    """Printed as one line on standard error; the command exits with `status`."""

    def __init__(self, message, status=EXIT_ERROR):
        Exception.__init__(self, message)
        self.status = status
