"""The plan of a conversion, shared by `orvo convert` in one process
(convert_in_process) and on a cluster (scale_out): the command's options,
the inputs opened, the codec, the frame timing, the output's names and
refusals, the write movie, and whether pictures are saved one by one.
"""
import os

import orvo

from . import arguments, carry_over, colour_tags, layouts
from .codecs import check_option_text, codec_and_options, codec_for_file
from .convert_writers import first_layout
from .errors import CliError
from .files import EYE_LETTERS, files_of_name
from .inputs import open_movie, require_output_directory
from .outputs import TemporaryOutput, final_name, refuse_shared_files, refuse_unwritable, sequence_outputs
from .timing import FrameTiming

FLIPS = {"x": orvo.DYX_FLIP_XAXIS, "y": orvo.DYX_FLIP_YAXIS,
         "xy": orvo.DYX_FLIP_XAXIS | orvo.DYX_FLIP_YAXIS}
ANAGLYPHS = {"red-blue": orvo.MOVIE_ANAGLYPH_REDBLUE, "blue-red": orvo.MOVIE_ANAGLYPH_BLUERED,
             "red-cyan": orvo.MOVIE_ANAGLYPH_REDCYAN, "cyan-red": orvo.MOVIE_ANAGLYPH_CYANRED}


def add_arguments(parser):
    """The options of `orvo convert` (and of scale_out.convert())."""
    parser.add_argument("names", metavar="INPUT [RIGHT_INPUT] OUTPUT", nargs="+",
                        help="the input, the right-eye input of a stereo pair, and the output")
    read = parser.add_argument_group("reading the input")
    arguments.add_sequence(read)
    read.add_argument("--frames", type=arguments.frame_range, metavar="FIRST:LAST",
                      help="use only these input frames (counted from 0, LAST included)")
    arguments.add_times(read)
    read.add_argument("--repeat", type=arguments.non_negative, nargs=2, metavar=("FIRST", "LAST"),
                      help="extra copies of the first and of the last frame")
    read.add_argument("--flip", choices=sorted(FLIPS), help="flip every frame over the x axis, y axis or both")
    read.add_argument("--ramp", type=arguments.unit_interval, nargs=2, metavar=("START", "END"),
                      help="intensity ramp from START at the first frame to END at the last (0..1)")
    write = parser.add_argument_group("writing the output")
    write.add_argument("--size", type=arguments.size, metavar="WxH", help="frame size of the output")
    arguments.add_scaling(write)
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
    carry_over.add_arguments(write)
    arguments.add_scale_out(parser)
    arguments.add_overwrite(parser)
    parser.add_argument("-q", "--quiet", action="store_true", help="no progress bar and no summary")


def read_attributes_of(args):
    """The read movies' attributes that the options ask for."""
    return {"framerange": args.frames, "repeat": args.repeat, "flip": FLIPS.get(args.flip, 0),
            "intensity": args.ramp, "times": arguments.times_of(args)}


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
    if carry_over.is_movie_file(sources[0]):
        scaled_out = bool(getattr(args, "workers", None) or getattr(args, "scheduler", None))
        args.options = colour_tags.writer_options(args.options, codec, inputs[0],
                                                  carry_over.description(sources[0]), plan.shown, scaled_out)
    return inputs, read_attributes, codec, timing, plan


def choose_codec(args, output):
    require_output_directory(output)
    if args.codec:
        codec, args.options = codec_and_options(args.codec, args.options)
    else:
        codec = codec_for_file(_without_mtm(args, output))
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
    and, for a single file, its temporary-name writer (`single`). The
    shape of `filename` (a '#' run, an '@') is that of `shown`, which asks
    for no temporary directory."""

    def __init__(self, args, codec, output, frames, stereo):
        options = args.options
        stereo = stereo and not args.anaglyph  # an anaglyph is one picture
        self.single = None
        if is_tiled(args):
            stem = _without_mtm(args, output)
            across, down = args.tiles
            self._filename = stem
            self.shown = stem + ".mtm"
            self.files = [self.shown] + [final_name("%s_%04d" % (stem, k), codec, options)
                                         for k in range(across * down)]
        elif "#" in output:
            self._filename = output
            self.shown = final_name(output, codec, options)
            self.files = sequence_outputs(self.shown, frames, stereo)
        else:
            self.shown = final_name(output, codec, options)
            self.single = TemporaryOutput(self.shown, codec, EYE_LETTERS if stereo else EYE_LETTERS[0])
            self.files = self.single.finals
        self.existed = any(os.path.lexists(f) for f in self.files)

    @property
    def filename(self):
        return self.single.temporary if self.single is not None else self._filename

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


def create_output(args, sources, codec, plan, timing):
    """Makes and opens the write movie; raises CliError with the module's text on failure."""
    source = sources[0]
    tiled = is_tiled(args)
    width, height = args.size or tuple(source.dims)
    frames = timing.count
    if frames > 1 and not codec.multi_image and "#" not in plan.shown:
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
        target.rate = timing.fps  # above fps's ceiling of 60 too
    if wants_stereo(args, sources):
        target.stereo = 1
    if args.anaglyph:
        target.anaglyph = ANAGLYPHS[args.anaglyph]
    target.addcount(frames)
    if target.open() != 0:
        raise CliError("cannot create %s: %s" % (plan.shown, plan.explain(target.errstr())))
    return target


def picture_chooser(args, sources, plan, timing):
    """The LayoutChooser of an output that is pictures (a numbered sequence
    or one picture, not tiled or resampled, a stereo pair only with '@' in
    the name) of an input whose layout is not RGB; None for an output that
    only a write movie makes."""
    layout = first_layout(sources)
    if layout in (None, layouts.RGB) or args.anaglyph:  # an anaglyph is composed in RGB
        return None
    pictures = ("#" in plan.shown or timing.count == 1) and not is_tiled(args) and not timing.resampled
    if not pictures or (wants_stereo(args, sources) and "@" not in plan.shown):
        return None
    return layouts.LayoutChooser(plan.shown, args.options)


def writes_pictures(chooser, sources):
    """Whether the output is saved picture by picture: its codec holds the
    input's layout better than the RGB a write movie gives."""
    return chooser is not None and chooser.choose(first_layout(sources)) != layouts.RGB


def _numbered_example(output):
    stem, suffix = os.path.splitext(output)
    return "%s.####%s" % (stem, suffix)
