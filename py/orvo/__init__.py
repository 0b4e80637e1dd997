# The orvo package: the extension orvo._orvo (the image, movie and uuid
# types, the module functions and constants) and, written here in Python,
# one-call reading and writing, exceptions and notebook pictures. It runs
# under Python 2.7 and Python 3 and gives the same names on both.

import errno as _errno
import io as _io
import math as _math
import os as _os
import sys as _sys

from . import _deep
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


# ---- files in memory ---------------------------------------------------------
#
# Bytes and file objects are read and written through an anonymous file in
# memory (memfd_create), named to the plug-ins as /proc/self/fd/N: every
# plug-in reads and writes it as it would a file on disk, and nothing is
# left on disk. The codec is the one `format=` names, else the one the file
# object's name names, else (reading) the one the data's first bytes show.

_MAGIC = ((b"\x89PNG", "png"), (b"\xff\xd8\xff", "jpeg"), (b"II*\x00", "tiff"), (b"MM\x00*", "tiff"),
          (b"P1", "ppm"), (b"P2", "ppm"), (b"P3", "ppm"), (b"P4", "ppm"), (b"P5", "ppm"), (b"P6", "ppm"),
          (b"P7", "ppm"))


def _is_data(source):
    """True for the bytes of a file rather than its name: a bytes-like object
    other than a name (a name holds no NUL byte, a file's data nearly always
    does)."""
    if isinstance(source, (bytearray, memoryview)):
        return True
    if isinstance(source, bytes):
        return b"\x00" in source
    if _sys.version_info[0] < 3 and isinstance(source, buffer):  # noqa: F821 (Python 2.7)
        return True
    return False


def _is_memory(source, writing=False):
    if writing:
        return isinstance(source, bytearray) or hasattr(source, "write")
    return _is_data(source) or hasattr(source, "read")


def _memory_fd():
    if hasattr(_os, "memfd_create"):
        return _os.memfd_create("orvo", getattr(_os, "MFD_CLOEXEC", 1))
    import ctypes
    libc = ctypes.CDLL(None, use_errno=True)
    fd = libc.memfd_create(b"orvo", 1)  # MFD_CLOEXEC
    if fd < 0:
        code = ctypes.get_errno()
        raise OSError(code, _os.strerror(code))
    return fd


class _MemoryFile(object):
    """An anonymous file in memory, named by its descriptor."""

    def __init__(self, data=None):
        self.fd = _memory_fd()
        self.name = "/proc/self/fd/%d" % self.fd
        view = memoryview(data if data is not None else b"")
        if view.ndim != 1 or view.itemsize != 1 or _sys.version_info[0] < 3:
            view = view.tobytes()  # Python 2.7 writes str, not memoryview
        while len(view):
            view = view[_os.write(self.fd, view):]

    def contents(self):
        size = _os.fstat(self.fd).st_size
        _os.lseek(self.fd, 0, 0)
        chunks = []
        while size > 0:
            chunk = _os.read(self.fd, size)
            if not chunk:
                break
            chunks.append(chunk)
            size -= len(chunk)
        return b"".join(chunks)

    def close(self):
        if self.fd is not None:
            _os.close(self.fd)
            self.fd = None

    def __del__(self):
        self.close()


def _format_of(source, format, data=None):
    """The format of a file in memory: `format`, the suffix of the file
    object's name, or what the data's first bytes show."""
    if format:
        return format
    name = getattr(source, "name", None)
    if isinstance(name, (str, bytes)) and "." in _os.path.basename(str(name)):
        return _os.path.splitext(str(name))[1]
    if data is not None:
        head = bytes(memoryview(data)[:8].tobytes())
        for magic, found in _MAGIC:
            if head.startswith(magic):
                return found
        return "ffmpeg"  # FFmpeg finds a container by its contents
    raise ValueError("format= is required to write to an object without a file name")


def _memory_source(source, format):
    """(file in memory, format) for bytes or a binary file object to read."""
    data = source.read() if hasattr(source, "read") else source
    return _MemoryFile(data), _format_of(source, format, data)


def _deliver(memory, target):
    """Hands what was written into the file in memory to its target."""
    data = memory.contents()
    if isinstance(target, bytearray):
        target[:] = data
    else:
        target.write(data)


# ---- options, numbers and times ------------------------------------------------


def _option_word(value):
    if value is True or value is False:
        return "1" if value else "0"
    if isinstance(value, float):
        return ("%f" % value).rstrip("0").rstrip(".") or "0"
    return str(value)


