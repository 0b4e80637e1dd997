"""`orvo convert`: read a movie (or a left/right pair) and write it anew.

Every option maps onto one attribute of orvo.movie: the read options onto
the input's framerange, repeat, flip and intensity, the write options onto
the output's dims, fps, format, options, tiling, stereo and anaglyph.
"""
import os
import sys

import orvo

from . import arguments
from .codecs import check_option_text, codec_by_name, codec_for_file
from .errors import EXIT_INTERRUPTED, CliError
from .inputs import open_movie, read_frame, require_output_directory
from .progress import Progress

FLIPS = {"x": orvo.DYX_FLIP_XAXIS, "y": orvo.DYX_FLIP_YAXIS,
         "xy": orvo.DYX_FLIP_XAXIS | orvo.DYX_FLIP_YAXIS}
ANAGLYPHS = {"red-blue": orvo.MOVIE_ANAGLYPH_REDBLUE, "blue-red": orvo.MOVIE_ANAGLYPH_BLUERED,
             "red-cyan": orvo.MOVIE_ANAGLYPH_REDCYAN, "cyan-red": orvo.MOVIE_ANAGLYPH_CYANRED}


def add_parser(subparsers):
    parser = subparsers.add_parser(
        "convert", help="convert a movie or image sequence to another size, codec or layout",
        usage="orvo convert [options] INPUT [RIGHT_INPUT] OUTPUT",
        description="Read INPUT (and RIGHT_INPUT, the right eye of a stereo pair) and write "
                    "OUTPUT. The codec is chosen by OUTPUT's suffix unless --codec names it. "
                    "A tiled output (--tiles) is a Multi-Tile Movie: OUTPUT.mtm plus one "
                    "sub-movie per tile. Ctrl-C stops after the current frame and leaves a "
                    "closed, readable OUTPUT with the frames written.")
    parser.add_argument("names", metavar="INPUT [RIGHT_INPUT] OUTPUT", nargs="+",
                        help="the input, the right-eye input of a stereo pair, and the output")
    read = parser.add_argument_group("reading the input")
    read.add_argument("--frames", type=arguments.frame_range, metavar="FIRST:LAST",
                      help="use only these input frames (counted from 0, LAST included)")
    read.add_argument("--repeat", type=arguments.non_negative, nargs=2, metavar=("FIRST", "LAST"),
                      help="extra copies of the first and of the last frame")
    read.add_argument("--flip", choices=sorted(FLIPS), help="flip every frame over the x axis, y axis or both")
    read.add_argument("--ramp", type=arguments.unit_interval, nargs=2, metavar=("START", "END"),
                      help="intensity ramp from START at the first frame to END at the last (0..1)")
    write = parser.add_argument_group("writing the output")
    write.add_argument("--size", type=arguments.size, metavar="WxH", help="frame size of the output")
    write.add_argument("--smooth", action="store_true", help="scale with filtering instead of nearest sample")
    write.add_argument("--fps", type=arguments.fps, help="frame rate of the output (default: the input's)")
    write.add_argument("--codec", metavar="NAME", help="codec plug-in to write with (see 'orvo codecs')")
    write.add_argument("--options", default="", metavar='"NAME VALUE ..."',
                       help="codec options, e.g. \"codec h264 crf 18\"")
    write.add_argument("--tiles", type=arguments.tiles, metavar="AxD",
                       help="write a Multi-Tile Movie of A tiles across and D down")
    write.add_argument("--stereo", action="store_true", help="write a stereo movie (both eyes)")
    write.add_argument("--anaglyph", choices=sorted(ANAGLYPHS),
                       help="compose the two eyes into one anaglyph picture")
    parser.add_argument("-q", "--quiet", action="store_true", help="no progress bar and no summary")
    parser.set_defaults(run=run)


