/* orvo.image load and save: one frame read from or written to a file
 * through the codec plug-ins. */
#ifndef ORVO_PY_IMAGE_IO_H
#define ORVO_PY_IMAGE_IO_H

#include "py_compat.h"

namespace orvo {

/* load(filename, frame=0, options="") and save(filename, options=""): an
 * int status,
 * 0 or negative, with the message in the image's error text. */
PyObject *image_load(PyObject *self, PyObject *args, PyObject *kwargs);
PyObject *image_save(PyObject *self, PyObject *args, PyObject *kwargs);

}  // namespace orvo

#endif
