/* orvo.uuid: universally unique identifiers over the OSSP uuid library. */
#ifndef ORVO_PY_UUID_H
#define ORVO_PY_UUID_H

#include "py_compat.h"

namespace orvo {
extern PyTypeObject uuid_type;
}

/* Publishes the UUID_MAKE_* constants on the module. */
void orvo_uuid_register(PyObject *module);

#endif
