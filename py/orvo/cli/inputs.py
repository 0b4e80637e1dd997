"""Opening the inputs of the subcommands as read movies.

An input is a movie file, an image file, a numbered sequence written as a
template ("shot.####.png", "eye_####@.png") or, with --sequence, as one of
its files, or a Multi-Tile Movie (.mtm). Everything is read through
orvo.movie so that every subcommand accepts every kind.
"""
import os
import sys

import orvo

from . import arguments, layouts
from .codecs import codec_for_file
from .errors import CliError
from .files import EYE_LETTERS, files_of_name
from .outputs import TemporaryOutput, final_name, refuse_shared_files, refuse_unwritable
from .sequences import left_out, left_out_note, sequence_of, template_run

# A movie written without a rate plays at this one.
DEFAULT_FPS = 30.0


def resolve_input(name, widen=False):
    """Returns (movie file name, sequence info or None) for a user's input name.

    A named file is that file. With `widen` (the --sequence option), a
    numbered image file stands for the run of consecutive files it belongs
    to; sequence info is the dict {"template", "first", "last"}.
    """
    if ".mtm" in name:
        _require_file(name)
        return name, None
    if "@" in name and "#" not in name:
        # One stereo pair of images: the '@' stands for the eye, l or r.
        at = name.rindex("@")
        left = name[:at] + "l" + name[at + 1:]
        if not os.path.isfile(left):
            raise CliError("%s: no such file (its left eye would be %s)" % (name, left))
        return name, None
    if "#" in name:
        return template_run(name)
    _require_file(name)
    codec = codec_for_file(name)
    if not widen or codec is None or (codec.multi_image and _frames_in(name) != 1):
        return name, None  # a movie file, or a suffix open() will refuse clearly
    return sequence_of(name)


def _frames_in(name):
    """Frames of the file `name` (PNG and TIFF files may hold several);
    0 when it cannot be opened, which open_movie then reports."""
    movie = orvo.movie(orvo.MOVIE_READ)
    movie.filename = name
    if movie.open() != 0:
        return 0
    count = movie.nframes
    movie.close()
    return count


def _require_file(name):
    if not os.path.exists(name):
        raise CliError("%s: no such file" % name)
    if os.path.isdir(name):
        raise CliError("%s: is a directory" % name)
    if not os.path.isfile(name):
        # A FIFO or a device would make the reader wait or read forever.
        raise CliError("%s: is not a regular file" % name)


def open_movie(name, framerange=None, repeat=None, flip=0, intensity=None, widen=False, times=None, notes=True):
    """Opens `name` as a read movie with the given read attributes (see
    resolve_input for `widen`); `times` (start, duration, rate) picks the
    frames by time, at the input's rate or else `rate` (else 30, the rate
    a movie is written at by default). With `notes` the files of a
    sequence's name that it does not read are named on standard error.

    Returns (movie, sequence info or None); failures raise CliError with
    the module's own error text.
    """
    filename, sequence = resolve_input(name, widen)
    movie = orvo.movie(orvo.MOVIE_READ)
    movie.filename = filename
    if sequence is not None:
        # The run to open, which need not be the first of the name's files.
        movie.framerange = (sequence["first"], sequence["last"])
    if movie.open() != 0:
        raise CliError("cannot open %s: %s" % (name, movie.errstr()))
    if sequence is not None:
        _note_left_out(sequence, movie.realframes, notes)
    # The frame range and repeats count from the opened frames, so they are
    # applied once the movie knows how many it has.
    if times is not None:
        framerange = _frames_at_times(movie, name, times)
    if framerange is not None:
        first, last = framerange
        available = movie.realframes
        if first >= available:
            movie.close()
            raise CliError("%s has %d frames; frame %d does not exist" % (name, available, first))
        movie.framerange = (first, movie.realframes - 1 if last < 0 else last)
    if repeat is not None:
        try:
            movie.repeat = tuple(repeat)
        except OverflowError as error:
            movie.close()
            raise CliError("%s: --repeat %d %d: %s" % (name, repeat[0], repeat[1], error))
    if flip:
        movie.flip = flip
    if intensity is not None:
        movie.intensity = tuple(intensity)
    return movie, sequence


def _frames_at_times(movie, name, times):
    start, duration, rate = times
    fps = movie.fps if movie.fps > 0 else rate or DEFAULT_FPS
    frames = arguments.frames_of_times(start, duration, fps)
    if frames is None or frames[0] >= movie.realframes:
        movie.close()
        raise CliError("%s has %d frames at %g fps (%.3f s): no frame is shown %s"
                       % (name, movie.realframes, fps, movie.realframes / fps,
                          "from %g s on" % (start or 0) if frames else "within that duration"))
    return frames


def _note_left_out(sequence, opened, say):
    """Keeps the files of the sequence's name that the run read leaves out
    in sequence["not_read"] and, with `say`, names them."""
    first = sequence["first"]
    last = sequence["last"] = first + opened - 1
    sequence["not_read"] = left_out(sequence["template"], first, last)
    note = left_out_note(sequence["template"], first, last, sequence["not_read"])
    if note is not None and say:
        sys.stderr.write("orvo: note: %s\n" % note)


def read_frame(movie, name, number, eye="left"):
    """Frame `number` of an open read movie as one orvo.image."""
    if not 0 <= number < movie.nframes:
        raise CliError("%s has %d frames; frame %d does not exist" % (name, movie.nframes, number))
    images = movie.getframe(number)
    if not isinstance(images, list):
        raise CliError("cannot read frame %d of %s: %s" % (number, name, movie.errstr()))
    if eye == "right":
        if len(images) < 2:
            raise CliError("%s is not a stereo movie: it has no right eye" % name)
        return images[1]
    return images[0]


def require_output_directory(filename):
    """Refuses an output whose directory is missing, which the codecs report only vaguely."""
    directory = os.path.dirname(filename)
    if directory and not os.path.isdir(directory):
        raise CliError("%s: directory %s does not exist" % (filename, directory))


def save_image(image, filename, options="", input_names=(), overwrite=False):
    """Saves one image without harming any file it was not asked to replace:
    never onto one of the inputs, onto an existing file only with
    `overwrite`, and through a temporary name, so a failed save leaves an
    earlier file as it was. A picture the codec cannot hold in its own
    layout is written in the nearest one it holds, with a note. Returns the
    name written."""
    require_output_directory(filename)
    codec = codec_for_file(filename)
    if codec is None:
        raise CliError("%s: no codec writes files ending in '%s' (see 'orvo codecs')"
                       % (filename, os.path.splitext(filename)[1]))
    final = final_name(filename, codec, options, image.format)
    input_files = []
    for name in input_names:
        input_files.extend(files_of_name(resolve_input(name, widen=False)[0]))
    refuse_shared_files([final], input_files)
    refuse_unwritable([final], overwrite)
    image, note = layouts.fit(image, layouts.LayoutChooser(final, options))
    if note is not None:
        sys.stderr.write("orvo: note: %s %s\n" % (final, note))
    output = TemporaryOutput(final, codec, EYE_LETTERS[0])
    try:
        if image.save(output.temporary, options) != 0:
            raise CliError("cannot write %s: %s" % (final, output.explain(image.errstr())))
        output.commit()
    except BaseException:
        output.discard()
        raise
    return final
