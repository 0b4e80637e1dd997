"""`orvo convert`: read a movie (or a left/right pair) and write it anew.

Every option maps onto one attribute of orvo.movie: the read options onto
the input's framerange, repeat, flip and intensity, the write options onto
the output's dims, fps, format, options, tiling, stereo and anaglyph.
"""
import os
import signal
import sys

import orvo

from . import arguments, layouts
from .codecs import check_option_text, codec_by_name, codec_for_file
from .errors import CliError, interrupted_status
from .files import EYE_LETTERS, files_of_name
from .convert_writers import MovieWriter, PictureWriter, first_layout
from .inputs import open_movie, require_output_directory
from .outputs import TemporaryOutput, final_name, refuse_shared_files, refuse_unwritable, sequence_outputs
from .progress import Progress
from .timing import FrameTiming

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
                    "sub-movie per tile. An existing OUTPUT is replaced only with -y. Ctrl-C "
                    "or SIGTERM stops after the current frame and leaves a closed, readable "
                    "OUTPUT with the frames written.")
    parser.add_argument("names", metavar="INPUT [RIGHT_INPUT] OUTPUT", nargs="+",
                        help="the input, the right-eye input of a stereo pair, and the output")
    read = parser.add_argument_group("reading the input")
    arguments.add_sequence(read)
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
    write.add_argument("--fps", type=arguments.fps,
                       help="play every frame at this rate, %g to %g (default: the input's rate, "
                            "resampled into that range)" % (arguments.MIN_FPS, arguments.MAX_FPS))
    write.add_argument("--codec", metavar="NAME", help="codec plug-in to write with (see 'orvo codecs')")
    write.add_argument("--options", default="", metavar='"NAME VALUE ..."',
                       help="codec options, e.g. \"codec h264 crf 18\"")
    write.add_argument("--tiles", type=arguments.tiles, metavar="AxD",
                       help="write a Multi-Tile Movie of A tiles across and D down")
    write.add_argument("--stereo", action="store_true", help="write a stereo movie (both eyes)")
    write.add_argument("--anaglyph", choices=sorted(ANAGLYPHS),
                       help="compose the two eyes into one anaglyph picture")
    arguments.add_scale_out(parser)
    arguments.add_overwrite(parser)
    parser.add_argument("-q", "--quiet", action="store_true", help="no progress bar and no summary")
    parser.set_defaults(run=run)


def run(args):
    if getattr(args, "workers", None) or getattr(args, "scheduler", None):
        from . import scale_out  # Dask is loaded only for a scale-out
        return scale_out.run_command(args)
    sources = []
    try:
        inputs, _, codec, timing, plan = open_and_plan(args, sources)
        timing.announce(inputs[0])
        try:
            return write_frames(args, choose_writer(args, sources, codec, plan, timing), plan, timing)
        except BaseException:
            # Whatever stopped the write, the temporary file goes with it.
            plan.discard()
            raise
    finally:
        for source in sources:
            source.close()


def read_attributes_of(args):
    """The read movies' attributes that the options ask for."""
    return {"framerange": args.frames, "repeat": args.repeat, "flip": FLIPS.get(args.flip, 0),
            "intensity": args.ramp}


def open_and_plan(args, sources):
    """Opens the inputs into `sources` (the caller closes them), chooses the
    codec and the frame timing, and plans an output that destroys no input.
    Returns (input names, read attributes, codec, timing, plan)."""
    if len(args.names) not in (2, 3):
        raise CliError("convert takes INPUT [RIGHT_INPUT] OUTPUT, not %d names" % len(args.names))
    inputs, output = args.names[:-1], args.names[-1]
    read_attributes = read_attributes_of(args)
    for name in inputs:
        sources.append(open_movie(name, widen=args.sequence, **read_attributes)[0])
    if len(sources) == 2 and sources[0].nframes != sources[1].nframes:
        raise CliError("the left input has %d frames and the right input %d"
                       % (sources[0].nframes, sources[1].nframes))
    if sources[0].nframes < 1:
        raise CliError("%s: no frames to convert" % inputs[0])
    codec = choose_codec(args, output)
    timing = FrameTiming(args, sources[0], codec)
    plan = OutputPlan(args, codec, output, timing.count, stereo=wants_stereo(args, sources))
    input_files = []
    for source in sources:
        input_files.extend(files_of_name(source.filename))
    plan.refuse_unsafe(input_files, args.overwrite)
    return inputs, read_attributes, codec, timing, plan


def choose_codec(args, output):
    require_output_directory(output)
    codec = codec_by_name(args.codec) if args.codec else codec_for_file(_without_mtm(args, output))
    if codec is None:
        raise CliError("%s: no codec writes files ending in '%s'; name one with --codec (see 'orvo codecs')"
                       % (output, os.path.splitext(_without_mtm(args, output))[1]))
    if args.options:
        check_option_text(codec, args.options)
    return codec


def is_tiled(args):
    return args.tiles is not None and tuple(args.tiles) != (1, 1)


