# The orvo package: the extension orvo._orvo (the image, movie and uuid
# types, the module functions and constants) and, written here in Python,
# one-call reading and writing, exceptions and notebook pictures. It runs
# under Python 2.7 and Python 3 and gives the same names on both.

import errno as _errno
import io as _io
import os as _os
import sys as _sys

from . import _orvo

# The extension's names (types, functions, constants, `threads`, __doc__
# and __version__) become the package's own; the functions below use them.
_orvo._publish(globals())


class _Sheet(object):
    """The contact sheet of a movie in a notebook: at most THUMBNAILS
    frames, in rows of COLUMNS, each fitted into a square of
    THUMBNAIL_SIZE pixels, GAP pixels apart."""
    THUMBNAILS = 8
    COLUMNS = 4
    THUMBNAIL_SIZE = 160
    GAP = 4


_ERROR_BASE = OSError if _sys.version_info[0] >= 3 else IOError


class Error(_ERROR_BASE):
    """A file could not be read or written"""

    # str() gives the errstr() text (the plug-in's reason after ": ") and the
    # file name; errno is set when the reason names a system error, else
    # None; status is the call's status code.

    status = None

    def __str__(self):
        if self.strerror is None:  # made with one argument
            return _ERROR_BASE.__str__(self)
        text = self.strerror
        if self.errno is not None:
            text = "[Errno %d] %s" % (self.errno, text)
        if self.filename is not None and str(self.filename) not in text:
            text = "%s: '%s'" % (text, self.filename)
        return text


if _sys.version_info[0] >= 3:
    class NotFoundError(Error, FileNotFoundError):
        """The file does not exist"""
else:
    class NotFoundError(Error):
        """The file does not exist"""


def _fspath(path):
    if hasattr(_os, "fspath"):
        return _os.fspath(path)
    return path


def _errno_of(text):
    # The reason is the last part of the text; match it to a system error.
    for code in sorted(_errno.errorcode):
        if text.endswith(": " + _os.strerror(code)):
            return code
    return None


def _error(status, text, path, reading=True):
    """The exception for a failed call on `path` with the errstr() text."""
    name = _fspath(path)
    code = _errno_of(text)
    # A file to read that is not there is missing, whatever the plug-in said.
    if code is None and reading and not _os.path.lexists(name):
        code = _errno.ENOENT
    kind = NotFoundError if code == _errno.ENOENT else Error
    error = kind(code, text or "failed with status %d" % status, name)
    error.status = status
    return error


def _numpy():
    """NumPy when it can be imported, else None (it is optional)."""
    try:
        import numpy
    except ImportError:
        return None
    return numpy


def _frames_as_arrays(frames, copy=True):
    """What a reader gets for the images of one frame: one array, or a
    (left, right) pair; images instead of arrays without NumPy. Without
    copy the arrays are views that keep their new images alive."""
    numpy = _numpy()
    if numpy is not None:
        frames = [picture.toarray() if copy else numpy.asarray(picture) for picture in frames]
    return frames[0] if len(frames) == 1 else tuple(frames)


def imread(path, frame=0):
    """Read one frame of a file as an array (an image without NumPy)"""
    picture = image()
    status = picture.load(path, frame)
    if status != 0:
        raise _error(status, picture.errstr(), path)
    return _frames_as_arrays([picture])


def imwrite(path, data, options=""):
    """Write an array or image to a file"""
    picture = data if isinstance(data, image) else image.fromarray(data)
    status = picture.save(path, options)
    if status != 0:
        raise _error(status, picture.errstr(), path, reading=False)


def _open_movie(path, mode, attributes):
    if mode not in ("r", "w"):
        raise ValueError("mode must be 'r' or 'w', not %r" % (mode,))
    attributes = dict(attributes)
    count = attributes.pop("nframes", None)
    if mode == "w" and (count is None or "dims" not in attributes):
        raise TypeError("open() for writing needs dims=(width, height) and nframes=count")
    result = movie(MOVIE_READ if mode == "r" else MOVIE_WRITE)
    for name in sorted(attributes):
        if name not in result.__members__:
            raise TypeError("open() got an unexpected keyword argument '%s'" % name)
        value = attributes[name]
        setattr(result, name, tuple(value) if isinstance(value, list) else value)
    result.filename = path
    if count is not None and result.addcount(count) < 0:
        raise ValueError(result.errstr())
    if result.open() != 0:
        raise _error(-1, result.errstr(), path, reading=mode == "r")
    return result