def _option_text(options, keywords):
    """The codec option text: `options`, then each keyword as "name value"
    (quality=90 is "quality 90"); unknown names warn when the file opens."""
    words = [options] if options else []
    for name in sorted(keywords):
        words.append("%s %s" % (name, _option_word(keywords[name])))
    return " ".join(words)


def _frame_number(number, count):
    """A frame number counted from the end when negative."""
    number = int(number)
    return number + count if number < 0 else number


def _rate_of(opened):
    rate = opened.rate
    if rate is None:
        raise ValueError("the movie has no frame rate")
    return rate


def _movie_frametime(self, n):
    """The time of frame n in seconds (negative n counts from the end)"""
    rate = _rate_of(self)
    return float(_frame_number(n, len(self)) * rate.denominator) / rate.numerator


def _movie_frameat(self, seconds):
    """The number of the frame shown at a time in seconds"""
    rate = _rate_of(self)
    exact = float(seconds) * rate.numerator / rate.denominator
    # A time written in decimals (0.3 s at 10 fps) lands a hair below the
    # frame's start; it is that frame.
    return int(_math.floor(exact + 1e-6))


def _first_and_last(opened, start, end):
    """The frames of an open read movie shown from `start` to before `end`
    (seconds; None for its first or last frame)."""
    count = len(opened)
    first = 0 if start is None else max(_movie_frameat(opened, start), 0)
    last = count - 1
    if end is not None:
        rate = _rate_of(opened)
        last = min(last, int(_math.ceil(float(end) * rate.numerator / rate.denominator - 1e-6)) - 1)
    return first, last


# ---- one-call reading and writing --------------------------------------------


def _open_reader(path, format=None, attributes=None):
    """An open read movie of a file, a name, bytes or a file object; the
    movie holds the file in memory, if any, until it closes."""
    memory = None
    if _is_memory(path):
        memory, format = _memory_source(path, format)
        name = memory.name
    else:
        name = path
    try:
        opened = movie(MOVIE_READ)
        for key in sorted(attributes or {}):
            _set_attribute(opened, key, attributes[key])
        opened.filename = name
        if format:
            opened._readas(format)
        if opened.open() != 0:
            label = path if memory is None else getattr(path, "name", "<memory>")
            raise _error(-1, opened.errstr(), label, reading=memory is None)
        if memory is not None:
            # Plug-ins may open the file again while the movie is open.
            opened._hold(memory.fd)
            memory.fd = None
        return opened
    finally:
        if memory is not None:
            memory.close()


def _fail_read(opened):
    raise _error(-1, opened.errstr(), opened.filename)


def _read_deep_frame(path, frame, start, format, wanted):
    """imread's array at the file's own depth (converted to `wanted`), read
    through a movie; None when the 8-bit read is the one to answer: an
    8-bit picture file, or a movie that cannot be opened or read (that read
    then says why in its own words). Bytes and file objects are read here
    whatever happens, as they can be read only once."""
    numpy = _numpy()
    memory = _is_memory(path)
    # One reader tells an 8-bit picture file, which the 8-bit read takes.
    if not memory and _orvo._deepkind(path, format) == "uint8":
        return None
    try:
        opened = _open_reader(path, format)
    except Error:
        if memory:
            raise
        return None
    try:
        number = _movie_frameat(opened, start) if start is not None else _frame_number(frame, len(opened))
        if not 0 <= number < len(opened):
            if not memory:
                return None
            raise _error(-1, "Invalid frame number.", getattr(path, "name", "<memory>"), reading=False)
        if _deep.is_deep(opened, number):
            return _deep.read(numpy, opened, number, wanted, _fail_read)
        frames = opened.getframe(number)
        if not isinstance(frames, list):
            if not memory:
                opened.errstr()
                return None
            _fail_read(opened)
        return _deep.convert(numpy, _frames_as_arrays(frames[:1]), wanted)
    finally:
        opened.close()


