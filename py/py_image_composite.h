/* The compositing and measuring methods of orvo.image: blend, bitblt,
 * chromakey, colormath, diff and stats, listed in the image type's method
 * table (py_image.cpp). */
#ifndef ORVO_PY_IMAGE_COMPOSITE_H
#define ORVO_PY_IMAGE_COMPOSITE_H

#include "py_compat.h"

namespace orvo {

PyObject *image_chromakey(PyObject *self, PyObject *args);
PyObject *image_colormath(PyObject *self, PyObject *args);
PyObject *image_blend(PyObject *self, PyObject *args);
PyObject *image_bitblt(PyObject *self, PyObject *args);
PyObject *image_diff(PyObject *self, PyObject *args, PyObject *keywords);
PyObject *image_stats(PyObject *self, PyObject *args);

}  // namespace orvo

#endif
