"""A converted movie keeps the colour description of its source.

The source's primaries, transfer, matrix and range (its description's
"colour", in FFmpeg's names) become the ffmpeg writer's options, which
take the ITU-T H.273 numbers; what the source leaves unstated stays the
writer's default (BT.709 for HD, BT.601 below). Options the user gives
win. Frames converted by many processes cross the host as 8-bit RGB, so
there a deeper (HDR) source keeps its tags but loses precision on the way:
a note says so. (In one process deep frames keep their depth where the
output holds it, and convert_deep notes when they cannot.)
"""
import sys

from .outputs import option_value

# ITU-T H.273 code points under the names FFmpeg (and ffprobe) give them.
PRIMARIES = {"bt709": 1, "bt470m": 4, "bt470bg": 5, "smpte170m": 6, "smpte240m": 7, "film": 8, "bt2020": 9,
             "smpte428": 10, "smpte431": 11, "smpte432": 12, "ebu3213": 22}
TRANSFERS = {"bt709": 1, "gamma22": 4, "gamma28": 5, "smpte170m": 6, "smpte240m": 7, "linear": 8,
             "log100": 9, "log316": 10, "iec61966-2-4": 11, "bt1361e": 12, "iec61966-2-1": 13,
             "bt2020-10": 14, "bt2020-12": 15, "smpte2084": 16, "smpte428": 17, "arib-std-b67": 18}
# Only the matrices the writer converts with: "gbr" (RGB pictures) and the
# rest leave the choice to the writer.
MATRICES = {"bt709": 1, "fcc": 4, "bt470bg": 5, "smpte170m": 6, "smpte240m": 7, "bt2020nc": 9}
RANGES = {"tv": "limited", "pc": "full"}
HDR_TRANSFERS = ("smpte2084", "arib-std-b67")


def writer_options(options, codec, source, description, shown, scaled_out):
    """`options` with the source's colour description added for an ffmpeg
    output (nothing added where the user's text names the option); prints
    the note on 8-bit frames for a deeper source converted by many
    processes (`scaled_out`), whatever the output."""
    if not description:
        return options
    colour = description.get("colour") or {}
    depth = description.get("bit_depth") or 8
    movie = codec.name == "ffmpeg"
    if depth > 8 and scaled_out:
        transfer = colour.get("transfer")
        what = " (HDR, %s)" % transfer if transfer in HDR_TRANSFERS else ""
        kept = "its colour tags are kept, but " if movie else ""
        sys.stderr.write("orvo: note: %s has %d-bit pictures%s, which reach %s through 8 bits per component: "
                         "%sfine gradients may band\n" % (source, depth, what, shown, kept))
    if not movie:
        return options
    wanted = [("primaries", PRIMARIES.get(colour.get("primaries"))),
              ("transfer", TRANSFERS.get(colour.get("transfer"))),
              ("matrix", MATRICES.get(colour.get("matrix"))),
              ("range", RANGES.get(colour.get("range")))]
    added = ["%s %s" % (name, value) for name, value in wanted
             if value is not None and option_value(options, name) is None]
    if not added:
        return options
    # A comment ('#') in the user's text would swallow what follows it.
    return " ".join(added) + (" " + options if options else "")