def imread(path, frame=0, start=None, format=None, dtype=None):
    """Read one frame of a file as an array (an image without NumPy); the
    array holds the file's own depth (uint8, uint16, float32) unless dtype=
    asks for another"""
    numpy = _numpy()
    wanted = _deep.kind_of(numpy, dtype) if numpy is not None else None
    if numpy is not None and wanted != "uint8":
        deep = _read_deep_frame(path, frame, start, format, wanted)
        if deep is not None:
            return deep
        if wanted is not None:
            return _deep.convert(numpy, imread(path, frame, start, format), wanted)
    if _is_memory(path) and frame >= 0 and start is None:
        memory, format = _memory_source(path, format)
        try:
            picture = image()
            status = picture.load(memory.name, frame, format=format)
            if status != 0:
                raise _error(status, picture.errstr(), getattr(path, "name", "<memory>"), reading=False)
            return _frames_as_arrays([picture])
        finally:
            memory.close()
    if _is_memory(path) or frame < 0 or start is not None:
        opened = _open_reader(path, format)
        try:
            number = _movie_frameat(opened, start) if start is not None else _frame_number(frame, len(opened))
            if not 0 <= number < len(opened):
                label = getattr(path, "name", "<memory>") if _is_memory(path) else path
                raise _error(-1, "Invalid frame number.", label, reading=False)
            frames = opened.getframe(number)
            if not isinstance(frames, list):
                raise _error(-1, opened.errstr(), opened.filename)
            return _frames_as_arrays(frames[:1])
        finally:
            opened.close()
    picture = image()
    status = picture.load(path, frame) if format is None else picture.load(path, frame, format=format)
    if status != 0:
        raise _error(status, picture.errstr(), path)
    return _frames_as_arrays([picture])


def _is_stack(data):
    """True for a series of frames: an (N, H, W[, C]) array, or a list or
    tuple of pictures; an (N, H, W) array is grey frames when its last
    dimension is wider than a pixel's components."""
    if isinstance(data, (list, tuple)):
        return True
    shape = getattr(data, "shape", None)
    if shape is None and not isinstance(data, image):
        try:
            shape = memoryview(data).shape
        except TypeError:
            shape = None
    if shape is None:
        return False
    return len(shape) == 4 or (len(shape) == 3 and shape[2] > 4)


def _write_deep(path, layout, text, format):
    """Writes one deep picture (a layout of _deep.layout_of)."""
    array, width, height, channels, kind = layout
    memory = _MemoryFile() if _is_memory(path, writing=True) else None
    try:
        if memory is not None:
            format = _format_of(path, format)
        name = memory.name if memory is not None else path
        status, message = _orvo._savedeep(name, array, width, height, channels, kind, text, format)
        if status != 0:
            raise _error(status, message, path, reading=False)
        if memory is not None:
            _deliver(memory, path)
    finally:
        if memory is not None:
            memory.close()


def imwrite(path, data, options="", format=None, fps=None, **keywords):
    """Write an array or image to a file; uint16, float16 and float32
    arrays keep their depth where the format holds it"""
    text = _option_text(options, keywords)
    numpy = _numpy()
    if numpy is not None and not isinstance(data, image) and not _is_stack(data):
        layout = _deep.layout_of(numpy, data)
        if layout is not None:
            _write_deep(path, layout, text, format)
            return
    if _is_stack(data):
        attributes = {"options": text}
        if fps is not None:
            attributes["fps"] = fps
        if format is not None:
            attributes["format"] = format
        with open(path, "w", **attributes) as target:
            for frame in data:
                target.append(frame)
        return
    picture = data if isinstance(data, image) else image.fromarray(data)
    memory = _MemoryFile() if _is_memory(path, writing=True) else None
    if memory is not None:
        format = _format_of(path, format)
    name = memory.name if memory is not None else path
    try:
        status = picture.save(name, text) if format is None else picture.save(name, text, format=format)
        if status == -2:  # a picture of a layout the file does not store: a movie converts it
            picture.errstr()
            attributes = {"options": text}
            if format is not None:
                attributes["format"] = format
            with open(path, "w", **attributes) as target:
                if fps is not None:
                    target.fps = fps
                target.append(picture)
            return
        if status != 0:
            raise _error(status, picture.errstr(), path, reading=False)
        if memory is not None:
            _deliver(memory, path)
    finally:
        if memory is not None:
            memory.close()


def _set_attribute(opened, name, value):
    if name not in _WRITE_ATTRIBUTES:
        raise TypeError("open() got an unexpected keyword argument '%s'" % name)
    setattr(opened, name, tuple(value) if isinstance(value, list) else value)


def _frame_dims(frames):
    """[width, height] of what append() takes: a picture, an array, a
    (left, right) tuple, getframe's list or a read movie."""
    if isinstance(frames, (tuple, list)) and frames:
        frames = frames[0]
    if isinstance(frames, (image, movie)):
        return list(frames.dims)
    shape = getattr(frames, "shape", None)
    if shape is None:
        shape = memoryview(frames).shape
    return [int(shape[1]), int(shape[0])]