def _without_mtm(args, output):
    if is_tiled(args) and output.endswith(".mtm"):
        return output[:-len(".mtm")]  # the movie adds ".mtm" itself
    return output


def wants_stereo(args, sources):
    return bool(args.stereo or args.anaglyph or len(sources) == 2)


class OutputPlan(object):
    """Where the output goes: the name handed to the movie (`filename`), the
    name the user is told (`shown`), every file the write makes (`files`)
    and, for a single file, its temporary-name writer (`single`)."""

    def __init__(self, args, codec, output, frames, stereo):
        options = args.options
        stereo = stereo and not args.anaglyph  # an anaglyph is one picture
        self.single = None
        if is_tiled(args):
            stem = _without_mtm(args, output)
            across, down = args.tiles
            self.filename = stem
            self.shown = stem + ".mtm"
            self.files = [self.shown] + [final_name("%s_%04d" % (stem, k), codec, options)
                                         for k in range(across * down)]
        elif "#" in output:
            self.filename = output
            self.shown = final_name(output, codec, options)
            self.files = sequence_outputs(self.shown, frames, stereo)
        else:
            self.shown = final_name(output, codec, options)
            self.single = TemporaryOutput(self.shown, codec, EYE_LETTERS if stereo else EYE_LETTERS[0])
            self.filename = self.single.temporary
            self.files = self.single.finals
        self.existed = any(os.path.lexists(f) for f in self.files)

    def explain(self, text):
        return self.single.explain(text) if self.single is not None else text

    def commit(self):
        if self.single is not None:
            self.single.commit()

    def discard(self):
        if self.single is not None:
            self.single.discard()

    def untouched(self):
        """What a discarded single-file write did to its name."""
        return "%s was left as it was" % self.shown if self.existed else "%s was not written" % self.shown

    def refuse_unsafe(self, input_files, overwrite):
        refuse_shared_files(self.files, input_files)
        refuse_unwritable(self.files, overwrite)


def choose_writer(args, sources, codec, plan, timing):
    """A PictureWriter when the output is pictures whose codec holds the
    input's layout better than the RGB a movie writes, else a MovieWriter,
    with a note when its RGB drops the input's alpha."""
    layout = first_layout(sources)
    if layout in (None, layouts.RGB) or args.anaglyph:  # an anaglyph is composed in RGB
        return MovieWriter(args, sources, create_output(args, sources, codec, plan, timing), timing)
    stereo = wants_stereo(args, sources)
    pictures = ("#" in plan.filename or timing.count == 1) and not is_tiled(args) and not timing.resampled
    if pictures and (not stereo or "@" in plan.filename):
        chooser = layouts.LayoutChooser(plan.shown, args.options)
        if chooser.choose(layout) != layouts.RGB:
            return PictureWriter(args, sources, plan.filename, plan.shown, chooser, stereo, timing.count)
        note = layouts.fit(orvo.image(1, 1, layout), chooser)[1]
    else:
        note = layouts.loss_note(layout, layouts.RGB)
        note = note and "is written as a movie, in RGB: " + note
    if note is not None:
        sys.stderr.write("orvo: note: %s %s\n" % (plan.shown, note))
    return MovieWriter(args, sources, create_output(args, sources, codec, plan, timing), timing)


def create_output(args, sources, codec, plan, timing):
    """Makes and opens the write movie; raises CliError with the module's text on failure."""
    source = sources[0]
    tiled = is_tiled(args)
    width, height = args.size or tuple(source.dims)
    frames = timing.count
    if frames > 1 and not codec.multi_image and "#" not in plan.filename:
        if tiled:
            raise CliError("codec '%s' writes one image per file: a tiled movie of %d frames needs a movie "
                           "codec such as --codec ffmpeg" % (codec.name, frames))
        raise CliError("codec '%s' writes one image per file: name the %d frames with a '#' run, "
                       "e.g. %s" % (codec.name, frames, _numbered_example(plan.shown)))
    if tiled and (width % args.tiles[0] or height % args.tiles[1]):
        raise CliError("%dx%d tiles do not divide the %dx%d frame evenly" % (args.tiles + (width, height)))

    target = orvo.movie(orvo.MOVIE_WRITE)
    target.filename = plan.filename
    target.format = codec.name
    target.options = args.options
    target.dims = (width, height)
    if args.tiles:
        target.tiling = args.tiles
    if timing.fps:
        target.fps = timing.fps
    if wants_stereo(args, sources):
        target.stereo = 1
    if args.anaglyph:
        target.anaglyph = ANAGLYPHS[args.anaglyph]
    target.addcount(frames)
    if target.open() != 0:
        raise CliError("cannot create %s: %s" % (plan.shown, plan.explain(target.errstr())))
    return target


def write_frames(args, writer, plan, timing):
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


def _numbered_example(output):
    stem, suffix = os.path.splitext(output)
    return "%s.####%s" % (stem, suffix)
