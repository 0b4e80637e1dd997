"""`orvo sheet`: a contact sheet of a movie or sequence.

Thumbnails of every N-th frame, left to right and top to bottom, each
with its frame number (counted from 0) under it, on a dark ground. The
sheet is composed top row first in a bytearray and turned into an RGB
picture at the end.
"""
import math

import orvo

from . import arguments, digits
from .errors import CliError
from .inputs import open_movie, read_frame, save_image

GAP = 8                        # pixels around and between the cells
GROUND = (40, 40, 40)          # the sheet behind the thumbnails
INK = (235, 235, 235)          # the frame numbers
DEFAULT_THUMBNAILS = 36        # without --every, at most this many frames are shown
MAX_THUMBNAILS = 1000
MAX_PIXELS = 64 << 20          # a sheet larger than this is refused


def add_parser(subparsers):
    parser = subparsers.add_parser(
        "sheet", help="write a contact sheet: thumbnails of a movie's frames with their numbers",
        description="Write OUTPUT, a picture of thumbnails of every N-th frame of INPUT in rows of "
                    "C columns, each with its frame number (counted from 0) under it.")
    parser.add_argument("input", metavar="INPUT")
    parser.add_argument("output", metavar="OUTPUT")
    parser.add_argument("--every", type=arguments.positive, metavar="N",
                        help="show every N-th frame (default: every frame of a short input, else "
                             "evenly spaced frames, at most %d)" % DEFAULT_THUMBNAILS)
    parser.add_argument("--columns", type=arguments.positive, default=6, metavar="C",
                        help="thumbnails per row (default 6)")
    parser.add_argument("--width", type=arguments.positive, metavar="W",
                        help="thumbnail width in pixels (default 160, or the frame's if narrower)")
    arguments.add_eye(parser)
    arguments.add_sequence(parser)
    arguments.add_output_options(parser)
    arguments.add_overwrite(parser)
    parser.set_defaults(run=run)


class Layout(object):
    """Where the thumbnails of `frames` go: cells of `columns` across, each
    a thumbnail of `size` over its number, as wide as the wider of the two."""

    def __init__(self, frames, columns, size):
        self.columns = min(columns, len(frames))
        self.rows = int(math.ceil(len(frames) / float(self.columns)))
        self.thumbnail = size
        # Digits twice their size once the thumbnails leave room for them.
        self.scale = 2 if size[0] >= 96 else 1
        widest_label = digits.text_width(str(frames[-1]), self.scale)
        self.cell = (max(size[0], widest_label), size[1] + GAP + digits.HEIGHT * self.scale)
        self.width = GAP + self.columns * (self.cell[0] + GAP)
        self.height = GAP + self.rows * (self.cell[1] + GAP)

    def origin(self, index):
        """(x, y) of the top-left corner of thumbnail `index`, centred in its cell."""
        row, column = divmod(index, self.columns)
        x = GAP + column * (self.cell[0] + GAP) + (self.cell[0] - self.thumbnail[0]) // 2
        return x, GAP + row * (self.cell[1] + GAP)


class Canvas(object):
    """An RGB picture being composed, top row first."""

    def __init__(self, width, height, colour):
        self.width, self.height = width, height
        self.data = bytearray(bytes(bytearray(colour)) * (width * height))

    def paste(self, rows, width, x, y):
        """Copies `rows` (RGB bytes of `width` pixels each, top row first) to (x, y)."""
        stride = width * 3
        for row in range(len(rows) // stride):
            at = ((y + row) * self.width + x) * 3
            self.data[at:at + stride] = rows[row * stride:(row + 1) * stride]

    def write(self, text, scale, centre_x, top, colour):
        left = centre_x - digits.text_width(text, scale) // 2
        ink = bytearray(colour)
        for dx, dy in digits.lit_pixels(text, scale):
            at = ((top + dy) * self.width + left + dx) * 3
            self.data[at:at + 3] = ink

    def image(self):
        picture = orvo.image(self.width, self.height, orvo.DYX_IMG_FMT_RGB, bytes(self.data))
        picture.flip(orvo.DYX_FLIP_XAXIS)  # pictures are stored bottom row first
        return picture


def chosen_frames(count, every):
    if every is None:
        every = max(1, int(math.ceil(count / float(DEFAULT_THUMBNAILS))))
    return list(range(0, count, every))


def thumbnail_size(frame_size, width):
    frame_width, frame_height = frame_size
    width = width or min(160, frame_width)
    return width, max(1, int(round(width * frame_height / float(frame_width))))


def run(args):
    movie = open_movie(args.input, widen=args.sequence)[0]
    try:
        if movie.nframes < 1:
            raise CliError("%s holds no frames" % args.input)
        frames = chosen_frames(movie.nframes, args.every)
        layout = Layout(frames, args.columns, thumbnail_size(movie.dims, args.width))
        if len(frames) > MAX_THUMBNAILS or layout.width * layout.height > MAX_PIXELS:
            raise CliError("a sheet of %d thumbnails of %d x %d would be %d x %d pixels, too large: "
                           "give a larger --every or a smaller --width"
                           % ((len(frames),) + layout.thumbnail + (layout.width, layout.height)))
        sheet = compose(movie, args, frames, layout)
        read_from = movie.filename  # with --sequence, every file of the sequence
    finally:
        movie.close()
    written = save_image(sheet, args.output, args.options, [read_from], args.overwrite)
    print("wrote a sheet of %d frames of %s to %s" % (len(frames), args.input, written))
    return 0


def compose(movie, args, frames, layout):
    canvas = Canvas(layout.width, layout.height, GROUND)
    width, height = layout.thumbnail
    for index, number in enumerate(frames):
        thumbnail = read_frame(movie, args.input, number, args.eye)
        thumbnail.format = orvo.DYX_IMG_FMT_RGB
        thumbnail.resize(width, height, orvo.DYX_SCALE_SMOOTH)
        thumbnail.flip(orvo.DYX_FLIP_XAXIS)  # to top row first
        x, y = layout.origin(index)
        canvas.paste(thumbnail.tostring(), width, x, y)
        canvas.write(str(number), layout.scale, x + width // 2, y + height + GAP, INK)
    return canvas.image()