class MovieWriter(object):
    """A movie being written, made by orvo.open(path, "w"). Frames are
    appended until close(); the size comes from the first frame unless
    dims= was given, the rate from the first movie appended unless fps= or
    rate= was given (else 30), and the count is open unless nframes= was
    given. Every failure raises orvo.Error. Other attributes are those of
    the orvo.movie underneath."""

    def __init__(self, path, attributes):
        attributes = dict(attributes)
        self.__dict__["_path"] = path
        self.__dict__["_count"] = attributes.pop("nframes", None)
        self.__dict__["_memory"] = None
        self.__dict__["_written"] = 0
        self.__dict__["_closed"] = False
        self.__dict__["_started"] = False
        self.__dict__["_rate_given"] = "fps" in attributes or "rate" in attributes
        target = movie(MOVIE_WRITE)
        self.__dict__["_movie"] = target
        rate = attributes.pop("rate", None)
        if rate is None:
            rate = attributes.pop("fps", None)
        attributes.pop("fps", None)
        for name in sorted(attributes):
            _set_attribute(target, name, attributes[name])
        if rate is not None:
            target.rate = rate
        if _is_memory(path, writing=True):
            if not target.format:
                target.format = _codec_name(_format_of(path, None))
            self.__dict__["_memory"] = _MemoryFile()
            target.filename = self._memory.name
        else:
            target.filename = path
        if self._count is not None and int(self._count) < 1:
            raise ValueError("cannot add less than one frame")

    def _fail(self, status, text):
        raise _error(status, text or "failed with status %d" % status,
                     self._path if self._memory is None else "<memory>", reading=False)

    def _start(self, frames):
        self.__dict__["_started"] = True
        target = self._movie
        if frames is not None and target.dims[0] < 1:
            target.dims = tuple(_frame_dims(frames))
        if frames is not None and not self._rate_given and isinstance(frames, movie) and frames.rate:
            try:
                target.rate = frames.rate
            except ValueError:
                pass  # a source rate no file takes: the default stands
        if self._count is not None:
            target.addcount(int(self._count))
            status = target.open()
        else:
            status = target._open_uncounted()
        if status != 0:
            self._fail(status, target.errstr())

    def append(self, arg1, object=None, method=None, smooth=0):
        """Add a picture, an array, a (left, right) pair or every frame of an
        open read movie; raises orvo.Error when a frame cannot be written"""
        if self._closed:
            raise ValueError("append() on a closed movie")
        target = self._movie
        if not self._started:
            self._start(arg1)
        deep = self._deep_frames(arg1)
        if deep is not None:
            status = target._appenddeep(*deep)
        else:
            status = target.append(arg1, object, method, smooth)
        self.__dict__["_written"] = target.realframes
        if status != 0:
            text = target.errstr()
            if isinstance(arg1, movie) and not text and len(arg1) == 0:
                return 0  # a movie without frames adds nothing
            self._fail(status, text)
        return 0

    @staticmethod
    def _deep_frames(frames):
        """_appenddeep's arguments for a deep array or a (left, right) pair
        of them; None for anything else."""
        numpy = _numpy()
        if numpy is None or isinstance(frames, (image, movie)):
            return None
        pair = frames if isinstance(frames, tuple) and len(frames) == 2 else (frames,)
        if any(isinstance(one, (image, movie)) for one in pair):
            return None
        layouts = [_deep.layout_of(numpy, one) for one in pair]
        if layouts[0] is None:
            return None
        arguments = tuple(layouts[0])
        if len(layouts) == 2 and layouts[1] is not None:
            arguments += (layouts[1][0],)
        return arguments

    def close(self):
        """Finish the file; raises orvo.Error when it cannot be finished. A
        movie given no frame and no dims= makes no file."""
        if self._closed:
            return 0
        self.__dict__["_closed"] = True
        target = self._movie
        try:
            if not self._started:
                if target.dims[0] < 1:
                    return 0
                self._start(None)
            status = target.close()
            if status != 0:
                self._fail(status, target.errstr())
            if self._memory is not None:
                _deliver(self._memory, self._path)
        finally:
            if self._memory is not None:
                self._memory.close()
        return 0

    def __enter__(self):
        return self

    def __exit__(self, exc_type=None, exc_value=None, traceback=None):
        if exc_type is None:
            self.close()
        else:
            try:
                self.close()
            except Error:
                pass  # the exception leaving the block says more
        return False

    def __len__(self):
        """The frames written so far"""
        return self._written

    def __getattr__(self, name):
        return getattr(self.__dict__["_movie"], name)

    def __setattr__(self, name, value):
        # A writer's fps goes as high as its rate does (up to 1000).
        setattr(self._movie, "rate" if name == "fps" else name, value)

    def __repr__(self):
        return "<orvo.MovieWriter %r, %d frames written>" % (self._path, self._written)


