/* Registry of unique 64-bit ids, each carrying two 64-bit words.
 *
 * Ids count up from 1. The registry has its own lock and may be used from
 * any thread; it is made by dyx_uid_init (dyx_utils_init calls it) or on
 * first use. */
#ifndef DYX_UID_H
#define DYX_UID_H

#include <stdint.h>

#include "dyx_api.h"

DYX_BEGIN_DECLS

/* Creates the registry unless it exists. */
DYX_API void dyx_uid_init(void);
/* Registers a new id carrying the two words and returns it; 0 when memory
 * is exhausted (no id is ever 0). */
DYX_API int64_t dyx_uid_new(int64_t first, int64_t second);
/* Copies the id's words out (either pointer may be null): DYX_OK, or DYX_NOT_FOUND when
 * the id is not registered. Only the low 48 bits of the id count. */
DYX_API int dyx_uid_find(int64_t id, int64_t *first, int64_t *second);
/* Forgets the id: DYX_OK, or DYX_BAD_ARGUMENT when it is not registered. */
DYX_API int dyx_uid_destroy(int64_t id);
/* The id the next dyx_uid_new will give. */
DYX_API int64_t dyx_uid_next(void);

DYX_END_DECLS

#endif
