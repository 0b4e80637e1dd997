/* orvo.threads: how many threads the library may use for one operation
 * (row bands of an image operation, frames decoded ahead or encoded
 * behind, sub-movies written side by side). A plain module attribute that
 * scripts set; each image and movie method applies it at its start, so a
 * new value holds from the next call on, on Python 2.7 as on Python 3. */
#ifndef ORVO_PY_THREADS_H
#define ORVO_PY_THREADS_H

#include "py_compat.h"

namespace orvo {

/* Adds orvo.threads to the module with the library's start value (the
 * environment variable ORVO_THREADS, else the number of cores). False
 * with an exception set on failure. */
bool add_thread_setting(PyObject *module);

/* From now on reads orvo.threads from `namespace_dict` (the package's
 * namespace, which scripts see as orvo), which must hold it already. */
void watch_thread_setting(PyObject *namespace_dict);

/* Hands the module's orvo.threads to the library when it changed: an
 * integer from 1 on is the worker count (at most 256); anything else (0, a
 * negative number, None) restores the start value. Call with the GIL held. */
void apply_thread_setting();

}  // namespace orvo

#endif
