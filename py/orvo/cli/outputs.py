"""Writing an output without ever destroying a file by accident.

Before anything is written, the files an output will make are worked out
(with the suffix the codec adds to a name it does not know) and compared
with the inputs by device and inode; an existing output is replaced only
when the user said so with -y. A single-file output is written under a
temporary name in a private directory beside it and renamed onto its name
only once it is complete, so a failed or interrupted write leaves any earlier file of
that name as it was.
"""
import os
import shutil
import tempfile

import orvo

from .errors import CliError
from .files import EYE_LETTERS, first_shared_file, frame_name, template_files

# What the ffmpeg plug-in appends to a name without a container suffix:
# the natural container of the video codec its "codec" option chooses.
# The private directory of a temporary output starts with this.
TEMPORARY_PREFIX = ".orvo-"

FFMPEG_CODEC_SUFFIXES = {"h264": ".mp4", "mpeg4": ".mp4", "mjpeg": ".avi", "ffv1": ".mkv", "prores": ".mov",
                         "hevc": ".mp4", "vp9": ".webm", "av1": ".mkv"}


def option_value(options, name):
    """The value given for option `name` in "name value ..." text, or None."""
    words = options.split("#", 1)[0].split()
    for at in range(0, len(words) - 1, 2):
        if words[at].lower() == name:
            return words[at + 1]
    return None


def chosen_suffix(codec, options="", pixel_format=orvo.DYX_IMG_FMT_RGB):
    """The suffix the codec adds to a name whose extension it does not list."""
    if codec.name == "ffmpeg":
        encoder = option_value(options, "encoder")
        if encoder:
            # Which container takes it is the FFmpeg build's to say.
            raise CliError("the encoder %s needs an output name with its container's suffix "
                           "(.mkv, .mov, .avi, .mp4 ...)" % encoder)
        return FFMPEG_CODEC_SUFFIXES.get((option_value(options, "codec") or "h264").lower(), ".mp4")
    if codec.name == "ppm":
        if pixel_format == orvo.DYX_IMG_FMT_L:
            return ".pgm"
        if pixel_format in (orvo.DYX_IMG_FMT_LA, orvo.DYX_IMG_FMT_RGBA) or option_value(options, "format") == "pam":
            return ".pam"
        return ".ppm"
    return codec.suffixes[0] if codec.suffixes else ""


def final_name(name, codec, options="", pixel_format=orvo.DYX_IMG_FMT_RGB):
    """The name a file is written under: `name` itself when its extension is
    one of the codec's suffixes, else `name` with the codec's suffix added."""
    if os.path.splitext(name)[1].lower() in codec.suffixes:
        return name
    return name + chosen_suffix(codec, options, pixel_format)


def refuse_shared_files(outputs, inputs):
    shared = first_shared_file(outputs, inputs)
    if shared is not None:
        output, source = shared
        if os.path.abspath(output) == os.path.abspath(source):
            raise CliError("%s: the output is the input %s; choose another output name" % (output, source))
        raise CliError("%s: the output is the input %s (the same file through a link); "
                       "choose another output name" % (output, source))


def refuse_unwritable(files, overwrite):
    """Existing outputs need -y; directories and devices are never replaced."""
    existing = [f for f in files if os.path.lexists(f)]
    for name in existing:
        if os.path.exists(name) and not os.path.isfile(name):
            raise CliError("%s exists and is not a regular file; choose another output name" % name)
    if existing and not overwrite:
        if len(existing) == 1:
            raise CliError("%s exists; give -y (--overwrite) to replace it" % existing[0])
        raise CliError("%d output files exist (%s ... %s); give -y (--overwrite) to replace them"
                       % (len(existing), existing[0], existing[-1]))


def sequence_outputs(template, frames, stereo):
    """Existing files among those a numbered output of `frames` frames writes."""
    eyes = EYE_LETTERS if stereo else EYE_LETTERS[0]
    return template_files(template, frames if "#" in template else None, eyes)


class TemporaryOutput(object):
    """An output written under a temporary name and renamed into place once
    complete: one file, or the two files of a stereo pair when the name has
    an '@' for the eye (`eyes` says which letters are written).

    `temporary` is the name to hand to the codec: the output's own base
    name (so the codec writes the same format) inside a private directory
    made beside the output on first use. The directory is created
    exclusively, with an unpredictable name and mode 0700, so nobody else
    can have put a file or a link where the codec writes; renaming out of
    it stays on the output's file system.
    """

    def __init__(self, final, codec, eyes=EYE_LETTERS):
        self.final = final
        self.codec = codec
        self.eyes = eyes
        self.finals = finals = self._names(final, eyes)
        # An output name that is a symbolic link is written through it, as
        # opening it would: the file it points to is the one replaced.
        self.destinations = [os.path.realpath(f) if os.path.islink(f) else f for f in finals]
        self.directory = None  # the private directory, once made

    @property
    def temporary(self):
        if self.directory is None:
            beside = os.path.dirname(self.destinations[0]) or "."
            try:
                self.directory = tempfile.mkdtemp(prefix=TEMPORARY_PREFIX, dir=beside)
            except OSError as error:
                raise CliError("cannot write %s: no private temporary directory in %s: %s"
                               % (self.final, beside, error.strerror or error))
        return os.path.join(self.directory, os.path.basename(self.final))

    @property
    def moves(self):
        """(temporary file, destination) pairs; empty before the directory exists."""
        if self.directory is None:
            return []
        return list(zip(self._names(self.temporary, self.eyes), self.destinations))

    @staticmethod
    def _names(name, eyes):
        return [frame_name(name, 0, eye) for eye in eyes] if "@" in name else [name]

    def written(self, temporary):
        """The file the codec made for a temporary name: the name itself or,
        for a codec that swapped the extension for one of its own, the same
        stem with that suffix."""
        if os.path.isfile(temporary):
            return temporary
        stem = os.path.splitext(temporary)[0]
        for suffix in self.codec.suffixes:
            for candidate in (temporary + suffix, stem + suffix):
                if os.path.isfile(candidate):
                    return candidate
        return None

    def explain(self, text):
        """A codec's message with the temporary names told as the final ones."""
        if self.directory is None:
            return text
        for temporary, final in ((self.temporary, self.final),) + tuple(self.moves):
            text = text.replace(temporary, final)
        return text.replace(self.directory, os.path.dirname(self.destinations[0]))

    def commit(self):
        """Renames the finished files onto their final names and removes the
        private directory."""
        for temporary, destination in self.moves:
            written = self.written(temporary)
            if written is None:
                raise CliError("%s: the codec reported success but wrote no file" % destination)
            try:
                os.rename(written, destination)
            except OSError as error:
                raise CliError("cannot move the finished %s into place: %s" % (destination, error.strerror))
        self.discard()

    def discard(self):
        """Removes the private directory and whatever a failed or abandoned
        write left in it."""
        if self.directory is not None:
            shutil.rmtree(self.directory, ignore_errors=True)
            self.directory = None
