/* Declarations shared by the module's sources. */
#ifndef ORVO_MODULE_H
#define ORVO_MODULE_H

#include "py_compat.h"

namespace orvo {

/* Install home, architecture and plug-in directory as recorded at import. */
const char *install_home();
const char *architecture();
const char *plugin_directory();

}  // namespace orvo

#endif
