"""Entry point of the `orvo` command: parses the command line and turns
every user-facing failure into one line on standard error."""
import argparse
import os
import signal
import sys

from .errors import EXIT_ERROR, CliError, interrupted_status
from .progress import stop_on_signals


def build_parser():
    # Imported here, when the command runs, so that a command module that
    # fails to import is reported by main() as one clear line rather than
    # a traceback.
    from . import cmd_codecs, cmd_convert, cmd_images, cmd_info, cmd_sheet
    import orvo

    parser = argparse.ArgumentParser(
        prog="orvo",
        description="Inspect, convert and compare movies, image sequences and "
                    "Multi-Tile Movies through the orvo codec plug-ins.",
        epilog="Run 'orvo COMMAND --help' for the options of one command.")
    parser.add_argument("--version", action="version", version="orvo %s" % orvo.version()[1])
    subparsers = parser.add_subparsers(dest="command", metavar="COMMAND")
    subparsers.required = True
    cmd_codecs.add_parser(subparsers)
    cmd_info.add_parser(subparsers)
    cmd_convert.add_parser(subparsers)
    cmd_images.add_parsers(subparsers)
    cmd_sheet.add_parser(subparsers)
    return parser


def main(argv=None):
    try:
        parser = build_parser()
    except ImportError as error:
        sys.stderr.write("orvo: cannot load the orvo module: %s\n" % error)
        return EXIT_ERROR
    args = parser.parse_args(argv)
    try:
        stop_on_signals()
        return args.run(args)
    except CliError as error:
        sys.stderr.write("orvo: %s\n" % error)
        return error.status
    except BrokenPipeError:
        # The reader of our output went away (`orvo codecs | head`): not an error.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 0
    except KeyboardInterrupt as interruption:
        number = getattr(interruption, "signal_number", None)
        sys.stderr.write("orvo: interrupted%s\n" % (" by SIGTERM" if number == signal.SIGTERM else ""))
        return interrupted_status(number)
    except (IOError, OSError) as error:
        sys.stderr.write("orvo: %s\n" % error)
        return EXIT_ERROR
