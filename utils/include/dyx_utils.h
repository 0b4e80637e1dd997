/* Start-up and shut-down of the utility library, and the process-wide
 * cache directory setting.
 *
 * dyx_utils_init runs once per process, before any library thread, pointer
 * list or unique id is used; later calls return 0 and do nothing. It is
 * cheap: no thread is started and no file is touched. */
#ifndef DYX_UTILS_H
#define DYX_UTILS_H

#include "dyx_api.h"

DYX_BEGIN_DECLS

/* Makes the unique-id registry and the pointer-list pools and readies the
 * thread layer: DYX_OK, DYX_NO_MEMORY when the pools cannot be made (a later call tries
 * again), or DYX_THREADS_FAILED when the thread layer fails. */
DYX_API int dyx_utils_init(void);
/* Frees the cache directory and destroys the pointer-list pools; returns 0.
 * Pointer lists cannot be used afterwards. */
DYX_API int dyx_utils_done(void);
/* Stores a copy of `directory` (null: none): DYX_OK, or DYX_NO_MEMORY when the copy fails. */
DYX_API int dyx_utils_set_cachedir(const char *directory);
/* The stored directory, or null. */
DYX_API const char *dyx_utils_get_cachedir(void);

DYX_END_DECLS

#endif
