"""What the command knows about the codec plug-ins: lookups and option text checks."""
import os
import shutil
import tempfile

import orvo

from .errors import CliError

OPTION_TYPE_NAMES = {
    orvo.DYX_UDIL_BOOLEAN: "bool",
    orvo.DYX_UDIL_INT: "int",
    orvo.DYX_UDIL_FLOAT: "float",
    3: "text",
    orvo.DYX_UDIL_CHOICE: "choice",
}

PIXEL_FORMAT_NAMES = {
    orvo.DYX_IMG_FMT_A: "A",
    orvo.DYX_IMG_FMT_L: "L",
    orvo.DYX_IMG_FMT_LA: "LA",
    orvo.DYX_IMG_FMT_RGB: "RGB",
    orvo.DYX_IMG_FMT_RGBA: "RGBA",
}


class Codec(object):
    """One entry of orvo.codecs() with named fields."""

    def __init__(self, entry):
        self.name, self.description, suffixes, stereo, multi, options = entry
        self.suffixes = [s.lower() if s.startswith(".") else "." + s.lower() for s in suffixes]
        self.stereo = bool(stereo)
        self.multi_image = bool(multi)
        self.options = [Option(o) for o in options]

    def as_dict(self):
        return {"name": self.name, "description": self.description, "suffixes": self.suffixes,
                "stereo": self.stereo, "multi_image": self.multi_image,
                "options": [o.as_dict() for o in self.options]}


class Option(object):
    """One codec option: [name, type, range, value, label] of orvo.codecs()."""

    def __init__(self, entry):
        self.name, self.type, self.range, self.value, self.label = entry
        self.type_name = OPTION_TYPE_NAMES.get(self.type, "type %d" % self.type)

    def range_text(self):
        if self.type == orvo.DYX_UDIL_CHOICE:
            return "|".join(self.range)
        if isinstance(self.range, list):
            return "%s..%s" % (self.range[0], self.range[1])
        return str(self.range)

    def default_text(self):
        if self.type == orvo.DYX_UDIL_CHOICE and 0 <= self.value < len(self.range):
            return self.range[self.value]
        return str(self.value)

    def as_dict(self):
        return {"name": self.name, "type": self.type_name, "range": self.range,
                "default": self.value, "label": self.label}


def all_codecs():
    return [Codec(entry) for entry in orvo.codecs()]


def codec_by_name(name):
    for codec in all_codecs():
        if codec.name == name:
            return codec
    names = ", ".join(c.name for c in all_codecs()) or "none installed"
    raise CliError("unknown codec '%s' (available: %s)" % (name, names))


def codec_and_options(name, options):
    """(codec, option text) for --codec NAME: a plug-in by its name, or a
    video encoder of a plug-in that offers it, through its "codec" choice
    (h264, hevc, prores ...) or its "encoder" text option (any FFmpeg video
    encoder: libx265, mpeg2video, utvideo ...), put before `options`."""
    codecs = all_codecs()
    for codec in codecs:
        if codec.name == name:
            return codec, options
    for option_name in ("codec", "encoder"):
        for codec in codecs:
            option = dict((o.name, o) for o in codec.options).get(option_name)
            if option is None or option.type == orvo.DYX_UDIL_CHOICE and name not in option.range:
                continue
            if option.type not in (orvo.DYX_UDIL_CHOICE, 3) or not name or any(c.isspace() for c in name):
                continue
            if option.type == 3 and not _encoder_exists(codec, option_name, name):
                continue
            return codec, ("%s %s %s" % (option_name, name, options)).strip()
    names = ", ".join(c.name for c in codecs) or "none installed"
    if any(o.name == "encoder" for c in codecs for o in c.options):
        raise CliError("unknown codec '%s': no codec plug-in (available: %s) and no video encoder of FFmpeg "
                       "(see 'ffmpeg -encoders') has that name" % (name, names))
    raise CliError("unknown codec '%s' (available: %s)" % (name, names))


def _encoder_exists(codec, option_name, name):
    """Whether the plug-in takes `name` for its encoder text option: a
    one-frame movie is opened in a private directory, which is removed; only
    the plug-in's refusal of the name itself says no."""
    directory = tempfile.mkdtemp(prefix=".orvo-encoder-")
    try:
        probe = orvo.movie(orvo.MOVIE_WRITE)
        probe.filename = os.path.join(directory, "probe.mkv")
        probe.format = codec.name
        probe.options = "%s %s" % (option_name, name)
        probe.dims = (16, 16)
        probe.addcount(1)
        if probe.open() == 0:
            probe.close()
            return True
        return "no video encoder" not in probe.errstr()
    finally:
        shutil.rmtree(directory, ignore_errors=True)


def codec_for_file(filename):
    """The codec that claims the file name's suffix, or None."""
    suffix = os.path.splitext(filename)[1].lower()
    if not suffix:
        return None
    for codec in all_codecs():
        if suffix in codec.suffixes:
            return codec
    return None


def check_option_text(codec, text):
    """Refuses an option string the codec would only warn about.

    The module parses "name value name value ..." and prints a warning for
    an unknown name or choice, then writes with whatever it understood; a
    user who typed the option wants to know instead.
    """
    words = text.split("#", 1)[0].split()
    by_name = dict((o.name.lower(), o) for o in codec.options)
    known = ", ".join(o.name for o in codec.options) or "none"
    for at in range(0, len(words), 2):
        option = by_name.get(words[at].lower())
        if option is None:
            raise CliError("codec '%s' has no option '%s' (its options: %s)" % (codec.name, words[at], known))
        if at + 1 >= len(words):
            raise CliError("option '%s' needs a value" % option.name)
        value = words[at + 1]
        if option.type == orvo.DYX_UDIL_CHOICE and value not in option.range:
            raise CliError("option '%s' takes one of %s, not '%s'" % (option.name, option.range_text(), value))
        if option.type in (orvo.DYX_UDIL_BOOLEAN, orvo.DYX_UDIL_INT):
            _check_number(option, value, int)
        elif option.type == orvo.DYX_UDIL_FLOAT:
            _check_number(option, value, float)


def _check_number(option, value, kind):
    try:
        number = kind(value)
    except ValueError:
        raise CliError("option '%s' takes a number, not '%s'" % (option.name, value))
    if isinstance(option.range, list) and not option.range[0] <= number <= option.range[1]:
        raise CliError("option '%s' must lie in %s, not %s" % (option.name, option.range_text(), value))
