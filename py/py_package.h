/* The extension's side of the orvo package (orvo/__init__.py): the package
 * publishes the extension's names and adds conveniences written in Python
 * (one-call reading and writing, exceptions, notebook pictures). */
#ifndef ORVO_PY_PACKAGE_H
#define ORVO_PY_PACKAGE_H

#include "py_compat.h"

namespace orvo {

/* Adds the private functions the package calls at import:
 *   _publish(namespace): copies the module's public names, __doc__ and
 *     __version__ into the package's namespace dict, which from then on
 *     holds the `threads` setting the library reads;
 *   _add_method(type, name, function): puts a function written in Python
 *     into the dict of orvo.image or orvo.movie, where it binds like a
 *     method (Python code cannot set attributes of these static types).
 * False with a Python exception set on failure. */
bool add_package_helpers(PyObject *module);

}  // namespace orvo

#endif
