/* Path names as text. Both '/' and '\' are separators where stated. */
#ifndef DYX_PATH_H
#define DYX_PATH_H

#include "dyx_api.h"

DYX_BEGIN_DECLS

/* Directory part of `path`; trailing separators are removed in place.
 * Returns "." or the root as shared constants (never modify them), else
 * `path` cut at its last separator. */
DYX_API char *dyx_dirname(char *path);
/* Last component of `path` (trailing separators removed in place). */
DYX_API char *dyx_basename(char *path);

DYX_END_DECLS

#endif