def open(path, mode="r", **attributes):
    """Open a movie to read or write, with its attributes"""
    return _open_movie(path, mode, attributes)


def _frames(opened, copy=False):
    try:
        for number in range(len(opened)):
            frames = opened.getframe(number)
            if not isinstance(frames, list):
                raise _error(-1, opened.errstr(), opened.filename)
            # Only the caller holds the frame while the next one is read: a
            # name bound here would keep it alive until then.
            held = [_frames_as_arrays(frames, copy)]
            del frames
            yield held.pop()
    finally:
        opened.close()


def imiter(path, copy=False):
    """Iterate over the frames of a file as arrays, reading each when asked"""
    return _frames(_open_movie(path, "r", {}), copy)


def _png_bytes(picture):
    """The picture as PNG file bytes, or None when it cannot be written."""
    import shutil
    import tempfile
    directory = tempfile.mkdtemp(prefix="orvo-")
    try:
        name = _os.path.join(directory, "picture.png")
        if picture.save(name) != 0:
            picture.errstr()  # a picture shown leaves no error behind
            return None
        with _io.open(name, "rb") as stream:  # `open` here is the module's own
            return stream.read()
    finally:
        shutil.rmtree(directory, True)


def _image_repr_png(self):
    """The picture as PNG file bytes, for notebooks"""
    return _png_bytes(self)


def _thumbnail(picture):
    width, height = picture.dims
    scale = min(1.0, float(_Sheet.THUMBNAIL_SIZE) / max(width, height, 1))
    small = picture.subrect()
    small.format = DYX_IMG_FMT_RGB
    small.resize(max(1, int(width * scale)), max(1, int(height * scale)), DYX_SCALE_SMOOTH)
    return small


def _contact_sheet(opened):
    """An RGB image with up to _Sheet.THUMBNAILS frames of the open read
    movie spread evenly over it, in rows of _Sheet.COLUMNS; None when there
    is nothing to show."""
    count = len(opened)
    if count < 1:
        return None
    shown = min(count, _Sheet.THUMBNAILS)
    numbers = sorted(set(number * count // shown for number in range(shown)))
    thumbnails = []
    for number in numbers:
        frames = opened.getframe(number)
        if not isinstance(frames, list):
            opened.errstr()
            continue
        thumbnails.append(_thumbnail(frames[0]))
    if not thumbnails:
        return None
    cell_width = max(thumbnail.dims[0] for thumbnail in thumbnails) + _Sheet.GAP
    cell_height = max(thumbnail.dims[1] for thumbnail in thumbnails) + _Sheet.GAP
    columns = min(len(thumbnails), _Sheet.COLUMNS)
    rows = (len(thumbnails) + columns - 1) // columns
    width, height = columns * cell_width - _Sheet.GAP, rows * cell_height - _Sheet.GAP
    sheet = bytearray(width * height * 3)
    for index, thumbnail in enumerate(thumbnails):
        data = thumbnail.tostring()
        small_width, small_height = thumbnail.dims
        left = (index % columns) * cell_width
        top = (index // columns) * cell_height
        for row in range(small_height):
            # Rows are stored bottom first in both pictures.
            target_row = height - 1 - (top + small_height - 1 - row)
            start = (target_row * width + left) * 3
            sheet[start:start + small_width * 3] = data[row * small_width * 3:(row + 1) * small_width * 3]
    return image(width, height, DYX_IMG_FMT_RGB, bytes(sheet))


def _movie_repr_png(self):
    """A contact sheet of an open read movie as PNG file bytes, for notebooks"""
    # The text form is the one place that tells an open read movie without
    # touching its state or its error string.
    if "\nReadonly: open\n" not in repr(self):
        return None
    sheet = _contact_sheet(self)
    return None if sheet is None else _png_bytes(sheet)


# orvo.image and orvo.movie are static types: their methods written in
# Python are put into them by the extension.
_orvo._add_method(image, "_repr_png_", _image_repr_png)
_orvo._add_method(movie, "_repr_png_", _movie_repr_png)
