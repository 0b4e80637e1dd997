/* What help() and inspect show of the types: text signatures on Python 3
 * only. (Each type's attribute table gives its documented descriptors.) */
#ifndef ORVO_PY_TYPE_DOCS_H
#define ORVO_PY_TYPE_DOCS_H

#include "py_compat.h"

namespace orvo {

/* On Python 2.7 (which has no text signatures), cuts the signature lines
 * off the types' and their methods' doc strings. Call before PyType_Ready. */
void document_types();

/* Cuts "name(...)\n--\n\n" off the front of each doc string of a method
 * table (for Python 2.7). */
void strip_text_signatures(PyMethodDef *methods);

}  // namespace orvo

#endif
