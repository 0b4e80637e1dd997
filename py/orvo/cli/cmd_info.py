"""`orvo info`: what a movie, image sequence or Multi-Tile Movie holds."""
import json

from . import arguments
from .codecs import PIXEL_FORMAT_NAMES
from .errors import CliError
from .inputs import open_movie

BYTES_OF_SAMPLE = {"uint8": 1, "uint16": 2, "float16": 2, "float32": 4}


def add_parser(subparsers):
    parser = subparsers.add_parser(
        "info", help="describe a movie, image sequence or .mtm file",
        description="Print the codec, size, frame count, frame rate, stereo flag and "
                    "pixel format of INPUT: a movie file, an image, a numbered sequence "
                    "('shot.####.png', or one file of it with --sequence) or a Multi-Tile "
                    "Movie (.mtm); for a movie file also its container, video codec and "
                    "profile, stored pixel format and bit depth, exact rate, duration, "
                    "colour description, rotation, timecode, audio streams and tags.")
    parser.add_argument("input", metavar="INPUT")
    parser.add_argument("--json", action="store_true", help="print the description as JSON")
    arguments.add_sequence(parser)
    parser.set_defaults(run=run)


def describe(name, as_sequence=False):
    """The description of one input as a dict (also what --json prints):
    every key is always there, null where it does not apply."""
    movie, sequence = open_movie(name, widen=as_sequence)
    try:
        info = {"input": name, "file": movie.filename, "codec": movie.format,
                "width": movie.dims[0], "height": movie.dims[1], "frames": movie.nframes,
                "fps": round(movie.fps, 3) if movie.fps > 0 else None,
                "stereo": bool(movie.stereo), "pixel_format": _pixel_format(movie, name),
                "samples": _samples(movie),
                "sequence": sequence,
                "tiles": _mtm_tile_count(movie.filename) if ".mtm" in movie.filename else None}
        facts = movie.info or {}
        for key in FILE_KEYS:
            info[key] = facts.get(key)
        return info
    finally:
        movie.close()


# What the codec plug-in tells of the file (null where it does not say).
FILE_KEYS = ("container", "video_codec", "profile", "source_pixel_format", "bit_depth", "frame_rate",
             "duration", "colour", "rotation", "timecode", "audio", "tags")


def _file_lines(info):
    """The text lines of the plug-in's facts that it gave."""
    lines = []
    if info["container"]:
        lines.append(("container", info["container"]))
    if info["video_codec"]:
        lines.append(("video codec", info["video_codec"] + (" (%s)" % info["profile"] if info["profile"] else "")))
    if info["source_pixel_format"]:
        depth = " (%d bits)" % info["bit_depth"] if info["bit_depth"] else ""
        lines.append(("stored as", info["source_pixel_format"] + depth))
    if info["frame_rate"]:
        lines.append(("frame rate", info["frame_rate"]))
    if info["duration"] is not None:
        lines.append(("duration", "%.3f s" % info["duration"]))
    colour = info["colour"] or {}
    if any(colour.values()):
        lines.append(("colour", ", ".join("%s %s" % (key, colour[key])
                                          for key in ("primaries", "transfer", "matrix", "range") if colour.get(key))))
    if info["rotation"]:
        lines.append(("rotation", "%d degrees" % info["rotation"]))
    if info["timecode"]:
        lines.append(("timecode", info["timecode"]))
    for stream in info["audio"] or []:
        layout = stream.get("channel_layout") or "%d channels" % stream.get("channels", 0)
        lines.append(("audio", "%s, %d Hz, %s" % (stream["codec"], stream["sample_rate"], layout)))
    tags = info["tags"] or {}
    if tags:
        lines.append(("tags", ", ".join("%s=%s" % (key, tags[key].strip()) for key in sorted(tags))))
    return lines


def _pixel_format(movie, name):
    """The pixel format of the movie's frames, which the movie object does not
    publish. The first and the last frame are read, so that a file that opens
    but cannot be decoded, or is cut short, is an error rather than a
    description of a picture nobody can see."""
    if movie.nframes < 1:
        raise CliError("%s holds no frames" % name)
    format = None
    for number in sorted(set((0, movie.nframes - 1))):
        images = movie.getframe(number)
        if not isinstance(images, list):
            raise CliError("cannot read frame %d of %s: %s" % (number, name, movie.errstr()))
        format = images[0].format
    return PIXEL_FORMAT_NAMES.get(format, str(format))


def _samples(movie):
    """The NumPy name of the first frame's samples at the file's own depth."""
    layout = movie._deeplayout(0)
    if not isinstance(layout, tuple):
        movie.errstr()
        return "uint8"
    return layout[3]


def _mtm_tile_count(filename):
    try:
        with open(filename) as mtm:
            for line in mtm:
                words = line.split()
                if len(words) == 2 and words[0] == "nummovies":
                    return int(words[1])
    except (IOError, ValueError):
        pass
    return None


def run(args):
    info = describe(args.input, args.sequence)
    if args.json:
        print(json.dumps(info, indent=2, sort_keys=True))
        return 0
    lines = [("file", info["file"]),
             ("codec", info["codec"]),
             ("size", "%d x %d" % (info["width"], info["height"])),
             ("frames", str(info["frames"])),
             ("fps", "%g" % info["fps"] if info["fps"] else "unknown"),
             ("stereo", "yes" if info["stereo"] else "no"),
             ("pixel format", info["pixel_format"] or "unknown"),
             ("bit depth", "%d (%s)" % (8 * BYTES_OF_SAMPLE[info["samples"]], info["samples"]))]
    if info["sequence"]:
        lines.append(("sequence", "%(template)s, files %(first)d to %(last)d" % info["sequence"]))
    if info.get("tiles"):
        lines.append(("tiles", "%d sub-movies" % info["tiles"]))
    lines.extend(_file_lines(info))
    for key, value in lines:
        print("%-13s %s" % (key + ":", value))
    return 0
