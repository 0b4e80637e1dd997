# Deep pixels for the one-call functions: frames at the file's own depth
# (uint8, uint16, float16, float32) as NumPy arrays, and such arrays
# written. The extension hands pixels over as bytearrays with their layout;
# NumPy views them without a copy.

KINDS = ("uint8", "uint16", "float16", "float32")


def kind_of(numpy, dtype):
    """The sample kind a dtype= asks for; None for the file's own."""
    if dtype is None:
        return None
    name = numpy.dtype(dtype).name
    if name not in KINDS:
        raise TypeError("dtype must be uint8, uint16, float16 or float32, not %s" % name)
    return name


def convert(numpy, array, wanted):
    """`array` in the sample kind `wanted` (None keeps it): integers span
    their whole range, floats 0..1, and floats outside it are clamped when
    they become integers."""
    own = array.dtype.name
    if wanted is None or wanted == own:
        return array
    if wanted in ("float16", "float32"):
        if own == "uint8":
            return (array.astype(numpy.float32) / 255.0).astype(wanted)
        if own == "uint16":
            return (array.astype(numpy.float32) / 65535.0).astype(wanted)
        return array.astype(wanted)
    top = 255 if wanted == "uint8" else 65535
    if own == "uint8":
        return array.astype(numpy.uint16) * 257
    if own == "uint16":
        return ((array.astype(numpy.uint32) * 255 + 32767) // 65535).astype(numpy.uint8)
    scaled = numpy.clip(numpy.nan_to_num(array.astype(numpy.float32)), 0.0, 1.0) * top + 0.5
    return scaled.astype(wanted)


def _array(numpy, width, height, channels, kind, pixels):
    array = numpy.frombuffer(pixels, dtype=kind)
    return array.reshape((height, width) if channels == 1 else (height, width, channels))


def is_deep(opened, number):
    """True when frame `number` of the open read movie is deeper than 8
    bits (a layout the movie cannot give says no: the 8-bit read reports)."""
    layout = opened._deeplayout(number)
    if not isinstance(layout, tuple):
        opened.errstr()
        return False
    return layout[3] != "uint8"


def convert_all(numpy, arrays, wanted):
    """convert() of one array or of a (left, right) pair."""
    if isinstance(arrays, tuple):
        return tuple(convert(numpy, array, wanted) for array in arrays)
    return convert(numpy, arrays, wanted)


def arrays_of(numpy, got, wanted):
    """The array, or (left, right) pair, of what movie._getdeep gave."""
    width, height, channels, kind, left, right = got
    if wanted is None and kind == "float16":
        wanted = "float32"  # float files give float32 unless half is asked for
    arrays = [convert(numpy, _array(numpy, width, height, channels, kind, pixels), wanted)
              for pixels in (left, right) if pixels is not None]
    return arrays[0] if len(arrays) == 1 else tuple(arrays)


def read(numpy, opened, number, wanted, fail):
    """Frame `number` of the open read movie, known to be deep, as one
    array or a (left, right) pair in the kind `wanted`; `fail(movie)`
    raises the read's error."""
    got = opened._getdeep(number)
    if not isinstance(got, tuple):
        fail(opened)
    return arrays_of(numpy, got, wanted)


def layout_of(numpy, data):
    """(contiguous array, width, height, channels, kind) of an array to
    write; None when it is 8-bit (written as today)."""
    array = numpy.asarray(data)
    if array.dtype.name == "uint8" or array.dtype.name not in KINDS:
        return None
    if array.ndim not in (2, 3) or (array.ndim == 3 and not 1 <= array.shape[2] <= 4):
        raise ValueError("a frame is a (height, width) or (height, width, 1..4) array, not %r"
                         % (array.shape,))
    array = numpy.ascontiguousarray(array)
    channels = 1 if array.ndim == 2 else array.shape[2]
    return array, array.shape[1], array.shape[0], channels, array.dtype.name