def _codec_name(format):
    """The plug-in that writes `format` (a plug-in name or a suffix); the
    text itself when none does (setting it then says so)."""
    wanted = format.lower().lstrip(".")
    for entry in codecs():
        if entry[0] == wanted or "." + wanted in entry[2]:
            return entry[0]
    return format


# The keywords of open(path, "w") that are the movie's own; the others are
# codec options.
_WRITE_ATTRIBUTES = frozenset(movie(MOVIE_WRITE).__members__ + ["rate"])


def _open_movie(path, mode, attributes):
    if mode not in ("r", "w"):
        raise ValueError("mode must be 'r' or 'w', not %r" % (mode,))
    attributes = dict(attributes)
    if mode == "w":
        options = attributes.pop("options", "")
        known = dict((name, attributes.pop(name)) for name in list(attributes)
                     if name in _WRITE_ATTRIBUTES)
        # Any other keyword is a codec option (quality=90, codec="prores").
        if options or attributes:
            known["options"] = _option_text(options, attributes)
        if "format" in known:
            known["format"] = _codec_name(known["format"])
        return MovieWriter(path, known)
    format = attributes.pop("format", None)
    count = attributes.pop("nframes", None)
    if count is not None:
        raise TypeError("open() got an unexpected keyword argument 'nframes'")
    return _open_reader(path, format, attributes)


def open(path, mode="r", **attributes):
    """Open a movie to read or write, with its attributes"""
    return _open_movie(path, mode, attributes)


def _frames(opened, first=0, last=None, wanted=None, copy=False):
    try:
        if last is None:
            last = len(opened) - 1
        numpy = _numpy()
        # The first frame's depth is the movie's.
        if numpy is not None and wanted != "uint8" and first <= last and _deep.is_deep(opened, first):
            for number in range(first, last + 1):
                yield _deep.read(numpy, opened, number, wanted, _fail_read)
            return
        for number in range(first, last + 1):
            if wanted not in (None, "uint8"):
                frames = opened.getframe(number)
                if not isinstance(frames, list):
                    _fail_read(opened)
                yield _deep.convert(numpy, _frames_as_arrays(frames), wanted)
                continue
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


def imiter(path, start=None, end=None, format=None, dtype=None, copy=False):
    """Iterate over the frames of a file as arrays, reading each when asked;
    the arrays hold the file's own depth unless dtype= asks for another"""
    numpy = _numpy()
    wanted = _deep.kind_of(numpy, dtype) if numpy is not None else None
    opened = _open_reader(path, format)
    first, last = _first_and_last(opened, start, end) if start is not None or end is not None else (0, None)
    return _frames(opened, first, last, wanted, copy)


def info(path):
    """What a movie or picture file is, as a dict (the movie's info)"""
    opened = _open_movie(path, "r", {})
    try:
        return opened.info
    finally:
        opened.close()


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
_orvo._add_method(movie, "frametime", _movie_frametime)
_orvo._add_method(movie, "frameat", _movie_frameat)

_getarray_8bit = movie.getarray


def _movie_getarray(self, n, copy=False, dtype=None):
    """Frame n (negative n counts from the end) as a (height, width[,
    components]) NumPy array, top row first, at the file's own depth unless
    dtype= asks for another (uint8 gives getframe's bytes); a (left, right)
    tuple for a stereo movie. An 8-bit frame is a view of the new frame's
    pixels unless copy=True"""
    numpy = _numpy()
    wanted = _deep.kind_of(numpy, dtype) if numpy is not None else None
    if numpy is not None and wanted != "uint8":
        number = n + len(self) if n < 0 else n
        if 0 <= number < len(self) and _deep.is_deep(self, number):
            got = self._getdeep(number)
            # A failed read gives its status, as getframe does.
            return _deep.arrays_of(numpy, got, wanted) if isinstance(got, tuple) else got
    arrays = _getarray_8bit(self, n, copy)
    if wanted in (None, "uint8") or not (isinstance(arrays, tuple) or hasattr(arrays, "dtype")):
        return arrays
    return _deep.convert_all(numpy, arrays, wanted)


_orvo._add_method(movie, "getarray", _movie_getarray)
