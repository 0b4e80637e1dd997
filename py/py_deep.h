/* Deep frames (16-bit, half and float samples) for the package's arrays
 * (py_deep.cpp). Pixels travel as bytes-like objects with their layout:
 * width, height, channels and the NumPy name of the sample kind ("uint8",
 * "uint16", "float16", "float32"), top row first, rows packed. */
#ifndef ORVO_PY_DEEP_H
#define ORVO_PY_DEEP_H

#include "py_compat.h"

namespace orvo {

/* movie._deeplayout(n): (width, height, channels, kind) of frame n of an
 * open read movie at the file's own depth; the int status on failure. */
PyObject *movie_deeplayout(PyObject *self, PyObject *args);
/* movie._getdeep(n): (width, height, channels, kind, left, right) with the
 * pixels of frame n in bytearrays (right None for a mono movie); the int
 * status on failure. */
PyObject *movie_getdeep(PyObject *self, PyObject *args);
/* movie._appenddeep(pixels, width, height, channels, kind[, right]): the
 * int status of appending one deep frame to an open write movie. */
PyObject *movie_appenddeep(PyObject *self, PyObject *args);
/* _savedeep(filename, pixels, width, height, channels, kind[, options[,
 * format]]): (status, message) of writing one deep picture to a file. */
PyObject *module_savedeep(PyObject *self, PyObject *args);
/* _deepkind(filename[, format]): the sample kind of the first frame of one
 * picture file, asked on one reader ("uint8" at once for a codec without
 * deep frames); None when a movie opened over it has to tell (a template,
 * a movie codec, a file the reader refuses). */
PyObject *module_deepkind(PyObject *self, PyObject *args);
/* _deepsamples(codec): the sample kinds the named codec writes, such as
 * ("uint8", "uint16"); ("uint8",) for one without deep frames. */
PyObject *module_deepsamples(PyObject *self, PyObject *args);

}  // namespace orvo

#endif
