/* What help() and inspect show of the types: a documented descriptor for
 * every attribute, and text signatures on Python 3 only. */
#ifndef ORVO_PY_TYPE_DOCS_H
#define ORVO_PY_TYPE_DOCS_H

#include "py_compat.h"

namespace orvo {

/* Gives orvo.image and orvo.movie their attribute descriptors and, on
 * Python 2.7 (which has no text signatures), cuts the signature lines off
 * the types' and their methods' doc strings. Call before PyType_Ready. */
void document_types();

/* Cuts "name(...)\n--\n\n" off the front of each doc string of a method
 * table (for Python 2.7). */
void strip_text_signatures(PyMethodDef *methods);

}  // namespace orvo

#endif
