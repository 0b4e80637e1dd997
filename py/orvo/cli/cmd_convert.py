"""`orvo convert`: read a movie (or a left/right pair) and write it anew.

Every option maps onto one attribute of orvo.movie: the read options onto
the input's framerange, repeat, flip and intensity, the write options onto
the output's dims, fps, format, options, tiling, stereo and anaglyph.
"""
from . import convert_in_process, convert_plan


def add_parser(subparsers):
    parser = subparsers.add_parser(
        "convert", help="convert a movie or image sequence to another size, codec or layout",
        usage="orvo convert [options] INPUT [RIGHT_INPUT] OUTPUT",
        description="Read INPUT (and RIGHT_INPUT, the right eye of a stereo pair) and write "
                    "OUTPUT. The codec is chosen by OUTPUT's suffix unless --codec names it. "
                    "A tiled output (--tiles) is a Multi-Tile Movie: OUTPUT.mtm plus one "
                    "sub-movie per tile. An existing OUTPUT is replaced only with -y. Ctrl-C "
                    "or SIGTERM stops after the current frame and leaves a closed, readable "
                    "OUTPUT with the frames written.")
    convert_plan.add_arguments(parser)
    parser.set_defaults(run=run)


def run(args):
    if getattr(args, "workers", None) or getattr(args, "scheduler", None):
        from . import scale_out  # Dask is loaded only for a scale-out
        return scale_out.run_command(args)
    return convert_in_process.run(args)
