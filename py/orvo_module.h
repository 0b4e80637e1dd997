/* Declarations shared by the module's sources. */
#ifndef ORVO_MODULE_H
#define ORVO_MODULE_H

#include "py_compat.h"

namespace orvo {

/* Install home, architecture and plug-in directory as recorded at import. */
const char *install_home();
const char *architecture();
const char *plugin_directory();

/* Module functions on codecs and numbered image sequences (orvo_codecs.cpp). */
PyObject *module_codecs(PyObject *self, PyObject *args);
PyObject *module_extend(PyObject *self, PyObject *args);
PyObject *module_istemplate(PyObject *self, PyObject *args);
PyObject *module_indexof(PyObject *self, PyObject *args);

}  // namespace orvo

#endif
