/* The module's Python-level conveniences (one-call reading and writing,
 * exceptions, notebook pictures), written in Python in orvo_idioms.py and
 * compiled into the extension. */
#ifndef ORVO_PY_IDIOMS_H
#define ORVO_PY_IDIOMS_H

#include "py_compat.h"

namespace orvo {

/* Runs the conveniences in the module's namespace (after the types and
 * constants are in it) and gives the image and movie types their
 * _repr_png_. False with a Python exception set on failure. */
bool add_idioms(PyObject *module);

}  // namespace orvo

#endif