def run(args):
    if len(args.names) not in (2, 3):
        raise CliError("convert takes INPUT [RIGHT_INPUT] OUTPUT, not %d names" % len(args.names))
    inputs, output = args.names[:-1], args.names[-1]
    for name in inputs:
        if os.path.abspath(name) == os.path.abspath(output):
            raise CliError("%s: the output would overwrite the input" % output)
    read_attributes = {"framerange": args.frames, "repeat": args.repeat,
                       "flip": FLIPS.get(args.flip, 0), "intensity": args.ramp}
    sources = []
    try:
        for name in inputs:
            sources.append(open_movie(name, **read_attributes)[0])
        if len(sources) == 2 and sources[0].nframes != sources[1].nframes:
            raise CliError("the left input has %d frames and the right input %d"
                           % (sources[0].nframes, sources[1].nframes))
        if sources[0].nframes < 1:
            raise CliError("%s: no frames to convert" % inputs[0])
        target, written_name = create_output(args, sources, output)
        return write_frames(args, sources, target, written_name)
    finally:
        for source in sources:
            source.close()


def create_output(args, sources, output):
    """Makes and opens the write movie; raises CliError with the module's text on failure."""
    require_output_directory(output)
    source = sources[0]
    tiled = args.tiles is not None and args.tiles != (1, 1)
    filename = output
    if tiled and filename.endswith(".mtm"):
        filename = filename[:-len(".mtm")]  # the movie adds ".mtm" itself
    codec = codec_by_name(args.codec) if args.codec else codec_for_file(filename)
    if codec is None:
        raise CliError("%s: no codec writes files ending in '%s'; name one with --codec (see 'orvo codecs')"
                       % (output, os.path.splitext(filename)[1]))
    width, height = args.size or tuple(source.dims)
    frames = source.nframes
    if frames > 1 and not codec.multi_image and "#" not in filename:
        if tiled:
            raise CliError("codec '%s' writes one image per file: a tiled movie of %d frames needs a movie "
                           "codec such as --codec ffmpeg" % (codec.name, frames))
        raise CliError("codec '%s' writes one image per file: name the %d frames with a '#' run, "
                       "e.g. %s" % (codec.name, frames, _numbered_example(output)))
    if tiled and (width % args.tiles[0] or height % args.tiles[1]):
        raise CliError("%dx%d tiles do not divide the %dx%d frame evenly" % (args.tiles + (width, height)))
    if args.options:
        check_option_text(codec, args.options)

    target = orvo.movie(orvo.MOVIE_WRITE)
    target.filename = filename
    target.format = codec.name
    target.options = args.options
    target.dims = (width, height)
    if args.tiles:
        target.tiling = args.tiles
    if args.fps:
        target.fps = args.fps
    elif source.fps > 0:
        target.fps = source.fps
    if args.stereo or args.anaglyph or len(sources) == 2:
        target.stereo = 1
    if args.anaglyph:
        target.anaglyph = ANAGLYPHS[args.anaglyph]
    target.addcount(source)
    if target.open() != 0:
        raise CliError("cannot create %s: %s" % (output, target.errstr()))
    return target, filename + ".mtm" if tiled else output


def write_frames(args, sources, target, output):
    total = sources[0].nframes
    with Progress(total, os.path.basename(output), args.quiet) as progress:
        try:
            status = append_frames(args, sources, target, progress)
            written = target.realframes  # close() resets it
            error = target.errstr() if status != 0 else ""
        finally:
            target.close()
    if progress.interrupted:
        sys.stderr.write("orvo: interrupted: %s is closed and holds the %d of %d frames written\n"
                         % (output, written, total))
        return EXIT_INTERRUPTED
    if status != 0:
        raise CliError("writing %s stopped after %d of %d frames: %s" % (output, written, total, error))
    if not args.quiet:
        print("wrote %d frames to %s" % (written, output))
    return 0


def append_frames(args, sources, target, progress):
    """Appends every source frame; returns append()'s status (0 when all went well)."""
    smooth = 1 if args.smooth else 0
    if len(sources) == 1:
        # The movie reads and writes every frame itself, calling back after each.
        return target.append(sources[0], progress, "frame_written", smooth)
    # A left/right pair from two movies goes across frame by frame.
    for index in range(sources[0].nframes):
        pair = (read_frame(sources[0], "left input", index), read_frame(sources[1], "right input", index))
        status = target.append(pair, smooth=smooth)
        if status != 0:
            return status
        if progress.frame_written(index):
            break
    return 0


def _numbered_example(output):
    stem, suffix = os.path.splitext(output)
    return "%s.####%s" % (stem, suffix)
