"""`orvo frame`, `orvo stats` and `orvo diff`: one frame at a time."""
import json

from . import arguments
from .codecs import PIXEL_FORMAT_NAMES
from .difference import difference_picture
from .errors import EXIT_DIFFERENT
from .inputs import open_movie, read_frame, save_image

STAT_KEYS = ("count", "mean", "sum", "sumofsquares", "variance", "minimum", "maximum")


def add_parsers(subparsers):
    frame = subparsers.add_parser(
        "frame", help="extract one frame as an image file",
        description="Write frame N (counted from 0) of INPUT to the image file OUTPUT, "
                    "whose suffix chooses the codec.")
    frame.add_argument("input", metavar="INPUT")
    frame.add_argument("number", metavar="N", type=arguments.frame_number)
    frame.add_argument("output", metavar="OUTPUT")
    arguments.add_eye(frame)
    arguments.add_output_options(frame)
    arguments.add_overwrite(frame)
    frame.set_defaults(run=run_frame)

    stats = subparsers.add_parser(
        "stats", help="pixel statistics of one frame",
        description="Print count, mean, sum, sum of squares, variance, minimum and maximum "
                    "over all pixel bytes (alpha included) of one frame of INPUT.")
    stats.add_argument("input", metavar="INPUT")
    stats.add_argument("--frame", type=arguments.frame_number, default=0, metavar="N")
    arguments.add_eye(stats)
    stats.add_argument("--json", action="store_true", help="print the statistics as JSON")
    stats.set_defaults(run=run_stats)

    diff = subparsers.add_parser(
        "diff", help="compare one frame of two inputs (exit status 1 when they differ)",
        description="Compare frame N of A and of B byte by byte. Exit status 0 when they are "
                    "equal (within --threshold), 1 when they differ, 2 on an error.")
    diff.add_argument("first", metavar="A")
    diff.add_argument("second", metavar="B")
    diff.add_argument("--frame", type=arguments.frame_number, default=0, metavar="N")
    arguments.add_eye(diff)
    diff.add_argument("--threshold", type=arguments.non_negative, default=0, metavar="T",
                      help="byte differences up to T count as equal (default 0)")
    diff.add_argument("--out", metavar="FILE",
                      help="write a grey picture of where they differ to FILE: each pixel's largest "
                           "difference, scaled so that the largest in the frame is white")
    diff.add_argument("--json", action="store_true", help="print the comparison as JSON")
    arguments.add_overwrite(diff)
    diff.set_defaults(run=run_diff)


def load_frame(name, number, eye):
    # A named image file means that file; a sequence is named by its template
    # (the frame asked for is counted in the run read, which info describes).
    movie = open_movie(name, widen=False, notes=False)[0]
    try:
        return read_frame(movie, name, number, eye)
    finally:
        movie.close()


def run_frame(args):
    image = load_frame(args.input, args.number, args.eye)
    written = save_image(image, args.output, args.options, [args.input], args.overwrite)
    print("wrote frame %d of %s to %s" % (args.number, args.input, written))
    return 0


def run_stats(args):
    image = load_frame(args.input, args.frame, args.eye)
    stats = image.stats()
    width, height = image.dims
    if args.json:
        result = dict(stats, width=width, height=height,
                      pixel_format=PIXEL_FORMAT_NAMES.get(image.format, str(image.format)))
        print(json.dumps(result, indent=2, sort_keys=True))
        return 0
    print("frame %d of %s: %d x %d %s" % (args.frame, args.input, width, height,
                                          PIXEL_FORMAT_NAMES.get(image.format, image.format)))
    for key in STAT_KEYS:
        print("%-13s %s" % (key + ":", "%.6g" % stats[key]))
    return 0


def run_diff(args):
    first = load_frame(args.first, args.frame, args.eye)
    second = load_frame(args.second, args.frame, args.eye)
    if first.dims != second.dims or first.format != second.format:
        return _report_diff(args, {"equal": False, "reason": "size or pixel format differ",
                                   "a": _shape(first), "b": _shape(second)})
    difference = first.diff(second, absolute=1)
    data = difference.tostring()
    stats = difference.stats()
    over = len(data) - sum(data.count(bytes(bytearray([v]))) for v in range(args.threshold + 1))
    result = {"equal": over == 0, "bytes": len(data), "bytes_over_threshold": over,
              "max_difference": int(stats["maximum"]) if data else 0,
              "mean_difference": stats["mean"]}
    if args.out:
        picture, largest = difference_picture(difference)
        result["difference_image"] = save_image(picture, args.out, "", [args.first, args.second],
                                                args.overwrite)
        result["difference_image_white"] = largest
    return _report_diff(args, result)


def _shape(image):
    return "%d x %d %s" % (image.dims[0], image.dims[1], PIXEL_FORMAT_NAMES.get(image.format, image.format))


def _report_diff(args, result):
    if args.json:
        print(json.dumps(result, indent=2, sort_keys=True))
    elif "reason" in result:
        print("differ: %s (%s against %s)" % (result["reason"], result["a"], result["b"]))
    elif result["equal"]:
        print("equal: frame %d, max difference %d" % (args.frame, result["max_difference"]))
    else:
        print("differ: %d of %d bytes by more than %d, max difference %d, mean %.4g"
              % (result["bytes_over_threshold"], result["bytes"], args.threshold,
                 result["max_difference"], result["mean_difference"]))
    if "difference_image" in result and not args.json:
        print("wrote the difference picture to %s (white: a difference of %d)"
              % (result["difference_image"], result["difference_image_white"]))
    return 0 if result["equal"] else EXIT_DIFFERENT
