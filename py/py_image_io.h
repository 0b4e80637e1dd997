/* orvo.image load and save: one frame read from or written to a file
 * through the codec plug-ins. */
#ifndef ORVO_PY_IMAGE_IO_H
#define ORVO_PY_IMAGE_IO_H

#include "py_compat.h"
// clang-format off
#include "dyx_udil.h"
// clang-format on

namespace orvo {

/* load(filename, frame=0, options="", format=None) and save(filename,
 * options="", format=None): an int status, 0 or negative, with the message
 * in the image's error text. `format` names the codec (a plug-in name or a
 * suffix such as "png") instead of the file name's suffix. */
PyObject *image_load(PyObject *self, PyObject *args, PyObject *kwargs);
PyObject *image_save(PyObject *self, PyObject *args, PyObject *kwargs);

/* The codec a format names: a plug-in name, or a suffix with or without
 * its dot ("png", ".mp4"); null when none. */
UdilRecord *codec_for_format(const char *format);

}  // namespace orvo

#endif
